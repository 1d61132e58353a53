// The pictures themselves: the compiled-in glyph, its fallback, its size at a
// tray height, and whether each state reads on light and dark panels.
#include <gtest/gtest.h>

#include <QColor>
#include <QPainter>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "ui/MenuBarGlyph.h"

using namespace quillant::ui;
using quillant::app::MenuBarState;

namespace {

const std::vector<MenuBarState> kStates{MenuBarState::idle, MenuBarState::loading, MenuBarState::ok,
                                        MenuBarState::warn};

QImage over(const QImage& icon, QColor background) {
    QImage out(icon.size(), QImage::Format_ARGB32);
    out.fill(background);
    QPainter p(&out);
    p.drawImage(0, 0, icon);
    return out;
}

double luminance(QRgb c) { return 0.2126 * qRed(c) + 0.7152 * qGreen(c) + 0.0722 * qBlue(c); }

// The share of pixels that stand out from the background by at least a third
// of the luminance range: a picture too faint on that panel scores low.
double standsOut(const QImage& icon, QColor background) {
    const QImage img = over(icon, background);
    const double bg = luminance(background.rgb());
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) n += std::abs(luminance(img.pixel(x, y)) - bg) > 85;
    return double(n) / (img.width() * img.height());
}

double meanDifference(const QImage& a, const QImage& b) {
    const QImage x = over(a, Qt::white), y = over(b, Qt::white);
    double sum = 0;
    for (int j = 0; j < x.height(); ++j)
        for (int i = 0; i < x.width(); ++i) {
            QRgb p = x.pixel(i, j), q = y.pixel(i, j);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (x.width() * x.height() * 3);
}

std::filesystem::path scratch(const std::string& name, const std::string& bytes) {
    auto p = std::filesystem::temp_directory_path() / ("quillant-glyph-" + std::to_string(::getpid()) + "-" + name);
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
}

}  // namespace

TEST(GlyphSize, KeepsTheAspectRatioAndCountsAHeightBelowOneAsOne) {
    struct Case {
        QSizeF image;
        double height;
        QSizeF expected;
    };
    for (auto c : {Case{{64, 64}, 22, {22, 22}}, Case{{128, 64}, 22, {44, 22}}, Case{{32, 64}, 13, {6.5, 13}},
                   Case{{10, 0.5}, 22, {220, 22}}, Case{{3, 0}, 13, {39, 13}}, Case{{0.5, 0.25}, 22, {11, 22}},
                   Case{{2, 1}, 44, {88, 44}}}) {
        SCOPED_TRACE(::testing::Message() << c.image.width() << "x" << c.image.height() << " at " << c.height);
        const QSizeF got = glyphSizeForHeight(c.image, c.height);
        EXPECT_DOUBLE_EQ(got.width(), c.expected.width());
        EXPECT_DOUBLE_EQ(got.height(), c.expected.height());
    }
}

TEST(GlyphSize, AnImageLessThanOneUnitHighIsDrawnAsIfOneHigh) {
    QImage tiny(8, 2, QImage::Format_ARGB32);
    tiny.fill(Qt::black);
    tiny.setDevicePixelRatio(4);  // 2 × 0.5 units
    const QImage drawn = drawGlyph(tiny, 22);
    EXPECT_EQ(drawn.size(), QSize(44, 22));
}

TEST(GlyphResource, TheCompiledInGlyphLoads) {
    auto glyph = loadMenuBarGlyph(kMenuBarGlyphResource);
    ASSERT_TRUE(glyph);
    EXPECT_EQ(glyph->size(), QSize(64, 64));
    EXPECT_TRUE(glyph->hasAlphaChannel());
    EXPECT_FALSE(MenuBarArt(glyph).usesFallbackSymbol());
}

