#pragma once

namespace quillant::app {

// May this process post synthetic keyboard events? With `prompt`, also ask
// the user (or tell them) how to allow it.
class AccessibilityGate {
public:
    virtual ~AccessibilityGate() = default;
    virtual bool isProcessTrusted(bool prompt) = 0;
};

}  // namespace quillant::app
