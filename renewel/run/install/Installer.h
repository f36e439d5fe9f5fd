#pragma once
// Puts obtained files in place: renamed into the installation (copied atomically where that
// can't be done), folders made as needed, each installed file recorded in the installed-state
// record with its identity and SHA-256. The renames become durable folder by folder, once each,
// when the installer is done.

#include "run/install/InstallFile.h"

#include "Result.h"

#include <QSet>
#include <QString>

class InstalledState;
struct UpdateEntry;

class Installer {
public:
    Installer(QString installBase, InstalledState& state) : installBase_(std::move(installBase)), state_(state) {}
    // Makes every rename durable.
    ~Installer();
    Installer(const Installer&) = delete;
    Installer& operator=(const Installer&) = delete;

    // Installs the downloaded file as the entry; the failure's subject in *subject.
    Status install(const UpdateEntry& entry, const QString& downloaded, const QByteArray& digest, QString* subject);

private:
    void noteMadeFolders(const QByteArray& listed);

    const QString installBase_;
    InstalledState& state_;
    InstallLeftovers leftovers_;
    QSet<QString> touched_;  // folders that files were renamed into
};
