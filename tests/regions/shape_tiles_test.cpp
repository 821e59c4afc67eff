// The tiles of shapes against a brute-force reference: every tile of the
// bounding box tested against the shape on its own.
#include "regions/shape_tiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <tuple>

#include "geo/projection.h"

namespace {

using Tile = std::pair<int, int>;  // column, row

struct Xy {
    double X, Y;
};

// Grid position in tiles, x east from 180 degrees west (not wrapped), y south.
Xy Grid(int z, const ShapePoint& p) {
    const double n = std::pow(2.0, z);
    return {n - GridX(z, p.Lon), n - GridY(z, p.Lat)};
}

// Whether segment a-b meets the closed box [x0,x1] x [y0,y1] (Liang-Barsky).
bool SegmentMeetsBox(Xy a, Xy b, double x0, double y0, double x1, double y1) {
    double t0 = 0, t1 = 1;
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.X - x0, x1 - a.X, a.Y - y0, y1 - a.Y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
        } else {
            const double t = q[i] / p[i];
            if (p[i] < 0)
                t0 = std::max(t0, t);
            else
                t1 = std::min(t1, t);
        }
    }
    return t0 <= t1;
}

double PointSegmentDistance(Xy p, Xy a, Xy b) {
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    const double len2 = dx * dx + dy * dy;
    const double t =
        len2 == 0 ? 0 : std::clamp(((p.X - a.X) * dx + (p.Y - a.Y) * dy) / len2, 0.0, 1.0);
    return std::hypot(p.X - a.X - t * dx, p.Y - a.Y - t * dy);
}

double SegmentBoxDistance(Xy a, Xy b, double x0, double y0, double x1, double y1) {
    if (SegmentMeetsBox(a, b, x0, y0, x1, y1)) return 0;
    auto boxDist = [&](Xy p) {
        return std::hypot(std::max({x0 - p.X, 0.0, p.X - x1}), std::max({y0 - p.Y, 0.0, p.Y - y1}));
    };
    double d = std::min(boxDist(a), boxDist(b));
    for (Xy c : {Xy{x0, y0}, Xy{x1, y0}, Xy{x0, y1}, Xy{x1, y1}})
        d = std::min(d, PointSegmentDistance(c, a, b));
    return d;
}

// Winding number by summing the signed angles the ring turns about p.
int WindingByAngles(Xy p, const std::vector<Xy>& ring) {
    double sum = 0;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const Xy a = ring[i], b = ring[(i + 1) % ring.size()];
        sum += std::atan2((a.X - p.X) * (b.Y - p.Y) - (a.Y - p.Y) * (b.X - p.X),
                          (a.X - p.X) * (b.X - p.X) + (a.Y - p.Y) * (b.Y - p.Y));
    }
    return static_cast<int>(std::lround(sum / (2 * 3.141592653589793)));
}

struct GridPolygon {
    std::vector<Xy> Outer;
    std::vector<std::vector<Xy>> Holes;
};

// Metres per tile at a latitude, from the equator's length.
double TileMetres(int z, double lat) {
    return 40075016.685578488 * std::cos(lat * 3.141592653589793 / 180) / std::pow(2.0, z);
}

