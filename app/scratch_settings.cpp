#include "app/scratch_settings.h"

#include <QSettings>

ScratchSettings::ScratchSettings()
{
    if (folder_.isValid()) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder_.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder_.path());
    }
}
