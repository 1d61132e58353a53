#include "hotkey/HotkeyManager.h"

#include "hotkey/HotKeysController.h"

namespace quillant::hotkey {

HotkeyManager::HotkeyManager(HotKeysController& controller, std::function<void()> handler)
    : controller_(controller), handler_(std::make_shared<const std::function<void()>>(std::move(handler))) {}

void HotkeyManager::registerCombo(const KeyCombo& combo) {
    hotKey_.reset();
    auto hotKey = HotKey::create(controller_, combo);
    hotKey->setKeyDownHandler([weakHandler = std::weak_ptr<const std::function<void()>>(handler_)] {
        if (auto handler = weakHandler.lock())
            if (*handler) (*handler)();
    });
    hotKey_ = std::move(hotKey);
}

void HotkeyManager::unregister() { hotKey_.reset(); }

std::optional<KeyCombo> HotkeyManager::armedCombo() const {
    if (!hotKey_) return std::nullopt;
    return hotKey_->keyCombo();
}

bool HotkeyManager::isArmed() const {
    if (!hotKey_) return false;
    const auto id = controller_.hotKeyID(*hotKey_);
    if (!id) return false;
    const auto entry = controller_.hotKeys().find(*id);
    return entry != controller_.hotKeys().end() && entry->second.carbonEventHotKey.has_value();
}

}  // namespace quillant::hotkey
