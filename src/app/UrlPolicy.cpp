#include "app/UrlPolicy.h"

#include <cctype>
#include <string>

#include "backend/BackendProtocol.h"

namespace quillant::app {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isLoopbackHost(const std::string& host) {
    if (host == "localhost" || host == "[::1]") return true;
    // 127.0.0.0/8 as a dotted quad of decimal numbers.
    if (host.rfind("127.", 0) != 0) return false;
    int parts = 0;
    std::size_t i = 0;
    while (i <= host.size()) {
        std::size_t j = host.find('.', i);
        if (j == std::string::npos) j = host.size();
        std::string piece = host.substr(i, j - i);
        if (piece.empty() || piece.size() > 3) return false;
        for (char c : piece)
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        if (std::stoi(piece) > 255) return false;
        ++parts;
        i = j + 1;
    }
    return parts == 4;
}

}  // namespace

bool isTrustedURL(std::string_view url) {
    std::string s = lower(url);
    std::string_view rest;
    bool https = false;
    // A socket of our own; whether its folder is private is checked on connecting.
    if (s.rfind("http+unix://", 0) == 0) return backend::parseLocalSocketURL(url).has_value();
    if (s.rfind("https://", 0) == 0) {
        https = true;
        rest = std::string_view(url).substr(8);
    } else if (s.rfind("http://", 0) == 0) {
        rest = std::string_view(url).substr(7);
    } else {
        return false;
    }
    std::size_t end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    if (authority.find('@') != std::string_view::npos) return false;  // no credentials in URLs we act on
    if (authority.empty()) return false;
    for (char c : authority)
        if (std::isspace(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) < 0x20) return false;
    std::string host;
    if (authority.front() == '[') {
        auto close = authority.find(']');
        if (close == std::string_view::npos) return false;
        host = lower(authority.substr(0, close + 1));
        auto after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':') return false;
    } else {
        host = lower(authority.substr(0, authority.find(':')));
    }
    if (host.empty()) return false;
    return https || isLoopbackHost(host);
}

}  // namespace quillant::app
