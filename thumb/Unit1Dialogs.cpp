#include "Unit1Dialogs.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>
#include <QStringList>

QString qtFilterFromNotation(const QString& notation)
{
    const QStringList parts = notation.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
        const QString suffix = QStringLiteral("(%1)").arg(patterns);
        filters << (description.endsWith(suffix) ? description : description + QLatin1Char(' ') + suffix);
    }
    return filters.join(QStringLiteral(";;"));
}

namespace {

// The choice of an accepted dialog, or false when it was cancelled.
bool runDialog(QFileDialog& dialog, QString& fileName)
{
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    fileName = chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen.first());
    return true;
}

// A scaled picture of the file under the cursor, beside the file list.
void addPreviewPane(QFileDialog& dialog)
{
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    if (!grid)
        return;
    auto* preview = new QLabel(&dialog);
    preview->setObjectName(QStringLiteral("preview"));
    preview->setFixedSize(160, 160);
    preview->setAlignment(Qt::AlignCenter);
    preview->setFrameShape(QFrame::StyledPanel);
    grid->addWidget(preview, 1, grid->columnCount(), grid->rowCount() - 1, 1);
    QObject::connect(&dialog, &QFileDialog::currentChanged, preview, [preview](const QString& path) {
        QImageReader reader(path);
        const QImage image = reader.read();
        if (image.isNull()) {
            preview->clear();
            return;
        }
        const bool fits = image.width() <= preview->width() && image.height() <= preview->height();
        preview->setPixmap(QPixmap::fromImage(
            fits ? image : image.scaled(preview->size(), Qt::KeepAspectRatio, Qt::FastTransformation)));
    });
}

}  // namespace

bool FileDialogs::openMap(QWidget* parent, const QString& filter, const QString& folder, QString& fileName)
{
    QFileDialog dialog(parent, QString(), folder, filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name that does not exist is passed on; the read reports it.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    return runDialog(dialog, fileName);
}

bool FileDialogs::saveBitmap(QWidget* parent, const QString& filter, const QString& folder, QString& fileName)
{
    QFileDialog dialog(parent, QString(), folder, filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!fileName.isEmpty())
        dialog.selectFile(fileName);
    addPreviewPane(dialog);
    return runDialog(dialog, fileName);
}
