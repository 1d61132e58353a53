#pragma once

#include <QImage>
#include <QSizeF>
#include <QString>
#include <optional>
#include <vector>

#include "ui/MenuBarLabel.h"

namespace quillant::ui {

// Where the program finds its glyph: compiled into the executable.
inline constexpr const char* kMenuBarGlyphResource = ":/quillant/MenuBarGlyph.png";

// The glyph image, or nothing when the file is missing or does not decode.
std::optional<QImage> loadMenuBarGlyph(const QString& path);

// The glyph's size at a tray height: its own aspect ratio kept, an image less
// than one unit high counted as one unit high.
QSizeF glyphSizeForHeight(QSizeF imageSize, double height);

// Every picture the tray can show, drawn once for each icon height: the
// glyph (or our own fallback symbol when it is missing) still and at each
// step of the fade, the check and the warning. Each picture has an outline
// that keeps it legible on light and dark panels.
class MenuBarArt {
public:
    explicit MenuBarArt(std::optional<QImage> glyph, std::vector<int> heights = {22, 44});

    bool usesFallbackSymbol() const { return !glyph_; }
    const std::vector<int>& heights() const { return heights_; }
    // The picture of `frame` at one of heights(); the nearest one otherwise.
    const QImage& image(const MenuBarFrame& frame, int height) const;

private:
    struct Set {
        int height;
        QImage still;
        std::vector<QImage> pulse;  // by Pulse::frameIndex
        QImage ok;
        QImage warn;
    };
    const Set& set(int height) const;

    std::optional<QImage> glyph_;
    std::vector<int> heights_;
    std::vector<Set> sets_;
};

// The pieces of art on their own, for the art itself and its tests.
QImage drawGlyph(const std::optional<QImage>& glyph, int height);
QImage drawFallbackSymbol(int height);
QImage drawCheck(int height);
QImage drawWarning(int height);
QImage withOpacity(const QImage& image, double opacity);

}  // namespace quillant::ui
