// The skin's rounded boxes: the border lies inside the box's rectangle, as a style sheet border
// does, and nothing outside the rectangle is painted.
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include "ui/RoundedBox.h"

namespace {

const QColor kGround(0xf3, 0xf5, 0xf9);

TEST(RoundedBox, PaintsItsBorderInsideItsRectangleAndNothingOutside) {
  struct Case {
    const char* what;
    skin::RoundedBoxLook look;
    QColor edge;    // the middle of the top edge's first pixel row
    QColor centre;  // the middle of the box
  };
  const QColor line(0xdd, 0xe3, 0xec);
  const QColor blue(0x25, 0x63, 0xeb);
  const Case cases[] = {
      {"card", {8, Qt::white, line, 1}, line, Qt::white},
      {"two-pixel border", {6, Qt::white, blue, 2}, blue, Qt::white},
      {"border only", {6, QColor(), line, 1}, line, kGround},
      {"fill only", {4, blue, QColor(), 0}, blue, blue},
      {"square corners", {0, Qt::white, line, 1}, line, Qt::white},
  };
  const QRect area(20, 10, 200, 60);
  for (const Case& c : cases) {
    QImage image(240, 80, QImage::Format_ARGB32_Premultiplied);
    image.fill(kGround);
    {
      QPainter painter(&image);
      skin::PaintRoundedBox(painter, area, c.look);
    }
    EXPECT_EQ(image.pixelColor(area.center().x(), area.top()), c.edge) << c.what;
    EXPECT_EQ(image.pixelColor(area.center()), c.centre) << c.what;
    int outside = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        if (!area.contains(x, y) && image.pixelColor(x, y) != kGround) ++outside;
      }
    }
    EXPECT_EQ(outside, 0) << c.what;
    // Rounded corners leave the rectangle's corner pixel unpainted; square ones paint it.
    EXPECT_EQ(image.pixelColor(area.topLeft()) == kGround, c.look.radius > 0) << c.what;
  }
}

}  // namespace
