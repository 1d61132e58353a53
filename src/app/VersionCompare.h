#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace quillant::app {

// The numeric pieces of a dotted version: empty pieces are dropped, and so is
// any piece that is not an optionally signed decimal integer ("0-beta", "v2").
std::vector<std::int64_t> versionNumbers(std::string_view version);

// Whether `candidate` is strictly newer than `than`, comparing the numbers
// position by position with missing positions as 0 (so 1.2 equals 1.2.0).
bool isNewer(std::string_view candidate, std::string_view than);

}  // namespace quillant::app
