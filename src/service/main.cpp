// quillant-service: a reference text-fixing service for quillant.
#include "runtime/Logger.h"
#include "service/ChosenCorrector.h"
#include "service/Config.h"
#include "service/KeyStore.h"
#include "service/RuleCorrector.h"
#include "service/Service.h"
#include "service/Speller.h"
#include "service/UpstreamCorrector.h"
#include "service/UserCorrections.h"

#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
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

// A dictionary and the rules over it, for a language the user chose.
struct OwnedRules final : Corrector {
    explicit OwnedRules(const std::string& language) : speller(language), rules(speller) {}
    std::string correct(std::string_view text) override { return rules.correct(text); }
    Speller speller;
    RuleCorrector rules;
};

ChosenCorrector::OfflineFactory rulesFactory() {
    return [](const std::string& language) -> std::unique_ptr<Corrector> { return std::make_unique<OwnedRules>(language); };
}

// What "Try it" shows: the sample corrected as the user's settings choose, or
// the exact reason it cannot be.
int tryCorrections(const ServiceConfig& config) {
    StderrLogger stderrLogger;
    ErrorsOnly logger(stderrLogger);
    try {
        UserCorrections user(*config.userConfigDir, logger);
        auto now = user.current();
        Speller speller(config.language);
        RuleCorrector rules(speller);
        ChosenCorrector chosen(user, rules, config.language, rulesFactory(), config.upstream, logger);
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
        KeyStore keys(config.keysFile, logger);
        QuotaTracker quota(config.quota, [] { return WallClock::now(); });
        Speller speller(config.language);
        RuleCorrector rules(speller);
        std::unique_ptr<UpstreamCorrector> upstream;
        std::unique_ptr<UserCorrections> user;
        std::unique_ptr<ChosenCorrector> chosen;
        if (config.userConfigDir) {
            user = std::make_unique<UserCorrections>(*config.userConfigDir, logger);
            chosen = std::make_unique<ChosenCorrector>(*user, rules, config.language, rulesFactory(), config.upstream, logger);
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
                                                : "rule corrector (dictionary " + speller.dictionaryFile().string() + ")";
        log.info("listening on " + service.baseURL() + " with the " + corrector_name + ", " +
                 std::to_string(keys.count()) + (keys.count() == 1 ? " key from " : " keys from ") + config.keysFile.string());

        std::thread signalWaiter([&] {
            int received = 0;
            sigwait(&signals, &received);
            if (received == SIGINT || received == SIGTERM) log.info("stopping");
            service.stop();
        });
        bool clean = service.run();
        // When the service ended by itself, wake the waiter.
        pthread_kill(signalWaiter.native_handle(), SIGTERM);
        signalWaiter.join();
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
