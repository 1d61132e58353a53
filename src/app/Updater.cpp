#include "app/Updater.h"

#include <cstdio>
#include <random>
#include <stdexcept>
#include <system_error>
#include <variant>

#include "app/UrlPolicy.h"
#include "runtime/AtomicFile.h"

namespace quillant::app {

namespace {

std::string uuidString() {
    std::random_device rd;
    std::uniform_int_distribution<int> byte(0, 255);
    unsigned char b[16];
    for (auto& x : b) x = static_cast<unsigned char>(byte(rd));
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char out[37];
    std::snprintf(out, sizeof out, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return out;
}

// Inside double quotes bash still expands $, ` and \ and ends at "; escaping
// exactly those keeps any path one literal argument.
std::string shellQuotedPath(const std::filesystem::path& p) {
    std::string out;
    for (char c : p.string()) {
        if (c == '"' || c == '$' || c == '`' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// Written aside, flushed, then renamed into place, runnable by its owner only.
void writeScript(const std::filesystem::path& path, const std::string& text) {
    if (int error = replaceFileAtomically(path, text, 0755))
        throw std::system_error(error, std::generic_category(), "write " + path.string());
}

}  // namespace

Updater::Updater(std::shared_ptr<backend::HttpSession> session, WorkRunner& workRunner, UpdateEnvironment& environment,
                 const CategoryLogger& log, StatusSink status)
    : session_(std::move(session)),
      workRunner_(workRunner),
      environment_(environment),
      log_(log),
      status_(std::move(status)) {}

std::string Updater::installerScript(long pid, const std::filesystem::path& bundle, const std::filesystem::path& newApp,
                                     const std::filesystem::path& work) {
    const std::string b = shellQuotedPath(bundle);
    std::string s;
    s += "#!/bin/bash\nwhile kill -0 ";
    s += std::to_string(pid);
    s += " 2>/dev/null; do sleep 0.3; done\nrm -rf \"";
    s += b;
    s += "\"\ncp -R \"";
    s += shellQuotedPath(newApp);
    s += "\" \"";
    s += b;
    s += "\"\nsetsid \"";
    s += b;
    s += "/bin/quillant\" >/dev/null 2>&1 </dev/null &\nrm -rf \"";
    s += shellQuotedPath(work);
    s += "\"";
    return s;
}

Task<void> Updater::run(std::string url) {
    namespace fs = std::filesystem;
    status_("Downloading update…");
    fs::path work;
    std::string failure;
    try {
        if (!isTrustedURL(url)) throw std::runtime_error("refusing to download from an untrusted URL");
        const fs::path bundle = environment_.bundlePath();
        // The hand-over deletes the bundle before copying the new one in; only
        // ever do that to an installation folder of our own.
        if (bundle.empty() || !bundle.is_absolute() || !fs::exists(bundle / kBundleMarker))
            throw std::runtime_error("not a self-contained installation (" + bundle.string() +
                                     " has no " + kBundleMarker + ")");

        work = environment_.temporaryDirectory() / ("quillant-update-" + uuidString());
        fs::create_directories(work);

        const fs::path downloaded = work / ".download";
        backend::HttpRequest request;
        request.url = url;
        request.method = "GET";
        request.timeout = std::chrono::seconds(600);
        auto result = co_await backend::performDownload(*session_, request, downloaded);
        if (auto* error = std::get_if<backend::TransportError>(&result)) throw std::runtime_error(error->description);

        const fs::path archive = work / "quillant.zip";
        fs::rename(downloaded, archive);
        status_("Installing update…");

        // The child processes are waited for off the main thread. (The job and
        // its task are named: GCC 12 mishandles closure temporaries inside co_await.)
        UpdateEnvironment& env = environment_;
        auto unpack = [&env, archive, work]() -> fs::path {
            int status = env.runAndWait("/usr/bin/unzip", {"-q", archive.string(), "-d", work.string()});
            if (status != 0) throw UpdateError(UpdateError::Kind::unzipFailed);
            fs::path app = work / "quillant.app";
            std::error_code ec;
            if (!fs::exists(app, ec)) throw UpdateError(UpdateError::Kind::appNotFound);
            return app;
        };
        auto unpacking = runInBackground(workRunner_, std::move(unpack));
        const fs::path newApp = co_await unpacking;

        const long pid = environment_.processIdentifier();
        const fs::path script = work / "update.sh";
        writeScript(script, installerScript(pid, bundle, newApp, work));
        environment_.launchDetached("/bin/bash", {script.string()});
        log_.info("update installer launched; quitting for replacement");
        environment_.terminate();
        co_return;
    } catch (const std::exception& e) {
        failure = e.what();
    }
    status_("Update failed — try again");
    log_.error("update failed: " + failure);
    if (!work.empty()) {
        std::error_code ec;
        fs::remove_all(work, ec);
    }
}

}  // namespace quillant::app
