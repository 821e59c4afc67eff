#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formats/world_file.h"

class SpillStore;

class Bitmap;

// A tiled GeoTIFF in the layout of a cloud-optimized GeoTIFF: 256 x 256
// JPEG tiles (YCbCr 4:2:0), overviews each half the size of the one before
// until both sides are at most 256, every IFD at the start of the file, the
// overviews' tiles (smallest first) before the full-resolution ones, each
// level's tiles in row order. The georeferencing is the world file's
// transform of the same image, in EPSG:3857.

inline constexpr int TiffTileSize = 256;

struct TiffLevel {
    int Width = 0, Height = 0;
    int Columns = 0, Rows = 0;  // tiles
    int64_t Tiles() const { return int64_t{Columns} * Rows; }
};

// The full-resolution level first, then the overviews.
std::vector<TiffLevel> TiffLevels(int width, int height);

// Whether the file could pass 4 GB: every tile counted at the largest size
// a tile may take in the file.
bool NeedsBigTiff(int width, int height);

// Empty when a GeoTIFF of width x height pixels can be written; else why not.
std::string GeoTiffSizeProblem(int64_t width, int64_t height);

// Whether JPEG bytes can be a tile of the file as they are: baseline,
// 8 bits, 256 x 256, three components sampled 4:2:0, and no bigger than a
// tile may be.
bool TileJpegFitsAsIs(std::string_view jpeg);

// True for "x.tif" and "x.tiff" in any case: the name asks for a GeoTIFF.
bool IsGeoTiffName(const std::string& fileName);

// The whole file from bands of rows. Not thread-safe; one image per object.
// Each overview tile is either taken as it is (from `TileSource`) or built
// from the tiles below it: a tile below that has JPEG bytes is decoded at
// half size, one without is halved from its pixels. So a pixel of an upper
// level is decoded from the nearest bytes below it, never composed from the
// full-resolution picture when a level between holds it.
class GeoTiffWriter {
  public:
    // The bytes of an overview tile taken from elsewhere: level >= 1,
    // column and row in that level's tiles. False when there are none;
    // bytes that cannot go in as they are count as none.
    using TileSource = std::function<bool(int level, int column, int row, std::string& bytes)>;

    // `place` gives the size and where the image lies in the world's grid.
    // Tiles of overview levels 1..sourcedLevels are asked of `source` first,
    // one by one. Tile data waits in unlinked files in `spillFolder`.
    GeoTiffWriter(const WorldFileParams& place, int quality, std::string spillFolder,
                  int sourcedLevels = 0, TileSource source = {});
    ~GeoTiffWriter();
    GeoTiffWriter(const GeoTiffWriter&) = delete;
    GeoTiffWriter& operator=(const GeoTiffWriter&) = delete;

    // `count` rows of `rows` from `firstRow` on, in order, the image's width.
    bool WriteRows(const Bitmap& rows, int firstRow, int count);

    // Where a full-resolution tile's JPEG bytes lie in a store; no bytes
    // for a tile taken from the row's pixels. `AsIs` is TileJpegFitsAsIs of
    // the bytes, as the caller found when it stored them.
    struct StoredTile {
        uint64_t Offset = 0;
        uint32_t Size = 0;
        bool AsIs = false;
    };
    // One full-resolution tile row at once, `tiles[c]` column c's. Bytes
    // that go in as they are stay in `store`, which must keep them as they
    // are until Save and be the same for every row; the others are decoded
    // and encoded. `pixels` (the row's band, the image's width) may be null
    // when every tile has bytes (PixelsNeeded).
    bool WriteTileRow(const SpillStore& store, const std::vector<StoredTile>& tiles,
                      const Bitmap* pixels);
    static bool PixelsNeeded(const std::vector<StoredTile>& tiles);

    // After the last rows. False on failure.
    bool Complete();
    // Writes the file through `fd` (an empty file, which the caller names
    // and syncs) once Complete.
    bool Save(int fd, const std::string& name);

    const std::string& Error() const { return Message; }
    // Tiles (of every level) whose JPEG bytes went in as they came.
    int64_t TilesUnchanged() const { return Unchanged; }
    const std::vector<TiffLevel>& Levels() const { return LevelSizes; }

  private:
    struct Level;
    struct TileWork;
    bool Fail(const std::string& why);
    void FetchRows(int fullRow);
    bool FinishRow(int level, const Bitmap* band, const std::vector<StoredTile>* tiles);
    void Build(int level, const Bitmap* band, const std::vector<StoredTile>* tiles, TileWork& work,
               std::string& error) const;

    WorldFileParams Place;
    int Quality;
    std::string SpillFolder;
    int SourcedLevels;
    TileSource Source;
    const SpillStore* Outside = nullptr;  // WriteTileRow's store
    std::vector<TiffLevel> LevelSizes;
    std::vector<std::unique_ptr<Level>> Work;
    int64_t Unchanged = 0;
    std::string Message;
};
