#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "fetch/dial_up_ops.h"
#include "fetch/get_tile.h"
#include "platform/file_io.h"
#include "platform/numbers.h"
#include "platform/time_text.h"
#include "tasks/tasks.h"
#include "tasks/th_loading.h"
#include "tilestore/parent_tiles.h"

namespace {

// GetTile's log lines go into the running task's log.
class WorkerLog : public TaskLog {
  public:
    WorkerLog(MainState& state, std::shared_ptr<stichtype> task)
        : State(state), Task(std::move(task)) {}
    void AddLog(const std::string& line) override { ::AddLog(State, Task, line); }

  private:
    MainState& State;
    std::shared_ptr<stichtype> Task;
};

std::string Now() {
    return TimeText(std::chrono::system_clock::now());
}

std::string StartLine(const stichtype& task) {
    const std::string corner =
        " координаты " + FormatFixed(task.Lat1, 6) + " " + FormatFixed(task.Lon1, 6);
    if (task.IsStitch)
        return "Начало склеивания в " + Now() + " Размеры " + std::to_string(task.ImageWidth) +
               "x" + std::to_string(task.ImageHeight) + corner + " " + task.FileName;
    return "Начало выкачивания в " + Now() + " фрагментов " + std::to_string(task.TileCount) +
           corner;
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool TThLoading::SkipTile(const stichtype& task) const {
    // The settings are read afresh at each tile: a change made while the
    // task runs takes effect at the next one.
    return task.Stop || (State.ErrorControl && (BadFileErrors > State.MaxBadFileErrors ||
                                                FetchErrors > State.MaxFetchErrors ||
                                                WriteErrors > State.MaxWriteErrors));
}

void TThLoading::GetTaskTile(stichtype& task, TaskOutput* output, jtype& tile) {
    int retry = 0;
    bool got = GetTile(State, *this, tile);
    while (!got && State.ErrorControl && State.FetchAttempts >= retry) {
        ++retry;
        if (!task.SleepFor(std::chrono::milliseconds(task.RetryPause))) break;
        got = GetTile(State, *this, tile);
    }
    if (!got) ++task.FailedTiles;
    if (!output) return;
    if (got)
        output->PutTile(tile);
    else
        output->PutFailed(tile);
    // Fetching on would only fill a cache for an image that cannot be made.
    if (const std::string why = output->Failure(); !why.empty() && !OutputFailed.exchange(true)) {
        AddLog(State, Task, "Склеивание прервано: фрагменты негде хранить: " + why);
        task.RequestStop();
    }
}

void TThLoading::TileLoop(stichtype& task, TaskOutput* output) {
    // One picture object per connection serves every tile it gets.
    auto connection = [&](auto takeNext) {
        auto image = std::make_unique<JpegImage>();
        while (jtype* tile = takeNext()) {
            tile->Image = std::move(image);
            GetTaskTile(task, output, *tile);
            image = std::move(tile->Image);
            task.NoImageryTiles = NoImageryTiles.load();
            task.UnchangedTiles = UnchangedTiles.load();
            ++task.TilesDone;
        }
    };
    // The skip test runs when a tile is taken, before its first attempt.
    std::mutex takeLock;
    jtype* next = task.Tiles.get();
    auto takeNext = [&]() -> jtype* {
        std::lock_guard<std::mutex> lock(takeLock);
        while (next && !task.Stop) {
            jtype* tile = next;
            next = next->Next.get();
            if (!SkipTile(task)) return tile;
            ++task.SkippedTiles;
            ++task.TilesDone;
        }
        return nullptr;
    };
    const int connections = std::clamp(task.Connections, 1, 64);
    std::vector<std::thread> others;
    for (int i = 1; i < connections; ++i) {
        try {
            others.emplace_back([&] { connection(takeNext); });
        } catch (const std::system_error&) {
            break;  // fewer connections, the same work
        }
    }
    connection(takeNext);
    for (std::thread& t : others) t.join();
}

namespace {

// The end phase of a task, up to its leaving the list; `unlinked` runs then,
// still under ThreadLock.
void EndTask(MainState& S, const std::shared_ptr<stichtype>& task,
             const std::function<void()>& unlinked) {
    auto addLog = [&](const std::string& line) { AddLog(S, task, line); };
    TaskOutput* output = task->Bitmap.get();
    const bool stopped = task->Stop;
    if (!stopped) addLog(task->IsStitch ? "Склеено в памяти" : "Выкачано");
    if (task->Tiles && !stopped) addLog("Генерация вышележащих слоев");
    for (jtype* tile = task->Tiles.get(); tile; tile = tile->Next.get())
        if (!task->Stop && S.GenerateUpperLayers && FileExists(tile->FileName))
            BuildParentTile(S, tile->FileName);
    task->Tiles.reset();
    if (task->HangUp) {
        HangUpAll(S);
        addLog("отключение");
    }
    if (output && !task->Stop) task->Saved = output->Finish(*task, addLog);
    task->RequestStop();
    addLog("очистка памяти");
    std::lock_guard<std::mutex> lock(S.ThreadLock);
    task->Bitmap.reset();
    addLog("выполнено в " + Now());
    S.TaskList.Remove(task.get());
    if (task->Unlinked) task->Unlinked();
    if (unlinked) unlinked();
}

}  // namespace

void EndStoppedTasks(MainState& state) {
    for (const auto& task : state.TaskList.Snapshot()) {
        if (!task->Stop || task->Started.exchange(true)) continue;
        if (task->Bitmap) task->Bitmap->Prepare(*task);
        EndTask(state, task, {});
    }
}

void TThLoading::TaskModeBody() {
    MainState& S = State;
    BadFileErrors = FetchErrors = WriteErrors = NoImageryTiles = UnchangedTiles = 0;
    if (!Task) Task = S.TaskList.Head();
    const std::shared_ptr<stichtype> task = Task;
    // A wait that a server asked for ends with the task.
    Stopping = [raw = task.get()] { return raw->Stop.load(); };
    // Nothing of State is touched after TaskRunning is cleared: the shutdown
    // may be waiting for exactly this flag to free it.
    const auto release = [&S] { S.TaskRunning = false; };
    if (task->Started.exchange(true)) {
        // Already ended without a worker.
        std::lock_guard<std::mutex> lock(S.ThreadLock);
        release();
        return;
    }
    WorkerLog log(S, task);
    Log = &log;
    Failures = &task->Failures;
    auto addLog = [&](const std::string& line) { AddLog(S, task, line); };
    TaskOutput* output = task->Bitmap.get();
    if (output) output->Prepare(*task);

    if (!task->Stop) {
        addLog(StartLine(*task));
        // A stop request cuts the wait short; a stopped task dials nothing.
        task->WaitUntil(task->StartTime);
        if (task->DialUp && !task->Stop) {
            DialConnection(S, task->DialEntry, task->DialUser, task->DialPassword);
            addLog("подключение");
        }

        task->LoopStartMs = NowMs();
        TileLoop(*task, output);
    }
    Log = nullptr;
    Failures = nullptr;
    Stopping = nullptr;
    if (task->NoImageryTiles > 0 || task->UnchangedTiles > 0)
        addLog("нет снимка: " + std::to_string(task->NoImageryTiles) +
               ", не изменился: " + std::to_string(task->UnchangedTiles));
    EndTask(S, task, release);
}
