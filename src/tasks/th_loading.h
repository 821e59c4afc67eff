#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "core/main_state.h"
#include "fetch/get_tile.h"
#include "tilestore/tile_record.h"

struct stichtype;

// A worker thread: view fill (fetch the view's queued tiles and draw them)
// or task mode (run one region task). It is made, given its fields, then
// started; from then on the thread owns it and frees it when its body
// returns. The main thread reaches a running worker only through the stop
// byte (view fill) or the task record (task mode).
class TThLoading : public WorkerContext {
  public:
    explicit TThLoading(MainState& state) : State(state) {}
    TThLoading(const TThLoading&) = delete;
    TThLoading& operator=(const TThLoading&) = delete;

    // View fill: the queued tiles, newest first; the worker takes the oldest first.
    std::unique_ptr<jtype> Nodes;
    // Task mode: the task to run. TaskBody replaces the task body (tests).
    std::shared_ptr<stichtype> Task;
    std::function<void(TThLoading&)> TaskBody;
    // View fill: 0 go on, 1 stop; shared with the view's ViewLoaderStop.
    std::shared_ptr<std::atomic<uint8_t>> StopFlag;

    MainState& State;

    // The thread body.
    void Execute();

    // Runs the worker's body on a detached thread at idle priority for view
    // fill, normal for a task. False, with the worker destroyed, when no
    // thread could be made.
    static bool Start(std::unique_ptr<TThLoading> worker);

  private:
    void ViewFillBody();
    void TaskModeBody();
    // The task's tile loop on Task->Connections connections.
    void TileLoop(stichtype& task, class TaskOutput* output);
    bool SkipTile(const stichtype& task) const;
    // One tile with its repetitions; a failed one becomes a placeholder.
    // True when it was obtained.
    bool GetTaskTile(stichtype& task, class TaskOutput* output, jtype& tile);
    // The output said once that it can keep no more tiles.
    std::atomic<bool> OutputFailed{false};
};

// Hands the view's queued tiles to a new view-fill worker: a fresh stop byte
// becomes ViewLoaderStop and ViewLoaderCount grows by one (under ThreadLock)
// before the thread starts. With no tiles, ViewLoaderStop is cleared and no
// worker is made. False when the thread could not be started (the count is
// taken back).
bool StartViewFillWorker(MainState& state, std::unique_ptr<jtype> nodes);
