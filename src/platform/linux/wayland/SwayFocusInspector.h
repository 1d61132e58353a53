#pragma once

#include <optional>
#include <string>

#include "clipboard/FocusInspector.h"

namespace quillant::linux_platform {

// The focused window on sway, from its IPC (the i3 protocol on $SWAYSOCK):
// Wayland itself tells no client which window has the focus, but sway's tree
// does. A native window is named by its app_id (both names), an XWayland
// window by its WM_CLASS; the window id is sway's node id. Each question is
// one short exchange, bounded in time and size.
class SwayFocusInspector final : public clipboard::FocusInspector {
public:
    explicit SwayFocusInspector(std::string socketPath);
    std::optional<clipboard::FocusedApplication> focusedApplication() override;

    // Whether sway answers on `socketPath` now.
    static bool reachable(const std::string& socketPath);

private:
    std::string socketPath_;
};

// The focused view of a sway tree (the JSON of GET_TREE); none when the focus
// is on no window (an empty workspace) or the tree cannot be read.
std::optional<clipboard::FocusedApplication> focusedViewInTree(const std::string& treeJson);

}  // namespace quillant::linux_platform
