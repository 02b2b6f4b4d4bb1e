#include "TFlatGroupBoxUnit.h"

#include <QFontMetrics>
#include <QEvent>
#include <QPainter>
#include <QPixmap>

#include <algorithm>

TFlatGroupBox::TFlatGroupBox(QWidget* parent) : QWidget(parent), TFlatColors(this)
{
    AddDerivedColor(&colorBorder_, &advColorBorder_, darken);
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(185, 105);
    InstallAcceleratorFilter();
}

void TFlatGroupBox::SetTransparent(bool v)
{
    transparent_ = v;
    update();
}

void TFlatGroupBox::SetCaption(const QString& v)
{
    caption_ = v;
    update();
}

void TFlatGroupBox::SetColorBorder(TColor v)
{
    colorBorder_ = v;
    update();
}

void TFlatGroupBox::SetBorder(TGroupBoxBorder v)
{
    border_ = v;
    update();
}

void TFlatGroupBox::SetAdvColorBorder(int v)
{
    StoreAdvColor(advColorBorder_, v);
    update();
}

void TFlatGroupBox::ColorsChanged()
{
    NotifyParentColorChanged(this);
    update();
}

bool TFlatGroupBox::DialogChar(QChar ch)
{
    if (!IsAccelerator(ch, caption_) || !isEnabled() || !isVisible())
        return false;
    setFocus(Qt::ShortcutFocusReason);
    return true;
}

// Lines include their start and leave out their end pixel; the top line
// leaves a gap from x = 6 to x = caption width + 12 for the caption.
void TFlatGroupBox::PaintFrame(QPainter& painter, int captionWidth, int captionHeight)
{
    const QColor pen = ToQColor(colorBorder_);
    const int w = width(), h = height();
    const int y0 = captionHeight / 2;
    const int gapEnd = captionWidth + 12;
    if (border_ == brFull) {
        painter.fillRect(0, y0, 6, 1, pen);
        painter.fillRect(0, y0, 1, h - y0, pen);
        painter.fillRect(0, h - 1, w, 1, pen);
        painter.fillRect(w - 1, y0, 1, h - y0, pen);
    } else {
        painter.fillRect(1, y0, 5, 1, pen);
    }
    if (w - 1 > gapEnd)
        painter.fillRect(gapEnd + 1, y0, w - 1 - gapEnd, 1, pen);
}

void TFlatGroupBox::paintEvent(QPaintEvent*)
{
    ComposeOffscreen(this, [this](QPainter& painter) {
        // The gap is measured with "&" counted, as plain text.
        const QFontMetrics metrics(font());
        const int tw = caption_.isEmpty() ? 0 : metrics.size(Qt::TextSingleLine, caption_).width();
        const int th = metrics.height();
        if (transparent_)
            PaintParentBackground(this, painter);
        else
            painter.fillRect(rect(), ToQColor(Color()));
        PaintFrame(painter, tw, th);
        const QRect captionRect(10, 0, width() - 20, th);
        DrawClippedControlCaption(painter, this, captionRect, caption_, Qt::AlignLeft | Qt::AlignTop);
    });
}

void TFlatGroupBox::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    FollowAppearanceChange(e);
}

void TFlatGroupBox::moveEvent(QMoveEvent* e)
{
    QWidget::moveEvent(e);
    if (transparent_)
        update();
}

void TFlatGroupBox::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    if (transparent_)
        update();
}
