#include "app/picture_surface.h"

#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

namespace {

// Set before the application starts: every window at 200 %, as on a high-density screen.
const bool kScaled = qputenv("QT_SCALE_FACTOR", "2");

TEST(SurfaceAt200, EachPicturePixelCoversItsDevicePixelsAndPressesNameLayoutPixels)
{
    ASSERT_TRUE(kScaled);
    QImage source(3, 2, QImage::Format_RGB32);
    const QRgb colours[] = {0xFF0000, 0x00C000, 0x0000FF, 0xFFFF00, 0x00FFFF, 0x800080};
    for (int i = 0; i < 6; ++i)
        source.setPixel(i % 3, i / 3, colours[i] | 0xFF000000u);
    QWidget window;
    window.resize(20, 20);
    TImage surface(&window);
    surface.setGeometry(0, 0, 6, 4);  // each picture pixel 2 x 2 layout pixels
    surface.SetPicture(pictures::Picture(source, 24));
    std::vector<QPoint> presses;
    surface.OnMouseDown = [&](TImage*, puzzle::MouseButton, int x, int y) { presses.emplace_back(x, y); };
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(window.devicePixelRatio(), 2);

    // 4 x 4 device pixels for each picture pixel, as the screen holds the window.
    const QImage shown = window.screen()->grabWindow(window.winId()).toImage();
    ASSERT_GE(shown.width(), 12);
    ASSERT_GE(shown.height(), 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(shown.pixel(x, y) & 0xFFFFFF, source.pixel(x / 4, y / 4) & 0xFFFFFF) << x << ", " << y;

    QTest::mouseClick(&surface, Qt::LeftButton, {}, QPoint(5, 3));
    EXPECT_EQ(presses, std::vector<QPoint>{QPoint(5, 3)});
}

}  // namespace
