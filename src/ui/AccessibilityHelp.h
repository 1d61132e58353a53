#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quillant::ui {

// What quillant found about this desktop session, for the help page that
// stands where macOS has its Accessibility settings.
struct SessionFindings {
    std::string display;         // $DISPLAY
    std::string waylandDisplay;  // $WAYLAND_DISPLAY
    std::string sessionType;     // $XDG_SESSION_TYPE
    bool xtest = false;          // keystrokes can be sent (on X11: the server offers XTEST)
    std::string hotkey;          // the hotkey as shown
    bool hotkeyArmed = false;    // the hotkey's grab is in place
    // What this session's quillant uses for each concern, as the user should
    // read it; empty where the X11 way goes without saying.
    std::string hotkeyVia;
    std::string keystrokesVia;
    std::string clipboardVia;
};

// The page: what quillant needs on Linux (on X11 or XWayland: XTest and a key
// grab; on Wayland: the compositor's or the desktop portal's ways) and what
// this session offers, as a self-contained HTML document.
std::string accessibilityHelpPage(const SessionFindings& findings);

// Writes the page as "desktop-help.html" into `folder` (which must exist and
// be private) and answers its path; none when it cannot be written.
std::optional<std::filesystem::path> writeAccessibilityHelp(const std::filesystem::path& folder,
                                                            const SessionFindings& findings);

}  // namespace quillant::ui
