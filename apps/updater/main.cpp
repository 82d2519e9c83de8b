// The updater program. It takes one option: --simulate, which puts one emulated hub on a
// simulated HID bus instead of using the machine's devices. Nothing else is read from the
// command line.

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "hid/sim/SimHidBus.h"
#include "sim/SimulatedHub.h"
#include "ui/MainForm.h"

namespace {
void Usage() {
  std::fprintf(stderr, "usage: halvek-updater [--simulate]\n");
}
}  // namespace

int main(int argc, char** argv) {
  bool simulate = false;
  if (argc == 2 && std::strcmp(argv[1], "--simulate") == 0) {
    simulate = true;
  } else if (argc != 1) {
    Usage();
    return 2;
  }
  // Qt gets no arguments of ours to interpret.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication app(qtArgc, qtArgv);

  try {
    // The demo hub runs an older application than the one built in, so an update is offered.
    std::shared_ptr<TSimHidBus> bus;
    std::unique_ptr<TSimulatedHub> hub;
    if (simulate) {
      bus = std::make_shared<TSimHidBus>();
      HubEmulatorOptions options;
      options.applicationVersion = 0x11140801;  // 1.1.14.0801
      hub = std::make_unique<TSimulatedHub>(bus, options);
    }
    TfrmMain frmMain(bus);
    frmMain.show();
    return app.exec();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "halvek-updater: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "halvek-updater: cannot start\n");
  }
  return 1;
}
