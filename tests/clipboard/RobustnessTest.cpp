// Seeded, bounded mutation runs over both decoders. They prove nothing by
// assertion alone; their value is running under the sanitizer build, where any
// out-of-bounds read, overflow or leak fails the test.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "PickleBuilder.h"
#include "clipboard/ChromiumPickle.h"
#include "clipboard/SlackDelta.h"

using quillant::clipboard::ChromiumPickle;
using quillant::clipboard::SlackDelta;

namespace {

class Mutator {
public:
    explicit Mutator(std::uint32_t seed) : rng_(seed) {}

    std::size_t below(std::size_t n) { return n == 0 ? 0 : std::size_t(rng_() % n); }

    std::string mutate(std::string s) {
        switch (below(5)) {
            case 0:  // truncate
                s.resize(below(s.size() + 1));
                break;
            case 1:  // flip a few bits
                for (std::size_t n = 1 + below(4); n > 0 && !s.empty(); --n) s[below(s.size())] ^= char(1u << below(8));
                break;
            case 2: {  // plant an extreme 32-bit value at an aligned offset
                static const std::uint32_t extremes[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
                std::uint32_t v = extremes[below(std::size(extremes))];
                if (s.size() >= 4) {
                    std::size_t at = below(s.size() / 4) * 4;
                    for (int i = 0; i < 4; ++i) s[at + std::size_t(i)] = char((v >> (8 * i)) & 0xFF);
                }
                break;
            }
            case 3: {  // duplicate or drop a slice
                std::size_t from = below(s.size() + 1), len = below(s.size() - from + 1);
                if (below(2)) s.insert(below(s.size() + 1), s.substr(from, len));
                else s.erase(from, len);
                break;
            }
            default:  // random bytes
                s.assign(below(48), '\0');
                for (char& c : s) c = char(rng_());
        }
        return s;
    }

private:
    std::mt19937 rng_;
};

void run(const std::vector<std::string>& corpus, std::uint32_t seed, int iterations,
         const std::function<void(const std::string&)>& check) {
    Mutator mutator(seed);
    for (const std::string& s : corpus)
        for (std::size_t n = 0; n <= s.size(); ++n) check(s.substr(0, n));
    for (int i = 0; i < iterations; ++i) {
        std::string s = corpus[mutator.below(corpus.size())];
        for (std::size_t rounds = 1 + mutator.below(3); rounds > 0; --rounds) s = mutator.mutate(std::move(s));
        check(s);
    }
}

TEST(Robustness, PickleDecoderSurvivesMutatedInput) {
    const std::vector<std::string> corpus = {
        ChromiumPickle::encode({}),
        ChromiumPickle::encode({{"ab", "x"}}),
        ChromiumPickle::encode({{"public.utf8-plain-text", "Hi @Ann \U0001F600"}, {"slack/texty", R"({"ops":[]})"}, {"", ""}}),
        PickleBuilder().u32(1).str(u"k").str(u"abc", false).sized(),
        PickleBuilder().u32(2).str(u"\xD83D\xDE00").str(u"v").str(u"w").str(u"").sized(),
    };
    int decoded = 0;
    run(corpus, 1234, 30000, [&](const std::string& bytes) {
        auto map = ChromiumPickle::decode(bytes);
        if (!map) return;
        ++decoded;
        // Whatever decodes is well-formed text and survives a round trip.
        ASSERT_EQ(ChromiumPickle::decode(ChromiumPickle::encode(*map)), map);
    });
    EXPECT_GT(decoded, 0);
}

TEST(Robustness, SlackDecoderSurvivesMutatedInput) {
    const std::vector<std::string> corpus = {
        R"({"ops":[]})",
        R"({"ops":[{"insert":"Hi "},{"insert":"@Ann","attributes":{"slackmention":{"id":"U1","label":"@Ann","mention":true,"unverified":false}}},{"insert":"\n","attributes":{"bold":true}}]})",
        R"({"ops":[{"insert":"a\/b \u00e9\ud83d\ude00","attributes":null}],"extra":[1,2.5e3,null,{"x":"y"}]})",
    };
    int decoded = 0;
    run(corpus, 5678, 10000, [&](const std::string& json) {
        auto delta = SlackDelta::decode(json);
        if (!delta) return;
        ++decoded;
        auto encoded = delta->encodeJSON();
        ASSERT_TRUE(encoded) << json;
        ASSERT_EQ(SlackDelta::decode(*encoded), delta);
    });
    EXPECT_GT(decoded, 0);
}

TEST(Robustness, DeeplyNestedUnknownValueDoesNotExhaustTheStack) {
    const int depth = 50000;
    const std::string json = R"({"ops":[],"x":)" + std::string(depth, '[') + std::string(depth, ']') + "}";
    EXPECT_EQ(SlackDelta::decode(json), SlackDelta{});
    EXPECT_EQ(SlackDelta::decode(R"({"ops":[)" + std::string(depth, '[')), std::nullopt);
}

}  // namespace
