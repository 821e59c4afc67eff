#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "core/app_core.h"
#include "core/map_sources.h"
#include "fetch/request_tile.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "platform/numbers.h"
#include "support/http_script_server.h"
#include "support/task_tiles.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tasks/log_lines.h"
#include "tasks/tasks.h"
#include "tilestore/tile_lookup.h"

namespace {

using namespace std::chrono_literals;

// Records which task log lines the worker announced to the windows.
class LogSink : public UiSink {
  public:
    void TaskLogLine(const std::shared_ptr<stichtype>& task, std::size_t index) override {
        std::lock_guard<std::mutex> lock(Mutex);
        Announced.push_back(task->Log.Line(index));
    }
    std::vector<std::string> Lines() {
        std::lock_guard<std::mutex> lock(Mutex);
        return Announced;
    }

  private:
    std::mutex Mutex;
    std::vector<std::string> Announced;
};

// What a stitch task's output is told, in order.
class RecordingOutput : public TaskOutput {
  public:
    explicit RecordingOutput(std::vector<std::string>& events) : Events(events) {}
    void Prepare(stichtype& task) override {
        task.Log.Append("prepared");
        Events.push_back("prepare");
    }
    void PutTile(const jtype& tile) override {
        Events.push_back("tile " + tile.TileName + (tile.Image->Decoded() ? "" : " placeholder"));
    }
    void PutFailed(const jtype& tile) override { Events.push_back("failed " + tile.TileName); }
    bool Finish(stichtype&, const std::function<void(const std::string&)>& addLog) override {
        Events.push_back("finish");
        addLog("finished");
        return true;
    }
    std::vector<std::string>& Events;
};

uint16_t ClosedPort() {
    HttpScriptServer gone;
    return gone.Port();
}

constexpr const char* Prefix = "/kh?v=9&n=404&t=t";

class TaskTest : public ::testing::Test {
  protected:
    void SetUp() override {
        State.Sink = &Sink;
        SetSourceString(State, Server.Url(Prefix));
        SetCachePath(State, Cache.Path());
        State.GenerateUpperLayers = false;
        Saved = GetFetchOptions();
        FetchOptions quick;
        quick.ConnectTimeoutMs = 2000;
        quick.StallSeconds = 2;
        SetFetchOptions(quick);
    }
    void TearDown() override {
        StopAllTasks(State);
        EXPECT_TRUE(WaitForTaskWorker(State, 60s)) << "a task worker did not end";
        SetFetchOptions(Saved);
    }

    // Puts the selection's corner at pixel (ox, oy) of its tile at zoom z.
    void CornerAt(int z, int ox, int oy, double lon = -37.6, double lat = 55.7) {
        TileKey k = TileKeyAt(z, lon, lat, "");
        ASSERT_TRUE(PointAtDelta(ox - k.XOffset, oy - k.YOffset, z, lon, lat));
        lat -= 1e-9;  // inside the pixel row, not on the boundary above it
        k = TileKeyAt(z, lon, lat, "");
        ASSERT_EQ(k.XOffset, ox);
        ASSERT_EQ(k.YOffset, oy);
        State.SelLat1 = lat;
        State.SelLon1 = lon;
        State.HasSelection = true;
    }

    std::shared_ptr<stichtype> Make(int z, int width, int height, TaskRequest request = {}) {
        request.Zoom = z;
        auto task = NewTask(State, request);
        std::string error;
        EXPECT_TRUE(BuildTaskTiles(State, *task, z, width, height, error)) << error;
        task->RetryPause = task->RetryPause ? 20 : 0;  // the same rules, shorter pauses
        return task;
    }
    // Makes, queues and (when alone with tiles) starts a task, as the window does.
    std::shared_ptr<stichtype> Run(std::shared_ptr<stichtype> task) {
        if (QueueTask(State, task) && !task->Tiles.Empty()) {
            EXPECT_TRUE(StartTaskWorker(State, task));
        }
        return task;
    }
    void WaitDone() { ASSERT_TRUE(WaitForTaskWorker(State, 60s)); }

