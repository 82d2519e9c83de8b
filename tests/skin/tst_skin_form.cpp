// The skinned frame, rendered offscreen and checked pixel by pixel, and its click pipeline.

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPushButton>
#include <QTest>
#include <cstdlib>

#include "ui/skin/SkinForm.h"

namespace {

constexpr int kW = 859;
constexpr int kH = 587;
const QRgb kBase = qRgb(50, 150, 190);

class TTestSkin : public TSkinForm {
 public:
  explicit TTestSkin(bool maximizeButton = false) : TSkinForm(nullptr, maximizeButton) {
    resize(kW, kH);
    connect(this, &TSkinForm::ModuleChosen, this, [this](int id) { Chose(QString::number(id)); });
    connect(this, &TSkinForm::MenuChosen, this, [this] { Chose(QStringLiteral("menu")); });
  }
  using TSkinForm::SetBackgroundImage;

  QStringList chosen;  // what the frame reported: module ids, "menu"
  QList<QRegion> painted;
  QRegion paintedBeforeClick;  // what reached the screen before the last report
  int closes = 0;

 protected:
  void Chose(const QString& what) {
    chosen << what;
    paintedBeforeClick = QRegion();
    for (const QRegion& r : painted)
      paintedBeforeClick += r;
  }
  void paintEvent(QPaintEvent* event) override {
    painted.append(event->region());
    TSkinForm::paintEvent(event);
  }
  void closeEvent(QCloseEvent* event) override {
    ++closes;
    TSkinForm::closeEvent(event);
  }
};

// Each pixel names its own place: red and green the low bytes of x and y, blue the high bits.
QImage CoordinateImage(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, ((x >> 8) << 4) | (y >> 8)));
  return image;
}
int SourceX(QRgb c) {
  return qRed(c) | ((qBlue(c) >> 4) << 8);
}
int SourceY(QRgb c) {
  return qGreen(c) | ((qBlue(c) & 15) << 8);
}

// What one axis of the background shows at window coordinate d: an exact image coordinate, or
// somewhere inside [lo, hi) where that band is stretched or squeezed.
struct TAxisExpect {
  int exact = -1;
  int lo = 0, hi = 0;
};
TAxisExpect Expect(int d, int size, int imageSize, int centre, int centreSize, bool unscaled,
                   bool rightAligned) {
  if (unscaled)
    return {d + (rightAligned ? imageSize - size : 0), 0, 0};
  const int first = centre;
  const int last = imageSize - centre - centreSize;
  const bool squeezed = first + last > size;
  if (!squeezed && d < first)
    return {d, 0, 0};
  if (!squeezed && d >= size - last)
    return {d - (size - imageSize), 0, 0};
  if (!squeezed)
    return {-1, centre, centre + centreSize};
  // Sides squeezed together: the middle band is gone, each side keeps its own part.
  return {-1, 0, imageSize};
}

bool Near(QRgb a, QRgb b, int tolerance) {
  return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
         std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}
QRgb Blend(QRgb under, QRgb over, qreal alpha) {
  auto mix = [alpha](int u, int o) { return static_cast<int>(u + (o - u) * alpha + 0.5); };
  return qRgb(mix(qRed(under), qRed(over)), mix(qGreen(under), qGreen(over)),
              mix(qBlue(under), qBlue(over)));
}
QString Hex(QRgb c) {
  return QString::number(c & 0xFFFFFF, 16);
}

QRect Rect(const SkinButton& b) {
  return QRect(b.left, b.top, b.width, b.height);
}

// The bounding box of the pixels that differ between two images of one size.
QRect Changed(const QImage& a, const QImage& b) {
  QRect box;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y))
        box |= QRect(x, y, 1, 1);
  return box;
}

QStringList gMessages;
void Collect(QtMsgType, const QMessageLogContext&, const QString& text) {
  gMessages << text;
}

}  // namespace

class TestSkinForm : public QObject {
  Q_OBJECT

