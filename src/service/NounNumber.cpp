#include "service/NounNumber.h"

#include "service/TokenNav.h"
#include "service/WordList.h"
#include "service/Grammar.h"

#include "text/Text.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

namespace quillant::service {

namespace {

using Tokens = std::vector<Token>;
constexpr std::size_t npos = std::string::npos;


// Nouns English never counts, with no verb in -s of the same spelling
// ("researches", "evidences", "stuffs" are verbs too, and stay). The
// grammar's own list has the commonest ("informations", "advices").
constexpr std::pair<std::string_view, std::string_view> kNeverPlural[] = {
    {"applauses", "applause"},       {"clothings", "clothing"},         {"courages", "courage"},
    {"electricities", "electricity"}, {"garbages", "garbage"},          {"healths", "health"},
    {"houseworks", "housework"},     {"mankinds", "mankind"},           {"medias", "media"},
    {"musics", "music"},             {"pollutions", "pollution"},       {"sunshines", "sunshine"},
    {"transportations", "transportation"}, {"violences", "violence"},  {"wealths", "wealth"},
    {"wildlifes", "wildlife"}};

// Nouns that follow an owner ("their families", "your knowledge") and are no
// verb, so that "there" before them is no place ("the dog in there barks").
constexpr std::string_view kOwnedNouns[] = {
    "abilities", "ability", "behavior", "behaviour", "bodies", "body", "business", "businesses", "car", "cars",
    "children", "choices", "cities", "city", "communities", "community", "companies", "company", "countries",
    "country", "culture", "customers", "daughter", "daughters", "decisions", "duties", "education", "families",
    "family", "feelings", "friends", "future", "goals", "habits", "health", "homework", "idea", "ideas", "job",
    "jobs", "kids", "knowledge", "language", "languages", "life", "lifestyle", "money", "opinion", "opinions", "own",
    "parents", "performance", "personality", "product", "products", "relationship", "relationships", "religion",
    "responsibilities", "responsibility", "safety", "salary", "savings", "skills", "society", "son", "sons",
    "talent", "talents", "teachers", "teeth", "thoughts", "wealth", "wife", "wives"};
// Owned nouns that are verbs too ("the cat in there lives on mice"): only
// where "there" cannot name a place.
constexpr std::string_view kOwnedVerbNouns[] = {"career", "dream", "dreams", "experience", "experiences", "eyes", "help",
                                                "home", "homes", "house", "houses", "lives", "mind", "minds",
                                                "studies", "work"};
// People, whom "you" may name in apposition ("for you children", "you kids").
constexpr std::string_view kPeople[] = {"children", "customers", "daughter", "daughters", "friends", "kids",
                                        "parents", "son", "sons", "teachers", "wife", "wives"};
// Adjectives that may stand between the owner and the noun ("their spare time").
constexpr std::string_view kOwnedAdjectives[] = {"daily", "favorite", "favourite", "free", "native", "new",
                                                 "personal", "spare", "whole"};
// Prepositions after which "there" is no place and "you" no subject.
constexpr std::string_view kOwnerPrepositions[] = {"about", "among", "during", "for", "of", "to", "with", "without"};
// Prepositions after which "there" may name a place ("in there"): then only
// nouns that are no verb.
constexpr std::string_view kPlacePrepositions[] = {"at", "by", "in", "into", "on", "through"};
// Verbs that take an owned thing as their object and never two objects, so
// that "you" after them is no receiver ("give you money" stays).
constexpr std::string_view kOwningVerbs[] = {
    "broaden", "broadened", "broadening", "change", "changed", "changes", "changing", "choose", "chooses",
    "choosing", "chose", "develop", "developed", "developing", "develops", "expand", "expanded", "expanding",
    "express", "expressed", "expressing", "follow", "followed", "following", "follows", "improve", "improved",
    "improves", "improving", "increase", "increased", "increasing", "lose", "loses", "losing", "lost", "protect",
    "protected", "protecting", "protects", "put", "putting", "raise", "raised", "raising", "share", "shared",
    "shares", "sharing", "spend", "spending", "spends", "spent", "use", "used", "uses", "using"};

// Verbs that take an owned thing but may take two objects: "there" after
// them is still no place ("sell there products"), "you" may be a receiver
// ("show you pictures").
constexpr std::string_view kGivingVerbs[] = {
    "bring", "brings", "brought", "bringing", "buy", "buys", "bought", "buying", "give", "gives", "gave", "given",
    "giving", "help", "helps", "helped", "helping", "keep", "keeps", "kept", "keeping", "leave", "leaves", "left",
    "leaving", "love", "loves", "loved", "loving", "make", "makes", "made", "making", "sell", "sells", "sold",
    "selling", "send", "sends", "sent", "sending", "show", "shows", "showed", "shown", "showing", "support",
    "supports", "supported", "supporting", "take", "takes", "took", "taken", "taking", "teach", "teaches", "taught",
    "teaching", "tell", "tells", "told", "telling"};

// Words that follow a noun phrase and end it: not "and"/"or".
constexpr std::string_view kPhraseEnders[] = {
    "are", "at", "because", "by", "can", "could", "ever", "for", "from", "had", "has", "have", "he", "i", "in", "is",
    "of", "on", "she", "since", "that", "they", "to", "was", "we", "were", "which", "who", "will", "with", "would",
    "you"};

// Words that count a plural noun after them ("several friends"); the
// grammar mends the noun where it ends its phrase at a mark or a preposition.
constexpr std::string_view kPluralCounters[] = {"both", "eight", "five", "four", "many", "nine", "numerous", "seven",
                                                "several", "six", "ten", "these", "those", "three", "two", "various"};
// Words that follow a noun phrase and end it where the grammar's list does
// not: a place or a time ("many friends here", "several trips last year"),
// or a subject that opens a relative clause ("the many problems we had").
constexpr std::string_view kPlaceTimeFollowers[] = {"abroad", "he", "here", "i", "last", "next", "nowadays",
                                                    "she", "they", "today", "together", "we", "yesterday"};
// Counted nouns that are verbs too: after "many" or "these" they may be the
// verb ("Many shop online", "Those travel abroad").
constexpr std::string_view kCountedVerbs[] = {"benefit", "book", "class", "feature", "film", "park", "phone", "photo",
                                              "picture", "place", "question", "rule", "shop", "store", "task", "tool",
                                              "trip", "word"};

// The words at which a rule starts, besides the plurals in -s.
constexpr std::string_view kStarters[] = {"best", "both", "eight", "favorite", "favourite", "five", "four", "many",
                                          "nine", "numerous", "seven", "several", "six", "ten", "there", "these",
                                          "those", "three", "two", "various", "worst", "you", "your"};

class Nav : public TokenNav {
public:
    using TokenNav::TokenNav;
    // Nothing before on the line, or a mark that ends a sentence.
    bool opensSentence(std::size_t i) const {
        const std::size_t p = previous(i);
        return p == npos || (t_[p].kind == TokenKind::punct && std::string_view(".!?").find(t_[p].text) != npos);
    }
};

// Whether the word at `noun` (after an adjective or not) is owned, as the
// word `before` the owner allows: after a place preposition only nouns that
// are no verb.
bool ownedNounAt(const Nav& nav, std::size_t noun, bool place) {
    if (!nav.lowerCase(noun)) return false;
    std::string w = nav.lower(noun);
    if (in<kOwnedAdjectives>(w)) {
        noun = nav.next(noun);
        if (!nav.lowerCase(noun)) return false;
        const std::string head = nav.lower(noun);
        if ((w == "free" || w == "spare") && head == "time") return true;
        w = head;
    }
    return in<kOwnedNouns>(w) || (!place && in<kOwnedVerbNouns>(w));
}

}  // namespace

void correctNounNumber(Tokens& tokens, const std::function<bool(std::string_view)>& isWord) {
    Nav nav(tokens);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        // Most words start no rule: they are told apart on their ASCII lower
        // case before any Unicode test (no word that starts one is longer).
        const std::string& raw = tokens[i].text;
        if (tokens[i].kind != TokenKind::word || tokens[i].language != 0 || raw.size() > 15 || raw.size() < 3) continue;
        const bool endsInS = raw.back() == 's' || raw.back() == 'S';
        if (!endsInS && std::string_view("befmnstvwyBEFMNSTVWY").find(raw[0]) == npos) continue;
        std::string w(raw);
        std::transform(w.begin(), w.end(), w.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
        if (!(endsInS && w != "was" && w != "has") && !in<kStarters>(w))
            continue;
        if (!nav.isWord(i)) continue;
        for (const auto& [plural, singular] : kNeverPlural)
            if (w == plural && (nav.lowerCase(i) || nav.opensSentence(i))) nav.replace(i, singular);
        // "my point of views" → "my point of view": the phrase's noun is
        // singular whatever the number of points.
        if (w == "views" && nav.lowerCase(i) && nav.lower(nav.previous(i)) == "of" &&
            oneOf(nav.lower(nav.previous(nav.previous(i))), "point", "points")) {
            nav.replace(i, "view");
            continue;
        }

        // "many friend here" → "many friends here", "two sister last year"
        // → "two sisters last year": a counted noun that is no verb, before a
        // place, a time or a relative clause's subject.
        if (in<kPluralCounters>(w)) {
            const std::size_t n = nav.next(i);
            const std::string noun = nav.lower(n);
            if (nav.lowerCase(n) && !noun.ends_with("s") && isAlwaysCountedNoun(noun, isWord) &&
                !in<kCountedVerbs>(noun) && !inWordClass(noun, WordClass::baseVerb) &&
                in<kPlaceTimeFollowers>(nav.lower(nav.next(n))) &&
                (nav.lowerCase(nav.next(n)) || nav.lower(nav.next(n)) == "i")) {
                if (const std::string plural = pluralOfNoun(noun, isWord); !plural.empty()) nav.replace(n, plural);
            }
            continue;
        }
        // "your are right" → "you are right", "Thank your for" → "Thank you
        // for": an owner before a verb, or after "thank" with nothing owned.
        if (w == "your") {
            const std::size_t n = nav.next(i);
            const std::string next = nav.lower(n);
            const bool verb = nav.lowerCase(n) && oneOf(next, "are", "were", "aren't", "weren't", "should", "could",
                                                        "would", "shouldn't", "couldn't", "wouldn't");
            // "Thank your very kind hosts" owns them.
            const bool thanked = nav.lower(nav.previous(i)) == "thank" &&
                                 (nav.endsAtMark(n) || (nav.lowerCase(n) && oneOf(next, "for", "so", "again")) ||
                                  (next == "very" && nav.lower(nav.next(n)) == "much"));
            if (verb || thanked) nav.replace(i, "you");
            continue;
        }
        // "one of my best friend." → "… friends.": a counting word's "of",
        // an owner, a word that picks some of many, and a counted noun ending
        // its phrase. "and" may join a second noun ("one of my best friend
        // and colleague"), so it ends no phrase here.
        if (oneOf(w, "best", "worst", "favorite", "favourite") && nav.lowerCase(i)) {
            const std::size_t det = nav.previous(i);
            const std::size_t of = nav.previous(det);
            const std::size_t n = nav.next(i);
            const std::size_t after = nav.next(n);
            const std::string noun = nav.lower(n);
            if (oneOf(nav.lower(det), "the", "my", "your", "his", "her", "our", "their") && nav.lower(of) == "of" &&
                oneOf(nav.lower(nav.previous(of)), "one", "each", "many", "several", "both", "few") &&
                nav.lowerCase(n) && isAlwaysCountedNoun(noun, isWord) &&
                (nav.endsAtMark(after) || in<kPhraseEnders>(nav.lower(after)))) {
                if (const std::string plural = pluralOfNoun(noun, isWord); !plural.empty()) nav.replace(n, plural);
            }
            continue;
        }
        // "for there children" → "for their children", "with you family" →
        // "with your family": after a preposition or a verb that takes an
        // owned thing, before such a thing. Only in lower case: "There" and
        // "You" open a clause.
        if ((w != "there" && w != "you") || !nav.lowerCase(i)) continue;
        const std::size_t b = nav.previous(i);
        if (!nav.lowerCase(b)) continue;
        const std::string before = nav.lower(b);
        const bool place = in<kPlacePrepositions>(before);
        if (!place && !in<kOwnerPrepositions>(before) && !in<kOwningVerbs>(before) &&
            !(w == "there" && in<kGivingVerbs>(before)))
            continue;
        // "out of there" names a place.
        if (before == "of" && nav.lower(nav.previous(b)) == "out") continue;
        const std::size_t n = nav.next(i);
        if (!ownedNounAt(nav, n, w == "there" && place)) continue;
        // "for you children": people in apposition to "you".
        if (w == "you" && in<kPeople>(nav.lower(n))) continue;
        nav.replace(i, w == "there" ? "their" : "your");
    }
}

}  // namespace quillant::service
