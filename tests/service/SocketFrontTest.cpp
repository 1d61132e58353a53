// The service on its private Unix socket, and its raw request handling.
#include "ServiceTestSupport.h"

#include "service/RuleCorrector.h"
#include "service/SocketFront.h"
#include "testsupport/RecordingLogger.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

using namespace quillant::service;
using namespace quillant::service::testing;
using quillant::testing::RecordingLogger;
namespace fs = std::filesystem;

namespace {

constexpr const char* kKey = "qk_socket_0123456789";

int connectTo(const fs::path& path) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

// Whether `got` holds `answers` complete responses (each with a Content-Length).
bool complete(const std::string& got, int answers) {
    std::size_t at = 0;
    for (int i = 0; i < answers; ++i) {
        std::size_t headEnd = got.find("\r\n\r\n", at);
        if (headEnd == std::string::npos) return false;
        std::size_t length = 0;
        std::size_t field = got.find("Content-Length: ", at);
        if (field != std::string::npos && field < headEnd) length = std::stoul(got.substr(field + 16));
        at = headEnd + 4 + length;
        if (got.size() < at) return false;
    }
    return true;
}

// Sends `request` and reads until `answers` responses arrived or the peer closed.
std::string roundTrip(int fd, const std::string& request, int answers = 1) {
    (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string got;
    char buffer[4096];
    while (!complete(got, answers)) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) break;
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

std::string fixRequest(const std::string& text, const std::string& key = kKey) {
    std::string body = fixBody(text);
    return "POST /v1/fix HTTP/1.1\r\nHost: localhost\r\nAuthorization: Bearer " + key +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

unsigned modeOf(const fs::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class SocketServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { std::signal(SIGPIPE, SIG_IGN); }

    SocketServiceTest() {
        writeFile(dir / "keys", std::string(kKey) + "\n");
        config.keysFile = dir / "keys";
        config.socketPath = socketPath();
        keys = std::make_unique<KeyStore>(config.keysFile, log);
        quota = std::make_unique<QuotaTracker>(config.quota, clock.source());
    }

    fs::path runtime() const { return dir.path() / "runtime"; }
    fs::path socketPath() const { return runtime() / "quillant" / "service.sock"; }

    std::unique_ptr<RunningService> start() {
        return std::make_unique<RunningService>(config, *keys, *quota, rules, log);
    }

    TempDir dir;
    ServiceConfig config;
    RecordingLogger log;
    ManualClock clock{sampleTime()};
    RuleCorrector rules;
    std::unique_ptr<KeyStore> keys;
    std::unique_ptr<QuotaTracker> quota;
};

TEST_F(SocketServiceTest, ServesOnAPrivateSocketAndKeepsConnectionsAlive) {
    auto running = start();
    EXPECT_EQ(modeOf(runtime() / "quillant"), 0700u);
    EXPECT_EQ(modeOf(socketPath()), 0600u);
    EXPECT_EQ(running->baseURL(), socketPath().string());

    int fd = connectTo(socketPath());
    ASSERT_GE(fd, 0) << std::strerror(errno);
    std::string first = roundTrip(fd, fixRequest("teh cat"));
    EXPECT_EQ(first.rfind("HTTP/1.1 200", 0), 0u) << first;
    EXPECT_NE(first.find(R"(he cat"})"), std::string::npos) << first;  // "teh" corrected, whatever the capital
    // The same connection carries the next request, and two pipelined ones.
    std::string more = roundTrip(fd, fixRequest("i think") + fixRequest("x", "qk_unknown"), 2);
    EXPECT_NE(more.find(R"({"corrected":"I think"})"), std::string::npos) << more;
    EXPECT_NE(more.find("HTTP/1.1 403"), std::string::npos) << more;
    ::close(fd);

    running->stop();
    running.reset();
    EXPECT_FALSE(fs::exists(socketPath()));  // cleaned up
}

TEST_F(SocketServiceTest, AStaleSocketIsReplacedButALiveServiceIsNot) {
    {
        auto first = start();
        // While it runs, a second service on the same socket is refused.
        try {
            Service second(config, *keys, *quota, rules, log);
            second.bind();
            ADD_FAILURE() << "a second service bound the same socket";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("already listening"), std::string::npos) << e.what();
        }
        int fd = connectTo(socketPath());
        EXPECT_GE(fd, 0);  // the first is untouched
        if (fd >= 0) ::close(fd);
    }
    // A socket file left behind by a crash (nothing listens on it).
    int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath().c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(stale);
    auto again = start();
    int fd = connectTo(socketPath());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(roundTrip(fd, fixRequest("ok")).rfind("HTTP/1.1 200", 0), 0u);
    ::close(fd);
}

enum class Folder { openToOthers, otherOwner, symlink, notAFolder };

struct FolderRow {
    const char* name;
    Folder folder;
    std::string complaint;
};

class UnprivateFolder : public SocketServiceTest, public ::testing::WithParamInterface<FolderRow> {};

TEST_P(UnprivateFolder, IsRefusedAndLeftAsItIs) {
    const fs::path folder = runtime() / "quillant";
    fs::create_directories(runtime());
    ::chmod(runtime().c_str(), 0700);
    switch (GetParam().folder) {
        case Folder::openToOthers:
            fs::create_directory(folder);
            ::chmod(folder.c_str(), 0755);
            break;
        case Folder::otherOwner:
            if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the folder to another user";
            fs::create_directory(folder);
            ::chmod(folder.c_str(), 0700);
            ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
            break;
        case Folder::symlink:
            fs::create_directory(dir.path() / "elsewhere");
            ::chmod((dir.path() / "elsewhere").c_str(), 0700);
            fs::create_directory_symlink(dir.path() / "elsewhere", folder);
            break;
        case Folder::notAFolder:
            writeFile(folder, "");
            break;
    }
    const unsigned before = modeOf(folder);
    try {
        Service service(config, *keys, *quota, rules, log);
        service.bind();
        ADD_FAILURE() << "bound in a folder that is not private";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().complaint), std::string::npos) << e.what();
    }
    EXPECT_EQ(modeOf(folder), before);  // never loosened, never "fixed" behind the user's back
    EXPECT_FALSE(fs::exists(folder / "service.sock"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, UnprivateFolder,
    ::testing::Values(FolderRow{"open_to_others", Folder::openToOthers, "is open to other users (mode 0755)"},
                      FolderRow{"other_owner", Folder::otherOwner, "belongs to another user"},
                      FolderRow{"symlink", Folder::symlink, "is a symbolic link"},
                      FolderRow{"not_a_folder", Folder::notAFolder, "is not a folder"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SocketServiceTest, AnExistingPrivateFolderIsReusedAsItIs) {
    fs::create_directories(runtime() / "quillant");
    ::chmod((runtime() / "quillant").c_str(), 0700);
    writeFile(runtime() / "quillant" / "panel.sock.lock", "");  // what else lives there stays
    auto running = start();
    EXPECT_TRUE(fs::exists(runtime() / "quillant" / "panel.sock.lock"));
    EXPECT_EQ(modeOf(runtime() / "quillant"), 0700u);
}

// Another user cannot reach the socket at all: the kernel refuses at the folder.
TEST_F(SocketServiceTest, AnotherUserCannotConnect) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    auto running = start();
    pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        int fd = connectTo(socketPath());
        ::_exit(fd < 0 && errno == EACCES ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "exit 1: the other user connected; exit 3: could not change user";
}

TEST(RawRequests, AreAnsweredAsOnAConnection) {
    TempDir dir;
    writeFile(dir / "keys", std::string(kKey) + "\n");
    ServiceConfig config;
    config.keysFile = dir / "keys";
    RecordingLogger log;
    KeyStore keys(config.keysFile, log);
    QuotaTracker quota(config.quota, [] { return sampleTime(); });
    RuleCorrector rules;
    Service service(config, keys, quota, rules, log);
    struct Row {
        std::string request;
        std::string statusLine;
        std::string bodyContains;
    };
    const Row rows[] = {
        {fixRequest("teh"), "HTTP/1.1 200", R"(he"})"},
        {"GET /v1/validate HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 401", R"("error":"missing_key")"},
        {"GET /v1/version HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 404", R"("error":"no_release")"},
        {"GET /v1/fix HTTP/1.1\r\nHost: x\r\n\r\n", "HTTP/1.1 405", R"("error":"method_not_allowed")"},
        {"POST /v1/fix HTTP/1.1\r\nAuthorization: Bearer " + std::string(kKey) +
             "\r\nContent-Length: 3\r\n\r\n[1]",
         "HTTP/1.1 400", R"("error":"invalid_request")"},
        {"BREW /pot HTCPCP/1.0\r\n\r\n", "HTTP/1.1 400", ""},
        {"", "", ""},  // nothing in, nothing out
    };
    for (const auto& row : rows) {
        std::string answer = service.handleRaw(row.request);
        EXPECT_EQ(answer.substr(0, row.statusLine.size()), row.statusLine) << row.request << "\n" << answer;
        EXPECT_NE(answer.find(row.bodyContains), std::string::npos) << answer;
    }
}

// What the front reads before a worker sees anything: the header fields and
// chunked bodies are bounded like plain ones.
TEST(RequestScanning, BoundsHeadersAndBodiesOfEitherKind) {
    using V = RequestScan::Verdict;
    const RequestBounds bounds;  // 100 lines, 16 KiB
    const std::size_t maxBody = 1000;
    auto fields = [](int n, std::size_t width = 10) {
        std::string out;
        for (int i = 0; i < n; ++i) out += "X-" + std::to_string(i) + ": " + std::string(width, 'a') + "\r\n";
        return out;
    };
    const std::string get = "GET / HTTP/1.1\r\n";
    struct Row {
        const char* name;
        std::string bytes;
        V verdict;
        std::size_t length;
    };
    const Row rows[] = {
        {"plain", get + "Host: x\r\n\r\n", V::complete, get.size() + 11},
        {"pipelined: the first only", get + "\r\n" + get + "\r\n", V::complete, get.size() + 2},
        {"headers still coming", get + "Host: x\r\n", V::incomplete, 0},
        {"99 fields", get + fields(99) + "\r\n", V::complete, get.size() + fields(99).size() + 2},
        {"101 fields", get + fields(101) + "\r\n", V::headersTooLarge, 0},
        {"101 fields, unfinished", get + fields(101), V::headersTooLarge, 0},
        {"one field past 16 KiB", get + "X: " + std::string(16 * 1024, 'a'), V::headersTooLarge, 0},
        {"body complete", "POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcdef", V::complete, 41},
        {"body coming", "POST / HTTP/1.1\r\nContent-Length: 30\r\n\r\nabc", V::incomplete, 0},
        {"body too large", "POST / HTTP/1.1\r\nContent-Length: 1001\r\n\r\n", V::bodyTooLarge, 0},
        {"chunked", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\nnext", V::complete,
         60},
        {"chunked coming", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nab", V::incomplete, 0},
        {"chunked past the body limit",
         "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n200\r\n" + std::string(512, 'a') + "\r\n200\r\n",
         V::bodyTooLarge, 0},
        {"chunked trailers past the bounds",
         "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n" + fields(101) + "\r\n", V::headersTooLarge, 0},
        {"chunked and a length", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n",
         V::malformed, 0},
        {"bad chunk size", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", V::malformed, 0},
    };
    for (const auto& row : rows) {
        const RequestScan scan = scanRequest(row.bytes, bounds, maxBody);
        EXPECT_EQ(int(scan.verdict), int(row.verdict)) << row.name;
        if (row.verdict == V::complete) {
            EXPECT_EQ(scan.length, row.length) << row.name;
        }
    }
}

}  // namespace
