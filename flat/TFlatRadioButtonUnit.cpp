#include "TFlatRadioButtonUnit.h"

#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

THoverTracker& TFlatRadioButton::Tracker()
{
    static THoverTracker tracker;
    return tracker;
}

TFlatRadioButton::TFlatRadioButton(QWidget* parent) : TFlatMarkControl(Tracker(), parent)
{
    setFocusPolicy(TabStopPolicy(false));
}

void TFlatRadioButton::SetChecked(bool v)
{
    if (v == Checked())
        return;
    setFocusPolicy(TabStopPolicy(v));
    StoreChecked(v);
    if (v) {
        if (parentWidget() != nullptr)
            for (QObject* child : parentWidget()->children()) {
                auto* sibling = qobject_cast<TFlatRadioButton*>(child);
                if (sibling != nullptr && sibling != this && sibling->GroupIndex() == groupIndex_)
                    sibling->SetChecked(false);
            }
        Click();
    }
    RedrawMark();
}

QRect TFlatRadioButton::MarkRect() const
{
    return LayoutRight() ? QRect(width() - 11, 3, 10, 10) : QRect(1, 3, 10, 10);
}

void TFlatRadioButton::DrawMark(QPainter& painter)
{
    const QRect circle = MarkRect();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(ToQColor(ColorBorder()));
    painter.setBrush(MarkFill());
    // An ellipse inscribed in the bounds: the pen's outline covers the last pixel row and column.
    painter.drawEllipse(circle.adjusted(0, 0, -1, -1));
    if (Checked()) {
        const QColor dot = ToQColor(isEnabled() ? ColorDot() : clBtnShadow);
        painter.setPen(dot);
        painter.setBrush(dot);
        painter.drawEllipse(QRect(circle.x() + 3, circle.y() + 3, 3, 3));
    }
    painter.restore();
}

// A release anywhere up to and including the right and bottom edges checks it.
void TFlatRadioButton::Released(QPoint p)
{
    const bool inside = p.x() >= 0 && p.x() <= width() && p.y() >= 0 && p.y() <= height();
    if (inside && !Checked())
        SetChecked(true);
}

void TFlatRadioButton::focusInEvent(QFocusEvent* e)
{
    if (MouseHeld() && Hovered())
        SetChecked(true);
    TFlatMarkControl::focusInEvent(e);
}

bool TFlatRadioButton::DialogChar(QChar ch)
{
    if (!IsAccelerator(ch, Caption()) || !CanTakeFocus())
        return false;
    setFocus(Qt::ShortcutFocusReason);
    return true;
}

std::vector<TFlatRadioButton*> TFlatRadioButton::GroupMembers() const
{
    std::vector<TFlatRadioButton*> members;
    if (parentWidget() == nullptr)
        return members;
    for (QObject* child : parentWidget()->children()) {
        auto* radio = qobject_cast<TFlatRadioButton*>(child);
        if (radio != nullptr && radio->GroupIndex() == groupIndex_ && radio->isVisible() && radio->isEnabled())
            members.push_back(radio);
    }
    return members;
}

void TFlatRadioButton::keyPressEvent(QKeyEvent* e)
{
    int step = 0;
    if (e->key() == Qt::Key_Up || e->key() == Qt::Key_Left)
        step = -1;
    else if (e->key() == Qt::Key_Down || e->key() == Qt::Key_Right)
        step = 1;
    if (step == 0 || e->modifiers() != Qt::NoModifier) {
        TFlatMarkControl::keyPressEvent(e);
        return;
    }
    const auto members = GroupMembers();
    const auto at = std::find(members.begin(), members.end(), this);
    if (at == members.end())
        return;
    const auto count = static_cast<std::ptrdiff_t>(members.size());
    TFlatRadioButton* next = members[std::size_t(((at - members.begin()) + step + count) % count)];
    next->setFocus(Qt::TabFocusReason);
    next->SetChecked(true);
}
