#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "hotkey/Key.h"
#include "hotkey/KeyCombo.h"
#include "hotkey/ModifierFlags.h"

namespace quillant::hotkey {

class HotKeysController;

// One global hotkey. Its lifetime is its registration: it registers when
// created and unregisters when its last owner lets it go. Always owned
// through shared_ptr; the registry only ever holds it weakly. Main thread only.
class HotKey final : public std::enable_shared_from_this<HotKey> {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    using Handler = std::function<void()>;
    // Unique among the hotkeys of one controller; the registry finds entries by it.
    using Identifier = std::uint64_t;

    // Creation cannot fail: a combination the system refuses just never fires.
    static std::shared_ptr<HotKey> create(HotKeysController& controller, KeyCombo keyCombo,
                                          Handler keyDownHandler = {}, Handler keyUpHandler = {});
    static std::shared_ptr<HotKey> create(HotKeysController& controller, std::uint32_t carbonKeyCode,
                                          std::uint32_t carbonModifiers, Handler keyDownHandler = {},
                                          Handler keyUpHandler = {});
    static std::shared_ptr<HotKey> create(HotKeysController& controller, Key key, ModifierFlags modifiers,
                                          Handler keyDownHandler = {}, Handler keyUpHandler = {});

    HotKey(Passkey, HotKeysController& controller, KeyCombo keyCombo, Handler keyDownHandler,
           Handler keyUpHandler);
    HotKey(const HotKey&) = delete;
    HotKey& operator=(const HotKey&) = delete;
    ~HotKey();

    Identifier identifier() const noexcept { return identifier_; }
    const KeyCombo& keyCombo() const noexcept { return keyCombo_; }

    // The next event runs whatever handler is set at that moment.
    const Handler& keyDownHandler() const noexcept { return keyDownHandler_; }
    void setKeyDownHandler(Handler handler) { keyDownHandler_ = std::move(handler); }
    const Handler& keyUpHandler() const noexcept { return keyUpHandler_; }
    void setKeyUpHandler(Handler handler) { keyUpHandler_ = std::move(handler); }

    bool isPaused() const noexcept { return isPaused_; }
    // Acts on every call, whatever the current value: pausing gives the
    // combination back to the system; resuming registers again under a fresh
    // ID, or does nothing while still registered.
    void setPaused(bool paused);

private:
    HotKeysController* controller_;
    std::weak_ptr<const void> controllerAlive_;
    Identifier identifier_;
    KeyCombo keyCombo_;
    Handler keyDownHandler_;
    Handler keyUpHandler_;
    bool isPaused_ = false;
};

}  // namespace quillant::hotkey
