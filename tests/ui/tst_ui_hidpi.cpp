// The window on a screen scaled by 2 (QT_SCALE_FACTOR=2): the frame, the module bar and the
// caption buttons are drawn at the screen's pixels from the large artwork, and the window
// starts where its top left corner can be reached. Saves a picture at that scale.

#include <QDir>
#include <QScreen>

#include "UiRig.h"
#include "update/EmbeddedResource.h"

class TestUiHiDpi : public QObject {
  Q_OBJECT

 private slots:
  void drawnAtTheScreensPixels() {
    UiRig rig(NO_HUBS);
    TfrmMain& form = *rig.form;
    QCOMPARE(form.devicePixelRatioF(), 2.0);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_VERIFY(form.SurfacesBuilt());
    const QImage& backdrop = form.BackdropSurface();
    QCOMPARE(backdrop.size(), QSize(2 * 859, 2 * 587));
    QCOMPARE(form.CompositeSurface().size(), backdrop.size());

    // The unscaled top left slice (255 x 150) is the large artwork pixel for pixel; the first
    // rows and columns hold the border and its round corner.
    const auto bytes =
        LoadEmbeddedResource(QStringLiteral("Skin"), QStringLiteral("BkImage1@2x_jpg"));
    QVERIFY(bytes);
    const QImage large = QImage::fromData(*bytes).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(large.size(), QSize(2 * 854, 2 * 605));
    int differing = 0;
    for (int y = 16; y < 300; ++y)
      for (int x = 16; x < 510; ++x)
        differing += backdrop.pixel(x, y) != large.pixel(x, y);
    QCOMPARE(differing, 0);

    // Each border line is one window pixel: two device pixels alike.
    const int mid = backdrop.width() / 2;
    QCOMPARE(backdrop.pixel(mid, 0), backdrop.pixel(mid, 1));
    QCOMPARE(backdrop.pixel(mid, 2), backdrop.pixel(mid, 3));
    QVERIFY(backdrop.pixel(mid, 1) != backdrop.pixel(mid, 2));

    for (const SkinButton& b : form.Buttons()) {
      if (b.kind == ESkinButtonKind::Module)
        QCOMPARE(b.icon2x.size(), QSize(96, 96));
    }

    // The close button's cross at device resolution: its white pixels come in 2 x 2 blocks.
    const SkinButton& close = form.Buttons()[form.FindSystemButton(ECaptionButton::Close)];
    const QImage& composite = form.CompositeSurface();
    const int gx = 2 * (close.left + 13);
    const int gy = 2 * 6;
    QCOMPARE(composite.pixel(gx, gy), qRgb(255, 255, 255));
    QCOMPARE(composite.pixel(gx + 1, gy + 1), qRgb(255, 255, 255));

    const QString dir = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
    QVERIFY(QDir().mkpath(dir));
    QVERIFY(form.grab().save(dir + QStringLiteral("/home@2x.png")));
  }

  void startsWithTopLeftOnScreen() {
    UiRig rig(NO_HUBS);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY(area.width() < 859);  // the scaled screen is smaller than the window
    QCOMPARE(rig.form->geometry().topLeft(), area.topLeft());
  }
};

QTEST_MAIN(TestUiHiDpi)
#include "tst_ui_hidpi.moc"
