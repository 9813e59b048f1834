// Draws the program's icon at the sizes the desktop asks for; run by hand when the design
// changes: draw_icon <folder>. vandrelsql.svg is the same design for scalable use.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace {

// The design on a 48 x 48 grid: a database drum with an upward arrow in a green disc.
void Draw(QPainter& p) {
  const QColor drum(0x2f, 0x6d, 0xb5), rim(0x1b, 0x3f, 0x6b), top(0x7f, 0xb2, 0xe8);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(rim, 2));
  p.setBrush(drum);
  QPainterPath body;
  body.moveTo(5, 10);
  body.lineTo(5, 36);
  body.arcTo(QRectF(5, 30, 30, 12), 180, 180);
  body.lineTo(35, 10);
  body.closeSubpath();
  p.drawPath(body);
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(5, 17, 30, 12), 180 * 16, 180 * 16);
  p.drawArc(QRectF(5, 24, 30, 12), 180 * 16, 180 * 16);
  p.setBrush(top);
  p.drawEllipse(QRectF(5, 4, 30, 12));

  p.setPen(QPen(QColor(0x1e, 0x6b, 0x22), 2));
  p.setBrush(QColor(0x3c, 0xb0, 0x43));
  p.drawEllipse(QRectF(25, 25, 21, 21));
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  const QPointF arrow[] = {{35.5, 28.5}, {42.5, 36}, {38.5, 36}, {38.5, 42.5},
                           {32.5, 42.5}, {32.5, 36}, {28.5, 36}};
  p.drawPolygon(arrow, 7);
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  for (int side : {16, 24, 32, 48}) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(side / 48.0, side / 48.0);
    Draw(p);
    p.end();
    const QString dir = QStringLiteral("%1/%2x%2").arg(folder).arg(side);
    QDir().mkpath(dir);
    if (!image.save(dir + QStringLiteral("/vandrelsql.png"))) return 1;
  }
  return 0;
}
