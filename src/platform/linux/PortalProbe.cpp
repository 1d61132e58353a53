#include "platform/linux/PortalProbe.h"

#include <systemd/sd-bus.h>

#include <cstring>

namespace quillant::linux_platform {

PortalFindings probePortals(const std::vector<std::string>& interfaces, std::chrono::milliseconds bound) {
    PortalFindings out;
    sd_bus* bus = nullptr;
    if (int r = sd_bus_open_user(&bus); r < 0) {
        out.problem = std::string("no session bus (") + std::strerror(-r) + ")";
        return out;
    }
    out.bus = true;
    sd_bus_set_method_call_timeout(bus, std::uint64_t(bound.count()) * 1000);
    out.portal = true;
    for (const auto& name : interfaces) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        std::uint32_t version = 0;
        const int r = sd_bus_get_property_trivial(bus, "org.freedesktop.portal.Desktop",
                                                  "/org/freedesktop/portal/desktop", name.c_str(), "version", &error,
                                                  'u', &version);
        PortalInterface found{name, std::nullopt};
        if (r >= 0) {
            found.version = version;
            if (name == "org.freedesktop.portal.RemoteDesktop") {
                sd_bus_error typesError = SD_BUS_ERROR_NULL;
                std::uint32_t types = 0;
                if (sd_bus_get_property_trivial(bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                                name.c_str(), "AvailableDeviceTypes", &typesError, 'u', &types) >= 0)
                    found.deviceTypes = types;
                sd_bus_error_free(&typesError);
            }
        } else if (sd_bus_error_has_names(&error, SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER,
                                          SD_BUS_ERROR_NO_REPLY, SD_BUS_ERROR_TIMEOUT, SD_BUS_ERROR_DISCONNECTED)) {
            out.portal = false;
            out.problem = std::string("the desktop portal does not answer (") +
                          (error.message ? error.message : std::strerror(-r)) + ")";
        }
        sd_bus_error_free(&error);
        out.interfaces.push_back(found);
        if (!out.portal) break;
    }
    sd_bus_flush_close_unref(bus);
    return out;
}

}  // namespace quillant::linux_platform
