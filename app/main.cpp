// Arcovelo: the application titled "Arcovelo", its main window, the event loop.
#include "Application.h"
#include "Unit1.h"
#include "platform.h"

int main(int argc, char** argv)
{
    arcovelo::RaiseOpenFileLimit();  // a restore keeps a batch of files open
    TApplication app(argc, argv);
    TForm1 form;
    form.show();
    return app.exec();
}
