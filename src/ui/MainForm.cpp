#include "ui/MainForm.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadialGradient>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTranslator>
#include <QVBoxLayout>

#include "tool/StatusRead.h"
#include "ui/DesktopNotice.h"
#include "ui/Shape.h"
#include "ui/WindowLayout.h"
#include "update/BuildConfig.h"
#include "update/Texts.h"
#include "update/Version.h"

namespace {

// Names the control and puts it where the layout table says.
template <typename W>
W* Place(W* widget, const char* name) {
  const TControlPlace& place = PlaceOf(name);
  widget->setObjectName(QString::fromLatin1(name));
  if (place.w < 0) {
    widget->adjustSize();
    widget->move(place.x, place.y);
  } else {
    widget->setGeometry(place.x, place.y, place.w, place.h);
  }
  return widget;
}

QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& text) {
  return Place(new QLabel(text, parent), name);
}

void SetColours(QWidget* widget, const QColor& background, const QColor& text) {
  QPalette palette = widget->palette();
  if (background.isValid()) {
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::Base, background);
    widget->setAutoFillBackground(true);
  }
  if (text.isValid()) {
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Text, text);
  }
  widget->setPalette(palette);
}

// A white group box whose title sits on the frame's top line, half a text line down, as the
// layout's places assume: the Fusion style puts the title above the frame and moves the frame
// down onto the controls inside.
void WhiteGroupBox(QGroupBox* box) {
  box->setStyleSheet(
      QStringLiteral("QGroupBox { background: white; border: 1px solid #c5c9cf; border-radius: 3px;"
                     " margin-top: 6px; }"
                     "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                     " left: 8px; padding: 0px 2px; background: white; }"));
}

// A box that shows a value of the hub and takes no typing, with its label before it. A label
// too long for the room before the box (in English) moves left rather than into the box.
QLineEdit* Readout(QWidget* parent, const char* name, const char* labelName, const QString& text) {
  QLabel* label = labelName ? PlaceLabel(parent, labelName, text) : nullptr;
  auto* box = Place(new QLineEdit(parent), name);
  box->setReadOnly(true);
  if (!label) {
    box->setAccessibleName(text);
    return box;
  }
  label->setBuddy(box);
  constexpr int GAP = 4;
  if (label->geometry().right() + GAP >= box->x())
    label->move(box->x() - GAP - label->width(), label->y());
  return box;
}

// A check box whose text (in English) would be cut off at the end of its place grows to the
// right.
QCheckBox* FitText(QCheckBox* box) {
  QStyleOptionButton option;
  option.initFrom(box);
  option.text = box->text();
  const QRect text = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
  const int needed = text.left() + box->fontMetrics().horizontalAdvance(box->text());
  if (needed > box->width())
    box->resize(needed, box->height());
  return box;
}

QWidget* WhitePanel(QWidget* parent, const char* name) {
  auto* panel = Place(new QWidget(parent), name);
  SetColours(panel, Qt::white, QColor());
  return panel;
}

QWidget* RoundedPanel(QWidget* parent, const char* name) {
  return Place(new TRoundedPanel(parent), name);
}

QFont ArialFont(int pointSize) {
  QFont font(QStringLiteral("Arial"), pointSize);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QFont StripFont() {
  QFont font;
  font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun")});
  font.setPointSize(9);
  font.setBold(true);
  return font;
}

QFont MonoFont() {
  QFont font(QStringLiteral("Consolas"), 9);
  // Where Consolas is missing, any fixed-pitch font keeps the version lines aligned.
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  return font;
}

// The hub's LED channels: the first half red, the second green, LED1 to LED4 of each colour.
constexpr int LEDS_PER_COLOUR = LED_CHANNEL_COUNT / 2;

// The module buttons and the page each shows; Tool only for the service window.
struct TModule {
  int id;
  QWidget* TfrmMain::*page;
  const char* pageName;
  const char* caption;
  const char* icon;
};
constexpr TModule MODULES[] = {
    {TfrmMain::MODULE_HOME, &TfrmMain::rztbshtHome, "rztbshtHome",
     QT_TRANSLATE_NOOP("TfrmMain", "Home"), "Module_Home_png"},
    {TfrmMain::MODULE_UPDATE, &TfrmMain::rztbshtUpdate, "rztbshtUpdate",
     QT_TRANSLATE_NOOP("TfrmMain", "Update"), "Module_protec_png"},
    {TfrmMain::MODULE_TOOL, &TfrmMain::rztbshtTool, "rztbshtTool",
     QT_TRANSLATE_NOOP("TfrmMain", "Tool"), "Module_tools_png"},
};
const QString SKIN_RESOURCES = QStringLiteral("Skin");

// Texts the window shows in more than one place.
QString ProgramName() {
  return TfrmMain::tr("Halvek Hub Updater");
}
QString ProductName() {
  return TfrmMain::tr("Halvek Charging Hub");
}
QString AboutTitle() {
  return TfrmMain::tr("About %1").arg(ProgramName());
}
QString HelpTitle() {
  return TfrmMain::tr("Help");
}

// The batteries of the hub drawing are pictures to a screen reader, named by their labels and
// described as present or not; the outline and the plug only frame them and are left out.
class TShapeAccessible : public QAccessibleWidget {
 public:
  explicit TShapeAccessible(QWidget* shape) : QAccessibleWidget(shape, QAccessible::Graphic) {}
  QAccessible::State state() const override {
    QAccessible::State s = QAccessibleWidget::state();
    s.invisible = s.invisible || widget()->accessibleName().isEmpty();
    return s;
  }
  static QAccessibleInterface* Factory(const QString&, QObject* object) {
    if (auto* shape = qobject_cast<TShape*>(object))
      return new TShapeAccessible(shape);
    return nullptr;
  }
};

// A status text of the core in the window's language; the version text keeps its digits.
QString StatusText(const QString& text) {
  const QString& version = Texts::StatusAppVersion;
  if (text.startsWith(version) && text.size() > version.size())
    return QCoreApplication::translate("Status", version.toUtf8().constData()) +
           text.mid(version.size());
  return QCoreApplication::translate("Status", text.toUtf8().constData());
}

// The page control with its keyboard page switching (Ctrl+Tab, Ctrl+PgDown and the like)
// taken out: only the program switches pages, through the module bar.
class TPageControl : public QTabWidget {
 public:
  using QTabWidget::QTabWidget;

 protected:
  void keyPressEvent(QKeyEvent* event) override { QWidget::keyPressEvent(event); }
};

}  // namespace

QString TfrmMain::BuiltInVersion() {
  return DottedVersion(BUILTIN_APP_VERSION);
}

QStringList TfrmMain::HelpLines() {
  return {
      tr("Charging Hub for Veyla 1 and Quillon 3"),
      QString(),
      tr("How to update:"),
      tr("Step 1: Connect the Charging Hub to your computer by micro USB "),
      tr("cable. Red LEDs on the Hub will blink when connected. It is not "),
      tr("necessary to connect the Hub to power. "),
      tr("Step 2: Go to the Update page and click [Check Version]. This will "),
      tr("show whether an update is available."),
      tr("Step 3: Click [Update] to initiate the update. "),
      QString(),
      tr("Note:"),
      tr("1 Do not connect more than one Charging Hub at the same time;"),
      tr("2 Do not remove the USB cable during the update;"),
      tr("3 If the update fails, repeat the above steps."),
  };
}

QStringList TfrmMain::ReleaseNotes() {
  return {
      tr("Release Notes:"),
      QString(61, QLatin1Char('-')),
      QStringLiteral("V") + BuiltInVersion(),
      tr("* Fixed bug that occurs during extended charging,"),
      tr("   e.g. leaving batteries in the Hub for over one "),
      tr("   week. "),
  };
}

QPixmap TfrmMain::LampImage(int index) {
  QImage image(24, 24, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const bool lit = index == 0;
  QRadialGradient glow(QPointF(10.0, 9.0), 11.0, QPointF(9.0, 8.0));
  if (lit) {
    glow.setColorAt(0.0, QColor(215, 255, 195));
    glow.setColorAt(0.4, QColor(60, 215, 50));
    glow.setColorAt(1.0, QColor(10, 105, 15));
  } else {
    glow.setColorAt(0.0, QColor(165, 70, 70));
    glow.setColorAt(0.45, QColor(120, 15, 15));
    glow.setColorAt(1.0, QColor(55, 0, 0));
  }
  p.setPen(QPen(QColor(30, 30, 30, 210), 1.0));
  p.setBrush(glow);
  p.drawEllipse(QRectF(2.5, 2.5, 19.0, 19.0));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 255, 255, lit ? 150 : 55));
  p.drawEllipse(QRectF(7.0, 5.5, 6.0, 4.0));
  p.end();
  return QPixmap::fromImage(image);
}

