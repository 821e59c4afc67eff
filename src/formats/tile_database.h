#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_io.h"

// Single-file tile databases for field apps and GIS: raster MBTiles 1.3
// (TMS rows) and the SQLiteDB of phone map apps ("BigPlanet" numbering:
// the stored z is 17 - zoom, rows from the north, s = 0). Tile bytes are
// stored as given.

enum class TileDbKind { MBTiles, SqliteDb };

// The stored zoom of a SQLiteDB file for a zoom level, and back.
inline constexpr int SqliteDbZoom(int zoom) {
    return 17 - zoom;
}
// The stored row of an MBTiles file for a row counted from the north.
inline constexpr int64_t TmsRow(int zoom, int64_t row) {
    return (int64_t{1} << zoom) - 1 - row;
}

// Degrees, east positive.
struct TileDbBounds {
    double West = 0, South = 0, East = 0, North = 0;
};

struct TileDbOptions {
    TileDbKind Kind = TileDbKind::MBTiles;
    std::string Path;
    // MBTiles "name": empty gives the file's base name (a new file) or keeps
    // the name already there.
    std::string Name;
    std::string Attribution;  // written when not empty
    TileDbBounds Bounds;
    int MinZoom = 1, MaxZoom = 1;
    // A new file commits every this many tiles.
    int BatchTiles = 4096;
};

// Writes one database. A new file is built under a temporary name beside the
// target and takes the target's name only in Finish, so a kill, a full disk
// or an error leaves no file under that name. An existing file of the same
// kind gets its tiles added or replaced and its bounds and zoom range widened
// in one transaction: it is either as it was or wholly updated. A file that
// is not such a database is refused, never changed.
class TileDbWriter {
  public:
    explicit TileDbWriter(TileDbOptions options);
    ~TileDbWriter();  // unfinished: the temporary file goes, an update rolls back
    TileDbWriter(const TileDbWriter&) = delete;
    TileDbWriter& operator=(const TileDbWriter&) = delete;

    FileResult Open();
    // One tile; row counted from the north as in the cache. False after any
    // failure, with the reason in LastError().
    bool Put(int zoom, int64_t column, int64_t row, std::string_view bytes);
    FileResult Finish();
    void Abandon();

    bool Updating() const { return Existing; }
    const std::string& LastError() const { return Error; }

  private:
    struct Db;
    bool Exec(const char* sql);
    FileResult Fail(const std::string& what);
    bool CheckExisting();
    bool CreateSchema();
    bool WriteMetadata();

    TileDbOptions Options;
    std::unique_ptr<Db> D;
    std::string TempPath;
    bool Existing = false;
    int InBatch = 0;
    std::string Error;
};

// "MBTiles" or "SQLiteDB", for messages.
const char* TileDbKindName(TileDbKind kind);
