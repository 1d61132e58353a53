// The X11 clipboard against a real X server and real peer programs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "X11ClipboardFixture.h"
#include "clipboard/PasteboardBroker.h"
#include "testsupport/FakeKeyEventPoster.h"

using namespace quillant;
using namespace quillant::testing;
using namespace std::chrono_literals;
using clipboard::Bytes;
using clipboard::PasteboardItemData;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

using SteadyClock = std::chrono::steady_clock;

std::string u32s(std::initializer_list<std::uint32_t> values) {
    std::string out;
    for (auto v : values) out.append(reinterpret_cast<const char*>(&v), 4);
    return out;
}

const std::string kUTF8 = "Grüße — naïve café ✓";
const std::string kLatin1 =
    "Gr\xFC\xDF"
    "e na\xEFve caf\xE9";

// What a rich foreign owner offers: text in three encodings, UTF-16 markup,
// a Mozilla URL with its title line, a large image, binary with NULs, and a
// target whose property type and format differ from its name.
std::vector<OfferedTarget> richTargets(std::size_t image = std::size_t(10) << 20) {
    return {
        {"UTF8_STRING", "UTF8_STRING", 8, kUTF8},
        {"STRING", "STRING", 8, kLatin1},
        {"TEXT", "UTF8_STRING", 8, kUTF8},
        {"text/html", "text/html", 8, utf16le(u"<meta charset=\"utf-8\"><b>Grüße</b> — café", true)},
        {"text/x-moz-url", "text/x-moz-url", 8, utf16le(u"https://example.com/caf%C3%A9\nCafé — the title", false)},
        {"image/png", "image/png", 8, imageBytes(image, 1)},
        {"application/x-quillant-binary", "application/x-quillant-binary", 8, std::string("\0\x01\0\xff\0\0z\0", 8)},
        {"x-quillant/counts", "INTEGER", 32, u32s({1, 0xdeadbeef, 7, 0})},
    };
}

std::string typeOf(const OfferedTarget& t) { return t.type + " " + std::to_string(t.format); }

double secondsSince(SteadyClock::time_point t0) {
    return std::chrono::duration<double>(SteadyClock::now() - t0).count();
}

using X11Clipboard = X11ClipboardFixture;

}  // namespace

TEST_F(X11Clipboard, ForeignOwnerSnapshotAndRestoreAreByteExact) {
    auto offered = richTargets();
    auto owner = startOwner(offered);

    ASSERT_EQ(clip->itemCount(), 1u);
    EXPECT_EQ(clip->types(0), namesOf(offered)) << "protocol targets left out, nothing renamed or added";
    auto snapshot = snapshotOf(*clip);
    ASSERT_EQ(snapshot.size(), offered.size());
    for (std::size_t i = 0; i < offered.size(); ++i) {
        EXPECT_EQ(snapshot[i].first, offered[i].name);
        EXPECT_TRUE(snapshot[i].second.view() == offered[i].bytes) << offered[i].name;
    }

    // Another program takes the clipboard; the first owner goes away.
    auto before = clip->changeCount();
    auto other = startXclip("something else");
    ASSERT_EQ(pumpUntilExit(owner), 0);
    EXPECT_GT(clip->changeCount(), before);
    EXPECT_EQ(clip->stringForType("text/plain;charset=utf-8"), "something else");

    clip->writeItems({itemOf(snapshot)});
    ASSERT_TRUE(clip->ownsClipboard());
    ASSERT_EQ(other.wait(10s), 0) << "xclip exits once it loses the clipboard";

    // Chromium asks for TARGETS many times per paste; every one is answered.
    auto back = readBack({"--repeat-targets", "20", "--multiple", "text/html,image/png,no/such-target"});
    ASSERT_EQ(back.status, 0);
    std::vector<std::string> expected{"TARGETS", "TIMESTAMP", "MULTIPLE"};
    for (auto& t : offered) expected.push_back(t.name);
    EXPECT_EQ(back.targets, expected);
    EXPECT_EQ(back.targetsType, "ATOM 32");
    for (auto& t : offered) {
        ASSERT_TRUE(back.data.count(t.name)) << t.name;
        EXPECT_TRUE(back.data[t.name].first == t.bytes) << t.name;
        EXPECT_EQ(back.data[t.name].second, typeOf(t)) << t.name;
    }
    EXPECT_EQ(back.data["TIMESTAMP"].second, "INTEGER 32");
    EXPECT_EQ(back.multiple, "text/html ok\nimage/png ok\nno/such-target refused\n");
    EXPECT_TRUE(back.multipleData[peerFileName("image/png")] == offered[5].bytes);
    EXPECT_TRUE(back.multipleData[peerFileName("text/html")] == offered[3].bytes);

    // xclip reads the large image incrementally, too.
    auto out = fresh("xclip-out");
    auto reader =
        Process::start({"sh", "-c", "xclip -o -selection clipboard -t image/png > " + out.string()}, xvfb.env());
    ASSERT_EQ(pumpUntilExit(reader), 0);
    EXPECT_TRUE(readFile(out) == offered[5].bytes);
}