QIcon TfrmMain::ProductIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/icons/halvek-updater-%1.png").arg(size), QSize(size, size));
  return icon;
}

QString TfrmMain::InstallTranslation(const QLocale& locale) {
  static QTranslator* installed = nullptr;
  if (installed) {
    QCoreApplication::removeTranslator(installed);
    delete installed;
    installed = nullptr;
  }
  auto translator = std::make_unique<QTranslator>();
  const QString folder = QStringLiteral(":/i18n");
  const QString name = QStringLiteral("halvek-updater");
  // The locale's languages in their order (LANGUAGE, then LC_ALL, LC_MESSAGES, LANG); none we
  // have: English.
  if (!translator->load(locale, name, QStringLiteral("_"), folder) &&
      !translator->load(name + QStringLiteral("_en"), folder))
    return QString();
  const QString language = translator->language().section(QLatin1Char('_'), 0, 0);
  QCoreApplication::installTranslator(translator.get());
  installed = translator.release();
  return language;
}

void TfrmMain::SetApplicationIdentity() {
  QGuiApplication::setApplicationDisplayName(ProgramName());
  // Matches the desktop entry, so the task bar finds its icon and name.
  QGuiApplication::setDesktopFileName(QStringLiteral("halvek-updater"));
  QApplication::setWindowIcon(ProductIcon());
}

