// The flat hint window's size, placement and arrow; the window animation;
// the sound component.
#include "TFlatAnimWndUnit.h"
#include "TFlatHintUnit.h"
#include "TFlatSoundUnit.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

const QRect kScreen(0, 0, 1024, 768);

QFont HintFont()
{
    QFont font("MS Sans Serif");
    font.setPixelSize(11);
    return font;
}

QRect Measure(const QString& text, int width)
{
    return QFontMetrics(HintFont()).boundingRect(QRect(0, 0, width, 1 << 20),
                                                 Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
}

class FlatHint : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings = std::make_unique<TFlatHint>();
        settings->SetFont(HintFont());
    }
    std::unique_ptr<TFlatHint> settings;
    TFlatHintWindow window;
};

TEST_F(FlatHint, oneLineHintIsTextWidthPlus22ByTextHeightPlus6)
{
    window.ActivateHintAt(QRect(0, 0, 0, 0), "Chiude Arcovelo", {100, 100}, kScreen);
    const QRect text = Measure("Chiude Arcovelo", 178);
    EXPECT_EQ(window.size(), QSize(text.width() + 22, text.height() + 6));
}

TEST_F(FlatHint, longHintsWrapAt178PixelsUnlessOneWordIsWider)
{
    const QString longHint = "Imposta il tipo di compressione da usare per creare l'archivio di backup";
    window.ActivateHintAt(QRect(), longHint, {100, 100}, kScreen);
    EXPECT_LE(window.width(), 200);
    EXPECT_GT(window.height(), QFontMetrics(HintFont()).height() + 6) << "wrapped onto more lines";
    const QString word(60, 'W');
    window.ActivateHintAt(QRect(), word, {100, 100}, kScreen);
    EXPECT_GT(window.width(), 200);
}

TEST_F(FlatHint, standsAwayFromTheNearestScreenCorner)
{
    window.ActivateHintAt(QRect(), "Suggerimento", {100, 100}, kScreen);
    EXPECT_EQ(window.HintPlacement(), 1);
    EXPECT_EQ(window.geometry().topLeft(), QPoint(112, 112));
    window.grab();
    EXPECT_EQ(window.ArrowAnchor(), QPoint(3, 3));

    window.ActivateHintAt(QRect(), "Suggerimento", {1000, 700}, kScreen);
    EXPECT_EQ(window.HintPlacement(), 2);
    EXPECT_EQ(window.geometry().bottomRight(), QPoint(994, 694)) << "right and bottom edges at 995, 695";
    window.grab();
    EXPECT_EQ(window.ArrowAnchor(), QPoint(window.width() - 4, window.height() - 4));

    window.ActivateHintAt(QRect(), "Suggerimento", {512, 100}, kScreen);
    EXPECT_EQ(window.HintPlacement(), 0) << "x = SW/2 belongs to the right half";
    window.ActivateHintAt(QRect(), "Suggerimento", {100, 600}, kScreen);
    EXPECT_EQ(window.HintPlacement(), 3);
}

TEST_F(FlatHint, drawsTheArrowInItsStrip)
{
    window.ActivateHintAt(QRect(), "Suggerimento", {100, 100}, kScreen);
    const QImage face = window.grab().toImage();
    std::set<std::pair<int, int>> arrow;
    for (int i = 0; i + 1 < 18; ++i) {
        const QPoint a = TFlatHintWindow::kArrowOffsets[i], b = TFlatHintWindow::kArrowOffsets[i + 1];
        const int steps = std::max(std::abs(b.x() - a.x()), std::abs(b.y() - a.y()));
        for (int s = 0; s < steps; ++s)
            arrow.insert({3 + a.x() + (b.x() - a.x()) * s / steps, 3 + a.y() + (b.y() - a.y()) * s / steps});
    }
    for (const auto& [x, y] : arrow)
        EXPECT_EQ(face.pixel(x, y), qRgb(0, 0, 0)) << x << "," << y;
    EXPECT_EQ(face.pixel(12, 3), qRgb(255, 210, 83)) << "strip background";
    EXPECT_EQ(face.pixel(0, 0), qRgb(0, 0, 0)) << "frame";
    EXPECT_EQ(face.pixel(window.width() - 3, 2), qRgb(255, 255, 255)) << "text area";
}

TEST_F(FlatHint, settingsComeFromTheLiveComponentOrTheDefaults)
{
    EXPECT_EQ(FindHintSettings(), settings.get());
    settings->SetMaxHintWidth(100);
    window.ActivateHintAt(QRect(), "Imposta il tipo di compressione da usare", {100, 100}, kScreen);
    EXPECT_LE(window.width(), 100);
    settings.reset();
    EXPECT_EQ(FindHintSettings(), nullptr);
    window.ActivateHintAt(QRect(), "Imposta il tipo di compressione da usare", {100, 100}, kScreen);
    EXPECT_GT(window.width(), 100) << "the defaults, not a destroyed component";
    window.grab();
}

