#include "geo/projection.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <random>

#include "geo/tile_key.h"

namespace {

// Readable test names from the case descriptions.
std::string CaseName(int index, const std::string& text) {
    std::string name = std::to_string(index) + "_";
    for (char ch : text) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
}

struct TileAtCase {
    const char* Name;
    int Zoom;
    double Lon, Lat;
    TilePosition Expected;
};

class TileAtTable : public testing::TestWithParam<TileAtCase> {};

TEST_P(TileAtTable, GivesTileAndOffsets) {
    const TileAtCase& c = GetParam();
    EXPECT_EQ(TileAt(c.Zoom, c.Lon, c.Lat), c.Expected) << c.Name;
}

// Moscow at zoom 10 lies in the tile rtqsrqrqrr: column 1001101011b, row 0101000000b.
INSTANTIATE_TEST_SUITE_P(
    Examples, TileAtTable,
    testing::Values(
        TileAtCase{"zoom 1, 10N 10E", 1, -10, 10, {1, 0, 14, 241}},
        TileAtCase{"zoom 3, 10N 10E", 3, -10, 10, {4, 3, 56, 198}},
        TileAtCase{"zoom 3, 10S 10W", 3, 10, -10, {3, 4, 199, 57}},
        TileAtCase{"zoom 3, 0 meridian goes east at offset 0", 3, 0, 10, {4, 3, 0, 198}},
        TileAtCase{"zoom 3, equator goes north at offset 256", 3, -10, 0, {4, 3, 56, 256}},
        TileAtCase{
            "zoom 1, north-east corner of the world", 1, -180, 85.0511287798, {1, 0, 256, 0}},
        TileAtCase{"zoom 10, Moscow", 10, -37.6173, 55.7558, {619, 320, 0, 26}},
        TileAtCase{"zoom 20, north of the edge", 20, 0.5, 85.05113, {522831, 0, 164, -10}},
        TileAtCase{"zoom 20, south of the edge", 20, 0.5, -85.05113, {522831, 1048575, 164, 266}},
        // 190 W: E = 2 - 2 * 370/360, 256 * E = -14.2.
        TileAtCase{"zoom 1, beyond the west edge", 1, 190, 10, {0, 0, -14, 241}},
        // 190 E: E = 2 + 2 * 10/360, 256 * (E - 1) = 270.2.
        TileAtCase{"zoom 1, beyond the east edge", 1, -190, 10, {1, 0, 270, 241}}),
    [](const auto& info) { return CaseName(static_cast<int>(info.index), info.param.Name); });

TEST(TileAt, TieBreaksHoldAtEveryZoom) {
    for (int z = MinZoom; z <= MaxZoom; ++z) {
        const int half = 1 << (z - 1);
        const TilePosition meridian = TileAt(z, 0, 10);
        EXPECT_EQ(meridian.Column, half) << z;
        EXPECT_EQ(meridian.XOffset, 0) << z;
        const TilePosition equator = TileAt(z, -10, 0);
        EXPECT_EQ(equator.Row, half - 1) << z;
        EXPECT_EQ(equator.YOffset, 256) << z;
    }
}

TEST(TileAt, LatitudesWithoutPositionStayDefined) {
    // No position exists; what matters is a defined, clamped result (run under UBSan).
    for (double lat : {90.0, -90.0, 95.0, std::nan("")}) {
        const TilePosition pos = TileAt(20, 0.5, lat);
        EXPECT_GE(pos.Row, 0);
        EXPECT_LE(pos.Row, (1 << 20) - 1);
    }
    // Saturates instead of wrapping (a plain conversion gives INT_MIN for both).
    EXPECT_EQ(TileAt(3, -1e300, 10).XOffset, INT_MAX);
    EXPECT_EQ(TileAt(3, 1e300, 10).XOffset, INT_MIN);
    EXPECT_EQ(TileAt(3, -10, 90).YOffset, INT_MIN);
}

TEST(PointAtDelta, ZeroOffsetSnapsToThePixelCorner) {
    double lon = -37.6173, lat = 55.7558;
    EXPECT_TRUE(PointAtDelta(0, 0, 10, lon, lat));
    EXPECT_EQ(lon, -37.6171875);
    EXPECT_NEAR(lat, 55.75648626598, 1e-10);
}

struct ClampCase {
    const char* Name;
    int Dx, Dy, Zoom;
    double ExpectLon, ExpectLat;  // NAN: not clamped, just checked inside
    bool ExpectInside;
};

class PointAtDeltaClamp : public testing::TestWithParam<ClampCase> {};

TEST_P(PointAtDeltaClamp, ClampsToTheWorldAndReportsIt) {
    const ClampCase& c = GetParam();
    double lon = -37.6173, lat = 55.7558;
    EXPECT_EQ(PointAtDelta(c.Dx, c.Dy, c.Zoom, lon, lat), c.ExpectInside) << c.Name;
    if (!std::isnan(c.ExpectLon)) {
        EXPECT_NEAR(lon, c.ExpectLon, 1e-10) << c.Name;
    }
    if (!std::isnan(c.ExpectLat)) {
        EXPECT_NEAR(lat, c.ExpectLat, 1e-10) << c.Name;
    }
    EXPECT_LE(lat, ClampLatitude);
    EXPECT_GE(lat, -ClampLatitude);
    EXPECT_LE(lon, 180);
    EXPECT_GE(lon, -180);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, PointAtDeltaClamp,
    testing::Values(
        // The latitude stays that of the starting pixel's north edge.
        ClampCase{"far east", 100000, 0, 3, -180, 55.7765730186, false},
        ClampCase{"far west", -100000, 0, 3, 180, 55.7765730186, false},
        ClampCase{"far north", 0, -100000, 3, NAN, ClampLatitude, false},
        ClampCase{"far south", 0, 100000, 3, NAN, -ClampLatitude, false},
        ClampCase{"north-east corner", 100000, -100000, 3, -180, ClampLatitude, false},
        // Would overflow 32-bit pixel arithmetic.
        ClampCase{"largest offsets", INT_MAX, INT_MIN, 20, -180, ClampLatitude, false},
        ClampCase{"smallest offsets", INT_MIN, INT_MAX, 20, 180, -ClampLatitude, false},
        ClampCase{"a small move stays inside", 10, 10, 3, NAN, NAN, true}),
    [](const auto& info) { return CaseName(static_cast<int>(info.index), info.param.Name); });

TEST(PointAtDelta, NorthEdgeOfTheWorldIsInsideTheClampBound) {
    // Row 0, offset 0 is the world's edge 85.0511287798, below the bound 85.05113.
    double lon = 0.5, lat = 80;
    const TilePosition start = TileAt(5, lon, lat);
    EXPECT_TRUE(PointAtDelta(0, -(256 * start.Row + start.YOffset), 5, lon, lat));
    EXPECT_NEAR(lat, 85.0511287798, 1e-9);
}

struct DeltaCase {
    const char* Name;
    int Zoom;
    double LonA, LatA, LonB, LatB;
    PixelOffset Expected;
};

class PixelDeltaTable : public testing::TestWithParam<DeltaCase> {};

TEST_P(PixelDeltaTable, GivesTheTruncatedScreenOffset) {
    const DeltaCase& c = GetParam();
    EXPECT_EQ(PixelDelta(c.Zoom, c.LonA, c.LatA, c.LonB, c.LatB), c.Expected) << c.Name;
}

// At zoom 10 one pixel is 360/262144 degrees of longitude, and about as much
// latitude at the equator.
constexpr double Px10 = 360.0 / 262144;

INSTANTIATE_TEST_SUITE_P(
    Examples, PixelDeltaTable,
    testing::Values(DeltaCase{"B a quarter world east", 1, 0, 0, -90, 0, {128, 0}},
                    DeltaCase{"B a quarter world west", 1, 0, 0, 90, 0, {-128, 0}},
                    DeltaCase{"-0.7 px truncates to 0", 10, 0, 0, 0.7 * Px10, 0, {0, 0}},
                    DeltaCase{"+0.7 px truncates to 0", 10, 0, 0, -0.7 * Px10, 0, {0, 0}},
                    DeltaCase{"-1.3 px truncates to -1", 10, 0, 0, 1.3 * Px10, 0, {-1, 0}},
                    DeltaCase{"+1.3 px truncates to 1", 10, 0, 0, -1.3 * Px10, 0, {1, 0}},
                    DeltaCase{"0.7 px south truncates to 0", 10, 0, 0, 0, -0.7 * Px10, {0, 0}},
                    DeltaCase{"1.3 px south gives 1", 10, 0, 0, 0, -1.3 * Px10, {0, 1}},
                    DeltaCase{"1.3 px north gives -1", 10, 0, 0, 0, 1.3 * Px10, {0, -1}}),
    [](const auto& info) { return CaseName(static_cast<int>(info.index), info.param.Name); });

struct RandomPoint {
    double Lon, Lat;
};

class RandomPoints {
  public:
    explicit RandomPoints(double maxLon, double maxLat, unsigned seed = 20240601)
        : Engine(seed), LonDist(-maxLon, maxLon), LatDist(-maxLat, maxLat) {}
    RandomPoint Next() { return {LonDist(Engine), LatDist(Engine)}; }
    int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(Engine); }

