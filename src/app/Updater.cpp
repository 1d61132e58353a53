#include "app/Updater.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <stdexcept>
#include <system_error>
#include <variant>

#include "app/ReleaseSignature.h"
#include "app/VersionCompare.h"
#include "backend/BackendProtocol.h"
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


// The update's work folder: private from the moment it exists, and removed
// with everything in it when the last holder lets go (the run, or an unpacking
// still going on after the run was dropped because the application quit),
// unless it was handed over to the installer script.
class WorkFolder {
public:
    explicit WorkFolder(std::filesystem::path path) : path_(std::move(path)) {}
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    ~WorkFolder() { remove(); }
    const std::filesystem::path& path() const { return path_; }
    void handOver() { done_ = true; }
    // At once, not when the last holder lets go (a worker thread may hold it a moment longer).
    void remove() {
        if (done_.exchange(true)) return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }

    // Creates "quillant-update-" + a fresh UUID in `parent`, mode 0700, failing
    // rather than reusing anything that is already there.
    static std::shared_ptr<WorkFolder> create(const std::filesystem::path& parent) {
        std::filesystem::create_directories(parent);
        for (int attempt = 0; attempt < 8; ++attempt) {
            auto path = parent / ("quillant-update-" + uuidString());
            if (::mkdir(path.c_str(), 0700) == 0) {
                auto folder = std::make_shared<WorkFolder>(path);
                // The umask may have taken bits away; never added any.
                std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::replace);
                return folder;
            }
            if (errno != EEXIST) throw std::system_error(errno, std::generic_category(), "create " + path.string());
        }
        throw std::runtime_error("cannot create a fresh work folder in " + parent.string());
    }

private:
    std::filesystem::path path_;
    std::atomic<bool> done_{false};
};

// The hand-over deletes the installation and copies the new one into its
// place; both need write access to the folder, every folder in it, and the
// folder around it. Checked before anything is downloaded.
void requireReplaceable(const std::filesystem::path& bundle) {
    namespace fs = std::filesystem;
    auto writable = [](const fs::path& dir) { return ::access(dir.c_str(), W_OK | X_OK) == 0; };
    if (!writable(bundle.parent_path()) || !writable(bundle))
        throw std::runtime_error("the installation folder " + bundle.string() + " cannot be replaced (not writable)");
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(bundle, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec) && !writable(it->path()))
            throw std::runtime_error("the installation folder " + bundle.string() + " cannot be replaced (" +
                                     it->path().string() + " is not writable)");
    }
    if (ec) throw std::runtime_error("the installation folder " + bundle.string() + " cannot be read: " + ec.message());
}

// What the hand-over will put in place must be an installation that starts.
void requireInstallable(const std::filesystem::path& app) {
    namespace fs = std::filesystem;
    std::error_code ec;
    // A link would be copied as a link, to wherever it points.
    if (fs::symlink_status(app, ec).type() != fs::file_type::directory)
        throw UpdateError(UpdateError::Kind::appNotFound);
    const auto program = fs::symlink_status(app / "bin/quillant", ec);
    if (program.type() != fs::file_type::regular || (program.permissions() & fs::perms::owner_exec) == fs::perms::none)
        throw std::runtime_error("the update's quillant.app has no executable bin/quillant");
    // Without its corrector the new quillant could not fix anything.
    const auto service = fs::symlink_status(app / "bin/quillant-service", ec);
    if (service.type() != fs::file_type::regular || (service.permissions() & fs::perms::owner_exec) == fs::perms::none)
        throw std::runtime_error("the update's quillant.app has no executable bin/quillant-service");
    if (fs::symlink_status(app / Updater::kBundleMarker, ec).type() != fs::file_type::regular)
        throw std::runtime_error(std::string("the update's quillant.app has no ") + Updater::kBundleMarker);
}

// An old release keeps its valid signature for ever: whoever makes the offer
// could bring back one with a known fault. The version is read from the
// signed archive, not from the offer.
void requireNewer(const std::filesystem::path& app, const std::string& running) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file = app / Updater::kVersionFile;
    if (fs::symlink_status(file, ec).type() != fs::file_type::regular || fs::file_size(file, ec) > 64 || ec)
        throw std::runtime_error(std::string("the update's quillant.app has no readable ") + Updater::kVersionFile);
    std::ifstream in(file, std::ios::binary);
    std::string version((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (!version.empty() && (version.back() == '\n' || version.back() == '\r' || version.back() == ' '))
        version.pop_back();
    if (version.empty() || versionNumbers(version).empty())
        throw std::runtime_error("the update's version '" + version + "' cannot be read");
    if (!isNewer(version, running))
        throw std::runtime_error("the update's version " + version + " is not newer than the running " + running);
}

}  // namespace

