#!/usr/bin/python3
"""Answers GNOME's remote-desktop permission dialog as a user would, through
the accessibility bus: "Allow remote interaction" on, then Share once it is
sensitive. Prints "answered", or a reason and exits 1 after the bound."""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

BOUND = float(sys.argv[1]) if len(sys.argv) > 1 else 30.0


def walk(node, depth=0):
    if node is None or depth > 30:
        return
    yield node
    for i in range(node.get_child_count()):
        try:
            yield from walk(node.get_child_at_index(i), depth + 1)
        except Exception:  # a node that went away while we looked
            continue


def has(node, state):
    return node.get_state_set().contains(state)


def find(root, role, name_part):
    for node in walk(root):
        try:
            if node.get_role_name() == role and name_part in (node.get_name() or ""):
                return node
        except Exception:
            continue
    return None


def dialog():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is None or "xdg-desktop-portal-gnome" not in (app.get_name() or ""):
            continue
        for j in range(app.get_child_count()):
            frame = app.get_child_at_index(j)
            if frame is not None and frame.get_name() == "Remote desktop" and has(frame, Atspi.StateType.SHOWING):
                return frame
    return None


def main():
    deadline = time.monotonic() + BOUND
    frame = None
    while time.monotonic() < deadline and frame is None:
        frame = dialog()
        if frame is None:
            time.sleep(0.05)
    if frame is None:
        print("no dialog", flush=True)
        return 1
    switch = find(frame, "check box", "Allow remote interaction")
    share = find(frame, "push button", "Share")
    if switch is None or share is None:
        print("dialog without its switch or Share", flush=True)
        return 1
    # The switch may take a frame or two to turn on: toggle once, then wait.
    if not has(switch, Atspi.StateType.CHECKED):
        switch.do_action(0)
    while time.monotonic() < deadline and not has(share, Atspi.StateType.SENSITIVE):
        time.sleep(0.05)
    if not has(share, Atspi.StateType.SENSITIVE):
        print("Share stayed insensitive", flush=True)
        return 1
    share.do_action(0)
    print("answered", flush=True)
    return 0


sys.exit(main())
