#include "tasks/task_params.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "geo/projection.h"
#include "geo/tile_key.h"
#include "platform/numbers.h"
#include "tasks/tasks.h"

int64_t RegionTileCount(int z, const RegionCorners& c) {
    const RegionPixels size = RegionPixelSize(z, c);
    const TileSpan span = RegionTileSpan(z, TileAt(z, c.Lon1, c.Lat1), size.Width, size.Height);
    return span.Columns * span.Rows;
}

std::string TooManyTilesText(int64_t tiles) {
    return "Слишком большая область: " + FormatThousands(tiles) + " фрагментов, не более " +
           FormatThousands(MaxTaskTiles);
}

namespace {

// Longitude (west positive) and latitude of a fractional pixel of the
// world's grid at zoom z.
void PointOfPixel(int z, double px, double py, double& lon, double& lat) {
    const double world = std::ldexp(256.0, z);
    constexpr double pi = 3.14159265358979323846;
    lon = -(px / world * 360 - 180);
    lat = std::atan(std::sinh(pi * (1 - 2 * py / world))) * 180 / pi;
}

}  // namespace

void SnapRegionToTiles(int z, RegionCorners& c) {
    const RegionPixels size = RegionPixelSize(z, c);
    const TilePosition first = TileAt(z, c.Lon1, c.Lat1);
    const int64_t left = int64_t{TileSize} * first.Column + first.XOffset;
    const int64_t top = int64_t{TileSize} * first.Row + first.YOffset;
    const int64_t tileLeft = left / TileSize * TileSize, tileTop = top / TileSize * TileSize;
    const int64_t world = int64_t{TileSize} << z;
    const auto end = [&](int64_t start, int extent) {
        const int64_t last = start + std::max(extent, 1) - 1;
        return std::min((last / TileSize + 1) * TileSize, world);
    };
    // Inside the pixel, except at the world's edge, which has none beyond.
    // Corner 2 a little further in: the size is measured with corner 1 in
    // single precision.
    const auto inside = [&](int64_t pixel, double by) {
        return static_cast<double>(pixel) + (pixel < world ? by : 0.0);
    };
    PointOfPixel(z, inside(tileLeft, 0.125), inside(tileTop, 0.125), c.Lon1, c.Lat1);
    PointOfPixel(z, inside(end(left, size.Width), 0.375), inside(end(top, size.Height), 0.375),
                 c.Lon2, c.Lat2);
}

void OrderRegionCorners(int z, RegionCorners& c) {
    // Offset of corner 1 from corner 2: positive x when corner 2 is west of it.
    const PixelOffset d = PixelDelta(z, c.Lon2, c.Lat2, c.Lon1, c.Lat1);
    if (d.Dx > 0) std::swap(c.Lon1, c.Lon2);
    if (d.Dy > 0) std::swap(c.Lat1, c.Lat2);
    for (double* lat : {&c.Lat1, &c.Lat2}) {
        if (*lat > ClampLatitude) *lat = ClampLatitude;
        if (!(*lat >= -ClampLatitude)) *lat = -ClampLatitude;
    }
}

PieceSizeCheck CheckPieceSize(const std::string& text, int regionSize) {
    PieceSizeCheck check;
    if (!ParseInt(text, check.Value)) check.Value = -1;
    check.Accepted = check.Value >= 256 && check.Value < regionSize;
    return check;
}
