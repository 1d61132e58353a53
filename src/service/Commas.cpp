#include "service/Commas.h"

#include "service/WordList.h"
#include "text/Text.h"

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace quillant::service {

namespace {

using Tokens = std::vector<Token>;
using List = std::initializer_list<std::string_view>;

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() > suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

constexpr std::string_view kSubjectPronouns[] = {"i", "we", "they", "he", "she", "you", "it"};
// A subject and its verb in one word.
constexpr std::string_view kSubjectContractions[] = {
    "i'm", "i've", "i'll", "i'd", "you're", "you've", "you'll", "you'd", "he's", "he'll", "he'd", "she's", "she'll",
    "she'd", "it's", "it'll", "we're", "we've", "we'll", "we'd", "they're", "they've", "they'll", "they'd", "there's",
    "there'll"};
// Finite auxiliaries, modals and forms of "be": after a subject they are its verb.
constexpr std::string_view kFinite[] = {
    "am", "is", "are", "was", "were", "have", "has", "had", "do", "does", "did", "will", "would", "can", "could",
    "shall", "should", "may", "might", "must", "cannot", "isn't", "aren't", "wasn't", "weren't", "haven't", "hasn't",
    "hadn't", "don't", "doesn't", "didn't", "won't", "wouldn't", "can't", "couldn't", "shouldn't", "mustn't"};
constexpr std::string_view kModals[] = {"will", "would", "can", "could", "shall", "should", "may", "might", "must"};
// Pasts without -ed.
constexpr std::string_view kIrregularPasts[] = {
    "ate", "became", "began", "bought", "brought", "built", "came", "caught", "chose", "did", "drank", "drove", "fell",
    "felt", "flew", "forgot", "found", "gave", "got", "grew", "heard", "held", "kept", "knew", "led", "left", "lost",
    "made", "meant", "met", "paid", "ran", "said", "sat", "saw", "sent", "slept", "sold", "spent", "spoke", "stood",
    "taught", "thought", "told", "took", "understood", "went", "won", "wore", "wrote"};
// Pronouns that are subjects of a verb in -s or a past.
constexpr std::string_view kIndefinites[] = {"nothing", "everyone", "everybody", "someone", "somebody", "nobody",
                                             "everything", "anyone", "anybody"};
// Words that follow a subject pronoun without being its verb.
constexpr std::string_view kNotVerbs[] = {
    "a", "about", "all", "alone", "also", "an", "and", "as", "at", "both", "but", "by", "each", "for", "from", "here",
    "herself", "himself", "if", "in", "into", "itself", "myself", "not", "of", "on", "only", "or", "ourselves", "so",
    "than", "that", "the", "themselves", "there", "to", "too", "what", "when", "where", "which", "who", "whom", "whose",
    "why", "with", "yourself", "yourselves"};
// Adverbs that may stand between a subject and its verb.
constexpr std::string_view kMidAdverbs[] = {
    "always", "also", "never", "often", "sometimes", "usually", "still", "just", "already", "even", "really", "only",
    "then", "now", "probably", "certainly", "actually", "rarely", "seldom", "mostly", "generally", "normally"};
// Words that make what follows them part of their own clause: a comma
// before a later "and" would split it ("I think he left and she stayed").
constexpr std::string_view kEmbedding[] = {
    "after", "although", "as", "because", "before", "between", "both", "either", "how", "if", "neither", "since",
    "than", "that", "though", "unless", "until", "what", "when", "whether", "which", "while", "who", "whom", "whose",
    "where", "why", "agree", "believe", "believed", "believes", "expect", "explain", "explained", "feel", "feels",
    "felt", "find", "found", "forget", "forgot", "guess", "hear", "heard", "hope", "hoped", "hopes", "imagine", "know",
    "knew", "knows", "mean", "means", "meant", "notice", "noticed", "promise", "promised", "realize", "realized",
    "realise", "realised", "remember", "said", "say", "says", "see", "saw", "show", "showed", "shows", "suppose",
    "sure", "tell", "told", "think", "thinks", "thought", "understand", "understood", "wish"};
// Verbs that take a clause without "that" ("I said we were", "he hoped they
// would"), in their base form; their -s and -ed forms are found from it.
constexpr std::string_view kClauseVerbs[] = {
    "add", "admit", "agree", "announce", "answer", "argue", "assume", "believe", "bet", "claim", "complain",
    "confirm", "consider", "decide", "demand", "deny", "discover", "doubt", "estimate", "expect", "explain", "fear",
    "feel", "figure", "find", "forget", "guess", "hear", "hope", "imagine", "indicate", "insist", "know", "learn",
    "mean", "mention", "note", "notice", "predict", "pretend", "promise", "propose", "prove", "realise", "realize",
    "recall", "reckon", "recommend", "remember", "reply", "report", "require", "say", "see", "show", "state",
    "suggest", "suppose", "suspect", "swear", "tell", "think", "understand", "warn", "wish", "worry", "write"};
constexpr std::string_view kClauseVerbPasts[] = {"felt", "forgot", "forgotten", "found", "heard", "knew", "known",
                                                 "learnt", "meant", "said", "saw", "seen", "shown", "swore", "told",
                                                 "thought", "understood", "wrote", "written"};
bool takesClause(std::string_view w) {
    if (in<kClauseVerbs>(w) || in<kClauseVerbPasts>(w)) return true;
    for (std::string_view ending : {"s", "es", "d", "ed"})
        if (endsWith(w, ending) && in<kClauseVerbs>(w.substr(0, w.size() - ending.size()))) return true;
    if (endsWith(w, "ied") && in<kClauseVerbs>(std::string(w.substr(0, w.size() - 3)) + "y")) return true;
    return false;
}

constexpr std::string_view kDeterminers[] = {
    "a", "an", "the", "this", "that", "these", "those", "my", "your", "his", "her", "its", "our", "their", "some",
    "any", "no", "every", "each", "many", "most", "much", "several", "all", "both", "few", "one", "another", "other"};
constexpr std::string_view kPrepositions[] = {
    "about", "above", "across", "after", "against", "along", "among", "around", "at", "before", "behind", "below",
    "beside", "besides", "between", "beyond", "by", "despite", "during", "except", "for", "from", "in", "inside",
    "into", "like", "near", "of", "off", "on", "onto", "out", "outside", "over", "per", "since", "through",
    "throughout", "to", "toward", "towards", "under", "unlike", "until", "upon", "with", "within", "without"};
// Words that join a clause to what came before.
constexpr std::string_view kJoiners[] = {
    "and", "but", "or", "so", "yet", "nor", "because", "that", "if", "when", "while", "although", "though", "since",
    "as", "until", "unless", "then", "whether", "once", "where", "after", "before"};
// Determiners that open a subject ("the price was", "all the parts have").
constexpr std::string_view kNounPhraseStarts[] = {
    "the", "a", "an", "my", "your", "his", "her", "our", "their", "its", "these", "those", "some", "most", "all",
    "every", "each", "many", "no"};
// Verbs that take a person and a clause ("tell him he is").
constexpr std::string_view kTelling[] = {
    "tell", "told", "tells", "show", "showed", "shows", "teach", "taught", "remind", "reminded", "convince",
    "convinced", "promise", "promised", "warn", "warned", "inform", "informed", "assure", "assured", "ask", "asked",
    "let", "make", "made", "help", "see", "saw", "hear", "heard", "watch", "want", "wanted", "give", "gave"};
constexpr std::string_view kObjectPronouns[] = {
    "me", "him", "her", "us", "them", "it", "you", "i", "he", "she", "we", "they"};

// Introductions that are set off wherever they open a sentence: before any
// word but one that makes them part of the clause ("In addition to", "As a
// result of", "Of course not"). Not those that may begin a longer phrase
// ("In general elections", "In short supply", "To conclude the deal").
constexpr std::string_view kIntroductions[] = {
    "as a matter of fact", "as a result", "as far as i am concerned", "as far as i know", "consequently",
    "first of all", "for example", "for instance", "furthermore", "in addition", "in conclusion", "in fact",
    "in my opinion", "in my view", "in other words", "in summary", "moreover", "nevertheless", "nonetheless",
    "nowadays", "of course", "on the contrary", "on the one hand", "on the other hand", "therefore",
    "to be honest", "to sum up", "however", "yes"};
// Words after which an introduction is part of the clause.
constexpr std::string_view kIntroductionGoesOn[] = {
    "to", "of", "than", "not", "as", "is", "are", "was", "were", "and", "or", "but", "so", "that", "enough", "too",
    "much", "more", "many", "long", "far", "few", "little", "often", "well", "soon"};

// What opens a sentence with a clause ("If you want a car, you save") or
// with a phrase ("In the past few years, they have").
constexpr std::string_view kClauseOpeners[] = {
    "if", "when", "although", "though", "because", "while", "unless", "whenever", "once"};
constexpr std::string_view kPhraseOpeners[] = {
    "in", "at", "on", "during", "by", "with", "without", "for", "from", "under", "through", "throughout", "despite",
    "among", "within", "unlike", "besides", "as", "to"};
constexpr std::string_view kEitherOpeners[] = {"after", "before", "since", "until", "as"};

// A participle that opens a phrase ("Walking home, I", "Based on this, we"):
// an -ing word that is no noun, or an -ed word before its preposition.
constexpr std::string_view kIngNouns[] = {"anything", "building", "ceiling", "evening", "everything", "morning",
                                          "nothing", "something", "spring", "string", "thing", "things", "wedding"};
bool participle(std::string_view w, std::string_view next) {
    if (w.size() >= 5 && endsWith(w, "ing")) return !in<kIngNouns>(w);
    return w.size() >= 5 && endsWith(w, "ed") && in<kPrepositions>(next);
}

// One sentence's solid tokens.
struct Unit {
    std::size_t token;
    std::string lower;  // the lower-case English word, empty for anything else
    bool capital = false;
};

class Sentence {
public:
    Sentence(const Tokens& tokens, std::vector<Unit> units, std::vector<std::size_t>& commas,
             std::vector<std::size_t>& drops)
        : tokens_(tokens), units_(std::move(units)), commas_(commas), drops_(drops), after_(units_.size(), false) {}

    std::size_t size() const { return units_.size(); }
    // A view, so that the rules' many comparisons with a literal check the length first.
    std::string_view w(std::size_t k) const {
        return k < units_.size() ? std::string_view(units_[k].lower) : std::string_view();
    }
    bool isWord(std::size_t k) const { return k < units_.size() && !units_[k].lower.empty(); }
    bool capital(std::size_t k) const { return k < units_.size() && units_[k].capital; }
    bool isMark(std::size_t k, std::string_view marks) const {
        return k < units_.size() && units_[k].lower.empty() && tokens_[units_[k].token].kind == TokenKind::punct &&
               marks.find(tokens_[units_[k].token].text) != std::string_view::npos;
    }
    // Two words with one blank between them, so a comma may go after the first.
    bool canInsertAfter(std::size_t k) const {
        if (!isWord(k) || !isWord(k + 1) || after_[k]) return false;
        std::size_t t = units_[k].token;
        return units_[k + 1].token == t + 2 && tokens_[t + 1].kind == TokenKind::space && tokens_[t + 1].text == " ";
    }
    // A comma at k that stands between two words ("believe, that").
    bool canRemove(std::size_t k) const {
        if (!isMark(k, ",") || !isWord(k - 1) || !isWord(k + 1)) return false;
        const std::size_t t = units_[k].token;
        return units_[k - 1].token + 1 == t && units_[k + 1].token == t + 2 && tokens_[t + 1].text == " ";
    }
    void remove(std::size_t k) { drops_.push_back(units_[k].token); }
    void insertAfter(std::size_t k) {
        after_[k] = true;
        commas_.push_back(units_[k].token);
    }
    bool commaSetAfter(std::size_t k) const { return k < after_.size() && after_[k]; }
    // The unit after which the clause holding unit k starts, or npos at the sentence's start.
    std::size_t clauseStart(std::size_t k) const {
        while (k > 0) {
            --k;
            if (!isWord(k) || after_[k]) return k;
        }
        return std::string::npos;
    }

    // Whether the word at k is a finite verb after the subject pronoun `subject`.
    bool verbAfter(std::string_view subject, std::size_t k) const {
        if (!isWord(k) || capital(k)) return false;
        const std::string_view v = w(k);
        if (in<kMidAdverbs>(v) || (endsWith(v, "ly") && v != "fly" && v != "reply")) return verbAfter(subject, k + 1);
        if (in<kFinite>(v)) return true;
        if (in<kNotVerbs>(v) || in<kDeterminers>(v) || (in<kPrepositions>(v) && v != "like") ||
            in<kSubjectPronouns>(v) || oneOf(v, "guys", "people", "two", "three"))  // "you guys"
            return false;
        if (subject == "it")
            return (endsWith(v, "s") && !endsWith(v, "ss") && !endsWith(v, "'s")) || endsWith(v, "ed") ||
                   in<kIrregularPasts>(v);
        return v.find('\'') == std::string::npos;
    }
    // Whether a subject and its verb start at k ("they are", "it's", "there is").
    bool subjectAndVerbAt(std::size_t k) const {
        const std::string_view s = w(k);
        if (in<kSubjectContractions>(s)) return true;
        if (in<kIndefinites>(s)) return verbAfter("it", k + 1);  // "nothing happened", "everyone knows"
        if (s == "there") return in<kFinite>(w(k + 1)) || oneOf(w(k + 1), "seems", "seem", "seemed", "used");
        return in<kSubjectPronouns>(s) && verbAfter(s, k + 1);
    }
    // Whether units [from, to) hold a finite verb: an auxiliary, a past, or a
    // subject pronoun's verb.
    bool hasFiniteVerb(std::size_t from, std::size_t to) const {
        for (std::size_t k = from; k < to; ++k) {
            const std::string_view v = w(k);
            if (in<kFinite>(v) || in<kSubjectContractions>(v) || subjectAndVerbAt(k)) return true;
            if (k == from && (v == "this" || v == "that") && endsWith(w(k + 1), "s") && !endsWith(w(k + 1), "'s"))
                return true;  // "This offers"
            if ((endsWith(v, "ed") || in<kIrregularPasts>(v)) && k > from && isWord(k - 1) &&
                !in<kDeterminers>(w(k - 1)) && !in<kPrepositions>(w(k - 1)) && w(k - 1) != "been" && w(k - 1) != "be")
                return true;
        }
        return false;
    }
    std::size_t wordsIn(std::size_t from, std::size_t to) const {
        std::size_t n = 0;
        for (std::size_t k = from; k < to; ++k) n += isWord(k);
        return n;
    }
    // The end of the clause that starts at k: the next mark or the sentence's end.
    std::size_t clauseEnd(std::size_t k) const {
        while (k < units_.size() && isWord(k)) ++k;
        return k;
    }
    template <class Words>
    bool anyOf(std::size_t from, std::size_t to, const Words& words) const {
        for (std::size_t k = from; k < to; ++k)
            if (in(words, w(k))) return true;
        return false;
    }

private:
    const Tokens& tokens_;
    std::vector<Unit> units_;
    std::vector<std::size_t>& commas_;
    std::vector<std::size_t>& drops_;
    std::vector<bool> after_;
};

// Adverbs of time and degree that may stand between "but" and its clause.
constexpr std::string_view kButAdverbs[] = {"even", "now", "then", "still", "right", "today", "sometimes",
                                            "maybe", "perhaps", "later", "soon", "nowadays", "instead"};

// The words of the introduction that starts at unit `at`, or 0.
std::size_t introductionLength(const Sentence& s, std::size_t at = 0) {
    const std::string_view first = s.w(at);
    if (first.empty()) return 0;
    std::size_t longest = 0;
    for (std::string_view phrase : kIntroductions) {
        if (phrase[0] != first[0] || !phrase.starts_with(first) ||
            (phrase.size() > first.size() && phrase[first.size()] != ' '))
            continue;
        std::size_t k = at, from = 0;
        while (true) {
            std::size_t blank = phrase.find(' ', from);
            if (s.w(k) != phrase.substr(from, blank == std::string_view::npos ? std::string_view::npos : blank - from))
                break;
            ++k;
            if (blank == std::string_view::npos) {
                longest = std::max(longest, k - at);
                break;
            }
            from = blank + 1;
        }
    }
    return longest;
}

// Adverbs that open a sentence and are set off by the writer's comma.
constexpr std::string_view kLeadAdverbs[] = {
    "so", "thus", "hence", "then", "also", "now", "still", "besides", "finally", "first", "firstly", "second",
    "secondly", "third", "thirdly", "lastly", "next", "later", "meanwhile", "instead", "otherwise", "overall",
    "actually", "unfortunately", "fortunately", "luckily", "sadly", "clearly", "obviously", "indeed", "similarly",
    "additionally", "personally", "honestly", "basically", "ultimately", "eventually", "anyway", "well"};

// Where the sentence goes on after an introduction that the writer set off
// with a comma ("However, if you want …", "So, to get there …"), or 0.
std::size_t afterLeadIn(const Sentence& s) {
    std::size_t n = introductionLength(s);
    if (n == 0 && in<kLeadAdverbs>(s.w(0))) n = 1;
    return n > 0 && s.isMark(n, ",") && s.isWord(n + 1) ? n + 1 : 0;
}

// "For example, each of", "However, I still think": an introduction before
// the clause. "However" before a pronoun opens a clause of its own when a
// comma follows later ("However you look at it, it works"), and before any
// other word it belongs to that word ("However hard").
void afterIntroduction(Sentence& s, std::size_t at) {
    // "Thus, after a long wait we", "Hence, even now it": set apart from an adverb
    // or a phrase that opens the clause after it. Straight before the subject
    // it reads as part of the clause ("Thus we left"), and a phrase with no
    // verb is no clause ("Hence the name").
    if (at == 0 && oneOf(s.w(0), "thus", "hence") && s.canInsertAfter(0)) {
        const std::string_view next = s.w(1);
        const bool opensClause = (in<kPrepositions>(next) && !in<kIntroductionGoesOn>(next)) ||
                                 in<kMidAdverbs>(next) || in<kButAdverbs>(next);
        if (opensClause && s.hasFiniteVerb(1, s.clauseEnd(1))) s.insertAfter(0);
        return;
    }
    // "No I have not", "Yes that is true": an answer before a clause. Before
    // anything else "no" is a determiner ("No one came").
    if (oneOf(s.w(at), "yes", "no") && s.canInsertAfter(at) &&
        (s.subjectAndVerbAt(at + 1) || (oneOf(s.w(at + 1), "that", "this") && in<kFinite>(s.w(at + 2))) ||
         oneOf(s.w(at + 1), "that's", "this's"))) {
        s.insertAfter(at);
        return;
    }
    // "These days we walk": the phrase is an adverb of time only before a
    // clause; "These days are long" is its subject, and a verb soon after
    // makes the clause a relative one ("These days we spent there were fun").
    if (s.w(at) == "these" && s.w(at + 1) == "days") {
        if (!s.canInsertAfter(at + 1) || !s.subjectAndVerbAt(at + 2)) return;
        for (std::size_t k = at + 4; k < s.clauseEnd(at + 2); ++k)
            if (in<kFinite>(s.w(k)) && !in<kSubjectPronouns>(s.w(k - 1))) return;
        s.insertAfter(at + 1);
        return;
    }
    std::size_t n = introductionLength(s, at);
    if (n == 0 || !s.canInsertAfter(at + n - 1)) return;
    n += at;
    const std::string_view next = s.w(n);
    if (in<kIntroductionGoesOn>(next)) return;
    // "Of course we can": before a subject pronoun it reads as part of the clause.
    if (s.w(at) == "of" && in<kSubjectPronouns>(next)) return;
    if (s.w(at) == "however") {
        bool pronoun = in<kSubjectPronouns>(next);
        if (!pronoun && !in<kDeterminers>(next) && !s.capital(n)) return;
        for (std::size_t k = n; pronoun && k < s.size(); ++k)
            if (s.isMark(k, ",;:")) return;
    }
    s.insertAfter(n - 1);
}

// Pasts that are no participles: after a noun they are its verb ("the
// rain came"), unlike "the money left over".
constexpr std::string_view kPlainPasts[] = {"ate", "became", "began", "came", "chose", "drank", "drove", "fell",
                                            "flew", "forgot", "gave", "grew", "knew", "ran", "saw", "spoke",
                                            "took", "went", "wore", "wrote"};
// A verb's -s form after a noun ("the wood turns"); a plural noun there
// would start the clause at the same word, so it needs no telling apart.
bool presentTense(std::string_view w) {
    return w.size() > 3 && endsWith(w, "s") && !endsWith(w, "ss") && !endsWith(w, "'s") && !endsWith(w, "us") &&
           !endsWith(w, "is");
}

// The subject that opens a clause at k, with its verb: a pronoun, "there",
// "this is", or a determiner's noun phrase before an auxiliary ("the price
// was"). Returns whether one does.
bool clauseAt(const Sentence& s, std::size_t k) {
    if (oneOf(s.w(k), "then", "now", "so", "thus", "therefore", "also", "still") && s.isWord(k + 1)) ++k;
    if (s.subjectAndVerbAt(k)) return true;
    const std::string_view first = s.w(k);
    if ((first == "this" || first == "that") && in<kFinite>(s.w(k + 1))) return true;
    if (in<kNounPhraseStarts>(first))
        for (std::size_t j = k + 2; j <= k + 5; ++j) {  // "the demand for new cars will"
            if (!s.isWord(j) || in<kJoiners>(s.w(j - 1)) || in<kSubjectPronouns>(s.w(j - 1)) ||
                in<kIndefinites>(s.w(j - 1)) ||
                (j - 1 > k + 1 && in<kNounPhraseStarts>(s.w(j - 1))))  // "all the parts" is one
                break;
            if (in<kFinite>(s.w(j)) && s.w(j) != "do" && s.w(j) != "does" && s.w(j) != "did") return true;
            // A plain verb only right after its noun ("the wood turns", not "a lot of struggles").
            if (j == k + 2 && (in<kPlainPasts>(s.w(j)) || presentTense(s.w(j))) && !endsWith(s.w(k + 1), "ly") &&
                !in<kPrepositions>(s.w(k + 1)))
                return true;
        }
    return false;
}

// Whether a subject pronoun and its verb right after `from`, not joined by a
// conjunction, show a clause inside another ("In the house they built there
// was …", "If you buy a car you like you …").
bool embeddedClauseAfter(const Sentence& s, std::size_t from) {
    for (std::size_t k = from; k < std::min(s.size(), from + 3) && !s.isMark(k, ",;:"); ++k)
        if (k > 0 && s.isWord(k - 1) && !in<kJoiners>(s.w(k - 1)) && !in<kEmbedding>(s.w(k - 1)) &&
            s.subjectAndVerbAt(k))
            return true;
    return false;
}

// "If you want a car, you save": an opening clause or phrase that ends where
// the main clause's subject and its verb start (a pronoun, or a determiner's
// noun before an auxiliary: "In a market economy, the price must"). The
// clause needs a verb of its own, the phrase none; held back after a verb or
// a function word, which may take the next clause as theirs ("When I said we
// were", "If the teacher told them that they"), after a pronoun that a verb
// of telling governs ("If I tell him he"), where the clause has a relative
// pronoun, and where the writer set a comma later.
void afterOpening(Sentence& s, std::size_t at) {
    // Not after "only", whose phrase turns the main clause round ("Only by
    // trying can you learn"): the fault there is the order, not a comma.
    if (s.w(at) == "only") return;
    std::size_t o = at + (oneOf(s.w(at), "so", "thus", "but", "and", "then", "even", "just", "also") ? 1 : 0);
    const std::string_view opener = s.w(o);
    // "Because of the rain, we": "because of" opens a phrase, not a clause.
    const bool becauseOf = opener == "because" && s.w(o + 1) == "of";
    const bool clause = in<kClauseOpeners>(opener) && !becauseOf, either = in<kEitherOpeners>(opener),
               byParticiple = !in<kPhraseOpeners>(opener) && participle(opener, s.w(o + 1)),
               phrase = in<kPhraseOpeners>(opener) || byParticiple || becauseOf;
    if ((!clause && !phrase && !either) || (opener == "at" && oneOf(s.w(o + 1), "least", "most", "all"))) return;
    // After the writer's own comma ("Moreover, for daily use we …") a
    // prepositional phrase often runs on into the clause, to spare a second
    // comma; a clause or an infinitive of purpose is still closed.
    const bool runsOn = at > 0 && !clause && !byParticiple && opener != "to";
    for (std::size_t k = o + 2; k < std::min<std::size_t>(s.size(), o + 14); ++k) {
        if (!s.isWord(k)) return;
        const bool pronoun = s.subjectAndVerbAt(k);
        const bool nounPhrase = !pronoun && in<kNounPhraseStarts>(s.w(k)) && clauseAt(s, k);
        if (!pronoun && !nounPhrase) continue;
        const std::size_t b = k - 1;
        const std::string_view before = s.w(b);
        // "By avoiding this, we", "After that, they": a pronoun, not a determiner.
        const bool demonstrative = pronoun && (oneOf(before, "this", "these", "those") ||
                                               (before == "that" && in<kPrepositions>(s.w(b - 1))));
        // The clause may be the object of a verb before it ("When I said we").
        const bool verbBefore = !demonstrative && (in<kFinite>(before) || in<kEmbedding>(before) || takesClause(before));
        const bool object = oneOf(before, "me", "him", "her", "us", "them", "it") && !in<kTelling>(s.w(b - 1));
        const bool held = verbBefore || (in<kObjectPronouns>(before) && !object) ||
                          (in<kDeterminers>(before) && !demonstrative) ||
                          (in<kPrepositions>(before) && !in<kDeterminers>(s.w(b - 1))) ||  // "the above"
                          (in<kJoiners>(before) && !(before == "then" && in<kPrepositions>(s.w(b - 1))) &&
                           !demonstrative) ||
                          (in<kNotVerbs>(before) && !demonstrative && before != "there" && before != "here") ||
                          oneOf(before, "not", "very", "so", "too", "more", "less") || !s.canInsertAfter(b);
        // "To watch the birds is fun": right after the infinitive's verb, a
        // noun phrase is its object, not the main clause's subject.
        const bool infinitiveObject = opener == "to" && b == o + 1 && nounPhrase;
        if (held || infinitiveObject) {
            if (nounPhrase) continue;
            return;
        }
        // "When my sister arrives": a noun subject's verb in -s.
        bool hasVerb = s.hasFiniteVerb(o + 1, k);
        for (std::size_t j = o + 3; clause && !hasVerb && j < std::min(k, o + 6); ++j)
            hasVerb = in<kNounPhraseStarts>(s.w(o + 1)) && presentTense(s.w(j)) && !in<kPrepositions>(s.w(j - 1));
        // "When young people travel": a plural with no -s before its verb.
        for (std::size_t j = o + 2; clause && !hasVerb && j < std::min(k, o + 5); ++j)
            hasVerb = oneOf(s.w(j - 1), "people", "children", "men", "women") && !in<kNotVerbs>(s.w(j)) &&
                      !in<kDeterminers>(s.w(j)) && !in<kPrepositions>(s.w(j)) && !endsWith(s.w(j), "ing");
        if ((clause && !hasVerb) || (phrase && !either && hasVerb) || (runsOn && !hasVerb)) return;
        // "Travelling alone gives you the freedom …": an -ing phrase may be the subject of a verb in -s.
        if (byParticiple)
            for (std::size_t j = o + 1; j < k; ++j)
                if (presentTense(s.w(j))) return;
        if (s.anyOf(o + 1, k, List{"who", "whom", "whose", "which"})) return;
        // The writer's own comma later may end the opening instead ("If you
        // buy a car you like, you"), unless a conjunction that starts a new
        // clause before it shows that it ends a later one ("…, but if you do not,").
        auto newClause = [&](std::size_t j) {
            return oneOf(s.w(j), "and", "but", "or", "so") &&
                   (in<kClauseOpeners>(s.w(j + 1)) || s.subjectAndVerbAt(j + 1));
        };
        for (std::size_t j = k; j < s.size(); ++j) {
            if (newClause(j) || (s.isMark(j, ",") && newClause(j + 1))) break;
            // The commas that set off a "for example" aside end no opening.
            if (s.isMark(j, ",") && s.w(j + 1) == "for" && oneOf(s.w(j + 2), "example", "instance")) {
                j += s.isMark(j + 3, ",") ? 3 : 2;
                continue;
            }
            if (s.isMark(j, ",;:")) return;
        }
        // "To buy the car they wanted was hard": the clause ends where a second verb comes.
        // A modal's base form is the same verb ("you can do"), not a second one.
        const bool modalBase = in<kModals>(s.w(k + 1)) && oneOf(s.w(k + 2), "do", "have", "be") &&
                               !in<kFinite>(s.w(k + 3));
        if (embeddedClauseAfter(s, k + 2) || (pronoun && in<kFinite>(s.w(k + 2)) && !modalBase)) {
            // "To fit into the town we moved to, we learnt": a relative clause
            // that ends on its preposition, which cannot take the pronoun after
            // it; the main clause starts there.
            const std::size_t m = k + 3;
            if (in<kSubjectPronouns>(s.w(k)) && s.verbAfter(s.w(k), k + 1) && !in<kMidAdverbs>(s.w(k + 1)) &&
                in<kPrepositions>(s.w(k + 2)) && in<kSubjectPronouns>(s.w(m)) && s.subjectAndVerbAt(m) &&
                s.canInsertAfter(k + 2) && !embeddedClauseAfter(s, m + 2))
                s.insertAfter(k + 2);
            return;
        }
        s.insertAfter(b);
        return;
    }
}

// "Then, when we arrived, it rained": "then" or "now" before an opening
// clause that a comma closes is set off as the clause is.
void beforeOpeningClause(Sentence& s) {
    if (!oneOf(s.w(0), "then", "now") || !s.canInsertAfter(0) ||
        !(in<kClauseOpeners>(s.w(1)) || in<kEitherOpeners>(s.w(1))))
        return;
    for (std::size_t k = 2; k < s.size(); ++k)
        if (s.isMark(k, ",") || s.commaSetAfter(k)) {
            s.insertAfter(0);
            return;
        }
}

// Whether the clause [from, k) and the one whose noun subject starts at
// `second` have the same modal for their verb.
bool sameModal(const Sentence& s, std::size_t from, std::size_t k, std::size_t second) {
    std::size_t first = from;
    while (first < k && !in<kFinite>(s.w(first))) ++first;
    if (first == k || !in<kModals>(s.w(first)) || !in<kNounPhraseStarts>(s.w(second))) return false;
    for (std::size_t j = second + 1; j < std::min(s.clauseEnd(second), second + 6); ++j)
        if (in<kFinite>(s.w(j))) return s.w(j) == s.w(first);
    return false;
}

// "I stayed at home, but he went out": a conjunction between two clauses
// that each have a subject and a finite verb and are not short. Held back
// where the first clause embeds what follows ("I think he left and she
// stayed", "both … and", "whether … or"), after a pronoun ("you and they
// are"), and in lists.
void beforeConjunctions(Sentence& s) {
    for (std::size_t k = 1; k + 1 < s.size(); ++k) {
        if (!oneOf(s.w(k), "and", "but", "or", "yet") || s.capital(k) || !s.canInsertAfter(k - 1)) continue;
        // Short clauses that "and" or "or" join closely need none ("the colour was lovely and it was").
        const bool but = s.w(k) == "but";
        // "but" may put an adverb or an opening clause before its subject
        // ("…, but right now I am", "…, but even if he wanted"); a noun
        // after it makes it "except" ("everything but the books they wrote").
        std::size_t second = k + 1;
        if (but)
            while (second < k + 4 && !clauseAt(s, second) &&
                   (in<kClauseOpeners>(s.w(second)) || in<kEitherOpeners>(s.w(second)) ||
                    in<kButAdverbs>(s.w(second)) || (endsWith(s.w(second), "ly") && s.w(second) != "only")))
                ++second;
        if (!clauseAt(s, second)) continue;
        const std::size_t start = s.clauseStart(k);
        const std::size_t from = start == std::string::npos ? 0 : start + 1;
        // A short second clause stands apart only after a long first one ("…
        // risky and strange things, and he enjoys it").
        const std::size_t secondWords = s.wordsIn(second, s.clauseEnd(second));
        if (secondWords < 3 || (!but && secondWords < 4 && s.wordsIn(from, k) < 8)) continue;
        // "like this, but": a demonstrative that ends the clause is a pronoun.
        const bool demonstrative = but && oneOf(s.w(k - 1), "this", "that", "these", "those");
        if (s.wordsIn(from, k) < (but ? 4u : 6u) || in<kObjectPronouns>(s.w(k - 1)) ||
            (in<kDeterminers>(s.w(k - 1)) && !demonstrative) ||
            in<kPrepositions>(s.w(k - 1)) || !s.hasFiniteVerb(from, k))
            continue;
        // "but" sets its clause against the whole of what came before, even
        // where that holds a clause of its own ("I know you tried, but it").
        if (!but && s.anyOf(from, k, kEmbedding)) continue;
        if (but && s.anyOf(from, k, List{"only"})) continue;  // "not only … but"
        // "The gas will spoil the air and it will …": "it" or "they" after a
        // noun subject takes that subject up again, and the one subject's two
        // predicates are joined closely.
        std::size_t subject = from;  // past an adverb that opens the clause ("Also the …")
        while (subject + 1 < k && (oneOf(s.w(subject), "also", "so", "and", "then", "thus", "therefore", "now",
                                         "still") ||
                                   endsWith(s.w(subject), "ly")))
            ++subject;
        if (!but && in<kNounPhraseStarts>(s.w(subject)) &&
            oneOf(s.w(second), "it", "they", "it's", "they're", "they've", "they'll", "it'll", "they'd"))
            continue;
        // "The roads would flood and the buses would stop": two things under
        // one modal, each with a noun for subject, share its condition and
        // are joined closely; a word such as "so" after "and" makes the
        // second a step of its own.
        if (!but && sameModal(s, from, k, second)) continue;
        s.insertAfter(k - 1);
    }
}

// "We went to Kyoto, which is": "which" after a noun the reader already
// knows (a name, one after "my", "this", …, or a noun without a determiner
// after a preposition), where a verb follows and a whole clause comes
// before it. After "a", "the" or a plural the clause may tell which one is
// meant ("a tool which cuts"), so it stays.
void beforeWhich(Sentence& s) {
    for (std::size_t k = 2; k + 1 < s.size(); ++k) {
        if (s.w(k) != "which" || s.capital(k) || !s.canInsertAfter(k - 1)) continue;
        const std::size_t noun = k - 1;
        const std::string_view n = s.w(noun);
        if (in<kPrepositions>(n) || in<kDeterminers>(n) || in<kJoiners>(n) || in<kEmbedding>(n) ||
            in<kFinite>(n) || in<kObjectPronouns>(n) || in<kNotVerbs>(n) || endsWith(n, "ly"))
            continue;
        bool known = s.capital(noun);
        if (!known) {
            std::size_t d = noun;
            while (d > 0 && s.isWord(d - 1) && noun - d < 3 && !in<kDeterminers>(s.w(d - 1)) &&
                   !in<kPrepositions>(s.w(d - 1)))
                --d;
            const std::string_view det = d > 0 ? s.w(d - 1) : std::string_view();
            const bool possessive = oneOf(det, "my", "your", "his", "her", "our", "their", "its", "this", "that");
            const bool bare = d == noun && in<kPrepositions>(det) && !endsWith(n, "s");
            known = possessive || bare;
        }
        const std::string_view verb = s.w(k + 1);
        // "more cars, which means more smoke": a verb in -s cannot have a
        // plural for subject, so "which" takes up the whole clause.
        known = known || (presentTense(n) && n.size() > 4 &&
                          oneOf(verb, "means", "makes", "gives", "shows", "leads", "causes", "helps", "explains",
                                "proves", "allows", "results"));
        // "which" is the clause's subject before a verb, its object before
        // a subject of its own ("my car, which he sold").
        const bool verbFollows = in<kFinite>(verb) || s.subjectAndVerbAt(k + 1) ||
                                 ((endsWith(verb, "s") || endsWith(verb, "ed")) && !in<kDeterminers>(verb) &&
                                  !in<kSubjectPronouns>(verb));
        // "limit which files can be read": "which" picks a noun that is the
        // subject of an indirect question, the object of the verb before it.
        const bool asksWhich = k + 2 < s.size() && s.isWord(k + 2) && in<kFinite>(s.w(k + 2)) &&
                               !in<kFinite>(verb) && !in<kSubjectPronouns>(verb);
        const std::size_t start = s.clauseStart(k);
        if (!known || !verbFollows || asksWhich || !s.hasFiniteVerb(start == std::string::npos ? 0 : start + 1, k) ||
            s.anyOf(k + 1, s.clauseEnd(k), List{"which"}))
            continue;
        s.insertAfter(k - 1);
    }
}

// "I like fruit, especially apples", "There are ways, for example, the bus":
// words that add an example to a whole clause; and "and so on" after a list.
void aroundExamples(Sentence& s) {
    for (std::size_t k = 2; k + 1 < s.size(); ++k) {
        // "cheap and warm, and so on": a list's open end is set off. After a
        // list with commas ("bread, cakes and so on") it is the writer's last
        // item, whose comma is theirs to choose.
        if (s.w(k) == "and" && s.w(k + 1) == "so" && oneOf(s.w(k + 2), "on", "forth") &&
            (k + 3 == s.size() || s.isMark(k + 3, ",;:)")) && s.canInsertAfter(k - 1)) {
            const std::size_t start = s.clauseStart(k);
            if (start == std::string::npos || !s.isMark(start, ",")) s.insertAfter(k - 1);
        }
        if (s.w(k) != "especially" && s.w(k) != "for") continue;
        const std::size_t start = s.clauseStart(k);
        const std::size_t from = start == std::string::npos ? 0 : start + 1;
        if (s.w(k) == "especially" && s.canInsertAfter(k - 1) && s.hasFiniteVerb(from, k)) {
            const std::string_view before = s.w(k - 1);
            const std::string_view after = s.w(k + 1);
            const bool set = in<kPrepositions>(after) || in<kDeterminers>(after) ||
                             oneOf(after, "when", "if", "because", "where", "while", "now", "today", "those");
            if (set && !in<kFinite>(before) && !in<kObjectPronouns>(before) && !in<kDeterminers>(before) &&
                !in<kNotVerbs>(before) && !oneOf(before, "not", "very", "be", "been", "being", "seem", "seems",
                                                 "seemed", "look", "looks", "feel", "feels", "become", "becomes"))
                s.insertAfter(k - 1);
        }
        // "…, for example if you …": the writer opened the aside; a clause
        // after it closes it.
        if (s.w(k) == "for" && oneOf(s.w(k + 1), "example", "instance") && s.isMark(k - 1, ",") &&
            s.canInsertAfter(k + 1) && (in<kClauseOpeners>(s.w(k + 2)) || clauseAt(s, k + 2)))
            s.insertAfter(k + 1);
        if (s.w(k) == "for" && oneOf(s.w(k + 1), "example", "instance") && s.canInsertAfter(k - 1) &&
            !oneOf(s.w(k - 1), "as", "like", "such") && !in<kPrepositions>(s.w(k - 1)) &&
            !in<kDeterminers>(s.w(k - 1)) && s.wordsIn(from, k) >= 2) {
            // Inside a clause that goes on it is set off on both sides.
            s.insertAfter(k - 1);
            if (s.canInsertAfter(k + 1) && (in<kFinite>(s.w(k - 1)) || s.hasFiniteVerb(k + 2, s.clauseEnd(k + 2))))
                s.insertAfter(k + 1);
        }
    }
}

// Comparatives that pair up in "the more you read, the less you know".
constexpr std::string_view kComparatives[] = {
    "more", "less", "fewer", "better", "worse", "bigger", "smaller", "longer", "shorter", "harder", "faster",
    "slower", "sooner", "later", "earlier", "older", "younger", "higher", "lower", "greater", "easier", "happier",
    "richer", "cheaper", "larger", "stronger", "weaker", "further", "farther", "deeper", "wider", "closer",
    "quicker", "simpler", "safer", "louder"};

// "The harder you work, the more you earn": the two halves of a paired
// comparative, where the first opens a clause and has its own subject
// pronoun and verb ("the bigger dog chased the smaller cat" has none).
void betweenComparatives(Sentence& s) {
    for (std::size_t k = 0; k + 4 < s.size(); ++k) {
        if (s.w(k) != "the" || !in<kComparatives>(s.w(k + 1))) continue;
        const std::string_view before = k > 0 ? s.w(k - 1) : std::string_view();
        if (k > 0 && s.isWord(k - 1) && !in<kJoiners>(before) && !takesClause(before)) continue;
        std::size_t j = k + 2;
        while (j < k + 5 && s.isWord(j) && !s.subjectAndVerbAt(j)) ++j;
        if (!s.isWord(j) || !s.subjectAndVerbAt(j)) continue;
        // A second verb ends the half: "the older man we met was kind".
        for (std::size_t m = j + 2; m + 1 < s.size() && s.isWord(m); ++m) {
            if (in<kFinite>(s.w(m)) && !(m == j + 2 && in<kFinite>(s.w(j + 1)))) break;
            if (s.w(m) != "the" || !in<kComparatives>(s.w(m + 1))) continue;
            const std::string_view end = s.w(m - 1);
            if (s.canInsertAfter(m - 1) && !in<kDeterminers>(end) && !in<kNotVerbs>(end) && !in<kJoiners>(end))
                s.insertAfter(m - 1);
            break;
        }
    }
}

// "The plan, however, failed": "however" set off between a subject and its
// verb, or after a clause it ends. Before an adjective or an adverb it says
// "to whatever degree" ("however hard we try") and takes none.
void aroundHowever(Sentence& s) {
    for (std::size_t k = 1; k < s.size(); ++k) {
        if (s.w(k) != "however" || s.capital(k) || !s.canInsertAfter(k - 1)) continue;
        const std::string_view before = s.w(k - 1);
        if (in<kFinite>(before) || in<kDeterminers>(before) || in<kPrepositions>(before) || in<kJoiners>(before) ||
            in<kNotVerbs>(before) || in<kEmbedding>(before))
            continue;
        const std::size_t start = s.clauseStart(k);
        const std::size_t from = start == std::string::npos ? 0 : start + 1;
        if (k + 1 == s.size()) {
            if (s.hasFiniteVerb(from, k)) s.insertAfter(k - 1);
        } else if (in<kFinite>(s.w(k + 1)) && s.canInsertAfter(k) && !s.hasFiniteVerb(from, k)) {
            s.insertAfter(k - 1);
            s.insertAfter(k);
        }
    }
}

// "I believe, that it works": no comma between a verb of thinking and the
// clause it governs, when a subject pronoun opens the sentence or follows a
// comma ("In my view, I think it works"). "that" must open the clause, not be
// its subject ("I think, that is"), and a clause without "that" must start
// with its own subject and verb.
constexpr std::string_view kThinking[] = {"think", "believe", "feel", "hope", "guess", "suppose", "expect",
                                          "assume", "thought", "believed", "felt", "hoped", "supposed", "expected",
                                          "assumed"};
void afterThinking(Sentence& s) {
    for (std::size_t k = 0; k + 3 < s.size(); ++k) {
        if ((k > 0 && !s.isMark(k - 1, ",")) || !oneOf(s.w(k), "i", "we", "they", "he", "she", "you")) continue;
        std::size_t v = k + 1;
        if (in<kMidAdverbs>(s.w(v)) || (endsWith(s.w(v), "ly") && s.w(v) != "only")) ++v;
        const std::string_view verb = s.w(v);
        const bool thinking =
            in<kThinking>(verb) || (endsWith(verb, "s") && in<kThinking>(verb.substr(0, verb.size() - 1)));
        if (!thinking || !s.canRemove(v + 1)) continue;
        const std::size_t c = v + 2;
        if (oneOf(s.w(c), "then", "now", "so", "thus", "therefore", "also", "still")) continue;  // "I think, therefore I am"
        if (s.isMark(c + 1, ",") || s.isMark(c + 2, ",") || s.isMark(c + 3, ",")) continue;  // "They feel, it seems, that"
        const bool clause = s.w(c) == "that" ? !in<kFinite>(s.w(c + 1)) && s.isWord(c + 1)
                                             : (oneOf(s.w(c), "this", "these", "those") && in<kFinite>(s.w(c + 2))) ||
                                                   clauseAt(s, c);
        if (clause) s.remove(v + 1);
    }
}

// Abbreviations whose full stop does not end a sentence.
constexpr std::string_view kAbbreviations[] = {
    "mr", "mrs", "ms", "dr", "prof", "st", "etc", "vs", "e.g", "i.e", "eg", "ie", "jr", "sr", "inc", "ltd", "co",
    "approx", "no", "fig"};
constexpr std::string_view kQuoteMarks = "\"'\u201C\u201D\u2018\u2019\u00AB\u00BB`";
// Words that continue a sentence begun before the selection.
constexpr std::string_view kContinuations[] = {
    "and", "but", "or", "nor", "yet", "which", "whom", "whose", "whereas", "because", "of", "than", "then"};

// Letters and apostrophes of ASCII only: most words, which need no Unicode tables.
bool isAsciiWord(std::string_view w) {
    return !w.empty() && std::all_of(w.begin(), w.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '\'';
    });
}

std::string lowerAscii(std::string_view w) {
    // Most words have no typographic apostrophe, nor any byte past ASCII.
    if (std::none_of(w.begin(), w.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        std::string out(w);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        return out;
    }
    std::string out;
    out.reserve(w.size());
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (w.compare(i, 3, "\u2019") == 0) {  // a typographic apostrophe reads as a plain one
            out += '\'';
            i += 2;
        } else {
            char c = w[i];
            out += c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
        }
    }
    return out;
}

}  // namespace

