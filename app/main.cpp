// Arcovelo: the application titled "Arcovelo", its main window, the event loop.
#include "Application.h"
#include "Unit1.h"

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    TForm1 form;
    form.show();
    return app.exec();
}
