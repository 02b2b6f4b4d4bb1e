#include "TFlatPanelUnit.h"

#include <QEvent>
#include <QPainter>
#include <QPixmap>

TFlatPanel::TFlatPanel(QWidget* parent) : QWidget(parent), TFlatColors(this)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setGeometry(0, 0, 185, 41);
}

void TFlatPanel::SetTransparent(bool v)
{
    transparent_ = v;
    update();
}

void TFlatPanel::SetCaption(const QString& v)
{
    caption_ = v;
    update();
}

void TFlatPanel::ColorsChanged()
{
    NotifyParentColorChanged(this);
    update();
}

void TFlatPanel::SetColorByIndex(int index, TColor v)
{
    colors_[index] = v;
    update();
}

void TFlatPanel::SetAlignment(TAlignment v)
{
    alignment_ = v;
    update();
}

// The caption's rectangle is the whole client area, frame included.
void TFlatPanel::paintEvent(QPaintEvent*)
{
    static const int horizontal[] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter};
    ComposeOffscreen(this, [this](QPainter& painter) {
        if (transparent_)
            PaintParentBackground(this, painter);
        else
            painter.fillRect(rect(), ToQColor(Color()));
        DrawBevelFrame(painter, rect(), colors_[0], colors_[1], 1);
        DrawControlCaption(painter, this, rect(), caption_, horizontal[alignment_] | Qt::AlignVCenter);
    });
}

void TFlatPanel::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    FollowAppearanceChange(e);
}
