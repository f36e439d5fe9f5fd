#pragma once
// Where a run's files come from: the update site and the mirrors that hold copies of it. Work is
// spread over the sources that still answer; a source that failed once (connection refused, an
// HTTP error, a body that is not the listed file) is dropped for the rest of the run, and its
// work goes to another. Sources are numbered: 0 is the update site, mirrors follow in the order
// the language file names them; an address named again (the site repeated as a mirror, a mirror
// written twice) is one source.
//
//   SiteSources sources(site, mirrors);
//   const int source = sources.pick();  // -1: none left
//   const QString url = sources.url(source, "chunks/ab12.zst");
//   ... on failure: sources.failed(source, why);

#include <QByteArray>
#include <QString>

#include <vector>

class SiteSources {
public:
    SiteSources(const QByteArray& site, const std::vector<QByteArray>& mirrors);

    int count() const { return int(sources_.size()); }
    bool alive(int source) const;
    int aliveCount() const;
    // The address prefix of a source, as the language file writes it ("http://host/path/"): the
    // site's paths are appended to it as they are.
    QByteArray prefix(int source) const;

    // A live source for the next piece of work, in turn (-1 when none is left).
    int pick();
    // The address of a path relative to the site (already escaped for a URL, "/" separated) at
    // a source.
    QString url(int source, const QString& relativeSitePath) const;

    // Drops a source for the rest of the run; the first reason is kept.
    void failed(int source, const QString& why);
    // Why a source was dropped (empty while it is alive).
    QString failure(int source) const;

private:
    struct Source {
        QByteArray prefix;
        QString failure;
        bool alive = true;
    };
    std::vector<Source> sources_;
    int next_ = 0;
};
