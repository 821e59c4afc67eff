#include "cli/cli_args.h"

#include <gtest/gtest.h>

#include "cli_fixture.h"

namespace {

std::vector<std::string> Stitch(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"stitch", "--zoom",    "13",    "--from",  "55.8,37.5",
                                     "--to",   "55.7,37.7", "--out", "/x/a.jpg"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(CliArgs, ReadsEveryOptionOfAStitchInBothSpellings) {
    const CliParseResult r = ParseCliArgs(
        Stitch({"--quality=55", "--pieces", "300x400", "--add-coordinates", "--world-file",
                "--mode", "internet", "--connections=4", "--folder", "/p"}));
    ASSERT_TRUE(r.Ok) << r.Error;
    const CliOptions& o = r.Options;
    EXPECT_EQ(o.Command, CliCommand::Stitch);
    EXPECT_EQ(o.Zoom, 13);
    EXPECT_DOUBLE_EQ(o.FromLat, 55.8);
    EXPECT_DOUBLE_EQ(o.FromLon, 37.5);
    EXPECT_DOUBLE_EQ(o.ToLon, 37.7);
    EXPECT_EQ(o.Out, "/x/a.jpg");
    EXPECT_EQ(o.Quality, 55);
    EXPECT_TRUE(o.Pieces);
    EXPECT_EQ(o.PieceWidthText, "300");
    EXPECT_EQ(o.PieceHeightText, "400");
    EXPECT_TRUE(o.AddCoordinates && o.WorldFile);
    EXPECT_EQ(o.Mode, 1);
    EXPECT_EQ(o.Connections, 4);
    EXPECT_EQ(o.Folder, "/p");
}

TEST(CliArgs, ZoomRangesAndDatabaseExports) {
    const CliParseResult r =
        ParseCliArgs({"export", "--zoom", "12-16", "--from", "55.8,37.5", "--to", "55.7,37.7",
                      "--mbtiles", "a.mbtiles", "--name", "Region"});
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Options.Zoom, 12);
    EXPECT_EQ(r.Options.ZoomTo, 16);
    EXPECT_EQ(r.Options.MBTiles, "a.mbtiles");
    EXPECT_EQ(r.Options.Name, "Region");
    const CliParseResult one =
        ParseCliArgs({"download", "--zoom", "7", "--from", "55.8,37.5", "--to", "55.7,37.7"});
    ASSERT_TRUE(one.Ok);
    EXPECT_EQ(one.Options.ZoomTo, 0);
}

TEST(CliArgs, SourceAndRefresh) {
    const CliParseResult r =
        ParseCliArgs({"download", "--zoom", "7", "--from", "55.8,37.5", "--to", "55.7,37.7",
                      "--source", "Второй", "--refresh-older=14"});
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Options.Source, "Второй");
    EXPECT_EQ(r.Options.RefreshOlderDays, 14);
    EXPECT_EQ(ParseCliArgs(Stitch()).Options.RefreshOlderDays, -1);
}

TEST(CliArgs, CoordinatesAreDecimalDegreesWithAPointInsideTheMap) {
    double lat = 0, lon = 0;
    ASSERT_TRUE(ParseCliCoordinate("-33.925,18.42", lat, lon));
    EXPECT_DOUBLE_EQ(lat, -33.925);
    EXPECT_DOUBLE_EQ(lon, 18.42);
    ASSERT_TRUE(ParseCliCoordinate("+10,-179.5", lat, lon));
    EXPECT_DOUBLE_EQ(lon, -179.5);
    for (const char* bad : {"55,7,37", "55.7", "55.7;37.6", "55.7,37,6", "1e1,2", "90,0", "-90.5,0",
                            "0,180", "nan,0", "55.7 ,37.6", "", ",", "x,1"})
        EXPECT_FALSE(ParseCliCoordinate(bad, lat, lon)) << bad;
}

TEST(CliArgs, AGeoTiffOutputAndSnappingToTiles) {
    for (const std::string out : {"/x/a.tif", "b.TIFF"}) {
        const CliParseResult r = ParseCliArgs({"stitch", "--zoom", "3", "--from", "1,2", "--to",
                                               "3,4", "--out", out, "--snap-to-tiles"});
        ASSERT_TRUE(r.Ok) << r.Error;
        EXPECT_EQ(r.Options.Out, out);
        EXPECT_TRUE(r.Options.SnapToTiles);
    }
    EXPECT_FALSE(ParseCliArgs(Stitch({})).Options.SnapToTiles);
}

