#pragma once
#include <cstdint>
#include <string>

#include "geo/projection.h"
#include "tasks/cache_export.h"

// The tiles the region overlaps at zoom z (corner 1 north-west): a tile
// is counted when any pixel of it lies in the region.
int64_t RegionTileCount(int z, const RegionCorners& c);

// Why a region of `tiles` tiles, more than a task may hold, is refused.
std::string TooManyTilesText(int64_t tiles);

// Puts corner 1 at the north-west: the longitudes are exchanged when corner 2
// lies at least one pixel west of corner 1 at zoom z, the latitudes when it
// lies at least one pixel north. Then both latitudes are clamped to
// +-85.05113, the edge of the map.
void OrderRegionCorners(int z, RegionCorners& c);

// Widens ordered corners to whole tiles at zoom z: corner 1 to the
// north-west corner of its tile, corner 2 to the south-east corner of the
// tile holding the region's last pixel. Each corner lies a fraction of a
// pixel inside its pixel, so rounding never moves it into the neighbour.
void SnapRegionToTiles(int z, RegionCorners& c);

// A piece size as typed: the number, or -1 when the text is not one. It is
// accepted from 256 up to one less than the region's size in that direction.
struct PieceSizeCheck {
    int Value = -1;
    bool Accepted = false;
};
PieceSizeCheck CheckPieceSize(const std::string& text, int regionSize);

enum class TaskKind { Stitch = 0, Download = 1, Export = 2 };

// What the task parameters dialog hands to the task makers after OK.
struct TaskParamsResult {
    TaskKind Kind = TaskKind::Stitch;
    RegionCorners Corners;  // ordered: corner 1 north-west; latitudes clamped
    int ZoomIndex = 12;     // the dialog's zoom item, 0..19 for zoom 1..20
    // The last zoom of a download or an export, as an item; not above
    // ZoomIndex for one zoom. A stitch takes one zoom.
    int ZoomToIndex = -1;
    RegionPixels Size;  // of the ordered corners at the dialog's zoom
    // Stitch.
    bool Pieces = false;
    int PieceWidth = 0, PieceHeight = 0;  // at least 1 each
    bool AddCoordinates = false;
    bool WriteWorldFile = false;
    bool SnapToTiles = false;  // the region widened to whole tiles
    // Export.
    std::string ExportFolder;  // as typed, followed by "/"
    bool ExportMapInfo = false;
    ExportTarget Target = ExportTarget::Folder;
    std::string ExportFile;  // the MBTiles or SQLiteDB file, as typed
};
