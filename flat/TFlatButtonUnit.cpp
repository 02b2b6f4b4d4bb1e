#include "TFlatButtonUnit.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

void SetContainingFormModalResult(QWidget* control, TModalResult result)
{
    QWidget* form = control->window();
    if (auto* dialog = qobject_cast<QDialog*>(form)) {
        if (result != 0)
            dialog->done(result);
        else
            dialog->setResult(0);
        return;
    }
    form->setProperty("ModalResult", result);
}

// ---------------------------------------------------------------- base

TFlatButtonBase::TFlatButtonBase(THoverTracker& tracker, QWidget* parent)
    : QWidget(parent), TFlatColors(this), TFlatHoverable(tracker, this)
{
    AddDerivedColor(&colors_[0], &adv_[0], lighten);
    AddDerivedColor(&colors_[1], &adv_[1], darken);
    AddDerivedColor(&colors_[2], &adv_[2], darken);
    resize(25, 25);
    setMouseTracking(true);
    InstallAcceleratorFilter();
}

TFlatButtonBase::~TFlatButtonBase() = default;

void TFlatButtonBase::SetTransparentMode(TTransparentMode v)
{
    transparentMode_ = v;
    update();
}

void TFlatButtonBase::SetColorByIndex(int index, TColor v)
{
    colors_[index] = v;
    update();
}

void TFlatButtonBase::SetAdvColorByIndex(int index, int v)
{
    StoreAdvColor(adv_[index], v);
    update();
}

void TFlatButtonBase::SetParentFont(bool v)
{
    if (v)
        setFont(QFont());  // an unset font follows the parent again
    setAttribute(Qt::WA_SetFont, !v);
}

void TFlatButtonBase::SetGroupIndex(int v)
{
    if (v == groupIndex_)
        return;
    groupIndex_ = v;
    NotifyGroup();
}

void TFlatButtonBase::SetAllowAllUp(bool v)
{
    if (v == allowAllUp_)
        return;
    allowAllUp_ = v;
    NotifyGroup();
}

void TFlatButtonBase::SetDown(bool v)
{
    if (groupIndex_ == 0)
        v = false;
    if (v == down_ || (down_ && !allowAllUp_))
        return;
    down_ = v;
    if (v) {
        state_ = ButtonDrawState::Latched;
        update();
        NotifyGroup();
    } else {
        state_ = ButtonDrawState::Up;
        repaint();
    }
}

void TFlatButtonBase::NotifyGroup()
{
    if (groupIndex_ == 0 || parentWidget() == nullptr)
        return;
    for (QObject* child : parentWidget()->children()) {
        // Only buttons of the same kind form a group.
        if (child->metaObject() == metaObject())
            static_cast<TFlatButtonBase*>(child)->GroupButtonPressed(groupIndex_, this);
    }
}

void TFlatButtonBase::GroupButtonPressed(int groupIndex, TFlatButtonBase* sender)
{
    if (groupIndex != groupIndex_ || sender == this)
        return;
    if (sender->Down() && down_) {
        down_ = false;
        state_ = ButtonDrawState::Up;
        update();
    }
    allowAllUp_ = sender->AllowAllUp();
}

void TFlatButtonBase::SetCaption(const QString& v)
{
    caption_ = v;
    update();
}

void TFlatButtonBase::SetGlyph(const QImage& v)
{
    if (&v == &glyph_)
        return;
    glyph_ = v;
    numGlyphs_ = NumGlyphsFor(glyph_, numGlyphs_);
    update();
}

void TFlatButtonBase::SetLayout(TButtonLayout v)
{
    if (v == layout_)
        return;
    layout_ = v;
    update();
}

void TFlatButtonBase::SetMargin(int v)
{
    if (v == margin_ || v < -1)
        return;
    margin_ = v;
    update();
}

void TFlatButtonBase::SetNumGlyphs(int v)
{
    v = std::clamp(v, 1, 4);
    if (v == numGlyphs_)
        return;
    numGlyphs_ = v;
    update();
}

void TFlatButtonBase::SetSpacing(int v)
{
    if (v == spacing_)
        return;
    spacing_ = v;
    update();
}

void TFlatButtonBase::Click()
{
    if (parentWidget() != nullptr)
        SetContainingFormModalResult(this, modalResult_);
    if (OnClick)
        OnClick(this);
}