namespace {

// Calls `f(first, end, whole)` for each sentence's tokens [first, end), its
// closing mark left out. A sentence is whole when it is English, has no
// quotation, and ends with a mark or follows one without starting with a
// word that continues a sentence cut off before the selection; with
// `capitalOpens`, also whenever it opens with a capital. A line
// wrapped inside a paragraph goes on; a blank line ends it.
template <typename F>
void forEachSentence(const Tokens& tokens, bool capitalOpens, F f) {
    bool afterMark = false, english = true;
    std::size_t first = 0;
    std::optional<std::size_t> opening;  // the first solid token
    auto finish = [&](std::size_t end, bool closed) {
        bool whole = false;
        if (opening && tokens[*opening].kind == TokenKind::word) {
            const std::string_view w = tokens[*opening].text;
            if (isAsciiWord(w) || isPlainWord(w))
                whole = english && (afterMark || (closed && (!in<kContinuations>(lowerAscii(w)) || !startsLowercase(w))) ||
                                    (capitalOpens && !startsLowercase(w) && w != "I"));
        }
        f(first, end, whole);
        first = end;
        opening.reset();
        english = true;
    };
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.kind == TokenKind::space) continue;
        if (t.kind == TokenKind::lineBreak) {
            std::size_t j = i + 1;
            while (j < tokens.size() && tokens[j].kind == TokenKind::space) ++j;
            if (j < tokens.size() && tokens[j].kind == TokenKind::lineBreak) {
                finish(i, false);
                afterMark = false;
            }
            continue;
        }
        if (t.kind == TokenKind::punct && std::string_view(".!?").find(t.text) != std::string_view::npos) {
            const bool abbreviation =
                t.text == "." && opening && tokens[i - 1].kind == TokenKind::word &&
                (in<kAbbreviations>(lowerAscii(tokens[i - 1].text)) || text::graphemeCount(tokens[i - 1].text) == 1);
            if (!abbreviation) {
                finish(i, true);
                first = i + 1;
                afterMark = true;
                continue;
            }
        }
        if (!opening) opening = i;
        if (t.kind == TokenKind::word) english = english && t.language == 0;
        else if (t.kind == TokenKind::punct && kQuoteMarks.find(t.text) != std::string_view::npos)
            english = false;  // a quotation: its words are the writer's source's
    }
    finish(tokens.size(), false);
}

}  // namespace

