#include "service/Grammar.h"

#include "service/WordList.h"
#include "service/Articles.h"
#include "service/Confusables.h"
#include "service/Commas.h"
#include "service/NounNumber.h"
#include "service/TokenNav.h"

#include "text/Text.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <deque>
#include <iterator>
#include <map>
#include <unordered_map>
#include <string>

namespace quillant::service {

namespace {

using Tokens = std::vector<Token>;
constexpr std::size_t npos = std::string::npos;

// Common verbs in their base form: after "he"/"she" or a modal such a word
// can only be a verb.
constexpr std::string_view kVerbs[] = {
    "accept", "agree", "allow", "answer", "appear", "arrive", "ask", "become", "begin", "believe", "belong", "bring",
    "build", "buy", "call", "care", "carry", "catch", "cause", "change", "choose", "clean", "close", "come", "complain",
    "consider", "contain", "continue", "cook", "create", "cry", "decide", "depend", "deserve", "die", "disagree",
    "discuss", "do", "drink", "drive", "eat", "enjoy", "enter", "explain", "fall", "feel", "fight", "finish", "fly",
    "follow", "forget", "get", "give", "go", "grow", "happen", "hate", "have", "hear", "help", "hope", "imagine",
    "improve", "include", "increase", "invite", "join", "keep", "kill", "know", "laugh", "learn", "leave", "lie", "like",
    "listen", "live", "look", "lose", "love", "make", "manage", "mean", "meet", "miss", "move", "need", "notice",
    "offer", "open", "pay", "plan", "play", "prefer", "prepare", "promise", "provide", "realize", "receive",
    "remember", "reply", "require", "return", "run", "say", "see", "seem", "sell", "send", "serve", "sing", "sit",
    "sleep", "speak", "spend", "stand", "start", "stay", "stop", "study", "suggest", "support", "swim", "take", "talk",
    "teach", "tell", "thank", "think", "travel", "try", "understand", "visit", "wait", "walk", "want", "wash", "watch",
    "wear", "win", "wish", "work", "worry", "write",
    "achieve", "affect", "argue", "attend", "avoid", "behave", "compare", "complete", "describe", "destroy",
    "develop", "earn", "encourage", "expect", "fail", "hold", "involve", "mention", "obtain", "prevent", "produce",
    "protect", "prove", "reach", "reduce", "remain", "replace", "represent", "save", "share", "solve", "succeed",
    "suffer", "tend", "use",
    "act", "add", "admit", "afford", "aim", "appreciate", "apply", "arrange", "assume", "attack", "attract", "blame",
    "borrow", "break", "breathe", "burn", "celebrate", "check", "claim", "collect", "combine", "communicate",
    "compete", "concentrate", "confirm", "connect", "contribute", "control", "convince", "count", "cover", "cross",
    "dance", "deal", "defend", "define", "deliver", "demand", "deny", "design", "determine", "discover", "divide",
    "dream", "drop", "educate", "employ", "ensure", "establish", "examine", "exist", "expand", "express", "face",
    "fill", "find", "fix", "focus", "force", "gain", "gather", "guess", "handle", "hang", "hide", "identify",
    "ignore", "impress", "indicate", "influence", "inform", "insist", "intend", "introduce", "invest", "judge",
    "jump", "kiss", "lack", "lead", "lend", "lift", "limit", "marry", "matter", "measure", "mix", "occur", "order",
    "organize", "own", "pass", "pick", "pray", "predict", "pretend", "print", "promote", "propose", "publish", "pull",
    "punish", "push", "raise", "recognize", "recommend", "record", "refuse", "regret", "relax", "rely", "remove",
    "rent", "repair", "repeat", "report", "respect", "respond", "ride", "rise", "risk", "satisfy", "search", "seek",
    "select", "settle", "shake", "shop", "shout", "show", "sign", "smell", "smile", "smoke", "spell", "steal",
    "struggle", "supply", "suppose", "survive", "suspect", "taste", "test", "throw", "touch", "train", "treat",
    "trust", "turn", "vote", "warn", "waste", "wonder",
};

// Past forms that are no noun or adjective as well ("found", "left" and "saw" are).
constexpr std::pair<std::string_view, std::string_view> kIrregularPast[] = {
    {"ate", "eat"},         {"became", "become"},   {"began", "begin"},   {"bought", "buy"},
    {"brought", "bring"},   {"built", "build"},     {"came", "come"},     {"caught", "catch"},
    {"chose", "choose"},    {"drank", "drink"},     {"drove", "drive"},   {"flew", "fly"},
    {"forgot", "forget"},   {"gave", "give"},       {"got", "get"},       {"knew", "know"},
    {"lost", "lose"},       {"made", "make"},       {"met", "meet"},      {"paid", "pay"},
    {"ran", "run"},         {"said", "say"},        {"sang", "sing"},     {"sent", "send"},
    {"slept", "sleep"},     {"spent", "spend"},     {"spoke", "speak"},   {"stood", "stand"},
    {"swam", "swim"},       {"taught", "teach"},    {"thought", "think"}, {"told", "tell"},
    {"took", "take"},       {"understood", "understand"}, {"went", "go"}, {"won", "win"},
    {"wore", "wear"},       {"wrote", "write"},       {"did", "do"},        {"felt", "feel"},
    {"fought", "fight"},    {"grew", "grow"},         {"heard", "hear"},    {"held", "hold"},
    {"kept", "keep"},       {"sold", "sell"},         {"threw", "throw"},   {"dealt", "deal"},
    {"drew", "draw"},       {"fled", "flee"},         {"forgave", "forgive"}, {"froze", "freeze"},
    {"hid", "hide"},        {"meant", "mean"},        {"rode", "ride"},     {"sat", "sit"},
    {"sought", "seek"},     {"stole", "steal"},       {"struck", "strike"}, {"woke", "wake"},
};

// Simple pasts whose participle differs, for "have went" → "have gone". Not
// those that are nouns too ("saw", "bit", "rose"), nor "did", "was", "were".
constexpr std::pair<std::string_view, std::string_view> kParticiples[] = {
    {"ate", "eaten"},     {"became", "become"},   {"began", "begun"},   {"blew", "blown"},
    {"broke", "broken"},  {"came", "come"},       {"chose", "chosen"},  {"drank", "drunk"},
    {"drew", "drawn"},    {"drove", "driven"},    {"flew", "flown"},    {"forgave", "forgiven"},
    {"forgot", "forgotten"}, {"froze", "frozen"}, {"gave", "given"},    {"grew", "grown"},
    {"knew", "known"},    {"overcame", "overcome"}, {"ran", "run"},     {"rode", "ridden"},
    {"sang", "sung"},     {"shook", "shaken"},    {"spoke", "spoken"},  {"stole", "stolen"},
    {"swam", "swum"},     {"threw", "thrown"},    {"took", "taken"},    {"went", "gone"},
    {"woke", "woken"},    {"wore", "worn"},       {"wrote", "written"},   {"hid", "hidden"},
};

// Verbs that are never nouns, so that after "to" an -s form, and after a
// preposition the base form, can only be a slip ("to goes", "by learn").
constexpr std::string_view kVerbsOnly[] = {
    "agree", "arrive", "become", "begin", "believe", "belong", "bring", "choose", "come", "decide", "depend",
    "deserve", "disagree", "eat", "enjoy", "exist", "explain", "forget", "get", "give", "go", "grow", "happen",
    "improve", "know", "learn", "lose", "prefer", "receive", "seem", "sell", "speak", "spend", "teach", "tell",
    "think", "understand", "write"};
// Verbs of kVerbs that are no nouns either, so that after a subject noun
// their base form can only be a verb that fails to agree ("the teacher
// explain" → "explains"); kept apart from kVerbsOnly, whose rules read them
// after "to" and prepositions.
constexpr std::string_view kAgreeingVerbs[] = {
    "accept", "achieve", "admit", "affect", "afford", "allow", "appear", "appreciate", "apply", "argue", "arrange",
    "assume", "attend", "attract", "avoid", "behave", "borrow", "breathe", "celebrate", "collect", "communicate",
    "compare", "compete", "complain", "confirm", "connect", "consider", "contain", "continue", "contribute",
    "convince", "create", "defend", "define", "deliver", "deny", "describe", "destroy", "determine", "develop",
    "discover", "discuss", "earn", "educate", "encourage", "ensure", "enter", "establish", "examine", "expand",
    "expect", "follow", "gather", "hear", "identify", "ignore", "imagine", "impress", "include", "indicate",
    "inform", "insist", "intend", "introduce", "invest", "involve", "lend", "listen", "manage", "marry", "obtain",
    "occur", "organize", "pray", "predict", "prepare", "pretend", "prevent", "promote", "propose", "protect",
    "prove", "provide", "publish", "punish", "realize", "recognize", "recommend", "reduce", "relax", "rely",
    "remember", "remove", "replace", "represent", "require", "respond", "satisfy", "seek", "send", "settle",
    "sing", "sit", "solve", "succeed", "suffer", "suggest", "suppose", "survive", "tend", "thank", "warn"};
// Nouns whose plural is the same word ("our sheep are"), so that no verb shows them wrong.
constexpr std::string_view kSameInPlural[] = {"aircraft", "bison", "cattle", "clergy", "deer", "fish", "livestock",
                                              "moose", "offspring", "personnel", "poultry", "salmon", "sheep",
                                              "shrimp", "swine", "trout", "youth"};
// Nouns for a group, which British English lets take a plural verb ("my family live").
constexpr std::string_view kCollectives[] = {
    "army", "audience", "band", "board", "class", "club", "committee", "company", "council", "couple", "crew",
    "crowd", "department", "family", "firm", "gang", "government", "group", "jury", "majority", "management",
    "minority", "pair", "party", "press", "public", "rest", "school", "staff", "team", "total"};
// Adjectives that "to" before them is a slip of "too" ("it is to late").
constexpr std::string_view kTooAdjectives[] = {
    "bad", "big", "boring", "busy", "cheap", "complicated", "crowded", "dangerous", "difficult", "early", "easy",
    "expensive", "far", "good", "hard", "heavy", "hot", "large", "late", "lazy", "little", "loud", "many", "much",
    "noisy", "old", "pretty", "small", "soon", "tall", "tired", "weak", "young"};
constexpr std::string_view kTimeNouns[] = {"century", "day", "decade", "hour", "minute", "month", "second", "week",
                                           "year"};
constexpr std::string_view kNumbers[] = {"two", "three", "four", "five", "six", "seven", "eight", "nine", "ten",
                                         "eleven", "twelve", "fifteen", "twenty", "thirty", "forty", "fifty",
                                         "hundred", "thousand", "several", "few"};

// Plurals in -s that name one thing, or whose singular is a name or another word.
constexpr std::string_view kSingularInS[] = {
    "alms", "atlas", "barracks", "bias", "canvas", "chaos", "crossroads", "ethos", "gallows", "gas", "headquarters",
    "kudos", "lens", "means", "mumps", "news", "pathos", "premises", "series", "species", "thanks", "whereabouts",
    "works"};

// Plurals without -s: "these criteria is" is no slip of "these".
constexpr std::string_view kIrregularPlurals[] = {
    "alumni", "bacteria", "cattle", "children", "criteria", "data", "dice", "feet", "folk", "geese", "media", "men",
    "mice", "people", "phenomena", "police", "staff", "teeth", "women"};

// Determiners that make a noun phrase plural or leave its number to the noun:
// "the students is" → "the students are".
constexpr std::string_view kNounDeterminers[] = {"the", "my", "your", "his", "her", "our", "their", "these", "those",
                                                 "some", "many", "all", "most", "both", "several"};
// Prepositions after which "this" before a plural is a slip of "these".
constexpr std::string_view kPrepositions[] = {"about", "across", "after", "all", "among", "at", "before", "by",
                                              "during", "for", "from", "in", "into", "of", "on", "through", "to",
                                              "under", "with", "without"};
// Prepositions that take a verb only in its -ing form ("by learning").
constexpr std::string_view kGerundPrepositions[] = {"about", "after", "at", "before", "by", "in", "of", "without"};
// Words after which "a" names a letter ("plan a", "option a requires").
constexpr std::string_view kLetterNames[] = {"case", "category", "class", "column", "exhibit", "figure", "grade",
                                             "group", "item", "level", "model", "option", "part", "plan", "point",
                                             "row", "section", "side", "step", "team", "type", "variable", "version",
                                             "vitamin"};
constexpr std::string_view kSubjectPronouns[] = {"i", "you", "he", "she", "it", "we", "they"};

// Nouns that take no plural.
constexpr std::pair<std::string_view, std::string_view> kUncountable[] = {
    {"advices", "advice"},       {"baggages", "baggage"},   {"equipments", "equipment"}, {"feedbacks", "feedback"},
    {"furnitures", "furniture"}, {"hardwares", "hardware"}, {"homeworks", "homework"},   {"informations", "information"},
    {"jewelleries", "jewellery"}, {"jewelries", "jewelry"}, {"knowledges", "knowledge"}, {"luggages", "luggage"},
    {"machineries", "machinery"}, {"softwares", "software"},
};
// The rules let other words go by these two marks before reading the list.
static_assert(std::all_of(std::begin(kUncountable), std::end(kUncountable),
                          [](const auto& u) { return u.first.size() >= 7 && u.first.back() == 's'; }));

// Comparatives of short adjectives ("more easier" is doubled).
constexpr std::string_view kComparatives[] = {
    "better", "bigger", "brighter", "busier", "cheaper", "cleaner", "clearer", "closer", "colder", "darker", "deeper",
    "easier", "faster", "greater", "happier", "harder", "healthier", "heavier", "higher", "hotter", "larger",
    "lighter", "longer", "louder", "lower", "nicer", "older", "poorer", "prettier", "quicker", "quieter", "richer",
    "safer", "shorter", "simpler", "slower", "smaller", "smarter", "stronger", "warmer", "weaker", "wider", "worse",
    "younger",
};

constexpr std::string_view kModals[] = {"can", "could", "will", "would", "shall", "should", "may", "might", "must",
                                        "cannot"};
// Words after which a modal is a noun: "the can", "his will".
constexpr std::string_view kDeterminers[] = {"a", "an", "the", "this", "that", "my", "your", "his", "her", "its", "our",
                                             "their", "free", "good", "ill"};
// Words that put a pronoun after its verb or make it an infinitive's subject:
// "did he go", "let it go", "insist that he go".
constexpr std::string_view kInverting[] = {
    "can", "could", "did", "do", "does", "had", "has", "have", "hear", "heard", "help", "helped", "helps", "let", "lets",
    "lest", "make", "made", "makes", "may", "might", "must", "saw", "see", "seen", "shall", "should", "that", "watch",
    "watched", "will", "would"};
// Pronouns that take a verb in the third person singular.
constexpr std::string_view kIndefinite[] = {"anybody", "anyone", "everybody", "everyone", "nobody", "somebody",
                                            "someone"};
// Adverbs that may stand between a subject and its verb.
constexpr std::string_view kMidAdverbs[] = {"always", "also", "never", "often", "rarely", "really", "seldom",
                                            "sometimes", "usually", "generally", "normally", "actually",
                                            "just", "still", "already"};
// Pronouns in "-thing", singular subjects like "everyone" at a clause's
// start; not before the verbs that are adjectives or prepositions too
// ("Something like it exists", "Anything close to it").
constexpr std::string_view kIndefiniteThings[] = {"anything", "everything", "nothing", "something"};
// Words after which a pronoun starts a clause.
constexpr std::string_view kClauseOpeners[] = {"and", "but", "so", "because", "if", "when", "while", "although",
                                              "though", "since", "until", "or", "then", "as", "once"};

// Words and phrases that open a sentence and are set off by a comma ("For
// example, the …"). "Besides", "hence" and "still" are left out: before a
// noun they are a preposition or an adverb of the clause ("Hence the name").
constexpr std::string_view kIntroductions[] = {
    "additionally", "also", "as a result", "consequently", "finally", "first", "firstly", "for example",
    "for instance", "fortunately", "furthermore", "however", "in addition", "in conclusion", "in contrast",
    "in fact", "in general", "in my opinion", "in my view", "in other words", "in short", "in summary",
    "lastly", "meanwhile", "moreover", "nevertheless", "nonetheless", "nowadays", "of course",
    "on the contrary", "on the other hand", "otherwise", "overall", "second", "secondly", "similarly",
    "therefore", "third", "thirdly", "thus", "to sum up", "unfortunately",
    "above all", "actually", "all in all", "as a matter of fact", "at first", "at the same time", "basically",
    "clearly", "eventually", "first of all", "for these reasons", "for this reason", "from my point of view",
    "honestly", "hopefully", "in my experience", "in particular", "in reality", "in the end", "in the future",
    "in the past", "in that case", "in this case", "indeed", "instead", "interestingly", "luckily", "obviously",
    "on the one hand", "personally", "sadly", "surprisingly", "to be honest", "to conclude", "to summarize",
    "ultimately", "oh", "well", "yes"};
// Words that begin a clause's subject: after an introduction, the comma goes before them.
constexpr std::string_view kSubjectStarts[] = {
    "a", "all", "an", "everyone", "he", "her", "his", "i", "if", "it", "its", "many", "most", "my", "no", "our",
    "people", "she", "some", "the", "their", "there", "these", "they", "this", "those", "we", "when", "you", "your"};
// Before "people" they make the subject's number unclear ("each people hopes").
constexpr std::string_view kSingularDeterminers[] = {"a", "an", "each", "every", "one"};
// Words after which a noun is plural: "several reason." → "several reasons.".
// Not "both", "few" or "these", which stand alone ("both agree", "a few left").
constexpr std::string_view kPluralDeterminers[] = {"many", "numerous", "several", "various"};
// The words at which the rule that counts a noun starts: those, determiners
// after "one of", and words whose noun a plural verb shows counted.
constexpr std::string_view kCountingOthers[] = {"the", "my",    "your", "his", "her",   "our", "their",
                                                "these", "those", "both", "few", "other", "some"};
constexpr auto kCountingStarts = joined<kPluralDeterminers, kCountingOthers>();
// Plurals without -s, nouns that keep their form, and nouns more often
// uncountable ("many time" wants "much time", not "many times").
constexpr std::string_view kOwnPlurals[] = {
    "aircraft", "cattle", "children", "data", "deer", "experience", "fish", "food", "media", "men", "money",
    "paper", "people", "police", "progress", "research", "room", "sheep", "space", "species", "staff", "time",
    "traffic", "water", "weather", "women"};
// Words that may follow a noun phrase and end it.
constexpr std::string_view kAfterNounPhrase[] = {
    "about", "and", "are", "as", "at", "because", "but", "by", "can", "could", "did", "do", "for", "from", "had",
    "have", "in", "into", "is", "like", "may", "might", "must", "of", "on", "or", "should", "such", "than", "that",
    "to", "was", "were", "which", "who", "will", "with", "would", "during", "after", "before", "without", "through",
    "among", "until", "while", "where", "whose", "every"};

// Quantities that make "there is" plural ("there is many" → "there are many").
constexpr std::string_view kPluralQuantities[] = {
    "both", "eight", "five", "four", "hundreds", "lots", "many", "millions", "nine", "numerous", "several", "seven",
    "six", "ten", "thousands", "three", "two", "various"};

constexpr std::string_view kDaysAndMonths[] = {
    "monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday", "january", "february", "april",
    "june", "july", "september", "october", "november", "december"};  // not "may", "march", "august": words too

// Names of languages, peoples, continents and countries, always written with
// a capital; not those that are words too ("china", "turkey", "polish").
constexpr std::string_view kProperNames[] = {
    "africa", "african", "america", "american", "americans", "arabic", "asia", "asian", "australia", "australian",
    "brazil", "brazilian", "britain", "british", "canada", "canadian", "chinese", "christmas", "england",
    "english", "europe", "european", "europeans", "france", "german", "germany", "india", "indian", "italian",
    "italy", "japan", "japanese", "korea", "korean", "mexican", "mexico", "russia", "russian", "spain", "spanish"};

template <std::size_t N>
std::string_view lookUp(const std::pair<std::string_view, std::string_view> (&table)[N], std::string_view word) {
    for (const auto& [from, to] : table)
        if (from == word) return to;
    return {};
}

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}
bool isConsonant(char c) { return c >= 'a' && c <= 'z' && std::string_view("aeiou").find(c) == std::string_view::npos; }

std::string thirdPerson(std::string_view base) {
    if (base == "have") return "has";
    if (base == "do" || base == "go") return std::string(base) + "es";
    if (endsWith(base, "y") && base.size() > 1 && isConsonant(base[base.size() - 2]))
        return std::string(base.substr(0, base.size() - 1)) + "ies";
    if (endsWith(base, "s") || endsWith(base, "sh") || endsWith(base, "ch") || endsWith(base, "x") || endsWith(base, "z"))
        return std::string(base) + "es";
    return std::string(base) + "s";
}

std::string regularPast(std::string_view base) {
    if (endsWith(base, "e")) return std::string(base) + "d";
    if (endsWith(base, "y") && base.size() > 1 && isConsonant(base[base.size() - 2]))
        return std::string(base.substr(0, base.size() - 1)) + "ied";
    // One-syllable words ending consonant-vowel-consonant double it: "stop" → "stopped".
    if (base.size() <= 4 && base.size() >= 3 && isConsonant(base[base.size() - 1]) && base.back() != 'w' &&
        base.back() != 'x' && base.back() != 'y' && !isConsonant(base[base.size() - 2]) && isConsonant(base[base.size() - 3]))
        return std::string(base) + base.back() + "ed";
    return std::string(base) + "ed";
}

// The past participle of a verb in its base form ("know" → "known", "decide" → "decided").
std::string participleOf(std::string_view base) {
    for (const auto& [past, verb] : kIrregularPast)
        if (verb == base) {
            std::string_view participle = lookUp(kParticiples, past);
            return std::string(participle.empty() ? past : participle);
        }
    return regularPast(base);
}

// Every inflected form of a listed verb, with its base form.
struct Forms {
    // Hashed: asked of most words. Looked up by view, with no string made.
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, std::string, Hash, std::equal_to<>> thirdPerson, past;
    Forms() {
        for (std::string_view v : kVerbs) {
            thirdPerson.emplace(quillant::service::thirdPerson(v), v);
            past.emplace(regularPast(v), v);
        }
        for (const auto& [p, v] : kIrregularPast) past.emplace(p, v);
        past.erase("lied");  // "lie" has two pasts, one of them "lay"
    }
};
const Forms& forms() {
    static const Forms f;
    return f;
}
// Whether the word is one of kVerbs: it is asked for most words.
bool isListedVerb(std::string_view w);
std::string_view baseOfThirdPerson(std::string_view w);
// An adverb in "-ly" that may stand between a pronoun and its verb ("she
// mostly work"); not the verbs in "-ly" ("reply", "apply", "fly").
bool isLyAdverb(std::string_view w) { return w.size() >= 5 && endsWith(w, "ly") && !isListedVerb(w); }
bool isListedVerb(std::string_view w) { return in<kVerbs>(w); }
std::string_view baseOfThirdPerson(std::string_view w) {
    // Every third person ends in "s"; most words are let go without the map.
    if (w.empty() || w.back() != 's') return {};
    auto it = forms().thirdPerson.find(w);
    return it == forms().thirdPerson.end() ? std::string_view() : std::string_view(it->second);
}
constexpr auto kIrregularPastForms = [] {
    std::array<std::string_view, std::size(kIrregularPast)> pasts{};
    for (std::size_t k = 0; k < pasts.size(); ++k) pasts[k] = kIrregularPast[k].first;
    return pasts;
}();
std::string_view baseOfPast(std::string_view w) {
    // A regular past ends in "d"; the others are listed.
    if (w.empty() || (w.back() != 'd' && !in<kIrregularPastForms>(w))) return {};
    auto it = forms().past.find(w);
    return it == forms().past.end() ? std::string_view() : std::string_view(it->second);
}

// The tokens as a sequence of English words on one line, punctuation between them kept as a stop.
class Words {
public:
    explicit Words(Tokens& tokens) : tokens_(tokens) {}
    // Commas to be inserted after these tokens: a clause starts after them already.
    void setPendingCommas(const std::vector<std::size_t>* commas) { commas_ = commas; }

