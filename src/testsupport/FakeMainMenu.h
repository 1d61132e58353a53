#pragma once

#include "hotkey/MainMenuSource.h"

namespace quillant::testing {

// Answers the menu tree the test puts in `menu` (none: no main menu).
class FakeMainMenu final : public hotkey::MainMenuSource {
public:
    std::optional<hotkey::Menu> mainMenu() override { return menu; }

    std::optional<hotkey::Menu> menu;
};

}  // namespace quillant::testing
