#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <set>
#include <thread>

#include "cli_fixture.h"
#include "core/app_core.h"
#include "geo/tile_key.h"
#include "platform/numbers.h"
#include "support/file_size_limit.h"
#include "support/sql_query.h"
#include "tasks/stitch_task.h"
#include "tasks/task_params.h"
#include "tasks/tasks.h"

namespace {

using namespace std::chrono_literals;

// 582 x 517 pixels at zoom 12: 3 x 3 tiles; the corners given south-east first.
const std::vector<std::string> Region = {"--zoom",      "12",   "--from",
                                         "55.70,37.70", "--to", "55.80,37.50"};

std::vector<std::string> With(std::vector<std::string> head, std::vector<std::string> tail = {}) {
    head.insert(head.end(), Region.begin(), Region.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

bool Has(const std::vector<std::string>& lines, const std::string& start) {
    for (const std::string& line : lines)
        if (line.rfind(start, 0) == 0) return true;
    return false;
}

TEST_F(CliTest, DownloadStoresEveryTileOnceAndPrintsTheTaskLog) {
    StartServer();
    WriteSettings(Folder.Path());
    const std::string settings = Folder.ReadFile(SettingsFileName);
    const CliResult r = Run(With({"download"}), Folder.Path());
    ASSERT_EQ(r.Status, 0) << r.Err;
    const auto lines = r.Lines();
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[0].rfind("Поступила команда Выкачать ", 0), 0u);
    EXPECT_EQ(lines[1].rfind("Начато формирование списка выкачиваемых фрагментов ", 0), 0u);
    EXPECT_EQ(lines[2].rfind("Список создан ", 0), 0u);
    EXPECT_EQ(lines[3].rfind("Запуск потока ", 0), 0u);
    // The north-west corner, longitude west positive inside the program.
    EXPECT_TRUE(Has(lines, "Начало выкачивания в "));
    EXPECT_NE(r.Out.find("фрагментов 9 координаты 55,800000 -37,500000"), std::string::npos)
        << r.Out;
    EXPECT_TRUE(Has(lines, "Выкачано"));
    EXPECT_TRUE(Has(lines, "выполнено в "));
    EXPECT_EQ(r.LastLine(), "vistrel-cli: 9 tiles, 9 obtained, 0 failed, 0 skipped");
    EXPECT_EQ(CachedTiles(Folder.Path()).size(), 9u);
    // The server logs a request only after it has answered it.
    for (int i = 0; i < 200 && AskedTiles().size() < 9; ++i) std::this_thread::sleep_for(10ms);
    const auto asked = AskedTiles();
    EXPECT_EQ(asked.size(), 9u);
    for (const auto& [letters, times] : asked) EXPECT_EQ(times, 1) << letters;
    EXPECT_EQ(Folder.ReadFile(SettingsFileName), settings) << "the settings file was written";
}

TEST_F(CliTest, FailedAndSkippedTilesGiveStatusThreeAndTheLastLineCountsThem) {
    vistrel::tileserver::FaultOptions faults;
    faults.ServerErrorShare = 1;
    StartServer(faults);
    WriteSettings(Folder.Path(), [](MainState& s) {
        s.FetchAttempts = 1;
        s.MaxFetchErrors = 100;
    });
    const CliResult failed = Run(With({"download"}), Folder.Path());
    EXPECT_EQ(failed.Status, 3);
    EXPECT_EQ(failed.LastLine(), "vistrel-cli: 9 tiles, 0 obtained, 9 failed, 0 skipped");

    // With the default error limit the rest is passed over.
    TempDir other;
    WriteSettings(other.Path(), [](MainState& s) { s.FetchAttempts = 0; });
    const CliResult skipped = Run(With({"download"}), other.Path());
    EXPECT_EQ(skipped.Status, 3);
    std::smatch m;
    const std::string last = skipped.LastLine();
    ASSERT_TRUE(std::regex_match(last, m,
                                 std::regex("vistrel-cli: 9 tiles, 0 obtained, (\\d) failed, (\\d) "
                                            "skipped")))
        << last;
    EXPECT_EQ(std::stoi(m[1]) + std::stoi(m[2]), 9);
    EXPECT_GT(std::stoi(m[2]), 0);
}

TEST_F(CliTest, StitchCutIntoPiecesWithWorldFilesAndTheirCorners) {
    StartServer();
    WriteSettings(Folder.Path());
    Folder.WriteFile("file", "");
    const CliResult r =
        Run(With({"stitch"}, {"--out", Folder.File("file/region.jpg"), "--pieces", "300x300"}),
            Folder.Path());
    ASSERT_EQ(r.Status, 1) << "a file stands where the folder would be";
    EXPECT_NE(r.Err.find(Folder.File("file") + ": the folder cannot be made"), std::string::npos)
        << r.Err;

    // The missing folder is made, as for the export.
    const CliResult ok =
        Run(With({"stitch"}, {"--out", Folder.File("out/region.jpg"), "--pieces", "300x300",
                              "--add-coordinates", "--world-file", "--quality", "70"}),
            Folder.Path());
    ASSERT_EQ(ok.Status, 0) << ok.Err;
    // Numbered down the first column, then the second; the last ones narrower.
    const std::vector<std::pair<int, int>> sizes = {{300, 300}, {300, 217}, {282, 300}, {282, 217}};
    std::map<int, std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(Folder.File("out"))) {
        std::smatch m;
        const std::string name = e.path().filename().string();
        if (std::regex_match(name, m,
                             std::regex("region_(\\d)_(\\d+,\\d{5})_(-\\d+,\\d{5})\\.jpg")))
            names[std::stoi(m[1])] = name;
    }
    ASSERT_EQ(names.size(), 4u) << ok.Out;
    // The first piece's corner is the region's, snapped to its pixel (a
    // pixel is 0.00034 degrees of longitude at zoom 12).
    std::smatch corner;
    ASSERT_TRUE(std::regex_match(names[1], corner,
                                 std::regex("region_1_(\\d+),(\\d+)_(-\\d+),(\\d+)\\.jpg")));
    EXPECT_NEAR(std::stod(corner[1].str() + "." + corner[2].str()), 55.8, 0.0004);
    EXPECT_NEAR(std::stod(corner[3].str() + "." + corner[4].str()), -37.5, 0.0004);
    for (const auto& [n, name] : names) {
        int width = 0, height = 0;
        DecodeJpegRgb(Folder.ReadFile("out/" + name), width, height);
        EXPECT_EQ(std::make_pair(width, height), sizes[n - 1]) << name;
        const std::string stem = name.substr(0, name.size() - 4);
        EXPECT_TRUE(Folder.Exists("out/" + stem + ".map")) << stem;
        EXPECT_TRUE(Folder.Exists("out/" + stem + ".jgw")) << stem;
    }
    // Each piece counts the 2 x 2 tiles it covers.
    EXPECT_EQ(ok.LastLine(), "vistrel-cli: 16 tiles, 16 obtained, 0 failed, 0 skipped");
}

TEST_F(CliTest, ExportCopiesTheCachedTilesWithTabFiles) {
    StartServer();
    WriteSettings(Folder.Path());
    const CliResult empty =
        Run(With({"export"}, {"--dir", Folder.File("x"), "--tab"}), Folder.Path());
    EXPECT_EQ(empty.Status, 3);
    EXPECT_EQ(empty.LastLine(),
              "vistrel-cli: 9 tiles, 0 copied, 9 not in the cache -> " + Folder.File("x"));

    ASSERT_EQ(Run(With({"download"}), Folder.Path()).Status, 0);
    const CliResult r =
        Run(With({"export"}, {"--dir", Folder.File("x/y"), "--tab"}), Folder.Path());
    ASSERT_EQ(r.Status, 0) << r.Err;
    int tabs = 0;
    for (const std::string& tile : CachedTiles(Folder.Path())) {
        const std::string stem = tile.substr(0, tile.size() - 4);
        EXPECT_EQ(Folder.ReadFile("x/y/" + tile), Folder.ReadFile("Cache/" + tile));
        tabs += Folder.Exists("x/y/" + stem + ".tab");
    }
    EXPECT_EQ(tabs, 9);
}

TEST_F(CliTest, AZoomRangeIsOneTaskAskingEveryTileOfEachZoomOnceLowestFirst) {
    StartServer();
    WriteSettings(Folder.Path());
    const CliResult r =
        Run({"download", "--zoom", "11-13", "--from", "55.70,37.70", "--to", "55.80,37.50"},
            Folder.Path());
    ASSERT_EQ(r.Status, 0) << r.Err;
    std::set<std::string> all;
    for (int z = 11; z <= 13; ++z) all.merge(RegionTiles(z));
    const auto asked = AskedTiles();
    EXPECT_EQ(asked.size(), all.size());
    for (const auto& [letters, times] : asked) {
        EXPECT_EQ(times, 1) << letters;
        EXPECT_TRUE(all.count(letters)) << letters;
    }
    const auto order = AskedInOrder();
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end(),
                               [](const auto& a, const auto& b) { return a.size() < b.size(); }));
    const auto lines = r.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) {
                                return l.rfind("Начато формирование списка", 0) == 0;
                            }),
              3);
    const std::string count = std::to_string(all.size());
    EXPECT_EQ(r.LastLine(),
              "vistrel-cli: " + count + " tiles, " + count + " obtained, 0 failed, 0 skipped");
}

