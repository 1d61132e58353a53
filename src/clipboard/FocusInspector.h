#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillant::clipboard {

// A window of the windowing system, as an opaque number (an X window id on X11).
using WindowId = std::uint64_t;

// The application whose window has the keyboard focus: its top-level window
// and the two names it gives itself (X11's WM_CLASS: instance and class).
struct FocusedApplication {
    WindowId window = 0;
    std::string instanceName;  // e.g. "xterm"
    std::string className;     // e.g. "XTerm"

    // The name shown to the user: the class name, else the instance name.
    std::string displayName() const { return className.empty() ? instanceName : className; }
    bool operator==(const FocusedApplication&) const = default;
};

// Which application the synthetic chords would reach. Realised over X11 on
// Linux and by a scriptable substitute in tests. Main thread only.
class FocusInspector {
public:
    virtual ~FocusInspector() = default;
    // None when no window has the focus or it cannot be found out.
    virtual std::optional<FocusedApplication> focusedApplication() = 0;
};

}  // namespace quillant::clipboard
