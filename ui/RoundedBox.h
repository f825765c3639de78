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

// Paints the box the way one antialiased rounded rectangle would. Where that gives whole pixels
// (the straight runs of a one-pixel opaque border and the inside, on an unscaled painter), they are
// filled as rectangles and only the corners are drawn with antialiasing: the same pixels for a
// fraction of the work, which matters because a start paints some thirty boxes.
void PaintRoundedBox(QPainter& painter, const QRect& area, const RoundedBoxLook& look);

// The same box drawn as one antialiased rounded rectangle: the reference the fast way must match.
void PaintRoundedBoxWhole(QPainter& painter, const QRect& area, const RoundedBoxLook& look);

}  // namespace skin
