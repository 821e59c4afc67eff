#include "planet.h"

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>

namespace vistrel::tileserver {

std::optional<TileAddress> ParseTileLetters(std::string_view letters) {
    if (letters.size() > static_cast<size_t>(kMaxZoom)) return std::nullopt;
    TileAddress tile;
    tile.Zoom = static_cast<int>(letters.size());
    for (char c : letters) {
        uint32_t colBit = 0, rowBit = 0;
        switch (c) {
            case 'q':
                break;
            case 'r':
                colBit = 1;
                break;
            case 's':
                colBit = 1;
                rowBit = 1;
                break;
            case 't':
                rowBit = 1;
                break;
            default:
                return std::nullopt;
        }
        tile.Column = tile.Column * 2 + colBit;
        tile.Row = tile.Row * 2 + rowBit;
    }
    return tile;
}

std::string TileLetters(const TileAddress& tile) {
    static constexpr char kLetters[2][2] = {{'q', 'r'}, {'t', 's'}};  // [row bit][column bit]
    std::string letters(static_cast<size_t>(tile.Zoom), 'q');
    for (int i = 0; i < tile.Zoom; ++i) {
        int shift = tile.Zoom - 1 - i;
        letters[static_cast<size_t>(i)] =
            kLetters[(tile.Row >> shift) & 1][(tile.Column >> shift) & 1];
    }
    return letters;
}

namespace {

// The fields are computed one pixel beyond the tile on every side, so the
// relief shading can take differences at the tile's edges.
constexpr int kField = kTileSize + 2;
// Octaves smoother than a tile are computed on this grid and interpolated.
constexpr int kCoarseStep = 16;
constexpr int kCoarse = (kTileSize + 2 * kCoarseStep) / kCoarseStep + 1;
// Lattice cells across the world at octave 0; the world wraps east-west, so
// every octave has a whole number of cells across it.
constexpr int64_t kBaseCells = 2;

constexpr uint32_t kElevationSeed = 0x2545F491u;
constexpr uint32_t kMoistureSeed = 0x9E3779B9u;
constexpr uint32_t kDetailSeed = 0x85EBCA6Bu;
constexpr uint32_t kGrainSeed = 0xC2B2AE35u;

inline uint32_t Mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return static_cast<uint32_t>(h);
}

inline uint32_t LatticeHash(int64_t ix, int64_t iy, uint32_t seed) {
    return Mix(static_cast<uint64_t>(ix) * 0x9E3779B97F4A7C15ull ^
               static_cast<uint64_t>(iy) * 0xD1B54A32D192ED03ull ^ seed);
}

struct Gradients {
    std::array<float, 16> X, Y;
    Gradients() {
        for (int i = 0; i < 16; ++i) {
            double a = (i + 0.5) * std::numbers::pi / 8.0;
            X[static_cast<size_t>(i)] = static_cast<float>(std::cos(a));
            Y[static_cast<size_t>(i)] = static_cast<float>(std::sin(a));
        }
    }
};
const Gradients kGrad;

inline float Fade(float t) {
    return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f);
}

inline int64_t Wrap(int64_t i, int64_t period) {
    int64_t r = i % period;
    return r < 0 ? r + period : r;
}

