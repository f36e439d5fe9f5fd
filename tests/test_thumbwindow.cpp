// The thumbnail maker's window on Qt's offscreen platform: its layout, the open and save buttons
// clicked with the mouse, the error reports, the saved bitmap, the start-up path and dropping.

#include "Application.h"
#include "Exception.h"
#include "IVButton.h"
#include "IVTileImage.h"
#include "MessageBox.h"
#include "PaintMap.h"
#include "DialogFolder.h"
#include "ProgramFolder.h"
#include "ReportExceptions.h"
#include "TImage.h"
#include "TempDir.h"
#include "ThumbnailExport.h"
#include "Unit1.h"
#include "Unit1Main.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QIcon>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QtEndian>

#include <deque>
#include <optional>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Dialog answers given in advance: a name, or nullopt for Cancel. Records what was proposed.
struct ScriptedDialogs : ThumbDialogs {
    std::deque<std::optional<QString>> openAnswers;
    std::deque<std::optional<QString>> saveAnswers;
    QStringList openFilters, saveFilters, saveProposals, folders;

    bool openMap(QWidget*, const QString& filter, const QString& folder, QString& fileName) override
    {
        openFilters << filter;
        folders << folder;
        return answer(openAnswers, fileName);
    }
    bool saveBitmap(QWidget*, const QString& filter, const QString& folder, QString& fileName) override
    {
        saveFilters << filter;
        folders << folder;
        saveProposals << fileName;
        return answer(saveAnswers, fileName);
    }
    static bool answer(std::deque<std::optional<QString>>& answers, QString& fileName)
    {
        if (answers.empty())
            throw std::logic_error("unexpected dialog");
        const std::optional<QString> next = answers.front();
        answers.pop_front();
        if (!next)
            return false;
        fileName = *next;
        return true;
    }
};

QByteArray mapBytes(int width, int height, quint8 code = 0)
{
    MapRecord record;
    record.setMapWidth(width);
    record.setMapHeight(height);
    for (int x = 1; x <= qMin(width, 100); ++x)
        for (int y = 1; y <= qMin(height, 100); ++y)
            record.setTerrain(x, y, code ? code : quint8(2 << ((x + y) % 3)));
    return QByteArray(reinterpret_cast<const char*>(record.bytes().data()), MapRecord::Size);
}

