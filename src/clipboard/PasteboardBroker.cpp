#include "clipboard/PasteboardBroker.h"

#include "clipboard/ChromiumPickle.h"

#include <functional>
#include <memory>

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

namespace {

// `co_await WakeOrDeadline(slot, left)`: suspends until `*slot` is called, `left`
// has passed or the task is cancelled; false when cancelled. A call through
// the slot comes from inside the platform's event handling, so the task
// resumes on a turn of its own rather than there.
class WakeOrDeadline {
public:
    using Slot = std::shared_ptr<std::function<void()>>;
    WakeOrDeadline(Slot slot, Duration left) : slot_(std::move(slot)), left_(left) {}
    WakeOrDeadline(WakeOrDeadline&&) = default;
    ~WakeOrDeadline() {
        if (!state_) return;
        *slot_ = nullptr;
        state_->timer.cancel();
        if (auto shared = state_->shared.lock()) shared->removeOnCancel(state_->cancelId);
    }

    bool await_ready() const noexcept { return false; }

    template <detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) {
        detail::TaskContext* ctx = h.promise().ctx;
        if (ctx->shared->cancelled) return false;
        auto self = ctx->shared_from_this();
        state_ = std::make_shared<State>();
        state_->shared = ctx->shared;
        auto state = state_;
        std::weak_ptr<detail::TaskContext> weak = self;
        auto resumeLater = [weak, h, state](bool cancelled) {
            auto ctx = weak.lock();
            if (!ctx || state->resumed) return;
            state->resumed = true;
            state->cancelled = cancelled;
            state->timer.cancel();
            detail::resumeOnExecutor(std::move(ctx), h);
        };
        *slot_ = [resumeLater] { resumeLater(false); };
        state_->cancelId = ctx->shared->addOnCancel([resumeLater] { resumeLater(true); });
        state_->timer = ctx->executor->schedule(left_, [self, h, state] {
            if (state->resumed) return;
            state->resumed = true;
            if (self->alive()) h.resume();
        });
        return true;
    }

    bool await_resume() const noexcept { return state_ && !state_->cancelled; }

private:
    struct State {
        TimerHandle timer;
        std::uint64_t cancelId = 0;
        bool resumed = false;
        bool cancelled = false;
        std::weak_ptr<detail::TaskShared> shared;
    };
    Slot slot_;
    Duration left_;
    std::shared_ptr<State> state_;
};

}  // namespace

Task<CapturedSelection> PasteboardBroker::copySelection(std::int64_t timeoutMs, CopyPasteChord chord) const {
    using namespace std::chrono_literals;
    // While the hotkey's keys are down they would ride along with the chord
    // (or our own key grab would swallow it); give the user a moment to let go.
    if (chord.awaitRelease) co_await synth_.awaitKeysReleased(kKeyReleaseBound);

    // Where the platform announces a new owner, the copy is seen the moment
    // it lands; elsewhere the count is asked every 10 ms. Both give up after
    // the same whole number of 10 ms steps.
    auto wake = std::make_shared<std::function<void()>>();
    const std::optional<Subscription> announced = pasteboard_->onChange([wake] {
        if (*wake) (*wake)();
    });
    const std::int64_t before = pasteboard_->changeCount();
    synth_.sendCommand(kKeyCodeC, chord.withShift);

    const std::int64_t polls = timeoutMs / 10;
    if (polls <= 0) throw PasteboardError(PasteboardError::Kind::copyTimedOut);
    if (announced) {
        Executor& executor = co_await currentExecutor();
        const TimePoint deadline = executor.now() + polls * 10ms;
        for (;;) {
            if (pasteboard_->changeCount() != before) break;
            const TimePoint now = executor.now();
            if (now >= deadline) throw PasteboardError(PasteboardError::Kind::copyTimedOut);
            if (!co_await WakeOrDeadline(wake, deadline - now)) {
                // Cancelled: one last look, as the poll would take.
                if (pasteboard_->changeCount() != before) break;
                throw PasteboardError(PasteboardError::Kind::copyTimedOut);
            }
        }
    } else {
        for (std::int64_t poll = 1;; ++poll) {
            co_await sleepFor(10ms);  // a cut-short sleep counts as a completed one
            if (pasteboard_->changeCount() != before) break;
            if (poll >= polls) throw PasteboardError(PasteboardError::Kind::copyTimedOut);
        }
    }
    auto text = pasteboard_->stringForType(profile_.plainText);
    if (!text) throw PasteboardError(PasteboardError::Kind::noStringOnPasteboard);
    co_return CapturedSelection{std::move(*text), readSlackDelta()};
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
    pasteboard_->replaceContents({std::move(item)});
}

