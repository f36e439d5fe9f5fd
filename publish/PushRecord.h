#pragma once
// What earlier pushes put on a remote, "SITE_DIR.releases/.push-<hash of the remote>.record":
// the number of the last push whose lists reached the remote, and for each object sent the number
// of the last push whose site held it. An object no site since the last N pushes holds is no
// longer named by any list a player may still be using, and can be deleted.

#include <QHash>
#include <QString>
#include <QStringList>

class PushRecord {
public:
    // The record of remote kept in the releases folder; empty when there is none.
    static PushRecord read(const QString& releasesDir, const QString& remote);
    // Replaces the record (through a temporary file); throws PublishError.
    void write() const;

    // The number of the push under way: one after the last completed push.
    int current() const { return completed_ + 1; }
    // The objects of the push under way.
    void hold(const QStringList& objects);
    // The lists reached the remote: the push under way is complete.
    void complete() { completed_ = current(); }
    // Objects held by no site of the last keep + 1 completed pushes (this one included).
    QStringList unneeded(int keep) const;
    void forget(const QStringList& objects);

private:
    QString path_;
    QString remote_;
    int completed_ = 0;
    QHash<QString, int> objects_;  // object -> number of the last push that held it
};
