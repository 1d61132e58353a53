// The portal clients against a mock portal (python3-dbusmock) on a private
// session bus. Request bounds run on the virtual clock; the bus is real.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <X11/keysym.h>

#include <fstream>

#include "clipboard/KeyEventSynth.h"
#include "hotkey/HotKey.h"
#include "hotkey/HotKeysController.h"
#include "platform/linux/portal/PortalDesktop.h"
#include "platform/linux/portal/PortalKeyboardMap.h"
#include "platform/linux/portal/ShortcutFallbackHotKeyService.h"
#include "PortalMock.h"
#include "runtime/VirtualExecutor.h"
#include "testsupport/FakeHotKeyService.h"
#include "testsupport/RecordingLogger.h"

using namespace quillant;
using namespace quillant::linux_platform;
using namespace quillant::testing;
using namespace std::chrono_literals;

namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string testName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

// ---------------------------------------------------------------------------
// Keys and triggers: no bus.

struct KeycodeCase {
    const char* layout;
    const char* variant;
    std::uint32_t keysym;
    std::int32_t evdev;
};

class PortalKeyboardMapTest : public ::testing::TestWithParam<KeycodeCase> {};

TEST_P(PortalKeyboardMapTest, FindsTheKeyThatTypesTheKeysymInTheLayout) {
    const auto& c = GetParam();
    auto map = PortalKeyboardMap::fromNames(c.layout, c.variant);
    ASSERT_TRUE(map);
    EXPECT_TRUE(map->usesKeycodes());
    const auto key = map->keyFor(c.keysym);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->kind, PortalKey::Kind::keycode);
    EXPECT_EQ(key->code, c.evdev);
}

// evdev codes: KEY_C 46, KEY_V 47, KEY_I 23, KEY_DOT 52, KEY_LEFTCTRL 29, KEY_LEFTSHIFT 42.
INSTANTIATE_TEST_SUITE_P(Layouts, PortalKeyboardMapTest,
                         ::testing::Values(KeycodeCase{"us", "", XK_c, 46}, KeycodeCase{"us", "", XK_v, 47},
                                           KeycodeCase{"us", "", XK_Control_L, 29},
                                           KeycodeCase{"us", "", XK_Shift_L, 42},
                                           KeycodeCase{"us", "dvorak", XK_c, 23}, KeycodeCase{"us", "dvorak", XK_v, 52},
                                           KeycodeCase{"de", "", XK_c, 46},
                                           // The Latin letters of a second layout, when the first has none.
                                           KeycodeCase{"ru,us", "", XK_c, 46}));

TEST(PortalKeyboardMap, WithoutTheCompositorsKeymapSendsKeysymsAndAnUnknownKeymapIsRefused) {
    const auto map = PortalKeyboardMap::keysyms();
    EXPECT_FALSE(map.usesKeycodes());
    EXPECT_EQ(map.keyFor(XK_c), (PortalKey{PortalKey::Kind::keysym, XK_c}));
    EXPECT_FALSE(PortalKeyboardMap::fromKeymapText("not a keymap"));
    // A layout without the letter has no key for it: nothing is pressed instead.
    auto russian = PortalKeyboardMap::fromNames("ru");
    ASSERT_TRUE(russian);
    EXPECT_FALSE(russian->keyFor(XK_c));
}

TEST(PortalTrigger, WritesModifiersInTheShortcutsForm) {
    struct Case {
        std::uint32_t keysym, modifiers;
        const char* trigger;
    };
    for (const auto& c : {Case{XK_g, 2048 | 512, "ALT+SHIFT+g"}, Case{XK_F5, 4096, "CTRL+F5"},
                          Case{XK_k, 256 | 4096, "CTRL+LOGO+k"}, Case{XK_Return, 0, "Return"}})
        EXPECT_EQ(portalTrigger(c.keysym, c.modifiers), c.trigger);
}

TEST(PortalSessionType, WaylandFromTheSessionTypeElseFromTheDisplay) {
    EXPECT_TRUE(isWaylandSession("wayland", ""));
    EXPECT_FALSE(isWaylandSession("x11", "wayland-0"));
    EXPECT_TRUE(isWaylandSession("", "wayland-0"));
    EXPECT_FALSE(isWaylandSession("", ""));
}

// ---------------------------------------------------------------------------
// Against the mock portal.

class PortalTest : public ::testing::Test {
protected:
    PortalTest() : mock(testName()) {}
    ~PortalTest() override {
        hotkeys.reset();
        keyboard.reset();
        portal.reset();
        mock.disconnectAll();
    }