// The reference tile set of a shape given in unwrapped longitudes.
std::set<Tile> Reference(const RegionShape& shape, int z) {
    std::vector<GridPolygon> polygons;
    double xmin = 1e300, xmax = -1e300, ymin = 1e300, ymax = -1e300;
    auto grow = [&](Xy p, double r) {
        xmin = std::min(xmin, p.X - r), xmax = std::max(xmax, p.X + r);
        ymin = std::min(ymin, p.Y - r), ymax = std::max(ymax, p.Y + r);
    };
    for (const GeoPolygon& g : shape.Polygons) {
        GridPolygon p;
        for (const ShapePoint& q : g.Outer) p.Outer.push_back(Grid(z, q)), grow(p.Outer.back(), 0);
        for (const GeoPath& h : g.Holes) {
            p.Holes.emplace_back();
            for (const ShapePoint& q : h) p.Holes.back().push_back(Grid(z, q));
        }
        polygons.push_back(p);
    }
    struct Segment {
        Xy A, B;
        double R;
    };
    std::vector<Segment> segments;
    for (const GeoPath& line : shape.Lines) {
        for (std::size_t i = 0; i + 1 < line.size(); ++i) {
            const double r = shape.CorridorWidth / 2 /
                             std::min(TileMetres(z, line[i].Lat), TileMetres(z, line[i + 1].Lat));
            segments.push_back({Grid(z, line[i]), Grid(z, line[i + 1]), r});
            grow(segments.back().A, r), grow(segments.back().B, r);
        }
    }
    const int n = 1 << z;
    std::set<Tile> tiles;
    for (int c = static_cast<int>(std::floor(xmin)); c < xmax; ++c) {
        for (int r = std::max(0, static_cast<int>(std::floor(ymin))); r < ymax && r < n; ++r) {
            bool in = false;
            const Xy centre{c + 0.5, r + 0.5};
            for (const GridPolygon& p : polygons) {
                auto rings = p.Holes;
                rings.push_back(p.Outer);
                for (const auto& ring : rings)
                    for (std::size_t i = 0; i < ring.size(); ++i)
                        in = in || SegmentMeetsBox(ring[i], ring[(i + 1) % ring.size()], c, r,
                                                   c + 1, r + 1);
                bool inHole = false;
                for (const auto& h : p.Holes) inHole = inHole || WindingByAngles(centre, h) != 0;
                in = in || (WindingByAngles(centre, p.Outer) != 0 && !inHole);
            }
            for (const Segment& s : segments)
                in = in || SegmentBoxDistance(s.A, s.B, c, r, c + 1, r + 1) < s.R;
            if (in) tiles.insert({((c % n) + n) % n, r});
        }
    }
    return tiles;
}

std::vector<Tile> CursorTiles(const RegionShape& shape, int z) {
    ShapeTileCursor cursor(shape, z);
    std::vector<Tile> tiles;
    TileIndex t;
    while (cursor.Next(t)) {
        EXPECT_EQ(t.Zoom, z);
        tiles.push_back({t.Column, t.Row});
    }
    return tiles;
}

GeoPath Path(std::initializer_list<std::pair<double, double>> lonEastLat) {
    GeoPath path;
    for (auto [lon, lat] : lonEastLat) path.push_back({-lon, lat});
    return path;
}

struct ShapeCase {
    const char* Name;
    int Zoom;
    RegionShape Shape;
};

RegionShape Polygons(std::vector<GeoPolygon> polygons) {
    RegionShape s;
    s.Polygons = std::move(polygons);
    return s;
}

RegionShape Corridor(GeoPath line, double width) {
    RegionShape s;
    s.Lines = {std::move(line)};
    s.CorridorWidth = width;
    return s;
}

const GeoPath Route = Path({{37.6123, 55.7512},
                            {37.6391, 55.7601},
                            {37.6602, 55.7433},
                            {37.6519, 55.7301},
                            {37.6897, 55.7288}});

std::vector<ShapeCase> Cases() {
    return {
        {"triangle", 12,
         Polygons({{Path({{10.013, 50.021}, {11.377, 50.903}, {10.941, 49.402}}), {}}})},
        {"polygon with a hole", 11,
         Polygons({{Path({{5.03, 45.01}, {7.97, 45.12}, {8.11, 47.03}, {4.92, 46.87}}),
                    {Path({{5.73, 45.61}, {7.21, 45.77}, {6.49, 46.41}})}}})},
        {"multipolygon, overlapping parts", 10,
         Polygons({{Path({{-3.1, 40.2}, {-1.3, 40.1}, {-2.2, 41.9}}), {}},
                   {Path({{-2.5, 41.1}, {0.7, 41.2}, {0.4, 43.3}, {-2.6, 42.8}}), {}},
                   {Path({{3.3, 39.1}, {4.1, 39.2}, {3.7, 39.8}}), {}}})},
        {"self-crossing ring", 9,
         Polygons({{Path({{20.1, 10.2}, {25.3, 14.9}, {25.2, 10.1}, {20.2, 15.1}}), {}}})},
        {"corridor at zoom 10", 10,
         Corridor(Path({{37.21, 55.52}, {37.93, 55.91}, {38.41, 55.63}, {38.12, 55.21}}), 3000)},
        {"corridor at zoom 15", 15, Corridor(Route, 1000)},
        {"corridor at zoom 18", 18, Corridor(Route, 150)},
        {"corridor and polygon", 14,
         [] {
             RegionShape s = Corridor(Route, 400);
             s.Polygons = {{Path({{37.70, 55.70}, {37.75, 55.71}, {37.72, 55.74}}), {}}};
             return s;
         }()},
    };
}

