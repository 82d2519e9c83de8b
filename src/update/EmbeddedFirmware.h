#pragma once

#include <QString>

#include "update/BuildConfig.h"
#include "update/FirmwareImage.h"

// The image built into the program (resource "appbin" of type "APP"). A missing or broken
// image fails, with the reason.
TResult<FirmwareLines> LoadEmbeddedFirmware();

// An image the user supplies, read from `path` and checked like the built-in one, its records
// inside the built-in image's first to last address. Fails, with the reason, when the file
// cannot be read, is not a plain file, is far larger than any image, or holds no record at all
// (programming it would leave the hub without an application).
TResult<FirmwareLines> LoadFirmwareFile(const QString& path);
