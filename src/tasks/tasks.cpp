#include "tasks/tasks.h"

#include <cmath>
#include <cstdio>
#include <thread>

#include "geo/projection.h"
#include "geo/tile_key.h"
#include "platform/numbers.h"
#include "platform/time_text.h"
#include "tasks/task_params.h"
#include "tasks/task_store.h"
#include "tasks/th_loading.h"

namespace {

std::string Now() {
    return TimeText(std::chrono::system_clock::now());
}

}  // namespace

std::shared_ptr<stichtype> NewTask(const MainState& state, const TaskRequest& request,
                                   stichtype::Clock::time_point now) {
    auto task = std::make_shared<stichtype>();
    task->StartTime =
        now + std::chrono::hours(request.DelayHours) + std::chrono::minutes(request.DelayMinutes);
    task->Log.Append(
        (request.IsStitch ? "Поступила команда Склеить " : "Поступила команда Выкачать ") +
        TimeText(task->StartTime, now));
    TakeRequestFields(*task, request);
    task->Lat1 = state.SelLat1;
    task->Lon1 = state.SelLon1;
    task->RetryPause = state.ErrorControl ? int64_t{state.RetryInterval} * 1000 : 0;
    return task;
}

void TakeRequestFields(stichtype& task, const TaskRequest& request) {
    task.IsStitch = request.IsStitch;
    task.DialUp = request.DialUp;
    task.HangUp = request.HangUp;
    task.DialEntry = request.DialEntry;
    task.DialUser = request.DialUser;
    task.DialPassword = request.DialPassword;
    task.Quality = request.Quality;
    task.FileName = request.FileName;
}

std::string NewTaskEntryText(const stichtype& task, const std::string& sizeLabel) {
    return TimeText(task.StartTime) + " начало ... " + sizeLabel;
}

void BeginTaskTiles(const MainState& state, stichtype& task) {
    task.Tiles = TaskTiles{};
    task.Tiles.Source = state.SourceStringCopy();
    task.Tiles.CachePath = state.CachePathCopy();
    task.TileCount = 0;
}

bool AddTaskBlock(const MainState& state, stichtype& task, const TileBlock& block,
                  std::string& error) {
    task.Log.Append((task.IsStitch ? "Начато формирование списка склеиваимых фрагментов "
                                   : "Начато формирование списка выкачиваемых фрагментов ") +
                    Now());
    // Said once here, rather than as an empty address at every tile.
    if (const std::string why = CheckUrlTemplate(task.Tiles.Source);
        !why.empty() && !state.ModeCacheOnly)
        task.Log.Append(NoRequestsLine + why);
    if (task.Tiles.Count + block.Count > MaxTaskTiles) {
        error = TooManyTilesText(task.Tiles.Count + block.Count);
        task.Tiles = TaskTiles{};
        task.TileCount = 0;
        return false;
    }
    task.Tiles.Blocks.push_back(block);
    task.Tiles.Count += block.Count;
    task.TileCount = task.Tiles.Count;
    return true;
}

bool BuildTaskTiles(const MainState& state, stichtype& task, int zoom, int width, int height,
                    std::string& error) {
    BeginTaskTiles(state, task);
    return AddTaskBlock(state, task,
                        RectangleBlock(EffectiveZoom(zoom), task.Lat1, task.Lon1, width, height),
                        error);
}

bool QueueTask(MainState& state, const std::shared_ptr<stichtype>& task) {
    state.TaskList.PushFront(task);
    task->Log.Append("Список создан " + Now());
    NoteTasksChanged(state, true);
    return state.TaskList.Size() == 1;
}

namespace {

enum class WorkerStart { Started, Busy, NoThread };

WorkerStart TryStartTaskWorker(MainState& state, const std::shared_ptr<stichtype>& task) {
    // A worker that has just unlinked its task still holds the flag; the
    // refresh starts this task once it has let go.
    bool idle = false;
    if (!state.TaskRunning.compare_exchange_strong(idle, true)) return WorkerStart::Busy;
    task->Log.Append("Запуск потока " + Now());
    auto worker = std::make_unique<TThLoading>(state);
    worker->IsTask = true;
    worker->Task = task;
    if (TThLoading::Start(std::move(worker))) return WorkerStart::Started;
    state.TaskRunning = false;
    return WorkerStart::NoThread;
}

}  // namespace

