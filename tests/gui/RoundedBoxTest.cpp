// The skin's rounded boxes are painted in parts where that is exact (straight runs filled, corners
// antialiased): every box must come out pixel for pixel as one antialiased rounded rectangle, on
// the cases that take the parts and on those that must not (wide or dashed borders, translucent
// borders, scaled or half-pixel painters, boxes too small for four corners).
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include "ui/RoundedBox.h"

namespace {

struct BoxCase {
  const char* what;
  QRect area;
  skin::RoundedBoxLook look;
  QTransform transform;
};

QImage Painted(const BoxCase& box, bool inParts) {
  QImage image(720, 240, QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor(0xf3, 0xf5, 0xf9));
  QPainter painter(&image);
  painter.setTransform(box.transform);
  if (inParts) {
    skin::PaintRoundedBox(painter, box.area, box.look);
  } else {
    skin::PaintRoundedBoxWhole(painter, box.area, box.look);
  }
  return image;
}

TEST(RoundedBox, PaintedInPartsIsPixelForPixelTheWholeBox) {
  const QColor line(0xdd, 0xe3, 0xec);
  const QColor blue(0x25, 0x63, 0xeb);
  const BoxCase cases[] = {
      {"card", {10, 10, 620, 170}, {8, Qt::white, line, 1}, {}},
      {"wide field, border only", {3, 5, 300, 40}, {6, QColor(), line, 1}, {}},
      {"wide filled button", {7, 4, 260, 31}, {6, blue, QColor(0x1d, 0x4e, 0xd8), 1}, {}},
      {"fill only", {2, 3, 400, 60}, {4, QColor(0xee, 0x22, 0x11), QColor(), 0}, {}},
      {"translucent fill", {4, 4, 500, 90}, {8, QColor(0x25, 0x63, 0xeb, 0x80), line, 1}, {}},
      {"fractional radius", {5, 6, 333, 77}, {5.5, Qt::white, QColor(10, 20, 30), 1}, {}},
      {"moved by whole pixels", {0, 0, 400, 120}, {8, Qt::white, line, 1}, QTransform::fromTranslate(37, 11)},
      {"moved by half a pixel", {0, 0, 400, 120}, {8, Qt::white, line, 1}, QTransform::fromTranslate(3.5, 2)},
      {"scaled", {0, 0, 300, 90}, {6, Qt::white, line, 1}, QTransform::fromScale(1.5, 1.5)},
      {"two-pixel border", {6, 6, 500, 150}, {6, Qt::white, QColor(0x3b, 0x82, 0xf6), 2}, {}},
      {"dashed border", {6, 6, 400, 120}, {8, QColor(0xf8, 0xfa, 0xfc), line, 1, Qt::DashLine}, {}},
      {"translucent border", {6, 6, 400, 120}, {8, Qt::white, QColor(0, 0, 0, 0x40), 1}, {}},
      {"small button", {5, 7, 90, 30}, {6, blue, QColor(0x1d, 0x4e, 0xd8), 1}, {}},
      {"flat and long", {5, 7, 600, 17}, {8, Qt::white, line, 1}, {}},
      {"square corners", {5, 7, 600, 170}, {0, Qt::white, line, 1}, {}},
  };
  for (const BoxCase& box : cases) {
    const QImage whole = Painted(box, false);
    const QImage parts = Painted(box, true);
    int differing = 0;
    for (int y = 0; y < whole.height(); ++y) {
      for (int x = 0; x < whole.width(); ++x) differing += whole.pixel(x, y) != parts.pixel(x, y) ? 1 : 0;
    }
    EXPECT_EQ(differing, 0) << box.what;
    // The box was painted at all: a blank image on both sides would pass the comparison.
    EXPECT_NE(whole, Painted({box.what, {}, {}, {}}, false)) << box.what;
  }
}

}  // namespace
