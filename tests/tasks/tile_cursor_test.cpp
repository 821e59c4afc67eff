#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/app_core.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "platform/numbers.h"
#include "regions/shape_tiles.h"
#include "support/task_request.h"
#include "support/task_tiles.h"
#include "tasks/stitch_task.h"
#include "tasks/task_params.h"
#include "tasks/tasks.h"

namespace {

struct Tile {
    std::string Name, Url, File;
    int X, Y;
    bool operator==(const Tile&) const = default;
};

// The list as tasks used to hold it: built column by column from the
// corner, each record pushed at the head, so the worker met the last first.
std::vector<Tile> StoredList(int z, double lat1, double lon1, int width, int height,
                             const std::string& source, const std::string& cache) {
    const TileKey corner = TileKeyAt(z, lon1, lat1, source);
    const TileIndex first = KeyToTile(corner.Key, source.size());
    const TileSpan span =
        RegionTileSpan(z, {first.Column, first.Row, corner.XOffset, corner.YOffset}, width, height);
    std::vector<Tile> built;
    std::string columnKey = corner.Key;
    for (long long c = 0; c < span.Columns; ++c) {
        std::string rowKey = columnKey;
        for (long long r = 0; r < span.Rows; ++r) {
            const std::string name = TileName(rowKey, source.size());
            built.push_back({name, TileUrl(source, name), TileFileName(cache, name),
                             static_cast<int>(-corner.XOffset + 256 * c),
                             static_cast<int>(-corner.YOffset + 256 * r)});
            StepSouth(rowKey, source.size());
        }
        StepEast(columnKey, source.size());
    }
    return {built.rbegin(), built.rend()};
}

std::vector<Tile> Walked(const TaskTiles& tiles, int64_t from = 0) {
    std::vector<Tile> out;
    TaskTileCursor cursor(tiles, from);
    jtype t;
    while (cursor.Next(t)) out.push_back({t.TileName, t.Url, t.FileName, t.X, t.Y});
    return out;
}

class TileCursorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetSourceString(State, "http://127.0.0.1:1/kh?v=9&n=404&t=t");
        SetCachePath(State, "/cache/");
    }
    void Select(double lat1, double lon1, double lat2, double lon2, int z) {
        RegionCorners c{lat1, lon1, lat2, lon2};
        OrderRegionCorners(z, c);
        State.SelLat1 = c.Lat1;
        State.SelLon1 = c.Lon1;
        State.SelLat2 = c.Lat2;
        State.SelLon2 = c.Lon2;
    }
    // Builds the request over the selection into `Task`; `Error` says why not.
    TaskBuild Build(const TaskRequest& request) {
        Task = NewTask(State, request);
        std::string failed;
        Error.clear();
        return BuildTask(State, *Task, request, failed, Error);
    }
    std::vector<Tile> Expected(int z) const {
        const RegionPixels size =
            RegionPixelSize(z, {State.SelLat1, State.SelLon1, State.SelLat2, State.SelLon2});
        return StoredList(z, State.SelLat1, State.SelLon1, size.Width, size.Height,
                          State.SourceStringCopy(), State.CachePathCopy());
    }
    MainState State;
    std::shared_ptr<stichtype> Task;
    std::string Error;
};

struct Region {
    const char* Name;
    int Zoom, ZoomTo;
    double Lat1, Lon1, Lat2, Lon2;  // lon west positive
};

// Rectangles anywhere, the world's edges included, one zoom or a range.
const Region Regions[] = {
    {"whole world at 1", 1, 0, 85.06, 180, -85.06, -180},
    {"middle at 12", 12, 0, 55.80, -37.50, 55.70, -37.70},
    {"north-west edge at 12", 12, 0, 85.06, 180, 84.9, 179.7},
    {"south-east edge at 12", 12, 0, -84.9, -179.7, -85.06, -180},
    {"across the meridian at 12", 12, 0, 0.05, 0.05, -0.05, -0.05},
    {"small at 20", 20, 0, 55.7501, -37.6201, 55.7497, -37.6195},
    {"east edge at 20", 20, 0, 10.0003, -179.9993, 9.9999, -180},
    {"south edge at 20", 20, 0, -85.0509, 20.0003, -85.06, 19.9998},
    {"range 1 to 3", 1, 3, 60, 10, 40, -20},
    {"range 11 to 13", 11, 13, 55.80, -37.50, 55.70, -37.70},
    {"range 18 to 20", 18, 20, 55.7502, -37.6203, 55.7499, -37.6199},
};

