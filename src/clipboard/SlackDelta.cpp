#include "clipboard/SlackDelta.h"

#include <nlohmann/json.hpp>

#include "text/Text.h"

namespace quillant::clipboard {

namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// Each reader gives nothing on any shape mismatch; one bad value anywhere
// discards the whole document.

std::optional<std::string> requiredString(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

// Outer optional: readable or not. Inner optional: present or not.
std::optional<std::optional<bool>> optionalBool(const Json& object, const char* key) {
    auto it = object.find(key);
    // Built in place: copying a disengaged optional<bool> reads its unset
    // payload, which GCC's optimiser reports as maybe-uninitialized.
    if (it == object.end() || it->is_null()) return std::optional<std::optional<bool>>(std::in_place);
    if (!it->is_boolean()) return std::nullopt;
    return std::optional<std::optional<bool>>(std::in_place, it->get<bool>());
}

std::optional<SlackDelta::SlackMention> readMention(const Json& json) {
    if (!json.is_object()) return std::nullopt;
    auto id = requiredString(json, "id");
    auto label = requiredString(json, "label");
    auto mention = optionalBool(json, "mention");
    auto unverified = optionalBool(json, "unverified");
    if (!id || !label || !mention || !unverified) return std::nullopt;
    return SlackDelta::SlackMention{std::move(*id), std::move(*label), *mention, *unverified};
}

std::optional<SlackDelta::Attributes> readAttributes(const Json& json) {
    if (!json.is_object()) return std::nullopt;
    SlackDelta::Attributes attributes;
    auto it = json.find("slackmention");
    if (it != json.end() && !it->is_null()) {
        auto mention = readMention(*it);
        if (!mention) return std::nullopt;
        attributes.slackmention = std::move(*mention);
    }
    return attributes;
}

std::optional<SlackDelta::Op> readOp(const Json& json) {
    if (!json.is_object()) return std::nullopt;
    auto insert = requiredString(json, "insert");
    if (!insert) return std::nullopt;
    SlackDelta::Op op{std::move(*insert), std::nullopt};
    auto it = json.find("attributes");
    if (it != json.end() && !it->is_null()) {
        auto attributes = readAttributes(*it);
        if (!attributes) return std::nullopt;
        op.attributes = std::move(*attributes);
    }
    return op;
}

// dump() never writes '/' inside an escape sequence (those are \uXXXX and the
// single-letter escapes), and 0x2F never occurs inside a multi-byte UTF-8
// sequence, so every '/' in the output is a literal slash in a string.
std::string escapeSlashes(const std::string& dumped) {
    std::string out;
    out.reserve(dumped.size());
    for (char c : dumped) {
        if (c == '/') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

std::optional<SlackDelta> SlackDelta::decode(std::string_view json) {
    if (!text::isValidUTF8(json)) return std::nullopt;
    const Json document = Json::parse(json.begin(), json.end(), nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded() || !document.is_object()) return std::nullopt;

    auto ops = document.find("ops");
    if (ops == document.end() || !ops->is_array()) return std::nullopt;
    SlackDelta delta;
    delta.ops.reserve(ops->size());
    for (const Json& element : *ops) {
        auto op = readOp(element);
        if (!op) return std::nullopt;
        delta.ops.push_back(std::move(*op));
    }
    return delta;
}

std::optional<std::string> SlackDelta::encodeJSON() const {
    OrderedJson opsJson = OrderedJson::array();
    for (const Op& op : ops) {
        OrderedJson opJson = OrderedJson::object();
        opJson["insert"] = op.insert;
        if (op.attributes) {
            OrderedJson attributesJson = OrderedJson::object();
            if (const auto& m = op.attributes->slackmention) {
                OrderedJson mentionJson = OrderedJson::object();
                mentionJson["id"] = m->id;
                mentionJson["label"] = m->label;
                if (m->mention) mentionJson["mention"] = *m->mention;
                if (m->unverified) mentionJson["unverified"] = *m->unverified;
                attributesJson["slackmention"] = std::move(mentionJson);
            }
            opJson["attributes"] = std::move(attributesJson);
        }
        opsJson.push_back(std::move(opJson));
    }
    OrderedJson document = OrderedJson::object();
    document["ops"] = std::move(opsJson);

    try {
        // Strict handler: ill-formed UTF-8 in a string is a failure, not a
        // silent substitution.
        return escapeSlashes(document.dump());
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::vector<SlackDelta::Op> SlackDelta::mentionOps() const {
    std::vector<Op> result;
    for (const Op& op : ops)
        if (op.isMention()) result.push_back(op);
    return result;
}

}  // namespace quillant::clipboard
