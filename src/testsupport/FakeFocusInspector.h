#pragma once

#include <functional>
#include <optional>

#include "clipboard/FocusInspector.h"

namespace quillant::testing {

// Answers with whatever application the test says has the focus; `onQuery`
// may move the focus as a user would while quillant looks.
class FakeFocusInspector final : public clipboard::FocusInspector {
public:
    std::optional<clipboard::FocusedApplication> focusedApplication() override {
        ++queries;
        if (onQuery) onQuery(queries);
        return focused;
    }

    void focus(clipboard::WindowId window, std::string instance, std::string className) {
        focused = clipboard::FocusedApplication{window, std::move(instance), std::move(className)};
    }

    std::optional<clipboard::FocusedApplication> focused;
    int queries = 0;
    std::function<void(int)> onQuery;
};

}  // namespace quillant::testing
