#pragma once
// The system's text for an error number ("Permission denied", "No space left on device"): the
// reason every failure line carries.

#include <QString>

QString systemReason(int errnum);
