#include "ui/MainForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadialGradient>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>

#include "tool/StatusRead.h"
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

struct LedBarPlace {
  const char* name;
  const char* labelName;
  const char* label;
};
// Channel c is bar c - 1: four red levels, then four green.
constexpr LedBarPlace LED_BARS[LED_CHANNEL_COUNT] = {
    {"rztrckbr1", "lblLed1", "LED1红"}, {"rztrckbr2", "lblLed2", "LED2红"},
    {"rztrckbr3", "lblLed3", "LED3红"}, {"rztrckbr4", "lblLed4", "LED4红"},
    {"rztrckbr5", "lblLed5", "LED1绿"}, {"rztrckbr6", "lblLed6", "LED2绿"},
    {"rztrckbr7", "lblLed7", "LED3绿"}, {"rztrckbr8", "lblLed8", "LED4绿"},
};
// The page control with its keyboard page switching (Ctrl+Tab, Ctrl+PgDown and the like)
// taken out: only the program switches pages, through the module bar.
class TPageControl : public QTabWidget {
 public:
  using QTabWidget::QTabWidget;

 protected:
  void keyPressEvent(QKeyEvent* event) override { QWidget::keyPressEvent(event); }
};

}  // namespace

QStringList TfrmMain::HelpLines() {
  return {
      QStringLiteral("Charging Hub for Veyla 1 and Quillon 3"),
      QString(),
      QStringLiteral("How to update:"),
      QStringLiteral("Step 1: Connect the Charging Hub to your computer by micro USB "),
      QStringLiteral("cable. Red LEDs on the Hub will blink when connected. It is not "),
      QStringLiteral("necessary to connect the Hub to power. "),
      QStringLiteral("Step 2: Go to the Update page and click [Check Version]. This will "),
      QStringLiteral("show whether an update is available."),
      QStringLiteral("Step 3: Click [Update] to initiate the update. "),
      QString(),
      QStringLiteral("Note:"),
      QStringLiteral("1 Do not connect more than one Charging Hub at the same time;"),
      QStringLiteral("2 Do not remove the USB cable during the update;"),
      QStringLiteral("3 If the update fails, repeat the above steps."),
  };
}