    std::vector<std::string> Targets() {
        std::vector<std::string> out;
        for (const std::string& request : Server.Requests()) {
            const size_t from = request.find(' ') + 1;
            out.push_back(
                request.substr(from + std::string(Prefix).size(),
                               request.find(' ', from) - from - std::string(Prefix).size()));
        }
        return out;
    }
    static std::vector<std::pair<int, int>> Positions(const stichtype& task) {
        std::vector<std::pair<int, int>> out;
        ForEachTaskTile(task.Tiles, [&](const jtype& t) {
            out.emplace_back(t.X, t.Y);
            return true;
        });
        return out;
    }
    static std::vector<std::string> Letters(const stichtype& task) {
        std::vector<std::string> out;
        ForEachTaskTile(task.Tiles, [&](const jtype& t) {
            out.push_back(t.TileName);
            return true;
        });
        return out;
    }

    HttpScriptServer Server;
    TempDir Cache;
    LogSink Sink;
    MainState State;
    FetchOptions Saved;
};

TEST_F(TaskTest, TileListCoversTheRegionFromTheBottomOfTheRightmostColumn) {
    CornerAt(13, 0, 0);
    auto exact = Make(13, 512, 256);
    EXPECT_EQ(exact->TileCount, 2);
    EXPECT_EQ(Positions(*exact), (std::vector<std::pair<int, int>>{{256, 0}, {0, 0}}));

    CornerAt(13, 1, 1);
    auto shifted = Make(13, 512, 256);
    EXPECT_EQ(shifted->TileCount, 6);
    EXPECT_EQ(Positions(*shifted),
              (std::vector<std::pair<int, int>>{
                  {511, 255}, {511, -1}, {255, 255}, {255, -1}, {-1, 255}, {-1, -1}}));
    // Each record names its own tile: columns step east, rows south.
    const TileIndex first = KeyToTile(Letters(*shifted).back(), 0);
    const TileIndex last = KeyToTile(Letters(*shifted).front(), 0);
    EXPECT_EQ(last.Column, first.Column + 2);
    EXPECT_EQ(last.Row, first.Row + 1);
    const jtype head = FirstTile(*shifted);
    EXPECT_EQ(head.Url, Server.Url(Prefix) + head.TileName);
    EXPECT_EQ(head.FileName, Cache.Path() + head.TileName + ".jpg");
    EXPECT_EQ(head.Image, nullptr);

    CornerAt(13, 100, 10);
    EXPECT_EQ(Make(13, 0, 0)->TileCount, 1);  // narrower than a pixel, off the edges
    CornerAt(13, 0, 10);
    EXPECT_EQ(Make(13, 0, 300)->TileCount, 0);
    CornerAt(13, 10, 0);
    EXPECT_EQ(Make(13, 300, 0)->TileCount, 0);
}

TEST_F(TaskTest, RegionTooLargeIsRefusedBeforeAnyRecordIsMade) {
    CornerAt(20, 0, 0, 179, 85);
    auto task = NewTask(State, {});
    std::string error;
    EXPECT_FALSE(BuildTaskTiles(State, *task, 20, 200'000'000, 200'000'000, error));
    EXPECT_TRUE(task->Tiles.Empty());
    EXPECT_EQ(task->TileCount, 0);
    EXPECT_NE(error.find("фрагментов"), std::string::npos);
}

TEST_F(TaskTest, WholeLogOfADownloadInOrder) {
    CornerAt(13, 0, 0, -37.6, 55.75);
    auto task = Make(13, 256, 512);
    Server.Push(ScriptedAnswer::Status(404, "Not Found"));
    Server.Push(ScriptedAnswer::Ok(MakeTileJpeg(256, 256, 1)));
    Server.Push(ScriptedAnswer::Ok(MakeTileJpeg(256, 256, 2)));
    const std::string firstUrl = FirstTile(*task).Url;
    const std::string lat = FormatFixed(State.SelLat1, 6), lon = FormatFixed(State.SelLon1, 6);
    EXPECT_NE(lat.find(','), std::string::npos);
    Run(task);
    WaitDone();
    const std::vector<std::string> expected = {
        "Поступила команда Выкачать T",
        "Начато формирование списка выкачиваемых фрагментов T",
        "Список создан T",
        "Запуск потока T",
        "Начало выкачивания в T фрагментов 2 координаты " + lat + " " + lon,
        "ошибка при получении 404 Not Found " + firstUrl,
        "Выкачано",
        "Генерация вышележащих слоев",
        "очистка памяти",
        "выполнено в T"};
    EXPECT_EQ(WithoutTimes(task->Log.Lines()), expected);
    // The worker's own lines reach the report window as they are written.
    EXPECT_EQ(WithoutTimes(Sink.Lines()),
              std::vector<std::string>(expected.begin() + 4, expected.end()));
    EXPECT_EQ(task->TilesDone, 2);
    EXPECT_TRUE(task->Stop);
    EXPECT_TRUE(State.TaskList.Empty());
    EXPECT_FALSE(State.TaskRunning);
    EXPECT_EQ(Server.Requests().size(), 3u);
}

TEST_F(TaskTest, NoImageryAnswersAreCountedApartFromErrors) {
    CornerAt(13, 0, 0, -37.6, 55.75);
    auto task = Make(13, 256, 512);
    const std::string blank = MakeSolidJpeg(256, 256, 200, 200, 200);
    auto source = std::make_shared<MapSource>();
    source->Name = MainSourceName;
    source->NoImagery = {Sha256Hex(blank)};
    State.ActiveSource = source;
    Server.Push(ScriptedAnswer::Ok(blank));
    Server.Push(ScriptedAnswer::Ok(MakeTileJpeg(256, 256, 2)));
    const jtype first = FirstTile(*task);
    const std::string firstUrl = first.Url, firstName = first.TileName;
    Run(task);
    WaitDone();
    const std::vector<std::string> lines = WithoutTimes(task->Log.Lines());
    ASSERT_GE(lines.size(), 8u);
    const std::vector<std::string> middle(lines.begin() + 5, lines.begin() + 8);
    EXPECT_EQ(middle, (std::vector<std::string>{"нет снимка " + firstUrl,
                                                "нет снимка: 1, не изменился: 0", "Выкачано"}));
    EXPECT_EQ(task->NoImageryTiles, 1);
    EXPECT_EQ(task->FailedTiles, 0);
    EXPECT_FALSE(Cache.Exists(firstName + ".jpg"));
    TaskProgress p = ProgressOf(*task);
    EXPECT_EQ(ProgressToolTip(p), "2 из 2 фрагментов, 100%, нет снимка 1");
}

TEST_F(TaskTest, UnreachableServerSkipsEveryTileAfterTheFirstTriedFiveTimes) {
    SetSourceString(State, "http://127.0.0.1:" + std::to_string(ClosedPort()) + Prefix);
    CornerAt(13, 0, 0);
    auto task = Make(13, 512, 512);
    const std::string url = FirstTile(*task).Url;
    Run(task);
    WaitDone();
    const auto lines = task->Log.Lines();
    std::vector<std::string> failures;
    for (const auto& line : lines)
        if (line.rfind("ошибка при получении", 0) == 0) failures.push_back(line);
    EXPECT_EQ(failures, std::vector<std::string>(5, "ошибка при получении  " + url));
    EXPECT_EQ(task->TilesDone, task->TileCount);
    EXPECT_EQ(task->TileCount, 4);
    EXPECT_EQ(WithoutTimes({lines.back()}), std::vector<std::string>{"выполнено в T"});
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Выкачано"), lines.end());
}

TEST_F(TaskTest, ErrorLimitsAndRetries) {
    struct Case {
        const char* Name;
        bool ErrorControl;
        int FetchAttempts;
        std::vector<int> Answers;  // 404 or 200, one per connection
        int Tiles;
        size_t Requests;
        int Stored;
    };
    const std::vector<Case> cases = {
        // Three tries in all for FetchAttempts 1; three errors are not above
        // the limit of three, so the next tile is still fetched.
        {"attempts1", true, 1, {404, 404, 404, 200}, 2, 4, 1},
        // Three single failures, each recovering on its second attempt.
        {"recover", true, 3, {404, 200, 404, 200, 404, 200, 200}, 4, 7, 4},
        // The limits are not consulted between attempts; once the fourth
        // error has passed the limit, the third tile is passed untouched.
        {"limit", true, 1, {404, 404, 404, 404, 200, 200}, 3, 5, 1},
        // Without error control: one try each, nothing skipped.
        {"off", false, 3, {404, 404, 404, 404, 404, 200}, 6, 6, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        HttpScriptServer server;
        TempDir cache;
        SetSourceString(State, server.Url(Prefix));
        SetCachePath(State, cache.Path());
        State.ErrorControl = c.ErrorControl;
        State.FetchAttempts = c.FetchAttempts;
        for (int a : c.Answers)
            server.Push(a == 200 ? ScriptedAnswer::Ok(MakeTileJpeg(256, 256, 7))
                                 : ScriptedAnswer::Status(404, "Not Found"));
        CornerAt(13, 0, 0);
        auto task = Make(13, 256, c.Tiles * 256);
        ASSERT_EQ(task->TileCount, c.Tiles);
        EXPECT_EQ(task->RetryPause != 0, c.ErrorControl);
        const auto names = Letters(*task);
        Run(task);
        WaitDone();
        EXPECT_EQ(server.Requests().size(), c.Requests);
        int stored = 0;
        for (const auto& name : names) stored += cache.Exists(name + ".jpg");
        EXPECT_EQ(stored, c.Stored);
        EXPECT_EQ(task->TilesDone, c.Tiles);
        // Every failed request has its line, whatever the limits did.
        size_t failures = 0;
        for (const auto& line : task->Log.Lines())
            failures += line.rfind("ошибка при получении 404 Not Found ", 0) == 0;
        EXPECT_EQ(failures + static_cast<size_t>(c.Stored), c.Requests);
    }
}

TEST_F(TaskTest, CacheOnlyRequestsNothingAndRerunBuildsParents) {
    CornerAt(13, 0, 0);
    auto task = Make(13, 512, 512);
    const auto names = Letters(*task);
    SetWorkMode(State, 0);
    Run(task);
    WaitDone();
    EXPECT_EQ(Server.Connections(), 0u);
    for (const auto& line : task->Log.Lines())
        EXPECT_EQ(line.find("ошибка"), std::string::npos) << line;

    // A cached region: nothing is fetched, the upper layers are built.
    SetWorkMode(State, 2);
    State.GenerateUpperLayers = true;
    const std::string parentName = names.back().substr(0, names.back().size() - 1);
    for (char c : std::string("qrst"))
        Cache.WriteFile(parentName + c + ".jpg", MakeTileJpeg(256, 256, c));
    // The region of exactly those four siblings.
    const TileIndex nw = KeyToTile(parentName + "q", 0);
    const double n = std::pow(2.0, 13);
    State.SelLon1 = 180 - 360.0 * nw.Column / n - 1e-9;
    State.SelLat1 = std::atan(std::sinh(M_PI * (1 - 2.0 * nw.Row / n))) * 180 / M_PI - 1e-9;
    auto again = Make(13, 512, 512);
    ASSERT_EQ(Letters(*again), (std::vector<std::string>{parentName + "s", parentName + "r",
                                                         parentName + "t", parentName + "q"}));
    Run(again);
    WaitDone();
    EXPECT_EQ(Server.Connections(), 0u);
    EXPECT_TRUE(Cache.Exists(parentName + ".jpg"));
}

TEST_F(TaskTest, StitchOutputSeesEveryTileAndFinishesUnlessStopped) {
    std::vector<std::string> events;
    CornerAt(13, 0, 0);
    SetWorkMode(State, 0);  // missing tiles become "not in cache" placeholders
    TaskRequest request;
    request.IsStitch = true;
    auto task = Make(13, 256, 512, request);
    const auto names = Letters(*task);
    Cache.WriteFile(names.front() + ".jpg", MakeTileJpeg(256, 256, 3));
    task->Bitmap = std::make_unique<RecordingOutput>(events);
    Run(task);
    WaitDone();
    EXPECT_EQ(events, (std::vector<std::string>{"prepare", "tile " + names[0],
                                                "tile " + names[1] + " placeholder", "finish"}));
    const auto lines = WithoutTimes(task->Log.Lines());
    const std::vector<std::string> tail(lines.end() - 6, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Начало склеивания в T Размеры 0x0 координаты " +
                                                  FormatFixed(task->Lat1, 6) + " " +
                                                  FormatFixed(task->Lon1, 6) + " ",
                                              "Склеено в памяти", "Генерация вышележащих слоев",
                                              "finished", "очистка памяти", "выполнено в T"}));
    EXPECT_EQ(lines[4], "prepared");
}

