#include "platform/linux/CurlHttpSession.h"

#include "platform/linux/PrivateRuntimeDir.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>

namespace quillant::linux_platform {

using backend::HeaderField;
using backend::HttpRequest;
using backend::HttpResponse;
using backend::HttpResult;
using backend::TransferHandle;
using backend::TransportError;
using Kind = TransportError::Kind;

namespace {

// Response headers are kept in memory too; a hostile peer gets this much.
constexpr std::size_t kMaxHeaderBytes = 256 * 1024;

struct Transfer {
    std::uint64_t id = 0;
    HttpRequest request;
    std::optional<std::filesystem::path> destination;
    backend::HttpSession::Completion completion;

    // Worker thread only from here on.
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    std::size_t maxBody = 0;
    std::uint64_t maxDownload = 0;
    std::string body;
    std::vector<HeaderField> headers;
    std::size_t headerBytes = 0;
    bool bodyOverflow = false;
    bool headerOverflow = false;
    int fd = -1;
    std::uint64_t written = 0;
    int writeErrno = 0;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::string url;         // where the current hop goes (curl's spelling)
    std::string socketPath;  // a local service's socket, or empty
    int redirects = 0;       // hops followed so far (downloads only)
    std::string refusal;     // why the connection was dropped before the request went out
    std::set<std::string>* checkedPeers = nullptr;  // the session's, see onConnected
    Executor* executor = nullptr;  // where progress is told
    int toldPercent = -1;

