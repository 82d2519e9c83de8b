// The window for a keyboard user, a screen reader and a reader of English: Tab order, arrows and
// Space/Enter on the frame's buttons, the focus frame, accessible names, roles, states and
// actions, the window's texts by language, the About menu. The automatic update that ends
// unseen is also run under a private session bus by desktop_notice.sh.

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTextBrowser>

#include "UiRig.h"
#include "ui/Shape.h"
#include "update/BuildConfig.h"
#include "update/Texts.h"
#include "update/Version.h"

namespace {

int SelectedModule(const TSkinForm& form) {
  for (const SkinButton& b : form.Buttons()) {
    if (b.kind == ESkinButtonKind::Module && b.selected)
      return b.id;
  }
  return 0;
}

// The module button with this id.
QWidget* ModuleButton(const TSkinForm& form, int id) {
  for (int i = form.SystemButtonCount(); i < form.ButtonCount(); ++i) {
    if (form.Buttons()[i].id == id)
      return form.ButtonWidget(i);
  }
  return nullptr;
}

QWidget* CaptionButton(const TSkinForm& form, ECaptionButton command) {
  return form.ButtonWidget(form.FindSystemButton(command));
}

// A control by object name, a module button by "#id", a caption button by "#menu",
// "#minimize" or "#close".
QWidget* Control(const TfrmMain& form, const QString& name) {
  const struct {
    const char* name;
    ECaptionButton command;
  } captions[] = {{"#menu", ECaptionButton::Menu},
                  {"#minimize", ECaptionButton::Minimize},
                  {"#close", ECaptionButton::Close}};
  for (const auto& caption : captions) {
    if (name == QLatin1String(caption.name))
      return CaptionButton(form, caption.command);
  }
  if (name.startsWith(QLatin1Char('#')))
    return ModuleButton(form, name.mid(1).toInt());
  return form.findChild<QWidget*>(name);
}

void Show(TfrmMain& form) {
  form.show();
  QVERIFY(QTest::qWaitForWindowActive(&form));
}

}  // namespace

class TestUiAccess : public QObject {
  Q_OBJECT

 private slots:
  // Keys pressed one after the other from the window as it opens; after each, the control
  // with the focus, the page shown and the module selected.
  void keyboard_data() {
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<QStringList>("focus");
    QTest::addColumn<QString>("page");
    const int tab = Qt::Key_Tab;
    // Home: the release notes, the caption buttons, the module bar, round again.
    QTest::newRow("Tab round the Home page")
        << QList<int>{0, tab, tab, tab, tab, tab, tab}
        << QStringList{"mmo1", "#menu", "#minimize", "#close", "#100", "#101", "mmo1"}
        << "rztbshtHome";
    QTest::newRow("Shift+Tab back") << QList<int>{0, Qt::Key_Backtab, Qt::Key_Backtab}
                                    << QStringList{"mmo1", "#101", "#100"} << "rztbshtHome";
    QTest::newRow("arrows along the module bar")
        << QList<int>{0, Qt::Key_Backtab, Qt::Key_Right, Qt::Key_Left, Qt::Key_Left}
        << QStringList{"mmo1", "#101", "#100", "#101", "#100"} << "rztbshtHome";
    QTest::newRow("Space selects a module; Tab goes on into its page")
        << QList<int>{0, Qt::Key_Backtab, Qt::Key_Space, tab}
        << QStringList{"mmo1", "#101", "#101", "btnConnect"} << "rztbshtUpdate";
    QTest::newRow("Enter selects a module")
        << QList<int>{0, Qt::Key_Backtab, Qt::Key_Return, Qt::Key_Left, Qt::Key_Enter}
        << QStringList{"mmo1", "#101", "#101", "#100", "#100"} << "rztbshtHome";
    QTest::newRow("arrows along the caption buttons")
        << QList<int>{0, tab, Qt::Key_Right, Qt::Key_Right, Qt::Key_Right}
        << QStringList{"mmo1", "#menu", "#minimize", "#close", "#menu"} << "rztbshtHome";
  }
  void keyboard() {
    QFETCH(QList<int>, keys);
    QFETCH(QStringList, focus);
    QFETCH(QString, page);
    UiRig rig(NO_HUBS);
    TfrmMain& form = *rig.form;
    Show(form);
    for (qsizetype i = 0; i < keys.size(); ++i) {
      if (keys[i])
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(keys[i]),
                        keys[i] == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
      // The click runs once the events waiting before it have run.
      QCoreApplication::sendPostedEvents();
      QCOMPARE(QApplication::focusWidget(), Control(form, focus[i]));
    }
    QCOMPARE(form.pgcMain->currentWidget()->objectName(), page);
    QCOMPARE(SelectedModule(form),
             page == "rztbshtHome" ? TfrmMain::MODULE_HOME : TfrmMain::MODULE_UPDATE);
  }

