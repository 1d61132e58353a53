#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QString>

class QWidget;

namespace quillant::ui {

// One full-width row that behaves like a native menu item: the accent colour
// under the pointer, the accent at 75 % while pressed (also from the
// keyboard), a white label on either, and the whole row as the hit area.
// Every row starts unhovered, also after its window was hidden and shown again.
class MenuItemRow final : public QAbstractButton {
public:
    explicit MenuItemRow(const QString& label, QWidget* parent = nullptr);

    // Draws the idle label in the secondary text colour instead of the primary one.
    void setSecondary(bool secondary);

    bool isHovered() const { return hovered_; }
    // What the row paints now: the fill (transparent when none) and the label's colour.
    QColor fillColor() const;
    QColor labelColor() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    static constexpr int kHorizontalPadding = 8;
    static constexpr int kVerticalPadding = 4;
    static constexpr qreal kCornerRadius = 4.0;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

private:
    bool hovered_ = false;
    bool secondary_ = false;
};

// Turns a plain action into such a row.
struct MenuItemButtonStyle {
    static MenuItemRow* makeRow(const QString& label, QWidget* parent = nullptr) { return new MenuItemRow(label, parent); }
};

// The colours the panel draws with, legible on light and dark themes.
namespace colours {
QColor accent(const QWidget& widget);
QColor primaryText(const QWidget& widget);
QColor secondaryText(const QWidget& widget);
QColor green();
QColor red();
QColor orange();
}  // namespace colours

}  // namespace quillant::ui
