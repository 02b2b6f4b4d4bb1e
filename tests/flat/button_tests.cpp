// The flat button and speed button: their faces pixel by pixel, and how they
// answer the mouse, the keyboard, accelerators, groups and hovering.
#include "TFlatButtonUnit.h"
#include "TFlatSpeedButtonUnit.h"
#include "flat_fixture.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace {

class FlatButtons : public FlatForm {
public:
    template <typename Button>
    Button* Make(int x, int y, int w = 89, int h = 25, const QString& caption = "Esegui")
    {
        auto* b = new Button(form.get());
        b->setGeometry(x, y, w, h);
        b->SetCaption(caption);
        b->show();
        b->OnClick = [this](QObject*) { ++clicks; };
        return b;
    }

    int clicks = 0;
};

QRgb Rgb(TColor c) { return ToQColor(c).rgb(); }

// The flat frame at rest, the raised bevel while hovered, the sunken one while pressed.
template <typename Button>
void ExpectTheThreeFaces(FlatButtons& t, Button* b)
{
    b->SetColorFocused(0x00FF00);
    QImage rest = t.Face(b);
    EXPECT_EQ(rest.pixel(0, 0), Rgb(kDefaultBorder));
    EXPECT_EQ(rest.pixel(88, 24), Rgb(kDefaultBorder));
    EXPECT_EQ(rest.pixel(1, 1), Rgb(kDefaultFace)) << "the face takes the parent's colour";

    t.PointAt(b);
    ASSERT_TRUE(b->Hovered());
    QImage hovered = t.Face(b);
    EXPECT_EQ(hovered.pixel(0, 0), Rgb(clWhite));
    EXPECT_EQ(hovered.pixel(88, 0), Rgb(clBlack)) << "top-right corner belongs to the shadow side";
    EXPECT_EQ(hovered.pixel(88, 24), Rgb(clBlack));
    EXPECT_EQ(hovered.pixel(1, 1), Rgb(0x00FF00));

    const QRect captionAtRest = b->CaptionRect();
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
    QImage pressed = t.Face(b);
    EXPECT_EQ(pressed.pixel(0, 0), Rgb(clBlack));
    EXPECT_EQ(pressed.pixel(88, 24), Rgb(clWhite));
    EXPECT_EQ(pressed.pixel(1, 1), Rgb(kDefaultDown));
    EXPECT_EQ(b->CaptionRect(), captionAtRest.translated(1, 1)) << "the caption moves one pixel down-right";
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(t.clicks, 1);
}

// A disabled caption: clBtnShadow with a clBtnHighlight copy one pixel down-right.
void ExpectEngravedCaption(const QImage& face, const QRect& caption)
{
    int shadows = 0, lightBelowShadow = 0;
    for (int y = caption.top(); y <= caption.bottom(); ++y)
        for (int x = caption.left(); x <= caption.right(); ++x)
            if (face.pixel(x, y) == Rgb(clBtnShadow)) {
                ++shadows;
                if (face.pixel(x + 1, y + 1) == Rgb(clBtnHighlight))
                    ++lightBelowShadow;
            }
    EXPECT_GT(shadows, 10);
    EXPECT_GT(lightBelowShadow, 0);
}

TEST_F(FlatButtons, buttonShowsItsRestHoverAndPressedFaces)
{
    ExpectTheThreeFaces(*this, Make<TFlatButton>(10, 10));
}

TEST_F(FlatButtons, speedButtonShowsTheSameFaces)
{
    ExpectTheThreeFaces(*this, Make<TFlatSpeedButton>(10, 10));
}

TEST_F(FlatButtons, defaultDrawsATwoPixelFrameOnlyAtRest)
{
    auto* b = Make<TFlatButton>(10, 10);
    b->SetDefault(true);
    EXPECT_EQ(Face(b).pixel(1, 1), Rgb(kDefaultBorder));
    EXPECT_EQ(Face(b).pixel(2, 2), Rgb(kDefaultFace));
    PointAt(b);
    EXPECT_EQ(Face(b).pixel(1, 1), Rgb(kDefaultFace));
    auto* speed = Make<TFlatSpeedButton>(10, 50);
    EXPECT_EQ(Face(speed).pixel(1, 1), Rgb(kDefaultFace)) << "a speed button has no two-pixel frame";
}

