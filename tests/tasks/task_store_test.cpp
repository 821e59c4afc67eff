#include "tasks/task_store.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/app_core.h"
#include "fetch/request_tile.h"
#include "regions/region_shape.h"
#include "support/http_script_server.h"
#include "support/task_request.h"
#include "support/task_tiles.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tasks/stitch_task.h"
#include "tasks/tasks.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* Prefix = "/kh?v=9&n=404&t=t";

class TaskStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FetchGlobalInit();
        Aim(State);
        Folder.WriteFile("cache/.keep", "");
        State.SelLat1 = 55.80;
        State.SelLon1 = -37.50;
        State.SelLat2 = 55.70;
        State.SelLon2 = -37.70;
    }
    void TearDown() override {
        StopAllTasks(State);
        EXPECT_TRUE(WaitForTaskWorker(State, 60s));
    }
    void Aim(MainState& state) {
        SetSourceString(state, Server.Url(Prefix));
        SetCachePath(state, Folder.Path() + "cache/");
        state.GenerateUpperLayers = false;
    }
    std::shared_ptr<stichtype> Make(TaskRequest request) {
        auto task = NewTask(State, request);
        std::string failed, error;
        EXPECT_EQ(BuildTask(State, *task, request, failed, error), TaskBuild::Built) << error;
        return task;
    }
    void RunToEnd(const std::shared_ptr<stichtype>& task) {
        QueueTask(State, task);
        ASSERT_TRUE(StartTaskWorker(State, task));
        ASSERT_TRUE(WaitForTaskWorker(State, 60s));
    }
    // The letters of the requests the server got, in order, from the `from`th.
    std::vector<std::string> Asked(std::size_t from = 0) const {
        std::vector<std::string> out;
        for (const std::string& request : Server.Requests()) {
            const std::size_t at = request.find(Prefix) + std::string(Prefix).size();
            out.push_back(request.substr(at, request.find(' ', at) - at));
        }
        return From(out, from);
    }
    static std::vector<std::string> Names(const stichtype& task, std::size_t from = 0) {
        std::vector<std::string> out;
        for (const jtype& t : TaskTileList(task)) out.push_back(t.TileName);
        return From(out, from);
    }
    static std::vector<std::string> From(const std::vector<std::string>& all, std::size_t from) {
        return {all.begin() + static_cast<std::ptrdiff_t>(std::min(from, all.size())), all.end()};
    }
    static std::vector<TaskRecordEntry> Entries(const std::string& text) {
        std::vector<TaskRecordEntry> entries;
        std::string problem;
        EXPECT_TRUE(ParseTaskRecord(text, entries, problem)) << problem;
        return entries;
    }

    HttpScriptServer Server;
    TempDir Folder;
    MainState State;
};

RegionShape Triangle() {
    RegionShape shape;
    shape.Polygons.push_back({{{-37.5, 55.8}, {-37.7, 55.8}, {-37.6, 55.7}}, {}});
    shape.Lines.push_back({{-37.5, 55.75}, {-37.9, 55.70}});
    shape.CorridorWidth = 700;
    return shape;
}

