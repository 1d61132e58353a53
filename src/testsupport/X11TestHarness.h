#pragma once

#include <optional>
#include <string>
#include <vector>

#include "testsupport/Process.h"
#include "testsupport/TempDir.h"

namespace quillant::testing {

// An Xvfb server on a display of its own choosing, stopped when destroyed.
class Xvfb {
public:
    // `extraArgs` go to the server, e.g. {"-extension", "XTEST"} to leave one out.
    explicit Xvfb(const std::vector<std::string>& extraArgs = {});
    const std::string& display() const { return display_; }
    std::vector<std::string> env() const { return {"DISPLAY=" + display_}; }

private:
    std::optional<Process> server_;
    std::string display_;
};

// openbox on the display named in `env`, once it manages windows: Chromium
// takes typing and pastes only in a window that a window manager made active.
// Throws when it does not come up.
Process startWindowManager(const std::vector<std::string>& env);

}  // namespace quillant::testing
