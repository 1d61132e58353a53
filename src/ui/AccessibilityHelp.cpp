#include "ui/AccessibilityHelp.h"

#include "runtime/AtomicFile.h"

namespace quillant::ui {

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string finding(bool good, const std::string& what) {
    return std::string("<li class=\"") + (good ? "ok" : "bad") + "\">" + (good ? "✓ " : "✗ ") + what + "</li>\n";
}

}  // namespace

std::string accessibilityHelpPage(const SessionFindings& f) {
    const bool wayland = !f.waylandDisplay.empty() || f.sessionType == "wayland";
    const bool x11 = !f.display.empty();
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<title>quillant on this desktop</title>\n"
        "<style>body{font-family:sans-serif;max-width:44em;margin:2em auto;padding:0 1em;line-height:1.45}"
        "li.ok{color:#2e7d32}li.bad{color:#c62828}code{background:#8882;padding:0 .25em}</style>\n"
        "</head><body>\n<h1>What quillant needs on Linux</h1>\n"
        "<p>On macOS, quillant asks for the Accessibility permission so that it may press Copy and Paste for you. "
        "Linux has no such switch. Instead quillant needs to hear its hotkey, to press Ctrl+C and Ctrl+V in the "
        "application you are writing in, and to read and put back the clipboard:</p>\n<ul>\n"
        "<li>on an <b>X11 session</b> (or through <b>XWayland</b>), the X server's <b>XTEST</b> extension for the "
        "keys (Xorg and XWayland offer it by default) and its hotkey free: no other program may hold the same "
        "global shortcut;</li>\n"
        "<li>on a <b>Wayland session</b>, the compositor's virtual keyboard and data-control clipboard (sway and "
        "other wlroots compositors), or the desktop portal's shortcuts and keyboard (GNOME, KDE Plasma), which "
        "ask you for permission: once where the desktop keeps it, at each start of quillant where it cannot (GNOME 43 "
        "and Plasma 5.27 cannot). Where the desktop offers no global shortcut to quillant, bind the command "
        "<code>quillant trigger</code> to a shortcut in the desktop's keyboard settings (GNOME: Settings &rarr; "
        "Keyboard &rarr; View and Customize Shortcuts &rarr; Custom Shortcuts &rarr; +).</li>\n</ul>\n"
        "<h2>What quillant found in this session</h2>\n<ul>\n";
    page += finding(x11, x11 ? "X display: <code>" + escaped(f.display) + "</code>"
                             : std::string("No X display (<code>DISPLAY</code> is not set)"));
    if (wayland)
        page += finding(x11 || f.xtest, "Wayland session" +
                                 (f.waylandDisplay.empty() ? std::string() : " (<code>" + escaped(f.waylandDisplay) + "</code>)") +
                                 (x11 ? ", with XWayland" : ", without XWayland"));
    else if (!f.sessionType.empty())
        page += finding(true, "Session type: <code>" + escaped(f.sessionType) + "</code>");
    if (!f.keystrokesVia.empty())
        page += finding(f.xtest, (f.xtest ? "quillant sends the copy and paste keys through "
                                          : "quillant cannot yet send the copy and paste keys through ") +
                                     escaped(f.keystrokesVia));
    else
        page += finding(f.xtest, f.xtest ? "The X server offers XTEST: quillant can send the copy and paste keys"
                                         : "The X server offers no XTEST: quillant cannot send the copy and paste keys");
    if (!f.clipboardVia.empty()) page += finding(true, "The clipboard is read and put back through " + escaped(f.clipboardVia));
    if (!f.hotkeyVia.empty())
        page += finding(f.hotkeyArmed, "The hotkey comes from " + escaped(f.hotkeyVia));
    else
        page += finding(f.hotkeyArmed, "Hotkey <code>" + escaped(f.hotkey) + "</code> " +
                                           (f.hotkeyArmed ? "is armed" : "is not armed (another program may hold it)"));
    page += "</ul>\n<h2>If something is missing</h2>\n<ul>\n"
            "<li>On a Wayland desktop, <code>quillant doctor</code> in a terminal tells what the session offers and "
            "what quillant uses. Where neither the compositor nor the desktop portal offers a way, make sure "
            "XWayland runs (GNOME and KDE start it on demand), or choose an X11 session (for example "
            "&ldquo;GNOME on Xorg&rdquo;) on the login screen.</li>\n"
            "<li>If the hotkey is held by another program, choose another one in quillant's panel "
            "(<b>Change</b>).</li>\n"
            "<li>quillant's log tells what happened on each hotkey press: "
            "<code>journalctl --user -t quillant</code>.</li>\n</ul>\n</body></html>\n";
    return page;
}

std::optional<std::filesystem::path> writeAccessibilityHelp(const std::filesystem::path& folder,
                                                            const SessionFindings& findings) {
    const std::filesystem::path path = folder / "desktop-help.html";
    if (replaceFileAtomically(path, accessibilityHelpPage(findings), 0600) != 0) return std::nullopt;
    return path;
}

}  // namespace quillant::ui
