#pragma once
// The skin's rounded boxes (cards, buttons, fields, lists): a fill and a border that lies inside the
// box's rectangle, as a style sheet border does.
#include <QColor>
#include <QRect>

class QPainter;

namespace skin {

struct RoundedBoxLook {
  qreal radius = 0;
  QColor fill;    // invalid: no fill
  QColor border;  // invalid or transparent: no border
  qreal borderWidth = 0;
  Qt::PenStyle borderStyle = Qt::SolidLine;
};

// One antialiased rounded rectangle (a plain one when the radius is 0).
void PaintRoundedBox(QPainter& painter, const QRect& area, const RoundedBoxLook& look);

}  // namespace skin