QStringList TfrmMain::ReleaseNotes() {
  return {
      QStringLiteral("Release Notes:"),
      QString(61, QLatin1Char('-')),
      QStringLiteral("V1.1.15.0906"),
      QStringLiteral("* Fixed bug that occurs during extended charging,"),
      QStringLiteral("   e.g. leaving batteries in the Hub for over one "),
      QStringLiteral("   week. "),
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

void TfrmMain::SetApplicationIdentity() {
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Halvek Hub Updater"));
  // Matches the desktop entry, so the task bar finds its icon and name.
  QGuiApplication::setDesktopFileName(QStringLiteral("halvek-updater"));
  QApplication::setWindowIcon(ProductIcon());
}

TfrmMain::TfrmMain(std::shared_ptr<THidPlatform> platform, std::optional<FirmwareLines> image,
                   bool service)
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
  CreateControls();
  FormCreate(std::move(platform), std::move(image), service);
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
  rztbshtHome = new QWidget;
  rztbshtUpdate = new QWidget;
  rztbshtTool = new QWidget;
  const struct {
    QWidget* page;
    const char* name;
    QString caption;
  } pages[] = {{rztbshtHome, "rztbshtHome", QStringLiteral("Home")},
               {rztbshtUpdate, "rztbshtUpdate", QStringLiteral("Update")},
               {rztbshtTool, "rztbshtTool", QStringLiteral("Tool")}};
  for (const auto& page : pages) {
    page.page->setObjectName(QString::fromLatin1(page.name));
    SetColours(page.page, Qt::white, QColor());
    pgcMain->addTab(page.page, page.caption);
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
  lbl1 = PlaceLabel(page, "lbl1", QStringLiteral("Halvek Charging Hub"));
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
  mmo1->setFrameShape(QFrame::NoFrame);
  mmo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  mmo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  SetColours(mmo1, Qt::white, Qt::black);
}

void TfrmMain::CreateUpdatePage() {
  QWidget* page = rztbshtUpdate;
  pnlUpdate = WhitePanel(page, "pnlUpdate");
  btnConnect = Place(new QPushButton(QStringLiteral("Check Version"), pnlUpdate), "btnConnect");
  btnUpdate = Place(new QPushButton(QStringLiteral("Update"), pnlUpdate), "btnUpdate");
  connect(btnConnect, &QPushButton::clicked, this, &TfrmMain::btnConnectClick);
  connect(btnUpdate, &QPushButton::clicked, this, &TfrmMain::btnUpdateClick);

  grpFirmware = Place(new QGroupBox(QStringLiteral("Version:"), page), "grpFirmware");
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

  chkAutoPRG =
      Place(new QCheckBox(QStringLiteral("Automatically update when new hub is plugged in"), page),
            "chkAutoPRG");
  connect(chkAutoPRG, &QCheckBox::toggled, this, &TfrmMain::chkAutoPRGClick);

  lbl2 = PlaceLabel(page, "lbl2", QStringLiteral("Log"));
  mmoUplog = Place(new QPlainTextEdit(page), "mmoUplog");
  mmoUplog->setReadOnly(true);
  mmoUplog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  pbProgram = Place(new QProgressBar(page), "pbProgram");
  pbProgram->setTextVisible(false);
  pbProgram->setRange(0, 100);
  pbProgram->setValue(0);

  // The hubs found, one entry each; never shown.
  cbbPort = Place(new QComboBox(page), "cbbPort");
  cbbPort->hide();
  connect(session_.get(), &THubSession::HubsChanged, this, &TfrmMain::RefreshPortList);
  connect(session_.get(), &THubSession::AutoUpdateFinished, this, &TfrmMain::CloseIfAsked);
}

void TfrmMain::CreateToolPage() {
  QWidget* page = rztbshtTool;

  rzgrpbx1 = Place(new QGroupBox(QStringLiteral("运行数据"), page), "rzgrpbx1");
  WhiteGroupBox(rzgrpbx1);
  QWidget* box = rzgrpbx1;
  PlaceLabel(box, "lbl3", QStringLiteral("电压"));
  edtVolt = Place(new QLineEdit(box), "edtVolt");
  PlaceLabel(box, "lbl8", QStringLiteral("MV"));
  PlaceLabel(box, "lbl4", QStringLiteral("电流"));
  edtCurr = Place(new QLineEdit(box), "edtCurr");
  PlaceLabel(box, "lbl9", QStringLiteral("MA"));
  PlaceLabel(box, "lbl5", QStringLiteral("通道"));
  edtChannel = Place(new QLineEdit(box), "edtChannel");
  PlaceLabel(box, "lbl6", QStringLiteral("状态"));
  edtState = Place(new QLineEdit(box), "edtState");
  edtCyc1 = Place(new QLineEdit(box), "edtCyc1");
  edtCyc2 = Place(new QLineEdit(box), "edtCyc2");
  edtCyc3 = Place(new QLineEdit(box), "edtCyc3");
  PlaceLabel(box, "lbl7", QStringLiteral("在位状态"));

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
      {1, "shp1", "lbl13", "电池2", true},
      {0, "shp0", "lbl12", "电池1", true},
      {2, "shp2", "lbl14", "电池3", false},
      {3, "shp3", "lbl15", "电池4", false},
  };
  for (const auto& b : batteries) {
    TShape* battery = Place(new TShape(box), b.shape);
    shp[b.index] = battery;
    auto* label = new QLabel(QString::fromUtf8(b.caption), box);
    label->setObjectName(QString::fromLatin1(b.label));
    label->adjustSize();
    const QRect at = battery->geometry();
    label->move(at.x() + (at.width() - label->width()) / 2,
                b.labelAbove ? at.y() - label->height() - 1 : at.y() + at.height() + 1);
  }

  btnRead = Place(new QPushButton(QStringLiteral("读取"), box), "btnRead");
  chkRefresh = Place(new QCheckBox(QStringLiteral("自动刷新"), box), "chkRefresh");
  connect(btnRead, &QPushButton::clicked, this, &TfrmMain::btnReadClick);
  connect(chkRefresh, &QCheckBox::toggled, this, &TfrmMain::chkRefreshClick);

  rzgrpbx2 = Place(new QGroupBox(QStringLiteral("LED颜色调节"), page), "rzgrpbx2");
  WhiteGroupBox(rzgrpbx2);
  for (int i = 0; i < LED_CHANNEL_COUNT; ++i) {
    const LedBarPlace& place = LED_BARS[i];
    auto* bar = Place(new QSlider(Qt::Horizontal, rzgrpbx2), place.name);
    bar->setRange(0, LED_LEVEL_MAX);
    bar->setValue(TLedAdjuster::INITIAL_LEVEL);
    bar->setTickPosition(QSlider::TicksBelow);
    bar->setTickInterval(5);
    bar->setProperty("tag", i + 1);
    ledBars[i] = bar;
    PlaceLabel(rzgrpbx2, place.labelName, QString::fromUtf8(place.label));
    connect(bar, &QSlider::valueChanged, this, &TfrmMain::rztrckbr1Change);
  }
  btnStartAdj = Place(new QPushButton(QStringLiteral("读取﹠开始"), rzgrpbx2), "btnStartAdj");
  btnEndAdj = Place(new QPushButton(QStringLiteral("写入﹠结束"), rzgrpbx2), "btnEndAdj");
  connect(btnStartAdj, &QPushButton::clicked, this, &TfrmMain::btnStartAdjClick);
  connect(btnEndAdj, &QPushButton::clicked, this, &TfrmMain::btnEndAdjClick);

  // Row by row, red before green, then the two buttons.
  const QWidget* order[] = {ledBars[0], ledBars[4], ledBars[1], ledBars[5],  ledBars[2],
                            ledBars[6], ledBars[3], ledBars[7], btnStartAdj, btnEndAdj};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i)
    setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
}

