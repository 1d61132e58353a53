#include "clipboard/KeyEventSynth.h"

namespace quillant::clipboard {

bool KeyEventSynth::sendCommand(std::uint16_t key, bool withShift) const {
    const std::uint64_t flags = kCommandFlag | (withShift ? kShiftFlag : 0);
    const bool withSource = poster_->createEventSource();
    const bool down = poster_->canCreateEvent(key, true);
    const bool up = poster_->canCreateEvent(key, false);
    const bool sent = down && poster_->post(KeyEvent{key, true, flags, withSource});
    if (up) poster_->post(KeyEvent{key, false, flags, withSource});
    if (withSource) poster_->releaseEventSource();
    return sent;
}

Task<bool> KeyEventSynth::awaitKeysReleased(Duration bound) const {
    using namespace std::chrono_literals;
    Executor& executor = co_await currentExecutor();
    const TimePoint deadline = executor.now() + bound;
    while (poster_->keysHeld()) {
        if (executor.now() >= deadline) co_return false;
        if (!co_await sleepFor(5ms)) co_return !poster_->keysHeld();
    }
    co_return true;
}

}  // namespace quillant::clipboard
