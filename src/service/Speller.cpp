#include "service/Speller.h"

#include <hunspell/hunspell.hxx>
#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/unorm2.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <bit>
#include <tuple>
#include <fstream>
#include <set>

namespace quillant::service {

namespace {

namespace fs = std::filesystem;

std::u32string toUtf32(std::string_view s) {
    std::u32string out;
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    for (int32_t i = 0, n = int32_t(s.size()); i < n;) {
        UChar32 c;
        U8_NEXT(p, i, n, c);
        out.push_back(c < 0 ? U'\uFFFD' : char32_t(c));
    }
    return out;
}

std::string toUtf8(std::u32string_view s) {
    std::string out;
    for (char32_t c : s) {
        char buffer[U8_MAX_LENGTH];
        int32_t length = 0;
        U8_APPEND_UNSAFE(buffer, length, UChar32(c));
        out.append(buffer, std::size_t(length));
    }
    return out;
}

std::uint64_t hashOf(std::string_view s) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h & ~std::uint64_t(0xF);
}

// A polynomial hash, sum of byte * kPolyBase^(places after it): a word one
// edit from another hashes in a few operations from the other's sums.
constexpr std::uint64_t kPolyBase = 0x100000001b3ull;
std::uint64_t polyHashOf(std::string_view s) {
    std::uint64_t h = 0;
    for (unsigned char c : s) h = h * kPolyBase + c;
    return h;
}
// The two bits of a polynomial hash in a filter of 2^kPolyFilterLog bits:
// high bits of its product with an odd constant, which depend on all of it.
constexpr unsigned kPolyFilterLog = 22;
constexpr std::pair<std::uint64_t, std::uint64_t> polyFilterBits(std::uint64_t poly) {
    const std::uint64_t m = poly * 0x9e3779b97f4a7c15ull;
    return {m >> (64 - kPolyFilterLog), (m >> (64 - 2 * kPolyFilterLog)) & ((std::uint64_t(1) << kPolyFilterLog) - 1)};
}

// SCOWL size classes, most common first.
constexpr int kSizeClasses[] = {10, 20, 35, 40, 50, 55, 60, 70};
constexpr int kUnranked = 8;
// What rarity adds to a candidate's cost, by rank.
constexpr double kRarityCost[] = {0.0, 0.05, 0.15, 0.25, 0.45, 0.5, 0.55, 0.65, 0.8};
constexpr double kNoListRarityCost = 0.3;

// The consonants of a lower-case ASCII word in order, its first letter kept
// and doubled letters once: "immediately" and "imidiatly" are both "imdtly".
std::string outline(std::string_view word) {
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (i > 0 && std::string_view("aeiou").find(c) != std::string_view::npos) continue;
        if (out.empty() || out.back() != c) out += c;
    }
    return out;
}
bool isLowerAscii(std::string_view word) {
    return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}
// The edit distance with swaps of neighbours.
std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}
// The rarest size class whose words a sound-alike may become (20): a rarer
// word is more often a wrong guess ("hazzle" is no "hazel").
constexpr int kSoundAlikeRank = 1;

// The rarest size class of a plural in -ies that "-ys" becomes (40).
constexpr int kCommonPluralRank = 3;

