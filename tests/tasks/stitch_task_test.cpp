#include "tasks/stitch_task.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>

#include "fetch/request_tile.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "platform/numbers.h"
#include "support/http_script_server.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tasks/log_lines.h"
#include "tasks/tasks.h"

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
    const std::string failedUrl = task->Tiles->Url;
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

}  // namespace
