#include "service/SpellingContext.h"

#include "service/Grammar.h"

#include <algorithm>
#include <array>

namespace quillant::service {

namespace {

constexpr std::array<std::string_view, 9> kModalWords = {"can", "could", "will", "would", "shall", "should", "may", "might", "must"};
// Words that grade the adjective or adverb after them.
constexpr std::array<std::string_view, 8> kDegreeWords = {"more", "most", "less", "very", "much", "too", "quite", "rather"};
// The subjects of "is"/"was" and of "are"/"were" that a slip may hide.
constexpr std::array<std::string_view, 8> kSingularSubjects = {"there", "here", "where", "this", "that", "what", "which", "who"};
constexpr std::array<std::string_view, 8> kPluralSubjects = {"there", "here", "where", "these", "those", "what", "which", "who"};
// The forms of "be", "have" and "do" that agree with a subject pronoun.
constexpr std::array<std::string_view, 6> kFirstPersonAuxiliaries = {"am", "was", "have", "had", "do", "did"};
constexpr std::array<std::string_view, 6> kThirdPersonAuxiliaries = {"is", "was", "has", "had", "does", "did"};
constexpr std::array<std::string_view, 6> kPluralAuxiliaries = {"are", "were", "have", "had", "do", "did"};
// The subjects a slip may hide at a clause's start, by the verb after them
// (a modal or a past takes any; "has" a singular; "have" and a base verb a plural).
constexpr std::array<std::string_view, 11> kAnySubjects = {"you",  "he",    "she",   "it",    "we", "they",
                                                          "this", "that", "these", "those", "who"};
constexpr std::array<std::string_view, 6> kSingularPronouns = {"he", "she", "it", "this", "that", "who"};
constexpr std::array<std::string_view, 6> kPluralPronouns = {"you", "we", "they", "these", "those", "who"};
// After these a noun phrase goes on: an adjective or a noun follows.
constexpr std::array<std::string_view, 9> kArticles = {"a", "an", "the", "my", "your", "his", "its", "our", "their"};
// The possessives that open a noun phrase; the prepositions and adverbs that
// open a sentence before one ("Until our guests came"), some ending in -s.
constexpr std::array<std::string_view, 7> kPossessives = {"my", "your", "his", "her", "its", "our", "their"};
constexpr std::array<std::string_view, 25> kOpenersBeforePossessive = {
    "from", "after",  "before",  "during", "since",  "until",   "despite", "behind",  "inside",  "outside", "throughout", "across",  "among",
    "through", "without", "within", "between", "beyond", "around", "against", "towards", "besides", "instead", "sometimes", "always"};
// Function words that never follow an article, beyond the grammar's prepositions.
constexpr std::array<std::string_view, 14> kNeverAfterArticle = {"over", "onto", "upon", "against", "toward", "towards", "than",
                                                                "and", "or", "if", "is", "are", "was", "were"};

// Subjects that always take a verb's -s form.
constexpr std::array<std::string_view, 12> kThirdPersonSubjects = {
    "he", "she", "it", "everyone", "everybody", "someone", "somebody", "nobody", "everything", "something", "nothing", "anyone"};
// Adverbs that may stand between a subject and its verb, besides those in -ly.
constexpr std::array<std::string_view, 12> kMidAdverbs = {"always", "never", "often", "also",  "still", "just",
                                                         "already", "sometimes", "even", "only", "seldom", "ever"};
// Words a slip may hide after a subject that are no verb there although the
// dictionary has an -s and an -ing form of them ("he even", "it still").
constexpr std::array<std::string_view, 16> kAdverbsThatInflect = {"even", "still", "well", "right", "back", "further", "just", "once",
                                                                 "better", "best", "more", "less", "first", "last", "alone", "home"};
constexpr std::array<std::string_view, 13> kAuxiliaries = {"be",  "am",   "is", "are", "was",  "were", "been",
                                                          "have", "has", "had", "do", "does", "did"};
// Words that count the noun after them.
constexpr std::array<std::string_view, 17> kCountingWords = {"many", "several", "various", "numerous", "both", "few", "these", "those", "two",
                                                            "three", "four", "five", "six", "seven", "eight", "nine", "ten"};
// Words that follow a noun ending its phrase, beyond prepositions, clause
// openers and verbs; "and"/"or" are not among them ("both big and small").
constexpr std::array<std::string_view, 18> kAfterPhrase = {"are", "were", "have", "had", "do", "did", "that", "who", "which",
                                                          "here", "there", "ago", "now", "today", "too", "again", "later", "can"};
// Counted but not made plural after a number ("two hundred people").
constexpr std::array<std::string_view, 7> kNumberNouns = {"hundred", "thousand", "million", "billion", "dozen", "percent", "score"};
// Objects that follow a verb, never a noun: "finished it", "sold their".
constexpr std::array<std::string_view, 10> kObjects = {"it", "them", "him", "me", "us", "my", "his", "our", "their", "your"};
constexpr std::array<std::string_view, 4> kCompoundHeads = {"some", "any", "every", "no"};
constexpr std::array<std::string_view, 3> kCompoundTails = {"thing", "body", "where"};

// Words that open a singular noun phrase that may be a clause's subject.
constexpr std::array<std::string_view, 16> kSingularDeterminers = {"the", "a",  "an",  "this", "that",  "each",  "every", "no",
                                                                  "my",  "his", "her", "its",  "our",   "their", "your",  "any"};
// Nouns that are singular in form but often take a plural verb, or that are
// a plural already ("the staff agree", "the sheep graze").
constexpr std::array<std::string_view, 40> kNotSingularNouns = {
    "army",  "audience", "band",  "board",   "class",   "club",  "committee", "company", "council",    "couple",
    "crew",  "crowd",    "family", "firm",   "gang",    "government", "group", "jury",   "majority",   "management",
    "minority", "pair",  "party", "press",   "public",  "rest",  "staff",     "team",    "police",     "people",
    "sheep", "fish",     "deer",  "series",  "species", "aircraft", "cattle", "data",   "media",      "youth"};
// Clause openers that make the clause a part of another: it ends in its verb
// or after it.
constexpr std::array<std::string_view, 10> kSubordinators = {"when",   "because", "if",    "while", "although",
                                                            "though", "since",   "until", "as",    "once"};
// Prepositions that open a sentence with a short phrase of time or place
// before the subject ("After supper the cook washes up"); not "to", which
// opens an infinitive, nor "with", "of", "for", which may govern the noun.
constexpr std::array<std::string_view, 14> kOpeningPrepositions = {"after", "before", "during", "in",     "on",      "at",     "since",
                                                                  "until", "from",   "despite", "behind", "inside", "outside", "throughout"};

template <std::size_t N>
bool among(const std::array<std::string_view, N>& list, std::string_view w) {
    return std::find(list.begin(), list.end(), w) != list.end();
}

// The -s form of a noun or a verb, by the regular rules ("city" → "cities",
// "box" → "boxes", "go" → "goes").
std::string withS(std::string_view word) {
    const std::string stem(word);
    if (word.size() >= 2 && word.back() == 'y' && std::string_view("aeiou").find(word[word.size() - 2]) == std::string_view::npos)
        return stem.substr(0, stem.size() - 1) + "ies";
    if (word.ends_with("s") || word.ends_with("x") || word.ends_with("z") || word.ends_with("ch") || word.ends_with("sh") ||
        word.ends_with("o"))
        return stem + "es";
    return stem + "s";
}

// Whether the dictionary has an -ing form of the word: a verb, not only a
// noun or an adjective.
bool hasIngForm(std::string_view word, const std::function<bool(std::string_view)>& accepts) {
    const std::string stem(word);
    if (accepts(stem + "ing") || accepts(stem + word.back() + "ing")) return true;
    if (word.ends_with("ie")) return accepts(stem.substr(0, stem.size() - 2) + "ying");
    if (word.ends_with('e') && !word.ends_with("ee") && !word.ends_with("oe") && !word.ends_with("ye"))
        return accepts(stem.substr(0, stem.size() - 1) + "ing");
    return false;
}

// Whether the words from NOUN on, nearest first, are a singular count noun
// and its determiner that open a clause, so that the noun is the subject of
// the word after it: at a sentence's start or after a mark, after a clause
// opener (after "and" or "or" only with a mark before them: "the cat and the
// dog" is one subject), or after a short opening phrase ("In the evening the
// cook ..."). Never after a verb ("we let the dog"), nor after a preposition
// of the noun's own phrase ("with the dog").
bool singularNounOpensClause(std::span<const std::string> before, std::size_t noun,
                             const std::function<bool(std::string_view)>& accepts) {
    auto plainWord = [](std::string_view w) {
        return w.size() >= 3 && !w.ends_with("ing") && !w.ends_with("ed") && !w.ends_with("ly") &&
               !inWordClass(w, WordClass::subjectPronoun) && !inWordClass(w, WordClass::modal) &&
               !inWordClass(w, WordClass::baseVerb) && !inWordClass(w, WordClass::preposition) &&
               !inWordClass(w, WordClass::clauseOpener) && !among(kAuxiliaries, w) && !among(kMidAdverbs, w) &&
               !among(kSingularDeterminers, w) && !among(kObjects, w);
    };
    // One adjective the grammar knows may stand between ("the old man").
    const std::size_t determiner = noun + 1 + (noun + 1 < before.size() && inWordClass(before[noun + 1], WordClass::plainAdjective));
    if (determiner + 1 >= before.size()) return false;
    const std::string_view n = before[noun];
    if (!among(kSingularDeterminers, before[determiner]) || !plainWord(n) || (n.ends_with('s') && !n.ends_with("ss")) ||
        among(kNotSingularNouns, n) || among(kCountingWords, n) || inWordClass(n, WordClass::plainAdjective) ||
        inWordClass(n, WordClass::comparative) ||
        !accepts(n.ends_with("man") ? std::string(n.substr(0, n.size() - 2)) + "en" : withS(n)))
        return false;
    // What stands before the determiner; running out of words is no clause start.
    auto boundary = [&](std::size_t at) { return at < before.size() && before[at].empty(); };
    std::size_t at = determiner + 1;
    if (before[at].empty()) return true;
    if (before[at] == "and" || before[at] == "or") return boundary(at + 1);
    if (inWordClass(before[at], WordClass::clauseOpener)) return true;
    // A one-word or determiner-and-word phrase after a preposition that opens
    // the sentence ("After supper", "In the evening"), "every" or "each" and
    // a word ("Every spring"), or an adverb in -ly.
    const std::string_view word = before[at++];
    // A year or the past sets the verb in the past ("In the past the ...").
    if (word == "past" || (word[0] >= '0' && word[0] <= '9')) return false;
    if (word.size() > 4 && word.ends_with("ly") && boundary(at)) return true;  // "Sadly the ..."
    if (at < before.size() && (before[at] == "every" || before[at] == "each") && boundary(at + 1)) return true;
    const bool article = at < before.size() && among(kArticles, before[at]);
    // A word in -ing there is a noun after an article only ("After seeing the dog").
    if (!(plainWord(word) || (article && word.ends_with("ing") && !among(kObjects, word)))) return false;
    if (article) ++at;
    return at < before.size() && among(kOpeningPrepositions, before[at]) && boundary(at + 1);
}

}  // namespace

Speller::Context spellingContext(std::string_view previous, std::string_view next, Speller::Form expected,
                                 std::string_view typed) {
    Speller::Context context;
    context.expected = expected;
    const bool afterArticle = among(kArticles, previous);
    if (!afterArticle && (next == "be" || (inWordClass(previous, WordClass::subjectPronoun) &&
                                           (inWordClass(next, WordClass::baseVerb) || next == "have")))) {
        context.only = kModalWords;
    } else if ((previous.empty() || previous == "that" || inWordClass(previous, WordClass::clauseOpener)) &&
               (inWordClass(next, WordClass::modal) || next == "had" || next == "did" || next == "has" || next == "does" ||
                next == "have" || next == "do" || inWordClass(next, WordClass::baseVerb))) {
        // At a clause's start, before its verb, a slip hides the subject
        // ("and tehy can"): a pronoun or a demonstrative of the verb's number.
        if (next == "has" || next == "does")
            context.only = kSingularPronouns;
        else if (inWordClass(next, WordClass::modal) || next == "had" || next == "did")
            context.only = kAnySubjects;
        else
            context.only = kPluralPronouns;
    } else if (!afterArticle && inWordClass(previous, WordClass::subjectPronoun)) {
        // Before anything but a verb, a subject pronoun's verb is most often
        // "be", "have" or "do" in the pronoun's own person ("we wre late").
        if (previous == "i")
            context.only = kFirstPersonAuxiliaries;
        else if (previous == "he" || previous == "she" || previous == "it")
            context.only = kThirdPersonAuxiliaries;
        else
            context.only = kPluralAuxiliaries;
    } else if (next == "than" || inWordClass(next, WordClass::plainAdjective) || inWordClass(next, WordClass::comparative) ||
               (next.size() > 4 && next.ends_with("ly"))) {
        context.only = kDegreeWords;
    } else if (!afterArticle && !inWordClass(previous, WordClass::preposition) &&
               (next == "is" || next == "are" || next == "was" || next == "were")) {
        if (next == "is" || next == "was")
            context.only = kSingularSubjects;
        else
            context.only = kPluralSubjects;
    }
    // After a quantifier a noun phrase goes on as well, but "some", "any" and
    // "each" may also take "of".
    const bool ofFollows = previous == "some" || previous == "any" || previous == "each";
    if (afterArticle || ofFollows || previous == "every" || previous == "another" || previous == "no")
        context.excluded = [ofFollows](std::string_view w) {
            // A modal is a noun there ("the can", "his will").
            if (ofFollows && w == "of") return false;
            return inWordClass(w, WordClass::preposition) || inWordClass(w, WordClass::subjectPronoun) ||
                   inWordClass(w, WordClass::clauseOpener) || among(kNeverAfterArticle, w) || among(kArticles, w);
        };
    // Opening a sentence before a possessive, a word in -s is a plural noun
    // ("Things my father said") or a preposition or an adverb ("Throughout our
    // stay"): when one of the latter lies within two slips of the typed word, a
    // plural is the wrong guess.
    constexpr std::size_t kMinOpener = 5;
    if (previous.empty() && among(kPossessives, next) && typed.size() >= kMinOpener &&
        std::any_of(kOpenersBeforePossessive.begin(), kOpenersBeforePossessive.end(),
                    [&](std::string_view w) { return Speller::slipsBetween(typed, w) <= 2; }))
        context.excluded = [](std::string_view w) {
            return w.size() > 3 && w.ends_with('s') && !w.ends_with("ss") && !among(kOpenersBeforePossessive, w);
        };
    return context;
}

std::optional<std::string> agreedVerbForm(std::span<const std::string> before, std::string_view mended,
                                          std::string_view next, const std::function<bool(std::string_view)>& accepts,
                                          const std::function<bool(std::size_t)>& name) {
    if (before.empty() || mended.size() < 2) return std::nullopt;
    // A name stands for one person unless it is plural or a people's ("the
    // French", "Swiss", "Chinese").
    auto singularName = [&](std::size_t at) {
        const std::string_view w = before[at];
        return name && name(at) && w.size() >= 3 && !w.ends_with('s') && !w.ends_with("ese") && !w.ends_with("ish") &&
               !w.ends_with("ch");
    };
    std::size_t subject = 0;
    if (!among(kThirdPersonSubjects, before[0]) && !singularName(0) && !singularNounOpensClause(before, 0, accepts)) {
        const std::string_view adverb = before[0];
        if (!among(kMidAdverbs, adverb) && !(adverb.size() > 4 && adverb.ends_with("ly"))) return std::nullopt;
        subject = 1;
    }
    if (subject >= before.size()) return std::nullopt;
    const bool pronoun = among(kThirdPersonSubjects, before[subject]);
    if (pronoun || singularName(subject)) {
        // The subject opens its clause: not "Does he", "let it", "insist that he".
        if (subject + 1 < before.size() && !before[subject + 1].empty() &&
            !inWordClass(before[subject + 1], WordClass::clauseOpener))
            return std::nullopt;
    } else if (!singularNounOpensClause(before, subject, accepts)) {
        return std::nullopt;
    }
    if (!pronoun && subject == 0) {
        // Right after a noun the word may be a second noun ("the bus stop
        // near"); a verb shows by its object, an adverb or a complement, or
        // by ending a clause that a subordinator opened ("when the kettle
        // boils,").
        const bool verbFollows = among(kArticles, next) || among(kObjects, next) || among(kSingularDeterminers, next) ||
                                 next == "these" || next == "those" || next == "some" || next == "all" ||
                                 (next.size() > 4 && next.ends_with("ly")) || inWordClass(next, WordClass::plainAdjective);
        const bool subordinate =
            next.empty() && std::any_of(before.begin() + 1, before.begin() + std::min<std::size_t>(before.size(), 4),
                                        [](const std::string& w) { return among(kSubordinators, w); });
        if (!verbFollows && !subordinate) return std::nullopt;
    }
    if (inWordClass(mended, WordClass::modal) || among(kAuxiliaries, mended) || among(kAdverbsThatInflect, mended) ||
        inWordClass(mended, WordClass::preposition) || inWordClass(mended, WordClass::subjectPronoun) ||
        inWordClass(mended, WordClass::clauseOpener) || inWordClass(mended, WordClass::comparative) ||
        among(kMidAdverbs, mended) || mended.ends_with("ly") || (mended.ends_with('s') && !mended.ends_with("ss")))
        return std::nullopt;
    // A past or a participle agrees already ("wanted", "hoping"; not "need", "bring").
    auto known = [&](std::string_view w) { return w.size() >= 2 && accepts(w); };
    const std::string_view bare = mended.substr(0, mended.size() - (mended.ends_with("ing") ? 3 : 2));
    if ((mended.ends_with("ed") && (known(bare) || known(mended.substr(0, mended.size() - 1)))) ||
        (mended.ends_with("ing") && (known(bare) || known(std::string(bare) + "e"))))
        return std::nullopt;
    // A verb right after it ("he evn likes") makes the word an adverb; "not" a
    // verb that takes none ("he need not").
    if (next == "not" || inWordClass(next, WordClass::baseVerb) ||
        (next.size() > 3 && next.ends_with('s') && inWordClass(next.substr(0, next.size() - 1), WordClass::baseVerb)))
        return std::nullopt;
    const std::string third = withS(mended);
    // The dictionary's -ing form tells a verb from a noun or an adjective.
    if (!hasIngForm(mended, accepts) || !accepts(third)) return std::nullopt;
    return third;
}

std::optional<std::string> countedPlural(std::span<const std::string> before, std::string_view mended, std::string_view next,
                                         const std::function<bool(std::string_view)>& accepts) {
    if (before.empty() || !among(kCountingWords, before[0]) || mended.size() < 3 || (mended.ends_with('s') && !mended.ends_with("ss")) ||
        among(kNumberNouns, mended) || inWordClass(mended, WordClass::plainAdjective) ||
        inWordClass(mended, WordClass::comparative) || inWordClass(mended, WordClass::baseVerb) || mended.ends_with("ly"))
        return std::nullopt;
    const bool endsPhrase = next.empty() || among(kAfterPhrase, next) || inWordClass(next, WordClass::preposition) ||
                            (inWordClass(next, WordClass::clauseOpener) && next != "and" && next != "or") ||
                            inWordClass(next, WordClass::modal) || inWordClass(next, WordClass::baseVerb);
    // Opening its clause the counting word may be the subject, and the word
    // its verb ("Many agre that").
    const bool opensClause = before.size() < 2 || before[1].empty() || inWordClass(before[1], WordClass::clauseOpener);
    if (!endsPhrase || (opensClause && hasIngForm(mended, accepts))) return std::nullopt;
    std::string plural = withS(mended);
    if (!accepts(plural)) return std::nullopt;
    return plural;
}

std::optional<std::string> participleAfterHave(std::string_view previous, std::string_view mended, std::string_view next,
                                               const std::function<bool(std::string_view)>& accepts) {
    if ((previous != "have" && previous != "has" && previous != "had") || !among(kObjects, next) || mended.size() < 3 ||
        mended.ends_with("ed") || mended.ends_with("ing") ||
        among(kAuxiliaries, mended) || !hasIngForm(mended, accepts))
        return std::nullopt;
    const std::string stem(mended);
    const char last = mended.back();
    std::string past;
    if (last == 'e')
        past = stem + "d";
    else if (last == 'y' && std::string_view("aeiou").find(mended[mended.size() - 2]) == std::string_view::npos)
        past = stem.substr(0, stem.size() - 1) + "ied";
    else if (accepts(stem + last + "ed"))
        past = stem + last + "ed";
    else
        past = stem + "ed";
    if (!accepts(past)) return std::nullopt;
    return past;
}

std::optional<std::string> compoundPronoun(std::string_view previous, std::string_view mended, std::string_view next) {
    if (!among(kCompoundHeads, previous) || !among(kCompoundTails, mended)) return std::nullopt;
    if (mended == "body" && next == "of") return std::nullopt;  // "any body of water"
    return std::string(previous) + std::string(mended);
}

}  // namespace quillant::service
