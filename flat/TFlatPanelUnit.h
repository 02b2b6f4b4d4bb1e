// TFlatPanel: a container with a one-pixel two-colour frame (one colour by
// default) and an optional one-line caption, composed off screen.
#pragma once

#include "FlatUtilitys.h"

#include <QWidget>

class TFlatPanel : public QWidget, public TFlatColors {
    Q_OBJECT
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QFont Font READ font WRITE setFont)
    Q_PROPERTY(TColor Color READ Color WRITE SetColor)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(bool Enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(bool Visible READ isVisible WRITE setVisible)
    Q_PROPERTY(TColor ColorHighLight READ ColorHighLight WRITE SetColorHighLight)
    Q_PROPERTY(TColor ColorShadow READ ColorShadow WRITE SetColorShadow)
    Q_PROPERTY(FlatUtilitys::TAlignment Alignment READ Alignment WRITE SetAlignment)
    Q_PROPERTY(QString Hint READ toolTip WRITE setToolTip)

public:
    explicit TFlatPanel(QWidget* parent = nullptr);

    bool Transparent() const { return transparent_; }
    void SetTransparent(bool v);
    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& v);
    TColor ColorHighLight() const { return colors_[0]; }
    void SetColorHighLight(TColor v) { SetColorByIndex(0, v); }
    TColor ColorShadow() const { return colors_[1]; }
    void SetColorShadow(TColor v) { SetColorByIndex(1, v); }
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment v);

protected:
    void ColorsChanged() override;
    void paintEvent(QPaintEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void SetColorByIndex(int index, TColor v);

    bool transparent_ = false;
    QString caption_;
    TColor colors_[2] = {kDefaultBorder, kDefaultBorder};
    TAlignment alignment_ = taCenter;
};
