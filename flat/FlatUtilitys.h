// Shared machinery of the flat controls: colour values and the advanced-colour
// rule, the bevel frame, the parent's image behind a control, disabled glyphs,
// glyph and caption layout, accelerators and the class-wide hover tracker.
#pragma once

#include "HSLUtils.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

class QPainter;
class QTimer;

namespace FlatUtilitys {
Q_NAMESPACE

enum TTransparentMode { tmAlways = 0, tmNotFocused = 1, tmNone = 2 };
Q_ENUM_NS(TTransparentMode)
enum TCheckBoxLayout { checkboxLeft = 0, checkboxRight = 1 };
Q_ENUM_NS(TCheckBoxLayout)
enum TRadioButtonLayout { radioLeft = 0, radioRight = 1 };
Q_ENUM_NS(TRadioButtonLayout)
enum TGroupBoxBorder { brFull = 0, brOnlyTopLine = 1 };
Q_ENUM_NS(TGroupBoxBorder)
enum TButtonLayout { blGlyphLeft = 0, blGlyphRight = 1, blGlyphTop = 2, blGlyphBottom = 3 };
Q_ENUM_NS(TButtonLayout)
enum TAdvMode { lighten = 0, darken = 1 };
enum TAlignment { taLeftJustify = 0, taRightJustify = 1, taCenter = 2 };
Q_ENUM_NS(TAlignment)

}  // namespace FlatUtilitys

// The unit's names are used unqualified by every flat control, as its users expect.
using namespace FlatUtilitys;

using TAdvColors = std::uint8_t;  // a percentage, 0..100
using TNumGlyphs = std::uint8_t;  // 1..4
using TModalResult = int;

// System colours: 0xFF000000 + the platform's colour index, resolved through
// the application palette when used (table in FlatUtilitys.cpp).
inline constexpr TColor clScrollBar = 0xFF000000;
inline constexpr TColor clWindow = 0xFF000005;
inline constexpr TColor clWindowFrame = 0xFF000006;
inline constexpr TColor clWindowText = 0xFF000008;
inline constexpr TColor clHighlight = 0xFF00000D;
inline constexpr TColor clHighlightText = 0xFF00000E;
inline constexpr TColor clBtnFace = 0xFF00000F;
inline constexpr TColor clBtnShadow = 0xFF000010;
inline constexpr TColor clGrayText = 0xFF000011;
inline constexpr TColor clBtnText = 0xFF000012;
inline constexpr TColor clBtnHighlight = 0xFF000014;
inline constexpr TColor cl3DDkShadow = 0xFF000015;
inline constexpr TColor cl3DLight = 0xFF000016;
inline constexpr TColor clInfoText = 0xFF000017;
inline constexpr TColor clInfoBk = 0xFF000018;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;

// The default colours of the flat colour set.
inline constexpr TColor kDefaultFace = 0xE1EAEB;     // RGB (235, 234, 225)
inline constexpr TColor kDefaultDown = 0xC5D6D9;     // RGB (217, 214, 197)
inline constexpr TColor kDefaultBorder = 0x8396A0;   // RGB (160, 150, 131)

bool IsSystemColor(TColor c);
// The RGB value of `c`, system colours resolved through the application palette now.
TColor ColorToRGB(TColor c);
QColor ToQColor(TColor c);
TColor FromQColor(const QColor& c);

// The advanced-colour rule: `current` when `percent` is 0; otherwise the base
// colour's hue and saturation with its scaled lightness + 10, raised by
// `percent` up to 100 (lighten) or lowered by it down to 0 (darken).
TColor DeriveAdvancedColor(TColor base, TColor current, TAdvColors percent, TAdvMode mode);

// Draws `width` rings inside `rect`: top row and left column in `topLeft`,
// right column and bottom row (corners included) in `bottomRight`.
void DrawBevelFrame(QPainter& painter, QRect rect, TColor topLeft, TColor bottomRight, int width);

// Paints the part of the parent's own painting (background and content, not
// its child widgets) that lies under `control` into `painter`, in the
// control's coordinates. Nothing without a parent.
void PaintParentBackground(QWidget* control, QPainter& painter);

// The embossed look of a disabled glyph: pixels of `maskColor` in `shadow`
// with a `highlight` copy one pixel down-right (when `drawHighlight`),
// everything else `back`. A two-tone source counts its clear pixels as set.
QImage MakeDisabledGlyph(const QImage& source, TColor maskColor, TColor back, bool drawHighlight, TColor shadow,
                         TColor highlight);

// Places a glyph (`numGlyphs` images side by side) and a one-line caption in
// `client`; margin and spacing -1 mean automatic. Results in `glyphOrigin`
// and `captionRect` (already moved by `offset`).
void CalcGlyphLayout(const QFont& font, const QRect& client, QPoint offset, const QString& caption,
                     TButtonLayout layout, int margin, int spacing, const QImage& glyph, int numGlyphs,
                     QPoint& glyphOrigin, QRect& captionRect);

