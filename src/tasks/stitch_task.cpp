#include "tasks/stitch_task.h"

#include <algorithm>
#include <cstdlib>

#include "formats/calibration.h"
#include "formats/world_file.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "platform/file_io.h"
#include "regions/shape_tiles.h"
#include "tasks/task_params.h"
#include "tilestore/tile_lookup.h"

namespace {

// The stitch's files and output for an image whose size the task already
// holds; its top-left pixel in the world's grid is (left, top).
bool MakeStitchFiles(const MainState& state, stichtype& task, int z, bool worldFile, int64_t left,
                     int64_t top, std::string& failedFile, std::string& error) {
    const RegionPixels size{task.ImageWidth, task.ImageHeight};
    // The makers ask first; this keeps files that name no image from being written.
    if (std::string problem =
            CalibrationNameProblem(task.FileName, state.WriteOziMap, state.WriteMapInfoTab);
        !problem.empty()) {
        failedFile = CalibrationFileName(task.FileName, state.WriteOziMap ? "map" : "tab");
        error = std::move(problem);
        return false;
    }
    const CalibrationResult written =
        WriteStitchCalibration(z, size.Width, size.Height, task.FileName, task.Lat1, task.Lon1,
                               state.WriteOziMap, state.WriteMapInfoTab);
    if (!written) {
        failedFile = written.FailedFile;
        error = written.Error;
        return false;
    }
    // A GeoTIFF carries its georeferencing itself.
    if (worldFile && !IsGeoTiffName(task.FileName)) {
        const WorldFileParams params{
            z, left, top, task.ImageWidth, task.ImageHeight, task.FileName};
        if (const FileResult result = WriteWorldFile(params); !result) {
            // No task is made: no file may speak of its image.
            for (const char* extension : {"map", "tab"})
                RemoveFile(CalibrationFileName(task.FileName, extension));
            failedFile = WorldFileName(task.FileName);
            error = result.Error;
            return false;
        }
    }
    auto output = std::make_unique<StitchOutput>(task.ImageWidth, task.ImageHeight, task.FileName);
    if (IsGeoTiffName(task.FileName)) output->PlaceInWorld(z, left, top, state.CachePathCopy());
    task.Bitmap = std::move(output);
    return true;
}

}  // namespace

namespace {

bool PrepareStitchOf(const MainState& state, const RegionCorners& corners, stichtype& task,
                     int zoom, bool worldFile, std::string& failedFile, std::string& error) {
    const int z = EffectiveZoom(zoom);
    const RegionPixels size = RegionPixelSize(z, corners);
    task.ImageWidth = size.Width;
    task.ImageHeight = size.Height;
    int64_t left = 0, top = 0;
    WorldPixelAt(z, task.Lat1, task.Lon1, left, top);
    return MakeStitchFiles(state, task, z, worldFile, left, top, failedFile, error);
}

}  // namespace

bool PrepareStitch(const MainState& state, stichtype& task, int zoom, bool worldFile,
                   std::string& failedFile, std::string& error) {
    return PrepareStitchOf(state, {state.SelLat1, state.SelLon1, state.SelLat2, state.SelLon2},
                           task, zoom, worldFile, failedFile, error);
}

TaskBuild BuildTask(const MainState& state, stichtype& task, const TaskRequest& request,
                    std::string& failedFile, std::string& error) {
    return BuildTask(state, {state.SelLat1, state.SelLon1, state.SelLat2, state.SelLon2}, task,
                     request, failedFile, error);
}

