#pragma once

#include "service/Speller.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quillant::service {

// What the neighbours of a misspelt English word leave room for, by the
// grammar's word classes: between a subject pronoun and a base verb, or
// before "be", only a modal ("he woud go"); before an adjective, an adverb
// in -ly or "than", only a word of degree ("mor important"); before
// "is"/"are"/"was"/"were", unless a preposition or an article asks for a noun,
// only "there", "here", "where", a demonstrative of the verb's number or
// "what", "which", "who" ("ther is", "ths is"); and right after an article
// or a possessive no preposition, pronoun or conjunction; opening a sentence
// before a possessive, no word in -s when a preposition or an adverb that
// opens sentences is within two slips of TYPED ("untis our" is "until", not
// "units"). PREVIOUS and NEXT are the lower-case words beside it, empty where
// a mark, a line or nothing stands.
Speller::Context spellingContext(std::string_view previous, std::string_view next, Speller::Form expected,
                                 std::string_view typed = {});

// The form a mended verb's subject asks for: after "he", "she", "it",
// "everyone", ..., a name, or a singular count noun with its determiner,
// opening a clause, with at most one adverb between, a verb's base form takes
// -s ("she often forgt" mended to "forget" → "forgets", "The porter usually
// carri" → "carries"). The grammar's agreement knows common verbs only; a
// mended word is known to be meant, and its place to want a verb. Nothing
// where the clause is a question or an inversion, the word may be an adverb,
// the noun may be an object ("we let the dog") or a partner ("the cat and
// the dog"), or the dictionary knows no -s and -ing forms of it; right after
// a noun or a name, only before an object, an adverb or an adjective, since
// the word may be a noun of a compound ("the bus stop"). BEFORE holds the
// lower-case words before MENDED, nearest first, empty where a mark, a line
// or nothing stands; NEXT is the word after it; ACCEPTS tells whether English
// knows a word; NAME whether the word at an index of BEFORE is a name.
std::optional<std::string> agreedVerbForm(std::span<const std::string> before, std::string_view mended,
                                          std::string_view next, const std::function<bool(std::string_view)>& accepts,
                                          const std::function<bool(std::size_t)>& name = {});

// The plural that a counting word before a mended noun asks for, when the
// noun ends its phrase ("many frend here" mended to "friend" → "friends").
// Nothing for an adjective, a number word, a noun that "and" may join to
// another ("both god and bad"), nor, where the counting word opens its
// clause and may be the subject, a word the dictionary has an -ing form of
// ("Many agre that"). BEFORE as for agreedVerbForm.
std::optional<std::string> countedPlural(std::span<const std::string> before, std::string_view mended, std::string_view next,
                                         const std::function<bool(std::string_view)>& accepts);

// The participle of a verb mended right after "have", "has" or "had" and
// before its object ("she has finsh it" mended to "finish" → "finished"): a
// regular past the dictionary knows, for a word it has an -ing form of. Only
// before a pronoun or a possessive, since "had dinner the next day" has a
// noun there.
std::optional<std::string> participleAfterHave(std::string_view previous, std::string_view mended, std::string_view next,
                                               const std::function<bool(std::string_view)>& accepts);

// The compound pronoun a misspelt second half makes with "some", "any",
// "every" or "no" written apart ("some thinng" mended to "thing" →
// "something"), else nothing. A correctly spelt "any body" is left to the
// writer, so this is asked only for a mended word.
std::optional<std::string> compoundPronoun(std::string_view previous, std::string_view mended, std::string_view next);

}  // namespace quillant::service
