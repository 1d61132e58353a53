#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillant::linux_platform {

// What a desktop session offers quillant, as found out by probing it.
struct SessionFacts {
    bool x11 = false;            // an X display (Xorg or XWayland) answers
    bool xtest = false;          // it offers XTEST
    bool wayland = false;        // a Wayland compositor answers
    bool seat = false;           // it has a seat
    std::string dataControl;     // the data-control global it offers (empty: none)
    bool virtualKeyboard = false;
    bool swayIpc = false;        // sway's IPC answers ($SWAYSOCK)
    bool portalShortcuts = false;  // the desktop portal offers GlobalShortcuts
    bool portalKeyboard = false;   // the desktop portal offers RemoteDesktop with a keyboard
    // RemoteDesktop's interface version: below 2 it keeps no permission, so the desktop asks at every start.
    std::uint32_t portalKeyboardVersion = 0;
    std::string desktop;                             // $XDG_CURRENT_DESKTOP, for where to bind the trigger
    std::string triggerCommand = "quillant trigger";  // what a desktop shortcut must run
    bool kde = false;              // the desktop is KDE Plasma ($XDG_CURRENT_DESKTOP)
};

// How quillant serves each concern in such a session. On Wayland each concern
// takes the compositor's own protocol where it is offered, then the desktop
// portal's, then the X11 way (through XWayland); the agent chooses alike.
struct SessionPlan {
    enum class Hotkey { portalShortcuts, x11Grab, triggerOnly };
    enum class Keystrokes { virtualKeyboard, portalKeyboard, xtest, none };
    enum class Clipboard { dataControl, x11, none };
    Hotkey hotkey = Hotkey::triggerOnly;
    Keystrokes keystrokes = Keystrokes::none;
    Clipboard clipboard = Clipboard::none;
    // Where the focused application is found out: X11's input focus, sway's
    // tree, or nowhere (Wayland tells clients nothing).
    enum class Focus { x11, sway, unknown };
    Focus focus = Focus::unknown;
    bool usable() const { return keystrokes != Keystrokes::none && clipboard != Clipboard::none; }
};

SessionPlan planSession(const SessionFacts& facts);

// One line for each concern, as `quillant doctor` prints them; the hotkey's
// line is also what the panel shows of the hotkey's source.
std::string describeHotkey(const SessionPlan& plan, const SessionFacts& facts);
std::string describeKeystrokes(const SessionPlan& plan, const SessionFacts& facts);
std::string describeClipboard(const SessionPlan& plan, const SessionFacts& facts);
std::string describeFocus(const SessionPlan& plan);

// Where and how to bind the trigger command on this desktop, e.g. GNOME
// Settings' custom shortcuts.
std::string triggerBindingAdvice(const SessionFacts& facts);
// The command a desktop shortcut runs: "quillant trigger" when $PATH finds
// this very program under that name, else its full path.
std::string triggerCommandFor(const std::filesystem::path& self, std::string_view pathVariable);

}  // namespace quillant::linux_platform