TfrmMain::TfrmMain(std::shared_ptr<THidPlatform> platform,
                   std::optional<TResult<FirmwareLines>> image, bool service)
    : session_(std::make_unique<THubSession>(*this)) {
  setFont(ArialFont(9));
  setFixedSize(FORM_WIDTH, FORM_HEIGHT);
  setWindowIcon(ProductIcon());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    // Centred, but never beyond the available area. A screen too small for the whole window
    // (1280 x 1024 at scale 2) keeps its top left corner, with the module bar, on the screen;
    // the window can then be dragged by its surface.
    const QRect area = screen->availableGeometry();
    QPoint at = area.center() - rect().center();
    at.setX(std::max(area.left(), std::min(at.x(), area.right() + 1 - width())));
    at.setY(std::max(area.top(), std::min(at.y(), area.bottom() + 1 - height())));
    move(at);
  }
  static const bool accessibleShapes = [] {
    QAccessible::installFactory(TShapeAccessible::Factory);
    return true;
  }();
  Q_UNUSED(accessibleShapes);
  notice_ = new TDesktopNotice(QStringLiteral("halvek-updater"), this);
  CreateControls();
  FormCreate(std::move(platform), std::move(image), service);
  SetUpKeyboardAndReaders();
}

void TfrmMain::SetUpKeyboardAndReaders() {
  setAccessibleName(ProgramName());
  // Tab runs along the module bar, through the page's controls, then to the caption buttons.
  // The caption buttons were made first and the module buttons last: the modules move to
  // just after the close button, which the chain leads round to the page.
  QWidget* previous = ButtonWidget(SystemButtonCount() - 1);
  for (int i = SystemButtonCount(); i < ButtonCount(); ++i) {
    setTabOrder(previous, ButtonWidget(i));
    previous = ButtonWidget(i);
  }
  pbProgram->setAccessibleName(tr("Update progress"));
  pbMsg->setAccessibleName(tr("Automatic update progress"));
  mmo1->setAccessibleName(tr("Release notes"));
  mmoUpdate->setAccessibleName(tr("Versions"));
  lbl2->setBuddy(mmoUplog);
  shp[4]->setAccessibleName(QString());
  shp[5]->setAccessibleName(QString());

  // The window opens with the focus on the first control of its page.
  QWidget* page = pgcMain->currentWidget();
  for (QWidget* w = nextInFocusChain(); w != this; w = w->nextInFocusChain()) {
    if (page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() &&
        w->isVisibleTo(page)) {
      w->setFocus(Qt::OtherFocusReason);
      break;
    }
  }
}

TfrmMain::~TfrmMain() {
  // The session reports to the controls: it goes first.
  session_.reset();
}

void TfrmMain::CreateControls() {
  RzPanel3 = WhitePanel(this, "RzPanel3");
  // The panel clips the page control's own border.
  pgcMain = Place(new TPageControl(RzPanel3), "pgcMain");
  pgcMain->setTabPosition(QTabWidget::South);
  for (const TModule& module : MODULES) {
    auto* page = new QWidget;
    this->*module.page = page;
    page->setObjectName(QString::fromLatin1(module.pageName));
    SetColours(page, Qt::white, QColor());
    pgcMain->addTab(page, tr(module.caption));
  }
  connect(pgcMain, &QTabWidget::currentChanged, this, &TfrmMain::PageChanged);

  CreateHomePage();
  CreateUpdatePage();
  CreateToolPage();
  CreateBottomPanel();

  ilLED = {LampImage(0), LampImage(1)};
  tmrAuto = &session_->AutoTimer();
  tmrAuto->setObjectName(QStringLiteral("tmrAuto"));
  tmrRefresh = new QTimer(this);
  tmrRefresh->setObjectName(QStringLiteral("tmrRefresh"));
  tmrRefresh->setInterval(REFRESH_INTERVAL_MS);
  connect(tmrRefresh, &QTimer::timeout, this, &TfrmMain::tmrRefreshTimer);
}

