#include "tasks/cache_export.h"

#include <cstdlib>
#include <memory>

#include "core/main_state.h"
#include "formats/calibration.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "platform/file_io.h"
#include "regions/shape_tiles.h"
#include "tasks/task_params.h"
#include "tasks/tasks.h"
#include "tasks/tile_cursor.h"

namespace {

// The world's north-west corner lies in tile (0, 0) at offsets (0, 0), so
// moving it by a tile's pixel position gives that tile's corner through the
// very formulas of the pixel grid.
constexpr double WorldWestLon = 180;
constexpr double WorldNorthLat = 85.0511287798;

RegionCorners CornersOf(const CacheExportRequest& r) {
    return {r.Lat1, r.Lon1, r.Lat2, r.Lon2};
}

int LastZoom(const CacheExportRequest& r) {
    return r.ZoomTo > r.Zoom ? r.ZoomTo : r.Zoom;
}

}  // namespace

void TileCorner(const std::string& letters, double& lat, double& lon) {
    const TileIndex tile = KeyToTile(letters, 0);
    lon = WorldWestLon;
    lat = WorldNorthLat;
    PointAtDelta(TileSize * tile.Column, TileSize * tile.Row, tile.Zoom, lon, lat);
}

int64_t ExportTileCount(const CacheExportRequest& request) {
    int64_t total = 0;
    for (int z = request.Zoom; z <= LastZoom(request); ++z)
        total += request.Shape ? CountShapeTiles(*request.Shape, z)
                               : RegionTileCount(z, CornersOf(request));
    return total;
}

CacheExportResult ExportCache(const CacheExportRequest& request, const ExportProgress& progress) {
    CacheExportResult result;
    result.Total = ExportTileCount(request);
    if (LastZoom(request) > request.Zoom && result.Total > MaxTaskTiles) {
        result.Error = TooManyTilesText(result.Total);
        return result;
    }
    if (progress && !progress(0, result.Total)) {
        result.Cancelled = true;
        return result;
    }
    const bool toFolder = request.Target == ExportTarget::Folder;
    std::string folder = request.Folder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    std::unique_ptr<TileDbWriter> db;
    if (toFolder) {
        MakeFolders(folder);
    } else {
        TileDbOptions options;
        options.Kind =
            request.Target == ExportTarget::MBTiles ? TileDbKind::MBTiles : TileDbKind::SqliteDb;
        options.Path = request.File;
        options.Name = request.Name;
        // East positive, as the format wants.
        options.Bounds = {-request.Lon1, request.Lat2, -request.Lon2, request.Lat1};
        options.MinZoom = request.Zoom;
        options.MaxZoom = LastZoom(request);
        db = std::make_unique<TileDbWriter>(options);
        if (const FileResult opened = db->Open(); !opened) {
            result.Error = opened.Error;
            return result;
        }
    }

    std::string bytes;
    // One tile; false when the export ends there.
    const auto copyTile = [&](int z, const std::string& key) {
        const std::string source = TileFileName(request.CachePath, key);
        if (toFolder) {
            const std::string target = TileFileName(folder, key);
            // A tile that vanishes between the test and the read is
            // passed over like any other failed copy.
            if (FileExists(source) && ReadWholeFile(source, bytes) &&
                WriteFileAtomic(target, bytes)) {
                ++result.Copied;
                if (request.WriteTabs) {
                    double lat = 0, lon = 0;
                    TileCorner(key, lat, lon);
                    WriteTileTab(z, target, lat, lon);
                }
            }
        } else {
            const TileIndex tile = KeyToTile(key, 0);
            if (!ReadWholeFile(source, bytes)) {
                result.Missing.push_back(std::to_string(z) + "/" + std::to_string(tile.Column) +
                                         "/" + std::to_string(tile.Row) + " " + key);
            } else if (db->Put(z, tile.Column, tile.Row, bytes)) {
                ++result.Copied;
            } else {
                result.Error = db->LastError();
                return false;  // the writer leaves the file as it was
            }
        }
        ++result.Passed;
        if (progress && !progress(result.Passed, result.Total)) {
            result.Cancelled = true;
            return false;
        }
        return true;
    };

    if (request.Shape) {
        // The shape's own tiles only, in the order of a task's.
        TaskTiles tiles;
        tiles.Shape = request.Shape;
        for (int z = request.Zoom; z <= LastZoom(request); ++z)
            tiles.Blocks.push_back(ShapeBlock(*request.Shape, z));
        TaskTileCursor cursor(tiles);
        jtype tile;
        tile.Image.reset();
        while (cursor.Next(tile))
            if (!copyTile(static_cast<int>(tile.TileName.size()), tile.TileName)) return result;
    }
    for (int z = request.Zoom; !request.Shape && z <= LastZoom(request); ++z) {
        const RegionPixels size = RegionPixelSize(z, CornersOf(request));
        // No source string: only the letters matter here.
        const TileKey start = TileKeyAt(z, request.Lon1, request.Lat1, std::string());
        // Cut at the world's east and south edges rather than wrapping round.
        const TileSpan span =
            RegionTileSpan(z, TileAt(z, request.Lon1, request.Lat1), size.Width, size.Height);
        std::string columnKey = start.Key;
        for (int64_t c = 0; c < span.Columns; ++c) {
            std::string key = columnKey;
            for (int64_t r = 0; r < span.Rows; ++r) {
                if (!copyTile(z, key)) return result;
                StepSouth(key, 0);
            }
            StepEast(columnKey, 0);
        }
    }
    if (db) {
        if (const FileResult finished = db->Finish(); !finished) result.Error = finished.Error;
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
