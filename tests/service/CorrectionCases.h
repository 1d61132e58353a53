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

inline void expectCorrectedOnce(const std::vector<CorrectionCase>& cases) {
    static Dictionaries dictionaries;
    RuleCorrector corrector(dictionaries);
    for (const auto& c : cases) {
        const std::string expected = c.expected ? c.expected : c.input;
        const std::string once = corrector.correctIn(c.input, "auto");
        EXPECT_EQ(once, expected) << c.name;
        EXPECT_EQ(corrector.correctIn(once, "auto"), once) << c.name << " (second pass)";
    }
}

}  // namespace quillant::service::testing
