// The flat check box, radio button and list box: marks pixel by pixel, the
// toggle and exclusivity rules, rows, selection, scrolling and the wheel.
#include "TFlatCheckBoxUnit.h"
#include "TFlatGroupBoxUnit.h"
#include "TFlatListBoxUnit.h"
#include "TFlatRadioButtonUnit.h"
#include "flat_fixture.h"

#include <QApplication>
#include <QCursor>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

namespace {

QRgb Rgb(TColor c) { return ToQColor(c).rgb(); }

class FlatSelection : public FlatForm {
protected:
    template <typename Control>
    Control* Make(int x, int y, QWidget* parent = nullptr)
    {
        auto* c = new Control(parent != nullptr ? parent : form.get());
        c->move(x, y);
        c->show();
        return c;
    }
    // Over the mark of a check box or radio button.
    void PointAtMark(QWidget* w) { PointAt(w, {5, 8}); }
    // Presses where the pointer is, as the list box reads it.
    static void ClickAt(QWidget* w, QPoint at, Qt::MouseButton button = Qt::LeftButton)
    {
        QCursor::setPos(w->mapToGlobal(at));
        QTest::mouseClick(w, button, {}, at);
    }
    static void Wheel(QWidget* w, int delta)
    {
        QWheelEvent event(QPointF(5, 20), QPointF(w->mapToGlobal(QPoint(5, 20))), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(w, &event);
    }
};

// ---------------------------------------------------------------- check box

TEST_F(FlatSelection, checkBoxDrawsItsSquareTickAndFills)
{
    auto* box = Make<TFlatCheckBox>(10, 10);
    box->SetCaption("Usa path originario");
    QImage rest = Face(box);
    EXPECT_EQ(rest.pixel(1, 3), Rgb(kDefaultBorder));
    EXPECT_EQ(rest.pixel(11, 13), Rgb(kDefaultBorder));
    EXPECT_EQ(rest.pixel(5, 7), Rgb(kDefaultFace)) << "at rest the square takes Color";

    box->SetChecked(true);
    const QImage checked = Face(box);
    const int segments[6][4] = {{2, 4, 6, 8}, {2, 5, 5, 8}, {2, 6, 5, 9}, {8, 2, 4, 6}, {8, 3, 4, 7}, {8, 4, 5, 7}};
    for (const auto& s : segments) {
        const int steps = std::abs(s[2] - s[0]);
        for (int i = 0; i < steps; ++i) {
            const int x = 1 + s[0] + (s[2] - s[0]) / steps * i, y = 3 + s[1] + (s[3] - s[1]) / steps * i;
            EXPECT_EQ(checked.pixel(x, y), Rgb(clBlack)) << x << "," << y;
        }
        EXPECT_NE(checked.pixel(1 + s[2], 3 + s[3]) == Rgb(clBlack) && s[2] == 6, true) << "end pixels are left out";
    }

    PointAtMark(box);
    ASSERT_TRUE(box->Hovered());
    EXPECT_EQ(Face(box).pixel(3, 5), Rgb(clWhite)) << "hovered: ColorFocused";
    QTest::mousePress(box, Qt::LeftButton, {}, QPoint(5, 8));
    EXPECT_EQ(Face(box).pixel(3, 5), Rgb(kDefaultDown)) << "pressed: ColorDown";
    QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(5, 8));