// The ending a word shows, which a misspelling of it mostly keeps: "answerd"
// is a past, "carefull" no adverb, "tabels" a plural.
enum class Ending { none, s, ed, ing, ly, er };
Ending endingOf(std::string_view word) {
    if (word.size() < 4) return Ending::none;
    if (word.ends_with("ing")) return Ending::ing;
    if (word.ends_with("ed")) return Ending::ed;
    if (word.ends_with("ly")) return Ending::ly;
    if (word.ends_with("er")) return Ending::er;
    if (word.ends_with("s")) return Ending::s;
    return Ending::none;
}
// Whether a word two slips away keeps the typed word's ending, also when a
// slip swapped its letters ("hopfulyl" ends in "-ly" as "hopefully" does).
bool sameEnding(std::string_view word, std::string_view typed) {
    if (endingOf(word) == endingOf(typed)) return true;
    if (word.size() < 3 || typed.size() < 3) return false;
    std::string a(word.substr(word.size() - 3)), b(typed.substr(typed.size() - 3));
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

// Whether WORD ends in the typed word's last two letters, or in them swapped:
// they carry its ending ("voluntad" is no "voluntary").
bool lastTwoKept(std::string_view typed, std::string_view word) {
    const std::size_t n = typed.size(), m = word.size();
    if (n < 2 || m < 2) return false;
    return (word[m - 1] == typed[n - 1] && word[m - 2] == typed[n - 2]) || (word[m - 1] == typed[n - 2] && word[m - 2] == typed[n - 1]);
}

// From this many letters, a slip may cost up to kMaxLongScore, with a lead of more than kLongLead.
constexpr std::size_t kLongWord = 8;
constexpr double kMaxLongScore = 1.2;
constexpr double kLongLead = 0.3;

// Whether two words are forms of one word: they share a base once an
// inflection is taken off ("remember", "remembers", "remembered"; "like",
// "liker"; "stop", "stopped"), where "flags" and "flash" share none.
bool formsOfOneWord(std::string_view a, std::string_view b) {
    auto bases = [](std::string_view word) {
        std::vector<std::string_view> out;
        auto add = [&](std::string_view base) {
            out.push_back(base);
            if (base.size() > 3 && base.back() == 'e') out.push_back(base.substr(0, base.size() - 1));
        };
        add(word);
        for (std::string_view suffix : {"ing", "ed", "ly", "er", "es", "s"}) {
            if (word.size() < suffix.size() + 3 || !word.ends_with(suffix)) continue;
            std::string_view base = word.substr(0, word.size() - suffix.size());
            add(base);
            if (base.size() > 3 && base.back() == base[base.size() - 2]) add(base.substr(0, base.size() - 1));
        }
        return out;
    };
    auto x = bases(a), y = bases(b);
    return std::any_of(x.begin(), x.end(), [&](std::string_view s) { return std::find(y.begin(), y.end(), s) != y.end(); });
}
// Two words run together ("incase") against one slip: a slip up to
// kClearSlip (a doubled letter, two letters swapped, a neighbouring key)
// explains the word better, and so does one up to kLikelySlip that keeps
// every consonant (a vowel for a vowel); a costlier slip, or one that loses a
// consonant ("ontop" → "onto"), loses to the split.
constexpr double kClearSlip = 0.6;
constexpr double kLikelySlip = 0.7;

// The shortest word that "-ion" is taken to coin a noun of ("effect").
constexpr std::size_t kCoinedMinBase = 5;

// A cheaper candidate this many size classes commoner than its rival needs only a lead of more than kCommonerLead.
constexpr int kCommonerBy = 2;
constexpr double kCommonerLead = 0.1;
// A commoner word may overtake a cheaper rare one only by a likely slip (no arbitrary letter: "breaus" is no "breaks").
constexpr double kCommonerMaxScore = 0.8;
// Not in shorter words, whose neighbours are too many ("nite" is no "note").
constexpr std::size_t kCommonerMinLength = 5;

// A word of this many letters (the shortest a text's words are corrected at) must lead by more than kShortLead.
constexpr std::size_t kShortWord = 4;
constexpr double kShortLead = 0.3;

// Scores are sums of tenths: a lead of exactly the minimum must count.
constexpr double kScoreSlack = 1e-9;

// Two slips: only for typed words of this many letters (in a shorter word two
// slips reach too many words), only towards words up to size 50, and only
// when the winner costs at most kTwoSlipMaxScore and leads every other word
// one or two slips away by more than kTwoSlipLead.
constexpr std::size_t kTwoSlipMinLength = 6;
constexpr std::size_t kTwoSlipMaxLength = 24;
constexpr int kTwoSlipRank = 4;
constexpr double kTwoSlipMaxScore = 1.3;
// A long word lies two slips from few words: two likely slips (a letter left
// out and a sound spelled another way, "comunicasion") may cost more there,
// where it keeps its first two letters if it opens with a vowel (the words of
// every first vowel are its rivals: a first vowel is often heard as another), keeps its last
// letter ("naturaleza" is no "naturalize") and shows no sign of a name.
constexpr double kLongTwoSlipMaxScore = 1.6;
constexpr double kTwoSlipLead = 0.4;
// A long word that no single slip explains, two likely slips (a letter left
// out or added, a neighbouring key, a vowel for a vowel, two letters swapped)
// from one common word and within two slips of no other: that word is meant
// however costly the slips ("inviroment" → "environment"). Long words only:
// shorter ones lie two slips from too many words. The word must be of size 35
// or below (a rarer one is as often a guess past the word meant) and keep the
// typed word's last two letters, which carry its ending ("voluntad" is no "voluntary").
constexpr std::size_t kOnlyTwoSlipMinLength = 7;
constexpr int kOnlyTwoSlipRank = 2;

std::uint32_t lettersOf(std::string_view word) {
    std::uint32_t bits = 0;
    for (char c : word) bits |= std::uint32_t(1) << ((c - 'a') & 31);
    return bits;
}

// Writers seldom mistype a word's first letter: an edit there costs this much more.
constexpr double kFirstLetterCost = 0.3;
constexpr double kFirstVowelCost = 0.1;

// Words of the trade that the dictionaries lack and that sit one edit away
// from an ordinary word ("async" from "sync"): known, so never corrected.
constexpr const char* kTechnicalWords[] = {
    "api", "apis", "async", "auth", "backend", "backends", "boolean", "booleans", "cli", "config", "configs",
    "cron", "css", "dev", "devops", "distro", "distros", "dns", "dotfiles", "enum", "enums", "frontend",
    "github", "gitlab", "golang", "grep", "hostname", "html", "http", "https", "init", "ip", "json", "jsx",
    "kotlin", "kubectl", "kubernetes", "linter", "localhost", "lookup", "lookups", "macos", "manpage", "manpages",
    "middleware", "mutex", "namespace", "namespaces", "nginx", "npm", "oauth", "params", "pdf", "postgres", "printf",
    "redis", "regex", "repo", "repos", "rustc", "scanf", "sql", "ssh", "stderr", "stdin", "stdout", "sudo",
    "svg", "tcp", "tls", "toml", "tsx", "udp", "uri", "url", "urls", "utf", "webhook", "webhooks", "wifi",
    "yaml", "yml",
};

constexpr std::string_view kPluralsWithoutS[] = {"children", "feet", "geese", "men", "mice", "people", "teeth", "women"};

bool isVowel(char32_t c) { return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u'; }

// Neighbouring keys on a QWERTY keyboard.
bool adjacentKeys(char32_t a, char32_t b) {
    static constexpr std::string_view kNeighbours[26] = {
        "qwsz", "vghn", "xdfv", "serfcx", "wrsd", "drtgvc", "ftyhbv", "gyujnb", "uojk", "huikmn", "jiolm", "kop",
        "njk", "bhjm", "ipkl", "ol", "wa", "etdf", "awedxz", "ryfg", "yihj", "cfgb", "qeas", "zsdc", "tugh", "asx"};
    if (a < 'a' || a > 'z' || b < 'a' || b > 'z') return false;
    return kNeighbours[a - 'a'].find(char(b)) != std::string_view::npos;
}

// Whether an ending that may double a stem's last consonant ("stopped",
// "running", "bigger") starts at position i. Writers who know the rule
// apply it where it does not hold ("namming"): a likelier slip than another
// doubled letter. The other way it is no likelier: a letter left out before
// "-ing" must not read as a consonant left single.
bool endingAt(const std::u32string& typed, std::size_t i) {
    if (i < 2 || i > typed.size()) return false;
    const std::u32string_view rest = std::u32string_view(typed).substr(i);
    return rest == U"ing" || rest == U"ed" || rest == U"er" || rest == U"est";
}
bool isConsonant(char32_t c) { return c >= 'a' && c <= 'z' && !isVowel(c) && c != 'w' && c != 'x' && c != 'y'; }
constexpr double kDoubledAtEndingCost = 0.4;

// Whether WORD is the typed one with one letter hit on its neighbouring key.
bool neighbourKeySlip(std::string_view typed, std::string_view word) {
    if (typed.size() != word.size()) return false;
    std::size_t differ = 0, at = 0;
    for (std::size_t k = 0; k < typed.size(); ++k)
        if (typed[k] != word[k]) ++differ, at = k;
    return differ == 1 && adjacentKeys(char32_t(typed[at]), char32_t(word[at]));
}

// A silent "e" written after a word's last consonant ("visite" for "visit"):
// so many English words end in one that writers add it where none belongs.
constexpr double kAddedFinalECost = 0.3;

// The typed word has `extra` at position i that the intended word lacks.
double droppedCost(const std::u32string& typed, std::size_t i, bool addedFinalE = false) {
    char32_t extra = typed[i];
    char32_t before = i > 0 ? typed[i - 1] : 0;
    char32_t after = i + 1 < typed.size() ? typed[i + 1] : 0;
    double first = i == 0 ? kFirstLetterCost : 0.0;
    if (addedFinalE && i + 1 == typed.size()) return kAddedFinalECost;
    // "namming": the consonant doubled before the ending.
    if (isConsonant(extra) && ((extra == before && endingAt(typed, i + 1)) || (extra == after && endingAt(typed, i + 2))))
        return kDoubledAtEndingCost;
    if (extra == before || extra == after) return first + 0.5;  // "untill"
    // "makeing": a stem's silent "e" kept before "-ing".
    if (extra == 'e' && isConsonant(before) && std::u32string_view(typed).substr(i + 1) == U"ing") return 0.5;
    // "gentely", "secretely": an "e" put before "-ly" as in "completely".
    if (extra == 'e' && isConsonant(before) && i >= 3 && std::u32string_view(typed).substr(i + 1) == U"ly") return 0.5;
    if (adjacentKeys(extra, before) || adjacentKeys(extra, after)) return first + 0.7;
    return first + 1.0;
}

// Whether `missing`, put before position i, is a letter that is written but
// not heard there: writers who spell by ear leave it out ("dout", "rite",
// "lisen", "colum"). English only.
bool silentLetter(const std::u32string& typed, std::size_t i, char32_t missing) {
    const char32_t before = i > 0 ? typed[i - 1] : 0;
    const char32_t after = i < typed.size() ? typed[i] : 0;
    const char32_t next = i + 1 < typed.size() ? typed[i + 1] : 0;
    switch (missing) {
    case 'b': return (before == 'm' && (i == typed.size() || endingAt(typed, i) || (after == 's' && next == 0))) ||
                     (before == 'u' && after == 't');  // "climb", "climbing", "doubt"
    case 'k': return i == 0 && after == 'n';                                                   // "know"
    case 'w': return i == 0 && after == 'r';                                                   // "write"
    case 'g': return i > 0 && after == 'n' && (next == 0 || next == 's' || next == 'e');     // "sign", "foreign"
    case 'h': return i > 0 && (before == 'g' || before == 'r' || before == 'w') && isVowel(after);  // "ghost", "rhythm", "which"
    case 'l': return (before == 'a' && (after == 'k' || after == 'm')) || (before == 'u' && after == 'd');  // "walk", "calm", "could"
    case 't': return before == 's' && (after == 'l' || (after == 'e' && next == 'n'));        // "castle", "listen"
    case 'n': return before == 'm' && i == typed.size();                                       // "autumn"
    case 'u': return before == 'g' && (after == 'e' || after == 'i');                          // "guess", "guide"
    default: return false;
    }
}
constexpr double kSilentLetterCost = 0.6;

// The typed word lacks `missing` before position i.
double addedCost(const std::u32string& typed, std::size_t i, char32_t missing, bool english = false) {
    char32_t before = i > 0 ? typed[i - 1] : 0;
    char32_t after = i < typed.size() ? typed[i] : 0;
    if (english && silentLetter(typed, i, missing)) return kSilentLetterCost;
    double first = i == 0 ? kFirstLetterCost : 0.0;
    if (missing == before || missing == after) return first + 0.5;  // "adress"
    if (missing == '\'') return 0.5;                                // "cant"
    if (isVowel(missing)) return first + 0.7;
    return first + 0.8;
}

// The letter without its accents: 'e' for 'é'.
char32_t baseLetter(char32_t c) {
    if (c < 0x80) return c;
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
    UChar decomposed[8];
    int32_t length = U_SUCCESS(status) ? unorm2_getDecomposition(nfd, UChar32(c), decomposed, 8, &status) : 0;
    return U_SUCCESS(status) && length > 0 && decomposed[0] < 0x80 ? char32_t(decomposed[0]) : c;
}

// Letters that sound alike, which writers confuse by ear rather than by
// hand: "s" for "c" ("advanse"), a voiced for an unvoiced consonant
// ("frient"), "s" for "z".
bool soundAlikeLetters(char32_t a, char32_t b) {
    static constexpr std::pair<char32_t, char32_t> kPairs[] = {
        {'c', 's'}, {'c', 'k'}, {'s', 'z'}, {'t', 'd'}, {'f', 'v'}, {'p', 'b'}, {'g', 'j'}, {'k', 'q'}};
    for (auto [x, y] : kPairs)
        if ((a == x && b == y) || (a == y && b == x)) return true;
    return false;
}

// The sound-alike letters are English ones: other languages keep the plain costs.
double replacedCost(char32_t typed, char32_t intended, bool english = true) {
    if (baseLetter(typed) == baseLetter(intended)) return 0.4;  // an accent left out or wrong: "cafe"
    if (adjacentKeys(typed, intended)) return 0.6;
    if (isVowel(typed) && isVowel(intended)) return 0.7;  // "seperate"
    if (english && soundAlikeLetters(typed, intended)) return 0.7;
    return 1.0;
}

// The extra cost of a wrong first letter: writers seldom mistype it, but a
// vowel heard the same ("enstead") is a slip of the ear, not of the hand.
double firstLetterCost(char32_t typed, char32_t intended) {
    return isVowel(typed) && isVowel(intended) ? kFirstVowelCost : kFirstLetterCost;
}

// Spellings of one sound that differ in length, so that no single-letter
// slip explains them: "f" for "ph" ("telefone"), "-sion" for "-tion".
// The typed piece and the one meant; each costs as one likely slip.
constexpr std::pair<std::string_view, std::string_view> kSoundSpellings[] = {
    {"f", "ph"}, {"ph", "f"}, {"sion", "tion"}, {"tion", "sion"}, {"cion", "tion"}, {"tion", "ssion"},
    {"k", "ck"}, {"ck", "k"}};
constexpr double kSoundSpellingCost = 0.6;

std::string convert(std::string_view text, const char* to, const char* from) {
    UErrorCode status = U_ZERO_ERROR;
    std::string out(text.size() * 4 + 4, '\0');
    int32_t length = ucnv_convert(to, from, out.data(), int32_t(out.size()), text.data(), int32_t(text.size()), &status);
    if (U_FAILURE(status)) return {};
    out.resize(std::size_t(length));
    return out;
}

std::string normalisedApostrophes(std::string_view word) {
    std::string out(word);
    for (std::size_t at = out.find("\u2019"); at != std::string::npos; at = out.find("\u2019", at)) out.replace(at, 3, 1, '\'');
    return out;
}

}  // namespace

Speller::Speller(const std::string& language, const SpellerPaths& paths) : language_(language) {
    bool safeName = !language.empty() && std::all_of(language.begin(), language.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
    fs::path aff;
    if (safeName) {
        for (const auto& dir : paths.dictionaryDirs) {
            std::error_code ec;
            if (fs::is_regular_file(dir / (language + ".aff"), ec) && fs::is_regular_file(dir / (language + ".dic"), ec)) {
                aff = dir / (language + ".aff");
                dictionaryFile_ = dir / (language + ".dic");
                break;
            }
        }
    }
    if (dictionaryFile_.empty()) {
        std::string message = "no dictionary for the language \"" + language + "\"";
        auto installed = installedLanguages(paths);
        if (installed.empty()) {
            message += "; none is installed (on Debian: apt install hunspell-en-us)";
        } else {
            message += "; installed:";
            for (const auto& l : installed) message += " " + l;
            message += " (on Debian, more come with the hunspell-LANGUAGE packages)";
        }
        throw SpellerError(message);
    }
    hunspell_ = std::make_unique<Hunspell>(aff.c_str(), dictionaryFile_.c_str());
    encoding_ = hunspell_->get_dict_encoding();
    if (encoding_ != "UTF-8" && convert("a", encoding_.c_str(), "UTF-8").empty())
        throw SpellerError("the dictionary " + dictionaryFile_.string() + " uses the unsupported encoding " + encoding_);

    // The letters to try come from the dictionary's own TRY line.
    std::ifstream affix(aff);
    for (std::string line; std::getline(affix, line);) {
        if (line.rfind("TRY", 0) != 0) continue;
        std::string letters = encoding_ == "UTF-8" ? line.substr(3) : convert(line.substr(3), "UTF-8", encoding_.c_str());
        std::set<char32_t> seen;
        // English words with accents are few and listed as such: trying only
        // a-z there makes a third fewer look-ups.
        for (char32_t c : toUtf32(letters))
            if ((u_islower(UChar32(c)) || c == '\'') && (!isEnglish() || c < 0x80) && seen.insert(c).second)
                alphabet_.push_back(c);
        break;
    }
    if (alphabet_.empty()) alphabet_ = U"abcdefghijklmnopqrstuvwxyz";
    for (char32_t c : alphabet_) alphabetPieces_.push_back(toUtf8(std::u32string_view(&c, 1)));
    asciiAlphabet_ = std::all_of(alphabet_.begin(), alphabet_.end(), [](char32_t c) { return c < 0x80; });
    if (asciiAlphabet_)
        for (char32_t c : alphabet_) {
            if (c != '\'') asciiLetters_ += char(c);
            asciiInsideLetters_ += char(c);
        }

    if (isEnglish()) {
        for (const char* word : kTechnicalWords) hunspell_->add(word);
        loadRanks(paths.wordListDir);
    }
}

Speller::~Speller() = default;

void Speller::loadRanks(const fs::path& dir) {
    std::string region = "american";
    if (language_.find("GB") != std::string::npos) region = "british";
    else if (language_.find("CA") != std::string::npos) region = "canadian";
    else if (language_.find("AU") != std::string::npos) region = "australian";
    polyFilter_.assign((std::size_t(1) << kPolyFilterLog) / 64, 0);
    for (int rank = 0; rank < int(std::size(kSizeClasses)); ++rank) {
        for (const std::string& list : {std::string("english-words"), std::string("english-contractions"), region + "-words"}) {
            std::ifstream in(dir / (list + "." + std::to_string(kSizeClasses[rank])));
            for (std::string word; std::getline(in, word);) {
                if (word.empty()) continue;
                ranks_.push_back(hashOf(word) | std::uint64_t(rank));
                const auto [bit, other] = polyFilterBits(polyHashOf(word));
                polyFilter_[bit / 64] |= std::uint64_t(1) << (bit % 64);
                polyFilter_[other / 64] |= std::uint64_t(1) << (other % 64);
                if (!isLowerAscii(word)) continue;
                std::uint32_t offset = kRareWord;
                if (rank <= kSoundAlikeRank) {
                    offset = std::uint32_t(soundAlikeWords_.size());
                    soundAlikeWords_ += word;
                    soundAlikeWords_ += '\0';
                }
                outlines_.emplace_back(hashOf(outline(word)), offset);
                if (rank <= kTwoSlipRank && word.size() >= 2 && isLowerAscii(word.substr(0, 2)))
                    initialPairs_.set(std::size_t(word[0] - 'a') * 26 + std::size_t(word[1] - 'a'));
                if (rank <= kTwoSlipRank && word.size() >= kTwoSlipMinLength - 2 && word.size() <= kTwoSlipMaxLength + 2) {
                    commonIndex_.push_back({std::uint32_t(commonWords_.size()), std::uint8_t(word[0]),
                                            std::uint8_t(word.size()), std::uint8_t(rank), lettersOf(word)});
                    commonWords_ += word;
                }
            }
        }
    }
    // By first letter and length; a word in two lists is kept at its most common rank.
    std::sort(commonIndex_.begin(), commonIndex_.end(), [&](const CommonWord& a, const CommonWord& b) {
        auto wa = std::string_view(commonWords_).substr(a.offset, a.length);
        auto wb = std::string_view(commonWords_).substr(b.offset, b.length);
        return std::tie(a.first, a.length, wa, a.rank) < std::tie(b.first, b.length, wb, b.rank);
    });
    commonIndex_.erase(std::unique(commonIndex_.begin(), commonIndex_.end(),
                                   [&](const CommonWord& a, const CommonWord& b) {
                                       return std::string_view(commonWords_).substr(a.offset, a.length) ==
                                              std::string_view(commonWords_).substr(b.offset, b.length);
                                   }),
                       commonIndex_.end());
    commonIndex_.shrink_to_fit();
    commonWords_.shrink_to_fit();
    std::sort(outlines_.begin(), outlines_.end());
    outlines_.shrink_to_fit();
    soundAlikeWords_.shrink_to_fit();
    std::sort(ranks_.begin(), ranks_.end());
    // Keep each word once, at its most common rank.
    ranks_.erase(std::unique(ranks_.begin(), ranks_.end(),
                             [](std::uint64_t a, std::uint64_t b) { return (a & ~0xFull) == (b & ~0xFull); }),
                 ranks_.end());
    ranks_.shrink_to_fit();

    // The words of every English variant, all sizes.
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        bool variant = false;
        for (std::string_view r : {"british-", "british_z-", "canadian-", "australian-", "american-"})
            variant = variant || name.rfind(r, 0) == 0;
        if (!variant || name.find("proper-names") != std::string::npos || name.find("upper") != std::string::npos) continue;
        std::ifstream in(it->path());
        for (std::string word; std::getline(in, word);)
            if (!word.empty()) variantWords_.push_back(hashOf(word));
    }
    std::sort(variantWords_.begin(), variantWords_.end());
    variantWords_.erase(std::unique(variantWords_.begin(), variantWords_.end()), variantWords_.end());
    variantWords_.shrink_to_fit();
    filter_.assign(kFilterBits / 64, 0);
    for (std::uint64_t entry : ranks_)
        for (std::uint64_t bit : {(entry >> 4) & (kFilterBits - 1), (entry >> 40) & (kFilterBits - 1)})
            filter_[bit / 64] |= std::uint64_t(1) << (bit % 64);
}

int Speller::rankOf(std::string_view word) const {
    if (ranks_.empty()) return -1;
    return rankOfKey(hashOf(word));
}

int Speller::rankOfKey(std::uint64_t key) const {
    for (std::uint64_t bit : {(key >> 4) & (kFilterBits - 1), (key >> 40) & (kFilterBits - 1)})
        if (!(filter_[bit / 64] >> (bit % 64) & 1)) return kUnranked;
    auto it = std::lower_bound(ranks_.begin(), ranks_.end(), key);
    if (it != ranks_.end() && (*it & ~0xFull) == key) return int(*it & 0xF);
    return kUnranked;
}

std::vector<std::string> Speller::installedLanguages(const SpellerPaths& paths) {
    std::set<std::string> found;
    for (const auto& dir : paths.dictionaryDirs) {
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->path().extension() != ".dic") continue;
            fs::path aff = it->path();
            aff.replace_extension(".aff");
            if (fs::is_regular_file(aff, ec)) found.insert(it->path().stem().string());
        }
    }
    return {found.begin(), found.end()};
}

