#pragma once
#include <cstddef>
#include <vector>

#include "geo/projection.h"
#include "geo/tile_key.h"
#include "regions/region_shape.h"

// The tiles of a region shape at a zoom: exactly those whose square in the
// Mercator pixel grid of that zoom shares some area with the shape (the
// corridor's band included). A shape that only touches a tile along its edge
// does not take it; a polygon's zero-width spike (out and back along the same
// line) does take the tiles it passes, as its outline enters them.
//
// Tiles come in the order of the rectangle's tile list: the rightmost
// (easternmost) column first, bottom tile up to top tile, then the columns
// from right to left. A shape cut at the antimeridian comes in world column
// order: its part just west of 180 degrees east first.
//
// Memory grows with the size of the shape, never with its tile count: the
// sweep keeps one column's row intervals at a time. Sweeps and cursors keep
// what they need of the shape, which may go away once they are made.

// One column's rows first..last (inclusive), row 0 at the top.
struct RowRange {
    int First = 0;
    int Last = 0;
};

// The shape cut into pieces in the grid of one zoom, swept column by column
// from east to west.
class ShapeColumnSweep {
  public:
    ShapeColumnSweep(const RegionShape& shape, int zoom);
    ~ShapeColumnSweep();
    ShapeColumnSweep(const ShapeColumnSweep&) = delete;
    ShapeColumnSweep& operator=(const ShapeColumnSweep&) = delete;

    // The next column holding tiles and its rows, merged and sorted from the
    // top; false after the westernmost one.
    bool NextColumn(int& column, std::vector<RowRange>& rows);

    struct Piece;

  private:
    void Rows(long long column, std::vector<RowRange>& rows);
    void FillRows(long long column, std::vector<RowRange>& rows);

    int zoom_;
    std::vector<Piece> pieces_;  // by last column, easternmost first
    std::vector<int> ringPolygon_;
    std::vector<bool> ringIsHole_;
    std::size_t next_ = 0;
    std::vector<std::size_t> active_;
    long long column_;
    // Scratch kept between columns so that the sweep does not allocate.
    struct Crossing {
        double Y;
        int Dir;
        int Ring;
    };
    std::vector<Crossing> crossings_;
    std::vector<int> winding_, outerWinds_, holesWinding_;
    std::vector<std::pair<long long, long long>> spans_;
};

class ShapeTileCursor {
  public:
    ShapeTileCursor(const RegionShape& shape, int zoom);
    // The next tile; false when there are no more.
    bool Next(TileIndex& tile);

  private:
    ShapeColumnSweep sweep_;
    int zoom_;
    int column_ = 0;
    std::vector<RowRange> rows_;
    int range_ = -1;  // index into rows_, walked from the back
    int row_ = 0;
};

// The number of tiles the cursor yields, without walking them one by one.
long long CountShapeTiles(const RegionShape& shape, int zoom);

// The smallest block of whole tiles holding all the shape's tiles. Columns run
// east from FirstColumn and wrap past the world's eastern edge for a shape
// across the antimeridian. Empty (Columns 0) for a shape with no tiles.
struct TileRange {
    int FirstColumn = 0, Columns = 0;
    int FirstRow = 0, Rows = 0;

    bool operator==(const TileRange&) const = default;
};
TileRange ShapeTileRange(const RegionShape& shape, int zoom);

// The corners of a block of tiles: corner 1 north-west, corner 2 south-east.
// Lon2 goes below -180 when the block wraps past 180 degrees east.
RegionCorners TileRangeCorners(int zoom, const TileRange& range);
