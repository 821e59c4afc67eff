#include "tilestore/cache_coverage.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "geo/projection.h"
#include "platform/file_io.h"

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

constexpr char IndexMagic[8] = {'V', 'C', 'O', 'V', 'I', 'D', 'X', '1'};

template <class T>
void Put(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <class T>
bool Take(std::string_view& in, T& value) {
    if (in.size() < sizeof value) return false;
    std::memcpy(&value, in.data(), sizeof value);
    in.remove_prefix(sizeof value);
    return true;
}

// The folder's time in nanoseconds; 0 when it cannot be read.
int64_t FolderTime(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return 0;
    return static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

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

bool CacheCoverage::Save(const std::string& file, const std::string& cachePath,
                         int64_t folderTime) const {
    std::string out(IndexMagic, sizeof IndexMagic);
    Put(out, static_cast<uint32_t>(cachePath.size()));
    out += cachePath;
    Put(out, folderTime);
    for (const auto& codes : codes_) {
        Put(out, static_cast<uint64_t>(codes.size()));
        out.append(reinterpret_cast<const char*>(codes.data()), codes.size() * sizeof(uint64_t));
    }
    return static_cast<bool>(WriteFileAtomic(file, out));
}

bool CacheCoverage::Load(const std::string& file, const std::string& cachePath,
                         int64_t& folderTime) {
    std::string bytes;
    if (!ReadWholeFile(file, bytes)) return false;
    std::string_view in = bytes;
    uint32_t pathLength = 0;
    if (in.substr(0, sizeof IndexMagic) != std::string_view(IndexMagic, sizeof IndexMagic))
        return false;
    in.remove_prefix(sizeof IndexMagic);
    if (!Take(in, pathLength) || in.substr(0, pathLength) != cachePath) return false;
    in.remove_prefix(pathLength);
    int64_t time = 0;
    if (!Take(in, time)) return false;
    std::vector<uint64_t> codes[21];
    for (int zoom = 0; zoom <= MaxZoom; ++zoom) {
        uint64_t count = 0;
        if (!Take(in, count) || count > in.size() / sizeof(uint64_t)) return false;
        codes[zoom].resize(count);
        if (count > 0) std::memcpy(codes[zoom].data(), in.data(), count * sizeof(uint64_t));
        in.remove_prefix(count * sizeof(uint64_t));
        // Sorted codes of tiles that exist at that zoom, or the file is damaged.
        const uint64_t limit = uint64_t{1} << (2 * zoom);
        for (std::size_t i = 0; i < count; ++i)
            if (codes[zoom][i] >= limit || (i > 0 && codes[zoom][i] <= codes[zoom][i - 1]))
                return false;
    }
    if (!in.empty()) return false;
    for (int zoom = 0; zoom <= MaxZoom; ++zoom) codes_[zoom] = std::move(codes[zoom]);
    folderTime = time;
    return true;
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

CoverageWorker::CoverageWorker(Ready ready, std::chrono::milliseconds recheck,
                               std::string indexFile)
    : ready_(std::move(ready)), recheck_(recheck), indexFile_(std::move(indexFile)) {
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
    using Clock = std::chrono::steady_clock;
    CacheCoverage coverage;
    std::optional<std::pair<std::string, CoverageView>> current;
    std::string scannedPath;
    int64_t scannedTime = 0;
    bool scanned = false, unsaved = false;
    Clock::time_point saved;
    // The index is written now and then while the folder grows, and at the end.
    auto save = [&](bool now) {
        if (!unsaved || indexFile_.empty()) return;
        if (!now && Clock::now() - saved < std::chrono::seconds(30)) return;
        coverage.Save(indexFile_, scannedPath, scannedTime);
        saved = Clock::now();
        unsaved = false;
    };
    for (;;) {
        bool asked;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, recheck_, [this] { return stop_ || pending_.has_value(); });
            if (stop_) break;
            asked = pending_.has_value();
            if (asked) current = std::move(pending_);
            pending_.reset();
        }
        if (!current) continue;
        const std::string& path = current->first;
        const CoverageView& view = current->second;
        // A tile written renames a file into the folder, which changes its
        // time: the names are read again only then.
        const int64_t time = FolderTime(path);
        if (!scanned || path != scannedPath) {
            save(true);
            int64_t stored = 0;
            if (!indexFile_.empty() && coverage.Load(indexFile_, path, stored)) {
                scanned = true;
                scannedPath = path;
                scannedTime = stored;
                ready_(std::make_shared<const CoverageGrid>(coverage.Cells(view)));
                asked = false;
            }
        }
        const bool changed = !scanned || path != scannedPath || time != scannedTime;
        if (!asked && !changed) continue;
        if (changed) {
            coverage.Scan(path);
            scanned = true;
            scannedPath = path;
            scannedTime = time;
            unsaved = true;
        }
        ready_(std::make_shared<const CoverageGrid>(coverage.Cells(view)));
        save(false);
    }
    save(true);
}
