#include "ui/Unit1.h"

#include "ui_Unit1.h"

#include "ui/BrowserArea.h"
#include "ui/LoadHtmlIntoBrowser.h"

#include "Application.h"
#include "CentreOnScreen.h"
#include "DialogFont.h"
#include "ReportExceptions.h"
#include "run/Arguments.h"
#include "Exception.h"
#include "run/report/FailureLine.h"
#include "ui/ProgressScale.h"
#include "net/HTTPGet.h"
#include "MessageBox.h"
#include "ui/QuietMode.h"
#include "Text.h"
#include "run/report/ProgressLines.h"
#include "SafeText.h"
#include "run/install/UpdateFiles.h"
#include "run/UpdateRun.h"
#include "run/report/UpdateStatus.h"
#include "site/SiteFiles.h"
#include "run/lang/langSys.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTimer>

#include <climits>


TUpdateDlg* UpdateDlg = nullptr;

namespace {
const QByteArray WaitingPage = R"(<body bgcolor="#000000" text="#FFFFFF"><p>Please wait...</p></body>)";
}  // namespace

TUpdateDlg::TUpdateDlg(QWidget* parent, const QString& programFolder)
    : QWidget(parent), ui_(std::make_unique<Ui::TUpdateDlg>()), programFolder_(programFolder)
{
    UpdateDlg = this;
    ui_->setupUi(this);
    Bevel1 = ui_->Bevel1;
    banner = ui_->banner;
    browser = ui_->browser;
    IVTileImage1 = ui_->IVTileImage1;
    IVTileImage2 = ui_->IVTileImage2;
    IVButton1 = ui_->IVButton1;
    IVTileImage3 = ui_->IVTileImage3;
    IVTileImage4 = ui_->IVTileImage4;
    Label1 = ui_->Label1;
    ProgressBar1 = ui_->ProgressBar1;
    ProgressBar2 = ui_->ProgressBar2;
    IVTileImage5 = ui_->IVTileImage5;

    setFont(dialogFont(font()));
    IVButton1->setFont(dialogFont(IVButton1->font()));
    Label1->setFont(dialogFont(Label1->font()));
    Label1->setAutoFillBackground(false);  // transparent: the band behind shows through
    Label1->adjustSize();
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_QuitOnClose);  // the main window: closing it ends the program
    setFixedSize(482, 513);
    ::centreOnScreen(this);

    getFile_ = std::make_unique<THTTPGet>();
    getFile_->AcceptTypes = "*/*";
    getFile_->Agent = "Quillnet HTTPGet";
    getFile_->BinaryData = true;
    getFile_->UseCache = false;
    getFile_->WaitThread = true;
    getFile_->OnProgress = [this](QObject* Sender, qint64 TotalSize, qint64 Readed) {
        GetFileProgress(Sender, TotalSize, Readed);
    };
    getFile_->OnError = [this](QObject* Sender) { GetFileError(Sender); };

    // Runs from the window's creation, before FormCreate: its first tick may come inside
    // FormCreate's browser wait.
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(Timer1); });
    Timer1->start();

    // ApplicationEvents1: the application-wide message hook.
    qApp->installEventFilter(this);

    reportExceptions([this] { FormCreate(this); });
}

TUpdateDlg::~TUpdateDlg()
{
    qApp->removeEventFilter(this);
    FormDestroy(this);
    getFile_.reset();
    if (UpdateDlg == this)
        UpdateDlg = nullptr;
}


