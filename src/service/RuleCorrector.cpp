#include "service/RuleCorrector.h"

#include "text/Text.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <utility>

namespace quillant::service {

namespace {

using Tokens = std::vector<Token>;

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
    {"accross", "across"},
};

// Words whose doubling is often meant ("had had", "that that", "bye bye").
constexpr std::string_view kDoublingAllowed[] = {
    "bye", "da", "ha", "had", "haha", "is", "knock", "la", "no", "now",
    "really", "so", "that", "there", "tsk", "tut", "very", "well", "yes", "blah"};

// Abbreviations whose full stop does not end a sentence.
constexpr std::string_view kAbbreviations[] = {
    "approx", "ca", "cf", "dr", "eg", "esp", "etc", "fig", "ie", "incl",
    "jr", "mr", "mrs", "ms", "prof", "sr", "st", "vs"};

template <std::size_t N>
bool contains(const std::string_view (&list)[N], std::string_view word) {
    return std::find(std::begin(list), std::end(list), word) != std::end(list);
}

std::string_view lookUpMisspelling(std::string_view lower) {
    for (const auto& [wrong, right] : kMisspellings)
        if (wrong == lower) return right;
    return {};
}

bool is(const Tokens& tokens, std::size_t i, TokenKind kind) { return i < tokens.size() && tokens[i].kind == kind; }
bool isPunct(const Tokens& tokens, std::size_t i, std::string_view set) {
    return is(tokens, i, TokenKind::punct) && set.find(tokens[i].text) != std::string_view::npos;
}
bool isEndOrWhitespace(const Tokens& tokens, std::size_t i) {
    return i >= tokens.size() || tokens[i].kind == TokenKind::space || tokens[i].kind == TokenKind::lineBreak;
}

// Closing quotes and brackets that may stand between a full stop and the next sentence.
constexpr std::string_view kClosers = ")]\"'\u201D\u2019\u00BB";

// Whether the full stop, question or exclamation mark at i ends a sentence.
bool endsSentence(const Tokens& tokens, std::size_t i) {
    const std::string& mark = tokens[i].text;
    if (mark == ".") {
        if (isPunct(tokens, i + 1, ".") || (i > 0 && isPunct(tokens, i - 1, "."))) return false;  // "..."
        if (i > 0 && tokens[i - 1].kind == TokenKind::word) {
            const std::string& word = tokens[i - 1].text;
            if (contains(kAbbreviations, text::lowercased(word))) return false;
            // "e.g." and "a.m.": a one-letter word after another full stop.
            if (text::graphemeCount(word) == 1 && i > 1 && isPunct(tokens, i - 2, ".")) return false;
        }
    }
    std::size_t j = i + 1;
    while (j < tokens.size() && tokens[j].kind == TokenKind::punct &&
           (kClosers.find(tokens[j].text) != std::string_view::npos || tokens[j].text == "!" || tokens[j].text == "?"))
        ++j;
    return j < tokens.size() && isEndOrWhitespace(tokens, j);
}

}  // namespace

std::string RuleCorrector::correct(std::string_view text) {
    Tokens tokens = tokenize(text);
    removeSpaceBeforePunctuation(tokens);
    collapseDoubledSpaces(tokens);
    fixMisspellings(tokens);
    removeRepeatedWords(tokens);
    capitalizeLoneI(tokens);
    capitalizeSentenceStarts(tokens);
    return join(tokens);
}

// "word ," → "word,". The mark must be followed by white space, the end or
// another mark, so ":)" and ".5" keep their space.
void RuleCorrector::removeSpaceBeforePunctuation(Tokens& tokens) {
    Tokens out;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        bool drop = tokens[i].kind == TokenKind::space && !out.empty() &&
                    (out.back().kind == TokenKind::word || out.back().kind == TokenKind::verbatim) &&
                    isPunct(tokens, i + 1, ",.;:!?") &&
                    (isEndOrWhitespace(tokens, i + 2) || isPunct(tokens, i + 2, ".!?") ||
                     (isPunct(tokens, i + 1, ".!?") && isPunct(tokens, i + 2, kClosers)));
        if (!drop) out.push_back(std::move(tokens[i]));
    }
    tokens = std::move(out);
}

