#pragma once
// An opaque label that sizes itself to its caption: its rectangle is filled with Color, then
// the caption is drawn at the top left. An empty caption measures as one space.

#include <QColor>
#include <QString>
#include <QWidget>
#include <cstdint>

class TLabel : public QWidget {
public:
    TLabel(QWidget* parent, const QString& caption, const QFont& font);

    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    std::uint32_t Color() const { return colour_; }  // 0x00BBGGRR
    void SetColor(std::uint32_t colour);
    int Top() const { return y(); }
    void SetTop(int top) { move(x(), top); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void AdjustSize();

    QString caption_;
    std::uint32_t colour_;
};
