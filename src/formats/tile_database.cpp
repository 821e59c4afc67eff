#include "formats/tile_database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "geo/coordinate_text.h"

namespace {

struct StmtFinalize {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalize>;

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    return base;
}

std::string FolderPart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool ParseNumber(std::string_view text, double& value) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size();
}

// "W,S,E,N" as MBTiles writes bounds.
bool ParseBounds(const std::string& text, TileDbBounds& b) {
    double v[4];
    std::size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t comma = i < 3 ? text.find(',', start) : text.size();
        if (comma == std::string::npos ||
            !ParseNumber(std::string_view(text).substr(start, comma - start), v[i]))
            return false;
        start = comma + 1;
    }
    b = {v[0], v[1], v[2], v[3]};
    return b.West <= b.East && b.South <= b.North;
}

std::string Degrees(double v) {
    return ToFixed(v, 6);
}

}  // namespace

const char* TileDbKindName(TileDbKind kind) {
    return kind == TileDbKind::MBTiles ? "MBTiles" : "SQLiteDB";
}

struct TileDbWriter::Db {
    sqlite3* Handle = nullptr;
    Stmt Insert;
    ~Db() {
        Insert.reset();
        if (Handle) sqlite3_close_v2(Handle);
    }
    std::string Message() const { return Handle ? sqlite3_errmsg(Handle) : "out of memory"; }

    Stmt Prepare(const char* sql) const {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(Handle, sql, -1, &s, nullptr) != SQLITE_OK) return nullptr;
        return Stmt(s);
    }
    // The first column of every row of a query, as text; false on an error.
    bool Column(const char* sql, std::vector<std::string>& out) const {
        out.clear();
        Stmt s = Prepare(sql);
        if (!s) return false;
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(s.get(), 0);
            out.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
        }
        return rc == SQLITE_DONE;
    }
};

TileDbWriter::TileDbWriter(TileDbOptions options) : Options(std::move(options)) {}

TileDbWriter::~TileDbWriter() {
    Abandon();
}

FileResult TileDbWriter::Fail(const std::string& what) {
    Error = Options.Path + ": " + what;
    Abandon();
    return {false, Error};
}

bool TileDbWriter::Exec(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(D->Handle, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    Error = Options.Path + ": " + (message ? message : D->Message());
    sqlite3_free(message);
    return false;
}

FileResult TileDbWriter::Open() {
    Error.clear();
    D = std::make_unique<Db>();
    struct stat st;
    Existing = ::stat(Options.Path.c_str(), &st) == 0;
    if (Existing && !S_ISREG(st.st_mode)) return Fail("not a file");
    std::string openPath = Options.Path;
    if (!Existing) {
        // A name of our own beside the target: the rename at the end stays
        // in one file system, and a half-built file never wears the name.
        std::string pattern =
            FolderPart(Options.Path) + "." + BaseName(Options.Path) + ".part-XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) return Fail(std::strerror(errno));
        // mkstemp makes it private; the finished file is an ordinary one.
        ::fchmod(fd, 0644);
        ::close(fd);
        TempPath = openPath = pattern;
    }
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(openPath.c_str(), &D->Handle, flags, nullptr) != SQLITE_OK)
        return Fail(D->Message());
    sqlite3_busy_timeout(D->Handle, 5000);
    if (Existing) {
        if (!CheckExisting()) {
            const std::string why = Error;
            Abandon();
            Error = why;
            return {false, Error};
        }
        // One transaction for the whole update, through a rollback journal:
        // a kill leaves the file as it was.
        if (!Exec("PRAGMA journal_mode=DELETE") || !Exec("BEGIN IMMEDIATE"))
            return Fail(D->Message());
    } else {
        // Nothing to protect in a file nobody sees yet: no journal, no syncs
        // until the end.
        if (!Exec("PRAGMA journal_mode=OFF") || !Exec("PRAGMA synchronous=OFF") ||
            !CreateSchema() || !Exec("BEGIN"))
            return Fail(D->Message());
    }
    D->Insert = D->Prepare(Options.Kind == TileDbKind::MBTiles
                               ? "INSERT OR REPLACE INTO tiles (zoom_level, tile_column, "
                                 "tile_row, tile_data) VALUES (?1, ?2, ?3, ?4)"
                               : "INSERT OR REPLACE INTO tiles (z, x, y, s, image) "
                                 "VALUES (?1, ?2, ?3, 0, ?4)");
    if (!D->Insert) return Fail(D->Message());
    return {};
}