TEST_F(TaskStoreTest, EveryKindOfTaskComesBackAsItWasWaitingForContinue) {
    const auto shape = std::make_shared<const RegionShape>(Triangle());
    const struct {
        const char* Name;
        TaskRequest Request;
    } cases[] = {
        {"download range", MakeRequest(11, 13)},
        {"shape download", MakeRequest(13, 0, shape)},
        {"stitch", MakeRequest(13, 0, nullptr, Folder.File("Снимок.jpg"), 55)},
        {"shape stitch", MakeRequest(13, 0, shape, Folder.File("shape.jpg"), 55)},
    };
    std::vector<std::shared_ptr<stichtype>> made;
    for (const auto& c : cases) {
        auto task = Make(c.Request);
        task->Resume = 5;
        task->TilesDone = 5;
        task->FailedTiles = 1;
        task->FailedNames.Append(Names(*task)[2]);
        made.push_back(task);
    }
    const auto entries = Entries(TaskRecordText(made));
    ASSERT_EQ(entries.size(), made.size());
    for (std::size_t i = 0; i < made.size(); ++i) {
        SCOPED_TRACE(cases[i].Name);
        const stichtype& before = *made[i];
        const auto after = RestoreTask(State, entries[i]);
        EXPECT_TRUE(after->Interrupted);
        EXPECT_FALSE(after->Stop);
        EXPECT_EQ(after->StartTime,
                  std::chrono::time_point_cast<std::chrono::milliseconds>(before.StartTime));
        EXPECT_EQ(after->Log.Lines(), before.Log.Lines());
        EXPECT_EQ(Names(*after), Names(before));
        EXPECT_EQ(after->TileCount, before.TileCount);
        EXPECT_EQ(after->Quality, before.Quality);
        EXPECT_EQ(after->FileName, before.FileName);
        EXPECT_NE(TaskEntryText(*after).find(" (прервано) "), std::string::npos);
        // A download goes on from its cursor; a stitch makes its picture again.
        EXPECT_EQ(after->Resume, before.IsStitch ? 0 : 5);
        EXPECT_EQ(after->FailedNames.Lines().size(), before.IsStitch ? 0u : 1u);
        EXPECT_EQ(after->ImageWidth, before.ImageWidth);
        EXPECT_EQ(after->Lat1, before.Lat1);
    }
}

