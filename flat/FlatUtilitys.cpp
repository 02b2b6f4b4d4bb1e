#include "FlatUtilitys.h"

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdlib>

namespace {

struct SystemColorRole {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// Windows system colour indices and the palette roles that play their part.
SystemColorRole RoleOfSystemColor(int index)
{
    switch (index) {
    case 0: return {QPalette::Active, QPalette::Midlight};         // scroll bar
    case 2: return {QPalette::Active, QPalette::Highlight};        // active caption
    case 3: return {QPalette::Active, QPalette::Mid};              // inactive caption
    case 5: return {QPalette::Active, QPalette::Base};             // window
    case 6: return {QPalette::Active, QPalette::Shadow};           // window frame
    case 7: return {QPalette::Active, QPalette::WindowText};       // menu text
    case 8: return {QPalette::Active, QPalette::Text};             // window text
    case 9: return {QPalette::Active, QPalette::HighlightedText};  // caption text
    case 12: return {QPalette::Active, QPalette::Mid};             // application workspace
    case 13: return {QPalette::Active, QPalette::Highlight};
    case 14: return {QPalette::Active, QPalette::HighlightedText};
    case 15: return {QPalette::Active, QPalette::Button};          // button face
    case 16: return {QPalette::Active, QPalette::Dark};            // button shadow
    case 17: return {QPalette::Disabled, QPalette::Text};          // grey text
    case 18: return {QPalette::Active, QPalette::ButtonText};
    case 19: return {QPalette::Inactive, QPalette::Text};          // inactive caption text
    case 20: return {QPalette::Active, QPalette::Light};           // button highlight
    case 21: return {QPalette::Active, QPalette::Shadow};          // 3-D dark shadow
    case 22: return {QPalette::Active, QPalette::Midlight};        // 3-D light
    case 23: return {QPalette::Active, QPalette::ToolTipText};     // info text
    case 24: return {QPalette::Active, QPalette::ToolTipBase};     // info background
    default: return {QPalette::Active, QPalette::Window};          // background, menu, borders
    }
}

// A grey level Round(255 * v) as a colour: used for mask tests.
bool SameRgb(QRgb a, QRgb b) { return (a & 0xFFFFFF) == (b & 0xFFFFFF); }

// Alt+character, or a character typed into a control that does not take
// characters, is offered to the window's controls as their accelerator.
class AcceleratorFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        // Keys reach the focused control, or the active window itself when
        // no control of it has the focus.
        auto* receiver = static_cast<QWidget*>(watched);
        const bool toFocus = receiver == QApplication::focusWidget();
        const bool toWindow = QApplication::focusWidget() == nullptr && receiver->isWindow();
        if (!toFocus && !toWindow)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const auto mods = key->modifiers();
        if (!(mods & Qt::AltModifier) || (mods & (Qt::ControlModifier | Qt::MetaModifier)))
            return false;
        QChar ch;
        if (!key->text().isEmpty() && key->text()[0].isPrint())
            ch = key->text()[0];
        else if (key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z)
            ch = QChar(key->key());
        if (ch.isNull())
            return false;
        return OfferDialogChar(receiver->window(), ch);
    }
};

}  // namespace

bool IsSystemColor(TColor c) { return (c & 0xFF000000) == 0xFF000000; }

TColor ColorToRGB(TColor c)
{
    if (!IsSystemColor(c))
        return c & 0xFFFFFF;
    const SystemColorRole r = RoleOfSystemColor(int(c & 0xFF));
    return FromQColor(QApplication::palette().color(r.group, r.role));
}

QColor ToQColor(TColor c)
{
    const TColor rgb = ColorToRGB(c);
    return QColor(int(rgb & 0xFF), int(rgb >> 8 & 0xFF), int(rgb >> 16 & 0xFF));
}

TColor FromQColor(const QColor& c) { return TColor(c.red()) | TColor(c.green()) << 8 | TColor(c.blue()) << 16; }

