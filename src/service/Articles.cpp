#include "service/Articles.h"

#include "service/TokenNav.h"
#include "service/WordList.h"
#include "service/Grammar.h"
#include "text/Text.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <iterator>
#include <string>

namespace quillant::service {

namespace {

using Tokens = std::vector<Token>;
constexpr std::size_t npos = std::string::npos;

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

constexpr std::string_view kBe[] = {"is", "are", "was", "were", "be", "been", "am", "being"};

// Nouns that are counted in every sense, so that a superlative before them
// needs "the" ("most unusual weather" is "very unusual", and stays).
constexpr std::string_view kCountedHeads[] = {
    "book", "building", "car", "city", "country", "day", "decision", "event", "example", "factor", "film", "game",
    "idea", "invention", "job", "language", "man", "method", "movie", "part", "person", "place", "problem",
    "question", "reason", "sport", "step", "subject", "thing", "tool", "town", "way", "woman"};

// Nouns never counted, which take no "a" before the word that ends their
// phrase ("an information about" → "information about"; "an information
// desk" is a compound).
constexpr std::string_view kNeverCounted[] = {
    "advice", "baggage", "equipment", "furniture", "homework", "information", "luggage", "machinery", "software"};

// Words that follow a noun phrase and end it, but not "and"/"or", which may
// join two nouns of one compound ("a sales and marketing team").
constexpr std::string_view kPhraseEnders[] = {
    "about", "at", "by", "for", "from", "in", "on", "that", "to", "which", "who", "with"};

// What may follow "more … than" as its whole second term: "more then ever".
constexpr std::string_view kComparedTerms[] = {
    "anyone", "anything", "before", "anybody", "everyone", "everything", "ever", "him", "me", "others", "them",
    "us", "usual", "expected", "necessary"};

// Words before a noun "effect" ("a strong affect on" → "effect").
constexpr std::string_view kBeforeEffect[] = {
    "a", "an", "the", "any", "no", "big", "great", "huge", "large", "positive", "negative", "bad", "good", "strong",
    "significant", "major", "serious", "little", "its", "their", "his", "her", "our", "my", "your", "real", "direct"};

class Nav : public TokenNav {
public:
    using TokenNav::TokenNav;
    // Removes the word and the blank after it; a capital goes to the next word.
    void remove(std::size_t i) {
        const bool capital = !startsLowercase(t_[i].text);
        const std::size_t n = next(i);
        t_[i].text.clear();
        if (i + 1 < t_.size() && t_[i + 1].kind == TokenKind::space) t_[i + 1].text.clear();
        if (capital && isWord(n)) t_[n].text = capitalizedFirst(t_[n].text);
    }
};

// An adjective that "most" makes a superlative of ("most beautiful").
bool isLongAdjective(std::string_view w) {
    if (oneOf(w, "important", "famous", "popular", "interesting", "difficult", "expensive", "common", "beautiful",
              "dangerous", "effective", "efficient", "exciting", "boring", "modern", "valuable", "successful",
              "useful", "powerful", "comfortable", "convenient", "significant", "serious", "crowded", "polluted",
              "intelligent", "attractive", "amazing", "reliable", "helpful", "memorable", "suitable", "wonderful",
              "developed", "advanced", "basic"))
        return true;
    for (std::string_view ending : {"ful", "ous", "ive", "able", "ible", "ant", "ent", "ical"})
        if (w.size() > ending.size() + 3 && endsWith(w, ending)) return true;
    return false;
}

// Nouns that are counted in every sense, which learners often leave bare
// after "get good", "have better" ("got a good grade", "have a better
// chance", "is a very good idea").
constexpr std::string_view kCountedAfterAdjective[] = {
    "advantage", "chance", "choice", "decision", "disadvantage", "example", "grade", "idea", "impression", "mark",
    "opportunity", "plan", "point", "question", "relationship", "result", "salary", "score", "situation",
    "solution", "step"};
constexpr std::string_view kGoodOrBad[] = {"bad", "better", "good", "great", "nice", "poor", "worse", "excellent",
                                           "high", "low", "perfect", "wonderful", "terrible", "bigger", "big"};

// Fixed phrases whose noun takes "the": "at end of" → "at the end of",
// "in morning." → "in the morning.". `ofFollows`: only before "of" ("at
// end" may be a place's name); else only where the phrase ends ("in
// morning dress"). Not "from beginning to end", an idiom of its own.
struct FixedThe {
    std::string_view preposition, noun;
    bool ofFollows;
};
constexpr FixedThe kFixedThe[] = {
    {"at", "end", true},        {"at", "beginning", true}, {"in", "middle", true},     {"for", "rest", true},
    {"of", "rest", true},       {"in", "morning", false},  {"in", "afternoon", false}, {"in", "evening", false},
    {"at", "moment", false},    {"of", "time", false},     {"by", "end", true},        {"until", "end", true},
    {"till", "end", true},      {"to", "end", true},       {"from", "beginning", false}};

// Nouns for one person in a role, whom a story names with "the" as the
// subject of its clause ("When nurse came in" lacks it); not nouns of a
// group ("student"), which may be meant as plurals.
constexpr std::string_view kRoleNouns[] = {
    "teacher", "professor", "lecturer", "instructor", "tutor", "guide", "doctor", "nurse", "author", "writer",
    "narrator", "speaker", "manager", "boss", "coach", "principal", "landlord", "interviewer"};

// Verb forms that may follow such a subject and are no nouns: past and
// present forms, modals, and base forms that fail to agree ("teacher ask").
constexpr std::string_view kVerbsAfterRole[] = {
    "said", "asked", "told", "explained", "gave", "came", "went", "wanted", "thought", "believed", "opposed",
    "suggested", "argued", "showed", "taught", "made", "did", "had", "was", "found", "saw", "knew", "called",
    "left", "stated", "mentioned", "pointed", "claimed", "needed", "says", "asks", "tells", "explains", "thinks",
    "believes", "argues", "suggests", "gives", "goes", "does", "has", "is", "ask", "tell", "say", "explain",
    "think", "believe", "want", "oppose", "need", "give", "suggest", "argue", "will", "would", "can", "could",
    "should", "must", "might", "didn't", "doesn't", "wasn't", "won't", "can't", "couldn't", "isn't", "didn\u2019t",
    "doesn\u2019t", "wasn\u2019t", "won\u2019t", "can\u2019t", "couldn\u2019t", "isn\u2019t"};

// Words that open a clause, after which a noun starts its subject.
constexpr std::string_view kClauseOpeners[] = {
    "when", "if", "because", "since", "while", "after", "before", "until", "although", "though", "unless", "once"};

// Adverbs that, set off by a comma, open a clause ("However, doctor said").
constexpr std::string_view kOpeningAdverbs[] = {
    "however", "therefore", "then", "also", "instead", "nevertheless", "later", "meanwhile", "suddenly", "finally",
    "yesterday", "today", "so"};

// Counted nouns that "without" cannot take bare ("without map" lacks "a";
// "without doubt", "without warning" are idioms of nouns not listed).
constexpr std::string_view kWithoutNouns[] = {
    "guide", "map", "car", "bus", "ticket", "passport", "job", "plan", "phone", "coat", "umbrella", "helmet", "visa",
    "tour", "guidebook", "tent", "compass", "jacket", "raincoat"};

// A word and the preposition English gives it where a learner writes
// another that is nowhere right with it (the grammar has the pairs of
// "interested", "depend", "afraid", "aware"). Not "consist in", a phrase
// of its own, nor "consists on average of".
struct WrongPreposition {
    std::string_view word, wrong, right;
};
constexpr WrongPreposition kWrongPrepositions[] = {
    {"consist", "on", "of"}, {"consists", "on", "of"},  {"consisted", "on", "of"}, {"consisting", "on", "of"},
    {"rely", "of", "on"},    {"relies", "of", "on"},    {"relied", "of", "on"},    {"relying", "of", "on"},
    {"suffer", "of", "from"}, {"suffers", "of", "from"}, {"suffered", "of", "from"}, {"regardless", "to", "of"},
    {"addicted", "on", "to"}};

// The words at which the rules of a word missing or one too many that come
// last start.
constexpr std::string_view kMissingStarts[] = {
    "agree", "agreed", "agrees", "author", "besides", "best", "boss", "can", "coach", "consider", "considered",
    "considering", "considers", "could", "disagree", "disagreed", "disagrees", "doctor", "first", "guide",
    "important", "instructor", "interviewer", "landlord", "lecturer", "manager", "may", "might", "most", "must",
    "narrator", "nurse", "principal", "professor", "second", "should", "speaker", "such", "teacher", "third",
    "tutor", "will", "without", "worst", "would", "writer"};

// Words that start only the rules of a word one too many or missing, and
// the next words those rules read (in lower case, as written).
constexpr std::string_view kStartOnlyNew[] = {
    "will", "would", "could", "should", "must", "might", "may", "shall", "many", "first", "second", "third", "last",
    "let", "lets", "making", "enjoy", "enjoys", "enjoyed", "enjoying", "describe", "describes", "described",
    "describing", "can", "besides"};
constexpr std::string_view kReadAfterOnlyNew[] = {
    "able", "not", "of", "in", "about", "me", "him", "her", "us", "them", "you", "reason", "point", "thing", "step",
    "difference", "effect", "example", "problem", "advantage", "disadvantage", "question", "argument", "one",
    "factor", "issue", "method", "benefit", "aspect", "the", "a", "an", "time"};

// The words at which a rule starts, so that the others cost one look-up.
constexpr std::string_view kRuleStartWords[] = {
    "same", "most", "the", "a", "an", "be", "been", "become", "becomes", "became", "to", "there", "they're",
    "they\u2019re", "side", "more", "less", "fewer", "better", "worse", "is", "was", "have", "has", "had", "get",
    "gets", "got", "make", "makes", "made", "bring", "brings", "brought", "at", "in", "for", "of", "by", "until",
    "till",
    // The newer rules' words, but the modals and ordinals (gated below).
    "without", "agree", "agrees", "agreed", "disagree", "disagrees", "disagreed", "consider", "considers",
    "considered", "considering", "best", "worst", "important", "such"};
constexpr auto kRuleStarts = [] {
    std::array<std::string_view, std::size(kRuleStartWords) + std::size(kBeforeEffect) + std::size(kWrongPrepositions) +
                                     std::size(kRoleNouns) + std::size(kStartOnlyNew)>
        all{};
    auto at = std::copy(std::begin(kRuleStartWords), std::end(kRuleStartWords), all.begin());
    at = std::copy(std::begin(kBeforeEffect), std::end(kBeforeEffect), at);
    for (const WrongPreposition& p : kWrongPrepositions) *at++ = p.word;
    at = std::copy(std::begin(kRoleNouns), std::end(kRoleNouns), at);
    std::copy(std::begin(kStartOnlyNew), std::end(kStartOnlyNew), at);
    return all;
}();
bool startsARule(std::string_view w) { return in<kRuleStarts>(w); }

}  // namespace

void correctArticles(Tokens& tokens) {
    Nav nav(tokens);
    bool changed = false;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        // Most words start no rule: they are told apart on their ASCII lower
        // case, before any Unicode test (no word that starts one is longer).
        const std::string& raw = tokens[i].text;
        if (tokens[i].kind != TokenKind::word || tokens[i].language != 0 || raw.empty() || raw.size() > 12) continue;
        char folded[12];
        std::transform(raw.begin(), raw.end(), folded, [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
        if (!startsARule(std::string_view(folded, raw.size())) || !nav.isWord(i)) continue;
        // Views, so that the many comparisons with literals check the length first.
        const std::string_view w(folded, raw.size());
        // Modals and ordinals are common: the words that start only the
        // rules of words one too many or missing go on only where the next
        // word, as written, is one those rules read.
        const bool onlyNew = in<kStartOnlyNew>(w);
        if (onlyNew) {
            const std::size_t following = nav.next(i);
            if (following == npos || !in<kReadAfterOnlyNew>(std::string_view(tokens[following].text))) continue;
        }
        const std::size_t n = nav.next(i);
        const std::string nextStore = nav.lower(n);
        const std::string_view next = nextStore;
        if (next.empty() && w != "same") continue;
        const std::size_t after = nav.next(n);
        const std::string afterStore = nav.lower(after);
        const std::string_view afterWord = afterStore;

        // "Our plans are not same." → "… not the same.": "same" ending its
        // phrase after "be" stands only with "the".
        if (w == "same" && nav.lowerCase(i) && nav.endsAtMark(n)) {
            std::size_t b = nav.previous(i);
            if (nav.lower(b) == "not") b = nav.previous(b);
            if (in<kBe>(nav.lower(b))) {
                nav.replace(i, "the same");
                changed = true;
                continue;
            }
        }
        // "It is most popular sport" → "It is the most popular sport": a
        // superlative before a counted singular after "be".
        if (w == "most" && nav.lowerCase(i) && in<kBe>(nav.lower(nav.previous(i))) && nav.lowerCase(n) &&
            isLongAdjective(next) && nav.lowerCase(after) && in<kCountedHeads>(afterWord)) {
            nav.replace(i, "the most");
            changed = true;
            continue;
        }
        // "They might able to go" → "They might be able to go": "able" is no
        // verb, so a modal before it lacks its "be" ("can able to" is
        // better mended otherwise, and stays).
        if (oneOf(w, "will", "would", "could", "should", "must", "might", "may", "shall") && nav.lowerCase(i)) {
            const std::size_t a = next == "not" ? after : n;
            if (nav.lower(a) == "able" && nav.lowerCase(a) && nav.lower(nav.next(a)) == "to") {
                nav.replace(a, "be able");
                changed = true;
                continue;
            }
        }
        // "Most of people agree" → "Most people agree": "people" and
        // "children" after "of" want a determiner wherever the phrase goes
        // on (the grammar takes the plurals that end their phrase; "the most
        // of", "most of people's" stay).
        if ((w == "most" || w == "many") && next == "of" && nav.lowerCase(n) &&
            (afterWord == "people" || afterWord == "children") && nav.lowerCase(after) &&
            nav.lower(nav.previous(i)) != "the") {
            const std::size_t later = nav.next(after);
            if (later == npos || tokens[later].kind != TokenKind::punct ||
                std::string_view(".,;:!?").find(tokens[later].text) != npos) {
                nav.remove(n);
                changed = true;
                continue;
            }
        }
        // "We enjoyed in it" → "We enjoyed it", "described about the town"
        // → "described the town": verbs that take their object directly,
        // before a word that opens a noun phrase ("enjoy in summer" stays;
        // "mention about", "emphasize on" are the grammar's; not "a", as in
        // "described about a dozen").
        if (((w.starts_with("enjoy") && next == "in" &&
              oneOf(afterWord, "it", "them", "this", "that", "myself", "yourself", "himself", "herself",
                    "ourselves", "themselves")) ||
             (w.starts_with("describ") && next == "about" &&
              (oneOf(afterWord, "the", "it", "them", "this", "that", "these", "those", "his", "her", "their", "our",
                     "my", "your", "its") ||
               (nav.isWord(after) && !nav.lowerCase(after))))) &&
            nav.lowerCase(i) && nav.lowerCase(n)) {
            nav.remove(n);
            changed = true;
            continue;
        }
        // "It made her to be calm" → "It made her be calm": the verbs of
        // making and letting take their object's verb bare (the others are
        // the grammar's; "be" is no verb of its lists).
        if (oneOf(w, "let", "lets", "make", "makes", "made", "making") &&
            oneOf(next, "me", "him", "her", "us", "them", "you") && afterWord == "to" && nav.lowerCase(after) &&
            nav.lower(nav.next(after)) == "be") {
            nav.remove(after);
            changed = true;
            continue;
        }
        // "We must protect the nature." → "… protect nature.": nature and
        // mankind as a whole take no "the" ("the nature of", "the nature
        // reserve" and "the nature and scope" go on with the phrase).
        if (w == "the" && (next == "mankind" || next == "humankind" ||
            (next == "nature" && (nav.endsAtMark(after) || oneOf(afterWord, "is", "was", "has", "will", "can")))) &&
            nav.lowerCase(n)) {
            nav.remove(i);
            changed = true;
            continue;
        }
        // "It's is late." → "It is late.": a pronoun's "'s" is already its
        // "is" ("John's is red" is a possessive, and stays).
        if (w == "is" && nav.lowerCase(i)) {
            const std::size_t p = nav.previous(i);
            if (p != npos) {
                std::string& t = tokens[p].text;
                const std::size_t cut = endsWith(t, "'s") ? 2 : endsWith(t, "\u2019s") ? 4 : 0;
                const auto isPronoun = [](std::string_view x) {
                    const std::string l = text::lowercased(x);
                    return oneOf(l, "it", "that", "there", "he", "she");
                };
                if (cut && t.size() > cut && isPronoun(std::string_view(t).substr(0, t.size() - cut))) {
                    t.resize(t.size() - cut);
                    changed = true;
                    continue;
                }
                // Written apart ("That 's is"), the "'s" may come as a mark and a word.
                const bool markThenS = t == "s" && p > 0 && (tokens[p - 1].text == "'" || tokens[p - 1].text == "\u2019");
                const std::size_t start = markThenS ? p - 1 : p;
                const std::size_t q = start > 0 ? nav.previous(start) : npos;
                if ((markThenS || (cut && t.size() == cut)) && q != npos && q + 1 < start && isPronoun(tokens[q].text)) {
                    for (std::size_t k = start; k <= p + 1 && k < tokens.size(); ++k)
                        if (k <= p || tokens[k].kind == TokenKind::space) tokens[k].text.clear();
                    changed = true;
                    continue;
                }
            }
        }
        // "First reason is cost." → "The first reason is cost.": an ordinal
        // opening a sentence before the noun of a list of points, which a
        // verb or the noun's own phrase follows, needs "the" ("First aid
        // is", "Last week was", "First thing in the morning" stay).
        if (oneOf(w, "first", "second", "third", "last") && !nav.lowerCase(i) && nav.lowerCase(n) &&
            oneOf(next, "reason", "point", "thing", "step", "difference", "effect", "example", "problem",
                  "advantage", "disadvantage", "question", "argument", "one", "factor", "issue", "method",
                  "benefit", "aspect") &&
            oneOf(afterWord, "is", "was", "of", "between", "that", "for")) {
            const std::size_t b = nav.previous(i);
            if (b == npos || (tokens[b].kind == TokenKind::punct && std::string_view(".!?").find(tokens[b].text) != npos)) {
                nav.replace(i, "the " + std::string(w));
                changed = true;
                continue;
            }
        }
        // "The one of the best ways" → "One of the best ways": one of a
        // superlative's group is no definite one ("the one of the two" is).
        if (w == "the" && next == "one" && afterWord == "of" && nav.lowerCase(n) &&
            nav.lower(nav.next(after)) == "the") {
            const std::string group = nav.lower(nav.next(nav.next(after)));
            if (oneOf(group, "most", "best", "worst", "biggest", "greatest", "largest", "main", "reasons", "reason")) {
                nav.remove(i);
                changed = true;
                continue;
            }
        }
        // The rules below start at few words: one look-up for the others.
        if (in<kMissingStarts>(w)) {
            // "she would a fine judge" → "she would be a fine judge": a modal right
            // after its subject pronoun cannot take a noun phrase as its verb
            // ("we can the peaches" is a verb of its own, so "can" only after
            // "it", "this", "that").
            // A preposition before "this" or "that" makes "will" a noun
            // ("under that will the estate passes").
            if (oneOf(w, "will", "would", "could", "should", "must", "might", "may", "can") && nav.lowerCase(i) &&
                oneOf(next, "the", "a", "an") && nav.lowerCase(n) && nav.isWord(after)) {
                const std::size_t subjectAt = nav.previous(i);
                const std::string subject = nav.lower(subjectAt);
                const bool noun = (subject == "this" || subject == "that") &&
                                  oneOf(nav.lower(nav.previous(subjectAt)), "under", "by", "in", "of", "from",
                                        "with", "to", "for", "on", "about", "into");
                if (!noun && (oneOf(subject, "it", "this", "that") ||
                              (w != "can" && oneOf(subject, "he", "she", "they", "we", "you")))) {
                    nav.replace(i, std::string(w) + " be");
                    changed = true;
                    continue;
                }
            }
            // "besides of her job" → "besides her job": "besides" takes
            // its object directly ("Besides, of course" has its comma).
            if (w == "besides" && next == "of" && nav.lowerCase(n) && nav.isWord(after)) {
                nav.remove(n);
                changed = true;
                continue;
            }
            // "the important was to rest" → "the important thing was to rest":
            // an adjective cannot be the subject ("the most important was" may
            // name one of a group, and stays).
            if (w == "important" && nav.lowerCase(i) && nav.lower(nav.previous(i)) == "the" &&
                oneOf(next, "is", "was")) {
                nav.replace(i, "important thing");
                changed = true;
                continue;
            }
            // "never saw a such mess" → "never saw such a mess": "such" comes first (the
            // grammar may have given "such" its own article already).
            if (const std::size_t article = nav.previous(i);
                w == "such" && nav.lowerCase(i) && (nav.lower(article) == "a" || nav.lower(article) == "an") &&
                nav.lowerCase(n) && next != "as") {
                if (next == "a" || next == "an") {
                    nav.remove(article);
                    changed = true;
                    continue;
                }
                const auto vowel = startsWithVowelSound(next);
                nav.replace(article, "such");
                nav.replace(i, vowel && *vowel ? "an" : "a");
                changed = true;
                continue;
            }
            // "so most time they rest" → "so most of the time they rest": "most
            // time" opening a clause is a share of the time ("it takes most
            // time," is the most time, and stays).
            if (w == "most" && next == "time" && nav.lowerCase(n) &&
                ((after != npos && tokens[after].text == ",") ||
                 oneOf(afterWord, "i", "we", "you", "he", "she", "it", "they"))) {
                const std::size_t b = nav.previous(i);
                if (b == npos ||
                    (tokens[b].kind == TokenKind::punct && std::string_view(".!?,;").find(tokens[b].text) != npos) ||
                    oneOf(nav.lower(b), "but", "and", "so", "because") || in<kClauseOpeners>(nav.lower(b))) {
                    nav.replace(i, nav.text(i) + " of the");
                    changed = true;
                    continue;
                }
            }
            // "She agrees the claim." → "She agrees with the claim.": a
            // person agrees with a view ("The board agreed the budget" approves
            // it, and "I agree this idea is good" is a clause, so only after a
            // personal pronoun and where the noun ends its phrase).
            if (oneOf(w, "agree", "agrees", "agreed", "disagree", "disagrees", "disagreed") && nav.lowerCase(i) &&
                oneOf(nav.lower(nav.previous(i)), "i", "we", "they", "you", "he", "she") &&
                oneOf(next, "the", "this", "that", "these", "those", "his", "her", "their", "your", "my", "our") &&
                nav.lowerCase(n) && nav.lowerCase(after) &&
                oneOf(afterWord, "statement", "statements", "opinion", "opinions", "idea", "ideas", "view", "views",
                      "argument", "arguments", "claim", "claims")) {
                const std::size_t end = nav.next(after);
                if (nav.endsAtMark(end) || oneOf(nav.lower(end), "because", "but", "with", "since", "as", "so")) {
                    nav.replace(n, "with " + nav.text(n));
                    changed = true;
                    continue;
                }
            }
            // "They consider him as a friend." → "… consider him a friend.",
            // "was considered as a hero" → "was considered a hero": "consider"
            // takes its complement directly, after an object pronoun or in the
            // passive ("considered as a whole" is a phrase of its own).
            if (oneOf(w, "consider", "considers", "considered", "considering") && nav.lowerCase(i)) {
                const bool passive = w == "considered" && in<kBe>(nav.lower(nav.previous(i)));
                const std::size_t as = oneOf(next, "me", "him", "her", "us", "them", "it", "you") && !passive ? after
                                       : passive                                                        ? n
                                                                                                        : npos;
                const std::size_t det = as == npos ? npos : nav.next(as);
                if (det != npos && nav.lower(as) == "as" && nav.lowerCase(as) &&
                    oneOf(nav.lower(det), "a", "an", "the", "my", "your", "his", "her", "our", "their") &&
                    nav.lowerCase(det) &&
                    !oneOf(nav.lower(nav.next(det)), "whole", "group", "unit")) {
                    nav.remove(as);
                    changed = true;
                    continue;
                }
            }
            // "It is best way to learn" → "It is the best way to learn", "It was
            // first time I saw it" → "It was the first time …": a superlative or
            // an ordinal before a counted singular after "be" names one thing
            // ("is best known", "was best man at the wedding" stay).
            if (oneOf(w, "best", "worst", "first", "second", "third") && nav.lowerCase(i) && nav.lowerCase(n) &&
                oneOf(nav.lower(nav.previous(i)), "is", "was", "be", "been", "are", "were", "it's", "it\u2019s",
                      "that's", "that\u2019s")) {
                const bool ordinal = w == "first" || w == "second" || w == "third";
                if (ordinal ? next == "time" : in<kCountedHeads>(next) && next != "man") {
                    nav.replace(i, "the " + std::string(w));
                    changed = true;
                    continue;
                }
            }
            // "When nurse came in" → "When the nurse came in": one person in
            // a role, bare as the subject of a clause that a verb goes on with,
            // after a word that opens it, at a sentence's start or after "however,".
            // A capital inside a sentence is a title ("when Doctor Lee came").
            if (in<kRoleNouns>(w) && nav.isWord(n) && nav.lowerCase(n) && in<kVerbsAfterRole>(next)) {
                const std::size_t b = nav.previous(i);
                const bool start = b == npos || (tokens[b].kind == TokenKind::punct &&
                                                 std::string_view(".!?").find(tokens[b].text) != npos);
                // Manuals name a role bare before a present verb ("Author can
                // edit the page", "Teacher creates a class"): at a sentence's
                // start, only a past or a base form that fails to agree.
                const bool present =
                    (endsWith(next, "s") && next != "was") ||
                    oneOf(next, "will", "would", "can", "could", "should", "must", "might", "doesn't", "isn't",
                          "won't", "can't", "couldn't", "doesn\u2019t", "isn\u2019t", "won\u2019t", "can\u2019t",
                          "couldn\u2019t");
                bool opens = start && !present;
                if (!start && nav.lowerCase(i)) {
                    if (in<kClauseOpeners>(nav.lower(b))) opens = true;
                    else if (tokens[b].kind == TokenKind::punct && tokens[b].text == ",")
                        opens = in<kOpeningAdverbs>(nav.lower(nav.previous(b)));
                }
                if (opens) {
                    nav.replace(i, "the " + std::string(w));
                    changed = true;
                    continue;
                }
            }
            // "We went without map." → "We went without a map.": a counted
            // noun that ends its phrase, or one that names the next ("without
            // bus ticket"); not a compound that goes on ("without car keys").
            if (w == "without" && nav.lowerCase(n) && in<kWithoutNouns>(next)) {
                const bool compound = in<kWithoutNouns>(afterWord) && nav.lowerCase(after);
                const std::size_t end = compound ? nav.next(after) : after;
                const std::string endWord = nav.lower(end);
                if (nav.endsAtMark(end) || in<kPhraseEnders>(endWord) || oneOf(endWord, "and", "or", "but",
                                                                               "because")) {
                    const auto vowel = startsWithVowelSound(next);
                    nav.replace(n, std::string(vowel && *vowel ? "an " : "a ") + nav.text(n));
                    changed = true;
                    continue;
                }
            }
        }
        // The words that start only the rules above go no further.
        if (onlyNew) continue;
        // "kept the those tools" → "kept those tools": two determiners.
        if (w == "the" && oneOf(next, "these", "those", "my", "your", "his", "our", "their", "another") &&
            nav.lowerCase(n) && nav.isWord(after)) {
            nav.remove(i);
            changed = true;
            continue;
        }
        if ((w == "a" || w == "an") && nav.lowerCase(n)) {
            // "waited a many weeks" → "waited many weeks" ("a great many" has its adjective).
            const bool many = next == "many" && nav.isWord(after);
            // "an information about" → "information about".
            const bool uncounted = in<kNeverCounted>(next) && in<kPhraseEnders>(afterWord);
            // "a useful advice on" → "useful advice on": one adjective between
            // changes nothing ("a new software package" is a compound).
            const std::size_t later = nav.next(after);
            const bool describedUncounted = inWordClass(next, WordClass::plainAdjective) && nav.lowerCase(after) &&
                                            in<kNeverCounted>(afterWord) &&
                                            (nav.endsAtMark(later) || in<kPhraseEnders>(nav.lower(later)));
            if (many || uncounted || describedUncounted) {
                nav.remove(i);
                changed = true;
                continue;
            }
        }
        // "She got good grade." → "She got a good grade.", "It is very good
        // idea." → "It is a very good idea.": a counted singular after a verb
        // of having or getting and its adjective, with an adverb of degree
        // or none ("quite a good idea" goes otherwise).
        if (oneOf(w, "is", "was", "be", "been", "have", "has", "had", "get", "gets", "got", "make", "makes", "made",
                  "bring", "brings", "brought", "become", "becomes", "became") &&
            nav.lowerCase(n)) {
            const bool degree = oneOf(next, "very", "really", "extremely", "pretty");
            const std::size_t adjective = degree ? after : n;
            const std::size_t noun = nav.next(adjective);
            const std::size_t end = nav.next(noun);
            if (in<kGoodOrBad>(nav.lower(adjective)) && nav.lowerCase(adjective) && nav.lowerCase(noun) &&
                in<kCountedAfterAdjective>(nav.lower(noun)) &&
                (nav.endsAtMark(end) || in<kPhraseEnders>(nav.lower(end)) ||
                 oneOf(nav.lower(end), "and", "but", "because", "than"))) {
                const bool vowel = next == "excellent" || next == "extremely";
                nav.replace(n, std::string(vowel ? "an " : "a ") + nav.text(n));
                changed = true;
                continue;
            }
        }
        // "at end of the day" → "at the end of the day", "most of time" → "most of the time".
        if (nav.lowerCase(n)) {
            const auto fixed = std::find_if(std::begin(kFixedThe), std::end(kFixedThe), [&](const FixedThe& f) {
                return f.preposition == w && f.noun == next;
            });
            if (fixed != std::end(kFixedThe) && (fixed->noun != "time" || nav.lower(nav.previous(i)) == "most") &&
                (fixed->ofFollows ? afterWord == "of"
                                  : nav.endsAtMark(after) || in<kPhraseEnders>(afterWord) || afterWord == "and")) {
                nav.replace(n, "the " + nav.text(n));
                changed = true;
                continue;
            }
        }
        // "It would be lot of work" → "… a lot of work".
        if (oneOf(w, "be", "been", "become", "becomes", "became") && next == "lot" && afterWord == "of" &&
            nav.lowerCase(n)) {
            nav.replace(n, "a lot");
            changed = true;
            continue;
        }
        // "it hurts to much." → "too much.": "to" before "much" ending the
        // clause has nothing to govern ("talked to many." has, and "does not
        // amount to much" is an idiom).
        if (w == "to" && nav.lowerCase(i) && next == "much" && nav.endsAtMark(after) &&
            !oneOf(nav.lower(nav.previous(i)), "amount", "amounts", "amounted", "come", "comes", "came", "add",
                   "adds", "added", "up", "count")) {
            nav.replace(i, "too");
            changed = true;
            continue;
        }
        // "there own" → "their own".
        if ((w == "there" || w == "they're" || w == "they\u2019re") && next == "own" && nav.isWord(after)) {
            nav.replace(i, "their");
            changed = true;
            continue;
        }
        // "a strong affect on" → "a strong effect on", "side affects" → "side
        // effects": the noun, where a determiner or an adjective comes
        // before and "on" or "of" after ("will affect on" stays: a verb).
        if ((next == "affect" || next == "affects") && nav.lowerCase(n) &&
            ((w == "side" && nav.lowerCase(i)) || (in<kBeforeEffect>(w) && oneOf(afterWord, "on", "of", "upon")))) {
            nav.replace(n, next == "affect" ? "effect" : "effects");
            changed = true;
            continue;
        }
        // "relies of luck" → "relies on luck": the preposition goes before
        // its object, so a word must follow it.
        if (const auto wp = std::find_if(std::begin(kWrongPrepositions), std::end(kWrongPrepositions),
                                         [&](const WrongPreposition& p) { return p.word == w && p.wrong == next; });
            wp != std::end(kWrongPrepositions) && nav.lowerCase(n) && nav.isWord(after) &&
            !oneOf(afterWord, "average", "balance") && !(afterWord == "the" && nav.lower(nav.next(after)) == "whole")) {
            nav.replace(n, wp->right);
            changed = true;
            continue;
        }
        // "more then ever" → "more than ever": a comparison's second term.
        if (oneOf(w, "more", "less", "fewer", "better", "worse") && next == "then" && nav.lowerCase(n) &&
            in<kComparedTerms>(afterWord) && nav.endsAtMark(nav.next(after))) {
            nav.replace(n, "than");
            changed = true;
            continue;
        }
    }
    if (!changed) return;
    std::erase_if(tokens, [](const Token& t) { return t.text.empty(); });
    // "the same" becomes two words, which a next pass of the rules sees one by one.
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != TokenKind::word || tokens[i].language != 0) continue;
        const std::size_t blank = tokens[i].text.find(' ');
        if (blank == npos || blank == 0 || blank + 1 >= tokens[i].text.size()) continue;
        Token rest{TokenKind::word, tokens[i].text.substr(blank + 1), tokens[i].language};
        tokens[i].text.resize(blank);
        tokens.insert(tokens.begin() + std::ptrdiff_t(i + 1), {Token{TokenKind::space, " ", rest.language}, std::move(rest)});
    }
}

}  // namespace quillant::service
