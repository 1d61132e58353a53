// The coordinator's own CPU cost for one complete fix of a Slack selection:
// every substitute answers at once and the fixed waits pass in virtual time,
// so what is measured is the flow's own work (snapshot, copy, decode, request
// encoding, splice, write, paste, restore), nothing else.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchText.h"
#include "testsupport/CoordinatorHarness.h"
#include "clipboard/ChromiumPickle.h"

using namespace quillant;

namespace {

// The user's clipboard before the press: `items` items of `bytes` bytes each.
std::vector<clipboard::PasteboardItemData> userClipboard(std::size_t items, std::size_t bytes) {
    std::vector<clipboard::PasteboardItemData> out;
    for (std::size_t i = 0; i < items; ++i) {
        clipboard::PasteboardItemData item;
        item.set("public.utf8-plain-text", clipboard::Bytes(std::string(bytes, char('a' + i % 26))));
        out.push_back(item);
    }
    return out;
}

void BM_CoordinatorFix(benchmark::State& state) {
    const auto items = std::size_t(state.range(0));
    const auto itemBytes = std::size_t(state.range(1));
    const auto message = bench::slackMessage();
    const std::string container = clipboard::ChromiumPickle::encode(
        {{"public.utf8-plain-text", message.text}, {"slack/texty", message.delta.encodeJSON().value()}});
    const auto answer = quillant::testing::FakeHttpSession::answer(200, nlohmann::json{{"corrected", message.corrected}}.dump());

    quillant::testing::CoordinatorHarness h;
    h.start();
    h.ex.runUntil([&] { return h.c().backendStatus.get() == app::BackendStatus::connected; });
    h.board.setItems(userClipboard(items, itemBytes));
    h.appCopies(message.text, std::chrono::milliseconds(20),
                {{"org.chromium.web-custom-data", container}});

    std::size_t pastesBefore = h.pastes().size();
    for (auto _ : state) {
        h.fixReplies.push_back(answer);
        h.pressAndSettle();
        state.PauseTiming();
        h.logs.clear();
        state.ResumeTiming();
    }
    // Each run pasted once and left the user's clipboard as it was.
    if (h.pastes().size() - pastesBefore != std::size_t(state.iterations()) || h.board.items().size() != items)
        throw std::runtime_error("the fix flow did not complete: " + h.c().lastStatus.get());
    state.counters["snapshot_bytes"] = double(items * itemBytes);
    state.SetLabel(h.c().lastStatus.get());
}

BENCHMARK(BM_CoordinatorFix)
    ->Args({1, 1 << 10})
    ->Args({10, 1 << 10})
    ->Args({1, 1 << 20})
    ->Args({10, 1 << 20})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
