#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/AppCoordinator.h"
#include "clipboard/KeyEventSynth.h"
#include "clipboard/PasteboardBroker.h"
#include "credentials/TokenStore.h"
#include "hotkey/HotKeysController.h"
#include "hotkey/Preferences.h"
#include "runtime/VirtualExecutor.h"
#include "testsupport/FakeAccessibilityGate.h"
#include "testsupport/FakeDefaultsStore.h"
#include "testsupport/FakeFocusInspector.h"
#include "testsupport/FakeHotKeyService.h"
#include "testsupport/FakeHttpSession.h"
#include "testsupport/FakeKeyEventPoster.h"
#include "testsupport/FakePasteboard.h"
#include "testsupport/FakeUpdateEnvironment.h"
#include "testsupport/RecordingLogger.h"
#include "testsupport/TempDir.h"

namespace quillant::testing {

// The coordinator on substitutes, in virtual time. The token store is real,
// in a temporary home directory.
struct CoordinatorHarness {
    explicit CoordinatorHarness(clipboard::PasteboardProfile names = clipboard::PasteboardProfile::macOS(),
                                hotkey::ShortcutStyle style = hotkey::ShortcutStyle::macGlyphs)
        : profile(std::move(names)), shortcutStyle(style) {
        http->setResponder([this](const backend::HttpRequest& r) {
            if (r.url.ends_with("/v1/validate")) return validateReply;
            if (r.url.ends_with("/v1/version")) return versionReply;
            if (r.url.ends_with("/v1/fix") && !fixReplies.empty()) {
                auto reply = fixReplies.front();
                fixReplies.erase(fixReplies.begin());
                return reply;
            }
            return FakeHttpSession::failure(backend::TransportError::Kind::cannotConnect, "Could not connect");
        });
    }

    // The platform's clipboard names the broker works with.
    clipboard::PasteboardProfile profile;
    // How the hotkey is written in log lines and the panel.
    hotkey::ShortcutStyle shortcutStyle;
    VirtualExecutor ex;
    RecordingLogger logs;
    FakeAccessibilityGate accessibility;
    FakePasteboard board;
    FakeKeyEventPoster poster;
    FakeFocusInspector focus;
    clipboard::KeyEventSynth synth{poster};
    clipboard::PasteboardBroker broker{board, synth, profile};
    TempDir home;
    credentials::TokenStore tokens{home.path()};
    FakeDefaultsStore defaults;
    hotkey::Preferences preferences{defaults, shortcutStyle};
    FakeHotKeyService hotKeyService;
    hotkey::HotKeysController hotKeys{hotKeyService};
    std::shared_ptr<FakeHttpSession> http = std::make_shared<FakeHttpSession>(ex);
    InlineWorkRunner runner;
    FakeUpdateEnvironment update;
    std::string runningVersion = "1.2.9";
    std::unique_ptr<app::AppCoordinator> coordinator;

    // What the service answers, by path; the defaults keep start-up quiet.
    FakeHttpSession::Reply validateReply = FakeHttpSession::answer(200, R"({"valid":true})");
    FakeHttpSession::Reply versionReply = FakeHttpSession::answer(404, "not found");
    std::vector<FakeHttpSession::Reply> fixReplies;
    std::function<void()> fixStarting;  // handed to the coordinator as it starts
    // What the session says of the hotkey; none: the coordinator's own judgement.
    std::function<app::HotkeyArming(bool, const std::string&)> hotkeyArming;
    std::string updatePublicKey;  // none: no update is accepted

    ~CoordinatorHarness() {
        coordinator.reset();
        http->abandonPending();
    }

    void start(std::optional<std::string> storedKey = "ql_test_key") {
        if (storedKey) {
            EXPECT_TRUE(tokens.save(*storedKey));
        }
        coordinator = std::make_unique<app::AppCoordinator>(app::CoordinatorServices{
            ex, logs, accessibility, broker, synth, tokens, preferences, hotKeys, http, "https://fix.example",
            runner, update, runningVersion, &focus, &defaults, updatePublicKey, fixStarting,
            hotkeyArming});
    }

    app::AppCoordinator& c() { return *coordinator; }

    // The frontmost application copies `text` (and optional extra types) in
    // answer to the copy chord, after `delay`.
    void appCopies(const std::string& text, Duration delay = std::chrono::milliseconds(20),
                   std::vector<std::pair<std::string, std::string>> extra = {}) {
        poster.onPost = [this, text, delay, extra](const clipboard::KeyEvent& e) {
            if (e.keyCode != clipboard::kKeyCodeC || !e.keyDown) return;
            clipboard::PasteboardItemData item;
            item.set(profile.plainText, clipboard::Bytes(text));
            for (auto& [t, b] : extra) item.set(t, clipboard::Bytes(b));
            board.writeLater(ex, delay, {item});
        };
    }

    std::vector<clipboard::PasteboardItemData> userClipboard() {
        clipboard::PasteboardItemData a;
        a.set(profile.plainText, clipboard::Bytes("the user's own clipboard"));
        a.set("public.rtf", clipboard::Bytes("{\\rtf1 own}"));
        clipboard::PasteboardItemData b;
        b.set("public.png", clipboard::Bytes(std::string("\x89PNG\0\1", 6)));
        return {a, b};
    }

    void press() {
        spawn(ex, [this] { return coordinator->runFixFlow(); });
    }
    void pressAndSettle() {
        press();
        ex.runUntil([this] { return !coordinator->isRunning.get(); });
        ex.runUntilIdle();
    }

    std::vector<std::string> pastes() const {
        std::vector<std::string> out;
        for (auto& e : poster.events)
            if (e.keyCode == clipboard::kKeyCodeV && e.keyDown) out.push_back("paste");
        return out;
    }
};

// Records each distinct glyph state with the virtual time it took effect.
struct GlyphRecorder {
    struct Change {
        app::MenuBarState state;
        Duration at;
        bool operator==(const Change&) const = default;
    };
    std::vector<Change> changes;
    Subscription subscription;

    GlyphRecorder(app::AppCoordinator& c, VirtualExecutor& ex) {
        subscription = c.menuBarState.onDidSet([&ex, this](app::MenuBarState now) {
            if (changes.empty() || changes.back().state != now) changes.push_back({now, ex.elapsed()});
        });
    }
};

}  // namespace quillant::testing
