// The updater program: the window, on the machine's hubs or (--simulate) on one emulated hub.
// The options are in Usage.h.

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "DisplayCheck.h"
#include "Usage.h"
#include "hid/sim/SimHidBus.h"
#include "sim/SimulatedHub.h"
#include "ui/CloseOnSignal.h"
#include "ui/MainForm.h"
#include "update/BuildConfig.h"

namespace {

// One message on standard error, after the program's name.
void Complain(const QString& text) {
  std::fprintf(stderr, "halvek-updater: %s\n", qPrintable(text));
}

}  // namespace

int main(int argc, char** argv) {
  bool simulate = false;
  bool service = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0) {
      std::fputs(UPDATER_USAGE, stdout);
      return 0;
    }
    if (std::strcmp(arg, "--version") == 0) {
      std::printf("halvek-updater %s\nbuilt-in hub firmware %s\n", PROGRAM_VERSION,
                  qPrintable(TfrmMain::BuiltInVersion()));
      return 0;
    }
    if (std::strcmp(arg, "--simulate") == 0) {
      simulate = true;
    } else if (std::strcmp(arg, "--service") == 0) {
      service = true;
    } else {
      Complain(QStringLiteral("unknown option '%1'\nTry 'halvek-updater --help'.")
                   .arg(QString::fromLocal8Bit(arg)));
      return 2;
    }
  }
  // Qt aborts when it finds no display; say why in one line instead.
  if (const TResult<void> display = DisplayAvailable(); !display) {
    Complain(display.Error().Prefixed(QStringLiteral("cannot open its window")).text);
    return 1;
  }

  // Qt gets no arguments of ours to interpret.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication app(qtArgc, qtArgv);
  TfrmMain::InstallTranslation(QLocale());
  TfrmMain::SetApplicationIdentity();

  try {
    // The demo hub runs an older application than the one built in, so an update is offered.
    std::shared_ptr<TSimHidBus> bus;
    std::unique_ptr<TSimulatedHub> hub;
    if (simulate) {
      bus = std::make_shared<TSimHidBus>();
      THubEmulatorOptions options;
      options.applicationVersion = EMULATED_APP_VERSION;
      options.keepTranscript = false;
      hub = std::make_unique<TSimulatedHub>(bus, options);
    }
    TfrmMain frmMain(bus, std::nullopt, service);
    const auto closeOnLogout = TCloseOnSignal::Install(&frmMain);
    if (!closeOnLogout) {
      Complain(closeOnLogout.Error().text);
      return 1;
    }
    frmMain.show();
    return app.exec();
  } catch (const std::exception& e) {
    Complain(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    Complain(QStringLiteral("cannot start"));
  }
  return 1;
}
