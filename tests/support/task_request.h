#pragma once
#include <memory>
#include <string>

#include "tasks/tasks.h"

// A request over the selection, or `shape`, at zooms `zoom`..`zoomTo`; a
// stitch into `stitchFile` when one is given.
inline TaskRequest MakeRequest(int zoom, int zoomTo = 0,
                               std::shared_ptr<const RegionShape> shape = nullptr,
                               const std::string& stitchFile = {},
                               int quality = TaskRequest().Quality) {
    TaskRequest request;
    request.Zoom = zoom;
    request.ZoomTo = zoomTo;
    request.Shape = std::move(shape);
    request.IsStitch = !stitchFile.empty();
    request.FileName = stitchFile;
    request.Quality = quality;
    return request;
}
