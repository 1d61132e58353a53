#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "credentials/TokenStore.h"
#include "testsupport/FolderModeWatcher.h"
#include "testsupport/TempDir.h"

using quillant::credentials::TokenStore;
using quillant::credentials::userHomeDirectory;
using quillant::testing::FolderModeWatcher;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

unsigned modeOf(const fs::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

// A fresh home directory, also set as $HOME, for each test.
class TokenStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = tmp.path();
        const char* old = std::getenv("HOME");
        if (old) oldHome = old;
        ::setenv("HOME", home.c_str(), 1);
        oldUmask = ::umask(022);
    }
    void TearDown() override {
        ::umask(oldUmask);
        if (oldHome) ::setenv("HOME", oldHome->c_str(), 1);
        std::error_code ignored;
        fs::permissions(home, fs::perms::owner_all, ignored);
    }

    TokenStore store() const { return TokenStore(*userHomeDirectory(std::getenv("HOME"))); }
    fs::path tokenPath() const { return home / ".config" / "quillant" / "token"; }
    std::vector<fs::path> filesInConfigDir() const {
        std::vector<fs::path> out;
        for (const auto& entry : fs::directory_iterator(home / ".config" / "quillant")) out.push_back(entry.path());
        return out;
    }

    quillant::testing::TempDir tmp;
    fs::path home;
    std::optional<std::string> oldHome;
    mode_t oldUmask = 022;
};

TEST_F(TokenStoreTest, SaveStoresTheTrimmedKeyPrivately) {
    struct Row {
        std::string given;
        std::string stored;
    };
    const Row rows[] = {
        {"  sk-abc\n", "sk-abc"},
        {"\t key with inner space \r\n", "key with inner space"},
        {"\u00a0sk-nbsp\u2003", "sk-nbsp"},  // Unicode blanks count too
        {"\u043a\u043b\u044e\u0447", "\u043a\u043b\u044e\u0447"},
        {"sk-a\tb", "sk-a\tb"},  // a tab inside can go out in a header field
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(store().save(row.given));
        EXPECT_EQ(readFile(tokenPath()), row.stored);
        EXPECT_EQ(modeOf(tokenPath()), 0600u);
        EXPECT_EQ(store().load(), row.stored);
    }
    EXPECT_EQ(filesInConfigDir(), std::vector<fs::path>{tokenPath()});  // no temporary files left
}

TEST_F(TokenStoreTest, SaveCreatesTheMissingDirectoriesOursPrivate) {
    for (mode_t mask : {mode_t(022), mode_t(0), mode_t(077)}) {
        fs::remove_all(home / ".config");
        ::umask(mask);
        ASSERT_TRUE(store().save("k"));
        EXPECT_TRUE(fs::is_directory(home / ".config" / "quillant"));
        EXPECT_EQ(modeOf(home / ".config" / "quillant"), 0700u) << "umask " << mask;
    }
}

TEST_F(TokenStoreTest, AKeyFileAnotherUserOwnsIsNotOurs) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file away";
    ASSERT_TRUE(store().save("sk-planted"));
    ASSERT_EQ(::chown(tokenPath().c_str(), 65534, 65534), 0);
    EXPECT_FALSE(store().load());
}

TEST_F(TokenStoreTest, BlankKeyIsRefusedAndTheOldFileKept) {
    writeFile(tokenPath(), "old-key\n");
    ::chmod(tokenPath().c_str(), 0600);
    for (const char* blank : {"", "   ", "\n\t\r\n", "\u2028"}) {
        EXPECT_FALSE(store().save(blank));
        EXPECT_EQ(readFile(tokenPath()), "old-key\n");
    }
    EXPECT_FALSE(TokenStore(home / "elsewhere").save(" "));
    EXPECT_FALSE(fs::exists(home / "elsewhere"));  // the disk is not touched at all
}

TEST_F(TokenStoreTest, KeysThatCouldNotBeReadBackOrSentAreRefusedBeforeTheDisk) {
    writeFile(tokenPath(), "old-key");
    ::chmod(tokenPath().c_str(), 0600);
    const std::string unsavable[] = {
        "sk-\xff\xfe",            // not UTF-8 at all
        "sk-\x80" "abc",           // a stray continuation byte
        "sk-\xc0\xaf",            // an overlong encoding of '/'
        "sk-\xed\xa0\x80",       // a UTF-16 surrogate
        "sk-\xe2\x82",            // cut off in the middle of a character
        "sk-a\nb",                 // a line break inside
        std::string("sk-a\0b", 6), // a NUL inside
        "sk-\x7f",
        std::string(64 * 1024 + 1, 'k'),
    };
    for (const auto& key : unsavable) {
        SCOPED_TRACE(key.substr(0, 16));
        EXPECT_TRUE(TokenStore::refusal(key));
        EXPECT_FALSE(store().save(key));
        EXPECT_EQ(readFile(tokenPath()), "old-key");
    }
    EXPECT_EQ(filesInConfigDir(), std::vector<fs::path>{tokenPath()});
    // The largest key that fits is stored and read back.
    const std::string largest(64 * 1024, 'k');
    EXPECT_FALSE(TokenStore::refusal(largest));
    ASSERT_TRUE(store().save(largest));
    EXPECT_EQ(store().load(), largest);
}