    ~Transfer() {
        if (easy) curl_easy_cleanup(easy);
        if (headerList) curl_slist_free_all(headerList);
        if (fd >= 0) ::close(fd);
    }
};

std::string trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return std::string(s);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool hasHeader(const HttpRequest& request, std::string_view name) {
    return std::any_of(request.headers.begin(), request.headers.end(),
                       [&](const HeaderField& f) { return equalsIgnoringCase(f.first, name); });
}

// Token characters only in names; no line breaks or NULs anywhere, so a
// value (the API key, say) can never smuggle in a header of its own.
bool isSafeField(const HeaderField& field) {
    if (field.first.empty()) return false;
    for (unsigned char c : field.first)
        if (c <= 0x20 || c >= 0x7f || c == ':') return false;
    for (unsigned char c : field.second)
        if (c == '\r' || c == '\n' || c == '\0') return false;
    return true;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    std::size_t n = size * count;
    t->headerBytes += n;
    if (t->headerBytes > kMaxHeaderBytes) {
        t->headerOverflow = true;
        return 0;
    }
    std::string_view line(data, n);
    if (line.starts_with("HTTP/")) {
        // A new response (after a redirect or an interim 1xx): only the last one counts.
        t->headers.clear();
        return n;
    }
    if (line == "\r\n" || line == "\n") return n;
    if ((line.front() == ' ' || line.front() == '\t') && !t->headers.empty()) {
        t->headers.back().second += ' ' + trimBlanks(line);
        return n;
    }
    std::size_t colon = line.find(':');
    if (colon != std::string_view::npos)
        t->headers.emplace_back(std::string(line.substr(0, colon)), trimBlanks(line.substr(colon + 1)));
    return n;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    std::size_t n = size * count;
    if (t->body.size() + n > t->maxBody) {
        t->bodyOverflow = true;
        return 0;
    }
    t->body.append(data, n);
    return n;
}

size_t onDownload(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    std::size_t n = size * count;
    if (t->written + n > t->maxDownload) {
        t->bodyOverflow = true;
        return 0;
    }
    std::size_t done = 0;
    while (done < n) {
        ssize_t w = ::write(t->fd, data + done, n - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            t->writeErrno = errno;
            return 0;
        }
        done += static_cast<std::size_t>(w);
    }
    t->written += n;
    if (t->request.progress && t->executor) {
        curl_off_t length = -1;
        curl_easy_getinfo(t->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        // Told per whole percent of a known length; an unknown one, once.
        const std::uint64_t total = length > 0 ? static_cast<std::uint64_t>(length) : 0;
        const int percent = total ? static_cast<int>(std::min<std::uint64_t>(100, t->written * 100 / total)) : 0;
        if (percent != t->toldPercent) {
            t->toldPercent = percent;
            t->executor->post([progress = t->request.progress, received = t->written, total] {
                progress(received, total);
            });
        }
    }
    return n;
}

Kind kindOf(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return Kind::timedOut;
        case CURLE_COULDNT_CONNECT:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return Kind::cannotConnect;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return Kind::tls;
        case CURLE_FILESIZE_EXCEEDED:
            return Kind::tooLarge;
        default:
            return Kind::other;
    }
}

TransportError cancelledError() { return TransportError{Kind::cancelled, "Request cancelled"}; }

// Connections are made close-on-exec from the start, so that no child process inherits one.
// A new socket also forgets which connections were checked (see onConnected).
curl_socket_t openSocket(void* checkedPeers, curlsocktype, curl_sockaddr* address) {
    static_cast<std::set<std::string>*>(checkedPeers)->clear();
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

// Our open descriptors, but for the one that reads the list.
std::set<int> openDescriptors() {
    std::set<int> out;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir) return out;
    while (const dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != ::dirfd(dir)) out.insert(std::atoi(entry->d_name));
    ::closedir(dir);
    return out;
}

// /proc/net/tcp's spelling of an address: each 32-bit word as the host
// prints it. Empty when `ip` is not an address.
std::string procAddress(const char* ip, bool& v6) {
    in_addr a4{};
    in6_addr a6{};
    char out[33] = {};
    if (::inet_pton(AF_INET, ip, &a4) == 1) {
        v6 = false;
        std::snprintf(out, sizeof out, "%08X", a4.s_addr);
    } else if (::inet_pton(AF_INET6, ip, &a6) == 1) {
        v6 = true;
        std::uint32_t words[4];
        std::memcpy(words, a6.s6_addr, sizeof words);
        std::snprintf(out, sizeof out, "%08X%08X%08X%08X", words[0], words[1], words[2], words[3]);
    }
    return out;
}

// The owner of the far end of our TCP connection from `local` to `peer` (both
// on this computer), read from /proc/net/tcp; none when it is not listed.
std::optional<uid_t> peerOwner(const char* peerIp, int peerPort, const char* localIp, int localPort) {
    bool v6 = false;
    const std::string peer = procAddress(peerIp, v6), local = procAddress(localIp, v6);
    if (peer.empty() || local.empty()) return std::nullopt;
    char wantLocal[48], wantRemote[48];
    std::snprintf(wantLocal, sizeof wantLocal, "%s:%04X", peer.c_str(), unsigned(peerPort));
    std::snprintf(wantRemote, sizeof wantRemote, "%s:%04X", local.c_str(), unsigned(localPort));
    std::FILE* f = std::fopen(v6 ? "/proc/net/tcp6" : "/proc/net/tcp", "re");
    if (!f) return std::nullopt;
    std::optional<uid_t> owner;
    char line[512];
    while (!owner && std::fgets(line, sizeof line, f)) {
        char sl[16], l[64], r[64], st[8], queues[40], timer[40], retr[16];
        unsigned long uid = 0;
        if (std::sscanf(line, "%15s %63s %63s %7s %39s %39s %15s %lu", sl, l, r, st, queues, timer, retr, &uid) == 8 &&
            std::strcmp(l, wantLocal) == 0 && std::strcmp(r, wantRemote) == 0)
            owner = uid_t(uid);
    }
    std::fclose(f);
    return owner;
}

// Plain http only ever reaches a loopback address (the URL policy), where any
// user of the computer could have taken the port first: the request, key and
// text included, goes out only when our own user answers.
//
// Reading /proc/net/tcp costs about a millisecond, and this runs before every
// request, also on a connection kept alive: such a connection was checked when
// it was made. Every new socket empties the list of checked connections, so an
// entry can only stand for a connection that has been open since its check.
int onConnected(void* user, char* peerIp, char* localIp, int peerPort, int localPort) {
    auto* t = static_cast<Transfer*>(user);
    const std::string connection = std::string(localIp) + " " + std::to_string(localPort) + " " + peerIp + " " +
                                   std::to_string(peerPort);
    if (t->checkedPeers->contains(connection)) return CURL_PREREQFUNC_OK;
    // The server's end of a fresh connection is listed once the kernel has handled our ACK.
    std::optional<uid_t> owner;
    for (int attempt = 0; attempt < 50 && !owner; ++attempt) {
        owner = peerOwner(peerIp, peerPort, localIp, localPort);
        if (!owner) ::usleep(2000);
    }
    if (owner && *owner == ::getuid()) {
        t->checkedPeers->insert(connection);
        return CURL_PREREQFUNC_OK;
    }
    t->refusal = "Refusing the service at " + std::string(peerIp) + ":" + std::to_string(peerPort) + ": " +
                 (owner ? "that port is held by another user of this computer (uid " + std::to_string(*owner) + ")"
                        : std::string("cannot tell which user holds that port"));
    return CURL_PREREQFUNC_ABORT;
}

}  // namespace

struct CurlHttpSession::Core {
    Core(Executor& executor, Options options) : executor(executor), options(std::move(options)) {}

