#include "tasks/task_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "platform/numbers.h"
#include "platform/time_text.h"
#include "regions/region_shape.h"
#include "tasks/stitch_task.h"

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QJsonArray Strings(const std::vector<std::string>& items) {
    QJsonArray out;
    for (const std::string& item : items) out.append(Q(item));
    return out;
}

QJsonArray PathJson(const GeoPath& path) {
    QJsonArray out;
    for (const ShapePoint& p : path) out.append(QJsonArray{p.Lon, p.Lat});
    return out;
}

QJsonObject ShapeJson(const RegionShape& shape) {
    QJsonArray polygons;
    for (const GeoPolygon& polygon : shape.Polygons) {
        QJsonArray holes;
        for (const GeoPath& hole : polygon.Holes) holes.append(PathJson(hole));
        polygons.append(QJsonObject{{"Outer", PathJson(polygon.Outer)}, {"Holes", holes}});
    }
    QJsonArray lines;
    for (const GeoPath& line : shape.Lines) lines.append(PathJson(line));
    return {{"Polygons", polygons}, {"Lines", lines}, {"CorridorWidth", shape.CorridorWidth}};
}

// Reading: every value is checked; the first wrong one spoils the record.
struct Reader {
    std::string Problem;

    bool Fail(const std::string& why) {
        if (Problem.empty()) Problem = why;
        return false;
    }
    int64_t Int(const QJsonObject& o, const char* key, int64_t min, int64_t max) {
        const QJsonValue v = o.value(key);
        const double d = v.toDouble(-1e300);
        if (!v.isDouble() || d != static_cast<double>(static_cast<int64_t>(d)) || d < min ||
            d > max) {
            Fail(std::string("\"") + key + "\" is not a whole number in range");
            return min;
        }
        return static_cast<int64_t>(d);
    }
    double Real(const QJsonValue& v, double limit) {
        if (!v.isDouble() || !(std::abs(v.toDouble()) <= limit)) {
            Fail("a coordinate is not a number in range");
            return 0;
        }
        return v.toDouble();
    }
    std::string Text(const QJsonObject& o, const char* key) {
        const QJsonValue v = o.value(key);
        if (!v.isString()) Fail(std::string("\"") + key + "\" is not a text");
        return v.toString().toStdString();
    }
    bool Flag(const QJsonObject& o, const char* key) {
        const QJsonValue v = o.value(key);
        if (!v.isBool()) Fail(std::string("\"") + key + "\" is not true or false");
        return v.toBool();
    }
    std::vector<std::string> Texts(const QJsonObject& o, const char* key) {
        std::vector<std::string> out;
        const QJsonValue v = o.value(key);
        if (!v.isArray()) {
            Fail(std::string("\"") + key + "\" is not a list");
            return out;
        }
        for (const QJsonValue item : v.toArray()) {
            if (!item.isString()) Fail(std::string("\"") + key + "\" holds a non-text");
            out.push_back(item.toString().toStdString());
        }
        return out;
    }
    GeoPath Path(const QJsonValue& v) {
        GeoPath out;
        if (!v.isArray()) Fail("a path of the shape is not a list");
        for (const QJsonValue point : v.toArray()) {
            const QJsonArray pair = point.toArray();
            if (pair.size() != 2) Fail("a point of the shape is not a pair");
            out.push_back({Real(pair.at(0), 720), Real(pair.at(1), 90)});
        }
        return out;
    }
    std::shared_ptr<const RegionShape> Shape(const QJsonValue& v) {
        if (v.isUndefined() || v.isNull()) return nullptr;
        const QJsonObject o = v.toObject();
        auto shape = std::make_shared<RegionShape>();
        for (const QJsonValue p : o.value("Polygons").toArray()) {
            GeoPolygon polygon;
            polygon.Outer = Path(p.toObject().value("Outer"));
            for (const QJsonValue hole : p.toObject().value("Holes").toArray())
                polygon.Holes.push_back(Path(hole));
            shape->Polygons.push_back(std::move(polygon));
        }
        for (const QJsonValue line : o.value("Lines").toArray()) shape->Lines.push_back(Path(line));
        shape->CorridorWidth = Real(o.value("CorridorWidth"), 1e7);
        if (shape->Empty()) Fail("the shape is empty");
        return shape;
    }
};