bool Speller::spell(const std::string& utf8) const {
    std::string word = encoding_ == "UTF-8" ? utf8 : convert(utf8, encoding_.c_str(), "UTF-8");
    if (word.empty()) return false;
    std::lock_guard lock(mutex_);
    return hunspell_->spell(word);
}

bool Speller::accepts(std::string_view word) const { return spell(normalisedApostrophes(word)); }

bool Speller::isCommon(std::string_view lowerWord) const {
    const int rank = rankOf(lowerWord);
    return rank == 0;
}

std::vector<SpellingCandidate> Speller::candidates(std::string_view lowerWord) const {
    const std::string plain = normalisedApostrophes(lowerWord);
    std::u32string typed = toUtf32(plain);
    const bool lists = !ranks_.empty();

    // Every word one edit away is built in one buffer; with frequency lists,
    // only listed words are kept (a list look-up costs nanoseconds, a
    // dictionary look-up microseconds) and the dictionary confirms them after.
    std::vector<SpellingCandidate> found;
    std::string word;
    auto consider = [&](double cost) {
        if (word.empty()) return;
        if (lists) {
            int rank = rankOf(word);
            if (rank != kUnranked) found.push_back({word, cost + kRarityCost[rank]});
        } else if (spell(word)) {
            found.push_back({word, cost + kNoListRarityCost});
        }
    };
    const std::size_t n = typed.size();
    // A final "e" after a consonant read as a silent one added, after a stem of
    // four letters or more (shorter ones have too many neighbours), unless it
    // may begin an ending whose last letter was left off ("wante" for "wanted",
    // "-er", "-es", "-en"), or be an "s" hit on its neighbouring key ("jumpe" for
    // "jumps"): both slips are as likely, and a form of the word is no rival then.
    bool addedFinalE = isEnglish() && lists && n >= 5 && typed[n - 1] == 'e' && isConsonant(typed[n - 2]);
    if (lists && asciiAlphabet_ && n <= kMaxAsciiWord &&
        std::all_of(plain.begin(), plain.end(), [](char c) { return (c & 0x80) == 0; })) {
        // ASCII, the common case: one byte a letter. A variant's polynomial
        // hash follows from the typed word's prefix and suffix sums in a few
        // operations, and its own filter turns away nearly every variant
        // before one is built; only those that pass are hashed for the lists.
        std::uint64_t power[kMaxAsciiWord + 2], prefix[kMaxAsciiWord + 1], suffix[kMaxAsciiWord + 1];
        power[0] = 1;
        for (std::size_t k = 0; k <= n; ++k) power[k + 1] = power[k] * kPolyBase;
        prefix[0] = 0;
        for (std::size_t k = 0; k < n; ++k) prefix[k + 1] = prefix[k] * kPolyBase + static_cast<unsigned char>(plain[k]);
        suffix[n] = 0;
        for (std::size_t k = n; k-- > 0;) suffix[k] = suffix[k + 1] + static_cast<unsigned char>(plain[k]) * power[n - 1 - k];
        const std::uint64_t whole = prefix[n];
        // The cost is reckoned only for a listed word: most variants are none.
        const std::uint64_t* const filter = polyFilter_.data();
        auto keep = [&](std::uint64_t poly, auto&& make, auto&& cost) {
            const auto [bit, other] = polyFilterBits(poly);
            if (!(filter[bit / 64] >> (bit % 64) & 1) || !(filter[other / 64] >> (other % 64) & 1)) return;
            std::string w = make();
            const int rank = rankOfKey(hashOf(w));
            if (rank != kUnranked) found.push_back({std::move(w), cost() + kRarityCost[rank]});
        };
        auto listed = [&](std::string_view w) { return rankOfKey(hashOf(w)) != kUnranked; };
        for (const char last : {'d', 'r', 's', 'n'}) {
            if (!addedFinalE) break;
            addedFinalE = !listed(plain + last);
        }
        if (addedFinalE) addedFinalE = !listed(plain.substr(0, n - 1) + 's');
        for (std::size_t i = 0; i < n && n > 1; ++i)  // a letter too many
            keep(prefix[i] * power[n - 1 - i] + suffix[i + 1], [&] { return plain.substr(0, i) + plain.substr(i + 1); },
                 [&] { return droppedCost(typed, i, addedFinalE); });
        for (std::size_t i = 0; i + 1 < n; ++i) {  // two letters swapped
            if (plain[i] == plain[i + 1]) continue;
            const std::uint64_t a = static_cast<unsigned char>(plain[i]), b = static_cast<unsigned char>(plain[i + 1]);
            keep(whole + (b - a) * power[n - 1 - i] + (a - b) * power[n - 2 - i],
                 [&] {
                     std::string w = plain;
                     std::swap(w[i], w[i + 1]);
                     return w;
                 },
                 [&] { return 0.5 + (i == 0 ? kFirstLetterCost : 0.0); });
        }
        // The order variants are found in is of no account: they are sorted by word below.
        for (std::size_t i = 0; i < n; ++i) {  // a wrong letter
            const std::uint64_t step = power[n - 1 - i];
            const std::uint64_t base = whole - static_cast<unsigned char>(plain[i]) * step;
            for (const char c : asciiLetters_) {
                if (c == plain[i]) continue;
                keep(base + static_cast<unsigned char>(c) * step,
                     [&] {
                         std::string w = plain;
                         w[i] = c;
                         return w;
                     },
                     [&] {
                         return replacedCost(typed[i], char32_t(c), isEnglish()) +
                                (i == 0 ? firstLetterCost(typed[i], char32_t(c)) : 0.0);
                     });
            }
        }
        for (std::size_t i = 0; i <= n; ++i) {  // a letter missing
            const std::uint64_t step = power[n - i];
            const std::uint64_t base = prefix[i] * power[n + 1 - i] + suffix[i];
            for (const char c : i > 0 && i < n ? asciiInsideLetters_ : asciiLetters_)
                keep(base + static_cast<unsigned char>(c) * step,
                     [&] {
                         std::string w = plain;
                         w.insert(w.begin() + std::ptrdiff_t(i), c);
                         return w;
                     },
                     [&] { return addedCost(typed, i, char32_t(c), isEnglish()); });
        }
    } else {
        std::vector<std::string> pieces;  // the typed word's code points, in UTF-8
        for (char32_t c : typed) pieces.push_back(toUtf8(std::u32string_view(&c, 1)));
        auto build = [&](std::size_t from, std::size_t to) {
            for (std::size_t k = from; k < to; ++k) word += pieces[k];
        };
        for (std::string_view last : {"d", "r", "s", "n"}) {
            if (!addedFinalE) break;
            word.clear();
            build(0, n);
            word += last;
            addedFinalE = rankOf(word) == kUnranked;
        }
        if (addedFinalE) {
            word.clear();
            build(0, n - 1);
            word += 's';
            addedFinalE = rankOf(word) == kUnranked;
        }
        for (std::size_t i = 0; i < n; ++i) {  // a letter too many
            word.clear();
            build(0, i);
            build(i + 1, n);
            consider(droppedCost(typed, i, addedFinalE));
        }
        for (std::size_t i = 0; i + 1 < n; ++i) {  // two letters swapped
            if (typed[i] == typed[i + 1]) continue;
            word.clear();
            build(0, i);
            word += pieces[i + 1];
            word += pieces[i];
            build(i + 2, n);
            consider(0.5 + (i == 0 ? kFirstLetterCost : 0.0));
        }
        for (std::size_t i = 0; i < n; ++i) {  // a wrong letter
            for (std::size_t a = 0; a < alphabet_.size(); ++a) {
                char32_t c = alphabet_[a];
                if (c == typed[i] || c == '\'') continue;
                word.clear();
                build(0, i);
                word += alphabetPieces_[a];
                build(i + 1, n);
                consider(replacedCost(typed[i], c, isEnglish()) + (i == 0 ? firstLetterCost(typed[i], c) : 0.0));
            }
        }
        for (std::size_t i = 0; i <= n; ++i) {  // a letter missing
            for (std::size_t a = 0; a < alphabet_.size(); ++a) {
                char32_t c = alphabet_[a];
                if (c == '\'' && (i == 0 || i == n)) continue;
                word.clear();
                build(0, i);
                word += alphabetPieces_[a];
                build(i, n);
                consider(addedCost(typed, i, c, isEnglish()));
            }
        }
    }
    if (isEnglish()) {  // one sound spelled another way: "telefone"
        for (auto [from, to] : kSoundSpellings)
            for (std::size_t at = plain.find(from); at != std::string::npos; at = plain.find(from, at + 1)) {
                word = plain.substr(0, at);
                word += to;
                word += plain.substr(at + from.size());
                consider(kSoundSpellingCost + (at == 0 ? kFirstLetterCost : 0.0));
            }
    }

    // One entry per word, at its cheapest; then the dictionary's word.
    std::sort(found.begin(), found.end(),
              [](const auto& x, const auto& y) { return x.word != y.word ? x.word < y.word : x.score < y.score; });
    found.erase(std::unique(found.begin(), found.end(), [](const auto& x, const auto& y) { return x.word == y.word; }),
                found.end());
    if (lists) std::erase_if(found, [&](const SpellingCandidate& c) { return !spell(c.word); });
    std::stable_sort(found.begin(), found.end(), [](const auto& x, const auto& y) { return x.score < y.score; });
    return found;
}

