#pragma once
// The hub's eight LED levels (channels 1 to 4 red, 5 to 8 green, 0 to 100 each) as the program
// holds them, and the three commands that read, set and end an adjustment. The update carries
// the levels across a firmware change with the same calls.

#include <array>
#include <functional>

#include "protocol/Commands.h"
#include "protocol/HubLink.h"

class TLedAdjuster {
 public:
  static constexpr int INITIAL_LEVEL = 50;

  explicit TLedAdjuster(THubLink& link) : link_(link) {}

  // Called whenever a level changes by the program's doing (not by SetLevel), so a display can
  // follow without sending anything itself.
  std::function<void(int channel, int level)> onLevelShown;
  // Called whenever the user chooses a level (SetLevel), before it is sent.
  std::function<void(int channel, int level)> onLevelChosen;

  int Level(int channel) const { return levels_[channel - 1]; }
  // A level chosen by the user; clamped to 0..100. Does not send (see SendLevel).
  void SetLevel(int channel, int level);
  // A level set by the program (levels kept from an earlier update): as SetLevel, and the
  // display follows.
  void ShowLevel(int channel, int level);

  // CMD_SET_LED_LEVEL with the channel's level: 0 when the hub took it; NoDevice without a hub.
  TFrameResult SendLevel(int channel);
  // CMD_LED_ADJUST_BEGIN: takes the hub's eight levels (clamped), sends each one that changed,
  // and marks the levels as read. Nothing changes when the hub does not answer with status 0.
  void StartAdjust();
  // CMD_LED_ADJUST_END; the result is not looked at.
  void EndAdjust();

  bool LedLevelsRead() const { return ledLevelsRead_; }
  void ClearLedLevelsRead() { ledLevelsRead_ = false; }

 private:
  void Store(int channel, int level);

  THubLink& link_;
  std::array<int, LED_CHANNEL_COUNT> levels_ = {INITIAL_LEVEL, INITIAL_LEVEL, INITIAL_LEVEL,
                                                INITIAL_LEVEL, INITIAL_LEVEL, INITIAL_LEVEL,
                                                INITIAL_LEVEL, INITIAL_LEVEL};
  bool ledLevelsRead_ = false;
};
