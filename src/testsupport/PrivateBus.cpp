#include "testsupport/PrivateBus.h"

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace quillant::testing {

PrivateSessionBus::PrivateSessionBus() {
    std::filesystem::create_directory(dir_ / "services");  // empty: nothing to activate
    writeFile(dir_ / "bus.conf",
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n"
              "  <type>session</type>\n"
              "  <listen>unix:dir=" + dir_.path().string() + "</listen>\n"
              "  <servicedir>" + (dir_ / "services").string() + "</servicedir>\n"
              "  <auth>EXTERNAL</auth>\n"
              "  <policy context=\"default\">\n"
              "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
              "    <allow eavesdrop=\"true\"/>\n"
              "    <allow own=\"*\"/>\n"
              "  </policy>\n"
              "</busconfig>\n");
    daemon_ = Process::start({"dbus-daemon", "--config-file=" + (dir_ / "bus.conf").string(), "--nofork",
                              "--print-address=1"},
                             {}, true);
    auto line = daemon_->readLine(std::chrono::seconds(20));
    if (!line || line->empty()) throw std::runtime_error("dbus-daemon did not start");
    address_ = *line;
}

}  // namespace quillant::testing