void TfrmMain::CreateBottomPanel() {
  // Transparent: the frame's bottom strip shows through.
  pnl1 = Place(new QWidget(this), "pnl1");
  imgIndicator = Place(new QLabel(pnl1), "imgIndicator");

  pnl2 = Place(new QWidget(pnl1), "pnl2");
  lbl23 = PlaceLabel(pnl2, "lbl23", QStringLiteral("自动升级："));
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

  lbl10 = PlaceLabel(pnl1, "lbl10", QStringLiteral("Version:"));
  SetColours(lbl10, QColor(), Qt::white);
}

void TfrmMain::FormCreate(std::shared_ptr<THidPlatform> platform,
                          std::optional<FirmwareLines> image, bool service) {
  // A hub already attached is listed and greeted here, before the image is loaded.
  session_->Start(std::move(platform), std::move(image));
  SetBackground(QStringLiteral("BkImage1_jpg"), QStringLiteral("Skin"), 255, 150, 60, 60);
  AddModule(MODULE_HOME, QStringLiteral("Home"), QStringLiteral("Module_Home_png"),
            QStringLiteral("Skin"));
  AddModule(MODULE_UPDATE, QStringLiteral("Update"), QStringLiteral("Module_protec_png"),
            QStringLiteral("Skin"));
  if (service)
    AddModule(MODULE_TOOL, QStringLiteral("Tool"), QStringLiteral("Module_tools_png"),
              QStringLiteral("Skin"));
  SelectModule(MODULE_HOME);
  for (int i = 0; i < pgcMain->count(); ++i)
    pgcMain->setTabVisible(i, false);
  pgcMain->tabBar()->hide();
  pgcMain->setCurrentWidget(rztbshtHome);
  lbl10->setText(QStringLiteral("Version: ") + FormatVersion(VersionText(BUILTIN_APP_VERSION)));
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
  lblMsg->setText(text);
  lblMsg->adjustSize();
}

void TfrmMain::ShowIndicator(int index) {
  if (index < 0 || index > 1)
    return;
  indicatorIndex_ = index;
  imgIndicator->setPixmap(ilLED[index]);
  imgIndicator->repaint();
}

void TfrmMain::SetProgress(int position, int maximum) {
  for (QProgressBar* bar : {pbProgram, pbMsg}) {
    // A range of 0 to 0 would show a busy bar.
    bar->setRange(0, std::max(maximum, 1));
    bar->setValue(maximum > 0 ? position : 0);
  }
}

void TfrmMain::ClearUpdateProgress() {
  pbProgram->setValue(pbProgram->minimum());
}

void TfrmMain::SetUpdateControlsEnabled(bool enabled) {
  pnlUpdate->setEnabled(enabled);
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
  try {
    session_->Link().RunUserActionWhenIdle([action = std::move(action)] {
      try {
        action();
      } catch (...) {
        // Handlers run from the event loop: nothing may escape.
      }
    });
  } catch (...) {
  }
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
    struct Done {
      TfrmMain* form;
      bool refused = true;
      bool wasEnabled;
      ~Done() {
        --form->updatesQueued_;
        if (refused && !form->session_->Procedure().Running())
          form->SetUpdateControlsEnabled(wasEnabled);
      }
    } done{this, true, wasEnabled};
    switch (session_->Update()) {
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
  try {
    session_->SetAutoUpdate(chkAutoPRG->isChecked());
  } catch (...) {
  }
}

void TfrmMain::tmrAutoTimer() {
  try {
    session_->AutoTimerTick();
  } catch (...) {
  }
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
  for (int i = 0; i < BATTERY_COUNT; ++i)
    shp[i]->SetBrushColor(readout.batteryPresent[i] ? QColor(Qt::white) : clear);
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
  try {
    session_->Leds().SetLevel(channel, bar->value());
  } catch (...) {
  }
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

void TfrmMain::WmSkinModuleSelect(int moduleId, int) {
  const struct {
    int id;
    QWidget* page;  // null: the page stays
  } modules[] = {{100, rztbshtHome}, {101, rztbshtUpdate}, {102, nullptr},
                 {103, rztbshtTool}, {104, nullptr},       {105, nullptr}};
  for (const auto& module : modules) {
    if (module.id != moduleId)
      continue;
    SelectModule(moduleId);
    if (module.page)
      pgcMain->setCurrentWidget(module.page);
    return;
  }
}

void TfrmMain::RefreshPortList() {
  cbbPort->clear();
  for (std::size_t i = 0; i < session_->Hubs().size(); ++i)
    cbbPort->addItem(QStringLiteral("Device%1").arg(0));
  cbbPort->setCurrentIndex(session_->SelectedHub());
}