  private:
    std::mt19937_64 Engine;
    std::uniform_real_distribution<double> LonDist, LatDist;
};

TEST(PixelDelta, SelfDeltaShowsOnlyTheSinglePrecisionRounding) {
    RandomPoints points(180, 85.05);
    for (int z = MinZoom; z <= MaxZoom; ++z) {
        const int bound = z <= 16 ? 0 : 1 << (z - 17);
        int largest = 0;
        for (int i = 0; i < 3000; ++i) {
            const RandomPoint p = points.Next();
            const PixelOffset d = PixelDelta(z, p.Lon, p.Lat, p.Lon, p.Lat);
            ASSERT_LE(std::abs(d.Dx), bound) << "zoom " << z;
            ASSERT_LE(std::abs(d.Dy), bound) << "zoom " << z;
            largest = std::max({largest, std::abs(d.Dx), std::abs(d.Dy)});
        }
        // The rounding of B is real: from zoom 18 on it must show up (the
        // bound itself needs an exact tie, so half of it is what random points reach).
        if (z >= 18) {
            EXPECT_GE(largest, bound / 2) << "zoom " << z;
        }
    }
}

TEST(PointAtDelta, MovesByTheGivenPixelsAtEveryZoom) {
    RandomPoints points(135, 60);
    for (int z = MinZoom; z <= MaxZoom; ++z) {
        const int range = std::min(2000, (256 << z) / 8);
        const int floatBound = z <= 16 ? 0 : 1 << (z - 17);
        for (int i = 0; i < 500; ++i) {
            const RandomPoint p = points.Next();
            const int dx = points.Int(-range, range);
            const int dy = points.Int(-range, range);

            double startLon = p.Lon, startLat = p.Lat;
            ASSERT_TRUE(PointAtDelta(0, 0, z, startLon, startLat));
            double lon = p.Lon, lat = p.Lat;
            ASSERT_TRUE(PointAtDelta(dx, dy, z, lon, lat)) << "zoom " << z;

            // The moved point is the corner of the expected pixel; reading it
            // back may land a rounding error inside the pixel west or north.
            const TilePosition from = TileAt(z, p.Lon, p.Lat);
            const TilePosition to = TileAt(z, lon, lat);
            const long long wantX = 256LL * from.Column + from.XOffset + dx;
            const long long wantY = 256LL * from.Row + from.YOffset + dy;
            const long long missX = wantX - (256LL * to.Column + to.XOffset);
            const long long missY = wantY - (256LL * to.Row + to.YOffset);
            ASSERT_TRUE(missX == 0 || missX == 1) << "zoom " << z << " miss " << missX;
            ASSERT_TRUE(missY == 0 || missY == 1) << "zoom " << z << " miss " << missY;

            // PixelDelta from the snapped start gives the offset back.
            const PixelOffset back = PixelDelta(z, startLon, startLat, lon, lat);
            ASSERT_LE(std::abs(back.Dx - dx), 1 + floatBound) << "zoom " << z;
            ASSERT_LE(std::abs(back.Dy - dy), 1 + floatBound) << "zoom " << z;
        }
    }
}

TEST(TileAt, AgreesWithTheKeyWalkEverywhere) {
    // Includes points a little outside the world, where both keep the edge tile.
    RandomPoints points(185, 86);
    for (int z = MinZoom; z <= MaxZoom; ++z) {
        for (int i = 0; i < 3000; ++i) {
            const RandomPoint p = points.Next();
            const TilePosition pos = TileAt(z, p.Lon, p.Lat);
            const TileKey key = TileKeyAt(z, p.Lon, p.Lat, "src");
            const TileIndex tile = KeyToTile(key.Key, 3);
            ASSERT_EQ(tile.Zoom, z);
            ASSERT_EQ(tile.Column, pos.Column) << "zoom " << z << " lon " << p.Lon;
            ASSERT_EQ(tile.Row, pos.Row) << "zoom " << z << " lat " << p.Lat;
            ASSERT_EQ(key.XOffset, pos.XOffset) << "zoom " << z << " lon " << p.Lon;
            ASSERT_EQ(key.YOffset, pos.YOffset) << "zoom " << z << " lat " << p.Lat;
        }
    }
}

}  // namespace
