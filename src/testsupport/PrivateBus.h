#pragma once

#include <optional>
#include <string>

#include "testsupport/Process.h"
#include "testsupport/TempDir.h"

namespace quillant::testing {

// A session bus of the test's own that activates nothing. Started with the
// machine's own configuration, a bus activates whatever is installed: when a
// mock portal leaves, the real xdg-desktop-portal would take its name.
class PrivateSessionBus {
public:
    PrivateSessionBus();  // throws when the daemon does not start
    const std::string& address() const { return address_; }

private:
    TempDir dir_;
    std::optional<Process> daemon_;
    std::string address_;
};

}  // namespace quillant::testing
