#pragma once

#include <vector>

#include "app/AccessibilityGate.h"

namespace quillant::testing {

class FakeAccessibilityGate final : public app::AccessibilityGate {
public:
    bool isProcessTrusted(bool prompt) override {
        calls.push_back(prompt);
        return trusted;
    }
    bool trusted = true;
    std::vector<bool> calls;  // the prompt flag of each call
};

}  // namespace quillant::testing
