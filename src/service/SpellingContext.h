#pragma once

#include "service/Speller.h"

#include <string_view>

namespace quillant::service {

// What the neighbours of a misspelt English word leave room for, by the
// grammar's word classes: between a subject pronoun and a base verb, or
// before "be", only a modal ("he woud go"); before an adjective, an adverb
// in -ly or "than", only a word of degree ("mor important"); before
// "is"/"are"/"was"/"were", unless a preposition or an article asks for a noun,
// only "there", "here", "where", a demonstrative of the verb's number or
// "what", "which", "who" ("ther is", "ths is"); and right after an article
// or a possessive no preposition, pronoun or conjunction. PREVIOUS and NEXT
// are the lower-case words beside it, empty where a mark, a line or nothing
// stands.
Speller::Context spellingContext(std::string_view previous, std::string_view next, Speller::Form expected);

}  // namespace quillant::service
