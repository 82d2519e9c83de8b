// Fault injection: each fault hits exactly the occurrences it was configured for, does what it
// says to the reply or the attachment, and leaves every other report alone.

#include <QElapsedTimer>
#include <QTest>

#include "FakeConnection.h"
#include "protocol/Commands.h"
#include "update/EmbeddedFirmware.h"

Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(THubFault)
Q_DECLARE_METATYPE(std::vector<Bytes>)

namespace {

Bytes Reply(std::uint8_t command, std::uint8_t status, const Bytes& data = {}) {
  const ReplyBuffer reply = BuildReply(command, status, data);
  return {reply.begin(), reply.end()};
}

THubFault Fault(EFaultKind kind, int command, TOccurrence when) {
  THubFault f;
  f.kind = kind;
  f.command = command;
  f.when = when;
  return f;
}

}  // namespace

class HubFaultsTest : public QObject {
  Q_OBJECT

 private slots:
  // Which reports of a mixed sequence a fault hits, per occurrence rule and command.
  void occurrences_data() {
    QTest::addColumn<THubFault>("fault");
    QTest::addColumn<QString>("hits");  // one digit per report sent

    // Sent: mode, version, mode, mode, version, mode, mode, mode.
    const int Q = CMD_QUERY_MODE;
    const int V = CMD_GET_VERSION;
    using O = TOccurrence;
    auto row = [](const char* name, int command, O when, const char* hits) {
      THubFault f;
      f.kind = EFaultKind::ErrorStatus;
      f.status = 0x33;
      f.command = command;
      f.when = when;
      QTest::newRow(name) << f << QString(hits);
    };
    row("3rd mode query", Q, O::Nth(3), "00010000");
    row("1st mode query", Q, O::Nth(1), "10000000");
    row("7th mode query never comes", Q, O::Nth(7), "00000000");
    row("every 2nd mode query", Q, O::EveryNth(2), "00100101");
    row("every mode query", Q, O::EveryNth(1), "10110111");
    row("mode queries from the 4th", Q, O::FromNth(4), "00000111");
    row("every version query", V, O::Always(), "01001000");
    row("2nd version query", V, O::Nth(2), "00001000");
    row("2nd report of any kind", ANY_COMMAND, O::Nth(2), "01000000");
    row("every 3rd report", ANY_COMMAND, O::EveryNth(3), "00100100");
    row("from the 6th report", ANY_COMMAND, O::FromNth(6), "00000111");
    row("a command never sent", CMD_REBOOT, O::Always(), "00000000");
    row("Nth(0) hits nothing", Q, O::Nth(0), "00000000");
    row("EveryNth(0) hits nothing", Q, O::EveryNth(0), "00000000");
    row("FromNth(-1) hits nothing", Q, O::FromNth(-1), "00000000");
  }
  void occurrences() {
    QFETCH(THubFault, fault);
    QFETCH(QString, hits);
    TTestHub h;
    h.hub.AddFault(fault);
    const std::uint8_t sequence[] = {CMD_QUERY_MODE, CMD_GET_VERSION, CMD_QUERY_MODE,
                                     CMD_QUERY_MODE, CMD_GET_VERSION, CMD_QUERY_MODE,
                                     CMD_QUERY_MODE, CMD_QUERY_MODE};
    QString seen;
    for (std::uint8_t command : sequence) {
      const Bytes r = Exchange(h.hub, h.bus, command);
      QCOMPARE(r.size(), std::size_t{64});
      QVERIFY(r[REPLY_STATUS_OFFSET] == 0 || r[REPLY_STATUS_OFFSET] == 0x33);
      seen += r[REPLY_STATUS_OFFSET] == 0x33 ? '1' : '0';
    }
    QCOMPARE(seen, hits);
    // The transcript names the fault where it struck and only there.
    for (int i = 0; i < hits.size(); ++i) {
      const auto& faults = h.hub.Transcript()[i].faults;
      QCOMPARE(faults.size(), std::size_t(hits[i] == '1'));
      if (!faults.empty())
        QCOMPARE(faults[0], EFaultKind::ErrorStatus);
    }
  }