bool StartTaskWorker(MainState& state, const std::shared_ptr<stichtype>& task) {
    return TryStartTaskWorker(state, task) != WorkerStart::NoThread;
}

bool StartNextTask(MainState& state) {
    if (state.TaskRunning) return false;
    const auto head = state.TaskList.Head();
    // Tasks of an earlier run wait for Continue.
    // A stopped one is started to go through its end phase.
    if (!head || (head->Tiles.Empty() && !head->Stop) || head->Interrupted) return false;
    return TryStartTaskWorker(state, head) == WorkerStart::Started;
}

std::string TaskEntryText(const stichtype& task, stichtype::Clock::time_point now) {
    std::string start = "С " + TimeText(task.StartTime, now);
    if (task.Stop) return start + " Отменено ";
    if (task.Interrupted) start += " (прервано)";
    const int64_t done = task.TilesDone, count = task.TileCount;
    if (done < count)
        return start + " ожидайте, закачано " + std::to_string(done) + " из " +
               std::to_string(count) + " фрагментов";
    return start + " все закачано, обработка " + std::to_string(count) + " фрагментов";
}

std::shared_ptr<stichtype> StopTaskAt(MainState& state, int index,
                                      stichtype::Clock::time_point now) {
    return StopTask(state, state.TaskList.At(index), now);
}

std::shared_ptr<stichtype> StopTask(MainState& state, const std::weak_ptr<stichtype>& entry,
                                    stichtype::Clock::time_point now) {
    auto task = ListedTask(state, entry);
    if (!task) return nullptr;
    // Logged first: a worker woken by the stop writes its end lines after it.
    task->Log.Append("Поступила команда Прекратить в  " + TimeText(now, now));
    task->RequestStop();
    NoteTasksChanged(state, true);
    return task;
}

std::shared_ptr<stichtype> ListedTask(const MainState& state,
                                      const std::weak_ptr<stichtype>& entry) {
    auto task = entry.lock();
    return task && state.TaskList.Contains(task.get()) ? task : nullptr;
}

void StopAllTasks(MainState& state) {
    for (const auto& task : state.TaskList.Snapshot()) task->RequestStop();
}

bool WaitForTaskWorker(MainState& state, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(state.ThreadLock);
            if (!state.TaskRunning) return true;
        }
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void AddLog(MainState& state, const std::shared_ptr<stichtype>& task, const std::string& line) {
    const std::size_t index = task->Log.Append(line);
    state.Sink->TaskLogLine(task, index);
}

TaskProgress ProgressOf(const stichtype& task) {
    TaskProgress p;
    p.Done = task.TilesDone;
    p.Count = task.TileCount;
    p.NoImagery = task.NoImageryTiles;
    p.Percent = p.Count > 0 ? static_cast<int>(100LL * p.Done / p.Count) : 0;
    const int64_t started = task.LoopStartMs;
    if (started > 0 && p.Done > 0) {
        const int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count();
        const double seconds = static_cast<double>(nowMs - started) / 1000.0;
        if (seconds > 0.5) {
            p.TilesPerSecond = p.Done / seconds;
            p.SecondsLeft = (p.Count - p.Done) / p.TilesPerSecond;
        }
    }
    return p;
}

std::string ProgressToolTip(const TaskProgress& p) {
    std::string text = std::to_string(p.Done) + " из " + std::to_string(p.Count) + " фрагментов, " +
                       std::to_string(p.Percent) + "%";
    if (p.NoImagery > 0) text += ", нет снимка " + std::to_string(p.NoImagery);
    if (p.TilesPerSecond > 0) {
        text += "; " + FormatFixed(p.TilesPerSecond, 1) + " фрагм./с";
        const long long left = std::llround(p.SecondsLeft);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", left / 3600, left / 60 % 60,
                      left % 60);
        text += ", осталось " + std::string(buf);
    }
    return text;
}
