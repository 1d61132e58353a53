#pragma once

#include <bitset>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class Hunspell;

namespace quillant::service {

class SpellerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Where dictionaries and word-frequency lists are looked for.
struct SpellerPaths {
    std::vector<std::filesystem::path> dictionaryDirs{"/usr/share/hunspell", "/usr/share/myspell/dicts"};
    // SCOWL's lists, whose size classes (10 = most common … 95) rank English words.
    std::filesystem::path wordListDir{"/usr/share/dict/scowl"};
};

// One candidate correction and what it cost.
struct SpellingCandidate {
    std::string word;
    double score;  // edit cost plus rarity; lower is likelier
};

// A Hunspell dictionary, loaded once, and the rule that picks a correction
// for a word the dictionary rejects. Safe to use from several threads.
//
// Candidates are the words one edit away (a letter dropped, added, replaced,
// or two neighbours swapped) that the dictionary accepts. Each costs by how
// likely the slip is: a swap or a doubled letter is cheap, a key next to the
// intended one or a vowel for a vowel is cheaper than an arbitrary letter. A
// word's rarity adds to its cost. The best candidate wins only when it is
// cheap enough and clearly cheaper than the next one.
class Speller {
public:
    // Loads LANGUAGE.aff and LANGUAGE.dic (e.g. "en_US"). Throws SpellerError
    // naming the installed languages when there is none.
    explicit Speller(const std::string& language, const SpellerPaths& paths = {});
    ~Speller();
    Speller(const Speller&) = delete;
    Speller& operator=(const Speller&) = delete;

    const std::string& language() const { return language_; }
    bool isEnglish() const { return language_.rfind("en", 0) == 0; }
    std::filesystem::path dictionaryFile() const { return dictionaryFile_; }
    std::size_t rankedWordCount() const { return ranks_.size(); }

    // Whether the dictionary knows the word, as written.
    bool accepts(std::string_view word) const;
    // Whether the lower-case word is in the frequency lists' commonest class
    // (false without lists): an everyday word, not a name ("glib", "oauth").
    bool isCommon(std::string_view lowerWord) const;

    // The form a word's neighbour asks for: a plural after "many", a past
    // participle after "have", a singular after "a".
    enum class Form { any, plural, past, singular };

    // The correction of a lower-case word, when the dictionary rejects it and
    // one candidate clearly stands out. Of near forms of one word, the one
    // whose ending the typed word shows is taken, else the one EXPECTED.
    // An English word opening with two consonants that no common word opens
    // with is a name: only those two letters swapped is taken as a slip.
    std::optional<std::string> correction(std::string_view lowerWord, Form expected = Form::any) const;

    // What a word's neighbours leave room for at its place.
    struct Context {
        Form expected = Form::any;
        // The only words that fit there (a modal between a subject and its
        // verb), or none when the place is open.
        std::span<const std::string_view> only;
        // Words that cannot stand there (a preposition right after "the").
        std::function<bool(std::string_view)> excluded;
        // The caller found that the dictionary rejects the word as given: not asked again.
        bool rejected = false;
    };
    // The correction where the context may settle a near tie: the one word
    // of CONTEXT.only within reach (see nearestOf), else the usual choice
    // among the candidates that CONTEXT.excluded leaves.
    std::optional<std::string> correction(std::string_view lowerWord, const Context& context) const;

    // The word of WORDS that the typed one is nearest to: one slip away, or
    // the same with one or two letters left out ("shud" → "should"); of two
    // as near, one with letters left out only. Every word must keep the
    // first letter. Nothing when none is within reach or two are as near.
    static std::optional<std::string_view> nearestOf(std::string_view lowerWord, std::span<const std::string_view> words);
    // How many slips (a letter dropped, added, replaced, or two neighbours swapped) lie between two words.
    static std::size_t slipsBetween(std::string_view a, std::string_view b);

    // Whether SCOWL lists the word for any English variant (US, GB with -ise
    // or -ize, CA, AU): a far quicker look-up than loading the other variants'
    // dictionaries. False for other languages and without the lists.
    bool hasVariantLists() const { return !variantWords_.empty(); }
    bool variantKnows(std::string_view word) const;

    // Whether the word is likely right: in the frequency lists (a fast look-up),
    // else whether the dictionary accepts it.
    bool knows(std::string_view word) const;

    // Two common words run together ("upto" → "up", "to"), when exactly one
    // such reading exists. Needs the frequency lists.
    std::optional<std::pair<std::string, std::string>> split(std::string_view lowerWord) const;

    // The common word that a known lower-case word and a word the dictionary
    // rejects make together ("to" "gether" → "together").
    std::optional<std::string> joined(std::string_view left, std::string_view lowerRight) const;

