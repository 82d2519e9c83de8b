#include "update/KeyFileName.h"

#include <QCryptographicHash>

QString KeyFileName(const std::string& key) {
  QString name;
  for (const unsigned char c : key) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_') {
      name += QLatin1Char(c);
    } else {
      name += QStringLiteral("%%1").arg(c, 2, 16, QLatin1Char('0')).toUpper();
    }
  }
  // File names end at 255 bytes. '%' followed by no hex digits is no escaped key's.
  if (name.size() > 200) {
    const QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(key), QCryptographicHash::Sha256);
    return QStringLiteral("%long-") + QString::fromLatin1(hash.toHex());
  }
  return name;
}
