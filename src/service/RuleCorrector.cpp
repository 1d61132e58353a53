#include "service/RuleCorrector.h"

#include "service/Commas.h"
#include "service/Grammar.h"
#include "service/SpellingContext.h"
#include "text/Text.h"

#include <algorithm>
#include <functional>
#include <cstddef>
#include <iterator>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace quillant::service {

namespace {

using Tokens = std::vector<Token>;

constexpr unsigned char kEnglish = 0;

// Common misspellings, lower case.
constexpr std::pair<std::string_view, std::string_view> kMisspellings[] = {
    {"accomodate", "accommodate"},   {"acheive", "achieve"},         {"adn", "and"},
    {"adress", "address"},           {"alot", "a lot"},              {"arent", "aren't"},
    {"begining", "beginning"},       {"beleif", "belief"},           {"beleive", "believe"},
    {"beleived", "believed"},        {"calender", "calendar"},       {"collegue", "colleague"},
    {"collegues", "colleagues"},     {"comming", "coming"},          {"commited", "committed"},
    {"concious", "conscious"},       {"couldnt", "couldn't"},        {"definatly", "definitely"},
    {"definately", "definitely"},    {"didnt", "didn't"},            {"doesnt", "doesn't"},
    {"dont", "don't"},               {"enviroment", "environment"},  {"existance", "existence"},
    {"foward", "forward"},           {"freind", "friend"},           {"freinds", "friends"},
    {"goverment", "government"},     {"happend", "happened"},        {"hasnt", "hasn't"},
    {"havent", "haven't"},           {"hte", "the"},                 {"immediatly", "immediately"},
    {"independant", "independent"},  {"isnt", "isn't"},              {"knowlege", "knowledge"},
    {"neccessary", "necessary"},     {"necesary", "necessary"},      {"noticable", "noticeable"},
    {"occassion", "occasion"},       {"occured", "occurred"},        {"occurence", "occurrence"},
    {"occuring", "occurring"},       {"persistant", "persistent"},   {"posession", "possession"},
    {"prefered", "preferred"},       {"publically", "publicly"},     {"realy", "really"},
    {"reccomend", "recommend"},      {"recieve", "receive"},         {"recieved", "received"},
    {"recomend", "recommend"},       {"refered", "referred"},        {"relevent", "relevant"},
    {"remeber", "remember"},         {"responsability", "responsibility"}, {"seperate", "separate"},
    {"seperately", "separately"},    {"shouldnt", "shouldn't"},      {"succesful", "successful"},
    {"sucessful", "successful"},     {"supercede", "supersede"},     {"suprise", "surprise"},
    {"suprised", "surprised"},       {"taht", "that"},               {"teh", "the"},
    {"thier", "their"},              {"tommorow", "tomorrow"},       {"tomorow", "tomorrow"},
    {"tounge", "tongue"},            {"truely", "truly"},            {"untill", "until"},
    {"wasnt", "wasn't"},             {"werent", "weren't"},          {"whcih", "which"},
    {"wich", "which"},               {"wierd", "weird"},             {"wouldnt", "wouldn't"},
    {"writting", "writing"},         {"youre", "you're"},            {"theyre", "they're"},
    {"accross", "across"},           {"cant", "can't"},              {"im", "I'm"},
    {"ive", "I've"},                 {"hadnt", "hadn't"},            {"mustnt", "mustn't"},
    {"thats", "that's"},             {"whats", "what's"},            {"youve", "you've"},
    {"theyve", "they've"},           {"weve", "we've"},              {"theyll", "they'll"},
    {"youll", "you'll"},             {"shes", "she's"},              {"whos", "who's"},
};

// Function words whose doubling is a slip ("the the"). Other words may be
// doubled on purpose ("had had", "that that", "bye bye") or be names
// ("Bora Bora"), so they are kept.
constexpr std::string_view kDoubledSlips[] = {
    "a", "about", "am", "an", "and", "are", "as", "at", "be", "but", "by", "can", "could", "did", "do", "does",
    "for", "from", "has", "have", "he", "his", "i", "if", "in", "into", "its", "me", "my", "not",
    "of", "on", "onto", "or", "our", "she", "should", "than", "the", "their", "they", "this", "to", "was", "we",
    "were", "will", "with", "would", "your"};  // not "her", "it", "you": "gave her her keys", "fire you you lose"

// Abbreviations whose full stop does not end a sentence.
constexpr std::string_view kAbbreviations[] = {
    "al", "apr", "approx", "aug", "ave", "ca", "capt", "cf", "co", "col", "corp", "dec", "dept", "dr", "eds", "eg",
    "esp", "est", "etc", "feb", "fig", "figs", "gen", "hon", "ibid", "ie", "inc", "incl", "jan", "jr", "jul", "jun",
    "lt", "ltd", "mr", "mrs", "ms", "mt", "nov", "oct", "pp", "prof", "rev", "sen", "sep", "sept", "sgt", "sr",
    "st", "viz", "vol", "vols", "vs"};

// Words that start a fragment cut out of a longer sentence, never a sentence
// of their own in a selection: "and then we left".
constexpr std::string_view kContinuationWords[] = {
    "and", "because", "but", "nor", "of", "or", "than", "then", "whereas", "which", "whom", "whose", "yet"};

constexpr std::string_view kCoordinators[] = {"and", "or"};

// Nouns whose modifier is more often a name of the trade than a slip: "the groff package".
constexpr std::string_view kTradeNouns[] = {
    "command", "commands", "daemon", "daemons", "module", "modules", "package", "packages", "plugin", "plugins",
    "snapshot", "snapshots", "utilities", "utility"};

// Endings of package names joined by a hyphen: "groff-base", "libfoo-dev".
constexpr std::string_view kPackageSuffixes[] = {"base", "bin", "common", "core", "data", "dbg",
                                                 "dev", "doc", "tools", "utils"};

// Words right before a mark that is named rather than used: "the ! operator".
constexpr std::string_view kSymbolDeterminers[] = {"a", "an", "each", "every", "the"};
// Words right after such a mark.
constexpr std::string_view kSymbolNouns[] = {
    "button", "char", "character", "characters", "delimiter", "delimiters", "key", "keys", "mark", "marks",
    "operator", "operators", "prefix", "separator", "separators", "sign", "signs", "suffix", "symbol", "symbols",
    "token", "tokens"};

// Where a lone "i" is a letter of maths or a list, not the pronoun: "i is the
// imaginary unit", "i squared", "x, y and i".
constexpr std::string_view kMathsAfterI[] = {"equals", "is", "minus", "plus", "squared", "times"};
constexpr std::string_view kMathsSymbols = "=+-*/^<>\u00D7\u00B7\u2212\u00B2";

template <std::size_t N>
bool contains(const std::string_view (&list)[N], std::string_view word) {
    return std::find(std::begin(list), std::end(list), word) != std::end(list);
}

std::string_view lookUpMisspelling(std::string_view lower) {
    // Asked for every English word, so hashed rather than scanned.
    static const std::unordered_map<std::string_view, std::string_view> table(std::begin(kMisspellings),
                                                                              std::end(kMisspellings));
    auto it = table.find(lower);
    return it == table.end() ? std::string_view() : it->second;
}

bool is(const Tokens& tokens, std::size_t i, TokenKind kind) { return i < tokens.size() && tokens[i].kind == kind; }
bool isPunct(const Tokens& tokens, std::size_t i, std::string_view set) {
    return is(tokens, i, TokenKind::punct) && set.find(tokens[i].text) != std::string_view::npos;
}
bool isEndOrWhitespace(const Tokens& tokens, std::size_t i) {
    return i >= tokens.size() || tokens[i].kind == TokenKind::space || tokens[i].kind == TokenKind::lineBreak;
}
bool hasDigit(std::string_view word) {
    return std::any_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The nearest token before / after i that is not a blank on the same line; npos if none.
std::size_t previousSolid(const Tokens& tokens, std::size_t i) {
    while (i > 0) {
        --i;
        if (tokens[i].kind == TokenKind::lineBreak) return std::string::npos;
        if (tokens[i].kind != TokenKind::space) return i;
    }
    return std::string::npos;
}
std::size_t nextSolid(const Tokens& tokens, std::size_t i) {
    for (++i; i < tokens.size(); ++i) {
        if (tokens[i].kind == TokenKind::lineBreak) return std::string::npos;
        if (tokens[i].kind != TokenKind::space) return i;
    }
    return std::string::npos;
}
bool wordIn(const Tokens& tokens, std::size_t i, auto const& list) {
    return i != std::string::npos && tokens[i].kind == TokenKind::word && contains(list, text::lowercased(tokens[i].text));
}

// Closing quotes and brackets that may stand between a full stop and the next sentence.
constexpr std::string_view kClosers = ")]\"'\u201D\u2019\u00BB";

// A mark with blanks on both sides: "Hello , world", "The ! operator".
bool isLoneMark(const Tokens& tokens, std::size_t i) {
    return isPunct(tokens, i, ",.;:!?") && i > 0 && tokens[i - 1].kind == TokenKind::space && isEndOrWhitespace(tokens, i + 1);
}

// A lone mark that is talked about rather than used: after "the", before
// "operator", or in a list of marks ("use ! , and ?").
bool isNamedMark(const Tokens& tokens, std::size_t i) {
    if (wordIn(tokens, previousSolid(tokens, i), kSymbolDeterminers) || wordIn(tokens, nextSolid(tokens, i), kSymbolNouns))
        return true;
    auto listNeighbour = [&](std::size_t j, bool forward) {
        while (j != std::string::npos && tokens[j].kind == TokenKind::word &&
               (text::lowercased(tokens[j].text) == "and" || text::lowercased(tokens[j].text) == "or"))
            j = forward ? nextSolid(tokens, j) : previousSolid(tokens, j);
        return j != std::string::npos && isLoneMark(tokens, j);
    };
    return listNeighbour(previousSolid(tokens, i), false) || listNeighbour(nextSolid(tokens, i), true);
}

// Whether the full stop, question or exclamation mark at i ends a sentence.
// `atTextEnd`: whether a mark that ends the text counts.
bool endsSentence(const Tokens& tokens, std::size_t i, bool atTextEnd) {
    const std::string& mark = tokens[i].text;
    if (i > 0 && tokens[i - 1].kind == TokenKind::space) return false;  // a mark named, not used
    if (mark == ".") {
        if (isPunct(tokens, i + 1, ".") || (i > 0 && isPunct(tokens, i - 1, "."))) return false;  // "..."
        // "open/close/etc.": an abbreviation closing a list written with slashes.
        if (i > 0 && tokens[i - 1].kind == TokenKind::verbatim) {
            const std::string& piece = tokens[i - 1].text;
            const std::size_t slash = piece.rfind('/');
            if (slash != std::string::npos && contains(kAbbreviations, text::lowercased(piece.substr(slash + 1)))) return false;
        }
        if (i > 0 && tokens[i - 1].kind == TokenKind::word) {
            const std::string& word = tokens[i - 1].text;
            if (contains(kAbbreviations, text::lowercased(word))) return false;
            // "e.g." and "a.m.": a one-letter word after another full stop.
            if (text::graphemeCount(word) == 1 && i > 1 && isPunct(tokens, i - 2, ".")) return false;
            // Written with blanks: "e. g. if", "i. e. methods".
            auto letterStop = [&](std::size_t w) {
                return w + 1 < tokens.size() && tokens[w].kind == TokenKind::word && text::graphemeCount(tokens[w].text) == 1 &&
                       isPunct(tokens, w + 1, ".");
            };
            if (text::graphemeCount(word) == 1 &&
                ((i > 3 && is(tokens, i - 2, TokenKind::space) && letterStop(i - 4)) ||
                 (is(tokens, i + 1, TokenKind::space) && letterStop(i + 2))))
                return false;
        }
    }
    std::size_t j = i + 1;
    while (j < tokens.size() && tokens[j].kind == TokenKind::punct &&
           (kClosers.find(tokens[j].text) != std::string_view::npos || tokens[j].text == "!" || tokens[j].text == "?")) {
        // An aside opened inside a sentence ends with it, not the sentence: "Another (better?) way".
        if (tokens[j].text == ")")
            for (std::size_t k = i; k-- > 0 && tokens[k].kind != TokenKind::lineBreak && tokens[k].text != ")";)
                if (tokens[k].kind == TokenKind::punct && tokens[k].text == "(") {
                    std::size_t before = previousSolid(tokens, k);
                    if (before != std::string::npos && tokens[before].kind == TokenKind::word) return false;
                    break;
                }
        ++j;
    }
    return j < tokens.size() ? isEndOrWhitespace(tokens, j) : atTextEnd;
}

// A quotation that ends its sentence: "fine." followed by a blank.
bool quotationEndsSentence(const Tokens& tokens, std::size_t i, bool atTextEnd) {
    const std::string& q = tokens[i].text;
    std::size_t close = q.size();  // where the closing mark starts
    do --close;
    while (close > 0 && (static_cast<unsigned char>(q[close]) & 0xC0) == 0x80);
    if (close < 2 || std::string_view(".!?").find(q[close - 1]) == std::string_view::npos) return false;
    // After an article the quotation is named, not said: replace the "Done." line.
    if (const std::size_t before = previousSolid(tokens, i); before != std::string::npos && wordIn(tokens, before, kSymbolDeterminers))
        return false;
    return i + 1 < tokens.size() ? isEndOrWhitespace(tokens, i + 1) : atTextEnd;
}

bool isSentenceEnd(const Tokens& tokens, std::size_t i, bool atTextEnd) {
    if (tokens[i].kind == TokenKind::punct && (tokens[i].text == "." || tokens[i].text == "!" || tokens[i].text == "?"))
        return endsSentence(tokens, i, atTextEnd);
    return tokens[i].kind == TokenKind::quoted && quotationEndsSentence(tokens, i, atTextEnd);
}

// Whether the break at i is followed by a blank line's second break: a new paragraph.
bool startsParagraph(const Tokens& tokens, std::size_t i) {
    if (!is(tokens, i, TokenKind::lineBreak)) return false;
    std::size_t j = i + 1;
    while (is(tokens, j, TokenKind::space)) ++j;
    return is(tokens, j, TokenKind::lineBreak);
}

enum class Start { none, afterMark, block };

// For every token: whether it is the first solid token of a sentence, and
// whether that sentence starts after a mark or starts the text or a paragraph.
std::vector<Start> sentenceStarts(const Tokens& tokens) {
    std::vector<Start> starts(tokens.size(), Start::none);
    Start pending = Start::block;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.kind == TokenKind::space || t.kind == TokenKind::lineBreak) {
            if (startsParagraph(tokens, i)) pending = Start::block;
            continue;
        }
        if (pending != Start::none && t.kind != TokenKind::punct) {  // "(see", an emoji: the word after
            // A bracket closed with no mark of its own holds a word or a
            // phrase, not a sentence: "… problems. (or) Why is it …".
            bool phrase = false;
            if (const std::size_t open = previousSolid(tokens, i); open != std::string::npos && isPunct(tokens, open, "(")) {
                for (std::size_t j = i; j < tokens.size() && tokens[j].kind != TokenKind::lineBreak &&
                                        !isPunct(tokens, j, ".!?");
                     ++j)
                    if (isPunct(tokens, j, ")")) {
                        phrase = true;
                        break;
                    }
            }
            starts[i] = phrase ? Start::none : pending;
            pending = Start::none;
        }
        if (isSentenceEnd(tokens, i, false)) pending = Start::afterMark;
    }
    return starts;
}

