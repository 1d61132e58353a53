#include "service/UpstreamCorrector.h"

#include "service/TextScan.h"
#include "text/Text.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <memory>

namespace quillant::service {

namespace {

constexpr std::size_t kMaxAnswerBytes = 4 * 1024 * 1024;

struct Transfer {
    std::string body;
    bool overflow = false;
    const std::atomic<bool>* stopping = nullptr;
};

size_t onData(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    std::size_t n = size * count;
    if (t->body.size() + n > kMaxAnswerBytes) {
        t->overflow = true;
        return 0;
    }
    t->body.append(data, n);
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(user)->stopping->load() ? 1 : 0;
}

std::string seconds(std::chrono::milliseconds d) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", double(d.count()) / 1000.0);
    return buffer;
}

}  // namespace

UpstreamCorrector::UpstreamCorrector(UpstreamOptions options, Corrector& fallback, Logger& log)
    : options_(std::move(options)), fallback_(fallback), log_(log, std::string(kLogSubsystem), "service") {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

UpstreamCorrector::~UpstreamCorrector() { curl_global_cleanup(); }

void UpstreamCorrector::shutdown() { stopping_ = true; }

const char* UpstreamCorrector::instructions() {
    return "You correct the grammar, spelling and punctuation of the user's text. "
           "Reply with the corrected text only: no preamble, no explanation, no quotation marks around it, "
           "no code fences. Keep the text's language, meaning, tone, line breaks and formatting. "
           "Leave every @mention (such as @Name or @Jane Doe), #channel, URL, e-mail address, file path, "
           "command-line flag, code and quoted word exactly as written. "
           "If the text needs no change, reply with it unchanged.";
}

std::string UpstreamCorrector::ask(std::string_view text) {
    nlohmann::json request = {
        {"model", options_.model},
        {"messages", {{{"role", "system"}, {"content", instructions()}}, {{"role", "user"}, {"content", std::string(text)}}}},
        {"temperature", 0},
        {"stream", false},
    };
    std::string payload = request.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string url = options_.baseURL + "/chat/completions";

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl) throw CorrectionError(500, "internal_error", "Could not start a request to the correction model");
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
    headers = curl_slist_append(headers, "Accept: application/json");
    if (!options_.apiKey.empty()) headers = curl_slist_append(headers, ("Authorization: Bearer " + options_.apiKey).c_str());
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerList(headers, curl_slist_free_all);

    Transfer transfer;
    transfer.stopping = &stopping_;
    CURL* h = curl.get();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, payload.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(payload.size()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, long(options_.timeout.count()));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, onData);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    CURLcode rc = curl_easy_perform(h);
    if (rc == CURLE_OPERATION_TIMEDOUT)
        throw CorrectionError(504, "upstream_timeout",
                              "The correction model did not answer within " + seconds(options_.timeout) + " s");
    if (rc == CURLE_ABORTED_BY_CALLBACK) throw CorrectionError(503, "shutting_down", "The service is shutting down");
    if (rc == CURLE_WRITE_ERROR && transfer.overflow)
        throw CorrectionError(502, "upstream_bad_answer", "The correction model's answer was too large");
    if (rc != CURLE_OK)
        throw CorrectionError(502, "upstream_unreachable",
                              std::string("The correction model could not be reached: ") + curl_easy_strerror(rc));

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200)
        throw CorrectionError(502, "upstream_error", "The correction model answered HTTP " + std::to_string(status));

    auto answer = nlohmann::json::parse(transfer.body, nullptr, false);
    const nlohmann::json* content = nullptr;
    if (answer.is_object() && answer.contains("choices") && answer["choices"].is_array() && !answer["choices"].empty()) {
        const auto& choice = answer["choices"][0];
        if (choice.is_object() && choice.contains("message") && choice["message"].is_object() &&
            choice["message"].contains("content") && choice["message"]["content"].is_string())
            content = &choice["message"]["content"];
    }
    if (!content) throw CorrectionError(502, "upstream_bad_answer", "The correction model's answer could not be read");
    return content->get<std::string>();
}

std::string UpstreamCorrector::correct(std::string_view text) {
    if (text::trimmed(text).empty()) return std::string(text);
    std::string corrected = tidyModelAnswer(ask(text), text);
    if (text::trimmed(corrected).empty())
        throw CorrectionError(502, "upstream_bad_answer", "The correction model gave an empty answer");
    const std::vector<ProtectedSpan> kept = protectedSpans(text);
    if (const ProtectedSpan* altered = firstAlteredSpan(kept, corrected)) {
        log_.error(std::string("the model's answer changed ") + altered->what + "; using the rule corrector for this text");
        return fallback_.correct(text);
    }
    return corrected;
}

std::string tidyModelAnswer(std::string_view answer, std::string_view original) {
    std::string a = text::trimmed(answer);
    if (a.rfind("<think>", 0) == 0) {
        auto close = a.find("</think>");
        if (close != std::string::npos) a = text::trimmed(std::string_view(a).substr(close + 8));
    }
    std::string core = text::trimmed(original);
    if (a.rfind("```", 0) == 0 && core.rfind("```", 0) != 0 && a.size() >= 6 && a.compare(a.size() - 3, 3, "```") == 0) {
        auto firstBreak = a.find('\n');
        if (firstBreak != std::string::npos && firstBreak < a.size() - 3)
            a = text::trimmed(std::string_view(a).substr(firstBreak + 1, a.size() - 3 - firstBreak - 1));
    }
    if (core.empty()) return std::string(original);
    std::size_t lead = original.find(core);
    std::string_view leading = original.substr(0, lead);
    std::string_view trailing = original.substr(lead + core.size());
    return std::string(leading) + a + std::string(trailing);
}

}  // namespace quillant::service