    box->setEnabled(false);
    box->SetChecked(true);
    EXPECT_EQ(Face(box).pixel(1 + 2, 3 + 4), Rgb(clBtnShadow)) << "a disabled tick is shadow-coloured";
}

// Right layout: the square covers x = R - 12 .. R - 2, the circle R - 11 .. R - 2.
TEST_F(FlatSelection, rightLayoutPutsTheMarkAtTheRightEdge)
{
    auto* box = Make<TFlatCheckBox>(10, 10);
    box->SetLayout(checkboxRight);
    EXPECT_EQ(box->MarkRect(), QRect(121 - 12, 3, 11, 11));
    EXPECT_EQ(box->CaptionRect(), QRect(1, 1, 121 - 17, 15));
    const QImage face = Face(box);
    EXPECT_EQ(face.pixel(109, 3), Rgb(kDefaultBorder));
    EXPECT_EQ(face.pixel(119, 13), Rgb(kDefaultBorder));
    EXPECT_EQ(face.pixel(108, 8), Rgb(kDefaultFace)) << "nothing left of the square";

    auto* radio = Make<TFlatRadioButton>(10, 40);
    radio->SetLayout(radioRight);
    EXPECT_EQ(radio->MarkRect(), QRect(121 - 11, 3, 10, 10));
    const QImage circle = Face(radio);
    EXPECT_EQ(circle.pixel(110, 7), Rgb(kDefaultBorder)) << "the circle's left edge";
    EXPECT_EQ(circle.pixel(109, 7), Rgb(kDefaultFace));
}

// Losing the focus while hovered runs the whole hover-leave step: the box
// answers the pointer and clicks again, and the class timer stops.
TEST_F(FlatSelection, aMarkThatLosesTheFocusWhileHoveredAnswersThePointerAgain)
{
    auto* box = Make<TFlatCheckBox>(10, 10);
    auto* radio = Make<TFlatRadioButton>(10, 40);
    auto* edit = Make<QLineEdit>(10, 100);
    for (TFlatMarkControl* mark : std::initializer_list<TFlatMarkControl*>{box, radio}) {
        PointAtMark(mark);
        QTest::mouseClick(mark, Qt::LeftButton, {}, QPoint(5, 8));
        ASSERT_TRUE(mark->Hovered());
        edit->setFocus();  // Tab away, the pointer still on the mark
        EXPECT_FALSE(mark->Hovered());
        const QTimer* timer = mark == box ? TFlatCheckBox::HoverTimer() : TFlatRadioButton::HoverTimer();
        EXPECT_FALSE(timer->isActive()) << "the class timer stops";
        PointAtMark(mark);
        EXPECT_TRUE(mark->Hovered()) << "the pointer hovers it again";
    }
    const bool before = box->Checked();
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, 8));
    EXPECT_NE(box->Checked(), before) << "a click toggles it again";
}

// Hover enter and leave repaint the mark only, never the caption or background.
TEST_F(FlatSelection, hoverRepaintsOnlyTheMark)
{
    auto* box = Make<TFlatCheckBox>(10, 10);
    struct PaintSpy : QObject {
        QRegion painted;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint)
                painted += static_cast<QPaintEvent*>(e)->region();
            return false;
        }
    } spy;
    box->installEventFilter(&spy);
    QTest::qWait(50);
    spy.painted = QRegion();  // the first paint of the new box
    PointAtMark(box);
    QTest::qWait(50);
    EXPECT_TRUE(box->Hovered());
    EXPECT_EQ(spy.painted.boundingRect(), box->MarkRect());
}

TEST_F(FlatSelection, checkBoxTogglesOnReleaseWhileCountedAsHovered)
{
    auto* box = Make<TFlatCheckBox>(10, 10);
    int clicks = 0;
    box->OnClick = [&](QObject*) { ++clicks; };
    PointAtMark(box);
    QTest::mousePress(box, Qt::LeftButton, {}, QPoint(5, 8));
    PointAt(form.get(), QPoint(300, 300));
    QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(290, 290));
    EXPECT_TRUE(box->Checked()) << "dragged off and released outside still toggles";
    EXPECT_EQ(clicks, 1);

    auto* edit = Make<QLineEdit>(10, 100);
    PointAtMark(box);
    QTest::mousePress(box, Qt::LeftButton, {}, QPoint(5, 8));
    edit->setFocus();
    QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(5, 8));
    EXPECT_TRUE(box->Checked()) << "losing the focus before the release cancels the toggle";

    box->SetChecked(true);
    EXPECT_EQ(clicks, 1) << "the same value raises nothing";
    box->SetChecked(false);
    EXPECT_EQ(clicks, 2) << "a change by program raises OnClick";
}