    // Told by the lower-case word's cache: the Unicode test is made once per token's text.
    bool isWord(std::size_t i) const { return !lower(i).empty(); }
    // The lower-case word at i, empty if i is no English word. Remembered
    // per token until an edit of this class's changes it: the rules ask for
    // most words many times, so every edit of a token's text while this
    // object lives goes through replace(), set(), clear() or remove(). The
    // words lowered are kept as long as this object, never moved nor
    // overwritten, so that a view of one stays good across later edits.
    std::string_view lower(std::size_t i) const {
        if (i >= tokens_.size()) return {};
        if (cache_.size() < tokens_.size()) cache_.resize(tokens_.size());
        Lowered& entry = cache_[i];
#ifndef NDEBUG
        // An edit that bypassed this class would leave a stale word here.
        assert(!entry.known || entry.from == tokens_[i].text);
#endif
        if (!entry.known) {
            const std::string& w = tokens_[i].text;
#ifndef NDEBUG
            entry.from = w;
#endif
            entry.known = true;
            entry.lowered = {};
            if (tokens_[i].kind == TokenKind::word && tokens_[i].language == 0 && !w.empty()) {
                // Most words are ASCII letters, which need no Unicode tables.
                bool ascii = true, upper = false, letters = true;
                for (char c : w) {
                    if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
                    else if (c >= 'A' && c <= 'Z') upper = true;
                    else if ((c < 'a' || c > 'z') && c != '\'') letters = false;
                }
                if (ascii && letters) {
                    std::string& lowered = lowered_.emplace_back(w);
                    if (upper)
                        for (char& c : lowered)
                            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
                    entry.lowered = lowered;
                } else if (isPlainWord(w)) {
                    entry.lowered = lowered_.emplace_back(text::lowercased(w));
                }
            }
        }
        return entry.lowered;
    }
    // The next / previous token across one blank; npos at a line break or the end.
    std::size_t next(std::size_t i) const { return nextAcrossBlank(tokens_, i); }
    std::size_t previous(std::size_t i) const { return previousAcrossBlank(tokens_, i); }
    // Whether the line ends right after i and the paragraph goes on in the next.
    bool wrapsAfter(std::size_t i) const {
        std::size_t j = i + 1;
        if (j < tokens_.size() && tokens_[j].kind == TokenKind::space) ++j;
        if (j >= tokens_.size() || tokens_[j].kind != TokenKind::lineBreak) return false;
        for (++j; j < tokens_.size() && tokens_[j].kind == TokenKind::space; ++j) {}
        return j < tokens_.size() && tokens_[j].kind != TokenKind::lineBreak;
    }
    std::string_view nextLower(std::size_t i) const { return lower(next(i)); }
    std::size_t size() const { return tokens_.size(); }
    std::string_view previousLower(std::size_t i) const { return lower(previous(i)); }

    // Replaces the word, keeping a capital first letter and ALL CAPS.
    void replace(std::size_t i, std::string_view with) {
        std::string& w = tokens_[i].text;
        if (text::graphemeCount(w) > 1 && isAllUppercase(w)) w = uppercased(with);
        else if (!startsLowercase(w)) w = capitalizedFirst(with);
        else w = std::string(with);
        changed(i);
    }
    void set(std::size_t i, std::string text) {
        tokens_[i].text = std::move(text);
        changed(i);
    }
    void clear(std::size_t i) {
        tokens_[i].text.clear();
        changed(i);
    }
    // After tokens were inserted or erased.
    void forget() { cache_.clear(); }
    // Removes the word and the blank after it, or before it when a mark
    // follows ("reverting back." → "reverting.").
    void remove(std::size_t i) {
        bool capital = !startsLowercase(tokens_[i].text);
        clear(i);
        if (i + 1 < tokens_.size() && tokens_[i + 1].kind == TokenKind::space) clear(i + 1);
        else if (i > 0 && tokens_[i - 1].kind == TokenKind::space && i + 1 < tokens_.size() &&
                 tokens_[i + 1].kind == TokenKind::punct)
            clear(i - 1);
        if (std::size_t n = next(i + 1); capital && isWord(n)) set(n, capitalizedFirst(tokens_[n].text));
    }
    const std::string& text(std::size_t i) const { return tokens_[i].text; }
    // Whether a noun phrase may end before `after` (the token after its noun):
    // the line's end, a mark, or a word that follows noun phrases. "and" and
    // "or" only when `orJoined` ("sports and leisure centre" goes on).
    bool endsPhraseBefore(std::size_t after, bool orJoined = true) const {
        if (after == npos) return true;
        if (tokens_[after].kind == TokenKind::punct) return std::string_view(".,;:!?").find(tokens_[after].text) != npos;
        std::string_view word = lower(after);
        if (!orJoined && (word == "and" || word == "or")) return false;
        return in<kAfterNounPhrase>(word);
    }
    // Whether the subject before the verb at i opens its clause: a pronoun
    // ("I had went") or a determiner and one word ("the boys have took"). In
    // "everything I had went to rent" the "had" ends a relative clause.
    bool subjectOpensClauseBefore(std::size_t i) const {
        std::size_t p = previous(i);
        if (p == npos) return false;
        if (in<kSubjectPronouns>(lower(p))) return clauseStartsBefore(p);
        std::size_t d = previous(p);
        const std::string_view det = lower(d);
        return isWord(p) && (in<kNounDeterminers>(det) || det == "a" || det == "an" || det == "this") &&
               clauseStartsBefore(d);
    }
    // Whether a sentence or paragraph starts at i across line breaks: a line
    // that merely wraps one has no clause start of its own.
    bool opensParagraph(std::size_t i) const {
        int breaks = 0;
        for (std::size_t k = i; k > 0; --k) {
            const Token& t = tokens_[k - 1];
            if (t.kind == TokenKind::lineBreak) {
                if (++breaks == 2) return true;
            } else if (t.kind != TokenKind::space) {
                return t.kind == TokenKind::punct && std::string_view(".!?").find(t.text) != npos;
            }
        }
        return true;
    }
    bool sentenceStartsBefore(std::size_t i) const {
        std::size_t p = previous(i);
        return p == npos || (tokens_[p].kind == TokenKind::punct && std::string_view(".!?").find(tokens_[p].text) != npos);
    }
    // Whether a clause starts before i: the text's start, a mark, or a conjunction.
    bool clauseStartsBefore(std::size_t i) const {
        std::size_t p = previous(i);
        if (p == npos) return true;
        if (commas_ && std::find(commas_->begin(), commas_->end(), p) != commas_->end()) return true;
        if (tokens_[p].kind == TokenKind::punct) return std::string_view(",;:.!?(").find(tokens_[p].text) != npos;
        return in<kClauseOpeners>(lower(p));
    }

private:

    Tokens& tokens_;
    const std::vector<std::size_t>* commas_ = nullptr;
    struct Lowered {
        bool known = false;
        std::string_view lowered;
#ifndef NDEBUG
        std::string from;  // the text lowered, to catch an edit made behind this class's back
#endif
    };
    void changed(std::size_t i) const {
        if (i < cache_.size()) cache_[i].known = false;
    }
    mutable std::vector<Lowered> cache_;
    mutable std::deque<std::string> lowered_;
};


// The introductions in order, so that those of one first letter are read together.
constexpr auto kIntroductionsInOrder = [] {
    std::array<std::string_view, std::size(kIntroductions)> a{};
    std::copy(std::begin(kIntroductions), std::end(kIntroductions), a.begin());
    std::sort(a.begin(), a.end());
    return a;
}();

// The words of an introduction that starts at i ("on the other hand"), or 0.
std::size_t introductionAt(const Words& words, std::size_t i) {
    const std::string_view first = words.lower(i);
    if (first.empty()) return 0;
    std::size_t longest = 0;
    auto phrases = std::lower_bound(kIntroductionsInOrder.begin(), kIntroductionsInOrder.end(), first.substr(0, 1));
    for (; phrases != kIntroductionsInOrder.end() && (*phrases)[0] == first[0]; ++phrases) {
        const std::string_view phrase = *phrases;
        if (!phrase.starts_with(first) ||
            (phrase.size() > first.size() && phrase[first.size()] != ' '))
            continue;
        std::size_t at = i, count = 0;
        std::size_t from = 0;
        while (true) {
            std::size_t blank = phrase.find(' ', from);
            std::string_view part = phrase.substr(from, blank == npos ? npos : blank - from);
            if (at == npos || words.lower(at) != part) break;
            ++count;
            if (blank == npos) {
                longest = std::max(longest, count);
                break;
            }
            from = blank + 1;
            at = words.next(at);
        }
    }
    return longest;
}

}  // namespace

std::optional<std::string_view> irregularPastOf(std::string_view regularised) {
    // Made once: the spelling checker asks this of many words.
    static const std::vector<std::pair<std::string, std::string_view>> regularisedPasts = [] {
        std::vector<std::pair<std::string, std::string_view>> v;
        for (const auto& [past, base] : kIrregularPast) v.emplace_back(regularPast(base), past);
        return v;
    }();
    for (const auto& [regular, past] : regularisedPasts)
        if (regular == regularised) return past;
    return std::nullopt;
}

std::optional<bool> startsWithVowelSound(std::string_view word) {
    if (word.empty() || static_cast<unsigned char>(word[0]) >= 0x80) return std::nullopt;
    // An abbreviation said letter by letter: "an MBA", "a URL".
    if (word.size() >= 2 && word.size() <= 4 && isAllUppercase(word)) {
        bool spelled = word.size() <= 3 || std::none_of(word.begin() + 1, word.end(), [](char c) {
                           return std::string_view("AEIOU").find(c) != npos;
                       });
        if (!spelled) return std::nullopt;
        return std::string_view("AEFHILMNORSX").find(word[0]) != npos;
    }
    std::string w = text::lowercased(word);
    if (!std::all_of(w.begin(), w.end(), [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; })) return std::nullopt;
    char c = w[0];
    if (c == 'h') {
        for (std::string_view silent : {"hour", "honest", "honor", "honour", "heir"})
            if (w.rfind(silent, 0) == 0) return true;
        return false;
    }
    if (c == 'e') return !(w.rfind("eu", 0) == 0 || w.rfind("ewe", 0) == 0);
    if (c == 'o') return !(w == "one" || w.rfind("one-", 0) == 0 || w == "once");
    if (c == 'a' || c == 'i') return true;
    if (c == 'u') {
        if (w.size() < 3) return std::nullopt;
        if (w.rfind("uni", 0) == 0)  // "unit", "university"; but "unimportant", "uninformed"
            return w.rfind("unim", 0) == 0 || w.rfind("unin", 0) == 0 || w.rfind("unid", 0) == 0;
        if (w.rfind("un", 0) == 0 || w.rfind("up", 0) == 0 || w.rfind("ul", 0) == 0 || w.rfind("um", 0) == 0) return true;
        // "use", "usual", "utility", "urine": one consonant then a vowel sounds "you".
        if (isConsonant(w[1]) && !isConsonant(w[2]) && std::string_view("srtk").find(w[1]) != npos) return false;
        if (isConsonant(w[1]) && isConsonant(w[2])) return true;  // "urgent", "under"
        return std::nullopt;
    }
    if (c == 'y' || c == 'x') return std::nullopt;
    return false;
}

// A plural of a noun English knows ("cars", "classes", "cities", "people"); not
// pronouns and determiners in -s, nor words in -ss, -us, -is or -ics.
bool isPlainPlural(std::string_view w, const std::function<bool(std::string_view)>& isWord) {
    static constexpr std::string_view kNotPlurals[] = {"does", "has", "hers", "his", "its", "ours", "theirs", "these",
                                                "this", "those", "was", "whose", "yes", "yours"};
    if (w == "people" || w == "children" || w == "men" || w == "women") return true;
    if (w.size() < 4 || w.back() != 's' || endsWith(w, "ss") || endsWith(w, "us") || endsWith(w, "is") ||
        endsWith(w, "ics") || in<kNotPlurals>(w) || !isWord(w))
        return false;
    std::string stem(w.substr(0, w.size() - 1));
    if (isWord(stem)) return true;
    if (endsWith(w, "es") && isWord(w.substr(0, w.size() - 2))) return true;
    return endsWith(w, "ies") && isWord(std::string(w.substr(0, w.size() - 3)) + "y");
}

using IsWord = std::function<bool(std::string_view)>;

// A plural noun in lower case or opening a sentence ("cars", "cities",
// "People"), not one that names a single thing ("news", "series").
bool isPluralNounAt(const Words& words, std::size_t i, const IsWord& isWord) {
    return words.isWord(i) && (startsLowercase(words.text(i)) || words.sentenceStartsBefore(i)) &&
           !in<kSingularInS>(words.lower(i)) &&
           isPlainPlural(words.lower(i), isWord);
}

// Nouns whose plural no ending rule makes; "lives" is no plural of "live".
// Not "person"/"people": "a people" is a nation.
constexpr std::pair<std::string_view, std::string_view> kIrregularNouns[] = {
    {"calf", "calves"}, {"child", "children"}, {"foot", "feet"},     {"goose", "geese"},    {"half", "halves"},
    {"knife", "knives"}, {"leaf", "leaves"},   {"life", "lives"},    {"loaf", "loaves"},    {"man", "men"},
    {"mouse", "mice"},  {"shelf", "shelves"},  {"thief", "thieves"}, {"tooth", "teeth"},    {"wife", "wives"},
    {"wolf", "wolves"}, {"woman", "women"}};

// The singular of a plural in -s ("cities" → "city"); empty for the others.
std::string singularOf(std::string_view w, const IsWord& isWord) {
    for (const auto& [singular, plural] : kIrregularNouns)
        if (plural == w) return std::string(singular);
    if (w.size() < 4 || w.back() != 's') return {};
    std::string minusS(w.substr(0, w.size() - 1));
    if (isWord(minusS)) return minusS;
    if (endsWith(w, "ies") && isWord(std::string(w.substr(0, w.size() - 3)) + "y"))
        return std::string(w.substr(0, w.size() - 3)) + "y";
    if (endsWith(w, "es") && isWord(w.substr(0, w.size() - 2))) return std::string(w.substr(0, w.size() - 2));
    return {};
}

// The plural of a singular noun English knows ("city" → "cities", "man" →
// "men"); empty when no spelling of it is a word.
std::string pluralOf(std::string_view w, const IsWord& isWord) {
    // A number counts; it is not a counted noun ("one of the two" stays).
    if (in<kNumbers>(w) || oneOf(w, "dozen", "thirteen", "fourteen", "sixteen", "seventeen", "eighteen", "nineteen",
                                 "sixty", "seventy", "eighty", "ninety", "million", "billion"))
        return {};
    if (std::string_view plural = lookUp(kIrregularNouns, w); !plural.empty()) return std::string(plural);
    if (w == "person") return "people";
    std::string plural = thirdPerson(w);
    return isWord(plural) ? plural : std::string();
}

