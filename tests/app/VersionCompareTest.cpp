#include <gtest/gtest.h>

#include "app/VersionCompare.h"

using quillant::app::isNewer;
using quillant::app::versionNumbers;

namespace {

TEST(VersionCompare, Table) {
    struct Row {
        const char* candidate;
        const char* than;
        bool newer;
    };
    const Row rows[] = {
        {"1.3.0", "1.2.9", true},
        {"1.2.9", "1.3.0", false},
        {"1.2", "1.2.0", false},
        {"1.2.0", "1.2", false},
        {"1.10.0", "1.9.9", true},
        {"1.2.1", "1.2", true},
        {"2.0.0-beta", "1.9", true},     // "0-beta" is skipped: 2 vs 1.9
        {"1.2.beta.3", "1.2.2", true},   // 1.2.3
        {"v2.0", "0.0.1", false},        // "v2" is skipped: 0 vs 0.0.1
        {"1.0.0", "0.0.0", true},
        {"garbage", "0.0.0", false},     // no numbers compares like 0.0.0
        {"..1..2.", "1.1", true},        // empty pieces add nothing
        {"1.-1", "1", false},            // signed comparison
        {"1.+2", "1.1", true},
        {"1.99999999999999999999", "1.5", false},  // out of range: skipped
        {"1.2.3", "1.2.3", false},
    };
    for (const auto& row : rows) EXPECT_EQ(isNewer(row.candidate, row.than), row.newer) << row.candidate << " vs " << row.than;
}

TEST(VersionCompare, Pieces) {
    using V = std::vector<std::int64_t>;
    EXPECT_EQ(versionNumbers("1.2.beta.3"), (V{1, 2, 3}));
    EXPECT_EQ(versionNumbers("v2.0"), (V{0}));
    EXPECT_EQ(versionNumbers(""), V{});
    EXPECT_EQ(versionNumbers("+.-.1 .2"), (V{2}));
    EXPECT_EQ(versionNumbers("-9223372036854775808.9223372036854775807.9223372036854775808"),
              (V{INT64_MIN, INT64_MAX}));
}

}  // namespace
