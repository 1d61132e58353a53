#include "testsupport/X11TestHarness.h"

#include <chrono>
#include <stdexcept>
#include <thread>

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

Process startWindowManager(const std::vector<std::string>& env) {
    auto manager = Process::start({"openbox", "--sm-disable"}, env, true, true);
    for (int i = 0; i < 100; ++i) {
        auto probe = Process::start({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, env, true);
        const bool managed = probe.readAll(std::chrono::seconds(5)).find("window id") != std::string::npos;
        probe.wait(std::chrono::seconds(5));
        if (managed) return manager;
        if (!manager.running()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    throw std::runtime_error("openbox did not start");
}

}  // namespace quillant::testing
