#pragma once
// A program run to its end with standard input closed, for tests that drive tools and the
// project's own programs as processes.

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct ProcessRun {
    int exitCode = -1;  // -1: it crashed, or did not end in time (it is then killed)
    QByteArray out;
    QByteArray err;
};

// Runs program in workDir (the test's own folder when empty); a run that does not end within
// timeoutMs fails the test.
ProcessRun runProcess(const QString& program, const QStringList& args, int timeoutMs = 60000,
                      const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment(),
                      const QString& workDir = {});
