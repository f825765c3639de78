// Draws the picture of a USB security key that Tokvane shows for a connected key ("R5.png") and
// uses as its application icon. Run by scripts/make-key-picture.sh.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

QImage DrawKey(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const double s = size / 100.0;  // drawn on a 100 x 100 grid
  painter.translate(size / 2.0, size / 2.0);
  painter.rotate(-32);
  painter.translate(-50 * s, -50 * s);

  // Metal USB-A plug with its two contact windows.
  const QRectF plug(4 * s, 39 * s, 26 * s, 22 * s);
  QLinearGradient metal(plug.topLeft(), plug.bottomLeft());
  metal.setColorAt(0, QColor("#e5e7eb"));
  metal.setColorAt(0.5, QColor("#9ca3af"));
  metal.setColorAt(1, QColor("#d1d5db"));
  painter.setPen(QPen(QColor("#6b7280"), 0.8 * s));
  painter.setBrush(metal);
  painter.drawRoundedRect(plug, 1.5 * s, 1.5 * s);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor("#374151"));
  painter.drawRect(QRectF(10 * s, 44 * s, 5 * s, 4 * s));
  painter.drawRect(QRectF(10 * s, 52 * s, 5 * s, 4 * s));

  // Body with the key-ring hole cut out.
  const QRectF body(26 * s, 31 * s, 68 * s, 38 * s);
  QPainterPath bodyPath;
  bodyPath.addRoundedRect(body, 11 * s, 11 * s);
  QPainterPath hole;
  hole.addEllipse(QPointF(85 * s, 50 * s), 4.2 * s, 4.2 * s);
  bodyPath = bodyPath.subtracted(hole);
  QLinearGradient shell(body.topLeft(), body.bottomLeft());
  shell.setColorAt(0, QColor("#3b4a63"));
  shell.setColorAt(1, QColor("#111827"));
  painter.setPen(QPen(QColor("#0b1220"), 0.8 * s));
  painter.setBrush(shell);
  painter.drawPath(bodyPath);

  // A soft highlight along the top edge.
  QPainterPath shine;
  shine.addRoundedRect(QRectF(30 * s, 33.5 * s, 50 * s, 7 * s), 3.5 * s, 3.5 * s);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 255, 255, 28));
  painter.drawPath(shine);

  // Gold touch sensor.
  const QPointF pad(58 * s, 50 * s);
  QRadialGradient gold(pad, 12 * s, pad - QPointF(3 * s, 3 * s));
  gold.setColorAt(0, QColor("#fde68a"));
  gold.setColorAt(0.6, QColor("#f59e0b"));
  gold.setColorAt(1, QColor("#b45309"));
  painter.setBrush(gold);
  painter.setPen(QPen(QColor("#92400e"), 0.8 * s));
  painter.drawEllipse(pad, 11 * s, 11 * s);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor(255, 255, 255, 150), 1.2 * s));
  painter.drawEllipse(pad, 6.5 * s, 6.5 * s);

  // Status light.
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor("#34d399"));
  painter.drawEllipse(QPointF(36 * s, 50 * s), 2.2 * s, 2.2 * s);
  painter.end();
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SIZE OUTPUT.png\n", argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  const int size = QString::fromLocal8Bit(argv[1]).toInt();
  if (size < 16 || size > 1024) {
    std::fprintf(stderr, "size must be 16..1024\n");
    return 2;
  }
  return DrawKey(size).save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
