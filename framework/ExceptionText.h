#pragma once
// The message of the exception being handled, for the general error report: the framework's
// own message, the standard library's what(), or "Unknown error". Call inside a catch block.

#include <QString>

QString currentExceptionMessage();
