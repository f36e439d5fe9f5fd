#pragma once
// Reads control tuples one by one from the control stream's decoder through a small buffer.

#include "patch/ControlTuple.h"
#include "patch/ZstdStreamReader.h"

#include "Result.h"

#include <array>

class ControlReader {
public:
    explicit ControlReader(ZstdStreamReader& stream) : stream_(stream) {}

    bool atEnd() const { return at_ == filled_ && stream_.remaining() == 0; }
    Result<ControlTuple> next();

private:
    Result<quint64> varint();
    Status refill();

    ZstdStreamReader& stream_;
    std::array<char, 4096> buffer_{};
    size_t at_ = 0;
    size_t filled_ = 0;
};