    Executor& executor;
    const Options options;

    std::mutex mutex;  // guards the four fields below
    std::condition_variable changed;  // the worker waits on it while no transfer runs
    std::deque<std::shared_ptr<Transfer>> incoming;
    std::vector<std::uint64_t> cancelRequests;
    bool closed = false;
    CURLM* multi = nullptr;  // wakeups from other threads under the mutex, until closed

    CURLSH* share = nullptr;
    std::map<std::uint64_t, std::shared_ptr<Transfer>> active;  // worker only
    std::set<std::string> checkedPeers;                         // worker only
    std::atomic<std::uint64_t> nextId{1};

    // Called with the mutex held.
    void wake() {
        if (multi) curl_multi_wakeup(multi);
        changed.notify_one();
    }

    void deliver(std::shared_ptr<Transfer> t, HttpResult result) {
        auto completion = std::move(t->completion);
        t.reset();  // curl handles are released here, on the worker
        executor.post([completion = std::move(completion), result = std::move(result)]() mutable {
            completion(std::move(result));
        });
    }

    void fail(std::shared_ptr<Transfer> t, TransportError error) {
        if (t->fd >= 0) {
            ::close(t->fd);
            t->fd = -1;
            std::error_code ignored;
            std::filesystem::remove(*t->destination, ignored);
        }
        deliver(std::move(t), std::move(error));
    }

