#include "tool/LedAdjust.h"

#include <algorithm>

void TLedAdjuster::Store(int channel, int level) {
  levels_[channel - 1] = std::clamp(level, 0, LED_LEVEL_MAX);
}

void TLedAdjuster::SetLevel(int channel, int level) {
  if (channel < 1 || channel > LED_CHANNEL_COUNT)
    return;
  Store(channel, level);
  if (onLevelChosen)
    onLevelChosen(channel, Level(channel));
}

void TLedAdjuster::ShowLevel(int channel, int level) {
  if (channel < 1 || channel > LED_CHANNEL_COUNT)
    return;
  Store(channel, level);
  if (onLevelShown)
    onLevelShown(channel, Level(channel));
}

TFrameResult TLedAdjuster::SendLevel(int channel) {
  if (!link_.CurrentDevice() || channel < 1 || channel > LED_CHANNEL_COUNT)
    return {-1, EFrameFailure::NoDevice};
  return link_.SendFrame(CMD_SET_LED_LEVEL, LedLevelRequest(channel, Level(channel)));
}

void TLedAdjuster::StartAdjust() {
  if (!link_.CurrentDevice())
    return;
  const int result = link_.SendFrame(CMD_LED_ADJUST_BEGIN, MakeRequest());
  const ReplyBuffer reply = link_.Reply();
  if (result != 0)
    return;
  const auto levels = DecodeLedLevels(reply);
  for (int channel = 1; channel <= LED_CHANNEL_COUNT; ++channel) {
    const int level = std::min<int>(levels[channel - 1], LED_LEVEL_MAX);
    if (level == Level(channel))
      continue;
    ShowLevel(channel, level);
    // A moved bar sends its new level at once, before the next bar is set.
    SendLevel(channel);
  }
  ledLevelsRead_ = true;
}

void TLedAdjuster::EndAdjust() {
  if (link_.CurrentDevice())
    link_.SendFrame(CMD_LED_ADJUST_END, MakeRequest());
}
