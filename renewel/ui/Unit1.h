#pragma once
// TUpdateDlg: the updater's one window. Its controls come from Unit1.ui; this class only wires
// them to the language table, the download component and the update run, and hosts that run
// (UpdateHost). The program's start-up creates it once as UpdateDlg.

#include "ProgramFolder.h"
#include "ui/ActivationTracker.h"
#include "run/report/UpdateHost.h"
#include "run/report/UpdateOutcome.h"

#include <QByteArray>
#include <QStringList>
#include <QWidget>

#include <memory>

class QFrame;
class QLabel;
class QProgressBar;
class QTimer;
class THTTPGet;
class BrowserArea;
class TIVButton;
class TIVTileImage;
class TImage;
class ProgressLines;
class UpdateRun;
namespace Ui {
class TUpdateDlg;
}

class TUpdateDlg : public QWidget, public UpdateHost {
    Q_OBJECT
public:
    // programFolder: the installation the update run works on (the program's own folder).
    explicit TUpdateDlg(QWidget* parent = nullptr, const QString& programFolder = ProgramFolder());
    ~TUpdateDlg() override;

    // The window's controls and components, in declaration order.
    QFrame* Bevel1 = nullptr;
    TImage* banner = nullptr;
    BrowserArea* browser = nullptr;  // the browser engine is loaded only when a page is shown
    TIVTileImage* IVTileImage1 = nullptr;
    TIVTileImage* IVTileImage2 = nullptr;
    TIVButton* IVButton1 = nullptr;
    TIVTileImage* IVTileImage3 = nullptr;
    TIVTileImage* IVTileImage4 = nullptr;
    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    TIVTileImage* IVTileImage5 = nullptr;
    QTimer* Timer1 = nullptr;

    // The update run behind the Update button; it holds UpdateList. Null before FormCreate.
    UpdateRun* Run() const { return run_.get(); }
    // The program's exit status: the run's outcome, 1 when the language file could not be read.
    int ExitStatus() const;

    // Handlers.
    void FormCreate(QObject* Sender);
    // Application-wide message hook: sets Handled to stop a message before it is delivered.
    void ApplicationEvents1Message(QObject* target, QEvent* msg, bool& Handled);
    void GetFileProgress(QObject* Sender, qint64 TotalSize, qint64 Readed);
    void GetFileError(QObject* Sender);
    void FormDestroy(QObject* Sender);
    void FormActivate(QObject* Sender);
    void Timer1Timer(QObject* Sender);

    // The Update button's click: the update run.
    void IVButton1Click(QObject* Sender);

public slots:
    // The click as the window definition connects it.
    void IVButton1Click();

    // UpdateHost: what the update run reports while it works.
public:
    void listStageReached(ListStage stage) override;
    void listRead(qsizetype entries) override;
    void entryReached(qsizetype index, qsizetype count, const QByteArray& listed) override;
    void fileProgress(qint64 total, qint64 readed) override;
    void fileStarted(const QByteArray& listed, qint64 size) override;
    void runPlanned(qsizetype files, qint64 bytes) override;
    void runProgress(qint64 done, qint64 total) override;
    void fileInstalled(const QByteArray& listed) override;
    void fileDeleted(const QByteArray& listed) override;

    // The status line (Label1), shortened in the middle to fit the window: a text of the
    // language file, or one already decoded.
    void SetStatus(const QByteArray& text);
    void ShowStatus(const QString& text);
    // Shows how a run ended (the "Done" or "Error" box, or the general error report) and asks
    // the application to end when the outcome says so.
    void Present(const UpdateOutcome& outcome);

    // The download component.
    THTTPGet& GetFile() { return *getFile_; }

protected:
    bool event(QEvent* e) override;
    // Closing the window during a run cancels the run.
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void showEnd(const UpdateOutcome& outcome);

    std::unique_ptr<Ui::TUpdateDlg> ui_;
    std::unique_ptr<THTTPGet> getFile_;
    std::unique_ptr<UpdateRun> run_;
    std::unique_ptr<ProgressLines> progress_;  // "--progress": lines for a launcher
    QString programFolder_;
    ActivationTracker activation_{this};
    bool quietRunStarted_ = false;
    bool languageFailed_ = false;
};

// The process-wide reference to the window, set before FormCreate runs.
extern TUpdateDlg* UpdateDlg;
