#pragma once
// The toolkit's file dialog reads and writes its history in the user's settings; the game
// saves nothing. While one of these lives, those settings go to a folder of its own, which
// goes with it.

#include <QTemporaryDir>

class ScratchSettings {
public:
    ScratchSettings();
    ScratchSettings(const ScratchSettings&) = delete;
    ScratchSettings& operator=(const ScratchSettings&) = delete;

private:
    QTemporaryDir folder_;
};
