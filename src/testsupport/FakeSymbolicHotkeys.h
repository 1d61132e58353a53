#pragma once

#include "hotkey/SymbolicHotkeySource.h"

namespace quillant::testing {

// Answers whatever list the test puts in `list`.
class FakeSymbolicHotkeys final : public hotkey::SymbolicHotkeySource {
public:
    hotkey::SymbolicHotkeyList copySymbolicHotKeys() override {
        ++calls;
        return list;
    }

    hotkey::SymbolicHotkeyList list{0, std::vector<hotkey::DefaultsDictionary>{}};
    int calls = 0;
};

}  // namespace quillant::testing
