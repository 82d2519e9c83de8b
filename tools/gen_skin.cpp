// Draws the window's artwork: the background (854 x 605 JPEG) and the six module icons
// (48 x 48 PNG with alpha). Usage: halvek-gen-skin <output folder>
//
// The background is stretched by nine slices around the centre (255, 150, 60, 60): columns
// 255-314 are stretched sideways and rows 150-209 up and down, so nothing in them may change
// along the stretched direction. Everything with a shape lies outside those bands.

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

constexpr int kWidth = 854;
constexpr int kHeight = 605;

// Bands, in image rows. The window (587 high) shows rows from 210 on 18 rows higher.
constexpr int kTitleBottom = 40;
constexpr int kModuleBottom = 126;
constexpr int kStripTop = 558;               // window row 540
constexpr QRectF kPanel(17, 140, 820, 401);  // window (17, 140) - (842, 523)
constexpr qreal kPanelRadius = 8;

const QColor kFieldBlue(38, 116, 172);

QFont Font(const char* family, int pixels, int weight) {
  QFont font(QString::fromLatin1(family));
  font.setPixelSize(pixels);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setHintingPreference(QFont::PreferNoHinting);
  return font;
}

QPainterPath RoundRect(const QRectF& r, qreal radius) {
  QPainterPath path;
  path.addRoundedRect(r, radius, radius);
  return path;
}

// A soft shadow: stacked rounded rectangles of falling strength.
void SoftShadow(QPainter& p, const QRectF& r, qreal radius, int spread, int alpha, QPointF offset) {
  p.save();
  p.setPen(Qt::NoPen);
  for (int i = spread; i >= 1; --i) {
    const qreal t = static_cast<qreal>(i) / spread;
    p.setBrush(QColor(0, 0, 0, static_cast<int>(alpha * (1 - t) * (1 - t) / 2 + 1)));
    p.drawPath(RoundRect(r.translated(offset).adjusted(-i, -i, i, i), radius + i));
  }
  p.restore();
}

