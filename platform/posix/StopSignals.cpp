#include "platform/StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int Caught[] = {SIGINT, SIGTERM, SIGHUP};

// The pipe's write end for the handler; the handler does nothing but write the signal's number
// there (async-signal-safe), the notifier reads it on the owner's thread.
volatile sig_atomic_t writeEnd = -1;

extern "C" void onStopSignal(int signal)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    // A full pipe drops the number: a stop is pending already.
    if (writeEnd >= 0 && ::write(writeEnd, &number, 1) < 0) {
    }
    errno = saved;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : Caught)
        ::sigaction(signal, &action, nullptr);
}
}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;  // the signals keep their default effect
    readEnd_ = ends[0];
    writeEnd = ends[1];
    notifier_ = new QSocketNotifier(readEnd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { drain(); });
    setHandler(onStopSignal);
}

StopSignals::~StopSignals()
{
    if (readEnd_ < 0)
        return;
    setHandler(SIG_DFL);
    const int write = writeEnd;
    writeEnd = -1;
    ::close(write);
    ::close(readEnd_);
}

void StopSignals::drain()
{
    unsigned char numbers[64];
    for (;;) {
        const ssize_t got = ::read(readEnd_, numbers, sizeof numbers);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
        for (ssize_t i = 0; i < got; ++i)
            emit received(numbers[i]);
    }
}
