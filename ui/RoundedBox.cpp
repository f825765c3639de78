#include "ui/RoundedBox.h"

#include <QPainter>
#include <algorithm>

namespace skin {

void PaintRoundedBox(QPainter& painter, const QRect& area, const RoundedBoxLook& look) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, look.radius > 0);
  QRectF box(area);
  if (look.borderWidth > 0 && look.border.isValid() && look.border.alpha() > 0) {
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

}  // namespace skin
