// TFlatSound: holds the choice of a sound event. Nothing plays sounds: the
// component has no play operation and the program uses no audio output.
#pragma once

#include <QObject>

class TFlatSound : public QObject {
    Q_OBJECT
    Q_PROPERTY(TSoundEvent Event READ Event WRITE SetEvent)

public:
    enum TSoundEvent { seBtnClick = 0, seMenu = 1, seMenuClick = 2, seMoveIntoBtn = 3, sePanelExpand = 4 };
    Q_ENUM(TSoundEvent)

    explicit TFlatSound(QObject* owner = nullptr) : QObject(owner) {}

    TSoundEvent Event() const { return event_; }
    void SetEvent(TSoundEvent v) { event_ = v; }

private:
    TSoundEvent event_ = seBtnClick;
};