TEST_F(TileCursorTest, GeneratedOrderIsTheStoredListsOrder) {
    for (const Region& r : Regions) {
        SCOPED_TRACE(r.Name);
        Select(r.Lat1, r.Lon1, r.Lat2, r.Lon2, r.Zoom);
        ASSERT_EQ(Build(MakeRequest(r.Zoom, r.ZoomTo)), TaskBuild::Built) << Error;
        std::vector<Tile> expected;
        for (int z = r.Zoom; z <= std::max(r.Zoom, r.ZoomTo); ++z) {
            const auto zoom = Expected(z);
            expected.insert(expected.end(), zoom.begin(), zoom.end());
        }
        const auto walked = Walked(Task->Tiles);
        ASSERT_EQ(walked.size(), expected.size());
        EXPECT_EQ(Task->TileCount, static_cast<int64_t>(expected.size()));
        EXPECT_TRUE(walked == expected);
        // A cursor started part way on yields the rest of the same walk.
        for (const size_t from : {size_t{1}, expected.size() / 2, expected.size() - 1}) {
            const auto rest = Walked(Task->Tiles, static_cast<int64_t>(from));
            EXPECT_TRUE(rest == std::vector<Tile>(expected.begin() + from, expected.end()))
                << "from " << from;
        }
    }
}

RegionShape Triangle() {
    RegionShape shape;
    // West positive: a triangle over central Europe.
    shape.Polygons.push_back({{{-10, 50}, {-14, 50}, {-12, 53}}, {}});
    return shape;
}

TEST_F(TileCursorTest, AShapeGivesOnlyItsTilesInTheRectanglesOrder) {
    auto shape = std::make_shared<const RegionShape>(Triangle());
    ASSERT_EQ(Build(MakeRequest(9, 10, shape)), TaskBuild::Built) << Error;
    std::vector<std::string> expected;
    for (int z = 9; z <= 10; ++z) {
        ShapeTileCursor cursor(*shape, z);
        TileIndex t;
        while (cursor.Next(t)) expected.push_back(KeyLetters(z, t.Column, t.Row));
    }
    std::vector<std::string> walked;
    for (const Tile& t : Walked(Task->Tiles)) walked.push_back(t.Name);
    EXPECT_EQ(walked, expected);
    EXPECT_EQ(Task->TileCount, CountShapeTiles(*shape, 9) + CountShapeTiles(*shape, 10));
    const auto rest = Walked(Task->Tiles, 7);
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.front().Name, expected[7]);
    // A stitch that cannot write its files there says so; its tiles were made first.
    EXPECT_EQ(Build(MakeRequest(9, 0, shape, "/nonexistent-folder/x.jpg")),
              TaskBuild::FileNotWritten);
}

TEST_F(TileCursorTest, AShapesStitchCoversItsBlockWithItsTilesInPlace) {
    auto shape = std::make_shared<const RegionShape>(Triangle());
    const std::string folder = ::testing::TempDir();
    ASSERT_EQ(Build(MakeRequest(8, 0, shape, folder + "shape-stitch.jpg")), TaskBuild::Built)
        << Error;
    const TileRange range = ShapeTileRange(*shape, 8);
    EXPECT_EQ(Task->ImageWidth, range.Columns * 256);
    EXPECT_EQ(Task->ImageHeight, range.Rows * 256);
    EXPECT_EQ(Task->TileCount, CountShapeTiles(*shape, 8));
    EXPECT_LT(Task->TileCount, int64_t{range.Columns} * range.Rows) << "a triangle leaves corners";
    for (const jtype& t : TaskTileList(*Task)) {
        const TileIndex i = KeyToTile(t.TileName, 0);
        EXPECT_EQ(t.X, (i.Column - range.FirstColumn) * 256);
        EXPECT_EQ(t.Y, (i.Row - range.FirstRow) * 256);
    }
    for (const char* ext : {".jpg", ".map", ".tab"})
        std::remove((folder + "shape-stitch" + ext).c_str());
}

TEST_F(TileCursorTest, TasksBeyondTheLimitAreRefusedWithTheirCount) {
    RegionShape world;
    world.Polygons.push_back({{{179, 80}, {-179, 80}, {-179, -80}, {179, -80}}, {}});
    const struct {
        const char* Name;
        std::shared_ptr<const RegionShape> Shape;
        int Zoom, ZoomTo;
    } cases[] = {
        {"rectangle at 20", nullptr, 20, 0},
        {"rectangle range", nullptr, 17, 20},
        {"shape at 20", std::make_shared<const RegionShape>(world), 20, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Select(80, 179, -80, -179, c.Zoom);
        EXPECT_EQ(Build(MakeRequest(c.Zoom, c.ZoomTo, c.Shape)), TaskBuild::ListRefused);
        EXPECT_EQ(Error.rfind("Слишком большая область: ", 0), 0u) << Error;
        EXPECT_NE(Error.find("не более " + FormatThousands(10'000'000'000)), std::string::npos)
            << Error;
        EXPECT_TRUE(Task->Tiles.Empty());
    }
    // Far above the old ceiling of sixteen million, and still accepted.
    Select(60, 40, 40, 10, 17);
    ASSERT_EQ(Build(MakeRequest(17)), TaskBuild::Built) << Error;
    EXPECT_GT(Task->TileCount, 100'000'000);
}

}  // namespace