 private slots:
  void backgroundGeometry_data() {
    QTest::addColumn<QSize>("window");
    QTest::newRow("window of the program: nine slices") << QSize(kW, kH);
    QTest::newRow("exactly the image") << QSize(854, 605);
    QTest::newRow("smaller: top-right part") << QSize(800, 500);
    QTest::newRow("larger both ways") << QSize(1200, 900);
    QTest::newRow("narrower than both side slices") << QSize(600, 700);
    QTest::newRow("lower than top and bottom slices") << QSize(900, 400);
  }
  void backgroundGeometry() {
    QFETCH(QSize, window);
    const int iw = 854, ih = 605;
    TTestSkin form;
    form.resize(window);
    form.SetBackgroundImage(CoordinateImage(iw, ih), 255, 150, 60, 60);
    form.BuildBackBuffer();
    const QImage& img = form.BackdropSurface();
    QCOMPARE(img.size(), window);
    const bool unscaled = window.width() <= iw && window.height() <= ih;
    int lastY = -1;
    // Inside the two border lines.
    for (int y = 3; y < window.height() - 3; ++y) {
      int lastX = -1;
      const TAxisExpect ey = Expect(y, window.height(), ih, 150, 60, unscaled, false);
      for (int x = 3; x < window.width() - 3; ++x) {
        const TAxisExpect ex = Expect(x, window.width(), iw, 255, 60, unscaled, true);
        const QRgb c = img.pixel(x, y);
        const int sx = SourceX(c), sy = SourceY(c);
        const bool ok = (ex.exact >= 0 ? sx == ex.exact : sx >= ex.lo && sx < ex.hi) &&
                        (ey.exact >= 0 ? sy == ey.exact : sy >= ey.lo && sy < ey.hi) &&
                        sx >= lastX && (x != 3 || sy >= lastY);  // never folds back
        if (!ok)
          QFAIL(qPrintable(
              QStringLiteral("at (%1, %2): image (%3, %4)").arg(x).arg(y).arg(sx).arg(sy)));
        lastX = sx;
        if (x == 3)
          lastY = sy;
      }
    }
    // Squeezed sides still end at the image's own edges.
    if (window == QSize(600, 700)) {
      QVERIFY(SourceX(img.pixel(3, 300)) <= 5);
      QVERIFY(SourceX(img.pixel(596, 300)) >= iw - 6);
    }
    if (window == QSize(900, 400))
      QVERIFY(SourceY(img.pixel(400, 396)) >= ih - 6);
  }

  // Only the base colour shows where there is no image to draw.
  void baseColourWithoutImage_data() {
    QTest::addColumn<QString>("resource");
    QTest::addColumn<QSize>("centre");
    QTest::newRow("missing resource") << QStringLiteral("NoSuchImage_jpg") << QSize(60, 60);
    QTest::newRow("centre without width") << QStringLiteral("BkImage1_jpg") << QSize(0, 60);
    QTest::newRow("centre without height") << QStringLiteral("BkImage1_jpg") << QSize(60, 0);
  }
  void baseColourWithoutImage() {
    QFETCH(QString, resource);
    QFETCH(QSize, centre);
    gMessages.clear();
    const QtMessageHandler old = qInstallMessageHandler(Collect);
    TTestSkin form;
    form.resize(900, 700);  // larger than the image: the nine slices would be needed
    form.SetBackground(resource, QStringLiteral("Skin"), 255, 150, centre.width(), centre.height());
    form.BuildBackBuffer();
    qInstallMessageHandler(old);
    QCOMPARE(gMessages, QStringList());
    const QImage& img = form.BackdropSurface();
    for (const QPoint pt : {QPoint(3, 3), QPoint(450, 350), QPoint(896, 696), QPoint(100, 600)})
      QCOMPARE(Hex(img.pixel(pt)), Hex(kBase));
  }

  void skinResourcesFoundIgnoringCase() {
    TTestSkin form;
    form.SetBackground(QStringLiteral("bKiMaGe1_JPG"), QStringLiteral("sKiN"), 255, 150, 60, 60);
    QVERIFY(form.BackgroundPresent());
    form.BuildBackBuffer();
    QVERIFY(form.BackdropSurface().pixel(400, 300) != kBase);
    for (const char* name : {"Module_Home_png", "Module_protec_png", "MODULE_CLOCK_PNG",
                             "module_history_png", "Module_Search_png", "Module_Tools_png"}) {
      const int i = form.AddModule(100, QStringLiteral("M"), QString::fromLatin1(name),
                                   QStringLiteral("Skin"));
      const SkinButton& b = form.Buttons()[i];
      QVERIFY2(b.iconPresent, name);
      QCOMPARE(b.icon.size(), QSize(48, 48));
      QVERIFY2(b.icon.hasAlphaChannel(), name);
    }
  }

