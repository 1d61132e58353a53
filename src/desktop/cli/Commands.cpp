#include "desktop/cli/Commands.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "app/AppCoordinator.h"
#include "app/UrlPolicy.h"
#include "app/BuildConfig.h"
#include "backend/BackendClient.h"
#include "backend/LocalServiceSession.h"
#include "credentials/TokenStore.h"
#include "platform/linux/CurlHttpSession.h"
#include "platform/linux/JournalLogger.h"
#include "platform/linux/LocalServiceProcess.h"
#include "platform/linux/SettingsFileStore.h"
#include "platform/linux/PrivateRuntimeDir.h"
#include "platform/linux/InstanceChannel.h"
#include "platform/linux/RunLoop.h"
#include "text/Text.h"

namespace quillant::desktop::cli {

void say(std::FILE* f, const std::string& line) {
    std::fputs(line.c_str(), f);
    std::fputc('\n', f);
    std::fflush(f);
}

namespace {

std::optional<credentials::TokenStore> tokenStore(ProgramContext& c) {
    if (!c.home) {
        say(c.err, "quillant: cannot find your home directory (set HOME)");
        return std::nullopt;
    }
    return credentials::TokenStore(*c.home);
}

// Runs one task to its end on a run loop of our own.
template <class Body>
void runToEnd(linux_platform::RunLoop& loop, Body body) {
    bool done = false;
    spawn(loop, [&]() -> Task<void> {
        co_await body();
        done = true;
        loop.quit();
    });
    if (!done) loop.run();
}

// Hands a key operation to the running agent, so that it never works with a
// stale key. None when no agent runs (the command then does the work itself).
std::optional<int> throughRunningAgent(ProgramContext& c, const std::string& command,
                                       const std::optional<std::string>& argument, const std::string& done) {
    const auto folder = linux_platform::privateRuntimeFolder(c.xdgRuntimeDir);
    if (!folder.path) {
        say(c.err, "quillant: " + folder.error + " (a running quillant is not told)");
        return std::nullopt;
    }
    // One agent per display the user runs quillant on; each is told.
    const auto agents = linux_platform::runningInstances(*folder.path);
    if (agents.empty()) return std::nullopt;
    int status = kExitOK;
    for (const auto& agent : agents) {
        std::string error;
        const auto answer =
            linux_platform::sendToInstance(*folder.path, agent, command, argument, std::chrono::seconds(5), error);
        if (!answer) {
            say(c.err, "quillant: " + error);
            status = kExitFailure;
        } else if (*answer != "ok" && !answer->starts_with("ok ")) {
            say(c.err, "quillant: " + (answer->starts_with("error ") ? answer->substr(6) : *answer));
            status = kExitFailure;
        }
    }
    if (status == kExitOK) say(c.err, done);
    return status;
}

}  // namespace

std::optional<std::string> readSecretLine(ProgramContext& c, const char* prompt) {
    int fd = fileno(c.in);
    termios old{};
    bool restore = tcgetattr(fd, &old) == 0;
    if (restore) {
        termios quiet = old;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    std::fputs(prompt, c.err);
    std::fflush(c.err);
    std::string line;
    int ch;
    while ((ch = std::fgetc(c.in)) != EOF && ch != '\n') {
        line.push_back(char(ch));
        if (line.size() > kMaxStdinBytes) break;
    }
    if (restore) tcsetattr(fd, TCSAFLUSH, &old);
    std::fputc('\n', c.err);
    if (line.size() > kMaxStdinBytes) return std::nullopt;
    return line;
}


int trigger(ProgramContext& c) {
    const auto folder = linux_platform::privateRuntimeFolder(c.xdgRuntimeDir);
    if (!folder.path) {
        say(c.err, "quillant: " + folder.error);
        return kExitFailure;
    }
    const auto agents = linux_platform::runningInstances(*folder.path);
    // This session's agent; else the only one there is (a desktop shortcut
    // may start us with a thinner environment than the session's).
    const std::string own = linux_platform::sessionInstanceName(c.x11Display ? c.x11Display : "",
                                                                c.waylandDisplay ? c.waylandDisplay : "");
    std::optional<std::string> agent;
    if (std::find(agents.begin(), agents.end(), own) != agents.end())
        agent = own;
    else if (agents.size() == 1)
        agent = agents.front();
    if (!agent) {
        say(c.err, agents.empty() ? "quillant: quillant is not running; start it first (run quillant), then trigger again"
                                  : "quillant: several quillant instances run and none belongs to this session "
                                    "(DISPLAY / WAYLAND_DISPLAY); nothing was triggered");
        return kExitFailure;
    }
    std::string error;
    const auto answer =
        linux_platform::sendToInstance(*folder.path, *agent, "trigger", std::nullopt, std::chrono::seconds(5), error);
    if (!answer) {
        say(c.err, "quillant: the running quillant does not answer: " + error);
        return kExitFailure;
    }
    if (*answer != "ok") {
        say(c.err, "quillant: " + (answer->starts_with("error ") ? answer->substr(6) : *answer));
        return kExitFailure;
    }
    return kExitOK;
}

const char* usageText() {
    return "usage: quillant [command]\n"
           "\n"
           "Fixes the text you have selected: select text in any application and press Alt+Shift+G;\n"
           "the selection is replaced by the text-fixing service's correction and your clipboard is\n"
           "put back afterwards.\n"
           "\n"
           "commands:\n"
           "  (none)        run on the desktop (X11, or Wayland; see doctor) until you quit it; when quillant\n"
           "                already runs, open its panel instead\n"
           "  key set       store the API key, read from standard input (never from the command line)\n"
           "  key clear     forget the stored API key\n"
           "  key status    check the stored key with the service: connected, invalid, offline or absent\n"
           "  fix           correct standard input and write the result to standard output\n"
           "  corrector show|set|try|models\n"
           "                where corrections come from: the offline dictionary, a model on this computer\n"
           "                (Ollama, llama-server, …) or a hosted one; try corrects a sample sentence\n"
           "  inspect       show what a fix would capture from the clipboard (types, Slack mentions)\n"
           "  trigger       fix the selection now, as the hotkey does, in the running quillant; bind it to\n"
           "                a shortcut where quillant cannot arm its hotkey (e.g. sway:\n"
           "                bindsym Mod1+Shift+g exec quillant trigger)\n"
           "  doctor        show what this session offers and what quillant uses there\n"
           "  autostart on|off|status\n"
           "                start quillant at login (or not), or tell whether it does\n"
           "  --version     print the version\n"
           "  --help        print this help\n"
           "\n"
           "exit status: 0 on success, 1 on failure (for key status: the key is not connected),\n"
           "2 on a usage error.\n"
           "\n"
           "files: the API key is kept in ~/.config/quillant/token (mode 0600), the hotkey in\n"
           "$XDG_CONFIG_HOME/quillant/settings.json. While quillant runs, key set and key clear go\n"
           "through it (its socket is in $XDG_RUNTIME_DIR/quillant/).\n"
           "\n"
           "service: your own local corrector, quillant-service beside quillant, on its private socket\n"
           "$XDG_RUNTIME_DIR/quillant/service.sock: started when a fix needs it, gone after a minute\n"
           "without one, with a key quillant makes itself (~/.config/quillant/local-key). Unless\n"
           "QUILLANT_SERVICE_URL names another service (https, or http on this computer), which\n"
           "takes the API key.\n";
}

std::optional<std::string> resolveServiceURL(const char* overrideValue, const char* xdgRuntimeDir, std::string& error) {
    const std::string chosen = overrideValue && *overrideValue ? overrideValue : build::kServiceURL;
    if (chosen == "local") return backend::localSocketURL(linux_platform::localServiceSocket(xdgRuntimeDir).string());
    if (!app::isTrustedURL(chosen)) {
        error = "QUILLANT_SERVICE_URL must be \"local\", an https URL (or http to this computer): " + chosen;
        return std::nullopt;
    }
    return chosen;
}

std::optional<LocalCorrector> localCorrector(const ProgramContext& c, Logger& log) {
    if (!c.localServiceSocket) return std::nullopt;
    LocalCorrector local;
    const auto config = linux_platform::defaultConfigDirectory();
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!config || !c.home || ec) {
        local.error = "cannot find your home directory (set HOME)";
        return local;
    }
    auto command = linux_platform::localServiceCommand(self, *c.localServiceSocket, *config);
    local.key = linux_platform::provisionLocalKey(*c.home, command.keysFile, local.error);
    local.starter = std::make_shared<linux_platform::LocalServiceProcess>(std::move(command), log);
    return local;
}

std::shared_ptr<backend::HttpSession> serviceSession(Executor& executor, std::shared_ptr<backend::HttpSession> http,
                                                     const ProgramContext& c, const std::optional<LocalCorrector>& local) {
    if (!local || !local->starter) return http;
    return std::make_shared<backend::LocalServiceSession>(executor, std::move(http), c.serviceURL, local->starter);
}

namespace {

// The key the service is asked with: the local corrector's own, or the user's API key.
std::optional<std::string> serviceKey(ProgramContext& c, const std::optional<LocalCorrector>& local) {
    if (local) {
        if (!local->key) say(c.err, "quillant: the local corrector's key cannot be made: " + local->error);
        return local->key;
    }
    auto store = tokenStore(c);
    if (!store) return std::nullopt;
    return store->load();
}

}  // namespace

std::optional<std::string> readAll(std::FILE* in, std::size_t limit) {
    std::string data;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) {
        data.append(buffer, n);
        if (data.size() > limit) return std::nullopt;
    }
    return data;
}

