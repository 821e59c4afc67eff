#include "cli/cli_run.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "core/app_core.h"
#include "core/map_sources.h"
#include "core/program_folder.h"
#include "fetch/request_tile.h"
#include "formats/calibration.h"
#include "formats/stitch_pieces.h"
#include "geo/tile_key.h"
#include "platform/file_io.h"
#include "regions/region_file.h"
#include "regions/shape_tiles.h"
#include "tasks/cache_export.h"
#include "tasks/stitch_task.h"
#include "tasks/task_params.h"
#include "tasks/task_store.h"
#include "tasks/tasks.h"

namespace {

using namespace std::chrono_literals;

// Prints every task's log lines as they are added, whichever thread adds
// them, and keeps the progress line on the terminal out of their way.
class LogPrinter : public UiSink {
  public:
    explicit LogPrinter(CliStreams streams) : Streams(streams) {}

    void TaskLogLine(const std::shared_ptr<stichtype>& task, std::size_t) override { Flush(*task); }

    // The lines added without a worker (making and queueing the task) too.
    void Flush(const stichtype& task) {
        std::lock_guard<std::mutex> lock(Mutex);
        std::size_t& printed = Printed[&task];
        const std::size_t size = task.Log.Size();
        if (printed < size) ClearProgress();
        for (; printed < size; ++printed) Streams.Out << task.Log.Line(printed) << '\n';
        Streams.Out.flush();
    }
    // The first `count` lines of the task's log were printed by an earlier run.
    void Skip(const stichtype& task, std::size_t count) {
        std::lock_guard<std::mutex> lock(Mutex);
        Printed[&task] = count;
    }
    void Line(const std::string& text) {
        std::lock_guard<std::mutex> lock(Mutex);
        ClearProgress();
        Streams.Out << text << '\n';
        Streams.Out.flush();
    }
    void Error(const std::string& text) {
        std::lock_guard<std::mutex> lock(Mutex);
        ClearProgress();
        Streams.Err << "vistrel-cli: " << text << '\n';
        Streams.Err.flush();
    }
    void Progress(const std::string& text) {
        if (!Streams.Progress) return;
        std::lock_guard<std::mutex> lock(Mutex);
        Streams.Err << "\r\033[K" << text;
        Streams.Err.flush();
        ProgressShown = true;
    }
    void EndProgress() {
        std::lock_guard<std::mutex> lock(Mutex);
        ClearProgress();
    }

  private:
    void ClearProgress() {
        if (!ProgressShown) return;
        Streams.Err << "\r\033[K";
        Streams.Err.flush();
        ProgressShown = false;
    }

    CliStreams Streams;
    std::mutex Mutex;
    std::map<const stichtype*, std::size_t> Printed;
    bool ProgressShown = false;
};

struct RunError {
    int Status;
    std::string Message;
};

// The program folder as the viewer would use it, or --folder.
std::string ProgramFolderFor(const CliOptions& o, const std::string& executableFolder,
                             LogPrinter& printer) {
    if (o.Folder.empty()) {
        const ProgramFolderResult place = PrepareProgramFolder(executableFolder);
        if (!place.Error.empty()) printer.Error(place.Error);
        return place.Folder;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(o.Folder, ec))
        throw RunError{CliError, o.Folder + ": no such folder"};
    std::string folder = std::filesystem::absolute(o.Folder, ec).string();
    if (folder.empty()) folder = o.Folder;
    if (folder.back() != '/') folder += '/';
    return folder;
}

std::string Absolute(const std::string& path) {
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(path, ec).string();
    return absolute.empty() ? path : absolute;
}

// The shape of --region; a file that cannot be used ends the run with its
// reader's message, which names the file and the problem.
std::shared_ptr<const RegionShape> ReadCliRegion(const CliOptions& o) {
    RegionReadOptions options;
    options.CorridorWidth = o.Buffer;
    RegionFileResult read = ReadRegionFile(QString::fromStdString(o.Region), options);
    if (!read.Ok()) throw RunError{CliError, read.Message.toStdString()};
    auto shape = std::make_shared<const RegionShape>(std::move(read.Shape));
    if (ShapeTileRange(*shape, o.Zoom).Columns == 0)
        throw RunError{CliError,
                       o.Region + ": the region holds no tile at zoom " + std::to_string(o.Zoom)};
    return shape;
}

// Makes one task the way the window's task maker does: its record, the
// stitch's files and output, the tile list, the queue, and the worker when
// it is alone in the list.
std::shared_ptr<stichtype> MakeCliTask(MainState& s, const TaskRequest& request, int connections,
                                       LogPrinter& printer,
                                       const std::function<void(stichtype&)>& prepare = {}) {
    auto task = NewTask(s, request);
    task->Connections = connections;
    std::string error, failedFile;
    switch (BuildTask(s, *task, request, failedFile, error)) {
        case TaskBuild::Built:
            break;
        case TaskBuild::FileNotWritten:
            printer.Flush(*task);
            throw RunError{CliError, failedFile + ": cannot be written: " + error};
        case TaskBuild::ListRefused:
            printer.Flush(*task);
            throw RunError{CliError, error};
    }
    if (prepare) prepare(*task);
    const bool alone = QueueTask(s, task);
    printer.Flush(*task);
    if (alone && !task->Tiles.Empty() && !StartTaskWorker(s, task))
        throw RunError{CliError, "no thread could be started for the task"};
    printer.Flush(*task);
    return task;
}

// The --state record of the one task: read before the task is made, kept
// while it runs, written last when it ends.
class CliStateRecord {
  public:
    CliStateRecord(const CliOptions& o) : Path(o.State.empty() ? "" : Absolute(o.State)) {
        if (Path.empty()) return;
        Lock = std::make_unique<FolderLock>(Path + ".lock");
        if (!Lock->Held()) throw RunError{CliError, Path + ": in use by another vistrel-cli"};
        if (!FileExists(Path)) {
            if (o.RetryFailed) throw RunError{CliError, Path + ": no record to retry from"};
            return;
        }
        std::string text, problem;
        std::vector<TaskRecordEntry> entries;
        if (!ReadWholeFile(Path, text)) throw RunError{CliError, Path + ": cannot be read"};
        if (!ParseTaskRecord(text, entries, problem) || entries.size() != 1)
            throw RunError{CliError, Path + ": not a record of one task" +
                                         (problem.empty() ? std::string() : " (" + problem + ")")};
        Entry = std::move(entries.front());
        Found = true;
    }
    ~CliStateRecord() { Detach(); }

    // Between the making and the queueing: the same task, or a refusal; its
    // progress, or just its failed tiles.
    void Prepare(stichtype& task, bool retryFailed, LogPrinter& printer) {
        if (!Found) return;
        if (const std::string difference = TaskDifference(Entry, EntryOfTask(task));
            !difference.empty())
            throw RunError{CliError, Path + " records another task: " + difference};
        if (retryFailed) {
            task.Tiles.Blocks.clear();
            task.Tiles.Listed = Entry.FailedTiles;
            task.Tiles.Count = static_cast<int64_t>(Entry.FailedTiles.size());
            task.TileCount = task.Tiles.Count;
            task.Log.Prepend(Entry.Log);
        } else {
            ResumeFromRecord(task, Entry);
        }
        printer.Skip(task, Entry.Log.size());
    }
    void Keep(MainState& s, const std::shared_ptr<stichtype>& task) {
        if (Path.empty()) return;
        State = &s;
        // One task's record is small: written every second while it runs.
        Keeper = std::make_unique<TaskRecordKeeper>(
            Path, [task] { return std::vector<std::shared_ptr<stichtype>>{task}; },
            std::chrono::seconds(1));
        s.TaskWatcher = Keeper.get();
        Keeper->TasksChanged(true);
    }
    void Detach() {
        if (State) State->TaskWatcher = nullptr;
        Keeper.reset();
    }

