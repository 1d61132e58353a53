#include "clipboard/MentionSplicer.h"

#include <string>

namespace quillant::clipboard {

namespace {
SlackDelta::Op plainOp(std::string_view text) { return SlackDelta::Op{std::string(text), std::nullopt}; }
}  // namespace

std::optional<SlackDelta> MentionSplicer::splice(const SlackDelta& originalDelta, std::string_view correctedText) {
    const std::vector<SlackDelta::Op> mentions = originalDelta.mentionOps();
    if (mentions.empty()) return SlackDelta{{plainOp(correctedText)}};

    SlackDelta result;
    std::size_t cursor = 0;
    for (const SlackDelta::Op& mention : mentions) {
        if (!mention.isMention()) return std::nullopt;
        const std::string& label = mention.attributes->slackmention->label;
        // An empty label matches nowhere in particular; placing it would insert
        // the mention's text at an arbitrary spot, so plain text is safer.
        if (label.empty()) return std::nullopt;
        const std::size_t found = correctedText.find(label, cursor);
        if (found == std::string_view::npos) return std::nullopt;
        if (found > cursor) result.ops.push_back(plainOp(correctedText.substr(cursor, found - cursor)));
        result.ops.push_back(mention);
        cursor = found + label.size();
    }
    if (cursor < correctedText.size()) result.ops.push_back(plainOp(correctedText.substr(cursor)));
    return result;
}

}  // namespace quillant::clipboard
