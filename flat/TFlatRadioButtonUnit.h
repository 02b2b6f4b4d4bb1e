// TFlatRadioButton: a flat radio button. Checking one unchecks the other
// radio buttons of the same parent and GroupIndex; only the checked one of a
// group is a tab stop.
#pragma once

#include "TFlatCheckBoxUnit.h"

#include <vector>

class TFlatRadioButton : public TFlatMarkControl {
    Q_OBJECT
    Q_PROPERTY(TColor ColorDot READ ColorDot WRITE SetColorDot)
    Q_PROPERTY(int GroupIndex READ GroupIndex WRITE SetGroupIndex)
    Q_PROPERTY(FlatUtilitys::TRadioButtonLayout Layout READ Layout WRITE SetLayout)

public:
    explicit TFlatRadioButton(QWidget* parent = nullptr);

    // OnClick only on becoming checked.
    void SetChecked(bool v) override;
    TColor ColorDot() const { return MarkColor(); }
    void SetColorDot(TColor v) { SetMarkColor(v); }
    int GroupIndex() const { return groupIndex_; }
    void SetGroupIndex(int v) { groupIndex_ = v; }
    TRadioButtonLayout Layout() const { return LayoutRight() ? radioRight : radioLeft; }
    void SetLayout(TRadioButtonLayout v) { SetLayoutRight(v == radioRight); }
    bool TabStop() const { return IsTabStop(this); }

    QRect MarkRect() const override;
    // The accelerator only moves the focus here.
    bool DialogChar(QChar ch) override;

    static QTimer* HoverTimer() { return Tracker().HoverTimer; }
    static THoverTracker& Tracker();

protected:
    void DrawMark(QPainter& painter) override;
    void Released(QPoint p) override;
    void SpacePressed() override { SetChecked(true); }
    void focusInEvent(QFocusEvent* e) override;
    // The arrow keys check the previous or next button of the group.
    void keyPressEvent(QKeyEvent* e) override;

private:
    // The enabled, visible buttons of this one's group, in creation order.
    std::vector<TFlatRadioButton*> GroupMembers() const;

    int groupIndex_ = 0;
};