int keySet(ProgramContext& c) {
    auto store = tokenStore(c);
    if (!store) return kExitFailure;
    std::optional<std::string> input = isatty(fileno(c.in)) ? readSecretLine(c, "API key: ") : readAll(c.in, kMaxStdinBytes);
    if (!input) {
        say(c.err, "quillant: that is far too long for an API key");
        return kExitFailure;
    }
    const std::string key = text::trimmed(*input);
    if (key.empty()) {
        say(c.err, "quillant: no API key given (pipe it in: quillant key set < file)");
        return kExitFailure;
    }
    if (auto why = credentials::TokenStore::refusal(key)) {
        say(c.err, "quillant: the API key can't be saved: " + *why);
        return kExitFailure;
    }
    // The local corrector's key is quillant's own; the API key waits for a remote service.
    if (c.localServiceSocket) {
        if (!store->save(key)) {
            say(c.err, "quillant: Failed to save key (" + store->path().string() + ")");
            return kExitFailure;
        }
        say(c.err, "API key saved to " + store->path().string() +
                       "; it is used when QUILLANT_SERVICE_URL names a remote service (the local corrector needs none)");
        return kExitOK;
    }
    if (auto status = throughRunningAgent(c, "key-set", key, "API key handed to the running quillant, which saved it"))
        return *status;
    if (!store->save(key)) {
        say(c.err, "quillant: Failed to save key (" + store->path().string() + ")");
        return kExitFailure;
    }
    say(c.err, "API key saved to " + store->path().string());
    return kExitOK;
}