Updater::Updater(std::shared_ptr<backend::HttpSession> session, WorkRunner& workRunner, UpdateEnvironment& environment,
                 const CategoryLogger& log, StatusSink status, std::string publicKey, std::string runningVersion)
    : session_(std::move(session)),
      workRunner_(workRunner),
      environment_(environment),
      log_(log),
      status_(std::move(status)),
      publicKey_(std::move(publicKey)),
      runningVersion_(std::move(runningVersion)) {}

std::string Updater::installerScript(long pid, const std::filesystem::path& bundle, const std::filesystem::path& work,
                                     bool exchanged) {
    const std::string b = shellQuotedPath(bundle);
    const std::string fresh = b + ".update-new", old = b + ".update-old";
    // Where the old installation is once the new one is in place.
    const std::string gone = exchanged ? fresh : old;
    std::string s;
    s += "#!/bin/bash\nwhile kill -0 ";
    s += std::to_string(pid);
    s += " 2>/dev/null; do sleep 0.3; done\n";
    if (!exchanged) {
        // Two renames: a failed one leaves the old installation, and it is
        // the old one that starts again.
        s += "rm -rf \"" + old + "\"\n";
        s += "if mv \"" + b + "\" \"" + old + "\"; then mv \"" + fresh + "\" \"" + b + "\" || mv \"" + old + "\" \"" + b +
             "\"; fi\n";
    }
    // The old corrector goes with the old folder: the next fix starts the new one.
    s += "for p in /proc/[0-9]*; do [ \"$(readlink \"$p/exe\" 2>/dev/null)\" != \"" + gone +
         "/bin/quillant-service\" ] || kill -TERM \"${p#/proc/}\" 2>/dev/null; done\n";
    s += "rm -rf \"" + fresh + "\" \"" + old + "\"\n";
    s += "setsid \"" + b + "/bin/quillant\" >/dev/null 2>&1 </dev/null &\n";
    s += "rm -rf \"" + shellQuotedPath(work) + "\"";
    return s;
}

