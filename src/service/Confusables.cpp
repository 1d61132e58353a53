#include "service/Confusables.h"

#include "service/TokenNav.h"
#include "service/WordList.h"
#include "text/Text.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <string>

namespace quillant::service {

namespace {

using Tokens = std::vector<Token>;
constexpr std::size_t npos = std::string::npos;


class Nav : public TokenNav {
public:
    using TokenNav::TokenNav;
    // Whether a mark ends the phrase after word i, or the text or its
    // paragraph ends there; a line that only wraps goes on.
    bool endsAfter(std::size_t i) const {
        if (const std::size_t n = next(i); n != npos)
            return t_[n].kind == TokenKind::punct && std::string_view(".,;:!?").find(t_[n].text) != npos;
        int breaks = 0;
        for (std::size_t k = i + 1; k < t_.size(); ++k) {
            if (t_[k].kind == TokenKind::lineBreak) ++breaks;
            else if (t_[k].kind != TokenKind::space) return breaks > 1;
        }
        return true;
    }
    // Nothing before on the line, or a mark: the word opens a clause.
    bool opensClause(std::size_t i) const {
        const std::size_t p = previous(i);
        return p == npos || (t_[p].kind == TokenKind::punct && std::string_view(".,;:!?").find(t_[p].text) != npos);
    }
    // Whether the sentence of word i ends with a question mark.
    bool asks(std::size_t i) const {
        for (std::size_t k = i + 1; k < t_.size(); ++k)
            if (t_[k].kind == TokenKind::punct && std::string_view(".!?").find(t_[k].text) != npos) return t_[k].text == "?";
        return false;
    }
    bool isNumber(std::size_t i) const {
        if (i >= t_.size() || t_[i].kind != TokenKind::word || t_[i].language != 0) return false;
        const std::string& w = t_[i].text;
        return (!w.empty() && w[0] >= '0' && w[0] <= '9') ||
               oneOf(lower(i), "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten", "twenty",
                     "fifty", "hundred", "hundreds", "thousand", "thousands", "million", "millions", "half");
    }
};

constexpr std::string_view kBe[] = {"is", "are", "was", "were", "be", "been", "am", "being", "isn't", "aren't",
                                    "wasn't", "weren't"};
// Words after which only a verb's base form fits (a modal, "to", "do").
constexpr std::string_view kBeforeBase[] = {"to", "can", "could", "will", "would", "shall", "should", "may", "might",
                                            "must", "cannot", "can't", "won't", "wouldn't", "couldn't", "shouldn't",
                                            "don't", "doesn't", "didn't", "not"};
constexpr std::string_view kDeterminers[] = {"a", "an", "the", "this", "that", "my", "your", "his", "her", "its", "our",
                                             "their", "every", "each", "no", "any", "some"};
// What opens the object of "save" or "lose" and never follows the adjective:
// "to safe our", "to loose them", but not "access to safe water".
constexpr std::string_view kObjectOpeners[] = {"the", "a", "an", "my", "your", "his", "her", "our", "their", "its",
                                               "it", "them", "me", "him", "us", "this", "these", "those", "some", "all"};
// Nouns "save" and "lose" take, which the adjectives may also qualify ("safe
// water", "loose control"): only after a modal ("will safe money").
constexpr std::string_view kObjectNouns[] = {"money", "time", "energy", "weight", "lives", "water", "fuel", "everything",
                                             "power", "control", "interest", "hope", "track", "sight", "people"};
// What follows "feel" and never the verb "fell" (to cut down), which takes
// trees, even "old" or "more" ones: "will fell sad" ("fell ill" is "fall ill").
constexpr std::string_view kFeelings[] = {
    "like", "better", "worse", "sad", "sorry", "tired", "free", "safe", "lonely", "alone", "guilty",
    "angry", "afraid", "proud", "nervous", "bored", "excited", "confident", "relaxed", "stressed", "fine", "scared",
    "ashamed", "embarrassed", "welcome", "uncomfortable", "lucky", "hungry", "comfortable", "happy", "good", "bad",
    "anxious", "depressed", "disappointed", "satisfied", "upset", "unhappy", "worried", "uneasy"};
constexpr std::string_view kSubjects[] = {"i", "he", "she", "we", "they", "you"};
// Places and cases that "where" follows ("the town where I live").
constexpr std::string_view kPlaces[] = {"place", "places", "city", "cities", "town", "towns", "country", "countries",
                                        "house", "home", "room", "school", "area", "areas", "village", "world",
                                        "restaurant", "street"};

// "will safe money" → "will save money", "to loose the match" → "to lose the
// match": after a modal or "to", before what opens an object. "we are save."
// → "we are safe.": after "be" where the phrase ends.
bool verbOrAdjective(Nav& nav, std::size_t i, std::string_view w) {
    const std::size_t p = nav.previous(i), n = nav.next(i);
    const std::string before = nav.lower(p), next = nav.lower(n);
    if ((w == "safe" || w == "loose") && in<kBeforeBase>(before) && before != "not" &&
        (in<kObjectOpeners>(next) || (before != "to" && in<kObjectNouns>(next))) &&
        !in<kDeterminers>(nav.lower(nav.previous(p)))) {
        nav.replace(i, w == "safe" ? "save" : "lose");
        return true;
    }
    // "is save" only after a pronoun: "all we can do is save." is a verb.
    if (w == "save") {
        std::size_t b = p;
        if (oneOf(before, "very", "so", "too", "not", "really", "quite", "more")) b = nav.previous(p);
        const std::string be = nav.lower(b);
        const bool afterPronoun = oneOf(nav.lower(nav.previous(b)), "it", "he", "she", "this", "everything",
                                        "everyone");
        if (((in<kBe>(be) && (afterPronoun || !oneOf(be, "is", "was", "isn't", "wasn't"))) ||
             oneOf(be, "feel", "feels", "felt", "stay", "stays", "stayed")) &&
            (nav.endsAfter(i) || oneOf(next, "and", "from", "for", "enough", "here", "there"))) {
            nav.replace(i, "safe");
            return true;
        }
    }
    // "can fell sad" → "can feel sad": "fell" as a verb (to cut down) takes a
    // tree, not a feeling.
    if (w == "fell" && in<kBeforeBase>(before) && in<kFeelings>(next)) {
        nav.replace(i, "feel");
        return true;
    }
    // "to advice him" → "to advise him": an object pronoun that no noun takes
    // ("listen to advice you trust" keeps its noun).
    if (w == "advice" && before == "to" && oneOf(next, "me", "him", "them", "us")) {
        nav.replace(i, "advise");
        return true;
    }
    // "ask for advise" → "ask for advice", "a piece of advise": no verb fits.
    if (w == "advise" && oneOf(before, "for", "of", "no", "useful", "helpful", "expert", "professional", "give",
                               "gave", "given", "giving", "gives")) {
        nav.replace(i, "advice");
        return true;
    }
    // "will effect us" → "will affect us": one brings about a change, not a person.
    if ((w == "effect" && in<kBeforeBase>(before)) || ((w == "effects" || w == "effected") && !in<kDeterminers>(before))) {
        if (oneOf(next, "me", "him", "us", "them", "everyone", "everybody")) {
            nav.replace(i, w == "effect" ? "affect" : w == "effects" ? "affects" : "affected");
            return true;
        }
    }
    // "the lose of" → "the loss of"; not "let her lose", nor "a lose end" (loose).
    if (w == "lose" && oneOf(before, "a", "the", "his", "my", "their", "our", "your", "its", "great", "big", "huge",
                             "total", "heavy", "significant") &&
        (nav.endsAfter(i) || oneOf(next, "of", "for", "in", "on", "is", "was"))) {
        nav.replace(i, "loss");
        return true;
    }
    // "It was very quite." → "It was very quiet.": "quite" needs a word to modify.
    if (w == "quite" && nav.endsAfter(i) &&
        (in<kBe>(before) || oneOf(before, "very", "so", "too", "really", "keep", "kept", "stay", "stayed", "remain",
                                  "remained"))) {
        nav.replace(i, "quiet");
        return true;
    }
    return false;
}

// Small words: "more that 20" → "more than 20", "since than" → "since then",
// "fore example", "the town were I live", "wonder weather it", "you're own".
bool smallWord(Nav& nav, std::size_t i, std::string_view w) {
    const std::size_t p = nav.previous(i), n = nav.next(i);
    const std::string before = nav.lower(p), next = nav.lower(n);
    if (w == "that" && oneOf(before, "more", "less", "fewer") && nav.isNumber(n)) {
        nav.replace(i, "than");
        return true;
    }
    // "than" never follows "since" or "until"; "and than we left" is "and then".
    if (w == "than" && (oneOf(before, "since", "until", "till") ||
                        (before == "and" && in<kSubjects>(next) && nav.isWord(nav.next(n))))) {
        nav.replace(i, "then");
        return true;
    }
    // "Other then that" → "Other than that", "nothing other then"; not "each
    // other then" nor "the other then".
    if (w == "then" && before == "other" && nav.isWord(n) &&
        (nav.opensClause(p) || oneOf(nav.lower(nav.previous(p)), "anything", "nothing", "something", "everything",
                                     "anyone", "nobody", "someone", "everyone", "none"))) {
        nav.replace(i, "than");
        return true;
    }
    // "fore example" → "for example"; "to the fore" and "fore and aft" stay.
    if (w == "fore" && before != "the" && before != "to" &&
        oneOf(next, "example", "instance", "the", "a", "an", "me", "you", "him", "her", "us", "them", "my", "your",
              "his", "our", "their", "many", "some", "all", "this", "these", "those", "it", "years", "ever", "sure",
              "free", "everyone", "people", "each", "every", "several", "now")) {
        nav.replace(i, "for");
        return true;
    }
    // "the town were I live" → "the town where I live": a subject after a
    // place names where ("so were we" and "which city were you in?" stay).
    if (w == "were" && in<kPlaces>(before) && in<kSubjects>(next) && nav.isWord(nav.next(n)) &&
        !nav.asks(i) && !oneOf(nav.lower(nav.previous(p)), "what", "which", "whose") &&
        !oneOf(nav.lower(nav.previous(nav.previous(p))), "what", "which", "whose")) {
        nav.replace(i, "where");
        return true;
    }
    // "There where many" → "There were many": a count after it, where
    // "there" opens the clause ("out there where many live" stays).
    if (w == "where" && before == "there" && nav.opensClause(p) &&
        (oneOf(next, "many", "several", "some", "lots", "few", "no", "more", "hundreds", "thousands", "people") ||
         nav.isNumber(n))) {
        nav.replace(i, "were");
        return true;
    }
    if (w == "whether" && before == "the") {
        nav.replace(i, "weather");
        return true;
    }
    if (w == "weather" &&
        oneOf(before, "wonder", "wondered", "wondering", "decide", "decided", "deciding", "sure", "unsure", "doubt",
              "ask", "asked", "asking", "matter", "matters") &&
        (in<kSubjects>(next) || oneOf(next, "it", "there", "to", "or", "the", "this", "that", "a"))) {
        nav.replace(i, "whether");
        return true;
    }
    // "it's name is" → "its name is": a noun and its verb after "it is" leave
    // no room for a cleft ("it's size that counts" stays).
    if ((w == "it's" || w == "it\u2019s") &&
        oneOf(next, "name", "size", "color", "colour", "shape", "price", "value", "owner", "owners", "population",
              "purpose", "quality", "role", "function", "history", "people", "citizens", "members", "users",
              "economy", "culture", "capital", "surface", "design", "effect", "effects", "impact", "roots", "goal",
              "aim", "weight") &&
        oneOf(nav.lower(nav.next(n)), "is", "was", "are", "were", "has", "have", "had", "will", "can", "may",
              "must", "does", "did")) {
        nav.replace(i, "its");
        return true;
    }
    if ((w == "you're" || w == "you\u2019re") && next == "own") {
        nav.replace(i, "your");
        return true;
    }
    return false;
}

// Words that sound alike in a set phrase or before the words they govern:
// "I no that" → "I know that", "to by new shoes", "has past away", "has lead
// to", "whose the", "the hole day", "a peace of cake", "it makes since.",
// "can't bare it", "bare in mind", "refuse to except it", "wear cloths".
bool soundsAlike(Nav& nav, std::size_t i, std::string_view w) {
    const std::size_t p = nav.previous(i), n = nav.next(i);
    const std::string before = nav.lower(p), next = nav.lower(n);
    auto change = [&](std::string_view to) {
        nav.replace(i, to);
        return true;
    };
    // Not "I no longer", "to no avail": only before what "know" governs.
    if (w == "no" && oneOf(before, "i", "you", "we", "they", "don't", "didn't", "doesn't", "to") &&
        oneOf(next, "that", "what", "how", "why", "where", "who", "whether", "if", "it", "him", "her", "them",
              "anything", "about") &&
        (before != "i" || nav.text(p) == "I"))
        return change("know");
    // Not "can by the way", "to by a factor": only before what one buys.
    if (w == "by" && in<kBeforeBase>(before) && before != "not" &&
        (oneOf(next, "new", "food", "tickets", "things", "clothes", "gifts", "presents", "groceries", "something",
               "anything", "everything", "stuff") ||
         (before == "to" && oneOf(nav.lower(nav.previous(p)), "want", "wants", "wanted", "afford", "decided",
                                  "decide") &&
          oneOf(next, "a", "an", "some", "it", "them", "one", "more"))))
        return change("buy");
    if (w == "past" &&
        ((oneOf(before, "have", "has", "had", "haven't", "hasn't", "hadn't") &&
          oneOf(next, "away", "the", "a", "an", "my", "his", "her", "their", "our", "your", "it", "them", "all")) ||
         (oneOf(before, "he", "she", "they", "who", "i", "we") && next == "away")))
        return change("passed");
    if (w == "lead" && ((oneOf(before, "have", "has", "had") && next == "to") ||
                        (oneOf(before, "was", "were", "been", "is", "are", "be") && next == "by")))
        return change("led");
    // "whose" comes before a noun, never before an article or a verb.
    if (w == "whose" && oneOf(next, "a", "an", "the", "not", "been", "going", "gonna")) return change("who's");
    if (w == "hole" && oneOf(before, "the", "a", "my", "your", "his", "her", "our", "their", "this") &&
        oneOf(next, "day", "week", "year", "world", "family", "life", "night", "month", "country", "class",
              "process", "weekend", "summer"))
        return change("whole");
    if (w == "peace" && before == "a" && next == "of" &&
        oneOf(nav.lower(nav.next(n)), "cake", "paper", "advice", "information", "work", "land", "furniture",
              "bread", "art", "music", "equipment", "wood", "metal", "evidence", "news", "software", "code",
              "cloth"))
        return change("piece");
    // "It makes since." → "It makes sense.": not "the gains made since 2010".
    if (w == "since" &&
        ((oneOf(before, "make", "makes", "made", "making") &&
          oneOf(nav.lower(nav.previous(p)), "it", "that", "this") && (nav.endsAfter(i) || oneOf(next, "to", "for"))) ||
         (before == "no" && oneOf(nav.lower(nav.previous(p)), "make", "makes", "made", "making"))))
        return change("sense");
    // "I can't bare it" → "bear", "bare in mind" → "bear in mind"; "you can bare
    // the wires" stays.
    if (w == "bare" && ((oneOf(before, "can't", "cannot", "couldn't") &&
                         oneOf(next, "it", "to", "this", "that", "him", "her", "them", "me", "with")) ||
                        (next == "in" && nav.lower(nav.next(n)) == "mind")))
        return change("bear");
    if (w == "except" && before == "to" &&
        oneOf(nav.lower(nav.previous(p)), "refuse", "refuses", "refused", "refusing", "agree", "agrees", "agreed",
              "willing", "ready", "hard", "difficult", "unable", "forced") &&
        in<kObjectOpeners>(next))
        return change("accept");
    if (w == "cloths" && oneOf(before, "wear", "wears", "wore", "wearing", "worn")) return change("clothes");
    // "take affect", "come into affect", "cause and affect" → "effect".
    if (w == "affect" && (oneOf(before, "take", "takes", "took", "taken", "taking", "into") ||
                          (before == "and" && nav.lower(nav.previous(p)) == "cause")))
        return change("effect");
    // "we loose the match" → "lose": after a subject only a verb fits.
    if ((w == "loose" && oneOf(before, "i", "we", "they", "you")) || (w == "looses" && oneOf(before, "he", "she",
                                                                                             "it"))) {
        if (in<kObjectOpeners>(next) || in<kObjectNouns>(next)) return change(w == "loose" ? "lose" : "loses");
    }
    // "was quit happy" → "quite happy": "quit" takes no adjective.
    if (w == "quit" && in<kBe>(before) &&
        (in<kFeelings>(next) || oneOf(next, "different", "difficult", "easy", "hard", "important", "interesting",
                                      "expensive", "similar", "common", "popular", "large", "small", "big", "long",
                                      "old", "young", "sure", "often", "well", "simple", "far", "new")))
        return change("quite");
    // "come form the north" → "come from the north"; "a different form of" and
    // "their away form this season" stay.
    if (w == "form" && oneOf(before, "come", "comes", "came", "coming", "apart") &&
        oneOf(next, "the", "a", "an", "my", "his", "her", "our", "their", "your", "this", "that", "home", "school",
              "work", "here", "there", "abroad", "another", "other", "different", "all", "each", "every"))
        return change("from");
    if (w == "site" && ((before == "of" && nav.lower(nav.previous(p)) == "out") ||
                        (before == "first" && nav.lower(nav.previous(p)) == "at")))
        return change("sight");
    // "rest in piece" → "peace", "world piece", "piece of mind"; not "a piece of my mind".
    if (w == "piece" && ((oneOf(before, "in", "world") && (nav.endsAfter(i) || oneOf(next, "and", "with"))) ||
                         (next == "of" && nav.lower(nav.next(n)) == "mind" && before != "a")))
        return change("peace");
    // "it dose not" → "it does not"; "a dose not to exceed" stays.
    if (w == "dose" && ((oneOf(before, "he", "she", "it", "this", "that", "who", "everyone") &&
                         oneOf(next, "not", "n't")) ||
                        (nav.opensClause(i) &&
                         oneOf(next, "it", "he", "she", "this", "that", "anyone", "anybody", "everyone", "someone"))))
        return change("does");
    // "Image you are lost" → "Imagine you are lost": a clause never opens with
    // the noun before a pronoun or a condition; "Image that shows it" stays.
    if (w == "image" && nav.opensClause(i) &&
        oneOf(next, "you", "yourself", "yourselves", "being", "living", "having", "if", "how"))
        return change("imagine");
    // "I thing that" → "I think that": a subject pronoun is no determiner.
    if (w == "thing" && oneOf(before, "i", "we", "they") &&
        oneOf(next, "that", "so", "about", "of", "it", "the", "this"))
        return change("think");
    return false;
}

// The words at which a rule starts, so that the others cost one look-up.
constexpr std::string_view kStarts[] = {
    "advice", "advise", "affect", "bare", "by", "cloths", "dose", "effect", "effected", "effects", "except", "fell",
    "fore", "form", "hole", "image", "lead", "lose", "loose", "looses", "no", "past", "peace", "piece", "quit", "quite", "safe",
    "save", "since", "site", "than", "that", "then", "thing", "were", "weather", "where", "whether", "whose", "you're",
    "you\u2019re", "it's", "it\u2019s"};

// A question tag that ends its sentence asks: "…, isn't it." → "…, isn't it?".
constexpr std::string_view kTagVerbs[] = {"isn't", "aren't", "wasn't", "weren't", "don't", "doesn't", "didn't",
                                          "can't", "won't", "couldn't", "wouldn't", "shouldn't", "haven't", "hasn't"};
void askTheTag(Nav& nav, Tokens& tokens, std::size_t dot) {
    const std::size_t pronoun = nav.previous(dot);
    if (pronoun == npos || !oneOf(nav.lower(pronoun), "it", "they", "you", "he", "she", "we", "there")) return;
    const std::size_t verb = nav.previous(pronoun);
    std::string tag = nav.lower(verb);
    if (const auto curly = tag.find("\u2019"); curly != std::string::npos) tag.replace(curly, 3, "'");
    const std::size_t comma = nav.previous(verb);
    if (!in<kTagVerbs>(tag) || comma == npos || tokens[comma].kind != TokenKind::punct || tokens[comma].text != ",")
        return;
    tokens[dot].text = "?";
}

}  // namespace

void correctConfusables(Tokens& tokens) {
    Nav nav(tokens);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != TokenKind::punct || tokens[i].text != ".") continue;
        const bool last = i + 1 == tokens.size() || tokens[i + 1].kind == TokenKind::space ||
                          tokens[i + 1].kind == TokenKind::lineBreak;
        // "Stop it!." → "Stop it!": the sentence has its mark (not "Wow!..." ).
        if (last && i > 0 && tokens[i - 1].kind == TokenKind::punct &&
            (tokens[i - 1].text == "!" || tokens[i - 1].text == "?")) {
            tokens.erase(tokens.begin() + std::ptrdiff_t(i));
            --i;
            continue;
        }
        if (last) askTheTag(nav, tokens, i);
    }
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        // Told apart on the ASCII lower case first: no word that starts a rule is longer.
        const std::string& raw = tokens[i].text;
        if (tokens[i].kind != TokenKind::word || tokens[i].language != 0 || raw.size() < 2 || raw.size() > 8) continue;
        char folded[8];
        std::transform(raw.begin(), raw.end(), folded, [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
        const std::string_view w(folded, raw.size());
        if (!in<kStarts>(w) || !nav.isWord(i)) continue;
        if (!verbOrAdjective(nav, i, w) && !smallWord(nav, i, w)) soundsAlike(nav, i, w);
    }
}

}  // namespace quillant::service