// The -ing form of a verb, when exactly one spelling is a word ("begin" → "beginning").
std::string ingFormOf(std::string_view base, const IsWord& isWord) {
    std::vector<std::string> spellings;
    if (endsWith(base, "ie")) spellings.push_back(std::string(base.substr(0, base.size() - 2)) + "ying");
    else if (endsWith(base, "e") && !endsWith(base, "ee") && !endsWith(base, "ye") && !endsWith(base, "oe"))
        spellings.push_back(std::string(base.substr(0, base.size() - 1)) + "ing");
    else {
        spellings.push_back(std::string(base) + "ing");
        spellings.push_back(std::string(base) + base.back() + "ing");
    }
    std::string found;
    for (const std::string& s : spellings) {
        if (!isWord(s)) continue;
        if (!found.empty()) return {};
        found = s;
    }
    return found;
}

// Nouns with no singular of their own ("a new glasses" is no slip of "glass").
constexpr std::string_view kPluralOnly[] = {
    "belongings", "clothes", "congratulations", "earnings", "glasses", "goods", "jeans", "outskirts", "pajamas",
    "pants", "pyjamas", "remains", "savings", "scissors", "shorts", "surroundings", "trousers"};

// Everyday nouns that are always counted, so that a word counting them wants
// their plural ("a lot of friends"), where "a lot of time" is uncountable
// (and so, at times, "opportunity" and "chance"); not "subject" nor
// "relative", which are adjectives too ("is subject to").
constexpr std::string_view kCountNouns[] = {
    "accident", "activity", "advantage", "animal", "apple", "area", "aspect", "benefit", "bird", "book",
    "building", "car", "cat", "child", "choice", "city", "class", "colleague", "company", "computer",
    "country", "course", "customer", "day", "decision", "detail", "difference", "disadvantage", "doctor", "dog",
    "employee", "event", "exam", "example", "factor", "family", "feature", "film", "flower", "friend", "game",
    "goal", "hotel", "hour", "house", "idea", "item", "job", "kid", "language", "lesson", "machine", "man",
    "member", "method", "minute", "mistake", "month", "movie", "museum", "neighbor", "neighbour",
    "option", "parent", "park", "person", "phone", "photo", "picture", "place", "player", "problem", "product",
    "project", "question", "reason", "region", "restaurant", "road", "rule", "school", "shop",
    "skill", "song", "store", "story", "street", "student", "task", "teacher", "thing", "tool",
    "tourist", "town", "tree", "trip", "university", "village", "visitor", "week", "woman", "word", "worker",
    "year"};

// Nouns for people, who are never a part of one ("most of the students";
// "most of the city" may be a part of one city).
constexpr std::string_view kPersonNouns[] = {
    "adult", "artist", "child", "citizen", "classmate", "colleague", "customer", "doctor", "driver", "employee",
    "engineer", "farmer", "friend", "guest", "kid", "leader", "man", "manager", "member", "neighbor", "neighbour",
    "nurse", "officer", "owner", "parent", "passenger", "person", "player", "reader", "resident", "scientist",
    "soldier", "student", "teacher", "teenager", "tourist", "user", "visitor", "volunteer", "woman", "worker",
    "writer"};

// A noun for one who does what a common verb says ("driver", "visitor",
// "creator", "swimmer") or a trade in "-ist" or "-ician" ("scientist",
// "musician"): such nouns are always counted. Not comparatives of verbs that
// are adjectives too ("cleaner air", "closer"), nor "liver"; no vowel before
// "-ist" ("moist") and no verb in "-sist", "-xist" or "-list".
bool isAgentNoun(std::string_view w, const std::function<bool(std::string_view)>& isWord) {
    if (w.size() < 5) return false;
    auto isVerb = [](std::string_view stem) {
        return !oneOf(stem, "clean", "close", "live", "lie", "open") && (isListedVerb(stem) || in<kVerbsOnly>(stem));
    };
    bool agent = false;
    if (endsWith(w, "er") || endsWith(w, "or")) {
        const std::string_view stem = w.substr(0, w.size() - 2);
        agent = isVerb(stem) || isVerb(std::string(stem) + "e") ||
                (endsWith(w, "er") && stem.size() > 2 && stem.back() == stem[stem.size() - 2] &&
                 isConsonant(stem.back()) && isVerb(stem.substr(0, stem.size() - 1)));
    } else if (endsWith(w, "ician")) {
        agent = true;
    } else if (w.size() >= 6 && endsWith(w, "ist") && isConsonant(w[w.size() - 4])) {
        agent = !endsWith(w, "sist") && !endsWith(w, "xist") && !endsWith(w, "list");
    }
    // Asked last: the dictionary costs more than the endings.
    return agent && isWord(w);
}

// A noun always counted: an everyday one of kCountNouns or a doer's noun.
bool isCountedNoun(std::string_view w, const std::function<bool(std::string_view)>& isWord) {
    return in<kCountNouns>(w) || isAgentNoun(w, isWord);
}

// Common adjectives that are no nouns, which may stand between a determiner
// and its noun; and endings only adjectives have.
bool isPlainAdjective(std::string_view w) {
    static constexpr std::string_view kAdjectives[] = {
        "bad", "beautiful", "big", "cheap", "common", "different", "difficult", "easy", "entire", "expensive",
        "famous", "good", "great", "happy", "hard", "huge", "important", "large", "long", "modern", "new", "nice",
        "old", "perfect", "poor", "popular", "rich", "serious", "short", "simple", "single", "small", "special",
        "strong", "typical", "whole", "wonderful", "young"};
    const std::size_t n = w.size();
    if (n > 6 && (w.ends_with("ful") || w.ends_with("ous") || w.ends_with("ive"))) return true;
    if (n > 7 && (w.ends_with("able") || w.ends_with("ible"))) return true;
    return in<kAdjectives>(w);
}

bool isSuperlative(std::string_view w) {
    if (w == "best" || w == "worst") return true;
    for (std::string_view c : kComparatives)
        if (c != "better" && c != "worse" && w.size() == c.size() + 1 && endsWith(w, "est") &&
            w.substr(0, c.size() - 2) == c.substr(0, c.size() - 2))
            return true;
    return false;
}

// A singular count noun at i in lower case: a word English knows, not in
// -s, not a verb of the list, nor a noun more often uncountable, nor a
// function word.
bool countableSingularAt(const Words& words, std::size_t i, const IsWord& isWord) {
    if (!words.isWord(i) || !startsLowercase(words.text(i))) return false;
    const std::string_view w = words.lower(i);
    return isWord(w) && !endsWith(w, "s") && w.find('\'') == npos && !in<kOwnPlurals>(w) && !isListedVerb(w) &&
           !in<kSubjectPronouns>(w) && !in<kNounDeterminers>(w) && !in<kDeterminers>(w) && !in<kPrepositions>(w) &&
           !in<kAfterNounPhrase>(w) && !in<kNumbers>(w) && !in<kComparatives>(w) &&
           !oneOf(w, "more", "less", "other", "else", "hundred", "thousand", "million", "billion", "dozen", "much",
                  "own", "one", "ones", "not", "ago", "later", "percent") &&
           !endsWith(w, "ly") && !endsWith(w, "ed") && baseOfPast(w).empty() &&
           !oneOf(w, "left", "found", "gone", "done", "known", "seen", "given", "taken", "put", "set", "cut",
                  "read") &&
           std::none_of(std::begin(kUncountable), std::end(kUncountable), [&](const auto& u) { return u.second == w; });
}

// The verbs of a plural subject made singular ("are" → "is").
constexpr std::pair<std::string_view, std::string_view> kToSingularVerb[] = {
    {"are", "is"}, {"were", "was"}, {"have", "has"}, {"aren't", "isn't"}, {"weren't", "wasn't"}, {"haven't", "hasn't"}};

// The same verb agreeing with a plural subject ("is" → "are"), keeping the apostrophe's style.
std::string pluralVerbOf(std::string_view verb) {
    constexpr std::pair<std::string_view, std::string_view> kToPlural[] = {
        {"is", "are"},        {"was", "were"},       {"has", "have"},     {"does", "do"},
        {"isn't", "aren't"}, {"wasn't", "weren't"}, {"hasn't", "haven't"}, {"doesn't", "don't"}};
    // Most words have no typographic apostrophe to put back.
    if (verb.find('\xe2') == npos) return std::string(lookUp(kToPlural, verb));
    std::string plain(verb);
    bool curly = false;
    if (auto at = plain.find("\u2019"); at != npos) {
        plain.replace(at, 3, "'");
        curly = true;
    }
    std::string out(lookUp(kToPlural, plain));
    if (curly && !out.empty()) out.replace(out.find('\''), 1, "\u2019");
    return out;
}
bool isSingularVerb(std::string_view verb) {
    return verb == "is" || verb == "was" || verb == "has" || verb == "isn't" || verb == "wasn't" ||
           verb == "hasn't" || verb == "doesn't";
}

constexpr std::string_view kHave[] = {"have", "has", "had", "having", "haven't", "hasn't", "hadn't",
                                      "i've", "we've", "you've", "they've"};

constexpr std::string_view kOtherStarts[] = {
            "did", "does", "do", "this", "that", "these", "those", "one", "much", "every", "each", "a", "an", "most",
            "to", "is", "are", "am", "was", "were", "be", "been", "it's", "it\u2019s", "get", "got", "seems", "want",
            "wants", "wanted", "need", "needs", "decide", "decides", "decided", "hope", "hopes", "hoped", "try",
            "tries", "tried", "going", "interested", "responsible", "depend", "depends", "depended", "depending",
            "explain", "explains", "explained", "explaining", "listen", "listens", "listened", "listening", "wait",
            "waits", "waited", "waiting", "emphasize", "emphasizes", "emphasized", "emphasise", "emphasises",
            "emphasised", "mention", "mentions", "mentioned", "mentioning", "cope", "copes", "coped", "coping",
            "lack", "lacks", "lacked", "there", "can", "could", "should", "must", "would", "let", "lets", "make",
            "makes", "made", "making", "finish", "finishes", "finished", "practise", "practice", "practised", "practiced", "enjoy", "enjoys", "enjoyed", "enjoying", "avoid", "avoids", "avoided",
            "avoiding", "look", "looks", "looked", "looking", "i", "according", "lot", "who", "at", "not", "don't", "doesn't",
    "didn't", "cannot", "may", "might", "will", "shall", "they're", "too", "weather", "good", "it", "he", "she",
    "we", "you", "they", "in", "eventhough", "my", "your", "another", "same", "such", "as", "many", "others", "return", "returns", "returned", "returning", "revert", "reverts", "reverted", "reverting", "seems", "looks", "gets", "find", "finds", "buy", "buys", "bought", "become", "becomes", "became", "take", "takes", "took", "taking", "spend", "spent", "over", "around", "throughout", "that's", "that\u2019s",
            "his", "her", "our", "their", "which",
            "can't", "couldn't", "shouldn't", "mustn't", "wouldn't", "won't", "suggest", "suggests", "suggested",
            "consider", "considers", "considered", "trust", "trusts", "trusted"};
// Words at which only the rules of correctClauseAndCount start.
constexpr std::string_view kClauseAndCountStarts[] = {
    "addicted", "afraid", "and", "aren't", "aware", "being", "childrens", "childs", "dependant", "dependent", "go",
    "goes", "gone", "isn't", "less", "loosing", "married", "mens", "similar", "since", "wasn't", "went", "weren't",
    "womens"};
// The words at which correctFormsAndNumber's rules start, so that the others
// (most words of a text) cost one look-up.
constexpr auto kFormRuleStarts =
    joined<kHave, kNounDeterminers, kGerundPrepositions, kNumbers, kPrepositions, kOtherStarts>();
bool startsAFormRule(std::string_view w) { return in<kFormRuleStarts>(w); }

// "He goes to school and don't like it" → "… and doesn't like it": a verb
// right after "and" with no subject of its own shares the first clause's,
// which its verb in -s shows to be singular ("he", "everyone", "my
// brother"). Only with no mark before "and" (", and don't forget" is an
// order), and nothing between the two verbs that would take a bare verb
// ("to", "let", "make", another verb's base form) or start a new subject.
bool correctSharedSubject(Words& words, std::size_t i, const IsWord& isWord) {
    const std::string_view w = words.lower(i);
    if (w != "and" || !words.isWord(words.previous(i))) return false;
    const std::size_t v = words.next(i);
    const std::string_view second = words.lower(v);
    std::string agreeing;
    if (second == "don't" || second == "don\u2019t") agreeing = second == "don't" ? "doesn't" : "doesn\u2019t";
    else if (second == "have") agreeing = "has";
    else if (second == "haven't") agreeing = "hasn't";
    else if (in<kVerbsOnly>(second) && startsLowercase(words.text(v))) agreeing = thirdPerson(second);
    const std::size_t afterVerb = v == npos ? npos : v + 1;
    if (agreeing.empty() || (afterVerb < words.size() && words.text(afterVerb) == "-")) return false;
    // Back to the first clause's verb in -s, at most eight words away.
    std::size_t k = words.previous(i);
    std::string later;
    for (int steps = 0; steps < 8 && words.isWord(k); ++steps, later = words.lower(k), k = words.previous(k)) {
        const std::string_view word = words.lower(k);
        // "goes to school": "to" before a noun phrase is a preposition.
        if (word == "to" && (in<kNounDeterminers>(later) || in<kDeterminers>(later) ||
                             oneOf(later, "school", "bed", "church", "class", "town", "me", "him", "us", "them")))
            continue;
        const bool singularVerb = isSingularVerb(word) || word == "does" || !baseOfThirdPerson(word).empty();
        if (singularVerb) {
            std::size_t s = words.previous(k);
            if (in<kMidAdverbs>(words.lower(s))) s = words.previous(s);
            if (!words.isWord(s)) return false;
            const std::string_view subject = words.lower(s);
            const bool pronoun = oneOf(subject, "he", "she", "it") || in<kIndefinite>(subject);
            const bool opens = pronoun ? words.clauseStartsBefore(s) : words.subjectOpensClauseBefore(words.next(s));
            if (!opens || (!pronoun && (isPluralNounAt(words, s, isWord) || in<kCollectives>(subject) ||
                                        in<kSubjectPronouns>(subject) || !startsLowercase(words.text(s)))))
                return false;
            // "It is cold and don't forget your coat": after a state, an order.
            if (subject == "it" && word == "is") return false;
            words.replace(v, agreeing);
            return true;
        }
        // Words that take a bare verb, start a clause of their own, or name
        // another subject ("he says it's late and don't wait").
        if (word.find('\'') != npos || word.find("\u2019") != npos || isListedVerb(word) || in<kVerbsOnly>(word) || in<kModals>(word) || in<kInverting>(word) ||
            in<kClauseOpeners>(word) || in<kSubjectPronouns>(word) ||
            oneOf(word, "to", "that", "who", "which", "where", "what", "how", "why", "whose", "whom", "not",
                  "never", "than", "we", "they", "i", "you", "let", "lets", "make", "makes", "help", "helps", "see",
                  "sees", "watch", "watches", "hear", "hears", "feel", "feels", "rather", "do"))
            return false;
    }
    return false;
}

// Verbs whose base form is neither a noun nor an adjective, so that after
// "be" it can only be a participle gone wrong ("was build" → "was built").
constexpr std::string_view kPassiveBases[] = {
    "accept", "achieve", "allow", "begin", "bring", "build", "choose", "collect", "create", "describe", "destroy",
    "develop", "discover", "eat", "educate", "employ", "establish", "explain", "forget", "forgive", "generate",
    "give", "hide", "identify", "ignore", "improve", "include", "inform", "introduce", "invite", "involve", "kill",
    "know", "lose", "obtain", "organize", "organise", "prevent", "produce", "protect", "provide", "publish",
    "receive", "recognize", "recognise", "reduce", "remove", "replace", "require", "sell", "send", "solve", "speak",
    "spend", "steal", "teach", "tell", "throw", "understand", "utilize", "write"};

// "The house was build in 1900" → "… was built in 1900", "will be send
// tomorrow" → "will be sent tomorrow": "be" and a verb's base form where
// a passive continues (a preposition, a time, a mark). Held back in a
// sentence with "do" or "what" before ("all we can do is give"), where
// "be" may join a bare verb.
bool correctPassive(Words& words, std::size_t i, const IsWord& isWord) {
    const std::string_view w = words.lower(i);
    if (!oneOf(w, "is", "are", "was", "were", "be", "been", "being", "am", "isn't", "aren't", "wasn't", "weren't"))
        return false;
    const std::size_t v = words.next(i);
    const std::string_view verb = words.lower(v);
    if (!in<kPassiveBases>(verb) || !startsLowercase(words.text(v))) return false;
    const std::size_t after = words.next(v);
    if (after != npos && !words.isWord(after) && std::string_view(".,;:!?").find(words.text(after)) == npos) return false;
    const std::string_view then = words.lower(after);
    if (words.isWord(after) &&
        !oneOf(then, "by", "in", "at", "on", "to", "for", "from", "with", "into", "during", "before", "after",
               "and", "or", "but", "because", "as", "until", "when", "yesterday", "today", "tomorrow", "soon",
               "later", "last", "next", "every", "here", "there", "now", "again", "already", "immediately",
               "automatically"))
        return false;
    for (std::size_t k = words.previous(i); words.isWord(k); k = words.previous(k))
        if (oneOf(words.lower(k), "do", "does", "did", "done", "doing", "what", "all")) return false;
    if (std::string done = participleOf(verb); !done.empty() && done != verb && isWord(done)) {
        words.replace(v, done);
        return true;
    }
    return false;
}

// "We have to finished it" → "We have to finish it": after a word that
// takes an infinitive, "to" is no preposition, so a past is a slip.
bool correctAfterInfinitiveTo(Words& words, std::size_t i) {
    if (words.lower(i) != "to") return false;
    const std::string_view head = words.previousLower(i);
    if (!oneOf(head, "have", "has", "had", "need", "needs", "needed", "want", "wants", "wanted", "able", "unable",
               "try", "tries", "tried", "decide", "decides", "decided", "hope", "hopes", "hoped", "would", "like",
               "plan", "plans", "planned", "must", "ought", "seem", "seems", "seemed"))
        return false;
    if (head == "like" && !oneOf(words.previousLower(words.previous(i)), "would", "'d", "i'd", "we'd", "you'd",
                                 "they'd", "he'd", "she'd"))
        return false;
    const std::size_t v = words.next(i);
    const std::string_view verb = words.lower(v);
    const std::string_view base = baseOfPast(verb);
    if (base.empty() || base == verb || !startsLowercase(words.text(v))) return false;
    words.replace(v, base);
    return true;
}

// "I used to lived there", "we used to going" → "… used to live", "… used
// to go": with its subject right before it, "used to" is the habit's, and
// takes a bare verb; "I am used to going" keeps its -ing.
bool correctAfterUsedTo(Words& words, std::size_t i) {
    if (words.lower(i) != "to" || words.previousLower(i) != "used" ||
        !oneOf(words.previousLower(words.previous(i)), "i", "you", "he", "she", "we", "they"))
        return false;
    const std::size_t v = words.next(i);
    const std::string_view verb = words.lower(v);
    if (!words.isWord(v) || !startsLowercase(words.text(v))) return false;
    std::string base(baseOfPast(verb));
    if (base.empty() && endsWith(verb, "ing") && verb.size() >= 5) {
        const std::string stem(verb.substr(0, verb.size() - 3));
        for (const std::string& guess : {stem, stem + "e", stem.substr(0, stem.size() - 1)})
            if (isListedVerb(guess) || in<kVerbsOnly>(guess)) {
                base = guess;
                break;
            }
    }
    if (base.empty() || base == verb) return false;
    words.replace(v, base);
    return true;
}

