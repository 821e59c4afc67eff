// A stitch into a GeoTIFF as the task maker sets it up: the region widened
// to whole tiles, the cached upper layers found, sizes refused up front.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "formats/geotiff.h"
#include "formats/stitch_pieces.h"
#include "formats/world_file.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tasks/stitch_task.h"
#include "tasks/task_params.h"
#include "tasks/tasks.h"

TEST(SnapRegionToTiles, CornersGoToTheEdgesOfTheirTilesAtEveryZoom) {
    struct Case {
        int Zoom;
        double Lat1, Lon1, Lat2, Lon2;  // lon west positive
    } cases[] = {
        {3, 60, -30, 20, -100},
        {13, 55.7558, -37.6173, 55.70, -37.70},
        {16, -33.85, -151.2, -33.87, -151.23},
        {20, 48.8584, -2.2945, 48.8580, -2.2950},
        {5, 84, 179, -84, -179.9},  // to the world's eastern and southern tiles
    };
    for (const Case& c : cases) {
        RegionCorners r{c.Lat1, c.Lon1, c.Lat2, c.Lon2};
        const RegionPixels before = RegionPixelSize(c.Zoom, r);
        SnapRegionToTiles(c.Zoom, r);
        int64_t left = 0, top = 0;
        WorldPixelAt(c.Zoom, r.Lat1, r.Lon1, left, top);
        EXPECT_EQ(left % TileSize, 0) << c.Zoom;
        EXPECT_EQ(top % TileSize, 0) << c.Zoom;
        const RegionPixels after = RegionPixelSize(c.Zoom, r);
        EXPECT_GE(after.Width, before.Width) << c.Zoom;
        EXPECT_GE(after.Height, before.Height) << c.Zoom;
        // Beyond zoom 16 the size is measured in single precision, and the
        // world's last pixel has no pixel beyond it to name its edge by.
        if (c.Zoom <= 16 && c.Lon2 > -179) {
            EXPECT_EQ(after.Width % TileSize, 0) << c.Zoom;
            EXPECT_EQ(after.Height % TileSize, 0) << c.Zoom;
            EXPECT_LT(after.Width - before.Width, 2 * TileSize) << c.Zoom;
        }
    }
}

TEST(CachedOverviews, LevelsCountWhileTheCornerLiesOnTheirGridAndTilesComeOneByOne) {
    TempDir cache;
    // 4 x 4 tiles at zoom 10 from tile (8, 12): overviews of 2 x 2 tiles of
    // zoom 9 and 1 x 1 of zoom 8.
    const int zoom = 10;
    const int64_t left = 8 * 256, top = 12 * 256;
    const auto levels = TiffLevels(1024, 1024);
    ASSERT_EQ(levels.size(), 3u);
    struct Case {
        int64_t Left, Top;
        int Zoom, Levels;
    } cases[] = {
        {left, top, zoom, 2},
        // A corner off the grid of zoom 9 takes nothing from the cache.
        {left + 256, top, zoom, 0},
        {left, top + 512, zoom, 1},
        // No zoom below the first.
        {0, 0, 2, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CachedOverviewLevels(c.Zoom, c.Left, c.Top, levels), c.Levels)
            << c.Left << "," << c.Top << " z" << c.Zoom;

    // One parent of four held: that one is given, the others are not.
    cache.WriteFile(KeyLetters(9, 5, 6) + ".jpg", MakeTileJpeg());
    cache.WriteFile(KeyLetters(8, 2, 3) + ".jpg", MakeTileJpeg(256, 256, 1));
    const auto source = CachedOverviewTiles(cache.Path(), zoom, left, top);
    std::string bytes;
    EXPECT_TRUE(source(1, 1, 0, bytes));
    EXPECT_EQ(bytes, MakeTileJpeg());
    EXPECT_FALSE(source(1, 0, 0, bytes));
    EXPECT_FALSE(source(1, 1, 1, bytes));
    EXPECT_TRUE(source(2, 0, 0, bytes));
    EXPECT_EQ(bytes, MakeTileJpeg(256, 256, 1));
}

TEST(GeoTiffTask, RefusedWhenTooLargeAndWrittenWithoutAWorldFile) {
    TempDir dir;
    MainState state;
    SetCachePath(state, dir.Path() + "cache/");
    state.WriteOziMap = true;
    // The whole world at zoom 20.
    state.SelLat1 = ClampLatitude;
    state.SelLon1 = 180;
    state.SelLat2 = -ClampLatitude;
    state.SelLon2 = -180;
    TaskRequest request;
    request.IsStitch = true;
    request.Zoom = 20;
    request.FileName = dir.File("world.tif");
    request.WorldFile = true;
    auto task = NewTask(state, request);
    std::string failedFile, error;
    EXPECT_EQ(BuildTask(state, *task, request, failedFile, error), TaskBuild::ListRefused);
    EXPECT_NE(error.find("GeoTIFF"), std::string::npos) << error;
    EXPECT_FALSE(dir.Exists("world.map"));

    // 200 x 200 px at zoom 13: the ".map" follows the settings, no world file.
    state.SelLat1 = 55.75;
    state.SelLon1 = -37.6;
    double lon = -37.6, lat = 55.75;
    PointAtDelta(200, 200, 13, lon, lat);
    state.SelLat2 = lat;
    state.SelLon2 = lon;
    request.Zoom = 13;
    request.FileName = dir.File("small.tif");
    auto small = NewTask(state, request);
    EXPECT_EQ(BuildTask(state, *small, request, failedFile, error), TaskBuild::Built) << error;
    EXPECT_TRUE(dir.Exists("small.map"));
    EXPECT_FALSE(dir.Exists("small.tfw"));
    EXPECT_FALSE(dir.Exists("small.tif.aux.xml"));
    EXPECT_EQ(PieceFileName(dir.File("small.tif"), 3), dir.File("small_3.tif"));
    EXPECT_EQ(PieceFileName("a.tiff", 2), "a_2.tiff");
    EXPECT_EQ(PieceFileName("a.jpg", 2), "a_2.jpg");
}
