#pragma once
// The signals that ask a program to stop (SIGINT, SIGTERM, SIGHUP) turned into a Qt signal on
// the thread that made this object, so that work in progress ends as if cancelled (its records
// written, its lock released) rather than dying half way. While an object exists the three are
// caught; afterwards they have their default effect again. One object at a time per process.

#include <QObject>

class QSocketNotifier;

class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    // One of the three arrived (the signal's number); each arrival is reported.
    void received(int signal);

private:
    void drain();

    int readEnd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};
