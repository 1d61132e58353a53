#include <gtest/gtest.h>

#include "ui/MenuBarView.h"

using quillant::ui::panelGeometry;

TEST(PanelPlacement, AtTheIconWhenKnownElseAtThePointerAlwaysOnScreen) {
    const QRect screen(0, 0, 1280, 800);
    const QSize size(300, 200);
    struct Case {
        const char* name;
        QRect icon;
        QPoint pointer;
        QRect screen;
        QPoint topLeft;
    };
    const Case cases[] = {
        {"under an icon in a top panel", QRect(600, 0, 22, 22), {0, 0}, screen, {460, 22}},
        {"above an icon in a bottom panel", QRect(600, 778, 22, 22), {0, 0}, screen, {460, 578}},
        {"icon in the top-right corner: clamped left", QRect(1250, 0, 22, 22), {0, 0}, screen, {980, 22}},
        {"icon in the top-left corner: clamped right", QRect(2, 0, 22, 22), {0, 0}, screen, {0, 22}},
        // Over StatusNotifierItem the geometry is empty: the pointer decides.
        {"no geometry: under the pointer", QRect(), {640, 10}, screen, {490, 11}},
        {"no geometry, zero-sized rect at the origin", QRect(0, 0, 0, 0), {640, 10}, screen, {490, 11}},
        {"no geometry, pointer at the bottom: above it", QRect(), {640, 795}, screen, {490, 595}},
        {"no geometry, pointer in the bottom-right corner", QRect(), {1279, 799}, screen, {980, 599}},
        {"second screen to the right", QRect(1900, 0, 24, 24), {0, 0}, QRect(1280, 0, 1920, 1080), {1761, 24}},
        {"icon off every screen is pulled back", QRect(-50, -50, 22, 22), {0, 0}, screen, {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QRect placed = panelGeometry(size, c.icon, c.pointer, c.screen);
        EXPECT_EQ(placed.topLeft(), c.topLeft);
        EXPECT_EQ(placed.size(), size);
        EXPECT_TRUE(c.screen.contains(placed));
    }
}

TEST(PanelPlacement, APanelTallerThanTheScreenStartsAtItsTop) {
    const QRect placed = panelGeometry(QSize(300, 900), QRect(), {100, 400}, QRect(0, 0, 1280, 800));
    EXPECT_EQ(placed.top(), 0);
}