  // What each kind of fault does to the one report it hits (the 1st CMD_SET_LED_LEVEL, after a
  // version query), and that the reports around it are untouched.
  void replyFaults_data() {
    QTest::addColumn<THubFault>("fault");
    QTest::addColumn<std::vector<Bytes>>("reports");  // pushed for the hit report, in order
    QTest::addColumn<bool>("carriedOut");

    const Bytes normal = Reply(CMD_SET_LED_LEVEL, 0);
    const Bytes version = Reply(CMD_GET_VERSION, 0, {0x11, 0x14, 0x08, 0x01, 1, 0, 3, 0});
    auto fault = [](EFaultKind kind) {
      return Fault(kind, CMD_SET_LED_LEVEL, TOccurrence::Nth(1));
    };

    QTest::newRow("no reply") << fault(EFaultKind::NoReply) << std::vector<Bytes>{} << false;
    THubFault f = fault(EFaultKind::DelayReply);
    f.delayMs = 30;
    QTest::newRow("delayed reply") << f << std::vector<Bytes>{normal} << true;
    QTest::newRow("status 0xFF") << fault(EFaultKind::ErrorStatus)
                                 << std::vector<Bytes>{Reply(CMD_SET_LED_LEVEL, 0xFF)} << false;
    f = fault(EFaultKind::ErrorStatus);
    f.status = 0x09;
    QTest::newRow("status 9") << f << std::vector<Bytes>{Reply(CMD_SET_LED_LEVEL, 9)} << false;
    Bytes wrongLead = normal;
    wrongLead[REPLY_LEAD_OFFSET] = 0xAA;
    QTest::newRow("lead 0xAA") << fault(EFaultKind::WrongLead) << std::vector<Bytes>{wrongLead}
                               << true;
    f = fault(EFaultKind::WrongLead);
    f.leadByte = 0x00;
    wrongLead[REPLY_LEAD_OFFSET] = 0x00;
    QTest::newRow("lead 0x00") << f << std::vector<Bytes>{wrongLead} << true;
    QTest::newRow("short report, 4 bytes")
        << fault(EFaultKind::ShortReport)
        << std::vector<Bytes>{Bytes(normal.begin(), normal.begin() + 4)} << true;
    f = fault(EFaultKind::ShortReport);
    f.length = 1;
    QTest::newRow("short report, 1 byte") << f << std::vector<Bytes>{Bytes{0x55}} << true;
    QTest::newRow("stale reply first")
        << fault(EFaultKind::StaleReply) << std::vector<Bytes>{version, normal} << true;
    f = fault(EFaultKind::StaleReply);
    f.delayMs = 40;  // after the real one
    QTest::newRow("stale reply after") << f << std::vector<Bytes>{normal, version} << true;
  }
  void replyFaults() {
    QFETCH(THubFault, fault);
    QFETCH(std::vector<Bytes>, reports);
    QFETCH(bool, carriedOut);
    THubEmulatorOptions o = InstantHub();
    o.replyLatencyMs = 10;
    TTestHub h(o);
    h.hub.AddFault(fault);
    auto send = [&](std::uint8_t command, const Bytes& data) {
      const int before = h.bus.Count(TFakeConnection::EKind::Report);
      Write(h.hub, h.bus, Frame(command, data));
      QTest::qWait(80);  // longer than every delay in the table
      return h.bus.Reports(0).size() - before;
    };
    QCOMPARE(send(CMD_GET_VERSION, {0}), std::size_t{1});
    const std::size_t at = h.bus.Reports().size();
    QCOMPARE(send(CMD_SET_LED_LEVEL, {2, 99}), reports.size());
    const std::vector<Bytes> got = h.bus.Reports();
    QCOMPARE(std::vector<Bytes>(got.begin() + at, got.end()), reports);
    QCOMPARE(h.hub.LedLevels()[1], carriedOut ? 99 : THubEmulatorOptions{}.ledLevels[1]);
    // The transcript shows the reply as it went out.
    const THubTranscriptEntry& e = h.hub.Transcript()[1];
    QCOMPARE(e.faults, std::vector<EFaultKind>{fault.kind});
    QCOMPARE(e.carriedOut, carriedOut);
    if (fault.kind != EFaultKind::StaleReply) {
      QCOMPARE(e.reply, reports.empty() ? Bytes{} : reports.back());
      QCOMPARE(e.replyDelivered, !reports.empty());
    }
    // The next one is answered normally.
    QCOMPARE(send(CMD_SET_LED_LEVEL, {3, 98}), std::size_t{1});
    QCOMPARE(h.bus.Reports().back(), Reply(CMD_SET_LED_LEVEL, 0));
    QCOMPARE(h.hub.LedLevels()[2], 98);
  }