// Adds amp * gradient noise along one row: count samples starting at lattice
// position (u0, v), u growing by du (less than one cell). Periodic in u with
// `period` cells. The corner gradients are reused while the samples stay in
// one cell, which is what makes the smooth octaves cheap.
void AddNoiseRow(float* out, int count, double u0, double du, double v, int64_t period,
                 uint32_t seed, float amp) {
    const double vFloor = std::floor(v);
    const int64_t iy = static_cast<int64_t>(vFloor);
    const float fy = static_cast<float>(v - vFloor);
    const float sy = Fade(fy);
    // du is below one cell and a power-of-two fraction, so stepping u by
    // addition stays exact and avoids a floor per sample.
    const double uFloor = std::floor(u0);
    int64_t ix = static_cast<int64_t>(uFloor);
    double frac = u0 - uFloor;
    float g00x = 0, g10x = 0, g01x = 0, g11x = 0;
    float c00 = 0, c10 = 0, c01 = 0, c11 = 0;  // y part of each corner's dot product
    bool stale = true;
    for (int i = 0; i < count; ++i, frac += du) {
        while (frac >= 1.0) {
            frac -= 1.0;
            ++ix;
            stale = true;
        }
        const float fx = static_cast<float>(frac);
        if (stale) {
            stale = false;
            const int64_t x0 = Wrap(ix, period), x1 = Wrap(ix + 1, period);
            const uint32_t h00 = LatticeHash(x0, iy, seed) & 15;
            const uint32_t h10 = LatticeHash(x1, iy, seed) & 15;
            const uint32_t h01 = LatticeHash(x0, iy + 1, seed) & 15;
            const uint32_t h11 = LatticeHash(x1, iy + 1, seed) & 15;
            g00x = kGrad.X[h00];
            g10x = kGrad.X[h10];
            g01x = kGrad.X[h01];
            g11x = kGrad.X[h11];
            c00 = kGrad.Y[h00] * fy;
            c10 = kGrad.Y[h10] * fy;
            c01 = kGrad.Y[h01] * (fy - 1.0f);
            c11 = kGrad.Y[h11] * (fy - 1.0f);
        }
        const float n00 = g00x * fx + c00;
        const float n10 = g10x * (fx - 1.0f) + c10;
        const float n01 = g01x * fx + c01;
        const float n11 = g11x * (fx - 1.0f) + c11;
        const float sx = Fade(fx);
        const float a = n00 + sx * (n10 - n00);
        const float b = n01 + sx * (n11 - n01);
        out[i] += amp * (a + sy * (b - a));
    }
}

struct Term {
    int Octave;
    float Amp;
};

struct Field {
    std::vector<float> V = std::vector<float>(kField * kField, 0.0f);
    float& At(int x, int y) { return V[static_cast<size_t>((y + 1) * kField + x + 1)]; }
    float At(int x, int y) const { return V[static_cast<size_t>((y + 1) * kField + x + 1)]; }
};

// Pixel size of one lattice cell of an octave at the tile's zoom.
double CellPixels(int zoom, int octave) {
    return std::ldexp(static_cast<double>(kTileSize), zoom) /
           std::ldexp(static_cast<double>(kBaseCells), octave);
}

// Sums the terms over the field's pixels (one beyond the tile on each side).
void AddTerms(const TileAddress& tile, const std::vector<Term>& terms, uint32_t seed,
              Field& field) {
    const double worldPixels = std::ldexp(static_cast<double>(kTileSize), tile.Zoom);
    const double left = static_cast<double>(tile.Column) * kTileSize;
    const double top = static_cast<double>(tile.Row) * kTileSize;
    std::vector<float> coarse(kCoarse * kCoarse, 0.0f);
    bool anyCoarse = false;
    for (const Term& term : terms) {
        const int64_t cells = kBaseCells << term.Octave;
        const double scale = static_cast<double>(cells) / worldPixels;  // cells per pixel
        const uint32_t octaveSeed = seed + static_cast<uint32_t>(term.Octave) * 0x632BE5ABu;
        if (CellPixels(tile.Zoom, term.Octave) >= kTileSize) {
            anyCoarse = true;
            for (int m = 0; m < kCoarse; ++m) {
                const double py = top - kCoarseStep + kCoarseStep * m + 0.5;
                AddNoiseRow(&coarse[static_cast<size_t>(m * kCoarse)], kCoarse,
                            (left - kCoarseStep + 0.5) * scale, kCoarseStep * scale, py * scale,
                            cells, octaveSeed, term.Amp);
            }
        } else {
            for (int y = -1; y <= kTileSize; ++y) {
                AddNoiseRow(&field.At(-1, y), kField, (left - 1 + 0.5) * scale, scale,
                            (top + y + 0.5) * scale, cells, octaveSeed, term.Amp);
            }
        }
    }
    if (!anyCoarse) return;
    for (int y = -1; y <= kTileSize; ++y) {
        const int my = (y + kCoarseStep) / kCoarseStep;
        const float ty = static_cast<float>(y + kCoarseStep - my * kCoarseStep) / kCoarseStep;
        const float* r0 = &coarse[static_cast<size_t>(my * kCoarse)];
        const float* r1 = r0 + kCoarse;
        float* out = &field.At(-1, y);
        for (int x = -1; x <= kTileSize; ++x) {
            const int mx = (x + kCoarseStep) / kCoarseStep;
            const float tx = static_cast<float>(x + kCoarseStep - mx * kCoarseStep) / kCoarseStep;
            const float a = r0[mx] + tx * (r0[mx + 1] - r0[mx]);
            const float b = r1[mx] + tx * (r1[mx + 1] - r1[mx]);
            out[x + 1] += a + ty * (b - a);
        }
    }
}