TEST_F(TaskStoreTest, ABadRecordIsKeptAsideAndTheProgramGoesOn) {
    auto task = Make({});
    const std::string good = TaskRecordText({task});
    std::string future = good;
    future.replace(future.find("\"Version\": 1"), 12, "\"Version\": 2");
    std::string wrongType = good;
    wrongType.replace(wrongType.find("\"Zoom\": 13"), 10, "\"Zoom\": \"13\"");
    const struct {
        const char* Name;
        std::string Text;
        const char* Problem;
    } cases[] = {
        {"corrupt", "{\"Version\": 1, \"Tasks\": [ {,]}", "not whole JSON"},
        {"truncated", good.substr(0, good.size() / 2), "not whole JSON"},
        {"future version", future, "newer version"},
        {"wrong type", wrongType, "\"Zoom\""},
        {"no version", "{\"Tasks\": []}", "no version"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(Folder.WriteFile(TasksFileName, c.Text));
        const TaskRecordLoad load = LoadTaskRecord(State, Folder.File(TasksFileName));
        EXPECT_TRUE(load.Tasks.empty());
        EXPECT_NE(load.Message.find(c.Problem), std::string::npos) << load.Message;
        EXPECT_NE(load.Message.find("Tasks.json.bad"), std::string::npos) << load.Message;
        EXPECT_EQ(Folder.ReadFile("Tasks.json.bad"), c.Text);
    }
    ASSERT_TRUE(Folder.WriteFile(TasksFileName, good));
    const TaskRecordLoad load = LoadTaskRecord(State, Folder.File(TasksFileName));
    EXPECT_EQ(load.Tasks.size(), 1u);
    EXPECT_TRUE(load.Message.empty());
}

TEST_F(TaskStoreTest, AStitchWhoseFolderIsGoneComesBackStoppedSayingWhy) {
    TempDir gone;
    ASSERT_TRUE(gone.WriteFile("sub/x", "x"));
    auto task = Make(MakeRequest(13, 0, nullptr, gone.File("sub/out.jpg")));
    std::filesystem::remove_all(gone.File("sub"));
    const auto restored = RestoreTask(State, Entries(TaskRecordText({task})).at(0));
    EXPECT_TRUE(restored->Stop);
    EXPECT_EQ(restored->Log.Lines().back().rfind("Задание не может быть продолжено: ", 0), 0u);
    EXPECT_NE(restored->Log.Lines().back().find("out."), std::string::npos);
}

// The viewer closed with two tasks waiting and one running half way.
TEST_F(TaskStoreTest, ARestartKeepsTheOrderAndContinueResumesTheRunningOnesCursor) {
    std::vector<std::shared_ptr<stichtype>> made;
    // Newest first, as the list holds them; the oldest was started first.
    for (int zoom : {12, 13, 14}) made.insert(made.begin(), Make(MakeRequest(zoom)));
    const auto running = made.back();
    running->Started = true;
    running->Resume = 4;
    running->TilesDone = 4;
    ASSERT_TRUE(Folder.WriteFile(TasksFileName, TaskRecordText(made)));

    MainState next;
    Aim(next);
    const TaskRecordLoad load = LoadTaskRecord(next, Folder.File(TasksFileName));
    ASSERT_TRUE(load.Message.empty()) << load.Message;
    QueueRestoredTasks(next, load.Tasks);
    const auto listed = next.TaskList.Snapshot();
    ASSERT_EQ(listed.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(listed[i]->Zoom, made[i]->Zoom);
        EXPECT_TRUE(listed[i]->Interrupted);
    }
    // Nothing starts by itself.
    EXPECT_FALSE(StartNextTask(next));
    EXPECT_TRUE(Server.Requests().empty());

    const auto expected = Names(*running, 4);
    for (std::size_t i = 0; i < expected.size(); ++i)
        Server.Push(ScriptedAnswer::Ok(MakeTileJpeg(256, 256, static_cast<uint32_t>(i))));
    ASSERT_TRUE(ContinueTasks(next));
    ASSERT_TRUE(WaitForTaskWorker(next, 60s));
    Server.WaitForRequests(expected.size());
    EXPECT_EQ(Asked(), expected);
    EXPECT_EQ(next.TaskList.Size(), 2u);
    for (const auto& task : next.TaskList.Snapshot()) EXPECT_FALSE(task->Interrupted);
    StopAllTasks(next);
    EndStoppedTasks(next);
}

TEST_F(TaskStoreTest, RetryingFailedTilesAsksForExactlyThose) {
    auto task = Make({});
    const auto names = Names(*task);
    ASSERT_GE(names.size(), 6u);
    State.ErrorControl = false;  // one attempt a tile, none passed over
    // The second and the fifth fail.
    for (std::size_t i = 0; i < names.size(); ++i)
        Server.Push(i == 1 || i == 4 ? ScriptedAnswer::Status(404, "Not Found")
                                     : ScriptedAnswer::Ok(MakeTileJpeg(256, 256, 3)));
    ASSERT_NO_FATAL_FAILURE(RunToEnd(task));
    const std::vector<std::string> failed{names[1], names[4]};
    EXPECT_EQ(task->FailedNames.Lines(), failed);

    const std::size_t before = Server.Requests().size();
    auto retry = RetryFailedTask(State, *task);
    ASSERT_TRUE(retry);
    EXPECT_EQ(retry->TileCount, 2);
    for (int i = 0; i < 2; ++i) Server.Push(ScriptedAnswer::Ok(MakeTileJpeg(256, 256, 4)));
    ASSERT_NO_FATAL_FAILURE(RunToEnd(retry));
    EXPECT_EQ(Asked(before), failed);
    EXPECT_EQ(retry->FailedTiles, 0);
    EXPECT_FALSE(RetryFailedTask(State, *retry));
}

TEST_F(TaskStoreTest, OneProgramAtATimeHoldsTheFoldersLock) {
    const std::string path = Folder.File("Tasks.json.lock");
    auto first = std::make_unique<FolderLock>(path);
    EXPECT_TRUE(first->Held());
    EXPECT_FALSE(FolderLock(path).Held());
    first.reset();
    EXPECT_TRUE(FolderLock(path).Held());
}

TEST_F(TaskStoreTest, TheKeeperWritesUrgentChangesAtOnceAndOthersThrottled) {
    auto task = Make({});
    const std::string path = Folder.File(TasksFileName);
    std::vector<std::shared_ptr<stichtype>> tasks{task};
    {
        TaskRecordKeeper keeper(
            path, [&] { return tasks; }, 60s);
        keeper.TasksChanged(false);
        std::this_thread::sleep_for(200ms);
        EXPECT_FALSE(Folder.Exists(TasksFileName)) << "a tile's progress waits for the interval";
        keeper.TasksChanged(true);
        for (int i = 0; i < 200 && !Folder.Exists(TasksFileName); ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_TRUE(Folder.Exists(TasksFileName));
        task->Resume = 7;
    }
    EXPECT_EQ(Entries(Folder.ReadFile(TasksFileName)).at(0).Position, 7)
        << "the last record is written at the end";
}

}  // namespace
