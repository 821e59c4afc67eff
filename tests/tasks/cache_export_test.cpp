#include "tasks/cache_export.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <set>
#include <string>

#include "geo/projection.h"
#include "geo/tile_key.h"
#include "platform/file_io.h"
#include "support/sql_query.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"

namespace {

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    if (!std::filesystem::is_directory(folder)) return names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// A cache holding every zoom-3 tile, each a different picture.
struct Zoom3Cache {
    TempDir Cache;
    TempDir Out;
    Zoom3Cache() {
        uint32_t seed = 0;
        for (int c = 0; c < 8; ++c)
            for (int r = 0; r < 8; ++r)
                Cache.WriteFile(KeyLetters(3, c, r) + ".jpg", MakeTileJpeg(32, 32, seed++));
    }
    CacheExportRequest Request(double lat1, double lon1, double lat2, double lon2) const {
        CacheExportRequest q;
        q.Folder = Out.Path() + "export";
        q.CachePath = Cache.Path();
        q.Zoom = 3;
        q.Lat1 = lat1, q.Lon1 = lon1, q.Lat2 = lat2, q.Lon2 = lon2;
        return q;
    }
    std::string Exported() const { return Out.Path() + "export/"; }
};

TEST(CacheExport, ARegionInsideOneTileCopiesThatTile) {
    Zoom3Cache z;
    // 10..20 N, 10..20 E: inside rtt (40.98 N..0, 0..45 E).
    const auto r = ExportCache(z.Request(20, -10, 10, -20));
    EXPECT_EQ(r.Total, 1);
    EXPECT_EQ(r.Copied, 1);
    EXPECT_EQ(FilesIn(z.Exported()), (std::set<std::string>{"rtt.jpg"}));
    // A byte-for-byte copy.
    EXPECT_EQ(z.Out.ReadFile("export/rtt.jpg"), z.Cache.ReadFile("rtt.jpg"));
}

TEST(CacheExport, WalksEveryOverlappedTileAndSkipsUncachedOnes) {
    Zoom3Cache z;
    RemoveFile(z.Cache.File("rts.jpg"));  // not cached: passed over
    // 30 N 10 W .. 10 S 50 E: columns 3..5, rows 3..4.
    int calls = 0;
    int64_t lastPassed = -1;
    const auto r = ExportCache(z.Request(30, 10, -10, -50), [&](int64_t passed, int64_t total) {
        EXPECT_EQ(total, 6);
        EXPECT_EQ(passed, lastPassed + 1);
        lastPassed = passed;
        ++calls;
        return true;
    });
    EXPECT_EQ(r.Total, 6);
    EXPECT_EQ(r.Passed, 6);
    EXPECT_EQ(r.Copied, 5);
    EXPECT_EQ(calls, 7);
    std::set<std::string> want;
    for (int c = 3; c <= 5; ++c)
        for (int row = 3; row <= 4; ++row) want.insert(KeyLetters(3, c, row) + ".jpg");
    want.erase("rts.jpg");
    EXPECT_EQ(FilesIn(z.Exported()), want);
}

TEST(CacheExport, NorthEdgeOnATileBoundaryTakesTheRowNorthOfIt) {
    Zoom3Cache z;
    double edgeLat = 0, edgeLon = 0;
    TileCorner("rtt", edgeLat, edgeLon);  // the north edge of row 3, on 0 meridian
    const auto r = ExportCache(z.Request(edgeLat, edgeLon, 20, -20));
    // The corner belongs to rtq (row 2) at y offset 256; the west edge on a
    // boundary adds no column.
    EXPECT_EQ(FilesIn(z.Exported()), (std::set<std::string>{"rtq.jpg", "rtt.jpg"}));
    EXPECT_EQ(r.Total, 2);
}

TEST(CacheExport, MakesAMissingFolderAndReplacesOnASecondRun) {
    Zoom3Cache z;
    auto q = z.Request(20, -10, 10, -20);
    q.Folder = z.Out.Path() + "a/b/c/";
    ASSERT_FALSE(std::filesystem::exists(q.Folder));
    EXPECT_EQ(ExportCache(q).Copied, 1);
    EXPECT_EQ(z.Out.ReadFile("a/b/c/rtt.jpg"), z.Cache.ReadFile("rtt.jpg"));

    const std::string newer = MakeTileJpeg(32, 32, 777);
    z.Cache.WriteFile("rtt.jpg", newer);
    EXPECT_EQ(ExportCache(q).Copied, 1);
    EXPECT_EQ(z.Out.ReadFile("a/b/c/rtt.jpg"), newer);
    EXPECT_EQ(FilesIn(q.Folder).size(), 1u);  // no temporary files left
}

TEST(CacheExport, TabFilesCarryTheTilesOwnCorner) {
    Zoom3Cache z;
    auto q = z.Request(20, -10, 10, -20);
    q.WriteTabs = true;
    ExportCache(q);
    ASSERT_TRUE(z.Out.Exists("export/rtt.tab"));
    const auto lines = SplitLines(z.Out.ReadFile("export/rtt.tab"));
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines[5], "  File \"rtt.jpg\"");
    // 40.9798 N, 0: the north-west corner of rtt.
    EXPECT_EQ(lines[7], "  (0.000000000,40.979898070) (0,0) Label \"\xD2\xEE\xF7\xEA\xE0 1\",");
    EXPECT_EQ(lines[8], "  (45.000000000,0.000000000) (256,256) Label \"\xD2\xEE\xF7\xEA\xE0 2\",");
}

