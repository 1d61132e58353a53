#include <gtest/gtest.h>

#include "platform/linux/x11/SelectionPolicy.h"

using namespace quillant;
using namespace quillant::linux_platform;
using namespace std::chrono_literals;

TEST(SelectionPolicy, OnlyContentTargetsAreCopied) {
    for (auto name : {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "DELETE", "INSERT_SELECTION",
                      "INSERT_PROPERTY", "INCR", "PIXMAP", ""})
        EXPECT_FALSE(isContentTarget(name)) << name;
    for (auto name : {"UTF8_STRING", "STRING", "TEXT", "text/plain;charset=utf-8", "chromium/x-web-custom-data",
                      "text/x-moz-url", "image/png", "x-kde-passwordManagerHint", "targets"})
        EXPECT_TRUE(isContentTarget(name)) << name;
}

TEST(SelectionPolicy, PlainTextFallsBackThroughTheTextTargets) {
    EXPECT_EQ(plainTextFallbacks("text/plain;charset=utf-8"),
              (std::vector<std::string>{"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING"}));
    EXPECT_EQ(plainTextFallbacks("UTF8_STRING").front(), "UTF8_STRING");
    EXPECT_TRUE(plainTextFallbacks("text/html").empty());
}

TEST(SelectionPolicy, Latin1BecomesUTF8) {
    EXPECT_EQ(latin1ToUTF8("Gr\xFC\xDF"
                           "e \xA0\xFF"),
              "Grüße \u00A0ÿ");
    EXPECT_EQ(latin1ToUTF8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

namespace {
TimePoint at(std::chrono::milliseconds ms) { return TimePoint(ms); }
}  // namespace

TEST(ReadPass, CallsWithoutAPauseShareOneTimeBudget) {
    ReadPass pass(4000ms, 100, 250ms);
    pass.begin(at(1000ms), 1);
    EXPECT_EQ(pass.waitDeadline(at(1000ms), 1000ms), at(2000ms));
    pass.end(at(2000ms));
    auto generation = pass.generation();
    pass.begin(at(2100ms), 1);  // 100 ms later: the same pass
    EXPECT_EQ(pass.generation(), generation);
    EXPECT_EQ(pass.waitDeadline(at(4500ms), 1000ms), at(5000ms)) << "cut to the pass deadline";
    EXPECT_FALSE(pass.expired(at(4999ms)));
    EXPECT_TRUE(pass.expired(at(5000ms)));
    pass.end(at(5000ms));

    pass.begin(at(5300ms), 1);  // after a pause: a fresh pass
    EXPECT_NE(pass.generation(), generation);
    EXPECT_FALSE(pass.expired(at(9000ms)));
    EXPECT_TRUE(pass.expired(at(9300ms)));
    pass.end(at(5400ms));
}

TEST(ReadPass, ANewOwnerStartsAFreshPass) {
    ReadPass pass(1000ms, 100, 250ms);
    pass.begin(at(0ms), 1);
    pass.consume(100);
    pass.end(at(1000ms));
    pass.begin(at(1010ms), 2);  // the user copied something new right away
    EXPECT_FALSE(pass.expired(at(1500ms)));
    EXPECT_EQ(pass.allowance(60), 60u);
    pass.end(at(1500ms));
}

TEST(ReadPass, NestedCallsBelongToTheOuterCall) {
    ReadPass pass(1000ms, 100, 250ms);
    pass.begin(at(0ms), 1);
    pass.begin(at(900ms), 1);  // an inner call neither restarts nor ends the pass
    pass.end(at(950ms));
    pass.begin(at(1500ms), 1);
    EXPECT_TRUE(pass.expired(at(1500ms)));
    pass.end(at(1500ms));
    pass.end(at(1500ms));
}

TEST(ReadPass, BytesAreBoundedPerTargetAndPerPass) {
    ReadPass pass(1000ms, 100, 250ms);
    pass.begin(at(0ms), 1);
    EXPECT_EQ(pass.allowance(60), 60u);
    pass.consume(60);
    EXPECT_EQ(pass.allowance(60), 40u);
    pass.consume(40);
    EXPECT_EQ(pass.allowance(60), 0u);
    pass.end(at(10ms));
    pass.begin(at(500ms), 1);
    EXPECT_EQ(pass.allowance(60), 60u) << "a new pass has its bytes back";
    pass.end(at(500ms));
}