TEST_F(TokenStoreTest, ReplacingALooserFileLeavesItPrivate) {
    ::umask(0);
    writeFile(tokenPath(), "old");
    ::chmod(tokenPath().c_str(), 0666);
    ASSERT_TRUE(store().save("new"));
    EXPECT_EQ(modeOf(tokenPath()), 0600u);
    EXPECT_EQ(readFile(tokenPath()), "new");
}

// Watches the directory while saving: every file the key passes through must
// already be private when anyone could first see it.
TEST_F(TokenStoreTest, KeyIsNeverInAFileMorePermissiveThan0600) {
    ::umask(0);  // so that a file made with default permissions would be world-readable
    fs::create_directories(home / ".config" / "quillant");
    fs::path dir = home / ".config" / "quillant";
    std::vector<unsigned> modes;
    {
        FolderModeWatcher watcher(dir);
        for (int i = 0; i < 50; ++i) EXPECT_TRUE(store().save("sk-" + std::to_string(i)));
        modes = watcher.stop();
    }
    std::vector<unsigned> badModes;
    for (unsigned mode : modes)
        if (mode != 0 && (mode & 0177) != 0) badModes.push_back(mode);
    EXPECT_GT(modes.size(), 0u);
    EXPECT_TRUE(badModes.empty()) << "saw mode " << std::oct << badModes.front();
}

TEST_F(TokenStoreTest, FailingRenameLeavesNothingBehind) {
    // A non-empty directory where the token file belongs: the rename must fail.
    fs::create_directories(tokenPath() / "occupied");
    EXPECT_FALSE(store().save("sk-secret"));
    EXPECT_EQ(filesInConfigDir(), std::vector<fs::path>{tokenPath()});
    EXPECT_TRUE(fs::is_directory(tokenPath() / "occupied"));
    EXPECT_FALSE(store().load());
    EXPECT_FALSE(store().clear());  // not a file we may remove
}

TEST_F(TokenStoreTest, UnwritablePlacesFail) {
    writeFile(home / ".config", "a file where a directory belongs");
    EXPECT_FALSE(store().save("k"));

    fs::remove(home / ".config");
    fs::create_directories(home / ".config" / "quillant");
    ::chmod((home / ".config" / "quillant").c_str(), 0500);
    if (::geteuid() != 0) {
        EXPECT_FALSE(store().save("k"));  // root writes anyway
    }
    ::chmod((home / ".config" / "quillant").c_str(), 0700);
}

TEST_F(TokenStoreTest, LoadTrimsAndRejectsWhatIsNoKey) {
    struct Row {
        std::string bytes;
        std::optional<std::string> key;
    };
    const Row rows[] = {
        {"sk-abc\n", "sk-abc"},
        {"  sk-abc  \r\n\n", "sk-abc"},
        {"\n", std::nullopt},
        {"", std::nullopt},
        {"sk-\xff", std::nullopt},                          // not UTF-8
        {std::string(64 * 1024 + 1, 'k'), std::nullopt},  // no key is this large
    };
    for (const auto& row : rows) {
        writeFile(tokenPath(), row.bytes);
        EXPECT_EQ(store().load(), row.key) << row.bytes.substr(0, 20);
    }
}

TEST_F(TokenStoreTest, LoadOfMissingOrStrangeFilesIsNone) {
    EXPECT_FALSE(store().load());
    fs::create_directories(tokenPath().parent_path());
    ASSERT_EQ(::mkfifo(tokenPath().c_str(), 0600), 0);
    EXPECT_FALSE(store().load());  // and does not hang on the pipe
    fs::remove(tokenPath());
    fs::create_directories(tokenPath());
    EXPECT_FALSE(store().load());
}

TEST_F(TokenStoreTest, ClearIsIdempotent) {
    EXPECT_TRUE(store().clear());
    ASSERT_TRUE(store().save("k"));
    EXPECT_TRUE(store().clear());
    EXPECT_FALSE(fs::exists(tokenPath()));
    EXPECT_FALSE(store().load());
    EXPECT_TRUE(store().clear());
}

TEST(UserHomeDirectory, PrefersAnAbsoluteHomeVariable) {
    EXPECT_EQ(userHomeDirectory("/home/someone"), fs::path("/home/someone"));
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    for (const char* fallback : {static_cast<const char*>(nullptr), "", "relative/home"})
        EXPECT_EQ(userHomeDirectory(fallback), fs::path(entry->pw_dir));
}

}  // namespace
