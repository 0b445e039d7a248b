#pragma once
// A picture surface: holds one picture, shows it stretched over its whole rectangle, and offers
// a drawing surface. Only the board takes mouse presses.

#include "pictures/picture.h"
#include "puzzle/mouse_button.h"

#include <QImage>
#include <QWidget>
#include <functional>

class TImage : public QWidget {
public:
    explicit TImage(QWidget* parent);

    bool AutoSize = false;

    const pictures::Picture& Picture() const { return picture_; }
    // Picture copy: the surface takes an equal, independent picture with a fresh drawing state.
    // With AutoSize a picture of positive size sets the surface's size.
    void SetPicture(const pictures::Picture& picture);
    // The drawing surface; an empty surface first gets a blank picture of its own size.
    // The caller draws on it and then calls Changed().
    pictures::Picture& Canvas();
    void Changed();

    // Mouse presses (every press, the second of a double click included), in surface pixels.
    std::function<void(TImage*, puzzle::MouseButton, int x, int y)> OnMouseDown;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    const QImage& Display(QSize devicePixels, qreal ratio);

    pictures::Picture picture_;
    // What the screen shows, made once per picture change and device size.
    QImage display_;
    qint64 displayKey_ = 0;
    QSize displaySize_;
};