TColor DeriveAdvancedColor(TColor base, TColor current, TAdvColors percent, TAdvMode mode)
{
    if (percent == 0)
        return current;
    int h = 0, s = 0, l = 0;
    ColorToHslScaled(ColorToRGB(base), h, s, l);
    l += 10;
    // The clamps are 100 and 0 on the 0..240 scale, as the look was designed.
    if (mode == lighten)
        l = l + percent > 100 ? 100 : l + percent;
    else
        l = l - percent < 0 ? 0 : l - percent;
    return HslScaledToColor(h, s, l);
}

void DrawBevelFrame(QPainter& painter, QRect rect, TColor topLeft, TColor bottomRight, int width)
{
    int left = rect.left();
    int top = rect.top();
    int right = rect.left() + rect.width() - 1;  // inclusive from here on
    int bottom = rect.top() + rect.height() - 1;
    const QColor tl = ToQColor(topLeft);
    const QColor br = ToQColor(bottomRight);
    for (int ring = 0; ring < width; ++ring) {
        // Top row and left column (without the bottom-left corner) in the
        // top-left colour; right column and bottom row in the other.
        if (right > left)
            painter.fillRect(left, top, right - left, 1, tl);
        if (bottom > top)
            painter.fillRect(left, top, 1, bottom - top, tl);
        painter.fillRect(right, top, 1, bottom - top + 1, br);
        painter.fillRect(left, bottom, right - left + 1, 1, br);
        ++left;
        ++top;
        --right;
        --bottom;
    }
}

void PaintParentBackground(QWidget* control, QPainter& painter)
{
    QWidget* parent = control->parentWidget();
    if (parent == nullptr)
        return;
    painter.save();
    painter.translate(-control->pos());
    painter.setClipRect(parent->rect(), Qt::IntersectClip);
    parent->render(&painter, control->pos(), QRegion(control->geometry()), QWidget::DrawWindowBackground);
    painter.restore();
}

QImage MakeDisabledGlyph(const QImage& source, TColor maskColor, TColor back, bool drawHighlight, TColor shadow,
                         TColor highlight)
{
    const int w = source.width();
    const int h = source.height();
    const bool twoTone = source.format() == QImage::Format_Mono || source.format() == QImage::Format_MonoLSB;
    const QRgb maskRgb = ToQColor(maskColor).rgb();
    auto isSet = [&](int x, int y) {
        return twoTone ? source.pixelIndex(x, y) == 0 : SameRgb(source.pixel(x, y), maskRgb);
    };
    QImage result(w, h, QImage::Format_RGB32);
    result.fill(ToQColor(back));
    const QRgb shadowRgb = ToQColor(shadow).rgb();
    const QRgb highlightRgb = ToQColor(highlight).rgb();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!isSet(x, y))
                continue;
            if (drawHighlight && x + 1 < w && y + 1 < h)
                result.setPixel(x + 1, y + 1, highlightRgb);
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (isSet(x, y))
                result.setPixel(x, y, shadowRgb);
    return result;
}

QSize CaptionExtent(const QFont& font, const QString& caption)
{
    if (caption.isEmpty())
        return {0, 0};
    const QFontMetrics metrics(font);
    return {metrics.size(Qt::TextSingleLine | Qt::TextShowMnemonic, caption).width(), metrics.height()};
}

