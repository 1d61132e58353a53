// The clipboard formats and text helpers on the fix path: throughput of the
// Chromium container beside memcpy, and the per-message costs of the Slack
// document, the mention splicer and the character count.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <string>

#include "BenchText.h"
#include "clipboard/ChromiumPickle.h"
#include "clipboard/MentionSplicer.h"
#include "clipboard/SlackDelta.h"
#include "text/Text.h"

using namespace quillant;
using quillant::clipboard::ChromiumPickle;

namespace {

enum TextKind { ascii = 0, mixed = 1 };

// A container of about `bytes` bytes as Slack writes it: the plain text and
// the rich document, both carrying the same prose.
std::map<std::string, std::string> containerMap(std::size_t bytes, TextKind kind) {
    const auto& words = kind == ascii ? bench::asciiWords() : bench::mixedWords();
    // Both strings hold the prose, at two bytes per UTF-16 unit; the mixed
    // prose takes about 1.5 UTF-8 bytes per unit.
    std::size_t utf8Bytes = kind == ascii ? bytes / 4 : bytes * 3 / 8;
    std::string text = bench::prose(words, utf8Bytes);
    return {{"public.utf8-plain-text", text}, {"slack/texty", R"({"ops":[{"insert":")" + text + R"("}]})"}};
}

void label(benchmark::State& state) {
    state.SetLabel(state.range(1) == ascii ? "ascii" : "mixed");
}

void BM_PickleDecode(benchmark::State& state) {
    const std::string container = ChromiumPickle::encode(containerMap(std::size_t(state.range(0)), TextKind(state.range(1))));
    for (auto _ : state) {
        auto map = ChromiumPickle::decode(container);
        if (!map) throw std::runtime_error("container did not decode");
        benchmark::DoNotOptimize(map);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(container.size()));
    state.counters["container_bytes"] = double(container.size());
    label(state);
}

void BM_PickleEncode(benchmark::State& state) {
    const auto map = containerMap(std::size_t(state.range(0)), TextKind(state.range(1)));
    std::size_t size = 0;
    for (auto _ : state) {
        auto container = ChromiumPickle::encode(map);
        size = container.size();
        benchmark::DoNotOptimize(container);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(size));
    state.counters["container_bytes"] = double(size);
    label(state);
}

// The baseline: copying the container's bytes into a fresh buffer, as
// decode and encode each produce one.
void BM_Memcpy(benchmark::State& state) {
    const std::string container = ChromiumPickle::encode(containerMap(std::size_t(state.range(0)), TextKind(state.range(1))));
    for (auto _ : state) {
        std::string copy(container.size(), '\0');
        std::memcpy(copy.data(), container.data(), container.size());
        benchmark::DoNotOptimize(copy);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(container.size()));
    state.counters["container_bytes"] = double(container.size());
    label(state);
}

void containerSizes(benchmark::internal::Benchmark* b) {
    for (long kind : {ascii, mixed})
        for (long size : {1L << 10, 64L << 10, 1L << 20}) b->Args({size, kind});
}

BENCHMARK(BM_Memcpy)->Apply(containerSizes);
BENCHMARK(BM_PickleDecode)->Apply(containerSizes);
BENCHMARK(BM_PickleEncode)->Apply(containerSizes);

void BM_SlackDeltaDecode(benchmark::State& state) {
    const std::string json = bench::slackMessage().delta.encodeJSON().value();
    for (auto _ : state) {
        auto delta = clipboard::SlackDelta::decode(json);
        if (!delta || delta->mentionOps().size() != 50) throw std::runtime_error("bad document");
        benchmark::DoNotOptimize(delta);
    }
    state.counters["json_bytes"] = double(json.size());
}
BENCHMARK(BM_SlackDeltaDecode)->Unit(benchmark::kMicrosecond);

void BM_SlackDeltaEncodeJSON(benchmark::State& state) {
    const auto delta = bench::slackMessage().delta;
    for (auto _ : state) {
        auto json = delta.encodeJSON();
        benchmark::DoNotOptimize(json);
    }
}
BENCHMARK(BM_SlackDeltaEncodeJSON)->Unit(benchmark::kMicrosecond);

void BM_MentionSplice(benchmark::State& state) {
    const auto message = bench::slackMessage();
    for (auto _ : state) {
        auto spliced = clipboard::MentionSplicer::splice(message.delta, message.corrected);
        if (!spliced) throw std::runtime_error("splice failed");
        benchmark::DoNotOptimize(spliced);
    }
}
BENCHMARK(BM_MentionSplice)->Unit(benchmark::kMicrosecond);

// 1500 user-perceived characters of each kind of text.
std::string selection(int kind) {
    std::string out;
    switch (kind) {
        case 0:
            out = bench::prose(bench::asciiWords(), 1500);
            out.resize(1500, '.');
            break;
        case 1:  // precomposed and combining accents
            while (text::graphemeCount(out) < 1500) out += "café naïve e\u0301te\u0301 Ærøskøbing ";
            break;
        default:  // skin tones, families, flags and plain emoji between words
            while (text::graphemeCount(out) < 1500) out += "ok 👍🏽 👨‍👩‍👧‍👦 🇯🇵 😀 ";
            break;
    }
    while (text::graphemeCount(out) > 1500) out.pop_back();
    while (!text::isValidUTF8(out)) out.pop_back();
    return out;
}

void BM_GraphemeCount(benchmark::State& state) {
    const std::string text = selection(int(state.range(0)));
    std::size_t count = 0;
    for (auto _ : state) {
        count = text::graphemeCount(text);
        benchmark::DoNotOptimize(count);
    }
    static const char* const names[] = {"ascii", "accented", "emoji"};
    state.SetLabel(names[state.range(0)]);
    state.counters["graphemes"] = double(count);
    state.counters["utf8_bytes"] = double(text.size());
}
BENCHMARK(BM_GraphemeCount)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
