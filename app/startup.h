#pragma once
// What the program sets up around its window, and takes down at the end.

#include <QTranslator>

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
