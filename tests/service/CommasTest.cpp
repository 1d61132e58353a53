// Commas the corrector sets between a sentence's parts, on the installed
// dictionaries: each rule where it fires and where it must hold back. Every
// answer is corrected again and must not change (no second comma).
#include "CorrectionCases.h"

using namespace quillant::service;

namespace {

void expectCommas(const std::vector<quillant::service::testing::TextCase>& cases) {
    quillant::service::testing::expectCorrectedOnce(cases);
}

TEST(Commas, AfterAnIntroduction) {
    expectCommas({
        {"For example each student brings a book.", "For example, each student brings a book."},
        {"It rained. However I still think it worked.", "It rained. However, I still think it worked."},
        {"On the other hand Berlin is cheaper.", "On the other hand, Berlin is cheaper."},
        {"However hard we try, it fails. However you look at it, it works.", nullptr},
        {"In addition to the fee we pay a tax. Of course not.", "In addition to the fee, we pay a tax. Of course not."},
        {"In general elections turnout is low.", nullptr},
        {"Of course we can help. Of course the plan failed.", "Of course we can help. Of course, the plan failed."},
        {"No I have not seen it. Yes that is true.", "No, I have not seen it. Yes, that is true."},
        {"No one came. No students were late.", nullptr},
        {"These days we rarely write letters.", "These days, we rarely write letters."},
        {"These days are short. These days we spent by the lake were the best.", nullptr},
        {"Thus after a long wait we walked home. Thus began a long walk. Hence the name.",
         "Thus, after a long wait, we walked home. Thus began a long walk. Hence the name."},
    });
}

TEST(Commas, AfterAnOpeningClauseOrPhrase) {
    expectCommas({
        {"If you want a new car you should save money.", "If you want a new car, you should save money."},
        {"In a market town the rent is lower.", "In a market town, the rent is lower."},
        {"Even if she liked it she would not say so.", "Even if she liked it, she would not say so."},
        {"By avoiding this we save a lot of time.", "By avoiding this, we save a lot of time."},
        {"When the rain stopped we went outside.", "When the rain stopped, we went outside."},
        {"When my sister arrives the party will start. When children feel tired the walk seems long.",
         "When my sister arrives, the party will start. When children feel tired, the walk seems long."},
        {"When I said we were late nobody listened. If he hoped they would stay he was wrong.", nullptr},
        {"If I tell him he will come. At least we tried.", nullptr},
        {"To get there we took the bus.", "To get there, we took the bus."},
        {"Because of the storm we stayed inside.", "Because of the storm, we stayed inside."},
        {"Because of the friends we made there was a party.", nullptr},
        {"I left early, and when he came back I was gone.", "I left early, and when he came back, I was gone."},
        {"It rained, and when I said we were late nobody listened.", nullptr},
        {"In the house they built there was a cellar. To buy the car they wanted was hard.", nullptr},
        {"In line with the above we agree to the plan.", "In line with the above, we agree to the plan."},
        {"To fit into the town we moved to we had to learn the dialect.",
         "To fit into the town we moved to, we had to learn the dialect."},
        {"To watch the birds is fun. To read the books is a joy.", nullptr},
        {"If the job we like pays well we stay.", nullptr},
        {"If you buy a car you like, you will be happy.", nullptr},
        {"If you want to know a town you can walk around it, but if you are short of time, take a bus.",
         "If you want to know a town, you can walk around it, but if you are short of time, take a bus."},
        {"As a new member you can do what you like.", "As a new member, you can do what you like."},
        {"Walking along the river we saw two herons.", "Walking along the river, we saw two herons."},
        {"Based on the data we expect a rise.", "Based on the data, we expect a rise."},
        {"Walking along the river is what we like. Something we said was wrong.", nullptr},
        {"Cycling to work gives you the time you need.", nullptr},
        {"When the rain is heavy the road turns into mud.", "When the rain is heavy, the road turns into mud."},
        {"To make it fit the newly painted shelves some work is needed.", nullptr},
        {"To our surprise nothing happened.", "To our surprise, nothing happened."},
        {"When the weather is fine we walk to the lake, for example, or up the hill.",
         "When the weather is fine, we walk to the lake, for example, or up the hill."},
        {"Only by practising every day you get better.", nullptr},  // the order is at fault, not a comma
        {"Then when we reached the harbour it was dark. Then when you leave close the door.",
         "Then, when we reached the harbour, it was dark. Then when you leave close the door."},
        // After an introduction that the writer set off.
        {"Firstly, when the rain stopped we went out. So, to reach the top the team climbs all day.",
         "Firstly, when the rain stopped, we went out. So, to reach the top, the team climbs all day."},
        {"Thus, in my opinion the plan is fine.", "Thus, in my opinion, the plan is fine."},
        {"Moreover, for daily use you may want a bigger one.", nullptr},
    });
}

TEST(Commas, BeforeAConjunctionJoiningClauses) {
    expectCommas({
        {"I stayed at home all day but he went out.", "I stayed at home all day, but he went out."},
        {"The shop was closed on Monday and the owner was away.",
         "The shop was closed on Monday, and the owner was away."},
        {"We can take the early train or we can drive there.", "We can take the early train, or we can drive there."},
        {"I think he left early and she stayed at home.", nullptr},
        {"She bought apples, pears and plums. He washed the car and cleaned the windows.", nullptr},
        {"Both the teacher and the students were late. I like it and you know it.", nullptr},
        {"We had planned to stay longer but right now we are too tired.",
         "We had planned to stay longer, but right now we are too tired."},
        {"She always complains about this but even if we help she is unhappy.",
         "She always complains about this, but even if we help she is unhappy."},
        {"He kept everything but the books they wrote.", nullptr},
        {"She spent the whole summer working in a bakery by the sea and she loved it. It was warm and we swam.",
         "She spent the whole summer working in a bakery by the sea, and she loved it. It was warm and we swam."},
        {"I know that you tried very hard but the plan was too dear.",
         "I know that you tried very hard, but the plan was too dear."},
        {"Also the old mill by the river was closed last year and it will be pulled down soon.",
         "Also, the old mill by the river was closed last year and it will be pulled down soon."},
        {"Sooner or later they have to face the failures and a lot of struggles.", nullptr},
        {"My brother would fix the roof himself and the neighbours would help him. The town will build a new school "
         "next year and so our old one will close.",
         "My brother would fix the roof himself and the neighbours would help him. The town will build a new school "
         "next year, and so our old one will close."},
    });
}

TEST(Commas, BeforeWhichAddingToAKnownNoun) {
    expectCommas({
        {"Last year we visited Kyoto which is famous for its temples.",
         "Last year we visited Kyoto, which is famous for its temples."},
        {"He finally sold his old car which was too small.", "He finally sold his old car, which was too small."},
        {"She lent me her old bike which I rode every day.", "She lent me her old bike, which I rode every day."},
        {"They work in other ways than their rivals which gives them an edge. She sells tools which make work easier.",
         "They work in other ways than their rivals, which gives them an edge. She sells tools which make work easier."},
        {"I need a tool which cuts metal. The book in which I found it is old.", nullptr},
        {"Which one do you want? I do not know which bus goes there.", nullptr},
        {"She reads the books which her father wrote. The car which I bought is red.", nullptr},
        {"You can add rules that limit which files can be read.", nullptr},
    });
}

TEST(Commas, AroundExamplesInMidSentence) {
    expectCommas({
        {"I like this town especially in summer.", "I like this town, especially in summer."},
        {"Some towns are cheaper for example Leeds.", "Some towns are cheaper, for example Leeds."},
        {"We could for example take the bus.", "We could, for example, take the bus."},
        {"Prices vary a lot, for example if you travel at night it is cheaper. Some are cheaper, for example Leeds.",
         "Prices vary a lot, for example, if you travel at night it is cheaper. Some are cheaper, for example Leeds."},
        {"It is especially hard in winter. I especially like the blue one.", nullptr},
        {"We had an especially long day.", nullptr},
        {"The rooms are cheap and warm and so on. The shop sells bread, cakes and so on.",
         "The rooms are cheap and warm, and so on. The shop sells bread, cakes and so on."},
    });
}

TEST(Commas, AroundHoweverInMidSentence) {
    expectCommas({
        {"The second plan however was cheaper.", "The second plan, however, was cheaper."},
        {"We did not win the final match however.", "We did not win the final match, however."},
        {"We lose however hard we try. You can do it however you like.", nullptr},
    });
}

TEST(Commas, BetweenPairedComparatives) {
    expectCommas({
        {"The harder they work the more money they earn.", "The harder they work, the more money they earn."},
        {"I think the longer we wait the worse it gets.", "I think the longer we wait, the worse it gets."},
        {"The bigger dog chased the smaller cat.", nullptr},
        {"The older man we met was kind and the younger one smiled.", nullptr},
    });
}

// A comma between a verb of thinking and its clause is taken out.
TEST(Commas, NotBetweenAVerbOfThinkingAndItsClause) {
    expectCommas({
        {"I believe, that the plan will work.", "I believe that the plan will work."},
        {"In my view, we strongly feel, this rule is fair.", "In my view, we strongly feel this rule is fair."},
        {"I think, therefore I am. I think, that is wrong.", nullptr},
        {"I think, however, that it is wrong. I know, it is hard.", nullptr},
        {"They feel, it seems, that the rule is fair.", nullptr},
    });
}

// Quotations, fragments and other languages keep their commas as written.
TEST(Commas, NeverOutsideWholeEnglishSentences) {
    expectCommas({
        {"He wrote \"The shop was closed on Monday and the owner was away\" on the card.", nullptr},
        {"the shop was closed on Monday and the owner was away", nullptr},
        {"and if you want a new car you should save money.", nullptr},
        {"But after the long storm the old bridge was closed.", "But after the long storm, the old bridge was closed."},
        {"Because it is now a free service so nobody pays for it.", nullptr},
        {"It means that they may pass it on\nunder the same terms they got it.", nullptr},
        {"Wenn du ein Auto willst, musst du sparen, aber wir fahren Rad.", nullptr},
    });
}

}  // namespace