bool TFlatButtonBase::DialogChar(QChar ch)
{
    if (!IsAccelerator(ch, caption_) || !isEnabled())
        return false;
    if (LatchOnAccelerator() && groupIndex_ != 0)
        SetDown(true);
    Click();
    return true;
}

// ---------------------------------------------------------------- painting

void TFlatButtonBase::NormaliseState()
{
    if (!isEnabled()) {
        state_ = ButtonDrawState::Disabled;
        pressTracking_ = false;
    } else if (state_ == ButtonDrawState::Disabled) {
        state_ = down_ && groupIndex_ != 0 ? ButtonDrawState::Latched : ButtonDrawState::Up;
    }
}

void TFlatButtonBase::PaintFace(QPainter& painter)
{
    const bool down = state_ == ButtonDrawState::Pressed || state_ == ButtonDrawState::Latched;
    painter.setFont(font());
    CalcGlyphLayout(font(), rect(), down ? QPoint(1, 1) : QPoint(0, 0), caption_, layout_, margin_, spacing_,
                    glyph_, numGlyphs_, glyphOrigin_, captionRect_);
    NormaliseState();
    PaintBackground(painter);
    PaintFrame(painter);
    DrawGlyph(painter, glyph_, numGlyphs_, state_, glyphOrigin_);
    DrawControlCaption(painter, this, captionRect_, caption_);
    if (hasFocus() && isEnabled())
        DrawFocusRect(painter, rect().adjusted(3, 3, -4, -4), FocusMarkColor(this));
}

// The opaque face of the current state.
QColor TFlatButtonBase::FaceColor() const
{
    switch (state_) {
    case ButtonDrawState::Up: return ToQColor(Hovered() ? colors_[0] : Color());
    case ButtonDrawState::Disabled: return ToQColor(Color());
    case ButtonDrawState::Pressed: return ToQColor(colors_[1]);
    case ButtonDrawState::Latched: return ToQColor(Hovered() ? colors_[0] : colors_[1]);
    }
    return ToQColor(Color());
}

void TFlatButtonBase::PaintBackground(QPainter& painter)
{
    switch (transparentMode_) {
    case tmAlways:
        PaintTransparentBackground(painter);
        break;
    case tmNotFocused:
        if (Hovered())
            painter.fillRect(rect(), FaceColor());
        else
            PaintTransparentBackground(painter);
        break;
    case tmNone:
        painter.fillRect(rect(), FaceColor());
        break;
    }
}

void TFlatButtonBase::PaintFrame(QPainter& painter)
{
    switch (state_) {
    case ButtonDrawState::Up:
        if (Hovered())
            DrawBevelFrame(painter, rect(), colors_[3], colors_[4], 1);
        else
            DrawBevelFrame(painter, rect(), colors_[2], colors_[2], RestFrameWidth());
        break;
    case ButtonDrawState::Disabled:
        DrawBevelFrame(painter, rect(), colors_[2], colors_[2], 1);
        break;
    case ButtonDrawState::Pressed:
    case ButtonDrawState::Latched:
        DrawBevelFrame(painter, rect(), colors_[4], colors_[3], 1);
        break;
    }
}

// ---------------------------------------------------------------- mouse

// One row below the client area still counts as inside.
bool TFlatButtonBase::IsInside(QPoint p) const
{
    return p.x() >= 0 && p.x() < width() && p.y() >= 0 && p.y() <= height();
}

void TFlatButtonBase::PressLeft()
{
    if (!down_) {
        state_ = ButtonDrawState::Pressed;
        update();
    }
    pressTracking_ = true;
    TakeFocusOnPress();
}

void TFlatButtonBase::mousePressEvent(QMouseEvent* e)
{
    const QPoint p = e->position().toPoint();
    if (OnMouseDown)
        OnMouseDown(this, e->button(), e->modifiers(), p.x(), p.y());
    if (e->button() == Qt::LeftButton && isEnabled())
        PressLeft();
}

void TFlatButtonBase::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint p = e->position().toPoint();
    if (OnMouseMove)
        OnMouseMove(this, e->modifiers(), p.x(), p.y());
    TrackPointerMove();
    if (!pressTracking_)
        return;
    ButtonDrawState next = down_ ? ButtonDrawState::Latched : ButtonDrawState::Up;
    if (IsInside(p))
        next = down_ ? ButtonDrawState::Latched : ButtonDrawState::Pressed;
    if (next != state_) {
        state_ = next;
        update();
    }
}