    // Sets up and adds one transfer, or fails it at once.
    void start(std::shared_ptr<Transfer> t) {
        HttpRequest& r = t->request;
        for (const auto& field : r.headers)
            if (!isSafeField(field))
                return fail(std::move(t), {Kind::invalidRequest, "Invalid header field " + field.first});

        t->url = r.url;
        if (auto local = backend::parseLocalSocketURL(r.url)) {
            // A socket is only as private as its folder: nobody else may have been able to listen there.
            if (auto why = whyNotPrivate(std::filesystem::path(local->socketPath).parent_path()))
                return fail(std::move(t), {Kind::cannotConnect, "Refusing the service at " + local->socketPath + ": " + *why});
            t->socketPath = local->socketPath;
            t->url = "http://localhost" + local->pathAndQuery;
        }

        t->easy = curl_easy_init();
        if (!t->easy) return fail(std::move(t), {Kind::other, "Could not start a transfer"});
        CURL* e = t->easy;

        curl_easy_setopt(e, CURLOPT_PRIVATE, t.get());
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->errorBuffer);
        curl_easy_setopt(e, CURLOPT_URL, t->url.c_str());
        if (!t->socketPath.empty()) curl_easy_setopt(e, CURLOPT_UNIX_SOCKET_PATH, t->socketPath.c_str());
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, openSocket);
        curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, &checkedPeers);
        t->checkedPeers = &checkedPeers;
        if (t->socketPath.empty() && t->url.size() > 7 && equalsIgnoringCase(std::string_view(t->url).substr(0, 7), "http://")) {
            curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, onConnected);
            curl_easy_setopt(e, CURLOPT_PREREQDATA, t.get());
        }
        // Redirects are never followed by curl: an API answer of 3xx is the
        // answer, and downloads follow them here, hop by hop, under our policy.
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_SHARE, share);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
        // The system's directory of authorities stays in force next to this file.
        if (options.extraCAFile) curl_easy_setopt(e, CURLOPT_CAINFO, options.extraCAFile->c_str());
        if (!options.userAgent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, options.userAgent.c_str());
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, t.get());

        long timeoutMs = static_cast<long>(std::max<std::int64_t>(1, r.timeout.count()));
        if (t->destination) {
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onDownload);
            curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
            curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
            curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, std::max(1L, timeoutMs / 1000));
            curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(t->maxDownload));
        } else {
            curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onBody);
            curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, timeoutMs);
        }
        curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get());

        const std::string& method = r.method;
        if (r.body) {
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body->size()));
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.body->data());  // lives in t->request
            if (method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
        } else if (method == "GET") {
            curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        } else if (method == "HEAD") {
            curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
        } else {
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method.c_str());
        }

        for (const auto& [name, value] : r.headers) {
            // "Name;" is curl's spelling of a field with an empty value.
            std::string line = value.empty() ? name + ";" : name + ": " + value;
            t->headerList = curl_slist_append(t->headerList, line.c_str());
        }
        // No 100-continue round trip, and no form type the caller did not ask for.
        if (!hasHeader(r, "Expect")) t->headerList = curl_slist_append(t->headerList, "Expect:");
        if (r.body && !hasHeader(r, "Content-Type"))
            t->headerList = curl_slist_append(t->headerList, "Content-Type:");
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headerList);

        if (t->destination) {
            std::error_code ignored;
            std::filesystem::remove(*t->destination, ignored);
            t->fd = ::open(t->destination->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (t->fd < 0)
                return deliver(std::move(t), TransportError{Kind::other, "Cannot create " + t->destination->string() +
                                                                             ": " + std::strerror(errno)});
        }

        if (curl_multi_add_handle(multi, e) != CURLM_OK) return fail(std::move(t), {Kind::other, "Could not start a transfer"});
        active.emplace(t->id, std::move(t));
    }

    void cancel(std::uint64_t id) {
        auto it = active.find(id);
        if (it == active.end()) return;  // finished already
        auto t = std::move(it->second);
        active.erase(it);
        curl_multi_remove_handle(multi, t->easy);
        fail(std::move(t), cancelledError());
    }

    void finish(CURL* easy, CURLcode code) {
        Transfer* raw = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &raw);
        auto it = active.find(raw->id);
        auto t = std::move(it->second);
        active.erase(it);
        curl_multi_remove_handle(multi, easy);

        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);

        if (t->destination && code == CURLE_OK && !t->bodyOverflow && !t->writeErrno && !t->headerOverflow &&
            (status == 301 || status == 302 || status == 303 || status == 307 || status == 308))
            return redirect(std::move(t));

        if (t->destination) {
            if (t->bodyOverflow || code == CURLE_FILESIZE_EXCEEDED)
                return fail(std::move(t), {Kind::tooLarge, "Download exceeds " + std::to_string(t->maxDownload) + " bytes"});
            if (t->writeErrno)
                return fail(std::move(t), {Kind::other, "Cannot write " + t->destination->string() + ": " +
                                                            std::strerror(t->writeErrno)});
        } else if (t->bodyOverflow && status > 0) {
            // Still an answer: its status counts, its body is not read.
            HttpResponse response{static_cast<int>(status), std::move(t->headers), {}, true};
            return deliver(std::move(t), std::move(response));
        }
        if (t->headerOverflow) return fail(std::move(t), {Kind::other, "Response headers too large"});
        if (!t->refusal.empty()) return fail(std::move(t), {Kind::cannotConnect, t->refusal});
        if (code != CURLE_OK) {
            std::string text = t->errorBuffer[0] ? t->errorBuffer : curl_easy_strerror(code);
            // curl would speak of "localhost port 80": name the socket instead.
            if (!t->socketPath.empty() && code == CURLE_COULDNT_CONNECT)
                text = "Could not reach the local service at " + t->socketPath + " (is quillant-service running?)";
            return fail(std::move(t), {kindOf(code), std::move(text)});
        }
        if (status <= 0) return fail(std::move(t), {Kind::other, "No HTTP response"});
        if (t->fd >= 0) {
            int rc = ::close(t->fd);
            t->fd = -1;
            if (rc != 0) {
                int err = errno;
                std::error_code ignored;
                std::filesystem::remove(*t->destination, ignored);
                return deliver(std::move(t), TransportError{Kind::other, "Cannot write " + t->destination->string() +
                                                                             ": " + std::strerror(err)});
            }
        }
        HttpResponse response{static_cast<int>(status), std::move(t->headers), std::move(t->body), false};
        deliver(std::move(t), std::move(response));
    }

    // One more hop of a download, if the policy allows it; else the download fails.
    void redirect(std::shared_ptr<Transfer> t) {
        char* location = nullptr;
        curl_easy_getinfo(t->easy, CURLINFO_REDIRECT_URL, &location);
        if (!location) return fail(std::move(t), {Kind::other, "Redirect without a usable Location"});
        // Policy speaks our URLs; curl's "http://localhost/…" stands for the socket.
        std::string from = t->request.url;
        std::string to = location;
        if (!t->socketPath.empty() && to.starts_with("http://localhost/"))
            to = backend::localSocketURL(t->socketPath) + to.substr(std::string_view("http://localhost").size());
        if (t->redirects >= backend::kMaxDownloadRedirects)
            return fail(std::move(t), {Kind::other, "Too many redirects (more than " +
                                                        std::to_string(backend::kMaxDownloadRedirects) + ")"});
        if (!backend::isAllowedRedirect(from, to))
            return fail(std::move(t), {Kind::other, "Refused a redirect from " + from + " to " + to});
        ++t->redirects;
        // The redirect's own body is not the download.
        if (::ftruncate(t->fd, 0) != 0 || ::lseek(t->fd, 0, SEEK_SET) != 0)
            return fail(std::move(t), {Kind::other, "Cannot write " + t->destination->string()});
        t->written = 0;
        t->headers.clear();
        t->headerBytes = 0;
        t->errorBuffer[0] = '\0';
        t->request.url = to;
        t->url = to;
        t->socketPath.clear();
        if (auto local = backend::parseLocalSocketURL(to)) {
            t->socketPath = local->socketPath;
            t->url = "http://localhost" + local->pathAndQuery;
        }
        curl_easy_setopt(t->easy, CURLOPT_URL, t->url.c_str());
        curl_easy_setopt(t->easy, CURLOPT_UNIX_SOCKET_PATH, t->socketPath.empty() ? nullptr : t->socketPath.c_str());
        curl_easy_setopt(t->easy, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(t->easy, CURLOPT_POSTFIELDS, nullptr);
        if (curl_multi_add_handle(multi, t->easy) != CURLM_OK)
            return fail(std::move(t), {Kind::other, "Could not start a transfer"});
        active.emplace(t->id, std::move(t));
    }

    void run() {
        pthread_setname_np(pthread_self(), "quillant-http");
        for (;;) {
            std::deque<std::shared_ptr<Transfer>> adopted;
            std::vector<std::uint64_t> cancels;
            bool stop = false;
            {
                std::unique_lock lock(mutex);
                // Nothing in flight: sleep without a timer until there is work.
                if (active.empty())
                    changed.wait(lock, [&] { return closed || !incoming.empty() || !cancelRequests.empty(); });
                adopted.swap(incoming);
                cancels.swap(cancelRequests);
                stop = closed;
            }
            if (stop) {
                for (auto& t : adopted) deliver(std::move(t), cancelledError());
                break;
            }
            for (auto& t : adopted) start(std::move(t));
            for (auto id : cancels) cancel(id);

            int running = 0;
            curl_multi_perform(multi, &running);
            int queued = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &queued))
                if (msg->msg == CURLMSG_DONE) finish(msg->easy_handle, msg->data.result);
            if (!active.empty()) curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        while (!active.empty()) cancel(active.begin()->first);
    }
};

