#include "ServiceTestSupport.h"

#include "service/KeyStore.h"
#include "testsupport/RecordingLogger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace quillant::service;
using namespace quillant::service::testing;
using quillant::testing::RecordingLogger;

namespace {

mode_t modeOf(const std::filesystem::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mode & 0777;
}

TEST(KeyStore, AddNewKeyCreatesPrivateFoldersAndFile) {
    TempDir dir;
    auto file = dir / "config/quillant/service-keys";
    std::string first = KeyStore::addNewKey(file);
    std::string second = KeyStore::addNewKey(file);
    EXPECT_THAT(first, ::testing::MatchesRegex("qk_[0-9a-f]{48}"));
    EXPECT_NE(first, second);
    EXPECT_EQ(readFile(file), first + "\n" + second + "\n");
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(modeOf(dir / "config/quillant"), 0700u);
    EXPECT_EQ(modeOf(dir / "config"), 0700u);

    RecordingLogger log;
    KeyStore keys(file, log);
    EXPECT_EQ(keys.count(), 2u);
    EXPECT_TRUE(keys.identify(first));
    EXPECT_TRUE(keys.identify(second));
}

TEST(KeyStore, AddNewKeyEndsAnUnfinishedLastLineAndTightensTheMode) {
    TempDir dir;
    auto file = dir / "keys";
    writeFile(file, "# mine\nqk_old");
    ::chmod(file.c_str(), 0644);
    std::string key = KeyStore::addNewKey(file);
    EXPECT_EQ(readFile(file), "# mine\nqk_old\n" + key + "\n");
    EXPECT_EQ(modeOf(file), 0600u);
}

TEST(KeyStore, ReadsOneKeyPerLineSkippingCommentsAndBlankLines) {
    TempDir dir;
    writeFile(dir / "keys", "# comment\n\n  qk_one \r\nqk_two\n   # indented comment\nqk with blank\n");
    ::chmod((dir / "keys").c_str(), 0600);
    RecordingLogger log;
    KeyStore keys(dir / "keys", log);
    EXPECT_EQ(keys.count(), 2u);
    EXPECT_TRUE(keys.identify("qk_one"));
    EXPECT_TRUE(keys.identify("qk_two"));
    EXPECT_FALSE(keys.identify("# comment"));
    EXPECT_FALSE(keys.identify("qk with blank"));
    EXPECT_FALSE(keys.identify(""));
    EXPECT_TRUE(log.contains("line 6: a key must not contain blanks"));
    for (const auto& line : log.messages()) EXPECT_EQ(line.find("qk_"), std::string::npos) << line;
}

TEST(KeyStore, WarnsWhenOthersCanReadTheFile) {
    TempDir dir;
    writeFile(dir / "keys", "qk_one\n");
    ::chmod((dir / "keys").c_str(), 0644);
    RecordingLogger log;
    KeyStore keys(dir / "keys", log);
    EXPECT_TRUE(log.contains("can be read by other users; run: chmod 600"));
}

TEST(KeyStore, AMissingFileIsAnError) {
    TempDir dir;
    RecordingLogger log;
    EXPECT_THROW(KeyStore(dir / "nothing", log), KeyFileError);
}

}  // namespace
