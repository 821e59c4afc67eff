#pragma once
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "geo/projection.h"
#include "regions/region_file.h"
#include "regions/region_shape.h"

// What the main window needs of a region shape: where it lies, how it looks
// on the map, its tile counts, the polygon drawn with the mouse, and the
// reading of a region file off the GUI thread.

// The geographic box around the shape, the corridor's band included: corner 1
// north-west, corner 2 south-east, latitudes within the map's edge. A shape
// cut at the antimeridian spans the whole world's width.
RegionCorners ShapeBounds(const RegionShape& shape);

// A ring or line of the shape in map-area pixels: (x, y) of each point for a
// view of width x height centred on (centerLon, centerLat) at zoom z.
struct ScreenPoint {
    double X = 0, Y = 0;
};
struct ScreenPath {
    std::vector<ScreenPoint> Points;
    bool Closed = false;  // a ring; otherwise a line with its corridor
};
ScreenPoint ScreenPointOf(const ShapePoint& point, int zoom, double centerLon, double centerLat,
                          int width, int height);
std::vector<ScreenPath> ShapeScreenPaths(const RegionShape& shape, int zoom, double centerLon,
                                         double centerLat, int width, int height);
// The corridor's full width in pixels of zoom z at latitude lat.
double CorridorPixelWidth(const RegionShape& shape, int zoom, double lat);

// The shape's tile count at each zoom, counted once per zoom and kept: the
// window asks at every change of the task zoom.
class ShapeTileCounts {
  public:
    explicit ShapeTileCounts(std::shared_ptr<const RegionShape> shape = {});
    long long At(int zoom);
    const std::shared_ptr<const RegionShape>& Shape() const { return shape_; }

  private:
    std::shared_ptr<const RegionShape> shape_;
    long long counts_[MaxZoom + 1];
};

// The polygon being clicked on the map, vertex by vertex.
class PolygonDraft {
  public:
    bool Active() const { return !points_.empty(); }
    const GeoPath& Points() const { return points_; }
    // A vertex; one that repeats the last is not taken (a double click's
    // second press lands where the first did).
    void Add(const ShapePoint& point);
    void RemoveLast();
    void Cancel() { points_.clear(); }
    // The closed polygon, normalized; none while it has no area (fewer than
    // three distinct vertices), and the draft then stays as it was.
    std::optional<RegionShape> Close();

  private:
    GeoPath points_;
};

// Reads a region file on a thread of its own. The window polls Finished()
// and shows Progress() once the read takes longer than a moment.
class RegionFileLoad {
  public:
    RegionFileLoad(const QString& path, double corridorWidth);
    ~RegionFileLoad();  // cancels and waits
    RegionFileLoad(const RegionFileLoad&) = delete;
    RegionFileLoad& operator=(const RegionFileLoad&) = delete;

    bool Finished() const { return finished_; }
    // 0..1000, the share of the file read so far.
    int Progress() const { return progress_; }
    void Cancel() { cancelled_ = true; }
    // Waits for the end of the read and gives its result.
    RegionFileResult Result();

  private:
    std::atomic<bool> finished_{false}, cancelled_{false};
    std::atomic<int> progress_{0};
    RegionFileResult result_;
    std::thread thread_;
};