TEST_F(TaskTest, QueuedTasksStartNewestFirst) {
    CornerAt(13, 0, 0);
    Server.Push(ScriptedAnswer::Ok(MakeTileJpeg(256, 256, 1)).Delay(700));
    for (int i = 0; i < 2; ++i) Server.Push(ScriptedAnswer::Ok(MakeTileJpeg(256, 256, 2)));
    auto running = Make(13, 256, 256);
    const std::string runningName = Letters(*running)[0];
    Run(running);
    CornerAt(13, 0, 0, 10, 10);
    auto older = Make(13, 256, 256);
    const std::string olderName = Letters(*older)[0];
    CornerAt(13, 0, 0, 20, 20);
    auto newer = Make(13, 256, 256);
    const std::string newerName = Letters(*newer)[0];
    EXPECT_FALSE(QueueTask(State, older));
    EXPECT_FALSE(QueueTask(State, newer));
    EXPECT_FALSE(StartNextTask(State));  // one worker at a time
    WaitDone();
    ASSERT_TRUE(StartNextTask(State));
    WaitDone();
    ASSERT_TRUE(StartNextTask(State));
    WaitDone();
    EXPECT_FALSE(StartNextTask(State));
    EXPECT_EQ(Targets(), (std::vector<std::string>{runningName, newerName, olderName}));
}