// The mark: a rounded tile with a lightning bolt, 24 x 24 at `origin`. Also the program's
// icon (without the shadow, which belongs to the title band).
void DrawEmblem(QPainter& p, QPointF origin, bool shadow = true) {
  const QRectF tile(origin, QSizeF(24, 24));
  if (shadow)
    SoftShadow(p, tile, 6, 3, 90, QPointF(0, 1));
  QLinearGradient g(tile.topLeft(), tile.bottomLeft());
  g.setColorAt(0, QColor(98, 214, 150));
  g.setColorAt(1, QColor(22, 150, 110));
  p.setPen(QPen(QColor(10, 90, 70), 1));
  p.setBrush(g);
  p.drawPath(RoundRect(tile.adjusted(0.5, 0.5, -0.5, -0.5), 6));
  // A glossy top half.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 45));
  p.drawPath(RoundRect(QRectF(tile.left() + 1.5, tile.top() + 1.5, 21, 10), 5));
  QPainterPath bolt;
  const qreal x = tile.left();
  const qreal y = tile.top();
  bolt.moveTo(x + 13.5, y + 3.5);
  bolt.lineTo(x + 6.5, y + 13.5);
  bolt.lineTo(x + 11.5, y + 13.5);
  bolt.lineTo(x + 9.5, y + 20.5);
  bolt.lineTo(x + 17.5, y + 10.0);
  bolt.lineTo(x + 12.5, y + 10.0);
  bolt.closeSubpath();
  p.setPen(QPen(QColor(0, 70, 50, 120), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::white);
  p.drawPath(bolt);
}

// `scale` 2: the same drawing with twice the pixels, for screens scaled by 2.
QImage Background(int scale) {
  QImage image(kWidth * scale, kHeight * scale, QImage::Format_RGB32);
  QPainter p(&image);
  p.scale(scale, scale);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  // The blue field under everything.
  p.fillRect(image.rect(), kFieldBlue);

  // Title band: dark slate, a touch lighter at the top.
  {
    QLinearGradient g(0, 0, 0, kTitleBottom);
    g.setColorAt(0, QColor(52, 66, 84));
    g.setColorAt(1, QColor(34, 44, 58));
    p.fillRect(QRect(0, 0, kWidth, kTitleBottom), g);
  }
  // Module band: darker, with a faint sheen from the top.
  {
    QLinearGradient g(0, kTitleBottom, 0, kModuleBottom);
    g.setColorAt(0, QColor(22, 30, 40));
    g.setColorAt(0.5, QColor(27, 37, 49));
    g.setColorAt(1, QColor(21, 29, 39));
    p.fillRect(QRect(0, kTitleBottom, kWidth, kModuleBottom - kTitleBottom), g);
    p.fillRect(QRect(0, kTitleBottom, kWidth, 1), QColor(0, 0, 0, 110));
    p.fillRect(QRect(0, kTitleBottom + 1, kWidth, 1), QColor(255, 255, 255, 18));
    p.fillRect(QRect(0, kModuleBottom - 1, kWidth, 1), QColor(255, 255, 255, 40));
  }
  // The band casts a short shadow on the field.
  {
    QLinearGradient g(0, kModuleBottom, 0, kModuleBottom + 10);
    g.setColorAt(0, QColor(0, 0, 0, 70));
    g.setColorAt(1, QColor(0, 0, 0, 0));
    p.fillRect(QRect(0, kModuleBottom, kWidth, 10), g);
  }
  // Bottom strip behind the lamp and the version.
  {
    QLinearGradient g(0, kStripTop, 0, kHeight);
    g.setColorAt(0, QColor(30, 40, 53));
    g.setColorAt(1, QColor(20, 27, 36));
    p.fillRect(QRect(0, kStripTop, kWidth, kHeight - kStripTop), g);
    p.fillRect(QRect(0, kStripTop, kWidth, 1), QColor(0, 0, 0, 90));
    p.fillRect(QRect(0, kStripTop + 1, kWidth, 1), QColor(255, 255, 255, 22));
  }

  // The white panel the pages sit on.
  SoftShadow(p, kPanel, kPanelRadius, 7, 110, QPointF(0, 2));
  {
    QLinearGradient g(0, kPanel.top(), 0, kPanel.top() + 12);
    g.setColorAt(0, QColor(246, 249, 252));
    g.setColorAt(1, Qt::white);
    p.setPen(QPen(QColor(20, 60, 95), 1));
    p.setBrush(g);
    p.drawPath(RoundRect(kPanel.adjusted(0.5, 0.5, -0.5, -0.5), kPanelRadius));
  }

  // The logo, left of the stretched columns.
  DrawEmblem(p, QPointF(12, 8));
  {
    const QFont name = Font("Liberation Sans", 21, QFont::Bold);
    const QFont product = Font("Liberation Sans", 12, QFont::Normal);
    p.setFont(name);
    const int nameLeft = 45;
    const int baseline = 28;
    p.setPen(QColor(0, 0, 0, 120));
    p.drawText(QPointF(nameLeft + 1, baseline + 1), QStringLiteral("Halvek"));
    p.setPen(Qt::white);
    p.drawText(QPointF(nameLeft, baseline), QStringLiteral("Halvek"));
    const int nameRight = nameLeft + QFontMetrics(name).horizontalAdvance(QStringLiteral("Halvek"));
    p.fillRect(QRectF(nameRight + 9, 12, 1, 18), QColor(255, 255, 255, 70));
    p.setFont(product);
    p.setPen(QColor(176, 198, 220));
    p.drawText(QPointF(nameRight + 19, baseline - 1), QStringLiteral("Charging Hub Updater"));
  }
  p.end();
  return image;
}

// --- icons: drawn four times larger on a 48-unit grid, then scaled down ---

using IconPainter = std::function<void(QPainter&)>;

QImage Icon(const IconPainter& draw, int scale) {
  const int kScale = 4 * scale;
  QImage big(48 * kScale, 48 * kScale, QImage::Format_ARGB32_Premultiplied);
  big.fill(Qt::transparent);
  {
    QPainter p(&big);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(kScale, kScale);
    draw(p);
  }
  return big.scaled(48 * scale, 48 * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
      .convertToFormat(QImage::Format_ARGB32);
}

// The shape's own drop shadow, below and a little blurred.
void ShapeShadow(QPainter& p, const QPainterPath& shape) {
  p.save();
  p.setPen(Qt::NoPen);
  for (int i = 3; i >= 1; --i) {
    p.setBrush(QColor(0, 0, 0, 40));
    QPainterPathStroker s;
    s.setWidth(i * 1.2);
    s.setJoinStyle(Qt::RoundJoin);
    p.drawPath((shape + s.createStroke(shape)).translated(0, 1.6));
  }
  p.restore();
}

QLinearGradient Vertical(qreal top, qreal bottom, const QColor& a, const QColor& b) {
  QLinearGradient g(0, top, 0, bottom);
  g.setColorAt(0, a);
  g.setColorAt(1, b);
  return g;
}

void Home(QPainter& p) {
  QPainterPath body;
  body.addRect(QRectF(11, 22, 26, 19));
  QPainterPath roof;
  roof.moveTo(24, 6);
  roof.lineTo(43, 23);
  roof.lineTo(39.5, 26.5);
  roof.lineTo(24, 12.5);
  roof.lineTo(8.5, 26.5);
  roof.lineTo(5, 23);
  roof.closeSubpath();
  QPainterPath chimney;
  chimney.addRect(QRectF(32, 9, 5, 9));
  ShapeShadow(p, body + roof + chimney);

  p.setPen(QPen(QColor(120, 50, 30), 1));
  p.setBrush(Vertical(9, 18, QColor(205, 110, 80), QColor(160, 70, 45)));
  p.drawPath(chimney);
  p.setPen(QPen(QColor(150, 160, 175), 1));
  p.setBrush(Vertical(22, 41, QColor(255, 255, 255), QColor(206, 216, 228)));
  p.drawPath(body);
  // Door and window.
  p.setPen(QPen(QColor(25, 80, 140), 0.8));
  p.setBrush(Vertical(28, 41, QColor(90, 160, 230), QColor(40, 100, 180)));
  p.drawRoundedRect(QRectF(15.5, 28, 8, 13), 1.5, 1.5);
  p.setBrush(Vertical(27, 34, QColor(170, 215, 250), QColor(90, 160, 220)));
  p.drawRoundedRect(QRectF(27, 27, 6.5, 6.5), 1, 1);
  p.setPen(QPen(QColor(255, 255, 255, 200), 0.8));
  p.drawLine(QPointF(30.25, 27.5), QPointF(30.25, 33));
  p.drawLine(QPointF(27.5, 30.25), QPointF(33, 30.25));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 230, 150));
  p.drawEllipse(QPointF(21.5, 35), 0.9, 0.9);
  // Roof over the walls.
  p.setPen(QPen(QColor(130, 40, 20), 1, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(Vertical(6, 27, QColor(255, 140, 70), QColor(210, 60, 35)));
  p.drawPath(roof);
}

void Shield(QPainter& p) {
  QPainterPath shield;
  shield.moveTo(24, 4);
  shield.cubicTo(30, 8, 36, 9.5, 41, 9.5);
  shield.cubicTo(41, 27, 36, 37, 24, 44);
  shield.cubicTo(12, 37, 7, 27, 7, 9.5);
  shield.cubicTo(12, 9.5, 18, 8, 24, 4);
  shield.closeSubpath();
  ShapeShadow(p, shield);
  p.setPen(QPen(QColor(10, 90, 60), 1.2));
  p.setBrush(Vertical(4, 44, QColor(96, 218, 140), QColor(18, 140, 84)));
  p.drawPath(shield);
  // An inner rim, then a lit left half.
  QTransform inset;
  inset.translate(24, 24);
  inset.scale(0.8, 0.8);
  inset.translate(-24, -23);
  p.setPen(QPen(QColor(255, 255, 255, 150), 1.1));
  p.setBrush(Qt::NoBrush);
  p.drawPath(inset.map(shield));
  QPainterPath left;
  left.addRect(QRectF(0, 0, 24, 48));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, 38));
  p.drawPath(shield.intersected(left));
  // The arrow of an update.
  QPainterPath arrow;
  arrow.moveTo(24, 12.5);
  arrow.lineTo(32.5, 22);
  arrow.lineTo(27.5, 22);
  arrow.lineTo(27.5, 33);
  arrow.lineTo(20.5, 33);
  arrow.lineTo(20.5, 22);
  arrow.lineTo(15.5, 22);
  arrow.closeSubpath();
  p.setPen(QPen(QColor(0, 80, 40, 140), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::white);
  p.drawPath(arrow);
}

void Dial(QPainter& p, const QColor& rimTop, const QColor& rimBottom, bool ticks) {
  const QPointF c(24, 24);
  QPainterPath face;
  face.addEllipse(c, 19, 19);
  ShapeShadow(p, face);
  p.setPen(QPen(rimBottom.darker(140), 1));
  p.setBrush(Vertical(5, 43, rimTop, rimBottom));
  p.drawEllipse(c, 19, 19);
  QRadialGradient g(QPointF(21, 19), 18);
  g.setColorAt(0, Qt::white);
  g.setColorAt(1, QColor(222, 230, 240));
  p.setPen(QPen(QColor(0, 0, 0, 60), 0.8));
  p.setBrush(g);
  p.drawEllipse(c, 15, 15);
  if (ticks) {
    p.setPen(QPen(QColor(70, 80, 95), 1.4, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 12; ++i) {
      const qreal a = i * M_PI / 6;
      const qreal inner = i % 3 == 0 ? 10.5 : 12;
      p.drawLine(c + QPointF(std::sin(a) * inner, -std::cos(a) * inner),
                 c + QPointF(std::sin(a) * 13, -std::cos(a) * 13));
    }
  }
}

void Hands(QPainter& p, qreal hourAngle, qreal minuteAngle, const QColor& second) {
  const QPointF c(24, 24);
  auto hand = [&](qreal degrees, qreal length, qreal width, const QColor& colour) {
    const qreal a = degrees * M_PI / 180;
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, c + QPointF(std::sin(a) * length, -std::cos(a) * length));
  };
  hand(hourAngle, 7.5, 2.6, QColor(40, 48, 60));
  hand(minuteAngle, 11, 1.8, QColor(40, 48, 60));
  if (second.isValid())
    hand(minuteAngle + 150, 11.5, 0.9, second);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(40, 48, 60));
  p.drawEllipse(c, 1.8, 1.8);
}

