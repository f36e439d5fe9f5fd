#include "run/report/FailureLine.h"

#include "SafeText.h"

#include "platform/FileIO.h"

#include <QByteArray>

#include <cstdio>

namespace {
int output = 2;
}

void SetFailureOutput(int fd) { output = fd; }

QString FailureText(const QString& subject, const QString& reason)
{
    return SafeText(subject + QStringLiteral(": ") + reason);
}

void PrintFailure(const QString& subject, const QString& reason)
{
    const QByteArray line = "renewel: " + FailureText(subject, reason).toLocal8Bit() + '\n';
    std::fflush(stderr);
    platform::writeAll(output, line);
}