// Size of `caption` as one line, "&" markers not counted ("&&" is one "&").
QSize CaptionExtent(const QFont& font, const QString& caption);
// Draws `caption` placed in `rect` by `alignment` (centred by default), the
// accelerator underlined; one line unless `alignment` has Qt::TextWordWrap.
// With `accelerators` false an "&" is drawn as it stands.
void DrawCaption(QPainter& painter, const QRect& rect, const QString& caption, const QColor& color,
                 int alignment = Qt::AlignCenter, bool accelerators = true);
// The engraved look of disabled captions: a clBtnHighlight copy one pixel
// down-right, then the caption in clBtnShadow.
void DrawDisabledCaption(QPainter& painter, const QRect& rect, const QString& caption,
                         int alignment = Qt::AlignCenter, bool accelerators = true);

// The draw states of the two buttons; they select the image of a glyph strip.
enum class ButtonDrawState { Up = 0, Disabled = 1, Pressed = 2, Latched = 3 };

// NumGlyphs for a newly set glyph: width div height when the width is an
// exact multiple of the height (1 above 4), else `current`.
int NumGlyphsFor(const QImage& glyph, int current);
// The part of the strip drawn for `state`.
QRect GlyphSourceRect(const QSize& glyph, int numGlyphs, ButtonDrawState state);
// Draws the image of `state` at `origin`, leaving out the strip's transparent
// colour (its bottom-left pixel); a single disabled image is embossed.
void DrawGlyph(QPainter& painter, const QImage& glyph, int numGlyphs, ButtonDrawState state, QPoint origin);

// The accelerator character of a caption (after a single "&"), or a null QChar.
QChar AcceleratorOf(const QString& caption);
bool IsAccelerator(QChar ch, const QString& caption);

// Controls that answer a character the form offers them (their accelerator).
class TFlatDialogCharTarget {
public:
    virtual ~TFlatDialogCharTarget() = default;
    // True when the character was the control's accelerator and it acted.
    virtual bool DialogChar(QChar ch) = 0;
};

// Offers `ch` to every visible and enabled accelerator target in `window`, in
// creation order, until one handles it.
bool OfferDialogChar(QWidget* window, QChar ch);
// Makes Alt+character reach OfferDialogChar of the window, whatever control
// has the focus (or none). A plain character never does: typed by mistake it
// must not close the window or start a run. Installed once.
void InstallAcceleratorFilter();

// Controls whose tooltip depends on where the pointer is over them (a list
// row too long to show whole). The flat hint window asks them first.
class TFlatHintSource {
public:
    virtual ~TFlatHintSource() = default;
    // The tooltip at `local` (the control's coordinates); empty for none.
    virtual QString HintAt(QPoint local) const = 0;
};

// The focus mark of every focusable flat control: a dotted one-pixel
// rectangle (every other pixel) just inside `rect`, in `color`.
void DrawFocusRect(QPainter& painter, const QRect& rect, const QColor& color);
// The colour a control draws its focus mark in: its text colour.
QColor FocusMarkColor(const QWidget* control);

// The colour a control with ParentColor takes from `parent`: its Color
// property when it has one, else its background colour.
TColor ParentColorOf(const QWidget* parent);

// Tells the children of `container` that its colour changed, so that those
// following their parent's colour take it.
void NotifyParentColorChanged(QWidget* container);

// The colours every flat control with a face shares: Color, ParentColor
// (Color follows the parent's colour) and the advanced-colour cycle, which
// derives some of the control's colours from Color while UseAdvColors is on.
class TFlatColors {
public:
    virtual ~TFlatColors() = default;
    TColor Color() const { return color_; }
    bool ParentColor() const { return parentColor_; }
    bool UseAdvColors() const { return useAdvColors_; }

    // The setters of the published Color, ParentColor and UseAdvColors.
    void SetColor(TColor c)
    {
        StoreColor(c);
        ColorsChanged();
    }
    void SetParentColor(bool v)
    {
        StoreParentColor(v);
        RecomputeAdvColors();
        ColorsChanged();
    }
    void SetUseAdvColors(bool v)
    {
        if (StoreUseAdvColors(v))
            ColorsChanged();
    }

protected:
    explicit TFlatColors(QWidget* self) : self_(self) { FollowParent(); }
    TFlatColors(const TFlatColors&) = delete;
    TFlatColors& operator=(const TFlatColors&) = delete;

    // The control repaints; a container also tells its children.
    virtual void ColorsChanged() { self_->update(); }

