#include "tasks/tile_cursor.h"

#include "geo/tile_key.h"
#include "regions/shape_tiles.h"

TileBlock RectangleBlock(int z, double lat1, double lon1, int width, int height) {
    // No source string: only the letters matter here.
    const TileKey corner = TileKeyAt(z, lon1, lat1, std::string());
    const TileIndex first = KeyToTile(corner.Key, 0);
    TileBlock block;
    block.Zoom = z;
    block.Column = first.Column;
    block.Row = first.Row;
    block.XOffset = corner.XOffset;
    block.YOffset = corner.YOffset;
    const TileSpan span =
        RegionTileSpan(z, {first.Column, first.Row, corner.XOffset, corner.YOffset}, width, height);
    block.Columns = span.Columns;
    block.Rows = span.Rows;
    block.Count = span.Columns * span.Rows;
    return block;
}

TileBlock ShapeBlock(const RegionShape& shape, int z) {
    const TileRange range = ShapeTileRange(shape, z);
    TileBlock block;
    block.Zoom = z;
    block.Column = range.FirstColumn;
    block.Row = range.FirstRow;
    block.Columns = range.Columns;
    block.Rows = range.Rows;
    block.Count = range.Columns > 0 ? CountShapeTiles(shape, z) : 0;
    return block;
}

TaskTileCursor::TaskTileCursor(const TaskTiles& tiles, int64_t position) : Tiles(tiles) {
    if (!Tiles.Listed.empty()) {
        Position_ = std::min<int64_t>(position, static_cast<int64_t>(Tiles.Listed.size()));
        return;
    }
    // Whole blocks are passed over at once; within one, a rectangle is
    // reached directly and a shape by walking its cursor.
    while (Block < Tiles.Blocks.size() && position >= Position_ + Tiles.Blocks[Block].Count) {
        Position_ += Tiles.Blocks[Block].Count;
        ++Block;
    }
    if (Block >= Tiles.Blocks.size() || position <= Position_) return;
    if (!Tiles.Shape) {
        InBlock = position - Position_;
        Position_ = position;
        return;
    }
    int column = 0, row = 0;
    int64_t x = 0, y = 0;
    while (Position_ < position && NextInBlock(Tiles.Blocks[Block], column, row, x, y)) {
        ++InBlock;
        ++Position_;
    }
}

TaskTileCursor::~TaskTileCursor() = default;

bool TaskTileCursor::NextInBlock(const TileBlock& block, int& column, int& row, int64_t& x,
                                 int64_t& y) {
    if (InBlock >= block.Count) return false;
    if (!Tiles.Shape) {
        // The easternmost column first, each from its bottom tile up.
        const int64_t c = block.Columns - 1 - InBlock / block.Rows;
        const int64_t r = block.Rows - 1 - InBlock % block.Rows;
        column = static_cast<int>(block.Column + c);
        row = static_cast<int>(block.Row + r);
        x = -block.XOffset + TileSize * c;
        y = -block.YOffset + TileSize * r;
        return true;
    }
    if (!Shape) Shape = std::make_unique<ShapeTileCursor>(*Tiles.Shape, block.Zoom);
    TileIndex tile;
    if (!Shape->Next(tile)) return false;
    column = tile.Column;
    row = tile.Row;
    // A block across the antimeridian goes on past the world's east edge.
    const int64_t world = int64_t{1} << block.Zoom;
    x = TileSize * (((column - block.Column) % world + world) % world);
    y = TileSize * int64_t{row - block.Row};
    return true;
}

bool TaskTileCursor::Next(jtype& tile) {
    std::string letters;
    if (!Tiles.Listed.empty()) {
        if (Position_ >= static_cast<int64_t>(Tiles.Listed.size())) return false;
        letters = Tiles.Listed[static_cast<std::size_t>(Position_)];
        tile.X = tile.Y = 0;
    } else {
        int column = 0, row = 0;
        int64_t x = 0, y = 0;
        for (;;) {
            if (Block >= Tiles.Blocks.size()) return false;
            if (NextInBlock(Tiles.Blocks[Block], column, row, x, y)) break;
            ++Block;
            InBlock = 0;
            Shape.reset();
        }
        ++InBlock;
        letters = KeyLetters(Tiles.Blocks[Block].Zoom, column, row);
        tile.X = static_cast<int32_t>(x);
        tile.Y = static_cast<int32_t>(y);
    }
    ++Position_;
    tile.TileName = std::move(letters);
    tile.Url = TileUrl(Tiles.Source, tile.TileName);
    tile.FileName = TileFileName(Tiles.CachePath, tile.TileName);
    tile.Pending = 0;
    return true;
}