void TfrmMain::CreateHomePage() {
  QWidget* page = rztbshtHome;
  lbl1 = PlaceLabel(page, "lbl1", ProductName());
  QFont titleFont = ArialFont(9);
  titleFont.setPixelSize(13);
  lbl1->setFont(titleFont);
  SetColours(lbl1, QColor(), Qt::black);
  lbl1->adjustSize();

  RzPanel1 = RoundedPanel(page, "RzPanel1");
  // Qt breaks label lines at line feeds only.
  RzLabel1 = Place(new QLabel(HelpLines().join(QLatin1Char('\n')), RzPanel1), "RzLabel1");
  RzLabel1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  SetColours(RzLabel1, QColor(), Qt::black);

  RzPanel2 = RoundedPanel(page, "RzPanel2");
  mmo1 = Place(new QPlainTextEdit(RzPanel2), "mmo1");
  mmo1->setPlainText(ReleaseNotes().join(QLatin1Char('\n')));
  mmo1->setReadOnly(true);
  mmo1->setTabChangesFocus(true);
  mmo1->setFrameShape(QFrame::NoFrame);
  mmo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  SetColours(mmo1, Qt::white, Qt::black);
}

void TfrmMain::CreateUpdatePage() {
  QWidget* page = rztbshtUpdate;
  pnlUpdate = WhitePanel(page, "pnlUpdate");
  btnConnect = Place(new QPushButton(tr("Check Version"), pnlUpdate), "btnConnect");
  btnUpdate = Place(new QPushButton(tr("Update"), pnlUpdate), "btnUpdate");
  connect(btnConnect, &QPushButton::clicked, this, &TfrmMain::btnConnectClick);
  connect(btnUpdate, &QPushButton::clicked, this, &TfrmMain::btnUpdateClick);

  grpFirmware = Place(new QGroupBox(tr("Version:"), page), "grpFirmware");
  WhiteGroupBox(grpFirmware);
  mmoUpdate = Place(new QPlainTextEdit(grpFirmware), "mmoUpdate");
  mmoUpdate->setReadOnly(true);
  mmoUpdate->setEnabled(false);
  mmoUpdate->setFrameShape(QFrame::NoFrame);
  mmoUpdate->setFont(MonoFont());
  SetColours(mmoUpdate, Qt::white, QColor());
  // The box is disabled, so its text is drawn in the disabled colour: the desktop's usual
  // grey rather than the style's faint one keeps the versions readable.
  QPalette versions = mmoUpdate->palette();
  versions.setColor(QPalette::Disabled, QPalette::Text, QColor(109, 109, 109));
  versions.setColor(QPalette::Disabled, QPalette::Base, Qt::white);
  mmoUpdate->setPalette(versions);

  chkAutoPRG = Place(new QCheckBox(tr("Automatically update when new hub is plugged in"), page),
                     "chkAutoPRG");
  connect(chkAutoPRG, &QCheckBox::toggled, this, &TfrmMain::chkAutoPRGClick);

  lbl2 = PlaceLabel(page, "lbl2", tr("Log"));
  mmoUplog = Place(new QPlainTextEdit(page), "mmoUplog");
  mmoUplog->setReadOnly(true);
  mmoUplog->setTabChangesFocus(true);
  mmoUplog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  pbProgram = Place(new QProgressBar(page), "pbProgram");
  pbProgram->setTextVisible(false);
  pbProgram->setRange(0, 100);
  pbProgram->setValue(0);

  connect(session_.get(), &THubSession::AutoUpdateFinished, this, &TfrmMain::AutoUpdateEnded);
  connect(session_.get(), &THubSession::AutoUpdateFinished, this, &TfrmMain::CloseIfAsked);
}

