#include "app/banner_label.h"

#include "app/readable.h"

#include "pictures/picture.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

TLabel::TLabel(QWidget* parent, const QString& caption, const QFont& font)
    : QWidget(parent), caption_(caption)
{
    setFont(font);
    colour_ = pictures::FromQRgb(palette().color(QPalette::Button).rgb());
    AdjustSize();
}

void TLabel::SetCaption(const QString& caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    AdjustSize();
    update();
}

void TLabel::SetColor(std::uint32_t colour)
{
    colour_ = colour & 0x00FFFFFF;
    update();
}

void TLabel::AdjustSize()
{
    const QFontMetrics metrics(font());
    const QString measured = caption_.isEmpty() ? QStringLiteral(" ") : caption_;
    // The height is the character height: the faces we use have no internal leading.
    resize(metrics.horizontalAdvance(measured), font().pixelSize());
}

void TLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QColor fill(pictures::ToQRgb(colour_));
    painter.fillRect(rect(), fill);
    // The banners' colours are the layout's: on a dark palette its light text would not read there.
    painter.setPen(ReadableOn(fill, {palette().color(QPalette::WindowText)}));
    painter.setFont(font());
    const QFontMetrics metrics(font());
    // Glyphs are placed so that ascent and descent together fill the character height.
    const int baseline = font().pixelSize() * metrics.ascent() / std::max(1, metrics.ascent() + metrics.descent());
    painter.drawText(0, baseline, caption_);
}

// The label takes the presses on it, so a press on a shown banner never reaches the board.
void TLabel::mousePressEvent(QMouseEvent* event) { event->accept(); }
void TLabel::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }
