#include "hotkey/HotKey.h"

#include "hotkey/HotKeysController.h"

namespace quillant::hotkey {

std::shared_ptr<HotKey> HotKey::create(HotKeysController& controller, KeyCombo keyCombo, Handler keyDownHandler,
                                       Handler keyUpHandler) {
    auto hotKey =
        std::make_shared<HotKey>(Passkey{}, controller, keyCombo, std::move(keyDownHandler), std::move(keyUpHandler));
    // Only now can the registry hold it weakly.
    controller.registerHotKey(*hotKey);
    return hotKey;
}

std::shared_ptr<HotKey> HotKey::create(HotKeysController& controller, std::uint32_t carbonKeyCode,
                                       std::uint32_t carbonModifiers, Handler keyDownHandler, Handler keyUpHandler) {
    return create(controller, KeyCombo(carbonKeyCode, carbonModifiers), std::move(keyDownHandler),
                  std::move(keyUpHandler));
}

std::shared_ptr<HotKey> HotKey::create(HotKeysController& controller, Key key, ModifierFlags modifiers,
                                       Handler keyDownHandler, Handler keyUpHandler) {
    return create(controller, KeyCombo(key, modifiers), std::move(keyDownHandler), std::move(keyUpHandler));
}

HotKey::HotKey(Passkey, HotKeysController& controller, KeyCombo keyCombo, Handler keyDownHandler,
               Handler keyUpHandler)
    : controller_(&controller),
      controllerAlive_(controller.aliveToken()),
      identifier_(controller.nextIdentifier()),
      keyCombo_(keyCombo),
      keyDownHandler_(std::move(keyDownHandler)),
      keyUpHandler_(std::move(keyUpHandler)) {}

HotKey::~HotKey() {
    if (!controllerAlive_.expired()) controller_->unregisterHotKey(*this);
}

void HotKey::setPaused(bool paused) {
    // Set first, so an event dispatched while the service works sees the new state.
    isPaused_ = paused;
    if (controllerAlive_.expired()) return;
    if (paused)
        controller_->unregisterHotKey(*this);
    else
        controller_->registerHotKey(*this);
}

}  // namespace quillant::hotkey