  // The hub's return after CMD_ENTER_BOOTLOADER or CMD_REBOOT, with and without faults. Each
  // return is a new attachment.
  void returns_data() {
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("kind");  // -1: no fault
    QTest::addColumn<bool>("comesBack");
    QTest::addColumn<bool>("canReadWrite");
    QTest::addColumn<int>("awayMs");  // at least

    const int E = CMD_ENTER_BOOTLOADER;
    const int R = CMD_REBOOT;
    QTest::newRow("bootloader switch") << E << -1 << true << true << 30;
    QTest::newRow("reboot") << R << -1 << true << true << 30;
    QTest::newRow("no return from bootloader switch")
        << E << int(EFaultKind::NoReturn) << false << false << 0;
    QTest::newRow("no return from reboot") << R << int(EFaultKind::NoReturn) << false << false << 0;
    QTest::newRow("late from bootloader switch")
        << E << int(EFaultKind::LateReturn) << true << true << 150;
    QTest::newRow("late from reboot") << R << int(EFaultKind::LateReturn) << true << true << 150;
    QTest::newRow("no access after bootloader switch")
        << E << int(EFaultKind::NoAccess) << true << false << 30;
    QTest::newRow("no access after reboot")
        << R << int(EFaultKind::NoAccess) << true << false << 30;
  }
  void returns() {
    QFETCH(int, command);
    QFETCH(int, kind);
    QFETCH(bool, comesBack);
    QFETCH(bool, canReadWrite);
    QFETCH(int, awayMs);
    THubEmulatorOptions o = InstantHub();
    o.bootloaderSwitchDelayMs = 30;
    o.rebootDelayMs = 30;
    TTestHub h(o);
    if (kind >= 0) {
      THubFault f = Fault(EFaultKind(kind), command, TOccurrence::Nth(2));
      f.delayMs = 150;
      h.hub.AddFault(f);
      // The first time is not hit.
      const Bytes r = Exchange(h.hub, h.bus, std::uint8_t(command));
      QCOMPARE(r[REPLY_STATUS_OFFSET], 0);
      QTRY_COMPARE(h.hub.Attachments(), 2);
      QVERIFY(h.hub.Attached());
    }
    const int before = h.hub.Attachments();
    const std::size_t mark = h.bus.events.size();
    QCOMPARE(Exchange(h.hub, h.bus, std::uint8_t(command))[REPLY_STATUS_OFFSET],
             0);  // answered either way
    QTRY_VERIFY(!h.hub.Attached());
    if (comesBack) {
      QTRY_VERIFY_WITH_TIMEOUT(h.hub.Attached(), 2000);
    } else {
      QTest::qWait(300);
      QVERIFY(!h.hub.Attached());
    }
    QCOMPARE(h.hub.Attachments(), before + (comesBack ? 1 : 0));
    const auto& ev = h.bus.events;
    QCOMPARE(ev.size(), mark + (comesBack ? 3 : 2));
    QCOMPARE(ev[mark].kind, TFakeConnection::EKind::Report);
    QCOMPARE(ev[mark + 1].kind, TFakeConnection::EKind::Detach);
    if (comesBack) {
      QCOMPARE(ev[mark + 2].kind, TFakeConnection::EKind::Attach);
      QCOMPARE(ev[mark + 2].canReadWrite, canReadWrite);
      QVERIFY(ev[mark + 2].ms - ev[mark + 1].ms >= awayMs);
      QCOMPARE(h.hub.Mode(), command == CMD_REBOOT ? EHubMode::Application : EHubMode::Bootloader);
    }
  }

