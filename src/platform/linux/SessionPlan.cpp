#include "platform/linux/SessionPlan.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace quillant::linux_platform {

SessionPlan planSession(const SessionFacts& facts) {
    SessionPlan plan;
    const bool wayland = facts.wayland && facts.seat;
    if (facts.wayland && facts.portalShortcuts)
        plan.hotkey = SessionPlan::Hotkey::portalShortcuts;
    else
        plan.hotkey = facts.x11 ? SessionPlan::Hotkey::x11Grab : SessionPlan::Hotkey::triggerOnly;
    if (wayland && facts.virtualKeyboard)
        plan.keystrokes = SessionPlan::Keystrokes::virtualKeyboard;
    else if (facts.wayland && facts.portalKeyboard)
        plan.keystrokes = SessionPlan::Keystrokes::portalKeyboard;
    else if (facts.x11 && facts.xtest)
        plan.keystrokes = SessionPlan::Keystrokes::xtest;
    if (wayland && !facts.dataControl.empty())
        plan.clipboard = SessionPlan::Clipboard::dataControl;
    else if (facts.x11)
        plan.clipboard = SessionPlan::Clipboard::x11;
    // X11's input focus says nothing about native Wayland windows.
    if (plan.keystrokes == SessionPlan::Keystrokes::xtest ||
        (plan.keystrokes == SessionPlan::Keystrokes::portalKeyboard && facts.x11))
        plan.focus = SessionPlan::Focus::x11;
    else if (plan.keystrokes == SessionPlan::Keystrokes::virtualKeyboard && facts.swayIpc)
        plan.focus = SessionPlan::Focus::sway;
    return plan;
}

namespace {

bool desktopIs(const SessionFacts& facts, std::string_view name) {
    // $XDG_CURRENT_DESKTOP is a colon-separated list ("ubuntu:GNOME"), any case.
    std::string list = facts.desktop;
    std::transform(list.begin(), list.end(), list.begin(), [](unsigned char c) { return std::tolower(c); });
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        if (std::string_view(list).substr(start, end - start) == name) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::string triggerBindingAdvice(const SessionFacts& facts) {
    const std::string& command = facts.triggerCommand;
    if (desktopIs(facts, "gnome") || desktopIs(facts, "unity"))
        return "bind " + command + " to Alt+Shift+G in Settings → Keyboard → View and Customize Shortcuts "
               "→ Custom Shortcuts → +, with the command " + command;
    if (desktopIs(facts, "kde"))
        return "bind " + command + " to Alt+Shift+G in System Settings → Shortcuts → Add New → Command "
               "or Script (Plasma 5: Custom Shortcuts)";
    if (desktopIs(facts, "sway") || facts.swayIpc)
        return "bind " + command + " in sway's config: bindsym Mod1+Shift+g exec " + command;
    return "bind " + command + " to Alt+Shift+G in the desktop's shortcut settings (sway: bindsym Mod1+Shift+g exec " +
           command + ")";
}

std::string triggerCommandFor(const std::filesystem::path& self, std::string_view pathVariable) {
    std::size_t start = 0;
    while (start <= pathVariable.size()) {
        const std::size_t end = std::min(pathVariable.find(':', start), pathVariable.size());
        const std::string_view folder = pathVariable.substr(start, end - start);
        std::error_code error;
        if (!folder.empty() && std::filesystem::equivalent(std::filesystem::path(folder) / "quillant", self, error))
            return "quillant trigger";
        start = end + 1;
    }
    std::string path = self.string();
    if (path.find_first_of(" \t'\"\\$`") != std::string::npos) {
        std::string quoted = "'";
        for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        path = quoted + "'";
    }
    return path + " trigger";
}

std::string describeHotkey(const SessionPlan& plan, const SessionFacts& facts) {
    // Plasma lists the shortcut under the portal session's name, not quillant's.
    if (plan.hotkey == SessionPlan::Hotkey::portalShortcuts && facts.kde)
        return "the desktop portal's global shortcut, Alt+Shift+G proposed: KDE owns the trigger (change it in System "
               "Settings → Shortcuts, under the entry ending in quillant_shortcuts); if it does nothing, bind quillant trigger there "
               "instead (Add New → Command or Script; Plasma 5: Custom Shortcuts)";
    if (plan.hotkey == SessionPlan::Hotkey::portalShortcuts)
        return "the desktop portal's global shortcut, Alt+Shift+G proposed: the desktop asks once and owns the "
               "trigger (change it in its shortcut settings)" +
               std::string(facts.x11 ? "; if it refuses or binds no trigger, Alt+Shift+G grabbed on XWayland instead "
                                       "(X11 windows only), and " + triggerBindingAdvice(facts) + " for the others"
                                     : "; if it refuses or binds no trigger, " + triggerBindingAdvice(facts));
    if (plan.hotkey == SessionPlan::Hotkey::x11Grab && !facts.wayland) return "Alt+Shift+G, grabbed on the X display";
    if (plan.hotkey == SessionPlan::Hotkey::x11Grab)
        return "Alt+Shift+G, grabbed on XWayland: it fires only while an X11 window has the focus; " +
               triggerBindingAdvice(facts) + " for the others";
    return "none of its own: " + triggerBindingAdvice(facts);
}

std::string describeKeystrokes(const SessionPlan& plan, const SessionFacts& facts) {
    switch (plan.keystrokes) {
        case SessionPlan::Keystrokes::virtualKeyboard: return "the compositor's virtual keyboard";
        case SessionPlan::Keystrokes::portalKeyboard:
            // Before version 2 the interface has no way to keep a permission.
            return facts.portalKeyboardVersion >= 2
                       ? "the desktop portal's remote-desktop keyboard: the desktop asks once"
                       : "the desktop portal's remote-desktop keyboard: the desktop asks at each start of quillant "
                         "(its portal keeps no permission)";
        case SessionPlan::Keystrokes::xtest: return "XTest on the X display";
        case SessionPlan::Keystrokes::none: break;
    }
    return "none: this session offers no virtual keyboard, no desktop portal keyboard and no X display with XTest";
}

std::string describeClipboard(const SessionPlan& plan, const SessionFacts& facts) {
    switch (plan.clipboard) {
        case SessionPlan::Clipboard::dataControl: return "Wayland data-control (" + facts.dataControl + ")";
        case SessionPlan::Clipboard::x11:
            return facts.wayland ? "the X11 clipboard through XWayland (the compositor offers no data-control)"
                                 : "the X11 clipboard";
        case SessionPlan::Clipboard::none: break;
    }
    return "none: this session offers neither data-control nor an X display";
}

std::string describeFocus(const SessionPlan& plan) {
    if (plan.focus == SessionPlan::Focus::x11) return "known (X11): terminals get their own chords or are refused";
    if (plan.focus == SessionPlan::Focus::sway)
        return "known (sway's IPC): terminals get their own chords or are refused";
    if (plan.keystrokes == SessionPlan::Keystrokes::virtualKeyboard)
        return "unknown on Wayland: terminals cannot be told apart; every application gets Ctrl+C and Ctrl+V";
    return "unknown";
}

}  // namespace quillant::linux_platform
