// The flat drawing utilities against their worked values.
#include "FlatUtilitys.h"

#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

TColor Rgb(int r, int g, int b) { return TColor(r) | TColor(g) << 8 | TColor(b) << 16; }

TEST(Hsl, convertsTheEdgeCases)
{
    double h = -1, s = -1, l = -1;
    ColorToHsl(0x0000FF, h, s, l);
    EXPECT_DOUBLE_EQ(h, 0);
    EXPECT_DOUBLE_EQ(s, 1);
    EXPECT_DOUBLE_EQ(l, 0.5);
    ColorToHsl(0xFF0000, h, s, l);
    EXPECT_DOUBLE_EQ(h, 4.0 / 6.0);
    ColorToHsl(Rgb(255, 0, 128), h, s, l);  // red maximal, B > G: computed negative
    EXPECT_NEAR(h, 1 - 128.0 / 255.0 / 6.0, 1e-12);
    ColorToHsl(Rgb(90, 90, 90), h, s, l);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(HslToColor(0, 0, 0.5), Rgb(128, 128, 128)) << "127.5 rounds to even";
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
}

TEST(Hsl, derivesTheDefaultAdvancedColours)
{
    int h = 0, s = 0, l = 0;
    ColorToHslScaled(kDefaultFace, h, s, l);
    EXPECT_EQ(h, 36);
    EXPECT_EQ(s, 48);
    EXPECT_EQ(l, 216);
    EXPECT_EQ(DeriveAdvancedColor(kDefaultFace, 0, 10, lighten), Rgb(128, 123, 85));
    EXPECT_EQ(DeriveAdvancedColor(kDefaultFace, 0, 10, darken), Rgb(235, 234, 224));
    EXPECT_EQ(DeriveAdvancedColor(kDefaultFace, 0, 50, darken), Rgb(201, 198, 173));
    EXPECT_EQ(DeriveAdvancedColor(kDefaultFace, 0x123456, 0, darken), 0x123456u) << "0 % keeps the current colour";
    EXPECT_EQ(DeriveAdvancedColor(Rgb(100, 100, 100), 0, 20, darken) & 0xFF,
              DeriveAdvancedColor(Rgb(100, 100, 100), 0, 20, darken) >> 8 & 0xFF)
        << "a grey base stays grey";
}

TEST(Hsl, darkeningWhiteBelowTenPercentWrapsAround)
{
    for (int p = 1; p <= 9; ++p) {
        const int grey = RoundHalfEven(255.0 * (250 - p) / 240) & 0xFF;
        EXPECT_EQ(DeriveAdvancedColor(clWhite, 0, TAdvColors(p), darken), Rgb(grey, grey, grey)) << p;
    }
    EXPECT_EQ(DeriveAdvancedColor(clWhite, 0, 1, darken), Rgb(9, 9, 9));
    EXPECT_EQ(DeriveAdvancedColor(clWhite, 0, 9, darken), Rgb(0, 0, 0));
    EXPECT_EQ(DeriveAdvancedColor(clWhite, 0, 10, darken), clWhite);
}

QImage Canvas(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

TEST(BevelFrame, drawsRingsWithTheirCornersOnTheRightSide)
{
    QImage image = Canvas(25, 25);
    QRect r(0, 0, 25, 25);
    {
        QPainter p(&image);
        DrawBevelFrame(p, r, 0x0000FF, 0xFF0000, 2);
    }
    EXPECT_EQ(r, QRect(0, 0, 25, 25)) << "the caller's rectangle is unchanged";
    const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255), white = qRgb(255, 255, 255);
    for (int ring = 0; ring < 2; ++ring) {
        const int lo = ring, hi = 24 - ring;
        for (int i = lo; i < hi; ++i) {
            EXPECT_EQ(image.pixel(i, lo), red) << "top row " << i;
            EXPECT_EQ(image.pixel(lo, i), red) << "left column " << i;
        }
        for (int i = lo; i <= hi; ++i) {
            EXPECT_EQ(image.pixel(hi, i), blue) << "right column " << i;
            EXPECT_EQ(image.pixel(i, hi), blue) << "bottom row " << i;
        }
    }
    EXPECT_EQ(image.pixel(2, 2), white);
    QImage none = Canvas(5, 5);
    {
        QPainter p(&none);
        DrawBevelFrame(p, QRect(0, 0, 5, 5), 0, 0, 0);
    }
    EXPECT_EQ(none, Canvas(5, 5));
}