TEST_F(FlatSelection, checkBoxAnswersItsAcceleratorAndTheSpaceBar)
{
    auto* box = Make<TFlatCheckBox>(10, 10);
    box->SetCaption("&Usa path originario");
    auto* edit = Make<QLineEdit>(10, 100);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_U, Qt::AltModifier);
    EXPECT_TRUE(box->hasFocus());
    EXPECT_TRUE(box->Checked());
    QTest::keyClick(box, Qt::Key_Space);
    EXPECT_FALSE(box->Checked());
}

// ---------------------------------------------------------------- radio

TEST_F(FlatSelection, radioButtonDrawsItsCircleAndDot)
{
    auto* radio = Make<TFlatRadioButton>(10, 10);
    radio->SetChecked(true);
    const QImage face = Face(radio);
    EXPECT_EQ(face.pixel(6, 3), Rgb(kDefaultBorder)) << "top of the circle";
    EXPECT_EQ(face.pixel(1, 8), Rgb(kDefaultBorder)) << "left of the circle";
    EXPECT_EQ(face.pixel(1, 3), Rgb(kDefaultFace)) << "outside the circle";
    EXPECT_EQ(face.pixel(5, 7), Rgb(clBlack)) << "the dot";
    EXPECT_EQ(face.pixel(3, 8), Rgb(kDefaultFace)) << "fill at rest";
    radio->setEnabled(false);
    EXPECT_EQ(Face(radio).pixel(5, 7), Rgb(clBtnShadow));
}

TEST_F(FlatSelection, radioButtonsOfOneParentAndGroupExcludeEachOther)
{
    auto* box = Make<TFlatGroupBox>(10, 10);
    auto* original = Make<TFlatRadioButton>(8, 20, box);
    auto* other = Make<TFlatRadioButton>(8, 40, box);
    auto* separateGroup = Make<TFlatRadioButton>(8, 60, box);
    separateGroup->SetGroupIndex(2);
    auto* elsewhere = Make<TFlatRadioButton>(10, 200);
    std::vector<QObject*> clicked;
    for (auto* r : {original, other, separateGroup, elsewhere})
        r->OnClick = [&](QObject* s) { clicked.push_back(s); };
    original->SetChecked(true);
    separateGroup->SetChecked(true);
    elsewhere->SetChecked(true);
    clicked.clear();

    ClickAt(other, QPoint(5, 8));
    EXPECT_TRUE(other->Checked());
    EXPECT_FALSE(original->Checked());
    EXPECT_TRUE(separateGroup->Checked()) << "another GroupIndex is independent";
    EXPECT_TRUE(elsewhere->Checked()) << "another parent is independent";
    EXPECT_EQ(clicked, (std::vector<QObject*>{other}));
    EXPECT_TRUE(other->TabStop());
    EXPECT_FALSE(original->TabStop()) << "the tab stop moves to the checked one";

    ClickAt(other, QPoint(5, 8));
    EXPECT_EQ(clicked.size(), 1u) << "clicking a checked radio changes nothing";
    QTest::mousePress(original, Qt::LeftButton, {}, QPoint(5, 8));
    QTest::mouseRelease(original, Qt::LeftButton, {}, QPoint(original->width(), original->height()));
    EXPECT_TRUE(original->Checked()) << "X = Width, Y = Height still count as inside";
}

TEST_F(FlatSelection, radioAcceleratorOnlyMovesTheFocus)
{
    auto* radio = Make<TFlatRadioButton>(10, 10);
    radio->SetCaption("&Altro path");
    EXPECT_TRUE(OfferDialogChar(form.get(), 'a'));
    EXPECT_TRUE(radio->hasFocus());
    EXPECT_FALSE(radio->Checked());
}

