#pragma once
// An emulated hub behind a umockdev testbed, the emulator and its node together. Kept apart
// from UmockdevHub.h: that one's source includes umockdev.h without Qt's keywords, which the
// emulator's header needs.

#include "UmockdevHub.h"
#include "protocol/HubDevice.h"
#include "sim/HubEmulator.h"

struct TUmockdevEmulatedHub {
  THubEmulator emulator;
  TUmockdevHubConnection connection;
  TUmockdevEmulatedHub(TUmockdevTestbed& testbed, THubEmulatorOptions options, int firstMinor = 0)
      : emulator(options),
        connection(
            testbed, HubReportDescriptor(),
            [this](const std::uint8_t* r, std::size_t n) { emulator.HandleOutputReport(r, n); },
            firstMinor) {
    emulator.SetConnection(&connection);
    connection.SetSerial(QString::fromStdString(options.serialNumber));
  }
  ~TUmockdevEmulatedHub() { emulator.SetConnection(nullptr); }
};
