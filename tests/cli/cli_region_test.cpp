#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "cli_fixture.h"
#include "regions/region_file.h"
#include "regions/shape_tiles.h"

namespace {

using namespace std::chrono_literals;

// An L over the city, east positive as files write it.
constexpr const char* Polygon = R"({"type": "Polygon", "coordinates": [[
    [37.50, 55.70], [37.70, 55.70], [37.70, 55.74], [37.56, 55.74],
    [37.56, 55.80], [37.50, 55.80], [37.50, 55.70]]]})";

constexpr const char* Track = R"(<?xml version="1.0"?>
<gpx version="1.1" creator="test"><trk><trkseg>
<trkpt lat="55.70" lon="37.50"/><trkpt lat="55.78" lon="37.66"/>
</trkseg></trk></gpx>)";

class CliRegionTest : public CliTest {
  protected:
    // The tiles the region file's shape takes at the zooms, as its cursor yields them.
    std::set<std::string> ShapeTiles(const std::string& file, int from, int to,
                                     double buffer = 1000) {
        RegionReadOptions options;
        options.CorridorWidth = buffer;
        const RegionFileResult read = ReadRegionFile(QString::fromStdString(file), options);
        EXPECT_TRUE(read.Ok()) << read.Message.toStdString();
        std::set<std::string> tiles;
        for (int z = from; z <= to; ++z) {
            ShapeTileCursor cursor(read.Shape, z);
            TileIndex t;
            while (cursor.Next(t)) tiles.insert(KeyLetters(z, t.Column, t.Row));
        }
        return tiles;
    }
    std::set<std::string> AskedOnce(size_t expected) {
        // The server logs a request only after it has answered it.
        for (int i = 0; i < 200 && AskedTiles().size() < expected; ++i)
            std::this_thread::sleep_for(10ms);
        std::set<std::string> out;
        for (const auto& [letters, times] : AskedTiles()) {
            EXPECT_EQ(times, 1) << letters;
            out.insert(letters);
        }
        return out;
    }
};

TEST_F(CliRegionTest, ADownloadOfARegionAsksExactlyItsTiles) {
    Folder.WriteFile("l.geojson", Polygon);
    Folder.WriteFile("track.gpx", Track);
    const struct {
        const char* File;
        const char* Zooms;
        int From, To;
        const char* Buffer;
    } cases[] = {{"l.geojson", "13-14", 13, 14, nullptr},
                 {"track.gpx", "14", 14, 14, nullptr},
                 {"track.gpx", "14", 14, 14, "3000"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.File) + " " + c.Zooms + " " + (c.Buffer ? c.Buffer : ""));
        TempDir folder;
        StartServer();
        WriteSettings(folder.Path());
        {
            std::lock_guard<std::mutex> lock(Mutex);
            CliTest::Asked.clear();
        }
        std::vector<std::string> args = {"download", "--zoom", c.Zooms, "--region",
                                         Folder.File(c.File)};
        if (c.Buffer) args.insert(args.end(), {"--buffer", c.Buffer});
        const CliResult r = Run(args, folder.Path());
        ASSERT_EQ(r.Status, 0) << r.Err;
        const auto expected =
            ShapeTiles(Folder.File(c.File), c.From, c.To, c.Buffer ? std::stod(c.Buffer) : 1000);
        EXPECT_EQ(AskedOnce(expected.size()), expected);
        const std::string n = std::to_string(expected.size());
        EXPECT_EQ(r.LastLine(),
                  "vistrel-cli: " + n + " tiles, " + n + " obtained, 0 failed, 0 skipped");
    }
}

TEST_F(CliRegionTest, AnExportOfARegionCopiesOnlyItsTiles) {
    StartServer();
    WriteSettings(Folder.Path());
    Folder.WriteFile("l.geojson", Polygon);
    // The whole rectangle around the L is cached.
    ASSERT_EQ(Run({"download", "--zoom", "13", "--from", "55.80,37.50", "--to", "55.70,37.70"},
                  Folder.Path())
                  .Status,
              0);
    const CliResult r = Run(
        {"export", "--zoom", "13", "--region", Folder.File("l.geojson"), "--dir", Folder.File("x")},
        Folder.Path());
    ASSERT_EQ(r.Status, 0) << r.Err;
    const auto expected = ShapeTiles(Folder.File("l.geojson"), 13, 13);
    std::set<std::string> copied;
    for (const auto& e : std::filesystem::directory_iterator(Folder.File("x")))
        copied.insert(e.path().stem().string());
    EXPECT_EQ(copied, expected);
    EXPECT_LT(copied.size(), CachedTiles(Folder.Path()).size());
}

TEST_F(CliRegionTest, AnUnusableRegionFileIsNamedWithItsProblem) {
    StartServer();
    WriteSettings(Folder.Path());
    Folder.WriteFile("broken.geojson", "{\"type\": \"Polygon\", \"coordinates\": [[");
    Folder.WriteFile("points.gpx", R"(<gpx><wpt lat="1" lon="2"/></gpx>)");
    for (const char* file : {"missing.kml", "broken.geojson", "points.gpx", "region.txt"}) {
        SCOPED_TRACE(file);
        const CliResult r =
            Run({"download", "--zoom", "12", "--region", Folder.File(file)}, Folder.Path());
        EXPECT_EQ(r.Status, 1);
        EXPECT_NE(r.Err.find(file), std::string::npos) << r.Err;
        EXPECT_TRUE(AskedTiles().empty());
    }
}

}  // namespace