// The focused check box or radio button marks its caption; the arrow keys
// check the next or previous radio button of the group, the space bar the
// focused one.
TEST_F(FlatSelection, marksShowTheFocusAndRadioButtonsFollowTheArrows)
{
    auto* box = Make<TFlatGroupBox>(10, 10);
    box->resize(200, 90);
    auto* first = Make<TFlatRadioButton>(8, 16, box);
    auto* second = Make<TFlatRadioButton>(8, 36, box);
    first->SetCaption("Path originale");
    second->SetCaption("Altro path");
    first->SetChecked(true);
    first->setFocus();
    const QColor mark = FocusMarkColor(first);
    const QRect caption = first->CaptionRect();
    const auto markAboveCaption = [&](QWidget* w) {
        return FocusMarkPixels(Face(w), QRect(caption.left() - 2, 0, caption.width(), 1), mark);
    };
    EXPECT_GT(markAboveCaption(first), 10);
    EXPECT_EQ(markAboveCaption(second), 0);
    QTest::keyClick(first, Qt::Key_Down);
    EXPECT_TRUE(second->Checked() && second->hasFocus());
    EXPECT_FALSE(first->Checked());
    EXPECT_GT(markAboveCaption(second), 10);
    EXPECT_EQ(markAboveCaption(first), 0);
    QTest::keyClick(second, Qt::Key_Down);
    EXPECT_TRUE(first->Checked()) << "the arrows wrap around";
    second->setFocus();
    QTest::keyClick(second, Qt::Key_Space);
    EXPECT_TRUE(second->Checked());
}

// ---------------------------------------------------------------- list box

TEST_F(FlatSelection, listBoxLaysOutWholeRowsAndSnapsItsHeight)
{
    auto* list = Make<TFlatListBox>(10, 10);
    EXPECT_EQ(list->size(), QSize(137, 99));
    EXPECT_EQ(list->VisibleRows(), 5);
    list->SetScrollBars(true);
    EXPECT_EQ(list->height(), 119);
    EXPECT_EQ(list->VisibleRows(), 5);
    EXPECT_EQ(list->RowRects().front().top(), 13);
    EXPECT_EQ(list->RowRects()[1].top(), 13 + 19);

    const struct {
        bool bands;
        int height, rows;
    } selectors[] = {{false, 42, 2}, {true, 62, 2}, {true, 81, 3}, {true, 271, 13}};
    for (const auto& s : selectors) {
        auto* box = Make<TFlatListBox>(200, 10);
        box->SetScrollBars(s.bands);
        box->resize(137, s.height);
        EXPECT_EQ(box->VisibleRows(), s.rows) << s.height;
        EXPECT_EQ(box->height(), s.height);
        delete box;
    }
    list->resize(137, 99);
    EXPECT_EQ(list->height(), 81) << "99 snaps down to three rows";
    list->resize(137, 100);
    EXPECT_EQ(list->height(), 100);
    EXPECT_EQ(list->VisibleRows(), 4);
}

TEST_F(FlatSelection, itemIndexIsLooselyCoupledToTheSelection)
{
    auto* list = Make<TFlatListBox>(10, 10);
    QStringList items{"  uno ", "due", "tre"};
    list->SetItems(items);
    EXPECT_EQ(items.front(), "uno") << "the caller's list is trimmed too";
    EXPECT_EQ(list->ItemIndex(), -1);
    list->SetItemIndex(0);
    EXPECT_TRUE(list->Selected(0));
    const QRect row = list->RowRects().front();
    EXPECT_EQ(Face(list).pixel(row.right() - 2, row.center().y()), Rgb(0x9CDEF7)) << "item 0 drawn selected";
    EXPECT_EQ(Face(list).pixel(row.left(), row.top()), Rgb(kDefaultBorder));

    list->Items().Clear();
    EXPECT_FALSE(list->Selected(0)) << "changing the items empties the selection";
    EXPECT_EQ(list->ItemIndex(), 0) << "and keeps ItemIndex";

    QStringList tooMany;
    for (int i = 0; i < 257; ++i)
        tooMany << QString::number(i);
    list->SetItems(tooMany);
    EXPECT_EQ(list->Items().Count(), 0) << "257 items are ignored";
}

