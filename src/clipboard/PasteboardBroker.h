#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "clipboard/Bytes.h"
#include "clipboard/KeyEventSynth.h"
#include "clipboard/Pasteboard.h"
#include "clipboard/PasteboardProfile.h"
#include "clipboard/SlackDelta.h"
#include "runtime/Task.h"

namespace quillant::clipboard {

// The clipboard's contents at one moment: one entry per item that yielded at
// least one type's bytes, in the clipboard's item order.
struct PasteboardSnapshot {
    std::vector<PasteboardItemData> items;
    // False when the owner did not deliver everything it offers in time: such a
    // snapshot cannot put the clipboard back as it was.
    bool complete = true;
    bool operator==(const PasteboardSnapshot&) const = default;
};

// The chord that makes the focused application copy or paste.
struct CopyPasteChord {
    bool withShift = false;      // Ctrl+Shift+C/V (terminals that opted in)
    bool awaitRelease = true;    // first wait (bounded) until the user let go of the hotkey's keys
};

// What a successful copy yields.
struct CapturedSelection {
    std::string text;
    std::optional<SlackDelta> slackDelta;
};

class PasteboardError : public std::exception {
public:
    enum class Kind { copyTimedOut, noStringOnPasteboard };
    explicit PasteboardError(Kind kind) : kind_(kind) {}
    Kind kind() const { return kind_; }
    // The case name, as written in log lines.
    const char* what() const noexcept override {
        return kind_ == Kind::copyTimedOut ? "copyTimedOut" : "noStringOnPasteboard";
    }
    bool operator==(const PasteboardError& other) const { return kind_ == other.kind_; }

private:
    Kind kind_;
};

// The only code that touches the clipboard. Holds nothing between calls: a
// snapshot is a value the caller keeps and hands back as often as it likes.
class PasteboardBroker {
public:
    PasteboardBroker(Pasteboard& pasteboard, KeyEventSynth synth, PasteboardProfile profile)
        : pasteboard_(&pasteboard), synth_(synth), profile_(std::move(profile)) {}

    PasteboardSnapshot snapshot() const;

    // Sends the copy chord and waits (polling every 10 ms, at most timeoutMs)
    // for the clipboard to change. Throws PasteboardError.
    Task<CapturedSelection> copySelection(std::int64_t timeoutMs, CopyPasteChord chord = {}) const;

    // Replaces the clipboard with one item: the text, the markers and, for a
    // Slack result, the Chromium container holding the text and Slack's JSON.
    void writeTransient(const std::string& text, const std::optional<SlackDelta>& slackDelta) const;

    void restore(const PasteboardSnapshot& snapshot) const;

    // How often our own content has been read so far (see Pasteboard).
    std::optional<std::int64_t> contentReadCount() const { return pasteboard_->contentReadCount(); }
    // How often the application owning `window` has read our text (see Pasteboard).
    std::optional<std::int64_t> textReadsBy(std::optional<WindowId> window) const {
        return pasteboard_->textReadsBy(window);
    }

    // The pause after the paste keystroke: 250 ms, and where the platform
    // tells reads apart (X11, where the application fetches the text after the
    // keystroke), until the pasting application (the owner of `window`; with
    // no window, anyone) has read our text after `readsBefore` and then been
    // quiet for kPasteQuiet; at most kPasteReadBound in all. A cancelled
    // pause ends at once. False when the platform tells reads apart and the
    // pasting application never read our text, or read it only once its
    // stalled paste was woken by our second announcement (see kReannounceQuiet):
    // then nothing was pasted, even if the application saw the keystroke.
    Task<bool> settleAfterPaste(std::optional<std::int64_t> readsBefore,
                                std::optional<WindowId> window = std::nullopt) const;
    static constexpr Duration kPasteSettle = std::chrono::milliseconds(250);
    static constexpr Duration kPasteQuiet = std::chrono::milliseconds(150);
    static constexpr Duration kPasteReadBound = std::chrono::milliseconds(2000);
    // Once the pasting application has gone quiet, our content is announced
    // once more and the pause lasts until it has been quiet this long again.
    static constexpr Duration kReannounceQuiet = std::chrono::milliseconds(40);
    // Before that, once it has been quiet this long after reading, it is sent
    // one event that changes nothing (see Pasteboard::wake).
    static constexpr Duration kWakeQuiet = std::chrono::milliseconds(25);

    std::optional<SlackDelta> readSlackDelta() const;

    const PasteboardProfile& profile() const { return profile_; }

    // How long the copy waits for the user to let go of the hotkey's keys
    // before sending the chord.
    static constexpr Duration kKeyReleaseBound = std::chrono::milliseconds(1500);

private:
    Pasteboard* pasteboard_;
    KeyEventSynth synth_;
    PasteboardProfile profile_;
};

}  // namespace quillant::clipboard
