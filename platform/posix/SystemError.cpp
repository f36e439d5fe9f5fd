#include "platform/SystemError.h"

#include <cstring>

QString systemReason(int errnum) { return QString::fromLocal8Bit(std::strerror(errnum)); }
