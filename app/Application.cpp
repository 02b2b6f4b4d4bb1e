#include "Application.h"

#include "Dialogs.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // No display name: the platform would append it to every dialog's title.
    setApplicationName("Arcovelo");
    // Qt's own dialogs and buttons speak Italian like the window.
    auto* translator = new QTranslator(this);
    if (translator->load(QLocale(QLocale::Italian, QLocale::Italy), "qtbase", "_",
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator);
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
