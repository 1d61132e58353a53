#include "app/VersionCompare.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace quillant::app {

namespace {

std::optional<std::int64_t> parsePiece(std::string_view piece) {
    bool negative = false;
    if (!piece.empty() && (piece.front() == '+' || piece.front() == '-')) {
        negative = piece.front() == '-';
        piece.remove_prefix(1);
    }
    if (piece.empty() || !std::all_of(piece.begin(), piece.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    // Parsed as unsigned so that the most negative value still fits.
    std::uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), magnitude);
    if (error != std::errc() || end != piece.data() + piece.size()) return std::nullopt;  // out of range
    constexpr std::uint64_t maxPositive = static_cast<std::uint64_t>(INT64_MAX);
    if (!negative) {
        if (magnitude > maxPositive) return std::nullopt;
        return static_cast<std::int64_t>(magnitude);
    }
    if (magnitude > maxPositive + 1) return std::nullopt;
    return magnitude == maxPositive + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
}

}  // namespace

std::vector<std::int64_t> versionNumbers(std::string_view version) {
    std::vector<std::int64_t> numbers;
    std::size_t start = 0;
    while (start <= version.size()) {
        std::size_t dot = version.find('.', start);
        if (dot == std::string_view::npos) dot = version.size();
        std::string_view piece = version.substr(start, dot - start);
        if (!piece.empty())
            if (auto n = parsePiece(piece)) numbers.push_back(*n);
        start = dot + 1;
    }
    return numbers;
}

bool isNewer(std::string_view candidate, std::string_view than) {
    auto a = versionNumbers(candidate);
    auto b = versionNumbers(than);
    std::size_t length = std::max(a.size(), b.size());
    for (std::size_t i = 0; i < length; ++i) {
        std::int64_t x = i < a.size() ? a[i] : 0;
        std::int64_t y = i < b.size() ? b[i] : 0;
        if (x != y) return x > y;
    }
    return false;
}

}  // namespace quillant::app