bool TileDbWriter::CheckExisting() {
    const bool mb = Options.Kind == TileDbKind::MBTiles;
    const std::string notOurs =
        std::string("not an ") + TileDbKindName(Options.Kind) + " file; it is left as it is";
    std::vector<std::string> rows;
    if (!D->Column("SELECT type FROM sqlite_master WHERE name = 'tiles'", rows)) {
        Error = Options.Path + ": " + D->Message() + "; " + notOurs;
        return false;
    }
    // A view (deduplicated tiles) cannot take rows.
    if (rows.size() != 1 || rows[0] != "table") {
        Error = Options.Path + ": " + notOurs;
        return false;
    }
    std::vector<std::string> columns;
    D->Column("SELECT name FROM pragma_table_info('tiles')", columns);
    const std::set<std::string> have(columns.begin(), columns.end());
    const std::vector<std::string> need =
        mb ? std::vector<std::string>{"zoom_level", "tile_column", "tile_row", "tile_data"}
           : std::vector<std::string>{"x", "y", "z", "s", "image"};
    for (const std::string& c : need)
        if (!have.count(c)) {
            Error = Options.Path + ": " + notOurs;
            return false;
        }
    if (!mb) {
        std::vector<std::string> numbering;
        D->Column("SELECT tilenumbering FROM info", numbering);
        for (const std::string& n : numbering)
            if (!n.empty() && n != "BigPlanet" && n != "bigplanet") {
                Error = Options.Path + ": numbers its tiles as \"" + n +
                        "\", not BigPlanet; it is left as it is";
                return false;
            }
        return Exec("CREATE TABLE IF NOT EXISTS info (minzoom INT, maxzoom INT)");
    }
    // Replacing a tile needs a unique index on its address; add one only when
    // the file has none.
    std::vector<std::string> unique;
    D->Column(
        "SELECT il.name FROM pragma_index_list('tiles') il WHERE il.\"unique\" = 1 AND "
        "(SELECT group_concat(name) FROM pragma_index_info(il.name)) = "
        "'zoom_level,tile_column,tile_row'",
        unique);
    if (unique.empty() &&
        !Exec("CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row)"))
        return false;
    return Exec("CREATE TABLE IF NOT EXISTS metadata (name TEXT, value TEXT)");
}

bool TileDbWriter::CreateSchema() {
    if (Options.Kind == TileDbKind::MBTiles)
        return Exec(
            "CREATE TABLE metadata (name TEXT, value TEXT);"
            "CREATE UNIQUE INDEX name ON metadata (name);"
            "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, "
            "tile_data BLOB);"
            "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);");
    return Exec(
        "CREATE TABLE tiles (x INT, y INT, z INT, s INT, image BLOB, PRIMARY KEY (x, y, z, s));"
        "CREATE INDEX IND ON tiles (x, y, z, s);"
        "CREATE TABLE info (minzoom INT, maxzoom INT, tilenumbering TEXT);");
}

bool TileDbWriter::Put(int zoom, int64_t column, int64_t row, std::string_view bytes) {
    if (!D || !D->Insert) {
        if (Error.empty()) Error = Options.Path + ": not open";
        return false;
    }
    sqlite3_stmt* s = D->Insert.get();
    const bool mb = Options.Kind == TileDbKind::MBTiles;
    sqlite3_bind_int(s, 1, mb ? zoom : SqliteDbZoom(zoom));
    sqlite3_bind_int64(s, 2, column);
    sqlite3_bind_int64(s, 3, mb ? TmsRow(zoom, row) : row);
    sqlite3_bind_blob64(s, 4, bytes.data(), bytes.size(), SQLITE_STATIC);
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    if (rc != SQLITE_DONE) {
        Error = Options.Path + ": " + D->Message();
        return false;
    }
    if (!Existing && ++InBatch >= Options.BatchTiles) {
        InBatch = 0;
        if (!Exec("COMMIT") || !Exec("BEGIN")) return false;
    }
    return true;
}

