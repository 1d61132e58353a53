// Chromium's own copy, with web custom data, round-trips byte for byte and
// pastes back into Chromium.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "X11ClipboardFixture.h"
#include "platform/linux/x11/SelectionPolicy.h"

using namespace quillant;
using namespace quillant::testing;
using namespace std::chrono_literals;

namespace {

// The page copies its selected text with custom data the way Slack does, and
// reports a paste whose custom data came back intact in its title.
constexpr const char* kPage = R"(<!doctype html><meta charset="utf-8"><title>loading</title>
<body style="font-size:40px"><p id="t">Hello <b>Grüße</b> — café ✓</p>
<script>
const texty = '{"ops":[{"insert":"Hello "},{"insert":{"slackmention":{"id":"U012AB3CD","name":"Zoë"}}}]}';
document.addEventListener('copy', e => {
  e.clipboardData.setData('text/plain', 'Hello Grüße — café ✓');
  e.clipboardData.setData('text/html', '<b>Grüße</b> — café');
  e.clipboardData.setData('slack/texty', texty);
  e.clipboardData.setData('x-quillant/extra', 'ünïcode\u0000tail');
  e.preventDefault();
  document.title = 'copied';
});
document.addEventListener('paste', e => {
  const ok = e.clipboardData.getData('slack/texty') === texty &&
             e.clipboardData.getData('x-quillant/extra') === 'ünïcode\u0000tail' &&
             e.clipboardData.getData('text/plain') === 'Hello Grüße — café ✓';
  document.title = ok ? 'paste-ok' : 'paste-bad';
  e.preventDefault();
});
window.onload = () => {
  const r = document.createRange();
  r.selectNodeContents(document.getElementById('t'));
  getSelection().removeAllRanges();
  getSelection().addRange(r);
  document.title = 'ready';
};
</script>
)";

std::string findChromium() {
    for (auto dir : {"/usr/bin", "/usr/local/bin"})
        for (auto name : {"chromium", "chromium-browser"})
            if (std::filesystem::exists(std::filesystem::path(dir) / name))
                return (std::filesystem::path(dir) / name).string();
    return {};
}

class ChromiumClipboard : public X11ClipboardFixture {
protected:
    // Whether a window with exactly this title exists, keeping our clipboard served meanwhile.
    bool windowTitled(const std::string& title) {
        auto search =
            Process::start({"xdotool", "search", "--name", "^" + title + "( - Chromium)?$"}, xvfb.env(), true);
        return pumpUntilExit(search, 10s) == 0;
    }

    bool waitForTitle(const std::string& title, std::chrono::seconds bound) {
        auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            if (windowTitled(title)) return true;
            settle(150ms);
        }
        return false;
    }

    void key(const std::string& combo) {
        auto p = Process::start({"xdotool", "mousemove", "300", "200", "key", combo}, xvfb.env());
        ASSERT_EQ(pumpUntilExit(p, 10s), 0);
    }
};

std::vector<std::pair<std::string, std::pair<std::string, std::string>>> contentOf(const ReadBack& back) {
    std::vector<std::pair<std::string, std::pair<std::string, std::string>>> out;
    for (auto& name : back.targets)
        if (linux_platform::isContentTarget(name) && back.data.count(name)) out.emplace_back(name, back.data.at(name));
    return out;
}

}  // namespace

TEST_F(ChromiumClipboard, ChromiumsOwnCopyRoundTripsByteExactly) {
    auto chromium = findChromium();
    ASSERT_FALSE(chromium.empty()) << "chromium is not installed (scripts/bootstrap installs it)";
    auto page = tmp.path() / "page.html";
    writeFile(page, kPage);
    auto browser = Process::start({chromium, "--no-sandbox", "--disable-gpu", "--no-first-run",
                                   "--disable-background-networking", "--disable-component-update", "--disable-sync",
                                   "--disable-breakpad", "--user-data-dir=" + (tmp.path() / "profile").string(),
                                   "--window-position=0,0", "--window-size=1280,800", "file://" + page.string()},
                                  xvfb.env(), true, true);
    ASSERT_TRUE(waitForTitle("ready", 40s)) << "the page did not load";

    auto before = clip->changeCount();
    key("ctrl+c");
    ASSERT_TRUE(pump([&] { return clip->changeCount() != before; }, 10s)) << "Chromium did not take the clipboard";
    ASSERT_TRUE(waitForTitle("copied", 10s));

    auto snapshot = snapshotOf(*clip);
    auto fromChromium = readBack();
    ASSERT_EQ(fromChromium.status, 0);
    auto chromiumContent = contentOf(fromChromium);
    ASSERT_EQ(snapshot.size(), chromiumContent.size());
    for (std::size_t i = 0; i < snapshot.size(); ++i) {
        EXPECT_EQ(snapshot[i].first, chromiumContent[i].first);
        EXPECT_TRUE(snapshot[i].second.view() == chromiumContent[i].second.first) << snapshot[i].first;
    }
    auto has = [&](const std::string& name) {
        for (auto& [n, b] : snapshot)
            if (n == name) return true;
        return false;
    };
    EXPECT_TRUE(has("chromium/x-web-custom-data"));
    EXPECT_TRUE(has("text/html"));
    EXPECT_TRUE(has("UTF8_STRING"));

    // Someone else copies; we put Chromium's copy back.
    auto other = startXclip("interloper");
    ASSERT_TRUE(
        pump([&] { return !clip->ownsClipboard() && clip->stringForType("UTF8_STRING") == "interloper"; }, 10s));
    clip->writeItems({itemOf(snapshot)});

    auto restored = readBack();
    ASSERT_EQ(restored.status, 0);
    EXPECT_EQ(contentOf(restored), chromiumContent) << "same targets, bytes and property types";

    // And Chromium pastes it as its own.
    key("ctrl+v");
    EXPECT_TRUE(waitForTitle("paste-ok", 15s)) << (windowTitled("paste-bad") ? "custom data differed" : "no paste");
}