TaskBuild BuildTask(const MainState& state, const RegionCorners& corners, stichtype& task,
                    const TaskRequest& request, std::string& failedFile, std::string& error) {
    const int first = EffectiveZoom(request.Zoom);
    const int last = request.IsStitch ? first : std::max(first, EffectiveZoom(request.ZoomTo));
    const RegionShape* shape = request.Shape.get();
    // A shape's stitch covers the block of its tiles; those outside it stay white.
    const TileBlock shapeBlock =
        shape && request.IsStitch ? ShapeBlock(*shape, first) : TileBlock{};
    if (request.IsStitch && IsGeoTiffName(task.FileName)) {
        // Refused before any file is written.
        const RegionPixels size = shape ? RegionPixels{static_cast<int>(std::min<int64_t>(
                                                           shapeBlock.Columns * TileSize, 1 << 30)),
                                                       static_cast<int>(std::min<int64_t>(
                                                           shapeBlock.Rows * TileSize, 1 << 30))}
                                        : RegionPixelSize(first, corners);
        error = GeoTiffSizeProblem(size.Width, size.Height);
        if (!error.empty()) return TaskBuild::ListRefused;
    }
    // Counted first: the tiles are made as the worker takes them, and a
    // range beyond the limit is refused before anything is made.
    std::vector<TileBlock> blocks;
    int64_t total = 0;
    for (int z = first; z <= last; ++z) {
        blocks.push_back(shape ? ShapeBlock(*shape, z)
                               : RectangleBlock(z, corners.Lat1, corners.Lon1,
                                                RegionPixelSize(z, corners).Width,
                                                RegionPixelSize(z, corners).Height));
        total += blocks.back().Count;
    }
    if (last > first && total > MaxTaskTiles) {
        error = TooManyTilesText(total);
        return TaskBuild::ListRefused;
    }
    task.Zoom = first;
    task.ZoomTo = last;
    task.Selection = corners;
    task.WorldFile = request.WorldFile;
    // The tiles first, so that a task refused here leaves no file behind.
    BeginTaskTiles(state, task);
    task.Tiles.Shape = request.Shape;
    for (const TileBlock& block : blocks)
        if (!AddTaskBlock(state, task, block, error)) return TaskBuild::ListRefused;
    if (task.Tiles.Empty()) {
        // Queued, it would never start and would hold up every task behind it.
        error = "Пустая область: в ней нет ни одного фрагмента";
        return TaskBuild::ListRefused;
    }
    if (request.IsStitch) {
        bool made = false;
        if (shape) {
            const RegionCorners c =
                TileRangeCorners(first, {shapeBlock.Column, static_cast<int>(shapeBlock.Columns),
                                         shapeBlock.Row, static_cast<int>(shapeBlock.Rows)});
            task.Lat1 = c.Lat1;
            task.Lon1 = c.Lon1;
            task.ImageWidth = static_cast<int>(shapeBlock.Columns * TileSize);
            task.ImageHeight = static_cast<int>(shapeBlock.Rows * TileSize);
            made = MakeStitchFiles(state, task, first, request.WorldFile,
                                   int64_t{shapeBlock.Column} * TileSize,
                                   int64_t{shapeBlock.Row} * TileSize, failedFile, error);
        } else {
            made = PrepareStitchOf(state, corners, task, request.Zoom, request.WorldFile,
                                   failedFile, error);
        }
        if (!made) {
            task.Tiles = TaskTiles{};
            task.TileCount = 0;
            return TaskBuild::FileNotWritten;
        }
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

void StitchOutput::PlaceInWorld(int zoom, int64_t left, int64_t top, std::string cachePath) {
    Zoom = zoom;
    Left = left;
    Top = top;
    CachePath = std::move(cachePath);
    Image.SetPlace(zoom, left, top);
}

namespace {

std::string OverviewTileFile(const std::string& cachePath, int zoom, int64_t left, int64_t top,
                             int level, int column, int row) {
    const int64_t x = (left / TileSize >> level) + column, y = (top / TileSize >> level) + row;
    return TileFileName(cachePath,
                        KeyLetters(zoom - level, static_cast<int>(x), static_cast<int>(y)));
}

}  // namespace

int CachedOverviewLevels(int zoom, int64_t left, int64_t top,
                         const std::vector<TiffLevel>& levels) {
    int count = 0;
    for (int level = 1; level < static_cast<int>(levels.size()); ++level) {
        const int64_t step = int64_t{TileSize} << level;
        if (zoom - level < MinZoom || left % step != 0 || top % step != 0) break;
        const int64_t world = int64_t{1} << (zoom - level);
        if (left / step + levels[level].Columns > world || top / step + levels[level].Rows > world)
            break;
        count = level;
    }
    return count;
}

GeoTiffWriter::TileSource CachedOverviewTiles(const std::string& cachePath, int zoom, int64_t left,
                                              int64_t top) {
    return [=](int level, int column, int row, std::string& bytes) {
        return ReadWholeFile(OverviewTileFile(cachePath, zoom, left, top, level, column, row),
                             bytes) &&
               TileDataComplete(bytes);
    };
}

bool StitchOutput::Finish(stichtype& task, const std::function<void(const std::string&)>& addLog) {
    if (Zoom > 0 && !task.Stop) {
        const int levels =
            CachedOverviewLevels(Zoom, Left, Top, TiffLevels(task.ImageWidth, task.ImageHeight));
        if (levels > 0)
            Image.SetOverviewSource(levels, CachedOverviewTiles(CachePath, Zoom, Left, Top));
    }
    return Image.CompressAndSave(task.FileName, task.Quality, addLog, &task.Stop);
}

std::string StitchOutput::Failure() const {
    return Image.StoreFailure();
}
