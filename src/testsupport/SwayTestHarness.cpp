#include "testsupport/SwayTestHarness.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace quillant::testing {

namespace {

std::string searchPath() { return "PATH=/usr/local/bin:/usr/bin:/bin"; }

}  // namespace

HeadlessSway::HeadlessSway(const std::string& config) {
    switchUser_ = ::geteuid() == 0;
    if (switchUser_) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody) {
            failure_ = "no user 'nobody' to run sway as";
            return;
        }
        uid_ = nobody->pw_uid;
        gid_ = nobody->pw_gid;
    } else {
        uid_ = ::geteuid();
        gid_ = ::getegid();
    }
    ::chmod(dir_.path().c_str(), 0755);
    runtime_ = dir_ / "runtime";
    home_ = dir_ / "home";
    fs::create_directory(runtime_);
    fs::create_directory(home_);
    ::chmod(runtime_.c_str(), 0700);
    giveToUser(runtime_);
    giveToUser(home_);

    const fs::path configFile = dir_ / "sway.config";
    {
        std::ofstream out(configFile);
        out << "output HEADLESS-1 resolution 1280x800\n"
               "default_border none\n"
               "focus_on_window_activation focus\n"
            // XWayland only for the tests that ask for it.
            << (config.find("xwayland") == std::string::npos ? "xwayland disable\n" : "") << config << "\n";
    }
    ::chmod(configFile.c_str(), 0644);

    ProcessOptions options;
    options.inheritEnvironment = false;
    options.env = {searchPath(),
                   "HOME=" + home_.string(),
                   "XDG_RUNTIME_DIR=" + runtime_.string(),
                   "WLR_BACKENDS=headless",
                   "WLR_RENDERER=pixman",
                   "WLR_LIBINPUT_NO_DEVICES=1",
                   "WLR_HEADLESS_OUTPUTS=1"};
    options.errors = ProcessOptions::Errors::toFile;
    options.errorsFile = (dir_ / "sway.log").string();
    options.ownGroup = true;
    sway_ = Process::startWith(asUser({"sway", "--config", configFile.string()}), options);

    // Ready once its IPC answers: by then the Wayland socket listens too.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline && display_.empty()) {
        if (!sway_->running()) break;
        std::string socket, ipc;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(runtime_, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("wayland-") && !name.ends_with(".lock")) socket = name;
            if (name.starts_with("sway-ipc.") && name.ends_with(".sock")) ipc = entry.path().string();
        }
        if (!socket.empty() && !ipc.empty()) {
            swaysock_ = ipc;
            ProcessOptions probe;
            probe.inheritEnvironment = false;
            probe.env = {searchPath(), "SWAYSOCK=" + ipc};
            probe.errors = ProcessOptions::Errors::discard;
            if (runProgram(asUser({"swaymsg", "-t", "get_outputs"}), probe, 10s).status == 0) display_ = socket;
        }
        if (display_.empty()) std::this_thread::sleep_for(50ms);
    }
    if (display_.empty()) {
        std::ifstream log(dir_ / "sway.log");
        std::string text((std::istreambuf_iterator<char>(log)), {});
        failure_ = "sway did not start: " + text.substr(text.size() > 2000 ? text.size() - 2000 : 0);
    }
}

HeadlessSway::~HeadlessSway() {
    if (sway_) {
        sway_->terminate();
        sway_->wait(10s);
    }
}

void HeadlessSway::giveToUser(const fs::path& path) const {
    if (switchUser_) (void)::chown(path.c_str(), uid_, gid_);
}

std::vector<std::string> HeadlessSway::env() const {
    std::vector<std::string> env{searchPath(),
                                 "HOME=" + home_.string(),
                                 "XDG_RUNTIME_DIR=" + runtime_.string(),
                                 "WAYLAND_DISPLAY=" + display_,
                                 "SWAYSOCK=" + swaysock_.string(),
                                 "XDG_SESSION_TYPE=wayland"};
    // The sanitizers' settings (suppressions) reach our programs under test.
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
    // libwayland has no frame pointers: the fast unwinder stops in it, and a
    // suppression naming the library that called it (Qt's) would never match.
    if (std::getenv("LSAN_OPTIONS") && !std::getenv("ASAN_OPTIONS")) env.push_back("ASAN_OPTIONS=fast_unwind_on_malloc=0");
    return env;
}

std::vector<std::string> HeadlessSway::asUser(std::vector<std::string> argv) const {
    if (!switchUser_) return argv;
    std::vector<std::string> prefixed{"setpriv", "--reuid=" + std::to_string(uid_), "--regid=" + std::to_string(gid_),
                                      "--clear-groups", "--"};
    prefixed.insert(prefixed.end(), argv.begin(), argv.end());
    return prefixed;
}

Process HeadlessSway::startClient(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                                  ProcessOptions::Errors errors, const std::string& errorsFile) const {
    ProcessOptions options;
    options.inheritEnvironment = false;
    options.env = env();
    options.env.insert(options.env.end(), extraEnv.begin(), extraEnv.end());
    options.errors = errors;
    options.errorsFile = errorsFile;
    options.ownGroup = true;
    return Process::startWith(asUser(argv), options);
}

ProgramResult HeadlessSway::runClient(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
                                      const std::optional<std::string>& input, std::chrono::milliseconds bound) const {
    ProcessOptions options;
    options.inheritEnvironment = false;
    options.env = env();
    options.env.insert(options.env.end(), extraEnv.begin(), extraEnv.end());
    options.input = input;
    return runProgram(asUser(argv), options, bound);
}

std::vector<std::string> HeadlessSway::windows() const {
    // app_id and name of every view, from the tree's JSON, without a JSON
    // library: each view has both keys, and neither holds a quote here.
    const auto tree = runClient({"swaymsg", "-r", "-t", "get_tree"}, {}, std::nullopt, 10s);
    std::vector<std::string> out;
    static const std::regex view(R"re("name":\s*"((?:[^"\\]|\\.)*)"[^{}]*?"app_id":\s*"([^"]*)")re");
    for (auto it = std::sregex_iterator(tree.out.begin(), tree.out.end(), view); it != std::sregex_iterator(); ++it)
        out.push_back((*it)[2].str() + "\t" + (*it)[1].str());
    return out;
}

std::optional<std::string> HeadlessSway::waitForTitle(const std::string& pattern,
                                                      std::chrono::milliseconds bound) const {
    const std::regex wanted(pattern);
    const auto deadline = std::chrono::steady_clock::now() + bound;
    do {
        for (const auto& window : windows()) {
            const std::string title = window.substr(window.find('\t') + 1);
            if (std::regex_search(title, wanted)) return title;
        }
        std::this_thread::sleep_for(100ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
}

}  // namespace quillant::testing
