// The entries handed to the clipboard keeper: every byte through, and
// nothing taken from data that is cut short or malformed.
#include <gtest/gtest.h>

#include "platform/linux/wayland/ClipboardKeeper.h"
#include "testsupport/TempDir.h"

namespace quillant::linux_platform {
namespace {

using clipboard::Bytes;

TEST(ClipboardKeeper, EntriesTravelByteForByte) {
    const ClipboardEntries entries{{"text/plain;charset=utf-8", Bytes("grüße\n")},
                                   {"application/x-empty", Bytes("")},
                                   {"image/png", Bytes(std::string("\x89PNG\0\0\xff", 7))}};
    EXPECT_EQ(decodeClipboardEntries(encodeClipboardEntries(entries)), entries);
    EXPECT_EQ(decodeClipboardEntries(""), ClipboardEntries{});
}

TEST(ClipboardKeeper, CutOrMalformedDataGivesNothing) {
    const std::string whole = encodeClipboardEntries({{"text/plain", Bytes("hello")}});
    for (std::size_t cut = 1; cut < whole.size(); ++cut)
        EXPECT_EQ(decodeClipboardEntries(std::string_view(whole).substr(0, cut)), std::nullopt) << cut;
    // A type without a name.
    EXPECT_EQ(decodeClipboardEntries(encodeClipboardEntries({{"", Bytes("x")}})), std::nullopt);
    // A length far beyond the data.
    std::string huge = whole;
    huge[4 + 10] = '\x7f';
    EXPECT_EQ(decodeClipboardEntries(huge), std::nullopt);
}

// Content marked for clipboard managers to leave alone (what a fix puts on
// the clipboard, a password manager's secret) is not kept after quillant quits:
// no keeper is started for it.
TEST(ClipboardKeeper, ContentMarkedSecretIsNotKept) {
    quillant::testing::TempDir dir;
    const auto keeper = dir.path() / "keeper";
    const auto started = dir.path() / "started";
    quillant::testing::writeFile(keeper, "#!/bin/sh\ntouch '" + started.string() + "'\n");
    std::filesystem::permissions(keeper, std::filesystem::perms(0755));
    const ClipboardEntries secret{{"text/plain;charset=utf-8", Bytes("hunter2")},
                                  {"x-kde-passwordManagerHint", Bytes("secret")}};
    std::string error;
    EXPECT_FALSE(handOverToClipboardKeeper(keeper.string(), secret, std::chrono::seconds(2), error));
    EXPECT_NE(error.find("marked secret"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(started));
}

}  // namespace
}  // namespace quillant::linux_platform