// Whether the block (text or paragraph) starting at the word i opens with a
// whole sentence: its first sentence ends inside the block, and its first
// word is not one that continues a sentence cut off before the selection.
bool opensWithWholeSentence(const Tokens& tokens, std::size_t i) {
    if (contains(kContinuationWords, text::lowercased(tokens[i].text))) return false;
    for (std::size_t j = i; j < tokens.size(); ++j) {
        if (startsParagraph(tokens, j)) return false;
        if (isSentenceEnd(tokens, j, true)) return true;
    }
    return false;
}

enum class CasePattern { lower, capitalized, upper, mixed };

CasePattern casePattern(std::string_view word) {
    // Most words are ASCII, whose case needs no Unicode tables.
    if (!word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x80 && c != '\r';
        })) {
        auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
        auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
        if (word.size() > 1 && std::any_of(word.begin(), word.end(), upper) && std::none_of(word.begin(), word.end(), lower))
            return CasePattern::upper;
        if (std::any_of(word.begin() + 1, word.end(), upper)) return CasePattern::mixed;
        return lower(word[0]) ? CasePattern::lower : CasePattern::capitalized;
    }
    if (text::graphemeCount(word) > 1 && isAllUppercase(word)) return CasePattern::upper;
    if (hasUppercaseAfterFirst(word)) return CasePattern::mixed;
    return startsLowercase(word) ? CasePattern::lower : CasePattern::capitalized;
}

