#pragma once
#include <memory>
#include <string>

#include "core/main_state.h"
#include "formats/stitch_image.h"
#include "tasks/task_record.h"
#include "tasks/tasks.h"

// A stitch task's output: what the worker gets is kept by a StitchImage and
// composed, compressed and saved when the task ends.
class StitchOutput : public TaskOutput {
  public:
    // The image of width x height pixels for `fileName`; large tile data
    // spills into the output's own folder beyond `memoryLimit` bytes.
    StitchOutput(int width, int height, const std::string& fileName,
                 std::size_t memoryLimit = StitchImage::DefaultMemoryLimit);

    void Prepare(stichtype& task) override;
    void PutTile(const jtype& tile) override;
    void PutFailed(const jtype& tile) override;
    bool Finish(stichtype& task, const std::function<void(const std::string&)>& addLog) override;
    std::string Failure() const override;

    // The image's top-left pixel in the world's grid at `zoom`, for a
    // GeoTIFF; its overviews come from the cache folder where it holds them.
    void PlaceInWorld(int zoom, int64_t left, int64_t top, std::string cachePath);

  private:
    StitchImage Image;
    int Zoom = 0;
    int64_t Left = 0, Top = 0;
    std::string CachePath;
};

// How many overview levels of a GeoTIFF of the image at (left, top) of the
// world's grid at `zoom`, from the first on, are made of tiles of the lower
// zooms, so that the cache may hold them: the image's corner lies on those
// zooms' tile grid.
int CachedOverviewLevels(int zoom, int64_t left, int64_t top, const std::vector<TiffLevel>& levels);
// The bytes of those tiles the cache holds: level k is zoom - k.
GeoTiffWriter::TileSource CachedOverviewTiles(const std::string& cachePath, int zoom, int64_t left,
                                              int64_t top);

// The stitch part of making a task, after its list entry: the image's size
// from the selection at zoom z, the calibration files (and the world file
// when asked) written now, before any tile is fetched, and the output that
// keeps the tiles. False, with nothing kept, when a file could not be
// written; `error` names it.
bool PrepareStitch(const MainState& state, stichtype& task, int zoom, bool worldFile,
                   std::string& failedFile, std::string& error);

// What making a task's tiles came to.
enum class TaskBuild { Built, FileNotWritten, ListRefused };
// The part of making a task between its list entry and its queueing, for the
// window and the command line alike: a stitch's image, calibration and world
// files (PrepareStitch), then the tile list over the selection at the
// request's zoom. `error` says why when not built; for FileNotWritten
// `failedFile` names the file.
TaskBuild BuildTask(const MainState& state, stichtype& task, const TaskRequest& request,
                    std::string& failedFile, std::string& error);
// The same over the given corners instead of the selection.
TaskBuild BuildTask(const MainState& state, const RegionCorners& corners, stichtype& task,
                    const TaskRequest& request, std::string& failedFile, std::string& error);

// The folder part of a path, ending with '/'; "./" for a bare name.
std::string FolderOf(const std::string& path);
