#include "text/Text.h"

#include <algorithm>

#include <unicode/brkiter.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>

namespace quillant::text {

namespace {
icu::UnicodeString fromUTF8(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), int32_t(s.size())));
}
std::string toStd(const icu::UnicodeString& u) {
    std::string out;
    u.toUTF8String(out);
    return out;
}
bool isASCII(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}
}  // namespace

std::size_t graphemeCount(std::string_view utf8) {
    if (utf8.empty()) return 0;
    // Fast path: ASCII without CR, and the Latin letters of U+0080..U+017F
    // (two bytes, lead 0xC2..0xC5), are one cluster per code point: none of
    // them joins its neighbour (CR LF is one cluster, combining marks start
    // at U+0300 and take the slow path).
    std::size_t simple = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i, ++simple) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80 && c != '\r') continue;
        if (c >= 0xC2 && c <= 0xC5 && i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xC0) == 0x80) {
            ++i;
            continue;
        }
        simple = std::string_view::npos;
        break;
    }
    if (simple != std::string_view::npos) return simple;

    // Making a break iterator costs far more than counting a word's clusters:
    // each thread keeps one.
    thread_local std::unique_ptr<icu::BreakIterator> it = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_FAILURE(status) ? nullptr : std::move(made);
    }();
    icu::UnicodeString u = fromUTF8(utf8);
    if (!it) return std::size_t(u.countChar32());
    it->setText(u);
    std::size_t count = 0;
    for (int32_t p = it->next(); p != icu::BreakIterator::DONE; p = it->next()) ++count;
    return count;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    // ASCII is its own canonical form: two different ASCII texts differ
    // without loading ICU's normaliser (code and data the agent would keep).
    // One side alone being ASCII proves nothing: U+212A KELVIN SIGN is K.
    if (isASCII(a) && isASCII(b)) return false;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) return false;
    icu::UnicodeString na = nfd->normalize(fromUTF8(a), status);
    icu::UnicodeString nb = nfd->normalize(fromUTF8(b), status);
    if (U_FAILURE(status)) return false;
    return na == nb;
}

std::string trimmed(std::string_view utf8) {
    // ASCII answered here: a key or a word from the settings then never
    // loads ICU's property tables into the agent.
    auto isSpace = [](UChar32 c) {
        if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
        return u_hasBinaryProperty(c, UCHAR_WHITE_SPACE) != 0;
    };
    int32_t length = int32_t(utf8.size());
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    int32_t start = 0;
    while (start < length) {
        int32_t i = start;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0 || !isSpace(c)) break;
        start = i;
    }
    int32_t end = length;
    while (end > start) {
        int32_t i = end;
        UChar32 c;
        U8_PREV(s, start, i, c);
        if (c < 0 || !isSpace(c)) break;
        end = i;
    }
    return std::string(utf8.substr(std::size_t(start), std::size_t(end - start)));
}

std::string lowercased(std::string_view utf8) {
    // Key names and settings words are ASCII: the agent then never loads
    // ICU's case mapping, which it would keep for its whole life.
    if (isASCII(utf8)) {
        std::string out(utf8);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        return out;
    }
    icu::UnicodeString u = fromUTF8(utf8);
    u.toLower(icu::Locale::getRoot());
    return toStd(u);
}

std::u16string toUTF16(std::string_view utf8) {
    icu::UnicodeString u = fromUTF8(utf8);
    return std::u16string(u.getBuffer(), std::size_t(u.length()));
}

std::string toUTF8(std::u16string_view utf16) {
    icu::UnicodeString u(utf16.data(), int32_t(utf16.size()));
    return toStd(u);
}

bool isValidUTF8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    int32_t length = int32_t(bytes.size());
    int32_t i = 0;
    while (i < length) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

}  // namespace quillant::text
