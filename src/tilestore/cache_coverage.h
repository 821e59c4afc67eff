#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The cache's coverage: which tiles of a zoom the cache folder holds, learned
// from the folder's file names alone (no tile is opened), and summed into
// cells over the map area for the overlay that tints them.

// The map area asked about: its top-left corner in world pixels of the view's
// zoom (x east from the 180 degree meridian, y south from the top edge) and
// its size, and the zoom whose tiles are counted.
struct CoverageView {
    int ViewZoom = 1;
    int Zoom = 1;
    double Left = 0, Top = 0;
    int Width = 0, Height = 0;
    bool operator==(const CoverageView&) const = default;
};

// The view of a map area of width x height centred on (centerLon, centerLat),
// longitudes west positive.
CoverageView CoverageViewAt(int viewZoom, int zoom, double centerLon, double centerLat, int width,
                            int height);

// Deeper levels than this below the view are not counted one by one on
// screen: a cell is never smaller than CoverageMinCellPixels.
inline constexpr int CoverageMaxDepth = 8;
inline constexpr int CoverageMinCellPixels = 4;

// The cells over a view: square tiles of CellZoom (the counted zoom, or a
// coarser one when its tiles would be smaller on screen than the minimum),
// each with the number of counted tiles the cache holds inside it.
struct CoverageGrid {
    CoverageView View;
    int CellZoom = 1;
    double CellPixels = 256;  // a cell's side on the map area
    int FirstColumn = 0, FirstRow = 0, Columns = 0, Rows = 0;
    long long TilesPerCell = 1;
    std::vector<uint32_t> Held;  // row by row

    uint32_t HeldAt(int column, int row) const {
        return Held[static_cast<std::size_t>(row - FirstRow) * static_cast<std::size_t>(Columns) +
                    static_cast<std::size_t>(column - FirstColumn)];
    }
    double ShareAt(int column, int row) const {
        return static_cast<double>(HeldAt(column, row)) / static_cast<double>(TilesPerCell);
    }
    // The cell's top-left corner on the map area.
    double CellX(int column) const { return column * CellPixels - View.Left; }
    double CellY(int row) const { return row * CellPixels - View.Top; }
};

// The tiles of a cache folder, zoom by zoom, as sorted quadtree codes: the
// tiles under any tile form one run, so a cell's count is two searches.
class CacheCoverage {
  public:
    // Learns the folder's names anew. Files that are not tiles ("*.jpg" named
    // by 1 to 20 key letters) are passed over.
    void Scan(const std::string& cachePath);
    std::size_t TileCount() const;
    CoverageGrid Cells(const CoverageView& view) const;

    // What was learned, kept in a file of its own between runs, with the
    // folder it describes and the folder's time when its names were read.
    // Load fails (and changes nothing) on a missing, foreign or damaged file.
    bool Save(const std::string& file, const std::string& cachePath, int64_t folderTime) const;
    bool Load(const std::string& file, const std::string& cachePath, int64_t& folderTime);

  private:
    std::vector<uint64_t> codes_[21];  // by zoom
};

// A worker thread that answers the newest view asked for, rescans the folder
// when it has changed (tasks bring tiles in) and hands each grid to `ready`
// on its own thread. With an index file, the names learned in an earlier run
// answer the first view at once, before the folder is read again.
class CoverageWorker {
  public:
    using Ready = std::function<void(std::shared_ptr<const CoverageGrid>)>;
    explicit CoverageWorker(Ready ready,
                            std::chrono::milliseconds recheck = std::chrono::milliseconds(2000),
                            std::string indexFile = {});
    ~CoverageWorker();
    CoverageWorker(const CoverageWorker&) = delete;
    CoverageWorker& operator=(const CoverageWorker&) = delete;

    void Request(const std::string& cachePath, const CoverageView& view);

  private:
    void Run();

    Ready ready_;
    std::chrono::milliseconds recheck_;
    std::string indexFile_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::optional<std::pair<std::string, CoverageView>> pending_;
    std::thread thread_;
};
