#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/tile_database.h"

// Only passed along here (regions/region_shape.h).
struct RegionShape;

// Copies the cached tiles that cover a region, over a range of zooms, into a
// folder (byte-for-byte, under their key-letter names, side by side) or into
// one MBTiles or SQLiteDB file (the same bytes as the tiles' data). It copies
// what the cache folder holds and nothing else: no fetching, no archives, no
// checks.
enum class ExportTarget { Folder, MBTiles, SqliteDb };

struct CacheExportRequest {
    ExportTarget Target = ExportTarget::Folder;
    std::string Folder;     // destination, with or without the final '/'; made when missing
    std::string File;       // the database file of the other targets
    std::string Name;       // the MBTiles name; empty: the file's base name
    std::string CachePath;  // the cache folder, ending in '/'
    int Zoom = 13;
    int ZoomTo = 0;             // the last zoom of a range; below Zoom: Zoom alone
    double Lat1 = 0, Lon1 = 0;  // north-west corner (lon west positive)
    double Lat2 = 0, Lon2 = 0;  // south-east corner
    bool WriteTabs = false;     // a ".tab" beside every copied tile
    // Only the tiles of this shape (the corners are then its bounds).
    std::shared_ptr<const RegionShape> Shape;
};

struct CacheExportResult {
    int64_t Total = 0;   // tiles the region covers
    int64_t Passed = 0;  // tiles walked over, cached or not
    int64_t Copied = 0;  // tiles copied
    bool Cancelled = false;
    // Tiles the cache did not hold, as "z/column/row letters" (database
    // targets only: a folder export passes over them silently).
    std::vector<std::string> Missing;
    // Why nothing (or, for a folder, not everything) was written; empty when
    // all went well. A database file is then as it was before.
    std::string Error;
};

struct MainState;
// The export of the selection (SelLat1..SelLon2) at `zoom` from the state's
// cache folder into `folder`.
CacheExportRequest SelectionExportRequest(const MainState& state, int zoom,
                                          const std::string& folder, bool withTabs);

// The tiles the region covers at each zoom of the range, added up.
int64_t ExportTileCount(const CacheExportRequest& request);

// Called after every tile with (tiles passed, total), and once with (0,
// total) before the first; returning false ends the export there.
using ExportProgress = std::function<bool(int64_t passed, int64_t total)>;

// The walk goes zoom by zoom, lowest first, and at each zoom column by column
// from the tile that holds the north-west corner (a corner on a tile's north
// edge belongs to the tile north of it), each column north to south, over
// every tile the region overlaps. A range of more than MaxTaskTiles tiles is
// refused before anything is made. Into a folder, a tile that is not cached,
// or whose copy or ".tab" fails, is passed over silently. Into a file,
// missing tiles are listed, and a write error or a cancel leaves the file as
// it was (or none).
CacheExportResult ExportCache(const CacheExportRequest& request,
                              const ExportProgress& progress = {});

// The north-west corner of a tile given by its key letters (lon west positive).
void TileCorner(const std::string& letters, double& lat, double& lon);
