// TFlatCheckBox, and TFlatMarkControl: what the flat check box and radio
// button share (colours, hover, focus, mouse, caption, layout). Each draws
// its own mark (a square with a tick, a circle with a dot) beside a
// word-wrapped caption.
#pragma once

#include "FlatUtilitys.h"

#include <QWidget>

#include <functional>

class TFlatMarkControl : public QWidget, public TFlatColors, public TFlatHoverable, public TFlatDialogCharTarget {
    Q_OBJECT
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
    Q_PROPERTY(TColor Color READ Color WRITE SetColor)
    Q_PROPERTY(TColor ColorFocused READ ColorFocused WRITE SetColorFocused)
    Q_PROPERTY(TColor ColorDown READ ColorDown WRITE SetColorDown)
    Q_PROPERTY(TColor ColorBorder READ ColorBorder WRITE SetColorBorder)
    Q_PROPERTY(int AdvColorFocused READ AdvColorFocused WRITE SetAdvColorFocused)
    Q_PROPERTY(int AdvColorDown READ AdvColorDown WRITE SetAdvColorDown)
    Q_PROPERTY(int AdvColorBorder READ AdvColorBorder WRITE SetAdvColorBorder)
    Q_PROPERTY(bool UseAdvColors READ UseAdvColors WRITE SetUseAdvColors)
    Q_PROPERTY(bool Enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(QFont Font READ font WRITE setFont)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(bool Visible READ isVisible WRITE setVisible)
    Q_PROPERTY(QString Hint READ toolTip WRITE setToolTip)

public:
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool v);
    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& v);
    bool Checked() const { return checked_; }
    virtual void SetChecked(bool v) = 0;
    TColor ColorFocused() const { return colors_[0]; }
    void SetColorFocused(TColor v) { SetColorByIndex(0, v); }
    TColor ColorDown() const { return colors_[1]; }
    void SetColorDown(TColor v) { SetColorByIndex(1, v); }
    TColor ColorBorder() const { return colors_[3]; }
    void SetColorBorder(TColor v) { SetColorByIndex(3, v); }
    int AdvColorFocused() const { return adv_[0]; }
    void SetAdvColorFocused(int v) { SetAdvColorByIndex(0, v); }
    int AdvColorDown() const { return adv_[1]; }
    void SetAdvColorDown(int v) { SetAdvColorByIndex(1, v); }
    int AdvColorBorder() const { return adv_[2]; }
    void SetAdvColorBorder(int v) { SetAdvColorByIndex(2, v); }
    // Right layout: the mark at the right edge, the caption right-aligned.
    bool LayoutRight() const { return layoutRight_; }

    bool MouseHeld() const { return mouseHeld_; }
    bool Focused() const { return focused_; }
    // Where the mark and the caption stand in the current layout.
    virtual QRect MarkRect() const = 0;
    QRect CaptionRect() const;

    std::function<void(QObject*)> OnClick;
    std::function<void(QObject*)> OnEnter;
    std::function<void(QObject*)> OnExit;
    std::function<void(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)> OnMouseDown;
    std::function<void(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, int, int)> OnMouseUp;
    std::function<void(QObject*, Qt::KeyboardModifiers, int, int)> OnMouseMove;

protected:
    TFlatMarkControl(THoverTracker& tracker, QWidget* parent);

    void SetLayoutRight(bool v);
    void StoreChecked(bool v) { checked_ = v; }
    TColor MarkColor() const { return colors_[2]; }
    void SetMarkColor(TColor v) { SetColorByIndex(2, v); }
    // The fill of the mark for the hover, focus and press state.
    QColor MarkFill() const;
    // Draws the square or circle with its fill, outline and tick or dot.
    virtual void DrawMark(QPainter& painter) = 0;
    // What a release of the left button at `p` does to Checked.
    virtual void Released(QPoint p) = 0;
    // What the space bar does to the focused control.
    virtual void SpacePressed() = 0;
    // Where the focus mark stands: around the caption.
    QRect FocusRect() const;
    void Click();
    bool CanTakeFocus() const { return isVisible() && isEnabled(); }
    void RedrawMark() { update(MarkRect()); }
    bool MousePressInProgress() const override { return mouseHeld_; }
    void RedrawHover() override { RedrawMark(); }

    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void changeEvent(QEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void SetColorByIndex(int index, TColor v);
    void SetAdvColorByIndex(int index, int v);

    bool transparent_ = false;
    QString caption_;
    bool checked_ = false;
    TColor colors_[4] = {clWhite, kDefaultDown, clBlack, kDefaultBorder};
    TAdvColors adv_[3] = {10, 10, 50};
    bool layoutRight_ = false;
    bool mouseHeld_ = false;
    bool focused_ = false;
};

class TFlatCheckBox : public TFlatMarkControl {
    Q_OBJECT
    Q_PROPERTY(TColor ColorCheck READ ColorCheck WRITE SetColorCheck)
    Q_PROPERTY(FlatUtilitys::TCheckBoxLayout Layout READ Layout WRITE SetLayout)
    Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)

public:
    explicit TFlatCheckBox(QWidget* parent = nullptr);

    // Every change raises OnClick, from the user or the program.
    void SetChecked(bool v) override;
    TColor ColorCheck() const { return MarkColor(); }
    void SetColorCheck(TColor v) { SetMarkColor(v); }
    TCheckBoxLayout Layout() const { return LayoutRight() ? checkboxRight : checkboxLeft; }
    void SetLayout(TCheckBoxLayout v) { SetLayoutRight(v == checkboxRight); }
    bool TabStop() const { return IsTabStop(this); }
    void SetTabStop(bool v) { setFocusPolicy(TabStopPolicy(v)); }

    QRect MarkRect() const override;
    // The accelerator focuses and toggles.
    bool DialogChar(QChar ch) override;

    static QTimer* HoverTimer() { return Tracker().HoverTimer; }
    static THoverTracker& Tracker();

protected:
    void DrawMark(QPainter& painter) override;
    void Released(QPoint p) override;
    void SpacePressed() override { SetChecked(!Checked()); }
};
