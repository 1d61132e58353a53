#pragma once

#include "service/TextScan.h"

#include <vector>

namespace quillant::service {

// Noun number and possessive determiners that the words around them decide,
// on the word tokens whose language is 0 (English):
//   - nouns English never counts, made plural: "pollutions" → "pollution",
//     "musics" → "music";
//   - "there" and "you" written for "their" and "your" before a noun that
//     someone owns, where neither can stand: "for there children" → "for
//     their children", "improve you skills" → "improve your skills" (not "in
//     there, the", "Is there life", "give you money", "for you people").
void correctNounNumber(std::vector<Token>& tokens);

}  // namespace quillant::service
