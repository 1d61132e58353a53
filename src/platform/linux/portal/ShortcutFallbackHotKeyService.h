#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "hotkey/HotKeyService.h"
#include "platform/linux/portal/GlobalShortcutsHotKeyService.h"
#include "runtime/Logger.h"

namespace quillant::linux_platform {

// The desktop's shortcut portal, and the key grab on XWayland wherever the
// portal leaves the hotkey dead: it refused or failed the bind, ended our
// session, or bound the shortcut with no trigger. The grab is heard only in
// X11 windows, which is better than nothing; it is let go once the desktop
// reports a trigger. Events of both reach the one handler. Main thread only.
class ShortcutFallbackHotKeyService final : public hotkey::HotKeyService {
public:
    ShortcutFallbackHotKeyService(GlobalShortcutsHotKeyService& portal, hotkey::HotKeyService& grab, Logger& logger);
    ~ShortcutFallbackHotKeyService() override;
    ShortcutFallbackHotKeyService(const ShortcutFallbackHotKeyService&) = delete;
    ShortcutFallbackHotKeyService& operator=(const ShortcutFallbackHotKeyService&) = delete;

    // Whether the grab stands in for the portal's shortcut now.
    bool grabbing() const;
    // Called whenever the portal's state or trigger, or grabbing(), changes.
    void setOnChange(std::function<void()> callback) { onChange_ = std::move(callback); }

    // hotkey::HotKeyService
    hotkey::HotKeyRegistration registerEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                   hotkey::EventHotKeyID hotKeyID) override;
    void unregisterEventHotKey(hotkey::EventHotKeyRef handle) override;
    std::optional<hotkey::EventHandlerRef> installEventHandler(EventCallback callback) override;

private:
    struct Registration {
        std::uint32_t keyCode = 0;
        std::uint32_t modifiers = 0;
        hotkey::EventHotKeyID id;
        std::optional<hotkey::EventHotKeyRef> grab;
    };
    bool portalDead() const;
    void update();

    GlobalShortcutsHotKeyService& portal_;
    hotkey::HotKeyService& grab_;
    CategoryLogger log_;
    std::map<std::uint64_t, Registration> registrations_;  // by the portal's handle
    std::function<void()> onChange_;
};

}  // namespace quillant::linux_platform
