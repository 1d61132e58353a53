#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Clock.h"

namespace quillant::linux_platform {

// The bounds of the X11 clipboard. A foreign owner runs in another process
// and may be slow, hung or huge; these keep the main thread and memory safe.
struct X11ClipboardLimits {
    // How long a foreign owner may take for each answer: the reply to one
    // request, or the next chunk of an incremental transfer.
    Duration requestTimeout = std::chrono::milliseconds(1000);
    // How long one read pass (a snapshot: calls that follow each other
    // without a pause) may wait on foreign owners in all.
    Duration readPassTimeout = std::chrono::milliseconds(4000);
    // A target larger than this is left out of what we read.
    std::size_t maxTargetBytes = std::size_t(128) << 20;
    // Once a read pass has taken this much, larger targets are left out.
    std::size_t maxPassBytes = std::size_t(256) << 20;
    // What we serve in one property; larger data goes incrementally (INCR)
    // in chunks of this size.
    std::size_t incrChunkBytes = std::size_t(256) << 10;
    // An incremental transfer to a requestor that stops taking chunks is
    // dropped after this long.
    Duration staleTransferTimeout = std::chrono::seconds(10);
};

// Whether a target carries content. The protocol's own targets, and those that
// act on the owner (DELETE, INSERT_*) or name server resources that die with
// it (PIXMAP and kin), are not copied into a snapshot and never restored.
bool isContentTarget(std::string_view name);

// The names under which the owner may hold plain text, in the order we take
// them when asked for `type`. Empty when `type` is not a plain-text name.
std::vector<std::string> plainTextFallbacks(std::string_view type);

// Whether a target hands over text itself: the plain-text names, and
// Chromium's custom-data container, which holds the text beside Slack's
// document. A paste reads one of these; the markers and TARGETS do not count.
bool carriesText(std::string_view name);

// Latin-1 (ICCCM STRING) to UTF-8.
std::string latin1ToUTF8(std::string_view latin1);

// The time and byte budget of one read pass. Reads of one owner that follow
// each other with pauses shorter than `pauseThatEndsPass` belong to one pass,
// so a snapshot of a hung owner with many targets waits at most `timeout` in
// all, while a later snapshot, or a read of the next owner, starts afresh.
class ReadPass {
public:
    ReadPass(Duration timeout, std::size_t maxBytes, Duration pauseThatEndsPass = std::chrono::milliseconds(250));

    // Marks the start and the end of one read call; `owner` changes with
    // every change of the clipboard's owner.
    void begin(TimePoint now, std::int64_t owner);
    void end(TimePoint now);
    // Changes whenever a new pass begins.
    std::uint64_t generation() const { return generation_; }

    // The deadline of the next wait: the request bound, cut by the pass bound.
    TimePoint waitDeadline(TimePoint now, Duration requestTimeout) const;
    bool expired(TimePoint now) const { return now >= deadline_; }

    // Bytes a target may still have, given the per-target bound.
    std::size_t allowance(std::size_t maxTargetBytes) const;
    void consume(std::size_t bytes);

private:
    Duration timeout_;
    std::size_t maxBytes_;
    Duration pause_;
    TimePoint deadline_{};
    std::optional<TimePoint> lastEnd_;
    std::int64_t owner_ = 0;
    std::uint64_t generation_ = 0;
    std::size_t used_ = 0;
    int depth_ = 0;
};

}  // namespace quillant::linux_platform
