// Raw bytes as they arrive on a connection to quillant-service: request line,
// headers and body, one request or several in a row, all through the
// service's own request handling (parsing, routing, authentication, the
// JSON body, the corrector).
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "runtime/Logger.h"
#include "service/Config.h"
#include "service/KeyStore.h"
#include "service/QuotaTracker.h"
#include "service/RuleCorrector.h"
#include "service/Service.h"

using namespace quillant;
using namespace quillant::service;

namespace {

// The key the seed corpus uses; an answer must never repeat it.
constexpr std::string_view kKey = "qk_fuzz_0123456789abcdef";

struct World {
    NullLogger log;
    std::filesystem::path dir;
    ServiceConfig config;
    std::unique_ptr<KeyStore> keys;
    std::unique_ptr<QuotaTracker> quota;
    RuleCorrector rules;
    std::unique_ptr<Service> service;

    World() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillant-fuzz-XXXXXX").string();
        dir = ::mkdtemp(pattern.data());
        std::ofstream(dir / "keys") << kKey << "\n";
        config.keysFile = dir / "keys";
        config.quota.limit = 0;  // no limit: every run sees the same service
        config.release = Release{"1.2.3", "https://example.com/q.zip"};
        keys = std::make_unique<KeyStore>(config.keysFile, log);
        quota = std::make_unique<QuotaTracker>(config.quota, [] { return WallClock::now(); });
        service = std::make_unique<Service>(config, *keys, *quota, rules, log);
    }
    ~World() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

World& world() {
    static World w;
    return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view request(reinterpret_cast<const char*>(data), size);
    std::string answer = world().service->handleRaw(request);
    // The answers follow each other whole; each final one carries its request
    // id (an interim "100 Continue" carries nothing), and none shows the key.
    std::size_t at = 0;
    while (at < answer.size()) {
        FUZZ_CHECK(answer.compare(at, 9, "HTTP/1.1 ") == 0);
        std::size_t headEnd = answer.find("\r\n\r\n", at);
        FUZZ_CHECK(headEnd != std::string::npos);
        std::string_view head(answer.data() + at, headEnd - at);
        if (!head.starts_with("HTTP/1.1 100 ")) FUZZ_CHECK(head.find("\r\nX-Request-Id: req_") != std::string::npos);
        std::size_t length = 0;
        if (auto field = head.find("\r\nContent-Length: "); field != std::string::npos)
            length = std::stoul(std::string(head.substr(field + 18, 20)));
        std::size_t next = headEnd + 4 + length;
        // An answer to HEAD announces its length but sends no body.
        if ((next > answer.size() || answer.compare(next, 9, "HTTP/1.1 ") != 0) &&
            (headEnd + 4 == answer.size() || answer.compare(headEnd + 4, 9, "HTTP/1.1 ") == 0))
            next = headEnd + 4;
        FUZZ_CHECK(next <= answer.size());
        at = next;
    }
    // A text may hold the key and comes back corrected; beyond that, no answer repeats it.
    auto count = [](std::string_view hay, std::string_view needle) {
        std::size_t n = 0;
        for (std::size_t at = hay.find(needle); at != std::string_view::npos; at = hay.find(needle, at + 1)) ++n;
        return n;
    };
    // Only the Authorization headers' keys are discounted; a text that merely
    // reads "…: Bearer KEY" is text, and comes back as such.
    auto headerKeys = [](std::string_view hay) {
        const std::string field = ": Bearer " + std::string(kKey);
        constexpr std::string_view name = "\nauthorization";
        std::size_t n = 0;
        for (std::size_t at = hay.find(field); at != std::string_view::npos; at = hay.find(field, at + 1)) {
            if (at < name.size()) continue;
            std::string_view before = hay.substr(at - name.size(), name.size());
            bool same = true;
            for (std::size_t i = 0; i < name.size(); ++i)
                same = same && std::tolower(static_cast<unsigned char>(before[i])) == name[i];
            if (same) ++n;
        }
        return n;
    };
    FUZZ_CHECK(count(answer, kKey) <= count(request, kKey) - headerKeys(request));
    return 0;
}
