#pragma once

#include "runtime/Logger.h"
#include "service/Config.h"
#include "service/Corrector.h"

#include <atomic>
#include <vector>

namespace quillant::service {

// Asks an OpenAI-compatible chat-completions endpoint (Ollama, llama.cpp's
// server, a hosted API) for the corrected text. The text goes as delimited
// data under instructions to correct it, never to follow it. Whenever the
// model cannot give a usable correction (unreachable, too slow, a refused key,
// an unreadable answer, an answer that alters what no corrector may touch or
// that is no correction of the text), the fallback corrector's answer is used
// and the note says why.
class UpstreamCorrector final : public Corrector {
public:
    UpstreamCorrector(UpstreamOptions options, Corrector& fallback, Logger& log);
    ~UpstreamCorrector() override;

    std::string correct(std::string_view text) override;
    Correction correctNoted(std::string_view text) override;
    void shutdown() override;

    // The model's own correction, or CorrectionError with the exact reason
    // ("The model at … refused the key"): what "Try it" shows.
    std::string tryOut(std::string_view text);

    // The names the server lists at GET <base>/models. Throws CorrectionError
    // when it cannot be asked or lists nothing usable.
    std::vector<std::string> listModels();

    const UpstreamOptions& options() const { return options_; }
    static const char* instructions();
    // The user message: the text between two marker lines made for this request.
    static std::string delimitedText(std::string_view text, std::string_view marker);

private:
    struct Reply {
        long status = 0;
        std::string body;
    };
    Reply perform(const std::string& url, const std::string* payload);
    std::string ask(std::string_view text);  // the model's raw answer
    std::string checkedAnswer(std::string_view text);
    std::string where() const;  // "The model at <url>"

    UpstreamOptions options_;
    bool secure_ = false;
    Corrector& fallback_;
    CategoryLogger log_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> toldKeyWithheld_{false};
};

// Tidies a model's answer: drops a leading <think> block, echoed marker lines
// and a code fence around the whole answer (unless the text had one), and
// gives the answer the text's own leading and trailing white space.
std::string tidyModelAnswer(std::string_view answer, std::string_view original);

// Why an answer is no plausible correction of the text (a length far from
// the text's, more sentences or lines than it had); empty when it is one.
std::string implausibility(std::string_view original, std::string_view answer);

}  // namespace quillant::service