TEST_F(CliTest, ExportIntoAnMBTilesFileListsWhatTheCacheLacks) {
    StartServer();
    WriteSettings(Folder.Path());
    ASSERT_EQ(Run(With({"download"}), Folder.Path()).Status, 0);
    const std::string file = Folder.File("r.mbtiles");
    // Zoom 11 was never downloaded.
    const CliResult r = Run({"export", "--zoom", "11-12", "--from", "55.70,37.70", "--to",
                             "55.80,37.50", "--mbtiles", file, "--name", "Region"},
                            Folder.Path());
    EXPECT_EQ(r.Status, 3) << r.Err;
    const auto z11 = RegionTiles(11);
    for (const std::string& letters : z11)
        EXPECT_TRUE(std::regex_search(
            r.Out, std::regex("vistrel-cli: not in the cache: 11/[0-9]+/[0-9]+ " + letters + "\n")))
            << letters;
    EXPECT_EQ(r.LastLine(), "vistrel-cli: " + std::to_string(9 + z11.size()) +
                                " tiles, 9 copied, " + std::to_string(z11.size()) +
                                " not in the cache -> " + file);
    SqlQuery sql(file);
    EXPECT_EQ(sql.One("SELECT count(*) FROM tiles WHERE zoom_level = 12"), "9");
    EXPECT_EQ(sql.Meta("name"), "Region");
    EXPECT_EQ(sql.Meta("bounds"), "37.500000,55.700000,37.700000,55.800000");
    for (const std::string& tile : CachedTiles(Folder.Path())) {
        const TileIndex t = KeyToTile(tile.substr(0, tile.size() - 4), 0);
        EXPECT_EQ(sql.One("SELECT tile_data FROM tiles WHERE zoom_level = 12 AND tile_column = " +
                          std::to_string(t.Column) +
                          " AND tile_row = " + std::to_string((1 << 12) - 1 - t.Row)),
                  Folder.ReadFile("Cache/" + tile));
    }

    // Not a database of that kind: refused with status 1, never touched.
    Folder.WriteFile("notes.sqlitedb", "some notes");
    const CliResult refused =
        Run(With({"export"}, {"--sqlitedb", Folder.File("notes.sqlitedb")}), Folder.Path());
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("left as it is"), std::string::npos) << refused.Err;
    EXPECT_EQ(Folder.ReadFile("notes.sqlitedb"), "some notes");
}

