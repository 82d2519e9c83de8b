#pragma once
// Whether Qt will find a display to open the window on. Asked before the application object
// exists, because Qt aborts the process when no platform plugin can start.

#include "base/Result.h"

// Fails, saying why in a few words, when no window can be opened; succeeds too when the
// platform chosen through QT_QPA_PLATFORM is one we do not check, such as offscreen.
TResult<void> DisplayAvailable();