    PortalConnection& connect() {
        portal = std::make_unique<PortalConnection>(mock.connect("client" + std::to_string(++connections)), ex, logs);
        return *portal;
    }
    RemoteDesktopKeyEventPoster& makeKeyboard(PortalKeyboardMap map = PortalKeyboardMap::keysyms()) {
        keyboard = std::make_unique<RemoteDesktopKeyEventPoster>(*portal, logs, config / "remote-desktop-token", map);
        return *keyboard;
    }
    // Alt+Shift+G registered through the shortcut portal and bound; presses are counted.
    void bindHotkey() {
        hotkeys = std::make_unique<GlobalShortcutsHotKeyService>(*portal, logs, "Fix the selected text");
        hotkeys->installEventHandler([this](const hotkey::HotKeyEvent& e) {
            presses += e.kind == hotkey::kEventHotKeyPressed;
            return hotkey::noErr;
        });
        hotkeys->registerEventHotKey(5, 2048 | 512, {1, 1});
        ASSERT_TRUE(processUntil([&] { return hotkeys->state() == GlobalShortcutsHotKeyService::State::bound; }));
    }
    RemoteDesktopKeyEventPoster::State startKeyboard() {
        std::optional<RemoteDesktopKeyEventPoster::State> result;
        keyboard->start([&](auto state) { result = state; });
        EXPECT_TRUE(processUntil([&] { return result.has_value(); }));
        return result.value_or(RemoteDesktopKeyEventPoster::State::idle);
    }

    VirtualExecutor ex;
    RecordingLogger logs;
    TempDir config;
    PortalMock mock;
    int connections = 0;
    int presses = 0;
    std::unique_ptr<PortalConnection> portal;
    std::unique_ptr<GlobalShortcutsHotKeyService> hotkeys;
    std::unique_ptr<RemoteDesktopKeyEventPoster> keyboard;
};

// --- the request pattern ---------------------------------------------------

TEST_F(PortalTest, ResponseCodesBecomeOutcomes) {
    mock.start();
    connect();
    for (const auto& [code, outcome] : std::vector<std::pair<std::uint32_t, PortalOutcome>>{
             {0, PortalOutcome::success}, {1, PortalOutcome::cancelled}, {2, PortalOutcome::refused},
             {3, PortalOutcome::refused}}) {
        mock.respond("RemoteDesktop.CreateSession", code);
        std::optional<PortalResult> result;
        QVariantMap options{{QStringLiteral("session_handle_token"), portal->newToken("t")}};
        portal->request(QStringLiteral("org.freedesktop.portal.RemoteDesktop"), QStringLiteral("CreateSession"), {},
                        options, 10s, [&](PortalResult r) { result = std::move(r); });
        ASSERT_TRUE(processUntil([&] { return result.has_value(); })) << code;
        EXPECT_EQ(result->outcome, outcome) << code;
        EXPECT_EQ(!sessionHandleFrom(result->results).isEmpty(), code == 0) << code;
        EXPECT_EQ(portal->pending(), 0u);
    }
}

TEST_F(PortalTest, ARequestWithoutAnswerEndsAtItsBoundAndIsClosed) {
    mock.start();
    connect();
    mock.silence("RemoteDesktop.CreateSession");
    std::optional<PortalResult> result;
    portal->request(QStringLiteral("org.freedesktop.portal.RemoteDesktop"), QStringLiteral("CreateSession"), {}, {},
                    30s, [&](PortalResult r) { result = std::move(r); });
    ASSERT_TRUE(mock.waitFor("RemoteDesktop.CreateSession silent"));
    ex.advance(29s);
    EXPECT_FALSE(result);
    ex.advance(1s);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->outcome, PortalOutcome::timedOut);
    EXPECT_TRUE(mock.waitFor("Request.Close RemoteDesktop.CreateSession"));
    EXPECT_TRUE(logs.contains("no answer from the desktop portal in time"));
}

TEST_F(PortalTest, WithoutAPortalEveryCallFailsAtOnce) {
    connect();
    EXPECT_FALSE(portal->interfaceVersion(QStringLiteral("org.freedesktop.portal.GlobalShortcuts")));
    EXPECT_FALSE(GlobalShortcutsHotKeyService::offered(*portal));
    EXPECT_FALSE(RemoteDesktopKeyEventPoster::offered(*portal));
    std::optional<PortalResult> result;
    portal->request(QStringLiteral("org.freedesktop.portal.RemoteDesktop"), QStringLiteral("CreateSession"), {}, {},
                    30s, [&](PortalResult r) { result = std::move(r); });
    ASSERT_TRUE(processUntil([&] { return result.has_value(); }));
    EXPECT_EQ(result->outcome, PortalOutcome::failed);
    EXPECT_TRUE(result->error.contains(QStringLiteral("ServiceUnknown"))) << result->error.toStdString();
}

