#pragma once
// A progress bar's maximum and position for 64-bit sizes: unchanged while the total fits an int,
// otherwise both divided by the same factor so that the ratio stays. Position is kept in 0..max.

#include <QtGlobal>

struct ProgressBarRange {
    int max = 0;
    int position = 0;
};
ProgressBarRange ScaleProgress(qint64 total, qint64 readed);
