// Real words written for another that sounds alike, where the words around
// leave one reading: each rule where it fires and where it must hold back.
// Every answer is corrected again and must not change.
#include "CorrectionCases.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quillant::service;

namespace {

TEST(Confusables, VerbWhereOnlyAVerbFitsAndNounWhereNoVerbDoes) {
    quillant::service::testing::expectCorrectedOnce({
        {"save_and_lose_before_an_object", "We must safe money. I hate to loose them. Try to safe our cat.",
         "We must save money. I hate to lose them. Try to save our cat."},
        {"adjective_before_its_noun_held_back", "Kids need access to safe water. We moved to loose control.", nullptr},
        {"safe_after_be", "Now we are save. They were so save here. He felt save.",
         "Now we are safe. They were so safe here. He felt safe."},
        {"save_after_be_held_back", "All we can do is save. The best move was save and quit.", nullptr},
        {"feel_before_a_feeling", "You will fell better. Do not fell sorry.",
         "You will feel better. Do not feel sorry."},
        {"fell_a_tree_held_back", "They had to fell old trees. He will fell ill. Prices fell sharply.", nullptr},
        {"advise_and_advice", "I want to advice him. We asked for advise and gave advise.",
         "I want to advise him. We asked for advice and gave advice."},
        {"advice_as_a_noun_held_back", "Listen to advice you trust. I advise you to rest.", nullptr},
        {"affect_a_person", "Noise can effect us. It effects them.", "Noise can affect us. It affects them."},
        {"effect_a_change_held_back", "They want to effect change. The effects them aside are mild.", nullptr},
        {"loss_where_no_verb_fits", "The lose of a job hurts. It was a big lose.", "The loss of a job hurts. It was a big loss."},
        {"lose_as_a_verb_held_back", "Let her lose. We tied a lose end.", nullptr},
        {"quiet_ending_its_phrase", "The room was very quite. Please keep quite!",
         "The room was very quiet. Please keep quiet!"},
        {"quite_before_its_word_held_back", "It was quite\nlate. It is quite good.", nullptr},
    });
}

TEST(Confusables, SmallWordsTheNeighboursDecide) {
    quillant::service::testing::expectCorrectedOnce({
        {"than_and_then", "It costs more that 20 euros. Since than we walk. We ate and than we left. Other then that, fine.",
         "It costs more than 20 euros. Since then, we walk. We ate and then we left. Other than that, fine."},
        {"than_and_then_held_back", "I like it more that way. We met each other then left.", nullptr},
        {"for_written_fore", "We need tools fore every job, fore example this one.", "We need tools for every job, for example this one."},
        {"fore_held_back", "It came to the fore and aft. Fore!", nullptr},
        {"where_after_a_place", "The town were I live is small. There where many people.",
         "The town where I live is small. There were many people."},
        {"were_held_back", "Which city were you born in? So were we. Out there where many live.", nullptr},
        {"whether_and_weather", "I wonder weather it works. The whether is nice.",
         "I wonder whether it works. The weather is nice."},
        {"your_own", "Bring you're own food.", "Bring your own food."},
        {"its_before_a_noun_and_its_verb", "It's name is Rex and it's people were kind.",
         "Its name is Rex and its people were kind."},
        {"its_held_back", "It's size that counts. It's history now.", nullptr},
    });
}

TEST(Confusables, SoundAlikesInASetPhrase) {
    quillant::service::testing::expectCorrectedOnce({
        {"know_before_what_it_governs", "I no that you came. We don't no how.", "I know that you came. We don't know how."},
        {"a_tag_asks", "It is cold, isn't it. They came, didn’t they. It is not hard, it is. Stop it!. Why?. Wow!...",
         "It is cold, isn't it? They came, didn’t they? It is not hard, it is. Stop it! Why? Wow!..."},
        {"imagine_opening_a_clause", "Image you are lost. Image that shows the map.",
         "Imagine you are lost. Image that shows the map."},
        {"no_held_back", "I no longer care. It was to no avail. Say no to them.", nullptr},
        {"buy_before_what_one_buys", "I want to by a bike. You can by food there.",
         "I want to buy a bike. You can buy food there."},
        {"by_held_back", "You can by the way go. It rose to by far the most.", nullptr},
        {"passed_and_led", "He has past away. It has lead to delays and was lead by her.",
         "He has passed away. It has led to delays and was led by her."},
        {"past_and_lead_held_back", "We had past lives. They lead to town. Pipes have lead in them.", nullptr},
        {"whose_before_an_article", "Whose the winner?", "Who's the winner?"},
        {"whole_piece_sense_bear", "We read the hole day. It was a peace of cake. It makes since. I can't bare it.",
         "We read the whole day. It was a piece of cake. It makes sense. I can't bear it."},
        {"set_phrases_held_back", "The hole in the wall. Peace of mind. The gains made since 2010. You can bare the wires.",
         nullptr},
        {"accept_and_clothes", "I refuse to except it. They wear cloths.", "I refuse to accept it. They wear clothes."},
        {"except_held_back", "We have to except some cases.", nullptr},
        {"effect_in_set_phrases", "It takes affect today, by cause and affect.", "It takes effect today, by cause and effect."},
        {"verb_after_a_subject", "We loose the match when she looses her keys. I thing that it dose not work.",
         "We lose the match when she loses her keys. I think that it does not work."},
        {"verb_after_a_subject_held_back", "Set them loose. A dose not to exceed. The thing is.", nullptr},
        {"quite_from_sight_peace", "It was quit different. We come form the north. Out of site. Rest in piece.",
         "It was quite different. We come from the north. Out of sight. Rest in peace."},
        {"quit_form_site_piece_held_back",
         "I quit early. Their away form this season. A piece of my mind. The site of the fire.", nullptr},
    });
}

}  // namespace