// --- global shortcuts ------------------------------------------------------

TEST_F(PortalTest, TheHotkeyIsBoundAndItsActivationReachesTheHotkeysHandler) {
    mock.start();
    connect();
    hotkeys = std::make_unique<GlobalShortcutsHotKeyService>(*portal, logs, "Fix the selected text");
    hotkey::HotKeysController controller(*hotkeys);
    int presses = 0, releases = 0;
    // Alt+Shift+G, as the preferences give it.
    auto hotKey = hotkey::HotKey::create(controller, 5, 2048 | 512, [&] { ++presses; }, [&] { ++releases; });
    ASSERT_TRUE(processUntil([&] { return hotkeys->state() == GlobalShortcutsHotKeyService::State::bound; }));
    EXPECT_TRUE(mock.saw("BindShortcuts fix-selection description=Fix the selected text preferred_trigger=ALT+SHIFT+g"));
    EXPECT_EQ(hotkeys->triggerDescription(), "Alt+Shift+G");

    mock.control(QStringLiteral("EmitShortcut"), {QStringLiteral("fix-selection"), true});
    ASSERT_TRUE(processUntil([&] { return presses == 1; }));
    EXPECT_TRUE(hotkeys->held());
    mock.control(QStringLiteral("EmitShortcut"), {QStringLiteral("fix-selection"), false});
    ASSERT_TRUE(processUntil([&] { return releases == 1; }));
    ex.advance(GlobalShortcutsHotKeyService::kLetGoGrace);
    EXPECT_FALSE(hotkeys->held());

    // Another application's shortcut, and ours after it is given back, do nothing.
    mock.control(QStringLiteral("EmitShortcut"), {QStringLiteral("someone-else"), true});
    hotKey.reset();
    mock.control(QStringLiteral("EmitShortcut"), {QStringLiteral("fix-selection"), true});
    processUntil([] { return false; }, 200ms);
    EXPECT_EQ(presses, 1);
}

TEST_F(PortalTest, ABindAnsweredWithoutTriggersIsFollowedByAskingForThem) {
    mock.start(R"({"bind_answers_empty": true})");
    connect();
    hotkeys = std::make_unique<GlobalShortcutsHotKeyService>(*portal, logs, "Fix the selected text");
    hotkeys->registerEventHotKey(5, 2048 | 512, {1, 1});
    ASSERT_TRUE(processUntil([&] { return hotkeys->triggerDescription() == "Alt+Shift+G"; }));
    EXPECT_TRUE(mock.saw("ListShortcuts"));
    EXPECT_TRUE(processUntil([&] { return logs.contains("Hotkey bound by the desktop's shortcut portal: Alt+Shift+G"); }));
}

TEST_F(PortalTest, TheDesktopsTriggerIsWhatIsShownAndTheSessionIsClosedAtTheEnd) {
    mock.start();
    connect();
    hotkeys = std::make_unique<GlobalShortcutsHotKeyService>(*portal, logs, "Fix the selected text");
    int changes = 0;
    hotkeys->setOnChange([&] { ++changes; });
    hotkeys->registerEventHotKey(5, 2048 | 512, {1, 1});
    ASSERT_TRUE(processUntil([&] { return hotkeys->state() == GlobalShortcutsHotKeyService::State::bound; }));
    // The user changed it in the desktop's settings.
    mock.control(QStringLiteral("ChangeTrigger"), {QStringLiteral("fix-selection"), QStringLiteral("Ctrl+Alt+F")});
    ASSERT_TRUE(processUntil([&] { return hotkeys->triggerDescription() == "Ctrl+Alt+F"; }));
    EXPECT_GT(changes, 0);
    hotkeys.reset();
    EXPECT_TRUE(mock.waitFor("Session.Close shortcuts"));
}