// A word's own preposition where the other one is never right: "afraid
// from" → "afraid of", "aware about" → "aware of", "is dependent of" →
// "is dependent on" ("a dependent of" is a person), "similar with" →
// "similar to" (not "with respect to").
bool correctVerbPreposition(Words& words, std::size_t i) {
    const std::string_view w = words.lower(i);
    const std::size_t n = words.next(i);
    const std::string_view next = words.lower(n);
    const std::string_view after = words.nextLower(n);
    if (!words.isWord(words.next(n))) return false;
    std::string_view right;
    if (w == "afraid" && next == "from") right = "of";
    else if (w == "aware" && next == "about") right = "of";
    else if (w == "addicted" && next == "with") right = "to";
    else if (w == "similar" && next == "with" && !oneOf(after, "respect", "regard", "regards")) right = "to";
    else if ((w == "dependent" || w == "dependant") && next == "of" &&
             !oneOf(words.previousLower(i), "a", "an", "the", "each", "every", "any", "no", "one"))
        right = "on";
    if (right.empty()) return false;
    words.replace(n, right);
    return true;
}

// "This depend on it" → "This depends on it": "this" or "that" opening a
// clause before a verb that is never a noun is its subject.
bool correctDemonstrativeSubject(Words& words, std::size_t i, const IsWord& isWord) {
    const std::string_view w = words.lower(i);
    // "that" after a mark may be a relative ("trees, that grow"): only at a sentence's start.
    if (!(w == "this" ? words.clauseStartsBefore(i) && words.previousLower(i) != "so" : w == "that" && words.sentenceStartsBefore(i)))
        return false;
    const std::size_t v = words.next(i);
    const std::string_view verb = words.lower(v);
    if (!in<kVerbsOnly>(verb) || !startsLowercase(words.text(v)) || (v + 1 < words.size() && words.text(v + 1) == "-"))
        return false;
    const std::string third = thirdPerson(verb);
    if (!isWord(third)) return false;
    words.replace(v, third);
    return true;
}

// Nouns that are never counted, after "a"/"an" ("an advice." → "advice.").
constexpr std::string_view kNeverCounted[] = {"advice", "baggage", "equipment", "furniture", "homework", "information",
                                              "luggage", "machinery", "software"};
// Leisure that one goes doing, not goes for ("go for shopping" → "go shopping").
constexpr std::string_view kGoingDoing[] = {"bowling", "camping", "dancing", "fishing", "hiking", "jogging", "sailing",
                                            "shopping", "sightseeing", "skating", "skiing", "surfing", "swimming"};

// Counting where English does not, or the other way round: "an information"
// → "information", "since two years." → "for two years.", "go for
// shopping" → "go shopping". Each only where the phrase ends at once ("an
// information desk", "since two years have passed" and "go for swimming
// lessons" stay).
bool correctCountedOrNot(Words& words, std::size_t i) {
    const std::string_view w = words.lower(i);
    const std::size_t n = words.next(i);
    const std::string_view next = words.lower(n);
    const std::size_t after = words.next(n);
    const bool endsAtOnce = after == npos || (words.text(after).size() == 1 && std::string_view(".,;:!?").find(words.text(after)) != npos);
    if ((w == "a" || w == "an") && in<kNeverCounted>(next) && startsLowercase(words.text(n)) && endsAtOnce &&
        words.isWord(words.previous(i))) {
        words.remove(i);
        return true;
    }
    if (w == "since" && words.isWord(words.previous(i)) && startsLowercase(words.text(i)) &&
        (in<kNumbers>(next) || next == "many")) {
        std::size_t noun = after;
        if (next == "few") return false;
        const std::string_view unit = words.lower(noun);
        const std::size_t end = words.next(noun);
        const bool ends = end == npos || (words.text(end).size() == 1 && std::string_view(".,;:!?").find(words.text(end)) != npos) ||
                          words.lower(end) == "now";
        if (oneOf(unit, "centuries", "days", "decades", "hours", "minutes", "months", "weeks", "years") && ends) {
            words.replace(i, "for");
            return true;
        }
    }
    if (oneOf(w, "go", "goes", "went", "going", "gone") && next == "for" && in<kGoingDoing>(words.lower(after))) {
        const std::size_t end = words.next(after);
        if (end == npos || (words.isWord(end) ? oneOf(words.lower(end), "in", "at", "on", "with", "every", "today",
                                                      "tomorrow", "yesterday", "together", "again")
                                              : std::string_view(".,;:!?").find(words.text(end)) != npos)) {
            words.remove(n);
            return true;
        }
    }
    return false;
}

// Nouns and the forms they take: "childs" and "childrens" → "children"
// (not "childrens books", a possessive without its apostrophe, nor "mens
// rea"); "Old houses is" → "Old houses are", an adjective and a counted
// plural opening a clause; "in the internet." → "on the internet.";
// "married with him" → "married him", "is married with him" → "is married to him".
bool correctNounForms(Words& words, std::size_t i, const IsWord& isWord) {
    const std::string_view w = words.lower(i);
    const std::size_t n = words.next(i);
    const std::string_view next = words.lower(n);
    const std::size_t after = words.next(n);
    auto endsAt = [&](std::size_t k) {
        return k == npos || (words.text(k).size() == 1 && std::string_view(".,;:!?").find(words.text(k)) != npos);
    };
    constexpr std::pair<std::string_view, std::string_view> kRegularised[] = {
        {"childs", "children"}, {"childrens", "children"}, {"mens", "men"}, {"womens", "women"}};
    if (std::string_view plural = lookUp(kRegularised, w); !plural.empty() && startsLowercase(words.text(i)) &&
        (endsAt(n) || (words.isWord(n) && in<kAfterNounPhrase>(next)))) {
        words.replace(i, plural);
        return true;
    }
    if (isPlainAdjective(w) && words.clauseStartsBefore(i) && !oneOf(words.previousLower(i), "and", "or") &&
        words.isWord(n) && startsLowercase(words.text(n)) && isCountedNoun(singularOf(next, isWord), isWord) &&
        isPluralNounAt(words, n, isWord) && words.nextLower(after) != "not" &&
        // "Happy customers is our goal": a plural may name one aim.
        !(oneOf(words.lower(after), "is", "was") &&
          oneOf(words.nextLower(after), "a", "an", "the", "our", "my", "your", "his", "her", "their", "what", "one"))) {
        if (std::string plural = pluralVerbOf(words.lower(after)); !plural.empty()) {
            words.replace(after, plural);
            return true;
        }
    }
    if (w == "in" && next == "the" && words.lower(after) == "internet" && startsLowercase(words.text(after))) {
        const std::size_t end = words.next(after);
        if (endsAt(end) || oneOf(words.lower(end), "to", "for", "with", "because", "but", "every")) {
            words.replace(i, "on");
            return true;
        }
    }
    // "less cars" → "fewer cars": a counted plural; not "less than", "less time".
    if (w == "less" && words.isWord(n) && startsLowercase(words.text(n)) && !oneOf(words.previousLower(i), "no",
                                                                                   "much", "far", "even") &&
        (oneOf(next, "people", "children") || (isPluralNounAt(words, n, isWord) && isCountedNoun(singularOf(next, isWord), isWord))) &&
        words.endsPhraseBefore(after, false)) {
        words.replace(i, "fewer");
        return true;
    }
    // "loosing weight" → "losing weight": what one loses, not lets loose.
    if (w == "loosing" && oneOf(next, "weight", "money", "time", "control", "interest", "hope", "touch", "track",
                                "sight", "jobs", "job", "face", "my", "your", "his", "their", "our")) {
        words.replace(i, "losing");
        return true;
    }
    if (w == "married" && next == "with" && oneOf(words.lower(after), "him", "me", "them", "us")) {
        if (oneOf(words.previousLower(i), "is", "are", "was", "were", "be", "been", "being", "am", "get", "gets",
                  "got", "getting"))
            words.replace(n, "to");
        else
            words.remove(n);
        return true;
    }
    return false;
}

// A verb's base form that is no noun (of kVerbsOnly or kAgreeingVerbs): it is asked for most words.
bool isAgreeingBase(std::string_view w) { return in<kVerbsOnly>(w) || in<kAgreeingVerbs>(w); }

// "Cars is" → "Cars are", "and students has" → "… have": a counted plural
// with no determiner that opens its clause is its subject. Not after "and"
// or "or", which may join it to a singular ("the number of cars and buses
// is"), nor after a word that may govern it ("such as cars is"), nor when
// the plural names one thing ("Happy customers is our goal").
bool correctBarePluralSubject(Words& words, std::size_t i, const IsWord& isWord) {
    const std::size_t s = words.previous(i);
    if (!isPluralNounAt(words, s, isWord) || !isCountedNoun(singularOf(words.lower(s), isWord), isWord) ||
        !words.clauseStartsBefore(s) || (words.previous(s) == npos && !words.opensParagraph(s)) ||
        oneOf(words.previousLower(s), "and", "or", "as", "since", "until", "once", "than", "like"))
        return false;
    const std::string_view verb = words.lower(i);
    if (oneOf(verb, "is", "was") &&
        oneOf(words.nextLower(i), "a", "an", "the", "our", "my", "your", "his", "her", "their", "what", "one"))
        return false;
    const std::string plural = pluralVerbOf(verb);
    if (plural.empty() || !startsLowercase(words.text(i))) return false;
    words.replace(i, plural);
    return true;
}

// Whether an introduction that opens the sentence ends right before i ("In
// fact tourist agree"); not an ordinal, which may be the noun's own
// ("First student arrive" lacks "the").
bool introductionEndsBefore(const Words& words, std::size_t i) {
    std::size_t p = words.previous(i);
    for (std::size_t count = 1; count <= 5 && words.isWord(p); ++count, p = words.previous(p))
        if (words.sentenceStartsBefore(p) && introductionAt(words, p) == count)
            return !oneOf(words.previousLower(i), "first", "second", "third", "last");
    return false;
}

// A count starts at k: "about a dozen", "about 40", "about twenty" (where
// "about" means roughly and stays).
bool countFollows(const Words& words, std::size_t k) {
    if (k >= words.size()) return false;
    if (const auto& raw = words.text(k); !raw.empty() && raw[0] >= '0' && raw[0] <= '9') return true;
    const std::string_view w = words.lower(k);
    if (oneOf(w, "a", "an")) return oneOf(words.nextLower(k), "dozen", "hundred", "thousand", "million", "few",
                                          "couple", "third", "quarter", "half");
    return in<kNumbers>(w) || oneOf(w, "dozen", "half", "one", "hundreds", "thousands", "dozens");
}

// "Student learn fast" → "Students learn fast", "Lately visitor have
// found" → "… visitors have found": a counted noun with no determiner
// that opens its clause, before a plural verb that is no noun, is a plural
// with its "-s" left out (the singular would want an article as well). Not
// after "and" or "or" ("client and server have"), nor a group noun or a time ("Day
// come and go" is a saying), nor a role ("As teacher I").
bool correctBareCountedSubject(Words& words, std::size_t i, const IsWord& isWord) {
    const std::size_t s = words.previous(i);
    if (!words.isWord(s) || !startsLowercase(words.text(i))) return false;
    const std::string_view noun = words.lower(s);
    if (endsWith(noun, "s") || !isCountedNoun(noun, isWord) || in<kCollectives>(noun) || in<kTimeNouns>(noun) ||
        !(startsLowercase(words.text(s)) || words.sentenceStartsBefore(s)))
        return false;
    std::size_t start = s;
    // One adverb may open the clause before it ("Lately visitor have").
    if (const std::string_view before = words.previousLower(s); before.size() > 4 && endsWith(before, "ly"))
        start = words.previous(s);
    if (!(words.clauseStartsBefore(start) || introductionEndsBefore(words, start)) ||
        (words.previous(start) == npos && !words.opensParagraph(start)) ||
        oneOf(words.previousLower(start), "and", "or", "nor", "as", "than", "like"))
        return false;
    if (const std::string plural = pluralOf(noun, isWord); !plural.empty()) {
        words.replace(s, plural);
        return true;
    }
    return false;
}

// Agreement with a noun subject, decided at the verb: the subject must open
// its clause (not an object's or a preposition's noun), and a bare verb
// becomes an -s form only where the sentence is told in the present.

// Whether the sentence around i tells of the past ("When the rain stop, we
// went in" wants "stopped", not "stops"): a past of "be", "have" or "do", a
// past or an "-ed" word that no "be" or "have" makes a participle, or a
// time gone by. With `clauseOnly`, in the clause between marks around i.
bool sentenceTellsOfThePast(const Words& words, std::size_t i, bool clauseOnly = false) {
    auto isPast = [&](std::size_t k) {
        const std::string_view w = words.lower(k);
        if (w.empty()) return false;
        if (oneOf(w, "was", "were", "had", "did", "wasn't", "weren't", "hadn't", "didn't", "ago", "yesterday") ||
            (w == "last" && (in<kTimeNouns>(words.nextLower(k)) || words.nextLower(k) == "night")))
            return true;
        if (baseOfPast(w).empty() && !(w.size() > 4 && endsWith(w, "ed") && !endsWith(w, "eed"))) return false;
        std::size_t p = words.previous(k);
        if (in<kMidAdverbs>(words.lower(p))) p = words.previous(p);
        return !oneOf(words.lower(p), "is", "are", "am", "be", "been", "being", "has", "have", "having", "get",
                      "gets", "getting", "isn't", "aren't", "hasn't", "haven't", "it's", "that's");
    };
    auto endsSentence = [&](std::size_t k) {
        return oneOf(words.text(k), ".", "!", "?") || (clauseOnly && oneOf(words.text(k), ",", ";", ":"));
    };
    for (std::size_t k = words.previous(i); k != npos && !endsSentence(k); k = words.previous(k))
        if (isPast(k)) return true;
    for (std::size_t k = words.next(i); k != npos && !endsSentence(k); k = words.next(k))
        if (isPast(k)) return true;
    return false;
}

// Whether a subject that starts at `start` opens its clause: after the
// text's start, a mark or a conjunction, with up to two adverbs between
// ("Now all of them"). A line that merely wraps a paragraph opens
// none, and a word that may govern the noun ("than", "like") or make it
// an infinitive's subject ("if", "lest") holds it back.
bool subjectOpensClause(const Words& words, std::size_t start) {
    std::size_t at = start;
    for (int steps = 0; steps < 2; ++steps) {
        const std::size_t p = words.previous(at);
        const std::string_view word = words.lower(p);
        if (!in<kMidAdverbs>(word) && !oneOf(word, "today", "nowadays", "now", "currently", "even") && !isLyAdverb(word))
            break;
        at = p;
    }
    if (!words.clauseStartsBefore(at) || (words.previous(at) == npos && !words.opensParagraph(at))) return false;
    if (!startsLowercase(words.text(at)) && !words.sentenceStartsBefore(at)) return false;
    return !oneOf(words.previousLower(at), "and", "or", "nor", "if", "as", "though", "than", "like", "unless",
                  "whether", "lest", "wish", "until", "since", "once", "between", "both");
}

// Adjectives that name people after "the" and have a plural of their own as
// nouns too ("the rich" are many; "riches" is a word).
constexpr std::string_view kPeopleAdjectives[] = {"blind", "brave", "innocent", "rich", "living", "elderly", "poor",
                                                  "young", "old", "wealthy", "sick", "dead", "deaf", "weak", "strong",
                                                  "needy", "faithful", "former", "latter", "remainder", "other",
                                                  "following", "above", "majority", "minority", "rest", "same"};
// Nouns seldom counted that are often a clause's subject with no
// determiner ("Science explains it"); a counted noun there lacks its "-s".
constexpr std::string_view kMassSubjects[] = {
    "advertising", "agriculture", "art", "competition", "crime", "culture", "education", "electricity", "energy",
    "exercise", "experience", "freedom", "happiness", "health", "history", "information", "knowledge", "life",
    "literature", "love", "medicine", "money", "music", "nature", "pollution", "poverty", "research", "science",
    "smoking", "society", "success", "technology", "television", "tourism", "transportation", "violence"};

// A singular noun at s that may head a subject: English knows it with a
// plural, and it is no pronoun, determiner, adverb, group or adjective.
bool singularSubjectNounAt(const Words& words, std::size_t s, const IsWord& isWord) {
    if (!words.isWord(s)) return false;
    const std::string_view noun = words.lower(s);
    if (noun.size() < 3 || noun.find('\'') != npos || noun.find('\xe2') != npos ||
        (endsWith(noun, "s") && !endsWith(noun, "ss")) || endsWith(noun, "ly") || endsWith(noun, "ed") ||
        endsWith(noun, "ing") || in<kSubjectPronouns>(noun) || in<kNounDeterminers>(noun) || in<kDeterminers>(noun) ||
        in<kModals>(noun) || in<kMidAdverbs>(noun) || in<kNumbers>(noun) || in<kCollectives>(noun) ||
        in<kIrregularPlurals>(noun) || in<kSameInPlural>(noun) || in<kPeopleAdjectives>(noun) ||
        in<kPrepositions>(noun) || in<kAfterNounPhrase>(noun) || in<kClauseOpeners>(noun) || in<kIndefinite>(noun) ||
        in<kIndefiniteThings>(noun) || in<kComparatives>(noun) || isPlainAdjective(noun) || in<kVerbsOnly>(noun) ||
        oneOf(noun, "lot", "bit", "number", "one", "none", "each", "every", "any", "another", "what", "how", "why",
              "whatever", "whoever", "please", "let", "here", "now", "then", "not", "just", "only", "even", "first",
              "next", "more", "less", "much", "own", "kind", "sort", "type", "half", "part", "couple", "pair"))
        return false;
    return !pluralOf(noun, isWord).empty();
}

// Where the clause's subject that ends at s starts, or npos: a determiner
// and the noun ("my father"), with one plain adjective or one counted noun
// between ("the music teacher"), or a bare noun seldom counted
// ("science"). Not after a word that governs it or makes it an
// infinitive's subject ("let", "that", "and").
std::size_t singularSubjectStart(const Words& words, std::size_t s, const IsWord& isWord) {
    const std::string_view noun = words.lower(s);
    std::size_t d = words.previous(s);
    auto isDeterminer = [&](std::size_t k) {
        return oneOf(words.lower(k), "the", "my", "your", "his", "her", "its", "our", "their", "a", "an", "every",
                     "each");
    };
    std::size_t start = npos;
    if (startsLowercase(words.text(s)) && isDeterminer(d)) {
        start = d;
    } else if (startsLowercase(words.text(s)) && words.isWord(d) && startsLowercase(words.text(d)) &&
               (isPlainAdjective(words.lower(d)) || (isCountedNoun(noun, isWord) &&
                                                      singularSubjectNounAt(words, d, isWord) &&
                                                      !isListedVerb(words.lower(d)))) &&
               isDeterminer(words.previous(d))) {
        start = words.previous(d);
    } else if (in<kMassSubjects>(noun) && (startsLowercase(words.text(s)) || words.sentenceStartsBefore(s))) {
        start = s;
    }
    return start != npos && subjectOpensClause(words, start) ? start : npos;
}

// Verbs shown to be such by an object pronoun or a "to" after them ("need us").
constexpr std::string_view kShownByObject[] = {"need", "want", "like", "love", "hate", "hope", "try", "help",
                                               "use",  "ask",  "make", "take", "give", "keep", "let",  "show"};
constexpr auto kToSingularVerbFrom = [] {
    std::array<std::string_view, std::size(kToSingularVerb) + 2> from{};
    for (std::size_t k = 0; k < std::size(kToSingularVerb); ++k) from[k] = kToSingularVerb[k].first;
    from[std::size(kToSingularVerb)] = "don't";
    from[std::size(kToSingularVerb) + 1] = "don\u2019t";
    return from;
}();
// Every word correctSingularNounSubject may mend.
constexpr auto kSingularSubjectVerbs = joined<kToSingularVerbFrom, kVerbsOnly, kAgreeingVerbs, kShownByObject, kVerbs>();

