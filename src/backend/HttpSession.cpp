#include "backend/HttpSession.h"

#include <algorithm>
#include <cctype>

namespace quillant::backend {

namespace {
bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}
}  // namespace

std::optional<std::string> HttpResponse::header(std::string_view name) const {
    for (const auto& [key, value] : headers)
        if (equalsIgnoringCase(key, name)) return value;
    return std::nullopt;
}

Task<HttpResult> perform(HttpSession& session, HttpRequest request) {
    // A named awaiter: GCC 12 mishandles temporaries with destructors inside co_await.
    detail::TransferAwaiter transfer([&session, &request](HttpSession::Completion done) {
        return session.send(std::move(request), std::move(done));
    });
    co_return co_await transfer;
}

Task<HttpResult> performDownload(HttpSession& session, HttpRequest request, std::filesystem::path destination) {
    detail::TransferAwaiter transfer([&session, &request, &destination](HttpSession::Completion done) {
        return session.download(std::move(request), std::move(destination), std::move(done));
    });
    co_return co_await transfer;
}

}  // namespace quillant::backend
