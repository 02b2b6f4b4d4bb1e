// The flat edit, group box, gauge and panel, rendered and driven.
#include "TFlatButtonUnit.h"
#include "TFlatEditUnit.h"
#include "TFlatGaugeUnit.h"
#include "TFlatGroupBoxUnit.h"
#include "TFlatPanelUnit.h"
#include "flat_fixture.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

QRgb Rgb(TColor c) { return ToQColor(c).rgb(); }
QRgb Rgb(int r, int g, int b) { return qRgb(r, g, b); }

class FlatContainers : public FlatForm {
protected:
    template <typename Control>
    Control* Make(int x, int y)
    {
        auto* c = new Control(form.get());
        c->move(x, y);
        c->show();
        return c;
    }
};

// Outer ring in ColorBorder, two inner rings and the text background in `face`.
void ExpectEditFrame(const QImage& image, QRgb border, QRgb face)
{
    const int w = image.width(), h = image.height();
    EXPECT_EQ(image.pixel(0, 0), border);
    EXPECT_EQ(image.pixel(w - 1, h - 1), border);
    EXPECT_EQ(image.pixel(1, 1), face);
    EXPECT_EQ(image.pixel(2, h - 3), face);
    EXPECT_EQ(image.pixel(w - 5, h / 2), face) << "text background";
}

TEST_F(FlatContainers, editFrameIsFlatAtRestAndWhiteWhileFocused)
{
    auto* edit = Make<TFlatEdit>(10, 10);
    auto* button = Make<TFlatButton>(10, 100);
    button->setFocus();
    ExpectEditFrame(Face(edit), Rgb(160, 150, 131), Rgb(235, 234, 225));
    edit->setFocus();
    ExpectEditFrame(Face(edit), Rgb(160, 150, 131), Rgb(255, 255, 255));
    edit->Loaded();
    EXPECT_EQ(edit->height(), QFontMetrics(edit->font()).height() + 6);
    EXPECT_EQ(edit->width(), 121);
}

TEST_F(FlatContainers, pointerHighlightsAnEditOnlyWhileNoFlatEditHasTheFocus)
{
    auto* first = Make<TFlatEdit>(10, 10);
    auto* second = Make<TFlatEdit>(10, 40);
    auto* button = Make<TFlatButton>(10, 100);
    first->setFocus();
    PointAt(second);
    ASSERT_TRUE(second->PointerOver());
    EXPECT_FALSE(second->Highlighted()) << "the focused edit keeps the highlight";
    ExpectEditFrame(Face(second), Rgb(160, 150, 131), Rgb(235, 234, 225));

    button->setFocus();
    PointAt(second);
    EXPECT_TRUE(second->Highlighted());
    PointAt(button);
    EXPECT_FALSE(second->PointerOver());
    EXPECT_FALSE(second->Highlighted());
}

// The frame and the text area are painted from one stored state: an edit that
// stayed highlighted while another took the focus is white inside and out.
TEST_F(FlatContainers, editFrameAndTextAreaAlwaysAgree)
{
    auto* first = Make<TFlatEdit>(10, 10);
    auto* second = Make<TFlatEdit>(10, 40);
    Make<TFlatButton>(10, 100)->setFocus();
    PointAt(second);
    ASSERT_TRUE(second->Highlighted());
    first->setFocus();
    const QImage face = Face(second);
    EXPECT_EQ(face.pixel(1, 1), face.pixel(face.width() - 5, face.height() / 2));
}

TEST_F(FlatContainers, editColoursFollowTheirOwnParentColourAndAdvancedRule)
{
    auto* edit = Make<TFlatEdit>(10, 10);
    edit->SetColorFlat(clBtnFace);
    EXPECT_FALSE(edit->ParentColor()) << "a colour of its own ends following the parent";
    edit->SetParentColor(true);
    EXPECT_EQ(edit->ColorFlat(), kDefaultFace);

    auto* adv = Make<TFlatEdit>(10, 40);
    adv->SetUseAdvColors(true);
    EXPECT_EQ(adv->ColorFocused(), FromQColor(QColor(128, 123, 85)));
    EXPECT_EQ(adv->ColorBorder(), FromQColor(QColor(201, 198, 173)));
}

