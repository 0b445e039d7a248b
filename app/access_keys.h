#pragma once
// Access keys of one menu level, assigned from the captions as a Japanese system does.

#include <QString>
#include <QStringList>

// Returns the captions with their access keys marked in Qt's notation ("&9", "ファイル(&Z)").
// Keys already marked are kept, so running it again on its own result changes nothing.
QStringList AssignAccessKeys(const QStringList& captions);

// The access key a caption carries, or a null QChar.
QChar AccessKeyOf(const QString& caption);
