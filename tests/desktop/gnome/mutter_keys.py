#!/usr/bin/python3
"""The user's keyboard in a headless GNOME session: mutter's own remote-desktop
interface, which asks nothing. Reads lines of key names from the FIFO named
first ("Escape", "Control_L+a"), presses them in order and releases them in
reverse, and answers each line with "ok" once mutter has taken the events.
One session for all: a new one may lose its first key."""
import sys

from gi.repository import Gio, GLib

KEYSYMS = {"Escape": 0xff1b, "Alt_L": 0xffe9, "Control_L": 0xffe3, "Shift_L": 0xffe1, "Return": 0xff0d, "End": 0xff57}


def keysym(name):
    return KEYSYMS[name] if name in KEYSYMS else ord(name)


def main():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)

    def call(path, iface, method, args=None, reply=None):
        return bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, iface, method, args,
                             GLib.VariantType(reply) if reply else None, Gio.DBusCallFlags.NONE, 10000, None)

    session = call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop", "CreateSession",
                   reply="(o)").unpack()[0]
    iface = "org.gnome.Mutter.RemoteDesktop.Session"
    call(session, iface, "Start")
    for pressed in (True, False):
        call(session, iface, "NotifyKeyboardKeysym", GLib.Variant("(ub)", (KEYSYMS["Shift_L"], pressed)))
    print("ready", flush=True)
    for line in open(sys.argv[1], encoding="utf-8"):
        names = line.strip().split("+")
        if not line.strip():
            continue
        for name in names:
            call(session, iface, "NotifyKeyboardKeysym", GLib.Variant("(ub)", (keysym(name), True)))
        for name in reversed(names):
            call(session, iface, "NotifyKeyboardKeysym", GLib.Variant("(ub)", (keysym(name), False)))
        print("ok", flush=True)
    call(session, iface, "Stop")


main()