void TUpdateDlg::FormCreate(QObject*)
{
    const QStringList arguments = QCoreApplication::arguments();
    if (QuietArgument(arguments) || RepairArgument(arguments))
        QuietMode = true;
    const bool loaded = LoadLanguageFile(LanguageFilePath(programFolder_));
    UpdateOptions options{QuietMode, &LanguageTable(), programFolder_};
    options.Repair = RepairArgument(arguments);
    options.Settings = UpdateSettings::fromTable(LanguageTable());
    run_ = std::make_unique<UpdateRun>(*this, *getFile_, options);
    connect(run_.get(), &UpdateRun::finished, this, [this](const UpdateOutcome& outcome) { Present(outcome); });
    if (ProgressArgument(arguments))
        progress_ = std::make_unique<ProgressLines>(stdout);
    if (!loaded) {
        languageFailed_ = true;
        PrintFailure(InstallationFile::Language, QStringLiteral("the language file could not be read"));
        BoxRequest box;
        box.caption = QStringLiteral("Error");
        box.text = QStringLiteral("Translation file error!");
        box.icon = BoxIcon::Error;
        box.buttons = {QStringLiteral("&Abort")};
        showMessageBox(box);
        TApplication::Terminate();
    }
    setWindowTitle(displayText(Translate("updatetitle")));
    IVButton1->setCaption(displayText(Translate("Update")));
    SetStatus(Translate("status1"));
    // A quiet run shows its panel as plain white text on black and never loads the browser
    // engine; the interactive window shows its pages in the engine.
    if (QuietMode)
        browser->showText(displayText(Translate("panel")));
    else
        LoadHtmlIntoBrowser(browser, WaitingPage);
    if (QuietMode) {
        // Nothing is waited for in quiet mode: the run starts as soon as the window is up,
        // not half a second later.
        if (Timer1->isActive())
            Timer1->start(0);
    }
}

void TUpdateDlg::FormDestroy(QObject*) { run_.reset(); }

void TUpdateDlg::FormActivate(QObject*)
{
    // Enabling a running timer changes nothing; a stopped one starts again.
    if (!Timer1->isActive())
        Timer1->start();
}

void TUpdateDlg::Timer1Timer(QObject* Sender)
{
    if (!QuietMode) {
        browser->openPage(QUrl(displayText(Translate("UpdateIndex"))));
        IVButton1->setVisible(true);
    }
    Timer1->stop();
    if (QuietMode && !quietRunStarted_) {
        // A quiet updater runs once: a later activation (a closed box) must not start another
        // run, neither inside this one nor after it has stopped on an error.
        quietRunStarted_ = true;
        IVButton1Click(Sender);
    }
}

void TUpdateDlg::IVButton1Click() { IVButton1Click(IVButton1); }

void TUpdateDlg::IVButton1Click(QObject*)
{
    if (run_)
        run_->start();  // its end is presented when it comes
}

void TUpdateDlg::Present(const UpdateOutcome& outcome)
{
    if (progress_)
        progress_->finished(outcome);
    showEnd(outcome);
    switch (outcome.show) {
    case UpdateOutcome::ShowNothing: break;
    case UpdateOutcome::ShowDone: showPlainMessage(displayText(Translate("Done"))); break;
    case UpdateOutcome::ShowError: showPlainMessage(ErrorBoxText(LanguageTable(), outcome)); break;
    case UpdateOutcome::ShowReport: TApplication::ShowException(SafeText(outcome.report)); break;
    }
    if (outcome.endProgram)
        TApplication::Terminate();
}

// The window shows how the run ended before any box goes over it: the end text in the status line
// and, when it completed, both bars full (a run that skips every entry moves them little).
void TUpdateDlg::showEnd(const UpdateOutcome& outcome)
{
    if (const QString status = EndStatus(LanguageTable(), outcome); !status.isEmpty())
        ShowStatus(status);
    if (outcome.kind == UpdateOutcome::Completed) {
        for (QProgressBar* bar : {ProgressBar1, ProgressBar2}) {
            bar->setMaximum(std::max(bar->maximum(), 1));
            bar->setValue(bar->maximum());
        }
    }
}

void TUpdateDlg::GetFileProgress(QObject*, qint64 TotalSize, qint64 Readed) { fileProgress(TotalSize, Readed); }

// A failed download is the update run's to judge and report: it knows which file failed and what
// that means for the run.
void TUpdateDlg::GetFileError(QObject*) {}

void TUpdateDlg::fileStarted(const QByteArray& listed, qint64 size)
{
    if (progress_)
        progress_->fileStarted(listed, size);
}

