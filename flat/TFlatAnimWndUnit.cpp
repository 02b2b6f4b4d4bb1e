#include "TFlatAnimWndUnit.h"

#include <QApplication>
#include <QPainter>
#include <QWindowStateChangeEvent>

#include <set>
#include <stdexcept>

namespace {

// The forms that carry an animation component.
std::set<QWidget*>& AnimOwners()
{
    static std::set<QWidget*> owners;
    return owners;
}

QWidget* CheckedOwner(QWidget* owner)
{
    if (owner == nullptr || !owner->isWindow() || AnimOwners().count(owner) != 0)
        throw std::runtime_error("Owner must be TFORM");
    return owner;
}

// The frame's picture, scaled into the frame's rectangle.
class GhostPainter : public QObject {
public:
    GhostPainter(QWidget* ghost, const QPixmap* picture) : QObject(ghost), ghost_(ghost), picture_(picture) {}

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() != QEvent::Paint)
            return false;
        QPainter(ghost_).drawPixmap(ghost_->rect(), *picture_);
        return true;
    }

private:
    QWidget* ghost_;
    const QPixmap* picture_;
};

}  // namespace

TFlatAnimWnd::TFlatAnimWnd(QWidget* ownerForm)
    : QObject(CheckedOwner(ownerForm)),
      owner_(ownerForm),
      ghost_(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    AnimOwners().insert(owner_);
    ghost_.setAttribute(Qt::WA_ShowWithoutActivating);
    ghost_.setAttribute(Qt::WA_TransparentForMouseEvents);
    ghost_.installEventFilter(new GhostPainter(&ghost_, &picture_));
    timer_.setInterval(kFrameMs);
    connect(&timer_, &QTimer::timeout, this, [this] { NextFrame(); });
    owner_->installEventFilter(this);
}

TFlatAnimWnd::~TFlatAnimWnd()
{
    AnimOwners().erase(owner_);
    owner_->removeEventFilter(this);
}

// A change of the form's window state, however it came about.
bool TFlatAnimWnd::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == owner_ && event->type() == QEvent::WindowStateChange) {
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        const bool wasMinimized = change->oldState() & Qt::WindowMinimized;
        const bool isMinimized = owner_->windowState() & Qt::WindowMinimized;
        if (isMinimized && !wasMinimized)
            MinimizeAnimated();
        else if (wasMinimized && !isMinimized)
            RestoreAnimated();
    }
    return false;
}

void TFlatAnimWnd::MinimizeAnimated()
{
    const QRect form = owner_->frameGeometry();
    picture_ = owner_->grab();
    Animate(form, QRect(form.left(), form.top(), form.width(), 0), [this] {
        if (OnMinimize)
            OnMinimize(qApp);
    });
}

void TFlatAnimWnd::RestoreAnimated()
{
    const QRect form = owner_->frameGeometry();
    Animate(QRect(form.left(), form.top(), form.width(), 0), form, [this] {
        if (!owner_->isVisible())
            owner_->showNormal();
        if (OnRestore)
            OnRestore(qApp);
    });
}

void TFlatAnimWnd::Animate(const QRect& from, const QRect& to, std::function<void()> done)
{
    FinishRunningAnimation();
    steps_.clear();
    for (int i = 0; i <= kFrames; ++i) {
        const auto lerp = [i](int a, int b) { return a + (b - a) * i / kFrames; };
        steps_.emplace_back(lerp(from.left(), to.left()), lerp(from.top(), to.top()),
                            lerp(from.width(), to.width()), lerp(from.height(), to.height()));
    }
    done_ = std::move(done);
    frame_ = 0;
    NextFrame();
    timer_.start();
}

// A minimise or restore that arrives while the previous one still plays ends
// that one first, so each raises its callback.
void TFlatAnimWnd::FinishRunningAnimation()
{
    if (!timer_.isActive())
        return;
    frame_ = steps_.size();
    NextFrame();
}

void TFlatAnimWnd::NextFrame()
{
    if (frame_ >= steps_.size()) {
        timer_.stop();
        ghost_.hide();
        const auto done = std::move(done_);
        done_ = nullptr;
        if (done)
            done();
        return;
    }
    const QRect r = steps_[frame_++];
    if (r.height() > 0) {
        ghost_.setGeometry(r);
        ghost_.show();
        ghost_.update();
    } else {
        ghost_.hide();
    }
}
