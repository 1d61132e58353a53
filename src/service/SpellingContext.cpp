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
// After these a noun phrase goes on: an adjective or a noun follows.
constexpr std::array<std::string_view, 9> kArticles = {"a", "an", "the", "my", "your", "his", "its", "our", "their"};
// Function words that never follow an article, beyond the grammar's prepositions.
constexpr std::array<std::string_view, 14> kNeverAfterArticle = {"over", "onto", "upon", "against", "toward", "towards", "than",
                                                                "and", "or", "if", "is", "are", "was", "were"};

template <std::size_t N>
bool among(const std::array<std::string_view, N>& list, std::string_view w) {
    return std::find(list.begin(), list.end(), w) != list.end();
}

}  // namespace

Speller::Context spellingContext(std::string_view previous, std::string_view next, Speller::Form expected) {
    Speller::Context context;
    context.expected = expected;
    const bool afterArticle = among(kArticles, previous);
    if (!afterArticle && (next == "be" || (inWordClass(previous, WordClass::subjectPronoun) &&
                                           (inWordClass(next, WordClass::baseVerb) || next == "have")))) {
        context.only = kModalWords;
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
    if (afterArticle)
        context.excluded = [](std::string_view w) {
            // A modal is a noun there ("the can", "his will").
            return inWordClass(w, WordClass::preposition) || inWordClass(w, WordClass::subjectPronoun) ||
                   inWordClass(w, WordClass::clauseOpener) || among(kNeverAfterArticle, w) || among(kArticles, w);
        };
    return context;
}

}  // namespace quillant::service