void TfrmMain::CreateToolPage() {
  QWidget* page = rztbshtTool;

  rzgrpbx1 = Place(new QGroupBox(tr("运行数据"), page), "rzgrpbx1");
  WhiteGroupBox(rzgrpbx1);
  QWidget* box = rzgrpbx1;
  edtVolt = Readout(box, "edtVolt", "lbl3", tr("电压"));
  PlaceLabel(box, "lbl8", tr("MV"));
  edtCurr = Readout(box, "edtCurr", "lbl4", tr("电流"));
  PlaceLabel(box, "lbl9", tr("MA"));
  edtChannel = Readout(box, "edtChannel", "lbl5", tr("通道"));
  edtState = Readout(box, "edtState", "lbl6", tr("状态"));
  edtCyc1 = Readout(box, "edtCyc1", nullptr, tr("Counter 1"));
  edtCyc2 = Readout(box, "edtCyc2", nullptr, tr("Counter 2"));
  edtCyc3 = Readout(box, "edtCyc3", nullptr, tr("Counter 3"));
  PlaceLabel(box, "lbl7", tr("在位状态"));

  // The hub drawing: outline and plug first, so the batteries lie on top of the outline.
  shp[4] = Place(new TShape(box), "shp4");
  shp[5] = Place(new TShape(box), "shp5");
  const struct {
    int index;
    const char* shape;
    const char* label;
    const char* caption;
    bool labelAbove;
  } batteries[] = {
      {1, "shp1", "lbl13", QT_TR_NOOP("电池2"), true},
      {0, "shp0", "lbl12", QT_TR_NOOP("电池1"), true},
      {2, "shp2", "lbl14", QT_TR_NOOP("电池3"), false},
      {3, "shp3", "lbl15", QT_TR_NOOP("电池4"), false},
  };
  for (const auto& b : batteries) {
    TShape* battery = Place(new TShape(box), b.shape);
    shp[b.index] = battery;
    battery->setAccessibleName(tr(b.caption));
    battery->setAccessibleDescription(tr("not read yet"));
    auto* label = new QLabel(tr(b.caption), box);
    label->setObjectName(QString::fromLatin1(b.label));
    label->adjustSize();
    const QRect at = battery->geometry();
    label->move(at.x() + (at.width() - label->width()) / 2,
                b.labelAbove ? at.y() - label->height() - 1 : at.y() + at.height() + 1);
  }

  btnRead = Place(new QPushButton(tr("读取"), box), "btnRead");
  chkRefresh = FitText(Place(new QCheckBox(tr("自动刷新"), box), "chkRefresh"));
  connect(btnRead, &QPushButton::clicked, this, &TfrmMain::btnReadClick);
  connect(chkRefresh, &QCheckBox::toggled, this, &TfrmMain::chkRefreshClick);

  rzgrpbx2 = Place(new QGroupBox(tr("LED颜色调节"), page), "rzgrpbx2");
  WhiteGroupBox(rzgrpbx2);
  for (int i = 0; i < LED_CHANNEL_COUNT; ++i) {
    const int channel = i + 1;
    const int led = i % LEDS_PER_COLOUR + 1;
    const QByteArray name = "rztrckbr" + QByteArray::number(channel);
    auto* bar = Place(new QSlider(Qt::Horizontal, rzgrpbx2), name.constData());
    bar->setRange(0, LED_LEVEL_MAX);
    bar->setValue(TLedAdjuster::INITIAL_LEVEL);
    bar->setTickPosition(QSlider::TicksBelow);
    bar->setTickInterval(5);
    bar->setProperty("tag", channel);
    ledBars[i] = bar;
    const QString label = i < LEDS_PER_COLOUR ? tr("LED%1红").arg(led) : tr("LED%1绿").arg(led);
    PlaceLabel(rzgrpbx2, ("lblLed" + QByteArray::number(channel)).constData(), label)
        ->setBuddy(bar);
    connect(bar, &QSlider::valueChanged, this, &TfrmMain::rztrckbr1Change);
  }
  btnStartAdj = Place(new QPushButton(tr("读取﹠开始"), rzgrpbx2), "btnStartAdj");
  btnEndAdj = Place(new QPushButton(tr("写入﹠结束"), rzgrpbx2), "btnEndAdj");
  connect(btnStartAdj, &QPushButton::clicked, this, &TfrmMain::btnStartAdjClick);
  connect(btnEndAdj, &QPushButton::clicked, this, &TfrmMain::btnEndAdjClick);

  // Row by row, red before green, then the two buttons.
  QList<QWidget*> order;
  for (int row = 0; row < LEDS_PER_COLOUR; ++row)
    order << ledBars[row] << ledBars[row + LEDS_PER_COLOUR];
  order << btnStartAdj << btnEndAdj;
  for (qsizetype i = 0; i + 1 < order.size(); ++i)
    setTabOrder(order[i], order[i + 1]);
}

