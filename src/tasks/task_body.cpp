#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "fetch/dial_up_ops.h"
#include "fetch/get_tile.h"
#include "platform/file_io.h"
#include "platform/numbers.h"
#include "platform/time_text.h"
#include "tasks/task_store.h"
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

bool TThLoading::GetTaskTile(stichtype& task, TaskOutput* output, jtype& tile) {
    int retry = 0;
    bool got = GetTile(State, *this, tile);
    while (!got && State.ErrorControl && State.FetchAttempts >= retry) {
        ++retry;
        if (!task.SleepFor(std::chrono::milliseconds(task.RetryPause))) break;
        got = GetTile(State, *this, tile);
    }
    if (!got) {
        ++task.FailedTiles;
        // One cut short by a stop is not a failure: a later run fetches it.
        if (!task.Stop) task.FailedNames.Append(tile.TileName);
    }
    if (!output) return got;
    if (got)
        output->PutTile(tile);
    else
        output->PutFailed(tile);
    // Fetching on would only fill a cache for an image that cannot be made.
    if (const std::string why = output->Failure(); !why.empty() && !OutputFailed.exchange(true)) {
        AddLog(State, Task, "Склеивание прервано: фрагменты негде хранить: " + why);
        task.RequestStop();
    }
    return got;
}

void TThLoading::TileLoop(stichtype& task, TaskOutput* output) {
    std::mutex takeLock;
    TaskTileCursor cursor(task.Tiles, task.Resume);
    // The positions of the tiles in flight: a later run resumes at the first.
    std::set<int64_t> inFlight;
    const auto settle = [&] {
        task.Resume = inFlight.empty() ? cursor.Position() : *inFlight.begin();
        NoteTasksChanged(State, false);
    };
    // The skip test runs when a tile is taken, before its first attempt.
    auto takeNext = [&](jtype& tile, int64_t& position) {
        std::lock_guard<std::mutex> lock(takeLock);
        while (!task.Stop) {
            position = cursor.Position();
            if (!cursor.Next(tile)) break;
            if (!SkipTile(task)) {
                inFlight.insert(position);
                return true;
            }
            ++task.SkippedTiles;
            ++task.TilesDone;
            settle();
        }
        return false;
    };
    // One picture object per connection serves every tile it gets.
    auto connection = [&] {
        jtype tile;
        int64_t position = 0;
        while (takeNext(tile, position)) {
            const bool got = GetTaskTile(task, output, tile);
            task.NoImageryTiles = NoImageryTiles.load();
            task.UnchangedTiles = UnchangedTiles.load();
            ++task.TilesDone;
            std::lock_guard<std::mutex> lock(takeLock);
            // A tile cut short by a stop is where a later run begins.
            if (got || !task.Stop) inFlight.erase(position);
            settle();
        }
    };
    const int connections = std::clamp(task.Connections, 1, 64);
    std::vector<std::thread> others;
    for (int i = 1; i < connections; ++i) {
        try {
            others.emplace_back(connection);
        } catch (const std::system_error&) {
            break;  // fewer connections, the same work
        }
    }
    connection();
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
    if (!task->Tiles.Empty() && !stopped) addLog("Генерация вышележащих слоев");
    if (S.GenerateUpperLayers)
        ForEachTaskTile(task->Tiles, [&](const jtype& tile) {
            if (task->Stop) return false;
            if (FileExists(tile.FileName)) BuildParentTile(S, tile.FileName);
            return true;
        });
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
    NoteTasksChanged(S, true);
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
