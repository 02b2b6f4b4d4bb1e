#include "TFlatHintUnit.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <vector>
#include <utility>

namespace {

bool showHints = true;

std::vector<TFlatHint*>& LiveHints()
{
    static std::vector<TFlatHint*> hints;
    return hints;
}

// A control's tooltip at the global point `pos`.
QString HintOf(const QWidget* w, QPoint pos)
{
    if (const auto* source = dynamic_cast<const TFlatHintSource*>(w))
        return source->HintAt(w->mapFromGlobal(pos));
    return w->toolTip();
}

// The control whose tooltip applies at `pos` (the one under the pointer or
// its nearest container with a tooltip) and that tooltip.
std::pair<QWidget*, QString> HintTargetAt(QPoint pos)
{
    for (QWidget* w = QApplication::widgetAt(pos); w != nullptr; w = w->parentWidget()) {
        QString text = HintOf(w, pos);
        if (!text.isEmpty())
            return {w, text};
        if (w->isWindow())
            break;
    }
    return {nullptr, QString()};
}

// Decides when a hint shows and hides: the toolkit's own tooltips are
// suppressed, and the flat window appears 500 ms after the pointer settles
// on a control with a tooltip (25 ms when moving on while one shows) and
// goes after 5 s, a press, a key or leaving the control.
class HintController : public QObject {
public:
    explicit HintController(QObject* parent) : QObject(parent)
    {
        showTimer_.setSingleShot(true);
        hideTimer_.setSingleShot(true);
        connect(&showTimer_, &QTimer::timeout, this, [this] { ShowHint(); });
        connect(&hideTimer_, &QTimer::timeout, this, [this] { HideHint(); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::ToolTip:
            return true;
        case QEvent::MouseMove:
            if (watched->isWindowType())
                PointerMoved();
            break;
        case QEvent::MouseButtonPress:
        case QEvent::KeyPress:
        case QEvent::WindowDeactivate:
            HideHint();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void PointerMoved()
    {
        const auto [target, text] = HintTargetAt(QCursor::pos());
        if (target == current_ && text == currentText_)
            return;
        const bool showing = window_.isVisible();
        current_ = target;
        currentText_ = text;
        HideHint();
        if (target != nullptr)
            showTimer_.start(showing ? TFlatHint::HintShortPause : TFlatHint::HintPause);
    }

    void ShowHint()
    {
        if (!ApplicationShowHint() || current_.isNull())
            return;
        QString text = currentText_;
        bool canShow = true;
        THintInfo info{current_.data(), QCursor::pos()};
        if (TFlatHint* settings = FindHintSettings(); settings != nullptr && settings->OnShowHint)
            settings->OnShowHint(text, canShow, info);
        if (!canShow || text.isEmpty())
            return;
        window_.ActivateHint(QRect(info.CursorPos, QSize()), text);
        hideTimer_.start(TFlatHint::HintHidePause);
    }

    void HideHint()
    {
        showTimer_.stop();
        hideTimer_.stop();
        window_.hide();
    }

    TFlatHintWindow window_;
    QPointer<QWidget> current_;
    QString currentText_;
    QTimer showTimer_;
    QTimer hideTimer_;
};

void InstallHintController()
{
    static HintController* controller = nullptr;
    if (controller == nullptr && qApp != nullptr) {
        controller = new HintController(qApp);
        qApp->installEventFilter(controller);
    }
}

}  // namespace

bool ApplicationShowHint() { return showHints; }
void SetApplicationShowHint(bool on) { showHints = on; }

TFlatHint::TFlatHint(QObject* owner) : QObject(owner)
{
    InstallHintController();
    // Switching hints off and on again makes the next hint use the new
    // window and leaves the application's choice as it was.
    SetApplicationShowHint(!ApplicationShowHint());
    SetApplicationShowHint(!ApplicationShowHint());
    LiveHints().push_back(this);
}

// The hint machinery stays, with default settings: nothing refers to a
// destroyed component.
TFlatHint::~TFlatHint()
{
    auto& hints = LiveHints();
    hints.erase(std::remove(hints.begin(), hints.end(), this), hints.end());
}

TFlatHint* FindHintSettings() { return LiveHints().empty() ? nullptr : LiveHints().front(); }

// ---------------------------------------------------------------- window

const QPoint TFlatHintWindow::kArrowOffsets[18] = {{0, 0}, {0, 6}, {1, 6}, {1, 0}, {6, 0}, {6, 1},
                                                   {2, 1}, {2, 4}, {5, 7}, {6, 7}, {3, 4}, {3, 3},
                                                   {6, 6}, {7, 6}, {3, 2}, {4, 2}, {7, 5}, {7, 6}};

TFlatHintWindow::TFlatHintWindow() : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void TFlatHintWindow::ActivateHint(const QRect& rect, const QString& text)
{
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    ActivateHintAt(rect, text, QCursor::pos(), screen != nullptr ? screen->geometry() : QRect(0, 0, 1024, 768));
}

void TFlatHintWindow::ActivateHintAt(const QRect& rect, const QString& text, QPoint pointer, const QRect& screen)
{
    text_ = text;
    settings_ = FindHintSettings();
    const THintSettings& s = Settings();
    setFont(s.font);

    // Wrapped at blanks to MaxHintWidth - 22; a wider single word widens it.
    const QFontMetrics metrics(font());
    const QRect measured = metrics.boundingRect(QRect(rect.left(), rect.top(), s.maxHintWidth - 22, 1 << 20),
                                                Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    const int w = measured.width() + 22;
    const int h = measured.height() + 6;

    const int halfW = screen.width() / 2, halfH = screen.height() / 2;
    const int x = pointer.x() - screen.left(), y = pointer.y() - screen.top();
    const bool left = x >= 0 && x < halfW, right = x >= halfW && x < screen.width();
    const bool top = y >= 0 && y < halfH, bottom = y >= halfH && y < screen.height();
    placement_ = top && left ? 1 : top && right ? 0 : bottom && left ? 3 : 2;

    const int g = placement_ == 1 ? 12 : 5;
    const QPoint p = pointer;
    QRect bounds;
    switch (placement_) {
    case 0: bounds = QRect(p.x() - w - g, p.y() + g, w, h); break;
    case 1: bounds = QRect(p.x() + g, p.y() + g, w, h); break;
    case 2: bounds = QRect(p.x() - w - g, p.y() - h - g, w, h); break;
    default: bounds = QRect(p.x() + g, p.y() - h - g, w, h); break;
    }
    setGeometry(bounds);
    show();
    update();
}

// The settings found at the last activation, or the defaults.
const THintSettings& TFlatHintWindow::Settings() const
{
    static const THintSettings defaults;
    return settings_ ? settings_->Settings() : defaults;
}

QRect TFlatHintWindow::StripRect() const
{
    const bool leftStrip = placement_ == 1 || placement_ == 3;
    return leftStrip ? QRect(1, 1, 14, height() - 2) : QRect(width() - 15, 1, 14, height() - 2);
}

QRect TFlatHintWindow::TextArea() const
{
    const bool leftStrip = placement_ == 1 || placement_ == 3;
    return leftStrip ? QRect(15, 1, width() - 16, height() - 2) : QRect(1, 1, width() - 16, height() - 2);
}

void TFlatHintWindow::paintEvent(QPaintEvent*)
{
    const THintSettings& s = Settings();
    QPainter painter(this);
    const QRect strip = StripRect();
    painter.fillRect(strip, ToQColor(s.colors[2]));
    painter.fillRect(TextArea(), ToQColor(s.colors[0]));
    DrawBevelFrame(painter, rect(), s.colors[1], s.colors[1], 1);

    // The arrow's head sits in the strip's corner nearest the pointer.
    const int sx = placement_ == 0 || placement_ == 2 ? -1 : 1;
    const int sy = placement_ == 2 || placement_ == 3 ? -1 : 1;
    arrowAnchor_ = QPoint(sx > 0 ? strip.left() + 2 : strip.right() - 2, sy > 0 ? strip.top() + 2 : strip.bottom() - 2);
    const QColor arrow = ToQColor(s.colors[3]);
    for (int i = 0; i + 1 < 18; ++i) {
        const QPoint a = arrowAnchor_ + QPoint(kArrowOffsets[i].x() * sx, kArrowOffsets[i].y() * sy);
        const QPoint b = arrowAnchor_ + QPoint(kArrowOffsets[i + 1].x() * sx, kArrowOffsets[i + 1].y() * sy);
        DrawLineWithoutEnd(painter, a, b, arrow);
    }

    const QRect text = TextArea().adjusted(3, 1, -3, -1);
    SetCrispFont(painter, font());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.setClipRect(text);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text_);
}
