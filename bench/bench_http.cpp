// BackendClient.transform over the real libcurl session against a local HTTPS
// service, beside the curl program making the same request in the same run.
// Wall-clock time: the work happens on the session's thread and the server's.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "testsupport/Drive.h"
#include "testsupport/TestHttpsServer.h"
#include "backend/BackendClient.h"
#include "platform/linux/CurlHttpSession.h"
#include "runtime/VirtualExecutor.h"

extern char** environ;

using namespace quillant;
using quillant::linux_platform::CurlHttpSession;
using quillant::testing::ScriptedReply;
using quillant::testing::TestHttpsServer;

namespace {

const std::string kText = "i has a typo in this sentense, and teh meeting is tomorow.";
const std::string kToken = "sk-bench";

struct Service {
    TestHttpsServer server;
    Service() {
        server.setHandler([](const testing::ReceivedRequest& r) {
            auto text = nlohmann::json::parse(r.body).at("text").get<std::string>();
            return ScriptedReply::json(200, nlohmann::json{{"corrected", text}}.dump());
        });
    }
};

struct Client {
    VirtualExecutor executor;
    std::shared_ptr<CurlHttpSession> session;
    backend::BackendClient client;

    explicit Client(const TestHttpsServer& server)
        : session(std::make_shared<CurlHttpSession>(executor, options(server))),
          client{server.baseURL(), kToken, 10.0, session} {}

    static CurlHttpSession::Options options(const TestHttpsServer& server) {
        CurlHttpSession::Options o;
        o.extraCAFile = server.caFile();
        return o;
    }

    void transform() {
        bool done = false;
        std::string corrected;
        spawn(executor, [&]() -> Task<void> {
            corrected = co_await client.transform(kText);
            done = true;
        });
        if (!testing::driveUntil(executor, [&] { return done; }) || corrected != kText)
            throw std::runtime_error("request failed");
    }
};

// A fresh session: connection, TLS handshake and the request.
void BM_TransformFirstRequest(benchmark::State& state, Service& service) {
    for (auto _ : state) {
        state.PauseTiming();
        auto client = std::make_unique<Client>(service.server);
        state.ResumeTiming();
        client->transform();
        state.PauseTiming();
        client.reset();
        state.ResumeTiming();
    }
}

// The tenth request on one session; the nine before it are not timed. The
// counter shows how many connections each session opened (1 means reused).
void BM_TransformTenthRequest(benchmark::State& state, Service& service) {
    int connectionsBefore = service.server.connectionCount();
    for (auto _ : state) {
        state.PauseTiming();
        auto client = std::make_unique<Client>(service.server);
        for (int i = 0; i < 9; ++i) client->transform();
        state.ResumeTiming();
        client->transform();
        state.PauseTiming();
        client.reset();
        state.ResumeTiming();
    }
    state.counters["connections_per_session"] =
        double(service.server.connectionCount() - connectionsBefore) / double(state.iterations());
}

// The same request by the curl program: process start, connection, TLS
// handshake and the request, `requests` times over one connection.
void runCurl(const TestHttpsServer& server, int requests) {
    const std::string url = server.baseURL() + "/v1/fix";
    const std::string body = nlohmann::json{{"text", kText}}.dump();
    std::vector<std::string> args = {"curl"};
    for (int i = 0; i < requests; ++i) {
        if (i > 0) args.push_back("--next");  // which resets every option but the connection
        for (const std::string& a : std::vector<std::string>{"-sS", "--fail", "--cacert", server.caFile().string(), "-H", "Authorization: Bearer " + kToken, "-H", "Content-Type: application/json",
                              "-H", "Accept: application/json", "--data-binary", body, "-o", "/dev/null"})
            args.push_back(a);
        args.push_back(url);
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("could not start curl");
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("curl failed");
}

void BM_CurlOneRequest(benchmark::State& state, Service& service) {
    for (auto _ : state) runCurl(service.server, 1);
}

// Ten requests in one curl run (one connection); the counter is the average
// wall time of one request in milliseconds.
void BM_CurlTenRequests(benchmark::State& state, Service& service) {
    std::chrono::steady_clock::duration total{};
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        runCurl(service.server, 10);
        total += std::chrono::steady_clock::now() - start;
    }
    state.counters["per_request_ms"] =
        std::chrono::duration<double, std::milli>(total).count() / (10.0 * double(state.iterations()));
}

}  // namespace

int main(int argc, char** argv) {
    // One server for the whole run, so that its certificate is made once.
    Service service;
    auto add = [&](const char* name, void (*fn)(benchmark::State&, Service&), int iterations) {
        benchmark::RegisterBenchmark(name, fn, std::ref(service))
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(iterations);
    };
    add("BM_CurlOneRequest", BM_CurlOneRequest, 50);
    add("BM_TransformFirstRequest", BM_TransformFirstRequest, 50);
    add("BM_CurlTenRequests", BM_CurlTenRequests, 20);
    add("BM_TransformTenthRequest", BM_TransformTenthRequest, 50);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