TEST_F(X11Clipboard, AFiftyMegabyteImageComesBack) {
    auto offered = std::vector<OfferedTarget>{{"image/png", "image/png", 8, imageBytes(std::size_t(50) << 20, 3)},
                                              {"UTF8_STRING", "UTF8_STRING", 8, "caption"}};
    auto owner = startOwner(offered);
    auto snapshot = snapshotOf(*clip);
    ASSERT_EQ(snapshot.size(), 2u);
    EXPECT_TRUE(snapshot[0].second.view() == offered[0].bytes);

    clip->writeItems({itemOf(snapshot)});
    auto back = readBack();
    ASSERT_EQ(back.status, 0);
    EXPECT_TRUE(back.data["image/png"].first == offered[0].bytes);
    EXPECT_EQ(back.data["UTF8_STRING"].first, "caption");
}

// Bounds: 1 MiB per target, 3 MiB per read pass; served in one property or incrementally.
class X11ClipboardSizeBounds : public X11ClipboardFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(X11ClipboardSizeBounds, TargetsOverTheBoundsAreLeftOutAndTheRestKept) {
    linux_platform::X11ClipboardLimits limits;
    limits.maxTargetBytes = std::size_t(1) << 20;
    limits.maxPassBytes = std::size_t(3) << 20;
    reopen(limits);
    std::vector<OfferedTarget> offered{
        {"UTF8_STRING", "UTF8_STRING", 8, "small"},
        {"x-test/big", "x-test/big", 8, imageBytes(std::size_t(2) << 20, 4)},
        {"x-test/a", "x-test/a", 8, imageBytes(900 << 10, 5)},
        {"x-test/b", "x-test/b", 8, imageBytes(900 << 10, 6)},
        {"x-test/c", "x-test/c", 8, imageBytes(900 << 10, 7)},
        {"x-test/d", "x-test/d", 8, imageBytes(900 << 10, 8)},
    };
    auto owner = startOwner(offered, {"--chunk", GetParam()});
    auto snapshot = snapshotOf(*clip);
    std::vector<std::string> names;
    for (auto& [name, bytes] : snapshot) names.push_back(name);
    EXPECT_THAT(names, ElementsAre("UTF8_STRING", "x-test/a", "x-test/b", "x-test/c"));
    for (auto& [name, bytes] : snapshot)
        for (auto& t : offered) {
            if (t.name == name) {
                EXPECT_TRUE(bytes.view() == t.bytes) << name;
            }
        }
    EXPECT_TRUE(log.contains("left x-test/big out of the clipboard copy"));
    EXPECT_TRUE(log.contains("left x-test/d out of the clipboard copy"));

    // A later pass has its budget back.
    settle(400ms);
    auto d = clip->data(0, "x-test/d");
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->view() == offered[5].bytes);
}

INSTANTIATE_TEST_SUITE_P(Transfers, X11ClipboardSizeBounds, ::testing::Values("65536", "8388608"),
                         [](const auto& info) { return std::string(info.param) == "65536" ? "Incremental" : "Whole"; });