CurlHttpSession::CurlHttpSession(Executor& executor) : CurlHttpSession(executor, Options{}) {}

CurlHttpSession::CurlHttpSession(Executor& executor, Options options)
    : core_(std::make_shared<Core>(executor, std::move(options))) {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) throw std::runtime_error("libcurl failed to initialise");
    const auto before = openDescriptors();
    core_->multi = curl_multi_init();
    // The multi handle's wake-up pair is made without close-on-exec (libcurl 7.88); a child
    // (the updater's unzip, the hand-over script) must not hold it. Whatever else opened a
    // descriptor meanwhile only gains close-on-exec, which no descriptor of ours lacks on purpose.
    for (int fd : openDescriptors())
        if (!before.contains(fd)) ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
    core_->share = curl_share_init();
    if (!core_->multi || !core_->share) {
        if (core_->multi) curl_multi_cleanup(core_->multi);
        if (core_->share) curl_share_cleanup(core_->share);
        curl_global_cleanup();
        throw std::runtime_error("libcurl failed to initialise");
    }
    // One thread uses the share, so it needs no lock callbacks.
    curl_share_setopt(core_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(core_->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    worker_ = std::thread([core = core_] { core->run(); });
}

CurlHttpSession::~CurlHttpSession() {
    {
        std::lock_guard lock(core_->mutex);
        core_->closed = true;
        core_->wake();
    }
    worker_.join();
    CURLM* multi = nullptr;
    {
        std::lock_guard lock(core_->mutex);
        multi = std::exchange(core_->multi, nullptr);
    }
    curl_multi_cleanup(multi);
    curl_share_cleanup(core_->share);
    core_->share = nullptr;
    curl_global_cleanup();
}

backend::TransferHandle CurlHttpSession::send(HttpRequest request, Completion completion) {
    return submit(std::move(request), std::nullopt, std::move(completion));
}

backend::TransferHandle CurlHttpSession::download(HttpRequest request, std::filesystem::path destination,
                                                  Completion completion) {
    return submit(std::move(request), std::move(destination), std::move(completion));
}

backend::TransferHandle CurlHttpSession::submit(HttpRequest request, std::optional<std::filesystem::path> destination,
                                                Completion completion) {
    auto t = std::make_shared<Transfer>();
    t->id = core_->nextId++;
    t->request = std::move(request);
    t->destination = std::move(destination);
    t->completion = std::move(completion);
    t->maxBody = core_->options.maxBodyBytes;
    t->maxDownload = core_->options.maxDownloadBytes;
    t->executor = &core_->executor;
    std::uint64_t id = t->id;
    {
        std::lock_guard lock(core_->mutex);
        if (core_->closed) {
            core_->deliver(std::move(t), cancelledError());
            return {};
        }
        core_->incoming.push_back(std::move(t));
        core_->wake();
    }
    std::weak_ptr<Core> weak = core_;
    return TransferHandle([weak, id] {
        auto core = weak.lock();
        if (!core) return;
        std::lock_guard lock(core->mutex);
        if (core->closed) return;
        core->cancelRequests.push_back(id);
        core->wake();
    });
}

}  // namespace quillant::linux_platform
