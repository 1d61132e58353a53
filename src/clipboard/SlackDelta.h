#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillant::clipboard {

// Slack's rich clipboard document ("slack/texty"), reduced to what mentions
// need: the text of each op and its mention attribute. Every other key is
// dropped on reading and therefore absent on writing.
struct SlackDelta {
    struct SlackMention {
        std::string id;
        std::string label;
        std::optional<bool> mention;
        std::optional<bool> unverified;

        bool operator==(const SlackMention&) const = default;
    };

    struct Attributes {
        std::optional<SlackMention> slackmention;

        bool operator==(const Attributes&) const = default;
    };

    struct Op {
        std::string insert;
        std::optional<Attributes> attributes;

        bool isMention() const { return attributes && attributes->slackmention; }
        bool operator==(const Op&) const = default;
    };

    std::vector<Op> ops;

    // Strict: malformed JSON, a non-object top level, a missing required key or
    // a value of the wrong JSON type anywhere gives nothing. Optional keys that
    // are absent or null read as none; unknown keys are ignored.
    static std::optional<SlackDelta> decode(std::string_view json);

    // Compact JSON, keys in field order, every '/' written as "\/", absent
    // optionals left out. Nothing when a string is not valid UTF-8.
    std::optional<std::string> encodeJSON() const;

    // The ops that carry a mention, in document order.
    std::vector<Op> mentionOps() const;

    bool operator==(const SlackDelta&) const = default;
};

}  // namespace quillant::clipboard
