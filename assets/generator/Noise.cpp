#include "Noise.h"

#include <cmath>

static std::uint32_t mix(std::uint32_t h)
{
    h ^= h >> 16;
    h *= 0x7feb352dU;
    h ^= h >> 15;
    h *= 0x846ca68bU;
    h ^= h >> 16;
    return h;
}

double hash01(std::uint32_t seed, int x, int y)
{
    const std::uint32_t h = mix(seed ^ mix(static_cast<std::uint32_t>(x) * 73856093U
                                           ^ static_cast<std::uint32_t>(y) * 19349663U));
    return (h & 0xFFFFFF) / double(0x1000000);
}

TileNoise::TileNoise(std::uint32_t seed, int periodX, int periodY)
    : seed_(seed), periodX_(periodX), periodY_(periodY)
{
}

double TileNoise::lattice(int x, int y, int px, int py) const
{
    x = ((x % px) + px) % px;
    y = ((y % py) + py) % py;
    return hash01(seed_ + static_cast<std::uint32_t>(px) * 131U, x, y);
}

double TileNoise::valueAt(double u, double v, int px, int py) const
{
    const double fx = u * px;
    const double fy = v * py;
    const int x0 = static_cast<int>(std::floor(fx));
    const int y0 = static_cast<int>(std::floor(fy));
    double tx = fx - x0;
    double ty = fy - y0;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    const double a = lattice(x0, y0, px, py);
    const double b = lattice(x0 + 1, y0, px, py);
    const double c = lattice(x0, y0 + 1, px, py);
    const double d = lattice(x0 + 1, y0 + 1, px, py);
    return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
}

double TileNoise::at(double u, double v) const
{
    return valueAt(u, v, periodX_, periodY_);
}

double TileNoise::fractal(double u, double v, int octaves) const
{
    double sum = 0;
    double weight = 0.5;
    double total = 0;
    for (int o = 0; o < octaves; ++o) {
        sum += weight * valueAt(u, v, periodX_ << o, periodY_ << o);
        total += weight;
        weight *= 0.5;
    }
    return sum / total;
}