  private:
    std::string Path;
    std::unique_ptr<FolderLock> Lock;
    TaskRecordEntry Entry;
    bool Found = false;
    MainState* State = nullptr;
    std::unique_ptr<TaskRecordKeeper> Keeper;
};

// Waits for the queued tasks one after another, turning stop requests into
// Stop, and shows the progress. True when a stop was asked for.
bool RunQueuedTasks(MainState& s, const std::vector<std::shared_ptr<stichtype>>& tasks,
                    const std::atomic<int>& stopRequests, LogPrinter& printer) {
    bool stopped = false, aborted = false;
    auto stoppedAt = std::chrono::steady_clock::now();
    for (;;) {
        const int stops = stopRequests.load();
        if (stops > 0 && !stopped) {
            StopAllTasks(s);
            // Queued tasks end here and now, not one worker after another.
            EndStoppedTasks(s);
            stopped = true;
            stoppedAt = std::chrono::steady_clock::now();
        }
        // As the window's shutdown: a server trickling bytes must not keep
        // the worker for ever.
        if (stopped && !aborted &&
            (stops > 1 || std::chrono::steady_clock::now() - stoppedAt > 10s)) {
            AbortRequests(true);
            aborted = true;
        }
        if (WaitForTaskWorker(s, 200ms)) {
            for (const auto& task : tasks) printer.Flush(*task);
            if (!StartNextTask(s)) break;
            continue;
        }
        for (const auto& task : tasks)
            if (task->Started && !task->Stop) printer.Progress(ProgressToolTip(ProgressOf(*task)));
    }
    printer.EndProgress();
    if (aborted) AbortRequests(false);
    return stopped;
}

int RunTasks(MainState& s, const CliOptions& o, const std::shared_ptr<const RegionShape>& shape,
             const std::atomic<int>& stopRequests, LogPrinter& printer) {
    const int zoom = o.Zoom;
    const RegionPixels size = RegionPixelSize(zoom, {s.SelLat1, s.SelLon1, s.SelLat2, s.SelLon2});
    std::vector<std::shared_ptr<stichtype>> tasks;
    TaskRequest request;
    request.Zoom = zoom;
    request.ZoomTo = o.ZoomTo;
    request.Quality = o.Quality > 0 ? o.Quality : QualityPercent(s.ComboBox3Index);
    request.IsStitch = o.Command == CliCommand::Stitch;
    request.WorldFile = o.WorldFile;
    request.Shape = shape;

    // Every tile's log line would only show an empty address.
    if (const std::string why = CheckUrlTemplate(s.SourceStringCopy());
        !why.empty() && !s.ModeCacheOnly)
        printer.Error(s.ProgramFolder + SettingsFileName +
                      ": the source string cannot be used: " + why);

    std::vector<StitchPiece> pieces;
    if (request.IsStitch) {
        const std::string out = Absolute(o.Out);
        // Checked before any piece is made: the pieces share the name's folder and stem.
        if (const std::string problem =
                CalibrationNameProblem(out, s.WriteOziMap, s.WriteMapInfoTab);
            !problem.empty())
            throw RunError{CliError, problem};
        // As the export's --dir: a missing folder is made.
        const std::string folder = std::filesystem::path(out).parent_path().string();
        if (!MakeFolders(folder)) throw RunError{CliError, folder + ": the folder cannot be made"};
        if (o.Pieces) {
            const PieceSizeCheck w = CheckPieceSize(o.PieceWidthText, size.Width);
            const PieceSizeCheck h = CheckPieceSize(o.PieceHeightText, size.Height);
            if (!w.Accepted || !h.Accepted)
                throw RunError{CliBadArguments,
                               "--pieces: a piece is 256 up to one less than the region's " +
                                   std::to_string(size.Width) + "x" + std::to_string(size.Height) +
                                   " pixels on each side"};
            pieces = CutIntoPieces(out, zoom, s.SelLat1, s.SelLon1, size.Width, size.Height,
                                   w.Value, h.Value, false);
        } else {
            pieces.push_back({out, s.SelLat1, s.SelLon1, s.SelLat2, s.SelLon2});
        }
    }

    CliStateRecord record(o);
    try {
        if (!o.State.empty()) {
            // One task: a download, or a stitch in one piece.
            tasks.push_back(MakeCliTask(s, request, o.Connections, printer, [&](stichtype& task) {
                record.Prepare(task, o.RetryFailed, printer);
            }));
            record.Keep(s, tasks.back());
        } else if (!request.IsStitch) {
            tasks.push_back(MakeCliTask(s, request, o.Connections, printer));
        } else {
            const double lat1 = s.SelLat1, lon1 = s.SelLon1, lat2 = s.SelLat2, lon2 = s.SelLon2;
            for (const StitchPiece& piece : pieces) {
                // Thousands of pieces take a while to make: a stop ends that too.
                if (stopRequests.load() > 0) break;
                s.SelLat1 = piece.Lat1;
                s.SelLon1 = piece.Lon1;
                s.SelLat2 = piece.Lat2;
                s.SelLon2 = piece.Lon2;
                request.FileName = o.AddCoordinates
                                       ? AddCoordinatesToName(piece.FileName, s.SelLat1, s.SelLon1)
                                       : piece.FileName;
                tasks.push_back(MakeCliTask(s, request, o.Connections, printer));
            }
            s.SelLat1 = lat1;
            s.SelLon1 = lon1;
            s.SelLat2 = lat2;
            s.SelLon2 = lon2;
        }
    } catch (const RunError&) {
        // What was queued ends through its end phase before the error is told.
        StopAllTasks(s);
        EndStoppedTasks(s);
        const std::atomic<int> none{0};
        RunQueuedTasks(s, tasks, none, printer);
        throw;
    }

    const bool stopped = RunQueuedTasks(s, tasks, stopRequests, printer);
    record.Detach();
    long long count = 0, obtained = 0, failed = 0, skipped = 0, noImagery = 0, unchanged = 0;
    std::vector<std::string> unsaved;
    for (const auto& task : tasks) {
        count += task->TileCount;
        failed += task->FailedTiles;
        skipped += task->SkippedTiles;
        noImagery += task->NoImageryTiles;
        unchanged += task->UnchangedTiles;
        obtained += task->TilesDone - task->FailedTiles - task->SkippedTiles;
        // An older file of the same name proves nothing: the task says.
        if (task->IsStitch && !stopped && !task->Saved) unsaved.push_back(task->FileName);
    }
    std::string counts = std::to_string(count) + " tiles, " + std::to_string(obtained) +
                         " obtained, " + std::to_string(failed) + " failed, " +
                         std::to_string(skipped) + " skipped";
    if (noImagery > 0) counts += ", " + std::to_string(noImagery) + " without imagery";
    if (unchanged > 0) counts += ", " + std::to_string(unchanged) + " unchanged";
    // The log names each failure; the run ends with the one that mattered most.
    FailureTally failures;
    for (const auto& task : tasks) failures.AddAll(task->Failures);
    const FailureTally::Commonest most = failures.Most();
    const auto tellCommonest = [&] {
        if (most.Count > 0)
            printer.Error("commonest failure: " + most.Reason + " (" + std::to_string(most.Count) +
                          " of " + std::to_string(most.Total) + " failed attempts)");
    };
    if (stopped) {
        printer.Line("vistrel-cli: stopped: " + counts + ", " +
                     std::to_string(count - obtained - failed - skipped) + " not reached");
        tellCommonest();
        return CliIncomplete;
    }
    printer.Line("vistrel-cli: " + counts);
    tellCommonest();
    for (const std::string& file : unsaved)
        printer.Error(file + ": the image was not saved (the log says why)");
    if (!unsaved.empty()) return CliError;
    return failed + skipped > 0 ? CliIncomplete : CliOk;
}

int RunExport(MainState& s, const CliOptions& o, const std::shared_ptr<const RegionShape>& shape,
              const std::atomic<int>& stopRequests, LogPrinter& printer) {
    CacheExportRequest request = SelectionExportRequest(s, o.Zoom, Absolute(o.Dir), o.Tab);
    request.Shape = shape;
    request.ZoomTo = o.ZoomTo;
    if (!o.MBTiles.empty() || !o.SqliteDb.empty()) {
        request.Target = o.MBTiles.empty() ? ExportTarget::SqliteDb : ExportTarget::MBTiles;
        request.File = Absolute(o.MBTiles.empty() ? o.SqliteDb : o.MBTiles);
        request.Name = o.Name;
    }
    const bool toFolder = request.Target == ExportTarget::Folder;
    auto last = std::chrono::steady_clock::now();
    const CacheExportResult result = ExportCache(request, [&](int64_t passed, int64_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (now - last > 200ms) {
            last = now;
            printer.Progress(std::to_string(passed) + " / " + std::to_string(total));
        }
        return stopRequests.load() == 0;
    });
    printer.EndProgress();
    std::error_code ec;
    if (toFolder && !std::filesystem::is_directory(request.Folder, ec))
        throw RunError{CliError, request.Folder + ": the folder cannot be made"};
    if (!result.Error.empty()) throw RunError{CliError, result.Error};
    for (const std::string& missing : result.Missing)
        printer.Line("vistrel-cli: not in the cache: " + missing);
    const std::string counts = std::to_string(result.Total) + " tiles, " +
                               std::to_string(result.Copied) + " copied, " +
                               std::to_string(result.Passed - result.Copied) + " not in the cache";
    if (result.Cancelled) {
        printer.Line("vistrel-cli: stopped: " + counts + ", " +
                     std::to_string(result.Total - result.Passed) + " not reached" +
                     (toFolder ? "" : "; " + request.File + " is as it was"));
        return CliIncomplete;
    }
    printer.Line("vistrel-cli: " + counts + " -> " + (toFolder ? request.Folder : request.File));
    return result.Copied < result.Total ? CliIncomplete : CliOk;
}

// The source of the run: the one named, or the one the viewer uses. Bad
// entries of the list are named once; the file is never written here.
void SelectSource(MainState& s, const CliOptions& o, LogPrinter& printer) {
    SourceList sources = LoadSources(s);
    if (const std::string problems = SourceProblemsText(sources); !problems.empty())
        printer.Error(s.ProgramFolder + problems);
    size_t index = sources.Active;
    if (!o.Source.empty()) {
        const MapSource* named = sources.Find(o.Source);
        if (!named) {
            std::string names;
            for (const MapSource& source : sources.Sources)
                names += (names.empty() ? "" : ", ") + source.Name;
            throw RunError{CliBadArguments, "--source: no source named \"" + o.Source +
                                                "\" (there are: " + names + ")"};
        }
        index = static_cast<size_t>(named - sources.Sources.data());
    }
    if (o.RefreshOlderDays >= 0) sources.Sources[index].RefreshDays = o.RefreshOlderDays;
    UseSource(s, sources, index);
}

}  // namespace