std::string withCase(std::string_view word, CasePattern pattern) {
    switch (pattern) {
        case CasePattern::upper: return uppercased(word);
        case CasePattern::capitalized: return capitalizedFirst(word);
        default: return std::string(word);
    }
}


// "word ," → "word,". The mark must be followed by white space, the end or
// another mark, so ":)" and ".5" keep their space; and it must be used, not
// named ("the ! operator"). An ellipsis keeps its blank ("pens ... and ink").
void removeSpaceBeforePunctuation(Tokens& tokens, const std::vector<bool>& spacedMarks) {
    std::vector<bool> named(tokens.size(), false);
    for (std::size_t i = 0; i < tokens.size(); ++i) named[i] = isLoneMark(tokens, i) && isNamedMark(tokens, i);
    Tokens out;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        bool drop = tokens[i].kind == TokenKind::space && tokens[i].language < spacedMarks.size() &&
                    !spacedMarks[tokens[i].language] && !out.empty() &&
                    (out.back().kind == TokenKind::word || out.back().kind == TokenKind::verbatim ||
                     out.back().kind == TokenKind::quoted) &&
                    isPunct(tokens, i + 1, ",.;:!?") && !named[i + 1] &&
                    // An ellipsis stands for words left out: its blank is the writer's.
                    !(isPunct(tokens, i + 1, ".") && isPunct(tokens, i + 2, ".")) &&
                    (isEndOrWhitespace(tokens, i + 2) || isPunct(tokens, i + 2, ".!?") ||
                     (isPunct(tokens, i + 1, ".!?") && isPunct(tokens, i + 2, kClosers)));
        if (!drop) out.push_back(std::move(tokens[i]));
    }
    tokens = std::move(out);
}

// Two or more blanks between words become one. Indentation, trailing blanks
// and tabs are left as they are.
void collapseDoubledSpaces(Tokens& tokens) {
    for (std::size_t i = 1; i + 1 < tokens.size(); ++i) {
        auto& t = tokens[i];
        if (t.kind != TokenKind::space || t.text.size() < 2 || t.text.find('\t') != std::string::npos) continue;
        if (t.language == kUntouchedLanguage) continue;
        if (tokens[i - 1].kind == TokenKind::lineBreak || tokens[i + 1].kind == TokenKind::lineBreak) continue;
        t.text = " ";
    }
}

// Keeps the word's case pattern: "teh" → "the", "Teh" → "The", "TEH" → "THE".
void fixMisspellings(Tokens& tokens) {
    for (auto& t : tokens) {
        if (t.kind != TokenKind::word || t.language != kEnglish || !isPlainWord(t.text)) continue;
        // Every misspelling listed is short ASCII: most words are ruled out
        // without building their lower case.
        std::string_view right;
        if (t.text.size() <= 16 && std::all_of(t.text.begin(), t.text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
            char lower[16];
            for (std::size_t k = 0; k < t.text.size(); ++k)
                lower[k] = (t.text[k] >= 'A' && t.text[k] <= 'Z') ? char(t.text[k] - 'A' + 'a') : t.text[k];
            right = lookUpMisspelling(std::string_view(lower, t.text.size()));
        } else {
            right = lookUpMisspelling(text::lowercased(t.text));
        }
        if (right.empty()) continue;
        CasePattern pattern = casePattern(t.text);
        if (pattern != CasePattern::mixed) t.text = withCase(right, pattern);
    }
}


// "the the" → "the": a function word twice, separated only by blanks on one
// line, the second in lower case ("The The" may be a name).
void removeRepeatedWords(Tokens& tokens) {
    // The first doubling, if any, found without copying: most texts have none.
    // The word after the blank must be the listed word itself, so most
    // words are ruled out before their lower case is built.
    auto doubled = [&](std::size_t i) {
        const Token& word = tokens[i];
        if (word.kind != TokenKind::word || word.language != kEnglish || !is(tokens, i + 1, TokenKind::space) ||
            !is(tokens, i + 2, TokenKind::word) || tokens[i + 2].text.size() > 8 ||
            !contains(kDoubledSlips, tokens[i + 2].text) || !isPlainWord(word.text))
            return false;
        return text::lowercased(word.text) == tokens[i + 2].text;
    };
    std::size_t first = 0;
    while (first < tokens.size() && !doubled(first)) ++first;
    if (first == tokens.size()) return;  // most texts: nothing copied
    Tokens out(std::make_move_iterator(tokens.begin()), std::make_move_iterator(tokens.begin() + std::ptrdiff_t(first)));
    for (std::size_t i = first; i < tokens.size(); ++i) {
        const bool repeated = doubled(i);
        out.push_back(std::move(tokens[i]));
        if (!repeated) continue;
        const std::string lower = tokens[i + 2].text;
        while (is(tokens, i + 1, TokenKind::space) && is(tokens, i + 2, TokenKind::word) && tokens[i + 2].text == lower)
            i += 2;
    }
    tokens = std::move(out);
}

// "i" → "I", also in "i'm", "i've", "i'll", "i'd". Not in "i.e.", a list
// marker "i)", maths ("i = √-1", "i is the imaginary unit", "3 + i") or a
// list of letters ("x, y and i").
void capitalizeLoneI(Tokens& tokens) {
    auto isMaths = [&](std::size_t j) {
        if (j == std::string::npos) return false;
        const Token& t = tokens[j];
        if (t.kind == TokenKind::punct) return kMathsSymbols.find(t.text) != std::string_view::npos;
        return t.kind == TokenKind::word && hasDigit(t.text);
    };
    auto letterNeighbour = [&](std::size_t j, bool forward) {
        while (j != std::string::npos &&
               ((tokens[j].kind == TokenKind::punct && tokens[j].text == ",") ||
                (tokens[j].kind == TokenKind::word &&
                 (text::lowercased(tokens[j].text) == "and" || text::lowercased(tokens[j].text) == "or"))))
            j = forward ? nextSolid(tokens, j) : previousSolid(tokens, j);
        if (j == std::string::npos || tokens[j].kind != TokenKind::word) return false;
        const std::string& w = tokens[j].text;
        return text::graphemeCount(w) == 1 && w != "a" && w != "A" && w != "I" && w != "i" && isPlainWord(w);
    };
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        auto& t = tokens[i];
        if (t.kind != TokenKind::word || t.language != kEnglish || t.text.empty() || t.text[0] != 'i') continue;
        std::string_view rest = std::string_view(t.text).substr(1);
        bool lone = rest.empty() || rest == "'m" || rest == "'ve" || rest == "'ll" || rest == "'d" ||
                    rest == "\u2019m" || rest == "\u2019ve" || rest == "\u2019ll" || rest == "\u2019d";
        if (!lone) continue;
        if (rest.empty()) {
            if (isPunct(tokens, i + 1, ")") || (isPunct(tokens, i + 1, ".") && is(tokens, i + 2, TokenKind::word))) continue;
            // "i. e. the": the abbreviation written with blanks.
            if (isPunct(tokens, i + 1, ".") && is(tokens, i + 2, TokenKind::space) && is(tokens, i + 3, TokenKind::word) &&
                text::graphemeCount(tokens[i + 3].text) == 1 && isPunct(tokens, i + 4, "."))
                continue;
            std::size_t before = previousSolid(tokens, i), after = nextSolid(tokens, i);
            if (isMaths(before) || isMaths(after) || wordIn(tokens, after, kMathsAfterI)) continue;
            if (letterNeighbour(before, false) || letterNeighbour(after, true)) continue;
        }
        t.text[0] = 'I';
    }
}

