// The program's application object: titled "Arcovelo", and like the toolkit
// the window was designed for, it shows the message of an exception that
// leaves an event handler in an error box and goes on.
#pragma once

#include <QApplication>

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
