#include "testsupport/X11TestHarness.h"

#include <chrono>
#include <stdexcept>

namespace quillant::testing {

Xvfb::Xvfb(const std::vector<std::string>& extraArgs) {
    // -displayfd lets the server pick a free display and report it on our pipe (its stdout).
    std::vector<std::string> argv{"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1280x800x24", "-noreset"};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    server_ = Process::start(argv, {}, true);
    auto number = server_->readLine(std::chrono::seconds(20));
    if (!number || number->empty()) throw std::runtime_error("Xvfb did not start");
    display_ = ":" + *number;
}

}  // namespace quillant::testing
