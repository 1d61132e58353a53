#include "platform/linux/qt/QtKeyDownMonitor.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <vector>

#include "hotkey/Key.h"
#include "platform/linux/x11/KeysymTable.h"

namespace quillant::linux_platform {

using hotkey::Key;
using hotkey::KeyCase;
using hotkey::ModifierFlags;

namespace {
bool isModifierPress(const QKeyEvent& event);
}  // namespace

class QtKeyDownMonitor::Filter final : public QObject {
public:
    explicit Filter(QtKeyDownMonitor& owner) : owner_(owner) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Accepted, a shortcut does not fire and the press comes back as
            // an ordinary key press, which the handlers then judge.
            event->accept();
            return true;
        case QEvent::KeyPress: {
            const auto& key = static_cast<const QKeyEvent&>(*event);
            // A modifier pressed alone is not a key-down: only the key it
            // qualifies is. Held back all the same, like every other event.
            if (isModifierPress(key)) return true;
            return !owner_.deliver(key);
        }
        case QEvent::KeyRelease: return true;
        default: return QObject::eventFilter(watched, event);
        }
    }

private:
    QtKeyDownMonitor& owner_;
};

namespace {

constexpr std::uint32_t kXLockMask = 0x2;

std::optional<Key> keyFromQtKey(int qtKey, bool keypad) {
    if (keypad && qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return Key(static_cast<KeyCase>(static_cast<int>(KeyCase::keypad0) + (qtKey - Qt::Key_0)));
    if (keypad) {
        switch (qtKey) {
        case Qt::Key_Period: return Key(KeyCase::keypadDecimal);
        case Qt::Key_Slash: return Key(KeyCase::keypadDivide);
        case Qt::Key_Asterisk: return Key(KeyCase::keypadMultiply);
        case Qt::Key_Minus: return Key(KeyCase::keypadMinus);
        case Qt::Key_Plus: return Key(KeyCase::keypadPlus);
        case Qt::Key_Equal: return Key(KeyCase::keypadEquals);
        default: break;
        }
    }
    // Latin-1 keys share their codes with the keysyms (letters as capitals).
    if (qtKey >= 0x20 && qtKey <= 0xff) return keyForKeysym(std::uint32_t(qtKey));
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F20)
        return Key(static_cast<KeyCase>(static_cast<int>(KeyCase::f1) + (qtKey - Qt::Key_F1)));
    switch (qtKey) {
    case Qt::Key_Escape: return Key(KeyCase::escape);
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return Key(KeyCase::tab);
    case Qt::Key_Backspace: return Key(KeyCase::delete_);
    case Qt::Key_Return: return Key(KeyCase::return_);
    case Qt::Key_Enter: return Key(KeyCase::keypadEnter);
    case Qt::Key_Delete: return Key(KeyCase::forwardDelete);
    case Qt::Key_Home: return Key(KeyCase::home);
    case Qt::Key_End: return Key(KeyCase::end);
    case Qt::Key_Left: return Key(KeyCase::leftArrow);
    case Qt::Key_Up: return Key(KeyCase::upArrow);
    case Qt::Key_Right: return Key(KeyCase::rightArrow);
    case Qt::Key_Down: return Key(KeyCase::downArrow);
    case Qt::Key_PageUp: return Key(KeyCase::pageUp);
    case Qt::Key_PageDown: return Key(KeyCase::pageDown);
    case Qt::Key_Shift: return Key(KeyCase::shift);
    case Qt::Key_Control: return Key(KeyCase::control);
    case Qt::Key_Meta:
    case Qt::Key_Super_L: return Key(KeyCase::command);
    case Qt::Key_Super_R: return Key(KeyCase::rightCommand);
    case Qt::Key_Alt: return Key(KeyCase::option);
    case Qt::Key_AltGr: return Key(KeyCase::rightOption);
    case Qt::Key_CapsLock: return Key(KeyCase::capsLock);
    case Qt::Key_Help: return Key(KeyCase::help);
    case Qt::Key_Clear: return Key(KeyCase::keypadClear);
    case Qt::Key_VolumeUp: return Key(KeyCase::volumeUp);
    case Qt::Key_VolumeDown: return Key(KeyCase::volumeDown);
    case Qt::Key_VolumeMute: return Key(KeyCase::mute);
    default: return std::nullopt;
    }
}

bool isFunctionKey(KeyCase value) {
    const auto v = static_cast<int>(value);
    if (v >= static_cast<int>(KeyCase::f1) && v <= static_cast<int>(KeyCase::f20)) return true;
    if (v >= static_cast<int>(KeyCase::pageUp) && v <= static_cast<int>(KeyCase::leftArrow)) return true;
    return value == KeyCase::forwardDelete || value == KeyCase::help || value == KeyCase::function;
}

bool isModifierPress(const QKeyEvent& event) {
    switch (event.key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock: return true;
    default: break;
    }
    const auto code = QtKeyDownMonitor::keyCodeOf(event);
    if (auto key = Key::fromCarbonKeyCode(code)) {
        switch (key->value()) {
        case KeyCase::command:
        case KeyCase::rightCommand:
        case KeyCase::option:
        case KeyCase::rightOption:
        case KeyCase::control:
        case KeyCase::rightControl:
        case KeyCase::shift:
        case KeyCase::rightShift:
        case KeyCase::function:
        case KeyCase::capsLock: return true;
        default: break;
        }
    }
    return false;
}

}  // namespace

