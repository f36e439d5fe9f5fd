#pragma once
// The time a new signature carries. Players refuse a list signed before the one they last
// accepted, so a site's signed timestamps only move forward: a release is signed at the
// machine's clock, or one second after the site's current signature when that clock is behind
// it (a release once signed on a machine whose clock ran ahead).

#include <QString>

#include <optional>

struct SigningTime {
    qint64 timestamp = 0;  // Unix seconds, for the trusted comment
    qint64 behindBy = 0;   // seconds the clock was behind the time signed; 0 when it was not
};

// The timestamp of the release folder's signature (its trusted comment, not checked against a
// key); nothing when it has none or it can't be read.
std::optional<qint64> signedTimestampOf(const QString& release);

// The time to sign a release that replaces current (empty: none) when the clock says now.
SigningTime signingTime(const QString& current, qint64 now);