TEST_F(X11Clipboard, AnOwnerThatNeverAnswersCostsOneRequestBound) {
    auto owner = startOwner(richTargets(1000), {"--hang"});
    auto t0 = SteadyClock::now();
    EXPECT_EQ(clip->itemCount(), 0u);
    EXPECT_THAT(clip->types(0), IsEmpty());
    EXPECT_LT(secondsSince(t0), 1.8) << "one bound (1 s) for the pass, well short of a toolkit's 5 s per call";
    EXPECT_GE(secondsSince(t0), 0.9);
    EXPECT_TRUE(log.contains("did not answer for TARGETS"));
}

TEST_F(X11Clipboard, APartlyHungOwnerGivesWhatItCouldWithinThePassBound) {
    linux_platform::X11ClipboardLimits limits;
    limits.requestTimeout = 1s;
    limits.readPassTimeout = 2s;
    reopen(limits);
    std::vector<OfferedTarget> offered{{"UTF8_STRING", "UTF8_STRING", 8, kUTF8},
                                       {"text/html", "text/html", 8, "<b>bold</b>"}};
    std::vector<std::string> hang;
    for (int i = 1; i <= 5; ++i) {
        auto name = "x-test/hang" + std::to_string(i);
        offered.push_back({name, name, 8, "x"});
        hang.insert(hang.end(), {"--hang-target", name});
    }
    offered.push_back({"x-test/late", "x-test/late", 8, "late"});
    auto owner = startOwner(offered, hang);

    auto t0 = SteadyClock::now();
    auto snapshot = snapshotOf(*clip);
    double took = secondsSince(t0);
    EXPECT_GE(took, 1.9);
    EXPECT_LT(took, 3.5) << "five hung targets share one 2 s pass bound instead of taking 1 s each";
    ASSERT_EQ(snapshot.size(), 2u);
    EXPECT_EQ(snapshot[0].first, "UTF8_STRING");
    EXPECT_EQ(snapshot[0].second.str(), kUTF8);
    EXPECT_EQ(snapshot[1].first, "text/html");
    EXPECT_TRUE(log.contains("did not answer for x-test/hang1 within 1000 ms"));
    EXPECT_TRUE(log.contains("left x-test/late out of the clipboard copy: its owner used up the time for reading"));

    settle(400ms);
    EXPECT_EQ(clip->data(0, "x-test/late"), Bytes("late")) << "the next pass starts afresh";
}

TEST_F(X11Clipboard, KeepsServingWhileWaitingForAHungOwner) {
    auto image = imageBytes(std::size_t(4) << 20, 9);
    PasteboardItemData item;
    item.set("image/png", Bytes(image));
    clip->writeItems({item});

    auto dir = fresh("slow");
    auto reader = peer({"read", "--out", dir.string(), "--only", "image/png", "--pause-after-first-chunk-ms", "300"});
    std::optional<std::string> line;
    pump([&] { return (line = reader.readLine(0ms)).has_value() || reader.outFd() < 0; }, 10s, {reader.outFd()});
    ASSERT_EQ(line, "started");

    // A hung program takes the clipboard while the transfer is under way; our
    // snapshot of it waits, and must not starve the reader meanwhile.
    auto hung = startOwner({{"UTF8_STRING", "UTF8_STRING", 8, "x"}}, {"--hang"});
    EXPECT_EQ(clip->itemCount(), 0u);
    EXPECT_FALSE(clip->ownsClipboard());
    ASSERT_EQ(reader.wait(10s), 0) << "the reader finished without the host loop running";
    EXPECT_TRUE(readFile(dir / "image%2Fpng.bin") == image);
}

