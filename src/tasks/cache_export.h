#pragma once
#include <cstdint>
#include <functional>
#include <string>

// Copies the cached tiles that cover a region, at one zoom, into a folder:
// byte-for-byte, under their key-letter names, side by side. It copies what
// the cache folder holds and nothing else: no fetching, no archives, no checks.
struct CacheExportRequest {
    std::string Folder;     // destination, with or without the final '/'; made when missing
    std::string CachePath;  // the cache folder, ending in '/'
    int Zoom = 13;
    double Lat1 = 0, Lon1 = 0;  // north-west corner (lon west positive)
    double Lat2 = 0, Lon2 = 0;  // south-east corner
    bool WriteTabs = false;     // a ".tab" beside every copied tile
};

struct CacheExportResult {
    int64_t Total = 0;   // tiles the region covers
    int64_t Passed = 0;  // tiles walked over, cached or not
    int64_t Copied = 0;  // tiles copied
    bool Cancelled = false;
};

struct MainState;
// The export of the selection (SelLat1..SelLon2) at `zoom` from the state's
// cache folder into `folder`.
CacheExportRequest SelectionExportRequest(const MainState& state, int zoom,
                                          const std::string& folder, bool withTabs);

// Called after every tile with (tiles passed, total), and once with (0,
// total) before the first; returning false ends the export there.
using ExportProgress = std::function<bool(int64_t passed, int64_t total)>;

// The walk goes column by column from the tile that holds the north-west
// corner (a corner on a tile's north edge belongs to the tile north of it),
// each column north to south, over every tile the region overlaps. A tile
// that is not cached, or whose copy or ".tab" fails, is passed over silently.
CacheExportResult ExportCache(const CacheExportRequest& request,
                              const ExportProgress& progress = {});

// The north-west corner of a tile given by its key letters (lon west positive).
void TileCorner(const std::string& letters, double& lat, double& lon);
