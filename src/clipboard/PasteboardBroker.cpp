#include "clipboard/PasteboardBroker.h"

#include "clipboard/ChromiumPickle.h"

namespace quillant::clipboard {

PasteboardSnapshot PasteboardBroker::snapshot() const {
    PasteboardSnapshot snapshot;
    const std::int64_t failuresBefore = pasteboard_->readFailures();
    const std::size_t count = pasteboard_->itemCount();
    for (std::size_t i = 0; i < count; ++i) {
        PasteboardItemData item;
        for (const auto& type : pasteboard_->types(i)) {
            if (auto bytes = pasteboard_->data(i, type)) item.set(type, std::move(*bytes));
        }
        if (!item.entries.empty()) snapshot.items.push_back(std::move(item));
    }
    snapshot.complete = pasteboard_->readFailures() == failuresBefore;
    return snapshot;
}

Task<CapturedSelection> PasteboardBroker::copySelection(std::int64_t timeoutMs, CopyPasteChord chord) const {
    using namespace std::chrono_literals;
    // While the hotkey's keys are down they would ride along with the chord
    // (or our own key grab would swallow it); give the user a moment to let go.
    if (chord.awaitRelease) co_await synth_.awaitKeysReleased(kKeyReleaseBound);

    const std::int64_t before = pasteboard_->changeCount();
    synth_.sendCommand(kKeyCodeC, chord.withShift);

    const std::int64_t polls = timeoutMs / 10;
    if (polls <= 0) throw PasteboardError(PasteboardError::Kind::copyTimedOut);
    for (std::int64_t poll = 1;; ++poll) {
        co_await sleepFor(10ms);  // a cut-short sleep counts as a completed one
        if (pasteboard_->changeCount() == before) {
            if (poll >= polls) throw PasteboardError(PasteboardError::Kind::copyTimedOut);
            continue;
        }
        auto text = pasteboard_->stringForType(profile_.plainText);
        if (!text) throw PasteboardError(PasteboardError::Kind::noStringOnPasteboard);
        co_return CapturedSelection{std::move(*text), readSlackDelta()};
    }
}

std::optional<SlackDelta> PasteboardBroker::readSlackDelta() const {
    auto bytes = pasteboard_->dataForType(profile_.chromiumCustom);
    if (!bytes) return std::nullopt;
    auto map = ChromiumPickle::decode(bytes->view());
    if (!map) return std::nullopt;
    auto it = map->find(profile_.slackKey);
    if (it == map->end()) return std::nullopt;
    return SlackDelta::decode(it->second);
}

void PasteboardBroker::writeTransient(const std::string& text, const std::optional<SlackDelta>& slackDelta) const {
    pasteboard_->clearContents();
    PasteboardItemData item;
    Bytes textBytes(text);
    item.set(profile_.plainText, textBytes);
    for (const auto& alias : profile_.plainTextAliases) item.set(alias, textBytes);
    item.set(profile_.concealed, Bytes(profile_.concealedBytes));
    if (profile_.transient) item.set(*profile_.transient, Bytes(profile_.transientBytes));
    if (slackDelta) {
        if (auto json = slackDelta->encodeJSON()) {
            std::map<std::string, std::string> container{{profile_.chromiumPlainTextKey, text},
                                                         {profile_.slackKey, *json}};
            item.set(profile_.chromiumCustom, Bytes(ChromiumPickle::encode(container)));
        }
    }
    pasteboard_->writeItems({std::move(item)});
}

Task<void> PasteboardBroker::settleAfterPaste(std::optional<std::int64_t> readsBefore,
                                              std::optional<WindowId> window) const {
    using namespace std::chrono_literals;
    Executor& executor = co_await currentExecutor();
    const TimePoint start = executor.now();
    const TimePoint deadline = start + kPasteReadBound;
    if (!readsBefore) {
        co_await sleepFor(kPasteSettle);
        co_return;
    }
    // An application may read in several rounds (Chromium asks for the text
    // and then for its container); restoring between them would hand it the
    // old clipboard. So the pause ends only once it has been quiet a while.
    std::optional<std::int64_t> last = readsBefore;
    TimePoint lastRead = start;
    for (;;) {
        const TimePoint now = executor.now();
        const auto reads = pasteboard_->textReadsBy(window);
        if (reads != last) {
            last = reads;
            lastRead = now;
        }
        const bool pasted = last != readsBefore;
        if (now >= deadline) co_return;
        if (pasted && now - start >= kPasteSettle && now - lastRead >= kPasteQuiet) co_return;
        if (!co_await sleepFor(10ms)) co_return;
    }
}

void PasteboardBroker::restore(const PasteboardSnapshot& snapshot) const {
    pasteboard_->clearContents();
    std::vector<PasteboardItemData> items;
    for (const auto& entry : snapshot.items) {
        PasteboardItemData item;
        for (const auto& [type, bytes] : entry.entries) item.set(type, bytes);
        if (!item.entries.empty()) items.push_back(std::move(item));
    }
    if (items.empty()) return;
    pasteboard_->writeItems(items);
}

}  // namespace quillant::clipboard
