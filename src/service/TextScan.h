#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits text into the pieces the correctors reason about. Joining the tokens
// gives back the input byte for byte.
namespace quillant::service {

enum class TokenKind {
    word,       // letters, digits, marks, '_', and apostrophes between letters
    space,      // a run of U+0020 and tab
    lineBreak,  // one line break (LF, CR LF, CR, U+2028, U+2029)
    punct,      // any other single code point
    verbatim,   // an @mention, #channel, URL, e-mail address, path, flag or code: never edited
    quoted,     // a short quotation, with its quote marks: never edited
};

// The language a corrector gave a token's sentence: an index into its own
// table of languages, or kUntouchedLanguage for text no rule may change.
inline constexpr unsigned char kUntouchedLanguage = 255;

struct Token {
    TokenKind kind;
    std::string text;
    unsigned char language = 0;
    bool operator==(const Token& other) const { return kind == other.kind && text == other.text; }
};

std::vector<Token> tokenize(std::string_view text);
std::string join(const std::vector<Token>& tokens);

// The token after / before i across one blank on the same line; npos at a
// line break, a second blank or either end, and for i == npos.
std::size_t nextAcrossBlank(const std::vector<Token>& tokens, std::size_t i);
std::size_t previousAcrossBlank(const std::vector<Token>& tokens, std::size_t i);

// The @handles in the text ("@jane", "@bob.smith"), in order. A handle starts
// at "@" that follows no word character, so e-mail addresses are not handles.
std::vector<std::string> mentionHandles(std::string_view text);

// Whether every handle occurs in the text, each after the previous one.
bool containsInOrder(std::string_view text, const std::vector<std::string>& handles);

// What no corrector may change, in order: the handles of @mentions, and
// every other verbatim or quoted piece and code-like word.
struct ProtectedSpan {
    std::string text;
    const char* what;  // "an @mention", "a URL", …, for the log
};
std::vector<ProtectedSpan> protectedSpans(std::string_view text);

// The first protected span of `original` that `corrected` lost or altered, if any.
const ProtectedSpan* firstAlteredSpan(const std::vector<ProtectedSpan>& spans, std::string_view corrected);

// A word written like code: with '_', with letters and digits, or with a
// capital after a lower-case letter (camelCase).
bool isCodeLikeWord(std::string_view word);

// The most words a quotation may have and still be kept as it is.
inline constexpr int kMaxQuotedWords = 4;

// Word classes used by the rules.
bool isPlainWord(std::string_view word);  // only letters, marks and inner apostrophes
bool startsLowercase(std::string_view word);
bool hasUppercaseAfterFirst(std::string_view word);
bool isAllUppercase(std::string_view word);  // at least one letter, none lowercase

// Case changes of the first code point (title case) and of the whole word.
std::string capitalizedFirst(std::string_view word);
std::string uppercased(std::string_view word);

}  // namespace quillant::service