  // The hub drops off the bus in the middle of programming; whether it returns by itself or is
  // plugged in again, it comes back in its bootloader with the records before the fault.
  void vanishMidProgramming_data() {
    QTest::addColumn<int>("returnMs");
    QTest::newRow("stays away") << -1;
    QTest::newRow("returns") << 20;
  }
  void vanishMidProgramming() {
    QFETCH(int, returnMs);
    TTestHub h;
    THubFault f = Fault(EFaultKind::Vanish, CMD_PROGRAM_RECORD, TOccurrence::Nth(100));
    f.delayMs = returnMs;
    h.hub.AddFault(f);
    QCOMPARE(Exchange(h.hub, h.bus, CMD_ENTER_BOOTLOADER)[REPLY_STATUS_OFFSET], 0);
    QTRY_COMPARE(h.hub.Attachments(), 2);
    QTRY_VERIFY(h.hub.Attached());
    const FirmwareLines image = LoadEmbeddedFirmware().Value();
    std::size_t sent = 0;
    for (std::size_t i = 0; i < image.Count() && h.hub.Attached(); ++i) {
      const RequestBuffer load = LoadRecordRequest(*image.Record(i));
      const RequestBuffer program = ProgramRecordRequest(*image.Record(i));
      Exchange(h.hub, h.bus, CMD_LOAD_RECORD, RequestData(load));
      const Bytes r = Exchange(h.hub, h.bus, CMD_PROGRAM_RECORD, RequestData(program));
      ++sent;
      if (r.empty())
        break;
    }
    QCOMPARE(sent, std::size_t{100});
    QTRY_VERIFY(!h.hub.Attached());
    QCOMPARE(h.hub.Programmed().size(), std::size_t{99});
    if (returnMs < 0) {
      QTest::qWait(100);
      QVERIFY(!h.hub.Attached());
      h.hub.Plug();
    }
    QTRY_VERIFY(h.hub.Attached());
    QCOMPARE(h.hub.Attachments(), 3);
    QCOMPARE(h.hub.Mode(), EHubMode::Bootloader);
    QCOMPARE(Exchange(h.hub, h.bus, CMD_QUERY_MODE)[MODE_OFFSET],
             std::uint8_t(EHubMode::Bootloader));
    QCOMPARE(Exchange(h.hub, h.bus, CMD_GET_VERSION)[VERSION_APPLICATION_OFFSET], 0);
  }

  // Outside programming a hub pulled out and back runs its application again.
  void vanishInApplication() {
    TTestHub h;
    THubFault f = Fault(EFaultKind::Vanish, CMD_READ_STATUS, TOccurrence::Nth(1));
    f.delayMs = 10;
    h.hub.AddFault(f);
    QVERIFY(Exchange(h.hub, h.bus, CMD_READ_STATUS).empty());
    QTRY_COMPARE(h.hub.Attachments(), 2);
    QTRY_VERIFY(h.hub.Attached());
    QCOMPARE(h.hub.Mode(), EHubMode::Application);
    QCOMPARE(Exchange(h.hub, h.bus, CMD_READ_STATUS)[REPLY_STATUS_OFFSET], 0);
  }

  void removedFaultIsGone() {
    TTestHub h;
    const int id = h.hub.AddFault(Fault(EFaultKind::NoReply, ANY_COMMAND, TOccurrence::Always()));
    const int other =
        h.hub.AddFault(Fault(EFaultKind::WrongLead, CMD_GET_VERSION, TOccurrence::Always()));
    QVERIFY(Exchange(h.hub, h.bus, CMD_QUERY_MODE).empty());
    h.hub.RemoveFault(id);
    QCOMPARE(Exchange(h.hub, h.bus, CMD_QUERY_MODE)[REPLY_LEAD_OFFSET], 0x55);
    QCOMPARE(Exchange(h.hub, h.bus, CMD_GET_VERSION)[REPLY_LEAD_OFFSET], 0xAA);
    h.hub.RemoveFault(other);
    QCOMPARE(Exchange(h.hub, h.bus, CMD_GET_VERSION)[REPLY_LEAD_OFFSET], 0x55);
  }
};

QTEST_GUILESS_MAIN(HubFaultsTest)
#include "tst_hub_faults.moc"
