#pragma once
// "renewel check": fetches and verifies the lists, compares the installation with them, plans the
// download as a run would (chunk indexes fetched, chunks on the disk and complete downloads left
// by an earlier run counted) and prints what an update would do, one line per file, then a
// summary line with what it would download and install; it downloads no file, changes nothing in
// the installation, needs no display and starts no browser engine. For launchers.

#include <QByteArray>
#include <QString>

#include <cstdio>

// Exit status of a check that found an update due.
constexpr int UpdateDueStatus = 3;

// Runs the check in the application's loop until it has ended (a QCoreApplication must exist)
// and returns the exit status: 0 up to date,
// UpdateDueStatus when something would be fetched or deleted, 1 on a failure (one line on
// standard error), 2 when a stop signal (SIGINT, SIGTERM, SIGHUP) cancelled it.
int RunCheck(const QString& programFolder, std::FILE* out);

// A byte count as the summary line writes it: "512 bytes", "170 KB", "104.9 MB" (units of 1000).
QByteArray ReadableBytes(qint64 bytes);
