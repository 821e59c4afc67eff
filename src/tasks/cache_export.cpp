#include "tasks/cache_export.h"

#include <cstdlib>

#include "core/main_state.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "platform/file_io.h"
#include "tasks/calibration.h"

namespace {

// The world's north-west corner lies in tile (0, 0) at offsets (0, 0), so
// moving it by a tile's pixel position gives that tile's corner through the
// very formulas of the pixel grid.
constexpr double WorldWestLon = 180;
constexpr double WorldNorthLat = 85.0511287798;

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
    const RegionPixels size =
        RegionPixelSize(z, {request.Lat1, request.Lon1, request.Lat2, request.Lon2});
    // No source string: only the letters matter here.
    const TileKey start = TileKeyAt(z, request.Lon1, request.Lat1, std::string());
    const TileIndex corner = KeyToTile(start.Key, 0);
    const TileSpan span = RegionTileSpan(
        z, {corner.Column, corner.Row, start.XOffset, start.YOffset}, size.Width, size.Height);
    const int64_t columns = span.Columns, rows = span.Rows;
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
