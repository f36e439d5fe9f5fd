#include "run/report/FailureLine.h"

#include <QByteArray>

#include <cstdio>
#include <unistd.h>

namespace {
int output = 2;
}

void SetFailureOutput(int fd) { output = fd; }

void PrintFailure(const QString& subject, const QString& reason)
{
    const QByteArray line = "renewel: " + subject.toLocal8Bit() + ": " + reason.toLocal8Bit() + '\n';
    std::fflush(stderr);
    for (qsizetype done = 0; done < line.size();) {
        const ssize_t n = ::write(output, line.constData() + done, size_t(line.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
}
