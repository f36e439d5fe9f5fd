#include "ui/LoadHtmlIntoBrowser.h"

#include "ui/BrowserArea.h"
#include "ui/BrowserView.h"
#include "ui/HtmlLines.h"

#include <QEventLoop>
#include <QStringDecoder>
#include <QTimer>

namespace {
// How long the browser may take to show a page before the caller goes on regardless.
constexpr int LoadWaitMs = 5000;
}  // namespace

void LoadHtmlIntoBrowser(BrowserArea* browser, const QByteArray& Html)
{
    BrowserView* view = browser->view();
    if (!view)
        return;  // no engine: nothing is shown, as when the browser has no document
    const QByteArray bytes = HtmlCrLfLines(Html);
    // The texts are single-byte; they are UTF-8 when valid as such, else Windows-1252, the same
    // rule as every other text on screen.
    QStringDecoder utf8(QStringDecoder::Utf8);
    (void)utf8.decode(bytes);
    const QString mimeType = utf8.hasError() ? QStringLiteral("text/html;charset=windows-1252")
                                             : QStringLiteral("text/html;charset=UTF-8");

    // A bounded wait: the page normally loads within milliseconds; a browser that never
    // finishes must not hold the window forever.
    QEventLoop wait;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &wait, &QEventLoop::quit);
    view->OnLoadFinished = [&wait] { wait.quit(); };
    view->setContent(bytes, mimeType);
    limit.start(LoadWaitMs);
    wait.exec();
    view->OnLoadFinished = nullptr;
}
