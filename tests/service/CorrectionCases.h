#pragma once

// Rows of text for the rule corrector on the installed dictionaries: each is
// corrected once as expected, and a second correction must not change it.
#include "service/Dictionaries.h"
#include "service/RuleCorrector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillant::service::testing {

struct CorrectionCase {
    const char* name;
    const char* input;
    const char* expected;  // nullptr: unchanged
};

// A row without a name, told by its text.
struct TextCase {
    const char* input;
    const char* expected;  // nullptr: unchanged
};

template <typename Row>
void expectRowsCorrectedOnce(const std::vector<Row>& cases) {
    static Dictionaries dictionaries;
    RuleCorrector corrector(dictionaries);
    for (const auto& c : cases) {
        const char* label = c.input;
        if constexpr (requires { c.name; }) label = c.name;
        const std::string expected = c.expected ? c.expected : c.input;
        const std::string once = corrector.correctIn(c.input, "auto");
        EXPECT_EQ(once, expected) << label;
        EXPECT_EQ(corrector.correctIn(once, "auto"), once) << label << " (second pass)";
    }
}

inline void expectCorrectedOnce(const std::vector<CorrectionCase>& cases) { expectRowsCorrectedOnce(cases); }
inline void expectCorrectedOnce(const std::vector<TextCase>& cases) { expectRowsCorrectedOnce(cases); }

}  // namespace quillant::service::testing
