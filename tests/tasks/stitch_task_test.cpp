#include "tasks/stitch_task.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <filesystem>
#include <random>
#include <regex>
#include <set>

#include "fetch/request_tile.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "platform/numbers.h"
#include "support/file_size_limit.h"
#include "support/http_script_server.h"
#include "support/task_tiles.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tasks/log_lines.h"
#include "tasks/task_params.h"
#include "tasks/tasks.h"
#include "formats/world_file.h"

namespace {

using namespace std::chrono_literals;
constexpr const char* Prefix = "/kh?v=9&n=404&t=t";

struct Pixel {
    int R, G, B;
};

class StitchTaskTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetSourceString(State, Server.Url(Prefix));
        SetCachePath(State, Cache.Path() + "cache/");
        State.GenerateUpperLayers = false;
        Saved = GetFetchOptions();
        FetchOptions quick;
        quick.ConnectTimeoutMs = 2000;
        quick.StallSeconds = 2;
        SetFetchOptions(quick);
        // The corner 100 px right and 60 px down in its tile: border tiles
        // stick out of the image on the west and north.
        double lon = -37.6, lat = 55.7;
        const TileKey k = TileKeyAt(13, lon, lat, "");
        PointAtDelta(100 - k.XOffset, 60 - k.YOffset, 13, lon, lat);
        State.SelLat1 = lat - 1e-9;
        State.SelLon1 = lon;
    }
    void TearDown() override {
        StopAllTasks(State);
        EXPECT_TRUE(WaitForTaskWorker(State, 60s));
        SetFetchOptions(Saved);
    }

    // A 300 x 300 stitch: 2 x 2 tiles at (-100, -60) in steps of 256.
    std::shared_ptr<stichtype> Make(const std::string& out) {
        TaskRequest request;
        request.IsStitch = true;
        request.FileName = out;
        auto task = NewTask(State, request);
        task->ImageWidth = task->ImageHeight = 300;
        task->Bitmap = std::make_unique<StitchOutput>(300, 300, out);
        std::string error;
        EXPECT_TRUE(BuildTaskTiles(State, *task, 13, 300, 300, error));
        task->RetryPause = 10;
        return task;
    }
    void Run(const std::shared_ptr<stichtype>& task) {
        QueueTask(State, task);
        ASSERT_TRUE(StartTaskWorker(State, task));
        ASSERT_TRUE(WaitForTaskWorker(State, 60s));
    }
    static Pixel At(const std::vector<uint8_t>& rgb, int width, int x, int y) {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }

    HttpScriptServer Server;
    TempDir Cache;
    MainState State;
    FetchOptions Saved;
};

TEST_F(StitchTaskTest, FailedTileIsAPlaceholderSkippedOnesStayWhite) {
    // The first tile the worker meets (bottom right) fails three times; with
    // a limit of two the other three are skipped.
    State.FetchAttempts = 1;
    State.MaxFetchErrors = 2;
    for (int i = 0; i < 3; ++i) Server.Push(ScriptedAnswer::Status(500, "Internal Server Error"));
    const std::string out = Cache.Path() + "region.jpg";
    auto task = Make(out);
    const std::string failedUrl = FirstTile(*task).Url;
    Run(task);

    const std::string lat = FormatFixed(task->Lat1, 6), lon = FormatFixed(task->Lon1, 6);
    const std::vector<std::string> expected = {
        "Поступила команда Склеить T",
        "Начато формирование списка склеиваимых фрагментов T",
        "Список создан T",
        "Запуск потока T",
        "Выделение памяти под битовый образ Мб:0,000000T",
        "Начало склеивания в T Размеры 300x300 координаты " + lat + " " + lon + " " + out,
        "ошибка при получении 500 Internal Server Error " + failedUrl,
        "ошибка при получении 500 Internal Server Error " + failedUrl,
        "ошибка при получении 500 Internal Server Error " + failedUrl,
        "Склеено в памяти",
        "Генерация вышележащих слоев",
        "начало сжатия",
        "сжатие завершено",
        "файл сохранен",
        "очистка памяти",
        "выполнено в T"};
    EXPECT_EQ(WithoutTimes(task->Log.Lines()), expected);
    EXPECT_EQ(Server.Requests().size(), 3u);

    int width = 0, height = 0;
    const auto rgb = DecodeJpegRgb(Cache.ReadFile("region.jpg"), width, height);
    ASSERT_EQ(width, 300);
    ASSERT_EQ(height, 300);
    // The failed tile covers (156.., 196..): grey with black text; the rest white.
    const Pixel grey = At(rgb, width, 290, 290);
    EXPECT_NEAR(grey.R, 192, 8);
    EXPECT_NEAR(grey.G, 192, 8);
    EXPECT_NEAR(grey.B, 192, 8);
    for (auto [x, y] : {std::pair{10, 10}, {10, 290}, {290, 10}, {150, 190}}) {
        const Pixel white = At(rgb, width, x, y);
        EXPECT_GT(white.R + white.G + white.B, 3 * 245) << x << "," << y;
    }
}