TEST_F(FlatButtons, disabledButtonsEngraveTheirCaption)
{
    auto* b = Make<TFlatButton>(10, 10, 89, 25, "Pulisci");
    b->setEnabled(false);
    const QImage face = Face(b);
    EXPECT_EQ(b->DrawState(), ButtonDrawState::Disabled);
    EXPECT_EQ(face.pixel(0, 0), Rgb(kDefaultBorder));
    ExpectEngravedCaption(face, b->CaptionRect());
    auto* speed = Make<TFlatSpeedButton>(10, 50, 89, 25, "Pulisci");
    speed->setEnabled(false);
    const QImage speedFace = Face(speed);  // painting places the caption
    ExpectEngravedCaption(speedFace, speed->CaptionRect());
}

TEST_F(FlatButtons, transparentSpeedButtonShowsTheParentsPixels)
{
    class Striped : public QWidget {
    protected:
        void paintEvent(QPaintEvent*) override
        {
            QPainter p(this);
            for (int x = 0; x < width(); ++x)
                p.fillRect(x, 0, 1, height(), QColor(x % 256, 60, 100));
        }
    };
    auto* parent = new Striped;
    parent->setParent(form.get());
    parent->setGeometry(0, 0, 200, 100);
    parent->show();
    auto* speed = new TFlatSpeedButton(parent);
    speed->setGeometry(50, 20, 25, 25);
    speed->SetTransparentMode(tmAlways);
    auto* button = new TFlatButton(parent);
    button->setGeometry(100, 20, 40, 25);
    button->SetTransparentMode(tmAlways);
    speed->show();
    button->show();
    const QImage all = parent->grab().toImage();
    EXPECT_EQ(all.pixel(50 + 5, 20 + 5), qRgb(55, 60, 100)) << "speed button";
    EXPECT_EQ(all.pixel(100 + 7, 20 + 5), qRgb(107, 60, 100)) << "flat button";
    EXPECT_EQ(all.pixel(50, 20), Rgb(kDefaultBorder)) << "only the frame is drawn";
}

TEST_F(FlatButtons, clickNeedsPressAndReleaseInsideWithAnInclusiveBottomRow)
{
    auto* b = Make<TFlatButton>(10, 10);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(clicks, 1);

    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(b, QPoint(150, 5));
    EXPECT_EQ(b->DrawState(), ButtonDrawState::Up) << "dragged out";
    QTest::mouseMove(b, QPoint(6, 6));
    EXPECT_EQ(b->DrawState(), ButtonDrawState::Pressed) << "back in";
    QTest::mouseMove(b, QPoint(150, 5));
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(150, 5));
    EXPECT_EQ(clicks, 1) << "released outside";

    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(5, 25));
    EXPECT_EQ(clicks, 2) << "Y = height counts as inside";
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(89, 5));
    EXPECT_EQ(clicks, 2) << "X = width does not";
    EXPECT_FALSE(b->PressTracking());
}