void Clock(QPainter& p) {
  Dial(p, QColor(90, 170, 240), QColor(30, 95, 180), true);
  Hands(p, 300, 60, QColor(220, 60, 50));
}

void History(QPainter& p) {
  Dial(p, QColor(185, 150, 245), QColor(105, 70, 190), false);
  // A backward arrow round the face.
  const QPointF c(24, 24);
  p.setPen(QPen(QColor(105, 70, 190), 2.4, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  const QRectF ring(c.x() - 10.5, c.y() - 10.5, 21, 21);
  p.drawArc(ring, 110 * 16, 290 * 16);
  const qreal a = 110 * M_PI / 180;
  const QPointF tip = c + QPointF(std::cos(a) * 10.5, -std::sin(a) * 10.5);
  QPainterPath head;
  head.moveTo(tip + QPointF(-5.2, -1.2));
  head.lineTo(tip + QPointF(1.6, -3.6));
  head.lineTo(tip + QPointF(0.4, 3.6));
  head.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(105, 70, 190));
  p.drawPath(head);
  Hands(p, 270, 0, QColor());
}

void Search(QPainter& p) {
  QPainterPath handle;
  handle.moveTo(29, 32);
  handle.lineTo(32, 29);
  handle.lineTo(43, 40);
  handle.cubicTo(44, 41, 44, 42.5, 42.5, 43.5);
  handle.cubicTo(41.5, 44.5, 40, 44, 39.5, 43.5);
  handle.closeSubpath();
  QPainterPath lens;
  lens.addEllipse(QPointF(20, 20), 15, 15);
  ShapeShadow(p, lens + handle);
  QLinearGradient grip(QPointF(30, 30), QPointF(34, 26));
  grip.setColorAt(0, QColor(60, 60, 70));
  grip.setColorAt(1, QColor(120, 120, 135));
  p.setPen(QPen(QColor(30, 30, 35), 1));
  p.setBrush(grip);
  p.drawPath(handle);
  p.setPen(QPen(QColor(80, 90, 105), 1));
  p.setBrush(Vertical(5, 35, QColor(235, 240, 246), QColor(150, 162, 178)));
  p.drawEllipse(QPointF(20, 20), 15, 15);
  QRadialGradient glass(QPointF(16, 15), 14);
  glass.setColorAt(0, QColor(215, 240, 255));
  glass.setColorAt(1, QColor(70, 160, 220));
  p.setPen(QPen(QColor(40, 80, 120, 160), 0.8));
  p.setBrush(glass);
  p.drawEllipse(QPointF(20, 20), 11, 11);
  p.setPen(QPen(QColor(255, 255, 255, 210), 2, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(12, 12, 16, 16), 100 * 16, 70 * 16);
}

void Tools(QPainter& p) {
  // Screwdriver, upper left to lower right.
  QPainterPath shaft;
  shaft.addRoundedRect(QRectF(-1.3, -17, 2.6, 18), 0.8, 0.8);
  QPainterPath grip;
  grip.addRoundedRect(QRectF(-3.6, 1, 7.2, 15), 3, 3);
  QTransform driver;
  driver.translate(24, 24);
  driver.rotate(-45);
  // Wrench, the other diagonal.
  QPainterPath wrench;
  wrench.addRoundedRect(QRectF(-2.8, -8, 5.6, 27), 2.8, 2.8);
  QPainterPath head;
  head.addEllipse(QPointF(0, -12), 7.5, 7.5);
  QPainterPath jaw;
  jaw.addRect(QRectF(-2.6, -21, 5.2, 9));
  const QPainterPath wrenchShape = (wrench + head) - jaw;
  QTransform spanner;
  spanner.translate(24, 24);
  spanner.rotate(45);
  ShapeShadow(p, spanner.map(wrenchShape) + driver.map(shaft + grip));

  p.setPen(QPen(QColor(70, 78, 90), 1));
  QLinearGradient steel(QPointF(-6, 0), QPointF(6, 0));
  steel.setColorAt(0, QColor(240, 243, 247));
  steel.setColorAt(1, QColor(150, 160, 175));
  p.save();
  p.setTransform(spanner, true);
  p.setBrush(steel);
  p.drawPath(wrenchShape);
  p.restore();

  p.save();
  p.setTransform(driver, true);
  QLinearGradient metal(QPointF(-1.3, 0), QPointF(1.3, 0));
  metal.setColorAt(0, QColor(235, 238, 242));
  metal.setColorAt(1, QColor(130, 140, 155));
  p.setPen(QPen(QColor(70, 78, 90), 0.8));
  p.setBrush(metal);
  p.drawPath(shaft);
  QLinearGradient handle(QPointF(-3.6, 0), QPointF(3.6, 0));
  handle.setColorAt(0, QColor(255, 175, 70));
  handle.setColorAt(1, QColor(215, 95, 20));
  p.setPen(QPen(QColor(140, 60, 10), 1));
  p.setBrush(handle);
  p.drawPath(grip);
  p.setPen(QPen(QColor(255, 255, 255, 110), 0.8));
  p.drawLine(QPointF(-1, 4), QPointF(-1, 13));
  p.restore();
}

// The program's icon: the title band's logo filling `size` x `size`.
QImage ProgramIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 24.0, size / 24.0);
  DrawEmblem(p, QPointF(0, 0), false);
  p.end();
  return image.convertToFormat(QImage::Format_ARGB32);
}

