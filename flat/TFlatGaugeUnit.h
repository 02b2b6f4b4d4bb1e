// TFlatGauge: a horizontal progress gauge with a one-pixel frame, a bar and
// a centred percentage whose part over the bar is drawn in the background
// colour. Range and progress setters paint before they return, so a gauge
// updated from inside a long synchronous task moves on screen.
#pragma once

#include "FlatUtilitys.h"

#include <QWidget>

class TFlatGauge : public QWidget, public TFlatColors {
    Q_OBJECT
    Q_PROPERTY(int AdvColorBorder READ AdvColorBorder WRITE SetAdvColorBorder)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
    Q_PROPERTY(bool UseAdvColors READ UseAdvColors WRITE SetUseAdvColors)
    Q_PROPERTY(TColor Color READ Color WRITE SetColor)
    Q_PROPERTY(TColor ColorBorder READ ColorBorder WRITE SetColorBorder)
    Q_PROPERTY(TColor BarColor READ BarColor WRITE SetBarColor)
    Q_PROPERTY(int MinValue READ MinValue WRITE SetMinValue)
    Q_PROPERTY(int MaxValue READ MaxValue WRITE SetMaxValue)
    Q_PROPERTY(int Progress READ Progress WRITE SetProgress)
    Q_PROPERTY(bool ShowText READ ShowText WRITE SetShowText)
    Q_PROPERTY(bool Enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(QFont Font READ font WRITE setFont)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(bool Visible READ isVisible WRITE setVisible)

public:
    explicit TFlatGauge(QWidget* parent = nullptr);

    int AdvColorBorder() const { return advColorBorder_; }
    void SetAdvColorBorder(int v);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool v);
    TColor ColorBorder() const { return colors_[0]; }
    void SetColorBorder(TColor v) { SetColorByIndex(0, v); }
    TColor BarColor() const { return colors_[1]; }
    void SetBarColor(TColor v) { SetColorByIndex(1, v); }
    int MinValue() const { return minValue_; }
    void SetMinValue(int v);
    int MaxValue() const { return maxValue_; }
    void SetMaxValue(int v);
    int Progress() const { return progress_; }
    void SetProgress(int v);
    bool ShowText() const { return showText_; }
    void SetShowText(bool v);

    // The percentage shown, truncated; -1 when the range is empty.
    int Percent() const;
    // Length of the bar in pixels for the current inner width.
    int BarLength() const;

protected:
    void paintEvent(QPaintEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void SetColorByIndex(int index, TColor v);

    TAdvColors advColorBorder_ = 0;
    bool transparent_ = false;
    TColor colors_[2] = {kDefaultBorder, 0x996633};
    int minValue_ = 0;
    int maxValue_ = 100;
    int progress_ = 25;
    bool showText_ = true;
};
