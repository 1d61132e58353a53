// quillant-service under a flood from another local user (nobody, through
// setpriv), on loopback TCP, plain and TLS, as the real program: the bounds
// hold before any key is checked. Real time with generous bounds.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <regex>
#include <string>

#include "testsupport/Process.h"
#include "testsupport/TempDir.h"
#include "testsupport/TestCertificate.h"

using quillant::testing::Process;
using quillant::testing::ProcessOptions;
using quillant::testing::TempDir;
using namespace std::chrono_literals;

namespace {

long residentKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// A python3 program run as nobody.
Process asNobody(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "/usr/bin/python3", "-c",
                                  program};
    argv.insert(argv.end(), args.begin(), args.end());
    return Process::start(argv);
}

// The flooding programs' connection: plain, or TLS that trusts anything.
const char* kConnect =
    "import socket,ssl,sys\n"
    "def connect():\n"
    "    s=socket.create_connection(('127.0.0.1', int(sys.argv[1])))\n"
    "    return ssl._create_unverified_context().wrap_socket(s) if sys.argv[2]=='tls' else s\n";

// With TLS (true) or plain TCP.
class Flood : public ::testing::TestWithParam<bool> {
protected:
    bool tls() const { return GetParam(); }

    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the flood as another user";
        ProcessOptions options;
        options.env = {"HOME=" + dir.path().string(), "XDG_CONFIG_HOME=" + (dir.path() / "config").string(),
                       "PATH=/usr/bin:/bin"};
        options.inheritEnvironment = false;
        options.errors = ProcessOptions::Errors::capture;
        ASSERT_EQ(Process::startWith({QUILLANT_SERVICE_EXE, "--add-key"}, options).finish(10s), 0);
        std::vector<std::string> argv{QUILLANT_SERVICE_EXE, "--port", "0"};
        if (tls()) {
            quillant::testing::writeSelfSignedCertificate(dir.path() / "cert.pem", dir.path() / "key.pem");
            argv.insert(argv.end(), {"--tls-cert", (dir.path() / "cert.pem").string(), "--tls-key",
                                     (dir.path() / "key.pem").string()});
        }
        service.emplace(Process::startWith(argv, options));
        std::smatch match;
        service->waitForErrors(
            [&](const std::string& errors) {
                return std::regex_search(errors, match, std::regex("listening on https?://127\\.0\\.0\\.1:(\\d+)"));
            },
            10s);
        ASSERT_FALSE(match.empty()) << service->errors();
        port = std::stoi(match[1]);
    }

    // How long an ordinary request takes to be answered, or nothing when it is not.
    std::optional<std::chrono::milliseconds> timeOneRequest() {
        std::unique_ptr<httplib::ClientImpl> client;
        if (tls()) {
            auto secure = std::make_unique<httplib::SSLClient>("127.0.0.1", port);
            secure->enable_server_certificate_verification(false);
            client = std::move(secure);
        } else {
            client = std::make_unique<httplib::ClientImpl>("127.0.0.1", port);
        }
        client->set_connection_timeout(5);
        client->set_read_timeout(5);
        const auto start = std::chrono::steady_clock::now();
        auto answer = client->Get("/v1/version");
        if (!answer) return std::nullopt;
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    }

    TempDir dir;
    std::optional<Process> service;
    int port = 0;
};

}  // namespace

TEST_P(Flood, TwoHundredMebibytesOfHeadersGet431AndNoMemory) {
    ASSERT_TRUE(timeOneRequest());  // the workers exist: this is its idle figure
    const long idle = residentKiB(service->pid());
    auto flood = asNobody(
        std::string(kConnect) +
        "import select\n"
        "s=connect()\n"
        "s.sendall(b'GET /v1/version HTTP/1.1\\r\\nHost: x\\r\\n')\n"
        "block=b'X-Flood: ' + b'a'*1014 + b'\\r\\n'\n"
        "block=block*1024\n"
        "sent=0; answer=b''\n"
        "while sent < 200*1024*1024:\n"
        "    r,w,_=select.select([s],[s],[],10)\n"
        "    if r: break\n"
        "    if not w: break\n"
        "    try: sent+=s.send(block)\n"
        "    except OSError: break\n"
        "s.settimeout(10)\n"
        "try: answer=s.recv(4096)\n"
        "except OSError: pass\n"
        "print('sent', sent, 'answer', answer.split(b'\\r\\n')[0].decode(), flush=True)\n",
        {std::to_string(port), tls() ? "tls" : "plain"});
    auto line = flood.readLine(120s);
    ASSERT_TRUE(line) << service->errors();
    EXPECT_NE(line->find("answer HTTP/1.1 431"), std::string::npos) << *line;
    const long after = residentKiB(service->pid());
#if defined(__SANITIZE_ADDRESS__)
    const long bound = 32 * 1024;  // AddressSanitizer's quarantine holds freed memory on purpose
#else
    const long bound = 10 * 1024;
#endif
    EXPECT_LE(after - idle, bound) << "idle " << idle << " KiB, after " << after << " KiB";
    EXPECT_TRUE(timeOneRequest());
}

TEST_P(Flood, HundredTricklingConnectionsLeaveRoomForARequest) {
    auto trickle = asNobody(
        std::string(kConnect) +
        "import time\n"
        "conns=[connect() for _ in range(100)]\n"
        "for c in conns: c.send(b'G')\n"
        "print('open', flush=True)\n"
        "for _ in range(40):\n"
        "    time.sleep(0.25)\n"
        "    for c in conns:\n"
        "        try: c.send(b'E')\n"
        "        except OSError: pass\n",
        {std::to_string(port), tls() ? "tls" : "plain"});
    ASSERT_TRUE(trickle.waitForLine("open", 30s));
    std::this_thread::sleep_for(500ms);  // the trickle is well under way
    auto took = timeOneRequest();
    ASSERT_TRUE(took) << "no answer while 100 connections trickle";
    EXPECT_LT(took->count(), 1000);
}

INSTANTIATE_TEST_SUITE_P(OverTcp, Flood, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "tls" : "plain"); });
