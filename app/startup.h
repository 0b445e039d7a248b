#pragma once
// What the program sets up around its window, and takes down at the end.

#include <QTemporaryDir>
#include <QTranslator>

class QApplication;

class ProgramSetup {
public:
    // Desktop identity, the toolkit's Japanese texts, a scratch folder for the toolkit's own
    // settings, and the picture formats (JPEG's pixel format follows the screen's depth).
    explicit ProgramSetup(QApplication& app);
    ~ProgramSetup();
    ProgramSetup(const ProgramSetup&) = delete;
    ProgramSetup& operator=(const ProgramSetup&) = delete;

private:
    QTemporaryDir scratchSettings_;
    QTranslator qtTexts_;
};
