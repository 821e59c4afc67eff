// The limit for an MBTiles export: the cached files of a square of n x n
// tiles at zoom z and its upper layers z-1..z-levels+1, inserted into the
// MBTiles schema in one transaction through SQLite's C API, nothing else.
//
//   bench_mbtiles_bare CACHE_DIR OUT.mbtiles Z COLUMN ROW N LEVELS
//
// Prints the number of tiles inserted.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "geo/tile_key.h"
#include "platform/file_io.h"

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: %s CACHE_DIR OUT Z COLUMN ROW N LEVELS\n", argv[0]);
        return 2;
    }
    const std::string cache = std::string(argv[1]) + "/";
    const int z = std::atoi(argv[3]), column = std::atoi(argv[4]), row = std::atoi(argv[5]);
    const int n = std::atoi(argv[6]), levels = std::atoi(argv[7]);
    sqlite3* db = nullptr;
    if (sqlite3_open(argv[2], &db) != SQLITE_OK) return 1;
    sqlite3_exec(db,
                 "CREATE TABLE metadata (name TEXT, value TEXT);"
                 "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, "
                 "tile_data BLOB);"
                 "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);"
                 "BEGIN",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?1, ?2, ?3, ?4)", -1, &insert, nullptr);
    long count = 0;
    std::string bytes;
    for (int level = 0; level < levels; ++level) {
        const int zl = z - level, side = n >> level;
        for (int c = column >> level; c < (column >> level) + side; ++c)
            for (int r = row >> level; r < (row >> level) + side; ++r) {
                if (!ReadWholeFile(cache + KeyLetters(zl, c, r) + ".jpg", bytes)) continue;
                sqlite3_bind_int(insert, 1, zl);
                sqlite3_bind_int(insert, 2, c);
                sqlite3_bind_int(insert, 3, (1 << zl) - 1 - r);
                sqlite3_bind_blob(insert, 4, bytes.data(), static_cast<int>(bytes.size()),
                                  SQLITE_STATIC);
                if (sqlite3_step(insert) != SQLITE_DONE) return 1;
                sqlite3_reset(insert);
                ++count;
            }
    }
    sqlite3_finalize(insert);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return 1;
    sqlite3_close(db);
    std::printf("%ld\n", count);
    return 0;
}
