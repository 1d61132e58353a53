#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace quillant::hotkey {

// Status codes shared with the hot-key service.
inline constexpr std::int32_t noErr = 0;
// "Not mine": lets the service pass the event on to other handlers.
inline constexpr std::int32_t eventNotHandledErr = -9874;
// What a service answers when another client already holds the combination.
inline constexpr std::int32_t eventHotKeyExistsErr = -9878;

// Event kinds the callback receives.
inline constexpr std::uint32_t kEventHotKeyPressed = 5;
inline constexpr std::uint32_t kEventHotKeyReleased = 6;

// The pair stamped on a registration and carried back by its events.
struct EventHotKeyID {
    std::uint32_t signature = 0;
    std::uint32_t id = 0;
    constexpr bool operator==(const EventHotKeyID&) const noexcept = default;
};

// Opaque handles handed out by the service.
enum class EventHotKeyRef : std::uint64_t {};
enum class EventHandlerRef : std::uint64_t {};

// What a registration answers: status 0 with a handle means the combination
// now raises events; anything else means it never will.
struct HotKeyRegistration {
    std::int32_t status = noErr;
    std::optional<EventHotKeyRef> handle;
};

// One hot-key event as the callback sees it. Reading the hot-key ID out of a
// native event can fail; then `parameterStatus` is non-zero and `hotKeyID`
// means nothing.
struct HotKeyEvent {
    std::uint32_t kind = kEventHotKeyPressed;
    std::int32_t parameterStatus = noErr;
    EventHotKeyID hotKeyID{};
};

// The system's global hot-key service: combinations that fire whichever
// application has the keyboard. Main thread only; the callback is called on
// the main thread while the service dispatches events, and its result is the
// status handed back to the system.
class HotKeyService {
public:
    using EventCallback = std::function<std::int32_t(const HotKeyEvent&)>;

    virtual ~HotKeyService() = default;

    // Asks for `keyCode` with the hot-key modifier mask `modifiers` (command
    // 256, shift 512, option 2048, control 4096). A refused combination (e.g.
    // held by another client) answers a non-zero status and no handle.
    virtual HotKeyRegistration registerEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                   EventHotKeyID hotKeyID) = 0;

    // Gives the combination back; afterwards it raises no events.
    virtual void unregisterEventHotKey(EventHotKeyRef handle) = 0;

    // Installs the callback for every pressed and released hot-key event of
    // this process. None when the service could not install it.
    virtual std::optional<EventHandlerRef> installEventHandler(EventCallback callback) = 0;
};

}  // namespace quillant::hotkey
