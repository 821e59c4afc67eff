#pragma once
#include <atomic>
#include <functional>
#include <string>

#include "core/main_state.h"
#include "fetch/failure_tally.h"
#include "fetch/request_tile.h"
#include "tilestore/tile_record.h"

// Where a task worker's log lines go. Called from the worker's thread.
struct TaskLog {
    virtual ~TaskLog() = default;
    virtual void AddLog(const std::string& line) = 0;
};

// The part of a worker that GetTile uses: its mode, its error counters and,
// for a task, its log. A view-fill worker counts too, but writes no log.
struct WorkerContext {
    bool IsTask = false;
    // Atomic: a task with several connections gets its tiles on several
    // threads that share one set of counts.
    std::atomic<int> BadFileErrors{0};
    std::atomic<int> FetchErrors{0};
    std::atomic<int> WriteErrors{0};
    // Not errors: the source's "no imagery" answers, and refreshes the
    // server answered with "not modified".
    std::atomic<int> NoImageryTiles{0};
    std::atomic<int> UnchangedTiles{0};
    // Cuts the waits a server asks for short; none when empty.
    std::function<bool()> Stopping{};
    TaskLog* Log = nullptr;  // task mode only
    // Where the reasons of failed requests are counted; none when null.
    FailureTally* Failures = nullptr;
};

// Gets one tile into tile.Image as the work mode allows: cache folder, then
// archives, then the server. A cache file that fails validation is deleted.
// True when the Image holds something to draw (the tile, or in cache-only
// mode the "Отсутствует в кэше" placeholder; a task's Image is then left
// empty, as its output draws the placeholder itself). Every failure is counted in
// the worker and, for a task, logged; nothing is thrown.
bool GetTile(MainState& state, WorkerContext& worker, jtype& tile);