TEST(CacheExport, FailedCopiesAreAbandonedAndTheWalkGoesOn) {
    Zoom3Cache z;
    auto q = z.Request(30, 10, -10, -50);
    // A folder where one tile's file should go: that copy fails, the rest go on.
    ASSERT_TRUE(MakeFolders(z.Exported() + "rtt.jpg"));
    const auto r = ExportCache(q);
    EXPECT_EQ(r.Passed, 6);
    EXPECT_EQ(r.Copied, 5);
    EXPECT_TRUE(z.Out.Exists("export/rts.jpg"));
}

TEST(CacheExport, ProgressCanCancel) {
    Zoom3Cache z;
    const auto r = ExportCache(z.Request(30, 10, -10, -50),
                               [](int64_t passed, int64_t) { return passed < 2; });
    EXPECT_TRUE(r.Cancelled);
    EXPECT_EQ(r.Passed, 2);
    EXPECT_EQ(FilesIn(z.Exported()).size(), 2u);
}

TEST(CacheExport, IntoADatabaseOverAZoomRange) {
    Zoom3Cache z;
    // Zoom 2 under the region: columns 1..2, rows 1..2; one of them not cached.
    for (int c = 1; c <= 2; ++c)
        for (int r = 1; r <= 2; ++r)
            if (c != 2 || r != 2)
                z.Cache.WriteFile(KeyLetters(2, c, r) + ".jpg", MakeTileJpeg(32, 32, 99 + c + r));
    for (ExportTarget target : {ExportTarget::MBTiles, ExportTarget::SqliteDb}) {
        auto q = z.Request(30, 10, -10, -50);
        q.Target = target;
        q.File = z.Out.File(target == ExportTarget::MBTiles ? "r.mbtiles" : "r.sqlitedb");
        q.Zoom = 2;
        q.ZoomTo = 3;
        const auto r = ExportCache(q);
        EXPECT_EQ(r.Error, "");
        EXPECT_EQ(r.Total, 10);
        EXPECT_EQ(r.Copied, 9);
        EXPECT_EQ(r.Missing, (std::vector<std::string>{"2/2/2 sq"}));
        SqlQuery sql(q.File);
        const bool mb = target == ExportTarget::MBTiles;
        // Lowest zoom first.
        EXPECT_EQ(sql.Column(mb ? "SELECT zoom_level FROM tiles ORDER BY rowid"
                                : "SELECT 17 - z FROM tiles ORDER BY rowid"),
                  (std::vector<std::string>{"2", "2", "2", "3", "3", "3", "3", "3", "3"}));
        for (int zoom = 2; zoom <= 3; ++zoom)
            for (int c = 0; c < (1 << zoom); ++c)
                for (int row = 0; row < (1 << zoom); ++row) {
                    const std::string name = KeyLetters(zoom, c, row) + ".jpg";
                    const std::string where =
                        mb ? "zoom_level = " + std::to_string(zoom) +
                                 " AND tile_column = " + std::to_string(c) +
                                 " AND tile_row = " + std::to_string((1 << zoom) - 1 - row)
                           : "z = " + std::to_string(17 - zoom) + " AND x = " + std::to_string(c) +
                                 " AND y = " + std::to_string(row);
                    const auto got =
                        sql.Column(std::string("SELECT ") + (mb ? "tile_data" : "image") +
                                   " FROM tiles WHERE " + where);
                    if (got.empty()) continue;
                    EXPECT_EQ(got, (std::vector<std::string>{z.Cache.ReadFile(name)})) << name;
                }
        if (mb) {
            // The region's corners, east positive: W, S, E, N.
            EXPECT_EQ(sql.Meta("bounds"), "-10.000000,-10.000000,50.000000,30.000000");
            EXPECT_EQ(sql.Meta("minzoom") + "-" + sql.Meta("maxzoom"), "2-3");
            EXPECT_EQ(sql.Meta("name"), "r");
        }
    }
}

TEST(CacheExport, ADatabaseExportThatDoesNotEndLeavesNoFile) {
    Zoom3Cache z;
    struct Case {
        int Zoom, ZoomTo;
        bool Cancel;
    };
    // Cancelled half way; a range beyond the task limit.
    for (const Case c : {Case{3, 3, true}, Case{1, 20, false}}) {
        auto q = z.Request(60, 150, -60, -150);
        q.Target = ExportTarget::MBTiles;
        q.File = z.Out.File("x.mbtiles");
        q.Zoom = c.Zoom;
        q.ZoomTo = c.ZoomTo;
        const auto r =
            ExportCache(q, [&](int64_t passed, int64_t) { return !c.Cancel || passed < 5; });
        EXPECT_TRUE(r.Cancelled || !r.Error.empty());
        EXPECT_EQ(FilesIn(z.Out.Path()), std::set<std::string>{}) << c.ZoomTo;
    }
}

TEST(CacheExport, TileCornersFollowThePixelGrid) {
    // Checked against the Mercator formula written out here, at every zoom.
    for (int zoom = 1; zoom <= 20; ++zoom) {
        const int last = (1 << zoom) - 1;
        for (auto [c, r] :
             {std::pair{0, 0}, std::pair{last, last}, std::pair{last / 3, last / 2 + 1}}) {
            double lat = 0, lon = 0;
            TileCorner(KeyLetters(zoom, c, r), lat, lon);
            const double world = 256.0 * std::pow(2.0, zoom);
            const double wantLon = 180 - 256.0 * c / world * 360;
            const double y = 1 - 2 * (256.0 * r) / world;
            const double wantLat = std::atan(std::sinh(y * M_PI)) * 180 / M_PI;
            EXPECT_NEAR(lon, wantLon, 1e-9) << zoom << " " << c;
            EXPECT_NEAR(lat, wantLat, 1e-9) << zoom << " " << r;
        }
    }
}

}  // namespace
