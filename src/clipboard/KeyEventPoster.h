#pragma once

#include <cstdint>

namespace quillant::clipboard {

// Virtual key codes and the modifier flag used by synthetic chords.
inline constexpr std::uint16_t kKeyCodeC = 8;
inline constexpr std::uint16_t kKeyCodeV = 9;
inline constexpr std::uint64_t kCommandFlag = 0x100000;
// Shift, for the applications that copy and paste with Shift added (terminals).
inline constexpr std::uint64_t kShiftFlag = 0x20000;

struct KeyEvent {
    std::uint16_t keyCode = 0;
    bool keyDown = false;
    std::uint64_t flags = 0;
    bool withSource = false;  // created from an event source (false when none could be made)
    bool operator==(const KeyEvent&) const = default;
};

// Posts synthetic keyboard events to the user's session. The copy/paste
// modifier flag (Command) is carried by the event; the platform maps it to its
// own copy/paste modifier (Control on Linux).
class KeyEventPoster {
public:
    virtual ~KeyEventPoster() = default;

    // An event source with the hardware's state; false when none can be made
    // (events are then created without one).
    virtual bool createEventSource() = 0;
    virtual void releaseEventSource() = 0;

    // Whether an event for this key can be created; false means it is not posted.
    virtual bool canCreateEvent(std::uint16_t keyCode, bool keyDown) = 0;

    // Delivers one event as if it came from the keyboard, with exactly `flags`
    // (the Command flag, with or without the Shift flag). An event whose
    // modifiers cannot all be produced is not delivered at all: the key
    // without them would type over the selection or interrupt a terminal.
    // True when the event went out.
    virtual bool post(const KeyEvent& event) = 0;

    // Whether the user still physically holds a key that would reach the
    // application along with a synthetic chord (a modifier, or the hotkey's own key).
    virtual bool keysHeld() = 0;
};

}  // namespace quillant::clipboard
