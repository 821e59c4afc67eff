#include "tasks/stitch_task.h"

#include <cstdlib>

#include "geo/projection.h"
#include "tasks/calibration.h"
#include "tasks/task_params.h"
#include "tasks/world_file.h"
#include "tilestore/tile_lookup.h"

bool PrepareStitch(const MainState& state, stichtype& task, int zoom, bool worldFile,
                   std::string& failedFile, std::string& error) {
    const int z = EffectiveZoom(zoom);
    const PixelOffset d = PixelDelta(z, state.SelLon1, state.SelLat1, state.SelLon2, state.SelLat2);
    task.ImageWidth = std::abs(d.Dx);
    task.ImageHeight = std::abs(d.Dy);
    // The makers ask first; this keeps files that name no image from being written.
    if (std::string problem =
            CalibrationNameProblem(task.FileName, state.WriteOziMap, state.WriteMapInfoTab);
        !problem.empty()) {
        failedFile = CalibrationFileName(task.FileName, state.WriteOziMap ? "map" : "tab");
        error = std::move(problem);
        return false;
    }
    const CalibrationResult written =
        WriteStitchCalibration(z, d.Dx, d.Dy, task.FileName, task.Lat1, task.Lon1,
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

void StitchOutput::Finish(stichtype& task, const std::function<void(const std::string&)>& addLog) {
    Image.CompressAndSave(task.FileName, task.Quality, addLog, &task.Stop);
}
