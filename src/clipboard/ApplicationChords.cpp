#include "clipboard/ApplicationChords.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace quillant::clipboard {

namespace {

// WM_CLASS names (instance and class, lower-cased) of terminal emulators.
constexpr std::array<std::string_view, 68> kTerminals = {
    "xterm", "uxterm", "koi8rxterm", "lxterm", "urxvt", "urxvtc", "rxvt", "rxvt-unicode", "xfce4-terminal",
    "gnome-terminal", "gnome-terminal-server", "org.gnome.terminal", "kgx", "org.gnome.console", "konsole",
    "org.kde.konsole", "yakuake", "tilix", "com.gexperts.tilix", "terminator", "alacritty", "kitty", "wezterm",
    "org.wezfurlong.wezterm", "st", "st-256color", "foot", "footclient", "lxterminal", "mate-terminal", "qterminal",
    "sakura", "guake", "tilda", "terminology", "cool-retro-term", "eterm", "aterm", "mlterm", "roxterm",
    "termite", "hyper", "tabby", "contour", "deepin-terminal", "io.elementary.terminal", "pantheon-terminal",
    "terminal", "x-terminal-emulator", "xiterm", "kterm", "mrxvt", "pterm", "putty", "ptyxis",
    "org.gnome.ptyxis", "blackbox", "com.raggesilver.blackbox", "zutty", "extraterm", "wayst", "ghostty",
    "com.mitchellh.ghostty", "rio", "warp", "dev.warp.warp", "qterminal_drop", "lilyterm",
};

std::string lowered(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

}  // namespace

ApplicationChords ApplicationChords::builtIn() {
    ApplicationChords table;
    for (auto name : kTerminals) table.builtIn_.emplace(std::string(name), ChordChoice::refuse);
    return table;
}

std::optional<ChordChoice> ApplicationChords::parseChoice(std::string_view text) {
    std::string word;
    for (unsigned char c : text)
        if (!std::isspace(c)) word += char(std::tolower(c));
    if (word == "ctrl" || word == "control") return ChordChoice::control;
    if (word == "ctrl+shift" || word == "shift+ctrl" || word == "control+shift") return ChordChoice::controlShift;
    if (word == "refuse") return ChordChoice::refuse;
    return std::nullopt;
}

std::string_view ApplicationChords::choiceName(ChordChoice choice) {
    switch (choice) {
        case ChordChoice::control: return "ctrl";
        case ChordChoice::controlShift: return "ctrl+shift";
        case ChordChoice::refuse: return "refuse";
    }
    return "ctrl";
}

bool ApplicationChords::addUserEntry(std::string_view application, std::string_view choice) {
    std::string name = lowered(application);
    name.erase(0, name.find_first_not_of(" \t"));
    name.erase(name.find_last_not_of(" \t") + 1);
    if (name.empty()) return false;
    auto parsed = parseChoice(choice);
    if (!parsed) return false;
    user_[name] = *parsed;
    return true;
}

ChordDecision ApplicationChords::decide(const std::optional<FocusedApplication>& application) const {
    if (!application) return {};
    const std::string instance = lowered(application->instanceName);
    const std::string klass = lowered(application->className);
    // A user's entry under either name beats a built-in one under the other.
    for (const auto* table : {&user_, &builtIn_})
        for (const auto* name : {&instance, &klass})
            if (auto it = table->find(*name); !name->empty() && it != table->end())
                return {it->second, table == &user_ ? ChordDecision::Source::userEntry : ChordDecision::Source::builtIn};
    return {};
}

}  // namespace quillant::clipboard
