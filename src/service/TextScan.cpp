#include "service/TextScan.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdint>

namespace quillant::service {

namespace {

// Decodes the code point at pos; an ill-formed sequence yields a negative value.
UChar32 decodeAt(std::string_view text, std::size_t pos, std::size_t& next) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    auto i = int32_t(pos);
    UChar32 c;
    U8_NEXT(s, i, int32_t(text.size()), c);
    next = std::size_t(i);
    return c;
}

UChar32 decodeBefore(std::string_view text, std::size_t pos) {
    if (pos == 0) return -1;
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    auto i = int32_t(pos);
    UChar32 c;
    U8_PREV(s, 0, i, c);
    return c;
}

bool isMark(UChar32 c) {
    auto type = u_charType(c);
    return type == U_NON_SPACING_MARK || type == U_COMBINING_SPACING_MARK || type == U_ENCLOSING_MARK;
}
bool isWordChar(UChar32 c) { return c >= 0 && (c == '_' || u_isalnum(c) || isMark(c)); }
bool isLetter(UChar32 c) { return c >= 0 && (u_isalpha(c) || isMark(c)); }
bool isApostrophe(UChar32 c) { return c == '\'' || c == 0x2019; }
bool isWhite(UChar32 c) { return c >= 0 && u_hasBinaryProperty(c, UCHAR_WHITE_SPACE); }

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = s[i];
        if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
        if (a != prefix[i]) return false;
    }
    return true;
}

// A whitespace-free run that must not be edited: a URL or an e-mail-like
// "x@y". Returns its length after dropping trailing sentence punctuation.
std::size_t verbatimRunLength(std::string_view run) {
    bool link = startsWithNoCase(run, "http://") || startsWithNoCase(run, "https://") ||
                startsWithNoCase(run, "www.") || run.find("://") != std::string_view::npos;
    bool address = false;
    for (std::size_t at = run.find('@'); at != std::string_view::npos && !address; at = run.find('@', at + 1)) {
        std::size_t next = 0;
        address = at > 0 && isWordChar(decodeBefore(run, at)) && at + 1 < run.size() &&
                  isWordChar(decodeAt(run, at + 1, next));
    }
    if (!link && !address) return 0;
    bool hasOpenParen = run.find('(') != std::string_view::npos;
    std::size_t length = run.size();
    while (length > 0) {
        char last = run[length - 1];
        bool trailing = std::string_view(".,;:!?'\"]}>").find(last) != std::string_view::npos ||
                        (last == ')' && !hasOpenParen);
        if (!trailing) break;
        --length;
    }
    return length;
}

template <typename Fn>
void forEachCodePoint(std::string_view text, Fn fn) {
    for (std::size_t pos = 0, next = 0; pos < text.size(); pos = next) fn(decodeAt(text, pos, next));
}

std::string encode(UChar32 c) {
    char buffer[U8_MAX_LENGTH];
    int32_t length = 0;
    U8_APPEND_UNSAFE(buffer, length, c);
    return std::string(buffer, std::size_t(length));
}

}  // namespace