bool Speller::variantKnows(std::string_view word) const {
    if (variantWords_.empty()) return false;
    std::string w = normalisedApostrophes(word);
    if (std::binary_search(variantWords_.begin(), variantWords_.end(), hashOf(w))) return true;
    if (std::none_of(w.begin(), w.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) return false;  // its lower case is itself
    std::string lower;
    for (char c : w) lower += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return std::binary_search(variantWords_.begin(), variantWords_.end(), hashOf(lower));
}

bool Speller::knows(std::string_view word) const {
    if (!ranks_.empty() && word.size() < 64) {
        char lower[64];
        std::size_t n = 0;
        for (char c : word) lower[n++] = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
        if (rankOf(std::string_view(lower, n)) != kUnranked) return true;
    }
    return accepts(word);
}

// Words that writers run together with a neighbour ("upto", "eachother",
// "alot"). A split into other words is more often a misspelling that happens
// to split ("noring" is no "no ring", "allready" no "all ready").
constexpr std::string_view kJoinedWords[] = {
    "a", "any", "as", "at", "bit", "by", "can", "course", "do", "does", "each", "even", "ever", "every", "fact",
    "few", "for", "front", "how", "if", "in", "least", "little", "lot", "no", "not", "of", "on", "one", "other",
    "so", "some", "than", "though", "time", "to", "up", "well", "what", "while", "with"};

// The nouns among them.
constexpr std::string_view kJoinedNouns[] = {"bit", "course", "fact", "front", "lot", "time"};

// Whether the word is one of kJoinedWords; most parts of a split word are longer than any.
bool isJoinedWord(std::string_view w) {
    constexpr std::size_t kLongest = std::ranges::max(kJoinedWords, {}, &std::string_view::size).size();
    return w.size() <= kLongest && std::find(std::begin(kJoinedWords), std::end(kJoinedWords), w) != std::end(kJoinedWords);
}

std::optional<std::pair<std::string, std::string>> Speller::split(std::string_view lowerWord) const {
    // Only the commonest words (the first three size classes).
    constexpr int kCommon = 2;
    if (ranks_.empty()) return std::nullopt;
    std::optional<std::pair<std::string, std::string>> found;
    for (std::size_t k = 1; k < lowerWord.size(); ++k) {
        if ((static_cast<unsigned char>(lowerWord[k]) & 0xC0) == 0x80) continue;
        const std::string_view left = lowerWord.substr(0, k), right = lowerWord.substr(k);
        auto part = [&](std::string_view w) {
            if (!isJoinedWord(w)) return false;
            int rank = rankOf(w);
            return rank >= 0 && rank <= kCommon && spell(std::string(w));
        };
        if (!part(left) || !part(right)) continue;
        if (found) return std::nullopt;  // two readings: not clear
        found = std::pair{std::string(left), std::string(right)};
    }
    // The joint's letter typed twice ("attleast"), unless one slip explains
    // the word better ("cannto" is "cannot", not "can to").
    for (std::size_t k = 1; !found && k < lowerWord.size(); ++k) {
        if (lowerWord[k - 1] != lowerWord[k] || !isLowerAscii(lowerWord.substr(k - 1, 2))) continue;
        std::string once = std::string(lowerWord.substr(0, k)) + std::string(lowerWord.substr(k + 1));
        if (auto parts = split(once); parts && (parts->first.size() == k || parts->first.size() == k - 1))
        {
            auto near = candidates(lowerWord);
            return !near.empty() && near[0].score <= kMaxListedScore + kScoreSlack ? std::nullopt : parts;
        }
    }
    if (found) return found;
    found = runTogether(lowerWord);
    if (found) {
        auto near = candidates(lowerWord);
        if (!near.empty() && (near[0].score <= kClearSlip + kScoreSlack ||
                              (near[0].score <= kLikelySlip + kScoreSlack && outline(near[0].word) == outline(lowerWord))))
            return std::nullopt;
    }
    return found;
}

std::optional<std::pair<std::string, std::string>> Speller::runTogether(std::string_view lowerWord) const {
    constexpr int kCommon = 2;
    if (ranks_.empty() || lowerWord.size() < 5 || !isLowerAscii(lowerWord)) return std::nullopt;
    // "everydays" is a word with an -s, not "every days".
    if (lowerWord.back() == 's' && spell(std::string(lowerWord.substr(0, lowerWord.size() - 1)))) return std::nullopt;
    // One of those words joined to any of the commonest words ("incase",
    // "tothe"). Not "a", which starts too many misspellings ("amature").
    std::optional<std::pair<std::string, std::string>> found;
    for (std::size_t k = 2; k + 1 < lowerWord.size(); ++k) {
        const std::string_view left = lowerWord.substr(0, k), right = lowerWord.substr(k);
        auto listed = [&](std::string_view w) { return isJoinedWord(w) && rankOf(w) <= kCommon; };
        const bool leftListed = listed(left);
        if (!leftListed && !listed(right)) continue;
        // A noun of the list closes the phrase a learner runs together ("in
        // fact", "every time"); opening one it is half of a term of the
        // trade, as written ("timecheck").
        if (leftListed && !listed(right) &&
            std::find(std::begin(kJoinedNouns), std::end(kJoinedNouns), left) != std::end(kJoinedNouns))
            continue;
        const std::string_view other = leftListed ? right : left;
        if (rankOf(other) != 0 || !spell(std::string(left)) || !spell(std::string(right))) continue;
        if (found) return std::nullopt;
        found = std::pair{std::string(left), std::string(right)};
    }
    return found;
}

std::optional<std::string> Speller::joined(std::string_view left, std::string_view lowerRight) const {
    // A word that commonly stands alone is left to stand alone: only a
    // common joined word (up to size 50) is taken.
    constexpr int kCommonJoined = 4;
    if (ranks_.empty() || left.size() < 2 || !isLowerAscii(left) || !isLowerAscii(lowerRight)) return std::nullopt;
    std::string word = std::string(left) + std::string(lowerRight);
    int rank = rankOf(word);
    if (rank > kCommonJoined || !spell(word)) return std::nullopt;
    return word;
}

std::optional<std::string> Speller::soundAlike(std::string_view lowerWord) const {
    if (lowerWord.size() < 5 || !isLowerAscii(lowerWord)) return std::nullopt;
    const std::uint64_t key = hashOf(outline(lowerWord));
    auto [from, to] = std::equal_range(outlines_.begin(), outlines_.end(), std::pair{key, std::uint32_t(0)},
                                       [](const auto& a, const auto& b) { return a.first < b.first; });
    if (to - from != 1 || from->second == kRareWord) return std::nullopt;
    std::string word(soundAlikeWords_.c_str() + from->second);
    // Near in spelling too: at most two slips, three in a long word.
    std::size_t length = std::max(word.size(), lowerWord.size());
    std::size_t distance = editDistance(word, lowerWord);
    if (word == lowerWord || distance > (length >= 9 ? 3 : 2)) return std::nullopt;
    if (!spell(word)) return std::nullopt;
    return word;
}

std::optional<std::string> Speller::twoSlips(std::string_view lowerWord) const {
    return twoSlips(lowerWord, candidates(lowerWord));
}

std::optional<std::string> Speller::twoSlips(std::string_view lowerWord, const std::vector<SpellingCandidate>& near) const {
    const std::size_t n = lowerWord.size();
    if (commonIndex_.empty() || n < kTwoSlipMinLength || n > kTwoSlipMaxLength || !isLowerAscii(lowerWord)) return std::nullopt;
    const std::u32string typed(lowerWord.begin(), lowerWord.end());
    const std::uint32_t typedLetters = lettersOf(lowerWord);
    struct Found {
        std::string_view word;
        double score;
        std::size_t slips;
    };
    std::vector<Found> found;
    // Unit edit distance (with swaps), given up once it must exceed two.
    std::size_t rows[3][kTwoSlipMaxLength + 3];
    // The slips' cost, as for one slip: keyboard neighbours, vowels, doubled letters.
    double cost[kTwoSlipMaxLength + 1][kTwoSlipMaxLength + 3];
    const char first = lowerWord[0];
    // A first vowel is often heard as another: the words of every vowel are then rivals.
    const std::string_view firsts = isVowel(char32_t(first)) ? std::string_view("aeiou") : std::string_view(&first, 1);
    for (char lead : firsts) {
    auto begin = std::lower_bound(commonIndex_.begin(), commonIndex_.end(), std::pair{std::uint8_t(lead), std::uint8_t(n - 2)},
                                  [](const CommonWord& e, const auto& key) { return std::pair{e.first, e.length} < key; });
    for (auto it = begin; it != commonIndex_.end() && it->first == std::uint8_t(lead) && it->length <= n + 2; ++it) {
        // Two edits add at most two letters the word lacks, and take at most two away.
        if (std::popcount(typedLetters & ~it->letters) > 2 || std::popcount(it->letters & ~typedLetters) > 2) continue;
        std::string_view word = std::string_view(commonWords_).substr(it->offset, it->length);
        const std::size_t m = word.size();
        for (std::size_t j = 0; j <= m; ++j) rows[0][j] = j;
        bool far = false;
        std::size_t* prev2 = nullptr;
        std::size_t* prev = rows[0];
        for (std::size_t i = 1; i <= n && !far; ++i) {
            std::size_t* row = rows[i % 3];
            row[0] = i;
            std::size_t best = i;
            for (std::size_t j = 1; j <= m; ++j) {
                std::size_t d = std::min({prev[j] + 1, row[j - 1] + 1, prev[j - 1] + (lowerWord[i - 1] != word[j - 1])});
                if (prev2 && j > 1 && lowerWord[i - 1] == word[j - 2] && lowerWord[i - 2] == word[j - 1])
                    d = std::min(d, prev2[j - 2] + 1);
                row[j] = d;
                best = std::min(best, d);
            }
            far = best > 2;
            prev2 = prev;
            prev = row;
        }
        std::size_t slips = prev[m];
        if (far || slips == 0 || slips > 2) continue;
        for (std::size_t j = 0; j <= m; ++j) cost[0][j] = j == 0 ? 0.0 : cost[0][j - 1] + addedCost(typed, 0, char32_t(word[j - 1]));
        for (std::size_t i = 1; i <= n; ++i) {
            cost[i][0] = cost[i - 1][0] + droppedCost(typed, i - 1);
            for (std::size_t j = 1; j <= m; ++j) {
                char32_t t = typed[i - 1], w = char32_t(word[j - 1]);
                double first = i == 1 || j == 1 ? firstLetterCost(t, w) : 0.0;
                double c = std::min({cost[i - 1][j] + droppedCost(typed, i - 1), cost[i][j - 1] + addedCost(typed, i, w),
                                     cost[i - 1][j - 1] + (t == w ? 0.0 : replacedCost(t, w) + first)});
                if (i > 1 && j > 1 && t == char32_t(word[j - 2]) && typed[i - 2] == w)
                    c = std::min(c, cost[i - 2][j - 2] + 0.5 + (i == 2 ? kFirstLetterCost : 0.0));
                cost[i][j] = c;
            }
        }
        found.push_back({word, cost[n][m] + kRarityCost[it->rank], slips});
    }
    }
    // Rivals one slip away among rarer words too.
    for (const auto& c : near) found.push_back({c.word, c.score, 1});
    if (found.empty()) return std::nullopt;
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.score != b.score ? a.score < b.score : a.word < b.word;
    });
    const Found& best = found[0];
    // Two slips leave much open: the word must at least keep the typed word's ending.
    if (best.slips != 2 || best.word[0] != first || best.score > kLongTwoSlipMaxScore + kScoreSlack ||
        !sameEnding(best.word, lowerWord))
        return std::nullopt;
    const bool costly = best.score > kTwoSlipMaxScore + kScoreSlack;
    // A vowel-led word must keep its second letter too: the first gives little hold ("amarillos" is no "armadillos").
    if (costly && (n < kLongWord || (isVowel(char32_t(first)) && best.word[1] != lowerWord[1]) || best.word.back() != lowerWord.back() ||
                   coinedOrCut(lowerWord, best.word)))
        return std::nullopt;
    for (std::size_t k = 1; k < found.size(); ++k)
        if (found[k].word != best.word) {
            if (found[k].score - best.score <= kTwoSlipLead + kScoreSlack) return std::nullopt;
            break;
        }
    std::string word(best.word);
    if (!spell(word)) return std::nullopt;
    return word;
}

