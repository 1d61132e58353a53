#include "SpellerFixture.h"
#include "service/RuleCorrector.h"
#include "service/TextScan.h"

#include <gtest/gtest.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <thread>

using namespace quillant::service;

namespace {

struct RuleCase {
    const char* name;
    std::string input;
    std::string expected;
    bool dictionaryFree = true;  // the expected text needs no dictionary
};

RuleCase spelled(const char* name, std::string input, std::string expected) {
    return {name, std::move(input), std::move(expected), false};
}

const std::vector<RuleCase> kRuleCases = {
    // Repeated words.
    RuleCase{"repeated_word", "We met the the team.", "We met the team."},
    RuleCase{"repeated_word_thrice", "It is a a a test.", "It is a test."},
    RuleCase{"repeated_word_keeps_first_case", "The the plan works.", "The plan works."},
    RuleCase{"repeated_word_allowed_doubling", "He had had enough. Bye bye.", "He had had enough. Bye bye."},
    RuleCase{"repeated_pronoun_object_then_subject", "I gave her her keys. If they fire you you lose.",
             "I gave her her keys. If they fire you you lose."},
    RuleCase{"repeated_word_across_comma_kept", "Well, the, the end.", "Well, the, the end."},
    RuleCase{"repeated_word_across_line_kept", "Read the\nthe list.", "Read the\nthe list."},
    RuleCase{"repeated_number_kept", "Dial 5 5 5.", "Dial 5 5 5."},
    // Sentence-initial capitals.
    RuleCase{"capital_slip_in_mid_sentence",
             "We stayed in, When I slept. Then It was late, because If you wait, The bus goes.",
             "We stayed in, when I slept. Then it was late, because if you wait, the bus goes."},
    RuleCase{"capital_kept_in_titles_quotes_and_lists",
             "We saw the film The Great Escape. I said: The end is near. He wrote \"It works\" twice.\n- It is done.\n"
             "Why It matters\n\nWe keep plan A and plan B. The shop closed early The owner was ill. He said, This works.",
             "We saw the film The Great Escape. I said: The end is near. He wrote \"It works\" twice.\n- It is done.\n"
             "Why It matters\n\nWe keep plan A and plan B. The shop closed early The owner was ill. He said, This works."},
    spelled("capital_slip_inside_a_word",
            "THe plan was a GReat idea. Our PCs and iPhone use OAuth and GLib at McDonald's. She ran because THe bus was late.",
            "The plan was a Great idea. Our PCs and iPhone use OAuth and GLib at McDonald's. She ran because the bus was late."),
    RuleCase{"capital_at_start", "hello there.", "Hello there."},
    RuleCase{"capital_after_stop", "It works. it really does! does it? yes.", "It works. It really does! Does it? Yes."},
    RuleCase{"capital_after_closing_quote", "He said \"fine.\" then left.", "He said \"fine.\" Then left."},
    RuleCase{"capital_after_paragraph", "First line\nsecond line\n\nnew paragraph.",
             "First line\nsecond line\n\nNew paragraph."},
    RuleCase{"capital_non_ascii", "ok. élan vital.", "Ok. Élan vital."},
    RuleCase{"no_capital_after_abbreviation", "Bring fruit, e.g. apples, etc. and more vs. less.",
             "Bring fruit, e.g. apples, etc. and more vs. less."},
    RuleCase{"no_capital_after_ellipsis", "Wait... what happened…  really", "Wait... what happened… really"},
    RuleCase{"no_capital_inside_number", "Version 3.5 works.", "Version 3.5 works."},
    RuleCase{"no_capital_for_identifiers", "iPhone and eBay. npm_cli runs. x2 ok.",
             "iPhone and eBay. npm_cli runs. x2 ok."},
    // A lone "i".
    RuleCase{"lone_i", "Yes, i know what i'm doing and i'll say i've seen it.",
             "Yes, I know what I'm doing and I'll say I've seen it."},
    RuleCase{"lone_i_typographic_apostrophe", "Then i\u2019d go.", "Then I\u2019d go."},
    // Grammar rules read a word with a typographic apostrophe through the
    // Unicode path, not the ASCII one most words take.
    spelled("agreement_typographic_apostrophe", "He don\u2019t like it.", "He doesn\u2019t like it."),
    spelled("comma_before_typographic_contraction", "When I arrived at the station it\u2019s raining.",
            "When I arrived at the station, it\u2019s raining."),
    spelled("no_comma_before_typographic_clause", "I think, that it\u2019s fine.", "I think that it\u2019s fine."),
    RuleCase{"lone_i_not_in_ie_or_list", "Options, i.e. these: i) first", "Options, i.e. these: i) first"},
    RuleCase{"lone_i_not_inside_words", "It is in the index.", "It is in the index."},
    // Spaces before punctuation.
    RuleCase{"space_before_comma", "Hello , world ; all good : yes !", "Hello, world; all good: yes!"},
    RuleCase{"space_before_final_stop", "Done .", "Done."},
    RuleCase{"space_before_question_then_bracket", "He asked (why ?)", "He asked (why?)"},
    RuleCase{"emoticon_keeps_space", "Great :) and ;) too", "Great :) and ;) too"},
    RuleCase{"decimal_keeps_space", "Use .5 of it", "Use .5 of it"},
    // Doubled spaces.
    RuleCase{"doubled_spaces", "Too  many   spaces.  Here.", "Too many spaces. Here."},
    RuleCase{"indentation_and_tabs_kept", "List:\n    indented\tcolumn\t\tthere  ",
             "List:\n    indented\tcolumn\t\tthere  "},
    // Misspellings, keeping the case pattern.
    RuleCase{"misspelling_lower", "We recieve it tommorow.", "We receive it tomorrow."},
    RuleCase{"misspelling_capitalised", "Teh end.", "The end."},
    RuleCase{"misspelling_upper", "READ TEH DOCS.", "READ THE DOCS."},
    RuleCase{"misspelling_contraction", "It doesnt matter, dont worry.", "It doesn't matter, don't worry."},
    RuleCase{"misspelling_to_two_words", "Thanks alot.", "Thanks a lot."},
    RuleCase{"misspelling_mixed_case_kept", "The TeH flag.", "The TeH flag."},
    RuleCase{"misspelling_then_repeat", "Teh the end.", "The end."},
    // What no rule touches.
    RuleCase{"mention_kept", "@jane can you check teh doc? @Bob Smith too.", "@jane can you check the doc? @Bob Smith too."},
    RuleCase{"mention_at_sentence_start", "ok. @alex.k please look , thanks", "Ok. @alex.k please look, thanks"},
    RuleCase{"mention_label_with_names", "ping @Teh Recieve please.", "Ping @Teh Recieve please."},
    RuleCase{"url_kept", "see https://example.com/teh_the?a=i . then go", "See https://example.com/teh_the?a=i. Then go"},
    RuleCase{"email_kept", "mail teh.team@example.com now.", "Mail teh.team@example.com now."},
    RuleCase{"code_kept", "run `teh  i` and ```\nteh  the\n``` ok.", "Run `teh  i` and ```\nteh  the\n``` ok."},
    RuleCase{"empty", "", ""},
    RuleCase{"only_whitespace", "  \n ", "  \n "},
    RuleCase{"crlf_kept", "one.\r\n\r\ntwo.", "One.\r\n\r\nTwo."},
    RuleCase{"emoji_then_capital", "\U0001F44D nice  work.", "\U0001F44D Nice work."},
    // Spelling from the dictionary, keeping case, possessives and punctuation.
    spelled("dictionary_first_example", "i think teh report is redy", "I think the report is ready"),
    spelled("dictionary_possessive", "The goverment's plan, and the documemt\u2019s (finaly).",
            "The government's plan, and the document\u2019s (finally)."),
    spelled("dictionary_capitalised_at_sentence_start", "Probaly not. Enviroment first!",
            "Probably not. Environment first!"),
    spelled("dictionary_keeps_lowercase_names_and_labels_at_sentence_start", "It works. gzip packs it. a) the list.",
            "It works. gzip packs it. a) the list."),
    spelled("dictionary_inflected_forms", "She was meetimg them, arguements aside.",
            "She was meeting them, arguments aside."),
    spelled("dictionary_hyphenated_parts", "A well-knwon, self-contianed tool.", "A well-known, self-contained tool."),
    spelled("dictionary_needs_a_clear_winner", "Read the wierd thier notes.", "Read the weird their notes."),
    RuleCase{"dictionary_leaves_all_caps", "REDY OR NOT, NASA AND QPX.", "REDY OR NOT, NASA AND QPX."},
    RuleCase{"dictionary_leaves_names_mid_sentence", "We met Zorvak, Redy and Kubrik today.",
             "We met Zorvak, Redy and Kubrik today."},
    RuleCase{"dictionary_leaves_lowercase_names", "install linux and github now", "install linux and github now"},
    spelled("dictionary_mends_lowercase_name_that_drops_a_letter", "That sumer on linux the chanel was quiet.",
            "That summer on linux the channel was quiet."),
    // A near tie that the neighbours' word classes decide; elsewhere the word stays.
    spelled("context_modal_between_subject_and_verb", "I woud go, they shud have known and it wil be fine.",
            "I would go, they should have known and it will be fine."),
    spelled("context_degree_before_adjective", "Mor important, it is mst likely mor than enough.",
            "More important, it is most likely more than enough."),
    spelled("context_subject_before_be", "Ther is time, ths is fine, thse are ours and our kids ther are happy.",
            "There is time, this is fine, thse are ours and our kids there are happy."),
    spelled("context_auxiliary_after_subject_pronoun", "Yesterday they wre home and she hsa a cold. She hads it.",
            "Yesterday they were home and she has a cold. She hads it."),
    spelled("context_subject_at_clause_start", "Wait here until tehy may leave, and shw has a plan. Thse could fail.",
            "Wait here until they may leave, and she has a plan. Thse could fail."),
    spelled("context_no_preposition_after_article", "Take the oher road.", "Take the other road."),
    spelled("context_no_preposition_after_quantifier", "They made another ofer, and no frim replied.",
            "They made another offer, and no firm replied."),
    spelled("context_no_plural_opening_a_sentence_before_a_possessive",
            "Arross our land the river flows. Froms my window I saw it. Thnigs my father said were true.",
            "Across our land the river flows. Froms my window I saw it. Things my father said were true."),
    spelled("context_held_back", "I woud. A woud is here. My wil, his mor, we ned it.",
            "I woud. A woud is here. My wil, his mor, we ned it."),
    // A mended word takes the form its neighbours ask for.
    spelled("mended_verb_agrees_with_its_subject", "When she arive, he realy cary the bags and she explian it.",
            "When she arrives, he really carries the bags and she explains it."),
    spelled("mended_verb_held_back", "Does he finsh early? They finsh early. Let it finsh. He stil works here.",
            "Does he finish early? They finish early. Let it finish. He still works here."),
    spelled("mended_verb_agrees_with_a_noun_subject_that_opens_its_clause",
            "The clerk usually sortt the mail. Every spring the farmer plantt the corn. Sadly the old man rarely visitt us. "
            "When Priya arive, we eat.",
            "The clerk usually sorts the mail. Every spring the farmer plants the corn. Sadly, the old man rarely visits us. "
            "When Priya arrives, we eat."),
    spelled("mended_verb_after_a_noun_that_may_be_an_object_or_a_partner",
            "We heard the farmer plantt corn. The cat and the dog rarely fihgt indoors. We let the old dog snif the bag. "
            "We let Priya sortt it. The French usually plantt corn. The lake and the bus stopp. In 1990 the farmer plantt the corn. "
            "Plz sortt the mail.",
            "We heard the farmer plant corn. The cat and the dog rarely fight indoors. We let the old dog sniff the bag. "
            "We let Priya sort it. The French usually plant corn. The lake and the bus stop. In 1990 the farmer plant the corn. "
            "Plz sort the mail."),
    spelled("mended_noun_counted", "I have many frend here, and he has few frend in town.",
            "I have many friends here, and he has few friends in town."),
    spelled("mended_noun_counted_held_back", "We paid two hundrd. Both smal and big dogs came. Both tabel and chair.",
            "We paid two hundred. Both small and big dogs came. Both table and chair."),
    spelled("mended_participle_after_have", "She has finsh it; our aunts had complet their task. We had brekfast the next day.",
            "She has finished it; our aunts had completed their task. We had breakfast the next day."),
    spelled("mended_half_of_a_compound_pronoun", "Some thign broke and every bodyy left.", "Something broke and everybody left."),
    spelled("compound_pronoun_held_back", "Some thing broke; any bodyy of water will do.",
            "Some thing broke; any body of water will do."),
    RuleCase{"dictionary_leaves_short_words", "the thw cat", "the thw cat"},
    RuleCase{"dictionary_leaves_units", "it took 5 kbps, 10km and 3 secs", "it took 5 kbps, 10km and 3 secs"},
    RuleCase{"dictionary_leaves_unit_after_number", "it took 5 mnts", "it took 5 mnts"},
    RuleCase{"dictionary_leaves_trade_words", "make it async and print json via printf(x)",
             "make it async and print json via printf(x)"},
    // Never touched.
    RuleCase{"channel_at_start", "#general is where teh team talks.", "#general is where the team talks."},
    RuleCase{"channel_mid_text", "post it in #teh-channel , thanks.", "Post it in #teh-channel, thanks."},
    RuleCase{"url_without_scheme", "see example.com/teh-docs and docs.pyton.org.", "See example.com/teh-docs and docs.pyton.org."},
    RuleCase{"hosts_and_addresses", "try localhost:8080/teh or 127.0.0.1:3000/redy or 10.0.0.2 , teh end",
             "try localhost:8080/teh or 127.0.0.1:3000/redy or 10.0.0.2, the end"},
    RuleCase{"file_names", "edit teh.txt and Recieve.cpp now", "edit teh.txt and Recieve.cpp now"},
    RuleCase{"paths", "open /home/alice/teh-notes or ~/teh/notes and C:\\Users\\teh",
             "open /home/alice/teh-notes or ~/teh/notes and C:\\Users\\teh"},
    RuleCase{"relative_paths", "copy ./teh and ../redy and src/teh/main into build/redy/x",
             "copy ./teh and ../redy and src/teh/main into build/redy/x"},
    RuleCase{"flags", "run it with --seperate-output or -rf , then stop.", "Run it with --seperate-output or -rf, then stop."},
    RuleCase{"code_identifiers", "set max_retrys and getRecieved and MAX_RETRYS and v2beta",
             "set max_retrys and getRecieved and MAX_RETRYS and v2beta"},
    RuleCase{"code_expressions", "then x=teh and a->redy and std::teh and items[redy] and $HOME",
             "then x=teh and a->redy and std::teh and items[redy] and $HOME"},
    RuleCase{"quoted_words", "they serve \"teh tarik\" and \u201Cteh  halia\u201D here",
             "they serve \"teh tarik\" and \u201Cteh  halia\u201D here"},
    RuleCase{"single_quoted_words", "the word 'teh' and \u2018redy\u2019 are typos",
             "the word 'teh' and \u2018redy\u2019 are typos"},
    spelled("long_quotation_is_prose", "He said \"i think teh report is redy now,\" and left.",
            "He said \"I think the report is ready now,\" and left."),
    RuleCase{"apostrophes_are_not_quotes", "the students' teh and don't 'teh", "the students' the and don't 'the"},
    // A selection is a fragment.
    RuleCase{"fragment_stays_lowercase", "and then we left", "and then we left"},
    RuleCase{"fragment_with_continuation_word", "and then we left. it rained.", "and then we left. It rained."},
    RuleCase{"fragment_without_sentence_end", "hello there, how are you", "hello there, how are you"},
    RuleCase{"whole_sentence_at_start", "we left. then it rained", "We left. Then it rained"},
    RuleCase{"paragraph_fragment", "Done.\n\nbut not yet", "Done.\n\nbut not yet"},
    RuleCase{"abbreviations_do_not_end_sentences", "Ask Acme Inc. about it, or Smith et al. in the paper. they know.",
             "Ask Acme Inc. about it, or Smith et al. in the paper. They know."},
    RuleCase{"sentence_end_needs_a_blank", "it ends here.next one", "it ends here.next one"},
    // Starts a careful writer leaves in lower case.
    spelled("joined_name_at_start", "We use it. gnome-shell draws the panel. route/ip shows it.",
            "We use it. gnome-shell draws the panel. route/ip shows it."),
    spelled("paragraph_wrapped_in_its_first_sentence", "using the tool that is built at the same\ntime as the library. it is small.",
            "using the tool that is built at the same\ntime as the library. It is small."),
    spelled("lines_that_end_sentences", "we met at noon.\nit rained.", "We met at noon.\nIt rained."),
    spelled("term_above_its_definition", "verbose\nIf set, every step is printed.", "verbose\nIf set, every step is printed."),
    spelled("list_items", "\u2014 pass the name on the command line.\n\no If the file exists, it is read.\n\n2. copy the file there.",
            "\u2014 pass the name on the command line.\n\no If the file exists, it is read.\n\n2. copy the file there."),
    spelled("trade_names_by_their_noun_or_a_path", "Install the groff package and the keystore /etc/keys first.",
            "Install the groff package and the keystore /etc/keys first."),
    spelled("pieces_of_a_relative_path", "It runs if *util/fusermount3* or tols/mkfs is setuid.",
            "It runs if *util/fusermount3* or tols/mkfs is setuid."),
    spelled("names_among_names", "It maps uids and gids to users.", "It maps uids and gids to users."),
    spelled("names_by_a_label_a_package_ending_or_a_mixed_case_name",
            "It prints \"flexx: cannot open\" then. Install flexx-base or flexx-utils. Both LaTeX and flexx work.",
            "It prints \"flexx: cannot open\" then. Install flexx-base or flexx-utils. Both LaTeX and flexx work."),
    spelled("slip_beside_a_run_together_word", "It was abig and beautifull house.", "It was abig and beautiful house."),
    spelled("word_broken_at_a_line_end", "It has param\u2010\neters and argu-\nments.", "It has param\u2010\neters and argu-\nments."),
    spelled("abbreviation_after_slashes", "It wraps read/write/etc. and it logs them.", "It wraps read/write/etc. and it logs them."),
    spelled("shortcode_at_start", ":tada: We shipped it.", ":tada: We shipped it."),
    spelled("spaced_abbreviations", "Pick a mode, e. g. fast or slow, i. e. the speed.", "Pick a mode, e. g. fast or slow, i. e. the speed."),
    spelled("named_quotation_and_bracketed_word", "Keep the \"Done.\" line. It failed. (or) Why did it fail? It broke. (see below) we left.",
            "Keep the \"Done.\" line. It failed. (or) Why did it fail? It broke. (see below) we left."),
    spelled("mark_inside_an_aside", "There is another (better?) way. We fixed it (finally!) and left.",
            "There is another (better?) way. We fixed it (finally!) and left."),
    // Doubled words.
    RuleCase{"doubled_function_words", "We went to to the the shop and and left.", "We went to the shop and left."},
    RuleCase{"reduplicated_names_kept", "We flew to Bora Bora. Bora Bora is far.", "We flew to Bora Bora. Bora Bora is far."},
    RuleCase{"name_like_doubling_kept", "The The played. So so good. Is is.", "The The played. So so good. Is is."},
    // Symbols and maths.
    RuleCase{"named_marks_keep_their_space", "The ! operator negates , and the ? mark asks.",
             "The ! operator negates, and the ? mark asks."},
    RuleCase{"ellipsis_keeps_its_blank", "We sell pens, ink ... and more.", "We sell pens, ink ... and more."},
    RuleCase{"list_of_marks", "Use ! , ; or ? to end.", "Use ! , ; or ? to end."},
    RuleCase{"imaginary_unit", "The imaginary unit i is a root, so z = 3 + i and i squared is -1.",
             "The imaginary unit i is a root, so z = 3 + i and i squared is -1."},
    RuleCase{"letter_lists", "Take x, y and i as inputs, then i know.", "Take x, y and i as inputs, then I know."},
};

// One test per check over the whole table: every test program loads the
// dictionary once, and CTest runs each test in a process of its own.
TEST(RuleCorrectorTable, CorrectsAsDocumented) {
    RuleCorrector corrector(spellers::americanSpeller());
    for (const auto& c : kRuleCases) EXPECT_EQ(corrector.correct(c.input), c.expected) << c.name;
}

TEST(RuleCorrectorTable, SecondPassChangesNothing) {
    RuleCorrector corrector(spellers::americanSpeller());
    for (const auto& c : kRuleCases) {
        EXPECT_EQ(corrector.correct(c.expected), c.expected) << c.name;
        std::string once = corrector.correct(c.input);
        EXPECT_EQ(corrector.correct(once), once) << c.name;
    }
}

// Without a dictionary the same rules run, with the misspelling list alone.
TEST(RuleCorrectorTable, WithoutADictionaryNothingElseChanges) {
    RuleCorrector listOnly;
    for (const auto& c : kRuleCases) {
        std::string corrected = listOnly.correct(c.input);
        EXPECT_EQ(listOnly.correct(corrected), corrected) << c.name;
        if (c.dictionaryFree) {
            EXPECT_EQ(corrected, c.expected) << c.name;
        }
    }
}

// Rules meet each other across sentences and lines: any two fixtures joined
// still correct to a text that a second pass leaves as it is.
TEST(RuleCorrectorIdempotence, HoldsForJoinedFixtures) {
    RuleCorrector corrector(spellers::americanSpeller());
    for (std::size_t i = 0; i < kRuleCases.size(); ++i) {
        const std::string& a = kRuleCases[i].input;
        const std::string& b = kRuleCases[(i * 7 + 3) % kRuleCases.size()].input;
        for (const std::string& joined : {a + " " + b, a + ". " + b, a + "\n\n" + b, b + " , " + a}) {
            std::string once = corrector.correct(joined);
            EXPECT_EQ(corrector.correct(once), once) << "from: " << joined;
        }
    }
}

// One rule's change opens another's context: a single correction already
// makes every change that a second one would.
TEST(RuleCorrectorIdempotence, OneCorrectionMakesWhatASecondWould) {
    const struct {
        const char* name;
        std::string input, expected;
    } cases[] = {
        {"article_before_a_name_capitalised_later", "We visited a african country and an european city.",
         "We visited an African country and a European city."},
        {"agreement_after_a_lone_i", "Every morning i walks to work.", "Every morning I walk to work."},
        {"verb_after_an_uncountable_made_singular", "You should advices him.", "You should advise him."},
        {"split_word_at_a_sentence_start", "everyday, we read.", "Every day, we read."},
        {"inserted_word_before_another_rule", "They hoped decide visit us.", "They hoped to decide to visit us."},
        {"dropped_word_before_a_mark", "What will we discuss about?", "What will we discuss?"},
    };
    RuleCorrector corrector(spellers::americanSpeller());
    for (const auto& c : cases) {
        const std::string once = corrector.correct(c.input);
        EXPECT_EQ(once, c.expected) << c.name;
        EXPECT_EQ(corrector.correct(once), once) << c.name;
    }
    // A sentence's language is judged with the capital its first word will
    // get; a run of short sentences takes the language after it as one.
    Dictionaries dictionaries;
    RuleCorrector automatic(dictionaries);
    for (RuleCorrector* c : {&corrector, &automatic})
        for (std::string text : {"We met. italy canada. It rained.", "We met. i'm hardwares. It rained.",
                                 "practise. luggages. the rain stopped today."}) {
            const std::string once = c->correct(text);
            EXPECT_EQ(c->correct(once), once) << text;
        }
}

// Every English variant's spellings are right; the chosen one only decides
// where misspellings go.
TEST(RuleCorrectorLanguages, BritishKeepsBritishSpellings) {
    Dictionaries dictionaries;
    const std::string text = "the colour and flavour of teh organisation.";
    EXPECT_EQ(RuleCorrector(dictionaries, "en_GB").correct(text), "The colour and flavour of the organisation.");
    EXPECT_EQ(RuleCorrector(dictionaries, "en_US").correct(text), "The colour and flavour of the organisation.");
    EXPECT_EQ(RuleCorrector(dictionaries, "en_GB").correct("the goverment's color"), "the government's color");
}

// Requests are served by several threads at once, all with one dictionary.
TEST(RuleCorrectorThreads, OneDictionaryServesConcurrentRequests) {
    RuleCorrector corrector(spellers::americanSpeller());
    const std::string text = "i think teh report is redy. the goverment's documemt is finaly here, probaly.";
    const std::string expected = corrector.correct(text);
    ASSERT_EQ(expected, "I think the report is ready. The government's document is finally here, probably.");
    std::vector<std::string> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results)
        threads.emplace_back([&] {
            for (int i = 0; i < 30; ++i) result = corrector.correct(text);
        });
    for (auto& t : threads) t.join();
    for (const auto& result : results) EXPECT_EQ(result, expected);
}

