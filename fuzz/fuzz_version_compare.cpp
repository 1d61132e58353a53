// Release version strings as the service reports them, compared with ours.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "app/VersionCompare.h"

using quillant::app::isNewer;
using quillant::app::versionNumbers;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Up to three versions separated by newlines.
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::string_view v[3];
    for (auto& part : v) {
        auto end = in.find('\n');
        part = in.substr(0, end);
        in = end == std::string_view::npos ? std::string_view() : in.substr(end + 1);
    }
    for (auto& part : v) (void)versionNumbers(part);

    // A strict order: irreflexive, asymmetric, transitive.
    FUZZ_CHECK(!isNewer(v[0], v[0]));
    bool ab = isNewer(v[0], v[1]);
    bool ba = isNewer(v[1], v[0]);
    FUZZ_CHECK(!(ab && ba));
    if (ab && isNewer(v[1], v[2])) FUZZ_CHECK(isNewer(v[0], v[2]));
    return 0;
}
