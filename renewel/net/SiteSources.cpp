#include "net/SiteSources.h"

SiteSources::SiteSources(const QByteArray& site, const std::vector<QByteArray>& mirrors)
{
    auto add = [this](const QByteArray& prefix) { sources_.push_back({prefix, {}, true}); };
    add(site);
    for (const QByteArray& mirror : mirrors)
        add(mirror);
}

bool SiteSources::alive(int source) const
{
    return source >= 0 && source < count() && sources_[size_t(source)].alive;
}

int SiteSources::aliveCount() const
{
    int n = 0;
    for (const Source& s : sources_)
        n += s.alive ? 1 : 0;
    return n;
}

QByteArray SiteSources::prefix(int source) const { return sources_.at(size_t(source)).prefix; }

int SiteSources::pick()
{
    for (int tried = 0; tried < count(); ++tried) {
        const int source = next_;
        next_ = (next_ + 1) % count();
        if (sources_[size_t(source)].alive)
            return source;
    }
    return -1;
}

SiteSources::Pick SiteSources::url(const QString& relativeSitePath)
{
    Pick p;
    p.source = pick();
    if (p.source >= 0)
        p.url = url(p.source, relativeSitePath);
    return p;
}

QString SiteSources::url(int source, const QString& relativeSitePath) const
{
    const QByteArray& p = prefix(source);
    const bool doubled = p.endsWith('/') && relativeSitePath.startsWith(QLatin1Char('/'));
    return QString::fromLatin1(p) + (doubled ? relativeSitePath.mid(1) : relativeSitePath);
}

int SiteSources::sourceOf(const QString& url) const
{
    // The longest prefix wins: a mirror may live below the site's own address.
    int found = -1;
    qsizetype length = -1;
    for (int i = 0; i < count(); ++i) {
        const QString p = QString::fromLatin1(sources_[size_t(i)].prefix);
        if (url.startsWith(p) && p.size() > length) {
            found = i;
            length = p.size();
        }
    }
    return found;
}

void SiteSources::failed(int source, const QString& why)
{
    if (source < 0 || source >= count())
        return;
    Source& s = sources_[size_t(source)];
    if (s.alive)
        s.failure = why;
    s.alive = false;
}

QString SiteSources::failure(int source) const
{
    return source >= 0 && source < count() ? sources_[size_t(source)].failure : QString();
}
