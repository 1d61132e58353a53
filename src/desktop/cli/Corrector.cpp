// quillant corrector: where corrections come from.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "app/CorrectionsSettings.h"
#include "desktop/cli/Commands.h"
#include "platform/linux/LocalServiceProcess.h"
#include "platform/linux/SettingsFileStore.h"
#include "runtime/Logger.h"
#include "text/Text.h"

extern char** environ;

namespace quillant::desktop::cli {

namespace {

struct Ran {
    int status = -1;
    std::string out;
};

// Runs the service program with its standard output captured (or passed on).
Ran runService(const std::vector<std::string>& args, bool capture) {
    std::vector<std::string> argv{serviceProgram().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    if (capture && ::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (capture) posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    Ran ran;
    if (capture) {
        ::close(pipeFds[1]);
        if (rc == 0) {
            char buffer[4096];
            ssize_t n;
            while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR))
                if (n > 0 && ran.out.size() < kMaxStdinBytes) ran.out.append(buffer, std::size_t(n));
        }
        ::close(pipeFds[0]);
    }
    if (rc != 0) {
        ran.out = "cannot start " + argv[0] + ": " + std::strerror(rc) + "\n";
        return ran;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

int usage(ProgramContext& c, const std::string& why) {
    say(c.err, "quillant: " + why);
    say(c.err,
        "usage: quillant corrector show\n"
        "       quillant corrector set offline [--language auto|en_GB|…]\n"
        "       quillant corrector set local-model [--url URL] --model NAME [--timeout SECONDS]\n"
        "       quillant corrector set hosted-model --url https://… --model NAME [--timeout SECONDS]\n"
        "                                     (the provider's API key is read from standard input)\n"
        "       quillant corrector try\n"
        "       quillant corrector models [URL]");
    return kExitUsage;
}

int show(ProgramContext& c, const app::CorrectionsSettings& s, const std::filesystem::path& dir) {
    say(c.out, app::describeCorrections(s));
    if (s.source != "offline") {
        char timeout[32];
        std::snprintf(timeout, sizeof timeout, "%g", s.timeoutSeconds);
        say(c.out, std::string("time-out: ") + timeout + " s; offline dictionary when the model fails (" + s.language + ")");
    }
    if (s.source == app::kHostedModelSource)
        say(c.out, std::string("provider key: ") + (app::hasProviderKey(dir) ? "set" : "not set"));
    return kExitOK;
}

}  // namespace

std::filesystem::path serviceProgram() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return linux_platform::findLocalService(self).value_or(self.parent_path() / "quillant-service");
}

int corrector(ProgramContext& c, const std::vector<std::string>& args) {
    auto dir = linux_platform::defaultConfigDirectory();
    if (!dir) {
        say(c.err, "quillant: cannot find your settings folder (set HOME)");
        return kExitFailure;
    }
    NullLogger quiet;
    linux_platform::SettingsFileStore store(*dir, quiet);
    app::CorrectionsSettings s = app::loadCorrections(store);
    if (args.empty()) return usage(c, "corrector needs show, set, try or models");
    const std::string& verb = args[0];
    if (verb == "show" && args.size() == 1) return show(c, s, *dir);
    if (verb == "try" && args.size() == 1) {
        Ran ran = runService({"--try-corrections", "--user-config", dir->string()}, true);
        std::fputs(ran.out.c_str(), ran.status == 0 ? c.out : c.err);
        return ran.status == 0 ? kExitOK : kExitFailure;
    }
    if (verb == "models" && args.size() <= 2) {
        std::string url = args.size() == 2 ? args[1] : s.modelURL;
        Ran ran = runService({"--list-models", url, "--user-config", dir->string()}, true);
        std::fputs(ran.out.c_str(), ran.status == 0 ? c.out : c.err);
        return ran.status == 0 ? kExitOK : kExitFailure;
    }
    if (verb != "set" || args.size() < 2) return usage(c, "unknown corrector command");

    app::CorrectionsSettings next = s;
    next.source = args[1];
    if (next.source == app::kLocalModelSource && s.source != app::kLocalModelSource) {
        next.modelURL = app::CorrectionsSettings{}.modelURL;
        next.modelName.clear();
    }
    if (next.source == app::kHostedModelSource && s.source != app::kHostedModelSource) {
        next.modelURL.clear();
        next.modelName.clear();
    }
    std::map<std::string, std::string*> options{{"--language", &next.language}, {"--url", &next.modelURL}, {"--model", &next.modelName}};
    for (std::size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--timeout" && i + 1 < args.size()) {
            try {
                next.timeoutSeconds = std::stod(args[++i]);
            } catch (const std::exception&) {
                return usage(c, "--timeout takes a number of seconds");
            }
            continue;
        }
        auto option = options.find(args[i]);
        if (option == options.end() || i + 1 >= args.size()) return usage(c, "unexpected \"" + args[i] + "\"");
        *option->second = args[++i];
    }
    while (!next.modelURL.empty() && next.modelURL.back() == '/') next.modelURL.pop_back();
    std::string why = app::correctionsProblem(next);
    if (next.source == app::kLocalModelSource && next.modelName.empty() && why == "choose a model") why.clear();
    if (!why.empty()) {
        say(c.err, "quillant: not saved: " + why);
        return kExitFailure;
    }
    if (next.source == app::kLocalModelSource) {
        // The model is one the server itself lists.
        Ran ran = runService({"--list-models", next.modelURL}, true);
        auto names = lines(ran.out);
        if (ran.status == 0 && next.modelName.empty()) {
            std::string all;
            for (const auto& n : names) all += (all.empty() ? "" : ", ") + n;
            say(c.err, "quillant: not saved: choose one of the models with --model: " + all);
            return kExitUsage;
        }
        if (ran.status != 0) {
            say(c.err, "quillant: not saved: " + (names.empty() ? std::string("no model list") : names[0]));
            return kExitFailure;
        }
        if (std::find(names.begin(), names.end(), next.modelName) == names.end()) {
            say(c.err, "quillant: not saved: The model at " + next.modelURL + " has no model named " + next.modelName);
            say(c.err, "it has: " + [&] {
                std::string all;
                for (const auto& n : names) all += (all.empty() ? "" : ", ") + n;
                return all;
            }());
            return kExitFailure;
        }
    }
    if (next.source == app::kHostedModelSource) {
        std::optional<std::string> input =
            isatty(fileno(c.in)) ? readSecretLine(c, "Provider API key (Enter keeps the stored one): ") : readAll(c.in, kMaxStdinBytes);
        if (!input) {
            say(c.err, "quillant: that is far too long for an API key");
            return kExitFailure;
        }
        std::string key = text::trimmed(*input);
        if (key.empty() && !app::hasProviderKey(*dir)) {
            say(c.err, "quillant: not saved: no provider key given (pipe it in: quillant corrector set hosted-model … < file)");
            return kExitFailure;
        }
        if (!key.empty()) {
            if (std::string why = app::saveProviderKey(*dir, key); !why.empty()) {
                say(c.err, "quillant: not saved: " + why);
                return kExitFailure;
            }
        }
    }
    app::saveCorrections(store, next);
    say(c.err, "Corrections now come from: " + app::describeCorrections(next) + " (from the next fix on)");
    if (next.source == app::kLocalModelSource && next.modelURL.rfind("http://", 0) == 0)
        say(c.err, "note: while that server is down, another user of this computer could answer on its port and read "
                   "your texts");
    return kExitOK;
}

}  // namespace quillant::desktop::cli