  void border_data() {
    QTest::addColumn<bool>("maximised");
    QTest::newRow("rounded") << false;
    QTest::newRow("square while maximised") << true;
  }
  void border() {
    QFETCH(bool, maximised);
    TTestSkin form;
    if (maximised)
      form.setWindowState(Qt::WindowMaximized);
    form.resize(kW, kH);
    form.BuildBackBuffer();
    const QImage& img = form.BackdropSurface();
    const QRgb outer = Blend(kBase, qRgb(0, 0, 0), 150 / 255.0);
    const QRgb inner = Blend(kBase, qRgb(255, 255, 255), 150 / 255.0);
    // Two lines on every side, then the base colour.
    for (const auto& [a, b, c] :
         {std::tuple{QPoint(0, 300), QPoint(1, 300), QPoint(2, 300)},
          {QPoint(kW - 1, 300), QPoint(kW - 2, 300), QPoint(kW - 3, 300)},
          {QPoint(400, 0), QPoint(400, 1), QPoint(400, 2)},
          {QPoint(400, kH - 1), QPoint(400, kH - 2), QPoint(400, kH - 3)}}) {
      QVERIFY2(Near(img.pixel(a), outer, 2), qPrintable(Hex(img.pixel(a))));
      QVERIFY2(Near(img.pixel(b), inner, 2), qPrintable(Hex(img.pixel(b))));
      QCOMPARE(Hex(img.pixel(c)), Hex(kBase));
    }
    // The very corner pixel: on the line when square, outside the rounded line otherwise.
    const QPoint corners[] = {QPoint(0, 0), QPoint(kW - 1, 0), QPoint(0, kH - 1),
                              QPoint(kW - 1, kH - 1)};
    for (const QPoint pt : corners)
      QCOMPARE(Near(img.pixel(pt), outer, 2), maximised);

    // The window's shape: rectangular while maximised, else two pixels cut off each corner's
    // outer row and one off the next.
    const QRegion mask = form.WindowMask();
    QCOMPARE(mask.boundingRect(), QRect(0, 0, kW, kH));
    for (const QPoint pt : corners) {
      const int dx = pt.x() == 0 ? 1 : -1;
      const int dy = pt.y() == 0 ? 1 : -1;
      QCOMPARE(mask.contains(pt), maximised);
      QCOMPARE(mask.contains(pt + QPoint(dx, 0)), maximised);
      QCOMPARE(mask.contains(pt + QPoint(0, dy)), maximised);
      QVERIFY(mask.contains(pt + QPoint(2 * dx, 0)));
      QVERIFY(mask.contains(pt + QPoint(dx, dy)));
      QVERIFY(mask.contains(pt + QPoint(0, 2 * dy)));
    }
  }

