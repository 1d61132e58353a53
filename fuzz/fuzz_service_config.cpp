// quillant-service's config file ("name = value" lines) as the user writes it,
// read through the whole command line: every accepted file gives a
// configuration the service can serve with.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "service/Config.h"

using namespace quillant::service;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file(reinterpret_cast<const char*>(data), size);
    auto env = [](const std::string& name) -> std::optional<std::string> {
        if (name == "HOME") return std::string("/home/fuzz");
        if (name == "XDG_RUNTIME_DIR") return std::string("/run/user/1000");
        return std::nullopt;
    };
    // The config file is the input; any other file it names (an upstream key
    // file) holds a key, except one that does not exist.
    auto read = [&](const std::string& path) -> std::optional<std::string> {
        if (path == "/fuzz/service.conf") return file;
        if (path.find("missing") != std::string::npos) return std::nullopt;
        return std::string("sk-upstream\n");
    };
    Invocation invocation;
    try {
        invocation = parseCommandLine({"--config", "/fuzz/service.conf"}, env, read);
    } catch (const ConfigError& e) {
        FUZZ_CHECK(e.what()[0] != '\0');
        return 0;
    }
    const ServiceConfig& c = invocation.config;
    FUZZ_CHECK(invocation.action == Action::serve);
    FUZZ_CHECK(c.port >= 0 && c.port <= 65535);
    FUZZ_CHECK(c.maxChars >= 1 && c.threads >= 1 && c.threads <= 256);
    FUZZ_CHECK(!c.keysFile.empty());
    FUZZ_CHECK(c.upstream.timeout.count() > 0);
    if (c.socketPath) {
        FUZZ_CHECK(!c.tls);
        FUZZ_CHECK(c.socketPath->is_absolute());
    } else if (!c.tls) {
        FUZZ_CHECK(isLoopbackHost(c.host));  // plain HTTP never leaves the computer
    } else {
        FUZZ_CHECK(!c.tls->certificate.empty() && !c.tls->privateKey.empty());
    }
    if (c.corrector == CorrectorKind::upstream) FUZZ_CHECK(!c.upstream.baseURL.empty() && !c.upstream.model.empty());
    if (c.release) FUZZ_CHECK(!c.release->version.empty() && !c.release->downloadURL.empty());
    return 0;
}