TEST_F(FlatContainers, groupBoxSetsItsCaptionIntoTheTopLine)
{
    auto* box = Make<TFlatGroupBox>(10, 10);
    box->resize(89, 60);
    box->SetCaption("Tipo backup");
    const QImage face = Face(box);
    const QFontMetrics metrics(box->font());
    const int y0 = metrics.height() / 2;
    const int tw = metrics.size(Qt::TextSingleLine, "Tipo backup").width();
    const QRgb border = Rgb(kDefaultBorder);
    EXPECT_EQ(face.pixel(0, 40), border);
    EXPECT_EQ(face.pixel(88, 40), border);
    EXPECT_EQ(face.pixel(40, 59), border);
    EXPECT_EQ(face.pixel(5, y0), border);
    EXPECT_NE(face.pixel(6, y0), border) << "the gap starts at x = 6";
    if (tw + 13 < 88) {
        EXPECT_NE(face.pixel(tw + 12, y0), border);
        EXPECT_EQ(face.pixel(tw + 13, y0), border);
    }
    EXPECT_EQ(face.pixel(40, 40), Rgb(kDefaultFace));

    box->SetBorder(brOnlyTopLine);
    const QImage topOnly = Face(box);
    EXPECT_NE(topOnly.pixel(0, 40), border);
    EXPECT_NE(topOnly.pixel(88, 40), border);
    EXPECT_NE(topOnly.pixel(40, 59), border);
    EXPECT_EQ(topOnly.pixel(3, y0), border);
}

// Shadow-coloured pixels with a highlight copy one pixel down-right.
void ExpectEngraved(const QImage& image)
{
    int shadows = 0, lightBelow = 0;
    for (int y = 0; y + 1 < image.height(); ++y)
        for (int x = 0; x + 1 < image.width(); ++x)
            if (image.pixel(x, y) == Rgb(clBtnShadow)) {
                ++shadows;
                lightBelow += image.pixel(x + 1, y + 1) == Rgb(clBtnHighlight);
            }
    EXPECT_GT(shadows, 10);
    EXPECT_GT(lightBelow, 0);
}

TEST_F(FlatContainers, disabledGroupBoxAndPanelEngraveTheirCaptions)
{
    auto* box = Make<TFlatGroupBox>(10, 10);
    box->SetCaption("Destinazione");
    box->setEnabled(false);
    ExpectEngraved(Face(box));
    auto* panel = Make<TFlatPanel>(10, 150);
    panel->SetCaption("Pannello");
    panel->setEnabled(false);
    ExpectEngraved(Face(panel));
}

// The engraved highlight of a disabled caption is clipped to its own moved
// rectangle, so its lowest row (descenders) is kept.
TEST_F(FlatContainers, disabledGroupBoxKeepsTheLowestRowOfItsHighlight)
{
    auto* box = Make<TFlatGroupBox>(10, 10);
    box->SetCaption("gjpqy gjpqy");
    box->setEnabled(false);
    const QImage face = Face(box);
    const int row = QFontMetrics(box->font()).height();  // the moved rectangle's last row
    int highlighted = 0;
    for (int x = 11; x < face.width() - 10; ++x)
        highlighted += face.pixel(x, row) == Rgb(clBtnHighlight);
    EXPECT_GT(highlighted, 0);
}

TEST_F(FlatContainers, groupBoxAcceleratorFocusesTheBox)
{
    auto* box = Make<TFlatGroupBox>(10, 10);
    box->setFocusPolicy(Qt::StrongFocus);
    box->SetCaption("&Modo");
    EXPECT_TRUE(OfferDialogChar(form.get(), 'm'));
    EXPECT_TRUE(box->hasFocus());
}

TEST_F(FlatContainers, childrenFollowAContainersColour)
{
    auto* box = Make<TFlatGroupBox>(10, 10);
    auto* button = new TFlatButton(box);
    box->SetColor(0x00FF00);
    EXPECT_EQ(button->Color(), 0x00FF00u);
}

