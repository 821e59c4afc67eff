#include "tasks/stitch_task.h"

#include <algorithm>
#include <cstdlib>

#include "geo/projection.h"
#include "platform/file_io.h"
#include "tasks/calibration.h"
#include "tasks/task_params.h"
#include "tasks/world_file.h"
#include "tilestore/tile_lookup.h"

bool PrepareStitch(const MainState& state, stichtype& task, int zoom, bool worldFile,
                   std::string& failedFile, std::string& error) {
    const int z = EffectiveZoom(zoom);
    const RegionPixels size =
        RegionPixelSize(z, {state.SelLat1, state.SelLon1, state.SelLat2, state.SelLon2});
    task.ImageWidth = size.Width;
    task.ImageHeight = size.Height;
    const CalibrationResult written =
        WriteStitchCalibration(z, size.Width, size.Height, task.FileName, task.Lat1, task.Lon1,
                               state.WriteOziMap, state.WriteMapInfoTab);
    if (!written) {
        failedFile = written.FailedFile;
        error = written.Error;
        return false;
    }
    if (worldFile) {
        WorldFileParams params{z, 0, 0, task.ImageWidth, task.ImageHeight, task.FileName};
        WorldPixelAt(z, task.Lat1, task.Lon1, params.Left, params.Top);
        if (const FileResult result = WriteWorldFile(params); !result) {
            // No task is made: no file may speak of its image.
            for (const char* extension : {"map", "tab"})
                RemoveFile(CalibrationFileName(task.FileName, extension));
            failedFile = WorldFileName(task.FileName);
            error = result.Error;
            return false;
        }
    }
    task.Bitmap = std::make_unique<StitchOutput>(task.ImageWidth, task.ImageHeight, task.FileName);
    return true;
}

TaskBuild BuildTask(const MainState& state, stichtype& task, const TaskRequest& request,
                    std::string& failedFile, std::string& error) {
    const RegionCorners corners{state.SelLat1, state.SelLon1, state.SelLat2, state.SelLon2};
    const int first = EffectiveZoom(request.Zoom);
    const int last = request.IsStitch ? first : std::max(first, EffectiveZoom(request.ZoomTo));
    if (last > first) {
        // Counted first: a range of millions of tiles is refused before any
        // record is made.
        int64_t total = 0;
        for (int z = first; z <= last; ++z) total += RegionTileCount(z, corners);
        if (total > MaxTaskTiles) {
            error = TooManyTilesText(total);
            return TaskBuild::ListRefused;
        }
    }
    // The list first, so that a task refused here leaves no file behind. Each
    // zoom's list in its own order, the lowest zoom at the head.
    std::unique_ptr<jtype> tiles;
    std::unique_ptr<jtype>* tail = &tiles;
    int count = 0;
    for (int z = first; z <= last; ++z) {
        const RegionPixels size = RegionPixelSize(z, corners);
        if (!BuildTaskTiles(state, task, z, size.Width, size.Height, error))
            return TaskBuild::ListRefused;
        *tail = std::move(task.Tiles);
        while (*tail) tail = &(*tail)->Next;
        count += task.TileCount;
    }
    task.Tiles = std::move(tiles);
    task.TileCount = count;
    if (!task.Tiles) {
        // Queued, it would never start and would hold up every task behind it.
        error = "Пустая область: в ней нет ни одного фрагмента";
        return TaskBuild::ListRefused;
    }
    if (request.IsStitch &&
        !PrepareStitch(state, task, request.Zoom, request.WorldFile, failedFile, error)) {
        task.Tiles.reset();
        task.TileCount = 0;
        return TaskBuild::FileNotWritten;
    }
    return TaskBuild::Built;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

StitchOutput::StitchOutput(int width, int height, const std::string& fileName,
                           std::size_t memoryLimit)
    : Image(width, height, FolderOf(fileName), memoryLimit) {}

void StitchOutput::Prepare(stichtype& task) {
    // Into the log only: the report window shows it at its next reload.
    task.Log.Append(StitchImage::AllocationLine(task.ImageWidth, task.ImageHeight,
                                                std::chrono::system_clock::now()));
}

void StitchOutput::PutTile(const jtype& tile) {
    // A picture without JPEG bytes is the cache-only placeholder.
    if (tile.Image->Decoded() && !tile.Image->Data().empty())
        Image.AddJpeg(tile.X, tile.Y, tile.Image->Data());
    else
        Image.AddPlaceholder(tile.X, tile.Y, std::string(CaptionNotInCache), tile.TileName);
}

void StitchOutput::PutFailed(const jtype& tile) {
    Image.AddPlaceholder(tile.X, tile.Y, std::string(CaptionLoadFailed), tile.TileName);
}

bool StitchOutput::Finish(stichtype& task, const std::function<void(const std::string&)>& addLog) {
    return Image.CompressAndSave(task.FileName, task.Quality, addLog, &task.Stop);
}

std::string StitchOutput::Failure() const {
    return Image.StoreFailure();
}
