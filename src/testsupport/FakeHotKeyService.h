#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "hotkey/HotKeyService.h"

namespace quillant::testing {

// An in-memory hot-key service. Records every call, refuses what the test
// says, and lets the test deliver any event to the installed callback.
class FakeHotKeyService final : public hotkey::HotKeyService {
public:
    struct Registration {
        std::uint32_t keyCode = 0;
        std::uint32_t modifiers = 0;
        hotkey::EventHotKeyID hotKeyID{};
    };

    hotkey::HotKeyRegistration registerEventHotKey(std::uint32_t keyCode, std::uint32_t modifiers,
                                                   hotkey::EventHotKeyID hotKeyID) override {
        const Registration registration{keyCode, modifiers, hotKeyID};
        registerCalls.push_back(registration);
        if (refuse && refuse(registration)) return {refusalStatus, std::nullopt};
        const auto handle = static_cast<hotkey::EventHotKeyRef>(nextHandle++);
        active[handle] = registration;
        return {hotkey::noErr, handle};
    }

    void unregisterEventHotKey(hotkey::EventHotKeyRef handle) override {
        unregisterCalls.push_back(handle);
        active.erase(handle);
        if (onUnregister) onUnregister(handle);
    }

    std::optional<hotkey::EventHandlerRef> installEventHandler(EventCallback handler) override {
        ++installCalls;
        if (failInstall) return std::nullopt;
        callback = std::move(handler);
        return static_cast<hotkey::EventHandlerRef>(installCalls);
    }

    // --- the test's side ---

    // Hands an event to the installed callback; none when nothing is installed.
    std::optional<std::int32_t> deliver(const hotkey::HotKeyEvent& event) {
        if (!callback) return std::nullopt;
        auto handler = callback;
        return handler(event);
    }
    std::optional<std::int32_t> deliverPressed(hotkey::EventHotKeyID id) {
        return deliver({hotkey::kEventHotKeyPressed, hotkey::noErr, id});
    }
    std::optional<std::int32_t> deliverReleased(hotkey::EventHotKeyID id) {
        return deliver({hotkey::kEventHotKeyReleased, hotkey::noErr, id});
    }
    // An event whose hot-key ID cannot be read.
    std::optional<std::int32_t> deliverUnreadable(std::uint32_t kind, std::int32_t status) {
        return deliver({kind, status, {}});
    }
    // The user pressing a combination: an event for whichever active
    // registration holds it; none when nobody holds it or nothing is installed.
    std::optional<std::int32_t> press(std::uint32_t keyCode, std::uint32_t modifiers,
                                      std::uint32_t kind = hotkey::kEventHotKeyPressed) {
        std::optional<hotkey::EventHotKeyID> holder;
        for (const auto& [handle, registration] : active)
            if (registration.keyCode == keyCode && registration.modifiers == modifiers) holder = registration.hotKeyID;
        if (!holder) return std::nullopt;
        return deliver({kind, hotkey::noErr, *holder});
    }

    bool holds(std::uint32_t keyCode, std::uint32_t modifiers) const {
        for (const auto& [handle, registration] : active)
            if (registration.keyCode == keyCode && registration.modifiers == modifiers) return true;
        return false;
    }

    // Say no to a registration (e.g. another client holds the combination).
    std::function<bool(const Registration&)> refuse;
    std::int32_t refusalStatus = hotkey::eventHotKeyExistsErr;
    bool failInstall = false;
    // Runs inside unregisterEventHotKey, after the handle is released.
    std::function<void(hotkey::EventHotKeyRef)> onUnregister;

    std::vector<Registration> registerCalls;
    std::vector<hotkey::EventHotKeyRef> unregisterCalls;
    std::map<hotkey::EventHotKeyRef, Registration> active;
    int installCalls = 0;
    EventCallback callback;

private:
    std::uint64_t nextHandle = 1;
};

}  // namespace quillant::testing