// A sentence start that a careful writer leaves in lower case: a name
// joined by a mark ("gnome-desktop", "route/netstat", ":bug:"), a paragraph
// wrapped inside its first sentence (the term a paragraph defines, alone on
// its first line, is one: "boot" above "If yes, ..."), a list's item after a dash or a bullet letter ("o If the"), and a numbered
// line ("3. remove the binary").
bool isNameOrListItem(const Tokens& tokens, std::size_t i, Start start) {
    auto joins = [&](std::size_t m, std::size_t w) {
        return m < tokens.size() && w < tokens.size() && tokens[m].kind == TokenKind::punct &&
               std::string_view("-/:").find(tokens[m].text) != std::string_view::npos &&
               (tokens[w].kind == TokenKind::word || tokens[w].kind == TokenKind::verbatim);
    };
    if (joins(i + 1, i + 2) || (i > 0 && isPunct(tokens, i - 1, ":") && isPunct(tokens, i + 1, ":"))) return true;
    const std::size_t before = previousSolid(tokens, i);
    if (start == Start::block) {
        // A paragraph wrapped inside its first sentence is a piece of a document,
        // whose writer chose the lower case: it goes on from before a code block
        // or a list's lead-in ("using the program that is built at the same" /
        // "time as bash."), or opens with a name.
        for (std::size_t j = i + 1; j < tokens.size() && !isSentenceEnd(tokens, j, true); ++j)
            if (tokens[j].kind == TokenKind::lineBreak) return true;
        std::size_t after = nextSolid(tokens, i);
        if (before != std::string::npos && isPunct(tokens, before, "-*\u2013\u2014\u2022")) return true;
        if (text::graphemeCount(tokens[i].text) == 1 && tokens[i].text != "a" && tokens[i].text != "i" &&
            after != std::string::npos && tokens[after].kind == TokenKind::word && !startsLowercase(tokens[after].text))
            return true;
    }
    // "3. remove": a number that opens its line labels an item.
    if (before != std::string::npos && isPunct(tokens, before, ".") && before > 0 && tokens[before - 1].kind == TokenKind::word &&
        std::all_of(tokens[before - 1].text.begin(), tokens[before - 1].text.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        previousSolid(tokens, before - 1) == std::string::npos)
        return true;
    return false;
}

// A word gets a capital where a sentence starts: after ". ", "! ", "? ",
// and at the start of the text or of a paragraph when that opens with a whole
// sentence. Words with digits, '_' or capitals inside ("iPhone") are left alone.
// `known`: whether the word's dictionary has it; one it lacks is a name
// written in lower case on purpose ("gzip is used").
void capitalizeSentenceStarts(Tokens& tokens, const std::function<bool(const Token&)>& known) {
    std::vector<Start> starts = sentenceStarts(tokens);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        auto& t = tokens[i];
        if (starts[i] == Start::none || t.kind != TokenKind::word || t.language == kUntouchedLanguage) continue;
        if (!isPlainWord(t.text) || !startsLowercase(t.text) || hasUppercaseAfterFirst(t.text)) continue;
        // A list's label ("a) the first") or an abbreviation ("i.e. the").
        if (text::graphemeCount(t.text) == 1 && (isPunct(tokens, i + 1, ")") || isPunct(tokens, i + 1, "."))) continue;
        if (!known(t) || isNameOrListItem(tokens, i, starts[i])) continue;
        if (starts[i] == Start::block && !opensWithWholeSentence(tokens, i)) continue;
        t.text = capitalizedFirst(t.text);
    }
}

// Closed-class words that a slip of the shift key capitalises in mid-sentence
// (", When we", "because If you"). Not "I", nor one letter ("plan A is").
constexpr std::string_view kSlipCapitals[] = {
    "the", "an", "he", "she", "it", "we", "they", "you", "me", "him", "her", "us", "them", "my", "your", "his",
    "its", "our", "their", "and", "but", "or", "nor", "so", "because", "if", "when", "while", "although", "though",
    "since", "unless", "until", "then", "that", "this", "these", "those", "there", "what", "which", "who", "whom",
    "whose", "where", "why", "how"};

// Lower-case words that never end a sentence: a capital after one cannot
// open a sentence whose full stop was forgotten ("the shop closed early The
// owner was ill" may be two sentences; "because If you" is one).
constexpr std::string_view kNeverLast[] = {"a",  "an",     "the",      "and",    "but",     "or",   "nor",
                                           "because", "if", "although", "though", "unless", "whether", "than",
                                           "my", "your",   "our",      "their",  "its",     "of",   "every"};
// Verbs of saying: a capital after "said," opens the words said, quoted or not.
constexpr std::string_view kSaying[] = {"said", "says", "say", "asked", "asks", "replied", "replies", "answered",
                                        "wrote", "writes", "told", "tells", "added", "shouted", "thought"};

// Whether the word at i is in mid-sentence: the solid token before it on its
// line is a comma (not one after a verb of saying), a lower-case word that
// never ends a sentence, or the capitalised first word of its sentence ("Then
// It was"). Not after a colon, a quotation mark or a line's start.
bool inMidSentence(const Tokens& tokens, std::size_t i, const std::vector<std::size_t>& sentence) {
    const std::size_t before = previousSolid(tokens, i);
    if (before == std::string::npos) return false;
    if (isPunct(tokens, before, ",")) {
        const std::size_t verb = previousSolid(tokens, before);
        return verb == std::string::npos || !wordIn(tokens, verb, kSaying);
    }
    // Not after a bullet letter ("o If the"), nor after the same word ("The The played": a name).
    if (tokens[before].kind != TokenKind::word || !isPlainWord(tokens[before].text) ||
        hasUppercaseAfterFirst(tokens[before].text) ||
        text::lowercased(tokens[before].text) == text::lowercased(tokens[i].text))
        return false;
    if (sentence[before] == before)
        return !startsLowercase(tokens[before].text) && text::graphemeCount(tokens[before].text) > 1;
    return startsLowercase(tokens[before].text) && contains(kNeverLast, tokens[before].text);
}

// Whether the sentence that holds the word at i ends on i's line: a heading
// ("Why It matters") has no closing mark, and a wrapped line may be one.
bool endsOnItsLine(const Tokens& tokens, std::size_t i) {
    for (std::size_t j = i + 1; j < tokens.size() && tokens[j].kind != TokenKind::lineBreak; ++j)
        if (isSentenceEnd(tokens, j, true)) return true;
    return false;
}

// Letters only, the first two capitals and the rest (more than a plural's
// "s") lower case: "THe", "GReat", not "PCs", "iPhone", "McDonald", "JSON".
bool twoCapitalsSlip(std::string_view w) {
    if (w.size() < 3 || w.substr(2) == "s") return false;
    auto upper = [](char c) { return c >= 'A' && c <= 'Z'; };
    auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
    return upper(w[0]) && upper(w[1]) && std::all_of(w.begin() + 2, w.end(), lower);
}

