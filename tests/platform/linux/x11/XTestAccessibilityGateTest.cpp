#include <gtest/gtest.h>

#include "testsupport/RecordingLogger.h"
#include "testsupport/X11TestHarness.h"
#include "platform/linux/x11/XTestAccessibilityGate.h"

namespace quillant::testing {
namespace {

using linux_platform::XTestAccessibilityGate;

TEST(XTestGate, AnXServerWithXTestTrustsUsWithoutAWord) {
    Xvfb xvfb;
    RecordingLogger logger;
    XTestAccessibilityGate gate(logger, xvfb.display(), "");
    EXPECT_TRUE(gate.isProcessTrusted(true));
    EXPECT_TRUE(logger.records().empty());
}

TEST(XTestGate, WhatIsMissingIsLoggedOnlyWhenAsked) {
    Xvfb withoutXTest({"-extension", "XTEST"});
    struct Case {
        std::string display, wayland, mention;
    } cases[] = {
        {withoutXTest.display(), "", "XTEST"},
        {":65000", "wayland-0", "Wayland"},
        {":65000", "", "No X display"},
    };
    for (const auto& c : cases) {
        RecordingLogger logger;
        XTestAccessibilityGate gate(logger, c.display, c.wayland);
        EXPECT_FALSE(gate.isProcessTrusted(false));
        EXPECT_TRUE(logger.records().empty());
        EXPECT_FALSE(gate.isProcessTrusted(true));
        ASSERT_EQ(logger.records().size(), 1u);
        EXPECT_TRUE(logger.contains(c.mention)) << c.mention;
    }
}

}  // namespace
}  // namespace quillant::testing