TEST(GlyphResource, AMissingOrUnreadableGlyphGivesTheFallbackInIdleAndLoadingOnly) {
    const auto garbage = scratch("garbage.png", "not an image at all");
    const auto truncated = scratch("truncated.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    const auto empty = scratch("empty.png", "");
    const MenuBarArt real(loadMenuBarGlyph(kMenuBarGlyphResource));
    for (std::string path : {std::string("/nonexistent/MenuBarGlyph.png"), garbage.string(), truncated.string(),
                             empty.string(), std::filesystem::temp_directory_path().string()}) {
        SCOPED_TRACE(path);
        const auto loaded = loadMenuBarGlyph(QString::fromStdString(path));
        EXPECT_FALSE(loaded);
        const MenuBarArt art(loaded);
        EXPECT_TRUE(art.usesFallbackSymbol());
        for (int h : art.heights()) {
            EXPECT_EQ(art.image({MenuBarState::idle, 0}, h), drawFallbackSymbol(h));
            EXPECT_EQ(art.image({MenuBarState::loading, 0}, h), drawFallbackSymbol(h));
            EXPECT_NE(art.image({MenuBarState::idle, 0}, h), real.image({MenuBarState::idle, 0}, h));
            EXPECT_EQ(art.image({MenuBarState::ok, 0}, h), real.image({MenuBarState::ok, 0}, h));
            EXPECT_EQ(art.image({MenuBarState::warn, 0}, h), real.image({MenuBarState::warn, 0}, h));
        }
    }
    for (auto& p : {garbage, truncated, empty}) std::filesystem::remove(p);
}

TEST(GlyphArt, EveryPictureIsDrawnAtTheTrayHeight) {
    for (bool fallback : {false, true}) {
        const MenuBarArt art(fallback ? std::nullopt : loadMenuBarGlyph(kMenuBarGlyphResource), {16, 22, 44});
        for (int h : {16, 22, 44})
            for (auto s : kStates) {
                const QImage& img = art.image({s, 3}, h);
                EXPECT_EQ(img.height(), h) << caseName(s);
                EXPECT_EQ(img.width(), h) << caseName(s);
            }
        // A height between the drawn ones gets the nearest.
        EXPECT_EQ(art.image({MenuBarState::ok, 0}, 24).height(), 22);
    }
}

TEST(GlyphArt, ThePulseFramesFadeTheStillGlyph) {
    const MenuBarArt art(loadMenuBarGlyph(kMenuBarGlyphResource));
    auto alphaSum = [](const QImage& img) {
        double sum = 0;
        const QImage a = img.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x) sum += qAlpha(a.pixel(x, y));
        return sum;
    };
    const double full = alphaSum(art.image({MenuBarState::idle, 0}, 22));
    EXPECT_EQ(art.image({MenuBarState::loading, 0}, 22), art.image({MenuBarState::idle, 0}, 22));
    for (int step = 0; step < Pulse::kStepCount; ++step)
        EXPECT_NEAR(alphaSum(art.image({MenuBarState::loading, step}, 22)) / full, Pulse::opacity(step), 0.02) << step;
}

TEST(GlyphArt, EveryStateReadsOnLightAndDarkPanelsAndTheStatesDiffer) {
    for (bool fallback : {false, true}) {
        SCOPED_TRACE(fallback ? "fallback symbol" : "glyph");
        const MenuBarArt art(fallback ? std::nullopt : loadMenuBarGlyph(kMenuBarGlyphResource));
        for (QColor panel : {QColor(Qt::white), QColor(0xdd, 0xdd, 0xdd), QColor(0x2b, 0x2b, 0x2b), QColor(Qt::black)})
            for (auto s : {MenuBarState::idle, MenuBarState::ok, MenuBarState::warn}) {
                EXPECT_GT(standsOut(art.image({s, 0}, 22), panel), 0.12)
                    << caseName(s) << " on " << panel.name().toStdString();
            }
        const QImage idle = art.image({MenuBarState::idle, 0}, 22);
        const QImage ok = art.image({MenuBarState::ok, 0}, 22);
        const QImage warn = art.image({MenuBarState::warn, 0}, 22);
        const QImage dim = art.image({MenuBarState::loading, Pulse::kStepsPerHalf}, 22);
        EXPECT_GT(meanDifference(idle, ok), 20);
        EXPECT_GT(meanDifference(idle, warn), 20);
        EXPECT_GT(meanDifference(ok, warn), 20);
        EXPECT_GT(meanDifference(idle, dim), 5);
    }
}