// "GReat", "THe plan" → "Great", "The plan": a plain word written with a second
// capital by a slip of the shift key, when the dictionary has it as one of the
// commonest words and not as written ("OAuth", "GLib", "GHz" stay).
// And "We left, When it rained" → "when": a closed-class word
// capitalised in mid-sentence before a lower-case word; a capital before
// another ("the film The Great Escape") is a title's. Lower case only in
// whole English sentences without quotation marks that end on the word's line.
void lowerSlipCapitals(Tokens& tokens, const std::function<bool(std::string_view)>& known) {
    std::vector<std::size_t> sentence;  // computed on the first candidate
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        Token& t = tokens[i];
        if (t.kind != TokenKind::word || t.language != kEnglish || t.text.size() < 2 || t.text[0] < 'A' ||
            t.text[0] > 'Z')
            continue;
        const bool slip = twoCapitalsSlip(t.text);
        if (!slip && casePattern(t.text) != CasePattern::capitalized) continue;
        const std::string lower = text::lowercased(t.text);
        if (!slip && !contains(kSlipCapitals, lower)) continue;
        if (sentence.empty()) sentence = wholeSentenceStarts(tokens, true);
        const bool whole = sentence[i] != std::string::npos && endsOnItsLine(tokens, i);
        if (!slip && !whole) continue;
        const std::size_t after = nextSolid(tokens, i);
        const std::string_view next = after == std::string::npos ? std::string_view() : tokens[after].text;
        const bool lowerNext = after != std::string::npos && tokens[after].kind == TokenKind::word &&
                               isPlainWord(next) &&
                               (startsLowercase(next) || next == "I" || next.starts_with("I'") ||
                                next.starts_with("I\u2019"));
        const bool mid = whole && sentence[i] != i && inMidSentence(tokens, i, sentence) && lowerNext;
        if (slip) {
            // The first capital stays: "to PAris" is still a name.
            if (known(t.text) || !known(lower)) continue;
            t.text = capitalizedFirst(lower);
        }
        if (mid && contains(kSlipCapitals, lower)) t.text = lower;
    }
}

// How much of a sentence a dictionary must accept for the sentence to be in its language.
constexpr double kMinAcceptedShare = 0.4;
// A share that no other language needs to be asked to beat.
constexpr double kClearShare = 0.6;

