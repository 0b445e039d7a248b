#pragma once
// What the program sets up around its window, and takes down at the end.

#include <QTranslator>
#include <QtGlobal>

class QApplication;

class ProgramSetup {
public:
    // Desktop identity, the toolkit's Japanese texts, the picture formats (JPEG's pixel format
    // follows the screen's depth), and SIGTERM, SIGINT and SIGHUP turned into the orderly end
    // that 終了 takes.
    explicit ProgramSetup(QApplication& app);
    ~ProgramSetup();
    ProgramSetup(const ProgramSetup&) = delete;
    ProgramSetup& operator=(const ProgramSetup&) = delete;

private:
    QTranslator qtTexts_;
};

// Stands by while the application object opens the display. Where none can be opened, or the
// platform plugin asked for is not installed, the toolkit ends the process with an abort and a
// core dump, after lines meant for developers; the player gets one line saying which of the
// two it was instead, and the program ends with status 1. The toolkit's other
// messages of that moment are held and passed on once the display is open.
class DisplayOpening {
public:
    DisplayOpening();
    ~DisplayOpening() { Opened(); }
    DisplayOpening(const DisplayOpening&) = delete;
    DisplayOpening& operator=(const DisplayOpening&) = delete;

    // The display is open: the usual handling of messages comes back.
    void Opened();

private:
    QtMessageHandler previous_ = nullptr;
    bool holding_ = true;
};