  void title_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("icon");
    QTest::addColumn<int>("firstColumn");  // -1: nothing drawn
    QTest::newRow("empty title") << QString() << false << -1;
    QTest::newRow("title") << QStringLiteral("Hub") << false << 4;  // the white copy is 1 left
    QTest::newRow("title beside the icon") << QStringLiteral("Hub") << true << 24;
  }
  void title() {
    QFETCH(QString, title);
    QFETCH(bool, icon);
    QFETCH(int, firstColumn);
    TTestSkin form;
    form.setWindowTitle(title);
    if (icon) {
      QPixmap pixmap(16, 16);
      pixmap.fill(Qt::red);
      form.setWindowIcon(QIcon(pixmap));
    }
    form.BuildBackBuffer();
    const QImage& img = form.BackdropSurface();
    int first = -1;
    bool white = false;
    for (int x = 2; x < kW - 100 && first < 0; ++x)
      for (int y = 5; y < 40; ++y)
        if (img.pixel(x, y) != kBase) {
          first = x;
          break;
        }
    for (int x = 2; x < kW - 100; ++x)
      for (int y = 14; y < 31; ++y)
        white = white || img.pixel(x, y) == qRgb(255, 255, 255);
    QVERIFY2(first < 0 ? firstColumn < 0 : first >= firstColumn && first < firstColumn + 4,
             qPrintable(QString::number(first)));
    QCOMPARE(white, firstColumn >= 0);
  }

  void captionButtonLayout_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("maximizeButton");
    QTest::addColumn<QList<int>>("lefts");  // close, maximise (or -1), minimise, menu
    QTest::newRow("program's window") << kW << false << QList<int>{818, -1, 788, 758};
    QTest::newRow("narrower window") << 700 << false << QList<int>{659, -1, 629, 599};
    QTest::newRow("with a maximise button") << kW << true << QList<int>{818, 788, 758, 728};
  }
  void captionButtonLayout() {
    QFETCH(int, width);
    QFETCH(bool, maximizeButton);
    QFETCH(QList<int>, lefts);
    TTestSkin form(maximizeButton);
    form.AddModule(100, QStringLiteral("Home"), QString(), QString());
    form.resize(width, kH);
    form.BuildBackBuffer();
    const ECaptionButton commands[] = {ECaptionButton::Close, ECaptionButton::Maximize,
                                       ECaptionButton::Minimize, ECaptionButton::Menu};
    for (int k = 0; k < 4; ++k) {
      const int i = form.FindSystemButton(commands[k]);
      QCOMPARE(i >= 0, lefts[k] >= 0);
      if (i < 0)
        continue;
      const SkinButton& b = form.Buttons()[i];
      const int w = commands[k] == ECaptionButton::Close ? 39 : 30;
      QCOMPARE(Rect(b), QRect(lefts[k], 2, w, 19));
      // Hit from the first to the last pixel, not beyond.
      QCOMPARE(form.HitTestButton(lefts[k], 2), i);
      QCOMPARE(form.HitTestButton(lefts[k] + w - 1, 20), i);
      QVERIFY(form.HitTestButton(lefts[k] + w - 1, 21) != i);
      QVERIFY(form.HitTestButton(lefts[k], 1) != i);
    }
    QCOMPARE(form.HitTestButton(width - 2, 2), -1);
    // The module button, by contrast, is not laid out from the right.
    QCOMPARE(form.HitTestButton(7, 44), form.ButtonCount() - 1);
    QCOMPARE(form.HitTestButton(78, 119), form.ButtonCount() - 1);
    QCOMPARE(form.HitTestButton(79, 119), -1);
  }

  void captionButtonLooks_data() {
    QTest::addColumn<int>("command");  // an ECaptionButton
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<bool>("hovered");
    QTest::addColumn<QRgb>("top");      // gradient colour at the top, with alpha
    QTest::addColumn<QPoint>("glyph");  // a pixel of the white glyph, from the button's corner
    const QPoint close(13, 4), bar(8, 11), menu(8, 4);
    QTest::newRow("close idle") << int(ECaptionButton::Close) << false << false << 0u << close;
    QTest::newRow("close hovered")
        << int(ECaptionButton::Close) << false << true << qRgba(255, 0, 0, 180) << close;
    QTest::newRow("close pressed")
        << int(ECaptionButton::Close) << true << false << qRgba(128, 0, 0, 180) << close;
    QTest::newRow("close pressed and hovered")
        << int(ECaptionButton::Close) << true << true << qRgba(128, 0, 0, 180) << close;
    QTest::newRow("minimise hovered")
        << int(ECaptionButton::Minimize) << false << true << qRgba(255, 255, 255, 60) << bar;
    QTest::newRow("minimise pressed")
        << int(ECaptionButton::Minimize) << true << true << qRgba(0, 0, 0, 90) << bar;
    QTest::newRow("menu idle") << int(ECaptionButton::Menu) << false << false << 0u << menu;
    QTest::newRow("menu hovered") << int(ECaptionButton::Menu) << false << true
                                  << qRgba(255, 255, 255, 60) << menu;
  }
  void captionButtonLooks() {
    QFETCH(int, command);
    const auto id = ECaptionButton(command);
    QFETCH(bool, pressed);
    QFETCH(bool, hovered);
    QFETCH(QRgb, top);
    QFETCH(QPoint, glyph);
    TTestSkin form;
    form.BuildBackBuffer();
    const int i = form.FindSystemButton(id);
    if (hovered)
      form.SetHotButton(i);
    if (pressed)
      form.SetPressedButton(i);
    const SkinButton& b = form.Buttons()[i];
    const QImage& img = form.CompositeSurface();
    const QRgb twice = Blend(Blend(kBase, top, qAlpha(top) / 255.0), top, qAlpha(top) / 255.0);
    const QRgb once = Blend(kBase, top, qAlpha(top) / 255.0);
    // Two fills, the second a pixel to the left: the first column gets only one of them.
    QVERIFY2(Near(img.pixel(b.left + 2, b.top), twice, 5),
             qPrintable(Hex(img.pixel(b.left + 2, b.top))));
    QVERIFY2(Near(img.pixel(b.left, b.top), once, 5), qPrintable(Hex(img.pixel(b.left, b.top))));
    // Faded out at the bottom.
    QVERIFY(Near(img.pixel(b.left + 2, b.top + b.height - 1), kBase, 12));
    QCOMPARE(Hex(img.pixel(b.left + glyph.x(), b.top + glyph.y())), Hex(qRgb(255, 255, 255)));
    // The separator at the right edge, light outside, dark inside; none on the close button.
    const QRgb edge = img.pixel(b.left + b.width - 1, b.top);
    const QRgb inside = img.pixel(b.left + b.width - 2, b.top);
    if (id != ECaptionButton::Close) {
      QVERIFY2(Near(edge, Blend(kBase, qRgb(255, 255, 255), 120 / 255.0), 5),
               qPrintable(Hex(edge)));
      QVERIFY2(Near(inside, Blend(kBase, qRgb(0, 0, 0), 90 / 255.0), 5), qPrintable(Hex(inside)));
    } else if (!hovered && !pressed) {
      // Below the rounded corner of the border.
      QCOMPARE(Hex(img.pixel(b.left + b.width - 1, b.top + 6)), Hex(kBase));
      QCOMPARE(Hex(img.pixel(b.left + b.width - 2, b.top + 6)), Hex(kBase));
    }
  }

  void moduleLooks() {
    TTestSkin form;
    const int home = form.AddModule(100, QStringLiteral("Home"), QStringLiteral("Module_Home_png"),
                                    QStringLiteral("Skin"));
    const int update = form.AddModule(101, QStringLiteral("Update"), QStringLiteral("Nothing_png"),
                                      QStringLiteral("Skin"));
    QCOMPARE(Rect(form.Buttons()[home]), QRect(7, 44, 72, 76));
    QCOMPARE(Rect(form.Buttons()[update]), QRect(84, 44, 72, 76));
    form.BuildBackBuffer();
    const QImage& img = form.CompositeSurface();
    auto look = [&](int i) { return img.copy(Rect(form.Buttons()[i])); };
    const QImage idle = look(home);

    // The icon sits 12 in and 4 down, unscaled.
    const QImage& icon = form.Buttons()[home].icon;
    QCOMPARE(qAlpha(icon.pixel(24, 30)), 255);
    QCOMPARE(Hex(img.pixel(7 + 12 + 24, 44 + 4 + 30)), Hex(icon.pixel(24, 30)));
    // No icon: the backdrop shows there, the caption is still written.
    QVERIFY(!form.Buttons()[update].iconPresent);
    QCOMPARE(img.copy(84 + 12, 48, 48, 48), form.BackdropSurface().copy(84 + 12, 48, 48, 48));
    bool caption = false;
    for (int x = 84; x < 156; ++x)
      for (int y = 44 + 76 - 25; y < 44 + 76; ++y)
        caption = caption || img.pixel(x, y) == qRgb(255, 255, 255);
    QVERIFY(caption);

    form.SetHotButton(home);
    const QImage hovered = look(home);
    form.SetHotButton(-1);
    form.SelectModule(100);
    const QImage selected = look(home);
    form.SetHotButton(home);
    QCOMPARE(look(home), selected);  // the selected look is kept under the pointer
    form.SetHotButton(-1);
    form.SelectModule(-7);  // matches nothing: clears the mark
    QCOMPARE(look(home), idle);
    form.SetPressedButton(home);
    QCOMPARE(look(home), selected);  // pressed looks as strong as selected
    form.SetPressedButton(-1);
    // The light fill inside the frame: hover the lightest, the strong look less, idle none.
    QVERIFY(qGray(hovered.pixel(4, 30)) > qGray(selected.pixel(4, 30)));
    QVERIFY(qGray(selected.pixel(4, 30)) > qGray(idle.pixel(4, 30)));
  }

  // A change of look repaints that button's rectangle alone, on the surface and on screen.
  void redrawOnlyTheButton_data() {
    QTest::addColumn<int>("module");   // its id, or 0 for a caption button
    QTest::addColumn<int>("command");  // the caption button's ECaptionButton
    QTest::addColumn<bool>("press");
    const int none = int(ECaptionButton::None);
    QTest::newRow("module hovered") << 101 << none << false;
    QTest::newRow("module pressed") << 101 << none << true;
    QTest::newRow("selected module hovered: no change") << 100 << none << false;
    QTest::newRow("close hovered") << 0 << int(ECaptionButton::Close) << false;
    QTest::newRow("minimise pressed") << 0 << int(ECaptionButton::Minimize) << true;
  }
  void redrawOnlyTheButton() {
    QFETCH(int, module);
    QFETCH(int, command);
    QFETCH(bool, press);
    TTestSkin form;
    form.SetBackground(QStringLiteral("BkImage1_jpg"), QStringLiteral("Skin"), 255, 150, 60, 60);
    form.AddModule(100, QStringLiteral("Home"), QStringLiteral("Module_Home_png"),
                   QStringLiteral("Skin"));
    form.AddModule(101, QStringLiteral("Update"), QStringLiteral("Module_protec_png"),
                   QStringLiteral("Skin"));
    form.SelectModule(100);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_VERIFY(form.SurfacesBuilt());
    int i = form.FindSystemButton(ECaptionButton(command));
    for (int k = form.SystemButtonCount(); k < form.ButtonCount() && module; ++k)
      if (form.Buttons()[k].id == module)
        i = k;
    const QImage before = form.CompositeSurface().copy();
    form.painted.clear();
    press ? form.SetPressedButton(i) : form.SetHotButton(i);
    const QRect r = Rect(form.Buttons()[i]);
    const QRect changed = Changed(before, form.CompositeSurface());
    QCOMPARE(changed.isEmpty(), module == 100);
    QVERIFY2(changed.isEmpty() || r.contains(changed), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                                      .arg(changed.x())
                                                                      .arg(changed.y())
                                                                      .arg(changed.width())
                                                                      .arg(changed.height())));
    QCOMPARE(form.painted.size(), 1);
    QCOMPARE(form.painted.first(), QRegion(r));
    // Back to idle gives back the very pixels of before.
    press ? form.SetPressedButton(-1) : form.SetHotButton(-1);
    QCOMPARE(form.CompositeSurface(), before);
  }

  void clickPipeline_data() {
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<QPoint>("release");
    QTest::addColumn<QStringList>("chosen");  // what the frame reports
    const QPoint home(40, 80), update(120, 80), outside(400, 300), menu(770, 10);
    QTest::newRow("click on a module") << home << home << QStringList{"100"};
    QTest::newRow("press on one, release on another") << home << update << QStringList{"101"};
    QTest::newRow("release outside every button") << update << outside << QStringList{};
    QTest::newRow("press outside: a move, no click") << outside << outside << QStringList{};
    QTest::newRow("release on the gap between modules") << home << QPoint(81, 80) << QStringList{};
    QTest::newRow("menu button") << menu << menu << QStringList{"menu"};
    QTest::newRow("press on a module, release on the menu") << home << menu << QStringList{"menu"};
  }
  void clickPipeline() {
    QFETCH(QPoint, press);
    QFETCH(QPoint, release);
    QFETCH(QStringList, chosen);
    TTestSkin form;
    form.AddModule(100, QStringLiteral("Home"), QString(), QString());
    form.AddModule(101, QStringLiteral("Update"), QString(), QString());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::mousePress(&form, Qt::LeftButton, {}, press);
    QCOMPARE(form.PressedIndex(), form.HitTestButton(press.x(), press.y()));
    form.painted.clear();
    QTest::mouseRelease(&form, Qt::LeftButton, {}, release);
    QCOMPARE(form.PressedIndex(), -1);
    for (const SkinButton& b : form.Buttons())
      QVERIFY(!b.pressed);
    QTest::qWait(20);
    QCoreApplication::processEvents();
    QCOMPARE(form.chosen, chosen);
    // The pressed button's released look was on screen before the click did anything.
    const int pressedOn = form.HitTestButton(press.x(), press.y());
    if (!chosen.isEmpty())
      QVERIFY(form.paintedBeforeClick.contains(Rect(form.Buttons()[pressedOn])));
    QVERIFY(form.isVisible());  // neither the menu nor a module changes the window
  }

  // Only a press on the frame's own surface moves the window; presses that child controls
  // let through (labels, group boxes, blank areas, disabled controls) do not. The offscreen
  // platform has no move loop, so the frame moves the window itself.
  void windowMoves_data() {
    QTest::addColumn<QString>("pressOn");  // object name of a child, or empty for the surface
    QTest::addColumn<bool>("moves");
    QTest::newRow("the surface between module bar and page") << QString() << true;
    QTest::newRow("a label") << QStringLiteral("label") << false;
    QTest::newRow("a group box") << QStringLiteral("group") << false;
    QTest::newRow("a blank panel") << QStringLiteral("blank") << false;
    QTest::newRow("a disabled button") << QStringLiteral("disabled") << false;
  }
  void windowMoves() {
    QFETCH(QString, pressOn);
    QFETCH(bool, moves);
    TTestSkin form;
    form.AddModule(100, QStringLiteral("Home"), QString(), QString());
    auto* blank = new QWidget(&form);
    blank->setObjectName(QStringLiteral("blank"));
    blank->setGeometry(27, 152, 786, 359);
    auto* label = new QLabel(QStringLiteral("Log"), blank);
    label->setObjectName(QStringLiteral("label"));
    label->setGeometry(10, 10, 80, 20);
    auto* group = new QGroupBox(QStringLiteral("Version:"), blank);
    group->setObjectName(QStringLiteral("group"));
    group->setGeometry(10, 40, 200, 120);
    auto* disabled = new QPushButton(QStringLiteral("Update"), blank);
    disabled->setObjectName(QStringLiteral("disabled"));
    disabled->setGeometry(300, 10, 110, 25);
    disabled->setEnabled(false);
    form.move(100, 80);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QPoint start = form.pos();

    QWidget* target =
        pressOn.isEmpty() ? static_cast<QWidget*>(&form) : form.findChild<QWidget*>(pressOn);
    QVERIFY(target);
    const QPoint at = pressOn.isEmpty() ? QPoint(400, 135) : QPoint(5, 5);
    QTest::mousePress(target, Qt::LeftButton, {}, at);
    QTest::mouseMove(target, at + QPoint(20, 15));
    QCOMPARE(form.pos(), moves ? start + QPoint(20, 15) : start);
    QTest::mouseRelease(target, Qt::LeftButton, {}, at + QPoint(20, 15));
    QVERIFY(!form.MovingByHand());
    // After the release the pointer moves freely again.
    const QPoint after = form.pos();
    QTest::mouseMove(&form, QPoint(500, 140));
    QCOMPARE(form.pos(), after);
    QCOMPARE(form.PressedIndex(), -1);
  }

  // A press that began on a child control and ends over a module button clicks nothing.
  void pressOnChildReleaseOnModule() {
    TTestSkin form;
    form.AddModule(100, QStringLiteral("Home"), QString(), QString());
    auto* label = new QLabel(QStringLiteral("Log"), &form);
    label->setGeometry(27, 152, 80, 20);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(form.PressedIndex(), -1);
    // The label keeps the pointer while the button is down: the release comes to it, in its
    // own coordinates, over the module button at (7, 44).
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(40 - 27, 80 - 152));
    QTest::qWait(20);
    QCoreApplication::processEvents();
    QVERIFY(form.chosen.isEmpty());
  }

  void everyModuleIdArrives() {
    TTestSkin form;
    for (int id = 100; id <= 105; ++id)
      form.AddModule(id, QString::number(id), QString(), QString());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (int k = 0; k < 6; ++k)
      QTest::mouseClick(&form, Qt::LeftButton, {}, QPoint(7 + k * 77 + 36, 80));
    QTRY_COMPARE(form.chosen.size(), 6);
    for (int k = 0; k < 6; ++k)
      QCOMPARE(form.chosen[k], QString::number(100 + k));
    // The frame leaves the selection mark to the window.
    for (const SkinButton& b : form.Buttons())
      QVERIFY(!b.selected);
  }

  void windowCommands() {
    TTestSkin form(true);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const int maximise = form.FindSystemButton(ECaptionButton::Maximize);
    form.ClickButton(maximise);
    QTRY_VERIFY(form.isMaximized());
    QTRY_VERIFY(form.SurfacesBuilt());
    // The same button now restores.
    form.ClickButton(maximise);
    QTRY_VERIFY(!form.isMaximized());
    form.ClickButton(form.FindSystemButton(ECaptionButton::Minimize));
    QTRY_VERIFY(form.isMinimized());
    form.showNormal();
    form.ClickButton(form.FindSystemButton(ECaptionButton::Close));
    QTRY_COMPARE(form.closes, 1);
    QVERIFY(!form.isVisible());
    QVERIFY(form.chosen.isEmpty());
  }

  // The maximise glyph follows the state the surfaces were built in.
  void restoreGlyphWhileMaximised() {
    TTestSkin form(true);
    form.BuildBackBuffer();
    const int i = form.FindSystemButton(ECaptionButton::Maximize);
    const QImage normal = form.CompositeSurface().copy(Rect(form.Buttons()[i]));
    form.setWindowState(Qt::WindowMaximized);
    form.BuildBackBuffer();
    const QImage zoomed = form.CompositeSurface().copy(Rect(form.Buttons()[i]));
    QVERIFY(normal != zoomed);
    // The front window's top bar of the restore glyph: two white rows.
    const SkinButton& b = form.Buttons()[i];
    QCOMPARE(Hex(form.CompositeSurface().pixel(b.left + 9, b.top + 7)), Hex(qRgb(255, 255, 255)));
    QCOMPARE(Hex(form.CompositeSurface().pixel(b.left + 9, b.top + 8)), Hex(qRgb(255, 255, 255)));
  }

  void hoverFollowsThePointer() {
    TTestSkin form;
    const int home = form.AddModule(100, QStringLiteral("Home"), QString(), QString());
    const int update = form.AddModule(101, QStringLiteral("Update"), QString(), QString());
    // A control that takes the pointer's moves itself: the frame hears only of its entry.
    struct TTrackingChild : QWidget {
      using QWidget::QWidget;
      void mouseMoveEvent(QMouseEvent* event) override { event->accept(); }
    };
    auto* child = new TTrackingChild(&form);
    child->setMouseTracking(true);
    child->setGeometry(27, 152, 786, 359);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::mouseMove(&form, QPoint(40, 80));
    QTRY_COMPARE(form.HotIndex(), home);
    QTest::mouseMove(&form, QPoint(120, 80));  // straight onto the next one
    QTRY_COMPARE(form.HotIndex(), update);
    QVERIFY(!form.Buttons()[home].hover);
    QVERIFY(form.Buttons()[update].hover);
    QTest::mouseMove(&form, QPoint(400, 300));  // onto a child control
    QTRY_COMPARE(form.HotIndex(), -1);
    QVERIFY(!form.Buttons()[update].hover);
    QTest::mouseMove(&form, QPoint(830, 10));
    QTRY_COMPARE(form.HotIndex(), form.FindSystemButton(ECaptionButton::Close));
    QTest::mousePress(&form, Qt::LeftButton, {}, QPoint(830, 10));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&form, &leave);
    QCOMPARE(form.HotIndex(), -1);
    QCOMPARE(form.PressedIndex(), -1);
  }

  // A new background shows at once on screen; one given while hidden is not lost either.
  void newBackground() {
    TTestSkin form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_VERIFY(form.SurfacesBuilt());
    QCOMPARE(Hex(form.CompositeSurface().pixel(400, 300)), Hex(kBase));
    form.SetBackground(QStringLiteral("BkImage1_jpg"), QStringLiteral("Skin"), 255, 150, 60, 60);
    QVERIFY(form.SurfacesBuilt());
    QVERIFY(form.CompositeSurface().pixel(400, 300) != kBase);
    form.hide();
    form.SetBackground(QStringLiteral("None_jpg"), QStringLiteral("Skin"), 255, 150, 60, 60);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_VERIFY(form.SurfacesBuilt());
    QCOMPARE(Hex(form.CompositeSurface().pixel(400, 300)), Hex(kBase));
  }

  void invalidIndexesAreIgnored() {
    TTestSkin form;
    form.BuildBackBuffer();
    const QImage before = form.CompositeSurface().copy();
    const int count = form.ButtonCount();
    form.SetButtonBounds(count, 1, 1, 10, 10);
    form.SetButtonCaption(-1, QStringLiteral("x"));
    form.RedrawButton(count);
    form.SetHotButton(count);
    form.SetPressedButton(-2);
    form.ClickButton(count);
    QCoreApplication::processEvents();
    QCOMPARE(form.HotIndex(), -1);
    QCOMPARE(form.PressedIndex(), -1);
    QCOMPARE(form.CompositeSurface(), before);
    QVERIFY(form.chosen.isEmpty());
  }

  void sizeChangeRebuilds() {
    TTestSkin form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_VERIFY(form.SurfacesBuilt());
    form.resize(700, 500);
    QVERIFY(!form.SurfacesBuilt());
    QTRY_VERIFY(form.SurfacesBuilt());
    QCOMPARE(form.CompositeSurface().size(), QSize(700, 500));
    QCOMPARE(form.WindowMask().boundingRect(), QRect(0, 0, 700, 500));
    QCOMPARE(form.Buttons()[form.FindSystemButton(ECaptionButton::Close)].left, 700 - 2 - 39);
  }
};

QTEST_MAIN(TestSkinForm)
#include "tst_skin_form.moc"
