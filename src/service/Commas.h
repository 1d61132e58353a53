#pragma once

#include "service/TextScan.h"

#include <vector>

namespace quillant::service {

// Commas that careful English sets and learners leave out, each only where
// the words around it decide it, in English sentences (language 0) that are
// whole: they end with a mark or follow one, and do not start with a word
// that continues a sentence cut off before the selection ("and then we").
//   - after an introductory word or phrase ("For example, each", "However, I
//     still think", not "However hard", "In addition to");
//   - after an opening clause or phrase (a participle's too) that ends before
//     the main clause's subject and its verb ("If you want a car, you save",
//     "In the past few years, they have", "Walking home, we saw");
//   - before "and", "but", "or", "yet" joining two clauses that each have a
//     subject and a finite verb ("I stayed at home, but he went out", "…,
//     but right now we are");
//   - before a "which" that adds to a noun already known ("my brother, which",
//     "to Kyoto, which is");
//   - before "especially", around "for example" and "however" in mid-sentence.
// It also takes out the comma between a verb of thinking and its clause ("I
// believe, that it works").
// A sentence with a comma already where one would go, with quotation marks,
// or with words of another language is left as it is, so a corrected text
// gets no second comma.
void insertCommas(std::vector<Token>& tokens);

// For every token, the first solid token of the whole sentence (as above) it
// belongs to, or npos outside one: a line's start need not be a sentence's.
// `capitalOpens`: a selection's first sentence is whole when it opens with a
// capital, mark or not ("Of course he knows"; "I" is written so anywhere).
std::vector<std::size_t> wholeSentenceStarts(const std::vector<Token>& tokens, bool capitalOpens);

}  // namespace quillant::service
