// `quillant autostart on|off|status`: the XDG autostart entry that starts
// quillant at login.
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "desktop/cli/Commands.h"
#include "platform/linux/SettingsFileStore.h"
#include "runtime/AtomicFile.h"

namespace quillant::desktop::cli {

namespace fs = std::filesystem;

namespace {

// Desktops switch an entry off without removing it.
bool entryIsEnabled(const fs::path& entry) {
    std::ifstream in(entry);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false") return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> desktopExecArgument(const fs::path& path) {
    const std::string p = path.string();
    bool plain = !p.empty();
    for (unsigned char c : p) {
        if (c < 0x20 || c == 0x7F) return std::nullopt;  // no escape exists for these inside Exec
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && !std::strchr("/._+-", c)) plain = false;
    }
    if (plain) return p;
    // Quoting escapes (\" \` \$ \\), then the value's own string escape of the
    // backslash on top: a literal backslash is written as four.
    std::string out = "\"";
    for (char c : p) {
        switch (c) {
            case '\\': out += "\\\\\\\\"; break;
            case '"': case '`': case '$': out += "\\\\"; out += c; break;
            case '%': out += "%%"; break;
            default: out += c;
        }
    }
    return out + "\"";
}

std::optional<std::string> autostartEntry(const fs::path& executable) {
    auto exec = desktopExecArgument(executable);
    if (!exec) return std::nullopt;
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=quillant\n"
           "Comment=Fix the grammar of the text you have selected: press Alt+Shift+G\n"
           "Exec=" + *exec + "\n"
           "Icon=com.vostel.quillant\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

int autostart(ProgramContext& c, std::string_view verb) {
    auto config = linux_platform::defaultConfigDirectory();
    if (!config) {
        say(c.err, "quillant: cannot find a configuration directory (set HOME or XDG_CONFIG_HOME)");
        return kExitFailure;
    }
    const fs::path folder = config->parent_path() / "autostart";
    const fs::path entry = folder / kAutostartFileName;

    if (verb == "status") {
        say(c.out, fs::exists(entry) && entryIsEnabled(entry) ? "on" : "off");
        return kExitOK;
    }
    if (verb == "off") {
        std::error_code ec;
        fs::remove(entry, ec);
        if (ec) {
            say(c.err, "quillant: could not remove " + entry.string() + " (" + ec.message() + ")");
            return kExitFailure;
        }
        say(c.out, "off");
        return kExitOK;
    }
    // on: the entry starts this very program, wherever it is installed.
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        say(c.err, "quillant: cannot tell where this program is (" + ec.message() + ")");
        return kExitFailure;
    }
    auto text = autostartEntry(self);
    if (!text) {
        say(c.err, "quillant: this program's path holds control characters; a login entry cannot name it");
        return kExitFailure;
    }
    try {
        fs::create_directories(folder);
        // A login never reads half an entry.
        if (int error = replaceFileAtomically(entry, *text, 0644))
            throw std::system_error(error, std::generic_category(), entry.string());
    } catch (const std::exception& e) {
        say(c.err, std::string("quillant: could not write the login entry: ") + e.what());
        return kExitFailure;
    }
    say(c.out, "on");
    return kExitOK;
}

}  // namespace quillant::desktop::cli