TEST_F(X11Clipboard, ChangeCountMovesOncePerOwnershipChange) {
    auto c0 = clip->changeCount();
    PasteboardItemData item;
    item.set("text/plain;charset=utf-8", Bytes("one"));
    clip->writeItems({item});
    EXPECT_EQ(clip->changeCount(), c0 + 1) << "our own write counts at once";
    settle();
    EXPECT_EQ(clip->changeCount(), c0 + 1) << "and its XFixes echo is not counted again";

    clip->writeItems({item});
    clip->clearContents();
    EXPECT_EQ(clip->changeCount(), c0 + 3);
    settle();
    EXPECT_EQ(clip->changeCount(), c0 + 3);

    auto first = startXclip("first");
    ASSERT_TRUE(pump([&] { return clip->changeCount() == c0 + 4; }, 10s));
    auto second = startXclip("second");
    ASSERT_TRUE(pump([&] { return clip->changeCount() == c0 + 5; }, 10s));
    EXPECT_EQ(first.wait(10s), 0);
    settle();
    EXPECT_EQ(clip->changeCount(), c0 + 5);
    EXPECT_EQ(clip->stringForType("text/plain;charset=utf-8"), "second");

    // The owner goes away without handing over: the clipboard empties, which is a change too.
    second.terminate();
    ASSERT_TRUE(pump([&] { return clip->changeCount() == c0 + 6; }, 10s));
    EXPECT_EQ(clip->itemCount(), 0u);

    clip->replaceContents({item});
    EXPECT_EQ(clip->changeCount(), c0 + 7) << "a replacement is one change of owner, not a clear and a write";
}

// Asking for a target the owner did not list costs a round trip through it on
// every copy (Chromium's custom data, from a plain page); an owner that never
// answers it makes such a request show.
TEST_F(X11Clipboard, ATargetTheOwnerDidNotListIsNotAskedFor) {
    auto owner = startOwner({{"UTF8_STRING", "UTF8_STRING", 8, kUTF8}}, {"--hang-target", "chromium/x-web-custom-data"});
    EXPECT_EQ(clip->stringForType("text/plain;charset=utf-8"), kUTF8);
    EXPECT_EQ(clip->dataForType("chromium/x-web-custom-data"), std::nullopt);
    EXPECT_EQ(clip->readFailures(), 0);
}

