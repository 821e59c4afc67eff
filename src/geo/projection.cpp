#include "geo/projection.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "geo/pixel_math.h"

namespace {

// The doubles nearest to the values named. The formulas multiply by the
// reciprocals rather than divide, so that every result is reproducible to the
// bit wherever it is computed.
constexpr double P = 3.141592653589793;        // pi
constexpr double H = 1.5707963267948966;       // pi / 2
constexpr double K180 = 0.005555555555555556;  // 1 / 180
constexpr double K360 = 0.002777777777777778;  // 1 / 360
constexpr double KP = 0.3183098861837907;      // 1 / pi

double GridXOf(double tiles, double lon) {
    return tiles * ((lon + 180) * K360);
}

double GridYOf(double tiles, double lat) {
    return tiles * (1 - std::log(std::tan((H - lat * P * K180) * 0.5)) * KP) * 0.5;
}

// floor() limited to 0..last; NaN goes to 0 so that the int conversion is defined.
double LimitedFloor(double value, double last) {
    double cell = std::floor(value);
    if (!(cell >= 0)) cell = 0;
    if (cell > last) cell = last;
    return cell;
}

}  // namespace

double GridX(int z, double lon) {
    return GridXOf(std::pow(2.0, z), lon);
}

double GridY(int z, double lat) {
    return GridYOf(std::pow(2.0, z), lat);
}

TilePosition TileAt(int z, double lon, double lat) {
    const double tiles = std::pow(2.0, z);
    const double last = tiles - 1;
    const double east = tiles - GridXOf(tiles, lon);
    const double north = GridYOf(tiles, lat);

    const double column = LimitedFloor(east, last);
    const double southRow = LimitedFloor(north, last);

    TilePosition pos;
    pos.Column = static_cast<int>(column);
    pos.XOffset = TruncToInt(256 * (east - column));
    pos.YOffset = TruncToInt(256 - 256 * (north - southRow));
    pos.Row = static_cast<int>(last - southRow);
    return pos;
}

PixelOffset PixelDelta(int z, double lonA, double latA, double lonB, double latB) {
    const double tiles = std::pow(2.0, z);
    const double xa = GridXOf(tiles, lonA);
    const double ya = GridYOf(tiles, latA);
    // B is deliberately rounded to single precision: callers (and saved
    // selections) rely on exactly this snapping at the deepest zoom levels.
    const double xb = static_cast<float>(GridXOf(tiles, lonB));
    const double yb = static_cast<float>(GridYOf(tiles, latB));
    return {TruncToInt(256 * (xa - xb)), TruncToInt(256 * (ya - yb))};
}

bool PointAtDelta(int dx, int dy, int z, double& lon, double& lat) {
    assert(z >= MinZoom && z <= MaxZoom);
    const TilePosition pos = TileAt(z, lon, lat);
    const double w = 256 * std::pow(2.0, z);
    // 64-bit so that a huge delta clamps instead of overflowing.
    const double px = static_cast<double>(int64_t{256} * pos.Column + pos.XOffset + dx);
    const double py = static_cast<double>(int64_t{256} * pos.Row + pos.YOffset + dy);

    double newLon = (w - px) / w * 360 - 180;
    double newLat = (H - 2 * std::atan(std::exp((1 - 2 * (w - py) / w) * P))) * KP * 180;

    bool inside = true;
    if (newLat > ClampLatitude) {
        newLat = ClampLatitude;
        inside = false;
    }
    if (!(newLat >= -ClampLatitude)) {
        newLat = -ClampLatitude;
        inside = false;
    }
    if (newLon > 180) {
        newLon = 180;
        inside = false;
    }
    if (!(newLon >= -180)) {
        newLon = -180;
        inside = false;
    }
    lon = newLon;
    lat = newLat;
    return inside;
}

RegionPixels RegionPixelSize(int z, const RegionCorners& c) {
    const PixelOffset d = PixelDelta(z, c.Lon1, c.Lat1, c.Lon2, c.Lat2);
    return {std::abs(d.Dx), std::abs(d.Dy)};
}

TileSpan RegionTileSpan(int z, const TilePosition& corner, int width, int height) {
    auto steps = [](int offset, int size) {
        return static_cast<long long>(size) + offset <= 0
                   ? 0LL
                   : (static_cast<long long>(size) + offset + TileSize - 1) / TileSize;
    };
    const long long tiles = 1LL << z;
    return {std::clamp(steps(corner.XOffset, width), 0LL, tiles - corner.Column),
            std::clamp(steps(corner.YOffset, height), 0LL, tiles - corner.Row)};
}
