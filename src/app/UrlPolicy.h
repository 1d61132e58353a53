#pragma once

#include <string_view>

namespace quillant::app {

// Whether a URL may be trusted to reach the service (code is fetched only as
// backend::isAcceptableDownloadURL allows):
// https anywhere, plain http only to a loopback host, or a local socket
// ("http+unix://" and its percent-encoded absolute path).
bool isTrustedURL(std::string_view url);

}  // namespace quillant::app
