#pragma once

#include "update/BuildConfig.h"
#include "update/FirmwareImage.h"

// The image built into the program (resource "appbin" of type "APP"). A missing or broken
// image comes back invalid, with the reason.
FirmwareLines LoadEmbeddedFirmware();