Task<void> Updater::run(std::string url) {
    namespace fs = std::filesystem;
    status_("Downloading update…");
    // Progress told after the run has moved on (or ended) is dropped.
    auto progressSink = std::make_shared<StatusSink>(status_);
    std::shared_ptr<WorkFolder> workFolder;
    std::filesystem::path copied;  // the update beside the installation, removed on failure
    std::string failure;
    try {
        // Code comes over TLS or from the private local socket; never plain
        // http, where whoever holds a loopback port first would serve it.
        if (!backend::isAcceptableDownloadURL(url)) throw std::runtime_error("refusing to download from an untrusted URL");
        const fs::path bundle = environment_.bundlePath();
        // The hand-over deletes the bundle before copying the new one in; only
        // ever do that to an installation folder of our own.
        if (bundle.empty() || !bundle.is_absolute() || !fs::exists(bundle / kBundleMarker))
            throw std::runtime_error("not a self-contained installation (" + bundle.string() +
                                     " has no " + kBundleMarker + ")");
        requireReplaceable(bundle);
        const auto key = ReleasePublicKey::parse(publicKey_);
        if (!key) throw std::runtime_error("this build has no key to check an update's signature with");

        // Absolute, so that no path given to a child can be read as an option.
        workFolder = WorkFolder::create(fs::absolute(environment_.temporaryDirectory()));
        const fs::path work = workFolder->path();

        const fs::path downloaded = work / ".download";
        backend::HttpRequest request;
        request.url = url;
        request.method = "GET";
        request.timeout = std::chrono::seconds(600);
        request.progress = [weak = std::weak_ptr<StatusSink>(progressSink)](std::uint64_t received, std::uint64_t total) {
            auto sink = weak.lock();
            if (sink && total) (*sink)("Downloading update… " + std::to_string(received * 100 / total) + " %");
        };
        auto result = co_await backend::performDownload(*session_, request, downloaded);
        progressSink.reset();
        if (auto* error = std::get_if<backend::TransportError>(&result)) throw std::runtime_error(error->description);
        // An error page is not the archive.
        if (int status = std::get<backend::HttpResponse>(result).status; status < 200 || status > 299)
            throw std::runtime_error("the download answered HTTP " + std::to_string(status));

        backend::HttpRequest signatureRequest = request;
        signatureRequest.progress = nullptr;
        signatureRequest.url = url + ".sig";
        signatureRequest.timeout = std::chrono::seconds(60);
        auto signed_ = co_await backend::perform(*session_, signatureRequest);
        if (auto* error = std::get_if<backend::TransportError>(&signed_))
            throw std::runtime_error("bad signature: it cannot be fetched: " + error->description);
        const auto& signature = std::get<backend::HttpResponse>(signed_);
        if (signature.status < 200 || signature.status > 299)
            throw std::runtime_error("bad signature: none at " + signatureRequest.url + " (HTTP " +
                                     std::to_string(signature.status) + ")");
        if (auto why = whyNotSignedBy(downloaded, signature.body, *key)) throw std::runtime_error("bad signature: " + *why);

        const fs::path archive = work / "quillant.zip";
        fs::rename(downloaded, archive);
        status_("Installing update…");

        // The child processes are waited for off the main thread. (The job and
        // its task are named: GCC 12 mishandles closure temporaries inside co_await.)
        UpdateEnvironment& env = environment_;
        const fs::path fresh = bundle.string() + ".update-new";
        auto unpack = [&env, archive, workFolder, running = runningVersion_, fresh]() -> fs::path {
            const fs::path& work = workFolder->path();
            // What the archive says it unpacks to, bounded before anything is written.
            const std::string sizeCheck =
                "listing=$(/usr/bin/unzip -Zt \"$1\" 2>/dev/null) || exit 2\n"
                "n=$(printf '%s\\n' \"$listing\" | sed -n 's/.*, \\([0-9][0-9]*\\) bytes uncompressed.*/\\1/p')\n"
                "[ -n \"$n\" ] || exit 2\n"
                "[ ${#n} -le 15 ] && [ \"$n\" -le \"$2\" ] || exit 3\n";
            const int size = env.runAndWait("/bin/sh", {"-c", sizeCheck, "sh", archive.string(),
                                                        std::to_string(kMaxUnpackedBytes)});
            if (size == 3)
                throw std::runtime_error("the update unpacks to more than " + std::to_string(kMaxUnpackedBytes) +
                                         " bytes");
            if (size != 0) throw UpdateError(UpdateError::Kind::unzipFailed);
            int status = env.runAndWait("/usr/bin/unzip", {"-q", archive.string(), "-d", work.string()});
            if (status != 0) throw UpdateError(UpdateError::Kind::unzipFailed);
            fs::path app = work / "quillant.app";
            std::error_code ec;
            if (!fs::exists(fs::symlink_status(app, ec))) throw UpdateError(UpdateError::Kind::appNotFound);
            requireInstallable(app);
            requireNewer(app, running);
            // Beside the installation, on its file system, so that one rename swaps it in.
            fs::remove_all(fresh, ec);
            if (env.runAndWait("/bin/cp", {"-R", "--", app.string(), fresh.string()}) != 0) {
                fs::remove_all(fresh, ec);
                throw std::runtime_error("cannot copy the update to " + fresh.string());
            }
            return app;
        };
        auto unpacking = runInBackground(workRunner_, std::move(unpack));
        co_await unpacking;
        copied = fresh;

        // From here on a crash at any moment leaves a runnable installation:
        // the swap is one step, and the script only removes the old folder.
        const std::error_code swap = environment_.exchangeFolders(fresh, bundle);
        const bool exchanged = !swap;
        if (swap && swap != std::errc::invalid_argument && swap != std::errc::function_not_supported &&
            swap != std::errc::operation_not_supported)
            throw std::runtime_error("cannot swap the update in: " + swap.message());
        if (!exchanged)
            log_.info("the file system cannot swap " + bundle.string() + " in one step (" + swap.message() +
                      "); the hand-over renames twice");
        try {
            const long pid = environment_.processIdentifier();
            const fs::path script = work / "update.sh";
            writeScript(script, installerScript(pid, bundle, work, exchanged));
            environment_.launchDetached("/bin/bash", {script.string()});
        } catch (...) {
            // Nothing would remove the old folder or start the new one: the old one goes back.
            if (exchanged && environment_.exchangeFolders(fresh, bundle)) copied.clear();
            throw;
        }
        workFolder->handOver();  // the script removes it once it is done
        status_("Restarting quillant…");
        log_.info("update installer launched; quitting for replacement");
        environment_.terminate();
        co_return;
    } catch (const std::exception& e) {
        failure = e.what();
    }
    progressSink.reset();
    status_("Update failed — try again");
    log_.error("update failed: " + failure);
    if (workFolder) workFolder->remove();
    std::error_code ec;
    if (!copied.empty()) std::filesystem::remove_all(copied, ec);
}

}  // namespace quillant::app
