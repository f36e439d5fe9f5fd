#pragma once
// The two file dialogs of the thumbnail maker's window, behind a small interface so that tests
// can answer them without a person. FileDialogs is the real one (Qt's own dialogs, with the
// common dialogs' defaults: no existence check on open, no overwrite question on save).

#include <QString>

class QWidget;

// "Description|pattern|Description|pattern" (the common dialogs' notation) in Qt's filter form,
// "Description (pattern);;Description (pattern)". Several patterns separated by ";" become
// space-separated; a description that already ends with "(pattern)" is not repeated.
QString qtFilterFromNotation(const QString& notation);

class ThumbDialogs {
public:
    virtual ~ThumbDialogs() = default;
    // Asks for a map file; fileName comes in as the last choice and goes out as the new one.
    // folder is where the dialog starts when there is no last choice (empty: the current
    // folder). False when the user cancels.
    virtual bool openMap(QWidget* parent, const QString& filter, const QString& folder, QString& fileName) = 0;
    // Asks for a bitmap file name; fileName comes in as the proposal and goes out as the choice;
    // folder as for openMap. False when the user cancels.
    virtual bool saveBitmap(QWidget* parent, const QString& filter, const QString& folder, QString& fileName) = 0;
};

class FileDialogs : public ThumbDialogs {
public:
    bool openMap(QWidget* parent, const QString& filter, const QString& folder, QString& fileName) override;
    // The save dialog shows a preview of the picture file under the cursor.
    bool saveBitmap(QWidget* parent, const QString& filter, const QString& folder, QString& fileName) override;
};
