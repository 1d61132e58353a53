#pragma once

#include "service/TextScan.h"

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillant::service {

// English grammar rules that hold for any text, applied to the word tokens
// whose language is 0 (English). Each rule fires only on a context that
// decides it, so a correct sentence never changes:
//   - contractions written without an apostrophe ("dont", "Im");
//   - uncountable nouns made plural ("informations"), double comparatives
//     ("more easier"), "could of" → "could have";
//   - "a"/"an" by the sound of the next word ("an hour", "a university");
//   - agreement after a personal pronoun ("he go", "they was", "it don't");
//   - the base form after a modal or "do" ("can goes", "didn't went");
//   - confusables in a deciding context ("their is", "its a", "then" after a
//     comparative, "your welcome");
//   - capitals of weekdays, months, languages, peoples and countries;
//   - a comma after an introduction that opens a sentence ("However, the");
//   - "there is" before a plural quantity ("there are many"), a plural noun
//     after "many", "several", "one of the" ("many reasons");
//   - verb forms a head decides: the participle after "have" ("have gone"),
//     the base form after an inverted "do" or "to", "-ing" after a preposition;
//   - a noun subject's verb where the subject opens its clause and, for an
//     -s form, the sentence is in the present ("the music teacher
//     explains", "my brother and my sister are", "the price of shoes is");
//   - number: a noun subject's verb ("the students are"), "this"/"these",
//     "much"/"many", "every day", "a car", "two years ago";
//   - a word's own preposition ("interested in"), the article a phrase needs
//     ("at the same time"), and a comma before "but"/"so" joining clauses;
//   - counted nouns: the plural after "a few", "a lot of" and other counting
//     words, the singular after "another"; agreement with "one of", "the
//     number of", "children"; the article a counted singular needs after "be"
//     or "have" ("He is a student");
//   - a verb after "and" sharing the first clause's subject ("he goes and
//     doesn't"), the participle after "be" ("was built"), the bare verb
//     after an infinitive's "to", a negated modal or "used to", "this" as a
//     subject, "-ing" after "suggest"; "advice" without "a", "for two years",
//     "go shopping", "fewer cars", "children", and a few fixed prepositions
//     ("afraid of", "similar to", "on the internet", "married to").
// `isWord` tells whether English accepts a word (any variant).
void correctGrammar(std::vector<Token>& tokens, const std::function<bool(std::string_view)>& isWord);

// The past of an irregular verb for its form made regular ("teached" →
// "taught"), when the verb is one of the common ones.
std::optional<std::string_view> irregularPastOf(std::string_view regularised);

// Whether the word begins with a vowel sound ("hour", "MBA") or not
// ("university", "one"); nothing when the spelling does not tell.
std::optional<bool> startsWithVowelSound(std::string_view word);

// A noun always counted, an everyday one or a doer's ("friend", "driver"),
// and the plural of a singular noun ("city" → "cities", "man" → "men"; empty
// when no spelling of it is a word).
bool isAlwaysCountedNoun(std::string_view lowerWord, const std::function<bool(std::string_view)>& isWord);
std::string pluralOfNoun(std::string_view lowerWord, const std::function<bool(std::string_view)>& isWord);

// The grammar's closed word classes, for the speller: the neighbours of a
// misspelt word may leave room for one class only ("he woud go": a modal).
enum class WordClass { subjectPronoun, modal, baseVerb, preposition, clauseOpener, plainAdjective, comparative };
bool inWordClass(std::string_view lowerWord, WordClass wordClass);

}  // namespace quillant::service
