#include "formats/world_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <sstream>
#include <vector>

#include "geo/projection.h"
#include "geo/tile_key.h"
#include "support/temp_dir.h"

namespace {

constexpr double Pi = 3.141592653589793;
constexpr double Radius = 6378137.0;

// EPSG:3857 metres of a point, longitude west positive as inside the program;
// the textbook formulas, not the grid the writer works in.
double MercatorX(double lon) {
    return Radius * (-lon) * Pi / 180;
}
double MercatorY(double lat) {
    return Radius * std::log(std::tan(Pi / 4 + lat * Pi / 360));
}

struct Transform {
    double A, D, B, E, C, F;
};

Transform ReadWorldFile(const std::string& path) {
    std::string text;
    EXPECT_TRUE(ReadWholeFile(path, text)) << path;
    std::istringstream in(text);
    Transform t{};
    in >> t.A >> t.D >> t.B >> t.E >> t.C >> t.F;
    EXPECT_FALSE(in.fail()) << text;
    return t;
}

struct CornerCase {
    int Zoom;
    double Lat, Lon;  // somewhere near the image's top-left corner
    int Width, Height;
    double PixelSize;  // metres, from the common tables of the XYZ scheme
};

class WorldFileCorners : public testing::TestWithParam<CornerCase> {};

// The corners the ".map" of the same image holds (top-left as the stitch
// passes it, bottom-right by PointAtDelta) against the world file's.
TEST_P(WorldFileCorners, AgreeWithTheCalibrationCorners) {
    const CornerCase& c = GetParam();
    // The stitch's top-left corner is a pixel corner that PointAtDelta made.
    double lat = c.Lat, lon = c.Lon;
    PointAtDelta(3, 5, c.Zoom, lon, lat);

    TempDir dir;
    WorldFileParams params;
    params.Zoom = c.Zoom;
    WorldPixelAt(c.Zoom, lat, lon, params.Left, params.Top);
    params.Width = c.Width;
    params.Height = c.Height;
    params.ImagePath = dir.File("image.jpg");
    ASSERT_TRUE(WriteWorldFile(params));

    const Transform t = ReadWorldFile(dir.File("image.jgw"));
    EXPECT_NEAR(t.A, c.PixelSize, c.PixelSize * 1e-9);
    EXPECT_EQ(t.D, 0);
    EXPECT_EQ(t.B, 0);
    EXPECT_EQ(t.E, -t.A);

    double bottomLat = lat, rightLon = lon;
    PointAtDelta(c.Width, c.Height, c.Zoom, rightLon, bottomLat);
    // The world file names the top-left pixel's centre.
    const double west = t.C - t.A / 2, north = t.F - t.E / 2;
    const double east = west + c.Width * t.A, south = north + c.Height * t.E;
    const double tolerance = c.PixelSize * 1e-3;
    EXPECT_NEAR(east, MercatorX(rightLon), tolerance);
    EXPECT_NEAR(south, MercatorY(bottomLat), tolerance);
    // The ".map" names the top-left corner as given, which may lie a rounding
    // error below the boundary of the pixel row the image starts with.
    EXPECT_NEAR(west, MercatorX(lon), tolerance);
    EXPECT_LE(MercatorY(lat), north + tolerance);
    EXPECT_GE(MercatorY(lat), north - c.PixelSize - tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Zooms, WorldFileCorners,
    testing::Values(CornerCase{3, 60, -30, 512, 512, 19567.87923828125},
                    CornerCase{13, 55.7558, -37.6173, 1001, 777, 19.109257071294063},
                    CornerCase{20, -33.8568, -151.2153, 4096, 3000, 0.14929107086948487},
                    CornerCase{20, 40.6892, 74.0445, 255, 1, 0.14929107086948487}),
    [](const auto& info) {
        return "Zoom" + std::to_string(info.param.Zoom) + "_" + std::to_string(info.index);
    });

TEST(WorldFile, TheWholeWorldAtZoomOneSpansTheMercatorSquare) {
    TempDir dir;
    WorldFileParams params{1, 0, 0, 512, 512, dir.File("world.jpg")};
    ASSERT_TRUE(WriteWorldFile(params));
    const Transform t = ReadWorldFile(dir.File("world.jgw"));
    const double half = Pi * Radius;
    EXPECT_NEAR(t.C - t.A / 2, -half, 1e-6);
    EXPECT_NEAR(t.F - t.E / 2, half, 1e-6);
    EXPECT_NEAR(t.C - t.A / 2 + 512 * t.A, half, 1e-6);
    EXPECT_NEAR(t.F - t.E / 2 + 512 * t.E, -half, 1e-6);
}

TEST(WorldFile, TheTopLeftPixelIsWhereTheStitchsTileListStarts) {
    // The tile list takes its first tile and offsets from TileKeyAt; the
    // world file must describe those pixels, also for corners that
    // PointAtDelta made a rounding error off their pixel boundary.
    const std::string source = "http://h/kh?t=t";
    std::mt19937_64 random(7);
    for (int zoom : {1, 3, 13, 17, 20}) {
        const int64_t world = int64_t{256} << zoom;
        for (int i = 0; i < 3000; ++i) {
            double lon = 180, lat = ClampLatitude;
            PointAtDelta(static_cast<int>(random() % static_cast<uint64_t>(world)),
                         static_cast<int>(random() % static_cast<uint64_t>(world)), zoom, lon, lat);
            const TileKey key = TileKeyAt(zoom, lon, lat, source);
            const TileIndex tile = KeyToTile(key.Key, source.size());
            int64_t left = -1, top = -1;
            WorldPixelAt(zoom, lat, lon, left, top);
            ASSERT_EQ(left, int64_t{256} * tile.Column + key.XOffset) << zoom;
            ASSERT_EQ(top, int64_t{256} * tile.Row + key.YOffset) << zoom;
        }
    }
    int64_t left = 0, top = 0;
    WorldPixelAt(3, 10, -10, left, top);  // tile rtt, offsets (56, 198)
    EXPECT_EQ(left, 256 * 4 + 56);
    EXPECT_EQ(top, 256 * 3 + 198);
}

TEST(WorldFile, NamesBesideTheImage) {
    EXPECT_EQ(WorldFileName("/maps/x.jpg"), "/maps/x.jgw");
    EXPECT_EQ(WorldFileName("/maps/a.jpeg"), "/maps/a.jgw");
    EXPECT_EQ(WorldFileName("/maps/city_3_55.7_37.6.jpg"), "/maps/city_3_55.7_37.6.jgw");
    EXPECT_EQ(WorldFileName("/ma.ps/noext"), "/ma.ps/noext.wld");
    EXPECT_EQ(WorldFileName("/maps/.hidden"), "/maps/.hidden.wld");
    EXPECT_EQ(AuxFileName("/maps/x.jpg"), "/maps/x.jpg.aux.xml");
}

TEST(WorldFile, TheCoordinateSystemFileNamesEpsg3857) {
    TempDir dir;
    ASSERT_TRUE(WriteWorldFile({13, 100, 200, 10, 10, dir.File("x.jpg")}));
    const std::string aux = dir.ReadFile("x.jpg.aux.xml");
    EXPECT_TRUE(aux.starts_with("<PAMDataset>")) << aux;
    EXPECT_NE(aux.find("AUTHORITY[\"EPSG\",\"3857\"]]</SRS>"), std::string::npos);
    EXPECT_NE(aux.find("+a=6378137 +b=6378137"), std::string::npos);  // the sphere
}

TEST(WorldFile, AnEmptyImageABadZoomOrAFolderThatIsMissingGivesAnError) {
    TempDir dir;
    const int64_t world13 = int64_t{256} << 13;
    for (const WorldFileParams& bad : {WorldFileParams{13, 0, 0, 0, 10, dir.File("a.jpg")},
                                       WorldFileParams{21, 0, 0, 10, 10, dir.File("a.jpg")}}) {
        const FileResult r = WriteWorldFile(bad);
        EXPECT_FALSE(r);
        EXPECT_NE(r.Error.find("a.jgw"), std::string::npos) << r.Error;
        // Said in the program's own language, like every message around it.
        EXPECT_EQ(r.Error.find("the image"), std::string::npos) << r.Error;
    }
    EXPECT_FALSE(dir.Exists("a.jgw"));
    EXPECT_FALSE(dir.Exists("a.jpg.aux.xml"));
    // Reaching past the world's edge, as an image with a corner at the
    // clamped latitude does, it is described as it is.
    for (const WorldFileParams& past :
         {WorldFileParams{13, world13 - 9, 0, 10, 10, dir.File("a.jpg")},
          WorldFileParams{13, 0, -1, 10, 10, dir.File("a.jpg")},
          WorldFileParams{13, world13 - 10, world13 - 10, 10, 10, dir.File("a.jpg")}}) {
        EXPECT_TRUE(WriteWorldFile(past));
        EXPECT_EQ(dir.ReadFile("a.jgw"), WorldFileText(past));
    }

    const FileResult missing = WriteWorldFile({13, 0, 0, 10, 10, dir.File("no/such/b.jpg")});
    EXPECT_FALSE(missing);
    EXPECT_NE(missing.Error.find("b.jgw"), std::string::npos) << missing.Error;
}

}  // namespace
