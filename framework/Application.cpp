#include "Application.h"

#include "ExceptionText.h"
#include "MessageBox.h"

#include <QThread>
#include <QTimer>

namespace {
QString& titleSlot()
{
    static QString title;
    return title;
}
bool terminated = false;
bool mainLoopRunning = false;
}  // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    terminated = false;
    mainLoopRunning = false;
}

TApplication::~TApplication() = default;

TApplication* TApplication::current() { return qobject_cast<TApplication*>(QCoreApplication::instance()); }

QString TApplication::title() { return titleSlot(); }

void TApplication::setTitle(const QString& title)
{
    titleSlot() = title;
    QCoreApplication::setApplicationName(title);
    QGuiApplication::setApplicationDisplayName(title);
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowException(currentExceptionMessage());
        return true;
    }
}

void TApplication::ShowException(const QString& message)
{
    BoxRequest request;
    request.caption = title();
    request.text = errorReportText(message);
    request.icon = BoxIcon::Stop;
    showMessageBox(request);
}

void TApplication::Terminate()
{
    terminated = true;
    if (QCoreApplication::instance())
        QTimer::singleShot(0, QCoreApplication::instance(), &TApplication::deliverQuit);
}

bool TApplication::Terminated() { return terminated; }

int TApplication::Run()
{
    mainLoopRunning = true;
    if (terminated)
        QTimer::singleShot(0, QCoreApplication::instance(), &TApplication::deliverQuit);
    const int code = QCoreApplication::exec();
    mainLoopRunning = false;
    return code;
}

void TApplication::deliverQuit()
{
    // Inside a nested loop (a download's wait, a modal box) quitting now would also end that
    // loop early; keep the request and deliver it once only the main loop is running. Before the
    // main loop has started (a wait during start-up) the quit would be lost: Run delivers it.
    if (!mainLoopRunning)
        return;
    if (QThread::currentThread()->loopLevel() > 1) {
        QTimer::singleShot(10, QCoreApplication::instance(), &TApplication::deliverQuit);
        return;
    }
    QCoreApplication::quit();
}

void TApplication::ProcessMessages() { QCoreApplication::processEvents(); }
