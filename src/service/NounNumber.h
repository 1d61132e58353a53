#pragma once

#include "service/TextScan.h"

#include <functional>
#include <string_view>
#include <vector>

namespace quillant::service {

// Noun number and possessive determiners that the words around them decide,
// on the word tokens whose language is 0 (English):
//   - nouns English never counts, made plural: "pollutions" → "pollution",
//     "musics" → "music";
//   - "there" and "you" written for "their" and "your" before a noun that
//     someone owns, where neither can stand: "for there children" → "for
//     their children", "improve you skills" → "improve your skills" (not "put
//     it in there", "Is there life", "give you money", "for you people"),
//     and "your" for "you" before a verb ("your are right");
//   - the plural after a counting word before a place or a time ("many
//     friend here" → "many friends here");
//   - the plural after "one of my best", "each of the worst", "one of his
//     favourite" ("one of my best friend." → "… friends."), and "point of
//     view" ("my point of views" → "my point of view").
// `isWord` tells whether English accepts a word (any variant).
void correctNounNumber(std::vector<Token>& tokens, const std::function<bool(std::string_view)>& isWord);

}  // namespace quillant::service
