#pragma once
// What the update benchmarks are made of: generated update sites and installations, timed runs
// of the built renewel and of the peer tools, and the check that an installation is complete.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// One entry of an update list: "\data\f0001.bin" and its size.
struct ListedFile {
    QByteArray listed;
    qint64 size = 0;
};

// `count` files of `size` bytes, spread over folders of at most 1000 files each.
QList<ListedFile> numberedFiles(int count, qint64 size);
// "\data\d0\f0001.bin" -> "data/d0/f0001.bin"
QString relativePath(const QByteArray& listed);
// Writes update.txt listing the files into the folder, and the files themselves when asked
// (the content of each is a pattern of its own).
void writeSite(const QString& folder, const QList<ListedFile>& files, bool withFiles = true);
// Creates the files with their listed sizes (sparse, hard links to one file per size kept in
// the folder's sibling FOLDER.sizes) below the folder.
void writeLinkedFiles(const QString& folder, const QList<ListedFile>& files);
// The listed files below the folder whose size differs from the listed one.
int incompleteFiles(const QString& folder, const QList<ListedFile>& files);

// An installation: a copy of the built renewel (it takes the folder of its executable as the
// installation) and a renewel.lng naming the update site.
void prepareInstallation(const QString& folder, const QString& siteUrl);

struct Timed {
    double seconds = 0;
    bool ok = false;
    QString why;  // what went wrong when not ok
    bool timedOut = false;  // not ok because it did not end in time (it was killed)
};

// `renewel quiet` (or renewel with other arguments) in the installation (its working folder),
// headless; its standard error goes to the log. ok: it ended by itself with status 0 within
// timeoutSeconds.
Timed runRenewel(const QString& installFolder, const QString& log, int timeoutSeconds = 300,
                 const QStringList& args = {QStringLiteral("quiet")});
// A peer tool, in workingFolder when one is given; ok: status 0 within timeoutSeconds.
Timed runTool(const QString& program, const QStringList& args, const QString& log, const QString& workingFolder = {},
              int timeoutSeconds = 300);
// The best of up to three runs, stopping before a run that would end past `budget` seconds; a failed
// run ends the series and is returned. `runs` receives the number of runs made.
Timed bestOf(const std::function<Timed()>& run, int* runs, double budget = 30);

// Lists for the peers: aria2c's input file (URL, then "  out=PATH") and a curl config
// ("url =" and "output =" pairs); the outputs go below outFolder.
QByteArray aria2List(const QString& siteUrl, const QList<ListedFile>& files);
QByteArray curlConfig(const QString& siteUrl, const QList<ListedFile>& files, const QString& outFolder);