bool Speller::coinedOrCut(std::string_view lowerWord, std::string_view word) const {
    // A writer seldom types two letters too many; a name of the trade often
    // loses two to the search ("symlink" is no "slink").
    if (word.size() + 1 < lowerWord.size()) return true;
    // Two known words joined are a coinage of the trade ("bugfixes", "readonly"), not slips.
    constexpr std::size_t kMinPart = 3;
    for (std::size_t k = kMinPart; k + kMinPart <= lowerWord.size(); ++k)
        if (spell(std::string(lowerWord.substr(0, k))) && spell(std::string(lowerWord.substr(k)))) return true;
    return false;
}

std::optional<std::string> Speller::onlyTwoSlips(std::string_view lowerWord) const {
    const std::size_t n = lowerWord.size();
    if (commonIndex_.empty() || n < kOnlyTwoSlipMinLength || n > kTwoSlipMaxLength || !isLowerAscii(lowerWord)) return std::nullopt;
    const std::uint32_t typedLetters = lettersOf(lowerWord);
    // A first vowel is often heard as another: search the words that open with any vowel then.
    std::string firsts(1, lowerWord[0]);
    if (isVowel(char32_t(lowerWord[0]))) firsts = "aeiou";
    // Edit distance with swaps; `likely` allows only likely replacements.
    std::size_t rows[3][kTwoSlipMaxLength + 3];
    auto distance = [&](std::string_view word, bool likely) {
        const std::size_t m = word.size();
        for (std::size_t j = 0; j <= m; ++j) rows[0][j] = j;
        std::size_t* prev2 = nullptr;
        std::size_t* prev = rows[0];
        for (std::size_t i = 1; i <= n; ++i) {
            std::size_t* row = rows[i % 3];
            row[0] = i;
            std::size_t best = i;
            for (std::size_t j = 1; j <= m; ++j) {
                const char t = lowerWord[i - 1], w = word[j - 1];
                std::size_t replaced = t == w ? 0
                                       : !likely || adjacentKeys(char32_t(t), char32_t(w)) || (isVowel(char32_t(t)) && isVowel(char32_t(w))) ? 1
                                                                                                                                            : 3;
                std::size_t d = std::min({prev[j] + 1, row[j - 1] + 1, prev[j - 1] + replaced});
                if (prev2 && j > 1 && t == word[j - 2] && lowerWord[i - 2] == w) d = std::min(d, prev2[j - 2] + 1);
                row[j] = d;
                best = std::min(best, d);
            }
            if (best > 2) return std::size_t(3);
            prev2 = prev;
            prev = row;
        }
        return prev[m];
    };
    std::optional<std::string_view> only;
    for (char first : firsts) {
        auto begin = std::lower_bound(commonIndex_.begin(), commonIndex_.end(), std::pair{std::uint8_t(first), std::uint8_t(n - 2)},
                                      [](const CommonWord& e, const auto& key) { return std::pair{e.first, e.length} < key; });
        for (auto it = begin; it != commonIndex_.end() && it->first == std::uint8_t(first) && it->length <= n + 2; ++it) {
            if (std::popcount(typedLetters & ~it->letters) > 2 || std::popcount(it->letters & ~typedLetters) > 2) continue;
            std::string_view word = std::string_view(commonWords_).substr(it->offset, it->length);
            // Any word within two slips of any kind is a rival, a likely reading or not.
            if (distance(word, false) > 2) continue;
            if (only || it->rank > kOnlyTwoSlipRank || distance(word, true) > 2) return std::nullopt;
            only = word;
        }
    }
    if (!only) return std::nullopt;
    if (!lastTwoKept(lowerWord, *only) || coinedOrCut(lowerWord, *only)) return std::nullopt;
    std::string word(*only);
    if (!spell(word)) return std::nullopt;
    return word;
}

