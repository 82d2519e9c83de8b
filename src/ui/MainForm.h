#pragma once
// The updater's window: Home, Update and Tool pages on the skinned frame, the lamp, the status
// strip and the version label. Controls carry a type prefix and their role, handlers the
// control and its event; tests and scripts address them by these names. The handlers hand the
// work to the session_; the window itself only shows what the session reports.

#include <QIcon>
#include <QPixmap>
#include <QStringList>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "ui/skin/SkinForm.h"
#include "update/HubSession.h"
#include "update/UpdaterView.h"

class QCheckBox;
class QLocale;
class QMenu;
class TDesktopNotice;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QTabWidget;
class QWidget;
class TShape;

class TfrmMain : public TSkinForm, public TUpdaterView {
  Q_OBJECT

 public:
  static constexpr int FORM_WIDTH = 859;
  static constexpr int FORM_HEIGHT = 587;
  static constexpr int REFRESH_INTERVAL_MS = 1000;

  // Module ids of the module bar, one a page.
  static constexpr int MODULE_HOME = 100;
  static constexpr int MODULE_UPDATE = 101;
  static constexpr int MODULE_TOOL = 103;

  // `platform`: where the hubs are looked for (null: the machine's HID devices); `image`: the
  // firmware to program (none: the built-in one); `service`: a third module button, "Tool",
  // that shows the Tool page.
  explicit TfrmMain(std::shared_ptr<THidPlatform> platform = nullptr,
                    std::optional<TResult<FirmwareLines>> image = std::nullopt,
                    bool service = false);
  ~TfrmMain() override;

  THubSession& Session() { return *session_; }

  // The built-in firmware's version as the window shows it, in its dotted form.
  static QString BuiltInVersion();
  // The texts of the Home page, line by line.
  static QStringList HelpLines();
  static QStringList ReleaseNotes();
  // The two lamp images: 0 lit green, 1 dark red.
  static QPixmap LampImage(int index);
  // The product's logo at every size it is drawn in (16 to 256 pixels).
  static QIcon ProductIcon();
  // The name and icon the desktop shows for the program (task bar, window list).
  static void SetApplicationIdentity();
  // The window's language, for the whole program and before the window is made: its texts as
  // written (English and Chinese) where the locale's first language we have is Chinese,
  // English for the Chinese texts everywhere else. Returns the language taken, "zh" or "en".
  static QString InstallTranslation(const QLocale& locale);

  // TUpdaterView.
  void ClearLog() override;
  void AppendLog(const QString& line) override;
  void ShowVersionLines(const QStringList& lines) override;
  void ShowStatus(const QString& text) override;
  void ShowIndicator(int index) override;
  void SetProgress(int position, int maximum) override;
  void ClearUpdateProgress() override;
  void SetUpdateControlsEnabled(bool enabled) override;
  void SetManualButtonsEnabled(bool enabled) override;
  void SetAutoUpdateBoxEnabled(bool enabled) override;
  void SetWindowEnabled(bool enabled) override;
  void StopAutoRefresh() override;
  void ShowLedLevel(int channel, int level) override;

  // The LED bar of channel 1 to 8.
  QSlider* LedBar(int channel) const { return ledBars.at(channel - 1); }
  // Which lamp shows: 0, 1, or -1 before the first ShowIndicator.
  int IndicatorIndex() const { return indicatorIndex_; }

  // Controls, under the names the layout gives them.
  QWidget* RzPanel3 = nullptr;
  QTabWidget* pgcMain = nullptr;
  QWidget* rztbshtHome = nullptr;
  QWidget* rztbshtUpdate = nullptr;
  QWidget* rztbshtTool = nullptr;

  QWidget* pnl1 = nullptr;
  QLabel* imgIndicator = nullptr;
  QWidget* pnl2 = nullptr;
  QLabel* lbl23 = nullptr;
  QProgressBar* pbMsg = nullptr;
  QLabel* lblMsg = nullptr;
  QLabel* lbl10 = nullptr;

  QLabel* lbl1 = nullptr;
  QWidget* RzPanel1 = nullptr;
  QLabel* RzLabel1 = nullptr;
  QWidget* RzPanel2 = nullptr;
  QPlainTextEdit* mmo1 = nullptr;

  QWidget* pnlUpdate = nullptr;
  QPushButton* btnConnect = nullptr;
  QPushButton* btnUpdate = nullptr;
  QGroupBox* grpFirmware = nullptr;
  QPlainTextEdit* mmoUpdate = nullptr;
  QCheckBox* chkAutoPRG = nullptr;
  QLabel* lbl2 = nullptr;
  QPlainTextEdit* mmoUplog = nullptr;
  QProgressBar* pbProgram = nullptr;

  QGroupBox* rzgrpbx1 = nullptr;
  QLineEdit* edtVolt = nullptr;
  QLineEdit* edtCurr = nullptr;
  QLineEdit* edtChannel = nullptr;
  QLineEdit* edtState = nullptr;
  QLineEdit* edtCyc1 = nullptr;
  QLineEdit* edtCyc2 = nullptr;
  QLineEdit* edtCyc3 = nullptr;
  std::array<TShape*, 6> shp{};  // shp0 to shp3 the batteries, shp4 the outline, shp5 the plug
  QPushButton* btnRead = nullptr;
  QCheckBox* chkRefresh = nullptr;

  QGroupBox* rzgrpbx2 = nullptr;
  std::array<QSlider*, 8> ledBars{};  // rztrckbr1 to rztrckbr8
  QPushButton* btnStartAdj = nullptr;
  QPushButton* btnEndAdj = nullptr;

  QMenu* mnuCaption = nullptr;  // the menu caption button's: About, Help

  QTimer* tmrAuto = nullptr;  // the session's
  QTimer* tmrRefresh = nullptr;
  std::array<QPixmap, 2> ilLED;  // the lamp images

 public slots:
  void btnConnectClick();
  void btnUpdateClick();
  void chkAutoPRGClick();
  void btnReadClick();
  void chkRefreshClick();
  void tmrRefreshTimer();
  void btnStartAdjClick();
  void btnEndAdjClick();
  void rztrckbr1Change();
  void rztbshtToolShow();
  void rztbshtToolHide();
  // The program's and the firmware's versions and the licence; the README's help.
  void ShowAbout();
  void ShowHelp();

 protected:
  // Closing in the middle of an update would leave the hub in its bootloader: the window
  // closes once the update has ended.
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void CreateHomePage();
  void CreateUpdatePage();
  void CreateToolPage();
  void CreateBottomPanel();
  void FormCreate(std::shared_ptr<THidPlatform> platform,
                  std::optional<TResult<FirmwareLines>> image, bool service);
  void PageChanged(int index);
  // The frame's module bar and menu button.
  void ModuleSelect(int moduleId);
  void ShowCaptionMenu();
  void ShowStatusReadout(const TStatusReadout& readout);
  // Runs a user's action now, or after the exchange in flight.
  void RunUserAction(std::function<void()> action);
  void CloseIfAsked();
  // Tab order, accessible names, and the focus on the page's first control.
  void SetUpKeyboardAndReaders();
  // Tells the desktop how an automatic update ended when the window is not looked at.
  void AutoUpdateEnded(EUpdateResult result);
  bool closeAsked_ = false;
  // Update clicks not yet run (they wait for the exchange in flight).
  int updatesQueued_ = 0;

  std::unique_ptr<THubSession> session_;
  TDesktopNotice* notice_ = nullptr;
  int indicatorIndex_ = -1;
  int shownPage_ = 0;
};