Task<bool> PasteboardBroker::settleAfterPaste(std::optional<std::int64_t> readsBefore,
                                              std::optional<WindowId> window) const {
    using namespace std::chrono_literals;
    Executor& executor = co_await currentExecutor();
    const TimePoint start = executor.now();
    const TimePoint deadline = start + kPasteReadBound;
    if (!readsBefore) {
        co_await sleepFor(kPasteSettle);
        co_return true;
    }
    // An application may read in several rounds (Chromium asks for the text
    // and then for its container); restoring between them would hand it the
    // old clipboard. So the pause ends only once it has been quiet a while.
    // Chromium now and then stalls in its paste, after asking for the list of
    // types and before asking for the text, until the clipboard announces a
    // new owner: restoring would be that announcement, and the paste would
    // then take the user's clipboard. So once it has gone quiet, the
    // correction is announced once more. A paste that reads again after that
    // had stalled, and none such has been seen to insert anything: it does
    // not count as taken, nor does one that asks only for the list of types
    // then (a stalled paste that reads no text when it goes on). Its event
    // loop seems merely not woken, so before that it gets one event that
    // changes nothing; a paste that goes on then reads our text and counts
    // as taken.
    std::optional<std::int64_t> last = readsBefore;
    TimePoint lastRead = start;
    bool woken = false;
    bool reannounced = false;
    std::optional<std::int64_t> readsAtReannounce;
    std::optional<std::int64_t> requestsAtReannounce;
    // Whether nothing came from the pasting application after the announcement.
    auto quietSinceReannounce = [&] {
        return last == readsAtReannounce && pasteboard_->requestsBy(window) == requestsAtReannounce;
    };
    for (;;) {
        const TimePoint now = executor.now();
        const auto reads = pasteboard_->textReadsBy(window);
        if (reads != last) {
            last = reads;
            lastRead = now;
        }
        const bool pasted = last != readsBefore;
        if (now >= deadline) co_return pasted && (!reannounced || quietSinceReannounce());
        if (pasted && !woken && now - lastRead >= kWakeQuiet) {
            woken = true;
            pasteboard_->wake(window);
        }
        const Duration quiet = reannounced ? kReannounceQuiet : kPasteQuiet;
        if (pasted && now - start >= kPasteSettle && now - lastRead >= quiet) {
            if (reannounced) co_return quietSinceReannounce();
            if (!pasteboard_->reannounce()) co_return true;
            reannounced = true;
            readsAtReannounce = last;
            requestsAtReannounce = pasteboard_->requestsBy(window);
            lastRead = now;
        }
        if (!co_await sleepFor(10ms)) co_return pasted;
    }
}

void PasteboardBroker::restore(const PasteboardSnapshot& snapshot) const {
    std::vector<PasteboardItemData> items;
    for (const auto& entry : snapshot.items) {
        PasteboardItemData item;
        for (const auto& [type, bytes] : entry.entries) item.set(type, bytes);
        if (!item.entries.empty()) items.push_back(std::move(item));
    }
    if (items.empty())
        pasteboard_->clearContents();
    else
        pasteboard_->replaceContents(items);
}

}  // namespace quillant::clipboard