  // The frame button the keyboard focused is marked in the frame's drawing; otherwise every
  // pixel is as it always was.
  void focusFrame() {
    UiRig rig(NO_HUBS);
    TfrmMain& form = *rig.form;
    Show(form);
    form.BuildBackBuffer();
    const QImage before = form.CompositeSurface().copy();
    for (QWidget* button : {ModuleButton(form, TfrmMain::MODULE_UPDATE),
                            CaptionButton(form, ECaptionButton::Close)}) {
      button->setFocus(Qt::TabFocusReason);
      QCOMPARE(form.ButtonWidget(form.FocusIndex()), button);
      QVERIFY(form.CompositeSurface() != before);
      form.mmo1->setFocus(Qt::TabFocusReason);
      QCOMPARE(form.FocusIndex(), -1);
      QCOMPARE(form.CompositeSurface(), before);
    }
    // The first control of a window that comes back without a focus: no mark.
    CaptionButton(form, ECaptionButton::Menu)->setFocus(Qt::ActiveWindowFocusReason);
    QCOMPARE(form.CompositeSurface(), before);
  }

  // What a screen reader is told of each control.
  void accessible_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("name");
    QTest::newRow("Home module") << "#100" << int(QAccessible::PageTab) << "Home";
    QTest::newRow("Update module") << "#101" << int(QAccessible::PageTab) << "Update";
    QTest::newRow("menu button") << "#menu" << int(QAccessible::ButtonMenu) << "Menu";
    QTest::newRow("minimize button") << "#minimize" << int(QAccessible::Button) << "Minimize";
    QTest::newRow("close button") << "#close" << int(QAccessible::Button) << "Close";
    QTest::newRow("lamp") << "imgIndicator" << int(QAccessible::Graphic) << "No hub connected";
    QTest::newRow("update bar") << "pbProgram" << int(QAccessible::ProgressBar)
                                << "Update progress";
    QTest::newRow("strip bar") << "pbMsg" << int(QAccessible::ProgressBar)
                               << "Automatic update progress";
    QTest::newRow("log") << "mmoUplog" << int(QAccessible::EditableText) << "Log";
    QTest::newRow("voltage") << "edtVolt" << int(QAccessible::EditableText) << "电压";
    QTest::newRow("counter") << "edtCyc2" << int(QAccessible::EditableText) << "Counter 2";
    QTest::newRow("LED bar") << "rztrckbr6" << int(QAccessible::Slider) << "LED2绿";
    QTest::newRow("battery") << "shp0" << int(QAccessible::Graphic) << "电池1";
  }
  void accessible() {
    QFETCH(QString, control);
    QFETCH(int, role);
    QFETCH(QString, name);
    UiRig rig(NO_HUBS);
    QWidget* w = Control(*rig.form, control);
    QVERIFY(w);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    QVERIFY(a && a->isValid());
    QCOMPARE(int(a->role()), role);
    QCOMPARE(a->text(QAccessible::Name), name);
  }

  // Every control a user can reach has a name; the lamp, the modules and the batteries say
  // their state; the frame's buttons are pressed through their action; readouts take no typing.
  void accessibleStates() {
    UiRig rig;
    TfrmMain& form = *rig.form;
    Show(form);
    for (QWidget* w : form.findChildren<QWidget*>()) {
      if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(&form) && !w->focusProxy())
        QVERIFY2(!QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name).isEmpty(),
                 qPrintable(w->objectName() + " " + w->metaObject()->className()));
    }
    QCOMPARE(QAccessible::queryAccessibleInterface(form.imgIndicator)->text(QAccessible::Name),
             QStringLiteral("Hub connected"));
    QVERIFY(QAccessible::queryAccessibleInterface(form.shp[4])->state().invisible);
    QAccessibleInterface* update =
        QAccessible::queryAccessibleInterface(ModuleButton(form, TfrmMain::MODULE_UPDATE));
    QVERIFY(!update->state().selected && update->state().selectable);
    update->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(form.pgcMain->currentWidget(), form.rztbshtUpdate);
    QVERIFY(update->state().selected);

    form.pgcMain->setCurrentWidget(form.rztbshtTool);
    form.btnRead->click();
    const QString battery =
        QAccessible::queryAccessibleInterface(form.shp[0])->text(QAccessible::Description);
    QVERIFY2(battery == "present" || battery == "absent", qPrintable(battery));
    const QString volts = form.edtVolt->text();
    form.edtVolt->setFocus();
    QTest::keyClicks(form.edtVolt, QStringLiteral("abc"));
    QTest::keyClick(form.edtVolt, Qt::Key_Backspace);
    QCOMPARE(form.edtVolt->text(), volts);
  }

  // The texts by language: as written where it is Chinese, English for the Chinese texts
  // elsewhere (tst_ui_window checks that they fit their places).
  void language_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("texts");  // lbl3, lbl8, btnRead, lbl23, btnUpdate, status
    const QStringList chinese{"电压", "MV", "读取", "自动升级：", "Update", "APP版本：11150906"};
    const QStringList english{"Voltage", "mV",     "Read",
                              "Update:", "Update", "App version: 11150906"};
    QTest::newRow("zh_CN") << "zh_CN"
                           << "zh" << chinese;
    QTest::newRow("zh_TW") << "zh_TW"
                           << "zh" << chinese;
    QTest::newRow("en_US") << "en_US"
                           << "en" << english;
    QTest::newRow("de_DE") << "de_DE"
                           << "en" << english;
    QTest::newRow("C") << "C"
                       << "en" << english;
  }
  void language() {
    QFETCH(QString, locale);
    QFETCH(QString, language);
    QFETCH(QStringList, texts);
    QCOMPARE(TfrmMain::InstallTranslation(QLocale(locale)), language);
    UiRig rig(NO_HUBS, false, true);
    TfrmMain& form = *rig.form;
    rig.RaiseStatusStrip();
    form.ShowStatus(Texts::StatusAppVersion + QStringLiteral("11150906"));
    const QStringList shown{form.findChild<QLabel*>("lbl3")->text(),
                            form.findChild<QLabel*>("lbl8")->text(),
                            form.btnRead->text(),
                            form.lbl23->text(),
                            form.btnUpdate->text(),
                            form.lblMsg->text()};
    TfrmMain::InstallTranslation(QLocale(QLocale::Chinese));
    QCOMPARE(shown, texts);
  }

  // The menu caption button opens a menu: About tells the program's and the firmware's
  // versions, Help the README's.
  void captionMenu() {
    UiRig rig(NO_HUBS);
    TfrmMain& form = *rig.form;
    Show(form);
    form.ClickButton(form.FindSystemButton(ECaptionButton::Menu));
    QTRY_VERIFY(form.mnuCaption && form.mnuCaption->isVisible());
    QCOMPARE(SelectedModule(form), TfrmMain::MODULE_HOME);
    const QList<QAction*> actions = form.mnuCaption->actions();
    QCOMPARE(actions.size(), 2);
    actions[0]->trigger();
    auto* about = form.findChild<QMessageBox*>("dlgAbout");
    QVERIFY(about);
    QVERIFY(about->text().contains(QLatin1String(PROGRAM_VERSION)));
    QVERIFY(about->text().contains(DottedVersion(BUILTIN_APP_VERSION)));
    actions[1]->trigger();
    auto* help = form.findChild<QTextBrowser*>();
    QVERIFY(help && help->toPlainText().contains(QStringLiteral("When an update goes wrong")));
  }

  // An automatic update that ends while the window is not looked at (here: never shown).
  // Alone this checks the update; desktop_notice.sh runs it on a private session bus and
  // checks the notification and the task bar progress sent there.
  void autoUpdateUnseen() {
    UiRig rig(NO_HUBS);
    TfrmMain& form = *rig.form;
    form.chkAutoPRG->setChecked(true);
    form.tmrAuto->setInterval(24 * 3600 * 1000);
    rig.AddHub(QuickHub(), true);
    QVERIFY(QTest::qWaitFor([&] { return form.Session().AutoUpdatePending(); }, 3000));
    UiRig::Settle();
    form.Session().AutoTimerTick();
    form.Session().AutoTimerTick();
    QVERIFY(rig.Log().contains(Texts::UpdateCompleted));
    UiRig::Settle(200);  // the notification's reply
  }
};

QTEST_MAIN(TestUiAccess)
#include "tst_ui_access.moc"
