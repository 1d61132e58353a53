#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
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

// A fixed list's words ordered by length, made when compiling: a look-up
// reads only the words of the asked word's length.
template <const auto& List>
struct LengthIndex {
    static constexpr std::size_t count = std::size(List);
    static constexpr std::size_t longest = [] {
        std::size_t n = 0;
        for (std::string_view w : List) n = std::max(n, w.size());
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
};

}  // namespace detail

// The same for a fixed list named at compile time: `in<kModals>(word)`.
template <const auto& List>
bool in(std::string_view word) {
    using Index = detail::LengthIndex<List>;
    const std::size_t n = word.size();
    if (n > Index::longest) return false;
    const std::size_t end = Index::starts[n + 1];
    if (n == 0) return end > Index::starts[0];
    for (std::size_t k = Index::starts[n]; k < end; ++k) {
        const std::string_view listed = Index::words[k];
        if (listed[0] == word[0] && std::memcmp(listed.data(), word.data(), n) == 0) return true;
    }
    return false;
}

}  // namespace quillant::service
