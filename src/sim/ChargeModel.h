#pragma once
// The charging the emulated hub reports through CMD_READ_STATUS: four battery places, one
// battery charged at a time, constant current up to 4.2 V and then constant voltage until the
// current has tapered off. Batteries come and go now and then. Deterministic for a given seed.

#include <array>
#include <cstdint>

#include "protocol/Commands.h"

struct THubStatus {
  std::uint16_t voltage_mV = 0;  // of the battery on charge, 0 when none is
  std::uint16_t current_mA = 0;
  std::uint8_t state = 0;    // CHARGE_STATE_*
  std::uint8_t channel = 0;  // battery place on charge, 1 to 4, or 0
  // Bits 4 to 7: a battery sits in place 1 to 4. Bits 0 to 3: that battery is full.
  std::uint8_t presence = 0;
  std::array<std::uint8_t, STATUS_COUNTER_COUNT> counters{};
};

inline constexpr std::uint8_t CHARGE_STATE_IDLE = 0;  // no battery
inline constexpr std::uint8_t CHARGE_STATE_CONSTANT_CURRENT = 1;
inline constexpr std::uint8_t CHARGE_STATE_CONSTANT_VOLTAGE = 2;
inline constexpr std::uint8_t CHARGE_STATE_ALL_FULL = 3;

class TChargeModel {
 public:
  static constexpr std::uint16_t EMPTY_MV = 3000;
  static constexpr std::uint16_t FULL_MV = 4200;
  static constexpr std::uint16_t CHARGE_MA = 1000;
  static constexpr std::uint16_t CUTOFF_MA = 100;

  explicit TChargeModel(std::uint32_t seed = 1);

  // Runs the model for `ms` milliseconds of simulated time, in whole seconds (the rest is kept).
  void Advance(std::int64_t ms);
  THubStatus Status() const;

 private:
  struct TPlace {
    bool present = false;
    bool full = false;
    int voltage_mV = 0;
  };
  void Step();  // one simulated second
  void PickNext();
  std::uint32_t Random();

  std::array<TPlace, BATTERY_COUNT> places_{};
  int charging_ = -1;
  int current_mA_ = 0;
  int secondsCharged_ = 0;
  std::int64_t leftoverMs_ = 0;
  std::array<std::uint8_t, STATUS_COUNTER_COUNT> counters_{};
  std::uint32_t random_;
};
