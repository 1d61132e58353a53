#pragma once

#include "runtime/Logger.h"
#include "service/Config.h"
#include "service/Corrector.h"
#include "service/UserCorrections.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace quillant::service {

class UpstreamCorrector;

// The corrector the user chose in their settings, looked up again for every
// text: the offline one in the chosen language, or a model (falling back to
// the offline one, with a note, when the model fails).
class ChosenCorrector final : public Corrector {
public:
    // Makes the offline corrector for a dictionary other than the default's;
    // throws when it is not installed.
    using OfflineFactory = std::function<std::unique_ptr<Corrector>(const std::string& language)>;

    // `offline` answers for "auto" and the service's own language; `base`
    // gives what the user's settings do not (the trusted authorities).
    ChosenCorrector(UserCorrections& user, Corrector& offline, std::string offlineLanguage, OfflineFactory factory,
                    UpstreamOptions base, Logger& log);
    ~ChosenCorrector() override;

    std::string correct(std::string_view text) override;
    Correction correctNoted(std::string_view text) override;
    // The offline rules in that language, whatever the user chose.
    std::string correctIn(std::string_view text, const std::string& language) override {
        return offlineFor(language).correct(text);
    }
    void shutdown() override;

    // The offline corrector for a language ("auto": the default).
    Corrector& offlineFor(const std::string& language);
    // The model corrector for the current choice, or the reason there is none
    // (no key, a refused key file); null for the offline source.
    std::shared_ptr<UpstreamCorrector> modelFor(const UserCorrections::Snapshot& now, std::string& problem);

private:
    UserCorrections& user_;
    Corrector& offline_;
    std::string offlineLanguage_;
    OfflineFactory factory_;
    UpstreamOptions base_;
    Logger& logger_;
    CategoryLogger log_;
    std::mutex mutex_;
    std::map<std::string, std::unique_ptr<Corrector>> languages_;  // null: not installed
    std::shared_ptr<UpstreamCorrector> model_;
    bool stopping_ = false;
};

}  // namespace quillant::service
