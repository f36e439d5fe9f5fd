#pragma once
// Generated game data for the chunk store's benchmarks, and the edits a release makes to it.
// The same size and seed always give the same bytes.

#include <QByteArray>

// Incompressible blocks (packed textures, sounds) between record tables (fixed-size records whose
// fields vary a little) and text (scripts, language tables).
QByteArray gameContent(qint64 size, quint64 seed = 20);
// Random bytes of a seed of their own.
QByteArray randomBytes(qint64 size, unsigned seed);

// The edits compared: (a) 1 MiB replaced in the middle, (b) 16 bytes inserted near the start,
// (c) 20 scattered 4 KiB blocks replaced.
QByteArray changedMiddle(QByteArray content);
QByteArray insertedNearStart(QByteArray content);
QByteArray scatteredEdits(QByteArray content);
