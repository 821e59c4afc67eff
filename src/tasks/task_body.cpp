#include <chrono>

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

std::string Now() { return TimeText(std::chrono::system_clock::now()); }

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

void TThLoading::TaskModeBody() {
    MainState& S = State;
    BadFileErrors = FetchErrors = WriteErrors = 0;
    // One picture object serves every tile of the task.
    auto image = std::make_unique<JpegImage>();
    if (!Task) Task = S.TaskList.Head();
    const std::shared_ptr<stichtype> task = Task;
    task->Started = true;
    WorkerLog log(S, task);
    Log = &log;
    auto addLog = [&](const std::string& line) { AddLog(S, task, line); };
    TaskOutput* output = task->Bitmap.get();
    if (output) output->Prepare(*task);

    if (!task->Stop) {
        addLog(StartLine(*task));
        // A stop request cuts the wait short; so does the dial-up below.
        task->WaitUntil(task->StartTime);
        if (task->DialUp && !task->Stop) addLog("подключение");

        task->LoopStartMs = NowMs();
        for (jtype* tile = task->Tiles.get(); tile && !task->Stop; tile = tile->Next.get()) {
            tile->Image = std::move(image);
            // The settings are read afresh at each tile: a change made while
            // the task runs takes effect at the next one.
            const bool skip = task->Stop || (S.ErrorControl && (BadFileErrors > S.MaxBadFileErrors ||
                                                                FetchErrors > S.MaxFetchErrors ||
                                                                WriteErrors > S.MaxWriteErrors));
            if (!skip) {
                int retry = 0;
                bool got = GetTile(S, *this, *tile);
                while (!got && S.ErrorControl && S.FetchAttempts >= retry) {
                    ++retry;
                    if (!task->SleepFor(std::chrono::milliseconds(task->RetryPause))) break;
                    got = GetTile(S, *this, *tile);
                }
                if (output) {
                    if (got)
                        output->PutTile(*tile);
                    else
                        output->PutFailed(*tile);
                }
            }
            image = std::move(tile->Image);
            ++task->TilesDone;
        }
    }

    // End phase.
    const bool stopped = task->Stop;
    if (!stopped) addLog(task->IsStitch ? "Склеено в памяти" : "Выкачано");
    if (task->Tiles && !stopped) addLog("Генерация вышележащих слоев");
    for (jtype* tile = task->Tiles.get(); tile; tile = tile->Next.get())
        if (!task->Stop && S.GenerateUpperLayers && FileExists(tile->FileName))
            BuildParentTile(S, tile->FileName);
    task->Tiles.reset();
    if (task->HangUp) addLog("отключение");
    if (output && !task->Stop) output->Finish(*task, addLog);
    task->RequestStop();
    addLog("очистка памяти");
    Log = nullptr;
    std::lock_guard<std::mutex> lock(S.ThreadLock);
    task->Bitmap.reset();
    addLog("выполнено в " + Now());
    S.TaskList.Remove(task.get());
    // Nothing of State is touched after this: the shutdown may be waiting
    // for exactly this flag to free it.
    S.TaskRunning = false;
}