int64_t EpochMs(stichtype::Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

}  // namespace

TaskRecordEntry EntryOfTask(const stichtype& task) {
    TaskRecordEntry e;
    TaskRequest& r = e.Request;
    r.IsStitch = task.IsStitch;
    r.Zoom = task.Zoom;
    r.ZoomTo = task.ZoomTo;
    r.Quality = task.Quality;
    r.DialUp = task.DialUp;
    r.HangUp = task.HangUp;
    r.DialEntry = task.DialEntry;
    r.DialUser = task.DialUser;
    r.DialPassword = task.DialPassword;
    r.FileName = task.FileName;
    r.WorldFile = task.WorldFile;
    r.Shape = task.Tiles.Shape;
    e.Selection = task.Selection;
    e.Listed = task.Tiles.Listed;
    e.Source = task.Tiles.Source;
    e.CachePath = task.Tiles.CachePath;
    e.StartMs = EpochMs(task.StartTime);
    e.Connections = task.Connections;
    e.RetryPause = task.RetryPause;
    e.Position = task.Resume;
    e.Done = task.TilesDone;
    e.Failed = task.FailedTiles;
    e.Skipped = task.SkippedTiles;
    e.FailedTiles = task.FailedNames.Lines();
    e.Log = task.Log.Lines();
    // A task stopped for the program's close was running all the same.
    // Still the one to go first when it has not been continued yet.
    e.Running = task.Started || (task.WasRunning && task.Interrupted);
    return e;
}

