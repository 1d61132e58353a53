#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QObject>
#include <optional>

#include "QtApp.h"
#include "hotkey/Key.h"
#include "platform/linux/qt/QtKeyDownMonitor.h"

namespace quillant::testing {
namespace {

using hotkey::Key;
using hotkey::KeyCase;
using hotkey::ModifierFlags;
using linux_platform::QtKeyDownMonitor;

// A window stand-in that counts the key presses that reach it.
class Target final : public QObject {
public:
    int presses = 0;
    bool event(QEvent* event) override {
        if (event->type() == QEvent::KeyPress) ++presses;
        return QObject::event(event);
    }
};

struct Press {
    int qtKey;
    Qt::KeyboardModifiers modifiers;
    std::uint32_t keysym;
    std::uint32_t nativeModifiers;
    std::uint16_t keyCode;
    ModifierFlags flags;
};

void send(QObject& target, const Press& p) {
    QKeyEvent event(QEvent::KeyPress, p.qtKey, p.modifiers, 0, p.keysym, p.nativeModifiers);
    QCoreApplication::sendEvent(&target, &event);
}

std::uint16_t code(KeyCase value) { return std::uint16_t(Key(value).carbonKeyCode()); }

TEST(QtKeyDownMonitor, PressesTranslateToKeyCodesAndFlags) {
    qtApp();
    const Press cases[] = {
        {Qt::Key_G, Qt::AltModifier | Qt::ShiftModifier, XK_G, 0, code(KeyCase::g),
         ModifierFlags::option | ModifierFlags::shift},
        {Qt::Key_C, Qt::ControlModifier | Qt::MetaModifier, XK_c, 0, code(KeyCase::c),
         ModifierFlags::control | ModifierFlags::command},
        {Qt::Key_Exclam, Qt::ShiftModifier, XK_exclam, 0, code(KeyCase::one), ModifierFlags::shift},
        {Qt::Key_F5, Qt::NoModifier, XK_F5, 0, code(KeyCase::f5), ModifierFlags::function},
        {Qt::Key_A, Qt::NoModifier, XK_a, 0x2, code(KeyCase::a), ModifierFlags::capsLock},
        {Qt::Key_End, Qt::KeypadModifier, XK_KP_End, 0, code(KeyCase::keypad1), ModifierFlags::numericPad},
        // No native keysym (other platforms, synthetic events): Qt's key.
        {Qt::Key_Left, Qt::NoModifier, 0, 0, code(KeyCase::leftArrow), ModifierFlags::function},
        {Qt::Key_Escape, Qt::NoModifier, 0, 0, code(KeyCase::escape), ModifierFlags()},
        {Qt::Key_3, Qt::KeypadModifier, 0, 0, code(KeyCase::keypad3), ModifierFlags::numericPad},
        {Qt::Key_unknown, Qt::NoModifier, XK_Greek_alpha, 0, QtKeyDownMonitor::kUnknownKeyCode, ModifierFlags()},
    };
    QtKeyDownMonitor monitor;
    std::uint16_t seenCode = 0;
    ModifierFlags seenFlags;
    monitor.addLocalMonitor([&](std::uint16_t keyCode, ModifierFlags flags) {
        seenCode = keyCode;
        seenFlags = flags;
        return true;
    });
    Target target;
    for (const auto& p : cases) {
        send(target, p);
        EXPECT_EQ(seenCode, p.keyCode) << std::hex << p.qtKey;
        EXPECT_EQ(seenFlags, p.flags) << std::hex << p.qtKey << " " << seenFlags.rawValue();
    }
}

TEST(QtKeyDownMonitor, AHandlerSwallowsAPressAndRemovedHandlersAreNotCalled) {
    qtApp();
    QtKeyDownMonitor monitor;
    Target target;
    bool letThrough = true;
    int firstCalls = 0, secondCalls = 0;
    auto first = monitor.addLocalMonitor([&](std::uint16_t, ModifierFlags) {
        ++firstCalls;
        return letThrough;
    });
    monitor.addLocalMonitor([&](std::uint16_t, ModifierFlags) {
        ++secondCalls;
        return true;
    });
    const Press g{Qt::Key_G, Qt::NoModifier, XK_g, 0, 0, {}};

    send(target, g);
    EXPECT_EQ(target.presses, 1);
    letThrough = false;
    send(target, g);
    EXPECT_EQ(target.presses, 1);
    EXPECT_EQ(secondCalls, 1);  // a swallowed press goes no further

    monitor.removeMonitor(first);
    send(target, g);
    EXPECT_EQ(target.presses, 2);
    EXPECT_EQ(firstCalls, 2);
    EXPECT_EQ(secondCalls, 2);
}

// A window stand-in that counts every key event that reaches it.
class AnyKeyTarget final : public QObject {
public:
    int events = 0;
    bool event(QEvent* event) override {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease ||
            event->type() == QEvent::ShortcutOverride)
            ++events;
        return QObject::event(event);
    }
};

TEST(QtKeyDownMonitor, WhileInstalledHoldsOffShortcutsReleasesAndLoneModifiers) {
    qtApp();
    struct Case {
        const char* name;
        QEvent::Type type;
        int qtKey;
        Qt::KeyboardModifiers modifiers;
        std::uint32_t keysym;
        bool reported;  // reaches the handler as a key-down
    };
    const Case cases[] = {
        {"control alone", QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier, XK_Control_L, false},
        {"shift alone", QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier, XK_Shift_R, false},
        {"alt alone", QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier, XK_Alt_L, false},
        {"super alone", QEvent::KeyPress, Qt::Key_Super_L, Qt::MetaModifier, XK_Super_L, false},
        {"meta alone", QEvent::KeyPress, Qt::Key_Meta, Qt::MetaModifier, XK_Meta_L, false},
        {"AltGr alone", QEvent::KeyPress, Qt::Key_AltGr, Qt::NoModifier, XK_ISO_Level3_Shift, false},
        {"caps lock", QEvent::KeyPress, Qt::Key_CapsLock, Qt::NoModifier, XK_Caps_Lock, false},
        {"ctrl+K", QEvent::KeyPress, Qt::Key_K, Qt::ControlModifier, XK_k, true},
        {"a release", QEvent::KeyRelease, Qt::Key_K, Qt::ControlModifier, XK_k, false},
        {"a shortcut's override", QEvent::ShortcutOverride, Qt::Key_Q, Qt::ControlModifier, XK_q, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool installed : {true, false}) {
            QtKeyDownMonitor monitor;
            int reported = 0;
            std::optional<hotkey::KeyDownMonitorToken> token;
            if (installed)
                token = monitor.addLocalMonitor([&](std::uint16_t, ModifierFlags) {
                    ++reported;
                    return false;
                });
            AnyKeyTarget target;
            QKeyEvent event(c.type, c.qtKey, c.modifiers, 0, c.keysym, 0);
            if (c.type == QEvent::ShortcutOverride) event.ignore();  // as Qt sends it
            QCoreApplication::sendEvent(&target, &event);
            EXPECT_EQ(reported, installed && c.reported ? 1 : 0);
            // Nothing reaches the application's own handling while installed.
            EXPECT_EQ(target.events, installed ? 0 : 1);
            // An accepted override is what keeps a shortcut from firing.
            if (c.type == QEvent::ShortcutOverride) { EXPECT_EQ(event.isAccepted(), installed); }
        }
    }
}

}  // namespace
}  // namespace quillant::testing
