#include "site/ExecutableMarks.h"

#include <QCryptographicHash>

namespace {
const QByteArray Mark = "x:";
}  // namespace

QByteArray ExecutableMarks::lines(const QList<File>& executables)
{
    QByteArray text = Sums::formatLine(QCryptographicHash::hash({}, QCryptographicHash::Sha256), Mark);
    for (const File& file : executables)
        text += Sums::formatLine(file.digest, Mark + file.listed);
    return text;
}

std::optional<bool> ExecutableMarks::executable(const Sums& sums, const QByteArray& listed)
{
    if (!sums.contains(Mark))
        return std::nullopt;
    return sums.contains(Mark + listed);
}
