#pragma once
// Reads control tuples one by one from the control stream.

#include "patch/ControlTuple.h"
#include "patch/VarintReader.h"

class ControlReader {
public:
    explicit ControlReader(ZstdStreamReader& stream) : numbers_(stream) {}

    bool atEnd() const { return numbers_.atEnd(); }
    Result<ControlTuple> next();

private:
    VarintReader numbers_;
};