// "The music teacher explain it" → "explains", "science explain it" →
// "explains": a singular subject that opens its clause, then a verb that is
// no noun, or one that a following "to" or object pronoun shows to be a
// verb ("the manager need us"). Not before "not" ("the lid need not"), nor
// in a sentence told in the past.
// `verb` is words.lower(i).
bool correctSingularNounSubject(Words& words, std::size_t i, std::string_view verb, const IsWord& isWord) {
    if (!in<kSingularSubjectVerbs>(verb)) return false;  // most words: one look-up
    if (!startsLowercase(words.text(i))) return false;
    // "Technology have changed" → "has", "the music teacher are" → "is":
    // the subjects the rules on determiners leave, a noun seldom counted
    // with none, or a counted noun after a modifier.
    std::string singular(lookUp(kToSingularVerb, verb));
    if (verb == "don't" || verb == "don\u2019t") singular = verb == "don't" ? "doesn't" : "doesn\u2019t";
    // Most words are no verb of these: let them go before reading the next.
    const bool verbOnly = singular.empty() && isAgreeingBase(verb);
    if (singular.empty() && !verbOnly && !in<kShownByObject>(verb) && !isListedVerb(verb)) return false;
    const std::size_t n = words.next(i);
    const std::string_view next = words.lower(n);
    if (!singular.empty()) {
        std::size_t s = words.previous(i);
        if (in<kMidAdverbs>(words.lower(s))) s = words.previous(s);
        if (!singularSubjectNounAt(words, s, isWord)) return false;
        const std::size_t start = singularSubjectStart(words, s, isWord);
        const bool modified = start != npos && start != s && start != words.previous(s);
        if (start == npos || (start != s && !(modified && isCountedNoun(words.lower(s), isWord)))) return false;
        words.replace(i, singular);
        return true;
    }
    const bool shownByObject =
        in<kShownByObject>(verb) &&
        (oneOf(next, "me", "us", "him", "them") ||
         (next == "to" && oneOf(verb, "need", "want", "like", "love", "hate", "hope", "try") &&
          (isListedVerb(words.nextLower(n)) || in<kVerbsOnly>(words.nextLower(n)))));
    const bool shownByDeterminer = isListedVerb(verb) &&
                                   oneOf(next, "a", "an", "the", "my", "your", "his", "our", "their", "this",
                                         "these", "those");
    if (!verbOnly && !shownByObject && !shownByDeterminer) return false;
    if (next == "not" || (n != npos && n == i + 1 && words.text(n) == "-")) return false;
    std::size_t s = words.previous(i);
    if (in<kMidAdverbs>(words.lower(s))) s = words.previous(s);
    if (!singularSubjectNounAt(words, s, isWord) || singularSubjectStart(words, s, isWord) == npos) return false;
    const std::string third = thirdPerson(verb);
    if (!isWord(third) || sentenceTellsOfThePast(words, i)) return false;
    words.replace(i, third);
    return true;
}

// Whether the word after an -s verb lets it be a verb: in "the students
// needs are" the "-s" is a lost apostrophe, a modal or "be" shows it. A
// mark that ends a clause leaves no room for a lost apostrophe's noun.
bool objectFollowsVerb(const Words& words, std::size_t i) {
    const std::size_t object = words.next(i);
    if (object == npos || oneOf(words.text(object), ".", ",", "!", "?", ";")) return true;
    const std::string_view word = words.lower(object);
    return words.isWord(object) && !in<kModals>(word) && pluralVerbOf(word).empty() &&
           !oneOf(word, "are", "were", "have", "do", "don't", "aren't", "weren't", "haven't");
}

// "All of my cousins lives" → "live", "the bus drivers works" → "work",
// "Workers earns" → "earn": a plural subject that opens its clause before a
// verb's -s form: a part of a plural ("most of", "all of my", "a lot of"),
// a counted plural after a noun and a determiner, or a bare counted plural.
// `verb` is words.lower(i).
bool correctPluralNounSubject(Words& words, std::size_t i, std::string_view verb, const IsWord& isWord) {
    const std::string base(baseOfThirdPerson(verb));
    if (base.empty() || !startsLowercase(words.text(i)) || !objectFollowsVerb(words, i)) return false;
    std::size_t s = words.previous(i);
    if (in<kMidAdverbs>(words.lower(s))) s = words.previous(s);
    if (!isPluralNounAt(words, s, isWord)) return false;
    const std::string_view plural = words.lower(s);
    if (!baseOfThirdPerson(plural).empty() || in<kPluralOnly>(plural)) return false;
    const bool counted = isCountedNoun(singularOf(plural, isWord), isWord);
    const std::size_t d = words.previous(s);
    std::size_t start = npos;
    std::size_t k = d;
    if (isPlainAdjective(words.lower(k)) && startsLowercase(words.text(k))) k = words.previous(k);
    if (oneOf(words.lower(k), "the", "my", "your", "his", "her", "our", "their", "these", "those")) k = words.previous(k);
    if (words.lower(k) == "of") {
        const std::size_t q = words.previous(k);
        const std::string_view quantity = words.lower(q);
        if (oneOf(quantity, "most", "many", "some", "all", "both", "several", "lots")) start = q;
        else if ((quantity == "lot" || quantity == "few") && words.previousLower(q) == "a") start = words.previous(q);
    } else if (counted && startsLowercase(words.text(s)) && singularSubjectNounAt(words, d, isWord) &&
               startsLowercase(words.text(d)) && !isListedVerb(words.lower(d)) &&
               oneOf(words.previousLower(d), "the", "my", "your", "his", "her", "our", "their", "these", "those")) {
        start = words.previous(d);
    } else if (counted && k == d) {
        start = s;
    }
    if (start == npos || !subjectOpensClause(words, start)) return false;
    words.replace(i, base);
    return true;
}

// Nouns for kin, each one person.
constexpr std::string_view kKin[] = {"aunt", "brother", "cousin", "dad", "daughter", "father", "grandfather",
                                     "grandmother", "husband", "mother", "mum", "mom", "nephew", "niece", "sister",
                                     "son", "uncle", "wife", "boyfriend", "girlfriend"};

// "My brother and my sister is" → "are": two counted singulars, each with
// its own determiner, joined by "and" and opening a clause. Not after
// "each" or "every", which count them one by one, nor "between".
// `verb` is words.lower(i).
bool correctJoinedSubject(Words& words, std::size_t i, std::string_view verb, const IsWord& isWord) {
    std::string plural = pluralVerbOf(verb);
    if (plural.empty() && !baseOfThirdPerson(verb).empty() && objectFollowsVerb(words, i)) plural = baseOfThirdPerson(verb);
    if (plural.empty() || !startsLowercase(words.text(i))) return false;
    auto determinerAt = [&](std::size_t k) {
        return oneOf(words.lower(k), "the", "my", "your", "his", "her", "our", "their", "a", "an", "this", "that");
    };
    auto countedAt = [&](std::size_t k) {
        const std::string_view noun = words.lower(k);
        return words.isWord(k) && startsLowercase(words.text(k)) &&
               (isCountedNoun(noun, isWord) || in<kPersonNouns>(noun) || in<kKin>(noun));
    };
    const std::size_t second = words.previous(i);
    const std::size_t and_ = words.previous(words.previous(second));
    const std::size_t first = words.previous(and_);
    const std::size_t start = words.previous(first);
    if (!countedAt(second) || !determinerAt(words.previous(second)) || words.lower(and_) != "and" ||
        !countedAt(first) || !determinerAt(start) || !subjectOpensClause(words, start))
        return false;
    words.replace(i, plural);
    return true;
}

// "The price of the shoes are" → "is": the verb agrees with the head
// before "of", a singular with its determiner that opens the clause, not
// with the plural that ends the phrase. Not after words that count or
// sort what follows ("a number of", "a kind of", "the rest of"), where the
// plural is the subject.
// `verb` is words.lower(i).
bool correctHeadBeforeOf(Words& words, std::size_t i, std::string_view verb, const IsWord& isWord) {
    const std::string_view singular = lookUp(kToSingularVerb, verb);
    if (singular.empty() || !startsLowercase(words.text(i)) || words.nextLower(i) == "not") return false;
    const std::size_t p = words.previous(i);
    if (!isPluralNounAt(words, p, isWord) || !startsLowercase(words.text(p))) return false;
    std::size_t k = words.previous(p);
    if (isPlainAdjective(words.lower(k)) && startsLowercase(words.text(k))) k = words.previous(k);
    if (oneOf(words.lower(k), "the", "my", "your", "his", "her", "its", "our", "their", "these", "those"))
        k = words.previous(k);
    if (words.lower(k) != "of") return false;
    const std::size_t head = words.previous(k);
    const std::size_t d = words.previous(head);
    const std::string_view noun = words.lower(head);
    if (!startsLowercase(words.text(head)) || !singularSubjectNounAt(words, head, isWord) ||
        oneOf(noun, "kind", "sort", "type", "variety", "range", "series", "set", "group", "number", "lot",
              "majority", "rest", "bulk", "total", "handful", "host", "plenty", "mix", "mixture", "bunch",
              "percentage", "proportion", "third", "quarter", "half", "part", "portion", "share", "fraction",
              "couple", "pair", "dozen", "amount", "list", "collection", "selection", "combination", "average",
              "minimum", "maximum", "most", "none", "lack", "supply", "crowd", "mass", "heap", "pile", "load",
              "ton", "flock", "herd", "pack", "team", "class", "family", "committee", "board", "staff", "jury",
              "line", "row", "lots") ||
        !oneOf(words.lower(d), "the", "a", "an", "my", "your", "his", "her", "its", "our", "their", "this", "that") ||
        !subjectOpensClause(words, d))
        return false;
    words.replace(i, singular);
    return true;
}

// The rules above, at a verb; its last letter lets most words skip the
// look-ups of the rules that want an -s form, "isn't" or "are".
bool correctNounSubjectVerb(Words& words, std::size_t i, const IsWord& isWord) {
    const std::string_view w = words.lower(i);
    if (w.empty()) return false;
    const char last = w.back();
    // Each rule changes the word only when it fires, so `w` holds for the next.
    return correctSingularNounSubject(words, i, w, isWord) ||
           ((last == 's' || last == 't') &&
            (correctPluralNounSubject(words, i, w, isWord) || correctJoinedSubject(words, i, w, isWord))) ||
           ((last == 'e' || last == 't') && correctHeadBeforeOf(words, i, w, isWord));
}

// The rules above, for the word at i: most words start none of them, and
// are let go after a few look-ups.
bool correctClauseAndCount(Words& words, std::size_t i, const IsWord& isWord) {
    const std::string_view w = words.lower(i);
    if (oneOf(w, "is", "was", "has", "isn't", "wasn't", "hasn't", "doesn't") && correctBarePluralSubject(words, i, isWord))
        return true;
    if (oneOf(w, "are", "were", "have", "don't", "aren't", "weren't", "haven't") && correctBareCountedSubject(words, i, isWord))
        return true;
    if (w == "and") return correctSharedSubject(words, i, isWord);
    if (w == "this" || w == "that") return correctDemonstrativeSubject(words, i, isWord);
    if (w == "to") return correctAfterInfinitiveTo(words, i) || correctAfterUsedTo(words, i);
    if (oneOf(w, "is", "are", "was", "were", "be", "been", "being", "am", "isn't", "aren't", "wasn't", "weren't"))
        return correctPassive(words, i, isWord);
    if (oneOf(w, "a", "an", "since", "go", "goes", "went", "going", "gone")) return correctCountedOrNot(words, i);
    if (oneOf(w, "afraid", "aware", "addicted", "similar", "dependent", "dependant")) return correctVerbPreposition(words, i);
    return (oneOf(w, "childs", "childrens", "mens", "womens", "in", "married", "less", "loosing") || isPlainAdjective(w)) &&
           correctNounForms(words, i, isWord);
}