TEST_F(StitchTaskTest, TilesAreDrawnWhereTheyBelongAndAStoppedTaskSavesNothing) {
    // Four solid tiles in the worker's order: bottom right, top right,
    // bottom left, top left.
    const uint8_t shades[4] = {40, 90, 140, 220};
    for (uint8_t s : shades) Server.Push(ScriptedAnswer::Ok(MakeSolidJpeg(256, 256, s, s, s, 95)));
    auto task = Make(Cache.Path() + "solid.jpg");
    Run(task);
    int width = 0, height = 0;
    const auto rgb = DecodeJpegRgb(Cache.ReadFile("solid.jpg"), width, height);
    ASSERT_EQ(width, 300);
    // The first column ends at x = 156, the first row at y = 196.
    EXPECT_NEAR(At(rgb, width, 290, 290).R, 40, 6);
    EXPECT_NEAR(At(rgb, width, 290, 100).R, 90, 6);
    EXPECT_NEAR(At(rgb, width, 100, 290).R, 140, 6);
    EXPECT_NEAR(At(rgb, width, 100, 100).R, 220, 6);

    // Stopped while waiting for its start: neither the image nor a line of it.
    TaskRequest later;
    later.IsStitch = true;
    later.DelayHours = 1;
    later.FileName = Cache.Path() + "stopped.jpg";
    auto stopped = NewTask(State, later);
    stopped->ImageWidth = stopped->ImageHeight = 300;
    stopped->Bitmap = std::make_unique<StitchOutput>(300, 300, later.FileName);
    std::string error;
    ASSERT_TRUE(BuildTaskTiles(State, *stopped, 13, 300, 300, error));
    QueueTask(State, stopped);
    ASSERT_TRUE(StartTaskWorker(State, stopped));
    while (!stopped->Started) std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(50ms);
    StopTaskAt(State, 0);
    ASSERT_TRUE(WaitForTaskWorker(State, 5s));
    EXPECT_FALSE(Cache.Exists("stopped.jpg"));
    const auto lines = WithoutTimes(stopped->Log.Lines());
    for (const char* absent : {"Склеено в памяти", "начало сжатия", "файл сохранен"})
        EXPECT_EQ(std::find(lines.begin(), lines.end(), absent), lines.end()) << absent;
    EXPECT_EQ(lines.back(), "выполнено в T");
}

// The tile records' reach in the image: left and top edges of the first,
// right and bottom edges of the last column and row.
struct Reach {
    int Left = INT_MAX, Top = INT_MAX, Right = INT_MIN, Bottom = INT_MIN;
};
Reach ReachOf(const stichtype& task) {
    Reach r;
    for (const jtype& t : TaskTileList(task)) {
        r.Left = std::min(r.Left, t.X);
        r.Top = std::min(r.Top, t.Y);
        r.Right = std::max(r.Right, t.X + TileSize);
        r.Bottom = std::max(r.Bottom, t.Y + TileSize);
    }
    return r;
}

