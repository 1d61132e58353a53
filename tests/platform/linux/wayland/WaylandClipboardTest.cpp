// The data-control clipboard on a real compositor (headless sway): another
// program's selection read type by type and byte for byte, our own content
// served to wl-paste, and the bounds that keep a hung or huge owner from
// holding us.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/linux/wayland/WaylandClipboard.h"
#include "runtime/Logger.h"
#include "testsupport/RecordingLogger.h"
#include "testsupport/SwayTestHarness.h"

namespace quillant::testing {
namespace {

using clipboard::Bytes;
using clipboard::PasteboardItemData;
using linux_platform::WaylandClipboard;
using linux_platform::X11ClipboardLimits;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string binary(std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = char((i * 131 + i / 7) & 0xff);
    return out;
}

// Another program holding the clipboard: a clipboard of our own on a thread
// of its own, serving whenever the compositor asks, unless paused.
class ForeignOwner {
public:
    explicit ForeignOwner(const std::string& display) : clipboard_(logger_, display) {
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{clipboard_.fd(), POLLIN, 0};
                ::poll(&p, 1, 20);
                std::lock_guard lock(mutex_);
                if (!paused_) clipboard_.processPendingEvents();
            }
        });
    }
    ~ForeignOwner() {
        stop_ = true;
        thread_.join();
    }
    void write(const PasteboardItemData& item) {
        std::lock_guard lock(mutex_);
        clipboard_.writeItems({item});
    }
    // Once this returns, nothing more is served.
    void pause() {
        std::lock_guard lock(mutex_);
        paused_ = true;
    }

private:
    NullLogger logger_;
    WaylandClipboard clipboard_;
    std::mutex mutex_;
    std::atomic<bool> stop_{false}, paused_{false};
    std::thread thread_;
};

class WaylandClipboardTest : public ::testing::Test {
protected:
    HeadlessSway sway;
    RecordingLogger log;

    void SetUp() override { ASSERT_TRUE(sway.ready()) << sway.failure(); }
    std::string display() const { return (sway.runtimeDir() / sway.waylandDisplay()).string(); }