TEST_F(PortalTest, ARebindProposesTheNewTriggerInTheSameSessionAndTheOldOneFallsSilent) {
    mock.start();
    connect();
    hotkeys = std::make_unique<GlobalShortcutsHotKeyService>(*portal, logs, "Fix the selected text");
    std::vector<std::uint32_t> pressedIds;
    hotkeys->installEventHandler([&](const hotkey::HotKeyEvent& e) {
        if (e.kind == hotkey::kEventHotKeyPressed) pressedIds.push_back(e.hotKeyID.id);
        return hotkey::noErr;
    });
    const auto first = hotkeys->registerEventHotKey(5, 2048 | 512, {1, 1});
    ASSERT_TRUE(processUntil([&] { return hotkeys->state() == GlobalShortcutsHotKeyService::State::bound; }));
    // The recorder: the old combination is given back and the new one registered (Ctrl+Alt+K).
    hotkeys->unregisterEventHotKey(*first.handle);
    hotkeys->registerEventHotKey(40, 4096 | 2048, {1, 2});
    ASSERT_TRUE(mock.waitFor("preferred_trigger=CTRL+ALT+k"));
    ASSERT_TRUE(processUntil([&] { return hotkeys->triggerDescription() == "Ctrl+Alt+K"; }));
    const auto log = mock.log();
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const auto& l) { return l.starts_with("GlobalShortcuts.CreateSession"); }), 1);
    mock.control(QStringLiteral("EmitShortcut"), {QStringLiteral("fix-selection"), true});
    ASSERT_TRUE(processUntil([&] { return !pressedIds.empty(); }));
    EXPECT_EQ(pressedIds, std::vector<std::uint32_t>{2});
}

TEST_F(PortalTest, ARefusedOrCancelledBindLeavesTheHotkeyOffWithAClearLine) {
    mock.start();
    for (const auto& [code, text] : std::vector<std::pair<std::uint32_t, std::string>>{{1, "cancelled by the user"},
                                                                                         {2, "refused"}}) {
        mock.respond("GlobalShortcuts.BindShortcuts", code);
        connect();
        hotkeys = std::make_unique<GlobalShortcutsHotKeyService>(*portal, logs, "Fix the selected text");
        // Registration answers at once; the desktop answers later.
        const auto registration = hotkeys->registerEventHotKey(5, 2048 | 512, {1, 1});
        EXPECT_EQ(registration.status, hotkey::noErr);
        ASSERT_TRUE(processUntil([&] { return hotkeys->state() == GlobalShortcutsHotKeyService::State::refused; }));
        EXPECT_TRUE(logs.contains("The hotkey ALT+SHIFT+g was not bound by the desktop's shortcut portal: " + text));
        hotkeys.reset();
        portal.reset();
    }
}

TEST_F(PortalTest, ASessionTheDesktopEndsTurnsTheHotkeyOff) {
    mock.start();
    connect();
    ASSERT_NO_FATAL_FAILURE(bindHotkey());
    mock.control(QStringLiteral("CloseSessions"), {QStringLiteral("shortcuts")});
    ASSERT_TRUE(processUntil([&] { return hotkeys->state() == GlobalShortcutsHotKeyService::State::closed; }));
    EXPECT_TRUE(logs.contains("The desktop ended the shortcut session"));
    EXPECT_EQ(presses, 0);
}

// A portal that crashes or is updated leaves the bus without closing our sessions.
TEST_F(PortalTest, APortalThatRestartsGetsTheHotkeyBoundAgainAndItsPressesCountOnce) {
    mock.start();
    connect();
    ASSERT_NO_FATAL_FAILURE(bindHotkey());
    mock.control(QStringLiteral("EmitShortcut"), {QStringLiteral("fix-selection"), true});
    ASSERT_TRUE(processUntil([&] { return presses == 1; }));

    mock.stop();
    ASSERT_TRUE(processUntil([&] { return hotkeys->state() == GlobalShortcutsHotKeyService::State::closed; }));
    EXPECT_TRUE(logs.contains("The desktop portal went away; the hotkey is bound again in a moment"));
    EXPECT_FALSE(hotkeys->held());  // the press in flight ended with the portal
    mock.start();
    ex.advance(GlobalShortcutsHotKeyService::kRebindDelay - 1ms);
    processUntil([] { return false; }, 100ms);
    EXPECT_FALSE(mock.saw("CreateSession"));
    ex.advance(1ms);
    ASSERT_TRUE(processUntil([&] { return hotkeys->state() == GlobalShortcutsHotKeyService::State::bound; }));
    EXPECT_TRUE(mock.saw("BindShortcuts fix-selection description=Fix the selected text preferred_trigger=ALT+SHIFT+g"));
    mock.control(QStringLiteral("EmitShortcut"), {QStringLiteral("fix-selection"), true});
    ASSERT_TRUE(processUntil([&] { return presses == 2; }));
    processUntil([] { return false; }, 200ms);
    EXPECT_EQ(presses, 2);
}

