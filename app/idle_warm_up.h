#pragma once
// Readies, while the program has nothing else to do, the storage of large pictures about to be
// made: the picture a load will read into, while the player still chooses the file, and the first
// private copies of a picture just taken. They then write to pages in use, not to fresh ones.
// The work goes a slice at a time between events, so input waits for one slice at most.

#include <QImage>
#include <QObject>
#include <QTimer>

class IdleWarmUp : public QObject {
public:
    explicit IdleWarmUp(QObject* owner);
    // For `blocks` pictures of this size and format; storage readied for others goes.
    void Start(QSize size, QImage::Format format, int blocks);

private:
    QTimer idle_;
};