TEST(ShapeTiles, MatchReferenceAndComeInListOrder) {
    for (const ShapeCase& c : Cases()) {
        SCOPED_TRACE(c.Name);
        const std::vector<Tile> tiles = CursorTiles(c.Shape, c.Zoom);
        EXPECT_GT(tiles.size(), 3u);
        EXPECT_EQ(std::set<Tile>(tiles.begin(), tiles.end()), Reference(c.Shape, c.Zoom));
        // Rightmost column first, each column bottom to top, no tile twice.
        for (std::size_t i = 1; i < tiles.size(); ++i)
            EXPECT_TRUE(
                tiles[i].first < tiles[i - 1].first ||
                (tiles[i].first == tiles[i - 1].first && tiles[i].second < tiles[i - 1].second))
                << i;
        EXPECT_EQ(CountShapeTiles(c.Shape, c.Zoom), static_cast<long long>(tiles.size()));
    }
}

TEST(ShapeTiles, ShapeAcrossTheAntimeridianTakesBothSides) {
    // Written the way files write it: 175 E to 175 W, unwrapped for the reference.
    RegionShape raw =
        Polygons({{Path({{175.3, -15.2}, {-175.4, -16.1}, {-176.2, -19.7}, {176.1, -18.9}}), {}}});
    const RegionShape unwrapped =
        Polygons({{Path({{175.3, -15.2}, {184.6, -16.1}, {183.8, -19.7}, {176.1, -18.9}}), {}}});
    RegionShape shape = raw;
    NormalizeShape(shape);
    ASSERT_EQ(shape.Polygons.size(), 2u);
    const std::vector<Tile> tiles = CursorTiles(shape, 8);
    const std::set<Tile> reference = Reference(unwrapped, 8);
    EXPECT_EQ(std::set<Tile>(tiles.begin(), tiles.end()), reference);
    EXPECT_EQ(tiles.size(), reference.size());
    EXPECT_EQ(tiles.front().first, 255);  // world column order: just west of 180 E first
    const TileRange range = ShapeTileRange(shape, 8);
    int west = 255, east = 0;  // of the block that wraps past column 255
    for (const Tile& t : tiles)
        (t.first >= 128 ? west : east) =
            t.first >= 128 ? std::min(west, t.first) : std::max(east, t.first);
    EXPECT_EQ(range.FirstColumn, west);
    EXPECT_EQ(range.FirstColumn + range.Columns - 1 - 256, east);
    EXPECT_LT(TileRangeCorners(8, range).Lon2, -180);
}

TEST(ShapeTiles, ALineAcrossTheAntimeridianKeepsItsCorridorOnBothSides) {
    RegionShape shape = Corridor(Path({{179.9, 0.3}, {-179.8, 0.4}}), 5000);
    NormalizeShape(shape);
    ASSERT_EQ(shape.Lines.size(), 2u);
    const RegionShape unwrapped = Corridor(Path({{179.9, 0.3}, {180.2, 0.4}}), 5000);
    const std::vector<Tile> tiles = CursorTiles(shape, 10);
    EXPECT_EQ(std::set<Tile>(tiles.begin(), tiles.end()), Reference(unwrapped, 10));
}