QtKeyDownMonitor::QtKeyDownMonitor() : filter_(std::make_unique<Filter>(*this)) {}

QtKeyDownMonitor::~QtKeyDownMonitor() {
    if (auto* app = QCoreApplication::instance(); app && !handlers_.empty()) app->removeEventFilter(filter_.get());
}

hotkey::KeyDownMonitorToken QtKeyDownMonitor::addLocalMonitor(Handler handler) {
    if (handlers_.empty())
        if (auto* app = QCoreApplication::instance()) app->installEventFilter(filter_.get());
    const auto token = nextToken_++;
    handlers_[token] = std::make_shared<Handler>(std::move(handler));
    return static_cast<hotkey::KeyDownMonitorToken>(token);
}

void QtKeyDownMonitor::removeMonitor(hotkey::KeyDownMonitorToken token) {
    handlers_.erase(static_cast<std::uint64_t>(token));
    if (handlers_.empty())
        if (auto* app = QCoreApplication::instance()) app->removeEventFilter(filter_.get());
}

std::uint16_t QtKeyDownMonitor::keyCodeOf(const QKeyEvent& event) {
    std::optional<Key> key;
    if (event.nativeVirtualKey() != 0) key = keyForKeysym(event.nativeVirtualKey());
    if (!key) key = keyFromQtKey(event.key(), event.modifiers().testFlag(Qt::KeypadModifier));
    return key ? std::uint16_t(key->carbonKeyCode()) : kUnknownKeyCode;
}

ModifierFlags QtKeyDownMonitor::flagsOf(const QKeyEvent& event) {
    ModifierFlags flags;
    const auto modifiers = event.modifiers();
    if (modifiers.testFlag(Qt::ControlModifier)) flags.insert(ModifierFlags::control);
    if (modifiers.testFlag(Qt::AltModifier)) flags.insert(ModifierFlags::option);
    if (modifiers.testFlag(Qt::MetaModifier)) flags.insert(ModifierFlags::command);
    if (modifiers.testFlag(Qt::ShiftModifier)) flags.insert(ModifierFlags::shift);
    if (modifiers.testFlag(Qt::KeypadModifier)) flags.insert(ModifierFlags::numericPad);
    if (event.nativeModifiers() & kXLockMask) flags.insert(ModifierFlags::capsLock);
    if (auto key = Key::fromCarbonKeyCode(keyCodeOf(event)); key && isFunctionKey(key->value()))
        flags.insert(ModifierFlags::function);
    return flags;
}

bool QtKeyDownMonitor::deliver(const QKeyEvent& event) {
    const auto keyCode = keyCodeOf(event);
    const auto flags = flagsOf(event);
    // Handlers may add or remove monitors while they run.
    std::vector<std::pair<std::uint64_t, std::shared_ptr<Handler>>> snapshot(handlers_.begin(), handlers_.end());
    // Like a chain of filters: once one swallows the press, later ones do not see it.
    for (const auto& [token, handler] : snapshot) {
        if (!handlers_.contains(token)) continue;
        if (!(*handler)(keyCode, flags)) return false;
    }
    return true;
}

}  // namespace quillant::linux_platform
