#pragma once
// A failure of renewel-publish: the subject that failed (a file, a folder, an option, a tool) and
// the reason. Shown as "renewel-publish: SUBJECT: REASON", escaped by SafeText so that it stays
// one line whatever bytes a name holds.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <utility>

struct PublishError {
    PublishError(const QString& subject, QString reason) : subject(QFile::encodeName(subject)), reason(std::move(reason)) {}
    // A name exactly as the file system gives it, which need not be UTF-8.
    PublishError(QByteArray subject, QString reason) : subject(std::move(subject)), reason(std::move(reason)) {}

    QByteArray subject;
    QString reason;
};
