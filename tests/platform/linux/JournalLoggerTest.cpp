#include <gtest/gtest.h>

#include "platform/linux/JournalLogger.h"
#include "testsupport/TempDir.h"

namespace quillant::testing {
namespace {

using linux_platform::JournalLogger;

TEST(JournalLogger, WithoutAJournalSocketLinesGoToStandardError) {
    TempDir dir;
    JournalLogger logger(dir.path() / "socket");
    EXPECT_FALSE(logger.usesJournal());
    ::testing::internal::CaptureStderr();
    logger.write(LogLevel::error, kLogSubsystem, "coordinator", "Copy failed: 100% sure");
    const auto err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Copy failed: 100% sure"), std::string::npos) << err;
    EXPECT_NE(err.find("coordinator"), std::string::npos) << err;
}

}  // namespace
}  // namespace quillant::testing
