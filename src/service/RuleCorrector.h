#pragma once

#include "service/Corrector.h"
#include "service/Dictionaries.h"
#include "service/Speller.h"
#include "service/TextScan.h"

#include <string>
#include <vector>

namespace quillant::service {

// Offline, deterministic corrections. No rule edits @mentions, #channels,
// URLs, e-mail addresses, paths, flags, code or short quotations, and
// applying the corrector twice gives the same text as applying it once.
//
// Every sentence is corrected in its own language: the installed dictionary
// that accepts most of its words. A sentence that no installed dictionary
// recognises comes back unchanged. English grammar rules run on English
// sentences only. A word that any installed English variant accepts is
// correct; misspellings are corrected towards the preferred variant.
class RuleCorrector final : public Corrector {
public:
    RuleCorrector() = default;  // without a dictionary: English, the misspelling list only
    // One dictionary, chosen: every sentence it recognises is in its language.
    explicit RuleCorrector(const Speller& speller) : fixed_(&speller) {}
    // The installed dictionaries; `language` is "auto" or an installed name.
    explicit RuleCorrector(Dictionaries& dictionaries, std::string language = "auto")
        : dictionaries_(&dictionaries), language_(std::move(language)) {}

    std::string correct(std::string_view text) override;
    // `language`: "auto" or an installed dictionary's name; empty for the default.
    std::string correctIn(std::string_view text, const std::string& language) override;

    // Words shorter than this are left to the misspelling list: too many
    // words are one edit away from them.
    static constexpr std::size_t kMinSpelledLetters = 4;

    // The languages of one call: index 0 is English; kUntouchedLanguage leaves a sentence as it is.
    struct Language {
        const Speller* primary = nullptr;   // spells and corrects
        std::vector<std::string> variants;  // more dictionaries that accept (English variants), loaded on need
        Dictionaries* dictionaries = nullptr;
        std::vector<const Speller*> rivals;  // other languages whose words are never replaced
        bool accepts(std::string_view word) const;
    };

private:
    void assignLanguages(std::vector<Token>& tokens, std::vector<Language>& table, const std::string& language) const;
    void fixSpelling(std::vector<Token>& tokens, const std::vector<Language>& table) const;

    const Speller* fixed_ = nullptr;
    Dictionaries* dictionaries_ = nullptr;
    std::string language_ = "auto";
};

}  // namespace quillant::service
