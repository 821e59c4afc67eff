#include "regions/region_outline.h"

#include <gtest/gtest.h>

#include <QString>
#include <cmath>

#include "regions/shape_tiles.h"
#include "support/temp_dir.h"

namespace {

RegionShape Polygon(GeoPath outer) {
    return {{{std::move(outer), {}}}, {}, 1000};
}
RegionShape Line(GeoPath line, double width) {
    return {{}, {std::move(line)}, width};
}

}  // namespace

TEST(RegionOutline, BoundsHoldTheShapeAndTheCorridorsBand) {
    // 500 m of latitude in degrees; of longitude at 60 degrees twice that.
    const double half = 500 / (6378137.0 * M_PI / 180);
    struct Case {
        const char* Name;
        RegionShape Shape;
        RegionCorners Expected;
    };
    const Case cases[] = {
        {"polygon", Polygon({{-30, 50}, {-31, 50.5}, {-30.5, 51}}), {51, -30, 50, -31}},
        {"corridor along a parallel",
         Line({{-10, 60}, {-11, 60}}, 1000),
         {60 + half, -10 + 2 * half, 60 - half, -11 - 2 * half}},
        {"beyond the map's edge",
         Polygon({{0, 89}, {-1, 89}, {-1, 88}}),
         {85.05113, 0, 85.05113, -1}},
        {"empty", RegionShape{}, {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const RegionCorners box = ShapeBounds(c.Shape);
        EXPECT_NEAR(box.Lat1, c.Expected.Lat1, 1e-6);
        EXPECT_NEAR(box.Lon1, c.Expected.Lon1, 1e-6);
        EXPECT_NEAR(box.Lat2, c.Expected.Lat2, 1e-6);
        EXPECT_NEAR(box.Lon2, c.Expected.Lon2, 1e-6);
    }
}

TEST(RegionOutline, ScreenPointsFollowTheMap) {
    // West-positive longitudes: a smaller longitude lies east, to the right.
    const int z = 8;
    const ScreenPoint centre = ScreenPointOf({-37, 55}, z, -37, 55, 800, 600);
    EXPECT_DOUBLE_EQ(centre.X, 400);
    EXPECT_DOUBLE_EQ(centre.Y, 300);
    const double tileDegrees = 360.0 / (1 << z);
    const ScreenPoint east = ScreenPointOf({-37 - tileDegrees, 55}, z, -37, 55, 800, 600);
    EXPECT_NEAR(east.X, 656, 1e-6);
    EXPECT_DOUBLE_EQ(east.Y, 300);
    EXPECT_LT(ScreenPointOf({-37, 56}, z, -37, 55, 800, 600).Y, 300);

    RegionShape shape = Polygon({{0, 0}, {-1, 0}, {-1, 1}});
    shape.Polygons[0].Holes.push_back({{-0.5, 0.2}, {-0.6, 0.2}, {-0.6, 0.3}});
    shape.Lines.push_back({{2, 2}, {3, 3}});
    const auto paths = ShapeScreenPaths(shape, z, 0, 0, 100, 100);
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_TRUE(paths[0].Closed);
    EXPECT_TRUE(paths[1].Closed);
    EXPECT_FALSE(paths[2].Closed);
    EXPECT_EQ(paths[1].Points.size(), 3u);
}

TEST(RegionOutline, CorridorWidthInPixels) {
    // At the equator a zoom-z pixel is 40075 km / (256 * 2^z).
    const RegionShape shape = Line({{0, 0}, {1, 0}}, 1000);
    const double metresPerPixel = 2 * M_PI * 6378137.0 / (256 * 1024);
    EXPECT_NEAR(CorridorPixelWidth(shape, 10, 0), 1000 / metresPerPixel, 1e-9);
    EXPECT_NEAR(CorridorPixelWidth(shape, 10, 60), 2000 / metresPerPixel, 1e-6);
}

TEST(RegionOutline, TileCountsAreTheCursorsAndKept) {
    auto shape = std::make_shared<RegionShape>(Polygon({{-30, 50}, {-31, 50.5}, {-30.5, 51}}));
    ShapeTileCounts counts(shape);
    for (int zoom : {5, 12, 15}) EXPECT_EQ(counts.At(zoom), CountShapeTiles(*shape, zoom));
    const long long at12 = counts.At(12);
    shape->Polygons.clear();  // the shape is shared: a count once made is kept
    EXPECT_EQ(counts.At(12), at12);
    EXPECT_EQ(counts.At(0), 0);
    EXPECT_EQ(ShapeTileCounts().At(10), 0);
}

TEST(PolygonDraft, ClicksBackspaceAndClose) {
    struct Case {
        const char* Name;
        std::vector<std::pair<char, ShapePoint>> Steps;  // 'a' add, 'b' backspace
        bool Closes;
        std::size_t Left;  // vertices of the draft afterwards
    };
    const ShapePoint a{-30, 50}, b{-31, 50}, c{-31, 51}, d{-30, 51};
    const Case cases[] = {
        {"triangle", {{'a', a}, {'a', b}, {'a', c}}, true, 0},
        {"double click's repeated vertex", {{'a', a}, {'a', b}, {'a', c}, {'a', c}}, true, 0},
        {"two vertices have no area", {{'a', a}, {'a', b}, {'a', b}}, false, 2},
        {"a straight line has no area", {{'a', a}, {'a', {-30.5, 50}}, {'a', b}}, false, 3},
        {"backspace takes the last", {{'a', a}, {'a', b}, {'a', d}, {'b', {}}, {'a', c}}, true, 0},
        {"backspace down to nothing", {{'a', a}, {'b', {}}, {'b', {}}}, false, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.Name);
        PolygonDraft draft;
        for (const auto& [step, point] : k.Steps)
            step == 'a' ? draft.Add(point) : draft.RemoveLast();
        const GeoPath before = draft.Points();
        const std::optional<RegionShape> shape = draft.Close();
        EXPECT_EQ(shape.has_value(), k.Closes);
        EXPECT_EQ(draft.Points().size(), k.Left);
        if (!shape) {
            EXPECT_EQ(draft.Points(), before);
            continue;
        }
        ASSERT_EQ(shape->Polygons.size(), 1u);
        EXPECT_GT(CountShapeTiles(*shape, 10), 0);
    }
}

TEST(RegionFileLoad, ReadsOffTheCallersThreadAndCanBeCancelled) {
    TempDir dir;
    ASSERT_TRUE(dir.WriteFile(
        "route.gpx",
        R"(<?xml version="1.0"?><gpx version="1.1" xmlns="http://www.topografix.com/GPX/1/1">)"
        R"(<trk><trkseg><trkpt lat="50" lon="30"/><trkpt lat="50.1" lon="30.2"/></trkseg></trk></gpx>)"));
    ASSERT_TRUE(dir.WriteFile("bad.geojson", "{\"type\":"));
    {
        RegionFileLoad load(QString::fromStdString(dir.File("route.gpx")), 250);
        const RegionFileResult result = load.Result();
        ASSERT_TRUE(result.Ok()) << result.Message.toStdString();
        EXPECT_TRUE(load.Finished());
        ASSERT_EQ(result.Shape.Lines.size(), 1u);
        EXPECT_EQ(result.Shape.CorridorWidth, 250);
        EXPECT_EQ(result.Shape.Lines[0][0], (ShapePoint{-30, 50}));
    }
    {
        RegionFileLoad load(QString::fromStdString(dir.File("bad.geojson")), 1000);
        const RegionFileResult result = load.Result();
        EXPECT_FALSE(result.Ok());
        EXPECT_TRUE(result.Message.contains("bad.geojson"));
    }
    // A load dropped at once cancels and waits for its thread.
    for (int i = 0; i < 20; ++i) RegionFileLoad(QString::fromStdString(dir.File("route.gpx")), 1);
}