// What the renderer makes of a map with the window's textures; rendering errors are ignored.
QImage expectedThumbnail(const QByteArray& bytes)
{
    MapRecord record;
    std::copy(bytes.begin(), bytes.begin() + MapRecord::Size, record.bytes().begin());
    const TPicture grass = TPicture::fromJpegFile(":/assets/grass.jpg");
    const TPicture water = TPicture::fromJpegFile(":/assets/water.jpg");
    const TPicture wood = TPicture::fromJpegFile(":/assets/wood.jpg");
    const TPicture stone = TPicture::fromJpegFile(":/assets/stone.jpg");
    QImage image;
    MapRenderer renderer;
    try {
        renderer.PaintMap(record, MapTextures{&grass, &water, &wood, &stone}, image);
    } catch (const Exception&) {
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

class ThumbWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        startDir = QDir::currentPath();
        setMessageBoxHandler([this](const BoxRequest& box) {
            boxes.push_back(box);
            return 0;
        });
        form = createForm1({});
        auto owned = std::make_unique<ScriptedDialogs>();
        dialogs = owned.get();
        form->setDialogs(std::move(owned));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void TearDown() override
    {
        form.reset();
        setMessageBoxHandler(nullptr);
        QDir::setCurrent(startDir);
    }

    template <typename T> T* control(const char* name) const
    {
        T* found = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void clickMake(std::optional<QString> answer)
    {
        dialogs->openAnswers.push_back(answer);
        QTest::mouseClick(control<TIVButton>("IVButton2"), Qt::LeftButton, {}, QPoint(80, 17));
    }
    void clickSave(std::optional<QString> answer)
    {
        dialogs->saveAnswers.push_back(answer);
        QTest::mouseClick(control<TIVButton>("IVButton1"), Qt::LeftButton, {}, QPoint(80, 17));
    }
    QImage shown() const
    {
        TBitmap* bitmap = form->thumbnail()->bitmap();
        return bitmap ? bitmap->image().convertToFormat(QImage::Format_RGB32) : QImage();
    }
    QStringList boxTexts() const
    {
        QStringList texts;
        for (const BoxRequest& box : boxes)
            texts << box.text;
        return texts;
    }

    TempDir dir;
    QString startDir;
    std::unique_ptr<TForm1> form;
    ScriptedDialogs* dialogs = nullptr;
    std::vector<BoxRequest> boxes;
};

TEST(TImageControl, ShowsACopyAtNaturalSizeAndDrawsNothingWhenEmpty)
{
    QWidget parent;
    parent.resize(60, 60);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::magenta);
    parent.setPalette(palette);
    parent.setAutoFillBackground(true);
    TImage image(&parent);
    image.setGeometry(5, 5, 50, 50);
    EXPECT_EQ(parent.grab().toImage().pixelColor(10, 10), QColor(Qt::magenta));  // empty: see-through

    TPicture grass = TPicture::fromJpegFile(":/assets/grass.jpg");
    image.setPicture(grass);
    grass = TPicture();  // the control keeps its own copy
    ASSERT_EQ(image.picture().width(), 128);
    const QImage expected = image.picture().graphic()->image().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(image.grab().toImage().convertToFormat(QImage::Format_RGB32), expected.copy(0, 0, 50, 50));

    image.setPictureName(":/assets/stone.jpg");
    EXPECT_EQ(QSize(image.picture().width(), image.picture().height()), QSize(199, 147));
    EXPECT_EQ(image.bitmap(), nullptr);  // a JPEG is not a bitmap
    image.setPictureName(QString());
    EXPECT_TRUE(image.picture().isEmpty());

    // The drawable bitmap is made once, at the control's size.
    TBitmap& bitmap = image.canvasBitmap();
    EXPECT_EQ(bitmap.image().size(), QSize(50, 50));
    EXPECT_EQ(&image.canvasBitmap(), &bitmap);
    EXPECT_EQ(image.bitmap(), &bitmap);
}

TEST(ThumbFilters, NotationBecomesQtFilter)
{
    const struct {
        QString notation, expected;
    } cases[] = {
        {"Ironvale 2 Map Files|*.ivm", "Ironvale 2 Map Files (*.ivm)"},
        {"Bitmaps (*.bmp)|*.bmp", "Bitmaps (*.bmp)"},
        {"Pictures|*.bmp;*.jpg|All|*.*", "Pictures (*.bmp *.jpg);;All (*.*)"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qtFilterFromNotation(c.notation), c.expected) << c.notation.toStdString();
}

TEST(ThumbFileName, BmpAppendedUnlessFourthFromEndIsDot)
{
    const struct {
        QString chosen, saved;
    } cases[] = {
        {"/maps/plan", "/maps/plan.bmp"},
        {"/maps/plan.jpg", "/maps/plan.jpg"},
        {"/maps/plan.jpeg", "/maps/plan.jpeg.bmp"},
        {"/maps/plan.bmp", "/maps/plan.bmp"},
        {"/maps/plan.bm", "/maps/plan.bm.bmp"},
        {"a", "a.bmp"},  // shorter than four characters: no dot where the rule looks
        {".bmp", ".bmp"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(withBmpExtension(c.chosen), c.saved) << c.chosen.toStdString();
}

TEST_F(ThumbWindow, WindowMatchesItsDefinition)
{
    EXPECT_EQ(form->objectName(), "Form1");
    EXPECT_EQ(form->windowTitle(), "Map Thumbnail Maker");
    EXPECT_EQ(TApplication::title(), "Mapsmith");
    EXPECT_EQ(form->size(), QSize(344, 180));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(form->acceptDrops());

    // Creation order is stacking order, bottom to top.
    const struct {
        const char* name;
        QRect bounds;
        bool visible;
    } controls[] = {
        {"IVTileImage1", {0, 0, 344, 180}, true},  {"IVButton2", {8, 11, 161, 35}, true},
        {"IVButton1", {8, 51, 161, 35}, true},     {"IVTileImage2", {176, 11, 160, 160}, true},
        {"Label1", {8, 144, -1, -1}, true},        {"Label2", {8, 160, -1, -1}, true},
        {"Image1", {176, 11, 160, 160}, true},     {"Image2", {144, 88, 25, 25}, false},
        {"Image3", {112, 88, 25, 25}, false},      {"Image4", {80, 88, 25, 25}, false},
        {"Image5", {48, 88, 25, 25}, false},
    };
    const QObjectList children = form->children();
    int previous = -1;
    for (const auto& c : controls) {
        auto* w = control<QWidget>(c.name);
        ASSERT_NE(w, nullptr);
        const int index = int(children.indexOf(w));
        EXPECT_GT(index, previous) << c.name;
        previous = index;
        if (c.bounds.width() > 0)
            EXPECT_EQ(w->geometry(), c.bounds) << c.name;
        else
            EXPECT_EQ(w->pos(), c.bounds.topLeft()) << c.name;
        EXPECT_EQ(w->isVisible(), c.visible) << c.name;
    }

    EXPECT_EQ(control<TIVButton>("IVButton2")->caption(), "Make Thumbnail from map");
    EXPECT_EQ(control<TIVButton>("IVButton1")->caption(), "Save thumbnail");
    EXPECT_EQ(control<TIVButton>("IVButton1")->font().pixelSize(), 11);
    EXPECT_EQ(control<TIVTileImage>("IVTileImage1")->graphic().width(), 256);
    EXPECT_FALSE(control<TIVTileImage>("IVTileImage1")->border());
    EXPECT_EQ(control<TIVTileImage>("IVTileImage2")->graphic().height(), 21);
    for (const char* name : {"Label1", "Label2"}) {
        auto* label = control<QLabel>(name);
        EXPECT_FALSE(label->autoFillBackground());
        EXPECT_EQ(label->font().pixelSize(), 11);
        EXPECT_EQ(label->size(), label->sizeHint()) << name;  // sized to its text
    }
    EXPECT_EQ(control<QLabel>("Label1")->text(), "Part of Ironvale 3D");
    EXPECT_EQ(control<QLabel>("Label2")->text(), "Developers edition");

    const struct {
        const char* name;
        QSize picture;
    } textures[] = {{"Image2", {128, 128}}, {"Image3", {128, 128}}, {"Image4", {199, 147}}, {"Image5", {300, 300}}};
    for (const auto& t : textures) {
        const TPicture& p = control<TImage>(t.name)->picture();
        EXPECT_EQ(QSize(p.width(), p.height()), t.picture) << t.name;
    }
    EXPECT_TRUE(form->thumbnail()->picture().isEmpty());
}

TEST_F(ThumbWindow, EmptyThumbnailLetsTheStripShowThrough)
{
    const QImage before = form->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QImage strip = TPicture::fromJpegFile(":/assets/strip.jpg").graphic()->image().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(before.copy(176, 11, 160, 21), strip.copy(0, 0, 160, 21));
    EXPECT_EQ(before.copy(176, 32, 160, 21), strip.copy(0, 0, 160, 21));
}

TEST_F(ThumbWindow, OpenAndRenderFollowTheStateTable)
{
    const QByteArray first = mapBytes(10, 10);
    const QByteArray second = mapBytes(7, 100);
    const QString firstPath = dir.write("first.ivm", first);
    const QString secondPath = dir.write("second.ivm", second);
    const QString shortPath = dir.write("short.ivm", first.left(MapRecord::Size - 1));
    const QString zeroPath = dir.write("zero.ivm", mapBytes(0, 12, 4));
    const QString pipePath = dir.filePath("pipe.ivm");
    ASSERT_EQ(mkfifo(QFile::encodeName(pipePath).constData(), 0600), 0);

    // Cancel and an empty name change nothing and show nothing.
    clickMake(std::nullopt);
    clickMake(QString());
    EXPECT_EQ(form->thumbnail()->bitmap(), nullptr);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(dialogs->openFilters.value(0), "Ironvale 2 Map Files (*.ivm)");

    clickMake(firstPath);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(shown(), expectedThumbnail(first));
    EXPECT_EQ(form->mapRecord().MapWidth(), 10);

    // A failed read keeps the thumbnail and the record; its message gets the full stop.
    const struct {
        QString path, message;
    } failures[] = {
        {dir.filePath("missing.ivm"), "File not found."},
        {shortPath, "Read beyond end of file."},
        {dir.filePath("no/such/folder/map.ivm"), "Invalid filename."},
        {pipePath, "Not a regular file."},  // at once, without waiting for a writer
    };
    for (const auto& f : failures) {
        boxes.clear();
        clickMake(f.path);
        ASSERT_EQ(boxes.size(), 1u) << f.path.toStdString();
        EXPECT_EQ(boxes[0].text, f.message);
        EXPECT_EQ(boxes[0].caption, "Mapsmith");
        EXPECT_EQ(boxes[0].icon, BoxIcon::Stop);
        EXPECT_EQ(shown(), expectedThumbnail(first));
        EXPECT_EQ(form->mapRecord().MapWidth(), 10);
    }

    // A second map replaces the first completely.
    boxes.clear();
    clickMake(secondPath);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(shown(), expectedThumbnail(second));

    // A zero dimension still renders: the bare background, and the error is reported.
    clickMake(zeroPath);
    EXPECT_EQ(boxTexts(), QStringList{"Division by zero."});
    EXPECT_EQ(shown(), expectedThumbnail(mapBytes(0, 12, 4)));
    EXPECT_EQ(shown(), expectedThumbnail(mapBytes(0, 0)));  // nothing but grass
}

TEST_F(ThumbWindow, SuccessfulOpenMakesProgramFolderCurrentFailedOpenDoesNot)
{
    const QString mapPath = dir.write("m.ivm", mapBytes(5, 5));
    QDir::setCurrent(dir.path());  // where the dialog might have left it
    clickMake(dir.filePath("missing.ivm"));
    EXPECT_EQ(QDir::current().canonicalPath(), QDir(dir.path()).canonicalPath());
    clickMake(mapPath);
    EXPECT_EQ(QDir::current().canonicalPath(), QDir(ProgramFolder()).canonicalPath());
}

TEST_F(ThumbWindow, SaveBeforeAnyRenderWritesNothingButAppliesTheNameRule)
{
    clickSave(dir.filePath("plan"));
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    EXPECT_EQ(form->saveDialogFileName(), dir.filePath("plan.bmp"));
    EXPECT_EQ(dialogs->saveFilters.value(0), "Bitmaps (*.bmp)");
}

TEST_F(ThumbWindow, SavedNamesFollowTheExtensionRuleAndAreProposedNextTime)
{
    clickMake(dir.write("m.ivm", mapBytes(20, 20)));
    const struct {
        QString chosen, written;
    } cases[] = {{"plan", "plan.bmp"}, {"plan.jpg", "plan.jpg"}, {"plan.jpeg", "plan.jpeg.bmp"}};
    QString proposal;
    for (const auto& c : cases) {
        clickSave(dir.filePath(c.chosen));
        EXPECT_EQ(dialogs->saveProposals.last(), proposal);
        proposal = dir.filePath(c.written);
        EXPECT_EQ(form->saveDialogFileName(), proposal);
        EXPECT_EQ(dir.read(c.written).left(2), "BM") << c.written.toStdString();
    }
    EXPECT_FALSE(dir.exists("plan.jpeg"));
    clickSave(std::nullopt);  // cancel keeps the proposal
    clickSave(QString());
    EXPECT_EQ(dialogs->saveProposals.last(), proposal);
    EXPECT_EQ(form->saveDialogFileName(), proposal);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ThumbWindow, CtrlOAndCtrlSDoWhatTheButtonsDo)
{
    const QByteArray map = mapBytes(9, 7);
    dialogs->openAnswers.push_back(dir.write("keys.ivm", map));
    QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(shown(), expectedThumbnail(map));
    dialogs->saveAnswers.push_back(dir.filePath("keys"));
    QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(QImage(dir.filePath("keys.bmp")).convertToFormat(QImage::Format_RGB32), shown());
    // The program's folder (the build's) can be written: the open dialog starts where it always
    // did, the save dialog beside the map.
    EXPECT_EQ(dialogs->folders, QStringList({QString(), dir.path()}));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ThumbWindow, CarriesTheDesktopEntrysIconAndClass)
{
    EXPECT_EQ(QCoreApplication::applicationName(), "ironvale-thumb");  // X11 window class
    EXPECT_EQ(QGuiApplication::desktopFileName(), "ironvale-thumb");   // Wayland app id
    EXPECT_EQ(TApplication::title(), "Mapsmith");                      // error boxes
    const QIcon icon = form->windowIcon();
    EXPECT_EQ(icon.availableSizes().size(), 6);
    EXPECT_EQ(icon.pixmap(QSize(48, 48)).size(), QSize(48, 48));
}

TEST_F(ThumbWindow, SavedFileIsA24BitBmpOfTheThumbnailAndSavingAgainReplacesIt)
{
    const QString target = dir.filePath("thumb.bmp");
    for (const QByteArray& map : {mapBytes(100, 100), mapBytes(3, 4)}) {
        clickMake(dir.write("m.ivm", map));
        clickSave(target);
        const QByteArray bmp = dir.read("thumb.bmp");
        ASSERT_GE(bmp.size(), 54);
        EXPECT_EQ(bmp.left(2), "BM");
        EXPECT_EQ(qFromLittleEndian<quint32>(bmp.constData() + 14), 40u);  // information header
        EXPECT_EQ(qFromLittleEndian<qint32>(bmp.constData() + 18), 160);
        EXPECT_EQ(qFromLittleEndian<qint32>(bmp.constData() + 22), 160);
        EXPECT_EQ(qFromLittleEndian<quint16>(bmp.constData() + 28), 24);
        EXPECT_EQ(QImage(target).convertToFormat(QImage::Format_RGB32), shown());
        EXPECT_EQ(shown(), expectedThumbnail(map));
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ThumbWindow, BackgroundOnlyRenderIsWhatSaveWrites)
{
    clickMake(dir.write("zero.ivm", mapBytes(9, 0, 8)));
    clickSave(dir.filePath("zero.bmp"));
    EXPECT_EQ(boxTexts(), QStringList{"Division by zero."});
    EXPECT_EQ(QImage(dir.filePath("zero.bmp")).convertToFormat(QImage::Format_RGB32), expectedThumbnail(mapBytes(0, 0)));
}

TEST_F(ThumbWindow, FileThatCannotBeCreatedIsReportedWithItsFullName)
{
    clickMake(dir.write("m.ivm", mapBytes(8, 8)));
    const QString target = dir.filePath("missing-folder/plan.bmp");
    clickSave(target);
    EXPECT_EQ(boxTexts(), QStringList{"Cannot create file " + target + ": No such file or directory."});
    EXPECT_FALSE(dir.exists("missing-folder"));
}

TEST_F(ThumbWindow, DroppedMapIsRenderedAndItsErrorsReported)
{
    const QByteArray map = mapBytes(12, 6);
    const QString path = dir.write("dropped.ivm", map);
    auto drop = [this](const QString& file) {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(form.get(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropEvent(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(form.get(), &dropEvent);
    };
    drop(path);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(shown(), expectedThumbnail(map));
    drop(dir.filePath("gone.ivm"));
    EXPECT_EQ(boxTexts(), QStringList{"File not found."});
    EXPECT_EQ(shown(), expectedThumbnail(map));

    QMimeData text;
    text.setText("not a file");
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(form.get(), &enter);
    EXPECT_FALSE(enter.isAccepted());
}

TEST_F(ThumbWindow, WindowShowsTheThumbnailOverTheStrip)
{
    const QString grabs = QStringLiteral(IV_BINARY_DIR "/thumbwindow");
    QDir().mkpath(grabs);
    ASSERT_TRUE(form->grab().save(grabs + "/before.png"));
    const QString sample = QStringLiteral(IV_SOURCE_DIR "/samples/maps/village.ivm");
    ASSERT_TRUE(QFile::exists(sample));
    clickMake(sample);
    EXPECT_TRUE(boxes.empty());
    const QImage after = form->grab().toImage();
    ASSERT_TRUE(after.save(grabs + "/after.png"));
    EXPECT_EQ(after.copy(176, 11, 160, 160).convertToFormat(QImage::Format_RGB32), shown());
}

TEST(ThumbStartUp, OneMapArgumentOpensTheWindowOtherArgumentsAreTheCommandLine)
{
    const struct {
        QStringList args;
        QString map;
    } cases[] = {
        {{"thumb", "plan.ivm"}, "plan.ivm"},
        {{"thumb", "-platform", "offscreen", "plan.ivm"}, "plan.ivm"},
        {{"thumb", "plan.ivm", "-platform", "offscreen"}, "plan.ivm"},
        {{"thumb"}, ""},
        {{"thumb", "-platform", "offscreen"}, ""},
        {{"thumb", "-o", "out.bmp", "plan.ivm"}, ""},
        {{"thumb", "a.ivm", "b.ivm"}, ""},
        {{"thumb", "--help"}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(windowMapArgument(c.args), c.map) << c.args.join(' ').toStdString();
}

// The map named on the command line is opened at start-up, its errors reported like a click's.
TEST(ThumbStartUp, MapArgumentIsRenderedOrReported)
{
    TempDir dir;
    std::vector<BoxRequest> boxes;
    setMessageBoxHandler([&](const BoxRequest& box) {
        boxes.push_back(box);
        return 0;
    });
    const QByteArray map = mapBytes(30, 15);
    {
        auto form = createForm1({dir.write("start.ivm", map)});
        EXPECT_TRUE(form->isVisible());
        EXPECT_TRUE(boxes.empty());
        ASSERT_NE(form->thumbnail()->bitmap(), nullptr);
        EXPECT_EQ(form->thumbnail()->bitmap()->image().convertToFormat(QImage::Format_RGB32), expectedThumbnail(map));
    }
    {
        auto form = createForm1({dir.filePath("absent.ivm")});
        EXPECT_TRUE(form->isVisible());
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "File not found.");
        EXPECT_EQ(boxes[0].caption, "Mapsmith");
        EXPECT_EQ(form->thumbnail()->bitmap(), nullptr);
    }
    setMessageBoxHandler(nullptr);
}

// The save dialog starts in the folder of the map shown, however the map was named (a relative
// name at start-up means the folder current then, not the program's folder made current after the
// read); before any map, where the open dialog starts.
TEST(ThumbStartUp, SaveDialogStartsInTheFolderOfTheMapShown)
{
    TempDir dir;
    const QString startDir = QDir::currentPath();
    std::vector<BoxRequest> boxes;
    setMessageBoxHandler([&](const BoxRequest& box) {
        boxes.push_back(box);
        return 0;
    });
    dir.write("maps/start.ivm", mapBytes(20, 20));
    dir.write("other/second.ivm", mapBytes(5, 5));
    ASSERT_TRUE(QDir::setCurrent(dir.filePath("maps")));
    const std::unique_ptr<TForm1> blank = createForm1({});
    const std::unique_ptr<TForm1> form = createForm1({"start.ivm"});
    auto dialogsOf = [](TForm1& window) {
        auto owned = std::make_unique<ScriptedDialogs>();
        ScriptedDialogs* dialogs = owned.get();
        window.setDialogs(std::move(owned));
        return dialogs;
    };
    ScriptedDialogs* blankDialogs = dialogsOf(*blank);
    ScriptedDialogs* dialogs = dialogsOf(*form);
    const struct {
        QString open;  // a map opened through the dialog first, or none
        QString folder;
    } steps[] = {
        {QString(), dir.filePath("maps")},
        {dir.filePath("other/second.ivm"), dir.filePath("other")},
        {dir.filePath("other/absent.ivm"), dir.filePath("other")},  // a failed open keeps the map shown
    };
    for (const auto& step : steps) {
        if (!step.open.isEmpty()) {
            dialogs->openAnswers.push_back(step.open);
            reportExceptions([&] { form->IVButton2Click(nullptr); });  // as a click's errors are
        }
        dialogs->saveAnswers.push_back(std::nullopt);
        form->IVButton1Click(nullptr);
        EXPECT_EQ(dialogs->folders.last(), step.folder) << qPrintable(step.open);
    }
    blankDialogs->saveAnswers.push_back(std::nullopt);
    blank->IVButton1Click(nullptr);
    EXPECT_EQ(blankDialogs->folders, QStringList{blank->dialogFolder()});
    setMessageBoxHandler(nullptr);
    QDir::setCurrent(startDir);
    EXPECT_EQ(boxes.size(), 1u);  // absent.ivm's "File not found."
}

// The real file dialogs: a typed name that does not exist is returned by the open dialog, and
// the save dialog proposes the stored name and carries a preview pane.
TEST(ThumbDialogsReal, OpenReturnsTypedNameSaveProposesStoredName)
{
    TempDir dir;
    FileDialogs dialogs;
    QString seenProposal;
    bool hasPreview = false;
    auto answer = [&](const QString& typed) {
        QTimer::singleShot(0, [&, typed] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
            seenProposal = dialog->selectedFiles().value(0);
            hasPreview = dialog->findChild<QLabel*>("preview") != nullptr;
            dialog->selectFile(typed);
            QMetaObject::invokeMethod(dialog, "accept");
        });
    };
    QString name;
    answer(dir.filePath("typed.ivm"));
    ASSERT_TRUE(dialogs.openMap(nullptr, qtFilterFromNotation(TForm1::OpenFilter), QString(), name));
    EXPECT_EQ(name, QDir::toNativeSeparators(dir.filePath("typed.ivm")));

    name = dir.filePath("proposed.bmp");
    answer(dir.filePath("chosen.bmp"));
    ASSERT_TRUE(dialogs.saveBitmap(nullptr, qtFilterFromNotation(TForm1::SaveFilter), QString(), name));
    EXPECT_EQ(seenProposal, dir.filePath("proposed.bmp"));
    EXPECT_TRUE(hasPreview);
    EXPECT_EQ(name, QDir::toNativeSeparators(dir.filePath("chosen.bmp")));
}

}  // namespace

// A user who may not write to the program's folder (as in an installation): the save dialog
// starts in the folder of the map just opened, and a name typed there is saved there. Runs this
// test program again as user "nobody", with the real file dialog; needs root to do so.
TEST(ThumbWindowAsUser, SaveDialogStartsAtTheMapsFolderWhenTheProgramFolderIsNotWritable)
{
    if (qEnvironmentVariableIsSet("IV_THUMB_AS_USER")) {
        const QString maps = qEnvironmentVariable("HOME") + "/maps";
        ASSERT_FALSE(isWritableFolder(ProgramFolder()));
        std::vector<BoxRequest> boxes;
        setMessageBoxHandler([&](const BoxRequest& box) { boxes.push_back(box); return 0; });
        const std::unique_ptr<TForm1> form = createForm1({maps + "/map.ivm"});
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        QString started;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            started = dialog->directory().absolutePath();
            dialog->selectFile("saved");  // typed without a folder
            QMetaObject::invokeMethod(dialog, "accept");
        });
        QTest::keyClick(form.get(), Qt::Key_S, Qt::ControlModifier);
        setMessageBoxHandler(nullptr);
        EXPECT_EQ(started, maps);
        EXPECT_TRUE(QFile::exists(maps + "/saved.bmp"));
        EXPECT_TRUE(boxes.empty()) << qPrintable(boxes.empty() ? QString() : boxes[0].text);
        return;
    }
    if (geteuid() != 0)
        GTEST_SKIP() << "running the window as another user needs root";
    const uid_t nobody = 65534;
    QTemporaryDir home;
    ASSERT_EQ(chown(QFile::encodeName(home.path()).constData(), nobody, nobody), 0);
    ASSERT_TRUE(QDir(home.path()).mkdir("maps"));
    QFile map(home.filePath("maps/map.ivm"));
    ASSERT_TRUE(map.open(QIODevice::WriteOnly));
    map.write(mapBytes(12, 12));
    map.close();
    ASSERT_EQ(chown(QFile::encodeName(home.filePath("maps")).constData(), nobody, nobody), 0);

    const QByteArray self = QFile::encodeName(QCoreApplication::applicationFilePath());
    const QByteArray filter = "--gtest_filter=ThumbWindowAsUser.*";
    char* argv[] = {const_cast<char*>(self.constData()), const_cast<char*>(filter.constData()), nullptr};
    std::vector<QByteArray> env{"IV_THUMB_AS_USER=1", "HOME=" + QFile::encodeName(home.path())};
    for (char** e = environ; *e; ++e)
        if (!QByteArray(*e).startsWith("HOME=") && !QByteArray(*e).startsWith("XDG_RUNTIME_DIR="))
            env.emplace_back(*e);
    std::vector<char*> envp;
    for (QByteArray& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0)
            execve(argv[0], argv, envp.data());
        _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run as nobody failed (status " << status << ")";
    EXPECT_TRUE(QFile::exists(home.filePath("maps/saved.bmp")));
}