void TfrmMain::CreateBottomPanel() {
  // Transparent: the frame's bottom strip shows through.
  pnl1 = Place(new QWidget(this), "pnl1");
  imgIndicator = Place(new QLabel(pnl1), "imgIndicator");

  pnl2 = Place(new QWidget(pnl1), "pnl2");
  lbl23 = PlaceLabel(pnl2, "lbl23", tr("自动升级："));
  pbMsg = Place(new QProgressBar(pnl2), "pbMsg");
  pbMsg->setTextVisible(false);
  pbMsg->setRange(0, 100);
  pbMsg->setValue(0);
  lblMsg = PlaceLabel(pnl2, "lblMsg", QString());
  for (QLabel* label : {lbl23, lblMsg}) {
    label->setFont(StripFont());
    SetColours(label, QColor(), Qt::white);
    label->adjustSize();
  }
  pnl2->hide();

  lbl10 = PlaceLabel(pnl1, "lbl10", tr("Version:"));
  SetColours(lbl10, QColor(), Qt::white);
}

void TfrmMain::FormCreate(std::shared_ptr<THidPlatform> platform,
                          std::optional<TResult<FirmwareLines>> image, bool service) {
  // A hub already attached is listed and greeted here, before the image is loaded.
  session_->Start(std::move(platform), std::move(image));
  SetBackground(QStringLiteral("BkImage1_jpg"), SKIN_RESOURCES, 255, 150, 60, 60);
  for (const TModule& module : MODULES) {
    if (module.id != MODULE_TOOL || service)
      AddModule(module.id, tr(module.caption), QString::fromLatin1(module.icon), SKIN_RESOURCES);
  }
  connect(this, &TSkinForm::ModuleChosen, this, &TfrmMain::ModuleSelect);
  connect(this, &TSkinForm::MenuChosen, this, &TfrmMain::ShowCaptionMenu);
  SelectModule(MODULE_HOME);
  for (int i = 0; i < pgcMain->count(); ++i)
    pgcMain->setTabVisible(i, false);
  pgcMain->tabBar()->hide();
  // Nor does Tab stop at the page control or its hidden tabs: it goes to the page's controls.
  pgcMain->tabBar()->setFocusPolicy(Qt::NoFocus);
  pgcMain->setFocusPolicy(Qt::NoFocus);
  pgcMain->setCurrentWidget(rztbshtHome);
  lbl10->setText(tr("Version:") + QLatin1Char(' ') + BuiltInVersion());
  lbl10->adjustSize();
}

// --- what the session shows ---

void TfrmMain::ClearLog() {
  mmoUplog->clear();
}

void TfrmMain::AppendLog(const QString& line) {
  mmoUplog->appendPlainText(line);
}

void TfrmMain::ShowVersionLines(const QStringList& lines) {
  mmoUpdate->setPlainText(lines.join(QLatin1Char('\n')));
}

void TfrmMain::ShowStatus(const QString& text) {
  // Only while the strip is up; a text given meanwhile is not kept.
  if (pnl2->isHidden())
    return;
  lblMsg->setText(StatusText(text));
  lblMsg->adjustSize();
}

void TfrmMain::ShowIndicator(int index) {
  if (index < 0 || index > 1)
    return;
  indicatorIndex_ = index;
  imgIndicator->setPixmap(ilLED[index]);
  imgIndicator->setAccessibleName(index == 0 ? tr("Hub connected") : tr("No hub connected"));
  imgIndicator->repaint();
}

void TfrmMain::SetProgress(int position, int maximum) {
  for (QProgressBar* bar : {pbProgram, pbMsg}) {
    // A range of 0 to 0 would show a busy bar.
    bar->setRange(0, std::max(maximum, 1));
    bar->setValue(maximum > 0 ? position : 0);
  }
  notice_->SetProgress(maximum > 0 ? double(position) / maximum : 0.0);
}

void TfrmMain::ClearUpdateProgress() {
  pbProgram->setValue(pbProgram->minimum());
}

void TfrmMain::SetUpdateControlsEnabled(bool enabled) {
  pnlUpdate->setEnabled(enabled);
  // The end of an update: the task bar entry's bar goes.
  if (enabled)
    notice_->SetProgress(-1);
}

void TfrmMain::SetManualButtonsEnabled(bool enabled) {
  btnConnect->setEnabled(enabled);
  btnUpdate->setEnabled(enabled);
}

void TfrmMain::SetAutoUpdateBoxEnabled(bool enabled) {
  chkAutoPRG->setEnabled(enabled);
}

void TfrmMain::SetWindowEnabled(bool enabled) {
  setEnabled(enabled);
}

