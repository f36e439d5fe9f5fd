#include "ProcessRun.h"

#include <gtest/gtest.h>

#include <QProcess>

ProcessRun runProcess(const QString& program, const QStringList& args, int timeoutMs,
                      const QProcessEnvironment& environment, const QString& workDir)
{
    QProcess process;
    process.setWorkingDirectory(workDir);
    process.setProcessEnvironment(environment);
    process.start(program, args);
    process.closeWriteChannel();
    const bool ended = process.waitForFinished(timeoutMs);
    EXPECT_TRUE(ended) << program.toStdString() << " " << args.join(' ').toStdString();
    if (!ended) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}
