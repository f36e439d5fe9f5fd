#pragma once
// The text of the general error report, shared by the windows' message box and the command
// lines' standard error.

#include <QString>

// The message with "." appended when its last character sorts above ".".
QString errorReportText(const QString& message);
