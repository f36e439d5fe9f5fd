#include "run/LocalHash.h"

#include "trust/Sha256.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <thread>

Result<QByteArray> HashWhileEventsFlow(const QString& path)
{
    QEventLoop loop;
    std::optional<Result<QByteArray>> digest;
    bool done = false;
    std::thread worker([&] {
        digest = sha256OfFile(path);
        QMetaObject::invokeMethod(&loop, [&] {
            done = true;
            loop.quit();
        }, Qt::QueuedConnection);
    });
    while (!done) {
        loop.exec();
        // After an application quit Qt's loops return at once: wait for the next event instead.
        if (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    worker.join();
    return std::move(*digest);
}
