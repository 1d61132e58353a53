#pragma once

#include <cstdint>

#include "clipboard/KeyEventPoster.h"
#include "runtime/Clock.h"
#include "runtime/Task.h"

namespace quillant::clipboard {

// Makes the frontmost application copy or paste with a synthetic chord.
class KeyEventSynth {
public:
    explicit KeyEventSynth(KeyEventPoster& poster) : poster_(&poster) {}

    // Posts key-down then key-up of `key`, each carrying exactly the Command
    // flag, and the Shift flag too when `withShift`. True when the key-down
    // went out: that is what the application acts on.
    bool sendCommand(std::uint16_t key, bool withShift = false) const;

    // Waits, polling every 5 ms for at most `bound`, until the user has let go of
    // every key that would spoil a chord. True when they did; false when the
    // bound ran out (the poster then releases what is still held as it posts).
    Task<bool> awaitKeysReleased(Duration bound) const;

private:
    KeyEventPoster* poster_;
};

}  // namespace quillant::clipboard
