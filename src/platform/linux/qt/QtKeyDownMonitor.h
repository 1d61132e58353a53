#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

#include "hotkey/KeyDownMonitor.h"

class QObject;
class QKeyEvent;

namespace quillant::linux_platform {

// Key presses delivered to this application's own windows, seen through an
// event filter on the application object before any widget handles them.
// The key comes from the event's keysym (what Qt on X11 reports as the
// native virtual key), or from Qt's key where there is none.
// While any handler is installed, the application's own key handling is held
// off: shortcuts do not fire (their presses reach the handlers as key-downs),
// releases and presses of a modifier alone are swallowed without being
// reported, and only presses a handler lets through reach the widgets.
class QtKeyDownMonitor final : public hotkey::KeyDownMonitor {
public:
    // A key code no key has, for presses of keys outside our key table.
    static constexpr std::uint16_t kUnknownKeyCode = 0xFFFF;

    QtKeyDownMonitor();
    ~QtKeyDownMonitor() override;
    QtKeyDownMonitor(const QtKeyDownMonitor&) = delete;
    QtKeyDownMonitor& operator=(const QtKeyDownMonitor&) = delete;

    hotkey::KeyDownMonitorToken addLocalMonitor(Handler handler) override;
    void removeMonitor(hotkey::KeyDownMonitorToken token) override;

    // The key code and flags a press translates to.
    static std::uint16_t keyCodeOf(const QKeyEvent& event);
    static hotkey::ModifierFlags flagsOf(const QKeyEvent& event);

private:
    class Filter;
    // True to let the event through.
    bool deliver(const QKeyEvent& event);

    std::unique_ptr<Filter> filter_;
    std::map<std::uint64_t, std::shared_ptr<Handler>> handlers_;
    std::uint64_t nextToken_ = 1;
};

}  // namespace quillant::linux_platform