// Verb forms and number: each rule where the words around decide it.
// Returns whether one fired at i.
bool correctFormsAndNumber(Words& words, std::size_t i, const IsWord& isWord) {
    // Compared as views: against a literal a view compares lengths first.
    const std::string_view wStore = words.lower(i);
    const std::string_view w = wStore;
    // "it is biggest city" → "it is the biggest city": a superlative before
    // its noun takes "the" after a verb "be" or a preposition ("from
    // youngest to oldest" has no noun).
    if (endsWith(w, "est") && isSuperlative(w) && w != "best" && w != "worst" && startsLowercase(words.text(i)) &&
        oneOf(words.previousLower(i), "is", "are", "was", "were", "be", "been", "of", "in", "on", "to", "from",
              "with", "among")) {
        const std::size_t n = words.next(i);
        if (countableSingularAt(words, n, isWord) || isPluralNounAt(words, n, isWord)) {
            words.replace(i, "the " + std::string(wStore));
            return true;
        }
    }
    if (in<kClauseAndCountStarts>(w))
        return correctClauseAndCount(words, i, isWord);
    if (isAgreeingBase(w) && correctBareCountedSubject(words, i, isWord)) return true;
    if (correctNounSubjectVerb(words, i, isWord)) return true;
    if (!startsAFormRule(w)) return isPlainAdjective(w) && correctNounForms(words, i, isWord);
    const std::size_t n = words.next(i);
    const std::string_view nextStore = words.lower(n);
    const std::string_view next = nextStore;
    const std::size_t after = words.next(n);

    // "I have went" → "I have gone", "Have you ate?" → "Have you eaten?".
    if (in<kHave>(w)) {
        std::size_t v = n;
        bool question = words.clauseStartsBefore(i) && in<kSubjectPronouns>(next) && (w == "have" || w == "has" || w == "had");
        if (question) v = words.next(v);
        static constexpr std::string_view kBetween[] = {"already", "also", "always", "ever", "just", "never", "not", "recently"};
        if (in<kBetween>(words.lower(v))) v = words.next(v);
        const std::string_view participle = lookUp(kParticiples, words.lower(v));
        bool subjectKnown = question || w == "having" || w.find('\'') != npos || words.subjectOpensClauseBefore(i);
        if (!participle.empty() && subjectKnown) {
            words.replace(v, participle);
            return true;
        }
        // "I have never understand" → "… understood": a verb that is no noun
        // has its participle after "have" whoever the subject ("get" has two;
        // "write", "sell" and "think" name a noun: "have write access").
        const std::string_view base = words.lower(v);
        if (in<kVerbsOnly>(base) && !oneOf(base, "get", "write", "sell", "think") && words.isWord(v) &&
            startsLowercase(words.text(v))) {
            if (std::string done = participleOf(base); !done.empty() && done != base && isWord(done)) {
                words.replace(v, done);
                return true;
            }
        }
    }
    // "Did you went?" → "Did you go?": the verb after an inverted "do".
    if ((w == "did" || w == "does" || w == "do") && in<kSubjectPronouns>(next) &&
        (words.clauseStartsBefore(i) || oneOf(words.previousLower(i), "what", "where", "when", "why", "how", "who"))) {
        const std::string_view verb = words.lower(after);
        std::string_view base = baseOfThirdPerson(verb);
        if (base.empty()) base = baseOfPast(verb);
        if (!base.empty()) {
            words.replace(after, base);
            return true;
        }
    }
    // "The students is" → "The students are": a determiner and a plural noun
    // that open a clause are its subject; after a preposition ("one of the
    // students is") they are not.
    // One plain adjective may stand between ("the new students is").
    const bool adjectiveFirst = isPlainAdjective(next) && startsLowercase(words.text(n)) && isPluralNounAt(words, after, isWord);
    if (in<kNounDeterminers>(w) && (words.clauseStartsBefore(i) || words.previousLower(i) == "that") &&
        (isPluralNounAt(words, n, isWord) || adjectiveFirst)) {
        std::size_t v = adjectiveFirst ? words.next(after) : after;
        if (in<kMidAdverbs>(words.lower(v))) v = words.next(v);
        if (std::string plural = pluralVerbOf(words.lower(v)); !plural.empty() && words.nextLower(v) != "not") {
            words.replace(v, plural);
            return true;
        }
        // "The students likes it" → "… like it"; not "the students needs are", a possessive without its apostrophe.
        const std::string_view base = baseOfThirdPerson(words.lower(v));
        const std::size_t object = words.next(v);
        if (!base.empty() && (object == npos || (words.isWord(object) && !in<kModals>(words.lower(object)) &&
                                                 pluralVerbOf(words.lower(object)).empty() &&
                                                 !oneOf(words.lower(object), "are", "were", "have", "do", "don't")))) {
            words.replace(v, base);
            return true;
        }
    }
    // "This cars are" → "These cars are", "in this days," → "in these days,";
    // "these problem is" → "this problem is". The verb after the noun, or a
    // preposition before "this", shows "this" is no pronoun.
    static constexpr std::string_view kVocatives[] = {"boys", "folks", "friends", "girls", "guys", "kids", "ladies"};
    if ((w == "this" || w == "that") && isPluralNounAt(words, n, isWord) && !in<kVocatives>(next)) {
        const std::string_view verb = words.lower(after);
        static constexpr std::string_view kPluralVerbs[] = {"are", "were", "have", "aren't", "weren't", "haven't", "don't"};
        bool agrees = w == "this" && words.clauseStartsBefore(i) && in<kPluralVerbs>(verb);
        bool governed = in<kPrepositions>(words.previousLower(i)) &&
                        (after == npos || (words.text(after).size() == 1 && std::string_view(".,;:!?").find(words.text(after)) != npos) ||
                         (in<kSubjectPronouns>(verb) && verb != "it"));
        if (agrees || governed) {
            words.replace(i, w == "this" ? "these" : "those");
            return true;
        }
    }
    if ((w == "these" || w == "those") && words.isWord(n) && startsLowercase(words.text(n)) && isWord(next) &&
        isSingularVerb(words.lower(after)) && !in<kIrregularPlurals>(next) && !in<kPluralQuantities>(next) &&
        !endsWith(next, "s") && next != "few" && next != "other") {
        words.replace(i, w == "these" ? "this" : "that");
        return true;
    }
    // "one days" → "one day"; not "the one students like".
    if (w == "one" && isPluralNounAt(words, n, isWord) && words.endsPhraseBefore(after, false) &&
        !words.clauseStartsBefore(i) && baseOfThirdPerson(next).empty() && !in<kVerbsOnly>(singularOf(next, isWord)) &&
        !oneOf(words.previousLower(i), "the", "this", "that", "which", "each", "every", "no", "any", "a", "an",
               "only")) {
        if (std::string singular = singularOf(next, isWord); !singular.empty()) {
            words.replace(n, singular);
            return true;
        }
    }
    // "There are lot of people" → "… a lot of people"; not "the lot of", "a parking lot of".
    if (w == "lot" && next == "of" && startsLowercase(words.text(i)) &&
        (words.clauseStartsBefore(i) || in<kPrepositions>(words.previousLower(i)) ||
         oneOf(words.previousLower(i), "is", "are", "was", "were", "there", "have", "has", "had", "make", "makes",
               "made", "take", "takes", "took", "spend", "spends", "spent", "need", "needs", "needed", "get",
               "gets", "got", "give", "gives", "gave", "do", "does", "did", "bring", "brings", "brought"))) {
        words.replace(i, "a lot");
        return true;
    }
    // "much people", "much problems." → "many …"; not "thank you so much guys".
    if (w == "much" && isPluralNounAt(words, n, isWord) && !in<kVocatives>(next)) {
        std::string_view before = words.previousLower(i);
        bool degree = before == "very" || before == "so" || before == "too";
        std::string_view beforeThat = words.previousLower(words.previous(i));
        bool thanking = before == "very" || before.rfind("thank", 0) == 0 || beforeThat.rfind("thank", 0) == 0 ||
                        (degree && oneOf(beforeThat, "you", "it", "them", "him", "her", "me", "us"));
        if (!thanking && (in<kIrregularPlurals>(next) || words.endsPhraseBefore(after, false))) {
            words.replace(i, "many");
            return true;
        }
    }
    // "every days" → "every day"; "each students has" → "each student has"
    // (before a verb only: "each" alone is a pronoun, "each needs its own").
    if ((w == "every" && isPluralNounAt(words, n, isWord) &&
         (words.endsPhraseBefore(after, false) || in<kSubjectPronouns>(words.lower(after)))) ||
        (w == "each" && isPluralNounAt(words, n, isWord) && isSingularVerb(words.lower(after)))) {
        if (std::string singular = singularOf(next, isWord); !singular.empty()) {
            words.replace(n, singular);
            return true;
        }
    }
    // "a books." → "a book.": not "a sports car", nor "a" naming a letter
    // ("plan a"), nor a noun in -s made from an adjective, which is no
    // plural ("a commons of land").
    static constexpr std::string_view kQuantityNouns[] = {"billions", "couple", "dozens", "hundreds", "loads", "lots",
                                                   "millions", "thousands", "tons"};
    if ((w == "a" || w == "an") && n == i + 2 && isPluralNounAt(words, n, isWord) && !in<kLetterNames>(words.previousLower(i)) &&
        !in<kQuantityNouns>(next) && words.endsPhraseBefore(after, false)) {
        if (std::string singular = singularOf(next, isWord); !singular.empty() && !isPlainAdjective(singular)) {
            words.replace(n, singular);
            // The article by the new word's sound, in the same pass ("an women" → "a woman").
            if (auto vowel = startsWithVowelSound(singular); vowel && (*vowel || singular[0] != 'h'))
                words.replace(i, *vowel ? "an" : "a");
            return true;
        }
    }
    // A noun that a counting word before it makes plural, where it ends its
    // phrase: "a few friend." → "a few friends", "a number of problem that",
    // "one of the biggest city." → "… cities". An adjective in between is
    // read only after a superlative, which a noun must follow.
    {
        std::size_t noun = npos;
        const std::string_view before = words.previousLower(i);
        static constexpr std::string_view kCounters[] = {"one", "each", "many", "several", "both", "few"};
        if (w == "few" && before == "a") noun = n;
        else if (w == "of" && oneOf(before, "dozens", "hundreds", "thousands", "millions", "billions")) noun = n;
        else if (w == "of" && oneOf(before, "number", "couple") &&
                 oneOf(words.previousLower(words.previous(i)), "a", "the", "large", "great", "small", "huge",
                       "growing", "increasing", "big", "certain", "limited"))
            noun = n;
        else if (w == "of" && in<kCounters>(before) &&
                 oneOf(next, "the", "my", "your", "his", "her", "our", "their")) {
            std::size_t s = after;
            if (words.lower(s) == "most") s = words.next(s);
            else if (!isSuperlative(words.lower(s)) || words.lower(s) == "best" || words.lower(s) == "worst") s = npos;
            if (s != npos && words.isWord(s) && startsLowercase(words.text(s))) noun = words.next(s);
        }
        // "most of the student knew" → "… students knew": a part of a group
        // of people, who cannot be divided.
        if (noun == npos && w == "of" &&
            oneOf(before, "most", "some", "all", "many", "several", "both", "few", "none", "any") &&
            oneOf(next, "the", "my", "your", "his", "her", "our", "their", "these", "those") &&
            in<kPersonNouns>(words.lower(after)))
            noun = after;
        // "there were some visitor who" → "… visitors who": the verb has
        // counted the noun already.
        if (noun == npos && w == "some" && oneOf(before, "are", "were") &&
            words.previousLower(words.previous(i)) == "there")
            noun = n;
        // After words that may also count an uncountable noun ("a lot of
        // time") or stand alone ("these"), only nouns always counted; one
        // plain adjective may stand between ("many different country.").
        bool adjective = false;
        if (noun == npos &&
            ((w == "of" && (oneOf(before, "lots", "plenty", "variety", "kinds", "types", "sorts") ||
                            (before == "lot" && words.previousLower(words.previous(i)) == "a"))) ||
             oneOf(w, "many", "several", "various", "numerous", "few", "both", "these", "those") ||
             (in<kNumbers>(w) && !oneOf(before, "a", "an", "the")))) {
            noun = n;
            if (isPlainAdjective(next) && isCountedNoun(words.lower(after), isWord)) {
                noun = after;
                adjective = true;
            }
            if (!isCountedNoun(words.lower(noun), isWord)) noun = npos;
        }
        // The noun ends its phrase, or a verb that is no noun follows ("a few friend came").
        const std::string_view verb = words.nextLower(noun);
        const bool verbFollows = !adjective && (in<kVerbsOnly>(verb) || in<kVerbsOnly>(baseOfPast(verb)));
        if (noun != npos && countableSingularAt(words, noun, isWord) &&
            (words.endsPhraseBefore(words.next(noun), false) || verbFollows)) {
            if (std::string plural = pluralOf(words.lower(noun), isWord); !plural.empty()) {
                words.replace(noun, plural);
                return true;
            }
        }
    }
    // "another cars" → "another car", "a good friends." → "a good friend.",
    // "every single days" → "every single day": a singular determiner, a
    // plain adjective, and a plural that ends the phrase.
    if (oneOf(w, "a", "an", "another", "every", "each") && !in<kLetterNames>(words.previousLower(i)) && words.isWord(n) &&
        startsLowercase(words.text(n))) {
        std::size_t noun = w == "another" && isPluralNounAt(words, n, isWord) ? n : npos;
        if (noun == npos && isPlainAdjective(next)) noun = after;
        if (noun != npos && isPluralNounAt(words, noun, isWord) && startsLowercase(words.text(noun)) &&
            !in<kQuantityNouns>(words.lower(noun)) && !in<kPluralOnly>(words.lower(noun)) &&
            baseOfThirdPerson(words.lower(noun)).empty() && words.endsPhraseBefore(words.next(noun), false)) {
            if (std::string singular = singularOf(words.lower(noun), isWord); !singular.empty() && !in<kVerbsOnly>(singular)) {
                words.replace(noun, singular);
                return true;
            }
        }
    }
    // "The number of cars are growing" → "… is growing", "One of the
    // reasons are" → "… is": the verb agrees with "number" or "one", past
    // the phrase that counts; a relative or a second subject ends the search.
    auto singularVerbFrom = [&](std::size_t k) {
        for (int steps = 0; steps < 6 && words.isWord(k); ++steps, k = words.next(k)) {
            const std::string_view word = words.lower(k);
            if (oneOf(word, "who", "that", "which", "where", "when", "whom", "whose", "and", "or") || in<kModals>(word))
                return false;
            if (std::string_view singular = lookUp(kToSingularVerb, word); !singular.empty()) {
                words.replace(k, singular);
                return true;
            }
        }
        return false;
    };
    if (w == "the" && next == "number" && words.lower(after) == "of" && words.clauseStartsBefore(i)) {
        std::size_t k = words.next(after);
        if (in<kNounDeterminers>(words.lower(k))) k = words.next(k);
        if (isPluralNounAt(words, k, isWord) && singularVerbFrom(k)) return true;
    }
    if ((w == "one" || w == "each") && next == "of" && words.clauseStartsBefore(i)) {
        const std::string_view det = words.lower(after);
        if (oneOf(det, "us", "them", "you") ? singularVerbFrom(words.next(after))
            : oneOf(det, "the", "my", "your", "his", "her", "our", "their", "these", "those") && singularVerbFrom(words.next(words.next(after))))
            return true;
    }
    // "a person who are" → "a person who is": the relative's verb agrees
    // with the counted singular before it.
    if (w == "who" && isCountedNoun(words.previousLower(i), isWord) && startsLowercase(words.text(words.previous(i))) &&
        oneOf(words.previousLower(words.previous(i)), "a", "an", "the", "this", "that", "every", "each", "any",
              "one", "another") &&
        words.nextLower(n) != "not") {
        if (std::string_view singular = lookUp(kToSingularVerb, next); !singular.empty()) {
            words.replace(n, singular);
            return true;
        }
    }
    // "He is student." → "He is a student.", "I have good friend who" →
    // "I have a good friend who": a counted singular after "be" or "have"
    // needs an article. Held back where "the" may be meant ("is reason
    // why", "what is reason"), for places used without one ("is school"),
    // and for "have reason to", where the noun is not counted.
    // Also after "such" ("such thing" → "such a thing"; not "no such thing")
    // and "as" ("as teacher" → "as a teacher"; not "such as", "as well as").
    const bool asOrSuch = (w == "such" && !oneOf(words.previousLower(i), "no", "any")) ||
                          (w == "as" && !oneOf(words.previousLower(i), "such", "well", "same", "so"));
    // And after verbs that take one thing as their object ("get good job").
    static constexpr std::string_view kTakingOne[] = {"is", "was", "be", "been", "it's", "it\u2019s", "that's", "that\u2019s", "have",
                                               "has", "had", "get", "gets", "got", "find", "finds", "buy", "buys", "bought",
                                               "become", "becomes", "became"};
    if ((asOrSuch || in<kTakingOne>(w)) &&
        !oneOf(words.previousLower(i), "what", "which", "who", "where", "how", "why", "when") && words.isWord(n) &&
        startsLowercase(words.text(n)) && n == i + 2) {
        std::size_t noun = isPlainAdjective(next) && !oneOf(next, "whole", "entire") ? after : n;
        const std::string_view head = words.lower(noun);
        const std::size_t end = words.next(noun);
        const bool ends = end == npos ? noun != npos
                          : words.text(end).size() == 1 && std::string_view(".,;:!?").find(words.text(end)) != npos
                              ? true
                              : oneOf(words.lower(end), "who", "for", "with", "in", "at", "from", "to", "and",
                                      "but", "because");
        if (isCountedNoun(head, isWord) && startsLowercase(words.text(noun)) && ends &&
            (noun != n || !oneOf(head, "school", "class", "university", "town", "family", "course", "reason"))) {
            if (auto vowel = startsWithVowelSound(next)) {
                words.replace(n, std::string(*vowel ? "an " : "a ") + words.text(n));
                return true;
            }
        }
    }
    // "for long time" → "for a long time", "have good time" → "have a good time".
    if (oneOf(w, "for", "in", "have", "has", "had", "having", "take", "takes", "took", "taking", "spend", "spent") &&
        oneOf(next, "long", "good", "great", "hard", "short", "difficult", "wonderful", "nice", "tough") &&
        startsLowercase(words.text(n)) && words.lower(after) == "time" &&
        (words.endsPhraseBefore(words.next(after), false) || words.nextLower(after) == "ago")) {
        words.replace(n, "a " + words.text(n));
        return true;
    }
    // "in world" → "in the world", "in past," → "in the past,": nouns of
    // which there is one, after a preposition and ending their phrase ("in
    // world history" is a compound).
    // Not after "both of", where the noun is counted ("both of worlds").
    if ((in<kPrepositions>(w) || oneOf(w, "over", "around", "throughout")) && w != "all" &&
        !(w == "of" && oneOf(words.previousLower(i), "one", "each", "many", "several", "both", "either", "neither",
                             "few")) &&
        oneOf(next, "world", "past", "internet", "universe", "sun", "moon") &&
        startsLowercase(words.text(n)) && words.endsPhraseBefore(after, false) &&
        !(next == "past" && oneOf(w, "in", "for", "of", "on") && words.isWord(after) && words.lower(after) != "and")) {
        words.replace(n, "the " + std::string(nextStore));
        return true;
    }
    // "many information" → "much information": a noun never counted.
    if (w == "many" && words.isWord(n) && startsLowercase(words.text(n)) && words.endsPhraseBefore(after, false) &&
        (oneOf(next, "money", "traffic", "pollution", "homework", "furniture") ||
         std::any_of(std::begin(kUncountable), std::end(kUncountable), [&](const auto& u) { return u.second == next; }))) {
        words.replace(i, "much");
        return true;
    }
    // "The most of people" → "Most of people": not "make the most of".
    if (w == "the" && next == "most" && words.lower(after) == "of" &&
        !oneOf(words.previousLower(i), "make", "makes", "made", "making")) {
        words.remove(i);
        return true;
    }
    // "we have same problem" → "we have the same problem": "same" takes
    // "the" after a verb as after a preposition.
    if (w == "same" && startsLowercase(words.text(i)) && words.isWord(n)) {
        const std::string_view before = words.previousLower(i);
        if (isListedVerb(before) || !baseOfThirdPerson(before).empty() || !baseOfPast(before).empty()) {
            words.replace(i, "the same");
            return true;
        }
    }
    // "the most easiest" → "the easiest".
    if (w == "most" && isSuperlative(next)) {
        words.remove(i);
        return true;
    }
    // "to goes" → "to go": an -s form of a verb that is no noun.
    if (w == "to" && endsWith(next, "s")) {
        static const std::map<std::string, std::string_view, std::less<>> kThirdPersons = [] {
            std::map<std::string, std::string_view, std::less<>> m;
            for (std::string_view verb : kVerbsOnly) m.emplace(thirdPerson(verb), verb);
            return m;
        }();
        if (auto it = kThirdPersons.find(next); it != kThirdPersons.end()) {
            words.replace(n, it->second);
            return true;
        }
    }
    // "by learn" → "by learning": a preposition takes a verb's -ing form.
    if (in<kGerundPrepositions>(w) && startsLowercase(words.text(i)) && in<kVerbsOnly>(next) && next != "go") {
        if (std::string ing = ingFormOf(next, isWord); !ing.empty()) {
            words.replace(n, ing);
            return true;
        }
    }
    // "it is depend on" → "it depends on".
    if ((w == "is" || w == "are" || w == "am" || w == "was" || w == "were") && (next == "depend" || next == "depends") &&
        (words.lower(after) == "on" || words.lower(after) == "upon")) {
        words.replace(n, w == "is" ? "depends" : w == "was" || w == "were" ? "depended" : "depend");
        bool capital = !startsLowercase(words.text(i));
        words.remove(i);
        if (capital) words.replace(n, capitalizedFirst(words.text(n)));
        return true;
    }
    // "My father go" → "My father goes": a determiner and a singular noun
    // that open a clause, then a verb that is no noun. After "the" only for
    // a noun always counted ("the poor get" names many), nor after "and"
    // ("he and his son go"), nor a group noun.
    const bool countedAfterThe = w == "the" && isCountedNoun(next, isWord);
    if ((oneOf(w, "my", "your", "his", "her", "our", "their", "a", "an", "this", "every", "each") || countedAfterThe) &&
        words.clauseStartsBefore(i) && words.previousLower(i) != "and" && words.previousLower(i) != "or" &&
        words.isWord(n) && startsLowercase(words.text(n)) && isWord(next) && !endsWith(next, "s") &&
        !in<kCollectives>(next) && !in<kIrregularPlurals>(next) && !in<kNumbers>(next) &&
        !oneOf(next, "lot", "bit", "little", "number", "dozen", "million", "one", "other", "same", "do", "does",
               "did", "to", "not", "just", "only", "even", "still", "then", "now") &&
        !in<kModals>(next) && !in<kMidAdverbs>(next) &&
        (in<kVerbsOnly>(words.lower(after)) || in<kAgreeingVerbs>(words.lower(after))) &&
        startsLowercase(words.text(after)) && words.nextLower(after) != "not") {
        std::string third = thirdPerson(words.lower(after));
        if (isWord(third) && !sentenceTellsOfThePast(words, after, true)) {
            words.replace(after, third);
            return true;
        }
    }
    // "My father were" → "My father was": the same subjects, a plural verb.
    // Not after "if" or "wish" ("if my father were"), nor a part ("a third are").
    // Before "don't" or "do not" also after "the" and any noun with a plural
    // of its own ("the price do not" → "does not"); not an adjective that
    // names people ("the poor do not", "the blind do not").
    const std::string_view verbAfter = words.lower(after);
    const bool nounBeforeDo =
        w == "the" && (verbAfter == "don't" || (verbAfter == "do" && words.nextLower(after) == "not")) &&
        !oneOf(next, "poor", "rich", "young", "old", "elderly", "wealthy", "blind", "deaf", "sick", "dead",
               "living", "brave", "free", "homeless", "unemployed", "disabled", "innocent", "guilty", "strong",
               "weak", "faithful", "former", "latter", "remainder", "enemy", "opposition", "other", "following",
               "above") &&
        !endsWith(next, "ing") && !endsWith(next, "ed") && !pluralOf(next, isWord).empty();
    if ((oneOf(w, "my", "your", "his", "her", "our", "their", "a", "an", "this", "every", "each") || countedAfterThe ||
         nounBeforeDo) &&
        words.clauseStartsBefore(i) && !oneOf(words.previousLower(i), "and", "or", "if", "as", "though", "wish",
                                              "unless", "whether") &&
        words.isWord(n) && startsLowercase(words.text(n)) && !endsWith(next, "s") && !in<kCollectives>(next) &&
        !in<kIrregularPlurals>(next) && !in<kSameInPlural>(next) && !in<kNumbers>(next) && !in<kModals>(next) &&
        !in<kMidAdverbs>(next) &&
        !oneOf(next, "lot", "bit", "little", "number", "dozen", "million", "one", "other", "same", "own", "half",
               "third", "quarter", "few", "majority", "minority", "variety", "range")) {
        constexpr std::pair<std::string_view, std::string_view> kToSingular[] = {
            {"are", "is"}, {"were", "was"}, {"have", "has"}, {"don't", "doesn't"},
            {"aren't", "isn't"}, {"weren't", "wasn't"}, {"haven't", "hasn't"}};
        // "My phone do not ring" → "… does not ring": "do" before "not" is the auxiliary.
        std::string_view singular = lookUp(kToSingular, words.lower(after));
        if (words.lower(after) == "do" && words.nextLower(after) == "not") singular = "does";
        if (!singular.empty() && isWord(next)) {
            words.replace(after, singular);
            return true;
        }
    }
    // "people who lives" → "people who live": the relative's verb agrees with the plural before it.
    // After "that" and "which" only for a counted plural that is no verb
    // ("she says that is", "cars, which is"), nor in a phrase after a
    // preposition, whose head the relative may be about ("the number of cars
    // that is", "no edit of these rules that makes").
    const std::size_t head = words.previous(i);
    auto afterPreposition = [&] {
        std::size_t k = head;
        for (int steps = 0; steps < 3 && k != npos; ++steps) {
            k = words.previous(k);
            if (in<kPrepositions>(words.lower(k))) return true;
        }
        return false;
    };
    const bool pluralHead =
        w == "who" ? isPluralNounAt(words, head, isWord)
                   : (w == "that" || w == "which") && isPluralNounAt(words, head, isWord) &&
                         baseOfThirdPerson(words.lower(head)).empty() &&
                         isCountedNoun(singularOf(words.lower(head), isWord), isWord) && !afterPreposition();
    if (pluralHead) {
        const std::string verb(next);
        std::string plural = pluralVerbOf(verb);
        if (plural.empty() && !baseOfThirdPerson(verb).empty()) plural = baseOfThirdPerson(verb);
        if (!plural.empty() && words.nextLower(n) != "not") {
            words.replace(n, plural);
            return true;
        }
    }
    // "two year ago" → "two years ago": a time after a number, ending its phrase.
    if (in<kNumbers>(w) && w != "few" && in<kTimeNouns>(next) &&
        words.previousLower(i) != "a" && words.previousLower(i) != "an" &&
        (words.endsPhraseBefore(after, false) || words.lower(after) == "ago" || words.lower(after) == "later")) {
        words.replace(n, next == "century" ? "centuries" : std::string(nextStore) + "s");
        return true;
    }
    // "it is to late" → "it is too late", "it looks to big we" → "too big"
    // ("she looks to old friends" stays: the adjective has its noun).
    if (oneOf(w, "is", "are", "was", "were", "it's", "it\u2019s", "be", "am", "get", "got", "seems", "look",
              "looks", "looked") &&
        next == "to" && in<kTooAdjectives>(words.lower(after))) {
        std::size_t afterThat = words.next(after);
        if (afterThat == npos || !words.isWord(afterThat) ||
            oneOf(words.lower(afterThat), "to", "for", "and", "that", "so", "i", "we", "you", "he", "she", "it",
                  "they")) {
            words.replace(n, "too");
            return true;
        }
    }
    // "I want go" → "I want to go".
    if (oneOf(w, "want", "wants", "wanted", "need", "needs", "decide", "decides", "decided", "hope", "hopes",
              "hoped", "try", "tries", "tried", "going") &&
        (in<kVerbsOnly>(next) || oneOf(next, "see", "buy", "do", "be", "visit")) && startsLowercase(words.text(n))) {
        words.replace(n, "to " + std::string(nextStore));
        return true;
    }
    // Articles that the phrase itself demands: "one of best" → "one of the
    // best", "at same time" → "at the same time", "for first time" → "for the first time".
    const bool governing = in<kPrepositions>(w) || oneOf(w, "is", "are", "was", "were", "be", "been");
    if ((w == "of" && words.previousLower(i) == "one" && (isSuperlative(next) || next == "most")) ||
        (governing && next == "same" && words.isWord(after)) ||
        (governing && next == "first" && words.lower(after) == "time")) {
        if (startsLowercase(words.text(n))) {
            words.replace(n, "the " + std::string(nextStore));
            return true;
        }
    }
    // Verbs and adjectives with their own preposition: "interested on" →
    // "interested in", "depend of" → "depend on", "responsible of" → "responsible for".
    if (words.isWord(after)) {
        std::string_view right;
        if (w == "interested" && oneOf(next, "on", "about", "for", "of")) right = "in";
        else if (w == "responsible" && next == "of") right = "for";
        else if (oneOf(w, "depend", "depends", "depended", "depending") && next == "of") right = "on";
        if (!right.empty()) {
            words.replace(n, right);
            return true;
        }
    }
    // "explain me" → "explain to me", "listen music" → "listen to music", "wait him" → "wait for him".
    if ((oneOf(w, "explain", "explains", "explained", "explaining") && oneOf(next, "me", "us")) ||
        (oneOf(w, "listen", "listens", "listened", "listening") &&
         oneOf(next, "music", "the", "a", "my", "his", "her", "their", "our", "your", "him", "me", "them", "us",
               "this", "what")) ||
        (oneOf(w, "wait", "waits", "waited", "waiting") && oneOf(next, "me", "him", "her", "us", "them"))) {
        words.replace(n, std::string(w.rfind("wait", 0) == 0 ? "for " : "to ") + words.text(n));
        return true;
    }
    // "emphasize on the point", "mentioned about it", "cope up with", "we lack of": no preposition.
    if ((oneOf(w, "emphasize", "emphasizes", "emphasized", "emphasise", "emphasises", "emphasised") && next == "on") ||
        (oneOf(w, "mention", "mentions", "mentioned", "mentioning") && next == "about" &&
         !oneOf(words.previousLower(i), "a", "an", "the", "no", "any", "brief") && !countFollows(words, after)) ||
        (oneOf(w, "cope", "copes", "coped", "coping") && next == "up" && words.lower(after) == "with") ||
        (oneOf(w, "lack", "lacks", "lacked") && next == "of" && in<kSubjectPronouns>(words.previousLower(i))) ||
        // "we can trust on her" → "trust her"; "our trust on both sides" is the noun.
        (oneOf(w, "trust", "trusts", "trusted") && next == "on" &&
         oneOf(words.lower(after), "it", "him", "her", "them", "me", "us", "you") &&
         oneOf(words.previousLower(i), "can", "could", "will", "would", "should", "must", "may", "might", "to",
               "not", "cannot", "can't", "don't", "i", "we", "you", "they", "he", "she"))) {
        words.remove(n);
        return true;
    }
    // "there is students" → "there are students", where the plural ends its
    // phrase; also after "some" or "no" and one plain adjective ("there is
    // no good reasons").
    if (w == "there" && (next == "is" || next == "was")) {
        std::size_t noun = after;
        if (oneOf(words.lower(noun), "some", "no") && startsLowercase(words.text(noun))) noun = words.next(noun);
        if (isPlainAdjective(words.lower(noun)) && startsLowercase(words.text(noun))) noun = words.next(noun);
        if (isPluralNounAt(words, noun, isWord) && startsLowercase(words.text(noun)) &&
            words.endsPhraseBefore(words.next(noun), false)) {
            words.replace(n, next == "is" ? "are" : "were");
            return true;
        }
    }
    // "there are a problem" → "there is a problem": one counted thing.
    if (w == "there" && (next == "are" || next == "were") && oneOf(words.lower(after), "a", "an")) {
        std::size_t noun = words.next(after);
        if (isPlainAdjective(words.lower(noun)) && startsLowercase(words.text(noun))) noun = words.next(noun);
        if (isCountedNoun(words.lower(noun), isWord) && startsLowercase(words.text(noun)) &&
            words.endsPhraseBefore(words.next(noun), false) && words.nextLower(noun) != "and") {
            words.replace(n, next == "are" ? "is" : "was");
            return true;
        }
    }
    // "A lot of people is" → "… are", "Most of the students has" → "… have":
    // a quantity of a plural that opens its clause is plural.
    if (w == "of" && words.isWord(n)) {
        const std::size_t q = words.previous(i);
        const std::string_view quantity = words.lower(q);
        const std::string_view article = words.previousLower(q);
        const bool counts = ((quantity == "lot" || quantity == "number") && article == "a" && words.clauseStartsBefore(words.previous(q))) ||
                            (oneOf(quantity, "lots", "most", "many", "some", "all", "both", "several") && words.clauseStartsBefore(q));
        std::size_t noun = n;
        if (oneOf(next, "the", "my", "your", "his", "her", "our", "their", "these", "those")) noun = words.next(noun);
        if (isPlainAdjective(words.lower(noun)) && startsLowercase(words.text(noun))) noun = words.next(noun);
        if (counts && isPluralNounAt(words, noun, isWord) && !in<kPluralOnly>(words.lower(noun))) {
            const std::size_t v = words.next(noun);
            if (std::string plural = pluralVerbOf(words.lower(v)); !plural.empty() && words.nextLower(v) != "not") {
                words.replace(v, plural);
                return true;
            }
        }
    }
    // "can to go" → "can go"; not "will", "may" or "might", which are nouns too.
    if (oneOf(w, "can", "could", "should", "must", "would", "cannot", "can't", "couldn't", "shouldn't", "mustn't",
              "wouldn't", "won't") && next == "to" &&
        (isListedVerb(words.lower(after)) || in<kVerbsOnly>(words.lower(after))) &&
        !in<kDeterminers>(words.previousLower(i))) {
        words.remove(n);
        return true;
    }
    // "let me to go" → "let me go", "made them to wait" → "made them wait".
    if (oneOf(w, "let", "lets", "make", "makes", "made", "making") &&
        oneOf(next, "me", "him", "her", "us", "them", "you") && words.lower(after) == "to" &&
        (isListedVerb(words.nextLower(after)) || in<kVerbsOnly>(words.nextLower(after)))) {
        words.remove(after);
        return true;
    }
    // "enjoy to swim" → "enjoy swimming", "looking forward to see" → "… to seeing".
    if ((oneOf(w, "enjoy", "enjoys", "enjoyed", "enjoying", "avoid", "avoids", "avoided", "avoiding", "finish",
               "finishes", "finished", "suggest", "suggests", "suggested", "consider", "considers", "considered") &&
         next == "to" &&
         // "It is considered to be", "keep in mind to": only a verb with its subject or its modal before.
         (w.rfind("enjoy", 0) == 0 || w.rfind("avoid", 0) == 0 ||
          oneOf(words.previousLower(i), "i", "we", "they", "you", "he", "she", "would", "will", "should", "could",
                "might", "may", "must", "can", "to", "don't", "didn't", "doesn't"))) ||
        (oneOf(w, "look", "looks", "looked", "looking") && next == "forward" && words.lower(after) == "to")) {
        const std::size_t v = next == "to" ? after : words.next(after);
        const std::string_view verb = words.lower(v);
        if (isListedVerb(verb) || in<kVerbsOnly>(verb)) {
            if (std::string ing = ingFormOf(verb, isWord); !ing.empty()) {
                words.replace(v, ing);
                if (next == "to") words.remove(n);
                return true;
            }
        }
    }
    // "We enjoy learn" → "We enjoy learning": these verbs take an -ing
    // form, and a verb that is no noun cannot be their object.
    if (oneOf(w, "enjoy", "enjoys", "enjoyed", "enjoying", "avoid", "avoids", "avoided", "avoiding", "finish",
              "finishes", "finished", "practise", "practice", "practised", "practiced") &&
        in<kVerbsOnly>(next) && startsLowercase(words.text(n))) {
        if (std::string ing = ingFormOf(next, isWord); !ing.empty()) {
            words.replace(n, ing);
            return true;
        }
    }
    // "I m here" → "I'm here".
    if (words.text(i) == "I" && n == i + 2 && words.text(n) == "m" && words.isWord(after)) {
        words.replace(i, "I'm");
        words.remove(n);
        return true;
    }
    // Fixed phrases: "each others" → "each other", "according with" → "according to",
    // "In the other hand," → "On the other hand,", "eventhough" → "even though".
    if (w == "each" && next == "others" && (after == npos || words.text(after) != "'")) {
        words.replace(n, "other");
        return true;
    }
    if (w == "according" && next == "with") {
        words.replace(n, "to");
        return true;
    }
    if ((w == "in" || w == "at") && next == "the" && words.lower(after) == "other" && words.nextLower(after) == "hand" &&
        words.sentenceStartsBefore(i)) {
        std::size_t comma = words.next(words.next(after));
        if (comma != npos && words.text(comma) == ",") {
            words.replace(i, "on");
            return true;
        }
    }
    // "in my point of view" → "from my point of view".
    if (w == "in" && oneOf(next, "my", "our", "his", "her", "their", "your") && words.lower(after) == "point" &&
        words.nextLower(after) == "of" && words.nextLower(words.next(after)) == "view") {
        words.replace(i, "from");
        return true;
    }
    // "last but not the least" → "last but not least".
    if (w == "not" && next == "the" && words.lower(after) == "least" && words.previousLower(i) == "but" &&
        words.previousLower(words.previous(i)) == "last") {
        words.remove(n);
        return true;
    }
    // "will loose weight" → "will lose weight": after a modal or "do" only a verb fits.
    if ((in<kModals>(w) || oneOf(w, "don't", "doesn't", "didn't")) && next == "loose" && !in<kDeterminers>(words.previousLower(i))) {
        words.replace(n, "lose");
        return true;
    }
    // "an affect on" → "an effect on".
    if ((w == "a" || w == "an" || w == "the") && next == "affect" && words.lower(after) == "on") {
        if (w == "a") words.replace(i, "an");
        words.replace(n, "effect");
        return true;
    }
    // "Lets go" → "Let's go" at a clause's start.
    if (w == "lets" && words.clauseStartsBefore(i) && (isListedVerb(next) || in<kVerbsOnly>(next) || next == "see")) {
        words.replace(i, "let's");
        return true;
    }
    // Words that sound alike, where the next word decides: "there own" →
    // "their own", "too go" → "to go", "weather or not" → "whether or not",
    // "would advice" → "would advise", "my advise" → "my advice", "it maybe
    // true" → "it may be true".
    if ((w == "there" || w == "they're") && next == "own") {
        words.replace(i, "their");
        return true;
    }
    if (w == "too" && in<kVerbsOnly>(next) && startsLowercase(words.text(n))) {
        words.replace(i, "to");
        return true;
    }
    if (w == "weather" && next == "or" && words.lower(after) == "not") {
        words.replace(i, "whether");
        return true;
    }
    if (next == "advice" && in<kModals>(w) && !in<kDeterminers>(words.previousLower(i)) && words.isWord(after)) {
        words.replace(n, "advise");
        return true;
    }
    if (next == "advise" && oneOf(w, "a", "an", "the", "my", "your", "his", "her", "our", "their", "some", "any",
                                  "good", "this")) {
        words.replace(n, "advice");
        return true;
    }
    if (oneOf(w, "it", "this", "that", "there", "they", "he", "she", "we", "you", "i") && next == "maybe" &&
        oneOf(words.lower(after), "a", "an", "the", "true", "wrong", "right", "able", "possible", "late", "better")) {
        words.replace(n, "may be");
        return true;
    }
    // "they where late" → "they were late", "I new it" → "I knew it": no
    // pronoun is followed by "where" or "new" ("you" may call: "you new
    // people"); "is quiet good" → "is quite good", "to breath" → "to
    // breathe", "my live." → "my life.".
    if (oneOf(w, "i", "he", "she", "we", "they") && (next == "where" || next == "new") && words.isWord(after) &&
        startsLowercase(words.text(n)) && (w != "i" || words.text(i) == "I")) {
        if (next == "where" && w != "i" && w != "he" && w != "she") {
            words.replace(n, "were");
            return true;
        }
        if (next == "new" && !oneOf(words.lower(after), "ones", "one")) {
            words.replace(n, "knew");
            return true;
        }
    }
    if (oneOf(w, "is", "are", "was", "were", "be", "been", "am", "it's", "it\u2019s", "seems", "looks") && next == "quiet" &&
        isPlainAdjective(words.lower(after))) {
        words.replace(n, "quite");
        return true;
    }
    if ((w == "to" || in<kModals>(w)) && next == "breath" && !in<kDeterminers>(words.previousLower(i))) {
        words.replace(n, "breathe");
        return true;
    }
    if (oneOf(w, "my", "your", "his", "her", "our", "their") && next == "live" && words.endsPhraseBefore(after, false)) {
        words.replace(n, "life");
        return true;
    }
    // "others people" → "other people": "others" is a pronoun, and a
    // counted plural after it wants the determiner.
    if (w == "others" && isPluralNounAt(words, n, isWord) && startsLowercase(words.text(n)) &&
        (oneOf(next, "people", "children", "men", "women") || isCountedNoun(singularOf(next, isWord), isWord))) {
        words.replace(i, "other");
        return true;
    }
    // "return back" → "return": the verb says it.
    if (oneOf(w, "return", "returns", "returned", "returning", "revert", "reverts", "reverted", "reverting") &&
        next == "back" && startsLowercase(words.text(n))) {
        words.remove(n);
        return true;
    }
    if (w == "eventhough") {
        words.replace(i, "even though");
        return true;
    }
    return correctClauseAndCount(words, i, isWord);
}

