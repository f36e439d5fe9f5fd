#pragma once
// An installation in a temporary folder, an update site served by the fault server from another
// one, a language file pointing at that site, and a run driven through the recording host.

#include "FaultServer.h"
#include "RecordingHost.h"
#include "TempDir.h"
#include "run/UpdateRun.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// Runs the minisign tool; the test fails when it does.
void RunMinisign(const QStringList& args);

class UpdateFixture : public ::testing::Test {
protected:
    UpdateFixture();
    void SetUp() override;
    void TearDown() override;

    // Writes the language file with this site address (and any further lines, each ending in
    // CR LF) and loads it.
    void useSite(const QByteArray& site, const QByteArray& extraLines = {});
    // Puts "update.txt" on the site: a header line, then the given data lines, CR LF after each.
    void publishList(const QList<QByteArray>& dataLines);
    // Puts a file on the site (name relative, "/" separated).
    void publish(const QString& name, const QByteArray& bytes) { site.write(name, bytes); }
    // Installs a file in the program folder.
    void install(const QString& name, const QByteArray& bytes) { root.write("game/" + name, bytes); }
    QByteArray installed(const QString& name) const { return root.read("game/" + name); }
    bool inTemp(const QString& name) const { return root.exists("game/temp/" + name); }

    // The paths of the requests the site received, in order.
    QList<QByteArray> requestedPaths() const;
    // Every file and folder below the test's root folder, relative, sorted.
    QStringList allEntries() const;

    // One run with the fixture's options, waited for until it has ended; the run stays in `run`
    // for inspection.
    UpdateOutcome update();

    TempDir site;
    TempDir root;
    QString programFolder;  // root/game/, with a trailing separator
    FaultServer server;
    RecordingHost host;
    bool quiet = false;
    bool repair = false;
    bool checkOnly = false;
    std::unique_ptr<UpdateRun> run;
};