TaskBuild BuildStitch(MainState& state, const RegionCorners& c, int zoom, const std::string& out,
                      std::shared_ptr<stichtype>& task, std::string& error,
                      bool worldFile = false) {
    state.SelLat1 = c.Lat1;
    state.SelLon1 = c.Lon1;
    state.SelLat2 = c.Lat2;
    state.SelLon2 = c.Lon2;
    state.HasSelection = true;
    TaskRequest request;
    request.IsStitch = true;
    request.Zoom = zoom;
    request.FileName = out;
    request.WorldFile = worldFile;
    task = NewTask(state, request);
    std::string failedFile;
    return BuildTask(state, *task, request, failedFile, error);
}

TEST(RegionSize, TheTileListCoversTheStitchedImageToItsLastRowAndColumn) {
    TempDir dir;
    MainState state;
    SetCachePath(state, dir.Path());
    state.WriteOziMap = false;
    struct Case {
        int Zoom;
        RegionCorners Corners;
    };
    // A region whose last row was left out, then random ones where the
    // single-precision corner shows most.
    std::vector<Case> cases = {
        {13, {-58.623888569089907, -154.60081100463867, -58.654263242611108, -154.70775604248047}}};
    std::mt19937 random(20261209);
    std::uniform_real_distribution<double> lat(-80, 80), lon(-179, 179);
    std::uniform_int_distribution<int> pixels(1, 1500);
    for (int i = 0; i < 3000; ++i) {
        Case c{14 + i % 7, {lat(random), lon(random), 0, 0}};
        c.Corners.Lat2 = c.Corners.Lat1;
        c.Corners.Lon2 = c.Corners.Lon1;
        PointAtDelta(pixels(random), pixels(random), c.Zoom, c.Corners.Lon2, c.Corners.Lat2);
        cases.push_back(c);
    }
    int built = 0;
    for (const Case& c : cases) {
        std::shared_ptr<stichtype> task;
        std::string error;
        if (BuildStitch(state, c.Corners, c.Zoom, dir.File("r.jpg"), task, error) !=
            TaskBuild::Built)
            continue;
        ++built;
        const Reach r = ReachOf(*task);
        const int w = task->ImageWidth, h = task->ImageHeight;
        ASSERT_TRUE(r.Left <= 0 && r.Top <= 0 && r.Right >= w && r.Bottom >= h &&
                    r.Right - TileSize < w && r.Bottom - TileSize < h)
            << "zoom " << c.Zoom << " " << c.Corners.Lat1 << "," << c.Corners.Lon1 << " "
            << c.Corners.Lat2 << "," << c.Corners.Lon2 << ": " << w << "x" << h << " covered to "
            << r.Right << "x" << r.Bottom;
        if (built == 1) {
            EXPECT_EQ(w, 623);
            EXPECT_EQ(h, 340);
        }
    }
    EXPECT_GT(built, 2900);
}

