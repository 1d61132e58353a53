// Noun number and possessive determiners that the words around them decide,
// on the installed dictionaries: each rule where it fires and where it must
// hold back. Every answer is corrected again and must not change.
#include "CorrectionCases.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quillant::service;

namespace {

TEST(NounNumber, NounsNeverCounted) {
    quillant::service::testing::expectCorrectedOnce({
        {"plural_made_singular", "She loves musics and hates pollutions.", "She loves music and hates pollution."},
        {"at_a_sentence_start", "Medias shape opinion.", "Media shape opinion."},
        {"a_name_held_back", "We met the Musics at noon.", nullptr},
    });
}

TEST(NounNumber, YourForYou) {
    quillant::service::testing::expectCorrectedOnce({
        {"before_a_verb_or_after_thank", "I think your are right. Thank your very much.",
         "I think you are right. Thank you very much."},
        {"owner_held_back", "Your will is strong. Thank your very kind hosts.", nullptr},
    });
}

TEST(NounNumber, PointOfView) {
    quillant::service::testing::expectCorrectedOnce({
        {"views_made_singular", "From my point of views, it works.", "From my point of view, it works."},
    });
}

TEST(NounNumber, OwnerWrittenAsThereOrYou) {
    quillant::service::testing::expectCorrectedOnce({
        {"there_after_a_preposition", "They cook for there families.", "They cook for their families."},
        {"there_before_spare_time", "Kids nap in there spare time.", "Kids nap in their spare time."},
        {"there_after_a_verb", "The twins spend there money fast.", "The twins spend their money fast."},
        {"there_after_a_verb_of_two_objects", "Shops sell there products.", "Shops sell their products."},
        {"you_after_a_verb", "It will broaden you skills.", "It will broaden your skills."},
        {"you_after_a_preposition", "Thank you for you help. Do it on you own.",
         "Thank you for your help. Do it on your own."},
        {"there_a_place", "Put it in there, then go. The dog in there lives on scraps. We ran out of there "
         "children first.", nullptr},
        {"there_existential", "Is there money in it?", nullptr},
        {"you_a_receiver_or_in_apposition", "I will give you money. This is for you children.", nullptr},
    });
}

TEST(NounNumber, PluralBeforeAPlaceOrATime) {
    quillant::service::testing::expectCorrectedOnce({
        {"counted_noun", "I have many friend here. She met two dog yesterday. We fixed several problem we had.",
         "I have many friends here. She met two dogs yesterday. We fixed several problems we had."},
        {"a_noun_that_is_a_verb_held_back", "Many shop online. Several park here.", nullptr},
    });
}

TEST(NounNumber, PluralAfterOneOfMyBest) {
    quillant::service::testing::expectCorrectedOnce({
        {"counted_noun_ending_its_phrase", "He is one of my best friend. One of her favourite song is old.",
         "He is one of my best friends. One of her favourite songs is old."},
        {"held_back_without_a_count_or_before_and", "He is my best friend. She is one of my best friend and colleague.",
         nullptr},
    });
}

}  // namespace
