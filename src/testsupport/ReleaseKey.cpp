#include "testsupport/ReleaseKey.h"

#include <stdexcept>

#include "testsupport/Process.h"
#include "testsupport/TempDir.h"

namespace quillant::testing {

namespace {
std::string releaseKey(const std::vector<std::string>& args) {
    std::vector<std::string> argv{QUILLANT_RELEASE_KEY_SCRIPT};
    argv.insert(argv.end(), args.begin(), args.end());
    auto result = runProgram(argv, ProcessOptions{});
    if (result.status != 0) throw std::runtime_error("scripts/release-key failed: " + result.err);
    while (!result.out.empty() && result.out.back() == '\n') result.out.pop_back();
    return result.out;
}
}  // namespace

ReleaseKey ReleaseKey::make(const std::filesystem::path& secret) {
    return ReleaseKey{secret, releaseKey({"new", secret.string()})};
}

ReleaseKey ReleaseKey::load(const std::filesystem::path& secret) {
    return ReleaseKey{secret, releaseKey({"public", secret.string()})};
}

std::string ReleaseKey::sign(const std::string& bytes) const {
    TempDir scratch;
    const auto file = scratch.path() / "release.zip";
    writeFile(file, bytes);
    releaseKey({"sign", secret.string(), file.string()});
    return readFile(file.string() + ".sig");
}

}  // namespace quillant::testing
