#pragma once

#include "runtime/Logger.h"
#include "service/Config.h"
#include "service/Corrector.h"

#include <atomic>

namespace quillant::service {

// Asks an OpenAI-compatible chat-completions endpoint (Ollama, llama.cpp's
// server, a hosted API) for the corrected text. When the model's answer loses
// or alters what no corrector may touch (an @mention, #channel, URL, e-mail
// address, path, flag, code or short quotation), the fallback corrector's
// answer is used instead.
class UpstreamCorrector final : public Corrector {
public:
    UpstreamCorrector(UpstreamOptions options, Corrector& fallback, Logger& log);
    ~UpstreamCorrector() override;

    std::string correct(std::string_view text) override;
    void shutdown() override;

    static const char* instructions();

private:
    std::string ask(std::string_view text);  // the model's raw answer

    UpstreamOptions options_;
    Corrector& fallback_;
    CategoryLogger log_;
    std::atomic<bool> stopping_{false};
};

// Tidies a model's answer: drops a leading <think> block and a code fence
// around the whole answer (unless the text had one), and gives the answer the
// text's own leading and trailing white space.
std::string tidyModelAnswer(std::string_view answer, std::string_view original);

}  // namespace quillant::service
