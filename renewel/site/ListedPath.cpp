#include "site/ListedPath.h"

#include "ProgramFolder.h"
#include "Text.h"

#include <QDir>
#include <QUrl>

#include <algorithm>

namespace {
bool safeComponent(const QByteArray& component)
{
    // Windows drops trailing dots and spaces from names (".. " would mean ".."), and a name
    // made only of dots is no file name anywhere.
    if (component.isEmpty() || component.endsWith('.') || component.endsWith(' '))
        return false;
    for (const char c : component) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == ':')
            return false;
    }
    return true;
}
}  // namespace

ListedPath::ListedPath(const QByteArray& listed)
{
    if (listed.size() < 2 || listed.size() > MaxListedPathBytes || listed[0] != '\\')
        return;
    components_ = QByteArray(listed.mid(1)).replace('/', '\\').split('\\');
    safe_ = true;
    for (const QByteArray& component : components_) {
        if (!safeComponent(component))
            safe_ = false;
    }
    // The download folder is the updater's own: a listed file there would be installed and then
    // deleted as a download.
    if (components_.front().compare("temp", Qt::CaseInsensitive) == 0)
        safe_ = false;
}

QByteArray ListedPath::fromRelative(const QString& relative)
{
    return '\\' + relative.toUtf8().replace('/', '\\');
}

QString ListedPath::toRelative(const QByteArray& listed)
{
    return displayText(listed.mid(1)).replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString ListedPath::foldedKey(const QByteArray& listed)
{
    return displayText(listed).replace(QLatin1Char('/'), QLatin1Char('\\')).toCaseFolded();
}

QByteArray ListedPath::parent(const QByteArray& listed)
{
    const qsizetype cut = std::max(listed.lastIndexOf('\\'), listed.lastIndexOf('/'));
    return cut > 0 ? listed.left(cut) : QByteArray();
}

QList<QByteArray> ListedPath::foldersAbove(const QByteArray& listed)
{
    QList<QByteArray> folders;
    for (QByteArray folder = parent(listed); !folder.isEmpty(); folder = parent(folder))
        folders.prepend(folder);
    return folders;
}

QString ListedPath::fileName() const
{
    return components_.isEmpty() ? QString() : displayText(components_.last());
}

QString ListedPath::installPath(const QString& installBase) const
{
    return installBase + relative(components_.size());
}

QString ListedPath::installFolder(const QString& installBase) const
{
    return installBase + relative(components_.size() - 1);
}

QString ListedPath::relative(qsizetype count) const
{
    QString path;
    for (qsizetype i = 0; i < count; ++i)
        path += QLatin1Char('\\') + displayText(components_[i]);
    return toNativePath(path);
}

QString ListedPath::url(const QByteArray& site) const
{
    QByteArray address = site;
    if (address.endsWith('/'))
        address.chop(1);
    for (const QByteArray& component : components_)
        address += '/' + QUrl::toPercentEncoding(displayText(component));
    return QString::fromLatin1(address);
}
