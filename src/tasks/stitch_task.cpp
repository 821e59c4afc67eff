#include "tasks/stitch_task.h"

#include "tilestore/tile_lookup.h"

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
