#pragma once

#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "clipboard/KeyEventPoster.h"

namespace quillant::testing {

// Records every posted event; can refuse an event source or single events,
// pretend keys are still held, and lets a test react to a chord (playing the
// frontmost application).
class FakeKeyEventPoster final : public clipboard::KeyEventPoster {
public:
    bool createEventSource() override {
        ++sourcesCreated;
        return !failSource;
    }
    void releaseEventSource() override { ++sourcesReleased; }
    bool canCreateEvent(std::uint16_t keyCode, bool keyDown) override {
        return !refused.count({keyCode, keyDown});
    }
    bool post(const clipboard::KeyEvent& event) override {
        if (undeliverable.count(event.keyCode)) return false;
        events.push_back(event);
        if (onPost) onPost(event);
        return true;
    }
    bool keysHeld() override {
        ++keysHeldQueries;
        if (heldFor > 0) {
            --heldFor;
            return true;
        }
        return false;
    }

    bool failSource = false;
    std::set<std::uint16_t> undeliverable;  // post() drops these keys, as a poster without Control does
    std::set<std::pair<std::uint16_t, bool>> refused;
    int heldFor = 0;  // keysHeld() answers true this many more times
    int keysHeldQueries = 0;
    int sourcesCreated = 0;
    int sourcesReleased = 0;
    std::vector<clipboard::KeyEvent> events;
    std::function<void(const clipboard::KeyEvent&)> onPost;
};

}  // namespace quillant::testing
