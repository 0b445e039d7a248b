#pragma once
// How a failure inside an event handler reaches the player.

#include <QString>
#include <functional>

class QWidget;

// The application title: the executable's name without its folder, cut at its first full
// stop, every character after the first in lower case.
QString ApplicationTitleFrom(const QString& executablePath);
QString ApplicationTitle();

// The message as shown: "." appended when it is not empty and its last character sorts
// after ".".
QString ErrorBoxText(const QString& message);

// A modal box with the error icon and a single OK button.
void ShowErrorBox(QWidget* parent, const QString& message);

// Runs one event handler; a failure it raises ends it there and is shown in the error box.
void RunHandler(QWidget* parent, const std::function<void()>& handler);
