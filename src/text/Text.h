#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text helpers over UTF-8 strings. Ill-formed UTF-8 is read with U+FFFD in
// place of each bad sequence.
namespace quillant::text {

// Length in user-perceived characters (extended grapheme clusters).
std::size_t graphemeCount(std::string_view utf8);

// Equality under Unicode canonical equivalence ("e" + U+0301 == "é").
bool canonicallyEqual(std::string_view a, std::string_view b);

// Removes white space and newlines (the Unicode White_Space set) at both ends.
std::string trimmed(std::string_view utf8);

// Full Unicode lower-case mapping (root locale), no other normalisation.
std::string lowercased(std::string_view utf8);

// UTF-8 <-> UTF-16 (code units as char16_t).
std::u16string toUTF16(std::string_view utf8);
std::string toUTF8(std::u16string_view utf16);

// Whether the bytes are well-formed UTF-8.
bool isValidUTF8(std::string_view bytes);

}  // namespace quillant::text