// Whether the word is a regular derivation of a word the dictionary knows,
// made by the spelling rules ("sandboxed", "fuzzers", "schemas", "parsable",
// "untrusted", "natively"): a coinage of the trade the dictionary lacks, not a slip.
// Not where the rules would double a final consonant ("stoped", "writter"),
// turn a "y" into "i" ("studyed") or drop an "e" ("hopeing").
bool Speller::derivedFromKnown(std::string_view w) const {
    constexpr std::size_t kMinBase = 4;
    auto vowel = [](char c) { return std::string_view("aeiou").find(c) != std::string_view::npos; };
    auto known = [&](std::string_view base) { return base.size() >= kMinBase && spell(std::string(base)); };
    // A base that ends consonant-vowel-consonant may double its last letter: which is meant is not clear.
    // Only short bases double ("admit", "stop"; not "serializ-").
    auto doubles = [&](std::string_view base) {
        std::size_t n = base.size(), syllables = 0;
        for (std::size_t k = 0; k < n; ++k) syllables += vowel(base[k]) && (k == 0 || !vowel(base[k - 1]));
        return n >= 3 && syllables <= 2 && !vowel(base[n - 1]) && std::string_view("wxy").find(base[n - 1]) == std::string_view::npos &&
               vowel(base[n - 2]) && !vowel(base[n - 3]);
    };
    // "un-" freely only before a participle ("untested"; "unability" is a slip).
    if (w.starts_with("un") && (w.ends_with("ed") || w.ends_with("ing")) && known(w.substr(2))) return true;
    for (std::string_view suffix : {"s", "es", "ed", "er", "ers", "able"}) {
        if (w.size() < suffix.size() + kMinBase || !w.ends_with(suffix)) continue;
        std::string_view base = w.substr(0, w.size() - suffix.size());
        const char last = base.back();
        if (suffix == "s") {
            if (last == 's' || (last == 'y' && !vowel(base[base.size() - 2]))) continue;  // "companys"
            if (known(base)) return true;
            continue;
        }
        if (suffix == "es") {
            if (std::string_view("sxz").find(last) != std::string_view::npos || base.ends_with("ch") || base.ends_with("sh"))
                if (known(base)) return true;
            continue;
        }
        if (last == 'y' && !vowel(base[base.size() - 2])) continue;  // "studyed"
        if (last == 'e' || doubles(base)) continue;  // "e" + "ed" is no spelling; "stoped" may be "stope" + "d"
        if (known(base)) return true;
        // The base's silent "e" dropped before the ending: "triager", "parsable".
        if (!vowel(last) && known(std::string(base) + 'e')) return true;
    }
    // "natively": -ly keeps a final "e" ("basicly" is no "basic" + "ly").
    if (w.size() >= kMinBase + 3 && w.ends_with("ely") && known(w.substr(0, w.size() - 2))) return true;
    // "serializer", "triagers": an ending on a base in "e".
    for (std::string_view suffix : {"r", "rs", "d"})
        if (w.size() > suffix.size() + kMinBase && w.ends_with(suffix) && w[w.size() - suffix.size() - 1] == 'e' &&
            !doubles(w.substr(0, w.size() - suffix.size() - 1)) && known(w.substr(0, w.size() - suffix.size())))
            return true;
    return false;
}

