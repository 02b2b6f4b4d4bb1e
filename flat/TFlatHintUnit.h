// TFlatHint and TFlatHintWindow: every tooltip of the application appears in
// a flat window that wraps its text to MaxHintWidth, stands diagonally next to
// the pointer away from the nearest screen corner, and shows a small arrow
// pointing at the pointer. TFlatHint holds the settings; creating one makes
// the application show its tooltips this way.
#pragma once

#include "FlatUtilitys.h"

#include <QFont>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class QTimer;

// What the show-hint callback may inspect and change.
struct THintInfo {
    QWidget* HintControl = nullptr;
    QPoint CursorPos;
};
using TShowHintEvent = std::function<void(QString& HintStr, bool& CanShow, THintInfo& HintInfo)>;

// The look of the hints: TFlatHint's attributes, or these defaults when no
// TFlatHint exists.
struct THintSettings {
    TColor colors[4] = {clWhite, clBlack, 0x53D2FF, clBlack};  // background, border, arrow background, arrow
    int maxHintWidth = 200;
    QFont font;
};

// The application's switch for tooltips (on by default).
bool ApplicationShowHint();
void SetApplicationShowHint(bool on);

class TFlatHint : public QObject {
    Q_OBJECT
    Q_PROPERTY(TColor ColorBackground READ ColorBackground WRITE SetColorBackground)
    Q_PROPERTY(TColor ColorBorder READ ColorBorder WRITE SetColorBorder)
    Q_PROPERTY(TColor ColorArrowBackground READ ColorArrowBackground WRITE SetColorArrowBackground)
    Q_PROPERTY(TColor ColorArrow READ ColorArrow WRITE SetColorArrow)
    Q_PROPERTY(int MaxHintWidth READ MaxHintWidth WRITE SetMaxHintWidth)
    Q_PROPERTY(QFont Font READ Font WRITE SetFont)

public:
    explicit TFlatHint(QObject* owner = nullptr);
    ~TFlatHint() override;

    // Setters only store: the next hint uses the new values.
    TColor ColorBackground() const { return settings_.colors[0]; }
    void SetColorBackground(TColor v) { settings_.colors[0] = v; }
    TColor ColorBorder() const { return settings_.colors[1]; }
    void SetColorBorder(TColor v) { settings_.colors[1] = v; }
    TColor ColorArrowBackground() const { return settings_.colors[2]; }
    void SetColorArrowBackground(TColor v) { settings_.colors[2] = v; }
    TColor ColorArrow() const { return settings_.colors[3]; }
    void SetColorArrow(TColor v) { settings_.colors[3] = v; }
    int MaxHintWidth() const { return settings_.maxHintWidth; }
    void SetMaxHintWidth(int v) { settings_.maxHintWidth = v; }
    const QFont& Font() const { return settings_.font; }
    void SetFont(const QFont& f) { settings_.font = f; }
    const THintSettings& Settings() const { return settings_; }

    TShowHintEvent OnShowHint;

    // The application's hint timing, in milliseconds.
    static constexpr int HintPause = 500;       // before the first hint
    static constexpr int HintShortPause = 25;   // moving to the next control while a hint shows
    static constexpr int HintHidePause = 5000;  // until a shown hint is hidden

private:
    THintSettings settings_;
};

// The first live TFlatHint, or none: its settings style every hint.
TFlatHint* FindHintSettings();

class TFlatHintWindow : public QWidget {
    Q_OBJECT

public:
    TFlatHintWindow();

    // Sizes the window for `text` from the origin of `rect` and shows it next
    // to the pointer, topmost, without taking the activation.
    void ActivateHint(const QRect& rect, const QString& text);
    // The same with the pointer and the screen given: the placement rule.
    void ActivateHintAt(const QRect& rect, const QString& text, QPoint pointer, const QRect& screen);

    int HintPlacement() const { return placement_; }
    QPoint ArrowAnchor() const { return arrowAnchor_; }
    const QString& Text() const { return text_; }

    // The 18 points of the arrow for placement 1; the others mirror them.
    static const QPoint kArrowOffsets[18];

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QRect StripRect() const;
    QRect TextArea() const;
    const THintSettings& Settings() const;

    QString text_;
    int placement_ = 1;
    QPoint arrowAnchor_;
    QPointer<TFlatHint> settings_;
};