// "now a days", "in nowadays" → "nowadays", before the other rules, which
// then see the adverb (and set it off with a comma).
void mergeNowadays(Tokens& tokens) {
    Words words(tokens);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        // Only "now" and "in" start one: the rest skip the look-ups.
        const std::string& t = tokens[i].text;
        if (!(t.size() == 3 && (t[0] == 'n' || t[0] == 'N')) && !(t.size() == 2 && (t[0] == 'i' || t[0] == 'I')))
            continue;
        const std::size_t n = words.next(i);
        const std::size_t after = words.next(n);
        const std::string_view w = words.lower(i);
        if (w == "now" && words.lower(n) == "a" && words.lower(after) == "days" && after == i + 4) {
            words.replace(i, "nowadays");
            tokens.erase(tokens.begin() + std::ptrdiff_t(i + 1), tokens.begin() + std::ptrdiff_t(after + 1));
            words.forget();
        } else if (w == "in" && words.lower(n) == "nowadays" && n == i + 2) {
            words.replace(i, "nowadays");
            tokens.erase(tokens.begin() + std::ptrdiff_t(i + 1), tokens.begin() + std::ptrdiff_t(n + 1));
            words.forget();
        }
    }
}

void correctGrammar(Tokens& tokens, const std::function<bool(std::string_view)>& isWord) {
    mergeNowadays(tokens);
    // First, so that the rules below read the word meant ("the town were I
    // live" is no plural verb).
    correctConfusables(tokens);
    Words words(tokens);
    std::vector<std::size_t> commasAfter;
    words.setPendingCommas(&commasAfter);
    // Commas go only into whole sentences: not into a fragment, a quotation,
    // or after a line that a paragraph merely wraps.
    const std::vector<std::size_t> wholeFrom = wholeSentenceStarts(tokens, true);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string_view w = words.lower(i);
        if (w.empty()) continue;  // no English word
        const std::size_t n = words.next(i);
        const std::string_view nextStore = words.lower(n);
        const std::string_view next = nextStore;

        // "However the …" → "However, the …": an introduction written with a
        // capital at a sentence's start, before the subject. After "however"
        // a pronoun may belong to it ("However you look at it, …"), and "of
        // course" reads as part of the clause before one ("Of course we can").
        // Also in lower case: the sentence's capital comes later, and the
        // comma must not wait for a second pass.
        {
            std::size_t p = words.previous(i);
            bool sentenceStart = (p == npos || (tokens[p].kind == TokenKind::punct && std::string_view(".!?").find(tokens[p].text) != npos)) &&
                                 wholeFrom[i] == i;
            if (std::size_t count = sentenceStart ? introductionAt(words, i) : 0; count > 0) {
                std::size_t last = i;
                for (std::size_t k = 1; k < count; ++k) last = words.next(last);
                std::size_t subject = words.next(last);
                std::string_view first = words.lower(subject);
                bool pronoun = first == "you" || first == "we" || first == "they" || first == "it" || first == "i" ||
                               first == "he" || first == "she";
                if (subject == last + 2 && in<kSubjectStarts>(first) && !((w == "however" || w == "of") && pronoun))
                    commasAfter.push_back(last);
            }
        }

        // "I tried but he refused" → "I tried, but he refused": "but" joining
        // two clauses, the second with its own subject. Not "all but he". A
        // comma before "so" stays the writer's choice: readers leave it out
        // as often as they put it in.
        if (w == "but" && startsLowercase(tokens[i].text) && oneOf(next, "i", "he", "she", "we", "they") &&
            n == i + 2 && i >= 2 && tokens[i - 1].kind == TokenKind::space && words.isWord(i - 2)) {
            const std::string_view before = words.lower(i - 2);
            bool except = oneOf(before, "all", "nothing", "anything", "everything", "everyone", "anyone", "nobody",
                                "none", "not");
            bool clause = !in<kClauseOpeners>(before) && !in<kPrepositions>(before) && !in<kDeterminers>(before);
            if (!except && clause && words.isWord(words.next(n)) && wholeFrom[i] != npos)
                commasAfter.push_back(i - 2);
        }
        // "Although it rained, but we went" → "Although it rained, we went":
        // the clause that opens the sentence already joins the two.
        if ((w == "although" || w == "though" || w == "because") && words.sentenceStartsBefore(i)) {
            for (std::size_t k = words.next(i); k != npos; k = words.next(k)) {
                if (tokens[k].kind != TokenKind::punct) continue;
                if (tokens[k].text != ",") break;
                std::size_t joiner = words.next(k);
                const std::string_view word = words.lower(joiner);
                std::size_t subject = words.next(joiner);
                if (((w != "because" && word == "but") || (w == "because" && word == "so")) &&
                    (in<kSubjectPronouns>(words.lower(subject)) || in<kNounDeterminers>(words.lower(subject)))) {
                    words.clear(joiner);
                    if (joiner + 1 < tokens.size() && tokens[joiner + 1].kind == TokenKind::space) words.clear(joiner + 1);
                }
                break;
            }
        }
        // "If it is possible we go" → "If it is possible, we go": a clause
        // that opens the sentence ends before the main clause's subject
        // pronoun and its verb. Held back after a verb, which may take the
        // pronoun's clause as its object ("When I said we were late"), and
        // after a noun, which a relative clause may follow ("If the job we
        // like pays").
        if (oneOf(w, "if", "when", "although", "though", "because", "while", "unless", "whenever") &&
            words.sentenceStartsBefore(i) && wholeFrom[i] == i) {
            std::size_t k = words.next(n);
            for (int steps = 0; steps < 12 && words.isWord(k); ++steps, k = words.next(k)) {
                const std::string_view word = words.lower(k);
                if (!oneOf(word, "i", "he", "she", "we", "they", "you", "it")) continue;
                const std::size_t b = words.previous(k);
                const std::string_view before = words.lower(b);
                const std::string_view verb = words.nextLower(k);
                const bool verbBefore = !baseOfThirdPerson(before).empty() || !baseOfPast(before).empty() ||
                                        isListedVerb(before) || in<kVerbsOnly>(before) || endsWith(before, "ed") ||
                                        in<kModals>(before) || in<kInverting>(before);
                const bool goesOn = oneOf(before, "me", "him", "her", "us", "them", "it", "you", "that", "than",
                                          "as", "not", "and", "or", "but", "to", "is", "are", "was", "were", "be",
                                          "been", "am", "very", "so", "too", "such", "what", "which", "who", "how",
                                          "where") ||
                                    in<kPrepositions>(before) || in<kDeterminers>(before) || in<kClauseOpeners>(before) ||
                                    in<kSubjectPronouns>(before) || in<kMidAdverbs>(before) || in<kNounDeterminers>(before);
                const bool verbFollows = in<kModals>(verb) || !baseOfThirdPerson(verb).empty() ||
                                         !baseOfPast(verb).empty() || isListedVerb(verb) || in<kVerbsOnly>(verb) ||
                                         oneOf(verb, "is", "are", "was", "were", "am", "have", "has", "had",
                                               "don't", "didn't", "won't", "can't", "doesn't");
                // The clause ends on a complement ("was young", "is possible")
                // or an adverb ("study seriously"), not a noun that a relative
                // may follow ("the job we like").
                const bool complement = oneOf(words.previousLower(b), "is", "are", "was", "were", "am", "be",
                                              "been", "got", "get", "feel", "felt", "seem", "seems", "seemed",
                                              "become", "became");
                const bool adverb = endsWith(before, "ly") &&
                                    !oneOf(before, "family", "supply", "reply", "ally", "rally", "belly", "jelly",
                                           "bully", "fly", "assembly", "monopoly", "anomaly", "lily", "folly",
                                           "only");
                if (!verbBefore && !goesOn && verbFollows && (complement || adverb) && b + 2 == k &&
                    tokens[b + 1].kind == TokenKind::space && startsLowercase(tokens[b].text))
                    commasAfter.push_back(b);
                break;
            }
        }
        // Every listed plural ends in "s" and has seven letters or more.
        if (auto singular = w.size() >= 7 && w.back() == 's' ? lookUp(kUncountable, w) : std::string_view();
            !singular.empty()) {
            words.replace(i, singular);
            continue;
        }
        if (correctFormsAndNumber(words, i, isWord)) continue;
        // "more easier" → "easier".
        if (w == "more" && in<kComparatives>(next) && words.previousLower(i) != "no") {
            words.remove(i);
            continue;
        }
        // "most of people" → "most people": "of" there wants a determiner;
        // not "the most of" ("make the most of things"), nor before a pronoun.
        if ((w == "most" || w == "many") && next == "of" && words.previousLower(i) != "the") {
            // The plural ends its phrase: in "many of cars' parts" the cars are particular ones.
            std::size_t noun = words.next(n);
            std::size_t after = words.next(noun);
            bool ends = after == npos ? noun != npos
                        : tokens[after].kind == TokenKind::punct ? std::string_view(".,;:!?").find(tokens[after].text) != npos
                                                                 : in<kAfterNounPhrase>(words.lower(after));
            if (ends && words.isWord(noun) && startsLowercase(tokens[noun].text) && isPlainPlural(words.lower(noun), isWord)) {
                words.remove(n);
                continue;
            }
        }
        // "discuss about the plan": the verb takes its object directly.
        if (next == "about" && (w == "discuss" || w == "discusses" || w == "discussed" || w == "discussing")) {
            words.remove(n);
            continue;
        }
        // "could of been" → "could have been"; not "could, of course".
        if (next == "of" && (w == "could" || w == "should" || w == "would" || w == "must" || w == "might") &&
            !words.nextLower(n).empty() && words.nextLower(n) != "course") {
            words.replace(n, "have");
            continue;
        }
        // "despite of the rain": "despite" takes its object directly.
        if (w == "despite" && next == "of") {
            words.remove(n);
            continue;
        }
        // "I am agree" → "I agree": "agree" is a verb, not an adjective.
        // Also "disagree", "I'm agree" → "I agree", "he is agree" → "he agrees".
        if ((next == "agree" || next == "disagree") && startsLowercase(tokens[n].text)) {
            const std::string_view before = words.previousLower(i);
            if (w == "am" || (w == "are" && oneOf(before, "we", "they", "you"))) {
                words.remove(i);
                continue;
            }
            if (w == "is" && oneOf(before, "he", "she")) {
                words.replace(n, std::string(nextStore) + "s");
                words.remove(i);
                continue;
            }
            constexpr std::pair<std::string_view, std::string_view> kSubjects[] = {
                {"i'm", "I"}, {"i\u2019m", "I"}, {"we're", "we"}, {"we\u2019re", "we"}, {"they're", "they"},
                {"they\u2019re", "they"}, {"you're", "you"}, {"you\u2019re", "you"}};
            if (std::string_view subject = lookUp(kSubjects, w); !subject.empty()) {
                if (subject == "I") words.set(i, "I");
                else words.replace(i, subject);
                continue;
            }
        }
        // "we meet everyday." → "every day": the adjective needs a noun after it.
        if (w == "everyday" && (n == npos || tokens[n].kind == TokenKind::punct)) {
            words.replace(i, "every day");
            continue;
        }
        // "a lots of" → "a lot of"; "an other" → "another".
        if (w == "a" && next == "lots" && words.nextLower(n) == "of") {
            words.replace(n, "lot");
            continue;
        }
        if (w == "an" && next == "other") {
            words.replace(i, "another");
            words.clear(n);
            if (n == i + 2) words.clear(i + 1);
            continue;
        }
        // "a apple" → "an apple", "an university" → "a university"; "an" before
        // an h-word stays ("an historic" is a style).
        // "a ten years old boy" → "a ten year old boy": an age before its noun
        // takes the singular, as "a ten-year-old boy" shows.
        if ((w == "a" || w == "an") && ((in<kNumbers>(next) && next != "several" && next != "few") ||
                                        (n != npos && n < tokens.size() && !tokens[n].text.empty() &&
                                         std::all_of(tokens[n].text.begin(), tokens[n].text.end(), [](char c) { return c >= '0' && c <= '9'; })))) {
            const std::size_t unit = words.next(n);
            const std::string_view unitWord = words.lower(unit);
            if ((unitWord == "years" || unitWord == "months" || unitWord == "weeks") && words.lower(words.next(unit)) == "old") {
                const std::size_t noun = words.next(words.next(unit));
                if (words.isWord(noun) && startsLowercase(tokens[noun].text) && !in<kClauseOpeners>(words.lower(noun)) &&
                    !oneOf(words.lower(noun), "and", "or", "but", "when", "if", "at", "in", "by", "now", "then"))
                    words.replace(unit, unitWord.substr(0, unitWord.size() - 1));
            }
        }
        if ((w == "a" || w == "an") && words.isWord(n) && n == i + 2 && next != "and" && next != "or" &&
            (startsLowercase(tokens[i].text) || words.clauseStartsBefore(i)) &&
            (isWord(tokens[n].text) || isAllUppercase(tokens[n].text))) {
            bool uncountable = std::any_of(std::begin(kUncountable), std::end(kUncountable),
                                           [&](const auto& u) { return u.second == next; });
            if (auto vowel = startsWithVowelSound(tokens[n].text); vowel && !uncountable) {
                if (*vowel && w == "a") words.replace(i, "an");
                else if (!*vowel && w == "an" && next[0] != 'h') words.replace(i, "a");
            }
            continue;
        }
        // Confusables decided by the next word.
        if ((w == "their" || w == "thier") && (next == "is" || next == "are" || next == "was" || next == "were")) {
            words.replace(i, "there");
            continue;
        }
        if (w == "their" && (next == "not" || (next == "going" && words.nextLower(n) == "to"))) {
            words.replace(i, "they're");
            continue;
        }
        if (w == "its" && (next == "a" || next == "an" || next == "the" || next == "not" || next == "been" ||
                           (next == "going" && words.nextLower(n) == "to"))) {
            words.replace(i, "it's");
            continue;
        }
        if ((w == "it's" || w == "it\u2019s") && next == "own") {
            words.replace(i, "its");
            continue;
        }
        if (w == "your" && (next == "welcome" || next == "a" || next == "an" || next == "not" ||
                            (next == "going" && words.nextLower(n) == "to"))) {
            words.replace(i, "you're");
            continue;
        }
        // "bigger then you" → "bigger than you"; not "it was better then, …" nor "once more then".
        if (w == "then" && words.isWord(words.next(i))) {
            std::string_view before = words.previousLower(i);
            // Not after "more": "… grow more then it rains" starts a clause.
            // "more important then" → "more important than": an adjective after "more" or "less".
            bool comparative = in<kComparatives>(before) || before == "rather" ||
                               ((isPlainAdjective(before) || endsWith(before, "ant") || endsWith(before, "ent")) &&
                                oneOf(words.previousLower(words.previous(i)), "more", "less"));
            if (comparative) words.replace(i, "than");
            continue;
        }
        // "many reason." → "many reasons.", "one of the reason that" → "one of
        // the reasons that": only where the noun ends the noun phrase, and
        // never after a clause's start, where "many" may be the subject
        // itself ("Many argue that"). Only words that count a noun start it.
        if (in<kCountingStarts>(w)) {
            bool plural = in<kPluralDeterminers>(w) && !words.clauseStartsBefore(i);
            // "each of the student" → "each of the students": these count their noun.
            if (oneOf(w, "the", "my", "your", "his", "her", "our", "their", "these", "those") &&
                words.previousLower(i) == "of" &&
                oneOf(words.previousLower(words.previous(i)), "one", "each", "many", "several", "both", "either",
                      "neither", "few"))
                plural = true;
            std::size_t after = words.next(n);
            // Not before "and"/"or", which may join two adjectives ("several red and blue cars").
            // A wrapped line does not end the phrase ("one of the two\ngroups").
            bool ends = words.endsPhraseBefore(after, false) && !(after == npos && words.wrapsAfter(n));
            // "many student think" → "many students think": a plural verb after
            // the noun shows the count, even at a clause's start.
            const std::string_view afterWord = words.lower(after);
            if ((in<kPluralDeterminers>(w) || oneOf(w, "both", "few", "these", "those")) &&
                (isListedVerb(afterWord) || in<kVerbsOnly>(afterWord)) && !in<kModals>(next) && !in<kMidAdverbs>(next) &&
                !oneOf(next, "more", "other", "new", "good", "great", "local", "rich", "individual", "human", "own",
                       "do", "does", "did", "have", "has", "had", "still", "just", "only", "even", "all", "each",
                       "both")) {
                plural = true;
                ends = true;
            }
            // "other student think" → "other students think", "some student
            // think" → "some students think": a counted noun after "other" with
            // no determiner ("the other day", "every other week", "John's other
            // car") or after "some", when a plural verb shows the count ("some
            // day we go" names a time). Where the noun ends its phrase, "other
            // job" is as often a slip of "another job".
            const std::string_view before = words.previousLower(i);
            const bool bareOther = w == "other" && startsLowercase(tokens[i].text) &&
                                   !oneOf(before, "the", "a", "an", "any", "no", "some", "every", "each", "one",
                                          "this", "that", "my", "your", "his", "her", "its", "our", "their",
                                          "whose", "which", "what", "either", "neither", "none") &&
                                   (words.previous(i) == npos ||
                                    (words.text(words.previous(i)).find('\'') == npos &&
                                     words.text(words.previous(i)).find("\u2019") == npos));
            if ((bareOther || w == "some") && isCountedNoun(next, isWord) && !in<kTimeNouns>(next) &&
                !oneOf(next, "place", "thing")) {
                const bool verbShows = (isListedVerb(afterWord) || in<kVerbsOnly>(afterWord)) && !in<kModals>(afterWord);
                if (verbShows) {
                    plural = true;
                    ends = true;
                }
            }
            if (plural && words.isWord(n) && startsLowercase(tokens[n].text) && ends && !endsWith(next, "s") &&
                next != "following" &&  // "one of the following:"
                !in<kOwnPlurals>(next) && !isListedVerb(next) && isWord(next) &&
                std::none_of(std::begin(kUncountable), std::end(kUncountable), [&](const auto& u) { return u.second == next; })) {
                if (std::string pluralForm = pluralOf(next, isWord); !pluralForm.empty()) {
                    words.replace(n, pluralForm);
                    continue;
                }
            }
        }
        // "there is many" → "there are many".
        if (w == "there" && (next == "is" || next == "was" || next == "isn't" || next == "wasn't") &&
            in<kPluralQuantities>(words.nextLower(n))) {
            words.replace(n, next == "is" ? "are" : next == "was" ? "were" : next == "isn't" ? "aren't" : "weren't");
            continue;
        }
        if ((in<kDaysAndMonths>(w) || in<kProperNames>(w)) && startsLowercase(tokens[i].text)) {
            words.set(i, capitalizedFirst(tokens[i].text));
            continue;
        }

        // Agreement after a personal pronoun.
        // "everyone", "people": simple subjects whose number is never in doubt.
        const bool thing = in<kIndefiniteThings>(w);
        const bool indefinite = (in<kIndefinite>(w) || thing) && words.clauseStartsBefore(i);
        const bool third = w == "he" || w == "she" || w == "it" || indefinite;
        // A lower-case "i" may be a letter of maths: "i is the imaginary unit".
        const bool other = tokens[i].text == "I" || w == "we" || w == "they" || w == "you" ||
                           (oneOf(w, "people", "children", "men", "women") && !in<kSingularDeterminers>(words.previousLower(i)));
        if ((third || other) && words.isWord(n) && !in<kInverting>(words.previousLower(i)) &&
            !(endsWith(words.previousLower(i), "n't") || endsWith(words.previousLower(i), "n\u2019t"))) {
            // "it" and "you" are objects too ("let it go", "give you updates"): only at a clause's start.
            if ((w == "it" || w == "you") && !words.clauseStartsBefore(i)) continue;
            std::size_t v = n;
            if (in<kMidAdverbs>(words.lower(v)) && words.isWord(words.next(v))) v = words.next(v);
            else if (isLyAdverb(words.lower(v)) &&
                     (isListedVerb(words.nextLower(v)) || !baseOfThirdPerson(words.nextLower(v)).empty()))
                v = words.next(v);
            const std::string_view verb = words.lower(v);
            const std::string_view after = words.nextLower(v);
            if (thing && oneOf(verb, "like", "close", "clean", "open")) continue;
            if (third) {
                if (verb == "don't" || verb == "don\u2019t") words.replace(v, verb == "don't" ? "doesn't" : "doesn\u2019t");
                else if (verb == "are") words.replace(v, "is");
                else if (verb == "haven't") words.replace(v, "hasn't");
                else if (isListedVerb(verb) && after != "not" && isWord(thirdPerson(verb)))
                    words.replace(v, thirdPerson(verb));
            } else {
                if (verb == "doesn't" || verb == "doesn\u2019t") words.replace(v, verb == "doesn't" ? "don't" : "don\u2019t");
                else if (verb == "is" && w != "i") words.replace(v, "are");
                else if (verb == "was" && w != "i") words.replace(v, "were");
                else if (verb == "wasn't" && w != "i") words.replace(v, "weren't");
                else if (verb == "hasn't") words.replace(v, "haven't");
                else if (auto base = baseOfThirdPerson(verb); !base.empty()) words.replace(v, base);
            }
            continue;
        }

        // The base form after a modal or a negated "do": "can goes", "didn't went".
        bool modal = in<kModals>(w) && !in<kDeterminers>(words.previousLower(i)) && startsLowercase(tokens[i].text);
        bool negatedDo = w[0] == 'd' &&
                         (w == "don't" || w == "doesn't" || w == "didn't" || w == "don\u2019t" || w == "doesn\u2019t" ||
                          w == "didn\u2019t" || ((w == "do" || w == "does" || w == "did") && next == "not"));
        bool negatedModal = endsWith(w, "n't") && (w == "can't" || w == "couldn't" || w == "won't" || w == "wouldn't" ||
                                                   w == "shouldn't" || w == "mustn't");
        if (modal || negatedDo || negatedModal) {
            std::size_t v = n;
            if (words.lower(v) == "not") v = words.next(v);
            // "might even began": an adverb between the modal and its verb.
            else if (modal && (in<kMidAdverbs>(words.lower(v)) || words.lower(v) == "even")) v = words.next(v);
            std::string_view verb = words.lower(v);
            std::string_view base = baseOfThirdPerson(verb);
            if (base.empty()) base = baseOfPast(verb);
            if (!base.empty()) words.replace(v, base);
            continue;
        }
        // "to went" → "to go": only past forms that are nothing else.
        if (w == "to" && words.isWord(n)) {
            if (auto base = lookUp(kIrregularPast, next); !base.empty() && next != "got" && next != "made" && next != "lost" &&
                                                          next != "paid" && next != "built" && next != "said" && next != "felt")
                words.replace(n, base);
        }
    }
    for (auto it = commasAfter.rbegin(); it != commasAfter.rend(); ++it)
        tokens.insert(tokens.begin() + std::ptrdiff_t(*it + 1), Token{TokenKind::punct, ",", tokens[*it].language});
    std::erase_if(tokens, [](const Token& t) { return t.text.empty(); });
    // A word that became several ("every day", "to go") is split into its words,
    // which the capitals and a next pass of the rules then see one by one.
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i].kind != TokenKind::word || tokens[i].language != 0) continue;
        const std::size_t blank = tokens[i].text.find(' ');
        if (blank == std::string::npos || blank == 0 || blank + 1 >= tokens[i].text.size()) continue;
        Token rest{TokenKind::word, tokens[i].text.substr(blank + 1), tokens[i].language};
        tokens[i].text.resize(blank);
        tokens.insert(tokens.begin() + std::ptrdiff_t(i + 1), {Token{TokenKind::space, " ", rest.language}, std::move(rest)});
    }
    correctArticles(tokens);
    correctNounNumber(tokens, isWord);
}

bool isAlwaysCountedNoun(std::string_view w, const std::function<bool(std::string_view)>& isWord) {
    return isCountedNoun(w, isWord);
}
std::string pluralOfNoun(std::string_view w, const std::function<bool(std::string_view)>& isWord) {
    return pluralOf(w, isWord);
}

bool inWordClass(std::string_view w, WordClass wordClass) {
    switch (wordClass) {
    case WordClass::subjectPronoun: return in<kSubjectPronouns>(w);
    case WordClass::modal: return in<kModals>(w);
    case WordClass::baseVerb: return isListedVerb(w);
    case WordClass::preposition: return in<kPrepositions>(w);
    case WordClass::clauseOpener: return in<kClauseOpeners>(w);
    case WordClass::plainAdjective: return isPlainAdjective(w);
    case WordClass::comparative: return in<kComparatives>(w);
    }
    return false;
}

}  // namespace quillant::service