TEST(CliArgs, EachMistakeNamesItsArgument) {
    struct Case {
        std::vector<std::string> Args;
        std::string Named;
    };
    const std::vector<Case> cases = {
        {{}, "command"},
        {{"fetch"}, "\"fetch\""},
        {{"download", "--zoom", "0", "--from", "1,2", "--to", "3,4"}, "--zoom"},
        {{"download", "--zoom", "21", "--from", "1,2", "--to", "3,4"}, "--zoom"},
        {{"download", "--zoom", "1x", "--from", "1,2", "--to", "3,4"}, "--zoom"},
        {{"download", "--zoom", "3", "--from", "1,2", "--to", "3;4"}, "--to"},
        {{"download", "--zoom", "3", "--from", "55,7,5", "--to", "3,4"}, "--from"},
        {{"download", "--zoom", "3", "--from", "1,2"}, "--to is missing"},
        {{"download", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--speed", "2"}, "--speed"},
        {{"download", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--out", "a.jpg"},
         "--out is not an option of download"},
        {{"download", "--zoom", "3", "--zoom", "4", "--from", "1,2", "--to", "3,4"},
         "--zoom is given twice"},
        {{"download", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--mode", "web"}, "--mode"},
        {{"download", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--connections", "65"},
         "--connections"},
        {{"download", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--connections"},
         "--connections needs a value"},
        {{"download", "--zoom", "3", "--from", "1,2", "--to", "3,4", "extra"}, "\"extra\""},
        {{"stitch", "--zoom", "3", "--from", "1,2", "--to", "3,4"}, "--out is missing"},
        {{"download", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--refresh-older", "-1"},
         "--refresh-older"},
        {{"download", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--source", ""},
         "--source: the source name is empty"},
        {Stitch({"--refresh-older", "3"}), "--refresh-older is not an option of stitch"},
        {Stitch({"--quality", "0"}), "--quality"},
        {Stitch({"--pieces", "300"}), "--pieces"},
        {Stitch({"--pieces", "0x300"}), "--pieces"},
        {Stitch({"--world-file=yes"}), "--world-file takes no value"},
        {{"stitch", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--out", "a.png"}, "--out"},
        {{"export", "--zoom", "3", "--from", "1,2", "--to", "3,4"}, "one of --dir"},
        {{"export", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--dir", "d", "--mbtiles", "m"},
         "one of --dir"},
        {{"export", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--mbtiles", "m", "--tab"},
         "--tab needs --dir"},
        {{"export", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--sqlitedb", "m", "--name",
          "n"},
         "--name needs --mbtiles"},
        {{"export", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--mbtiles", "d/"}, "--mbtiles"},
        {{"download", "--zoom", "5-3", "--from", "1,2", "--to", "3,4"}, "--zoom"},
        {{"download", "--zoom", "3-21", "--from", "1,2", "--to", "3,4"}, "--zoom"},
        {{"download", "--zoom", "3-", "--from", "1,2", "--to", "3,4"}, "--zoom"},
        {{"stitch", "--zoom", "3-4", "--from", "1,2", "--to", "3,4", "--out", "a.jpg"},
         "a stitch takes one zoom"},
        {{"download", "--zoom", "3", "--region", "r.kml", "--from", "1,2"},
         "--region takes the place of --from and --to"},
        {{"download", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--buffer", "50"},
         "--buffer needs --region"},
        {{"download", "--zoom", "3", "--region", "r.gpx", "--buffer", "0"}, "--buffer"},
        {{"download", "--zoom", "3", "--region", "r.gpx", "--buffer", "1e9"}, "--buffer"},
        {{"stitch", "--zoom", "3", "--region", "r.gpx", "--out", "a.jpg", "--pieces", "300x300"},
         "--pieces cannot be used with --region"},
        {{"download", "--zoom", "3", "--region", "r.gpx", "--retry-failed"},
         "--retry-failed needs --state"},
        {{"export", "--zoom", "3", "--region", "r.gpx", "--dir", "d", "--state", "s.json"},
         "--state is not an option of export"},
        {{"stitch", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--out", "d/.tif"}, "--out"},
        {{"download", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--snap-to-tiles"},
         "--snap-to-tiles is not an option of download"},
        {{"export", "--zoom", "3", "--from", "1,2", "--to", "3,4", "--dir", "d", "--mode", "cache"},
         "--mode is not an option of export"},
    };
    for (const Case& c : cases) {
        const CliParseResult r = ParseCliArgs(c.Args);
        EXPECT_FALSE(r.Ok) << c.Named;
        EXPECT_NE(r.Error.find(c.Named), std::string::npos) << r.Error;
    }
}

class CliUsageTest : public CliTest {};

TEST_F(CliUsageTest, BadArgumentsGiveStatusTwoAndHelpGivesTheUsage) {
    const CliResult bad =
        RunArgs({"download", "--zoom", "25", "--from", "55.8,37.5", "--to", "55.7,37.7"});
    EXPECT_EQ(bad.Status, 2);
    EXPECT_NE(bad.Err.find("--zoom: expected a zoom from 1 to 20, got \"25\""), std::string::npos)
        << bad.Err;
    EXPECT_TRUE(bad.Out.empty());
    const CliResult coordinate =
        RunArgs({"download", "--zoom", "5", "--from", "55,8,37.5", "--to", "55.7,37.7"});
    EXPECT_EQ(coordinate.Status, 2);
    EXPECT_NE(coordinate.Err.find("--from"), std::string::npos);
    const CliResult unknown = RunArgs({"download", "--zom", "5"});
    EXPECT_EQ(unknown.Status, 2);
    EXPECT_NE(unknown.Err.find("unknown option --zom"), std::string::npos);

    const CliResult help = RunArgs({"stitch", "--zoom", "99", "--help"});
    EXPECT_EQ(help.Status, 0);
    for (const char* documented :
         {"download", "stitch", "export", "--connections", "--mode", "--folder", "--pieces",
          "--add-coordinates", "--world-file", "--tab", "--quality", "interleave", "SIGINT",
          "Exit status", "--mbtiles", "--sqlitedb", "z = 17 - zoom", "12-16"})
        EXPECT_NE(help.Out.find(documented), std::string::npos) << documented;
}

}  // namespace
