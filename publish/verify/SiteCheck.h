#pragma once
// What a check of a published site found: every problem (not only the first) and how much was
// checked.

#include <QByteArray>
#include <QList>
#include <QString>

struct SiteProblem {
    QByteArray subject;  // the file (or the site's list) concerned
    QString reason;
};

struct SiteCheck {
    QList<SiteProblem> problems;
    int files = 0;  // listed files checked
    qint64 bytes = 0;
    int indexes = 0;    // chunk indexes checked
    qint64 chunks = 0;  // chunks checked
};