// The same drawing as scalable vector graphics, for desktops that scale icons themselves.
QByteArray ProgramIconSvg() {
  return QByteArrayLiteral(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
      "viewBox=\"0 0 24 24\">\n"
      "  <defs>\n"
      "    <linearGradient id=\"tile\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"24\" "
      "gradientUnits=\"userSpaceOnUse\">\n"
      "      <stop offset=\"0\" stop-color=\"#62d696\"/>\n"
      "      <stop offset=\"1\" stop-color=\"#16966e\"/>\n"
      "    </linearGradient>\n"
      "  </defs>\n"
      "  <rect x=\"0.5\" y=\"0.5\" width=\"23\" height=\"23\" rx=\"6\" ry=\"6\" "
      "fill=\"url(#tile)\" stroke=\"#0a5a46\" stroke-width=\"1\"/>\n"
      "  <rect x=\"1.5\" y=\"1.5\" width=\"21\" height=\"10\" rx=\"5\" ry=\"5\" "
      "fill=\"#ffffff\" fill-opacity=\"0.176\"/>\n"
      "  <path d=\"M13.5 3.5 L6.5 13.5 L11.5 13.5 L9.5 20.5 L17.5 10 L12.5 10 Z\" "
      "fill=\"#ffffff\" stroke=\"#004632\" stroke-opacity=\"0.47\" stroke-width=\"1.2\" "
      "stroke-linecap=\"round\" stroke-linejoin=\"round\"/>\n"
      "</svg>\n");
}