TEST_F(CliTest, ModeOverridesTheSettingsForThisRunOnly) {
    StartServer();
    WriteSettings(Folder.Path(), [](MainState& s) { SetWorkMode(s, 1); });
    const std::string settings = Folder.ReadFile(SettingsFileName);
    Run(With({"download"}, {"--mode", "cache"}), Folder.Path());
    EXPECT_TRUE(AskedTiles().empty());
    EXPECT_TRUE(CachedTiles(Folder.Path()).empty());
    EXPECT_EQ(Run(With({"download"}), Folder.Path()).Status, 0);
    EXPECT_EQ(AskedTiles().size(), 9u);
    EXPECT_EQ(Folder.ReadFile(SettingsFileName), settings);
}

TEST_F(CliTest, SourceByNameBringsItsCacheAndRefreshOlderAsksConditionally) {
    StartServer();
    WriteSettings(Folder.Path());
    const std::string settings = Folder.ReadFile(SettingsFileName);
    ASSERT_TRUE(Folder.WriteFile("Sources.json", R"({"sources": [
        {"name": "Второй", "url": ")" + Server->UrlPrefix() +
                                                     R"(", "cache": "Second"},
        {"name": "Сломанный", "url": "x", "cache": "Second"}]})"));
    CliResult r = Run(With({"download"}, {"--source", "Второй"}), Folder.Path());
    ASSERT_EQ(r.Status, 0) << r.Err << r.Out;
    EXPECT_NE(r.Err.find("запись 2 «Сломанный»"), std::string::npos) << r.Err;
    EXPECT_TRUE(CachedTiles(Folder.Path()).empty());
    std::error_code ec;
    size_t second = 0;
    for (const auto& e : std::filesystem::directory_iterator(Folder.Path() + "Second", ec)) {
        // Ten days old: due for a refresh of five.
        const std::time_t old = std::time(nullptr) - 10 * 86400;
        const timespec times[2] = {{old, 0}, {old, 0}};
        EXPECT_EQ(utimensat(AT_FDCWD, e.path().c_str(), times, 0), 0);
        ++second;
    }
    EXPECT_EQ(second, 9u);

    struct Case {
        std::vector<std::string> Extra;
        std::string LastLine;
        int Status;
    };
    const Case cases[] = {
        {{"--refresh-older", "30"}, "vistrel-cli: 9 tiles, 9 obtained, 0 failed, 0 skipped", 0},
        {{"--refresh-older", "5"},
         "vistrel-cli: 9 tiles, 9 obtained, 0 failed, 0 skipped, 9 unchanged",
         0},
        {{"--source", "Нет такого"}, "", CliBadArguments},
    };
    for (const Case& c : cases) {
        std::vector<std::string> extra = {"--source", "Второй"};
        extra.insert(extra.end(), c.Extra.begin(), c.Extra.end());
        if (c.Status != 0) extra = c.Extra;
        r = Run(With({"download"}, extra), Folder.Path());
        EXPECT_EQ(r.Status, c.Status) << r.Err;
        if (c.Status == 0) {
            EXPECT_EQ(r.LastLine(), c.LastLine);
        }
    }
    EXPECT_NE(r.Err.find("--source: no source named \"Нет такого\" (there are: Основной, Второй)"),
              std::string::npos)
        << r.Err;
    EXPECT_EQ(Server->Stats().NotModified, 9u);
    EXPECT_EQ(Folder.ReadFile(SettingsFileName), settings);
}

