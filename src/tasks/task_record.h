#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fetch/failure_tally.h"
#include "tasks/tile_cursor.h"
#include "tilestore/tile_record.h"

// A task's log: lines appended by the worker and the GUI thread, read by the
// GUI thread while the worker writes.
class TaskLogLines {
  public:
    // The index of the new line.
    std::size_t Append(std::string line) {
        std::lock_guard<std::mutex> lock(Mutex);
        Items.push_back(std::move(line));
        return Items.size() - 1;
    }
    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> lock(Mutex);
        return Items;
    }
    std::string Line(std::size_t index) const {
        std::lock_guard<std::mutex> lock(Mutex);
        return index < Items.size() ? Items[index] : std::string();
    }
    std::size_t Size() const {
        std::lock_guard<std::mutex> lock(Mutex);
        return Items.size();
    }
    // Lines of an earlier run, put before these.
    void Prepend(const std::vector<std::string>& lines) {
        std::lock_guard<std::mutex> lock(Mutex);
        Items.insert(Items.begin(), lines.begin(), lines.end());
    }

  private:
    mutable std::mutex Mutex;
    std::vector<std::string> Items;
};

struct stichtype;

// What a stitch task makes of its tiles; a download task has none. Called
// on the worker's thread only.
class TaskOutput {
  public:
    virtual ~TaskOutput() = default;
    // Before the stop test: the stitch's allocation line (log only, not
    // followed live).
    virtual void Prepare(stichtype& task) { (void)task; }
    // An obtained tile (the tile itself, or the cache-only placeholder).
    virtual void PutTile(const jtype& tile) = 0;
    // A tile that finally failed: its "cannot load" placeholder goes there.
    virtual void PutFailed(const jtype& tile) = 0;
    // The end of a task that was not stopped: compress and save. True when
    // the output was made.
    virtual bool Finish(stichtype& task, const std::function<void(const std::string&)>& addLog) = 0;
    // Why tiles can no longer be kept; empty while they can.
    virtual std::string Failure() const { return {}; }
};

// One region task, a download or a stitch. Made on the GUI thread; once
// queued, its tiles and the output belong to the worker that runs it.
struct stichtype {
    using Clock = std::chrono::system_clock;

    // After this moment the worker may begin (a full timestamp, so a delay
    // past midnight waits for that moment).
    Clock::time_point StartTime;
    bool IsStitch = false;
    // As the task was asked for: the effective zooms, the selection, the
    // world file; its record keeps them.
    int Zoom = 0, ZoomTo = 0;
    RegionCorners Selection;
    bool WorldFile = false;
    // Came back from the record of an earlier run: it waits for Continue.
    std::atomic<bool> Interrupted{false};
    // It was the one running when that run ended.
    bool WasRunning = false;
    int64_t RetryPause = 0;  // milliseconds, the task's own copy
    bool DialUp = false, HangUp = false;
    std::string DialEntry, DialUser, DialPassword;
    std::atomic<bool> Stop{false};
    // What its tiles are; they are made one by one as the worker takes them.
    TaskTiles Tiles;
    std::unique_ptr<TaskOutput> Bitmap;  // the stitched image; none for a download
    int32_t ImageWidth = 0, ImageHeight = 0;
    double Lat1 = 0, Lon1 = 0;  // top-left corner, longitude west positive
    int64_t TileCount = 0;
    std::atomic<int64_t> TilesDone{0};
    // Where the worker begins: the tiles before it were done in an earlier
    // run. While it runs, the first tile not yet done (tiles in flight on
    // other connections come after it).
    std::atomic<int64_t> Resume{0};
    int32_t Quality = 80;
    // Tiles in flight at once, each on a connection of its own (1 as the
    // window works).
    int Connections = 1;
    // Tiles that finally failed, and tiles passed over after an error limit.
    std::atomic<int64_t> FailedTiles{0}, SkippedTiles{0};
    // The key letters of the tiles that finally failed, kept for a retry.
    TaskLogLines FailedNames;
    // Answers that are no error: the source has no imagery there, or a
    // refreshed tile had not changed.
    std::atomic<int64_t> NoImageryTiles{0}, UnchangedTiles{0};
    // Why its tiles' attempts failed, for a summary at the end.
    FailureTally Failures;
    std::string FileName;
    std::atomic<bool> LogShown{false};
    TaskLogLines Log;
    // Its worker runs it, or it was ended without one (set once, by whoever
    // takes it).
    std::atomic<bool> Started{false};
    // The stitched image was compressed and saved by this task.
    std::atomic<bool> Saved{false};
    // Called by the worker once the task has left the list and before the
    // worker lets go of TaskRunning (tests hold it there).
    std::function<void()> Unlinked;
    // When the tile loop began, for the rate and the time left.
    std::atomic<int64_t> LoopStartMs{0};

    // Sets Stop and wakes the worker from any wait of the task.
    void RequestStop() {
        {
            std::lock_guard<std::mutex> lock(WaitMutex);
            Stop = true;
        }
        Woken.notify_all();
    }
    // Sleeps until `until` or a stop request; true when it was not stopped.
    bool WaitUntil(Clock::time_point until) {
        std::unique_lock<std::mutex> lock(WaitMutex);
        return !Woken.wait_until(lock, until, [this] { return Stop.load(); });
    }
    bool SleepFor(std::chrono::milliseconds time) { return WaitUntil(Clock::now() + time); }

  private:
    std::mutex WaitMutex;
    std::condition_variable Woken;
};
