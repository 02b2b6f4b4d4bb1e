// TFlatGroupBox: a container with a one-pixel frame (or only a top line) and
// its caption set into the top line.
#pragma once

#include "FlatUtilitys.h"

#include <QWidget>

class TFlatGroupBox : public QWidget, public TFlatColors, public TFlatDialogCharTarget {
    Q_OBJECT
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(TColor ColorBorder READ ColorBorder WRITE SetColorBorder)
    Q_PROPERTY(FlatUtilitys::TGroupBoxBorder Border READ Border WRITE SetBorder)
    Q_PROPERTY(int AdvColorBorder READ AdvColorBorder WRITE SetAdvColorBorder)
    Q_PROPERTY(bool UseAdvColors READ UseAdvColors WRITE SetUseAdvColors)
    Q_PROPERTY(TColor Color READ Color WRITE SetColor)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(bool Enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(bool Visible READ isVisible WRITE setVisible)
    Q_PROPERTY(QFont Font READ font WRITE setFont)
    Q_PROPERTY(QString Hint READ toolTip WRITE setToolTip)

public:
    explicit TFlatGroupBox(QWidget* parent = nullptr);

    bool Transparent() const { return transparent_; }
    void SetTransparent(bool v);
    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& v);
    TColor ColorBorder() const { return colorBorder_; }
    void SetColorBorder(TColor v);
    TGroupBoxBorder Border() const { return border_; }
    void SetBorder(TGroupBoxBorder v);
    int AdvColorBorder() const { return advColorBorder_; }
    void SetAdvColorBorder(int v);

    // The caption's accelerator focuses the box.
    bool DialogChar(QChar ch) override;

protected:
    void ColorsChanged() override;
    void paintEvent(QPaintEvent* e) override;
    void changeEvent(QEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void PaintFrame(QPainter& painter, int captionWidth, int captionHeight);

    bool transparent_ = false;
    QString caption_;
    TColor colorBorder_ = kDefaultBorder;
    TGroupBoxBorder border_ = brFull;
    TAdvColors advColorBorder_ = 50;
};
