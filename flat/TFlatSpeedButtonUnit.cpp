#include "TFlatSpeedButtonUnit.h"

#include <QPainter>

THoverTracker& TFlatSpeedButton::Tracker()
{
    static THoverTracker tracker;
    return tracker;
}

TFlatSpeedButton::TFlatSpeedButton(QWidget* parent) : TFlatButtonBase(Tracker(), parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void TFlatSpeedButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintFace(painter);
}
