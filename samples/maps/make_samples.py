#!/usr/bin/env python3
"""Writes the sample map files of this folder (run by hand: python3 make_samples.py).

A map file is one 10520-byte record: MapWidth and MapHeight as signed 32-bit little-endian
integers at offsets 308 and 312, terrain codes at 316 + 101 * x + y (x, y in 1 ... 100).
Codes: 2 water, 4 wood, 8 stone, anything else plain grass.
"""
import math
import os
import struct

SIZE, GRID = 10520, 101


def write_map(name, width, height, code_at):
    record = bytearray(SIZE)
    struct.pack_into("<ii", record, 308, width, height)
    for x in range(1, min(width, 100) + 1):
        for y in range(1, min(height, 100) + 1):
            record[316 + GRID * x + y] = code_at(x, y)
    with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), name), "wb") as f:
        f.write(record)


def island(x, y):
    # Round island in the sea, a forest in the north-west, a rocky ridge in the south-east.
    d = math.hypot(x - 50.5, y - 50.5) + 6 * math.sin(x / 7.0) * math.cos(y / 9.0)
    if d > 40:
        return 2
    if math.hypot(x - 38, y - 36) < 14 + 3 * math.sin(y / 3.0):
        return 4
    if abs((x - 60) - (y - 62)) < 4 and 50 < x < 85:
        return 8
    if math.hypot(x - 62, y - 40) < 5:
        return 2  # a lake
    return 0


def village(x, y):
    # 7 x 5: a river down column 4, stone houses and a wood.
    if x == 4:
        return 2
    if (x, y) in ((2, 2), (6, 2), (6, 4)):
        return 8
    if x == 1 and y >= 4 or (x, y) == (2, 5):
        return 4
    return 0


def valley(x, y):
    # 40 x 30: mountains along both long edges, a winding river, woods on the banks.
    river = 15 + 5 * math.sin(x / 5.0)
    if abs(y - river) < 1.5:
        return 2
    if y < 5 + 2 * math.sin(x / 3.0) or y > 26 - 2 * math.cos(x / 4.0):
        return 8
    if abs(y - river) < 4 and (x // 6) % 2 == 0:
        return 4
    return 0


if __name__ == "__main__":
    write_map("island.ivm", 100, 100, island)
    write_map("village.ivm", 7, 5, village)
    write_map("valley.ivm", 40, 30, valley)