int RunCli(const CliOptions& o, const std::string& executableFolder,
           const std::atomic<int>& stopRequests, CliStreams streams) {
    LogPrinter printer(streams);
    MainState s;
    int status = CliOk;
    try {
        const std::string folder = ProgramFolderFor(o, executableFolder, printer);
        if (!StartUpState(s, folder, ScreenSize{}) && FileExists(folder + SettingsFileName))
            printer.Error(folder + SettingsFileName +
                          ": could not be read whole; the rest are the start values");
        if (o.Mode >= 0) SetWorkMode(s, o.Mode);
        SelectSource(s, o, printer);

        std::shared_ptr<const RegionShape> shape;
        RegionCorners c{o.FromLat, -o.FromLon, o.ToLat, -o.ToLon};
        if (!o.Region.empty()) {
            shape = ReadCliRegion(o);
            // The selection is the block of the shape's tiles.
            c = TileRangeCorners(o.Zoom, ShapeTileRange(*shape, o.Zoom));
        } else {
            OrderRegionCorners(o.Zoom, c);
            if (o.SnapToTiles) SnapRegionToTiles(o.Zoom, c);
            const RegionPixels size = RegionPixelSize(o.Zoom, c);
            if (size.Width < 1 || size.Height < 1)
                throw RunError{CliBadArguments, "--from, --to: the region is empty at zoom " +
                                                    std::to_string(o.Zoom)};
        }
        s.SelLat1 = c.Lat1;
        s.SelLon1 = c.Lon1;
        s.SelLat2 = c.Lat2;
        s.SelLon2 = c.Lon2;
        s.HasSelection = true;
        s.Sink = &printer;
        status = o.Command == CliCommand::Export ? RunExport(s, o, shape, stopRequests, printer)
                                                 : RunTasks(s, o, shape, stopRequests, printer);
    } catch (const RunError& e) {
        printer.Error(e.Message);
        if (e.Status == CliBadArguments) printer.Error("try 'vistrel-cli --help'");
        status = e.Status;
    } catch (const std::exception& e) {
        printer.Error(e.what());
        status = CliError;
    }
    // Normally no worker is left by now; after an unexpected failure one is
    // stopped first, since it uses the state and the printer.
    StopAllTasks(s);
    WaitForTaskWorker(s, 60s);
    s.UseNullSink();
    return status;
}

int CliMain(const std::vector<std::string>& args, const std::string& executableFolder,
            const std::atomic<int>& stopRequests, CliStreams streams) {
    const CliParseResult parsed = ParseCliArgs(args);
    if (!parsed.Ok) {
        streams.Err << "vistrel-cli: " << parsed.Error << "\n"
                    << "try 'vistrel-cli --help'\n";
        return CliBadArguments;
    }
    if (parsed.Options.Command == CliCommand::Help) {
        streams.Out << CliUsage();
        return CliOk;
    }
    return RunCli(parsed.Options, executableFolder, stopRequests, streams);
}