// The broker waits on XFixes' announcement, not on its bound: with a bound
// far beyond the test's limit, only the announcement can end the wait in time.
TEST_F(X11Clipboard, AnotherProgramsCopyWakesTheBrokersCopy) {
    FakeKeyEventPoster poster;  // the copy chord makes "the application" copy: xclip takes the clipboard
    std::optional<Process> application;
    poster.onPost = [&](const clipboard::KeyEvent& e) {
        if (e.keyCode == clipboard::kKeyCodeC && e.keyDown) application.emplace(startXclip("copied by the application"));
    };
    clipboard::PasteboardBroker broker(*clip, clipboard::KeyEventSynth(poster), clipboard::PasteboardProfile::linuxX11());
    linux_platform::RunLoop loop;
    loop.watchReadable(clip->fd(), [this] { clip->processPendingEvents(); });
    std::optional<std::string> copied;
    bool done = false;
    spawn(loop, [&]() -> Task<void> {
        try {
            copied = (co_await broker.copySelection(600'000, {false, /*awaitRelease=*/false})).text;
        } catch (const clipboard::PasteboardError&) {
        }
        done = true;
    });
    ASSERT_TRUE(loop.runUntil([&] { return done; }, 60s)) << "the copy was not seen until its bound";
    EXPECT_EQ(copied, "copied by the application");
}

TEST_F(X11Clipboard, OurContentIsServedAndReadLocally) {
    PasteboardItemData first, second;
    first.set("text/plain;charset=utf-8", Bytes("Grüße"));
    first.set("x-kde-passwordManagerHint", Bytes("secret"));
    second.set("text/plain;charset=utf-8", Bytes("second item"));
    clip->writeItems({first, second});

    EXPECT_EQ(clip->itemCount(), 1u) << "X11 holds one item";
    EXPECT_THAT(clip->types(0), ElementsAre("text/plain;charset=utf-8", "x-kde-passwordManagerHint", "UTF8_STRING"));
    EXPECT_EQ(clip->data(0, "x-kde-passwordManagerHint"), Bytes("secret"));
    EXPECT_EQ(clip->stringForType("text/plain;charset=utf-8"), "Grüße");
    EXPECT_EQ(clip->data(1, "text/plain;charset=utf-8"), std::nullopt);

    auto back = readBack();
    ASSERT_EQ(back.status, 0);
    EXPECT_THAT(back.targets, ElementsAre("TARGETS", "TIMESTAMP", "MULTIPLE", "text/plain;charset=utf-8",
                                          "x-kde-passwordManagerHint", "UTF8_STRING"));
    EXPECT_EQ(back.data["UTF8_STRING"], std::make_pair(std::string("Grüße"), std::string("UTF8_STRING 8")));
    EXPECT_EQ(back.data["x-kde-passwordManagerHint"].first, "secret");

    // Every program can paste it: xclip asks for UTF8_STRING by default.
    auto out = fresh("xclip-out");
    auto xclip = Process::start({"sh", "-c", "xclip -o -selection clipboard > " + out.string()}, xvfb.env());
    ASSERT_EQ(pumpUntilExit(xclip), 0);
    EXPECT_EQ(readFile(out), "Grüße");
}

// Reads go to the owner without asking who owns first: with nobody owning,
// the clipboard must still read as empty, and as read completely (a read
// left waiting would count as failed, make the snapshot incomplete and stop
// the fix).
TEST_F(X11Clipboard, AClipboardNobodyOwnsReadsAsEmptyAndComplete) {
    const auto failures = clip->readFailures();
    EXPECT_EQ(clip->itemCount(), 0u);
    EXPECT_EQ(clip->stringForType("text/plain;charset=utf-8"), std::nullopt);
    EXPECT_EQ(clip->dataForType("UTF8_STRING"), std::nullopt);
    EXPECT_EQ(clip->readFailures(), failures);
}

TEST_F(X11Clipboard, ClearingLeavesNothingToPaste) {
    PasteboardItemData item;
    item.set("text/plain;charset=utf-8", Bytes("gone soon"));
    clip->writeItems({item});
    auto before = clip->changeCount();
    clip->clearContents();
    EXPECT_EQ(clip->changeCount(), before + 1);
    EXPECT_EQ(clip->itemCount(), 0u);
    EXPECT_THAT(clip->types(0), IsEmpty());
    EXPECT_EQ(clip->stringForType("text/plain;charset=utf-8"), std::nullopt);

    auto back = readBack();
    ASSERT_EQ(back.status, 0);
    EXPECT_THAT(back.targets, ElementsAre("TARGETS", "TIMESTAMP", "MULTIPLE"));
    auto xclip = Process::start({"xclip", "-o", "-selection", "clipboard"}, xvfb.env(), true);
    EXPECT_NE(pumpUntilExit(xclip), 0);

    clip->writeItems({});
    EXPECT_EQ(clip->itemCount(), 0u) << "writing no items clears as well";
}

struct PlainTextCase {
    const char* label;
    std::vector<OfferedTarget> offered;
    std::optional<std::string> expected;
};

void PrintTo(const PlainTextCase& c, std::ostream* os) { *os << c.label; }

class X11ClipboardPlainText : public X11ClipboardFixture, public ::testing::WithParamInterface<PlainTextCase> {};

TEST_P(X11ClipboardPlainText, PlainTextComesFromWhateverTextTargetTheOwnerOffers) {
    auto owner = startOwner(GetParam().offered);
    EXPECT_EQ(clip->stringForType("text/plain;charset=utf-8"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Owners, X11ClipboardPlainText,
    ::testing::Values(PlainTextCase{"PreferredName",
                                    {{"UTF8_STRING", "UTF8_STRING", 8, "other"},
                                     {"text/plain;charset=utf-8", "text/plain;charset=utf-8", 8, kUTF8}},
                                    kUTF8},
                      PlainTextCase{"OnlyUTF8String", {{"UTF8_STRING", "UTF8_STRING", 8, kUTF8}}, kUTF8},
                      PlainTextCase{"OnlyLatin1String", {{"STRING", "STRING", 8, kLatin1}}, "Grüße naïve café"},
                      PlainTextCase{"InvalidUTF8FallsBackToLatin1",
                                    {{"UTF8_STRING", "UTF8_STRING", 8, "\xff\xfe"}, {"STRING", "STRING", 8, "ok"}},
                                    "ok"},
                      PlainTextCase{"NoText", {{"image/png", "image/png", 8, "png"}}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(X11Clipboard, QuitHandsTheClipboardToAClipboardManager) {
    auto manager = peer({"manager"});
    ASSERT_EQ(manager.readLine(10s), "ready");
    PasteboardItemData item;
    item.set("text/plain;charset=utf-8", Bytes(kUTF8));
    item.set("image/png", Bytes(imageBytes(std::size_t(10) << 20, 11)));
    item.set("application/x-quillant-binary", Bytes(std::string("\0a\0b", 4)));
    clip->writeItems({item});

    EXPECT_TRUE(clip->handOverToClipboardManager(5000ms));
    EXPECT_EQ(manager.readLine(10s), "saved 4");
    clip.reset();  // quillant has quit

    auto back = readBack();
    ASSERT_EQ(back.status, 0);
    EXPECT_EQ(back.data["text/plain;charset=utf-8"].first, kUTF8);
    EXPECT_EQ(back.data["UTF8_STRING"].first, kUTF8);
    EXPECT_TRUE(back.data["image/png"].first == item.find("image/png")->view());
    EXPECT_EQ(back.data["application/x-quillant-binary"].first, std::string("\0a\0b", 4));
}

TEST_F(X11Clipboard, HandOverIsBoundedAndOnlyWhenSomeoneCanTakeIt) {
    PasteboardItemData item;
    item.set("text/plain;charset=utf-8", Bytes("keep me"));
    clip->writeItems({item});

    auto t0 = SteadyClock::now();
    EXPECT_FALSE(clip->handOverToClipboardManager(1000ms)) << "no manager runs";
    EXPECT_LT(secondsSince(t0), 0.5);

    auto hung = peer({"manager", "--hang"});
    ASSERT_EQ(hung.readLine(10s), "ready");
    t0 = SteadyClock::now();
    EXPECT_FALSE(clip->handOverToClipboardManager(1000ms));
    EXPECT_GE(secondsSince(t0), 0.9);
    EXPECT_LT(secondsSince(t0), 2.5);
    EXPECT_TRUE(log.contains("did not take the clipboard within 1000 ms"));

    clip->clearContents();
    EXPECT_FALSE(clip->handOverToClipboardManager(1000ms)) << "an empty clipboard is not handed over";
}

TEST_F(X11Clipboard, ProbeShowsTheOwnersTargetsWithExactSizes) {
    auto offered = richTargets(std::size_t(3) << 20);
    auto owner = startOwner(offered);
    auto probe = Process::start({QUILLANT_CLIPBOARD_PROBE, "--display", xvfb.display()}, {});
    auto output = probe.readAll(30s);
    ASSERT_EQ(probe.wait(10s), 0);
    std::string expected = "TARGETS\tprotocol\nTIMESTAMP\tprotocol\n";
    for (auto& t : offered)
        expected += t.name + "\t" + std::to_string(t.bytes.size()) + " bytes\t" + t.type + "/" +
                    std::to_string(t.format) + "\n";
    EXPECT_EQ(output, expected);
}

TEST(X11ClipboardOpen, AMissingDisplayIsAClearError) {
    NullLogger log;
    try {
        linux_platform::X11Clipboard clip(log, ":987654");
        FAIL() << "expected an error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "cannot open the X display :987654");
    }
}

TEST_F(X11Clipboard, CountsReadsOfOurContentButNotOfItsTypeList) {
    clipboard::PasteboardItemData item;
    item.set("UTF8_STRING", clipboard::Bytes("pasted text"));
    clip->writeItems({item});
    const auto before = clip->contentReadCount();
    ASSERT_TRUE(before.has_value());

    // Asking only for the list of types is not a read of the content.
    auto targets = Process::start({"xclip", "-o", "-selection", "clipboard", "-t", "TARGETS"}, xvfb.env(), true);
    ASSERT_EQ(pumpUntilExit(targets), 0);
    EXPECT_EQ(clip->contentReadCount(), before);

    auto paste = Process::start({"xclip", "-o", "-selection", "clipboard", "-t", "UTF8_STRING"}, xvfb.env(), true);
    ASSERT_EQ(pumpUntilExit(paste), 0);
    EXPECT_EQ(clip->contentReadCount(), *before + 1);
}
