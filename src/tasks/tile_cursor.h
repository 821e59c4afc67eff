#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "geo/projection.h"
#include "tilestore/tile_record.h"

// Only passed along here (regions/region_shape.h).
struct RegionShape;

class ShapeTileCursor;

// One zoom's part of a task's tiles: the block of Columns x Rows tiles from
// (Column, Row) whose corner pixel lies at (XOffset, YOffset) of its first
// tile, or with a shape only those of the block that the shape covers.
struct TileBlock {
    int Zoom = 0;
    int Column = 0, Row = 0;
    int XOffset = 0, YOffset = 0;
    int64_t Columns = 0, Rows = 0;
    int64_t Count = 0;  // tiles the block yields
};

// A task's tiles, described rather than listed: the blocks of its zooms,
// lowest zoom first, and the shape that thins them out (none: every tile of
// each block). A few hundred bytes, however many tiles it holds. Retried
// tiles are listed by their key letters instead.
struct TaskTiles {
    std::vector<TileBlock> Blocks;
    std::shared_ptr<const RegionShape> Shape;
    std::vector<std::string> Listed;  // key letters; when set, Blocks are unused
    std::string Source, CachePath;    // as when the task was made
    int64_t Count = 0;

    bool Empty() const { return Count == 0; }
};

// The rectangle block at zoom z over width x height pixels from the region's
// north-west corner (lon west positive), cut at the world's east and south
// edges.
TileBlock RectangleBlock(int z, double lat1, double lon1, int width, int height);
// The block of a shape at zoom z: its tile range, the count of its tiles.
TileBlock ShapeBlock(const RegionShape& shape, int z);

// Yields a task's tiles in the order the worker takes them: zoom by zoom,
// and at each zoom the easternmost column first, each column from its
// bottom tile up. X and Y are the tile's pixel in the block (the stitched
// image's grid).
class TaskTileCursor {
  public:
    // Starts after the first `position` tiles.
    explicit TaskTileCursor(const TaskTiles& tiles, int64_t position = 0);
    ~TaskTileCursor();
    TaskTileCursor(const TaskTileCursor&) = delete;
    TaskTileCursor& operator=(const TaskTileCursor&) = delete;

    // Fills the tile's X, Y, TileName, Url and FileName; false after the last.
    bool Next(jtype& tile);
    // Tiles yielded so far, counted from the first.
    int64_t Position() const { return Position_; }

  private:
    bool NextInBlock(const TileBlock& block, int& column, int& row, int64_t& x, int64_t& y);

    const TaskTiles& Tiles;
    std::size_t Block = 0;
    int64_t InBlock = 0;
    int64_t Position_ = 0;
    std::unique_ptr<ShapeTileCursor> Shape;
};

// Every tile of the task in order, for the end phase and for tests.
template <typename Visit>
void ForEachTaskTile(const TaskTiles& tiles, Visit visit) {
    TaskTileCursor cursor(tiles);
    jtype tile;
    tile.Image.reset();
    while (cursor.Next(tile))
        if (!visit(tile)) break;
}
