#include "ui/RoundedBox.h"

#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <cmath>

namespace skin {
namespace {

bool HasBorder(const RoundedBoxLook& look) {
  return look.borderWidth > 0 && look.border.isValid() && look.border.alpha() > 0;
}

bool HasFill(const RoundedBoxLook& look) { return look.fill.isValid() && look.fill.alpha() > 0; }

// The square at each corner that holds the arc and its antialiased edge pixels.
int CornerSize(qreal radius) { return static_cast<int>(std::ceil(radius)) + 1; }

bool IsWholePixelOffset(qreal value) { return value == std::floor(value); }

// Drawing a box whole costs about in proportion to its outline, drawing it in parts about as much as
// four small boxes: below this width plus height (a button, a field) whole is quicker.
constexpr int kLeastOutlineForParts = 260;

// Only then are the straight runs whole pixels: a one-pixel solid opaque border (a wider or dashed
// one is stroked differently), no scaling and whole-pixel offsets, room for four separate corners.
bool CanPaintInParts(const QPainter& painter, const QRect& area, const RoundedBoxLook& look) {
  if (look.radius <= 0 || area.width() + area.height() < kLeastOutlineForParts) return false;
  if (HasBorder(look) && (look.borderWidth != 1 || look.borderStyle != Qt::SolidLine || look.border.alpha() != 255)) {
    return false;
  }
  const QTransform& device = painter.deviceTransform();
  if (device.type() > QTransform::TxTranslate || !IsWholePixelOffset(device.dx()) || !IsWholePixelOffset(device.dy())) {
    return false;
  }
  const int corner = CornerSize(look.radius);
  return area.width() >= 2 * corner + 2 && area.height() >= 2 * corner + 2;
}

}  // namespace

void PaintRoundedBoxWhole(QPainter& painter, const QRect& area, const RoundedBoxLook& look) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, look.radius > 0);
  QRectF box(area);
  if (HasBorder(look)) {
    const qreal half = look.borderWidth / 2.0;
    box.adjust(half, half, -half, -half);
    painter.setPen(QPen(look.border, look.borderWidth, look.borderStyle));
  } else {
    painter.setPen(Qt::NoPen);
  }
  painter.setBrush(look.fill.isValid() ? QBrush(look.fill) : QBrush(Qt::NoBrush));
  if (look.radius > 0) {
    const qreal radius = std::max(0.0, look.radius - look.borderWidth / 2.0);
    painter.drawRoundedRect(box, radius, radius);
  } else {
    painter.drawRect(box);
  }
  painter.restore();
}

void PaintRoundedBox(QPainter& painter, const QRect& area, const RoundedBoxLook& look) {
  if (!CanPaintInParts(painter, area, look)) {
    PaintRoundedBoxWhole(painter, area, look);
    return;
  }
  const int corner = CornerSize(look.radius);
  const int border = HasBorder(look) ? 1 : 0;
  const int runWidth = area.width() - 2 * corner;
  const int runHeight = area.height() - 2 * corner;
  if (border != 0) {
    painter.fillRect(QRect(area.left() + corner, area.top(), runWidth, 1), look.border);
    painter.fillRect(QRect(area.left() + corner, area.bottom(), runWidth, 1), look.border);
    painter.fillRect(QRect(area.left(), area.top() + corner, 1, runHeight), look.border);
    painter.fillRect(QRect(area.right(), area.top() + corner, 1, runHeight), look.border);
  }
  if (HasFill(look)) {
    const QRect inside = area.adjusted(border, border, -border, -border);
    painter.fillRect(QRect(area.left() + corner, inside.top(), runWidth, inside.height()), look.fill);
    painter.fillRect(QRect(inside.left(), area.top() + corner, corner - border, runHeight), look.fill);
    painter.fillRect(QRect(area.right() - corner + 1, area.top() + corner, corner - border, runHeight), look.fill);
  }
  // Each corner is the same corner of a small box of the same look: an arc's pixels depend only on
  // where the arc is, so drawing the small box within the corner square gives the large box's.
  const int small = 2 * corner + 2;
  const QPoint smallOrigins[] = {
      area.topLeft(),
      {area.right() - small + 1, area.top()},
      {area.left(), area.bottom() - small + 1},
      {area.right() - small + 1, area.bottom() - small + 1},
  };
  const QPoint cornerOrigins[] = {
      area.topLeft(),
      {area.right() - corner + 1, area.top()},
      {area.left(), area.bottom() - corner + 1},
      {area.right() - corner + 1, area.bottom() - corner + 1},
  };
  for (int index = 0; index < 4; ++index) {
    painter.save();
    painter.setClipRect(QRect(cornerOrigins[index], QSize(corner, corner)), Qt::IntersectClip);
    PaintRoundedBoxWhole(painter, QRect(smallOrigins[index], QSize(small, small)), look);
    painter.restore();
  }
}

}  // namespace skin