// Two or more blanks between words become one. Indentation, trailing blanks
// and tabs are left as they are.
void RuleCorrector::collapseDoubledSpaces(Tokens& tokens) {
    for (std::size_t i = 1; i + 1 < tokens.size(); ++i) {
        auto& t = tokens[i];
        if (t.kind != TokenKind::space || t.text.size() < 2 || t.text.find('\t') != std::string::npos) continue;
        if (tokens[i - 1].kind == TokenKind::lineBreak || tokens[i + 1].kind == TokenKind::lineBreak) continue;
        t.text = " ";
    }
}

// Keeps the word's case pattern: "teh" → "the", "Teh" → "The", "TEH" → "THE".
void RuleCorrector::fixMisspellings(Tokens& tokens) {
    for (auto& t : tokens) {
        if (t.kind != TokenKind::word || !isPlainWord(t.text)) continue;
        std::string_view right = lookUpMisspelling(text::lowercased(t.text));
        if (right.empty()) continue;
        if (text::graphemeCount(t.text) > 1 && isAllUppercase(t.text))
            t.text = uppercased(right);
        else if (!startsLowercase(t.text) && !hasUppercaseAfterFirst(t.text))
            t.text = capitalizedFirst(right);
        else if (startsLowercase(t.text) && !hasUppercaseAfterFirst(t.text))
            t.text = std::string(right);
    }
}

// "the the" → "the": the same word twice, separated only by blanks on one line.
void RuleCorrector::removeRepeatedWords(Tokens& tokens) {
    Tokens out;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        out.push_back(std::move(tokens[i]));
        const Token& word = out.back();
        if (word.kind != TokenKind::word || !isPlainWord(word.text)) continue;
        std::string lower = text::lowercased(word.text);
        if (contains(kDoublingAllowed, lower)) continue;
        while (is(tokens, i + 1, TokenKind::space) && is(tokens, i + 2, TokenKind::word) &&
               text::lowercased(tokens[i + 2].text) == lower)
            i += 2;
    }
    tokens = std::move(out);
}

// "i" → "I", also in "i'm", "i've", "i'll", "i'd". Not in "i.e." or a list
// marker "i)".
void RuleCorrector::capitalizeLoneI(Tokens& tokens) {
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        auto& t = tokens[i];
        if (t.kind != TokenKind::word || t.text.empty() || t.text[0] != 'i') continue;
        std::string_view rest = std::string_view(t.text).substr(1);
        bool lone = rest.empty() || rest == "'m" || rest == "'ve" || rest == "'ll" || rest == "'d" ||
                    rest == "\u2019m" || rest == "\u2019ve" || rest == "\u2019ll" || rest == "\u2019d";
        if (!lone) continue;
        if (rest.empty() && (isPunct(tokens, i + 1, ")") || (isPunct(tokens, i + 1, ".") && is(tokens, i + 2, TokenKind::word))))
            continue;
        t.text[0] = 'I';
    }
}

// The first word of the text, of a paragraph and after a sentence's end gets
// a capital. Words with digits, '_' or capitals inside ("iPhone") are left alone.
void RuleCorrector::capitalizeSentenceStarts(Tokens& tokens) {
    bool atStart = true;
    bool afterBreak = false;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        auto& t = tokens[i];
        switch (t.kind) {
            case TokenKind::word:
                if (atStart && isPlainWord(t.text) && startsLowercase(t.text) && !hasUppercaseAfterFirst(t.text))
                    t.text = capitalizedFirst(t.text);
                atStart = false;
                break;
            case TokenKind::verbatim:
                atStart = false;
                break;
            case TokenKind::lineBreak:
                if (afterBreak) atStart = true;  // a blank line starts a paragraph
                break;
            case TokenKind::punct:
                if ((t.text == "." || t.text == "!" || t.text == "?") && endsSentence(tokens, i)) atStart = true;
                break;
            case TokenKind::space:
                break;
        }
        if (t.kind == TokenKind::lineBreak) afterBreak = true;
        else if (t.kind != TokenKind::space) afterBreak = false;
    }
}

}  // namespace quillant::service