    std::vector<std::string> pastedTypes() const {
        std::vector<std::string> out;
        std::istringstream lines(sway.runClient({"wl-paste", "--list-types"}).out);
        for (std::string line; std::getline(lines, line);) out.push_back(line);
        return out;
    }
    std::string pasted(const std::string& type) const {
        return sway.runClient({"wl-paste", "--no-newline", "--type", type}).out;
    }
    // Runs `peer` (a program reading the clipboard) while `ours` serves it,
    // as the agent's event loop does.
    template <class F>
    static auto whileServing(WaylandClipboard& ours, F peer) {
        auto done = std::async(std::launch::async, peer);
        while (done.wait_for(0ms) != std::future_status::ready) {
            pollfd p{ours.fd(), POLLIN, 0};
            ::poll(&p, 1, 10);
            ours.processPendingEvents();
        }
        return done.get();
    }
    // Waits (bounded) until the clipboard's change count has moved past `before`.
    static bool changedFrom(WaylandClipboard& clipboard, std::int64_t before) {
        for (int i = 0; i < 200; ++i) {
            if (clipboard.changeCount() != before) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
};

TEST_F(WaylandClipboardTest, AnotherProgramsTypesAreReadExactlyAndPutBackByteForByte) {
    WaylandClipboard ours(log, display());
    EXPECT_EQ(ours.protocol(), "zwlr_data_control_manager_v1");
    PasteboardItemData item;
    item.set("text/plain;charset=utf-8", Bytes("grüße, 東京 🙂\r\n"));
    item.set("text/html", Bytes("<b>grüße</b>"));
    // Larger than a pipe holds: served from the writer's own thread.
    item.set("image/png", Bytes(binary(700 * 1024)));
    item.set("application/x-empty", Bytes(""));
    item.set("chromium/x-web-custom-data", Bytes(std::string("\x10\0\0\0\x01\0\0\0", 8)));
    const std::int64_t before = ours.changeCount();
    {
        ForeignOwner owner(display());
        owner.write(item);
        ASSERT_TRUE(changedFrom(ours, before));
        EXPECT_FALSE(ours.ownsClipboard());
        std::vector<std::string> types;
        for (auto& [type, bytes] : item.entries) types.push_back(type);
        EXPECT_EQ(ours.types(0), types) << "every type, in the owner's order";
        const std::int64_t failures = ours.readFailures();
        PasteboardItemData snapshot;
        for (auto& type : ours.types(0))
            if (auto bytes = ours.data(0, type)) snapshot.set(type, *bytes);
        EXPECT_TRUE(snapshot == item);
        EXPECT_EQ(ours.readFailures(), failures);
        EXPECT_EQ(ours.stringForType("text/plain;charset=utf-8"), "grüße, 東京 🙂\r\n");

        // Put back while the owner still runs: the owner loses the selection.
        ours.writeItems({snapshot});
        EXPECT_TRUE(ours.ownsClipboard());
    }
    // The owner has gone; we serve its content to other programs.
    EXPECT_EQ(whileServing(ours, [&] { return pastedTypes(); }),
              (std::vector<std::string>{"text/plain;charset=utf-8", "text/html", "image/png", "application/x-empty",
                                        "chromium/x-web-custom-data"}));
    for (auto& [type, bytes] : item.entries) {
        const std::string got = whileServing(ours, [&] { return pasted(type); });
        EXPECT_EQ(got.size(), bytes.size()) << type;
        EXPECT_TRUE(got == bytes.str()) << type;
    }
}

TEST_F(WaylandClipboardTest, WlCopysSelectionIsReadUnderEveryNameItOffers) {
    WaylandClipboard ours(log, display());
    const fs::path file = sway.home() / "picture.bin";
    writeFile(file, binary(100 * 1024));
    sway.giveToUser(file);
    const std::int64_t before = ours.changeCount();
    Process owner = sway.startClient({"/bin/sh", "-c", "exec wl-copy --foreground --type image/png < \"$0\"",
                                      file.string()});
    ASSERT_TRUE(changedFrom(ours, before));
    EXPECT_EQ(ours.types(0), std::vector<std::string>{"image/png"});
    EXPECT_TRUE(ours.data(0, "image/png") == Bytes(binary(100 * 1024)));
    EXPECT_EQ(ours.data(0, "text/plain"), std::nullopt) << "a type the owner does not offer is not asked for";

    const std::int64_t beforeText = ours.changeCount();
    Process text = sway.startClient({"/bin/sh", "-c", "printf 'caf\\351' | exec wl-copy --foreground --type STRING"});
    ASSERT_TRUE(changedFrom(ours, beforeText));
    // Latin-1 under STRING, taken when no UTF-8 name is offered.
    EXPECT_EQ(ours.stringForType("text/plain;charset=utf-8"), "café");
}

// An X11 owner seen through a compositor's XWayland bridge (KWin's) lists the
// selection protocol's own targets too, and the bridge never answers for them.
TEST_F(WaylandClipboardTest, TheX11SelectionProtocolsOwnTargetsAreNotTakenForContent) {
    WaylandClipboard ours(log, display());
    PasteboardItemData item;
    item.set("TARGETS", Bytes(""));
    item.set("text/plain;charset=utf-8", Bytes("teh text"));
    item.set("TIMESTAMP", Bytes(""));
    const std::int64_t before = ours.changeCount();
    ForeignOwner owner(display());
    owner.write(item);
    ASSERT_TRUE(changedFrom(ours, before));
    EXPECT_EQ(ours.types(0), std::vector<std::string>{"text/plain;charset=utf-8"});
}

TEST_F(WaylandClipboardTest, OurWritesMoveTheChangeCountOnceAndReadsOfTheTextAreCounted) {
    WaylandClipboard ours(log, display());
    const std::int64_t before = ours.changeCount();
    PasteboardItemData item;
    item.set("text/plain;charset=utf-8", Bytes("fixed text"));
    item.set("x-kde-passwordManagerHint", Bytes("secret"));
    ours.writeItems({item});
    EXPECT_EQ(ours.changeCount(), before + 1);
    std::this_thread::sleep_for(100ms);  // a late echo would show here
    EXPECT_EQ(ours.changeCount(), before + 1);

    const auto readsBefore = ours.textReadsBy(std::nullopt);
    ASSERT_TRUE(readsBefore);
    EXPECT_EQ(whileServing(ours, [&] { return pasted("x-kde-passwordManagerHint"); }), "secret");
    EXPECT_EQ(ours.textReadsBy(std::nullopt), readsBefore) << "the marker is not the text";
    EXPECT_EQ(whileServing(ours, [&] { return pasted("text/plain;charset=utf-8"); }), "fixed text");
    EXPECT_EQ(ours.textReadsBy(std::nullopt), *readsBefore + 1);

    // Cleared: the selection is ours and offers nothing.
    ours.clearContents();
    EXPECT_EQ(ours.changeCount(), before + 2);
    EXPECT_TRUE(ours.ownsClipboard());
    EXPECT_EQ(ours.itemCount(), 0u);
    EXPECT_TRUE(whileServing(ours, [&] { return pastedTypes(); }).empty());
}

TEST_F(WaylandClipboardTest, AHungOwnerCostsAtMostThePassBoundAndMarksTheSnapshotIncomplete) {
    X11ClipboardLimits limits;
    limits.requestTimeout = 300ms;
    limits.readPassTimeout = 900ms;
    WaylandClipboard ours(log, display(), limits);
    ForeignOwner owner(display());
    PasteboardItemData item;
    for (int i = 0; i < 8; ++i) item.set("application/x-part-" + std::to_string(i), Bytes("part"));
    const std::int64_t before = ours.changeCount();
    owner.write(item);
    ASSERT_TRUE(changedFrom(ours, before));
    owner.pause();

    const std::int64_t failures = ours.readFailures();
    const auto start = std::chrono::steady_clock::now();
    std::size_t read = 0;
    for (auto& type : ours.types(0))
        if (ours.data(0, type)) ++read;
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(read, 0u);
    EXPECT_GT(ours.readFailures(), failures);
    // Eight types of 300 ms each would be 2.4 s; the pass ends them all at 0.9 s.
    EXPECT_LT(took, 2000ms);
    EXPECT_TRUE(log.contains("did not answer"));
}

TEST_F(WaylandClipboardTest, ATypeOverTheSizeBoundIsLeftOutAndTheRestIsRead) {
    X11ClipboardLimits limits;
    limits.maxTargetBytes = 64 * 1024;
    WaylandClipboard ours(log, display(), limits);
    ForeignOwner owner(display());
    PasteboardItemData item;
    item.set("text/plain;charset=utf-8", Bytes("small"));
    item.set("image/png", Bytes(binary(200 * 1024)));
    const std::int64_t before = ours.changeCount();
    owner.write(item);
    ASSERT_TRUE(changedFrom(ours, before));
    const std::int64_t failures = ours.readFailures();
    EXPECT_EQ(ours.data(0, "text/plain;charset=utf-8"), Bytes("small"));
    EXPECT_EQ(ours.data(0, "image/png"), std::nullopt);
    EXPECT_EQ(ours.readFailures(), failures) << "too big is not the owner's fault";
    EXPECT_TRUE(log.contains("left image/png out of the clipboard copy"));
}

}  // namespace
}  // namespace quillant::testing