void CalcGlyphLayout(const QFont& font, const QRect& client, QPoint offset, const QString& caption,
                     TButtonLayout layout, int margin, int spacing, const QImage& glyph, int numGlyphs,
                     QPoint& glyphOrigin, QRect& captionRect)
{
    const int cw = client.width();
    const int ch = client.height();
    const QSize glyphSize = glyph.isNull() || numGlyphs <= 0 ? QSize(0, 0)
                                                             : QSize(glyph.width() / numGlyphs, glyph.height());
    const QSize text = CaptionExtent(font, caption);
    const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
    QPoint g, t;
    if (horizontal) {
        g.setY((ch - glyphSize.height() + 1) / 2);
        t.setY((ch - text.height() + 1) / 2);
    } else {
        g.setX((cw - glyphSize.width() + 1) / 2);
        t.setX((cw - text.width() + 1) / 2);
    }
    if (text.width() == 0 || glyphSize.width() == 0)
        spacing = 0;
    const int extent = horizontal ? cw : ch;
    const int glyphMain = horizontal ? glyphSize.width() : glyphSize.height();
    const int textMain = horizontal ? text.width() : text.height();
    if (margin == -1 && spacing == -1) {
        margin = (extent - (glyphMain + textMain)) / 3;
        spacing = margin;
    } else if (margin == -1) {
        margin = (extent - (glyphMain + spacing + textMain) + 1) / 2;
    } else if (spacing == -1) {
        spacing = (extent - margin - glyphMain - textMain) / 2;
    }
    switch (layout) {
    case blGlyphLeft:
        g.setX(margin);
        t.setX(g.x() + glyphSize.width() + spacing);
        break;
    case blGlyphRight:
        g.setX(cw - margin - glyphSize.width());
        t.setX(g.x() - spacing - text.width());
        break;
    case blGlyphTop:
        g.setY(margin);
        t.setY(g.y() + glyphSize.height() + spacing);
        break;
    case blGlyphBottom:
        g.setY(ch - margin - glyphSize.height());
        t.setY(g.y() - spacing - text.height());
        break;
    }
    const QPoint shift = client.topLeft() + offset;
    glyphOrigin = g + shift;
    captionRect = QRect(t + shift, text);
}

// Captions are drawn without antialiasing: crisp one-colour text, as the
// engraved disabled look needs.
void SetCrispFont(QPainter& painter, const QFont& font)
{
    QFont crisp = font;
    crisp.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(crisp);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
}

void DrawCaption(QPainter& painter, const QRect& rect, const QString& caption, const QColor& color, int alignment,
                 bool accelerators)
{
    SetCrispFont(painter, painter.font());
    painter.setPen(color);
    const int lines = alignment & Qt::TextWordWrap ? 0 : Qt::TextSingleLine;
    const int mnemonic = accelerators ? Qt::TextShowMnemonic : 0;
    painter.drawText(rect, alignment | lines | mnemonic | Qt::TextDontClip, caption);
}

void DrawDisabledCaption(QPainter& painter, const QRect& rect, const QString& caption, int alignment,
                         bool accelerators)
{
    DrawCaption(painter, rect.translated(1, 1), caption, ToQColor(clBtnHighlight), alignment, accelerators);
    DrawCaption(painter, rect, caption, ToQColor(clBtnShadow), alignment, accelerators);
}

void DrawControlCaption(QPainter& painter, const QWidget* control, const QRect& rect, const QString& caption,
                        int alignment, bool accelerators)
{
    if (control->isEnabled())
        DrawCaption(painter, rect, caption, control->palette().color(QPalette::WindowText), alignment, accelerators);
    else
        DrawDisabledCaption(painter, rect, caption, alignment, accelerators);
}

void DrawClippedControlCaption(QPainter& painter, const QWidget* control, const QRect& rect, const QString& caption,
                               int alignment)
{
    const auto clipped = [&](const QRect& at, const QColor& color) {
        painter.save();
        painter.setClipRect(at, Qt::IntersectClip);
        DrawCaption(painter, at, caption, color, alignment, true);
        painter.restore();
    };
    if (control->isEnabled()) {
        clipped(rect, control->palette().color(QPalette::WindowText));
        return;
    }
    clipped(rect.translated(1, 1), ToQColor(clBtnHighlight));
    clipped(rect, ToQColor(clBtnShadow));
}

void ComposeOffscreen(QWidget* control, const std::function<void(QPainter&)>& paint)
{
    QPixmap face(control->size());
    face.fill(Qt::transparent);
    {
        QPainter painter(&face);
        painter.setFont(control->font());
        paint(painter);
    }
    QPainter(control).drawPixmap(0, 0, face);
}

int NumGlyphsFor(const QImage& glyph, int current)
{
    if (glyph.isNull() || glyph.height() == 0 || glyph.width() % glyph.height() != 0)
        return current;
    const int n = glyph.width() / glyph.height();
    return n > 4 ? 1 : n;
}

