#include "ui/MenuBarGlyph.h"

#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace quillant::ui {

namespace {

const QColor kInk(0x1b, 0x1b, 0x1b);     // outline: reads on light panels
const QColor kPaper(0xf5, 0xf5, 0xf5);   // fill: reads on dark panels

QImage canvas(int width, int height) {
    QImage image(std::max(width, 1), std::max(height, 1), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// Drawing in a 64-unit square, whatever the pixel size.
void toUnits(QPainter& p, int height) {
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(height / 64.0, height / 64.0);
}

// A pen whose width stays at least one device pixel at small sizes.
QPen outline(int height, double units) {
    QPen pen(kInk, std::max(units, 64.0 / height));
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

QPainterPath star(QPointF c, double r) {
    const double w = r * 0.38;
    QPainterPath path;
    path.moveTo(c.x(), c.y() - r);
    path.lineTo(c.x() + w, c.y() - w);
    path.lineTo(c.x() + r, c.y());
    path.lineTo(c.x() + w, c.y() + w);
    path.lineTo(c.x(), c.y() + r);
    path.lineTo(c.x() - w, c.y() + w);
    path.lineTo(c.x() - r, c.y());
    path.lineTo(c.x() - w, c.y() - w);
    path.closeSubpath();
    return path;
}

}  // namespace

std::optional<QImage> loadMenuBarGlyph(const QString& path) {
    QImageReader reader(path, "png");
    // Guessing the format would load every image plugin (JPEG, GIF, …) and
    // keep them mapped for the agent's life; the glyph is always a PNG.
    reader.setAutoDetectImageFormat(false);
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    return image;
}

QSizeF glyphSizeForHeight(QSizeF imageSize, double height) {
    const double ownHeight = std::max(imageSize.height(), 1.0);
    return {imageSize.width() / ownHeight * height, height};
}

QImage drawGlyph(const std::optional<QImage>& glyph, int height) {
    if (!glyph) return drawFallbackSymbol(height);
    const QSizeF logical = QSizeF(glyph->size()) / glyph->devicePixelRatio();
    const QSizeF size = glyphSizeForHeight(logical, height);
    // A wide glyph keeps its ratio but no more than four icons wide.
    const int width = std::clamp(int(std::lround(size.width())), 1, 4 * height);
    QImage image = canvas(width, height);
    QPainter p(&image);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRectF(0, 0, width, height), *glyph);
    return image;
}

QImage drawFallbackSymbol(int height) {
    // A wand with stars, in the glyph's colours.
    QImage image = canvas(height, height);
    QPainter p(&image);
    toUnits(p, height);
    p.setPen(outline(height, 4));
    p.setBrush(kPaper);
    QPainterPath wand;
    wand.moveTo(4, 52);
    wand.lineTo(38, 18);
    wand.lineTo(48, 28);
    wand.lineTo(14, 62);
    wand.closeSubpath();
    p.drawPath(wand);
    p.drawPath(star(QPointF(47, 14), 14));
    p.drawPath(star(QPointF(17, 17), 11));
    p.drawPath(star(QPointF(53, 47), 10));
    return image;
}

QImage drawCheck(int height) {
    QImage image = canvas(height, height);
    QPainter p(&image);
    toUnits(p, height);
    p.setPen(outline(height, 4));
    p.setBrush(QColor(0x2d, 0xa4, 0x4e));
    p.drawEllipse(QRectF(5, 5, 54, 54));
    QPen tick(Qt::white, 8);
    tick.setCapStyle(Qt::RoundCap);
    tick.setJoinStyle(Qt::RoundJoin);
    p.setPen(tick);
    p.setBrush(Qt::NoBrush);
    QPainterPath mark;
    mark.moveTo(19, 33);
    mark.lineTo(28, 42);
    mark.lineTo(45, 22);
    p.drawPath(mark);
    return image;
}

QImage drawWarning(int height) {
    QImage image = canvas(height, height);
    QPainter p(&image);
    toUnits(p, height);
    p.setPen(outline(height, 4));
    p.setBrush(QColor(0xf5, 0xb0, 0x00));
    QPainterPath triangle;
    triangle.moveTo(32, 5);
    triangle.lineTo(60, 56);
    triangle.lineTo(4, 56);
    triangle.closeSubpath();
    p.drawPath(triangle);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(28, 20, 8, 21), 3, 3);
    p.drawEllipse(QRectF(27.5, 44, 9, 9));
    return image;
}

QImage withOpacity(const QImage& image, double opacity) {
    QImage out = canvas(image.width(), image.height());
    QPainter p(&out);
    p.setOpacity(opacity);
    p.drawImage(0, 0, image);
    return out;
}

MenuBarArt::MenuBarArt(std::optional<QImage> glyph, std::vector<int> heights)
    : glyph_(std::move(glyph)), heights_(std::move(heights)) {
    if (heights_.empty()) heights_ = {22};
    for (int h : heights_) {
        h = std::max(h, 1);
        Set s{h, drawGlyph(glyph_, h), {}, drawCheck(h), drawWarning(h)};
        for (int i = 0; i < Pulse::kDistinctFrames; ++i) s.pulse.push_back(withOpacity(s.still, Pulse::opacity(i)));
        sets_.push_back(std::move(s));
    }
}

const MenuBarArt::Set& MenuBarArt::set(int height) const {
    return *std::min_element(sets_.begin(), sets_.end(), [height](const Set& a, const Set& b) {
        return std::abs(a.height - height) < std::abs(b.height - height);
    });
}

const QImage& MenuBarArt::image(const MenuBarFrame& frame, int height) const {
    const Set& s = set(height);
    switch (frame.state) {
        case app::MenuBarState::idle: return s.still;
        case app::MenuBarState::loading: return s.pulse[Pulse::frameIndex(frame.pulseStep % Pulse::kStepCount)];
        case app::MenuBarState::ok: return s.ok;
        case app::MenuBarState::warn: return s.warn;
    }
    return s.still;
}

}  // namespace quillant::ui
