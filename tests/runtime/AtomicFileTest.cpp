// Replacing a file in a real temporary folder.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/AtomicFile.h"
#include "testsupport/FolderModeWatcher.h"
#include "testsupport/TempDir.h"

namespace quillant {
namespace {

namespace fs = std::filesystem;
using testing::FolderModeWatcher;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

unsigned modeOf(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class UmaskGuard {
public:
    explicit UmaskGuard(mode_t mask) : old_(::umask(mask)) {}
    ~UmaskGuard() { ::umask(old_); }

private:
    mode_t old_;
};

struct ModeRow {
    const char* name;
    mode_t mode;
    mode_t umask;
};

class AtomicFileModes : public ::testing::TestWithParam<ModeRow> {};

// Every file the bytes pass through has at most the mode asked for (watched
// with umask 0, where a default-permission file would be world-readable), and
// the result has exactly that mode whatever the umask.
TEST_P(AtomicFileModes, TheFileIsNeverWiderThanItsModeAndEndsAtIt) {
    const auto row = GetParam();
    TempDir dir;
    const fs::path target = dir / "settings.json";
    UmaskGuard mask(row.umask);
    std::vector<unsigned> modes;
    {
        FolderModeWatcher watcher(dir.path());
        for (int i = 0; i < 30; ++i)
            ASSERT_EQ(replaceFileAtomically(target, "round " + std::to_string(i), row.mode), 0);
        modes = watcher.stop();
    }
    EXPECT_FALSE(modes.empty());
    for (unsigned seen : modes) EXPECT_EQ(seen & ~unsigned(row.mode), 0u) << "saw mode " << std::oct << seen;
    EXPECT_EQ(modeOf(target), unsigned(row.mode));
    EXPECT_EQ(readFile(target), "round 29");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"settings.json"});
}

INSTANTIATE_TEST_SUITE_P(AtomicFile, AtomicFileModes,
                         ::testing::Values(ModeRow{"private", 0600, 0}, ModeRow{"script", 0755, 0},
                                           ModeRow{"read_only", 0400, 0}, ModeRow{"readable", 0644, 0},
                                           ModeRow{"private_under_strict_umask", 0600, 077},
                                           ModeRow{"script_under_strict_umask", 0755, 077}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AtomicFile, AReaderOfTheOldFileKeepsTheOldBytes) {
    TempDir dir;
    const fs::path target = dir / "token";
    writeFile(target, "old key");
    int reader = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(replaceFileAtomically(target, "new key", 0600), 0);
    char buffer[32] = {};
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), 7);
    EXPECT_EQ(std::string(buffer), "old key");  // replaced, not rewritten in place
    ::close(reader);
    EXPECT_EQ(readFile(target), "new key");
}

TEST(AtomicFile, ALinkInTheTargetsPlaceIsReplacedNotWrittenThrough) {
    TempDir dir;
    writeFile(dir / "elsewhere", "theirs");
    fs::create_symlink(dir / "elsewhere", dir / "token");
    ASSERT_EQ(replaceFileAtomically(dir / "token", "ours", 0600), 0);
    EXPECT_FALSE(fs::is_symlink(dir / "token"));
    EXPECT_EQ(readFile(dir / "token"), "ours");
    EXPECT_EQ(readFile(dir / "elsewhere"), "theirs");
}

struct FailureRow {
    const char* name;
    void (*prepare)(const fs::path& dir);
    const char* target;
    int error;
};

class AtomicFileFailures : public ::testing::TestWithParam<FailureRow> {};

// A failed replacement reports why, leaves what was there and nothing beside it.
TEST_P(AtomicFileFailures, LeaveTheFolderAsItWas) {
    const auto row = GetParam();
    TempDir dir;
    row.prepare(dir.path());
    const auto before = namesIn(dir.path());
    EXPECT_EQ(replaceFileAtomically(dir / row.target, "bytes", 0600), row.error);
    EXPECT_EQ(namesIn(dir.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    AtomicFile, AtomicFileFailures,
    ::testing::Values(
        FailureRow{"folder_missing", [](const fs::path&) {}, "missing/file", ENOENT},
        FailureRow{"folder_in_the_place",
                   [](const fs::path& dir) { fs::create_directories(dir / "file" / "inside"); }, "file", EISDIR},
        FailureRow{"file_in_place_of_the_folder", [](const fs::path& dir) { writeFile(dir / "plain", "x"); },
                   "plain/file", ENOTDIR}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AtomicFile, WriteAllWritesEverythingOrSaysItDidNot) {
    TempDir dir;
    const std::string big(3 << 20, 'q');
    int fd = ::open((dir / "big").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(writeAll(fd, big));
    ::close(fd);
    EXPECT_EQ(readFile(dir / "big"), big);
    EXPECT_FALSE(writeAll(fd, "after close"));
}

}  // namespace
}  // namespace quillant
