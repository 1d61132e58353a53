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
    verbatim,   // an @mention, URL, e-mail address or code span: never edited
};

struct Token {
    TokenKind kind;
    std::string text;
    bool operator==(const Token&) const = default;
};

std::vector<Token> tokenize(std::string_view text);
std::string join(const std::vector<Token>& tokens);

// The @handles in the text ("@jane", "@bob.smith"), in order. A handle starts
// at "@" that follows no word character, so e-mail addresses are not handles.
std::vector<std::string> mentionHandles(std::string_view text);

// Whether every handle occurs in the text, each after the previous one.
bool containsInOrder(std::string_view text, const std::vector<std::string>& handles);

// Word classes used by the rules.
bool isPlainWord(std::string_view word);  // only letters, marks and inner apostrophes
bool startsLowercase(std::string_view word);
bool hasUppercaseAfterFirst(std::string_view word);
bool isAllUppercase(std::string_view word);  // at least one letter, none lowercase

// Case changes of the first code point (title case) and of the whole word.
std::string capitalizedFirst(std::string_view word);
std::string uppercased(std::string_view word);

}  // namespace quillant::service
