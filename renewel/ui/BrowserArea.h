#pragma once
// The window's browser area (the control named "browser"): a plain text on black until a page is
// to be shown, then the browser engine, loaded from its plugin on first use. A missing plugin is
// reported in the area itself and once on standard error; the update still works. A page that
// can't be loaded (the news while offline) is replaced by a page of the program's own that says
// so.

#include <QByteArray>
#include <QUrl>
#include <QWidget>

#include <memory>

class QLabel;
class BrowserView;

class BrowserArea : public QWidget {
    Q_OBJECT
public:
    explicit BrowserArea(QWidget* parent = nullptr);
    ~BrowserArea() override;

    // White text on black, drawn without the engine (quiet mode's panel).
    void showText(const QString& text);
    // The engine's view, loaded on first use; null when the plugin can't be loaded.
    BrowserView* view();
    // Opens an address in the engine; does not wait for the page.
    void openPage(const QUrl& url);
    // Whether the engine has been loaded into this area.
    bool engineLoaded() const { return view_ != nullptr; }
    QString shownText() const;

    // Where the plugin is looked for: beside the program, then the folder it was built in.
    static QString pluginPath();

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void pageFailed(const QUrl& url);

    QLabel* text_ = nullptr;
    std::unique_ptr<BrowserView> view_;
    bool loadFailed_ = false;
};