TEST_F(FlatSelection, clicksSelectTheRowUnderThePointer)
{
    auto* list = Make<TFlatListBox>(10, 10);
    for (int i = 0; i < 10; ++i)
        list->Items().Add("item " + QString::number(i));
    QApplication::setWheelScrollLines(2);
    Wheel(list, -120);
    ASSERT_EQ(list->TopIndex(), 2);
    int clicks = 0, downs = 0;
    list->OnClick = [&](QObject*) { ++clicks; };
    list->OnMouseDown = [&](QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int) { ++downs; };
    ClickAt(list, list->RowRects()[1].center());
    EXPECT_EQ(list->ItemIndex(), 3);
    EXPECT_TRUE(list->Selected(3));
    EXPECT_FALSE(list->Selected(0));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(downs, 0) << "a left press on a row raises no OnMouseDown";

    list->SetMultiSelect(true);
    EXPECT_EQ(list->ItemIndex(), 0);
    ClickAt(list, list->RowRects()[2].center());
    EXPECT_TRUE(list->Selected(3) && list->Selected(4));
    ClickAt(list, list->RowRects()[1].center());
    EXPECT_FALSE(list->Selected(3)) << "a click on a selected row deselects it";
    EXPECT_EQ(list->ItemIndex(), 3);

    auto* edit = Make<QLineEdit>(10, 300);
    edit->setFocus();
    ClickAt(list, list->RowRects()[0].center(), Qt::RightButton);
    EXPECT_FALSE(list->Selected(2));
    EXPECT_TRUE(edit->hasFocus()) << "a right press neither selects nor focuses";
    EXPECT_EQ(downs, 1);
}

// In a single-selection box the navigation keys move the selection and keep
// it in view; the wheel only scrolls.
TEST_F(FlatSelection, keysMoveTheSelectionIntoViewAndTheWheelOnlyScrolls)
{
    auto* list = Make<TFlatListBox>(10, 10);
    list->SetItemHeight(17);
    list->resize(137, 7 * 19 + 4);
    ASSERT_EQ(list->VisibleRows(), 7);
    for (int i = 0; i < 3; ++i)
        list->Items().Add(QString::number(i));
    list->setFocus();
    QTest::keyClick(list, Qt::Key_PageDown);
    EXPECT_EQ(list->ItemIndex(), 2) << "3 items: Page Down stops at the last";
    EXPECT_EQ(list->TopIndex(), 0);
    for (int i = 3; i < 20; ++i)
        list->Items().Add(QString::number(i));
    QTest::keyClick(list, Qt::Key_Home);
    for (int i = 0; i < 10; ++i)
        QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(list->ItemIndex(), 10);
    EXPECT_EQ(list->TopIndex(), 4) << "the selection comes into view at the bottom";
    QTest::keyClick(list, Qt::Key_PageDown);
    EXPECT_EQ(list->ItemIndex(), 16);
    QTest::keyClick(list, Qt::Key_End);
    EXPECT_EQ(list->ItemIndex(), 19);
    EXPECT_EQ(list->TopIndex(), 13);
    QTest::keyClick(list, Qt::Key_PageUp);
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(list->ItemIndex(), 12);
    EXPECT_EQ(list->TopIndex(), 12) << "and at the top";
    EXPECT_TRUE(list->Selected(12));
    EXPECT_EQ(list->SelectedCount(), 1);

    QApplication::setWheelScrollLines(3);
    Wheel(list, 120);
    EXPECT_EQ(list->TopIndex(), 9);
    Wheel(list, -120);
    EXPECT_EQ(list->TopIndex(), 12);
    Wheel(list, 240);
    Wheel(list, -240);
    EXPECT_EQ(list->TopIndex(), 12) << "two notches at once do nothing";
    Wheel(list, -120);
    Wheel(list, -120);
    EXPECT_EQ(list->TopIndex(), 13) << "stops at the last page";
    EXPECT_EQ(list->ItemIndex(), 12) << "the wheel never selects";
}