void TFlatButtonBase::mouseReleaseEvent(QMouseEvent* e)
{
    const QPoint p = e->position().toPoint();
    if (OnMouseUp)
        OnMouseUp(this, e->button(), e->modifiers(), p.x(), p.y());
    if (e->button() != Qt::LeftButton || !pressTracking_)
        return;
    pressTracking_ = false;
    const bool inside = IsInside(p);
    if (groupIndex_ == 0) {
        state_ = ButtonDrawState::Up;
        SetHoveredFlag(false);
        if (inside)
            update();
    } else if (inside) {
        SetDown(!down_);
        if (down_)
            repaint();
    } else {
        if (down_)
            state_ = ButtonDrawState::Latched;
        repaint();
    }
    if (inside)
        Click();
    else
        HoverLeave();
    UpdateHover();
}

void TFlatButtonBase::mouseDoubleClickEvent(QMouseEvent* e)
{
    mousePressEvent(e);  // a double click is another press
    if (down_ && OnDblClick)
        OnDblClick(this);
}

void TFlatButtonBase::UpdateHover()
{
    if (!isEnabled())
        return;
    if (ControlUnderPointer() == this) {
        SetHoveredFlag(true);
        update();
    } else if (!pressTracking_) {
        ForgetHover();
        update();
    }
}

void TFlatButtonBase::enterEvent(QEnterEvent* e)
{
    QWidget::enterEvent(e);
    if (OnMouseEnter)
        OnMouseEnter(this);
}

void TFlatButtonBase::leaveEvent(QEvent* e)
{
    QWidget::leaveEvent(e);
    if (OnMouseLeave)
        OnMouseLeave(this);
}

void TFlatButtonBase::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    switch (e->type()) {
    case QEvent::EnabledChange:
        if (!isEnabled()) {
            ForgetHover();
            state_ = ButtonDrawState::Disabled;
        }
        UpdateHover();
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

// ---------------------------------------------------------------- TFlatButton

THoverTracker& TFlatButton::Tracker()
{
    static THoverTracker tracker;
    return tracker;
}

TFlatButton::TFlatButton(QWidget* parent) : TFlatButtonBase(Tracker(), parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(TabStopPolicy(false));
}

void TFlatButton::SetDefault(bool v)
{
    default_ = v;
    update();
}

// The face is composed off screen and copied in one operation: no flicker.
void TFlatButton::paintEvent(QPaintEvent*)
{
    ComposeOffscreen(this, [this](QPainter& painter) { PaintFace(painter); });
}

// Only the space bar acts; every other key goes on to the containers, so
// that Ctrl+Tab and Ctrl+PageDown still switch pages from a button.
void TFlatButton::keyPressEvent(QKeyEvent* e)
{
    if (e->key() != Qt::Key_Space || e->modifiers() != Qt::NoModifier) {
        e->ignore();
        return;
    }
    if (e->isAutoRepeat())
        return;
    if (GroupIndex() != 0)
        SetDown(true);
    else
        SetDrawState(ButtonDrawState::Pressed);
    update();
}

void TFlatButton::keyReleaseEvent(QKeyEvent* e)
{
    if (e->key() != Qt::Key_Space || e->modifiers() != Qt::NoModifier || e->isAutoRepeat()) {
        e->ignore();
        return;
    }
    if (GroupIndex() != 0)
        SetDown(false);
    else
        SetDrawState(ButtonDrawState::Up);
    Click();
    update();
}

void TFlatButton::focusInEvent(QFocusEvent* e)
{
    QWidget::focusInEvent(e);
    if (isEnabled()) {
        SetHoveredFlag(true);
        update();
    }
}

void TFlatButton::focusOutEvent(QFocusEvent* e)
{
    QWidget::focusOutEvent(e);
    HoverLeave();
    update();  // the focus mark goes
}

// A transparent face shows what lies behind it, which moves with it.
void TFlatButton::moveEvent(QMoveEvent* e)
{
    QWidget::moveEvent(e);
    if (TransparentMode() != tmNone)
        update();
}

void TFlatButton::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (TransparentMode() != tmNone)
        update();
}
