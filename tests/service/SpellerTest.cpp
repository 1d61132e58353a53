#include "ServiceTestSupport.h"
#include "SpellerFixture.h"
#include "service/RuleCorrector.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace quillant::service;
using ::testing::HasSubstr;

namespace {

struct SpellingCase {
    const char* typed;
    const char* expected;  // "" when the word must be left alone
};

const SpellingCase kSpellingCases[] = {
    // A letter left out.
    SpellingCase{"redy", "ready"}, SpellingCase{"goverment", "government"}, SpellingCase{"enviroment", "environment"},
    SpellingCase{"adress", "address"}, SpellingCase{"occured", "occurred"},
    SpellingCase{"accomodate", "accommodate"}, SpellingCase{"probaly", "probably"},
    SpellingCase{"finaly", "finally"}, SpellingCase{"tommorrow", "tomorrow"},
    // A letter too many.
    SpellingCase{"untill", "until"}, SpellingCase{"arguement", "argument"}, SpellingCase{"truely", "truly"},
    SpellingCase{"reportt", "report"},
    // Two letters swapped.
    SpellingCase{"recieve", "receive"}, SpellingCase{"becuase", "because"},
    SpellingCase{"freind", "friend"}, SpellingCase{"beleive", "believe"},
    SpellingCase{"porblem", "problem"},
    // A wrong letter: a neighbouring key, a vowel for a vowel.
    SpellingCase{"definately", "definitely"}, SpellingCase{"seperate", "separate"},
    SpellingCase{"meetimg", "meeting"}, SpellingCase{"documemt", "document"}, SpellingCase{"existance", "existence"},
    // A letter that sounds like the one meant; a sound spelled another way; a first vowel heard the same.
    SpellingCase{"advanse", "advance"}, SpellingCase{"frient", "friend"}, SpellingCase{"telefone", "telephone"},
    SpellingCase{"permition", "permission"}, SpellingCase{"enstead", "instead"},
    // A near tie goes to a far commoner word; words alike only at the end are no forms of one word.
    SpellingCase{"stoped", "stopped"}, SpellingCase{"chaep", "cheap"}, SpellingCase{"bougth", "bought"},
    SpellingCase{"nite", ""},
    // ... even when a rare word is a little cheaper.
    SpellingCase{"shoing", "showing"}, SpellingCase{"alays", "always"},
    // Of near forms of one word, the one whose ending the typed word shows.
    SpellingCase{"carefull", "careful"}, SpellingCase{"answerd", "answered"}, SpellingCase{"exceded", "exceeded"},
    SpellingCase{"flahs", ""},  // "flags" is no form of "flash"
    // A long word takes a costlier slip, not on top of one in its first letter.
    SpellingCase{"pronounciation", "pronunciation"}, SpellingCase{"qbandonment", ""},
    // Two slips towards a common word, when it clearly stands out.
    SpellingCase{"excercize", "exercise"}, SpellingCase{"buisnes", "business"}, SpellingCase{"hopfulyl", "hopefully"},
    // Costlier in a long word that keeps its last letter (not another language's word), and its first two
    // when it opens with a vowel.
    SpellingCase{"comunicasion", "communication"}, SpellingCase{"envirement", "environment"},
    SpellingCase{"naturaleza", ""}, SpellingCase{"amarillos", ""},
    // A long word with no word one slip away: the one common word two likely slips
    // from it, unless another lies within two slips; two known words joined are a
    // coinage, and a word two letters shorter a name the search cut down.
    SpellingCase{"knowlage", "knowledge"}, SpellingCase{"ecsperiment", "experiment"},
    SpellingCase{"bugfixes", ""}, SpellingCase{"readonly", ""}, SpellingCase{"symlink", ""},
    // Possessives and contractions are words the dictionary knows.
    SpellingCase{"doesnt", "doesn't"},
    // Nothing stands out, or nothing is close: left alone.
    SpellingCase{"xqzvbn", ""}, SpellingCase{"kubectl", ""}, SpellingCase{"nginx", ""}, SpellingCase{"manpage", ""},
    SpellingCase{"thw", "the"},
    // Two consonants no common word opens with: a name, unless they are only swapped.
    SpellingCase{"ldap", ""}, SpellingCase{"hte", "the"},
    // A regular derivation of a known word is a coinage, not a slip; unless the
    // rules would double, drop or change a letter there.
    SpellingCase{"sandboxed", ""}, SpellingCase{"fuzzers", ""}, SpellingCase{"parsable", ""},
    SpellingCase{"untrusted", ""}, SpellingCase{"natively", ""}, SpellingCase{"recods", "records"},
    SpellingCase{"unability", "inability"}, SpellingCase{"fatser", "faster"},
    // A consonant doubled before an ending, a silent "e" kept before "-ing", a
    // silent letter left out: likelier slips than another letter.
    SpellingCase{"namming", "naming"}, SpellingCase{"hopeing", "hoping"}, SpellingCase{"driveing", "driving"},
    SpellingCase{"strongely", "strongly"},  // an "e" before "-ly", not "strangely"
    SpellingCase{"nowledge", "knowledge"}, SpellingCase{"nowing", "knowing"}, SpellingCase{"ritten", ""},
    // A silent "e" added after the last consonant; not where it may begin an
    // ending whose last letter was left off ("jumped", "jumper") or be the
    // plural's "s" hit on its neighbouring key ("parrots").
    SpellingCase{"eloquente", "eloquent"}, SpellingCase{"garishe", "garish"}, SpellingCase{"jumpe", ""},
    SpellingCase{"parrote", ""},
    // A neighbouring key for the first letter is as likely as one further on:
    // two such words about as common leave the word alone.
    SpellingCase{"forner", ""}, SpellingCase{"niting", ""},
    // A noun coined of a known word in "-ct" stands against one costly slip.
    SpellingCase{"ediction", ""},
    // A short word with a letter replaced: only a clear lead counts.
    SpellingCase{"gids", ""}, SpellingCase{"likr", "like"},
    // Two likely words: left to the misspelling list, or to the writer.
    SpellingCase{"wich", ""}, SpellingCase{"wierd", ""}, SpellingCase{"thier", ""}, SpellingCase{"redis", ""},
    SpellingCase{"async", ""}, SpellingCase{"json", ""}, SpellingCase{"printf", ""}, SpellingCase{"sudo", ""},
    SpellingCase{"tarik", ""}, SpellingCase{"distro", ""}, SpellingCase{"blog", ""},
    // A letter outside ASCII, slipped on like any other: an accent on a word that has none.
    SpellingCase{"governmént", "government"},
};

TEST(Speller, OneCandidateStandsOutOrNone) {
    const Speller& speller = spellers::americanSpeller();
    for (const auto& c : kSpellingCases) {
        auto correction = speller.correction(c.typed);
        std::string listed;
        for (const auto& candidate : speller.candidates(c.typed))
            listed += candidate.word + "=" + std::to_string(candidate.score) + " ";
        EXPECT_EQ(correction.value_or(""), c.expected) << c.typed << "; candidates: " << listed;
        if (correction) {
            EXPECT_TRUE(speller.accepts(*correction)) << c.typed;
        }
    }
}

// The word a place leaves room for: letters left out beat a slip, the first
// letter stays, and two as near leave the word alone.
TEST(Speller, NearestOfTheWordsAPlaceAllows) {
    constexpr std::string_view kWords[] = {"can", "could", "will", "would", "should", "must", "there", "three"};
    const struct {
        const char* typed;
        const char* expected;
    } cases[] = {{"woud", "would"}, {"shud", "should"}, {"wil", "will"}, {"wolud", "would"}, {"cuold", "could"},
                 {"xould", ""},     {"mst", "must"},    {"thre", ""},    {"shouldd", "should"}, {"cn", "can"}};
    for (const auto& c : cases)
        EXPECT_EQ(std::string(Speller::nearestOf(c.typed, kWords).value_or("")), c.expected) << c.typed;
}

TEST(Speller, KnowsWordsAndTheirForms) {
    const Speller& speller = spellers::americanSpeller();
    for (const char* word : {"the", "government's", "running", "unbelievably", "doesn't", "doesn\u2019t", "Linux", "async", "json"})
        EXPECT_TRUE(speller.accepts(word)) << word;
    for (const char* word : {"teh", "goverment's", "recieve", "colour", "linux"}) EXPECT_FALSE(speller.accepts(word)) << word;
}

TEST(Speller, KeepsATypographicApostrophe) {
    EXPECT_EQ(spellers::americanSpeller().correction("doesnt").value_or(""), "doesn't");
    EXPECT_EQ(spellers::americanSpeller().correction("does\u2019nt").value_or(""), "doesn\u2019t");
}

TEST(Speller, BritishDictionaryKeepsBritishSpellings) {
    const Speller& british = spellers::britishSpeller();
    EXPECT_TRUE(british.accepts("colour"));
    EXPECT_TRUE(british.accepts("organise"));
    EXPECT_FALSE(spellers::americanSpeller().accepts("colour"));
    EXPECT_EQ(british.correction("colur").value_or(""), "colour");
}

TEST(Speller, AMissingDictionaryIsAClearError) {
    try {
        Speller speller("xx_YY");
        FAIL() << "loaded a dictionary that is not installed";
    } catch (const SpellerError& e) {
        EXPECT_THAT(e.what(), HasSubstr("xx_YY"));
        EXPECT_THAT(e.what(), HasSubstr("en_US"));  // the installed ones are listed
    }
    EXPECT_THROW(Speller("../en_US"), SpellerError);
    SpellerPaths nowhere;
    nowhere.dictionaryDirs = {"/nonexistent"};
    try {
        Speller speller("en_US", nowhere);
        FAIL();
    } catch (const SpellerError& e) {
        EXPECT_THAT(e.what(), HasSubstr("none is installed"));
    }
}

// A dictionary of another language in its own 8-bit encoding, as older
// dictionaries are: words go to Hunspell converted, and come back as UTF-8.
TEST(Speller, ConvertsToTheDictionarysEncoding) {
    quillant::service::testing::TempDir dir;
    quillant::service::testing::writeFile(dir.path() / "xx_LATIN.aff", "SET ISO8859-1\nTRY aeiouc\xe7\xe9lnrst\n");
    quillant::service::testing::writeFile(dir.path() / "xx_LATIN.dic", "3\ncaf\xe9\nfa\xe7" "ade\nlune\n");
    SpellerPaths paths;
    paths.dictionaryDirs = {dir.path()};
    Speller speller("xx_LATIN", paths);
    EXPECT_FALSE(speller.isEnglish());
    EXPECT_EQ(speller.rankedWordCount(), 0u);
    EXPECT_TRUE(speller.accepts("caf\u00E9"));
    EXPECT_TRUE(speller.accepts("fa\u00E7ade"));
    EXPECT_FALSE(speller.accepts("cafe"));
    EXPECT_EQ(speller.correction("cafe").value_or(""), "caf\u00E9");
    EXPECT_EQ(speller.correction("facade").value_or(""), "fa\u00E7ade");
    EXPECT_EQ(speller.correction("lnue").value_or(""), "lune");
    EXPECT_EQ(Speller::installedLanguages(paths), std::vector<std::string>{"xx_LATIN"});

    // The English list and the English "i" stay out of another language.
    EXPECT_EQ(RuleCorrector(speller).correct("lune teh cafe lune, i lune"), "lune teh caf\u00E9 lune, i lune");
}

TEST(Speller, WorksWithoutFrequencyLists) {
    SpellerPaths noLists;
    noLists.wordListDir = "/nonexistent";
    Speller speller("en_US", noLists);
    EXPECT_EQ(speller.rankedWordCount(), 0u);
    EXPECT_EQ(speller.correction("goverment").value_or(""), "government");
    EXPECT_EQ(speller.correction("xqzvbn").value_or(""), "");
}

}  // namespace
