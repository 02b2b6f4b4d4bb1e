#include "TFlatCheckBoxUnit.h"

#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

// ---------------------------------------------------------------- shared part

TFlatMarkControl::TFlatMarkControl(THoverTracker& tracker, QWidget* parent)
    : QWidget(parent), TFlatColors(this), TFlatHoverable(tracker, this)
{
    // The tick and the dot (colour 2) are never derived.
    AddDerivedColor(&colors_[0], &adv_[0], lighten);
    AddDerivedColor(&colors_[1], &adv_[1], darken);
    AddDerivedColor(&colors_[3], &adv_[2], darken);
    resize(121, 17);
    setMouseTracking(true);
    InstallAcceleratorFilter();
}

void TFlatMarkControl::SetTransparent(bool v)
{
    transparent_ = v;
    update();
}

void TFlatMarkControl::SetCaption(const QString& v)
{
    caption_ = v;
    update();
}

void TFlatMarkControl::SetLayoutRight(bool v)
{
    layoutRight_ = v;
    update();
}

void TFlatMarkControl::SetColorByIndex(int index, TColor v)
{
    colors_[index] = v;
    update();
}

void TFlatMarkControl::SetAdvColorByIndex(int index, int v)
{
    StoreAdvColor(adv_[index], v);
    update();
}

QRect TFlatMarkControl::CaptionRect() const
{
    return layoutRight_ ? QRect(1, 1, width() - 17, height() - 2) : QRect(16, 1, width() - 17, height() - 2);
}

QColor TFlatMarkControl::MarkFill() const
{
    if (focused_ || Hovered())
        return ToQColor(mouseHeld_ ? colors_[1] : colors_[0]);
    return ToQColor(Color());
}

void TFlatMarkControl::Click()
{
    if (OnClick)
        OnClick(this);
}

void TFlatMarkControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (transparent_)
        PaintParentBackground(this, painter);
    else
        painter.fillRect(rect(), ToQColor(Color()));
    DrawMark(painter);
    const int alignment = Qt::AlignTop | Qt::TextWordWrap | (layoutRight_ ? Qt::AlignRight : Qt::AlignLeft);
    painter.setFont(font());
    DrawControlCaption(painter, this, CaptionRect(), caption_, alignment);
    if (focused_)
        DrawFocusRect(painter, FocusRect(), FocusMarkColor(this));
}

// Around the caption's text, one pixel clear of it, within the control.
QRect TFlatMarkControl::FocusRect() const
{
    const int alignment = Qt::AlignTop | Qt::TextWordWrap | (layoutRight_ ? Qt::AlignRight : Qt::AlignLeft);
    QString plain = caption_;
    plain.replace("&&", QChar(1)).remove('&').replace(QChar(1), "&");
    const QRect text = QFontMetrics(font()).boundingRect(CaptionRect(), alignment, plain);
    return text.adjusted(-2, -1, 1, 0).intersected(rect());
}

// The space bar acts on the focused control as a click does.
void TFlatMarkControl::keyPressEvent(QKeyEvent* e)
{
    if (e->key() != Qt::Key_Space || e->modifiers() != Qt::NoModifier || !isEnabled()) {
        e->ignore();
        return;
    }
    if (!e->isAutoRepeat())
        SpacePressed();
}

// Only the left button on an enabled control acts; nothing else is reported.
void TFlatMarkControl::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !isEnabled())
        return;
    setFocus(Qt::MouseFocusReason);
    mouseHeld_ = true;
    RedrawMark();
    const QPoint p = e->position().toPoint();
    if (OnMouseDown)
        OnMouseDown(this, e->button(), e->modifiers(), p.x(), p.y());
}

void TFlatMarkControl::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !isEnabled())
        return;
    mouseHeld_ = false;
    const QPoint p = e->position().toPoint();
    Released(p);
    RedrawMark();
    if (OnMouseUp)
        OnMouseUp(this, e->button(), e->modifiers(), p.x(), p.y());
}

void TFlatMarkControl::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint p = e->position().toPoint();
    if (OnMouseMove)
        OnMouseMove(this, e->modifiers(), p.x(), p.y());
    TrackPointerMove();
}

void TFlatMarkControl::focusInEvent(QFocusEvent* e)
{
    QWidget::focusInEvent(e);
    if (OnEnter)
        OnEnter(this);
    if (!isEnabled())
        return;
    focused_ = true;
    update();
}

void TFlatMarkControl::focusOutEvent(QFocusEvent* e)
{
    QWidget::focusOutEvent(e);
    if (OnExit)
        OnExit(this);
    ForgetHover();
    focused_ = false;
    update();
}

void TFlatMarkControl::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    switch (e->type()) {
    case QEvent::EnabledChange:
        if (!isEnabled()) {
            ForgetHover();
            mouseHeld_ = false;
        }
        update();
        break;
    case QEvent::PaletteChange:
    case QEvent::ParentChange:
    case QEvent::ApplicationPaletteChange:
        FollowColorChange(e);
        update();
        break;
    case QEvent::FontChange:
        update();
        break;
    default:
        break;
    }
}

void TFlatMarkControl::moveEvent(QMoveEvent* e)
{
    QWidget::moveEvent(e);
    if (transparent_)
        update();
}

void TFlatMarkControl::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (transparent_)
        update();
}

// ---------------------------------------------------------------- check box

THoverTracker& TFlatCheckBox::Tracker()
{
    static THoverTracker tracker;
    return tracker;
}

TFlatCheckBox::TFlatCheckBox(QWidget* parent) : TFlatMarkControl(Tracker(), parent)
{
    setFocusPolicy(TabStopPolicy(true));
}

void TFlatCheckBox::SetChecked(bool v)
{
    if (v == Checked())
        return;
    StoreChecked(v);
    Click();
    RedrawMark();
}

QRect TFlatCheckBox::MarkRect() const
{
    return LayoutRight() ? QRect(width() - 12, 3, 11, 11) : QRect(1, 3, 11, 11);
}

void TFlatCheckBox::DrawMark(QPainter& painter)
{
    const QRect square = MarkRect();
    painter.fillRect(square, MarkFill());
    if (Checked()) {
        // A three-pixel-thick tick of six segments, each without its end pixel.
        const QColor pen = ToQColor(isEnabled() ? ColorCheck() : clBtnShadow);
        const int x = square.x(), y = square.y();
        const int segments[6][4] = {{2, 4, 6, 8}, {2, 5, 5, 8}, {2, 6, 5, 9},
                                    {8, 2, 4, 6}, {8, 3, 4, 7}, {8, 4, 5, 7}};
        for (const auto& s : segments)
            DrawLineWithoutEnd(painter, QPoint(x + s[0], y + s[1]), QPoint(x + s[2], y + s[3]), pen);
    }
    DrawBevelFrame(painter, square, ColorBorder(), ColorBorder(), 1);
}

// Toggles when the pointer is (still) counted as over the box: dragging off
// keeps Hovered while the button is held, losing the focus clears it.
void TFlatCheckBox::Released(QPoint)
{
    if (Hovered())
        SetChecked(!Checked());
}

bool TFlatCheckBox::DialogChar(QChar ch)
{
    if (IsAccelerator(ch, Caption()) && CanTakeFocus()) {
        setFocus(Qt::ShortcutFocusReason);
        SetChecked(!Checked());
        return true;
    }
    return false;
}