bool TileDbWriter::WriteMetadata() {
    TileDbBounds b = Options.Bounds;
    int minZoom = Options.MinZoom, maxZoom = Options.MaxZoom;
    if (Options.Kind == TileDbKind::SqliteDb) {
        // Stored inverted, like the tiles' z.
        int low = SqliteDbZoom(maxZoom), high = SqliteDbZoom(minZoom);
        std::vector<std::string> columns, oldLow, oldHigh;
        D->Column("SELECT name FROM pragma_table_info('info')", columns);
        if (Existing && D->Column("SELECT minzoom FROM info", oldLow) &&
            D->Column("SELECT maxzoom FROM info", oldHigh) && oldLow.size() == 1 &&
            oldHigh.size() == 1) {
            double l = 0, h = 0;
            if (ParseNumber(oldLow[0], l) && ParseNumber(oldHigh[0], h) && l <= h) {
                low = std::min(low, static_cast<int>(l));
                high = std::max(high, static_cast<int>(h));
            }
        }
        const bool numbering =
            std::find(columns.begin(), columns.end(), "tilenumbering") != columns.end();
        const std::string sql = "DELETE FROM info; INSERT INTO info (minzoom, maxzoom" +
                                std::string(numbering ? ", tilenumbering" : "") + ") VALUES (" +
                                std::to_string(low) + ", " + std::to_string(high) +
                                (numbering ? ", 'BigPlanet'" : "") + ")";
        return Exec(sql.c_str());
    }

    std::map<std::string, std::string> old;
    if (Existing) {
        Stmt s = D->Prepare("SELECT name, value FROM metadata");
        while (s && sqlite3_step(s.get()) == SQLITE_ROW) {
            const unsigned char* n = sqlite3_column_text(s.get(), 0);
            const unsigned char* v = sqlite3_column_text(s.get(), 1);
            if (n && v) old[reinterpret_cast<const char*>(n)] = reinterpret_cast<const char*>(v);
        }
        TileDbBounds was;
        if (old.count("bounds") && ParseBounds(old["bounds"], was)) {
            b.West = std::min(b.West, was.West);
            b.South = std::min(b.South, was.South);
            b.East = std::max(b.East, was.East);
            b.North = std::max(b.North, was.North);
        }
        double z = 0;
        if (old.count("minzoom") && ParseNumber(old["minzoom"], z))
            minZoom = std::min(minZoom, static_cast<int>(z));
        if (old.count("maxzoom") && ParseNumber(old["maxzoom"], z))
            maxZoom = std::max(maxZoom, static_cast<int>(z));
    }
    std::vector<std::pair<std::string, std::string>> values = {
        {"name", !Options.Name.empty()   ? Options.Name
                 : old.count("name") > 0 ? old["name"]
                                         : BaseName(Options.Path)},
        {"format", "jpg"},
        {"type", "baselayer"},
        {"bounds",
         Degrees(b.West) + "," + Degrees(b.South) + "," + Degrees(b.East) + "," + Degrees(b.North)},
        {"center", Degrees((b.West + b.East) / 2) + "," + Degrees((b.South + b.North) / 2) + "," +
                       std::to_string(minZoom)},
        {"minzoom", std::to_string(minZoom)},
        {"maxzoom", std::to_string(maxZoom)},
    };
    if (!Options.Attribution.empty()) values.emplace_back("attribution", Options.Attribution);
    Stmt del = D->Prepare("DELETE FROM metadata WHERE name = ?1");
    Stmt ins = D->Prepare("INSERT INTO metadata (name, value) VALUES (?1, ?2)");
    if (!del || !ins) {
        Error = Options.Path + ": " + D->Message();
        return false;
    }
    for (const auto& [name, value] : values) {
        sqlite3_bind_text(del.get(), 1, name.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(ins.get(), 1, name.c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_text(ins.get(), 2, value.c_str(), -1, SQLITE_STATIC);
        const bool ok =
            sqlite3_step(del.get()) == SQLITE_DONE && sqlite3_step(ins.get()) == SQLITE_DONE;
        sqlite3_reset(del.get());
        sqlite3_reset(ins.get());
        if (!ok) {
            Error = Options.Path + ": " + D->Message();
            return false;
        }
    }
    return true;
}

FileResult TileDbWriter::Finish() {
    if (!D || !D->Insert) return {false, Error.empty() ? Options.Path + ": not open" : Error};
    if (!WriteMetadata() || !Exec("COMMIT")) {
        const std::string why = Error;
        Abandon();
        Error = why;
        return {false, Error};
    }
    D.reset();
    if (!Existing) {
        // Synced once, then renamed: the name only ever holds a whole file.
        const int fd = ::open(TempPath.c_str(), O_RDONLY | O_CLOEXEC);
        const bool synced = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0) ::close(fd);
        if (!synced || ::rename(TempPath.c_str(), Options.Path.c_str()) != 0)
            return Fail(std::strerror(errno));
        TempPath.clear();
    }
    return {};
}

void TileDbWriter::Abandon() {
    if (D && D->Handle && Existing && !sqlite3_get_autocommit(D->Handle))
        sqlite3_exec(D->Handle, "ROLLBACK", nullptr, nullptr, nullptr);
    D.reset();
    if (!TempPath.empty()) {
        ::unlink(TempPath.c_str());
        TempPath.clear();
    }
}
