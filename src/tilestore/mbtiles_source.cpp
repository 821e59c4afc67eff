#include "tilestore/mbtiles_source.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <memory>
#include <unordered_map>

#include "geo/tile_key.h"
#include "tilestore/file_identity.h"

namespace {

// Every open file holds a descriptor; a thread keeps this many at most.
constexpr std::size_t MaxOpenPerThread = 32;

struct Source {
    FileIdentity Identity;
    sqlite3* Db = nullptr;
    sqlite3_stmt* Select = nullptr;  // null: the file has no usable tiles table
    bool XyzRows = false;

    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source() {
        sqlite3_finalize(Select);
        if (Db) sqlite3_close_v2(Db);
    }
};

std::unique_ptr<Source> OpenSource(const std::string& path, const FileIdentity& identity) {
    auto source = std::make_unique<Source>();
    source->Identity = identity;
    if (sqlite3_open_v2(path.c_str(), &source->Db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
        return source;
    // No busy handler: a locked file answers at once, so the view never waits.
    sqlite3_stmt* scheme = nullptr;
    if (sqlite3_prepare_v2(source->Db, "SELECT value FROM metadata WHERE name = 'scheme'", -1,
                           &scheme, nullptr) == SQLITE_OK &&
        sqlite3_step(scheme) == SQLITE_ROW) {
        const unsigned char* text = sqlite3_column_text(scheme, 0);
        source->XyzRows = text && std::string_view(reinterpret_cast<const char*>(text)) == "xyz";
    }
    sqlite3_finalize(scheme);
    if (sqlite3_prepare_v2(source->Db,
                           "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND "
                           "tile_column = ?2 AND tile_row = ?3",
                           -1, &source->Select, nullptr) != SQLITE_OK)
        source->Select = nullptr;
    return source;
}

// This thread's open files, by path.
std::unordered_map<std::string, std::unique_ptr<Source>>& Sources() {
    thread_local std::unordered_map<std::string, std::unique_ptr<Source>> sources;
    return sources;
}

bool IsJpeg(const void* data, int size) {
    const auto* b = static_cast<const unsigned char*>(data);
    return size >= 4 && b[0] == 0xFF && b[1] == 0xD8;
}

}  // namespace

bool IsMBTilesPath(std::string_view path) {
    constexpr std::string_view ext = ".mbtiles";
    if (path.size() <= ext.size()) return false;
    const std::string_view tail = path.substr(path.size() - ext.size());
    for (std::size_t i = 0; i < ext.size(); ++i) {
        char c = tail[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != ext[i]) return false;
    }
    return true;
}

bool FindInMBTiles(const std::string& path, const std::string& tileName, std::string& buffer) {
    buffer.clear();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const FileIdentity identity = FileIdentity::Of(st);
    auto& sources = Sources();
    auto it = sources.find(path);
    if (it == sources.end() || !(it->second->Identity == identity)) {
        if (it == sources.end() && sources.size() >= MaxOpenPerThread) sources.clear();
        auto& slot = sources[path];
        slot = OpenSource(path, identity);
        it = sources.find(path);
    }
    Source& source = *it->second;
    if (!source.Select) return false;
    const TileIndex tile = KeyToTile(tileName, 0);
    const int64_t row = source.XyzRows ? tile.Row : (int64_t{1} << tile.Zoom) - 1 - tile.Row;
    sqlite3_stmt* s = source.Select;
    sqlite3_bind_int(s, 1, tile.Zoom);
    sqlite3_bind_int64(s, 2, tile.Column);
    sqlite3_bind_int64(s, 3, row);
    bool found = false;
    if (sqlite3_step(s) == SQLITE_ROW) {
        const void* data = sqlite3_column_blob(s, 0);
        const int size = sqlite3_column_bytes(s, 0);
        if (data && IsJpeg(data, size)) {
            buffer.assign(static_cast<const char*>(data), static_cast<std::size_t>(size));
            found = true;
        }
    }
    sqlite3_reset(s);
    return found;
}

void CloseMBTilesSources() {
    Sources().clear();
}
