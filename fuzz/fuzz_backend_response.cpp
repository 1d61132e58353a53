// The service's answers as they come off the wire: a status and a body.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "FuzzCheck.h"
#include "backend/BackendProtocol.h"

using namespace quillant::backend;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first two bytes pick the status: mostly real HTTP codes, sometimes
    // anything an int can hold.
    if (size < 2) return 0;
    int status = (data[0] << 8 | data[1]) % 1000;
    if (data[0] == 0xff) status = -status;
    std::string_view body(reinterpret_cast<const char*>(data + 2), size - 2);

    auto fix = interpretFixResponse(status, body);
    if (auto* error = std::get_if<BackendError>(&fix)) {
        FUZZ_CHECK(!error->userMessage().empty());
        (void)isRetryable(*error);
    } else {
        FUZZ_CHECK(status >= 200 && status < 300);
    }

    (void)interpretValidateResponse(status, body);
    if (auto version = interpretVersionResponse(body)) FUZZ_CHECK(isAcceptableDownloadURL(version->downloadURL));
    (void)decodeErrorEnvelope(body);
    (void)decodeFixResponse(body);
    (void)decodeValidateResponse(body);
    (void)fallbackEnvelope(status);
    return 0;
}