TEST_F(TaskTest, StoppedQueuedTaskOnlyEnds) {
    CornerAt(13, 0, 0);
    Server.Push(ScriptedAnswer::Ok(MakeTileJpeg(256, 256, 1)).Delay(500));
    Run(Make(13, 256, 256));
    auto queued = Make(13, 256, 256);
    QueueTask(State, queued);
    const size_t before = queued->Log.Size();
    ASSERT_EQ(StopTaskAt(State, 0), queued);
    EXPECT_EQ(WithoutTimes({queued->Log.Lines().back()}),
              std::vector<std::string>{"Поступила команда Прекратить в  T"});
    EXPECT_TRUE(TaskEntryText(*queued).ends_with(" Отменено "));
    WaitDone();
    ASSERT_TRUE(StartNextTask(State));
    WaitDone();
    const auto lines = WithoutTimes(queued->Log.Lines());
    EXPECT_EQ(std::vector<std::string>(lines.begin() + static_cast<long>(before), lines.end()),
              (std::vector<std::string>{"Поступила команда Прекратить в  T", "Запуск потока T",
                                        "очистка памяти", "выполнено в T"}));
    EXPECT_EQ(Server.Requests().size(), 1u);
    EXPECT_FALSE(StopTaskAt(State, 0));
}

TEST_F(TaskTest, StopCutsAnHourLongWaitShort) {
    CornerAt(13, 0, 0);
    TaskRequest request;
    request.DelayHours = 1;
    auto task = Run(Make(13, 256, 256, request));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(State.TaskRunning);
    const auto stopped = std::chrono::steady_clock::now();
    StopTaskAt(State, 0);
    ASSERT_TRUE(WaitForTaskWorker(State, 5s));
    // Within a second on a quiet machine; the margin is for loaded ones.
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 3s);
    EXPECT_EQ(Server.Connections(), 0u);
    const auto lines = WithoutTimes(task->Log.Lines());
    EXPECT_EQ(lines.back(), "выполнено в T");
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "Выкачано"), lines.end());
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "Генерация вышележащих слоев"), lines.end());
}

