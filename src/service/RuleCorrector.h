#pragma once

#include "service/Corrector.h"
#include "service/TextScan.h"

#include <vector>

namespace quillant::service {

// Offline, deterministic corrections. Each rule leaves @mentions, URLs,
// e-mail addresses and `code` alone, and applying the corrector twice gives
// the same text as applying it once.
class RuleCorrector final : public Corrector {
public:
    std::string correct(std::string_view text) override;

    // The rules one by one, in the order correct() applies them.
    static void removeSpaceBeforePunctuation(std::vector<Token>& tokens);
    static void collapseDoubledSpaces(std::vector<Token>& tokens);
    static void fixMisspellings(std::vector<Token>& tokens);
    static void removeRepeatedWords(std::vector<Token>& tokens);
    static void capitalizeLoneI(std::vector<Token>& tokens);
    static void capitalizeSentenceStarts(std::vector<Token>& tokens);
};

}  // namespace quillant::service
