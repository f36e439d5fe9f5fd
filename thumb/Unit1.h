#pragma once
// TForm1: the thumbnail maker's window. Its controls come from Unit1.ui; the code here only wires
// the two buttons to the map reader, the renderer and the bitmap writer. Errors are not caught:
// they leave the handler and reach the application's general error report.

#include "MapRecord.h"
#include "PaintMap.h"
#include "Unit1Dialogs.h"

#include <QWidget>
#include <memory>

namespace Ui {
class TForm1;
}
class TImage;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    static inline const QString OpenFilter = QStringLiteral("Ironvale 2 Map Files|*.ivm");
    static inline const QString SaveFilter = QStringLiteral("Bitmaps (*.bmp)|*.bmp");

    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Replaces the file dialogs (tests answer them through this seam).
    void setDialogs(std::unique_ptr<ThumbDialogs> dialogs);

    const MapRecord& mapRecord() const { return FMap; }
    // The thumbnail control; it holds no bitmap until the first render.
    TImage* thumbnail() const;
    // The name the save dialog proposes next time it opens.
    const QString& saveDialogFileName() const { return FSaveFileName; }

    // The folder the open dialog starts in (see DialogFolder.h).
    QString dialogFolder() const;
    // The folder the save dialog starts in when it has no name to propose: the folder of the map
    // last read (whose thumbnail is shown), else dialogFolder().
    QString saveDialogFolder() const;

    // Reads a map file, makes the program's folder current and renders the thumbnail: what
    // "Make Thumbnail from map" does after its dialog, also used for a map given at start-up or
    // dropped on the window.
    void OpenMap(const QString& fileName);

public slots:
    void IVButton2Click(QObject* Sender);  // Make Thumbnail from map
    void IVButton1Click(QObject* Sender);  // Save thumbnail
    void PaintMap();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    std::unique_ptr<Ui::TForm1> ui;
    std::unique_ptr<ThumbDialogs> FDialogs;
    MapRecord FMap;
    MapRenderer FRenderer;
    QString FOpenFileName;
    QString FSaveFileName;
    QString FLastMap;  // the last map read successfully, as an absolute path
};
