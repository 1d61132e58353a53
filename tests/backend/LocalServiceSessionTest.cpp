// Requests to the local service, with a corrector that answers, is missing,
// stops just as it is asked, or fails mid-request.
#include <gtest/gtest.h>

#include <deque>

#include "backend/LocalServiceSession.h"
#include "runtime/VirtualExecutor.h"
#include "testsupport/FakeHttpSession.h"

using namespace quillant;
using namespace quillant::backend;
using quillant::testing::FakeHttpSession;
using Kind = TransportError::Kind;

namespace {

const std::string kLocal = "http+unix://%2Frun%2Fuser%2F1000%2Fquillant%2Fservice.sock";

class ScriptedStarter final : public LocalServiceStarter {
public:
    std::deque<std::optional<std::string>> outcomes;  // then: it answers
    int calls = 0;
    Task<std::optional<std::string>> ensureRunning() override {
        ++calls;
        if (outcomes.empty()) co_return std::nullopt;
        auto outcome = outcomes.front();
        outcomes.pop_front();
        co_return outcome;
    }
};

struct Row {
    const char* name;
    std::string url;
    std::deque<std::optional<std::string>> starts;
    std::vector<FakeHttpSession::Reply> replies;
    int expectedStarts;
    std::size_t expectedSends;
    std::optional<Kind> expectedError;  // none: the 200 comes through
    std::string expectedDescription;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class LocalServiceSessionTest : public ::testing::TestWithParam<Row> {};

TEST_P(LocalServiceSessionTest, StartsTheServiceWhenNeededAndAsksOnceMoreOnlyWhenItWasGone) {
    const Row& row = GetParam();
    VirtualExecutor executor;
    auto inner = std::make_shared<FakeHttpSession>(executor);
    for (const auto& reply : row.replies) inner->enqueue(reply);
    auto starter = std::make_shared<ScriptedStarter>();
    starter->outcomes = row.starts;
    LocalServiceSession session(executor, inner, kLocal, starter);

    std::optional<HttpResult> result;
    HttpRequest request;
    request.url = row.url;
    session.send(request, [&](HttpResult r) { result = std::move(r); });
    executor.runUntil([&] { return result.has_value(); });

    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(starter->calls, row.expectedStarts);
    EXPECT_EQ(inner->requests().size(), row.expectedSends);
    if (row.expectedError) {
        const auto* error = std::get_if<TransportError>(&*result);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->kind, *row.expectedError);
        EXPECT_EQ(error->description, row.expectedDescription);
    } else {
        ASSERT_TRUE(std::holds_alternative<HttpResponse>(*result));
        EXPECT_EQ(std::get<HttpResponse>(*result).status, 200);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LocalServiceSessionTest,
    ::testing::Values(
        Row{"answers", kLocal + "/v1/fix", {}, {FakeHttpSession::answer(200, "{}")}, 1, 1, std::nullopt, ""},
        Row{"missing_corrector_is_not_asked", kLocal + "/v1/fix", {"The local corrector is missing"}, {}, 1, 0,
            Kind::cannotConnect, "The local corrector is missing"},
        // It stopped for idleness between the check and the request: started again, asked again.
        Row{"gone_in_between",
            kLocal + "/v1/fix",
            {},
            {FakeHttpSession::failure(Kind::cannotConnect, "refused"), FakeHttpSession::answer(200, "{}")},
            2, 2, std::nullopt, ""},
        Row{"gone_twice_is_reported",
            kLocal + "/v1/fix",
            {},
            {FakeHttpSession::failure(Kind::cannotConnect, "refused"),
             FakeHttpSession::failure(Kind::cannotConnect, "refused again")},
            2, 2, Kind::cannotConnect, "refused again"},
        // A crash mid-request may have happened after the text was taken: reported, not repeated.
        Row{"crash_mid_request",
            kLocal + "/v1/fix",
            {},
            {FakeHttpSession::failure(Kind::other, "Server returned nothing")},
            1, 1, Kind::other,
            "the local corrector stopped during the request (Server returned nothing); the next fix starts it again"},
        Row{"another_service_is_left_alone", "https://fix.example/v1/fix", {"never asked"},
            {FakeHttpSession::answer(200, "{}")}, 0, 1, std::nullopt, ""}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