TEST(DisabledGlyph, embossesTheMaskColourPixelForPixel)
{
    QImage glyph = Canvas(4, 4);
    glyph.setPixel(1, 1, qRgb(0, 0, 0));
    glyph.setPixel(3, 3, qRgb(0, 0, 0));
    const QImage result = MakeDisabledGlyph(glyph, clBlack, 0x00FF00, true, 0x0000FF, 0xFF0000);
    const QRgb back = qRgb(0, 255, 0), shadow = qRgb(255, 0, 0), light = qRgb(0, 0, 255);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            QRgb expected = back;
            if ((x == 2 && y == 2))
                expected = light;
            if ((x == 1 && y == 1) || (x == 3 && y == 3))
                expected = shadow;
            EXPECT_EQ(result.pixel(x, y), expected) << x << "," << y;
        }
    QImage mono(4, 4, QImage::Format_Mono);
    mono.fill(1);
    mono.setPixel(0, 0, 0);
    const QImage fromMono = MakeDisabledGlyph(mono, clBlack, 0x00FF00, false, 0x0000FF, 0xFF0000);
    EXPECT_EQ(fromMono.pixel(0, 0), shadow) << "a clear pixel of a two-tone glyph counts as set";
    EXPECT_EQ(fromMono.pixel(1, 1), back);
}

TEST(GlyphLayout, centresAGlyphWithoutCaptionAndShiftsItWhenPressed)
{
    QImage glyph = Canvas(16, 16);
    QPoint origin;
    QRect caption;
    CalcGlyphLayout(QFont(), QRect(0, 0, 25, 25), QPoint(0, 0), "", blGlyphTop, -1, 4, glyph, 1, origin, caption);
    EXPECT_EQ(origin, QPoint(5, 5));
    CalcGlyphLayout(QFont(), QRect(0, 0, 25, 25), QPoint(1, 1), "", blGlyphTop, -1, 4, glyph, 1, origin, caption);
    EXPECT_EQ(origin, QPoint(6, 6));
    CalcGlyphLayout(QFont(), QRect(0, 0, 25, 25), QPoint(0, 0), "", blGlyphLeft, -1, 4, QImage(), 1, origin, caption);
    EXPECT_EQ(origin, QPoint(13, 13)) << "no glyph, no caption: the centring values";
}

TEST(GlyphLayout, distributesFreeSpaceAutomatically)
{
    // Find a caption 30 pixels wide in the default font, as in the worked case.
    QString text;
    for (int n = 1; n < 40 && CaptionExtent(QFont(), text).width() != 30; ++n)
        for (const QString& candidate : {QString(n, 'x'), QString(n, 'i'), QString(n / 2, 'x') + QString(n - n / 2, 'i')})
            if (CaptionExtent(QFont(), candidate).width() == 30) {
                text = candidate;
                break;
            }
    ASSERT_EQ(CaptionExtent(QFont(), text).width(), 30) << "no 30-pixel caption in this font";
    const int th = CaptionExtent(QFont(), text).height();
    QPoint origin;
    QRect caption;
    CalcGlyphLayout(QFont(), QRect(0, 0, 75, 25), QPoint(0, 0), text, blGlyphLeft, -1, -1, Canvas(16, 16), 1, origin,
                    caption);
    EXPECT_EQ(origin, QPoint(9, 5));
    EXPECT_EQ(caption.topLeft(), QPoint(34, (25 - th + 1) / 2));
    EXPECT_EQ(caption.size(), QSize(30, th));
}

