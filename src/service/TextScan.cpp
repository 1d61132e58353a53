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
// ASCII is answered without ICU: it is most of what is typed, and these run on every character.
bool isAsciiAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }
bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isWordChar(UChar32 c) {
    if (c >= 0 && c < 0x80) return c == '_' || isAsciiAlnum(char(c));
    return c >= 0 && (u_isalnum(c) || isMark(c));
}
bool isLetter(UChar32 c) {
    if (c >= 0 && c < 0x80) return isAsciiLetter(char(c));
    return c >= 0 && (u_isalpha(c) || isMark(c));
}
bool isApostrophe(UChar32 c) { return c == '\'' || c == 0x2019; }
bool isWhite(UChar32 c) {
    if (c >= 0 && c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r');
    return c >= 0 && u_hasBinaryProperty(c, UCHAR_WHITE_SPACE);
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = s[i];
        if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
        if (a != prefix[i]) return false;
    }
    return true;
}

std::size_t trimTrailingPunctuation(std::string_view run) {
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

// "example.com", "docs.python.org/3/", "main.cpp", "Node.js": dotted labels
// whose last one has two letters or more (not "e.g" nor "3.5"); a host with
// a port; an IPv4 address.
bool isDomainOrFileName(std::string_view run) {
    std::size_t end = run.find_first_of("/:?#");
    std::string_view host = run.substr(0, end);
    // "localhost:8080", "127.0.0.1:3000/x", "10.0.0.2".
    auto digitsFrom = [&](std::size_t i) {
        std::size_t j = i;
        while (j < run.size() && run[j] >= '0' && run[j] <= '9') ++j;
        return j > i && (j == run.size() || run[j] == '/') ? j : 0;
    };
    bool hostName = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return isAsciiAlnum(c) || c == '.' || c == '-';
    });
    if (hostName && end != std::string_view::npos && run[end] == ':' && digitsFrom(end + 1)) return true;
    if (std::count(host.begin(), host.end(), '.') == 3 &&
        std::all_of(host.begin(), host.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); }) &&
        host.find("..") == std::string_view::npos && host.front() != '.' && host.back() != '.')
        return true;
    if (host.empty() || host.front() == '.' || host.back() == '.') return false;
    std::size_t dots = 0;
    for (char c : host) {
        if (c == '.') ++dots;
        else if (!isAsciiAlnum(c) && c != '-' && c != '_') return false;
    }
    if (dots == 0 || host.find("..") != std::string_view::npos) return false;
    std::string_view last = host.substr(host.rfind('.') + 1);
    return last.size() >= 2 && std::all_of(last.begin(), last.end(), isAsciiLetter);
}

bool isPath(std::string_view run) {
    auto wordAt = [&](std::size_t i) { return i < run.size() && (isAsciiAlnum(run[i]) || run[i] == '_' || run[i] == '.'); };
    if (run.size() > 1 && run[0] == '/' && wordAt(1)) return true;
    if (run.rfind("~/", 0) == 0 || run.rfind("./", 0) == 0 || run.rfind("../", 0) == 0) return true;
    if (std::count(run.begin(), run.end(), '/') >= 2 && run.find("//") == std::string_view::npos) return true;
    std::size_t backslash = run.find('\\');
    return backslash != std::string_view::npos && backslash > 0 && wordAt(backslash + 1);
}

// "--seperate-output", "-v", "-rf"; not "-5" nor a dash.
bool isFlag(std::string_view run) {
    std::size_t dashes = run.rfind("--", 0) == 0 ? 2 : run.rfind('-', 0) == 0 ? 1 : 0;
    return dashes > 0 && run.size() > dashes && isAsciiLetter(run[dashes]);
}

// "x=5", "a->b", "std::vector", "items[i]", "foo()", "$HOME".
bool isCode(std::string_view run) {
    if (run.size() > 1 && run[0] == '$' && (isAsciiLetter(run[1]) || run[1] == '_' || run[1] == '{')) return true;
    auto wordish = [](char c) { return isAsciiAlnum(c) || c == '_' || c == ')' || c == ']'; };
    for (std::size_t i = 1; i < run.size(); ++i) {
        if (!wordish(run[i - 1])) continue;
        std::string_view rest = run.substr(i);
        if (rest.rfind("()", 0) == 0 || rest.rfind("::", 0) == 0 || rest.rfind("->", 0) == 0) return true;
        if (std::string_view("=<>{}[]|\\^").find(run[i]) != std::string_view::npos && i + 1 < run.size() &&
            (isAsciiAlnum(run[i + 1]) || std::string_view("_\"'$(-=>").find(run[i + 1]) != std::string_view::npos))
            return true;
    }
    return false;
}