TEST(ShapeTiles, ShapeInsideOneTileGivesThatTile) {
    const RegionShape shape =
        Polygons({{Path({{37.61731, 55.75581}, {37.61742, 55.75583}, {37.61735, 55.75592}}), {}}});
    const TilePosition pos = TileAt(16, -37.61735, 55.75585);
    EXPECT_EQ(CursorTiles(shape, 16), (std::vector<Tile>{{pos.Column, pos.Row}}));
    EXPECT_EQ(ShapeTileRange(shape, 16), (TileRange{pos.Column, 1, pos.Row, 1}));
}

TEST(ShapeTiles, PolygonOnTileEdgesTakesOnlyTheTilesItCovers) {
    // Two tiles wide and one high, its edges on tile edges (zoom 1 halves).
    RegionShape shape =
        Polygons({{Path({{-180, 85.0511287798}, {180, 85.0511287798}, {180, 0}, {-180, 0}}), {}}});
    EXPECT_EQ(CursorTiles(shape, 1), (std::vector<Tile>{{1, 0}, {0, 0}}));
}

TEST(ShapeTiles, CorridorWidthIsMetresOnTheGround) {
    // A line along the middle of a row of tiles: the band spills into the rows
    // above and below only when half its width passes half a tile.
    struct Case {
        double Lat;
        double Width;
        int Rows;
    } cases[] = {{0, 1000, 1}, {0, 1300, 3}, {60, 500, 1}, {60, 700, 3}};
    const int z = 15;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Lat + c.Width);
        // The latitude of the middle of the row holding c.Lat.
        const TilePosition pos = TileAt(z, 0, c.Lat);
        double lon = 0, lat = c.Lat;
        PointAtDelta(0, 128 - pos.YOffset, z, lon, lat);
        const RegionShape shape = Corridor({{-10.001, lat}, {-10.02, lat}}, c.Width);
        const TileRange range = ShapeTileRange(shape, z);
        EXPECT_EQ(range.Rows, c.Rows);
    }
}

TEST(ShapeTiles, EmptyShapeHasNoTiles) {
    TileIndex t;
    EXPECT_FALSE(ShapeTileCursor(RegionShape{}, 12).Next(t));
    EXPECT_EQ(CountShapeTiles(RegionShape{}, 12), 0);
    EXPECT_EQ(ShapeTileRange(RegionShape{}, 12).Columns, 0);
}

}  // namespace

namespace {

TEST(ShapeTiles, ImpossibleValuesGiveNoTilesRatherThanACrash) {
    const double nan = std::nan(""), inf = HUGE_VAL;
    const ShapePoint bad[] = {{nan, 10}, {inf, 10}, {10, -inf}, {1e300, 10}, {-1e300, 89.9999999}};
    for (const ShapePoint& b : bad) {
        SCOPED_TRACE(b.Lon);
        RegionShape shape = Polygons({{{{10, 10}, b, {11, 11}}, {}}});
        shape.Lines = {{{10, 10}, b}};
        CountShapeTiles(shape, 12);
        NormalizeShape(shape);
        EXPECT_TRUE(shape.Polygons.empty());
        EXPECT_EQ(CountShapeTiles(shape, 12), CountShapeTiles(Corridor({{10, 10}}, 1000), 12));
    }
    const RegionShape fine = Polygons({{Path({{1, 1}, {2, 1}, {2, 2}}), {}}});
    EXPECT_EQ(CountShapeTiles(fine, 0), 0);
    EXPECT_EQ(CountShapeTiles(fine, 25), 0);
}

}  // namespace

namespace {

TEST(ShapeTiles, BlockCornersAreTheCornersOfItsTiles) {
    const ShapeCase c = Cases()[1];  // the polygon with a hole
    const TileRange range = ShapeTileRange(c.Shape, c.Zoom);
    const RegionCorners corners = TileRangeCorners(c.Zoom, range);
    const TilePosition first = TileAt(c.Zoom, corners.Lon1 - 1e-9, corners.Lat1 - 1e-9);
    EXPECT_EQ(first.Column, range.FirstColumn);
    EXPECT_EQ(first.Row, range.FirstRow);
    const RegionPixels size = RegionPixelSize(c.Zoom, corners);
    EXPECT_EQ(size.Width, range.Columns * 256);
    EXPECT_EQ(size.Height, range.Rows * 256);
}

}  // namespace