std::optional<std::string> Speller::correction(std::string_view lowerWord, Form expected) const {
    return correction(lowerWord, Context{expected, {}, {}});
}

std::optional<std::string_view> Speller::nearestOf(std::string_view typed, std::span<const std::string_view> words) {
    // 1 for one slip, 2 for two letters left out; an odd step marks letters left out only.
    auto distance = [&](std::string_view w) -> int {
        if (typed.empty() || w.empty() || typed[0] != w[0] || w == typed) return 0;
        const bool leftOut = w.size() > typed.size() && w.size() - typed.size() <= 2 && [&] {
            std::size_t k = 0;
            for (char c : w) k += k < typed.size() && typed[k] == c;
            return k == typed.size();
        }();
        if (leftOut) return w.size() - typed.size() == 1 ? 1 : 3;
        if (w.size() + 1 < typed.size() || typed.size() + 1 < w.size()) return 0;
        std::size_t a = 0;
        while (a < w.size() && a < typed.size() && w[a] == typed[a]) ++a;
        std::size_t b = 0;
        while (b < w.size() - a && b < typed.size() - a && w[w.size() - 1 - b] == typed[typed.size() - 1 - b]) ++b;
        const std::size_t restW = w.size() - a - b, restT = typed.size() - a - b;
        if ((restW == 1 && restT == 1) || (restW == 0 && restT == 1)) return 2;  // a letter replaced or too many
        if (restW == 2 && restT == 2 && w[a] == typed[a + 1] && w[a + 1] == typed[a]) return 2;  // swapped
        return 0;
    };
    std::optional<std::string_view> best;
    int bestDistance = 0;
    bool tie = false;
    for (std::string_view w : words) {
        const int d = distance(w);
        if (d == 0) continue;
        if (!best || d < bestDistance) {
            best = w;
            bestDistance = d;
            tie = false;
        } else if (d == bestDistance) {
            tie = true;
        }
    }
    if (tie) return std::nullopt;
    return best;
}

std::size_t Speller::slipsBetween(std::string_view a, std::string_view b) { return editDistance(a, b); }

std::optional<std::string> Speller::correction(std::string_view lowerWord, const Context& context) const {
    const Form expected = context.expected;
    if (!context.rejected && accepts(lowerWord)) return std::nullopt;
    // Where only a few words fit, the one within reach is meant, however many
    // other words a slip would make ("woud" between "I" and "go" is "would").
    if (!context.only.empty())
        if (auto fit = nearestOf(lowerWord, context.only)) return std::string(*fit);
    // A derivation stands unless one clear slip explains the word better: two
    // letters swapped often make one ("fatser" is "faster", not "fats" + "-er").
    if (isEnglish() && !ranks_.empty() && isLowerAscii(lowerWord) && derivedFromKnown(lowerWord)) {
        auto near = candidates(lowerWord);
        if (near.empty() || near[0].score > kClearSlip + kScoreSlack) return std::nullopt;
    }
    // A noun made of a known word in "-ct" with "-ion" is a coinage
    // ("ediction" of "edict", as "selection" of "select"), not a slip of
    // another word one costly slip away ("edition"); a likely slip still
    // wins, and a word further away is still searched.
    if (isEnglish() && !ranks_.empty() && isLowerAscii(lowerWord) && lowerWord.size() >= kCoinedMinBase + 3 &&
        lowerWord.ends_with("ction") && spell(std::string(lowerWord.substr(0, lowerWord.size() - 3)))) {
        auto near = candidates(lowerWord);
        if (!near.empty() && near[0].score > kLikelySlip + kScoreSlack && near[0].score <= kMaxListedScore + kScoreSlack)
            return std::nullopt;
    }
    if (isEnglish()) {
        // Two consonants that no common word opens with ("dbus", "mmap") mark
        // a name; only its first two letters swapped ("hte") is taken as a slip.
        auto consonant = [](char c) { return c >= 'a' && c <= 'z' && std::string_view("aeiouy").find(c) == std::string_view::npos; };
        if (initialPairs_.any() && lowerWord.size() >= 2 && consonant(lowerWord[0]) && consonant(lowerWord[1]) &&
            !initialPairs_.test(std::size_t(lowerWord[0] - 'a') * 26 + std::size_t(lowerWord[1] - 'a'))) {
            std::string swapped(lowerWord);
            std::swap(swapped[0], swapped[1]);
            if (rankOf(swapped) <= kTwoSlipRank && spell(swapped)) return swapped;
            return std::nullopt;
        }
    }
    return plainCorrection(lowerWord, expected, context.excluded);
}

bool Speller::missesLetterOfCommonWord(std::string_view lowerWord) const {
    if (ranks_.empty()) return false;
    auto fixed = correction(lowerWord);
    return fixed && fixed->size() == lowerWord.size() + 1 && rankOf(*fixed) == 0;
}