    // `*color` is derived from Color by `*percent` (lighten or darken), in
    // the order the colours are added.
    void AddDerivedColor(TColor* color, TAdvColors* percent, TAdvMode mode)
    {
        derived_.push_back({color, percent, mode});
    }
    // Setting a colour of one's own ends following the parent.
    void StoreColor(TColor c)
    {
        color_ = c;
        parentColor_ = false;
    }
    void StoreParentColor(bool v)
    {
        parentColor_ = v;
        FollowParent();
    }
    // False, with nothing done, for the current value; else ParentColor
    // follows and the colours are derived.
    bool StoreUseAdvColors(bool v);
    void StoreAdvColor(TAdvColors& percent, int v);
    void RecomputeAdvColors();
    // Copies the parent's colour while ParentColor is true.
    void FollowParent();
    // The parent's colour or the system colours changed: follows them and
    // derives the colours again. False for any other event.
    bool FollowColorChange(const QEvent* e);
    // The change notifications every flat control answers alike: colours
    // followed as above, and a repaint for an enabled or font change.
    void FollowAppearanceChange(const QEvent* e);

private:
    struct Derived {
        TColor* color;
        TAdvColors* percent;
        TAdvMode mode;
    };
    QWidget* self_;
    TColor color_ = kDefaultFace;
    bool parentColor_ = true;
    bool useAdvColors_ = false;
    std::vector<Derived> derived_;
};

// The caption of `control` in its text colour, or engraved when it is disabled.
void DrawControlCaption(QPainter& painter, const QWidget* control, const QRect& rect, const QString& caption,
                        int alignment = Qt::AlignCenter, bool accelerators = true);

// The same, each copy clipped to its own rectangle (the engraved highlight
// to the moved one), for captions that must not spill out of their place.
void DrawClippedControlCaption(QPainter& painter, const QWidget* control, const QRect& rect, const QString& caption,
                               int alignment);

// Composes the whole face of `control` off screen with `paint` and copies it
// in one operation, so the face never flickers.
void ComposeOffscreen(QWidget* control, const std::function<void(QPainter&)>& paint);

// A straight or diagonal line with its start pixel and without its end pixel.
void DrawLineWithoutEnd(QPainter& painter, QPoint from, QPoint to, const QColor& color);

// The flat controls take the focus by Tab when they are a tab stop, and on
// their own from a left press: never from other buttons.
inline Qt::FocusPolicy TabStopPolicy(bool tabStop) { return tabStop ? Qt::TabFocus : Qt::NoFocus; }
inline bool IsTabStop(const QWidget* w) { return w->focusPolicy() & Qt::TabFocus; }

// Crisp one-colour text as the flat controls draw it: no antialiasing.
void SetCrispFont(QPainter& painter, const QFont& font);

// The control under the pointer, disabled controls included.
QWidget* ControlUnderPointer();

class TFlatHoverable;

// Hover tracking shared by all instances of one control class.
class THoverTracker {
public:
    QTimer* HoverTimer = nullptr;  // exists while the class has instances
    TFlatHoverable* HoverControl = nullptr;
    int InstanceCount = 0;

    void AddInstance();
    void RemoveInstance(TFlatHoverable* control);
    // A pointer move over `control`: it becomes the watched instance.
    void PointerMoved(TFlatHoverable* control);
    // Stops watching `control` if it is the watched one.
    void Release(TFlatHoverable* control);

private:
    void Tick();
};

// The hover state of one flat control and the steps of its class tracker.
class TFlatHoverable {
public:
    bool Hovered() const { return hovered_; }
    QWidget* HoverWidget() const { return self_; }

protected:
    TFlatHoverable(THoverTracker& tracker, QWidget* self);
    virtual ~TFlatHoverable();
    TFlatHoverable(const TFlatHoverable&) = delete;
    TFlatHoverable& operator=(const TFlatHoverable&) = delete;

    // True while a mouse press on the control is in progress.
    virtual bool MousePressInProgress() const = 0;
    // Repaints what the hover state changes: the whole control unless it says less.
    virtual void RedrawHover() { self_->update(); }

    void TrackPointerMove() { tracker_.PointerMoved(this); }
    // Enabled and not hovered: becomes hovered and repaints.
    void HoverEnter();
    // Enabled, hovered and not pressed: stops being hovered and repaints.
    void HoverLeave();
    void ReleaseHover() { tracker_.Release(this); }
    void SetHoveredFlag(bool v) { hovered_ = v; }
    // Stops being hovered and lets the tracker go, whether or not a press is
    // in progress (focus lost, disabled): the next pointer arrival hovers it
    // again and the class timer stops.
    void ForgetHover()
    {
        hovered_ = false;
        tracker_.Release(this);
    }

private:
    friend class THoverTracker;
    THoverTracker& tracker_;
    QWidget* self_;
    bool hovered_ = false;
};
