// TFlatSpeedButton: the light twin of the flat button. It takes no focus and
// has no keys of its own, paints straight onto its area (the parent's pixels
// stay wherever it paints nothing) and never shows a two-pixel frame;
// everything else is TFlatButtonBase.
#pragma once

#include "TFlatButtonUnit.h"

class TFlatSpeedButton : public TFlatButtonBase {
    Q_OBJECT

public:
    explicit TFlatSpeedButton(QWidget* parent = nullptr);

    // The class-wide hover timer; null while no flat speed button exists.
    static QTimer* HoverTimer() { return Tracker().HoverTimer; }
    static THoverTracker& Tracker();

protected:
    void paintEvent(QPaintEvent* e) override;
    // Nothing: the parent's own pixels are already there.
    void PaintTransparentBackground(QPainter&) override {}
    bool LatchOnAccelerator() const override { return false; }
};
