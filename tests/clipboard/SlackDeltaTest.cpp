#include <gtest/gtest.h>

#include <random>

#include "SlackDeltaBuilders.h"

namespace {

std::string printable(const std::optional<SlackDelta>& d) {
    if (!d) return "nothing";
    auto json = d->encodeJSON();
    return json ? *json : "<unencodable>";
}

struct DecodeCase {
    const char* name;
    friend void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }
    std::string json;
    std::optional<SlackDelta> expected;
};

class SlackDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(SlackDecode, ReadsStrictlyByShape) {
    auto result = SlackDelta::decode(GetParam().json);
    EXPECT_EQ(result, GetParam().expected) << printable(result);
}

const std::optional<SlackDelta> kNothing;

INSTANTIATE_TEST_SUITE_P(
    Document, SlackDecode,
    ::testing::Values(
        DecodeCase{"empty_text", "", kNothing}, DecodeCase{"malformed", R"({"ops":[)", kNothing},
        DecodeCase{"trailing_garbage", R"({"ops":[]} x)", kNothing},
        DecodeCase{"comment", R"({"ops":[] /* c */})", kNothing},
        DecodeCase{"top_level_array", R"([{"ops":[]}])", kNothing}, DecodeCase{"top_level_string", R"("ops")", kNothing},
        DecodeCase{"top_level_null", "null", kNothing}, DecodeCase{"no_ops", R"({"other":1})", kNothing},
        DecodeCase{"ops_object", R"({"ops":{}})", kNothing}, DecodeCase{"ops_null", R"({"ops":null})", kNothing},
        DecodeCase{"ops_empty", R"({"ops":[]})", SlackDelta{}},
        DecodeCase{"unknown_top_level_keys", R"({"v":2,"ops":[{"insert":"a"}],"x":{"y":[null]}})",
                   SlackDelta{{plain("a")}}},
        DecodeCase{"whitespace_and_bom", "\xEF\xBB\xBF {\n \"ops\" : [ ]\n} ", SlackDelta{}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Ops, SlackDecode,
    ::testing::Values(
        DecodeCase{"plain", R"({"ops":[{"insert":"a"}]})", SlackDelta{{plain("a")}}},
        DecodeCase{"attributes_null", R"({"ops":[{"insert":"a","attributes":null}]})", SlackDelta{{plain("a")}}},
        DecodeCase{"attributes_without_mention", R"({"ops":[{"insert":"a","attributes":{"bold":true}}]})",
                   SlackDelta{{styled("a")}}},
        DecodeCase{"slackmention_null", R"({"ops":[{"insert":"a","attributes":{"slackmention":null}}]})",
                   SlackDelta{{styled("a")}}},
        DecodeCase{"insert_missing", R"({"ops":[{"attributes":{}}]})", kNothing},
        DecodeCase{"insert_null", R"({"ops":[{"insert":null}]})", kNothing},
        DecodeCase{"insert_object", R"({"ops":[{"insert":{"image":"x"}}]})", kNothing},
        DecodeCase{"insert_number", R"({"ops":[{"insert":1}]})", kNothing},
        DecodeCase{"op_not_object", R"({"ops":["a"]})", kNothing},
        DecodeCase{"attributes_array", R"({"ops":[{"insert":"a","attributes":[]}]})", kNothing},
        DecodeCase{"slackmention_string", R"({"ops":[{"insert":"a","attributes":{"slackmention":"U1"}}]})", kNothing},
        DecodeCase{"one_bad_op_discards_all", R"({"ops":[{"insert":"a"},{"insert":"b"},{"insert":false}]})", kNothing},
        DecodeCase{"escapes", R"({"ops":[{"insert":"a\/b\u00e9\ud83d\ude00\n"}]})",
                   SlackDelta{{plain("a/b\u00e9\U0001F600\n")}}},
        DecodeCase{"lone_surrogate_escape", R"({"ops":[{"insert":"\ud800"}]})", kNothing},
        DecodeCase{"invalid_utf8", std::string("{\"ops\":[{\"insert\":\"\xC3\x28\"}]}"), kNothing}),
    [](const auto& info) { return std::string(info.param.name); });

constexpr const char* kMentionPrefix = R"({"ops":[{"insert":"@A","attributes":{"slackmention":)";

DecodeCase mentionCase(const char* name, const std::string& mention, std::optional<SlackDelta> expected) {
    return DecodeCase{name, kMentionPrefix + mention + "}}]}", std::move(expected)};
}

INSTANTIATE_TEST_SUITE_P(
    Mention, SlackDecode,
    ::testing::Values(
        mentionCase("full", R"({"id":"U1","label":"@A","mention":true,"unverified":false})",
                    SlackDelta{{mentionOp("@A", "U1", "@A", true, false)}}),
        mentionCase("optionals_absent", R"({"id":"U1","label":"@A"})", SlackDelta{{mentionOp("@A", "U1", "@A")}}),
        mentionCase("optionals_null", R"({"id":"U1","label":"@A","mention":null,"unverified":null})",
                    SlackDelta{{mentionOp("@A", "U1", "@A")}}),
        mentionCase("unknown_keys_ignored", R"({"team":"T1","id":"U1","label":"@A","extra":{"a":[1]}})",
                    SlackDelta{{mentionOp("@A", "U1", "@A")}}),
        mentionCase("mention_string", R"({"id":"U1","label":"@A","mention":"true"})", kNothing),
        mentionCase("mention_number", R"({"id":"U1","label":"@A","mention":1})", kNothing),
        mentionCase("unverified_string", R"({"id":"U1","label":"@A","unverified":"no"})", kNothing),
        mentionCase("label_missing", R"({"id":"U1"})", kNothing),
        mentionCase("label_null", R"({"id":"U1","label":null})", kNothing),
        mentionCase("id_missing", R"({"label":"@A"})", kNothing),
        mentionCase("id_number", R"({"id":7,"label":"@A"})", kNothing)),
    [](const auto& info) { return std::string(info.param.name); });

struct EncodeCase {
    const char* name;
    friend void PrintTo(const EncodeCase& c, std::ostream* os) { *os << c.name; }
    SlackDelta delta;
    std::string expected;
};

class SlackEncode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(SlackEncode, WritesCompactJSONInFieldOrder) { EXPECT_EQ(GetParam().delta.encodeJSON(), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Vectors, SlackEncode,
    ::testing::Values(
        EncodeCase{"no_ops", SlackDelta{}, R"({"ops":[]})"},
        EncodeCase{"slashes_escaped", SlackDelta{{plain("a/b//c")}}, R"({"ops":[{"insert":"a\/b\/\/c"}]})"},
        EncodeCase{"empty_attributes", SlackDelta{{styled("x")}}, R"({"ops":[{"insert":"x","attributes":{}}]})"},
        EncodeCase{"mention_without_optionals", SlackDelta{{mentionOp("@A", "U1", "@A")}},
                   R"({"ops":[{"insert":"@A","attributes":{"slackmention":{"id":"U1","label":"@A"}}}]})"},
        EncodeCase{"mention_with_optionals", SlackDelta{{mentionOp("@A", "U/1", "@A", true, false)}},
                   R"({"ops":[{"insert":"@A","attributes":{"slackmention":{"id":"U\/1","label":"@A","mention":true,"unverified":false}}}]})"},
        EncodeCase{"only_unverified", SlackDelta{{mentionOp("@A", "U1", "@A", std::nullopt, true)}},
                   R"({"ops":[{"insert":"@A","attributes":{"slackmention":{"id":"U1","label":"@A","unverified":true}}}]})"},
        EncodeCase{"escapes_and_non_ascii", SlackDelta{{plain("\u00e9\U0001F600\"\\\n\t\x01"), plain("")}},
                   "{\"ops\":[{\"insert\":\"\u00e9\U0001F600\\\"\\\\\\n\\t\\u0001\"},{\"insert\":\"\"}]}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SlackEncode, InvalidUTF8GivesNothing) {
    EXPECT_EQ(SlackDelta{{plain(std::string("a\xFF"))}}.encodeJSON(), std::nullopt);
    EXPECT_EQ(SlackDelta{{mentionOp("@A", "U1", std::string("\xC3"))}}.encodeJSON(), std::nullopt);
}

TEST(SlackRoundTrip, KeepsOnlyModelledKeys) {
    const std::string input =
        R"({"ops":[{"insert":"Hi ","attributes":{"bold":true}},)"
        R"({"insert":"@Ann","attributes":{"italic":true,"slackmention":{"id":"U1","label":"@Ann","mention":true,"team":"T"}}},)"
        R"({"insert":"\n","attributes":null}],"meta":{"v":1}})";
    auto delta = SlackDelta::decode(input);
    ASSERT_TRUE(delta);
    EXPECT_EQ(delta->encodeJSON(),
              R"({"ops":[{"insert":"Hi ","attributes":{}},)"
              R"({"insert":"@Ann","attributes":{"slackmention":{"id":"U1","label":"@Ann","mention":true}}},)"
              R"({"insert":"\n"}]})");
}

TEST(SlackRoundTrip, DecodeOfEncodeGivesTheSameDelta) {
    std::mt19937 rng(7);
    const std::vector<std::string> texts = {"", "a", "/", "@J\u00f6rg", "\U0001F600", "\"q\"", "\\", "\n", "</script>"};
    auto text = [&] { return texts[rng() % texts.size()]; };
    auto flag = [&]() -> std::optional<bool> {
        int r = int(rng() % 3);
        return r == 2 ? std::nullopt : std::optional<bool>(r == 1);
    };
    for (int i = 0; i < 300; ++i) {
        SlackDelta delta;
        for (int n = int(rng() % 5); n > 0; --n) {
            switch (rng() % 3) {
                case 0: delta.ops.push_back(plain(text())); break;
                case 1: delta.ops.push_back(styled(text())); break;
                default: delta.ops.push_back(mentionOp(text(), text(), text(), flag(), flag()));
            }
        }
        auto json = delta.encodeJSON();
        ASSERT_TRUE(json);
        EXPECT_EQ(json->find(' '), std::string::npos);
        ASSERT_EQ(SlackDelta::decode(*json), delta) << *json;
    }
}

TEST(SlackMentionOps, AreTheMentionOpsInOrder) {
    const SlackDelta delta{{plain("a"), mentionOp("@B", "U2", "@B"), styled("c"), mentionOp("@A", "U1", "@A", true)}};
    const SlackDelta before = delta;
    EXPECT_EQ(delta.mentionOps(), (std::vector<Op>{mentionOp("@B", "U2", "@B"), mentionOp("@A", "U1", "@A", true)}));
    EXPECT_EQ(delta, before);
    EXPECT_TRUE((SlackDelta{{plain("a"), styled("b")}}.mentionOps().empty()));
}

}  // namespace