TEST_F(FlatHint, hintsSwitchedOffStayOff)
{
    SetApplicationShowHint(false);
    TFlatHint another;
    EXPECT_FALSE(ApplicationShowHint());
    SetApplicationShowHint(true);
    EXPECT_EQ(TFlatHint::HintPause, 500);
    EXPECT_EQ(TFlatHint::HintShortPause, 25);
    EXPECT_EQ(TFlatHint::HintHidePause, 5000);
}

TEST_F(FlatHint, theControlsTooltipAppearsInTheFlatWindowAfterThePause)
{
    QWidget form;
    form.resize(200, 100);
    QWidget* control = new QWidget(&form);
    control->setGeometry(20, 20, 80, 30);
    control->setToolTip("Chiude Arcovelo");
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    auto flatHintShown = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* hint = qobject_cast<TFlatHintWindow*>(w); hint && hint->isVisible() && hint->Text() == "Chiude Arcovelo")
                return true;
        return false;
    };
    QTest::mouseMove(&form, QPoint(150, 80));
    QCursor::setPos(control->mapToGlobal(QPoint(10, 10)));
    QTest::mouseMove(control, QPoint(10, 10));
    EXPECT_FALSE(flatHintShown()) << "not before the pause";
    EXPECT_TRUE(QTest::qWaitFor(flatHintShown, 2000));
    QTest::mousePress(control, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_FALSE(flatHintShown()) << "a press hides it";
    QTest::mouseRelease(control, Qt::LeftButton, {}, QPoint(10, 10));
}

// A shown form for the animation component.
class FlatAnimWnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        form.setGeometry(100, 100, 300, 200);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }
    QWidget form;
};

TEST_F(FlatAnimWnd, minimizingAndRestoringAnimateFromAndToTheTopEdge)
{
    TFlatAnimWnd anim(&form);
    QObject* minimizedBy = nullptr;
    QObject* restoredBy = nullptr;
    anim.OnMinimize = [&](QObject* s) { minimizedBy = s; };
    anim.OnRestore = [&](QObject* s) { restoredBy = s; };
    const QRect frame = form.frameGeometry();

    form.showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return minimizedBy != nullptr; }, 2000));
    EXPECT_EQ(minimizedBy, qApp);
    EXPECT_EQ(anim.AnimationSteps().front(), frame);
    EXPECT_EQ(anim.AnimationSteps().back(), QRect(frame.left(), frame.top(), frame.width(), 0));

    form.showNormal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return restoredBy != nullptr; }, 2000));
    EXPECT_EQ(restoredBy, qApp);
    EXPECT_EQ(anim.AnimationSteps().front().height(), 0) << "restoring starts at the top edge";
    EXPECT_EQ(anim.AnimationSteps().front().topLeft(), frame.topLeft());
    EXPECT_EQ(anim.AnimationSteps().back().height(), frame.height());
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.isMinimized());
}

// Minimise and restore twice, faster than the animation: every one raises
// its callback.
TEST_F(FlatAnimWnd, quickMinimizeAndRestoreLoseNoCallback)
{
    TFlatAnimWnd anim(&form);
    int minimized = 0;
    int restored = 0;
    anim.OnMinimize = [&](QObject*) { ++minimized; };
    anim.OnRestore = [&](QObject*) { ++restored; };
    for (int i = 0; i < 2; ++i) {
        form.showMinimized();
        QApplication::processEvents();
        form.showNormal();
        QApplication::processEvents();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !anim.Animating(); }, 2000));
    EXPECT_EQ(minimized, 2);
    EXPECT_EQ(restored, 2);
}

TEST_F(FlatAnimWnd, aSecondComponentOnOneFormIsRefused)
{
    TFlatAnimWnd first(&form);
    try {
        TFlatAnimWnd second(&form);
        FAIL() << "a second component was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Owner must be TFORM");
    }
    QWidget child(&form);
    EXPECT_THROW(TFlatAnimWnd notAForm(&child), std::runtime_error);
}

TEST(FlatSound, holdsItsEventAndPlaysNothing)
{
    TFlatSound sound;
    EXPECT_EQ(sound.Event(), TFlatSound::seBtnClick);
    sound.setProperty("Event", TFlatSound::sePanelExpand);
    EXPECT_EQ(sound.Event(), TFlatSound::sePanelExpand);
}

}  // namespace
