#pragma once
// The one line a failure prints on standard error: "renewel: <file or address>: <reason>", with
// passwords masked and control characters escaped (SafeText).

#include <QString>

// "<file or address>: <reason>" as the line, the status line and the error box show it.
QString FailureText(const QString& subject, const QString& reason);
void PrintFailure(const QString& subject, const QString& reason);
// Where those lines go (a file descriptor); standard error unless the program moved it.
void SetFailureOutput(int fd);