void TfrmMain::StopAutoRefresh() {
  // Through the box, so its handler stops the timer as a user's click would.
  chkRefresh->setChecked(false);
}

void TfrmMain::ShowLedLevel(int channel, int level) {
  if (channel < 1 || channel > LED_CHANNEL_COUNT)
    return;
  // The session has sent this level already; the bar only follows.
  QSlider* bar = LedBar(channel);
  const QSignalBlocker quiet(bar);
  bar->setValue(level);
}

// --- handlers ---

void TfrmMain::RunUserAction(std::function<void()> action) {
  session_->Link().RunUserActionWhenIdle(std::move(action));
}

void TfrmMain::btnConnectClick() {
  RunUserAction([this] { session_->CheckVersion(); });
}

void TfrmMain::btnUpdateClick() {
  // Off at the click, not when the update starts: a second click while an exchange is in
  // flight would queue a second update. A run enables the panel again however it ends; an
  // update that is refused leaves the panel as it was.
  const bool wasEnabled = pnlUpdate->isEnabled();
  ++updatesQueued_;
  SetUpdateControlsEnabled(false);
  RunUserAction([this, wasEnabled] {
    struct TDone {
      TfrmMain* form;
      bool refused = true;
      bool wasEnabled;
      ~TDone() {
        --form->updatesQueued_;
        if (refused && !form->session_->Procedure().Running())
          form->SetUpdateControlsEnabled(wasEnabled);
      }
    } done{this, true, wasEnabled};
    switch (session_->RunUpdate()) {
      case EUpdateResult::BrokenImage:
      case EUpdateResult::NoDevice:
      case EUpdateResult::AlreadyRunning:
      case EUpdateResult::HubInUse:
        break;
      default:
        done.refused = false;
    }
    CloseIfAsked();
  });
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (session_ && (session_->Procedure().Running() || updatesQueued_ > 0)) {
    if (!closeAsked_)
      AppendLog(Texts::CloseAfterUpdate);
    closeAsked_ = true;
    event->ignore();
    return;
  }
  TSkinForm::closeEvent(event);
}

