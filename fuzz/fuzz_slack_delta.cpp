// Slack's "slack/texty" documents as another application puts them on the
// clipboard, written back as we would, and spliced around arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "clipboard/MentionSplicer.h"
#include "clipboard/SlackDelta.h"

using quillant::clipboard::MentionSplicer;
using quillant::clipboard::SlackDelta;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view json(reinterpret_cast<const char*>(data), size);
    auto delta = SlackDelta::decode(json);
    if (!delta) return 0;

    // What was read is written and read back unchanged, and the writing is stable.
    auto encoded = delta->encodeJSON();
    FUZZ_CHECK(encoded.has_value());
    auto again = SlackDelta::decode(*encoded);
    FUZZ_CHECK(again && *again == *delta);
    FUZZ_CHECK(again->encodeJSON() == encoded);

    auto mentions = delta->mentionOps();
    for (auto& op : mentions) FUZZ_CHECK(op.isMention());

    // Splicing into the document's own text puts every mention back in order
    // whenever it succeeds, and the pieces in between are plain.
    std::string text;
    for (auto& op : delta->ops) text += op.insert;
    for (std::string_view corrected : {std::string_view(text), json}) {
        auto spliced = MentionSplicer::splice(*delta, corrected);
        if (!spliced) continue;
        FUZZ_CHECK(spliced->mentionOps() == mentions);
        for (auto& op : spliced->ops) FUZZ_CHECK(op.isMention() || !op.attributes);
        FUZZ_CHECK(spliced->encodeJSON().has_value());
    }
    return 0;
}