std::vector<std::size_t> wholeSentenceStarts(const Tokens& tokens, bool capitalOpens) {
    std::vector<std::size_t> starts(tokens.size(), std::string::npos);
    forEachSentence(tokens, capitalOpens, [&](std::size_t first, std::size_t end, bool whole) {
        std::size_t k = first;
        while (k < end && (tokens[k].kind == TokenKind::space || tokens[k].kind == TokenKind::lineBreak)) ++k;
        if (whole)
            for (std::size_t j = first; j < end; ++j) starts[j] = k;
    });
    return starts;
}

void insertCommas(Tokens& tokens) {
    std::vector<std::size_t> commas, drops;
    forEachSentence(tokens, false, [&](std::size_t first, std::size_t end, bool whole) {
        if (!whole) return;
        std::vector<Unit> units;
        units.reserve(end - first);
        for (std::size_t i = first; i < end; ++i) {
            const Token& t = tokens[i];
            if (t.kind == TokenKind::space || t.kind == TokenKind::lineBreak) continue;
            Unit& u = units.emplace_back(Unit{i, {}, false});
            if (t.kind != TokenKind::word) continue;
            const bool ascii = isAsciiWord(t.text);
            if (ascii || isPlainWord(t.text)) {
                if (ascii) {  // letters and straight apostrophes: only the capitals change
                    u.lower = t.text;
                    for (char& c : u.lower)
                        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
                } else {
                    u.lower = lowerAscii(t.text);
                }
                const char c = t.text[0];
                u.capital = (c >= 'a' && c <= 'z') ? false : (c >= 'A' && c <= 'Z') || !startsLowercase(t.text);
            }
        }
        Sentence s(tokens, std::move(units), commas, drops);
        afterThinking(s);
        afterIntroduction(s, 0);
        afterOpening(s, 0);
        // Also after an introduction the writer set off: "However, if you
        // want a car, you save".
        if (const std::size_t lead = afterLeadIn(s)) {
            afterIntroduction(s, lead);
            afterOpening(s, lead);
        }
        // "…, but if you want more, you can ask": an opening clause after a
        // comma and a conjunction is closed as one that opens the sentence.
        for (std::size_t j = 1; j + 2 < s.size(); ++j)
            if (s.isMark(j, ",") && oneOf(s.w(j + 1), "and", "but", "so") && in<kClauseOpeners>(s.w(j + 2)))
                afterOpening(s, j + 1);
        beforeOpeningClause(s);
        beforeConjunctions(s);
        beforeWhich(s);
        aroundExamples(s);
        aroundHowever(s);
        betweenComparatives(s);
    });
    // From the end, so that each edit leaves the places of those before it.
    std::vector<std::pair<std::size_t, bool>> edits;  // (token index, insert a comma there or drop it)
    for (std::size_t after : commas) edits.emplace_back(after + 1, true);
    for (std::size_t comma : drops) edits.emplace_back(comma, false);
    std::sort(edits.begin(), edits.end());
    edits.erase(std::unique(edits.begin(), edits.end()), edits.end());
    for (auto it = edits.rbegin(); it != edits.rend(); ++it) {
        const auto at = tokens.begin() + std::ptrdiff_t(it->first);
        if (it->second)
            tokens.insert(at, Token{TokenKind::punct, ",", tokens[it->first - 1].language});
        else
            tokens.erase(at);
    }
}

}  // namespace quillant::service
