// mozario: a picture puzzle. Takes no command line and saves nothing.

#include "app/form1.h"
#include "app/startup.h"

#include <QApplication>
#include <memory>

int main(int, char** argv)
{
    // Only the program's name goes to the toolkit: the program reads no command line.
    int argc = 1;
    char* args[] = {argv[0], nullptr};
    DisplayOpening opening;
    QApplication app(argc, args);
    opening.Opened();
    ProgramSetup setup(app);

    std::unique_ptr<TForm1> form(CreateMainWindow());
    form->show();
    app.exec();
    return 0;
}