// A whitespace-free run that must not be edited: a URL, an e-mail-like
// "x@y", a domain or file name, a path, a flag or code. Returns its length
// after dropping trailing sentence punctuation. `runStart`: the run is not
// glued to a word before it.
std::size_t verbatimRunLength(std::string_view run, bool runStart) {
    // Every kind below needs one of these marks; most runs are plain words.
    if (run.find_first_of(".:/@\\$(-=<>{}[]|^~") == std::string_view::npos) return 0;
    bool link = startsWithNoCase(run, "http://") || startsWithNoCase(run, "https://") ||
                startsWithNoCase(run, "www.") || run.find("://") != std::string_view::npos;
    bool address = false;
    for (std::size_t at = run.find('@'); at != std::string_view::npos && !address; at = run.find('@', at + 1)) {
        std::size_t next = 0;
        address = at > 0 && isWordChar(decodeBefore(run, at)) && at + 1 < run.size() &&
                  isWordChar(decodeAt(run, at + 1, next));
    }
    std::size_t length = trimTrailingPunctuation(run);
    std::string_view core = run.substr(0, length);
    if (link || address || isDomainOrFileName(core) || isPath(core) || isCode(core) || (runStart && isFlag(core)))
        return length;
    return 0;
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

namespace {

bool isLineBreak(UChar32 c) { return c == '\n' || c == '\r' || c == 0x85 || c == 0x2028 || c == 0x2029; }

// The end of a short quotation whose opening mark ends at afterOpen, or npos. The closing mark is on
// the same line, follows a non-blank, and (for an apostrophe-like mark) is
// not followed by a letter, so "don't" closes nothing.
std::size_t quotationEnd(std::string_view text, std::size_t afterOpen, UChar32 open) {
    UChar32 close = open == 0x201C ? 0x201D : open == 0x2018 ? 0x2019 : open;
    bool apostrophe = close == '\'' || close == 0x2019;
    std::size_t next = 0;
    UChar32 first = afterOpen < text.size() ? decodeAt(text, afterOpen, next) : -1;
    if (first < 0 || isWhite(first) || (apostrophe && !isLetter(first))) return std::string_view::npos;
    int words = 0;
    bool inWord = false;
    for (std::size_t at = afterOpen; at < text.size();) {
        UChar32 c = decodeAt(text, at, next);
        if (isLineBreak(c)) return std::string_view::npos;
        if (c == close && at > afterOpen && !isWhite(decodeBefore(text, at))) {
            std::size_t after = 0;
            bool letterAfter = next < text.size() && isLetter(decodeAt(text, next, after));
            if (!(apostrophe && letterAfter)) return words <= kMaxQuotedWords ? next : std::string_view::npos;
        }
        bool white = isWhite(c);
        if (!white && !inWord) ++words;
        inWord = !white;
        if (words > kMaxQuotedWords) return std::string_view::npos;
        at = next;
    }
    return std::string_view::npos;
}

}  // namespace

std::vector<Token> tokenize(std::string_view text) {
    std::vector<Token> tokens;
    tokens.reserve(text.size() / 3);  // about a word and a blank per five letters
    auto emit = [&](TokenKind kind, std::size_t from, std::size_t to) {
        tokens.push_back({kind, std::string(text.substr(from, to - from))});
    };
    auto runEndFrom = [&](std::size_t from) {
        std::size_t end = from;
        while (end < text.size()) {
            if (const auto b = static_cast<unsigned char>(text[end]); b < 0x80) {
                if (isWhite(b)) break;
                ++end;
                continue;
            }
            std::size_t n = 0;
            if (isWhite(decodeAt(text, end, n))) break;
            end = n;
        }
        return end;
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t next = 0;
        UChar32 c = decodeAt(text, pos, next);
        UChar32 before = decodeBefore(text, pos);
        // Not glued to what precedes it: the start of a whitespace-free run, or just after an opening bracket.
        bool runStart = before < 0 || isWhite(before) || before == '(' || before == '[' || before == '{';

        if (c == '\r' && next < text.size() && text[next] == '\n') {
            emit(TokenKind::lineBreak, pos, next + 1);
            pos = next + 1;
            continue;
        }
        if (isLineBreak(c)) {
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
        if ((c == '@' || c == '#') && !isWordChar(before) && next < text.size()) {
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
                // A mention's label may go on with capitalised name parts: "@Jane Doe".
                for (int parts = 0; c == '@' && parts < 2 && end + 1 < text.size() && text[end] == ' '; ++parts) {
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
        if ((c == '"' || c == '\'' || c == 0x201C || c == 0x2018) && !isWordChar(before)) {
            if (std::size_t end = quotationEnd(text, next, c); end != std::string_view::npos) {
                emit(TokenKind::quoted, pos, end);
                pos = end;
                continue;
            }
        }
        if (isWordChar(c) || (runStart && (c == '/' || c == '~' || c == '.' || c == '-' || c == '$' || c == '\\'))) {
            std::size_t runEnd = runEndFrom(pos);
            if (std::size_t length = verbatimRunLength(text.substr(pos, runEnd - pos), runStart); length > 0) {
                emit(TokenKind::verbatim, pos, pos + length);
                pos += length;
                continue;
            }
        }
        if (isWordChar(c)) {
            std::size_t end = next;
            while (end < text.size()) {
                if (const auto b = static_cast<unsigned char>(text[end]); b < 0x80 && isWordChar(b)) {
                    ++end;
                    continue;
                }
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

std::size_t nextAcrossBlank(const std::vector<Token>& tokens, std::size_t i) {
    constexpr std::size_t npos = std::string::npos;
    if (i == npos) return npos;
    std::size_t j = i + 1;
    if (j < tokens.size() && tokens[j].kind == TokenKind::space) ++j;
    return j < tokens.size() && tokens[j].kind != TokenKind::lineBreak && tokens[j].kind != TokenKind::space ? j : npos;
}

std::size_t previousAcrossBlank(const std::vector<Token>& tokens, std::size_t i) {
    constexpr std::size_t npos = std::string::npos;
    if (i == npos || i == 0) return npos;
    std::size_t j = i - 1;
    if (tokens[j].kind == TokenKind::space) {
        if (j == 0) return npos;
        --j;
    }
    return tokens[j].kind != TokenKind::lineBreak && tokens[j].kind != TokenKind::space ? j : npos;
}

std::vector<std::string> mentionHandles(std::string_view text) {
    std::vector<std::string> handles;
    for (const auto& t : tokenize(text))
        if (t.kind == TokenKind::verbatim && t.text.front() == '@') handles.push_back(t.text.substr(0, t.text.find(' ')));
    return handles;
}

bool isCodeLikeWord(std::string_view word) {
    bool letter = false, digit = false, underscore = false, camel = false;
    UChar32 previous = -1;
    forEachCodePoint(word, [&](UChar32 c) {
        if (c < 0) return;
        letter = letter || u_isalpha(c);
        digit = digit || u_isdigit(c);
        underscore = underscore || c == '_';
        camel = camel || (previous >= 0 && u_islower(previous) && u_isupper(c));
        previous = c;
    });
    return underscore || (letter && digit) || camel;
}

std::vector<ProtectedSpan> protectedSpans(std::string_view text) {
    std::vector<ProtectedSpan> spans;
    for (const auto& t : tokenize(text)) {
        if (t.kind == TokenKind::quoted) {
            spans.push_back({t.text, "a quotation"});
        } else if (t.kind == TokenKind::word) {
            if (isCodeLikeWord(t.text)) spans.push_back({t.text, "code"});
        } else if (t.kind == TokenKind::verbatim) {
            char first = t.text.front();
            if (first == '@') spans.push_back({t.text.substr(0, t.text.find(' ')), "an @mention"});
            else if (first == '#') spans.push_back({t.text, "a #channel"});
            else if (first == '`') spans.push_back({t.text, "code"});
            else if (t.text.find('@') != std::string::npos) spans.push_back({t.text, "an e-mail address"});
            else spans.push_back({t.text, "a link, path, flag or code"});
        }
    }
    return spans;
}

const ProtectedSpan* firstAlteredSpan(const std::vector<ProtectedSpan>& spans, std::string_view corrected) {
    std::size_t from = 0;
    for (const auto& span : spans) {
        auto at = corrected.find(span.text, from);
        if (at == std::string_view::npos) return &span;
        from = at + span.text.size();
    }
    return nullptr;
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
    std::size_t ascii = 0;
    for (; ascii < word.size() && static_cast<unsigned char>(word[ascii]) < 0x80; ++ascii)
        if (!isAsciiLetter(word[ascii]) && word[ascii] != '\'') return false;
    bool plain = true;
    forEachCodePoint(word.substr(ascii), [&](UChar32 c) { plain = plain && (isLetter(c) || isApostrophe(c)); });
    return plain;
}

bool startsLowercase(std::string_view word) {
    if (!word.empty() && static_cast<unsigned char>(word[0]) < 0x80) return word[0] >= 'a' && word[0] <= 'z';
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
