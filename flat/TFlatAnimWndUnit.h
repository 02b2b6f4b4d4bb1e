// TFlatAnimWnd: minimizing the owner form animates it from its own geometry
// down to its top edge; restoring animates back from the top edge and shows
// the form again. Works whether the form is minimized from its title bar, by
// the window manager or by the program. One component per owner form.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

class TFlatAnimWnd : public QObject {
    Q_OBJECT

public:
    // Throws std::runtime_error("Owner must be TFORM") when `ownerForm` is not
    // a top-level window or already carries a TFlatAnimWnd.
    explicit TFlatAnimWnd(QWidget* ownerForm);
    ~TFlatAnimWnd() override;

    // Sender is the application object.
    std::function<void(QObject* Sender)> OnMinimize;
    std::function<void(QObject* Sender)> OnRestore;

    // The frames (screen rectangles) of the last animation, in order.
    const std::vector<QRect>& AnimationSteps() const { return steps_; }
    bool Animating() const { return timer_.isActive(); }

    static constexpr int kFrames = 8;
    static constexpr int kFrameMs = 15;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void MinimizeAnimated();
    void RestoreAnimated();
    // Plays frames from `from` to `to` in a ghost of the form, then `done`.
    void Animate(const QRect& from, const QRect& to, std::function<void()> done);
    void NextFrame();
    void FinishRunningAnimation();

    QWidget* owner_;
    QWidget ghost_;
    QTimer timer_;
    std::vector<QRect> steps_;
    std::size_t frame_ = 0;
    std::function<void()> done_;
    QPixmap picture_;
};