TEST_F(StitchTaskTest, NearThePolesTheWalkEndsAtTheWorldsEdgeAndTheFilesDescribeTheImage) {
    State.WriteMapInfoTab = true;
    struct Case {
        int Zoom;
        double Lat1, Lat2;
    };
    // Corners at the clamped latitude lie a few pixels outside the world.
    for (const Case c : {Case{17, -85.03, -ClampLatitude}, Case{18, -85.04, -ClampLatitude},
                         Case{20, -85.0505, -ClampLatitude}, Case{17, ClampLatitude, 85.03},
                         Case{18, ClampLatitude, 85.04}, Case{20, ClampLatitude, 85.0505}}) {
        SCOPED_TRACE(std::to_string(c.Zoom) + " " + std::to_string(c.Lat1));
        const std::string out = Cache.File("pole.jpg");
        std::shared_ptr<stichtype> task;
        std::string error;
        ASSERT_EQ(
            BuildStitch(State, {c.Lat1, -37.6, c.Lat2, -37.61}, c.Zoom, out, task, error, true),
            TaskBuild::Built)
            << error;
        const int last = (1 << c.Zoom) - 1;
        const int first = TileAt(c.Zoom, task->Lon1, task->Lat1).Row;
        std::set<int> rows;
        for (const jtype& t : TaskTileList(*task)) rows.insert(KeyToTile(t.TileName, 0).Row);
        EXPECT_EQ(*rows.begin(), first);
        EXPECT_LE(*rows.rbegin(), last);
        EXPECT_EQ(static_cast<int>(rows.size()), *rows.rbegin() - first + 1) << "no row twice";
        WorldFileParams params{c.Zoom, 0, 0, task->ImageWidth, task->ImageHeight, out};
        WorldPixelAt(c.Zoom, task->Lat1, task->Lon1, params.Left, params.Top);
        EXPECT_EQ(Cache.ReadFile("pole.jgw"), WorldFileText(params));
        EXPECT_TRUE(Cache.Exists("pole.map"));
    }

    // A world file that cannot be written: no task, and no file of it.
    std::filesystem::create_directories(Cache.File("held.jgw/x"));
    std::shared_ptr<stichtype> task;
    std::string error;
    EXPECT_EQ(BuildStitch(State, {55.8, -37.5, 55.7, -37.7}, 12, Cache.File("held.jpg"), task,
                          error, true),
              TaskBuild::FileNotWritten);
    for (const char* name : {"held.map", "held.tab", "held.jpg.aux.xml"})
        EXPECT_FALSE(Cache.Exists(name)) << name;
}

TEST_F(StitchTaskTest, AnEmptyRegionIsNeverQueuedSoTheNextTaskRuns) {
    SetWorkMode(State, 0);
    // On a column edge and no wider than it: no tile at all.
    double edge = -37.6, lat = 55.8;
    PointAtDelta(-TileKeyAt(13, edge, lat, "").XOffset, 0, 13, edge, lat);
    ASSERT_EQ(TileKeyAt(13, edge, lat, "").XOffset, 0);
    std::shared_ptr<stichtype> empty;
    std::string error;
    EXPECT_EQ(
        BuildStitch(State, {lat, edge, lat - 0.1, edge}, 13, Cache.File("empty.jpg"), empty, error),
        TaskBuild::ListRefused);
    EXPECT_NE(error.find("нет ни одного фрагмента"), std::string::npos) << error;
    EXPECT_FALSE(Cache.Exists("empty.map"));
    EXPECT_TRUE(State.TaskList.Empty());

    std::shared_ptr<stichtype> next;
    ASSERT_EQ(
        BuildStitch(State, {55.8, -37.5, 55.79, -37.51}, 13, Cache.File("next.jpg"), next, error),
        TaskBuild::Built);
    Run(next);
    EXPECT_TRUE(next->Saved);
    EXPECT_TRUE(Cache.Exists("next.jpg"));
}

TEST_F(StitchTaskTest, ATileThatCannotBeKeptStopsTheStitchAtOnce) {
    // Twelve cached tiles; every one goes to the temporary file, which
    // cannot grow.
    SetWorkMode(State, 0);
    const std::string out = Cache.Path() + "big.jpg";
    auto task = Make(out);
    task->ImageWidth = 1200;
    task->Bitmap = std::make_unique<StitchOutput>(1200, 300, out, 0);
    std::string error;
    ASSERT_TRUE(BuildTaskTiles(State, *task, 13, 1200, 300, error));
    ASSERT_EQ(task->TileCount, 12);
    for (const jtype& t : TaskTileList(*task))
        Cache.WriteFile("cache/" + t.TileName + ".jpg", MakeTileJpeg(256, 256, 5));
    {
        FileSizeLimit limit(1000);
        Run(task);
    }
    EXPECT_EQ(task->TilesDone, 1);
    EXPECT_FALSE(task->Saved);
    EXPECT_FALSE(Cache.Exists("big.jpg"));
    const auto lines = WithoutTimes(task->Log.Lines());
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& l) {
                          return l.starts_with("Склеивание прервано: фрагменты негде хранить: ");
                      }),
        1);
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "начало сжатия"), lines.end());
    EXPECT_EQ(lines.back(), "выполнено в T");
}

}  // namespace