void TUpdateDlg::fileInstalled(const QByteArray& listed)
{
    if (progress_)
        progress_->fileInstalled(listed);
}

void TUpdateDlg::fileDeleted(const QByteArray& listed)
{
    if (progress_)
        progress_->fileDeleted(listed);
}

void TUpdateDlg::runPlanned(qsizetype files, qint64 bytes)
{
    if (progress_)
        progress_->runPlanned(files, bytes);
}

void TUpdateDlg::runProgress(qint64 done, qint64 total)
{
    if (progress_)
        progress_->runProgress(done, total);
}

void TUpdateDlg::fileProgress(qint64 total, qint64 readed)
{
    const ProgressBarRange range = ScaleProgress(total, readed);
    ProgressBar1->setMaximum(range.max);
    ProgressBar1->setValue(range.position);
}

int TUpdateDlg::ExitStatus() const
{
    if (run_ && run_->outcome().kind != UpdateOutcome::NotRun)
        return ::ExitStatus(run_->outcome());
    return languageFailed_ ? 1 : 0;
}

void TUpdateDlg::closeEvent(QCloseEvent* e)
{
    if (run_)
        run_->cancel();
    QWidget::closeEvent(e);
}

void TUpdateDlg::SetStatus(const QByteArray& text) { ShowStatus(displayText(text)); }

void TUpdateDlg::ShowStatus(const QString& text)
{
    // A long path is shown shortened in the middle, within the window; the whole line is its tip.
    const QString line = SafeText(text);
    const int room = std::max(40, width() - Label1->x() - 8);
    Label1->setText(Label1->fontMetrics().elidedText(line, Qt::ElideMiddle, room));
    Label1->setToolTip(line);
    Label1->adjustSize();
}

// "Update list received." only once it has been: a list that could not be fetched or was refused
// ends the run with its reason instead.
void TUpdateDlg::listStageReached(ListStage stage)
{
    if (stage == ListStage::Fetching) {
        SetStatus(FetchingListStatus(LanguageTable()));
        TApplication::ProcessMessages();
    }
}

// The overall bar counts the list's lines, two per entry.
void TUpdateDlg::listRead(qsizetype entries)
{
    if (progress_)
        progress_->listRead(entries);
    SetStatus(CheckingStatus(LanguageTable()));
    ProgressBar2->setValue(0);
    ProgressBar2->setMaximum(int(std::min<qsizetype>(entries * 2, INT_MAX)));
}

void TUpdateDlg::entryReached(qsizetype index, qsizetype count, const QByteArray& listed)
{
    SetStatus(EntryStatus(LanguageTable(), index, count, listed));
    ProgressBar2->setValue(int(std::min<qsizetype>(index * 2, INT_MAX)));
    TApplication::ProcessMessages();
}

// The application-wide message hook (ApplicationEvents1) and the window's activation
// (FormActivate), both seen through one event filter on the application object.
void TUpdateDlg::ApplicationEvents1Message(QObject* target, QEvent* msg, bool& Handled)
{
    const QEvent::Type type = msg->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
        // The page gets no right-button press or double click; the browser widget itself is no
        // descendant of itself, and the release passes.
        auto* widget = qobject_cast<QWidget*>(target);
        if (static_cast<QMouseEvent*>(msg)->button() == Qt::RightButton && widget && widget != browser &&
            browser->isAncestorOf(widget))
            Handled = true;
    }
    if (type == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(msg);
        if (key->key() == Qt::Key_N && (key->modifiers() & Qt::ControlModifier))
            Handled = true;
    }
}

bool TUpdateDlg::eventFilter(QObject* watched, QEvent* e)
{
    activation_.observe(watched, e);
    // Messages handled inside a running download's wait bypass the hook.
    if (getFile_ && getFile_->Running())
        return false;
    bool handled = false;
    ApplicationEvents1Message(watched, e, handled);
    return handled;
}

bool TUpdateDlg::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) {
        if (activation_.activating())
            FormActivate(this);
    }
    return QWidget::event(e);
}
