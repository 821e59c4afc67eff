#include "tasks/cache_export.h"

#include <cstdlib>

#include "core/main_state.h"
#include "formats/calibration.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "platform/file_io.h"

namespace {

// The world's north-west corner lies in tile (0, 0) at offsets (0, 0), so
// moving it by a tile's pixel position gives that tile's corner through the
// very formulas of the pixel grid.
constexpr double WorldWestLon = 180;
constexpr double WorldNorthLat = 85.0511287798;

// How many steps of a tile from -offset stay below `size` pixels.
int64_t Steps(int offset, int size) {
    const int64_t first = -static_cast<int64_t>(offset);
    if (first >= size) return 0;
    return (size - 1 - first) / TileSize + 1;
}

}  // namespace

void TileCorner(const std::string& letters, double& lat, double& lon) {
    const TileIndex tile = KeyToTile(letters, 0);
    lon = WorldWestLon;
    lat = WorldNorthLat;
    PointAtDelta(TileSize * tile.Column, TileSize * tile.Row, tile.Zoom, lon, lat);
}

CacheExportResult ExportCache(const CacheExportRequest& request, const ExportProgress& progress) {
    CacheExportResult result;
    const int z = request.Zoom;
    const PixelOffset size = PixelDelta(z, request.Lon2, request.Lat2, request.Lon1, request.Lat1);
    const int width = std::abs(size.Dx), height = std::abs(size.Dy);
    // No source string: only the letters matter here.
    const TileKey start = TileKeyAt(z, request.Lon1, request.Lat1, std::string());
    const int64_t columns = Steps(start.XOffset, width);
    const int64_t rows = Steps(start.YOffset, height);
    result.Total = columns * rows;
    if (progress && !progress(0, result.Total)) {
        result.Cancelled = true;
        return result;
    }
    std::string folder = request.Folder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    MakeFolders(folder);

    std::string columnKey = start.Key;
    for (int64_t c = 0; c < columns; ++c) {
        std::string key = columnKey;
        for (int64_t r = 0; r < rows; ++r) {
            const std::string source = TileFileName(request.CachePath, key);
            const std::string target = TileFileName(folder, key);
            std::string bytes;
            // A tile that vanishes between the test and the read is passed
            // over like any other failed copy.
            if (FileExists(source) && ReadWholeFile(source, bytes) &&
                WriteFileAtomic(target, bytes)) {
                ++result.Copied;
                if (request.WriteTabs) {
                    double lat = 0, lon = 0;
                    TileCorner(key, lat, lon);
                    WriteTileTab(z, target, lat, lon);
                }
            }
            ++result.Passed;
            if (progress && !progress(result.Passed, result.Total)) {
                result.Cancelled = true;
                return result;
            }
            StepSouth(key, 0);
        }
        StepEast(columnKey, 0);
    }
    return result;
}

CacheExportRequest SelectionExportRequest(const MainState& state, int zoom,
                                          const std::string& folder, bool withTabs) {
    CacheExportRequest request;
    request.Folder = folder;
    request.CachePath = state.CachePathCopy();
    request.Zoom = zoom;
    request.Lat1 = state.SelLat1;
    request.Lon1 = state.SelLon1;
    request.Lat2 = state.SelLat2;
    request.Lon2 = state.SelLon2;
    request.WriteTabs = withTabs;
    return request;
}
