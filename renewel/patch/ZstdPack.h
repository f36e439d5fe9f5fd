#pragma once
// Compressing a patch's parts as single zstd frames that record their size. With a prefix the
// frame is compressed against that content (the decoder must be given the same prefix), with a
// window covering prefix and data up to 2^ZstdStreamReader::MaxWindowLog, and long distance
// matching so far matches are found.

#include "Result.h"

#include <QByteArray>
#include <QByteArrayView>

Result<QByteArray> zstdPack(QByteArrayView data, int level, QByteArrayView prefix = {});
