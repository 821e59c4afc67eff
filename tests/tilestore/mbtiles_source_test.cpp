#include "tilestore/mbtiles_source.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "geo/tile_key.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tilestore/archive_sources.h"
#include "zip_fixture.h"

namespace {

struct Row {
    int Zoom, Column, Row;  // the row as stored
    std::string Data;
};

// An MBTiles file written with plain SQL; `schema` replaces the usual one.
void WriteMBTiles(const std::string& path, const std::vector<Row>& rows,
                  const std::string& scheme = "",
                  const std::string& schema =
                      "CREATE TABLE metadata (name TEXT, value TEXT);"
                      "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, "
                      "tile_row INTEGER, tile_data BLOB);"
                      "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, "
                      "tile_row);") {
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    if (!scheme.empty())
        sqlite3_exec(db, ("INSERT INTO metadata VALUES ('scheme', '" + scheme + "')").c_str(),
                     nullptr, nullptr, nullptr);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO tiles VALUES (?, ?, ?, ?)", -1, &s, nullptr);
    for (const Row& r : rows) {
        sqlite3_bind_int(s, 1, r.Zoom);
        sqlite3_bind_int(s, 2, r.Column);
        sqlite3_bind_int(s, 3, r.Row);
        sqlite3_bind_blob(s, 4, r.Data.data(), static_cast<int>(r.Data.size()), SQLITE_STATIC);
        EXPECT_EQ(sqlite3_step(s), SQLITE_DONE);
        sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

class MBTilesSource : public ::testing::Test {
  protected:
    void TearDown() override { CloseMBTilesSources(); }
    std::string Find(const std::string& path, const std::string& letters) {
        std::string buffer;
        const bool found = FindInMBTiles(path, letters, buffer);
        EXPECT_EQ(found, !buffer.empty());
        return buffer;
    }
    TempDir Dir;
    const std::string A = MakeTileJpeg(32, 32, 1), B = MakeTileJpeg(32, 32, 2);
};

TEST_F(MBTilesSource, RowsAreTmsUnlessTheFileSaysXyz) {
    // rtt at zoom 3 is column 4, row 3 from the north: TMS row 4.
    const std::string tms = Dir.File("tms.mbtiles"), xyz = Dir.File("xyz.MBTiles"),
                      plain = Dir.File("undeclared.mbtiles");
    WriteMBTiles(tms, {{3, 4, 4, A}, {3, 4, 3, B}});
    WriteMBTiles(xyz, {{3, 4, 4, A}, {3, 4, 3, B}}, "xyz");
    WriteMBTiles(plain, {{3, 4, 3, B}});  // XYZ rows without saying so
    EXPECT_TRUE(IsMBTilesPath(xyz));
    EXPECT_EQ(Find(tms, "rtt"), A);
    EXPECT_EQ(Find(xyz, "rtt"), B);
    // Read as the format says: the tile lands on its mirror row, nothing fails.
    EXPECT_EQ(Find(plain, "rtt"), "");
    EXPECT_EQ(Find(plain, KeyLetters(3, 4, 4)), B);
}

TEST_F(MBTilesSource, ListedBesideArchivesInListOrder) {
    const std::string mb = Dir.File("a.mbtiles"), zip = Dir.File("b.zip");
    WriteMBTiles(mb, {{3, 4, 4, A}});
    ASSERT_TRUE(WriteZip(zip, {{"rtt.jpg", B}, {"rts.jpg", B}}));
    std::string buffer;
    ASSERT_TRUE(FindInArchives({mb, zip}, "rtt", buffer));
    EXPECT_EQ(buffer, A);
    ASSERT_TRUE(FindInArchives({zip, mb}, "rtt", buffer));
    EXPECT_EQ(buffer, B);
    // Not in the file: the next source supplies it.
    ASSERT_TRUE(FindInArchives({mb, zip}, "rts", buffer));
    EXPECT_EQ(buffer, B);
    const auto before = std::filesystem::last_write_time(mb);
    EXPECT_EQ(std::filesystem::last_write_time(mb), before);
}

TEST_F(MBTilesSource, BadFilesYieldWhatTheyCanAndNeverFail) {
    const std::string png = "\x89PNG\r\n\x1a\n" + std::string(2000, 'p');
    WriteMBTiles(Dir.File("png.mbtiles"), {{3, 4, 4, png}});
    WriteMBTiles(Dir.File("notiles.mbtiles"), {}, "", "CREATE TABLE other (x INTEGER);");
    Dir.WriteFile("garbage.mbtiles", std::string(100000, '\x5a'));
    Dir.WriteFile("empty.mbtiles", "");
    // Many tiles, then the file cut to half its size.
    std::vector<Row> rows;
    for (int c = 0; c < 16; ++c)
        for (int r = 0; r < 16; ++r)
            rows.push_back({10, c, r, PadJpegToSize(MakeTileJpeg(16, 16, c * 16 + r), 4000)});
    const std::string cut = Dir.File("cut.mbtiles");
    WriteMBTiles(cut, rows);
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);

    for (const char* name :
         {"png.mbtiles", "notiles.mbtiles", "garbage.mbtiles", "empty.mbtiles", "missing.mbtiles"})
        EXPECT_EQ(Find(Dir.File(name), "rtt"), "") << name;
    std::string buffer;
    ASSERT_TRUE(WriteZip(Dir.File("z.zip"), {{"rtt.jpg", B}}));
    EXPECT_TRUE(FindInArchives({Dir.File("png.mbtiles"), Dir.File("z.zip")}, "rtt", buffer));
    EXPECT_EQ(buffer, B);

    int read = 0;
    for (const Row& r : rows) {
        const std::string got = Find(cut, KeyLetters(10, r.Column, 1023 - r.Row));
        if (got.empty()) continue;
        EXPECT_EQ(got, r.Data);
        ++read;
    }
    // SQLite takes a file with pages missing for malformed, so mostly
    // nothing comes out; what does is right.
    EXPECT_LT(read, static_cast<int>(rows.size()));
}

TEST_F(MBTilesSource, ALockedFileAnswersAtOnceAndAReplacedOneIsReadAfresh) {
    const std::string path = Dir.File("busy.mbtiles");
    WriteMBTiles(path, {{3, 4, 4, A}});
    EXPECT_EQ(Find(path, "rtt"), A);
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(writer, "BEGIN EXCLUSIVE; DELETE FROM tiles;", nullptr, nullptr, nullptr),
        SQLITE_OK);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Find(path, "rtt"), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(writer);

    const std::string other = Dir.File("other.mbtiles");
    WriteMBTiles(other, {{3, 4, 4, B}});
    std::filesystem::rename(other, path);
    EXPECT_EQ(Find(path, "rtt"), B);
}

TEST_F(MBTilesSource, EachThreadReadsThroughItsOwnConnection) {
    const std::string path = Dir.File("shared.mbtiles");
    std::vector<Row> rows;
    for (int c = 0; c < 8; ++c) rows.push_back({3, c, 4, MakeTileJpeg(16, 16, c)});
    WriteMBTiles(path, rows);
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                const Row& r = rows[i % rows.size()];
                std::string buffer;
                if (!FindInMBTiles(path, KeyLetters(3, r.Column, 3), buffer) || buffer != r.Data)
                    ++wrong;
            }
            CloseMBTilesSources();
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong, 0);
}

}  // namespace