std::optional<std::string> Speller::plainCorrection(std::string_view lowerWord, Form expected,
                                                    const std::function<bool(std::string_view)>& excluded) const {
    // "familys": the plural of a word in -y.
    if (lowerWord.size() > 4 && lowerWord.ends_with("ys") && std::string_view("aeiou").find(lowerWord[lowerWord.size() - 3]) == std::string_view::npos) {
        std::string plural = std::string(lowerWord.substr(0, lowerWord.size() - 2)) + "ies";
        if (!ranks_.empty() && rankOf(plural) <= kCommonPluralRank && spell(plural) && !(excluded && excluded(plural)))
            return plural;
    }
    auto found = candidates(lowerWord);
    const bool oneSlipAway = !found.empty();
    // A word the place leaves no room for is no reading of the slip, whichever search finds it.
    auto fits = [&](std::optional<std::string> word) { return word && excluded && excluded(*word) ? std::nullopt : word; };
    if (excluded) std::erase_if(found, [&](const SpellingCandidate& c) { return excluded(c.word); });
    // A plural is never made a possessive: "informations" is no "information's".
    if (lowerWord.size() > 1 && lowerWord.back() == 's')
        std::erase_if(found, [&](const SpellingCandidate& c) {
            return c.word.size() == lowerWord.size() + 1 && c.word.ends_with("'s") &&
                   std::string_view(c.word).substr(0, c.word.size() - 2) == lowerWord.substr(0, lowerWord.size() - 1);
        });
    // A long word seldom lies one slip from a word it was not meant to be: a
    // costlier slip may be taken there, with a wider lead.
    const bool lists = !ranks_.empty();
    const bool longWord = lists && lowerWord.size() >= kLongWord;
    const double maxScore = !lists ? kMaxScore : longWord ? kMaxLongScore : kMaxListedScore;
    // No single slip explains the word: a word that sounds alike may.
    if (found.empty() || found[0].score > maxScore + kScoreSlack) {
        if (auto alike = fits(soundAlike(lowerWord))) return alike;
        if (auto two = fits(twoSlips(lowerWord, found))) return two;
        // Only where nothing lies one slip away: the search is for words already known to be misspelt.
        if (!oneSlipAway) return fits(onlyTwoSlips(lowerWord));
        return std::nullopt;
    }
    // Near candidates that differ only in their last two letters ("main"/"mains",
    // "starter"/"started") are forms of one word. The one meant is the one whose
    // ending the typed word shows ("carefull", "helpfull"); when none or
    // several show it, or they are no true forms of one word, which is meant is not clear.
    auto nearForm = [](std::string_view a, std::string_view b) {
        std::size_t common = 0;
        while (common < a.size() && common < b.size() && a[common] == b[common]) ++common;
        return common >= 3 && a.size() - common <= 2 && b.size() - common <= 2;
    };
    Ending typedEnding = endingOf(lowerWord);
    // "answerd": an -ed that lost its e.
    if (typedEnding == Ending::none && lowerWord.size() > 4 && lowerWord.back() == 'd' &&
        std::string_view("aeiou").find(lowerWord[lowerWord.size() - 2]) == std::string_view::npos) {
        std::string past = std::string(lowerWord.substr(0, lowerWord.size() - 1)) + "ed";
        if (std::any_of(found.begin(), found.end(), [&](const SpellingCandidate& c) { return c.word == past; }))
            typedEnding = Ending::ed;
    }
    std::vector<std::size_t> forms{0};
    std::size_t rival = 0;  // the best candidate that is no form of the best
    for (std::size_t k = 1; k < found.size(); ++k) {
        // Words alike only in their last letters ("those"/"thous", "exist"/"exit") are rivals.
        if (found[k].score - found[0].score < kEndingLead - kScoreSlack && nearForm(found[0].word, found[k].word) &&
            formsOfOneWord(found[0].word, found[k].word))
            forms.push_back(k);
        else if (rival == 0)
            rival = k;
    }
    std::size_t chosen = 0;
    if (forms.size() > 1) {
        // The form with the wanted ending, when there is one such. The ending
        // settles a near tie; it does not overturn a clearly cheaper slip
        // ("monthe" is as likely "months", a neighbouring key, as "month").
        auto pick = [&](Ending wanted) -> std::optional<std::size_t> {
            std::vector<std::size_t> shown;
            for (std::size_t k : forms)
                if (endingOf(found[k].word) == wanted) shown.push_back(k);
            // Several forms with that ending ("succeed", "succeeded"): the cheapest, when it is the cheapest of all.
            if (shown.size() > 1 && shown[0] == 0) shown.resize(1);
            if (shown.size() != 1 || found[shown[0]].score - found[0].score > kMinLead + kScoreSlack ||
                found[shown[0]].score > maxScore + kScoreSlack)
                return std::nullopt;
            for (std::size_t k : forms)  // "flags" is no form of "flash"
                if (!formsOfOneWord(found[k].word, found[shown[0]].word)) return std::nullopt;
            return shown[0];
        };
        auto picked = pick(typedEnding);
        // Else the form the neighbour asks for: a plural after "many", a participle after "have".
        if (!picked && expected != Form::any)
            picked = pick(expected == Form::plural ? Ending::s : expected == Form::past ? Ending::ed : Ending::none);
        if (!picked) return std::nullopt;
        chosen = *picked;
    }
    // A near tie goes to a far commoner word even when a rare word is a little
    // cheaper: a slip into an ordinary word is likelier than the rare word
    // itself ("studing" is "studying", not "studding").
    bool settled = false;
    if (forms.size() == 1 && rival != 0 && lists && lowerWord.size() >= kCommonerMinLength) {
        for (std::size_t c = 1; c < found.size() && found[c].score - found[0].score <= kMinLead + kScoreSlack; ++c) {
            if (found[c].score > kCommonerMaxScore + kScoreSlack) break;
            const int rank = rankOf(found[c].word);
            bool commoner = true;
            for (std::size_t k = 0; k < found.size() && found[k].score - found[c].score <= kMinLead + kScoreSlack; ++k)
                commoner = commoner && (k == c || rankOf(found[k].word) >= rank + kCommonerBy);
            if (commoner) {
                chosen = c;
                settled = true;
                break;
            }
        }
    }
    // A lead of more than kMinLead over any other word.
    const bool costly = found[chosen].score > kMaxListedScore + kScoreSlack;
    // A costly slip on top of one in the first letter, which writers seldom mistype, is too far.
    if (costly && found[chosen].word[0] != lowerWord[0]) return std::nullopt;
    double lead = costly ? kLongLead : kMinLead;
    // A near tie goes to the cheaper word when it is also far commoner: "stoped" is "stopped", not "stooped".
    if (!costly && rival != 0 && lists && lowerWord.size() >= kCommonerMinLength) {
        const int rank = rankOf(found[chosen].word);
        bool commoner = true;
        for (std::size_t k = rival; k < found.size() && found[k].score - found[chosen].score <= kMinLead + kScoreSlack; ++k)
            commoner = commoner && (std::find(forms.begin(), forms.end(), k) != forms.end() ||
                                    rankOf(found[k].word) >= rank + kCommonerBy);
        if (commoner) lead = kCommonerLead;
    }
    // A short word with a letter replaced or too many has many neighbours: only
    // a clear lead tells which was meant ("gids" may be "gods" or "bids"); one
    // with a letter left out has few ("redy").
    if (lowerWord.size() == kShortWord && found[chosen].word.size() <= lowerWord.size()) lead = std::max(lead, kShortLead);
    if (!settled && rival != 0 && found[rival].score - found[chosen].score <= lead + kScoreSlack) return std::nullopt;
    // When the winner is a neighbouring key hit for one letter, a rival that is
    // the first letter's neighbouring key, and about as common, is as likely:
    // a hand slips on the first key as on any other ("forner" may be "former"
    // or "corner").
    if (!settled && rival != 0 && lists && neighbourKeySlip(lowerWord, found[chosen].word)) {
        const std::string& other = found[rival].word;
        if (neighbourKeySlip(lowerWord, other) && other[0] != lowerWord[0] &&
            found[rival].score - kFirstLetterCost - found[chosen].score <= kMinLead + kScoreSlack &&
            rankOf(other) <= rankOf(found[chosen].word) + 1)
            return std::nullopt;
    }
    // "companys" is a plural gone wrong, not a singular.
    if (lowerWord.size() > 1 && lowerWord.back() == 's' && found[chosen].word == lowerWord.substr(0, lowerWord.size() - 1))
        return std::nullopt;
    // "peoples", "childrens": an -s on a plural of its own is seldom meant.
    for (std::string_view plural : kPluralsWithoutS)
        if (found[chosen].word.size() == plural.size() + 1 && found[chosen].word.starts_with(plural) &&
            found[chosen].word.back() == 's')
            return std::nullopt;
    std::string word = found[chosen].word;
    // Keep a typographic apostrophe as the writer typed it.
    if (lowerWord.find("\u2019") != std::string_view::npos) {
        std::string typographic;
        for (char c : word) typographic += c == '\'' ? std::string("\u2019") : std::string(1, c);
        word = typographic;
    }
    return word;
}

}  // namespace quillant::service