int keyClear(ProgramContext& c) {
    auto store = tokenStore(c);
    if (!store) return kExitFailure;
    if (!c.localServiceSocket)
        if (auto status =
                throughRunningAgent(c, "key-clear", std::nullopt, "API key cleared (in the running quillant too)"))
            return *status;
    if (!store->clear()) {
        say(c.err, "quillant: could not remove " + store->path().string());
        return kExitFailure;
    }
    say(c.err, "API key cleared");
    return kExitOK;
}

int keyStatus(ProgramContext& c) {
    linux_platform::JournalLogger log;
    const auto local = localCorrector(c, log);
    auto key = serviceKey(c, local);
    if (!key) {
        say(c.out, "absent");
        return kExitFailure;
    }
    linux_platform::RunLoop loop;
    auto session = serviceSession(loop, std::make_shared<linux_platform::CurlHttpSession>(loop), c, local);
    const backend::BackendClient client{c.serviceURL, *key, 10.0, session};
    backend::ValidationOutcome outcome = backend::ValidationOutcome::unreachable;
    runToEnd(loop, [&]() -> Task<void> { outcome = co_await client.validateToken(); });
    switch (outcome) {
        case backend::ValidationOutcome::valid: say(c.out, "connected"); return kExitOK;
        case backend::ValidationOutcome::invalid: say(c.out, "invalid"); return kExitFailure;
        case backend::ValidationOutcome::unreachable: say(c.out, "offline"); return kExitFailure;
    }
    return kExitFailure;
}

int fix(ProgramContext& c) {
    linux_platform::JournalLogger log;
    const auto local = localCorrector(c, log);
    auto key = serviceKey(c, local);
    if (!key) {
        if (!local) say(c.err, "Enter API key to start (quillant key set)");
        return kExitFailure;
    }
    auto input = readAll(c.in, kMaxStdinBytes);
    const std::size_t cap = app::AppCoordinator::maxSelectionChars;
    if (!input) {
        say(c.err, "Selection too long (more than " + std::to_string(kMaxStdinBytes) + " bytes / " +
                       std::to_string(cap) + ")");
        return kExitFailure;
    }
    if (input->empty()) {
        say(c.err, "Empty selection");
        return kExitFailure;
    }
    const std::size_t length = text::graphemeCount(*input);
    if (length > cap) {
        say(c.err, "Selection too long (" + std::to_string(length) + " / " + std::to_string(cap) + ")");
        return kExitFailure;
    }
    linux_platform::RunLoop loop;
    auto session = serviceSession(loop, std::make_shared<linux_platform::CurlHttpSession>(loop), c, local);
    const backend::BackendClient client{c.serviceURL, *key, 10.0, session};
    std::optional<std::string> corrected;
    std::string failure, note;
    runToEnd(loop, [&]() -> Task<void> {
        try {
            backend::FixResult answer = co_await client.fix(*input);
            corrected = std::move(answer.corrected);
            note = std::move(answer.note);
        } catch (const backend::BackendError& e) {
            failure = e.userMessage();
        } catch (const std::exception& e) {
            failure = std::string("Fix failed: ") + e.what();
        }
    });
    if (!corrected) {
        say(c.err, failure);
        return kExitFailure;
    }
    if (!note.empty()) say(c.err, note);
    std::fwrite(corrected->data(), 1, corrected->size(), c.out);
    std::fflush(c.out);
    return kExitOK;
}

}  // namespace quillant::desktop::cli
