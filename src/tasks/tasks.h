#pragma once
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "tasks/task_record.h"

struct RegionShape;

// What the windows hand to the making of a task; the corners are the
// selection's (SelLat1..SelLon2).
struct TaskRequest {
    bool IsStitch = false;
    int Zoom = 13;  // the task zoom, 1..20
    // A download's last zoom: the tiles of Zoom..ZoomTo, lowest first. Zoom
    // alone when not above Zoom.
    int ZoomTo = 0;
    int Quality = 80;
    // The delayed-start dialog's fields (their last values when it was not
    // shown this time).
    int DelayHours = 0, DelayMinutes = 0;
    bool DialUp = false, HangUp = false;
    std::string DialEntry, DialUser, DialPassword;
    std::string FileName;
    bool WorldFile = false;                    // a stitch also writes a world file
    std::shared_ptr<const RegionShape> Shape;  // null: the rectangle of the corners
};

// Tiles are made as they are taken, so memory sets no bound; time does. Ten
// billion tiles are months of work even from the cache alone; a larger
// region is surely a slip of the hand, and is refused with its count.
inline constexpr long long MaxTaskTiles = 10'000'000'000;

// A new task record for the request: start time, the command line of its log,
// dial-up fields, corner, retry pause, quality.
std::shared_ptr<stichtype> NewTask(const MainState& state, const TaskRequest& request,
                                   stichtype::Clock::time_point now = stichtype::Clock::now());
// The fields a task keeps of its request as they stand: kind, dial-up,
// quality, output name.
void TakeRequestFields(stichtype& task, const TaskRequest& request);
// The entry the task list shows for a task just made: its start time,
// " начало ... " and the size label.
std::string NewTaskEntryText(const stichtype& task, const std::string& sizeLabel);

// The log line of a task whose tiles cannot be requested (the source string
// is a template that cannot be used), followed by the reason.
inline constexpr const char* NoRequestsLine = "Запрос к серверу невозможен: ";

// Sets the task's tiles to those over width x height pixels from its corner
// (Lat1, Lon1) at zoom z, with its log line. False, with no tiles and
// `error` set, when there would be too many.
bool BuildTaskTiles(const MainState& state, stichtype& task, int zoom, int width, int height,
                    std::string& error);
// The same in steps, for several zooms or a shape: no tiles yet, then one
// zoom's block after another, each with its log line.
void BeginTaskTiles(const MainState& state, stichtype& task);
bool AddTaskBlock(const MainState& state, stichtype& task, const TileBlock& block,
                  std::string& error);

// Pushes the task at the head of the task list and logs "Список создан".
// True when it is alone in the list.
bool QueueTask(MainState& state, const std::shared_ptr<stichtype>& task);

// Logs "Запуск потока" and starts the task worker on `task`, taking
// TaskRunning at once. While a worker still holds it, nothing is started and
// the task is left to the task list refresh. False when no thread could be
// made (TaskRunning is clear again).
bool StartTaskWorker(MainState& state, const std::shared_ptr<stichtype>& task);

// The task list refresh: when no worker runs and the newest task has tiles,
// its worker starts. True when one was started.
bool StartNextTask(MainState& state);

// The task list's entry for a task at `now`.
std::string TaskEntryText(const stichtype& task,
                          stichtype::Clock::time_point now = stichtype::Clock::now());

// The Stop command for the task at `index` from the head: Stop set and the
// command logged. The task, or none when the index has no task.
std::shared_ptr<stichtype> StopTaskAt(MainState& state, int index,
                                      stichtype::Clock::time_point now = stichtype::Clock::now());

// The Stop command for the task a list entry showed; none when it has left
// the list since.
std::shared_ptr<stichtype> StopTask(MainState& state, const std::weak_ptr<stichtype>& entry,
                                    stichtype::Clock::time_point now = stichtype::Clock::now());
// The task a list entry showed while it is still in the list.
std::shared_ptr<stichtype> ListedTask(const MainState& state,
                                      const std::weak_ptr<stichtype>& entry);

// Ends at once, on the calling thread, every stopped task whose worker has
// not begun: each runs its end phase (no tile, no image) and leaves the list.
void EndStoppedTasks(MainState& state);

// Shutdown: every task is asked to stop; then waits, checking every 50 ms,
// until no task worker is left or the limit has passed. True when none is left.
void StopAllTasks(MainState& state);
bool WaitForTaskWorker(MainState& state, std::chrono::milliseconds limit);

// Appends a worker's line to the task's log and lets the report window follow.
void AddLog(MainState& state, const std::shared_ptr<stichtype>& task, const std::string& line);

// How far a task is, for the progress bar beside the task list.
struct TaskProgress {
    int64_t Done = 0, Count = 0;
    int Percent = 0;
    double TilesPerSecond = 0;  // 0 until the tile loop has run a while
    double SecondsLeft = -1;    // unknown when negative
    int NoImagery = 0;          // of Done: tiles the source has no imagery for
};
TaskProgress ProgressOf(const stichtype& task);
// "N из M фрагментов, P%" and, known once the loop runs, the rate and the time left.
std::string ProgressToolTip(const TaskProgress& progress);