TEST_F(TaskTest, EntryTextsAndStartTimes) {
    using Clock = stichtype::Clock;
    std::tm evening{};
    evening.tm_year = 126;
    evening.tm_mon = 11;
    evening.tm_mday = 9;
    evening.tm_hour = 21;
    evening.tm_isdst = -1;
    const Clock::time_point at21 = Clock::from_time_t(std::mktime(&evening));
    TaskRequest request;
    request.DelayHours = 2;
    request.DelayMinutes = 30;
    auto task = NewTask(State, request, at21);
    EXPECT_EQ(task->Log.Lines(), std::vector<std::string>{"Поступила команда Выкачать 23:30:00"});
    EXPECT_EQ(NewTaskEntryText(*task, "Выделено 1x2 пикселей"),
              "23:30:00 начало ... Выделено 1x2 пикселей");
    task->TileCount = 10;
    task->TilesDone = 4;
    EXPECT_EQ(TaskEntryText(*task, at21), "С 23:30:00 ожидайте, закачано 4 из 10 фрагментов");
    task->TilesDone = 10;
    EXPECT_EQ(TaskEntryText(*task, at21), "С 23:30:00 все закачано, обработка 10 фрагментов");
    task->RequestStop();
    EXPECT_EQ(TaskEntryText(*task, at21), "С 23:30:00 Отменено ");

    // Past midnight the start carries its date.
    request.DelayHours = 5;
    request.DelayMinutes = 0;
    auto late = NewTask(State, request, at21);
    EXPECT_EQ(late->StartTime - at21, 5h);
    EXPECT_EQ(TaskEntryText(*late, at21),
              "С 10.12.2026 02:00:00 все закачано, обработка 0 фрагментов");
    EXPECT_EQ(late->RetryPause, 1000);
    // The pause in milliseconds never wraps, whatever the interval.
    State.RetryInterval = 3'000'000;
    EXPECT_EQ(NewTask(State, request, at21)->RetryPause, int64_t{3'000'000'000});
    State.ErrorControl = false;
    EXPECT_EQ(NewTask(State, request, at21)->RetryPause, 0);
}

TEST_F(TaskTest, ProgressTexts) {
    stichtype task;
    task.TileCount = 200;
    task.TilesDone = 50;
    TaskProgress p = ProgressOf(task);
    EXPECT_EQ(p.Percent, 25);
    EXPECT_EQ(ProgressToolTip(p), "50 из 200 фрагментов, 25%");
    p.TilesPerSecond = 2.5;
    p.SecondsLeft = 3725;
    EXPECT_EQ(ProgressToolTip(p), "50 из 200 фрагментов, 25%; 2,5 фрагм./с, осталось 1:02:05");
    task.TileCount = 0;
    EXPECT_EQ(ProgressOf(task).Percent, 0);
}

TEST_F(TaskTest, GuiWalksStaySafeWhileWorkersUnlinkTheirTasks) {
    SetWorkMode(State, 0);
    CornerAt(13, 0, 0);
    std::vector<std::shared_ptr<stichtype>> tasks;
    for (int i = 0; i < 5; ++i) {
        auto task = Make(13, 2560, 2560);
        QueueTask(State, task);
    }
    ASSERT_TRUE(StartNextTask(State));
    // What the task list refresh does every few seconds, as fast as it can.
    while (!State.TaskList.Empty()) {
        for (const auto& task : State.TaskList.Snapshot()) {
            (void)TaskEntryText(*task);
            (void)task->Log.Lines();
        }
        StartNextTask(State);
    }
    WaitDone();
    EXPECT_FALSE(State.TaskRunning);
}

TEST_F(TaskTest, ATaskMadeWhileAWorkerLetsGoGetsOneWorker) {
    SetWorkMode(State, 0);
    CornerAt(13, 0, 0);
    auto ending = Make(13, 256, 256);
    TaskRequest later;
    later.DelayHours = 1;  // it waits: a second worker would find it still there
    auto made = Make(13, 256, 256, later);
    // The window makes a task just as the worker has unlinked its own: the
    // new one is alone in the list, the flag not yet let go.
    ending->Unlinked = [&] {
        EXPECT_TRUE(QueueTask(State, made));
        EXPECT_TRUE(StartTaskWorker(State, made));
    };
    Run(ending);
    WaitDone();
    // The refresh, twice: one worker for the task, whoever started it.
    StartNextTask(State);
    StartNextTask(State);
    EXPECT_TRUE(State.TaskRunning);
    const auto lines = made->Log.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.starts_with("Запуск потока "); }),
              1);
}

}  // namespace

