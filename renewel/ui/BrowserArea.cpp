#include "ui/BrowserArea.h"

#include "ui/BrowserView.h"
#include "run/report/FailureLine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPluginLoader>

// The program's own pages, compiled into the library (outside any namespace, which
// Q_INIT_RESOURCE needs).
static void initPages() { Q_INIT_RESOURCE(pages); }

namespace {
const QString PluginName = QStringLiteral("librenewel-browser.so");
const QString UnavailablePage = QStringLiteral(":/renewel/news-unavailable.html");
}  // namespace

BrowserArea::BrowserArea(QWidget* parent) : QWidget(parent), text_(new QLabel(this))
{
    initPages();
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, Qt::black);
    colours.setColor(QPalette::WindowText, Qt::white);
    setPalette(colours);
    text_->setWordWrap(true);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text_->setTextFormat(Qt::PlainText);
    text_->setMargin(8);
    QFont font = text_->font();  // as a page's paragraph would show it
    font.setPixelSize(16);
    text_->setFont(font);
}

BrowserArea::~BrowserArea() = default;

QString BrowserArea::pluginPath()
{
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(PluginName);
    if (QFileInfo::exists(beside))
        return beside;
    return QStringLiteral(IV_BROWSER_PLUGIN_DIR "/") + PluginName;
}

void BrowserArea::showText(const QString& text)
{
    text_->setText(text);
    text_->setVisible(true);
    text_->raise();
}

QString BrowserArea::shownText() const { return text_->isVisible() ? text_->text() : QString(); }

BrowserView* BrowserArea::view()
{
    if (view_ || loadFailed_)
        return view_.get();
    QPluginLoader loader(pluginPath());
    auto* factory = qobject_cast<BrowserFactory*>(loader.instance());
    if (!factory) {
        loadFailed_ = true;
        PrintFailure(QStringLiteral("browser"), loader.errorString());
        showText(QStringLiteral("The news page can't be shown here."));
        return nullptr;
    }
    view_.reset(factory->create(this));
    view_->OnLoadFailed = [this](const QUrl& url) { pageFailed(url); };
    view_->widget()->setGeometry(rect());
    view_->widget()->show();
    text_->setVisible(false);
    return view_.get();
}

void BrowserArea::openPage(const QUrl& url)
{
    if (BrowserView* engine = view())
        engine->setUrl(url);
}

// Offline, the engine would show its own error page with a Reload button; the area says instead
// that the news is unavailable and the update works all the same. A page of its own that failed
// (it never should) is not loaded again.
void BrowserArea::pageFailed(const QUrl& url)
{
    if (url.scheme() == QLatin1String("data"))
        return;
    QFile page(UnavailablePage);
    if (page.open(QIODevice::ReadOnly))
        view_->setContent(page.readAll(), QStringLiteral("text/html;charset=UTF-8"));
}

void BrowserArea::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    text_->setGeometry(rect());
    if (view_)
        view_->widget()->setGeometry(rect());
}
