#include "service/ChosenCorrector.h"

#include "service/UpstreamCorrector.h"
#include "text/Text.h"

namespace quillant::service {

ChosenCorrector::ChosenCorrector(UserCorrections& user, Corrector& offline, std::string offlineLanguage,
                                 OfflineFactory factory, UpstreamOptions base, Logger& log)
    : user_(user),
      offline_(offline),
      offlineLanguage_(std::move(offlineLanguage)),
      factory_(std::move(factory)),
      base_(std::move(base)),
      logger_(log),
      log_(log, std::string(kLogSubsystem), "service") {}

ChosenCorrector::~ChosenCorrector() = default;

Corrector& ChosenCorrector::offlineFor(const std::string& language) {
    if (language == "auto" || language == offlineLanguage_ || !factory_) return offline_;
    std::lock_guard lock(mutex_);
    auto it = languages_.find(language);
    if (it == languages_.end()) {
        std::unique_ptr<Corrector> made;
        try {
            made = factory_(language);
        } catch (const std::exception& e) {
            log_.error("the chosen language " + language + " is not used: " + e.what());
        }
        it = languages_.emplace(language, std::move(made)).first;
    }
    return it->second ? *it->second : offline_;
}

std::shared_ptr<UpstreamCorrector> ChosenCorrector::modelFor(const UserCorrections::Snapshot& now, std::string& problem) {
    const auto& c = now.choice;
    if (c.source == CorrectionSource::offline) return nullptr;
    UpstreamOptions wanted = base_;
    wanted.baseURL = c.modelURL;
    wanted.model = c.modelName;
    wanted.timeout = c.timeout;
    wanted.apiKey.clear();
    if (c.source == CorrectionSource::hostedModel) {
        if (!now.key.problem.empty()) {
            problem = now.key.problem;
            return nullptr;
        }
        if (now.key.key.empty()) {
            problem = "no key is set for the model at " + c.modelURL;
            return nullptr;
        }
        wanted.apiKey = now.key.key;
    }
    std::lock_guard lock(mutex_);
    if (!model_ || !(model_->options() == wanted)) model_ = std::make_shared<UpstreamCorrector>(wanted, offline_, logger_);
    if (stopping_) model_->shutdown();
    return model_;
}

Correction ChosenCorrector::correctNoted(std::string_view text) {
    auto now = user_.current();
    Corrector& offline = offlineFor(now.choice.language);
    std::string problem;
    auto model = modelFor(now, problem);
    if (!problem.empty()) {
        log_.error(problem + "; corrected offline");
        return {offline.correct(text), "Corrected offline — " + problem};
    }
    if (!model) return {offline.correct(text), {}};
    if (&offline == &offline_) return model->correctNoted(text);
    // The model's fallback is the default dictionary; the user chose another.
    Correction c = model->correctNoted(text);
    if (!c.note.empty()) c.text = offline.correct(text);
    return c;
}

std::string ChosenCorrector::correct(std::string_view text) { return correctNoted(text).text; }

void ChosenCorrector::shutdown() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    if (model_) model_->shutdown();
    offline_.shutdown();
}

}  // namespace quillant::service