TEST_F(PortalTest, APortalThatStaysGoneLeavesTheHotkeyOffWithAClearLineAndNoRetries) {
    mock.start();
    connect();
    ASSERT_NO_FATAL_FAILURE(bindHotkey());
    mock.stop();
    ASSERT_TRUE(processUntil([&] { return hotkeys->state() == GlobalShortcutsHotKeyService::State::closed; }));
    ex.advance(GlobalShortcutsHotKeyService::kRebindDelay);
    ASSERT_TRUE(processUntil([&] { return hotkeys->state() == GlobalShortcutsHotKeyService::State::failed; }));
    EXPECT_TRUE(logs.contains("The desktop's shortcut portal gave no session"));
    const auto lines = logs.messages().size();
    ex.advance(60s);
    processUntil([] { return false; }, 200ms);
    EXPECT_EQ(logs.messages().size(), lines);
}

// Where the shortcut portal leaves the hotkey dead, the grab on XWayland
// stands in, and goes once the desktop gives a trigger.
TEST_F(PortalTest, ARefusedOrTriggerlessShortcutFallsBackToTheGrabUntilTheDesktopGivesATrigger) {
    struct Case {
        const char* name;
        const char* parameters;
        bool refused;
    };
    for (const auto& [name, parameters, refused] :
         {Case{"refused", "{}", true}, Case{"bound without a trigger", R"({"no_trigger": true})", false}}) {
        SCOPED_TRACE(name);
        mock.start(parameters);
        if (refused) mock.respond("GlobalShortcuts.BindShortcuts", 2);
        connect();
        hotkeys = std::make_unique<GlobalShortcutsHotKeyService>(*portal, logs, "Fix the selected text");
        {
            FakeHotKeyService grab;
            ShortcutFallbackHotKeyService both(*hotkeys, grab, logs);
            int presses = 0;
            both.installEventHandler([&](const hotkey::HotKeyEvent& e) {
                presses += e.kind == hotkey::kEventHotKeyPressed;
                return hotkey::noErr;
            });
            ASSERT_TRUE(both.registerEventHotKey(5, 2048 | 512, {1, 1}).handle);
            ASSERT_TRUE(processUntil([&] { return both.grabbing(); }));
            ASSERT_EQ(grab.active.size(), 1u);
            grab.deliverPressed({1, 1});
            EXPECT_EQ(presses, 1);
            EXPECT_TRUE(logs.contains("kept: Alt+Shift+G grabbed on XWayland"));
            if (!refused) {
                mock.control(QStringLiteral("ChangeTrigger"), {QStringLiteral("fix-selection"), QStringLiteral("Alt+Shift+G")});
                ASSERT_TRUE(processUntil([&] { return !both.grabbing(); }));
                EXPECT_TRUE(grab.active.empty());
            }
        }
        hotkeys.reset();
        portal.reset();
        mock.stop();
    }
}

// --- the remote-desktop keyboard -------------------------------------------

TEST_F(PortalTest, TheKeyboardPermissionIsKeptPrivatelyAndSentAgainOnTheNextStart) {
    mock.start();
    connect();
    makeKeyboard();
    ASSERT_EQ(startKeyboard(), RemoteDesktopKeyEventPoster::State::ready);
    EXPECT_TRUE(mock.saw("SelectDevices types=1 persist_mode=2 restore_token="));
    const auto file = config / "remote-desktop-token";
    EXPECT_EQ(readFile(file), "restore-1\n");
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600);

    // quillant starts again: the saved permission goes with the request, and the new one replaces it.
    keyboard.reset();
    EXPECT_TRUE(mock.waitFor("Session.Close remote"));
    connect();
    makeKeyboard();
    ASSERT_EQ(startKeyboard(), RemoteDesktopKeyEventPoster::State::ready);
    EXPECT_TRUE(mock.saw("SelectDevices types=1 persist_mode=2 restore_token=restore-1"));
    EXPECT_EQ(readFile(file), "restore-2\n");
}

TEST_F(PortalTest, ARefusedOrCancelledStartSendsNoKeysAndSaysSo) {
    mock.start();
    for (const auto& [code, text] : std::vector<std::pair<std::uint32_t, std::string>>{{1, "cancelled by the user"},
                                                                                         {2, "refused"}}) {
        mock.respond("RemoteDesktop.Start", code);
        connect();
        makeKeyboard();
        EXPECT_EQ(startKeyboard(), RemoteDesktopKeyEventPoster::State::refused);
        EXPECT_TRUE(logs.contains("Keyboard access through the desktop's remote-desktop portal: " + text +
                                  "; keystrokes go through XWayland only"));
        EXPECT_FALSE(std::filesystem::exists(config / "remote-desktop-token"));
        clipboard::KeyEventSynth synth(*keyboard);
        EXPECT_FALSE(synth.sendCommand(clipboard::kKeyCodeC));
        EXPECT_TRUE(logs.contains("Chord not sent: the desktop's remote-desktop session is refused"));
        keyboard.reset();
    }
    EXPECT_TRUE(mock.keys().empty());
}

