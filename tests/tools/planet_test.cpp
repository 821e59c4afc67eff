#include "planet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/tile_factory.h"
#include "tile_server.h"

using namespace vistrel::tileserver;

namespace {

// Land tiles at several depths (the ocean alone looks alike everywhere).
const std::vector<std::string> kLandParents = {"", "r", "rtt", "rttsqrtsqtqrs",
                                               "rttsqrtsqtqrsrrsq"};

uint8_t Px(const std::vector<uint8_t>& rgb, int x, int y, int c) {
    return rgb[static_cast<size_t>((y * kTileSize + x) * 3 + c)];
}

// Mean absolute difference between one quadrant of the parent and the child
// shrunk to half size by averaging 2 x 2 pixels.
double QuadrantDifference(const std::vector<uint8_t>& parent, int qx, int qy,
                          const std::vector<uint8_t>& child) {
    const int half = kTileSize / 2;
    double sum = 0;
    for (int y = 0; y < half; ++y)
        for (int x = 0; x < half; ++x)
            for (int c = 0; c < 3; ++c) {
                const double shrunk =
                    (Px(child, 2 * x, 2 * y, c) + Px(child, 2 * x + 1, 2 * y, c) +
                     Px(child, 2 * x, 2 * y + 1, c) + Px(child, 2 * x + 1, 2 * y + 1, c)) /
                    4.0;
                sum += std::abs(shrunk - Px(parent, qx * half + x, qy * half + y, c));
            }
    return sum / (half * half * 3);
}

// Mean absolute difference between column ax of a and column bx of b.
double ColumnDifference(const std::vector<uint8_t>& a, int ax, const std::vector<uint8_t>& b,
                        int bx) {
    double sum = 0;
    for (int y = 0; y < kTileSize; ++y)
        for (int c = 0; c < 3; ++c) sum += std::abs(Px(a, ax, y, c) - Px(b, bx, y, c));
    return sum / (kTileSize * 3);
}

std::vector<uint8_t> Render(const std::string& letters) {
    const std::optional<TileAddress> tile = ParseTileLetters(letters);
    EXPECT_TRUE(tile) << letters;
    return tile ? RenderTileRgb(*tile) : std::vector<uint8_t>{};
}

}  // namespace

TEST(TileLetters, ColumnAndRowFromLetters) {
    struct Case {
        const char* Letters;
        int Zoom;
        uint32_t Column, Row;
    };
    const Case cases[] = {
        {"", 0, 0, 0},
        {"q", 1, 0, 0},
        {"r", 1, 1, 0},
        {"s", 1, 1, 1},
        {"t", 1, 0, 1},
        {"rtt", 3, 4, 3},
        {"rtqsrqrqrr", 10, 619, 320},
        {"ssssssssssssssssssss", 20, (1u << 20) - 1, (1u << 20) - 1},
    };
    for (const Case& c : cases) {
        const std::optional<TileAddress> tile = ParseTileLetters(c.Letters);
        ASSERT_TRUE(tile) << c.Letters;
        EXPECT_EQ(tile->Zoom, c.Zoom) << c.Letters;
        EXPECT_EQ(tile->Column, c.Column) << c.Letters;
        EXPECT_EQ(tile->Row, c.Row) << c.Letters;
        EXPECT_EQ(TileLetters(*tile), c.Letters);
    }
    for (const char* bad : {"a", "Q", "qrx", "q r", "qqqqqqqqqqqqqqqqqqqqq" /* 21 */})
        EXPECT_FALSE(ParseTileLetters(bad)) << bad;
}

