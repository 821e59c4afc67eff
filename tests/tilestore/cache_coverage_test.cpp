#include "tilestore/cache_coverage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <compare>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <tuple>

#include "geo/projection.h"
#include "geo/tile_key.h"
#include "support/temp_dir.h"

namespace {

struct Tile {
    int Zoom, Column, Row;
    auto operator<=>(const Tile&) const = default;
};

void Place(const TempDir& dir, const Tile& t) {
    ASSERT_TRUE(dir.WriteFile(KeyLetters(t.Zoom, t.Column, t.Row) + ".jpg", ""));
}

// The reference: each placed tile of the counted zoom put into its cell by
// division, against the grid's cells found by searching the codes.
void ExpectCellsMatch(const std::set<Tile>& tiles, const CoverageGrid& grid) {
    std::map<std::pair<int, int>, uint32_t> reference;
    const int shift = grid.View.Zoom - grid.CellZoom;
    for (const Tile& t : tiles)
        if (t.Zoom == grid.View.Zoom) ++reference[{t.Column >> shift, t.Row >> shift}];
    for (int r = grid.FirstRow; r < grid.FirstRow + grid.Rows; ++r)
        for (int c = grid.FirstColumn; c < grid.FirstColumn + grid.Columns; ++c)
            ASSERT_EQ(grid.HeldAt(c, r), (reference[{c, r}])) << "cell " << c << "," << r;
}

// A worker's answers as they come, from its thread.
struct Answers {
    std::mutex Lock;
    std::vector<std::shared_ptr<const CoverageGrid>> Grids;

