#include "Unit1.h"

#include "ui_Unit1.h"

#include "DialogFolder.h"
#include "DialogFont.h"
#include "Exception.h"
#include "ProgramFolder.h"
#include "TImage.h"
#include "ThumbnailExport.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeySequence>
#include <QMimeData>
#include <QShortcut>
#include <QUrl>
#include <cerrno>

namespace {

// The first local file among dropped data, or an empty string.
QString droppedFile(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return QString();
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            return url.toLocalFile();
    }
    return QString();
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TForm1>()), FDialogs(std::make_unique<FileDialogs>())
{
    ui->setupUi(this);
    setFont(dialogFont());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
                   | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(344, 180);
    setAcceptDrops(true);

    for (TIVButton* button : {ui->IVButton2, ui->IVButton1}) {
        button->setFont(dialogFont());
        button->setFontColor(palette.color(QPalette::WindowText));
    }
    ui->Label1->adjustSize();
    ui->Label2->adjustSize();

    ui->IVButton2->OnClick = [this](QObject* Sender) { IVButton2Click(Sender); };
    ui->IVButton1->OnClick = [this](QObject* Sender) { IVButton1Click(Sender); };
    // The desktop's keys for the two buttons.
    connect(new QShortcut(QKeySequence::Open, this), &QShortcut::activated, this,
            [this] { IVButton2Click(ui->IVButton2); });
    connect(new QShortcut(QKeySequence::Save, this), &QShortcut::activated, this,
            [this] { IVButton1Click(ui->IVButton1); });
}

TForm1::~TForm1() = default;

void TForm1::setDialogs(std::unique_ptr<ThumbDialogs> dialogs) { FDialogs = std::move(dialogs); }

TImage* TForm1::thumbnail() const { return ui->Image1; }

QString TForm1::dialogFolder() const
{
    return dialogStartFolder(isWritableFolder(ProgramFolder()), FLastMap, QDir::homePath());
}

QString TForm1::saveDialogFolder() const
{
    // A thumbnail is saved beside its map.
    return FLastMap.isEmpty() ? dialogFolder() : QFileInfo(FLastMap).absolutePath();
}

void TForm1::IVButton2Click(QObject*)
{
    QString fileName = FOpenFileName;
    if (!FDialogs->openMap(this, qtFilterFromNotation(OpenFilter), dialogFolder(), fileName))
        return;
    FOpenFileName = fileName;
    if (fileName.isEmpty())
        return;
    OpenMap(fileName);
}

void TForm1::OpenMap(const QString& fileName)
{
    // A failed read leaves the record as it was and ends here: no render, no folder change.
    readMapFile(fileName, FMap);
    // Absolute now: the current directory changes below.
    FLastMap = QFileInfo(fileName).absoluteFilePath();

    // The open dialog may have moved the current directory; put it back at the program's folder.
    errno = 0;
    if (!QDir::setCurrent(ProgramFolder()))
        throw EInOutError(ioErrorFromErrno(errno != 0 ? errno : ENOENT));

    PaintMap();
}

void TForm1::IVButton1Click(QObject*)
{
    QString fileName = FSaveFileName;
    if (!FDialogs->saveBitmap(this, qtFilterFromNotation(SaveFilter), saveDialogFolder(), fileName))
        return;
    if (fileName.isEmpty())
        return;
    fileName = withBmpExtension(fileName);
    FSaveFileName = fileName;
    // Before the first render the thumbnail holds nothing and nothing is written.
    ui->Image1->picture().saveToFile(fileName);
}

void TForm1::PaintMap()
{
    TBitmap& bitmap = ui->Image1->canvasBitmap();
    // The thumbnail repaints whether the render completes or stops after the background.
    struct Repaint {
        TImage* image;
        ~Repaint() { image->changed(); }
    } repaint{ui->Image1};
    const MapTextures textures{&ui->Image2->picture(), &ui->Image3->picture(), &ui->Image5->picture(),
                               &ui->Image4->picture()};
    FRenderer.PaintMap(FMap, textures, bitmap.pixels());
}

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (!droppedFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event)
{
    const QString fileName = droppedFile(event->mimeData());
    if (fileName.isEmpty())
        return;
    event->acceptProposedAction();
    OpenMap(QDir::toNativeSeparators(fileName));
}