bool Save(const QImage& image, const QString& path, const char* format, int quality) {
  if (!image.save(path, format, quality)) {
    std::fprintf(stderr, "halvek-gen-skin: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Fonts without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: halvek-gen-skin <skin folder> [<icon folder>]\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.exists() && !QDir().mkpath(out.path())) {
    std::fprintf(stderr, "halvek-gen-skin: cannot create %s\n", argv[1]);
    return 1;
  }
  // Each image also at twice the size ("name@2x"), for screens scaled by 2.
  bool ok = Save(Background(1), out.filePath(QStringLiteral("bkimage1.jpg")), "JPEG", 93);
  ok = Save(Background(2), out.filePath(QStringLiteral("bkimage1@2x.jpg")), "JPEG", 93) && ok;
  const struct {
    const char* file;
    IconPainter draw;
  } icons[] = {{"module_home.png", Home},     {"module_protec.png", Shield},
               {"module_clock.png", Clock},   {"module_history.png", History},
               {"module_search.png", Search}, {"module_tools.png", Tools}};
  for (const auto& icon : icons) {
    const QString file = QString::fromLatin1(icon.file);
    ok = Save(Icon(icon.draw, 1), out.filePath(file), "PNG", -1) && ok;
    const QString large = QString(file).replace(QLatin1String(".png"), QLatin1String("@2x.png"));
    ok = Save(Icon(icon.draw, 2), out.filePath(large), "PNG", -1) && ok;
  }
  if (argc == 3) {
    const QDir icons(QString::fromLocal8Bit(argv[2]));
    if (!icons.exists() && !QDir().mkpath(icons.path())) {
      std::fprintf(stderr, "halvek-gen-skin: cannot create %s\n", argv[2]);
      return 1;
    }
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
      const QString file = QStringLiteral("halvek-updater-%1.png").arg(size);
      ok = Save(ProgramIcon(size), icons.filePath(file), "PNG", -1) && ok;
    }
    QFile svg(icons.filePath(QStringLiteral("halvek-updater.svg")));
    if (svg.open(QIODevice::WriteOnly) && svg.write(ProgramIconSvg()) >= 0) {
      std::printf("%s\n", qPrintable(svg.fileName()));
    } else {
      std::fprintf(stderr, "halvek-gen-skin: cannot write %s\n", qPrintable(svg.fileName()));
      ok = false;
    }
  }
  return ok ? 0 : 1;
}
