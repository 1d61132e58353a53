#pragma once

#include "service/TextScan.h"
#include "text/Text.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quillant::service {

// The words of a tokenised text as the rule files read and mend them: a word
// is a plain English one, and its neighbours are found across one blank.
class TokenNav {
public:
    explicit TokenNav(std::vector<Token>& tokens) : t_(tokens) {}
    bool isWord(std::size_t i) const {
        return i < t_.size() && t_[i].kind == TokenKind::word && t_[i].language == 0 && !t_[i].text.empty() &&
               isPlainWord(t_[i].text);
    }
    std::string lower(std::size_t i) const { return isWord(i) ? text::lowercased(t_[i].text) : std::string(); }
    bool lowerCase(std::size_t i) const { return isWord(i) && startsLowercase(t_[i].text); }
    // The next / previous token across one blank; npos at a line break or the end.
    std::size_t next(std::size_t i) const { return nextAcrossBlank(t_, i); }
    std::size_t previous(std::size_t i) const { return previousAcrossBlank(t_, i); }
    // A mark that ends a phrase, or the line's end.
    bool endsAtMark(std::size_t i) const {
        return i == std::string::npos ||
               (t_[i].kind == TokenKind::punct && std::string_view(".,;:!?").find(t_[i].text) != std::string::npos);
    }
    const std::string& text(std::size_t i) const { return t_[i].text; }
    // Replaces the word, keeping a capital first letter and ALL CAPS.
    void replace(std::size_t i, std::string_view with) {
        std::string& w = t_[i].text;
        if (text::graphemeCount(w) > 1 && isAllUppercase(w)) w = uppercased(with);
        else if (!startsLowercase(w)) w = capitalizedFirst(with);
        else w = std::string(with);
    }

protected:
    std::vector<Token>& t_;
};

}  // namespace quillant::service
