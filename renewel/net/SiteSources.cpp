#include "net/SiteSources.h"

#include <algorithm>

SiteSources::SiteSources(const QByteArray& site, const std::vector<QByteArray>& mirrors)
{
    auto add = [this](const QByteArray& prefix) {
        const bool named = std::any_of(sources_.begin(), sources_.end(),
                                       [&](const Source& s) { return s.prefix == prefix; });
        if (!named)
            sources_.push_back({prefix, {}, true});
    };
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
    return int(std::count_if(sources_.begin(), sources_.end(), [](const Source& s) { return s.alive; }));
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

QString SiteSources::url(int source, const QString& relativeSitePath) const
{
    const QByteArray& p = prefix(source);
    const bool doubled = p.endsWith('/') && relativeSitePath.startsWith(QLatin1Char('/'));
    return QString::fromLatin1(p) + (doubled ? relativeSitePath.mid(1) : relativeSitePath);
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
