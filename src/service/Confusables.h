#pragma once

#include "service/TextScan.h"

#include <vector>

namespace quillant::service {

// Real words written for another that sounds alike, on the word tokens whose
// language is 0 (English), only where the words around leave one reading:
//   - a verb where only a verb fits: "will safe money" → "will save money",
//     "to loose the match" → "to lose the match", "can fell sad" → "can feel
//     sad", "to advice him" → "to advise him", "will effect us" → "will
//     affect us";
//   - a noun or adjective where no verb fits: "is save." → "is safe.", "the
//     lose of" → "the loss of", "was very quite." → "was very quiet.", "the
//     whether" → "the weather", "for advise" → "for advice";
//   - small words: "more that 20" → "more than 20", "since than" → "since
//     then", "Other then that" → "Other than that", "fore example" → "for
//     example", "the town were I live" → "… where I live", "there where many"
//     → "there were many", "wonder weather it" → "wonder whether it", "you're
//     own" → "your own", "it's name is" → "its name is";
//   - sound-alikes in a set phrase or before what they govern: "I no that" →
//     "I know that", "to by a bike", "has past away", "has lead to", "Whose
//     the winner?", "the hole day", "a peace of cake", "it makes since.", "I
//     can't bare it", "refuse to except it", "wear cloths", "take affect",
//     "we loose the match", "was quit different", "come form", "out of site",
//     "rest in piece", "it dose not", "I thing that".
void correctConfusables(std::vector<Token>& tokens);

}  // namespace quillant::service
