#pragma once
// Reads varints (7 bits a byte, low bits first, as ControlTuple writes them) one by one from a
// stream's decoder through a small buffer.

#include "patch/ZstdStreamReader.h"

#include "Result.h"

#include <array>

class VarintReader {
public:
    explicit VarintReader(ZstdStreamReader& stream) : stream_(stream) {}

    bool atEnd() const { return at_ == filled_ && stream_.remaining() == 0; }
    Result<quint64> next();

private:
    Status refill();

    ZstdStreamReader& stream_;
    std::array<char, 4096> buffer_{};
    size_t at_ = 0;
    size_t filled_ = 0;
};