QRect GlyphSourceRect(const QSize& glyph, int numGlyphs, ButtonDrawState state)
{
    const int w = glyph.width();
    const int h = glyph.height();
    const int n = numGlyphs < 1 ? 1 : numGlyphs;
    const int each = w / n;
    auto image = [&](int i) { return QRect(i * each, 0, each, h); };
    auto tail = [&](int i) { return QRect(i * each, 0, w - i * each, h); };
    switch (n) {
    case 1: return QRect(0, 0, w, h);
    case 2: return state == ButtonDrawState::Disabled ? tail(1) : image(0);
    case 3:
        if (state == ButtonDrawState::Disabled)
            return image(1);
        return state == ButtonDrawState::Up ? image(0) : tail(2);
    default:
        switch (state) {
        case ButtonDrawState::Up: return image(0);
        case ButtonDrawState::Disabled: return image(1);
        case ButtonDrawState::Pressed: return image(2);
        case ButtonDrawState::Latched: return tail(3);
        }
    }
    return image(0);
}

void DrawGlyph(QPainter& painter, const QImage& glyph, int numGlyphs, ButtonDrawState state, QPoint origin)
{
    if (glyph.isNull())
        return;
    const int n = numGlyphs < 1 ? 1 : numGlyphs;
    QRgb transparent = glyph.pixel(0, glyph.height() - 1);
    QImage image = glyph.copy(GlyphSourceRect(glyph.size(), n, state))
                       .scaled(glyph.width() / n, glyph.height())
                       .convertToFormat(QImage::Format_ARGB32);
    if (n == 1 && state == ButtonDrawState::Disabled) {
        image = MakeDisabledGlyph(image, clBlack, clBtnFace, true, clBtnShadow, clBtnHighlight)
                    .convertToFormat(QImage::Format_ARGB32);
        transparent = image.pixel(0, image.height() - 1);
    }
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (SameRgb(image.pixel(x, y), transparent))
                image.setPixel(x, y, 0);
    painter.drawImage(origin, image);
}

QChar AcceleratorOf(const QString& caption)
{
    for (int i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] != '&')
            return caption[i + 1];
        ++i;  // "&&" stands for one "&"
    }
    return {};
}

bool IsAccelerator(QChar ch, const QString& caption)
{
    const QChar accelerator = AcceleratorOf(caption);
    return !accelerator.isNull() && accelerator.toUpper() == ch.toUpper();
}

bool OfferDialogChar(QWidget* window, QChar ch)
{
    if (window == nullptr)
        return false;
    for (QWidget* child : window->findChildren<QWidget*>()) {
        // What the user cannot see or use (a hidden page, a hidden or disabled
        // control) never answers: a key must not act on something unseen.
        if (!child->isVisible() || !child->isEnabled())
            continue;
        auto* target = dynamic_cast<TFlatDialogCharTarget*>(child);
        if (target != nullptr && target->DialogChar(ch))
            return true;
    }
    return false;
}

void InstallAcceleratorFilter()
{
    static AcceleratorFilter* filter = nullptr;
    if (filter == nullptr && qApp != nullptr) {
        filter = new AcceleratorFilter(qApp);
        qApp->installEventFilter(filter);
    }
}

void DrawFocusRect(QPainter& painter, const QRect& rect, const QColor& color)
{
    if (rect.width() < 1 || rect.height() < 1)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(color);
    const auto dot = [&painter](int x, int y) {
        if ((x + y) % 2 == 0)
            painter.drawPoint(x, y);
    };
    for (int x = rect.left(); x <= rect.right(); ++x) {
        dot(x, rect.top());
        dot(x, rect.bottom());
    }
    for (int y = rect.top() + 1; y < rect.bottom(); ++y) {
        dot(rect.left(), y);
        dot(rect.right(), y);
    }
    painter.restore();
}

QColor FocusMarkColor(const QWidget* control) { return control->palette().color(QPalette::WindowText); }

TColor ParentColorOf(const QWidget* parent)
{
    if (parent == nullptr)
        return kDefaultFace;
    const QVariant color = parent->property("Color");
    if (color.isValid())
        return color.value<TColor>();
    return FromQColor(parent->palette().color(parent->backgroundRole()));
}

