// TFlatEdit: the platform's single-line edit with a flat three-pixel frame
// painted by the control around a text area inset by 3 pixels on every side.
// The frame and the text background take ColorFocused while the edit has the
// focus, or while the pointer is over it and no flat edit has the focus.
#pragma once

#include "FlatUtilitys.h"

#include <QLineEdit>

#include <functional>

class TCustomFlatEdit : public QLineEdit, public TFlatDialogCharTarget {
    Q_OBJECT
    Q_PROPERTY(TColor ColorFocused READ ColorFocused WRITE SetColorFocused)
    Q_PROPERTY(TColor ColorBorder READ ColorBorder WRITE SetColorBorder)
    Q_PROPERTY(TColor ColorFlat READ ColorFlat WRITE SetColorFlat)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(int AdvColorFocused READ AdvColorFocused WRITE SetAdvColorFocused)
    Q_PROPERTY(int AdvColorBorder READ AdvColorBorder WRITE SetAdvColorBorder)
    Q_PROPERTY(bool UseAdvColors READ UseAdvColors WRITE SetUseAdvColors)
    Q_PROPERTY(QString Text READ text WRITE setText)
    Q_PROPERTY(bool ReadOnly READ isReadOnly WRITE setReadOnly)
    Q_PROPERTY(int MaxLength READ MaxLength WRITE SetMaxLength)
    Q_PROPERTY(bool Enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(bool Visible READ isVisible WRITE setVisible)
    Q_PROPERTY(QFont Font READ font WRITE setFont)
    Q_PROPERTY(QString Hint READ toolTip WRITE setToolTip)

public:
    explicit TCustomFlatEdit(QWidget* parent = nullptr);

    TColor ColorFocused() const { return colors_[0]; }
    void SetColorFocused(TColor v) { SetColorByIndex(0, v); }
    TColor ColorBorder() const { return colors_[1]; }
    void SetColorBorder(TColor v) { SetColorByIndex(1, v); }
    TColor ColorFlat() const { return colors_[2]; }
    void SetColorFlat(TColor v) { SetColorByIndex(2, v); }
    bool ParentColor() const { return parentColor_; }
    void SetParentColor(bool v);
    int AdvColorFocused() const { return adv_[0]; }
    void SetAdvColorFocused(int v) { SetAdvColorByIndex(0, v); }
    int AdvColorBorder() const { return adv_[1]; }
    void SetAdvColorBorder(int v) { SetAdvColorByIndex(1, v); }
    bool UseAdvColors() const { return useAdvColors_; }
    void SetUseAdvColors(bool v);
    // 0 = no limit.
    int MaxLength() const { return maxLength() == 32767 ? 0 : maxLength(); }
    void SetMaxLength(int v) { setMaxLength(v <= 0 ? 32767 : v); }

    bool PointerOver() const { return pointerOver_; }
    // True while the frame shows the focused colour.
    bool Highlighted() const;
    // Paints the frame in the current colours and sets the text background.
    void RedrawBorder();
    // Height = the font's cell height + 6.
    void FitHeightToFont();
    // Called once the stored settings are applied: the height follows the font.
    void Loaded() { FitHeightToFont(); }

    bool DialogChar(QChar) override { return false; }

    std::function<void(QObject*)> OnChange;
    std::function<void(QObject*)> OnClick;
    std::function<void(QObject*)> OnDblClick;
    std::function<void(QObject*)> OnEnter;
    std::function<void(QObject*)> OnExit;

protected:
    void paintEvent(QPaintEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void SetColorByIndex(int index, TColor v);
    void SetAdvColorByIndex(int index, int v);
    void DeriveColors();
    void TakeParentColor();

    TColor colors_[3] = {clWhite, kDefaultBorder, kDefaultFace};
    TColor face_ = kDefaultFace;  // the text area's colour and the inner frame's, set by RedrawBorder
    TAdvColors adv_[2] = {10, 50};
    bool useAdvColors_ = false;
    bool parentColor_ = true;
    bool pointerOver_ = false;
    bool pressed_ = false;
    bool settingPalette_ = false;
};

class TFlatEdit : public TCustomFlatEdit {
    Q_OBJECT

public:
    using TCustomFlatEdit::TCustomFlatEdit;
};
