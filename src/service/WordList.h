#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string_view>

namespace quillant::service {

// Whether `word` is one of `list`'s words. The rules ask this of nearly every
// word against short fixed lists, and most words are in none: length and first
// letter settle most of them before a full comparison.
template <class List>
bool in(const List& list, std::string_view word) {
    for (std::string_view listed : list)
        if (listed.size() == word.size() && (word.empty() || (listed[0] == word[0] && listed == word))) return true;
    return false;
}
inline bool in(std::initializer_list<std::string_view> list, std::string_view word) {
    return in<std::initializer_list<std::string_view>>(list, word);
}

// Whether `word` is one of the words written out after it: each is a
// comparison the compiler settles on its known length, with no list to walk.
template <std::size_t... N>
inline bool oneOf(std::string_view word, const char (&... words)[N]) {
    return ((word.size() == N - 1 && std::memcmp(word.data(), words, N - 1) == 0) || ...);
}

namespace detail {

// A hash of a word's length and three of its letters (first, middle, last):
// enough to set apart the words of one list, and cheaper than reading all.
// Never asked of an empty word.
constexpr std::uint32_t hashOf(std::string_view w) {
    const std::size_t n = w.size();
    std::uint32_t h = static_cast<std::uint32_t>(n) * 0x9E3779B1u;
    h ^= static_cast<unsigned char>(w[0]) * 0x85EBCA77u;
    h ^= static_cast<unsigned char>(w[n / 2]) * 0xC2B2AE3Du;
    h ^= static_cast<unsigned char>(w[n - 1]) * 0x27D4EB2Fu;
    return h ^ (h >> 15);
}

// A fixed list's words indexed when compiling: a short list by length, so
// that a look-up reads only the words of the asked word's length; a long one
// in a hash table at most half full, so that one reads a word or two.
template <const auto& List>
struct Index {
    static constexpr std::size_t count = std::size(List);
    static constexpr bool hashed = count > 12;
    static constexpr std::size_t longest = [] {
        std::size_t n = 0;
        for (std::string_view w : List) n = std::max(n, w.size());
        return n;
    }();
    static constexpr std::size_t shortest = [] {
        std::size_t n = longest;
        for (std::string_view w : List) n = std::min(n, w.size());
        return n;
    }();
    static constexpr std::array<std::string_view, count> words = [] {
        std::array<std::string_view, count> a{};
        std::copy(std::begin(List), std::end(List), a.begin());
        std::sort(a.begin(), a.end(), [](std::string_view x, std::string_view y) {
            return x.size() != y.size() ? x.size() < y.size() : x < y;
        });
        return a;
    }();
    // Where the words of each length start in `words`, with the end last.
    static constexpr std::array<unsigned short, longest + 2> starts = [] {
        std::array<unsigned short, longest + 2> s{};
        std::size_t k = 0;
        for (std::size_t len = 0; len <= longest + 1; ++len) {
            while (k < count && words[k].size() < len) ++k;
            s[len] = static_cast<unsigned short>(k);
        }
        return s;
    }();
    static constexpr std::size_t slots = [] {
        std::size_t n = 1;
        while (n < 2 * count) n *= 2;
        return n;
    }();
    // Each slot holds a word's place in `words` plus one, or 0 when empty.
    static constexpr std::array<unsigned short, slots> table = [] {
        std::array<unsigned short, slots> t{};
        for (std::size_t k = 0; k < count; ++k) {
            std::size_t h = hashOf(words[k]) & (slots - 1);
            while (t[h] != 0) h = (h + 1) & (slots - 1);
            t[h] = static_cast<unsigned short>(k + 1);
        }
        return t;
    }();
};

}  // namespace detail

// The same for a fixed list named at compile time: `in<kModals>(word)`.
template <const auto& List>
bool in(std::string_view word) {
    using Index = detail::Index<List>;
    const std::size_t n = word.size();
    if (n > Index::longest || n < Index::shortest) return false;
    if (n == 0) return true;
    if constexpr (Index::hashed) {
        for (std::size_t h = detail::hashOf(word) & (Index::slots - 1); Index::table[h] != 0;
             h = (h + 1) & (Index::slots - 1)) {
            const std::string_view listed = Index::words[Index::table[h] - 1];
            if (listed.size() == n && std::memcmp(listed.data(), word.data(), n) == 0) return true;
        }
        return false;
    } else {
        const std::size_t end = Index::starts[n + 1];
        for (std::size_t k = Index::starts[n]; k < end; ++k) {
            const std::string_view listed = Index::words[k];
            if (listed[0] == word[0] && std::memcmp(listed.data(), word.data(), n) == 0) return true;
        }
        return false;
    }
}

// A fixed list made of others when compiling, for a rule that starts at the
// words of several.
template <const auto&... Lists>
constexpr auto joined() {
    std::array<std::string_view, (std::size(Lists) + ...)> all{};
    std::size_t k = 0;
    ((std::copy(std::begin(Lists), std::end(Lists), all.begin() + k), k += std::size(Lists)), ...);
    return all;
}

}  // namespace quillant::service