void TfrmMain::CloseIfAsked() {
  if (closeAsked_)
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TfrmMain::chkAutoPRGClick() {
  session_->SetAutoUpdate(chkAutoPRG->isChecked());
}

void TfrmMain::btnReadClick() {
  RunUserAction([this] {
    if (const auto readout = ReadHubStatus(session_->Link()))
      ShowStatusReadout(*readout);
  });
}

void TfrmMain::ShowStatusReadout(const TStatusReadout& readout) {
  edtVolt->setText(QString::number(readout.voltage_mV));
  edtCurr->setText(QString::number(readout.current_mA));
  edtState->setText(QString::number(readout.state));
  edtChannel->setText(QString::number(readout.channel));
  const QColor clear = palette().color(QPalette::Active, QPalette::Highlight);
  for (int i = 0; i < BATTERY_COUNT; ++i) {
    shp[i]->SetBrushColor(readout.batteryPresent[i] ? QColor(Qt::white) : clear);
    shp[i]->setAccessibleDescription(readout.batteryPresent[i] ? tr("present") : tr("absent"));
  }
  edtCyc1->setText(QString::number(readout.counters[0]));
  edtCyc2->setText(QString::number(readout.counters[1]));
  edtCyc3->setText(QString::number(readout.counters[2]));
}

void TfrmMain::chkRefreshClick() {
  if (chkRefresh->isChecked()) {
    tmrRefresh->start();
  } else {
    tmrRefresh->stop();
  }
}

void TfrmMain::tmrRefreshTimer() {
  // A tick that finds an exchange or an update under way is skipped; the next one reads.
  if (session_->Busy())
    return;
  btnRead->click();
}

void TfrmMain::btnStartAdjClick() {
  RunUserAction([this] { session_->Leds().StartAdjust(); });
}

void TfrmMain::btnEndAdjClick() {
  RunUserAction([this] { session_->Leds().EndAdjust(); });
}

void TfrmMain::rztrckbr1Change() {
  const auto* bar = qobject_cast<const QSlider*>(sender());
  if (!bar)
    return;
  const int channel = bar->property("tag").toInt();
  session_->Leds().SetLevel(channel, bar->value());
  // Sends the level the bar holds when the link is free.
  RunUserAction([this, channel] { session_->Leds().SendLevel(channel); });
}

void TfrmMain::rztbshtToolShow() {
  pnl2->setVisible(chkAutoPRG->isChecked());
}

void TfrmMain::rztbshtToolHide() {
  pnl2->hide();
}

void TfrmMain::PageChanged(int index) {
  const int tool = pgcMain->indexOf(rztbshtTool);
  if (shownPage_ == tool && index != tool)
    rztbshtToolHide();
  if (index == tool && shownPage_ != tool)
    rztbshtToolShow();
  shownPage_ = index;
}

void TfrmMain::AutoUpdateEnded(EUpdateResult result) {
  if (!isMinimized() && isActiveWindow())
    return;
  QString how;
  switch (result) {
    case EUpdateResult::Completed:
      how = tr("Update completed.");
      break;
    case EUpdateResult::BrokenImage:
    case EUpdateResult::NoDevice:
    case EUpdateResult::LedLevelsNotRead:
    case EUpdateResult::Cancelled:
    case EUpdateResult::AlreadyRunning:
    case EUpdateResult::HubInUse:
      how = tr("Not updated; the hub is as it was.");
      break;
    case EUpdateResult::BootloaderNotFound:
    case EUpdateResult::RecordFailed:
    case EUpdateResult::Stopped:
      how = tr("Update failed: the hub waits in its bootloader. Run the update again.");
      break;
    default:
      how = tr("Update failed. Run the update again.");
  }
  const int selected = session_->SelectedHub();
  const std::string port =
      selected >= 0 ? PortOf(session_->Hubs().at(std::size_t(selected))) : std::string();
  const QString hub = port.empty()
                          ? ProductName()
                          : tr("%1 at %2").arg(ProductName(), QString::fromStdString(port));
  notice_->Notify(hub, how);
}

void TfrmMain::ShowAbout() {
  auto* box = new QMessageBox(
      QMessageBox::Information, AboutTitle(),
      tr("%1 %2\nBuilt-in hub firmware %3")
          .arg(ProgramName(), QString::fromLatin1(PROGRAM_VERSION), BuiltInVersion()),
      QMessageBox::Close, this);
  box->setObjectName(QStringLiteral("dlgAbout"));
  box->setInformativeText(
      tr("Copyright 2026 Halvek. All rights reserved. Provided by Halvek "
         "for use with the Halvek Charging Hub."));
  box->setIconPixmap(ProductIcon().pixmap(64, 64));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void TfrmMain::ShowHelp() {
  // The README's sections on running the program, from "Running" up to "Installing".
  QFile readme(QStringLiteral(":/help/README.md"));
  QString text;
  if (readme.open(QIODevice::ReadOnly))
    text = QString::fromUtf8(readme.readAll());
  const qsizetype from = text.indexOf(QStringLiteral("\n## Running"));
  const qsizetype to = text.indexOf(QStringLiteral("\n## Installing"));
  if (from >= 0 && to > from)
    text = text.mid(from, to - from);
  auto* dialog = new QDialog(this);
  dialog->setObjectName(QStringLiteral("dlgHelp"));
  dialog->setWindowTitle(tr("%1 help").arg(ProgramName()));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(dialog);
  auto* browser = new QTextBrowser(dialog);
  browser->setMarkdown(text);
  browser->setAccessibleName(HelpTitle());
  layout->addWidget(browser);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
  connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::close);
  layout->addWidget(buttons);
  dialog->resize(640, 480);
  dialog->open();
}

void TfrmMain::ShowCaptionMenu() {
  const int index = FindSystemButton(ECaptionButton::Menu);
  if (index < 0)
    return;
  if (!mnuCaption) {
    mnuCaption = new QMenu(this);
    mnuCaption->setObjectName(QStringLiteral("mnuCaption"));
    mnuCaption->addAction(AboutTitle(), this, &TfrmMain::ShowAbout);
    mnuCaption->addAction(HelpTitle(), this, &TfrmMain::ShowHelp);
  }
  // Under the menu button, as a window's menu opens.
  const SkinButton& b = Buttons()[index];
  mnuCaption->popup(mapToGlobal(QPoint(b.left, b.top + b.height)));
}

void TfrmMain::ModuleSelect(int moduleId) {
  for (const TModule& module : MODULES) {
    if (module.id != moduleId)
      continue;
    SelectModule(moduleId);
    QWidget* page = this->*module.page;
    QWidget* shown = pgcMain->currentWidget();
    if (page != shown) {
      // A focus inside the page that goes is dropped, not handed on: the next page's first
      // control would show a focus frame nobody asked for.
      if (QWidget* focus = QApplication::focusWidget(); focus && shown->isAncestorOf(focus))
        focus->clearFocus();
      pgcMain->setCurrentWidget(page);
    }
    return;
  }
}