void DrawLineWithoutEnd(QPainter& painter, QPoint from, QPoint to, const QColor& color)
{
    const int dx = to.x() - from.x(), dy = to.y() - from.y();
    const int steps = std::max(std::abs(dx), std::abs(dy));
    for (int i = 0; i < steps; ++i)
        painter.fillRect(from.x() + dx * i / steps, from.y() + dy * i / steps, 1, 1, color);
}

void NotifyParentColorChanged(QWidget* container)
{
    for (QObject* child : container->children())
        if (child->isWidgetType()) {
            QEvent changed(QEvent::PaletteChange);
            QCoreApplication::sendEvent(child, &changed);
        }
}

bool TFlatColors::StoreUseAdvColors(bool v)
{
    if (v == useAdvColors_)
        return false;
    useAdvColors_ = v;
    StoreParentColor(v);
    RecomputeAdvColors();
    return true;
}

void TFlatColors::StoreAdvColor(TAdvColors& percent, int v)
{
    percent = static_cast<TAdvColors>(std::clamp(v, 0, 100));
    RecomputeAdvColors();
}

void TFlatColors::RecomputeAdvColors()
{
    if (!useAdvColors_)
        return;
    for (const Derived& d : derived_)
        *d.color = DeriveAdvancedColor(color_, *d.color, *d.percent, d.mode);
}

void TFlatColors::FollowParent()
{
    if (parentColor_ && self_->parentWidget() != nullptr)
        color_ = ParentColorOf(self_->parentWidget());
}

bool TFlatColors::FollowColorChange(const QEvent* e)
{
    switch (e->type()) {
    case QEvent::PaletteChange:  // the parent's colour changed
    case QEvent::ParentChange:
        FollowParent();
        [[fallthrough]];
    case QEvent::ApplicationPaletteChange:  // the system colours changed
        if (useAdvColors_) {
            StoreParentColor(true);
            RecomputeAdvColors();
        }
        return true;
    default:
        return false;
    }
}

void TFlatColors::FollowAppearanceChange(const QEvent* e)
{
    if (FollowColorChange(e))
        ColorsChanged();
    else if (e->type() == QEvent::EnabledChange || e->type() == QEvent::FontChange)
        self_->update();
}

QWidget* ControlUnderPointer() { return QApplication::widgetAt(QCursor::pos()); }

void THoverTracker::AddInstance()
{
    if (HoverTimer == nullptr) {
        HoverTimer = new QTimer;
        HoverTimer->setInterval(100);
        QObject::connect(HoverTimer, &QTimer::timeout, [this] { Tick(); });
    }
    ++InstanceCount;
}

void THoverTracker::RemoveInstance(TFlatHoverable* control)
{
    Release(control);
    if (--InstanceCount == 0) {
        delete HoverTimer;
        HoverTimer = nullptr;
    }
}

void THoverTracker::PointerMoved(TFlatHoverable* control)
{
    if (control == HoverControl || ControlUnderPointer() != control->self_)
        return;
    if (HoverControl != nullptr)
        HoverControl->HoverLeave();
    if (QApplication::activeWindow() == nullptr)
        return;
    HoverTimer->stop();
    HoverControl = control;
    HoverTimer->start();
    control->HoverEnter();
}

void THoverTracker::Release(TFlatHoverable* control)
{
    if (HoverControl != control)
        return;
    if (HoverTimer != nullptr)
        HoverTimer->stop();
    HoverControl = nullptr;
}

void THoverTracker::Tick()
{
    if (HoverControl != nullptr && ControlUnderPointer() != HoverControl->self_)
        HoverControl->HoverLeave();
}

TFlatHoverable::TFlatHoverable(THoverTracker& tracker, QWidget* self) : tracker_(tracker), self_(self)
{
    tracker_.AddInstance();
}

TFlatHoverable::~TFlatHoverable() { tracker_.RemoveInstance(this); }

void TFlatHoverable::HoverEnter()
{
    if (!self_->isEnabled() || hovered_)
        return;
    hovered_ = true;
    RedrawHover();
}

void TFlatHoverable::HoverLeave()
{
    if (!self_->isEnabled() || !hovered_ || MousePressInProgress())
        return;
    hovered_ = false;
    tracker_.Release(this);
    RedrawHover();
}
