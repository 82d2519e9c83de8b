// The hub session with several hubs: the update stays with the hub it started on.

#include <QTest>

#include "hid/sim/SimHidBus.h"
#include "protocol/Commands.h"
#include "sim/SimulatedHub.h"
#include "support/RecordingView.h"
#include "update/BuildConfig.h"
#include "update/HubSession.h"
#include "update/Texts.h"

namespace {
THubEmulatorOptions FastHub() {
  THubEmulatorOptions o;
  o.replyLatencyMs = 0;
  o.bootloaderSwitchDelayMs = 30;
  o.rebootDelayMs = 30;
  return o;
}

int RecordsReceived(THubEmulator& hub) {
  int n = 0;
  for (const auto& entry : hub.Transcript())
    n += entry.command == CMD_PROGRAM_RECORD;
  return n;
}
}  // namespace

class SessionTest : public QObject {
  Q_OBJECT

 private slots:
  // Which hub is updated when two are plugged in: the chosen one, whether it was listed first
  // or second, and also when another hub arrives while it is in its bootloader.
  void updatesTheChosenHub_data() {
    QTest::addColumn<int>("chosen");
    QTest::addColumn<bool>("thirdArrives");
    QTest::newRow("first of two") << 0 << false;
    QTest::newRow("second of two") << 1 << false;
    QTest::newRow("second, a third arrives meanwhile") << 1 << true;
  }
  void updatesTheChosenHub() {
    QFETCH(int, chosen);
    QFETCH(bool, thirdArrives);
    auto bus = std::make_shared<TSimHidBus>();
    TSimulatedHub first(bus, FastHub());
    TSimulatedHub second(bus, FastHub());
    std::unique_ptr<TSimulatedHub> third;
    RecordingView view;
    {
      THubSession session(view);
      session.Procedure().SetTiming({150, 150, 0, 1000});
      session.Start(bus);
      QCOMPARE(int(session.Hubs().size()), 2);
      QVERIFY(session.UseHub(chosen));
      THubEmulator& target = chosen == 0 ? first.Emulator() : second.Emulator();
      THubEmulator& other = chosen == 0 ? second.Emulator() : first.Emulator();
      if (thirdArrives) {
        QObject::connect(&target, &THubEmulator::Disappeared, [&] {
          if (!third)
            third = std::make_unique<TSimulatedHub>(bus, FastHub());
        });
      }
      QCOMPARE(session.RunUpdate(), EUpdateResult::Completed);
      QCOMPARE(target.ApplicationVersion(), BUILTIN_APP_VERSION);
      QCOMPARE(RecordsReceived(target), 625);
      QCOMPARE(RecordsReceived(other), 0);
      QCOMPARE(other.Mode(), EHubMode::Application);
      if (third)
        QCOMPARE(RecordsReceived(third->Emulator()), 0);
    }
  }
};

QTEST_GUILESS_MAIN(SessionTest)
#include "tst_session.moc"
