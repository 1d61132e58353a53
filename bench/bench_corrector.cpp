// The local service's offline corrector: a 1500-character text must be
// corrected within 1 ms on one core. Also what loading a dictionary costs
// in time and memory.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <string>
#include <vector>

#include "service/Dictionaries.h"
#include "service/RuleCorrector.h"
#include "service/Speller.h"

using namespace quillant::service;

namespace {

const Speller& american() {
    static const Speller speller("en_US");
    return speller;
}

// Chat-like prose with typos, code, links, mentions and quotations, cut at
// `chars` characters on a word boundary.
std::string text(std::size_t chars, bool typos) {
    const std::vector<std::string> sentences = {
        typos ? "i think teh report is redy, but the goverment's numbers are probaly late." :
                "I think the report is ready, but the government's numbers are probably late.",
        "@jane can you check https://example.com/q3/plan and docs.example.org before Friday?",
        typos ? "We recieved the documemt from Acme Inc. and it looks finaly complete." :
                "We received the document from Acme Inc. and it looks finally complete.",
        "Run `make check` with --verbose, then open ~/notes/q3.md and set max_retries to 3.",
        typos ? "The enviroment variables are seperate, so the the build stays clean." :
                "The environment variables are separate, so the build stays clean.",
        "They serve \"teh tarik\" downstairs; ask in #general if you want some at 10am.",
        typos ? "Arguements aside, we should definately ship it untill the end of the month." :
                "Arguments aside, we should definitely ship it until the end of the month.",
    };
    std::string out;
    for (std::size_t i = 0;; ++i) {
        const std::string& s = sentences[i % sentences.size()];
        if (out.size() + s.size() + 1 > chars) break;
        if (!out.empty()) out += ' ';
        out += s;
    }
    return out;
}

// The service's own corrector: every installed dictionary, language per sentence.
Dictionaries& installed() {
    static Dictionaries dictionaries;
    return dictionaries;
}

void BM_CorrectText(benchmark::State& state) {
    RuleCorrector corrector(installed());
    const std::string input = text(std::size_t(state.range(0)), state.range(1) != 0);
    for (auto _ : state) benchmark::DoNotOptimize(corrector.correct(input));
    state.SetLabel(state.range(1) ? "with typos" : "clean");
    state.counters["chars"] = double(input.size());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input.size()));
}
BENCHMARK(BM_CorrectText)->Args({1500, 1})->Args({1500, 0})->Args({150, 1})->Unit(benchmark::kMicrosecond);

void BM_CorrectWord(benchmark::State& state) {
    const Speller& speller = american();
    const std::vector<std::string> words = {"goverment", "redy", "documemt", "finaly", "kubectl", "xqzvbnm"};
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(speller.correction(words[i++ % words.size()]));
}
BENCHMARK(BM_CorrectWord)->Unit(benchmark::kMicrosecond);

// Words no single slip explains, which search the common words two slips away.
void BM_CorrectWordTwoSlips(benchmark::State& state) {
    const Speller& speller = american();
    const std::vector<std::string> words = {"excercize", "buisnes", "diferance", "embarased", "xqzvbnm"};
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(speller.correction(words[i++ % words.size()]));
}
BENCHMARK(BM_CorrectWordTwoSlips)->Unit(benchmark::kMicrosecond);

// Without frequency lists (other languages) every candidate goes to Hunspell.
void BM_CorrectWordWithoutLists(benchmark::State& state) {
    SpellerPaths noLists;
    noLists.wordListDir = "/nonexistent";
    const Speller speller("en_US", noLists);
    const std::vector<std::string> words = {"goverment", "redy", "documemt", "finaly", "kubectl", "xqzvbnm"};
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(speller.correction(words[i++ % words.size()]));
}
BENCHMARK(BM_CorrectWordWithoutLists)->Unit(benchmark::kMicrosecond);

// Heap held by one loaded dictionary with its frequency lists.
void BM_LoadDictionary(benchmark::State& state) {
    const char* languages[] = {"en_US", "en_GB", "de_DE", "fr"};
    const char* language = languages[state.range(0)];
    double heldMiB = 0;
    for (auto _ : state) {
        struct mallinfo2 before = mallinfo2();
        Speller speller(language);
        struct mallinfo2 after = mallinfo2();
        heldMiB = double((after.uordblks + after.hblkhd) - (before.uordblks + before.hblkhd)) / (1024.0 * 1024.0);
        benchmark::DoNotOptimize(speller.rankedWordCount());
    }
    state.SetLabel(language);
    state.counters["held_MiB"] = heldMiB;
}
BENCHMARK(BM_LoadDictionary)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Iterations(3);

// A paragraph of German and one of French: the language is found per
// sentence, and both dictionaries are asked. No sentence repeats, as in a
// real text.
void BM_CorrectOtherLanguages(benchmark::State& state) {
    RuleCorrector corrector(installed());
    const std::vector<std::string> sentences = {
        "Wir haben gestern ein neues Auto gekauft und sind sehr glücklich damit.",
        "Ich habe den Brief an meine Mutter geschrieben, aber sie hat ihn noch nicht bekommen.",
        "Am Wochenende fahren wir mit den Kindern in die Berge, wenn das Wetter schön bleibt.",
        "Die Besprechung wurde auf Donnerstag verschoben, weil zwei Kollegen krank sind.",
        "Könntest du mir bitte die Unterlagen schicken, bevor die Frist morgen abläuft?",
        "Unsere Nachbarn haben einen kleinen Hund, der jeden Morgen laut bellt.",
        "Nach dem Essen gingen wir noch lange am Fluss spazieren und redeten über alte Zeiten.",
        "Der Zug war so voll, dass wir den ganzen Weg bis nach Hamburg stehen mussten.",
        "Meine Schwester lernt seit einem Jahr Spanisch und möchte im Sommer nach Madrid reisen.",
        "Nous avons besoin de beaucoup de temps pour terminer ce projet avant lundi.",
        "Je pense que le rapport est prêt, mais nous devons encore le relire ensemble.",
        "Le train de huit heures était en retard, alors nous avons pris un café à la gare.",
        "Elle a oublié son parapluie chez sa sœur et elle est rentrée toute mouillée.",
        "Les enfants jouent dans le jardin pendant que leurs parents préparent le dîner.",
        "Il faudra réserver les billets assez tôt, car les prix augmentent en été.",
        "Mon voisin répare sa voiture lui-même depuis qu'il a perdu son travail au garage.",
        "Nous avons visité un petit musée où l'on pouvait voir des outils très anciens.",
        "Après la réunion, le directeur a remercié toute l'équipe pour ses efforts.",
    };
    std::string input;
    for (const auto& sentence : sentences) input += sentence + " ";
    for (auto _ : state) benchmark::DoNotOptimize(corrector.correct(input));
    state.counters["chars"] = double(input.size());
}
BENCHMARK(BM_CorrectOtherLanguages)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