struct ChordCase {
    const char* name;
    bool keycodes;
    std::uint16_t key;
    bool shift;
    std::vector<std::string> events;
};

class PortalChordTest : public PortalTest, public ::testing::WithParamInterface<ChordCase> {};

TEST_P(PortalChordTest, TheChordIsControlAroundTheKeyAndEverythingIsReleased) {
    const auto& c = GetParam();
    mock.start();
    connect();
    makeKeyboard(c.keycodes ? *PortalKeyboardMap::fromNames("us") : PortalKeyboardMap::keysyms());
    ASSERT_EQ(startKeyboard(), RemoteDesktopKeyEventPoster::State::ready);
    clipboard::KeyEventSynth synth(*keyboard);
    EXPECT_TRUE(synth.sendCommand(c.key, c.shift));
    // A new session's first event may be lost (GNOME 43): a lone Shift goes first.
    std::vector<std::string> expected = c.keycodes ? std::vector<std::string>{"keycode 42 1", "keycode 42 0"}
                                                   : std::vector<std::string>{"keysym 65505 1", "keysym 65505 0"};
    expected.insert(expected.end(), c.events.begin(), c.events.end());
    EXPECT_EQ(mock.keys(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Chords, PortalChordTest,
    ::testing::Values(
        ChordCase{"CopyAsKeysyms", false, clipboard::kKeyCodeC, false,
                  {"keysym 65507 1", "keysym 99 1", "keysym 99 0", "keysym 65507 0"}},
        ChordCase{"PasteAsKeycodes", true, clipboard::kKeyCodeV, false,
                  {"keycode 29 1", "keycode 47 1", "keycode 47 0", "keycode 29 0"}},
        ChordCase{"TerminalCopyWithShift", true, clipboard::kKeyCodeC, true,
                  {"keycode 29 1", "keycode 42 1", "keycode 46 1", "keycode 46 0", "keycode 42 0", "keycode 29 0"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortalTest, AFailedPressReleasesWhatWasPressedAndReportsTheChordUnsent) {
    mock.start();
    connect();
    makeKeyboard();
    ASSERT_EQ(startKeyboard(), RemoteDesktopKeyEventPoster::State::ready);
    mock.control(QStringLiteral("FailPress"), {QVariant::fromValue(std::int32_t(XK_c))});
    clipboard::KeyEventSynth synth(*keyboard);
    EXPECT_FALSE(synth.sendCommand(clipboard::kKeyCodeC));
    const auto keys = mock.keys();
    EXPECT_TRUE(everyPressReleased(keys));
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "keysym 65507 1"), 1);
    // Never the bare letter: no press of C went out.
    EXPECT_EQ(std::count(keys.begin(), keys.end(), "keysym 99 1"), 0);
    EXPECT_TRUE(logs.contains("Key press not taken by the desktop's remote-desktop portal"));
}

TEST_F(PortalTest, StoppingMidChordReleasesTheKeysBeforeTheSessionCloses) {
    mock.start();
    connect();
    makeKeyboard();
    ASSERT_EQ(startKeyboard(), RemoteDesktopKeyEventPoster::State::ready);
    ASSERT_TRUE(keyboard->post({clipboard::kKeyCodeV, true, clipboard::kCommandFlag, true}));
    keyboard.reset();
    ASSERT_TRUE(mock.waitFor("Session.Close remote"));
    const auto log = mock.log();
    const auto close = std::find(log.begin(), log.end(), "Session.Close remote");
    const std::vector<std::string> before(log.begin(), close);
    std::vector<std::string> keys;
    std::copy_if(before.begin(), before.end(), std::back_inserter(keys),
                 [](const auto& l) { return l.starts_with("keysym"); });
    EXPECT_EQ(keys, (std::vector<std::string>{"keysym 65505 1", "keysym 65505 0", "keysym 65507 1", "keysym 118 1",
                                              "keysym 118 0", "keysym 65507 0"}));
}

TEST_F(PortalTest, AfterTheDesktopEndsTheKeyboardSessionNothingIsSent) {
    mock.start();
    connect();
    makeKeyboard();
    ASSERT_EQ(startKeyboard(), RemoteDesktopKeyEventPoster::State::ready);
    const auto primed = mock.keys();
    mock.control(QStringLiteral("CloseSessions"), {QStringLiteral("remote")});
    ASSERT_TRUE(processUntil([&] { return keyboard->state() == RemoteDesktopKeyEventPoster::State::closed; }));
    EXPECT_FALSE(keyboard->createEventSource());
    EXPECT_FALSE(keyboard->post({clipboard::kKeyCodeC, true, clipboard::kCommandFlag, true}));
    EXPECT_EQ(mock.keys(), primed);
}

TEST_F(PortalTest, WhenThePortalGoesAwayTheChordFailsOnceAndTheKeyboardCountsAsClosed) {
    mock.start();
    connect();
    makeKeyboard();
    ASSERT_EQ(startKeyboard(), RemoteDesktopKeyEventPoster::State::ready);
    mock.stop();
    clipboard::KeyEventSynth synth(*keyboard);
    EXPECT_FALSE(synth.sendCommand(clipboard::kKeyCodeC));
    EXPECT_EQ(keyboard->state(), RemoteDesktopKeyEventPoster::State::closed);
    EXPECT_TRUE(logs.contains("The desktop portal went away"));
    // The next chord takes the other way at once.
    EXPECT_FALSE(keyboard->createEventSource());
}

TEST_F(PortalTest, AfterAPortalRestartTheKeyboardStartsAgainWithTheKeptPermissionOrWhereNoneCanBeKept) {
    struct Case {
        const char* name;
        bool kept;
        int version;  // 1 keeps no permission: the desktop asks at every start anyway
    };
    for (const auto& [name, kept, version] : {Case{"permission kept", true, 2}, Case{"no permission kept", false, 2},
                                              Case{"none can be kept", false, 1}}) {
        SCOPED_TRACE(name);
        const bool restarts = kept || version < 2;
        mock.start("{\"remote_version\": " + std::to_string(version) + "}");
        connect();
        makeKeyboard();
        ASSERT_EQ(startKeyboard(), RemoteDesktopKeyEventPoster::State::ready);
        const auto file = config / "remote-desktop-token";
        if (!kept) std::filesystem::remove(file);
        mock.stop();
        ASSERT_TRUE(processUntil([&] { return keyboard->state() == RemoteDesktopKeyEventPoster::State::closed; }));
        EXPECT_FALSE(keyboard->post({clipboard::kKeyCodeC, true, clipboard::kCommandFlag, true}));
        mock.start();
        ex.advance(RemoteDesktopKeyEventPoster::kRestartDelay);
        if (restarts) {
            ASSERT_TRUE(processUntil([&] { return keyboard->state() == RemoteDesktopKeyEventPoster::State::ready; }));
            if (kept) {
                EXPECT_TRUE(mock.saw("SelectDevices types=1 persist_mode=2 restore_token=restore-1"));
            }
            clipboard::KeyEventSynth synth(*keyboard);
            EXPECT_TRUE(synth.sendCommand(clipboard::kKeyCodeC));
            EXPECT_TRUE(everyPressReleased(mock.keys()));
        } else {
            // No dialog out of nowhere: the user is asked again at the next start.
            processUntil([] { return false; }, 300ms);
            EXPECT_EQ(keyboard->state(), RemoteDesktopKeyEventPoster::State::closed);
            EXPECT_FALSE(mock.saw("CreateSession"));
            EXPECT_TRUE(logs.contains("keystrokes go through XWayland only until quillant starts again"));
        }
        keyboard.reset();
        portal.reset();
        mock.stop();
    }
}

TEST_F(PortalTest, KeysCountAsHeldFromTheShortcutsActivationUntilAMomentAfterItEnds) {
    mock.start();
    connect();
    hotkeys = std::make_unique<GlobalShortcutsHotKeyService>(*portal, logs, "Fix the selected text");
    int releases = 0;
    hotkeys->installEventHandler([&](const hotkey::HotKeyEvent& e) {
        releases += e.kind == hotkey::kEventHotKeyReleased;
        return hotkey::noErr;
    });
    hotkeys->registerEventHotKey(5, 2048 | 512, {1, 1});
    ASSERT_TRUE(processUntil([&] { return hotkeys->state() == GlobalShortcutsHotKeyService::State::bound; }));
    makeKeyboard();
    keyboard->setHeldProbe([this] { return hotkeys->held(); });
    EXPECT_FALSE(keyboard->keysHeld());
    mock.control(QStringLiteral("EmitShortcut"), {QStringLiteral("fix-selection"), true});
    ASSERT_TRUE(processUntil([&] { return keyboard->keysHeld(); }));
    ex.advance(5s);
    EXPECT_TRUE(keyboard->keysHeld());  // still down, however long
    mock.control(QStringLiteral("EmitShortcut"), {QStringLiteral("fix-selection"), false});
    ASSERT_TRUE(processUntil([&] { return releases == 1; }));
    // The trigger is over; the modifiers may be a moment behind.
    EXPECT_TRUE(keyboard->keysHeld());
    ex.advance(GlobalShortcutsHotKeyService::kLetGoGrace - 1ms);
    EXPECT_TRUE(keyboard->keysHeld());
    ex.advance(1ms);
    EXPECT_FALSE(keyboard->keysHeld());
}

// KDE Plasma 5.27 sends Activated and never Deactivated.
TEST_F(PortalTest, ADesktopThatNeverAnnouncesTheReleaseGetsEveryActivationAsAPress) {
    mock.start();
    connect();
    hotkeys = std::make_unique<GlobalShortcutsHotKeyService>(*portal, logs, "Fix the selected text");
    hotkeys->setReleasesUnannounced(true);
    int presses = 0, releases = 0;
    hotkeys->installEventHandler([&](const hotkey::HotKeyEvent& e) {
        presses += e.kind == hotkey::kEventHotKeyPressed;
        releases += e.kind == hotkey::kEventHotKeyReleased;
        return hotkey::noErr;
    });
    hotkeys->registerEventHotKey(5, 2048 | 512, {1, 1});
    ASSERT_TRUE(processUntil([&] { return hotkeys->state() == GlobalShortcutsHotKeyService::State::bound; }));
    for (int i = 1; i <= 2; ++i) {
        mock.control(QStringLiteral("EmitShortcut"), {QStringLiteral("fix-selection"), true});
        ASSERT_TRUE(processUntil([&] { return presses == i; }));
        EXPECT_EQ(releases, i);
        ex.advance(GlobalShortcutsHotKeyService::kLetGoGrace);
        EXPECT_FALSE(hotkeys->held());
    }
}

// --- the application id and the choice ---------------------------------------

TEST_F(PortalTest, OurIdIsRegisteredWhereTheRegistryExistsAndItsAbsenceIsNoError) {
    for (const bool registry : {true, false}) {
        mock.start(registry ? R"({"registry": true})" : "{}");
        auto bus = mock.connect(registry ? "with" : "without");
        EXPECT_EQ(registerApplicationId(bus, kApplicationId, logs),
                  registry ? ApplicationIdOutcome::registered : ApplicationIdOutcome::noRegistry);
        if (registry) {
            EXPECT_TRUE(mock.saw("Register com.vostel.quillant"));
            // Only once per connection: a second try is the registry's refusal.
            EXPECT_EQ(registerApplicationId(bus, kApplicationId, logs), ApplicationIdOutcome::failed);
        }
        mock.stop();
    }
    EXPECT_TRUE(logs.contains("The desktop portal has no application registry"));
}

struct ChoiceCase {
    const char* name;
    const char* parameters;  // nullptr: no portal at all
    bool wayland;
    bool virtualKeyboard;
    bool hotkeys;
    bool keyboard;
};

class PortalChoiceTest : public PortalTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(PortalChoiceTest, UsesWhatTheSessionOffers) {
    const auto& c = GetParam();
    if (c.parameters) mock.start(c.parameters);
    auto services = selectPortalServices(mock.connect("choice"), ex, logs,
                                         PortalSessionFacts{c.wayland, c.virtualKeyboard, config.path(), std::nullopt});
    EXPECT_EQ(services.hotkeys != nullptr, c.hotkeys);
    EXPECT_EQ(services.keyboard != nullptr, c.keyboard);
    EXPECT_EQ(services.connection != nullptr, c.hotkeys || c.keyboard);
    if (c.parameters && c.wayland) {
        EXPECT_TRUE(mock.saw("Register com.vostel.quillant"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, PortalChoiceTest,
    ::testing::Values(ChoiceCase{"GnomeOrPlasma", R"({"registry": true})", true, false, true, true},
                      ChoiceCase{"WlrootsWithShortcutPortal", R"({"registry": true})", true, true, true, false},
                      ChoiceCase{"OlderGnomeWithoutShortcuts", R"({"registry": true, "globalshortcuts": false})", true,
                                 false, false, true},
                      ChoiceCase{"RemoteDesktopWithoutAKeyboard", R"({"registry": true, "device_types": 2})", true,
                                 false, true, false},
                      ChoiceCase{"X11SessionLeavesThePortalAlone", R"({"registry": true})", false, false, false, false},
                      ChoiceCase{"NoPortal", nullptr, true, false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