TEST_F(FlatButtons, groupedButtonsLatchAndReleaseEachOther)
{
    auto* a = Make<TFlatButton>(10, 10);
    auto* b = Make<TFlatButton>(10, 50);
    a->SetGroupIndex(1);
    b->SetGroupIndex(1);
    QTest::mouseClick(a, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(a->Down());
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(b->Down());
    EXPECT_FALSE(a->Down());
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_TRUE(b->Down()) << "without AllowAllUp a down member stays down";
    EXPECT_EQ(clicks, 3);

    a->SetAllowAllUp(true);
    EXPECT_TRUE(b->AllowAllUp()) << "AllowAllUp spreads through the group";
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(b->Down());

    auto* lone = Make<TFlatButton>(10, 90);
    lone->SetDown(true);
    EXPECT_FALSE(lone->Down()) << "an ungrouped button cannot latch";
}

TEST_F(FlatButtons, spaceClicksOnKeyUpAndLatchesAGroupedButtonOnKeyDown)
{
    auto* b = Make<TFlatButton>(10, 10);
    b->setFocus();
    QTest::keyPress(b, Qt::Key_Space);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(b->DrawState(), ButtonDrawState::Pressed);
    QTest::keyRelease(b, Qt::Key_Space);
    EXPECT_EQ(clicks, 1);

    b->SetGroupIndex(1);
    QTest::keyPress(b, Qt::Key_Space);
    EXPECT_TRUE(b->Down());
    QTest::keyRelease(b, Qt::Key_Space);
    EXPECT_TRUE(b->Down());
    EXPECT_EQ(clicks, 2);
    QTest::keyClick(b, Qt::Key_Return);
    EXPECT_EQ(clicks, 2) << "Enter does nothing";
}

// A focused button shows a dotted mark inside its frame; keys it does not use
// (Ctrl+Tab, Ctrl+PageDown) go on to its containers.
TEST_F(FlatButtons, aFocusedButtonShowsItAndPassesOnKeysItDoesNotUse)
{
    struct Container : QWidget {
        QList<int> keys;
        void keyPressEvent(QKeyEvent* e) override
        {
            if (e->key() != Qt::Key_Control)
                keys << e->key();
        }
    };
    auto* box = new Container;
    box->setParent(form.get());
    box->setGeometry(0, 0, 200, 100);
    box->show();
    auto* b = new TFlatButton(box);
    b->setGeometry(10, 10, 89, 25);
    b->SetTabStop(true);
    b->show();
    const QRect mark = b->rect().adjusted(3, 3, -4, -4);
    EXPECT_EQ(FocusMarkPixels(Face(b), mark, FocusMarkColor(b)), 0);
    b->setFocus();
    EXPECT_GE(FocusMarkPixels(Face(b), mark, FocusMarkColor(b)), mark.width() / 2);
    QTest::keyClick(b, Qt::Key_Tab, Qt::ControlModifier);
    QTest::keyClick(b, Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(box->keys, (QList<int>{Qt::Key_Tab, Qt::Key_PageDown}));
    EXPECT_TRUE(b->hasFocus());
}

TEST_F(FlatButtons, acceleratorsClickByAltLetterAndByTheFormOnlyWhatIsSeen)
{
    auto* edit = new QLineEdit(form.get());
    edit->move(150, 150);
    edit->show();
    auto* close = Make<TFlatButton>(10, 10, 89, 25, "&Chiudi");
    auto* other = Make<TFlatButton>(10, 50, 89, 25, "Pulisci");
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(clicks, 1) << "Alt+C from an edit";
    QTest::keyClick(edit, Qt::Key_C);
    EXPECT_EQ(clicks, 1) << "an edit keeps its plain characters";
    EXPECT_EQ(edit->text(), "c");

    other->setFocus();
    QTest::keyClick(other, Qt::Key_C);
    EXPECT_EQ(clicks, 1) << "a plain letter typed on a button clicks nothing";
    QTest::keyClick(other, Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(clicks, 2) << "Alt+C from a button";
    if (QApplication::focusWidget() != nullptr)
        QApplication::focusWidget()->clearFocus();
    QTest::keyClick(form.get(), Qt::Key_C);
    EXPECT_EQ(clicks, 2) << "nor while no control has the focus";

    close->hide();
    EXPECT_FALSE(OfferDialogChar(form.get(), 'C')) << "a hidden button ignores its accelerator";
    close->show();
    close->setEnabled(false);
    EXPECT_FALSE(OfferDialogChar(form.get(), 'c'));
    auto* page = new QWidget(form.get());
    page->hide();
    auto* onHiddenPage = new TFlatButton(page);
    onHiddenPage->SetCaption("&Esegue");
    onHiddenPage->OnClick = [&](QObject*) { ++clicks; };
    EXPECT_FALSE(OfferDialogChar(form.get(), 'e')) << "nor does a button on a hidden page";
    EXPECT_EQ(clicks, 2);

    auto* speed = Make<TFlatSpeedButton>(10, 90, 89, 25, "&Apri");
    speed->SetGroupIndex(2);
    EXPECT_TRUE(OfferDialogChar(form.get(), 'a'));
    EXPECT_FALSE(speed->Down()) << "a speed button's accelerator does not latch it";
}

// A form whose controls are all flat buttons (no tab stops): no control has
// the focus, and the key arriving at the window itself still reaches them.
TEST_F(FlatButtons, acceleratorsWorkWhileNoControlHasTheFocus)
{
    Make<TFlatButton>(10, 10, 89, 25, "&Chiudi");
    if (QApplication::focusWidget() != nullptr)
        QApplication::focusWidget()->clearFocus();
    ASSERT_EQ(QApplication::focusWidget(), nullptr);
    QTest::keyClick(form.get(), Qt::Key_C, Qt::AltModifier);
    EXPECT_EQ(clicks, 1);
}

TEST_F(FlatButtons, speedButtonNeverTakesTheFocus)
{
    auto* edit = new QLineEdit(form.get());
    edit->show();
    edit->setFocus();
    auto* speed = Make<TFlatSpeedButton>(10, 50);
    QTest::mouseClick(speed, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(edit->hasFocus());
}

TEST_F(FlatButtons, hoverTrackerWatchesOneButtonOfAClassAtATime)
{
    auto* a = Make<TFlatButton>(10, 10);
    auto* b = Make<TFlatButton>(10, 50);
    auto* speed = Make<TFlatSpeedButton>(10, 90);
    PointAt(a);
    EXPECT_TRUE(a->Hovered());
    PointAt(b);
    EXPECT_TRUE(b->Hovered());
    EXPECT_FALSE(a->Hovered()) << "moving between two buttons of one class leaves one hovered";
    EXPECT_EQ(TFlatButton::Tracker().HoverControl, static_cast<TFlatHoverable*>(b));
    PointAt(speed);
    EXPECT_TRUE(speed->Hovered());
    EXPECT_TRUE(b->Hovered()) << "each class has its own tracker";

    PointAt(nullptr);
    QTest::qWait(250);  // the 100 ms hover timer notices the pointer left
    EXPECT_FALSE(b->Hovered());
    EXPECT_FALSE(speed->Hovered());
}

TEST_F(FlatButtons, theLastInstanceFreesTheClassTimer)
{
    form.reset();
    EXPECT_EQ(TFlatButton::HoverTimer(), nullptr);
    {
        TFlatButton first;
        ASSERT_NE(TFlatButton::HoverTimer(), nullptr);
        EXPECT_EQ(TFlatButton::HoverTimer()->interval(), 100);
        TFlatButton second;
    }
    EXPECT_EQ(TFlatButton::HoverTimer(), nullptr);
    EXPECT_EQ(TFlatButton::Tracker().InstanceCount, 0);
}

TEST_F(FlatButtons, clickSetsTheModalResultOfItsDialog)
{
    QDialog dialog;
    auto* ok = new TFlatButton(&dialog);
    ok->SetModalResult(QDialog::Accepted);
    dialog.setResult(5);
    ok->Click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    auto* none = new TFlatButton(&dialog);
    dialog.setResult(5);
    none->Click();
    EXPECT_EQ(dialog.result(), 0) << "a result of 0 clears a pending one";
}

TEST_F(FlatButtons, advancedColoursFollowTheParentColour)
{
    auto* b = Make<TFlatButton>(10, 10);
    b->SetUseAdvColors(true);
    EXPECT_EQ(b->ColorFocused(), DeriveAdvancedColor(kDefaultFace, 0, 10, lighten));
    EXPECT_EQ(b->ColorBorder(), DeriveAdvancedColor(kDefaultFace, 0, 50, darken));
    QPalette palette = form->palette();
    palette.setColor(QPalette::Window, QColor(100, 150, 200));
    form->setPalette(palette);
    EXPECT_EQ(b->Color(), FromQColor(QColor(100, 150, 200)));
    EXPECT_EQ(b->ColorDown(), DeriveAdvancedColor(b->Color(), 0, 10, darken));
    b->SetColor(0x0000FF);
    b->SetAdvColorDown(10);  // derived from the colour of its own
    ASSERT_FALSE(b->ParentColor());
    b->SetParentColor(true);
    EXPECT_EQ(b->Color(), FromQColor(QColor(100, 150, 200)));
    EXPECT_EQ(b->ColorDown(), DeriveAdvancedColor(b->Color(), 0, 10, darken)) << "ParentColor back on derives again";
    b->SetMargin(-5);
    EXPECT_EQ(b->Margin(), -1) << "margins below -1 are refused";
}

}  // namespace
