// The swap of an installation folder, on a real file system: one step, so
// that a watcher never finds the folder missing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/linux/FolderExchange.h"
#include "testsupport/TempDir.h"

using namespace quillant;
namespace fs = std::filesystem;

TEST(FolderExchange, TheFolderIsNeverMissingAndBothSidesSwap) {
    quillant::testing::TempDir t;
    const fs::path bundle = t.path() / "quillant", fresh = t.path() / "quillant.update-new";
    fs::create_directories(bundle / "bin");
    fs::create_directories(fresh / "bin");
    struct stat before {}, after {};
    ASSERT_EQ(::stat(bundle.c_str(), &before), 0);

    std::atomic<bool> done{false};
    std::atomic<long> missing{0}, looks{0};
    std::thread watcher([&] {
        struct stat st {};
        while (!done) {
            if (::stat((bundle / "bin").c_str(), &st) != 0 && errno == ENOENT) ++missing;
            ++looks;
        }
    });
    // Many swaps back and forth while the watcher looks: two renames would leave gaps it sees.
    int swaps = 0;
    for (; swaps < 20000 && (swaps < 200 || looks < 2000); ++swaps) {
        const int error = linux_platform::exchangeFolders(fresh, bundle);
        if (linux_platform::exchangeUnsupported(error)) {
            done = true;
            watcher.join();
            GTEST_SKIP() << "this file system cannot exchange";
        }
        ASSERT_EQ(error, 0) << std::strerror(error);
    }
    done = true;
    watcher.join();
    EXPECT_EQ(missing, 0) << "of " << looks << " looks over " << swaps << " swaps";
    // One more: the folder at the installation's name is the other one now, and the old one sits beside it.
    ASSERT_EQ(linux_platform::exchangeFolders(fresh, bundle), 0);
    ASSERT_EQ(::stat(bundle.c_str(), &after), 0);
    struct stat aside {};
    ASSERT_EQ(::stat(fresh.c_str(), &aside), 0);
    if (swaps % 2 == 0) {
        EXPECT_NE(after.st_ino, before.st_ino);
        EXPECT_EQ(aside.st_ino, before.st_ino);
    } else {
        EXPECT_EQ(after.st_ino, before.st_ino);
    }
}

TEST(FolderExchange, AMissingSideChangesNothing) {
    quillant::testing::TempDir t;
    fs::create_directories(t.path() / "quillant");
    EXPECT_EQ(linux_platform::exchangeFolders(t.path() / "absent", t.path() / "quillant"), ENOENT);
    EXPECT_TRUE(fs::is_directory(t.path() / "quillant"));
}
