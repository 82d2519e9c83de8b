#pragma once
// Version texts: eight upper-case hex digits, and the dotted form shown to the user.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "protocol/Commands.h"

// 0x11150906 -> "11150906".
QString VersionText(std::uint32_t version);
// "11150906" -> "1.1.15.0906"; any text not 8 characters long comes back unchanged.
QString FormatVersion(const QString& text);
// 0x11150906 -> "1.1.15.0906": how a version is shown to the user.
QString DottedVersion(std::uint32_t version);
// "1.1.15.0906" -> 0x11150906: the dotted form only (hex digits, either case); none for any
// other text.
std::optional<std::uint32_t> ParseDottedVersion(const QString& text);
// Whether a hub running `application` should be offered the built-in image.
bool IsUpdateAvailable(std::uint32_t application);
// The lines of the version box for a hub's reply.
QStringList VersionLines(const TVersionReply& reply);
// The status strip text after a version check: the undotted application version.
QString VersionStatusText(std::uint32_t application);
