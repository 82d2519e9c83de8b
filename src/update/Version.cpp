#include "update/Version.h"

#include <QRegularExpression>

#include "update/BuildConfig.h"
#include "update/Texts.h"

QString VersionText(std::uint32_t version) {
  return QStringLiteral("%1").arg(version, 8, 16, QLatin1Char('0')).toUpper();
}

QString FormatVersion(const QString& text) {
  if (text.size() != 8)
    return text;
  return text.mid(0, 1) + '.' + text.mid(1, 1) + '.' + text.mid(2, 2) + '.' + text.mid(4, 4);
}

QString DottedVersion(std::uint32_t version) {
  return FormatVersion(VersionText(version));
}

std::optional<std::uint32_t> ParseDottedVersion(const QString& text) {
  static const QRegularExpression dotted(QRegularExpression::anchoredPattern(
      QStringLiteral("([0-9A-Fa-f])\\.([0-9A-Fa-f])\\.([0-9A-Fa-f]{2})\\.([0-9A-Fa-f]{4})")));
  const auto match = dotted.match(text);
  if (!match.hasMatch())
    return std::nullopt;
  bool ok = false;
  const std::uint32_t value =
      (match.captured(1) + match.captured(2) + match.captured(3) + match.captured(4))
          .toUInt(&ok, 16);
  return ok ? std::optional(value) : std::nullopt;
}

bool IsUpdateAvailable(std::uint32_t application) {
  return application < BUILTIN_APP_VERSION;
}

QStringList VersionLines(const TVersionReply& reply) {
  return {Texts::BootloaderLabel + DottedVersion(reply.bootloader),
          Texts::AppLabel + DottedVersion(reply.application),
          Texts::CurrentAppLabel + DottedVersion(BUILTIN_APP_VERSION),
          IsUpdateAvailable(reply.application) ? Texts::UpdateAvailable : Texts::NoUpdateAvailable};
}

QString VersionStatusText(std::uint32_t application) {
  return Texts::StatusAppVersion + VersionText(application);
}
