// Paints a flat list box holding 10,000 items at several scroll positions and
// prints the time per paint: painting touches only the visible rows.
#include "TFlatListBoxUnit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>

#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TFlatListBox list;
    list.resize(501, 271);
    list.SetScrollBars(true);
    for (int i = 0; i < 10000; ++i)
        list.Items().Add(QString("/home/utente/archivio/cartella%1/documento%2.txt").arg(i % 97).arg(i));
    list.show();
    QElapsedTimer timer;
    const int rounds = 200;
    timer.start();
    for (int i = 0; i < rounds; ++i) {
        QKeyEvent pageDown(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
        QApplication::sendEvent(&list, &pageDown);
        list.grab();
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6 / rounds;
    std::printf("10000 items, %d visible rows: %.3f ms per scroll and paint\n", list.VisibleRows(), ms);
    return 0;
}
