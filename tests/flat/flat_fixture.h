// The window every flat-control test works in: the default flat face colour,
// shown and active, with helpers to point at a control and grab its face.
#pragma once

#include "FlatUtilitys.h"

#include <QApplication>
#include <QCursor>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

class FlatForm : public ::testing::Test {
public:
    void SetUp() override
    {
        form = std::make_unique<QWidget>();
        QPalette palette = form->palette();
        palette.setColor(QPalette::Window, ToQColor(kDefaultFace));
        form->setPalette(palette);
        form->resize(400, 400);
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void TearDown() override { form.reset(); }

    // Moves the pointer over `w` at `at` (or away from everything when null),
    // as a user would.
    void PointAt(QWidget* w, QPoint at = {5, 5})
    {
        // Qt drops a move to where the pointer already is: go elsewhere first.
        QTest::mouseMove(form.get(), QPoint(399, 399));
        QWidget* target = w != nullptr ? w : form.get();
        const QPoint local = w != nullptr ? at : QPoint(390, 390);
        QCursor::setPos(target->mapToGlobal(local));
        QTest::mouseMove(target, local);
    }
    static QImage Face(QWidget* w) { return w->grab().toImage(); }
    // Pixels of `color` along the top edge of `mark`: a dotted focus mark has
    // every other one.
    static int FocusMarkPixels(const QImage& face, const QRect& mark, const QColor& color)
    {
        int found = 0;
        for (int x = mark.left(); x <= mark.right(); ++x)
            found += face.pixel(x, mark.top()) == color.rgb() ? 1 : 0;
        return found;
    }

    std::unique_ptr<QWidget> form;
};
