#pragma once
// What the window needs of an embedded browser: a widget that loads an address, shows an HTML
// text, and says when a page has finished loading. The browser engine implements it in a plugin
// of its own (BrowserPlugin), loaded only when a page is to be shown, so that runs that show none
// never load the engine.

#include <QByteArray>
#include <QObject>
#include <QUrl>
#include <QtPlugin>

#include <functional>

class QWidget;

class BrowserView {
public:
    virtual ~BrowserView() = default;
    virtual QWidget* widget() = 0;
    virtual void setUrl(const QUrl& url) = 0;
    virtual QUrl url() const = 0;
    virtual void setContent(const QByteArray& bytes, const QString& mimeType) = 0;
    // Runs once per page when it has finished loading (whether or not that succeeded).
    std::function<void()> OnLoadFinished;
    // Runs when a page could not be loaded (no answer, no such host, an HTTP error); not when a
    // newer navigation replaced it. The engine shows no error page of its own.
    std::function<void(const QUrl& url)> OnLoadFailed;
};

// The plugin's entry: makes a browser view as a child of parent.
class BrowserFactory {
public:
    virtual ~BrowserFactory() = default;
    virtual BrowserView* create(QWidget* parent) = 0;
};

#define IVBrowserFactory_iid "com.ironvale.renewel.BrowserFactory/1.1"
Q_DECLARE_INTERFACE(BrowserFactory, IVBrowserFactory_iid)
