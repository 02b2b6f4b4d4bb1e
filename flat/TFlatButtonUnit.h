// TFlatButton: a focusable push button that paints itself flat. Its behaviour
// shared with the flat speed button (colours, glyph and caption, draw states,
// mouse, grouping, accelerator) lives in TFlatButtonBase.
#pragma once

#include "FlatUtilitys.h"

#include <QWidget>

#include <functional>

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TMouseEvent =
    std::function<void(QObject* Sender, Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(QObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y)>;

// Sets the modal result of the form containing `control`: a dialog closes
// with a non-zero result; another window keeps it as its "ModalResult".
void SetContainingFormModalResult(QWidget* control, TModalResult result);

class TFlatButtonBase : public QWidget, public TFlatColors, public TFlatHoverable, public TFlatDialogCharTarget {
    Q_OBJECT
    Q_PROPERTY(FlatUtilitys::TTransparentMode TransparentMode READ TransparentMode WRITE SetTransparentMode)
    Q_PROPERTY(bool AllowAllUp READ AllowAllUp WRITE SetAllowAllUp)
    Q_PROPERTY(TColor Color READ Color WRITE SetColor)
    Q_PROPERTY(TColor ColorFocused READ ColorFocused WRITE SetColorFocused)
    Q_PROPERTY(TColor ColorDown READ ColorDown WRITE SetColorDown)
    Q_PROPERTY(TColor ColorBorder READ ColorBorder WRITE SetColorBorder)
    Q_PROPERTY(TColor ColorHighLight READ ColorHighLight WRITE SetColorHighLight)
    Q_PROPERTY(TColor ColorShadow READ ColorShadow WRITE SetColorShadow)
    Q_PROPERTY(int AdvColorFocused READ AdvColorFocused WRITE SetAdvColorFocused)
    Q_PROPERTY(int AdvColorDown READ AdvColorDown WRITE SetAdvColorDown)
    Q_PROPERTY(int AdvColorBorder READ AdvColorBorder WRITE SetAdvColorBorder)
    Q_PROPERTY(bool UseAdvColors READ UseAdvColors WRITE SetUseAdvColors)
    Q_PROPERTY(int GroupIndex READ GroupIndex WRITE SetGroupIndex)
    Q_PROPERTY(bool Down READ Down WRITE SetDown)
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool Enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(QFont Font READ font WRITE setFont)
    Q_PROPERTY(QImage Glyph READ Glyph WRITE SetGlyph)
    Q_PROPERTY(FlatUtilitys::TButtonLayout Layout READ Layout WRITE SetLayout)
    Q_PROPERTY(int Margin READ Margin WRITE SetMargin)
    Q_PROPERTY(int NumGlyphs READ NumGlyphs WRITE SetNumGlyphs)
    Q_PROPERTY(bool ParentFont READ ParentFont WRITE SetParentFont)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(QString Hint READ toolTip WRITE setToolTip)
    Q_PROPERTY(int Spacing READ Spacing WRITE SetSpacing)
    Q_PROPERTY(int ModalResult READ ModalResult WRITE SetModalResult)
    Q_PROPERTY(bool Visible READ isVisible WRITE setVisible)

public:
    ~TFlatButtonBase() override;

    TTransparentMode TransparentMode() const { return transparentMode_; }
    void SetTransparentMode(TTransparentMode v);
    bool AllowAllUp() const { return allowAllUp_; }
    void SetAllowAllUp(bool v);

    TColor ColorFocused() const { return colors_[0]; }
    void SetColorFocused(TColor v) { SetColorByIndex(0, v); }
    TColor ColorDown() const { return colors_[1]; }
    void SetColorDown(TColor v) { SetColorByIndex(1, v); }
    TColor ColorBorder() const { return colors_[2]; }
    void SetColorBorder(TColor v) { SetColorByIndex(2, v); }
    TColor ColorHighLight() const { return colors_[3]; }
    void SetColorHighLight(TColor v) { SetColorByIndex(3, v); }
    TColor ColorShadow() const { return colors_[4]; }
    void SetColorShadow(TColor v) { SetColorByIndex(4, v); }
    int AdvColorFocused() const { return adv_[0]; }
    void SetAdvColorFocused(int v) { SetAdvColorByIndex(0, v); }
    int AdvColorDown() const { return adv_[1]; }
    void SetAdvColorDown(int v) { SetAdvColorByIndex(1, v); }
    int AdvColorBorder() const { return adv_[2]; }
    void SetAdvColorBorder(int v) { SetAdvColorByIndex(2, v); }
    bool ParentFont() const { return !testAttribute(Qt::WA_SetFont); }
    void SetParentFont(bool v);

    int GroupIndex() const { return groupIndex_; }
    void SetGroupIndex(int v);
    bool Down() const { return down_; }
    void SetDown(bool v);
    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& v);
    const QImage& Glyph() const { return glyph_; }
    void SetGlyph(const QImage& v);
    TButtonLayout Layout() const { return layout_; }
    void SetLayout(TButtonLayout v);
    int Margin() const { return margin_; }
    void SetMargin(int v);
    int NumGlyphs() const { return numGlyphs_; }
    void SetNumGlyphs(int v);
    int Spacing() const { return spacing_; }
    void SetSpacing(int v);
    TModalResult ModalResult() const { return modalResult_; }
    void SetModalResult(TModalResult v) { modalResult_ = v; }

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

    // Sets the containing form's modal result, then raises OnClick. Every way
    // of clicking (mouse, space bar, accelerator) comes here.
    void Click();
    // Another member of group `groupIndex` under the same parent went down.
    void GroupButtonPressed(int groupIndex, TFlatButtonBase* sender);
    bool DialogChar(QChar ch) override;

    ButtonDrawState DrawState() const { return state_; }
    bool PressTracking() const { return pressTracking_; }
    QPoint GlyphOrigin() const { return glyphOrigin_; }
    QRect CaptionRect() const { return captionRect_; }

protected:
    TFlatButtonBase(THoverTracker& tracker, QWidget* parent);

    // Composes the whole face: layout, state, background, frame, glyph, caption.
    void PaintFace(QPainter& painter);
    // What shows behind a transparent face.
    virtual void PaintTransparentBackground(QPainter& painter) = 0;
    // Width of the frame at rest without hover.
    virtual int RestFrameWidth() const { return 1; }
    // Whether the accelerator of a grouped button latches it.
    virtual bool LatchOnAccelerator() const = 0;
    virtual void TakeFocusOnPress() {}

    void SetDrawState(ButtonDrawState s) { state_ = s; }
    bool MousePressInProgress() const override { return pressTracking_; }
    // Hovered again from where the pointer is now (after a release, a focus
    // or an enabled change).
    void UpdateHover();

    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    bool IsInside(QPoint p) const;
    void PressLeft();
    void PaintBackground(QPainter& painter);
    void PaintFrame(QPainter& painter);
    QColor FaceColor() const;
    void NormaliseState();
    void NotifyGroup();
    void SetColorByIndex(int index, TColor v);
    void SetAdvColorByIndex(int index, int v);

    TTransparentMode transparentMode_ = tmNone;
    bool allowAllUp_ = false;
    TColor colors_[5] = {kDefaultFace, kDefaultDown, kDefaultBorder, clWhite, clBlack};
    TAdvColors adv_[3] = {10, 10, 50};
    int groupIndex_ = 0;
    bool down_ = false;
    QString caption_;
    QImage glyph_;
    TButtonLayout layout_ = blGlyphTop;
    int margin_ = -1;
    int numGlyphs_ = 1;
    int spacing_ = 4;
    TModalResult modalResult_ = 0;

    ButtonDrawState state_ = ButtonDrawState::Up;
    bool pressTracking_ = false;
    QPoint glyphOrigin_;
    QRect captionRect_;
};

class TFlatButton : public TFlatButtonBase {
    Q_OBJECT
    Q_PROPERTY(bool Default READ Default WRITE SetDefault)
    Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)

public:
    explicit TFlatButton(QWidget* parent = nullptr);

    bool Default() const { return default_; }
    void SetDefault(bool v);
    bool TabStop() const { return IsTabStop(this); }
    void SetTabStop(bool v) { setFocusPolicy(TabStopPolicy(v)); }

    // The class-wide hover timer; null while no flat button exists.
    static QTimer* HoverTimer() { return Tracker().HoverTimer; }
    static THoverTracker& Tracker();

protected:
    void paintEvent(QPaintEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void moveEvent(QMoveEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

    void PaintTransparentBackground(QPainter& painter) override { PaintParentBackground(this, painter); }
    int RestFrameWidth() const override { return default_ ? 2 : 1; }
    bool LatchOnAccelerator() const override { return true; }
    void TakeFocusOnPress() override { setFocus(Qt::MouseFocusReason); }

private:
    bool default_ = false;
};