TEST_F(CliTest, ProblemsOfTheRunNameTheirCause) {
    WriteSettings(Folder.Path());
    const CliResult folder = Run(With({"download"}), Folder.File("none"));
    EXPECT_EQ(folder.Status, 1);
    EXPECT_NE(folder.Err.find(Folder.File("none") + ": no such folder"), std::string::npos);

    const CliResult empty = Run(
        {"download", "--zoom", "12", "--from", "55.7,37.7", "--to", "55.7,37.7"}, Folder.Path());
    EXPECT_EQ(empty.Status, 2);
    EXPECT_NE(empty.Err.find("the region is empty"), std::string::npos);

    const CliResult pieces = Run(
        With({"stitch"}, {"--out", Folder.File("a.jpg"), "--pieces", "600x300"}), Folder.Path());
    EXPECT_EQ(pieces.Status, 2) << "a piece as wide as the region";
    EXPECT_NE(pieces.Err.find("--pieces"), std::string::npos);
    EXPECT_NE(pieces.Err.find("582x517"), std::string::npos) << pieces.Err;
    EXPECT_FALSE(Folder.Exists("a.map"));
}

TEST_F(CliTest, MoreConnectionsGetEveryTileOnceWithTheSameCounts) {
    vistrel::tileserver::FaultOptions slow;
    slow.DelayMs = 50;
    StartServer(slow);
    const std::vector<std::string> args = {"download",  "--zoom", "12",       "--from",
                                           "55.9,37.3", "--to",   "55.6,37.8"};
    WriteSettings(Folder.Path());
    const CliResult one = Run(args, Folder.Path());
    ASSERT_EQ(one.Status, 0) << one.Err;
    const auto askedOne = AskedTiles();
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Asked.clear();
    }
    TempDir other;
    WriteSettings(other.Path());
    auto four = args;
    four.insert(four.end(), {"--connections", "4"});
    const CliResult r = Run(four, other.Path());
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.LastLine(), one.LastLine());
    EXPECT_GT(askedOne.size(), 30u);
    const auto asked = AskedTiles();
    EXPECT_EQ(asked.size(), askedOne.size());
    for (const auto& [letters, times] : asked) EXPECT_EQ(times, 1) << letters;
    EXPECT_EQ(CachedTiles(other.Path()), CachedTiles(Folder.Path()));
}

