#pragma once
// The one line a failure prints on standard error: "renewel: <file or address>: <reason>".

#include <QString>

void PrintFailure(const QString& subject, const QString& reason);
// Where those lines go (a file descriptor); standard error unless the program moved it.
void SetFailureOutput(int fd);