std::vector<Token> tokenize(std::string_view text) {
    std::vector<Token> tokens;
    auto emit = [&](TokenKind kind, std::size_t from, std::size_t to) {
        tokens.push_back({kind, std::string(text.substr(from, to - from))});
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t next = 0;
        UChar32 c = decodeAt(text, pos, next);

        if (c == '\r' && next < text.size() && text[next] == '\n') {
            emit(TokenKind::lineBreak, pos, next + 1);
            pos = next + 1;
            continue;
        }
        if (c == '\n' || c == '\r' || c == 0x85 || c == 0x2028 || c == 0x2029) {
            emit(TokenKind::lineBreak, pos, next);
            pos = next;
            continue;
        }
        if (c == ' ' || c == '\t') {
            std::size_t end = pos;
            while (end < text.size() && (text[end] == ' ' || text[end] == '\t')) ++end;
            emit(TokenKind::space, pos, end);
            pos = end;
            continue;
        }
        if (c == '`') {
            std::size_t end = std::string_view::npos;
            if (text.substr(pos, 3) == "```") {
                auto close = text.find("```", pos + 3);
                end = close == std::string_view::npos ? text.size() : close + 3;
            } else {
                auto close = text.find_first_of("`\r\n", pos + 1);
                if (close != std::string_view::npos && text[close] == '`') end = close + 1;
            }
            if (end != std::string_view::npos) {
                emit(TokenKind::verbatim, pos, end);
                pos = end;
                continue;
            }
        }
        if (c == '@' && !isWordChar(decodeBefore(text, pos)) && next < text.size()) {
            std::size_t after = 0;
            if (isWordChar(decodeAt(text, next, after))) {
                std::size_t end = next;
                while (end < text.size()) {
                    std::size_t n = 0;
                    UChar32 d = decodeAt(text, end, n);
                    if (!isWordChar(d) && d != '.' && d != '-') break;
                    end = n;
                }
                while (text[end - 1] == '.' || text[end - 1] == '-') --end;
                // A label may go on with capitalised name parts: "@Jane Doe".
                for (int parts = 0; parts < 2 && end + 1 < text.size() && text[end] == ' '; ++parts) {
                    std::size_t wordEnd = 0;
                    UChar32 first = decodeAt(text, end + 1, wordEnd);
                    if (first < 0 || !u_isupper(first)) break;
                    while (wordEnd < text.size()) {
                        std::size_t n = 0;
                        if (!isWordChar(decodeAt(text, wordEnd, n))) break;
                        wordEnd = n;
                    }
                    end = wordEnd;
                }
                emit(TokenKind::verbatim, pos, end);
                pos = end;
                continue;
            }
        }
        if (isWordChar(c)) {
            std::size_t runEnd = next;
            while (runEnd < text.size()) {
                std::size_t n = 0;
                if (isWhite(decodeAt(text, runEnd, n))) break;
                runEnd = n;
            }
            if (std::size_t length = verbatimRunLength(text.substr(pos, runEnd - pos)); length > 0) {
                emit(TokenKind::verbatim, pos, pos + length);
                pos += length;
                continue;
            }
            std::size_t end = next;
            while (end < text.size()) {
                std::size_t n = 0;
                UChar32 d = decodeAt(text, end, n);
                if (isWordChar(d)) {
                    end = n;
                    continue;
                }
                std::size_t n2 = 0;
                if (isApostrophe(d) && n < text.size() && isLetter(decodeAt(text, n, n2))) {
                    end = n;
                    continue;
                }
                break;
            }
            emit(TokenKind::word, pos, end);
            pos = end;
            continue;
        }
        emit(TokenKind::punct, pos, next);
        pos = next;
    }
    return tokens;
}

std::string join(const std::vector<Token>& tokens) {
    std::string out;
    for (const auto& t : tokens) out += t.text;
    return out;
}

std::vector<std::string> mentionHandles(std::string_view text) {
    std::vector<std::string> handles;
    for (const auto& t : tokenize(text))
        if (t.kind == TokenKind::verbatim && t.text.front() == '@') handles.push_back(t.text.substr(0, t.text.find(' ')));
    return handles;
}

bool containsInOrder(std::string_view text, const std::vector<std::string>& handles) {
    std::size_t from = 0;
    for (const auto& h : handles) {
        auto at = text.find(h, from);
        if (at == std::string_view::npos) return false;
        from = at + h.size();
    }
    return true;
}

bool isPlainWord(std::string_view word) {
    if (word.empty()) return false;
    bool plain = true;
    forEachCodePoint(word, [&](UChar32 c) { plain = plain && (isLetter(c) || isApostrophe(c)); });
    return plain;
}

bool startsLowercase(std::string_view word) {
    std::size_t next = 0;
    UChar32 c = word.empty() ? -1 : decodeAt(word, 0, next);
    return c >= 0 && u_islower(c);
}

bool hasUppercaseAfterFirst(std::string_view word) {
    if (word.empty()) return false;
    std::size_t next = 0;
    decodeAt(word, 0, next);
    bool upper = false;
    forEachCodePoint(word.substr(next), [&](UChar32 c) { upper = upper || (c >= 0 && (u_isupper(c) || u_istitle(c))); });
    return upper;
}

bool isAllUppercase(std::string_view word) {
    bool letter = false, lower = false;
    forEachCodePoint(word, [&](UChar32 c) {
        if (c < 0) return;
        letter = letter || u_isalpha(c);
        lower = lower || u_islower(c);
    });
    return letter && !lower;
}

std::string capitalizedFirst(std::string_view word) {
    if (word.empty()) return {};
    std::size_t next = 0;
    UChar32 c = decodeAt(word, 0, next);
    if (c < 0) return std::string(word);
    return encode(u_totitle(c)) + std::string(word.substr(next));
}

std::string uppercased(std::string_view word) {
    std::string out;
    for (std::size_t pos = 0, next = 0; pos < word.size(); pos = next) {
        UChar32 c = decodeAt(word, pos, next);
        out += c < 0 ? std::string(word.substr(pos, next - pos)) : encode(u_toupper(c));
    }
    return out;
}

}  // namespace quillant::service
