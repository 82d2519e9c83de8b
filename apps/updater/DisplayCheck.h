#pragma once
// Whether Qt will find a display to open the window on. Asked before the application object
// exists, because Qt aborts the process when no platform plugin can start.

#include <optional>
#include <string>

// Empty when a window can be opened (or when the platform chosen through QT_QPA_PLATFORM is
// one we do not check, such as offscreen); otherwise why not, in a few words.
std::optional<std::string> WhyNoDisplay();