    // The one common word that sounds like the typed one, for a word no
    // single slip explains ("imediatly" → "immediately"): both have the same
    // consonants in the same order (vowels and doubled letters aside) and no
    // other listed word has them. Needs the frequency lists.
    std::optional<std::string> soundAlike(std::string_view lowerWord) const;

    // The one common word two slips away ("excercize" → "exercise"),
    // when it is cheap enough and clearly ahead of every other word one or two
    // slips away. Needs the frequency lists.
    std::optional<std::string> twoSlips(std::string_view lowerWord) const;

    // Whether the word's correction is one of the commonest words with a
    // letter the typed word left out ("sumer" → "summer"): a slip rather than
    // a name, even where the dictionary knows the word capitalised. Needs
    // the frequency lists.
    bool missesLetterOfCommonWord(std::string_view lowerWord) const;

    // Every candidate, best first (for tests and tuning).
    std::vector<SpellingCandidate> candidates(std::string_view lowerWord) const;

    // Languages with both files in the given folders, sorted.
    static std::vector<std::string> installedLanguages(const SpellerPaths& paths = {});

    // The most a winner may cost, and how far ahead of the runner-up it must be.
    static constexpr double kMaxScore = 1.1;
    // With the frequency lists a word's rarity is known: an arbitrary slip
    // to a common word, or a likely one to a rare word, is then too far.
    static constexpr double kMaxListedScore = 1.0;
    static constexpr double kMinLead = 0.2;
    // How far ahead of another form of the same word (another ending) it must be.
    static constexpr double kEndingLead = 0.5;

private:
    bool spell(const std::string& utf8) const;
    bool derivedFromKnown(std::string_view lowerWord) const;
    std::optional<std::string> plainCorrection(std::string_view lowerWord, Form expected,
                                               const std::function<bool(std::string_view)>& excluded = {}) const;
    // A word of kJoinedWords run together with one of the commonest words ("incase").
    std::optional<std::pair<std::string, std::string>> runTogether(std::string_view lowerWord) const;
    std::optional<std::string> twoSlips(std::string_view lowerWord, const std::vector<SpellingCandidate>& oneSlip) const;
    // The one common word two likely slips from a long word, when no other is within two slips.
    std::optional<std::string> onlyTwoSlips(std::string_view lowerWord) const;
    // Whether a long word read as WORD two slips away looks rather like a
    // name: two known words joined, or two letters longer than WORD.
    bool coinedOrCut(std::string_view lowerWord, std::string_view word) const;
    // 0 (most common) … 8 (rarer than every list); -1 when there are no lists.
    int rankOf(std::string_view word) const;
    int rankOfKey(std::uint64_t key) const;  // the same, by the word's hash
    void loadRanks(const std::filesystem::path& dir);

    std::string language_;
    std::filesystem::path dictionaryFile_;
    std::unique_ptr<Hunspell> hunspell_;
    std::string encoding_;          // the dictionary's own; words are converted when not UTF-8
    std::u32string alphabet_;       // lower-case letters tried in candidates
    std::vector<std::string> alphabetPieces_;  // the same, in UTF-8
    bool asciiAlphabet_ = false;    // one byte a letter: candidates may take the ASCII path
    std::string asciiLetters_;        // then the letters, the apostrophe aside,
    std::string asciiInsideLetters_;  // and those put inside a word, where it may be too
    static constexpr std::size_t kMaxAsciiWord = 64;  // longer words take the general path
    std::vector<std::uint64_t> ranks_;  // sorted: word hash with the rank class in the low 4 bits
    std::vector<std::uint64_t> variantWords_;  // sorted word hashes
    // Every listed word's consonant outline, sorted by its hash; the common
    // words (size 20 and below) with their offset in soundAlikeWords_.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> outlines_;
    std::string soundAlikeWords_;  // common words, each ended by '\0'
    // The common words that two slips may reach, by first letter and length.
    struct CommonWord {
        std::uint32_t offset;  // in commonWords_
        std::uint8_t first;
        std::uint8_t length;
        std::uint8_t rank;
        std::uint32_t letters;  // a bit per letter it holds
    };
    std::vector<CommonWord> commonIndex_;
    // The two-letter openings of common lower-case words ("th", "sp"): one
    // that no such word has ("db", "mm") begins a name far more often than a slip.
    std::bitset<26 * 26> initialPairs_;
    std::string commonWords_;
    static constexpr std::uint32_t kRareWord = ~std::uint32_t(0);
    // A Bloom filter over ranks_ (two bits a word): most strings one edit
    // away are not words, and this tells so without searching ranks_.
    static constexpr std::uint64_t kFilterBits = std::uint64_t(1) << 22;
    std::vector<std::uint64_t> filter_;
    // The same over the listed words' polynomial hashes, which the words one
    // edit from a typed word get without being built.
    std::vector<std::uint64_t> polyFilter_;
    mutable std::mutex mutex_;      // Hunspell is not safe to share between threads
};

}  // namespace quillant::service
