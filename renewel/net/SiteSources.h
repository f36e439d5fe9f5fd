#pragma once
// Where a run's files come from: the update site and the mirrors that hold copies of it. Work is
// spread over the sources that still answer; a source that failed once (connection refused, an
// HTTP error, a body that is not the listed file) is dropped for the rest of the run, and its
// work goes to another. Sources are numbered: 0 is the update site, mirrors follow in the order
// the language file names them.
//
//   SiteSources sources(site, mirrors);
//   const SiteSources::Pick p = sources.url("chunks/ab12.zst");  // p.source < 0: none left
//   ... on failure: sources.failed(p.source, why);

#include <QByteArray>
#include <QString>

#include <vector>

class SiteSources {
public:
    struct Pick {
        int source = -1;  // -1: every source has failed
        QString url;
    };

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
    // a live source, in turn.
    Pick url(const QString& relativeSitePath);
    QString url(int source, const QString& relativeSitePath) const;
    // The source whose prefix an address starts with (-1: none).
    int sourceOf(const QString& url) const;

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
