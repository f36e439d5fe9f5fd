#pragma once
// The signing options publish and rollback share (--key, --password-file, --expires), and the
// note both print when this machine's clock is behind the site's last signature.

#include <QCommandLineParser>
#include <QString>

struct Signing {
    QString secretKey;     // empty: no signature
    QString passwordFile;  // empty: asked on the terminal
    int expiresDays = 0;   // 0: no expiry
};

class SigningOptions {
public:
    static constexpr int MaxExpiresDays = 36500;

    // Adds the options to parser; passwordNote ends --password-file's help ("" for none).
    SigningOptions(QCommandLineParser& parser, const QString& passwordNote);

    // The signing the command line asks for; false after printing a usage error.
    bool read(const QCommandLineParser& parser, Signing& signing) const;

private:
    const QCommandLineOption key_;
    const QCommandLineOption password_;
    const QCommandLineOption expires_;
};

// Players refuse a list older than the one they hold, so a slow clock is overruled, and told.
void printClockNote(qint64 behindBy, qint64 signedAt);
