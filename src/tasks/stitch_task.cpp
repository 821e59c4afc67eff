#include "tasks/stitch_task.h"

#include <cstdlib>

#include "formats/calibration.h"
#include "formats/world_file.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "platform/file_io.h"
#include "tasks/task_params.h"
#include "tilestore/tile_lookup.h"

bool PrepareStitch(const MainState& state, stichtype& task, int zoom, bool worldFile,
                   std::string& failedFile, std::string& error) {
    const int z = EffectiveZoom(zoom);
    const PixelOffset d = PixelDelta(z, state.SelLon1, state.SelLat1, state.SelLon2, state.SelLat2);
    task.ImageWidth = std::abs(d.Dx);
    task.ImageHeight = std::abs(d.Dy);
    const CalibrationResult written =
        WriteStitchCalibration(z, d.Dx, d.Dy, task.FileName, task.Lat1, task.Lon1,
                               state.WriteOziMap, state.WriteMapInfoTab);
    if (!written) {
        failedFile = written.FailedFile;
        error = written.Error;
        return false;
    }
    // A GeoTIFF carries its georeferencing itself.
    if (worldFile && !IsGeoTiffName(task.FileName)) {
        WorldFileParams params{z, 0, 0, task.ImageWidth, task.ImageHeight, task.FileName};
        WorldPixelAt(z, task.Lat1, task.Lon1, params.Left, params.Top);
        if (const FileResult result = WriteWorldFile(params); !result) {
            failedFile = WorldFileName(task.FileName);
            error = result.Error;
            return false;
        }
    }
    auto output = std::make_unique<StitchOutput>(task.ImageWidth, task.ImageHeight, task.FileName);
    if (IsGeoTiffName(task.FileName)) {
        int64_t left = 0, top = 0;
        WorldPixelAt(z, task.Lat1, task.Lon1, left, top);
        output->PlaceInWorld(z, left, top, state.CachePathCopy());
    }
    task.Bitmap = std::move(output);
    return true;
}

TaskBuild BuildTask(const MainState& state, stichtype& task, const TaskRequest& request,
                    std::string& failedFile, std::string& error) {
    if (request.IsStitch && IsGeoTiffName(task.FileName)) {
        // Refused before any file is written.
        const RegionPixels size =
            RegionPixelSize(EffectiveZoom(request.Zoom),
                            {state.SelLat1, state.SelLon1, state.SelLat2, state.SelLon2});
        error = GeoTiffSizeProblem(size.Width, size.Height);
        if (!error.empty()) return TaskBuild::ListRefused;
    }
    if (request.IsStitch &&
        !PrepareStitch(state, task, request.Zoom, request.WorldFile, failedFile, error))
        return TaskBuild::FileNotWritten;
    const RegionPixels size = RegionPixelSize(
        EffectiveZoom(request.Zoom), {state.SelLat1, state.SelLon1, state.SelLat2, state.SelLon2});
    if (!BuildTaskTiles(state, task, request.Zoom, size.Width, size.Height, error))
        return TaskBuild::ListRefused;
    return TaskBuild::Built;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

StitchOutput::StitchOutput(int width, int height, const std::string& fileName)
    : Image(width, height, FolderOf(fileName)) {}

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

int CachedOverviewLevels(const std::string& cachePath, int zoom, int64_t left, int64_t top,
                         const std::vector<TiffLevel>& levels) {
    int count = 0;
    for (int level = 1; level < static_cast<int>(levels.size()); ++level) {
        const int64_t step = int64_t{TileSize} << level;
        if (zoom - level < MinZoom || left % step != 0 || top % step != 0) break;
        const int64_t world = int64_t{1} << (zoom - level);
        if (left / step + levels[level].Columns > world || top / step + levels[level].Rows > world)
            break;
        for (int r = 0; r < levels[level].Rows; ++r)
            for (int c = 0; c < levels[level].Columns; ++c)
                if (!FileExists(OverviewTileFile(cachePath, zoom, left, top, level, c, r)))
                    return count;
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

void StitchOutput::Finish(stichtype& task, const std::function<void(const std::string&)>& addLog) {
    if (Zoom > 0 && !task.Stop) {
        const int levels = CachedOverviewLevels(CachePath, Zoom, Left, Top,
                                                TiffLevels(task.ImageWidth, task.ImageHeight));
        if (levels > 0)
            Image.SetOverviewSource(levels, CachedOverviewTiles(CachePath, Zoom, Left, Top));
    }
    Image.CompressAndSave(task.FileName, task.Quality, addLog, &task.Stop);
}
