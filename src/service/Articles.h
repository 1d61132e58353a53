#pragma once

#include "service/TextScan.h"

#include <string_view>
#include <vector>

namespace quillant::service {

// Articles and fixed phrases that the words around them decide, on the word
// tokens whose language is 0 (English):
//   - "the" that the phrase demands: "is same." → "is the same.", "is most
//     popular sport" → "is the most popular sport", "at end of" → "at the
//     end of", "in morning." → "in the morning.";
//   - an article that cannot stand: "the these" → "these", "a many weeks" →
//     "many weeks", "an information about" → "information about";
//   - words one too many or one missing: "the another" → "another", "The
//     one of the best" → "One of the best", "First reason is" → "The first
//     reason is", "made us to be" → "made us be", "love the nature." →
//     "love nature.", "might able to" → "might be able to", "enjoyed in
//     it" → "enjoyed it", "besides of" → "besides", "When nurse came" →
//     "When the nurse came", "without map" → "without a map", "it
//     will a short trip" → "it will be a short trip", "a such mess" → "such a
//     mess", "the important was" → "the important thing was", "most time
//     they rest" → "most of the time they rest", "She agrees the claim" →
//     "She agrees with the claim", "consider him as a friend" →
//     "consider him a friend", "is best way" → "is the best way", "was
//     first time" → "was the first time";
//   - "a" that a counted noun needs: "be lot of" → "be a lot of", "got good
//     grade" → "got a good grade", "is very good idea" → "is a very good idea";
//   - confusables whose word class the context fixes: "to much." → "too
//     much.", "there own" → "their own", "a strong affect on" → "a strong effect
//     on", "side affects" → "side effects", "more then ever" → "more than ever".
//   - a preposition no use of the word takes: "consists on" → "consists of",
//     "relies of" → "relies on", "suffered of" → "suffered from".
void correctArticles(std::vector<Token>& tokens);

}  // namespace quillant::service
