// quillant doctor: what this session offers, and what quillant uses there.
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "desktop/cli/Commands.h"
#include "platform/linux/PortalProbe.h"
#include "platform/linux/SessionPlan.h"
#include "platform/linux/wayland/SwayFocusInspector.h"
#include "platform/linux/wayland/WaylandConnection.h"

namespace quillant::desktop::cli {

namespace {

void line(std::FILE* f, const std::string& key, const std::string& value) {
    std::fprintf(f, "%-42s %s\n", (key + ":").c_str(), value.c_str());
}

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value && *value ? value : "";
}

std::string orNotSet(const std::string& value) { return value.empty() ? "(not set)" : value; }

}  // namespace

int doctor(ProgramContext& c) {
    using namespace linux_platform;
    std::FILE* out = c.out;
    const std::string display = c.x11Display ? c.x11Display : "";
    const std::string wayland = c.waylandDisplay ? c.waylandDisplay : "";
    SessionFacts facts;
    facts.desktop = variable("XDG_CURRENT_DESKTOP");
    {
        std::error_code error;
        const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
        if (!error) facts.triggerCommand = triggerCommandFor(self, variable("PATH"));
    }

    std::fputs("This session\n", out);
    line(out, "  session type", orNotSet(variable("XDG_SESSION_TYPE")));
    line(out, "  desktop", orNotSet(variable("XDG_CURRENT_DESKTOP")));
    facts.kde = variable("XDG_CURRENT_DESKTOP").find("KDE") != std::string::npos;
    line(out, "  WAYLAND_DISPLAY", orNotSet(wayland));
    line(out, "  DISPLAY", orNotSet(display));

    if (!wayland.empty()) {
        std::string error;
        if (auto globals = probeWaylandGlobals(wayland, error)) {
            facts.wayland = true;
            const WaylandOffer offer = waylandOffer(*globals);
            facts.seat = offer.seat;
            facts.dataControl = offer.dataControl;
            facts.virtualKeyboard = offer.virtualKeyboard;
            for (const char* name : {kExtDataControl, kWlrDataControl, kVirtualKeyboard, "wl_seat"}) {
                std::string value = "not offered";
                for (const auto& g : *globals)
                    if (g.interface == name) value = "version " + std::to_string(g.version);
                line(out, std::string("  Wayland ") + name, value);
            }
        } else {
            line(out, "  Wayland compositor", "does not answer: " + error);
        }
    }

    if (const std::string sway = variable("SWAYSOCK"); !sway.empty()) {
        facts.swayIpc = SwayFocusInspector::reachable(sway);
        line(out, "  sway IPC", facts.swayIpc ? "answers" : "does not answer");
    }

    if (!display.empty()) {
        xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
        facts.x11 = xcb_connection_has_error(connection) == 0;
        if (facts.x11) {
            const xcb_query_extension_reply_t* ext = xcb_get_extension_data(connection, &xcb_test_id);
            facts.xtest = ext && ext->present;
        }
        xcb_disconnect(connection);
        line(out, "  X display", facts.x11 ? (facts.xtest ? "answers, with XTest" : "answers, without XTest")
                                           : "does not answer");
    }

    const PortalFindings portals = probePortals(
        {"org.freedesktop.portal.GlobalShortcuts", "org.freedesktop.portal.RemoteDesktop"}, std::chrono::seconds(3));
    if (!portals.bus || !portals.portal) {
        line(out, "  desktop portal", portals.problem);
    } else {
        for (const auto& i : portals.interfaces) {
            std::string value = i.version ? "version " + std::to_string(*i.version) : "not offered";
            if (i.deviceTypes) value += (*i.deviceTypes & 1) ? ", with a keyboard" : ", without a keyboard";
            line(out, "  portal " + i.name.substr(std::string("org.freedesktop.portal.").size()), value);
            if (!i.version) continue;
            if (i.name == "org.freedesktop.portal.GlobalShortcuts") facts.portalShortcuts = true;
            // Without the property an old portal is taken at its word, as the agent does.
            if (i.name == "org.freedesktop.portal.RemoteDesktop") {
                facts.portalKeyboard = !i.deviceTypes || (*i.deviceTypes & 1);
                facts.portalKeyboardVersion = *i.version;
            }
        }
    }

    const SessionPlan plan = planSession(facts);
    std::fputs("\nquillant uses\n", out);
    line(out, "  hotkey", describeHotkey(plan, facts));
    line(out, "  keystrokes", describeKeystrokes(plan, facts));
    line(out, "  clipboard", describeClipboard(plan, facts));
    line(out, "  focused application", describeFocus(plan));
    std::fflush(out);
    return plan.usable() ? kExitOK : kExitFailure;
}

}  // namespace quillant::desktop::cli
