#pragma once
// Seeded, tileable value noise for the procedural textures.

#include <cstdint>

class TileNoise {
public:
    // period: lattice cells across one tile, so a tile of any pixel size wraps seamlessly.
    TileNoise(std::uint32_t seed, int periodX, int periodY);
    // u, v in [0, 1) over the tile; returns roughly [0, 1].
    double at(double u, double v) const;
    // Sum of octaves, each with twice the lattice frequency and half the weight.
    double fractal(double u, double v, int octaves) const;

private:
    double lattice(int x, int y, int px, int py) const;
    double valueAt(double u, double v, int px, int py) const;
    std::uint32_t seed_;
    int periodX_;
    int periodY_;
};

// Deterministic per-pixel jitter in [0, 1).
double hash01(std::uint32_t seed, int x, int y);
