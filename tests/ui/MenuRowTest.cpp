#include <QEnterEvent>
#include <QTest>

#include "PanelHarness.h"

using namespace quillant;
using namespace quillant::testing;

TEST(MenuItemRow, FillsAndColoursByHoverAndPress) {
    widgetApp();
    QWidget window;
    auto* row = ui::MenuItemButtonStyle::makeRow("Quit quillant", &window);
    window.resize(300, 40);
    row->setGeometry(0, 0, 300, 24);
    window.show();
    QColor accent = ui::colours::accent(*row);
    QColor pressedFill = accent;
    pressedFill.setAlphaF(0.75f);
    struct Case {
        const char* name;
        bool hovered;
        bool pressed;
        QColor fill;
        QColor label;
    };
    const Case cases[] = {
        {"idle", false, false, Qt::transparent, ui::colours::primaryText(*row)},
        {"hovered", true, false, accent, Qt::white},
        {"pressed under the pointer", true, true, pressedFill, Qt::white},
        // Activated from the keyboard: pressed without the pointer on it.
        {"pressed, not hovered", false, true, pressedFill, Qt::white},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.hovered) {
            QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
            QApplication::sendEvent(row, &enter);
        } else {
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(row, &leave);
        }
        row->setDown(c.pressed);
        EXPECT_EQ(row->isHovered(), c.hovered);
        EXPECT_EQ(row->fillColor(), c.fill);
        EXPECT_EQ(row->labelColor(), c.label);
        row->setDown(false);
    }
}

TEST(MenuItemRow, TheWholeRowIsTheHitAreaAndNothingLingersAfterClosing) {
    widgetApp();
    QWidget window;
    auto* row = ui::MenuItemButtonStyle::makeRow("Open Accessibility Settings", &window);
    row->setGeometry(0, 0, 300, 24);
    window.show();
    int clicks = 0;
    QObject::connect(row, &QAbstractButton::clicked, [&] { ++clicks; });
    // Far right of the row, well past the end of its label.
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(295, 12));
    EXPECT_EQ(clicks, 1);

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(row, &enter);
    ASSERT_TRUE(row->isHovered());
    window.hide();  // a closing popup sends no leave event
    window.show();
    EXPECT_FALSE(row->isHovered());
    EXPECT_EQ(row->fillColor(), QColor(Qt::transparent));
}

TEST(MenuItemRow, SecondaryRowsDrawTheirIdleLabelDimmer) {
    widgetApp();
    ui::MenuItemRow row("Feedback");
    row.setSecondary(true);
    EXPECT_EQ(row.labelColor(), ui::colours::secondaryText(row));
    EXPECT_NE(row.labelColor(), ui::colours::primaryText(row));
}
