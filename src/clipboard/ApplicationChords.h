#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "clipboard/FocusInspector.h"

namespace quillant::clipboard {

// How the copy and the paste reach one application.
enum class ChordChoice {
    control,       // Ctrl+C / Ctrl+V (Command on macOS): what almost every application takes
    controlShift,  // Ctrl+Shift+C / Ctrl+Shift+V: what terminals take, when they copy at all
    refuse,        // no chord at all: the fix is refused
};

struct ChordDecision {
    enum class Source { fallback, builtIn, userEntry };
    ChordChoice choice = ChordChoice::control;
    Source source = Source::fallback;
    bool operator==(const ChordDecision&) const = default;
};

// Which chord each application gets, by the names its window gives itself.
// Built-in entries refuse the common terminal emulators: a synthetic Ctrl+C is
// an interrupt to a terminal's foreground job, and a terminal's selection
// cannot be replaced by pasting over it. The user's entries (from the
// settings file) come first and may opt a terminal into Ctrl+Shift+C/V.
// Names match WM_CLASS's instance or class name, ignoring case.
class ApplicationChords {
public:
    // The settings entry that holds the user's entries: application name →
    // "ctrl", "ctrl+shift" or "refuse".
    static constexpr std::string_view settingsKey = "applicationChords";

    static ApplicationChords builtIn();

    // Adds or replaces a user entry. False (and nothing added) when the name
    // is empty or the choice is not one of the three words above.
    bool addUserEntry(std::string_view application, std::string_view choice);

    // Unknown applications, and an unknown focus, get Ctrl+C/V.
    ChordDecision decide(const std::optional<FocusedApplication>& application) const;

    static std::optional<ChordChoice> parseChoice(std::string_view text);
    static std::string_view choiceName(ChordChoice choice);

    std::size_t builtInCount() const { return builtIn_.size(); }

private:
    std::map<std::string, ChordChoice, std::less<>> builtIn_;
    std::map<std::string, ChordChoice, std::less<>> user_;
};

}  // namespace quillant::clipboard
