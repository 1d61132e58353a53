// quillant-service: a reference text-fixing service for quillant.
#include "runtime/Logger.h"
#include "service/ChosenCorrector.h"
#include "service/Config.h"
#include "service/Dictionaries.h"
#include "service/InstanceLock.h"
#include "service/KeyStore.h"
#include "service/RuleCorrector.h"
#include "service/Service.h"
#include "service/Speller.h"
#include "service/UpstreamCorrector.h"
#include "service/UserCorrections.h"

#include <pthread.h>
#include <signal.h>

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

using namespace quillant;
using namespace quillant::service;

namespace {

constexpr int kUsageError = 2;
constexpr const char* kSampleSentence = "i think teh report is redy and we can send it tomorow";

// Passes on errors only: "Try it" prints its own answer.
class ErrorsOnly final : public Logger {
public:
    explicit ErrorsOnly(Logger& next) : next_(next) {}
    void write(LogLevel level, std::string_view subsystem, std::string_view category, std::string_view message) override {
        if (level == LogLevel::error) next_.write(level, subsystem, category, message);
    }

private:
    Logger& next_;
};

// The offline rules held to a language the user chose.
struct RulesIn final : Corrector {
    RulesIn(RuleCorrector& rules, std::string language) : rules(rules), language(std::move(language)) {}
    std::string correct(std::string_view text) override { return rules.correctIn(text, language); }
    std::string correctIn(std::string_view text, const std::string& chosen) override {
        return rules.correctIn(text, chosen.empty() ? language : chosen);
    }
    RuleCorrector& rules;
    std::string language;
};

// Throws, naming the installed dictionaries, when `language` is not one of them.
ChosenCorrector::OfflineFactory rulesFactory(RuleCorrector& rules, Dictionaries& dictionaries) {
    return [&rules, &dictionaries](const std::string& language) -> std::unique_ptr<Corrector> {
        if (language != "auto" && !dictionaries.has(language)) Speller probe(language);
        return std::make_unique<RulesIn>(rules, language);
    };
}

// What "Try it" shows: the sample corrected as the user's settings choose, or
// the exact reason it cannot be.
int tryCorrections(const ServiceConfig& config) {
    StderrLogger stderrLogger;
    ErrorsOnly logger(stderrLogger);
    try {
        UserCorrections user(*config.userConfigDir, logger);
        auto now = user.current();
        Dictionaries dictionaries;
        RuleCorrector rules(dictionaries, config.language);
        ChosenCorrector chosen(user, rules, config.language, rulesFactory(rules, dictionaries), config.upstream, logger);
        std::string problem;
        auto model = chosen.modelFor(now, problem);
        if (!problem.empty()) throw CorrectionError(400, "no_key", problem);
        std::string corrected = model ? model->tryOut(kSampleSentence) : chosen.offlineFor(now.choice.language).correct(kSampleSentence);
        std::cout << kSampleSentence << "\n" << corrected << "\n";
        return EXIT_SUCCESS;
    } catch (const std::exception& e) {
        std::cout << e.what() << "\n";
        return EXIT_FAILURE;
    }
}

int listModels(const ServiceConfig& config) {
    StderrLogger logger;
    UpstreamOptions options = config.upstream;
    options.baseURL = config.listModelsURL;
    while (!options.baseURL.empty() && options.baseURL.back() == '/') options.baseURL.pop_back();
    options.apiKey.clear();
    bool secure = false;
    if (!httpHost(options.baseURL, secure)) {
        std::cout << "\"" << options.baseURL << "\" is not an http:// or https:// URL\n";
        return EXIT_FAILURE;
    }
    // The provider's key goes only to the hosted model it was saved for.
    if (secure && config.userConfigDir) {
        ErrorsOnly quiet(logger);
        auto now = UserCorrections(*config.userConfigDir, quiet).current();
        if (now.choice.source == CorrectionSource::hostedModel && now.choice.modelURL == options.baseURL)
            options.apiKey = now.key.key;
    }
    RuleCorrector none;
    try {
        UpstreamCorrector upstream(options, none, logger);
        for (const auto& name : upstream.listModels()) std::cout << name << "\n";
        return EXIT_SUCCESS;
    } catch (const std::exception& e) {
        std::cout << e.what() << "\n";
        return EXIT_FAILURE;
    }
}

int serve(const ServiceConfig& config) {
    // Signals are taken by one thread with sigwait; every other thread
    // inherits the blocked mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    StderrLogger logger;
    CategoryLogger log(logger, std::string(kLogSubsystem), "service");
    try {
        // Two quillants may start a corrector at the same moment: one serves,
        // the other leaves quietly.
        InstanceLock lock;
        if (config.socketPath) {
            switch (InstanceLock::acquire(*config.socketPath, std::chrono::seconds(3), lock)) {
                case InstanceLock::Outcome::acquired: break;
                case InstanceLock::Outcome::anotherServes:
                    log.info("another quillant-service already serves " + config.socketPath->string() + "; leaving it");
                    return EXIT_SUCCESS;
                case InstanceLock::Outcome::anotherSilent:
                    log.error("another quillant-service holds " + config.socketPath->string() +
                              ".lock but does not answer");
                    return EXIT_FAILURE;
            }
        }
        KeyStore keys(config.keysFile, logger);
        QuotaTracker quota(config.quota, [] { return WallClock::now(); });
        Dictionaries dictionaries;
        if (config.language != "auto" && !dictionaries.has(config.language))
            Speller probe(config.language);  // throws, naming the installed dictionaries
        RuleCorrector rules(dictionaries, config.language);
        std::unique_ptr<UpstreamCorrector> upstream;
        std::unique_ptr<UserCorrections> user;
        std::unique_ptr<ChosenCorrector> chosen;
        if (config.userConfigDir) {
            user = std::make_unique<UserCorrections>(*config.userConfigDir, logger);
            chosen = std::make_unique<ChosenCorrector>(*user, rules, config.language, rulesFactory(rules, dictionaries), config.upstream, logger);
        } else if (config.corrector == CorrectorKind::upstream) {
            upstream = std::make_unique<UpstreamCorrector>(config.upstream, rules, logger);
        }
        Corrector& corrector = chosen     ? static_cast<Corrector&>(*chosen)
                               : upstream ? static_cast<Corrector&>(*upstream)
                                          : rules;

        Service service(config, keys, quota, corrector, logger);
        service.bind();
        std::string corrector_name = chosen     ? "corrector chosen in " + (*config.userConfigDir / "settings.json").string()
                                     : upstream ? "upstream corrector (model " + config.upstream.model + ")"
                                                : "rule corrector (language " + config.language + ")";
        log.info("listening on " + service.baseURL() + " with the " + corrector_name + ", " +
                 std::to_string(keys.count()) + (keys.count() == 1 ? " key from " : " keys from ") + config.keysFile.string());

        // The dictionary nearly every fix needs loads while the first request
        // is on its way (the service may be started just for it); a request
        // that comes sooner waits for it rather than loading it twice.
        std::thread warmUp([&] {
            auto english = dictionaries.englishNames(config.language);
            dictionaries.get(config.language != "auto" ? config.language : english.empty() ? "" : english[0]);
        });
        std::thread signalWaiter([&] {
            int received = 0;
            sigwait(&signals, &received);
            if (received == SIGINT || received == SIGTERM) log.info("stopping");
            service.stop();
        });
        // Wakes at the idle deadline only, so an idle service costs no wake-ups.
        std::mutex idleMutex;
        std::condition_variable idleEnded;
        bool ended = false;
        std::thread idleWatch;
        if (config.idleExit.count() > 0)
            idleWatch = std::thread([&] {
                std::unique_lock hold(idleMutex);
                for (;;) {
                    const auto deadline = service.lastActivity() + config.idleExit;
                    if (idleEnded.wait_until(hold, deadline, [&] { return ended; })) return;
                    if (std::chrono::steady_clock::now() < service.lastActivity() + config.idleExit) continue;
                    log.info("no request for " + std::to_string(config.idleExit.count()) + " s; stopping");
                    service.stop();
                    return;
                }
            });
        bool clean = service.run();
        warmUp.join();
        // When the service ended by itself, wake the waiter.
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
        signalWaiter.join();
        if (idleWatch.joinable()) {
            {
                std::lock_guard hold(idleMutex);
                ended = true;
            }
            idleEnded.notify_all();
            idleWatch.join();
        }
        if (!clean) {
            log.error("stopped: accepting connections failed");
            return EXIT_FAILURE;
        }
        log.info("stopped");
        return EXIT_SUCCESS;
    } catch (const std::exception& e) {
        log.error(e.what());
        return EXIT_FAILURE;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    Invocation invocation;
    try {
        invocation = parseCommandLine(args, [](const std::string& name) -> std::optional<std::string> {
            const char* value = std::getenv(name.c_str());
            if (!value) return std::nullopt;
            return std::string(value);
        });
    } catch (const ConfigError& e) {
        std::cerr << "quillant-service: " << e.what() << "\nTry 'quillant-service --help'.\n";
        return kUsageError;
    }

    switch (invocation.action) {
        case Action::help:
            std::cout << usageText();
            return EXIT_SUCCESS;
        case Action::version:
            std::cout << "quillant-service " << QUILLANT_SERVICE_VERSION << "\n";
            return EXIT_SUCCESS;
        case Action::addKey:
            try {
                std::string key = KeyStore::addNewKey(invocation.config.keysFile);
                std::cout << key << "\n";
                std::cerr << "quillant-service: added a key to " << invocation.config.keysFile.string() << "\n";
                return EXIT_SUCCESS;
            } catch (const std::exception& e) {
                std::cerr << "quillant-service: " << e.what() << "\n";
                return EXIT_FAILURE;
            }
        case Action::tryCorrections: return tryCorrections(invocation.config);
        case Action::listModels: return listModels(invocation.config);
        case Action::serve:
            break;
    }
    return serve(invocation.config);
}
