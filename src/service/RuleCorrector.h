#pragma once

#include "service/Corrector.h"
#include "service/Speller.h"
#include "service/TextScan.h"

#include <vector>

namespace quillant::service {

// Offline, deterministic corrections. No rule edits @mentions, #channels,
// URLs, e-mail addresses, paths, flags, code or short quotations, and
// applying the corrector twice gives the same text as applying it once.
class RuleCorrector final : public Corrector {
public:
    RuleCorrector() = default;  // without a dictionary: the misspelling list only
    explicit RuleCorrector(const Speller& speller) : speller_(&speller) {}

    std::string correct(std::string_view text) override;

    // The rules one by one, in the order correct() applies them.
    static void removeSpaceBeforePunctuation(std::vector<Token>& tokens);
    static void collapseDoubledSpaces(std::vector<Token>& tokens);
    static void fixMisspellings(std::vector<Token>& tokens);
    void fixSpelling(std::vector<Token>& tokens) const;
    static void removeRepeatedWords(std::vector<Token>& tokens);
    static void capitalizeLoneI(std::vector<Token>& tokens);
    static void capitalizeSentenceStarts(std::vector<Token>& tokens);

    // Words shorter than this are left to the misspelling list: too many
    // words are one edit away from them.
    static constexpr std::size_t kMinSpelledLetters = 4;

private:
    bool english() const { return !speller_ || speller_->isEnglish(); }

    const Speller* speller_ = nullptr;
};

}  // namespace quillant::service
