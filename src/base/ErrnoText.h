#pragma once
// The system's words for an errno value, for lines the user reads.

#include <QString>
#include <cstring>

inline QString ErrnoText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}