// A source string that cannot be used is said once, when the task is made,
// with its reason; a cache-only task makes no request and needs none.
TEST_F(TaskTest, AnUnusableTemplateIsSaidOnceWithItsReason) {
    struct Case {
        const char* Source;
        int Mode;  // as SetWorkMode
        bool Said;
    };
    const Case cases[] = {
        {"http://127.0.0.1:1/{z}/{w}/{y}.jpg", 2, true},
        {"http://127.0.0.1:1/{z}/{x}/{y", 1, true},
        {"http://127.0.0.1:1/{z}/{w}/{y}.jpg", 0, false},
        {"http://127.0.0.1:1/{z}/{x}/{y}.jpg", 2, false},
    };
    for (const Case& c : cases) {
        SetSourceString(State, c.Source);
        SetWorkMode(State, c.Mode);
        CornerAt(12, 0, 0);
        const auto task = Make(12, 600, 300);
        int said = 0;
        for (const std::string& line : task->Log.Lines())
            if (line.rfind(NoRequestsLine, 0) == 0) {
                ++said;
                EXPECT_EQ(line, NoRequestsLine + CheckUrlTemplate(c.Source)) << c.Source;
            }
        EXPECT_EQ(said, c.Said ? 1 : 0) << c.Source << " mode " << c.Mode;
    }
}
