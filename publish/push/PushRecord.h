#pragma once
// What earlier pushes put on a remote, "SITE_DIR.releases/.push-<hash of the remote>.record":
// the number of the last push whose lists reached the remote, and for each object sent the number
// of the last push whose site held it and the SHA-256 of the bytes last sent as it. An object no
// site since the last N pushes holds is no longer named by any list a player may still be using,
// and can be deleted. An object whose bytes differ from those last sent must be sent whatever the
// remote's sizes and times say.

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

    // The SHA-256 of what was last sent as the object; empty when unknown.
    QByteArray sentDigest(const QString& object) const { return objects_.value(object).digest; }
    // The object reached the remote with these bytes (an empty digest: its bytes there are unknown).
    void setSent(const QString& object, const QByteArray& digest);

private:
    struct Object {
        int push = 0;       // number of the last push that held it
        QByteArray digest;  // SHA-256 of the bytes last sent; empty when unknown
    };

    // Adds the object a line of the record names; false when the line is not one.
    bool parseObject(const QByteArray& line, bool digests);

    QString path_;
    QString remote_;
    int completed_ = 0;
    QHash<QString, Object> objects_;
};