TEST(GlyphLayout, measuresCaptionsWithoutTheirAcceleratorMarks)
{
    EXPECT_EQ(CaptionExtent(QFont(), "&Chiudi").width(), CaptionExtent(QFont(), "Chiudi").width());
    EXPECT_EQ(CaptionExtent(QFont(), "a&&b").width(), QFontMetrics(QFont()).size(Qt::TextSingleLine, "a&b").width());
    EXPECT_EQ(AcceleratorOf("&Chiudi"), QChar('C'));
    EXPECT_EQ(AcceleratorOf("Salva && &esci"), QChar('e'));
    EXPECT_TRUE(AcceleratorOf("a&&b").isNull());
    EXPECT_TRUE(IsAccelerator('c', "&Chiudi"));
}

TEST(GlyphStrip, takesNumGlyphsFromTheWidthAndPicksTheImageOfEachState)
{
    EXPECT_EQ(NumGlyphsFor(Canvas(80, 16), 2), 1) << "5 images: more than 4";
    EXPECT_EQ(NumGlyphsFor(Canvas(48, 16), 1), 3);
    EXPECT_EQ(NumGlyphsFor(Canvas(50, 16), 2), 2) << "not a multiple: unchanged";
    const QSize strip(50, 10);
    EXPECT_EQ(GlyphSourceRect(strip, 2, ButtonDrawState::Disabled), QRect(25, 0, 25, 10));
    EXPECT_EQ(GlyphSourceRect(strip, 3, ButtonDrawState::Pressed), QRect(32, 0, 18, 10));
    EXPECT_EQ(GlyphSourceRect(strip, 4, ButtonDrawState::Pressed), QRect(24, 0, 12, 10));
    EXPECT_EQ(GlyphSourceRect(strip, 4, ButtonDrawState::Latched), QRect(36, 0, 14, 10));
    EXPECT_EQ(GlyphSourceRect(strip, 1, ButtonDrawState::Latched), QRect(0, 0, 50, 10));
}

TEST(GlyphStrip, leavesTheBottomLeftColourTransparent)
{
    QImage glyph(4, 4, QImage::Format_RGB32);
    glyph.fill(qRgb(192, 192, 192));
    glyph.setPixel(1, 1, qRgb(255, 0, 0));
    QImage canvas = Canvas(6, 6);
    {
        QPainter p(&canvas);
        DrawGlyph(p, glyph, 1, ButtonDrawState::Up, QPoint(1, 1));
    }
    EXPECT_EQ(canvas.pixel(2, 2), qRgb(255, 0, 0));
    EXPECT_EQ(canvas.pixel(1, 1), qRgb(255, 255, 255));
}

TEST(ParentBackground, paintsWhatTheParentPaintsUnderTheControl)
{
    class Striped : public QWidget {
    protected:
        void paintEvent(QPaintEvent*) override
        {
            QPainter p(this);
            for (int x = 0; x < width(); ++x)
                p.fillRect(x, 0, 1, height(), QColor(x % 256, 0, 100));
        }
    };
    Striped parent;
    parent.resize(100, 50);
    QWidget child(&parent);
    child.setGeometry(40, 10, 20, 20);
    QImage image = Canvas(20, 20);
    {
        QPainter p(&image);
        PaintParentBackground(&child, p);
    }
    EXPECT_EQ(image.pixel(0, 0), qRgb(40, 0, 100));
    EXPECT_EQ(image.pixel(19, 19), qRgb(59, 0, 100));
    QWidget orphan;
    QImage untouched = Canvas(5, 5);
    {
        QPainter p(&untouched);
        PaintParentBackground(&orphan, p);
    }
    EXPECT_EQ(untouched, Canvas(5, 5));
}

}  // namespace