// The words that tell a sentence's language: plain words of two letters or
// more. Long lower-case words come first: they are the ones a wrong language
// rejects (short words are shared, "die", "pour"), so a count that is bound to
// lose stops after one look-up, and a rejected capitalised word costs Hunspell
// two look-ups. The decision does not depend on the order.
std::vector<std::size_t> languageWords(const Tokens& tokens, std::size_t from, std::size_t to) {
    std::vector<std::size_t> out;
    for (std::size_t i = from; i < to; ++i)
        if (tokens[i].kind == TokenKind::word && isPlainWord(tokens[i].text) && text::graphemeCount(tokens[i].text) > 1)
            out.push_back(i);
    auto rank = [&](std::size_t i) {
        const std::string& w = tokens[i].text;
        return std::pair(!startsLowercase(w), -std::ptrdiff_t(w.size()));
    };
    std::stable_sort(out.begin(), out.end(), [&](std::size_t a, std::size_t b) { return rank(a) < rank(b); });
    return out;
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

bool RuleCorrector::SpellMemo::ask(const Speller& speller, std::string_view word, bool knows) {
    knows = knows && speller.rankedWordCount() > 0;  // without lists, knowing is accepting
    auto table = std::find_if(answers_.begin(), answers_.end(),
                              [&](const Answers& a) { return a.speller == &speller && a.knows == knows; });
    if (table == answers_.end()) table = answers_.insert(answers_.end(), Answers{&speller, knows, {}});
    if (auto it = table->byWord.find(word); it != table->byWord.end()) return it->second;
    const bool answer = knows ? speller.knows(word) : speller.accepts(word);
    table->byWord.emplace(std::string(word), answer);
    return answer;
}

bool RuleCorrector::Language::accepts(std::string_view word) const {
    if (primary && (memo ? memo->knows(*primary, word) : primary->knows(word))) return true;
    if (primary && primary->hasVariantLists()) return !variants.empty() && primary->variantKnows(word);
    if (dictionaries)
        for (const auto& name : variants)
            if (const Speller* v = dictionaries->get(name); v && (memo ? memo->accepts(*v, word) : v->accepts(word)))
                return true;
    return false;
}

std::string RuleCorrector::correct(std::string_view text) { return correctIn(text, language_); }

std::string RuleCorrector::correctIn(std::string_view text, const std::string& language) {
    Tokens tokens = tokenize(text);
    std::vector<Language> table;
    SpellMemo memo;
    assignLanguages(tokens, table, language.empty() ? language_ : language, memo);
    // French sets a blank before "?", "!", ":" and ";".
    std::vector<bool> spacedMarks;
    for (const auto& l : table) spacedMarks.push_back(l.primary && l.primary->language().rfind("fr", 0) == 0);
    removeSpaceBeforePunctuation(tokens, spacedMarks);
    collapseDoubledSpaces(tokens);
    // The dictionary as written, and for a lower-case word one of the commonest
    // words: the dictionary also takes names of the trade ("oauth", "glib").
    auto knownAsWritten = [&](std::string_view word) {
        const Speller* english = table[kEnglish].primary;
        return english && english->accepts(word) && (!startsLowercase(word) || english->isCommon(word));
    };
    lowerSlipCapitals(tokens, knownAsWritten);
    const std::string unmended = join(tokens);
    fixMisspellings(tokens);
    fixSpelling(tokens, table);
    // A mended word keeps the writer's capital: mid-sentence "Teh" became "The".
    if (join(tokens) != unmended) lowerSlipCapitals(tokens, knownAsWritten);
    // Before the grammar, whose agreement takes a lower-case "i" for a letter.
    capitalizeLoneI(tokens);
    removeRepeatedWords(tokens);
    // One rule's change may open another's context ("hoped decide visit" →
    // "hoped to decide visit") or make a word twice: the rules run on their own
    // result until it stands, so that correcting a corrected text changes
    // nothing. Only a text the rules changed pays for another pass; a bound
    // keeps the cost, and two passes settle all but rare texts.
    insertCommas(tokens);  // so that grammar sees where clauses start
    for (int pass = 0; pass < 4; ++pass) {
        const std::string before = join(tokens);
        correctGrammar(tokens, [&](std::string_view word) { return table[kEnglish].accepts(word); });
        insertCommas(tokens);  // and again where a corrected verb shows a clause
        if (join(tokens) == before) break;
        removeRepeatedWords(tokens);
        fixMisspellings(tokens);
    }
    capitalizeSentenceStarts(tokens, [&](const Token& t) {
        if (t.language >= table.size()) return true;
        const Language& l = table[t.language];
        return (!l.primary && l.variants.empty()) || l.accepts(t.text) || l.accepts(uppercased(t.text));
    });
    return join(tokens);
}

// Every sentence gets the language whose dictionary accepts the largest share
// of its words (English on a tie), or none when no share reaches half. An
// ASCII sentence that the preferred English dictionary nearly all accepts is
// English without asking other dictionaries, so they load only when needed.
void RuleCorrector::assignLanguages(Tokens& tokens, std::vector<Language>& table, const std::string& language,
                                    SpellMemo& memo) const {
    table.assign(1, Language{nullptr, {}, nullptr, {}, &memo});  // English
    std::vector<Start> starts = sentenceStarts(tokens);
    std::vector<std::pair<std::size_t, std::size_t>> sentences;
    for (std::size_t i = 0; i < tokens.size(); ++i)
        if (sentences.empty() || starts[i] != Start::none) {
            if (!sentences.empty() && starts[i] != Start::none) sentences.back().second = i;
            if (sentences.empty() || starts[i] != Start::none) sentences.push_back({i, tokens.size()});
        }
    if (sentences.empty()) return;
    if (!dictionaries_ && !fixed_) return;  // English from the list alone

    // One chosen dictionary: a sentence it does not recognise is left alone.
    std::vector<std::string> others;
    bool chosen = false;
    if (fixed_) {
        chosen = true;
        if (fixed_->isEnglish()) table[kEnglish].primary = fixed_;
        else table.push_back(Language{fixed_, {}, nullptr, {}, &memo});
    } else if (language != "auto" && dictionaries_->has(language)) {
        chosen = true;
        if (Dictionaries::isEnglish(language)) {
            auto names = dictionaries_->englishNames(language);
            table[kEnglish] = Language{dictionaries_->get(language), {names.begin() + 1, names.end()}, dictionaries_, {}, &memo};
        } else {
            table.push_back(Language{dictionaries_->get(language), {}, nullptr, {}, &memo});
        }
    } else {
        auto names = dictionaries_->englishNames();
        if (!names.empty())
            table[kEnglish] = Language{dictionaries_->get(names[0]), {names.begin() + 1, names.end()}, dictionaries_, {}, &memo};
        others = dictionaries_->otherLanguages();
    }

    // The share of the words that a language accepts; a capitalised word
    // inside the sentence that it rejects is a name and does not count. It
    // is counted word by word and stops as soon as it cannot reach `floor`
    // (then `low` and `high` are that bound, below the floor), so a language
    // that plainly loses costs few look-ups; a later call with a lower floor
    // goes on from there. Another language's dictionary often takes fifty
    // times longer over a capitalised first word than over its lower case
    // ("Je", "je"), and that one word seldom decides: it may be held back,
    // the share then lies in [low, high], and it is asked only when a
    // comparison falls between the two.
    struct Count {
        std::size_t next = 0;
        int counted = 0, accepted = 0;
        bool held = false;
        // Capitalised words inside the sentence, from words[deferred] on,
        // not yet asked: each adds one word and one acceptance or nothing, so
        // the share they leave lies between known bounds.
        std::size_t deferred = std::string::npos;
        int deferredCount = 0;
        const Speller* speller = nullptr;  // asked for the held and deferred words
        double low = 0, high = 0;
    };
    std::size_t first = 0;  // the current sentence's first language word
    auto bounds = [](Count& c) {
        const int n = c.counted + int(c.held);
        if (n == 0) {
            c.low = c.high = 1.0;
            return;
        }
        // Fewest acceptances: the held word rejected and no deferred word
        // counted; most: all of them accepted.
        c.low = double(c.accepted) / n;
        c.high = double(c.accepted + int(c.held) + c.deferredCount) / (n + c.deferredCount);
    };
    auto share = [&](const std::vector<std::size_t>& words, Count& c, auto&& accepts, double floor, bool hold) {
        for (; c.next < words.size(); ++c.next) {
            const int left = int(words.size() - c.next) + int(c.held);
            if (double(c.accepted + left) / (c.counted + left) < floor) {
                c.low = c.high = double(c.accepted + left) / (c.counted + left);
                return;
            }
            const std::string& w = tokens[words[c.next]].text;
            if (hold && words[c.next] == first && !startsLowercase(w)) {
                c.held = true;
                continue;
            }
            // Capitalised words come last. A language's dictionary often
            // takes long over them (German nouns are compounds), and once the
            // lower-case words are counted they seldom decide: they are asked
            // only when a comparison falls between the bounds.
            if (hold && !startsLowercase(w) && c.counted > 0) {
                c.deferred = c.next;
                for (; c.next < words.size(); ++c.next) {
                    if (words[c.next] == first) c.held = true;
                    else ++c.deferredCount;
                }
                bounds(c);
                if (c.high < floor) c.low = c.high;  // as the count above would have stopped
                return;
            }
            // The first word counts as the capitals will leave it ("italy
            // canada." is judged as "Italy canada."), so that a second
            // correction finds the sentence in the same language.
            bool ok = accepts(w) || (words[c.next] == first && startsLowercase(w) && accepts(capitalizedFirst(w)));
            if (!ok && words[c.next] != first && !startsLowercase(w)) continue;
            ++c.counted;
            c.accepted += ok;
        }
        bounds(c);
    };
    // Asks the held and deferred words: the share is then exact.
    auto settle = [&](const std::vector<std::size_t>& words, Count& c) {
        if (!c.held && c.deferredCount == 0) return;
        if (c.held) {
            c.held = false;
            ++c.counted;
            c.accepted += memo.accepts(*c.speller, tokens[first].text);
        }
        if (c.deferredCount > 0) {
            c.deferredCount = 0;
            for (std::size_t k = c.deferred; k < words.size(); ++k)
                if (words[k] != first && memo.accepts(*c.speller, tokens[words[k]].text)) {
                    ++c.counted;
                    ++c.accepted;
                }
        }
        bounds(c);
    };

    bool rivalsLoaded = false;
    std::vector<bool> asked(others.size(), false);
    std::vector<bool> decided;
    std::vector<unsigned char> otherIndex(others.size(), 0);
    constexpr std::size_t npos = std::string::npos;
    std::size_t lastOther = npos;  // the other language that took the last sentence
    std::vector<Count> counts(others.size());
    for (auto [from, to] : sentences) {
        const auto words = languageWords(tokens, from, to);
        // The sentence's first word may be capitalised without being a name.
        first = words.empty() ? 0 : *std::min_element(words.begin(), words.end());
        unsigned char lang = kUntouchedLanguage;
        if (chosen) {
            const Language& only = table.back();
            Count c;
            if (only.primary) {
                share(words, c, [&](const std::string& w) { return only.accepts(w); }, kMinAcceptedShare, false);
                if (c.low >= kMinAcceptedShare) lang = static_cast<unsigned char>(table.size() - 1);
            }
        } else {
            const Speller* const english = table[kEnglish].primary;
            // table grows below: English is looked up afresh each time.
            auto englishAccepts = [&](const std::string& w) { return table[kEnglish].accepts(w); };
            // The best share so far: none beats the floor of kMinAcceptedShare.
            Count* best = nullptr;
            auto bestLow = [&] { return best ? best->low : kMinAcceptedShare - 1e-9; };
            auto bestHigh = [&] { return best ? best->high : kMinAcceptedShare - 1e-9; };
            // Whether `c` beats the best share, asking held words only when their answers decide it.
            auto beatsBest = [&](Count& c) {
                if (c.low > bestHigh()) return true;
                if (c.high <= bestLow()) return false;
                settle(words, c);
                if (c.low > bestHigh()) return true;
                if (c.high <= bestLow()) return false;
                settle(words, *best);
                return c.low > best->low;
            };
            auto bestAtLeast = [&](double share) {
                if (bestLow() >= share) return true;
                if (!best || best->high < share) return false;
                settle(words, *best);
                return best->low >= share;
            };
            std::size_t winner = npos;
            auto ask = [&](std::size_t o) {
                const Speller* speller = dictionaries_->get(others[o]);
                if (!speller) return;
                asked[o] = true;
                Count& c = counts[o];
                c = Count{};
                c.speller = speller;
                share(words, c, [&](const std::string& w) { return memo.accepts(*speller, w); }, bestLow(), true);
                if (beatsBest(c)) {
                    best = &c;
                    if (otherIndex[o] == 0) {
                        otherIndex[o] = static_cast<unsigned char>(table.size());
                        table.push_back(Language{speller, {}, nullptr, {}, &memo});
                    }
                    lang = otherIndex[o];
                    winner = o;
                }
            };
            auto found = [&] { return lang != kUntouchedLanguage && bestAtLeast(kClearShare); };
            // A text seldom changes language: after a sentence in another
            // language, that one is asked first.
            const std::size_t previous = lastOther;
            if (previous != npos) ask(previous);
            Count englishCount;
            bool clearlyEnglish = false;
            if (!found()) {
                // Nearly every word English: no other language asked. The
                // count stops at the first rejection too many.
                const int allowed = words.size() >= 5 ? int(words.size()) / 5 : 0;
                int rejected = 0;
                bool foreignLetters = false;
                for (std::size_t k = 0; k < words.size(); ++k) {
                    const std::string& w = tokens[words[k]].text;
                    if (isAscii(w) && rejected > allowed) continue;
                    if (english && memo.knows(*english, w)) continue;
                    if (words[k] != first && !startsLowercase(w)) continue;  // a name
                    ++rejected;
                    foreignLetters = foreignLetters || !isAscii(w);
                }
                // Most of an ASCII sentence English: English with slips, no other language asked.
                if (english && !foreignLetters && rejected > allowed)
                    share(words, englishCount, englishAccepts, kClearShare, false);
                clearlyEnglish = english && !foreignLetters && (rejected <= allowed || englishCount.low >= kClearShare);
                for (std::size_t o = 0; o < others.size() && !clearlyEnglish && !found(); ++o)
                    if (o != previous) ask(o);
            }
            // English wins a tie.
            bool englishWins = clearlyEnglish;
            if (english && !englishWins) {
                share(words, englishCount, englishAccepts, bestLow(), false);
                englishWins = englishCount.low >= bestHigh();
                if (!englishWins && englishCount.low >= bestLow()) {
                    settle(words, *best);
                    englishWins = englishCount.low >= best->low;
                }
            }
            if (englishWins) {
                lang = kEnglish;
            } else if (winner != npos) {
                lastOther = winner;
            }
            rivalsLoaded = rivalsLoaded || !clearlyEnglish;
        }
        for (std::size_t i = from; i < to; ++i) tokens[i].language = lang;
        decided.push_back(lang != kUntouchedLanguage || words.size() > 2);
    }
    // A sentence of one or two words that no dictionary takes ("ok.") is in
    // the language of the sentence before it, or else after it. Looking back
    // runs forwards and looking ahead backwards, so that a run of such
    // sentences takes one language whichever of them a dictionary knows.
    for (int pass = 0; pass < 2; ++pass)
        for (std::size_t step = 0; step < sentences.size(); ++step) {
            const std::size_t k = pass == 0 ? step : sentences.size() - 1 - step;
            if (decided[k]) continue;
            std::size_t from = pass == 0 ? (k > 0 ? k - 1 : k) : k + 1;
            if (from >= sentences.size() || from == k || !decided[from]) continue;
            unsigned char lang = tokens[sentences[from].first].language;
            for (std::size_t i = sentences[k].first; i < sentences[k].second; ++i) tokens[i].language = lang;
            decided[k] = true;
        }
    // Once other languages were asked, none of their words is replaced in an English sentence.
    if (rivalsLoaded)
        for (std::size_t o = 0; o < others.size(); ++o)
            if (asked[o]) table[kEnglish].rivals.push_back(dictionaries_->get(others[o]));
}

// A word that the sentence's dictionary rejects gets the one correction that
// stands out, keeping its case pattern and a possessive "'s": two words run
// together first ("upto" → "up to"), then a word one slip away. Left alone:
// a word another English variant or another loaded language accepts
// ("maths"), words with digits, '_' or inner capitals, ALL-CAPS words,
// capitalised words inside a sentence (names), lower-case words the
// dictionary knows capitalised ("linux"; unless one of the commonest words
// lost a letter: "sumer"), short words, and a unit after a
// number ("5 kbps").
void RuleCorrector::fixSpelling(Tokens& tokens, const std::vector<Language>& table) const {
    std::vector<Start> starts = sentenceStarts(tokens);
    Tokens out;
    out.reserve(tokens.size());
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        Token& t = tokens[i];
        auto keep = [&] { out.push_back(std::move(t)); };
        // A word too short to correct needs no look-up at all (its core,
        // without a possessive, is shorter still).
        if (t.kind != TokenKind::word || t.language >= table.size() || !table[t.language].primary ||
            !isPlainWord(t.text) || text::graphemeCount(t.text) < kMinSpelledLetters - (t.language == kEnglish ? 1 : 0)) {
            keep();
            continue;
        }
        const Language& language = table[t.language];
        CasePattern pattern = casePattern(t.text);
        bool skip = pattern == CasePattern::upper || pattern == CasePattern::mixed ||
                    (pattern == CasePattern::capitalized && starts[i] == Start::none) ||
                    isPunct(tokens, i + 1, "(");  // a function: "printf("
        // The tokens before i have moved to `out`: the word before is read there.
        const std::size_t before = out.empty() ? std::string::npos : previousSolid(out, out.size());
        const Token* previousWord = before != std::string::npos && out[before].kind == TokenKind::word ? &out[before] : nullptr;
        if (previousWord && hasDigit(previousWord->text) && text::graphemeCount(t.text) <= 5) skip = true;
        // A word that names a thing of the trade: "the groff package", "the JKS
        // keystore /etc/ssl/...", "run kinit -R".
        if (const std::size_t next = nextSolid(tokens, i); next != std::string::npos) {
            const Token& n = tokens[next];
            if (wordIn(tokens, next, kTradeNouns) ||
                (n.kind == TokenKind::verbatim && !n.text.empty() && std::string_view("/~-").find(n.text[0]) != std::string_view::npos))
                skip = true;
        }
        // A lower-case word before a colon that opens a line, a quotation or
        // the text labels what follows: a program naming itself in an error
        // message ("groff: can't find"), a field's name.
        if (pattern == CasePattern::lower && isPunct(tokens, i + 1, ":") &&
            (out.empty() || out.back().kind == TokenKind::lineBreak ||
             (out.back().kind == TokenKind::punct && std::string_view("\"\u201C(").find(out.back().text) != std::string_view::npos)))
            skip = true;
        // Joined by a hyphen to a package's ending or to a word the dictionary
        // rejects, a word is part of a name ("groff-base", "foo-bar").
        if (i + 2 < tokens.size() && isPunct(tokens, i + 1, "-") && tokens[i + 2].kind == TokenKind::word &&
            (wordIn(tokens, i + 2, kPackageSuffixes) ||
             (isPlainWord(tokens[i + 2].text) && !language.accepts(tokens[i + 2].text) &&
              !language.accepts(text::lowercased(tokens[i + 2].text)))))
            skip = true;
        // Glued to a slash, a word is a piece of a relative path or a name pair
        // ("util/fusermount3", "src/dbus"): mending it breaks the path.
        auto slash = [](const Token& m) { return m.kind == TokenKind::punct && m.text == "/"; };
        if ((i + 1 < tokens.size() && slash(tokens[i + 1])) || (!out.empty() && slash(out.back()))) skip = true;
        // A word broken at a line's end ("param-" / "eters"): neither piece is a word of its own.
        auto hyphen = [](const Token& m) { return m.kind == TokenKind::punct && (m.text == "-" || m.text == "\u2010"); };
        if ((i + 2 < tokens.size() && hyphen(tokens[i + 1]) && tokens[i + 2].kind == TokenKind::lineBreak) ||
            (out.size() >= 2 && out.back().kind == TokenKind::lineBreak && hyphen(out[out.size() - 2])))
            skip = true;
        std::string_view core = t.text;
        std::string_view possessive;
        for (std::string_view s : {std::string_view("'s"), std::string_view("\u2019s")}) {
            if (core.size() > s.size() && core.substr(core.size() - s.size()) == s) {
                possessive = core.substr(core.size() - s.size());
                core.remove_suffix(s.size());
                break;
            }
        }
        std::string lower = text::lowercased(core);
        // An apostrophe inside ("need't") leaves too many readings.
        skip = skip || core.find('\'') != std::string_view::npos || core.find("\u2019") != std::string_view::npos;
        // A capitalised word whose lower case the dictionary takes is kept
        // whatever it says of the capital, since a correction starts from the
        // lower case; without frequency lists nothing else below applies, and
        // the capital costs Hunspell up to fifty times as long ("Nous", "nous").
        if (!skip && pattern == CasePattern::capitalized && t.language != kEnglish && language.memo &&
            language.primary->rankedWordCount() == 0 && text::graphemeCount(core) >= kMinSpelledLetters &&
            language.memo->accepts(*language.primary, lower)) {
            keep();
            continue;
        }
        // The neighbours' word classes may leave room for a few words only.
        auto context = [&](Speller::Form expected) {
            const std::size_t next = nextSolid(tokens, i);
            return spellingContext(previousWord ? text::lowercased(previousWord->text) : std::string(),
                                   next != std::string::npos && tokens[next].kind == TokenKind::word
                                       ? text::lowercased(tokens[next].text)
                                       : std::string(),
                                   expected, lower);
        };
        // A word of three letters is mended only where its place leaves room
        // for one word within reach ("I wil go"); elsewhere too many are.
        if (text::graphemeCount(core) < kMinSpelledLetters) {
            // Most short words are known: that is asked before their neighbours are read.
            if (!skip && pattern != CasePattern::upper && possessive.empty() && t.language == kEnglish &&
                !language.accepts(t.text) && !language.accepts(lower)) {
                const Speller::Context where = context(Speller::Form::any);
                std::optional<std::string_view> fit;
                if (!where.only.empty()) fit = Speller::nearestOf(lower, where.only);
                if (fit &&
                    std::none_of(language.rivals.begin(), language.rivals.end(),
                                 [&](const Speller* r) { return language.memo->accepts(*r, lower); }))
                    t.text = withCase(std::string(*fit), pattern);
            }
            keep();
            continue;
        }
        if (skip || language.accepts(t.text) ||
            (!possessive.empty() && language.accepts(core)) ||
            (pattern == CasePattern::lower && language.accepts(capitalizedFirst(core)) &&
             !language.primary->missesLetterOfCommonWord(lower)) ||
            std::any_of(language.rivals.begin(), language.rivals.end(),
                        [&](const Speller* r) {
                            return language.memo->accepts(*r, t.text) || language.memo->accepts(*r, lower);
                        })) {
            keep();
            continue;
        }
        if (t.language == kEnglish && possessive.empty()) {
            if (auto past = irregularPastOf(lower)) {  // "teached" → "taught"
                t.text = withCase(*past, pattern);
                keep();
                continue;
            }
        }
        // A word split by a blank: "to gether" → "together".
        if (possessive.empty() && pattern == CasePattern::lower && out.size() >= 2 && out.back().kind == TokenKind::space &&
            out.back().text == " " && out[out.size() - 2].kind == TokenKind::word &&
            out[out.size() - 2].language == t.language) {
            if (auto whole = language.primary->joined(out[out.size() - 2].text, lower)) {
                out.pop_back();
                out.back().text = *whole;
                continue;
            }
        }
        if (possessive.empty()) {
            if (auto parts = language.primary->split(lower)) {
                out.push_back(Token{TokenKind::word, withCase(parts->first, pattern), t.language});
                out.push_back(Token{TokenKind::space, " ", t.language});
                out.push_back(Token{TokenKind::word, parts->second, t.language});
                continue;
            }
        }
        // Joined by "and" or "or" to a word no dictionary knows and no rule
        // mends, it is a name among names: "uids and gids", "TeX and groff".
        auto unmendedName = [&](const Token& w, bool mended) {
            if (w.kind == TokenKind::word && isPlainWord(w.text) && casePattern(w.text) == CasePattern::mixed)
                return true;  // "TeX", "GitHub": a name whatever the dictionary says
            return w.kind == TokenKind::word && w.language == t.language && isPlainWord(w.text) &&
                   text::graphemeCount(w.text) >= kMinSpelledLetters && !language.accepts(w.text) &&
                   !language.accepts(text::lowercased(w.text)) &&
                   (casePattern(w.text) != CasePattern::lower ||
                    (!(w.text[0] == 'a' && language.accepts(std::string_view(w.text).substr(1))) &&  // "arisky"
                     (mended || (!language.primary->correction(w.text) && !language.primary->split(w.text)))));
        };
        if (const std::size_t conj = nextSolid(tokens, i); wordIn(tokens, conj, kCoordinators)) {
            const std::size_t partner = nextSolid(tokens, conj);
            if (partner != std::string::npos && unmendedName(tokens[partner], false)) {
                keep();
                continue;
            }
        }
        if (before != std::string::npos && wordIn(out, before, kCoordinators)) {
            const std::size_t partner = previousSolid(out, before);
            if (partner != std::string::npos && unmendedName(out[partner], true)) {
                keep();
                continue;
            }
        }
        Speller::Form expected = Speller::Form::any;
        if (previousWord && t.language == kEnglish) {
            std::string previous = text::lowercased(previousWord->text);
            auto among = [&](std::initializer_list<std::string_view> words) {
                return std::find(words.begin(), words.end(), previous) != words.end();
            };
            if (among({"many", "these", "those", "several", "various", "numerous", "both", "two", "three", "four", "five"}))
                expected = Speller::Form::plural;
            else if (among({"have", "has", "had"}))
                expected = Speller::Form::past;
            else if (among({"a", "an", "each", "every", "this", "one"}))
                expected = Speller::Form::singular;
        }
        std::optional<std::string> fixed;
        if (t.language == kEnglish) {
            Speller::Context where = context(expected);
            where.rejected = t.text == lower;  // asked above, as written
            fixed = language.primary->correction(lower, where);
        } else {
            fixed = language.primary->correction(lower, expected);
        }
        if (fixed && t.language == kEnglish && possessive.empty() && pattern == CasePattern::lower) {
            // The mended word meets its neighbours: the form its subject asks
            // for, or the compound its first half opens.
            const std::size_t after = nextSolid(tokens, i);
            const std::string next = after != std::string::npos && tokens[after].kind == TokenKind::word
                                         ? text::lowercased(tokens[after].text)
                                         : std::string();
            if (previousWord && out.back().kind == TokenKind::space && out.back().text == " ") {
                if (auto whole = compoundPronoun(text::lowercased(previousWord->text), *fixed, next)) {
                    out.pop_back();
                    out.back().text = withCase(*whole, casePattern(out.back().text));
                    continue;
                }
            }
            std::vector<std::string> words;  // the words before, nearest first
            std::vector<bool> names;         // ... and which of them are names
            for (std::size_t at = before; words.size() < 8;) {
                if (at == std::string::npos || out[at].kind != TokenKind::word) {
                    words.emplace_back();
                    names.push_back(false);
                    break;
                }
                words.push_back(text::lowercased(out[at].text));
                // Capitalised, and no word in lower case ("Anna", not "Rose");
                // a short one the dictionary knows ("Ali", not "Plz").
                names.push_back(casePattern(out[at].text) == CasePattern::capitalized && !language.accepts(words.back()) &&
                                (words.back().size() >= 4 || language.accepts(out[at].text)));
                at = previousSolid(out, at);
            }
            auto accepts = [&](std::string_view w) { return language.accepts(w); };
            auto name = [&](std::size_t at) { return names[at]; };
            if (auto agreed = agreedVerbForm(words, *fixed, next, accepts, name))
                fixed = std::move(agreed);
            else if (auto plural = countedPlural(words, *fixed, next, accepts))
                fixed = std::move(plural);
            else if (auto participle = participleAfterHave(words.front(), *fixed, next, accepts))
                fixed = std::move(participle);
        }
        if (fixed) t.text = withCase(*fixed, pattern) + std::string(possessive);
        keep();
    }
    tokens = std::move(out);
}

}  // namespace quillant::service
