#pragma once
// Readies, while the program has nothing else to do, the storage that the first private copies
// of a picture just taken will need: the first frame on the board and the first composition then
// write to pages in use, not to fresh ones. The work goes a slice at a time between events, so
// input waits for one slice at most.

#include "pictures/picture.h"

#include <QObject>
#include <QTimer>

class IdleWarmUp : public QObject {
public:
    explicit IdleWarmUp(QObject* owner);
    // For the picture now in use; any warm-up under way for an earlier one ends.
    void Start(const pictures::Picture& picture);

private:
    QTimer idle_;
};