// Octaves whose cells are at least minPixels wide at this zoom.
int LastOctave(int zoom, double minPixels) {
    int last = 0;
    while (CellPixels(zoom, last + 1) >= minPixels) ++last;
    return last;
}

struct Rgb {
    float R, G, B;
};

inline Rgb Lerp(const Rgb& a, const Rgb& b, float t) {
    t = std::clamp(t, 0.0f, 1.0f);
    return {a.R + (b.R - a.R) * t, a.G + (b.G - a.G) * t, a.B + (b.B - a.B) * t};
}

inline float SmoothStep(float e0, float e1, float x) {
    const float t = std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

constexpr float kSeaLevel = 0.04f;

const Rgb kDeepWater{10, 30, 66};
const Rgb kOpenWater{20, 56, 100};
const Rgb kShallowWater{42, 100, 128};
const Rgb kCoastWater{78, 142, 146};
const Rgb kSand{196, 182, 138};
const Rgb kDesert{184, 156, 108};
const Rgb kSteppe{150, 140, 92};
const Rgb kGrass{92, 118, 58};
const Rgb kForest{40, 74, 36};
const Rgb kTundra{118, 116, 92};
const Rgb kRock{118, 106, 94};
const Rgb kHighRock{146, 140, 134};
const Rgb kSnow{236, 239, 244};
const Rgb kSeaIce{214, 224, 236};

inline uint8_t ToByte(float v) {
    return static_cast<uint8_t>(std::clamp(v + 0.5f, 0.0f, 255.0f));
}

}  // namespace