// The window makes a stitch with these very calls (its task maker); the
// command line, given east-positive corners in either order, must make the
// same files byte for byte.
TEST_F(CliTest, StitchMakesTheSameFilesAsTheWindowsTaskMaker) {
    StartServer();
    TempDir window;
    WriteSettings(Folder.Path(), [](MainState& s) { s.WriteMapInfoTab = true; });
    WriteSettings(window.Path(), [](MainState& s) { s.WriteMapInfoTab = true; });
    std::filesystem::create_directories(Folder.File("out"));
    std::filesystem::create_directories(window.File("out"));
    const CliResult r =
        Run(With({"stitch"}, {"--out", Folder.File("out/r.jpg"), "--world-file"}), Folder.Path());
    ASSERT_EQ(r.Status, 0) << r.Err;

    {
        MainState s;
        StartUpState(s, window.Path(), ScreenSize{});
        RegionCorners c{55.80, -37.50, 55.70, -37.70};
        s.SelLat1 = c.Lat1;
        s.SelLon1 = c.Lon1;
        s.SelLat2 = c.Lat2;
        s.SelLon2 = c.Lon2;
        s.HasSelection = true;
        TaskRequest request;
        request.IsStitch = true;
        request.Zoom = 12;
        request.Quality = s.ComboBox3Index * 10 + 10;
        request.FileName = window.File("out/r.jpg");
        request.WorldFile = true;
        auto task = NewTask(s, request);
        const RegionPixels size = RegionPixelSize(12, c);
        std::string error, failedFile;
        ASSERT_TRUE(PrepareStitch(s, *task, 12, true, failedFile, error)) << error;
        ASSERT_TRUE(BuildTaskTiles(s, *task, 12, size.Width, size.Height, error)) << error;
        ASSERT_TRUE(QueueTask(s, task));
        ASSERT_TRUE(StartTaskWorker(s, task));
        ASSERT_TRUE(WaitForTaskWorker(s, 60s));
    }
    std::set<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(window.File("out"))) {
        const std::string name = e.path().filename().string();
        std::string mine = Folder.ReadFile("out/" + name);
        std::string theirs = window.ReadFile("out/" + name);
        // The calibration files name the image with its folder.
        const auto at = theirs.find(window.Path());
        if (at != std::string::npos) theirs.replace(at, window.Path().size(), Folder.Path());
        EXPECT_FALSE(mine.empty()) << name;
        EXPECT_TRUE(mine == theirs) << name;
        files.insert(name);
    }
    EXPECT_EQ(files, (std::set<std::string>{"r.jpg", "r.map", "r.tab", "r.jgw", "r.jpg.aux.xml"}));
}

TEST_F(CliTest, AStitchThatCouldNotBeSavedFailsBesideAnOlderFileOfItsName) {
    WriteSettings(Folder.Path(), [](MainState& s) { s.WriteOziMap = false; });
    ASSERT_TRUE(Folder.WriteFile("r.jpg", "an older image"));
    CliResult r;
    {
        FileSizeLimit limit(1000);  // the cache is not written: only the image is
        r = Run(With({"stitch"}, {"--out", Folder.File("r.jpg"), "--mode", "cache"}),
                Folder.Path());
    }
    EXPECT_EQ(r.Status, CliError) << r.Out;
    EXPECT_NE(r.Err.find("r.jpg: the image was not saved"), std::string::npos) << r.Err;
    EXPECT_EQ(Folder.ReadFile("r.jpg"), "an older image");
}

