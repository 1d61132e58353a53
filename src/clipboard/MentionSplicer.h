#pragma once

#include <optional>
#include <string_view>

#include "clipboard/SlackDelta.h"

namespace quillant::clipboard {

// Rebuilds a Slack document around corrected plain text: each mention op of
// the captured document is put back, unchanged, where its label next occurs.
struct MentionSplicer {
    // Labels are searched in order, each after the previous match: exact,
    // case-sensitive byte comparison of the UTF-8 text, no normalisation. A
    // label that is not found, or an empty label, gives nothing, and the caller
    // falls back to plain text. Without mentions the result is one plain op
    // holding the whole text.
    static std::optional<SlackDelta> splice(const SlackDelta& originalDelta, std::string_view correctedText);
};

}  // namespace quillant::clipboard
