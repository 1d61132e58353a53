#pragma once

#include <cstddef>
#include <initializer_list>
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

}  // namespace quillant::service