TEST_F(CliTest, AStopEndsEveryPieceAtOnceAndStopsTheMaking) {
    vistrel::tileserver::FaultOptions slow;
    slow.DelayMs = 200;
    StartServer(slow);
    WriteSettings(Folder.Path());
    // Over 600 pieces of 256 x 256.
    const std::vector<std::string> args = {"stitch",      "--zoom",      "16",
                                           "--from",      "55.80,37.50", "--to",
                                           "55.70,37.60", "--out",       Folder.File("p.jpg"),
                                           "--pieces",    "256x256"};
    const auto maps = [&] {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(Folder.Path()))
            n += e.path().extension() == ".map";
        return n;
    };
    // A stop before the first piece is made: none is.
    Stops = 1;
    auto started = std::chrono::steady_clock::now();
    CliResult r = Run(args, Folder.Path());
    EXPECT_EQ(r.Status, CliIncomplete) << r.Err;
    EXPECT_EQ(maps(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);

    // A stop while the first pieces run: every queued one ends at once.
    Stops = 0;
    std::chrono::steady_clock::time_point stopped;
    std::thread signal([&] {
        std::this_thread::sleep_for(1500ms);
        stopped = std::chrono::steady_clock::now();
        Stops = 1;
    });
    r = Run(args, Folder.Path());
    signal.join();
    EXPECT_EQ(r.Status, CliIncomplete) << r.Err;
    // One by one they took a twentieth of a second each: half a minute.
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 5s);
    EXPECT_NE(r.LastLine().find("vistrel-cli: stopped: "), std::string::npos) << r.LastLine();
}

}  // namespace

TEST_F(CliTest, TheRunEndsWithTheCommonestFailureInWords) {
    uint16_t closed = 0;
    {
        vistrel::tileserver::TileServer gone(vistrel::tileserver::ServerOptions{});
        ASSERT_TRUE(gone.Start(0));
        closed = gone.Port();
    }
    WriteSettings(Folder.Path(), [&](MainState& s) {
        SetSourceString(s, "http://127.0.0.1:" + std::to_string(closed) + "/kh?v=9&n=404&t=t");
        s.ErrorControl = false;  // one attempt each, no pauses
    });
    const CliResult r = Run(With({"download"}), Folder.Path());
    EXPECT_EQ(r.Status, 3);
    EXPECT_EQ(r.LastLine(), "vistrel-cli: 9 tiles, 0 obtained, 9 failed, 0 skipped");
    // The last message of the run.
    const std::string last = "vistrel-cli: commonest failure: connection refused by 127.0.0.1:" +
                             std::to_string(closed) + " (9 of 9 failed attempts)\n";
    ASSERT_GE(r.Err.size(), last.size()) << r.Err;
    EXPECT_EQ(r.Err.substr(r.Err.size() - last.size()), last) << r.Err;
}

TEST_F(CliTest, AnUnusableTemplateIsSaidOnceOnStandardError) {
    const std::string source = "http://127.0.0.1:1/{z}/{w}/{y}.jpg";
    WriteSettings(Folder.Path(), [&](MainState& s) {
        SetSourceString(s, source);
        s.ErrorControl = false;
    });
    const CliResult r = Run(With({"download"}), Folder.Path());
    EXPECT_EQ(r.Status, 3);
    const std::string message = "vistrel-cli: " + Folder.Path() + SettingsFileName +
                                ": the source string cannot be used: " + CheckUrlTemplate(source) +
                                "\n";
    const size_t at = r.Err.find(message);
    EXPECT_NE(at, std::string::npos) << r.Err;
    EXPECT_EQ(r.Err.find(message, at + 1), std::string::npos) << "said once";
    EXPECT_NE(r.Out.find(std::string(NoRequestsLine) + CheckUrlTemplate(source) + "\n"),
              std::string::npos)
        << r.Out;
}

TEST_F(CliTest, AStitchWhoseCalibrationCannotNameItIsNotMade) {
    StartServer();
    WriteSettings(Folder.Path());
    const std::string out = Folder.File("Café 中.jpg");
    const CliResult r = Run(With({"stitch"}, {"--out", out, "--pieces", "300x300"}), Folder.Path());
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("(кодировка Windows-1251): é 中."), std::string::npos) << r.Err;
    EXPECT_TRUE(AskedTiles().empty());
    for (const auto& e : std::filesystem::directory_iterator(Folder.Path()))
        EXPECT_EQ(e.path().filename().string().find("Caf"), std::string::npos) << e.path();
}