TEST_F(FlatContainers, gaugeShowsTruncatedBarAndPercentage)
{
    auto* gauge = Make<TFlatGauge>(10, 10);
    EXPECT_EQ(gauge->Percent(), 25);
    EXPECT_EQ(gauge->BarLength(), 35);
    gauge->SetProgress(50);
    EXPECT_EQ(gauge->BarLength(), 70) << "141 * 50 / 100 = 70.5, truncated";
    gauge->SetProgress(150);
    EXPECT_EQ(gauge->Progress(), 100);
    gauge->SetProgress(-5);
    EXPECT_EQ(gauge->Progress(), 0);
    gauge->SetMaxValue(120);
    gauge->SetMinValue(20);
    gauge->SetProgress(70);
    EXPECT_EQ(gauge->Percent(), 50);
    EXPECT_EQ(gauge->BarLength(), 70);
    gauge->SetProgress(120);
    EXPECT_EQ(gauge->BarLength(), 141);
    gauge->SetMinValue(0);
    gauge->SetMaxValue(1000);
    gauge->SetProgress(999);
    EXPECT_EQ(gauge->Percent(), 99);
    gauge->SetMaxValue(0);
    EXPECT_EQ(gauge->Percent(), -1) << "an empty range";
    EXPECT_FALSE(Face(gauge).isNull()) << "paints without failing";
}

TEST_F(FlatContainers, aDisabledGaugeLooksTheSame)
{
    auto* gauge = Make<TFlatGauge>(10, 10);
    const QImage enabled = Face(gauge);
    gauge->setEnabled(false);
    EXPECT_EQ(Face(gauge), enabled);
}

TEST_F(FlatContainers, gaugeTextOverTheBarIsDrawnInTheBackgroundColour)
{
    auto* gauge = Make<TFlatGauge>(10, 10);
    gauge->SetColor(0x00FF00);
    gauge->SetProgress(55);
    const QImage face = Face(gauge);
    const int barEnd = 2 + gauge->BarLength();
    int colorOverBar = 0, textBeyond = 0;
    for (int y = 3; y < 22; ++y) {
        for (int x = 3; x < barEnd; ++x)
            colorOverBar += face.pixel(x, y) == Rgb(0x00FF00);
        for (int x = barEnd; x < 142; ++x)
            textBeyond += face.pixel(x, y) == gauge->palette().color(QPalette::WindowText).rgb();
    }
    EXPECT_GT(colorOverBar, 5);
    EXPECT_GT(textBeyond, 5);
    EXPECT_EQ(face.pixel(0, 0), Rgb(kDefaultBorder));
    EXPECT_EQ(face.pixel(3, 3), Rgb(0x996633));
}

TEST_F(FlatContainers, gaugePaintsBeforeTheSetterReturns)
{
    auto* gauge = Make<TFlatGauge>(10, 10);
    struct Counter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } counter;
    QApplication::processEvents();
    gauge->installEventFilter(&counter);
    gauge->SetProgress(40);
    EXPECT_EQ(counter.paints, 1) << "painted inside the setter, no event loop needed";
    gauge->SetProgress(40);
    EXPECT_EQ(counter.paints, 1) << "the same value does not repaint";
}

TEST_F(FlatContainers, panelDrawsAFlatFrameAndAlignsItsCaption)
{
    auto* panel = Make<TFlatPanel>(10, 10);
    EXPECT_EQ(panel->size(), QSize(185, 41));
    const QImage flat = Face(panel);
    EXPECT_EQ(flat.pixel(0, 0), Rgb(kDefaultBorder));
    EXPECT_EQ(flat.pixel(184, 40), Rgb(kDefaultBorder));
    EXPECT_EQ(flat.pixel(5, 5), Rgb(kDefaultFace));

    panel->SetCaption("HHHH");
    panel->SetAlignment(taLeftJustify);
    const QImage left = Face(panel);
    int leftmost = 1000;
    const QRgb ink = panel->palette().color(QPalette::WindowText).rgb();
    for (int y = 0; y < 41; ++y)
        for (int x = 0; x < 185; ++x)
            if (left.pixel(x, y) == ink)
                leftmost = std::min(leftmost, x);
    EXPECT_LE(leftmost, 2) << "left alignment starts at the very left edge";
}

}  // namespace
