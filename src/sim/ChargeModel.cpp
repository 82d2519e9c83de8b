#include "sim/ChargeModel.h"

#include <algorithm>

namespace {
constexpr int VOLTAGE_RISE_PER_SECOND = 2;  // 3.0 V to 4.2 V in ten minutes
constexpr int TAPER_PERCENT_PER_SECOND = 3;
constexpr int EVENT_EVERY_SECONDS = 90;  // a battery may come or go this often
}  // namespace

TChargeModel::TChargeModel(std::uint32_t seed) : random_(seed ? seed : 1) {
  // Two batteries in at power-up, as a hub on a desk would have.
  places_[0] = {true, false, EMPTY_MV + 300};
  places_[2] = {true, false, EMPTY_MV + 650};
  counters_[1] = 2;
  PickNext();
}

std::uint32_t TChargeModel::Random() {
  random_ ^= random_ << 13;
  random_ ^= random_ >> 17;
  random_ ^= random_ << 5;
  return random_;
}

void TChargeModel::Advance(std::int64_t ms) {
  if (ms <= 0)
    return;
  leftoverMs_ += ms;
  // A long pause need not be replayed second by second beyond a day's worth.
  leftoverMs_ = std::min<std::int64_t>(leftoverMs_, 24LL * 3600 * 1000);
  while (leftoverMs_ >= 1000) {
    leftoverMs_ -= 1000;
    Step();
  }
}

void TChargeModel::PickNext() {
  charging_ = -1;
  current_mA_ = 0;
  for (int i = 0; i < BATTERY_COUNT; ++i) {
    if (places_[i].present && !places_[i].full) {
      charging_ = i;
      current_mA_ = CHARGE_MA;
      return;
    }
  }
}

void TChargeModel::Step() {
  if (charging_ >= 0) {
    TPlace& p = places_[charging_];
    if (p.voltage_mV < FULL_MV) {
      p.voltage_mV = std::min<int>(FULL_MV, p.voltage_mV + VOLTAGE_RISE_PER_SECOND);
    } else {
      current_mA_ -= std::max(1, current_mA_ * TAPER_PERCENT_PER_SECOND / 100);
    }
    if (++secondsCharged_ % 60 == 0)
      ++counters_[2];
    if (current_mA_ < CUTOFF_MA) {
      p.full = true;
      ++counters_[0];
      PickNext();
    }
  }
  if (Random() % EVENT_EVERY_SECONDS != 0)
    return;
  // Now and then someone takes out a full battery or puts in an empty one.
  const int i = static_cast<int>(Random() % BATTERY_COUNT);
  TPlace& p = places_[i];
  if (p.present && p.full) {
    p = TPlace{};
  } else if (!p.present) {
    p = {true, false, EMPTY_MV + static_cast<int>(Random() % 700)};
    ++counters_[1];
  }
  if (charging_ < 0)
    PickNext();
}

THubStatus TChargeModel::Status() const {
  THubStatus s;
  bool anyPresent = false;
  for (int i = 0; i < BATTERY_COUNT; ++i) {
    if (places_[i].present) {
      anyPresent = true;
      s.presence |= static_cast<std::uint8_t>(1u << (4 + i));
      if (places_[i].full)
        s.presence |= static_cast<std::uint8_t>(1u << i);
    }
  }
  if (charging_ >= 0) {
    s.voltage_mV = static_cast<std::uint16_t>(places_[charging_].voltage_mV);
    s.current_mA = static_cast<std::uint16_t>(current_mA_);
    s.channel = static_cast<std::uint8_t>(charging_ + 1);
    s.state = places_[charging_].voltage_mV < FULL_MV ? CHARGE_STATE_CONSTANT_CURRENT
                                                      : CHARGE_STATE_CONSTANT_VOLTAGE;
  } else {
    s.state = anyPresent ? CHARGE_STATE_ALL_FULL : CHARGE_STATE_IDLE;
  }
  s.counters = counters_;
  return s;
}
