#include "app/picture_surface.h"

#include "pictures/display.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

TImage::TImage(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TImage::SetPicture(const pictures::Picture& picture)
{
    picture_ = picture;
    if (AutoSize && picture_.width() > 0 && picture_.height() > 0)
        resize(picture_.width(), picture_.height());
    Changed();
}

pictures::Picture& TImage::Canvas()
{
    if (picture_.isEmpty())
        picture_ = pictures::Picture::Blank(width(), height());
    return picture_;
}

void TImage::Changed()
{
    if (isVisible())
        update();
}

const QImage& TImage::Display(QSize devicePixels, qreal ratio)
{
    if (picture_.cacheKey() != displayKey_ || devicePixels != displaySize_ || display_.isNull()) {
        display_ = pictures::StretchForDisplay(picture_, devicePixels.width(), devicePixels.height());
        display_.setDevicePixelRatio(ratio);
        displayKey_ = picture_.cacheKey();
        displaySize_ = devicePixels;
    }
    return display_;
}

void TImage::paintEvent(QPaintEvent*)
{
    if (picture_.isEmpty() || picture_.width() == 0 || picture_.height() == 0)
        return;
    const qreal ratio = devicePixelRatioF();
    const QSize devicePixels(static_cast<int>(std::lround(width() * ratio)),
                             static_cast<int>(std::lround(height() * ratio)));
    if (devicePixels.isEmpty())
        return;
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), Display(devicePixels, ratio));
}

void TImage::mousePressEvent(QMouseEvent* event)
{
    puzzle::MouseButton button;
    switch (event->button()) {
    case Qt::LeftButton: button = puzzle::MouseButton::Left; break;
    case Qt::RightButton: button = puzzle::MouseButton::Right; break;
    case Qt::MiddleButton: button = puzzle::MouseButton::Middle; break;
    default: return;
    }
    event->accept();
    if (OnMouseDown) {
        // The layout pixel under the pointer, also when a layout pixel spans several device pixels.
        const QPointF p = event->position();
        OnMouseDown(this, button, static_cast<int>(std::floor(p.x())), static_cast<int>(std::floor(p.y())));
    }
}

void TImage::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
}
