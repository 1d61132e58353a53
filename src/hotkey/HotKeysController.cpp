#include "hotkey/HotKeysController.h"

#include <limits>
#include <utility>

namespace quillant::hotkey {

HotKeysController::HotKeysController(HotKeyService& service, std::uint32_t lastIssuedID)
    : service_(service), hotKeysCount_(lastIssuedID) {}

HotKeysController::~HotKeysController() {
    auto entries = std::exchange(hotKeys_, {});
    for (const auto& [id, entry] : entries)
        if (entry.carbonEventHotKey) service_.unregisterEventHotKey(*entry.carbonEventHotKey);
}

void HotKeysController::registerHotKey(HotKey& hotKey) {
    if (box(hotKey)) return;
    // Wrapping would hand out IDs that may still be registered or still
    // arrive in queued events; four billion registrations is the end of the line.
    if (hotKeysCount_ == std::numeric_limits<std::uint32_t>::max()) return;

    const std::uint32_t id = ++hotKeysCount_;
    hotKeys_.emplace(id, HotKeyBox{hotKey.identifier(), hotKey.weak_from_this(), id, std::nullopt});

    const KeyCombo& combo = hotKey.keyCombo();
    const HotKeyRegistration answer =
        service_.registerEventHotKey(combo.carbonKeyCode, combo.carbonModifiers, {eventHotKeySignature, id});
    if (answer.status != noErr || !answer.handle) return;

    // Look again: the service may have dispatched events (and so run handlers) meanwhile.
    auto entry = hotKeys_.find(id);
    if (entry == hotKeys_.end()) {
        service_.unregisterEventHotKey(*answer.handle);
        return;
    }
    entry->second.carbonEventHotKey = answer.handle;
    updateEventHandler();
}

void HotKeysController::unregisterHotKey(HotKey& hotKey) {
    const HotKeyBox* entry = box(hotKey);
    if (!entry) return;
    const std::uint32_t id = entry->carbonHotKeyID;
    if (const auto handle = entry->carbonEventHotKey) service_.unregisterEventHotKey(*handle);
    // By ID, not through `entry`: the service may have dispatched events meanwhile.
    hotKeys_.erase(id);
}

std::int32_t HotKeysController::handleCarbonEvent(const HotKeyEvent& event) {
    if (event.parameterStatus != noErr) return event.parameterStatus;
    if (event.hotKeyID.signature != eventHotKeySignature) return eventNotHandledErr;

    // Held for the call: a handler may drop the last other owner.
    const std::shared_ptr<HotKey> target = hotKey(event.hotKeyID.id);
    if (!target) return eventNotHandledErr;

    // A copy: the handler may replace or clear itself while it runs.
    HotKey::Handler handler;
    switch (event.kind) {
        case kEventHotKeyPressed:
            handler = target->keyDownHandler();
            break;
        case kEventHotKeyReleased:
            handler = target->keyUpHandler();
            break;
        default:
            return eventNotHandledErr;
    }
    if (target->isPaused() || !handler) return eventNotHandledErr;
    handler();
    return noErr;
}

std::optional<std::uint32_t> HotKeysController::hotKeyID(const HotKey& hotKey) const {
    for (const auto& [id, entry] : hotKeys_)
        if (entry.identifier == hotKey.identifier()) return id;
    return std::nullopt;
}

HotKeyBox* HotKeysController::box(const HotKey& hotKey) {
    for (auto& [id, entry] : hotKeys_)
        if (entry.identifier == hotKey.identifier()) return &entry;
    return nullptr;
}

std::shared_ptr<HotKey> HotKeysController::hotKey(std::uint32_t id) {
    auto entry = hotKeys_.find(id);
    if (entry == hotKeys_.end()) return nullptr;
    if (auto live = entry->second.hotKey.lock()) return live;
    // Its hotkey is gone: the entry is stale.
    hotKeys_.erase(entry);
    return nullptr;
}

void HotKeysController::updateEventHandler() {
    if (hotKeysCount_ == 0 || eventHandler_) return;
    eventHandler_ = service_.installEventHandler([this, alive = aliveToken()](const HotKeyEvent& event) {
        // The service keeps the callback for good; it may outlive us.
        if (alive.expired()) return eventNotHandledErr;
        return handleCarbonEvent(event);
    });
}

}  // namespace quillant::hotkey
