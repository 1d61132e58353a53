#pragma once

#include "service/Corrector.h"
#include "service/Dictionaries.h"
#include "service/Speller.h"
#include "service/TextScan.h"

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
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

    // What each dictionary said of each word during one call: finding the
    // language and spelling ask the same words again, and a rejected word
    // costs Hunspell microseconds.
    class SpellMemo {
    public:
        bool knows(const Speller& speller, std::string_view word) { return ask(speller, word, true); }
        bool accepts(const Speller& speller, std::string_view word) { return ask(speller, word, false); }

    private:
        bool ask(const Speller& speller, std::string_view word, bool knows);
        // Looked up by the word alone, so that asking again builds no string.
        struct Hash {
            using is_transparent = void;
            std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
        };
        struct Answers {
            const Speller* speller;
            bool knows;
            std::unordered_map<std::string, bool, Hash, std::equal_to<>> byWord;
        };
        std::vector<Answers> answers_;  // one per dictionary and question: a handful
    };

    // The languages of one call: index 0 is English; kUntouchedLanguage leaves a sentence as it is.
    struct Language {
        const Speller* primary = nullptr;   // spells and corrects
        std::vector<std::string> variants;  // more dictionaries that accept (English variants), loaded on need
        Dictionaries* dictionaries = nullptr;
        std::vector<const Speller*> rivals;  // other languages whose words are never replaced
        SpellMemo* memo = nullptr;
        bool accepts(std::string_view word) const;
    };

private:
    void assignLanguages(std::vector<Token>& tokens, std::vector<Language>& table, const std::string& language,
                         SpellMemo& memo) const;
    void fixSpelling(std::vector<Token>& tokens, const std::vector<Language>& table) const;

    const Speller* fixed_ = nullptr;
    Dictionaries* dictionaries_ = nullptr;
    std::string language_ = "auto";
};

}  // namespace quillant::service