TEST(TextScan, ALowerCaseStartToldAsTheUnicodeTablesTellIt) {
    for (std::string_view word : {"", "a", "z", "A", "Z", "1st", "'tis", "-", "\u00e9lan", "\u00c9lan", "\u00df",
                                  "\u01c5", "\u03b1\u03b2", "\u0391", "\xff"}) {
        // The Unicode tables' answer for the first code point; ASCII is told without them.
        UChar32 first = -1;
        if (!word.empty()) {
            int32_t at = 0;
            U8_NEXT(reinterpret_cast<const uint8_t*>(word.data()), at, int32_t(word.size()), first);
        }
        EXPECT_EQ(startsLowercase(word), first >= 0 && u_islower(first)) << word;
    }
}

TEST(TextScan, TokensJoinBackToTheInput) {
    for (std::string text : {std::string("a, b  c\r\nd\te@f.g `h` ```i``` @j.k. http://l/m)."),
                             std::string("bad \xff\xfe utf8 \xc3"), std::string("\u2028x\u2029y\u0085"),
                             std::string("```unterminated code"), std::string("@"), std::string("`")}) {
        EXPECT_EQ(join(tokenize(text)), text);
    }
}

TEST(TextScan, FindsMentionHandlesButNotAddresses) {
    EXPECT_EQ(mentionHandles("hi @jane and @Bob Smith, not bob@example.com (@kim.lee.)"),
              (std::vector<std::string>{"@jane", "@Bob", "@kim.lee"}));
}

TEST(TextScan, ChecksHandlesInOrder) {
    EXPECT_TRUE(containsInOrder("Hi @a and @b", {"@a", "@b"}));
    EXPECT_FALSE(containsInOrder("Hi @b and @a", {"@a", "@b"}));
    EXPECT_FALSE(containsInOrder("Hi @A", {"@a"}));
    EXPECT_TRUE(containsInOrder("anything", {}));
}

}  // namespace
