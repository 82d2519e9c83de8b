#pragma once
// The window on a simulated bus with emulated hubs, quick enough for tests: short pauses in the
// update, short re-enumerations in the hubs, and the timers under the test's control.

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "hid/sim/SimHidBus.h"
#include "protocol/Commands.h"
#include "sim/SimulatedHub.h"
#include "support/SmallImage.h"
#include "ui/MainForm.h"
#include "update/BuildConfig.h"
#include "update/EmbeddedFirmware.h"

inline THubEmulatorOptions QuickHub(std::uint32_t version = 0x11140801) {
  THubEmulatorOptions o;
  o.applicationVersion = version;
  o.bootloaderSwitchDelayMs = 5;
  o.rebootDelayMs = 5;
  o.statusTimeScale = 0;
  return o;
}

// Commands the hub received, in order, greetings (CMD_GET_VERSION) left out. A reply held up on
// a busy machine makes the program send the same request again; unless `retries` is set, such a
// repeat counts once.
inline std::vector<std::uint8_t> Commands(const THubEmulator& hub, bool withGreetings = false,
                                          bool retries = false) {
  std::vector<std::uint8_t> out;
  const THubTranscriptEntry* last = nullptr;
  for (const THubTranscriptEntry& e : hub.Transcript()) {
    if (!withGreetings && e.command == CMD_GET_VERSION)
      continue;
    if (!retries && last && last->command == e.command && last->data == e.data)
      continue;
    out.push_back(e.command);
    last = &e;
  }
  return out;
}

inline const std::vector<THubEmulatorOptions> NO_HUBS;

struct UiRig {
  // What a hub runs once programmed with the small image: the version an update expects.
  static constexpr std::uint32_t SMALL_VERSION = BUILTIN_APP_VERSION;

  // LED levels kept by one test's failed update stay out of the next test.
  QTemporaryDir state;
  std::shared_ptr<TSimHidBus> bus = std::make_shared<TSimHidBus>();
  std::vector<std::unique_ptr<TSimulatedHub>> hubs;
  std::unique_ptr<TfrmMain> form;
  FirmwareLines image;

  // `hubOptions`: the hubs on the bus at start. A full image is the built-in one. `service`:
  // the window of halvek-updater --service.
  explicit UiRig(std::vector<THubEmulatorOptions> hubOptions = {QuickHub()}, bool fullImage = false,
                 bool service = false)
      : image(fullImage ? LoadEmbeddedFirmware().Value() : SmallImage()) {
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    for (const auto& o : hubOptions)
      AddHub(o, true);
    form = std::make_unique<TfrmMain>(bus, image, service);
    // A hub that is not back within the pause gets a short while more, not ten seconds.
    form->Session().Procedure().SetTiming({60, 60, 10, 200});
    // Ticks come from the test.
    form->tmrAuto->setInterval(24 * 3600 * 1000);
    form->tmrAuto->start();
  }
  ~UiRig() { form.reset(); }

  TSimulatedHub& AddHub(const THubEmulatorOptions& o, bool plugIn) {
    hubs.push_back(std::make_unique<TSimulatedHub>(bus, o, plugIn));
    hubs.back()->Emulator().SetFirmwareImage(image, SMALL_VERSION);
    return *hubs.back();
  }
  THubEmulator& Hub(std::size_t i = 0) { return hubs.at(i)->Emulator(); }

  // Lets device-change notices and posted events run.
  static void Settle(int ms = 30) { QTest::qWait(ms); }
  bool WaitForHubs(std::size_t n) {
    return QTest::qWaitFor([&] { return form->Session().Hubs().size() == n; }, 3000);
  }
  // Status texts reach the strip only while it is up: the Tool page with the box ticked puts
  // it up, and unticking the box leaves it there.
  void RaiseStatusStrip() {
    form->chkAutoPRG->setChecked(true);
    form->pgcMain->setCurrentWidget(form->rztbshtTool);
    form->chkAutoPRG->setChecked(false);
  }
  QStringList Log() const {
    return form->mmoUplog->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }
};
