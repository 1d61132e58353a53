#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace quillant::service {

// A correction that could not be made; becomes an error answer with this
// status and code. The message is shown to the user, so it never holds their text.
class CorrectionError : public std::runtime_error {
public:
    CorrectionError(int status, std::string code, const std::string& message)
        : std::runtime_error(message), status_(status), code_(std::move(code)) {}
    int status() const { return status_; }
    const std::string& code() const { return code_; }

private:
    int status_;
    std::string code_;
};

// A correction and, when it did not come about as chosen (a model's failure
// answered offline), a note for the user saying so.
struct Correction {
    std::string text;
    std::string note;
};

// Turns a text into its corrected form. Called from several request threads at once.
class Corrector {
public:
    virtual ~Corrector() = default;
    // Throws CorrectionError.
    virtual std::string correct(std::string_view text) = 0;
    // The same in a chosen language ("auto" or a dictionary's name); those
    // that cannot choose correct as they always do.
    virtual std::string correctIn(std::string_view text, const std::string& /*language*/) { return correct(text); }
    virtual Correction correctNoted(std::string_view text) { return {correctIn(text, {}), {}}; }
    // Ends work in progress quickly; later calls may fail.
    virtual void shutdown() {}
};

}  // namespace quillant::service
