#include "TFlatGaugeUnit.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>

TFlatGauge::TFlatGauge(QWidget* parent) : QWidget(parent), TFlatColors(this)
{
    AddDerivedColor(&colors_[0], &advColorBorder_, darken);
    resize(145, 25);
}

void TFlatGauge::SetAdvColorBorder(int v)
{
    StoreAdvColor(advColorBorder_, v);
    update();
}

void TFlatGauge::SetTransparent(bool v)
{
    transparent_ = v;
    update();
}

void TFlatGauge::SetColorByIndex(int index, TColor v)
{
    colors_[index] = v;
    update();
}

void TFlatGauge::SetMinValue(int v)
{
    if (v == minValue_)
        return;
    minValue_ = std::min(v, maxValue_);
    if (progress_ < v)
        progress_ = v;
    repaint();
}

void TFlatGauge::SetMaxValue(int v)
{
    if (v == maxValue_)
        return;
    maxValue_ = std::max(v, minValue_);
    if (progress_ > v)
        progress_ = v;
    repaint();
}

void TFlatGauge::SetProgress(int v)
{
    v = std::clamp(v, minValue_, std::max(minValue_, maxValue_));
    if (v == progress_)
        return;
    progress_ = v;
    repaint();
}

void TFlatGauge::SetShowText(bool v)
{
    if (v == showText_)
        return;
    showText_ = v;
    repaint();
}

int TFlatGauge::Percent() const
{
    if (maxValue_ == minValue_)
        return -1;
    return static_cast<int>(100LL * (std::int64_t(progress_) - minValue_) / (std::int64_t(maxValue_) - minValue_));
}

int TFlatGauge::BarLength() const
{
    const int inner = std::max(0, width() - 4);
    if (maxValue_ == minValue_)
        return 0;
    const auto length = std::int64_t(inner) * (std::int64_t(progress_) - minValue_) /
                        (std::int64_t(maxValue_) - minValue_);
    return static_cast<int>(std::clamp<std::int64_t>(length, 0, inner));
}

void TFlatGauge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect r = rect();
    if (!transparent_)
        painter.fillRect(r, ToQColor(Color()));
    DrawBevelFrame(painter, r, colors_[0], colors_[0], 1);
    const QRect inner = r.adjusted(2, 2, -2, -2);
    const QRect bar(inner.left(), inner.top(), BarLength(), inner.height());
    if (!bar.isEmpty())
        painter.fillRect(bar, ToQColor(colors_[1]));
    const int percent = Percent();
    if (!showText_ || percent < 0)
        return;  // an empty range shows no text
    const QString text = QString::number(percent) + " %";
    SetCrispFont(painter, font());
    const int flags = Qt::AlignCenter | Qt::TextSingleLine;
    painter.setPen(palette().color(QPalette::Active, QPalette::WindowText));  // the same look when disabled
    painter.drawText(inner, flags, text);
    // Over the bar the same text stands in the background colour.
    painter.setClipRect(bar);
    painter.setPen(ToQColor(Color()));
    painter.drawText(inner, flags, text);
}

void TFlatGauge::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    FollowAppearanceChange(e);
}
