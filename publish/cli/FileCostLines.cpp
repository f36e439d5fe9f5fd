#include "cli/FileCostLines.h"

#include <algorithm>

namespace {

QByteArray routeWord(PatchSummary::Route route)
{
    switch (route) {
    case PatchSummary::Route::Patch:
        return "patch";
    case PatchSummary::Route::Chunks:
        return "chunks";
    case PatchSummary::Route::Whole:
        break;
    }
    return "whole";
}

}  // namespace

QList<QByteArray> fileCostLines(const PatchSummary& patches)
{
    QList<PatchSummary::FileCost> files = patches.files;
    if (files.isEmpty())
        return {};
    std::sort(files.begin(), files.end(), [](const PatchSummary::FileCost& a, const PatchSummary::FileCost& b) {
        return a.bytes != b.bytes ? a.bytes > b.bytes : a.file < b.file;
    });
    const QByteArray prefix = "renewel-publish: ";
    QList<QByteArray> lines{prefix + "what each changed file costs a player of the previous release, the biggest first:"};
    qint64 total = 0;
    for (qsizetype i = 0; i < files.size(); ++i) {
        total += files[i].bytes;
        if (i < MaxListedCosts)
            lines.append(prefix + "  " + routeWord(files[i].route) + ' ' + QByteArray::number(files[i].bytes)
                         + " bytes  " + files[i].file.toUtf8());
    }
    if (files.size() > MaxListedCosts)
        lines.append(prefix + "  … and " + QByteArray::number(files.size() - MaxListedCosts) + " more");
    QByteArray sum = prefix + "in all " + QByteArray::number(total) + " bytes for the "
        + QByteArray::number(files.size()) + " changed files";
    if (patches.olderPatched > 0)
        sum += "; " + QByteArray::number(patches.olderPatched) + " patches (" + QByteArray::number(patches.olderPatchBytes)
            + " bytes) for players of the release before it";
    lines.append(sum);
    return lines;
}
