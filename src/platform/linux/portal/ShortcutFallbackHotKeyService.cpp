#include "platform/linux/portal/ShortcutFallbackHotKeyService.h"

#include "hotkey/KeyCombo.h"
#include "hotkey/ShortcutStyle.h"

namespace quillant::linux_platform {

namespace {

std::string comboText(std::uint32_t keyCode, std::uint32_t modifiers) {
    return hotkey::describeCombo(hotkey::KeyCombo(keyCode, modifiers), hotkey::ShortcutStyle::linuxWords, "?");
}

}  // namespace

ShortcutFallbackHotKeyService::ShortcutFallbackHotKeyService(GlobalShortcutsHotKeyService& portal,
                                                             hotkey::HotKeyService& grab, Logger& logger)
    : portal_(portal), grab_(grab), log_(logger, std::string(kLogSubsystem), "hotkeys") {
    portal_.setOnChange([this] { update(); });
}

ShortcutFallbackHotKeyService::~ShortcutFallbackHotKeyService() {
    portal_.setOnChange({});
    for (auto& [handle, r] : registrations_)
        if (r.grab) grab_.unregisterEventHotKey(*r.grab);
}

bool ShortcutFallbackHotKeyService::portalDead() const {
    using State = GlobalShortcutsHotKeyService::State;
    switch (portal_.state()) {
        case State::refused:
        case State::failed:
        case State::closed: return true;
        case State::bound: return portal_.triggerDescription().empty();
        case State::idle:
        case State::binding: break;
    }
    return false;
}

bool ShortcutFallbackHotKeyService::grabbing() const {
    for (const auto& [handle, registration] : registrations_)
        if (registration.grab) return true;
    return false;
}

void ShortcutFallbackHotKeyService::update() {
    // A rebind after the portal came back keeps the grab until the desktop reports a trigger.
    const bool binding = portal_.state() == GlobalShortcutsHotKeyService::State::binding;
    const bool dead = portalDead();
    for (auto& [handle, r] : registrations_) {
        if (dead && !r.grab) {
            const auto result = grab_.registerEventHotKey(r.keyCode, r.modifiers, r.id);
            const std::string combo = comboText(r.keyCode, r.modifiers);
            if (result.status == hotkey::noErr && result.handle) {
                r.grab = result.handle;
                log_.info("The desktop's shortcut portal gives no trigger (" + describe(portal_.state()) +
                          "); kept: " + combo + " grabbed on XWayland, heard only while an X11 window has the focus");
            } else {
                log_.error("The desktop's shortcut portal gives no trigger (" + describe(portal_.state()) + "), and " +
                           combo + " cannot be grabbed on XWayland either: bind `quillant trigger` in the desktop's "
                           "shortcut settings");
            }
        } else if (!dead && !binding && r.grab) {
            grab_.unregisterEventHotKey(*r.grab);
            r.grab.reset();
            log_.info("The desktop's shortcut portal bound the hotkey: " + portal_.triggerDescription() +
                      "; the grab on XWayland is let go");
        }
    }
    if (onChange_) onChange_();
}

hotkey::HotKeyRegistration ShortcutFallbackHotKeyService::registerEventHotKey(std::uint32_t keyCode,
                                                                              std::uint32_t modifiers,
                                                                              hotkey::EventHotKeyID hotKeyID) {
    const auto result = portal_.registerEventHotKey(keyCode, modifiers, hotKeyID);
    if (result.status != hotkey::noErr || !result.handle) return result;
    // The portal has one shortcut: the latest registration takes it over.
    for (auto& [handle, r] : registrations_)
        if (r.grab) grab_.unregisterEventHotKey(*r.grab);
    registrations_.clear();
    registrations_[static_cast<std::uint64_t>(*result.handle)] = Registration{keyCode, modifiers, hotKeyID, {}};
    update();
    return result;
}

void ShortcutFallbackHotKeyService::unregisterEventHotKey(hotkey::EventHotKeyRef handle) {
    portal_.unregisterEventHotKey(handle);
    const auto it = registrations_.find(static_cast<std::uint64_t>(handle));
    if (it == registrations_.end()) return;
    if (it->second.grab) grab_.unregisterEventHotKey(*it->second.grab);
    registrations_.erase(it);
}

std::optional<hotkey::EventHandlerRef> ShortcutFallbackHotKeyService::installEventHandler(EventCallback callback) {
    grab_.installEventHandler(callback);
    return portal_.installEventHandler(std::move(callback));
}

}  // namespace quillant::linux_platform