std::vector<uint8_t> RenderTileRgb(const TileAddress& tile) {
    // Elevation: fractal noise down to the pixel size of this zoom, so each
    // deeper level adds exactly the octaves that its pixels can resolve.
    const int lastOctave = LastOctave(tile.Zoom, 2.0);
    std::vector<Term> elevationTerms;
    float slopeNorm = 0.0f;  // expected height change per pixel, to keep relief even across zooms
    for (int k = 0; k <= lastOctave; ++k) {
        const float amp = k == 0 ? 0.45f : 0.9f * std::pow(0.52f, static_cast<float>(k - 1));
        elevationTerms.push_back({k, amp});
        slopeNorm += amp / static_cast<float>(CellPixels(tile.Zoom, k));
    }
    Field elevation;
    AddTerms(tile, elevationTerms, kElevationSeed, elevation);

    // Moisture decides between desert, grass and forest; smooth at pixel scale.
    std::vector<Term> moistureTerms;
    for (int k = 0; k <= std::min(lastOctave, LastOctave(tile.Zoom, 24.0)); ++k)
        moistureTerms.push_back({k, std::pow(0.55f, static_cast<float>(k))});
    Field moisture;
    AddTerms(tile, moistureTerms, kMoistureSeed, moisture);

    // Detail: texture relative to the view (fields, trees, rock, waves),
    // strongest at a few pixels and fading out towards a tile's width, so
    // every zoom level has the grain of real imagery.
    std::vector<Term> detailTerms;
    for (int k = 0; k <= lastOctave; ++k) {
        const double cell = CellPixels(tile.Zoom, k);
        if (cell >= 256.0) continue;
        const double l = std::log2(cell);
        const float w = l <= 4.0 ? 1.0f : static_cast<float>((8.0 - l) / 4.0);
        detailTerms.push_back({k, 0.5f * w});
    }
    Field detail;
    AddTerms(tile, detailTerms, kDetailSeed, detail);

    const float reliefGain = 0.9f / std::max(slopeNorm, 1e-6f);
    const double worldPixels = std::ldexp(static_cast<double>(kTileSize), tile.Zoom);
    const uint64_t grainRow0 = static_cast<uint64_t>(tile.Row) * kTileSize;
    const uint64_t grainCol0 = static_cast<uint64_t>(tile.Column) * kTileSize;

    std::vector<uint8_t> rgb(static_cast<size_t>(kTileSize * kTileSize * 3));
    for (int y = 0; y < kTileSize; ++y) {
        const double worldY = (static_cast<double>(tile.Row) * kTileSize + y + 0.5) / worldPixels;
        const float absLat = static_cast<float>(
            std::abs(std::atan(std::sinh(std::numbers::pi * (1.0 - 2.0 * worldY)))) * 180.0 /
            std::numbers::pi);
        // Snow comes down from the mountains to sea level towards the poles.
        const float snowLine = 0.62f - 0.62f * SmoothStep(40.0f, 82.0f, absLat);
        const float cold = SmoothStep(50.0f, 68.0f, absLat);
        uint8_t* out = &rgb[static_cast<size_t>(y * kTileSize * 3)];
        for (int x = 0; x < kTileSize; ++x) {
            const float e = elevation.At(x, y);
            const float d = detail.At(x, y);
            const float m = moisture.At(x, y);
            Rgb c;
            if (e < kSeaLevel) {
                const float depth = kSeaLevel - e;
                c = depth < 0.05f  ? Lerp(kCoastWater, kShallowWater, depth / 0.05f)
                    : depth < 0.2f ? Lerp(kShallowWater, kOpenWater, (depth - 0.05f) / 0.15f)
                                   : Lerp(kOpenWater, kDeepWater, (depth - 0.2f) / 0.3f);
                const float wave = 1.0f + 0.24f * d;
                c = {c.R * wave, c.G * wave, c.B * wave};
                // Pack ice: a ragged edge from the smooth moisture field, cracks from the detail.
                const float ice = SmoothStep(0.0f, 0.8f, absLat - 77.0f + 8.0f * m + 1.2f * d);
                c = Lerp(c, Lerp(kSeaIce, kOpenWater, 0.25f * SmoothStep(0.2f, 0.6f, d)), ice);
            } else {
                const float h = e - kSeaLevel;
                const float wet = SmoothStep(-0.35f, 0.35f, m + 0.25f * d);
                Rgb low = wet < 0.5f ? Lerp(kDesert, kSteppe, wet * 2.0f)
                                     : Lerp(kGrass, kForest, (wet - 0.5f) * 2.0f);
                low = Lerp(low, kTundra, cold);
                c = Lerp(kSand, low, SmoothStep(0.004f, 0.03f, h + 0.01f * d));
                c = Lerp(c, kRock, SmoothStep(0.22f, 0.42f, h + 0.08f * d));
                c = Lerp(c, kHighRock, SmoothStep(0.42f, 0.6f, h + 0.08f * d));
                c = Lerp(c, kSnow, SmoothStep(snowLine, snowLine + 0.06f, h + 0.05f * d));
                // Light from the north-west over the terrain and its texture.
                const float sx = (elevation.At(x + 1, y) - elevation.At(x - 1, y)) * reliefGain +
                                 (detail.At(x + 1, y) - detail.At(x - 1, y)) * 0.35f;
                const float sy = (elevation.At(x, y + 1) - elevation.At(x, y - 1)) * reliefGain +
                                 (detail.At(x, y + 1) - detail.At(x, y - 1)) * 0.35f;
                const float light = std::clamp(1.0f - 0.5f * (sx + sy) + 0.12f * d, 0.55f, 1.45f);
                c = {c.R * light, c.G * light, c.B * light};
            }
            const uint32_t g = Mix((grainRow0 + static_cast<uint64_t>(y)) << 32 ^
                                   (grainCol0 + static_cast<uint64_t>(x)) ^
                                   static_cast<uint64_t>(tile.Zoom) << 58 ^ kGrainSeed);
            const float grain = static_cast<float>(g & 7u) - 3.5f;
            out[x * 3 + 0] = ToByte(c.R + grain);
            out[x * 3 + 1] = ToByte(c.G + grain);
            out[x * 3 + 2] = ToByte(c.B + grain);
        }
    }
    return rgb;
}

namespace {

struct TjDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};

struct TjBufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

}  // namespace

std::string EncodeJpeg(const uint8_t* rgb, int width, int height, int quality) {
    // One compressor per thread: creating one costs more than a small tile.
    thread_local std::unique_ptr<void, TjDeleter> compressor(tjInitCompress());
    if (!compressor || rgb == nullptr || width <= 0 || height <= 0) return {};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(compressor.get(), rgb, width, 0, height, TJPF_RGB, &buffer, &size,
                               TJSAMP_420, std::clamp(quality, 1, 100), 0);
    std::unique_ptr<unsigned char, TjBufferDeleter> owned(buffer);
    if (rc != 0 || buffer == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(buffer), size);
}

std::string RenderTileJpeg(const std::string& letters, int quality) {
    const std::optional<TileAddress> tile = ParseTileLetters(letters);
    if (!tile) return {};
    const std::vector<uint8_t> rgb = RenderTileRgb(*tile);
    return EncodeJpeg(rgb.data(), kTileSize, kTileSize, quality);
}

}  // namespace vistrel::tileserver
