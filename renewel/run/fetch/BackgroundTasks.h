#pragma once
// Long work (chunking a file, building one) on threads of its own; each result is handed to its
// continuation on the owner's (main) thread once the work has ended. Destroying the tasks waits
// for the work still running, and no continuation runs afterwards.
//
//   tasks.run<int>([] { return slowSum(); }, [this](int sum) { use(sum); });

#include <QObject>
#include <QThreadPool>

#include <functional>
#include <memory>

class BackgroundTasks {
public:
    BackgroundTasks();
    ~BackgroundTasks();
    BackgroundTasks(const BackgroundTasks&) = delete;
    BackgroundTasks& operator=(const BackgroundTasks&) = delete;

    template <class T>
    void run(std::function<T()> work, std::function<void(T)> then)
    {
        QObject* receiver = receiver_.get();
        pool_.start([receiver, work = std::move(work), then = std::move(then)]() mutable {
            auto result = std::make_shared<T>(work());
            QMetaObject::invokeMethod(
                receiver, [then = std::move(then), result] { then(std::move(*result)); }, Qt::QueuedConnection);
        });
    }

private:
    QThreadPool pool_;
    std::unique_ptr<QObject> receiver_;
};
