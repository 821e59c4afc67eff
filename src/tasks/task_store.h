#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/main_state.h"
#include "platform/file_io.h"
#include "tasks/task_record.h"
#include "tasks/tasks.h"

// The record of the task list in the program folder, so that a closed
// window, a reboot or a crash loses neither the queue nor how far each task
// got: every task's kind, region, zooms, parameters, output, start time,
// cursor, counters, failed tiles and log. UTF-8 JSON, written whole and
// atomically, so a kill leaves the previous record or the new one.
inline constexpr const char* TasksFileName = "Tasks.json";
inline constexpr int TaskRecordVersion = 1;

// The file's text for the tasks, newest first as the list holds them.
std::string TaskRecordText(const std::vector<std::shared_ptr<stichtype>>& tasks);

// One task as the record holds it.
struct TaskRecordEntry {
    TaskRequest Request;  // kind, zooms, quality, output, world file, dial-up, shape
    RegionCorners Selection;
    std::vector<std::string> Listed;  // a retry's tiles; empty for a region
    std::string Source, CachePath;
    int64_t StartMs = 0;  // the full start time, ms since the epoch
    int Connections = 1;
    int64_t RetryPause = 0;
    int64_t Position = 0, Done = 0, Failed = 0, Skipped = 0;
    std::vector<std::string> FailedTiles, Log;
    bool Running = false;
};

// Reads a record's text; false with `problem` set when it is not a whole
// record of a version this program knows.
bool ParseTaskRecord(const std::string& text, std::vector<TaskRecordEntry>& entries,
                     std::string& problem);

// The record of a task, for comparing and for tests.
TaskRecordEntry EntryOfTask(const stichtype& task);

// How the task `now` differs from the one `was` records, in words ("the
// zoom: 12 in the record, 13 here"); empty when it is the same task.
std::string TaskDifference(const TaskRecordEntry& was, const TaskRecordEntry& now);

// Puts the progress of a recorded download (cursor, counters, failed tiles,
// earlier log lines) into the same task made afresh. A stitch starts its
// picture again and keeps only the log.
void ResumeFromRecord(stichtype& task, const TaskRecordEntry& entry);

// Remakes a task from its record: waiting for Continue, marked interrupted,
// with its log. A download goes on from its cursor; a stitch starts its
// picture again (its fetched tiles come from the cache). A task whose
// output cannot be made comes back stopped with a line saying why.
std::shared_ptr<stichtype> RestoreTask(const MainState& state, const TaskRecordEntry& entry);

// What the start-up found: the tasks, and a message for the user when the
// file was bad (a copy was kept as "Tasks.json.bad").
struct TaskRecordLoad {
    std::vector<std::shared_ptr<stichtype>> Tasks;  // newest first
    std::string Message;
};
TaskRecordLoad LoadTaskRecord(const MainState& state, const std::string& path);
// Puts restored tasks into the list in their order.
void QueueRestoredTasks(MainState& state, const std::vector<std::shared_ptr<stichtype>>& tasks);

// The Continue command: every interrupted task may start again, the one that
// was running first. True when a worker was started.
bool ContinueTasks(MainState& state, stichtype::Clock::time_point now = stichtype::Clock::now());
// A new download task of the tiles that failed in `task`; none when none did.
std::shared_ptr<stichtype> RetryFailedTask(const MainState& state, const stichtype& task);

// Writes the record when told: at once for an urgent change, otherwise at
// most once an interval. Writes happen on its own thread, never the caller's.
class TaskRecordKeeper final : public TaskListWatcher {
  public:
    using TaskSource = std::function<std::vector<std::shared_ptr<stichtype>>()>;
    TaskRecordKeeper(std::string path, TaskSource tasks,
                     std::chrono::milliseconds interval = std::chrono::seconds(3));
    // Writes the last record.
    ~TaskRecordKeeper() override;
    TaskRecordKeeper(const TaskRecordKeeper&) = delete;
    TaskRecordKeeper& operator=(const TaskRecordKeeper&) = delete;

    void TasksChanged(bool urgent) override;
    // On the caller's thread, now.
    FileResult WriteNow();

  private:
    void Run();

    std::string Path;
    TaskSource Tasks;
    std::chrono::milliseconds Interval;
    std::mutex Mutex, WriteMutex;
    std::condition_variable Woken;
    std::atomic<bool> Dirty{false};
    bool Urgent = false, Quit = false;
    std::thread Thread;
};

// Tells the state's watcher, when there is one.
void NoteTasksChanged(MainState& state, bool urgent);

// An exclusive lock on `path` (a ".lock" beside the record) for as long as
// the object lives: two programs on one folder must not both resume its tasks.
class FolderLock {
  public:
    explicit FolderLock(const std::string& path);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool Held() const { return Fd >= 0; }

  private:
    int Fd = -1;
};
