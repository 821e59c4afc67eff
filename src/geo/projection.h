#pragma once

// The spherical Mercator pixel grid: 256 x 256 pixel tiles, 2^z x 2^z of them
// at zoom z. Latitudes are north positive, longitudes WEST positive.
// Pure functions: no state, no allocation, callable from any thread.

inline constexpr int MinZoom = 1;
inline constexpr int MaxZoom = 20;
inline constexpr int TileSize = 256;

// Latitude to which PointAtDelta clamps; a hair outside the world's real edge
// (85.0511287798) on purpose.
inline constexpr double ClampLatitude = 85.05113;

// Grid coordinates in tiles, 0..2^z across the world. GridX grows westward
// (0 at 180 degrees east), GridY northward (0 at the southern edge).
double GridX(int z, double lon);
double GridY(int z, double lat);

struct TilePosition {
    int Column = 0;   // eastward from the 180 degree meridian, 0..2^z-1
    int Row = 0;      // southward from the northern edge, 0..2^z-1
    int XOffset = 0;  // pixels from the tile's west edge
    int YOffset = 0;  // pixels from the tile's north edge

    bool operator==(const TilePosition&) const = default;
};

// The tile holding a point and the point's pixel inside it. A point on a
// vertical tile boundary belongs to the tile east of it (x offset 0), one on a
// horizontal boundary to the tile north of it (y offset 256). Points outside
// the world keep the edge tile with an offset outside 0..256; offsets saturate
// at the int range instead of overflowing (lat >= 90 has no position at all:
// keep such values away, the result is only guaranteed not to be undefined).
TilePosition TileAt(int z, double lon, double lat);

struct PixelOffset {
    int Dx = 0;  // positive when B lies east of A
    int Dy = 0;  // positive when B lies south of A

    bool operator==(const PixelOffset&) const = default;
};

// Screen offset of B from A at zoom z, truncated toward zero. B's grid values
// go through single precision first, so from zoom 17 on each component can be
// off by up to 2^(z-17) pixels.
PixelOffset PixelDelta(int z, double lonA, double latA, double lonB, double latB);

// Moves (lon, lat) by (dx, dy) screen pixels at zoom z. The start is first
// snapped to the north-west corner of its pixel, so (0, 0) is not a no-op.
// The result is clamped to lat +-85.05113 and lon +-180; returns false when a
// clamp fired. Both values are written back in either case.
// Requires 1 <= z <= 20: resolving "the view's zoom" for a negative z is the
// caller's business (the core's overload taking the main state does it).
bool PointAtDelta(int dx, int dy, int z, double& lon, double& lat);

// A rectangular region: corner 1 (north-west) and corner 2 (south-east),
// degrees, longitudes west positive.
struct RegionCorners {
    double Lat1 = 0, Lon1 = 0, Lat2 = 0, Lon2 = 0;
};

struct RegionPixels {
    int Width = 0, Height = 0;  // pixels, never negative
};

// The region's size in pixels at zoom z: PixelDelta from corner 1 to corner
// 2. Every image, tile walk and size text of a region takes this one size,
// so a tile list always covers its image to the last row and column.
RegionPixels RegionPixelSize(int z, const RegionCorners& c);

// The tiles a walk from `corner` (TileAt of the region's corner 1) over
// width x height pixels visits, cut at the world's east and south edges
// rather than wrapping round to the other side.
struct TileSpan {
    long long Columns = 0, Rows = 0;
};
TileSpan RegionTileSpan(int z, const TilePosition& corner, int width, int height);
