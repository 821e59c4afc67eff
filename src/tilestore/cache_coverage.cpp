#include "tilestore/cache_coverage.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "geo/projection.h"

namespace {

// A key letter's quadrant as a digit: the row bit, then the column bit.
int LetterDigit(char letter) {
    switch (letter) {
        case 'q':
            return 0;
        case 'r':
            return 1;
        case 't':
            return 2;
        case 's':
            return 3;
        default:
            return -1;
    }
}

uint64_t TileCode(int zoom, long long column, long long row) {
    uint64_t code = 0;
    for (int bit = zoom - 1; bit >= 0; --bit)
        code = code * 4 + static_cast<uint64_t>(((row >> bit) & 1) * 2 + ((column >> bit) & 1));
    return code;
}

struct Walk {
    const std::vector<uint64_t>& Codes;
    int Zoom, CellZoom;
    long long FirstColumn, LastColumn, FirstRow, LastRow;
    CoverageGrid& Grid;

    // The tile (level, column, row) holds the codes [lo, hi).
    void Visit(int level, long long column, long long row, std::size_t lo, std::size_t hi) {
        if (lo == hi) return;
        if (level == CellZoom) {
            Grid.Held[static_cast<std::size_t>(row - FirstRow) *
                          static_cast<std::size_t>(Grid.Columns) +
                      static_cast<std::size_t>(column - FirstColumn)] =
                static_cast<uint32_t>(hi - lo);
            return;
        }
        const int below = CellZoom - level - 1;  // levels from a child down to the cells
        const int shift = 2 * (Zoom - level - 1);
        const uint64_t code = TileCode(level, column, row);
        std::size_t start = lo;
        for (int digit = 0; digit < 4; ++digit) {
            const uint64_t end = (code * 4 + static_cast<uint64_t>(digit) + 1) << shift;
            const std::size_t stop = static_cast<std::size_t>(
                std::lower_bound(Codes.begin() + static_cast<std::ptrdiff_t>(start),
                                 Codes.begin() + static_cast<std::ptrdiff_t>(hi), end) -
                Codes.begin());
            const long long c = column * 2 + (digit & 1), r = row * 2 + (digit >> 1);
            // The child's cells: c << below .. ((c + 1) << below) - 1.
            if (start < stop && (c << below) <= LastColumn &&
                ((c + 1) << below) - 1 >= FirstColumn && (r << below) <= LastRow &&
                ((r + 1) << below) - 1 >= FirstRow)
                Visit(level + 1, c, r, start, stop);
            start = stop;
        }
    }
};

}  // namespace

CoverageView CoverageViewAt(int viewZoom, int zoom, double centerLon, double centerLat, int width,
                            int height) {
    const double tiles = std::ldexp(1.0, viewZoom);
    const double lat = std::clamp(centerLat, -ClampLatitude, ClampLatitude);
    CoverageView view;
    view.ViewZoom = viewZoom;
    view.Zoom = zoom;
    view.Left = (tiles - GridX(viewZoom, centerLon)) * TileSize - width / 2;
    view.Top = (tiles - GridY(viewZoom, lat)) * TileSize - height / 2;
    view.Width = width;
    view.Height = height;
    return view;
}

void CacheCoverage::Scan(const std::string& cachePath) {
    for (auto& codes : codes_) codes.clear();
    DIR* dir = opendir(cachePath.c_str());
    if (!dir) return;
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        const std::size_t length = std::strlen(name);
        if (length < 5 || length > 24 || std::strcmp(name + length - 4, ".jpg") != 0) continue;
        const int zoom = static_cast<int>(length - 4);
        uint64_t code = 0;
        bool letters = true;
        for (int i = 0; i < zoom && letters; ++i) {
            const int digit = LetterDigit(name[i]);
            letters = digit >= 0;
            code = code * 4 + static_cast<uint64_t>(digit);
        }
        if (letters) codes_[zoom].push_back(code);
    }
    closedir(dir);
    for (auto& codes : codes_) std::sort(codes.begin(), codes.end());
}