std::string TaskRecordText(const std::vector<std::shared_ptr<stichtype>>& tasks) {
    QJsonArray list;
    for (const auto& task : tasks) {
        const TaskRecordEntry e = EntryOfTask(*task);
        const TaskRequest& r = e.Request;
        QJsonObject o{
            {"Kind", r.IsStitch ? "stitch" : "download"},
            {"Start", static_cast<double>(e.StartMs)},
            {"Zoom", r.Zoom},
            {"ZoomTo", r.ZoomTo},
            {"Selection",
             QJsonArray{e.Selection.Lat1, e.Selection.Lon1, e.Selection.Lat2, e.Selection.Lon2}},
            {"Listed", Strings(e.Listed)},
            {"Quality", r.Quality},
            {"FileName", Q(r.FileName)},
            {"WorldFile", r.WorldFile},
            {"DialUp", r.DialUp},
            {"HangUp", r.HangUp},
            {"DialEntry", Q(r.DialEntry)},
            {"DialUser", Q(r.DialUser)},
            {"DialPassword", Q(r.DialPassword)},
            {"Source", Q(e.Source)},
            {"CachePath", Q(e.CachePath)},
            {"Connections", e.Connections},
            {"RetryPause", static_cast<double>(e.RetryPause)},
            {"Position", static_cast<double>(e.Position)},
            {"Done", static_cast<double>(e.Done)},
            {"Failed", static_cast<double>(e.Failed)},
            {"Skipped", static_cast<double>(e.Skipped)},
            {"FailedTiles", Strings(e.FailedTiles)},
            {"Log", Strings(e.Log)},
            {"Running", e.Running},
        };
        if (r.Shape) o.insert("Shape", ShapeJson(*r.Shape));
        list.append(o);
    }
    const QJsonObject root{{"Version", TaskRecordVersion}, {"Tasks", list}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

bool ParseTaskRecord(const std::string& text, std::vector<TaskRecordEntry>& entries,
                     std::string& problem) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    if (doc.isNull()) {
        problem = "not whole JSON: " + error.errorString().toStdString();
        return false;
    }
    const QJsonObject root = doc.object();
    const QJsonValue version = root.value("Version");
    if (!version.isDouble() || version.toInt() < 1) {
        problem = "no version";
        return false;
    }
    if (version.toInt() > TaskRecordVersion) {
        problem = "written by a newer version (" + std::to_string(version.toInt()) + ")";
        return false;
    }
    Reader in;
    if (!root.value("Tasks").isArray()) in.Fail("no task list");
    entries.clear();
    for (const QJsonValue item : root.value("Tasks").toArray()) {
        const QJsonObject o = item.toObject();
        TaskRecordEntry e;
        TaskRequest& r = e.Request;
        const std::string kind = in.Text(o, "Kind");
        if (kind != "stitch" && kind != "download") in.Fail("unknown kind \"" + kind + "\"");
        r.IsStitch = kind == "stitch";
        r.Zoom = static_cast<int>(in.Int(o, "Zoom", 1, 20));
        r.ZoomTo = static_cast<int>(in.Int(o, "ZoomTo", 0, 20));
        const QJsonArray corners = o.value("Selection").toArray();
        if (corners.size() != 4) in.Fail("\"Selection\" is not four numbers");
        e.Selection = {in.Real(corners.at(0), 90), in.Real(corners.at(1), 720),
                       in.Real(corners.at(2), 90), in.Real(corners.at(3), 720)};
        e.Listed = in.Texts(o, "Listed");
        for (const std::string& letters : e.Listed)
            if (letters.empty() || letters.size() > 20 ||
                letters.find_first_not_of("qrst") != std::string::npos)
                in.Fail("a listed tile is not key letters");
        r.Quality = static_cast<int>(in.Int(o, "Quality", 1, 100));
        r.FileName = in.Text(o, "FileName");
        r.WorldFile = in.Flag(o, "WorldFile");
        r.DialUp = in.Flag(o, "DialUp");
        r.HangUp = in.Flag(o, "HangUp");
        r.DialEntry = in.Text(o, "DialEntry");
        r.DialUser = in.Text(o, "DialUser");
        r.DialPassword = in.Text(o, "DialPassword");
        r.Shape = in.Shape(o.value("Shape"));
        e.Source = in.Text(o, "Source");
        e.CachePath = in.Text(o, "CachePath");
        e.StartMs = in.Int(o, "Start", 0, int64_t{1} << 50);
        e.Connections = static_cast<int>(in.Int(o, "Connections", 1, 64));
        e.RetryPause = in.Int(o, "RetryPause", 0, int64_t{1} << 40);
        e.Position = in.Int(o, "Position", 0, MaxTaskTiles);
        e.Done = in.Int(o, "Done", 0, MaxTaskTiles);
        e.Failed = in.Int(o, "Failed", 0, MaxTaskTiles);
        e.Skipped = in.Int(o, "Skipped", 0, MaxTaskTiles);
        e.FailedTiles = in.Texts(o, "FailedTiles");
        e.Log = in.Texts(o, "Log");
        e.Running = in.Flag(o, "Running");
        entries.push_back(std::move(e));
    }
    problem = in.Problem;
    return problem.empty();
}

namespace {

bool SamePath(const GeoPath& a, const GeoPath& b) {
    return a == b;
}

bool SameShape(const RegionShape* a, const RegionShape* b) {
    if (!a || !b) return !a && !b;
    if (a->CorridorWidth != b->CorridorWidth || a->Lines.size() != b->Lines.size() ||
        a->Polygons.size() != b->Polygons.size())
        return false;
    for (std::size_t i = 0; i < a->Lines.size(); ++i)
        if (!SamePath(a->Lines[i], b->Lines[i])) return false;
    for (std::size_t i = 0; i < a->Polygons.size(); ++i) {
        const GeoPolygon &p = a->Polygons[i], &q = b->Polygons[i];
        if (!SamePath(p.Outer, q.Outer) || p.Holes.size() != q.Holes.size()) return false;
        for (std::size_t h = 0; h < p.Holes.size(); ++h)
            if (!SamePath(p.Holes[h], q.Holes[h])) return false;
    }
    return true;
}

std::string CornersText(const RegionCorners& c) {
    return FormatFixed(c.Lat1, 6) + " " + FormatFixed(c.Lon1, 6) + " - " + FormatFixed(c.Lat2, 6) +
           " " + FormatFixed(c.Lon2, 6);
}

}  // namespace

std::string TaskDifference(const TaskRecordEntry& was, const TaskRecordEntry& now) {
    const TaskRequest &a = was.Request, &b = now.Request;
    const auto differ = [](const std::string& what, const std::string& there,
                           const std::string& here) {
        return what + ": " + there + " in the record, " + here + " here";
    };
    const auto kind = [](const TaskRequest& r) { return r.IsStitch ? "stitch" : "download"; };
    if (a.IsStitch != b.IsStitch) return differ("the task", kind(a), kind(b));
    if (a.Zoom != b.Zoom || a.ZoomTo != b.ZoomTo)
        return differ("the zooms", std::to_string(a.Zoom) + "-" + std::to_string(a.ZoomTo),
                      std::to_string(b.Zoom) + "-" + std::to_string(b.ZoomTo));
    if (!SameShape(a.Shape.get(), b.Shape.get()))
        return differ("the region's shape", a.Shape ? "one shape" : "none",
                      b.Shape ? "another" : "none");
    const auto near = [](double x, double y) { return std::abs(x - y) < 1e-9; };
    const RegionCorners &p = was.Selection, &q = now.Selection;
    if (!a.Shape && !(near(p.Lat1, q.Lat1) && near(p.Lon1, q.Lon1) && near(p.Lat2, q.Lat2) &&
                      near(p.Lon2, q.Lon2)))
        return differ("the region", CornersText(p), CornersText(q));
    if (a.FileName != b.FileName) return differ("the output", a.FileName, b.FileName);
    if (a.IsStitch && a.Quality != b.Quality)
        return differ("the quality", std::to_string(a.Quality), std::to_string(b.Quality));
    if (a.WorldFile != b.WorldFile)
        return differ("the world file", a.WorldFile ? "yes" : "no", b.WorldFile ? "yes" : "no");
    return {};
}

void ResumeFromRecord(stichtype& task, const TaskRecordEntry& e) {
    task.Log.Prepend(e.Log);
    if (task.IsStitch) return;
    task.Resume = std::min(e.Position, task.TileCount);
    task.TilesDone = task.Resume.load();
    task.FailedTiles = e.Failed;
    task.SkippedTiles = e.Skipped;
    for (const std::string& name : e.FailedTiles) task.FailedNames.Append(name);
}

std::shared_ptr<stichtype> RestoreTask(const MainState& state, const TaskRecordEntry& e) {
    auto task = std::make_shared<stichtype>();
    const TaskRequest& r = e.Request;
    TakeRequestFields(*task, r);
    task->StartTime = stichtype::Clock::time_point(std::chrono::milliseconds(e.StartMs));
    task->Connections = e.Connections;
    task->RetryPause = e.RetryPause;
    task->Lat1 = e.Selection.Lat1;
    task->Lon1 = e.Selection.Lon1;
    task->Zoom = r.Zoom;
    task->ZoomTo = r.ZoomTo;
    task->Selection = e.Selection;
    task->WorldFile = r.WorldFile;
    task->WasRunning = e.Running;
    task->Interrupted = true;
    for (const std::string& line : e.Log) task->Log.Append(line);

    if (!e.Listed.empty()) {
        task->Tiles.Listed = e.Listed;
        task->Tiles.Count = static_cast<int64_t>(e.Listed.size());
    } else {
        // Made again as it was first made, in a scratch record: the log goes on
        // where it stopped rather than telling the making twice.
        stichtype scratch;
        scratch.IsStitch = r.IsStitch;
        scratch.FileName = r.FileName;
        scratch.Quality = r.Quality;
        scratch.Lat1 = e.Selection.Lat1;
        scratch.Lon1 = e.Selection.Lon1;
        std::string failedFile, error;
        const TaskBuild built = BuildTask(state, e.Selection, scratch, r, failedFile, error);
        if (built != TaskBuild::Built) {
            task->Log.Append("Задание не может быть продолжено: " +
                             (failedFile.empty() ? error : failedFile + ": " + error));
            task->Stop = true;
            task->Interrupted = false;  // it only has its end phase to go through
            return task;
        }
        task->Tiles = std::move(scratch.Tiles);
        task->Bitmap = std::move(scratch.Bitmap);
        task->ImageWidth = scratch.ImageWidth;
        task->ImageHeight = scratch.ImageHeight;
        task->Lat1 = scratch.Lat1;
        task->Lon1 = scratch.Lon1;
    }
    // Its tiles keep the addresses and the cache they were made with.
    task->Tiles.Source = e.Source;
    task->Tiles.CachePath = e.CachePath;
    task->TileCount = task->Tiles.Count;
    TaskRecordEntry progress = e;
    progress.Log.clear();  // already there
    ResumeFromRecord(*task, progress);
    return task;
}

TaskRecordLoad LoadTaskRecord(const MainState& state, const std::string& path) {
    TaskRecordLoad load;
    std::string text;
    if (!FileExists(path)) return load;
    std::vector<TaskRecordEntry> entries;
    std::string problem;
    if (!ReadWholeFile(path, text))
        problem = "cannot be read";
    else
        ParseTaskRecord(text, entries, problem);
    if (!problem.empty()) {
        // Kept for whoever wants to look; the program goes on without it.
        const std::string bad = path + ".bad";
        WriteFileAtomic(bad, text);
        load.Message = "Список заданий " + path + " не прочитан (" + problem +
                       "); его копия сохранена в " + bad;
        return load;
    }
    for (const TaskRecordEntry& e : entries) load.Tasks.push_back(RestoreTask(state, e));
    return load;
}

void QueueRestoredTasks(MainState& state, const std::vector<std::shared_ptr<stichtype>>& tasks) {
    for (auto it = tasks.rbegin(); it != tasks.rend(); ++it) state.TaskList.PushFront(*it);
}

bool ContinueTasks(MainState& state, stichtype::Clock::time_point now) {
    std::shared_ptr<stichtype> first;
    for (const auto& task : state.TaskList.Snapshot()) {
        if (!task->Interrupted.exchange(false)) continue;
        task->Log.Append("Поступила команда Продолжить в " + TimeText(now, now));
        if (task->WasRunning && !task->Stop && !first) first = task;
    }
    NoteTasksChanged(state, true);
    if (first) return StartTaskWorker(state, first);
    return StartNextTask(state);
}

std::shared_ptr<stichtype> RetryFailedTask(const MainState& state, const stichtype& task) {
    std::vector<std::string> failed = task.FailedNames.Lines();
    if (failed.empty()) return nullptr;
    TaskRequest request;
    request.Quality = task.Quality;
    auto retry = NewTask(state, request);
    retry->Zoom = task.Zoom;
    retry->ZoomTo = task.ZoomTo;
    retry->Selection = task.Selection;
    retry->Connections = task.Connections;
    retry->Tiles.Listed = std::move(failed);
    retry->Tiles.Source = task.Tiles.Source;
    retry->Tiles.CachePath = task.Tiles.CachePath;
    retry->Tiles.Count = static_cast<int64_t>(retry->Tiles.Listed.size());
    retry->TileCount = retry->Tiles.Count;
    return retry;
}

void NoteTasksChanged(MainState& state, bool urgent) {
    if (TaskListWatcher* watcher = state.TaskWatcher.load()) watcher->TasksChanged(urgent);
}

TaskRecordKeeper::TaskRecordKeeper(std::string path, TaskSource tasks,
                                   std::chrono::milliseconds interval)
    : Path(std::move(path)), Tasks(std::move(tasks)), Interval(interval) {
    Thread = std::thread([this] { Run(); });
}

TaskRecordKeeper::~TaskRecordKeeper() {
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Quit = true;
    }
    Woken.notify_all();
    Thread.join();
    WriteNow();
}

void TaskRecordKeeper::TasksChanged(bool urgent) {
    Dirty = true;
    if (!urgent) return;
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Urgent = true;
    }
    Woken.notify_all();
}

FileResult TaskRecordKeeper::WriteNow() {
    std::lock_guard<std::mutex> lock(WriteMutex);
    Dirty = false;
    return WriteFileAtomic(Path, TaskRecordText(Tasks()), true);
}

void TaskRecordKeeper::Run() {
    std::unique_lock<std::mutex> lock(Mutex);
    while (!Quit) {
        Woken.wait_for(lock, Interval, [this] { return Quit || Urgent; });
        if (Quit) break;
        Urgent = false;
        if (!Dirty) continue;
        lock.unlock();
        WriteNow();
        lock.lock();
    }
}

FolderLock::FolderLock(const std::string& path) {
    Fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (Fd >= 0 && ::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(Fd);
        Fd = -1;
    }
}

FolderLock::~FolderLock() {
    if (Fd >= 0) ::close(Fd);
}
