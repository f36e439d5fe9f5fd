// The browser engine's side of the browser area: a Qt WebEngine view behind BrowserView, built
// as a plugin so that only runs that show a page load the engine.

#include "ui/BrowserView.h"

#include <QWebEngineLoadingInfo>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

// Chromium's code for a navigation that a newer one replaced.
constexpr int AbortedNavigation = -3;

class WebEngineView : public BrowserView {
public:
    explicit WebEngineView(QWidget* parent) : view_(new QWebEngineView(parent))
    {
        QObject::connect(view_, &QWebEngineView::loadFinished, view_, [this](bool) {
            if (OnLoadFinished)
                OnLoadFinished();
        });
        // The area shows a page of its own when one can't be loaded, not the engine's.
        view_->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
        QObject::connect(view_->page(), &QWebEnginePage::loadingChanged, view_,
                         [this](const QWebEngineLoadingInfo& info) { loadingChanged(info); });
    }
    QWidget* widget() override { return view_; }
    void setUrl(const QUrl& url) override { view_->setUrl(url); }
    QUrl url() const override { return view_->url(); }
    void setContent(const QByteArray& bytes, const QString& mimeType) override { view_->setContent(bytes, mimeType); }

private:
    void loadingChanged(const QWebEngineLoadingInfo& info)
    {
        const bool failed = info.status() == QWebEngineLoadingInfo::LoadFailedStatus;
        if (failed && info.errorCode() != AbortedNavigation && OnLoadFailed)
            OnLoadFailed(info.url());
    }

    QWebEngineView* view_;  // owned by its parent widget
};
}  // namespace

class WebEngineBrowserFactory : public QObject, public BrowserFactory {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID IVBrowserFactory_iid)
    Q_INTERFACES(BrowserFactory)
public:
    BrowserView* create(QWidget* parent) override { return new WebEngineView(parent); }
};

#include "WebEngineBrowser.moc"
