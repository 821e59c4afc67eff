#include "formats/tile_database.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/file_size_limit.h"
#include "support/sql_query.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"

namespace {

TileDbOptions Options(TileDbKind kind, const std::string& path) {
    TileDbOptions o;
    o.Kind = kind;
    o.Path = path;
    o.Bounds = {37.5, 55.5, 37.75, 55.8};
    o.MinZoom = 12;
    o.MaxZoom = 14;
    return o;
}

TEST(TileDatabase, RowsAreStoredInEachFormatsNumbering) {
    struct Case {
        TileDbKind Kind;
        int Zoom;
        int64_t Column, Row;  // row from the north
        std::string Where;    // the stored address
    };
    const Case cases[] = {
        {TileDbKind::MBTiles, 1, 1, 0, "zoom_level = 1 AND tile_column = 1 AND tile_row = 1"},
        {TileDbKind::MBTiles, 1, 0, 1, "zoom_level = 1 AND tile_column = 0 AND tile_row = 0"},
        {TileDbKind::MBTiles, 13, 4954, 2559,
         "zoom_level = 13 AND tile_column = 4954 AND tile_row = 5632"},
        {TileDbKind::MBTiles, 20, 1048575, 0,
         "zoom_level = 20 AND tile_column = 1048575 AND tile_row = 1048575"},
        // BigPlanet: z = 17 - zoom, rows from the north, s = 0.
        {TileDbKind::SqliteDb, 1, 1, 0, "z = 16 AND x = 1 AND y = 0 AND s = 0"},
        {TileDbKind::SqliteDb, 13, 4954, 2559, "z = 4 AND x = 4954 AND y = 2559 AND s = 0"},
        {TileDbKind::SqliteDb, 20, 7, 1048575, "z = -3 AND x = 7 AND y = 1048575 AND s = 0"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.File("out.db");
        const std::string tile = MakeTileJpeg(64, 64, c.Column);
        TileDbWriter w(Options(c.Kind, path));
        ASSERT_TRUE(w.Open()) << w.LastError();
        ASSERT_TRUE(w.Put(c.Zoom, c.Column, c.Row, tile));
        ASSERT_TRUE(w.Finish());
        const char* table = c.Kind == TileDbKind::MBTiles ? "tile_data" : "image";
        EXPECT_EQ(
            SqlQuery(path).One(std::string("SELECT ") + table + " FROM tiles WHERE " + c.Where),
            tile)
            << c.Where;
    }
}

TEST(TileDatabase, MBTilesMetadataAndSqliteDbInfo) {
    TempDir dir;
    TileDbOptions o = Options(TileDbKind::MBTiles, dir.File("Moscow region.mbtiles"));
    o.Attribution = "Imagery: test";
    TileDbWriter w(o);
    ASSERT_TRUE(w.Open());
    ASSERT_TRUE(w.Finish());
    SqlQuery mb(o.Path);
    const std::map<std::string, std::string> expected = {
        {"name", "Moscow region"},
        {"format", "jpg"},
        {"type", "baselayer"},
        {"bounds", "37.500000,55.500000,37.750000,55.800000"},
        {"center", "37.625000,55.650000,12"},
        {"minzoom", "12"},
        {"maxzoom", "14"},
        {"attribution", "Imagery: test"},
    };
    for (const auto& [name, value] : expected) EXPECT_EQ(mb.Meta(name), value) << name;
    EXPECT_EQ(mb.One("SELECT count(*) FROM pragma_index_list('tiles') WHERE \"unique\" = 1"), "1");
    // An ordinary file, not the temporary file's private one.
    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(o.Path).permissions() & perms::all,
              perms::owner_read | perms::owner_write | perms::group_read | perms::others_read);

    TileDbWriter s(Options(TileDbKind::SqliteDb, dir.File("m.sqlitedb")));
    ASSERT_TRUE(s.Open());
    ASSERT_TRUE(s.Finish());
    SqlQuery db(dir.File("m.sqlitedb"));
    EXPECT_EQ(db.One("SELECT minzoom || ',' || maxzoom || ',' || tilenumbering FROM info"),
              "3,5,BigPlanet");
}

TEST(TileDatabase, AnExistingFileIsUpdatedAndWidened) {
    for (TileDbKind kind : {TileDbKind::MBTiles, TileDbKind::SqliteDb}) {
        TempDir dir;
        const std::string path = dir.File("a.db");
        const std::string first = MakeTileJpeg(32, 32, 1), second = MakeTileJpeg(32, 32, 2);
        {
            TileDbOptions o = Options(kind, path);
            o.Name = "kept";
            TileDbWriter w(o);
            ASSERT_TRUE(w.Open());
            ASSERT_TRUE(w.Put(12, 10, 10, first));
            ASSERT_TRUE(w.Put(12, 11, 10, first));
            ASSERT_TRUE(w.Finish());
        }
        TileDbOptions o = Options(kind, path);
        o.Bounds = {37.0, 55.6, 37.6, 56.0};
        o.MinZoom = 10;
        o.MaxZoom = 13;
        TileDbWriter w(o);
        ASSERT_TRUE(w.Open());
        EXPECT_TRUE(w.Updating());
        ASSERT_TRUE(w.Put(12, 11, 10, second));  // replaced
        ASSERT_TRUE(w.Put(13, 0, 0, second));    // added
        ASSERT_TRUE(w.Finish()) << w.LastError();
        SqlQuery sql(path);
        EXPECT_EQ(sql.One("SELECT count(*) FROM tiles"), "3");
        if (kind == TileDbKind::MBTiles) {
            EXPECT_EQ(sql.One("SELECT tile_data FROM tiles WHERE tile_column = 11"), second);
            EXPECT_EQ(sql.One("SELECT tile_data FROM tiles WHERE tile_column = 10"), first);
            EXPECT_EQ(sql.Meta("bounds"), "37.000000,55.500000,37.750000,56.000000");
            EXPECT_EQ(sql.Meta("minzoom") + "-" + sql.Meta("maxzoom"), "10-14");
            EXPECT_EQ(sql.Meta("name"), "kept");
        } else {
            EXPECT_EQ(sql.One("SELECT image FROM tiles WHERE x = 11"), second);
            EXPECT_EQ(sql.One("SELECT minzoom || ',' || maxzoom FROM info"), "3,7");
        }
        EXPECT_EQ(sql.One("PRAGMA integrity_check"), "ok");
    }
}

TEST(TileDatabase, FilesOfAnotherKindAreRefusedAndLeftAlone) {
    TempDir dir;
    // An MBTiles file to write as SQLiteDB and the other way round.
    for (TileDbKind kind : {TileDbKind::MBTiles, TileDbKind::SqliteDb}) {
        TileDbWriter w(Options(kind, dir.File(kind == TileDbKind::MBTiles ? "m" : "s")));
        ASSERT_TRUE(w.Open());
        ASSERT_TRUE(w.Finish());
    }
    ASSERT_TRUE(dir.WriteFile("text", std::string(5000, 'x')));
    ASSERT_TRUE(dir.WriteFile("empty", ""));
    struct Case {
        TileDbKind Kind;
        std::string File;
    };
    const Case cases[] = {
        {TileDbKind::MBTiles, "s"},     {TileDbKind::SqliteDb, "m"},
        {TileDbKind::MBTiles, "text"},  {TileDbKind::SqliteDb, "text"},
        {TileDbKind::MBTiles, "empty"},
    };
    for (const Case& c : cases) {
        const std::string before = dir.ReadFile(c.File);
        TileDbWriter w(Options(c.Kind, dir.File(c.File)));
        const FileResult opened = w.Open();
        EXPECT_FALSE(opened) << c.File;
        EXPECT_NE(opened.Error.find("left as it is"), std::string::npos) << opened.Error;
        EXPECT_EQ(dir.ReadFile(c.File), before) << c.File;
    }
}

TEST(TileDatabase, NothingIsLeftUnderTheNameWhenWritingFails) {
    TempDir dir;
    const std::string tile = PadJpegToSize(MakeTileJpeg(), 24000);
    {
        // Abandoned half way.
        TileDbWriter w(Options(TileDbKind::MBTiles, dir.File("a.mbtiles")));
        ASSERT_TRUE(w.Open());
        ASSERT_TRUE(w.Put(12, 1, 1, tile));
    }
    {
        // A full disk.
        TileDbOptions o = Options(TileDbKind::MBTiles, dir.File("b.mbtiles"));
        o.BatchTiles = 4;
        TileDbWriter w(o);
        ASSERT_TRUE(w.Open());
        FileSizeLimit limit(200'000);
        bool ok = true;
        for (int i = 0; i < 100 && ok; ++i) ok = w.Put(12, i, 0, tile);
        ok = ok && w.Finish();
        EXPECT_FALSE(ok);
        EXPECT_FALSE(w.LastError().empty());
    }
    // A folder that does not exist.
    TileDbWriter w(Options(TileDbKind::SqliteDb, dir.File("no/such/c.sqlitedb")));
    EXPECT_FALSE(w.Open());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 0);
}

}  // namespace
