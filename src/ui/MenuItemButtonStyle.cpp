#include "ui/MenuItemButtonStyle.h"

#include <QEnterEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

namespace quillant::ui {

namespace colours {
QColor accent(const QWidget& widget) { return widget.palette().color(QPalette::Active, QPalette::Highlight); }
QColor primaryText(const QWidget& widget) { return widget.palette().color(QPalette::Active, QPalette::WindowText); }
QColor secondaryText(const QWidget& widget) {
    // Half-way between the text and the window: readable on either theme.
    const QColor text = primaryText(widget);
    const QColor window = widget.palette().color(QPalette::Active, QPalette::Window);
    return QColor((text.red() * 3 + window.red() * 2) / 5, (text.green() * 3 + window.green() * 2) / 5,
                  (text.blue() * 3 + window.blue() * 2) / 5);
}
QColor green() { return QColor(0x2e, 0x9d, 0x47); }
QColor red() { return QColor(0xd9, 0x30, 0x25); }
QColor orange() { return QColor(0xe6, 0x7a, 0x00); }
}  // namespace colours

MenuItemRow::MenuItemRow(const QString& label, QWidget* parent) : QAbstractButton(parent) {
    setText(label);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

void MenuItemRow::setSecondary(bool secondary) {
    secondary_ = secondary;
    update();
}

QColor MenuItemRow::fillColor() const {
    QColor accent = colours::accent(*this);
    if (isDown()) {
        accent.setAlphaF(0.75f);
        return accent;
    }
    if (hovered_) return accent;
    return Qt::transparent;
}

QColor MenuItemRow::labelColor() const {
    if (isDown() || hovered_) return Qt::white;
    return secondary_ ? colours::secondaryText(*this) : colours::primaryText(*this);
}

QSize MenuItemRow::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 2 * kHorizontalPadding, metrics.height() + 2 * kVerticalPadding};
}

void MenuItemRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor fill = fillColor();
    if (fill.alpha() > 0) {
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
        painter.fillPath(path, fill);
    }
    painter.setPen(labelColor());
    painter.drawText(rect().adjusted(kHorizontalPadding, kVerticalPadding, -kHorizontalPadding, -kVerticalPadding),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
}

void MenuItemRow::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void MenuItemRow::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void MenuItemRow::hideEvent(QHideEvent* event) {
    // A closing popup gets no leave event: nothing may linger to the next opening.
    hovered_ = false;
    setDown(false);
    QAbstractButton::hideEvent(event);
}

}  // namespace quillant::ui
