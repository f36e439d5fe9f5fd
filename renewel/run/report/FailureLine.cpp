#include "run/report/FailureLine.h"

#include "run/report/SafeText.h"

#include <QByteArray>

#include <cstdio>
#include <unistd.h>

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
    for (qsizetype done = 0; done < line.size();) {
        const ssize_t n = ::write(output, line.constData() + done, size_t(line.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
}
