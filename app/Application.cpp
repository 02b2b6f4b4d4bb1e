#include "Application.h"

#include "Dialogs.h"

#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName("Arcovelo");
    setApplicationDisplayName("Arcovelo");
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        Dialogs::ShowError(QString::fromLocal8Bit(e.what()));
        return false;
    }
}