TEST(TileLetters, OnlyTargetsEndingInTEqualsTPlusLetters) {
    struct Case {
        const char* Target;
        const char* Letters;  // nullptr: not a tile request
    };
    const Case cases[] = {
        {"/kh?v=9&n=404&t=trtq", "rtq"},
        {"/kh?v=9&n=404&t=t", ""},
        {"/other/path?x=1&t=tqq", "qq"},
        {"http://127.0.0.1:8642/kh?v=9&n=404&t=ts", "s"},  // proxy form
        {"/kh?v=9&n=404&t=ttttttttttttttttttttt", "tttttttttttttttttttt"},
        {"/kh?v=9&n=404&t=tttttttttttttttttttttt", nullptr},  // 21 letters
        {"/kh?v=9&n=404&t=tqa", nullptr},
        {"/kh?v=9&n=404&t=", nullptr},
        {"/kh?v=9&n=404&s=tq", nullptr},
        {"/kh/t=tq", nullptr},
        {"/kh?v=9&n=404&t=tq&x=1", nullptr},
        {"/", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> letters = LettersOfTarget(c.Target);
        if (c.Letters == nullptr) {
            EXPECT_FALSE(letters) << c.Target;
        } else {
            ASSERT_TRUE(letters) << c.Target;
            EXPECT_EQ(*letters, c.Letters) << c.Target;
        }
    }
}

TEST(PlanetTiles, JpegsOfImageryWeightAndRepeatable) {
    for (const std::string letters :
         {"", "q", "t", "rtt", "rtqsrqrqrr", "rttsqrtsqtqrsrrsq", "tqqtrtqqqrtttsqtqqtt"}) {
        SCOPED_TRACE("tile '" + letters + "'");
        const std::string jpeg = RenderTileJpeg(letters, 85);
        EXPECT_GE(jpeg.size(), 5000u);
        EXPECT_LE(jpeg.size(), 40000u);
        int w = 0, h = 0;
        EXPECT_FALSE(DecodeJpegRgb(jpeg, w, h).empty());
        EXPECT_EQ(w, kTileSize);
        EXPECT_EQ(h, kTileSize);
        EXPECT_EQ(RenderTileJpeg(letters, 85), jpeg);
    }
    EXPECT_TRUE(RenderTileJpeg("qx", 85).empty());
    EXPECT_NE(RenderTileJpeg("q", 85), RenderTileJpeg("r", 85));
    EXPECT_LT(RenderTileJpeg("rtt", 40).size(), RenderTileJpeg("rtt", 95).size());
}

TEST(PlanetTiles, ParentLooksLikeItsFourChildren) {
    // q north-west, r north-east, s south-east, t south-west.
    const char kLetter[4] = {'q', 'r', 's', 't'};
    const int kQx[4] = {0, 1, 1, 0}, kQy[4] = {0, 0, 1, 1};
    for (const std::string& parentKey : kLandParents) {
        SCOPED_TRACE("parent '" + parentKey + "'");
        const std::vector<uint8_t> parent = Render(parentKey);
        for (int i = 0; i < 4; ++i) {
            const std::vector<uint8_t> child = Render(parentKey + kLetter[i]);
            const double own = QuadrantDifference(parent, kQx[i], kQy[i], child);
            const double opposite =
                QuadrantDifference(parent, kQx[(i + 2) % 4], kQy[(i + 2) % 4], child);
            EXPECT_LT(own, 10.0) << kLetter[i];
            EXPECT_GT(opposite, 2.0 * own) << kLetter[i];
        }
    }
}

TEST(PlanetTiles, NeighboursJoinWithoutSeamAlsoAcrossTheDateLine) {
    struct Pair {
        const char* West;
        const char* East;
    };
    // The last pair wraps: the easternmost tile continues in the westernmost.
    for (const Pair& p : {Pair{"rtt", "rts"}, Pair{"rttsqrtsqtqrq", "rttsqrtsqtqrr"},
                          Pair{"r", "q"}, Pair{"rrs", "qqt"}}) {
        SCOPED_TRACE(std::string(p.West) + " | " + p.East);
        const std::vector<uint8_t> west = Render(p.West);
        const std::vector<uint8_t> east = Render(p.East);
        const double seam = ColumnDifference(west, kTileSize - 1, east, 0);
        // Two neighbouring columns inside one tile differ about as much.
        const double inside = ColumnDifference(west, kTileSize - 2, west, kTileSize - 1);
        // The west tile's own first column is far away from its last.
        const double far = ColumnDifference(west, 0, east, 0);
        EXPECT_LT(seam, 2.0 * inside + 4.0);
        EXPECT_GT(far, 1.5 * seam);
    }
}