std::size_t CacheCoverage::TileCount() const {
    std::size_t count = 0;
    for (const auto& codes : codes_) count += codes.size();
    return count;
}

CoverageGrid CacheCoverage::Cells(const CoverageView& view) const {
    CoverageGrid grid;
    grid.View = view;
    const int v = std::clamp(view.ViewZoom, MinZoom, MaxZoom);
    const int zoom = std::clamp(view.Zoom, MinZoom, std::min(MaxZoom, v + CoverageMaxDepth));
    grid.View.Zoom = zoom;
    int finest = v;  // the deepest level whose tiles are not below the minimum on screen
    while (finest < MaxZoom && (TileSize >> (finest + 1 - v)) >= CoverageMinCellPixels) ++finest;
    grid.CellZoom = std::min(zoom, finest);
    grid.CellPixels = std::ldexp(static_cast<double>(TileSize), v - grid.CellZoom);
    grid.TilesPerCell = 1LL << (2 * (zoom - grid.CellZoom));
    const long long last = (1LL << grid.CellZoom) - 1;
    if (view.Width <= 0 || view.Height <= 0) return grid;
    const auto cellOf = [&](double pixel) {
        return static_cast<long long>(std::floor(pixel / grid.CellPixels));
    };
    const long long firstColumn = std::max(0LL, cellOf(view.Left));
    const long long lastColumn = std::min(last, cellOf(view.Left + view.Width - 1));
    const long long firstRow = std::max(0LL, cellOf(view.Top));
    const long long lastRow = std::min(last, cellOf(view.Top + view.Height - 1));
    if (firstColumn > lastColumn || firstRow > lastRow) return grid;
    grid.FirstColumn = static_cast<int>(firstColumn);
    grid.FirstRow = static_cast<int>(firstRow);
    grid.Columns = static_cast<int>(lastColumn - firstColumn + 1);
    grid.Rows = static_cast<int>(lastRow - firstRow + 1);
    grid.Held.assign(static_cast<std::size_t>(grid.Columns) * static_cast<std::size_t>(grid.Rows),
                     0);
    const std::vector<uint64_t>& codes = codes_[zoom];
    Walk walk{codes, zoom, grid.CellZoom, firstColumn, lastColumn, firstRow, lastRow, grid};
    if (grid.CellZoom == 0) return grid;
    // Level 0, the whole world, holds every code of the zoom.
    walk.Visit(0, 0, 0, 0, codes.size());
    return grid;
}

CoverageWorker::CoverageWorker(Ready ready, std::chrono::milliseconds recheck)
    : ready_(std::move(ready)), recheck_(recheck) {
    thread_ = std::thread([this] { Run(); });
}

CoverageWorker::~CoverageWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void CoverageWorker::Request(const std::string& cachePath, const CoverageView& view) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = std::make_pair(cachePath, view);
    }
    wake_.notify_all();
}

void CoverageWorker::Run() {
    CacheCoverage coverage;
    std::optional<std::pair<std::string, CoverageView>> current;
    std::string scannedPath;
    timespec scannedTime{};
    bool scanned = false;
    for (;;) {
        bool asked;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, recheck_, [this] { return stop_ || pending_.has_value(); });
            if (stop_) return;
            asked = pending_.has_value();
            if (asked) current = std::move(pending_);
            pending_.reset();
        }
        if (!current) continue;
        const std::string& path = current->first;
        // A tile written renames a file into the folder, which changes its
        // time: the names are read again only then.
        struct stat info {};
        const timespec time = stat(path.c_str(), &info) == 0 ? info.st_mtim : timespec{};
        const bool changed = !scanned || path != scannedPath || time.tv_sec != scannedTime.tv_sec ||
                             time.tv_nsec != scannedTime.tv_nsec;
        if (!asked && !changed) continue;
        if (changed) {
            coverage.Scan(path);
            scanned = true;
            scannedPath = path;
            scannedTime = time;
        }
        ready_(std::make_shared<const CoverageGrid>(coverage.Cells(current->second)));
    }
}