// A box of many rows selects any number of them, beyond 256 too: click,
// Ctrl+click, Shift+click, Space on the row the keys move to, Shift+key and
// Ctrl+A; Ctrl with another key is left to the containers.
TEST_F(FlatSelection, extendedSelectionTakesAnyRowsByMouseAndKeys)
{
    auto* list = Make<TFlatListBox>(10, 10);
    list->SetExtendedSelect(true);
    QStringList items;
    for (int i = 0; i < 300; ++i)
        items << "riga " + QString::number(i);
    list->Items().Assign(items);
    int changes = 0;
    list->OnSelectionChange = [&](QObject*) { ++changes; };
    const auto row = [&](int r) { return list->RowRects()[std::size_t(r)].center(); };

    ClickAt(list, row(0));
    QTest::keyClick(list, Qt::Key_End);
    EXPECT_EQ(list->ItemIndex(), 299);
    EXPECT_EQ(list->TopIndex(), 295);
    EXPECT_EQ(list->SelectedCount(), 1) << "moving does not select";
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_TRUE(list->Selected(0) && list->Selected(299));
    QTest::keyClick(list, Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(list, Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(list->SelectedCount(), 3) << "Shift+Up twice from the row Space took";
    EXPECT_TRUE(list->Selected(297) && !list->Selected(0));

    QTest::keyClick(list, Qt::Key_Home);
    ClickAt(list, row(1));
    QTest::keyClick(list, Qt::Key_End);
    QTest::mouseClick(list, Qt::LeftButton, Qt::ControlModifier, row(0));  // the pointer stays on row 1
    EXPECT_TRUE(list->Selected(1) && list->Selected(296));
    QCursor::setPos(list->mapToGlobal(row(4)));
    QTest::mouseClick(list, Qt::LeftButton, Qt::ShiftModifier, row(4));
    EXPECT_EQ(list->SelectedCount(), 4) << "Shift+click: the rows from the last clicked";
    EXPECT_TRUE(list->Selected(296) && list->Selected(299) && !list->Selected(1));

    QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(list->SelectedCount(), 300);
    ClickAt(list, row(2));
    EXPECT_EQ(list->SelectedCount(), 1);
    EXPECT_TRUE(list->Selected(297));
    EXPECT_EQ(changes, 9);

    QKeyEvent pageKey(QEvent::KeyPress, Qt::Key_PageDown, Qt::ControlModifier);
    QApplication::sendEvent(list, &pageKey);
    EXPECT_FALSE(pageKey.isAccepted()) << "Ctrl+PageDown switches pages, not rows";
}

// The focused box marks its current row (or its inside when there is none).
TEST_F(FlatSelection, aFocusedListMarksItsCurrentRow)
{
    auto* list = Make<TFlatListBox>(10, 10);
    for (const char* item : {"uno", "due", "tre"})
        list->Items().Add(item);
    auto* edit = Make<QLineEdit>(10, 200);
    edit->setFocus();
    const QColor mark = FocusMarkColor(list);
    const QRect row1 = list->RowRects()[1].adjusted(1, 1, -1, -1);
    list->SetItemIndex(1);
    EXPECT_EQ(FocusMarkPixels(Face(list), row1, mark), 0);
    list->setFocus();
    EXPECT_GE(FocusMarkPixels(Face(list), row1, mark), row1.width() / 2);
    list->Items().Clear();
    EXPECT_GT(FocusMarkPixels(Face(list), list->rect().adjusted(1, 1, -1, -1), mark), list->width() / 3);
}

// A row too long for the box is shown cut in the middle, both ends readable,
// and whole in its tooltip; elsewhere the box's own tooltip applies.
TEST_F(FlatSelection, aLongRowIsElidedInTheMiddleAndWholeInItsHint)
{
    auto* list = Make<TFlatListBox>(10, 10);
    list->setToolTip("Suggerimento");
    const QString longRow = "/inizio/" + QString(220, 'x') + "/fine.txt data 01/02/2020, 7 bytes";
    list->Items().Add(longRow);
    list->Items().Add("corta");
    const QString shown = list->RowText(0);
    EXPECT_TRUE(shown.startsWith("/inizio/") && shown.endsWith("7 bytes") && shown.size() < longRow.size())
        << shown.toStdString();
    EXPECT_LE(QFontMetrics(list->font()).horizontalAdvance(shown), list->RowRects()[0].width() - 6);
    EXPECT_EQ(list->RowText(1), "corta");
    EXPECT_EQ(list->HintAt(list->RowRects()[0].center()), longRow);
    EXPECT_EQ(list->HintAt(list->RowRects()[1].center()), "Suggerimento");
}

// Touchpads and fine wheels send parts of a notch: they add up into notches.
TEST_F(FlatSelection, smallWheelDeltasAddUpToWholeNotches)
{
    auto* list = Make<TFlatListBox>(10, 10);
    for (int i = 0; i < 40; ++i)
        list->Items().Add("riga " + QString::number(i));
    QApplication::setWheelScrollLines(3);
    for (int i = 0; i < 7; ++i)
        Wheel(list, -15);
    EXPECT_EQ(list->TopIndex(), 0) << "seven eighths of a notch";
    Wheel(list, -15);
    EXPECT_EQ(list->TopIndex(), 3) << "eight make one notch";
    for (int i = 0; i < 16; ++i)
        Wheel(list, -15);
    EXPECT_EQ(list->TopIndex(), 9) << "sixteen make two";
    for (int i = 0; i < 8; ++i)
        Wheel(list, 15);
    EXPECT_EQ(list->TopIndex(), 6);
}

TEST_F(FlatSelection, holdingAnArrowScrollsThenRepeatsAndSurvivesAnotherBox)
{
    auto* list = Make<TFlatListBox>(10, 10);
    list->SetScrollBars(true);
    for (int i = 0; i < 30; ++i)
        list->Items().Add(QString::number(i));
    delete Make<TFlatListBox>(200, 10);  // another box comes and goes
    QTimer* timer = TFlatListBox::ScrollTimer();
    ASSERT_NE(timer, nullptr);

    const QPoint down(60, list->height() - 5);
    QCursor::setPos(list->mapToGlobal(down));
    QTest::mousePress(list, Qt::LeftButton, {}, down);
    EXPECT_EQ(list->TopIndex(), 1) << "one at the press";
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 600);
    list->ScrollTick();
    EXPECT_EQ(list->TopIndex(), 2) << "one more after 600 ms";
    EXPECT_EQ(timer->interval(), 100) << "then every 100 ms";
    list->ScrollTick();
    EXPECT_EQ(list->TopIndex(), 3);
    QTest::mouseRelease(list, Qt::LeftButton, {}, down);
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(timer->interval(), 600);
}

TEST_F(FlatSelection, listBoxDerivesItsBorderByForty)
{
    auto* list = Make<TFlatListBox>(10, 10);
    list->SetUseAdvColors(true);
    EXPECT_EQ(list->ColorBorder(), FromQColor(QColor(209, 207, 186)));
}

TEST_F(FlatSelection, sortedListsIgnoreDuplicatesWhateverTheirCase)
{
    auto* list = Make<TFlatListBox>(10, 10);
    list->Items().Add("beta");
    list->Items().Add("Alfa");
    list->SetSorted(true);
    EXPECT_EQ(list->Items().List(), (QStringList{"Alfa", "beta"}));
    list->Items().Add("ALFA");
    list->Items().Add("gamma");
    EXPECT_EQ(list->Items().List(), (QStringList{"Alfa", "beta", "gamma"}));
}

// Rows made on demand read like strings, and a change to one of them keeps
// the others as they were; a sorted list takes them sorted.
TEST_F(FlatSelection, providedRowsReadAndChangeLikeStrings)
{
    auto* list = Make<TFlatListBox>(10, 10);
    const QStringList rows{"uno", "Due", "tre"};
    list->Items().Provide(3, [&](int i) { return rows[i]; });
    EXPECT_EQ(list->Items().Count(), 3);
    EXPECT_EQ(list->Items()[1], "Due");
    EXPECT_EQ(list->Items().IndexOf("tre"), 2);
    list->Items().Delete(0);
    list->Items().Add("quattro");
    EXPECT_EQ(list->Items().List(), (QStringList{"Due", "tre", "quattro"}));
    list->SetSorted(true);
    list->Items().Provide(3, [&](int i) { return rows[i]; });
    EXPECT_EQ(list->Items().List(), (QStringList{"Due", "tre", "uno"}));
}

}  // namespace
