#include "TFlatEditUnit.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

TCustomFlatEdit::TCustomFlatEdit(QWidget* parent) : QLineEdit(parent)
{
    setFrame(false);
    setTextMargins(3, 3, 3, 3);  // the frame is exactly three pixels on every side
    setGeometry(0, 0, 121, 19);
    TakeParentColor();
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (OnChange)
            OnChange(this);
    });
    InstallAcceleratorFilter();
    RedrawBorder();
}

void TCustomFlatEdit::TakeParentColor()
{
    if (parentWidget() != nullptr)
        colors_[2] = ParentColorOf(parentWidget());
}

void TCustomFlatEdit::SetColorByIndex(int index, TColor v)
{
    colors_[index] = v;
    if (index == 2)
        parentColor_ = false;  // a colour of its own ends following the parent
    RedrawBorder();
}

void TCustomFlatEdit::SetAdvColorByIndex(int index, int v)
{
    adv_[index] = static_cast<TAdvColors>(std::clamp(v, 0, 100));
    if (!useAdvColors_)
        return;
    DeriveColors();
    RedrawBorder();
}

void TCustomFlatEdit::SetUseAdvColors(bool v)
{
    if (v == useAdvColors_)
        return;
    useAdvColors_ = v;
    SetParentColor(v);
    if (v)
        DeriveColors();
    RedrawBorder();
}

void TCustomFlatEdit::SetParentColor(bool v)
{
    if (v == parentColor_)
        return;
    parentColor_ = v;
    if (v) {
        TakeParentColor();
        RedrawBorder();
    }
}

// The advanced colours derive from ColorFlat.
void TCustomFlatEdit::DeriveColors()
{
    colors_[0] = DeriveAdvancedColor(colors_[2], colors_[0], adv_[0], lighten);
    colors_[1] = DeriveAdvancedColor(colors_[2], colors_[1], adv_[1], darken);
}

bool TCustomFlatEdit::Highlighted() const
{
    return hasFocus() ||
           (pointerOver_ && qobject_cast<TCustomFlatEdit*>(QApplication::focusWidget()) == nullptr);
}

void TCustomFlatEdit::RedrawBorder()
{
    face_ = Highlighted() ? colors_[0] : colors_[2];
    const QColor face = ToQColor(face_);
    if (palette().color(QPalette::Base) != face) {
        QPalette p = palette();
        p.setColor(QPalette::Base, face);
        settingPalette_ = true;
        setPalette(p);
        settingPalette_ = false;
    }
    update();
}

void TCustomFlatEdit::FitHeightToFont() { resize(width(), QFontMetrics(font()).height() + 6); }

// The platform edit paints its text area; the frame is painted over it, in
// the face RedrawBorder gave the text area, so the two always agree.
void TCustomFlatEdit::paintEvent(QPaintEvent* e)
{
    QLineEdit::paintEvent(e);
    QPainter painter(this);
    DrawBevelFrame(painter, rect(), colors_[1], colors_[1], 1);
    DrawBevelFrame(painter, rect().adjusted(1, 1, -1, -1), face_, face_, 2);
}

void TCustomFlatEdit::focusInEvent(QFocusEvent* e)
{
    QLineEdit::focusInEvent(e);
    RedrawBorder();
    if (OnEnter)
        OnEnter(this);
}

void TCustomFlatEdit::focusOutEvent(QFocusEvent* e)
{
    QLineEdit::focusOutEvent(e);
    RedrawBorder();
    if (OnExit)
        OnExit(this);
}

void TCustomFlatEdit::enterEvent(QEnterEvent* e)
{
    QLineEdit::enterEvent(e);
    if (QApplication::activeWindow() == nullptr)
        return;  // another application is active
    pointerOver_ = true;
    RedrawBorder();
}

void TCustomFlatEdit::leaveEvent(QEvent* e)
{
    QLineEdit::leaveEvent(e);
    pointerOver_ = false;
    RedrawBorder();
}

void TCustomFlatEdit::mousePressEvent(QMouseEvent* e)
{
    QLineEdit::mousePressEvent(e);
    pressed_ = e->button() == Qt::LeftButton;
}

void TCustomFlatEdit::mouseReleaseEvent(QMouseEvent* e)
{
    QLineEdit::mouseReleaseEvent(e);
    const bool click = pressed_ && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint());
    pressed_ = false;
    if (click && OnClick)
        OnClick(this);
}

void TCustomFlatEdit::mouseDoubleClickEvent(QMouseEvent* e)
{
    QLineEdit::mouseDoubleClickEvent(e);
    if (OnDblClick)
        OnDblClick(this);
}

void TCustomFlatEdit::changeEvent(QEvent* e)
{
    QLineEdit::changeEvent(e);
    switch (e->type()) {
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
        if (settingPalette_)
            break;
        if (useAdvColors_) {
            TakeParentColor();
            DeriveColors();
        } else if (parentColor_) {
            TakeParentColor();
        }
        RedrawBorder();
        break;
    case QEvent::FontChange:
        FitHeightToFont();
        break;
    case QEvent::EnabledChange:
        RedrawBorder();
        break;
    default:
        break;
    }
}
