#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "hotkey/HotKey.h"
#include "hotkey/HotKeyService.h"
#include "runtime/Task.h"

namespace quillant::hotkey {

// A registry entry. It never keeps its hotkey alive.
struct HotKeyBox {
    HotKey::Identifier identifier;
    std::weak_ptr<HotKey> hotKey;
    std::uint32_t carbonHotKeyID;
    std::optional<EventHotKeyRef> carbonEventHotKey;  // none while the system refuses the combination
};

// Packs a tag's UTF-16 code units into one word, first unit in the top byte.
constexpr std::uint32_t fourCharCode(std::u16string_view tag) noexcept {
    std::uint32_t value = 0;
    for (char16_t unit : tag) value = value * 256 + unit;
    return value;
}

// The registry of live hotkeys and the one event callback that dispatches
// hot-key events to them. The program's entry creates one and hands it to
// whoever makes hotkeys; the service must outlive it. Main thread only.
class HotKeysController {
public:
    // Stamped on every registration; events carrying another signature are not ours.
    static constexpr std::uint32_t eventHotKeySignature = fourCharCode(u"Qtag");

    // `lastIssuedID` is the ID counter's starting point (0: the first ID is 1).
    explicit HotKeysController(HotKeyService& service, std::uint32_t lastIssuedID = 0);
    HotKeysController(const HotKeysController&) = delete;
    HotKeysController& operator=(const HotKeysController&) = delete;
    // Gives every combination still held back to the system; hotkeys that
    // outlive the controller stay inert.
    ~HotKeysController();

    // Registers under the next ID, or does nothing when already registered.
    // A refusal by the system is silent: the entry stays, without a handle.
    // Once every ID has been handed out, further registrations are refused
    // outright (no entry), so an ID is never used twice.
    void registerHotKey(HotKey& hotKey);
    // Releases the registration; does nothing when there is none.
    void unregisterHotKey(HotKey& hotKey);

    // Dispatches one hot-key event: noErr when a handler ran,
    // eventNotHandledErr when the event is not for a live, unpaused hotkey
    // with a handler, or the failed parameter read's own status.
    std::int32_t handleCarbonEvent(const HotKeyEvent& event);

    // Read-only views, for diagnostics and tests.
    const std::map<std::uint32_t, HotKeyBox>& hotKeys() const noexcept { return hotKeys_; }
    std::uint32_t hotKeysCount() const noexcept { return hotKeysCount_; }
    bool isEventHandlerInstalled() const noexcept { return eventHandler_.has_value(); }
    // The ID `hotKey` is registered under, if any.
    std::optional<std::uint32_t> hotKeyID(const HotKey& hotKey) const;

private:
    friend class HotKey;

    HotKey::Identifier nextIdentifier() noexcept { return ++identifiersIssued_; }
    std::weak_ptr<const void> aliveToken() const { return lifetime_.weak(); }

    HotKeyBox* box(const HotKey& hotKey);
    std::shared_ptr<HotKey> hotKey(std::uint32_t id);
    void updateEventHandler();

    HotKeyService& service_;
    std::map<std::uint32_t, HotKeyBox> hotKeys_;
    std::uint32_t hotKeysCount_;
    std::optional<EventHandlerRef> eventHandler_;
    HotKey::Identifier identifiersIssued_ = 0;
    Lifetime lifetime_;
};

static_assert(HotKeysController::eventHotKeySignature == 0x51746167u);

}  // namespace quillant::hotkey
