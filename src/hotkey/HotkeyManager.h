#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "hotkey/HotKey.h"
#include "hotkey/KeyCombo.h"

namespace quillant::hotkey {

class HotKeysController;

// Holds the application's one armed hotkey: each press of it runs `handler`,
// releases do nothing. Destroying the manager disarms it. Main thread only.
class HotkeyManager {
public:
    HotkeyManager(HotKeysController& controller, std::function<void()> handler);
    HotkeyManager(const HotkeyManager&) = delete;
    HotkeyManager& operator=(const HotkeyManager&) = delete;

    // Arms `combo`, replacing whatever was armed. The old registration is
    // given back first, so re-arming the same combination never meets itself.
    void registerCombo(const KeyCombo& combo);
    // Disarms; `registerCombo` arms again.
    void unregister();

    // The armed combination, if any.
    std::optional<KeyCombo> armedCombo() const;
    // Whether the hot-key service took the armed combination (another
    // program may hold it): only then does a press reach the handler.
    bool isArmed() const;

private:
    HotKeysController& controller_;
    // Shared so that the hotkey's callback can hold it weakly and keep it
    // alive for the length of one call.
    std::shared_ptr<const std::function<void()>> handler_;
    std::shared_ptr<HotKey> hotKey_;
};

}  // namespace quillant::hotkey