    auto Sink() {
        return [this](std::shared_ptr<const CoverageGrid> grid) {
            std::lock_guard<std::mutex> guard(Lock);
            Grids.push_back(std::move(grid));
        };
    }
    template <class Done>
    bool WaitFor(Done done) {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard<std::mutex> guard(Lock);
                if (done(Grids)) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

}  // namespace

TEST(CacheCoverage, CellsCountTheTilesThatFilesNameUnderEachCell) {
    struct Case {
        const char* Name;
        int ViewZoom, Zoom;
        int CellZoom;  // expected, as the two below
        double CellPixels;
        long long TilesPerCell;
    };
    const Case cases[] = {
        {"the view's own zoom", 10, 10, 10, 256, 1},
        {"two levels deeper: a cell per tile", 10, 12, 12, 64, 1},
        {"six levels deeper: cells of 4 pixels", 10, 16, 16, 4, 1},
        {"eight levels deeper: cells of 16 tiles", 10, 18, 16, 4, 16},
        {"deeper than allowed is cut to eight", 10, 20, 16, 4, 16},
        {"a coarser zoom: cells larger than tiles", 10, 8, 8, 1024, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        std::mt19937 random(7);
        // Tiles around the view's corner at every zoom asked about, some
        // outside the view, some at other zooms.
        std::set<Tile> tiles;
        for (int zoom : {c.Zoom, std::min(20, c.ViewZoom + 8), c.ViewZoom - 1}) {
            const int span = 1 << std::max(0, zoom - c.ViewZoom + 2);  // 4 view tiles across
            const int base =
                (300 << std::max(0, zoom - c.ViewZoom)) >> std::max(0, c.ViewZoom - zoom);
            for (int i = 0; i < 400; ++i)
                tiles.insert({zoom, base + static_cast<int>(random() % span),
                              base + static_cast<int>(random() % span)});
            // A full 4 x 4 block one view tile in: cells of 16 tiles hold more than one.
            const int block = base + (zoom > c.ViewZoom ? 1 << (zoom - c.ViewZoom) : 0);
            for (int i = 0; zoom == c.Zoom && i < 16; ++i)
                tiles.insert({zoom, block + i % 4, block + i / 4});
        }
        for (const Tile& t : tiles) Place(dir, t);
        CacheCoverage coverage;
        coverage.Scan(dir.Path());
        CoverageView view{c.ViewZoom, c.Zoom, 300.0 * 256 + 37, 300.0 * 256 + 11, 700, 500};
        const CoverageGrid grid = coverage.Cells(view);
        EXPECT_EQ(grid.CellZoom, c.CellZoom);
        EXPECT_DOUBLE_EQ(grid.CellPixels, c.CellPixels);
        EXPECT_EQ(grid.TilesPerCell, c.TilesPerCell);
        // The cells cover the view and no more.
        EXPECT_LE(grid.CellX(grid.FirstColumn), 0);
        EXPECT_GT(grid.CellX(grid.FirstColumn) + grid.CellPixels, 0);
        EXPECT_GE(grid.CellX(grid.FirstColumn + grid.Columns), view.Width - 1);
        EXPECT_LE(grid.CellY(grid.FirstRow), 0);
        EXPECT_GE(grid.CellY(grid.FirstRow + grid.Rows), view.Height - 1);
        ExpectCellsMatch(tiles, grid);
    }
}

TEST(CacheCoverage, OnlyTileNamesCount) {
    TempDir dir;
    for (const char* name : {"qrst.jpg", "qrst.jpg.tmp", "qrsx.jpg", "QRST.jpg", "qrst.png", ".jpg",
                             "readme.txt", "sub/qrsq.jpg"})
        ASSERT_TRUE(dir.WriteFile(name, ""));
    CacheCoverage coverage;
    coverage.Scan(dir.Path());
    EXPECT_EQ(coverage.TileCount(), 1u);
    coverage.Scan(dir.Path() + "missing/");
    EXPECT_EQ(coverage.TileCount(), 0u);
}

TEST(CacheCoverage, ViewCutAtTheWorldsEdge) {
    TempDir dir;
    Place(dir, {3, 0, 0});
    Place(dir, {3, 7, 7});
    CacheCoverage coverage;
    coverage.Scan(dir.Path());
    // A view larger than the world at zoom 2, shifted past its north-west corner.
    const CoverageGrid grid = coverage.Cells({2, 3, -300, -200, 2000, 1500});
    EXPECT_EQ(std::tie(grid.FirstColumn, grid.FirstRow, grid.Columns, grid.Rows),
              std::make_tuple(0, 0, 8, 8));
    EXPECT_EQ(grid.HeldAt(0, 0), 1u);
    EXPECT_EQ(grid.HeldAt(7, 7), 1u);
    EXPECT_EQ(grid.HeldAt(7, 0), 0u);
    EXPECT_DOUBLE_EQ(grid.CellX(0), 300);
}

TEST(CacheCoverage, ViewAtACentreHasItsTileUnderTheMiddle) {
    const CoverageView view = CoverageViewAt(10, 10, -37.62, 55.75, 800, 600);
    const TilePosition tile = TileAt(10, -37.62, 55.75);
    EXPECT_EQ(static_cast<int>((view.Left + 400) / 256), tile.Column);
    EXPECT_EQ(static_cast<int>((view.Top + 300) / 256), tile.Row);
}

TEST(CoverageWorker, AnswersTheNewestViewAndLearnsTilesBroughtIn) {
    TempDir dir;
    Place(dir, {12, 2000, 1000});
    Answers answers;
    CoverageWorker worker(answers.Sink(), std::chrono::milliseconds(20));
    const CoverageView view{12, 12, 2000.0 * 256, 1000.0 * 256, 512, 512};
    auto holds = [&](int column, int row) {
        return answers.WaitFor(
            [&](const auto& g) { return !g.empty() && g.back()->HeldAt(column, row) == 1; });
    };
    worker.Request(dir.Path(), view);
    EXPECT_TRUE(holds(2000, 1000));
    // A task writes a tile: the folder changes and the overlay follows.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Place(dir, {12, 2001, 1001});
    EXPECT_TRUE(holds(2001, 1001));
}

TEST(CacheCoverage, WhatWasLearnedIsKeptInAnIndexFile) {
    TempDir dir, other;
    Place(dir, {5, 3, 4});
    Place(dir, {12, 2000, 1000});
    CacheCoverage learned;
    learned.Scan(dir.Path());
    const std::string index = other.File("coverage.idx");
    ASSERT_TRUE(learned.Save(index, dir.Path(), 1234));
    std::string good = other.ReadFile("coverage.idx");

    CacheCoverage loaded;
    int64_t time = 0;
    ASSERT_TRUE(loaded.Load(index, dir.Path(), time));
    EXPECT_EQ(time, 1234);
    EXPECT_EQ(loaded.TileCount(), 2u);
    EXPECT_EQ(loaded.Cells({12, 12, 2000.0 * 256, 1000.0 * 256, 256, 256}).HeldAt(2000, 1000), 1u);

    struct Case {
        const char* Name;
        std::string Bytes;
        std::string Folder;
    };
    std::string unsorted = good;
    // The zoom-5 code sits after the header; a code past the zoom's tiles.
    const std::size_t zoom5 = 8 + 4 + dir.Path().size() + 8 + 5 * 8 + 8;
    unsorted[zoom5 + 7] = '\x7f';
    const Case cases[] = {
        {"another folder's", good, other.Path()},
        {"cut short", good.substr(0, good.size() - 3), dir.Path()},
        {"longer", good + "x", dir.Path()},
        {"not an index", "hello", dir.Path()},
        {"a code beyond its zoom", unsorted, dir.Path()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(other.WriteFile("bad.idx", c.Bytes));
        CacheCoverage kept;
        kept.Scan(dir.Path());
        int64_t t = 7;
        EXPECT_FALSE(kept.Load(other.File("bad.idx"), c.Folder, t));
        EXPECT_EQ(t, 7);
        EXPECT_EQ(kept.TileCount(), 2u);  // unchanged
    }
    EXPECT_FALSE(loaded.Load(other.File("missing.idx"), dir.Path(), time));
}

TEST(CoverageWorker, AnswersFirstFromTheIndexThenFromTheFolder) {
    TempDir dir, other;
    Place(dir, {12, 2000, 1000});
    const std::string index = other.File("coverage.idx");
    {
        // An earlier run knew a tile that has gone since.
        TempDir earlier;
        Place(earlier, {12, 2001, 1000});
        CacheCoverage coverage;
        coverage.Scan(earlier.Path());
        ASSERT_TRUE(coverage.Save(index, dir.Path(), 1));
    }
    Answers answers;
    {
        CoverageWorker worker(answers.Sink(), std::chrono::milliseconds(20), index);
        worker.Request(dir.Path(), {12, 12, 2000.0 * 256, 1000.0 * 256, 512, 256});
        answers.WaitFor([](const auto& g) { return g.size() >= 2; });
    }
    const auto& grids = answers.Grids;
    ASSERT_GE(grids.size(), 2u);
    EXPECT_EQ(grids[0]->HeldAt(2001, 1000), 1u);
    EXPECT_EQ(grids[0]->HeldAt(2000, 1000), 0u);
    EXPECT_EQ(grids[1]->HeldAt(2001, 1000), 0u);
    EXPECT_EQ(grids[1]->HeldAt(2000, 1000), 1u);
    // The folder as read now is what the next run starts from.
    CacheCoverage next;
    int64_t time = 0;
    ASSERT_TRUE(next.Load(index, dir.Path(), time));
    EXPECT_NE(time, 1);
    EXPECT_EQ(next.TileCount(), 1u);
}
