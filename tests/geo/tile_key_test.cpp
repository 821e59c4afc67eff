#include "geo/tile_key.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <random>
#include <string>

#include "geo/projection.h"

namespace {

// Readable test names from the case descriptions.
std::string CaseName(int index, const std::string& text) {
    std::string name = std::to_string(index) + "_";
    for (char ch : text) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
}

// Ends in 't' on purpose: the server's whole-world key, which the letters continue.
const std::string Source = "http://127.0.0.1:8642/kh?v=9&n=404&t=t";

struct KeyCase {
    const char* Name;
    int Zoom;
    double Lon, Lat;
    const char* Letters;
    int XOffset, YOffset;
};

class TileKeyAtTable : public testing::TestWithParam<KeyCase> {};

TEST_P(TileKeyAtTable, GivesLettersAndOffsets) {
    const KeyCase& c = GetParam();
    const TileKey key = TileKeyAt(c.Zoom, c.Lon, c.Lat, Source);
    EXPECT_EQ(key.Key, Source + c.Letters) << c.Name;
    EXPECT_EQ(key.XOffset, c.XOffset) << c.Name;
    EXPECT_EQ(key.YOffset, c.YOffset) << c.Name;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TileKeyAtTable,
    testing::Values(KeyCase{"zoom 1 north-west", 1, 90, 45, "q", 128, 184},
                    KeyCase{"zoom 1 north-east", 1, -90, 45, "r", 128, 184},
                    KeyCase{"zoom 1 south-east", 1, -90, -45, "s", 128, 71},
                    KeyCase{"zoom 1 south-west", 1, 90, -45, "t", 128, 71},
                    KeyCase{"zoom 3, 10N 10E", 3, -10, 10, "rtt", 56, 198},
                    KeyCase{"zoom 10, Moscow", 10, -37.6173, 55.7558, "rtqsrqrqrr", 0, 26},
                    KeyCase{"0 meridian goes east", 3, 0, 10, "rtt", 0, 198},
                    KeyCase{"equator goes north", 3, -10, 0, "rtt", 56, 256},
                    KeyCase{"north of the edge keeps row 0", 3, 0.5, 85.2, "qrr", 253, -9}),
    [](const auto& info) { return CaseName(static_cast<int>(info.index), info.param.Name); });

struct StepCase {
    const char* Name;
    void (*Step)(std::string&, std::size_t);
    const char* From;
    const char* To;
};

class StepTable : public testing::TestWithParam<StepCase> {};

TEST_P(StepTable, StepsToTheNeighbourAndLeavesTheSourceAlone) {
    const StepCase& c = GetParam();
    std::string key = Source + c.From;
    c.Step(key, Source.size());
    EXPECT_EQ(key, Source + c.To) << c.Name;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, StepTable,
    testing::Values(
        StepCase{"east", StepEast, "rtt", "rts"}, StepCase{"east again", StepEast, "rts", "rst"},
        StepCase{"west", StepWest, "rtt", "qss"}, StepCase{"north", StepNorth, "rtt", "rtq"},
        StepCase{"south", StepSouth, "rtt", "sqq"}, StepCase{"east wraps", StepEast, "rrr", "qqq"},
        StepCase{"west wraps", StepWest, "qqq", "rrr"},
        StepCase{"north wraps", StepNorth, "qqq", "ttt"},
        StepCase{"south wraps", StepSouth, "ttt", "qqq"},
        StepCase{"zoom 1 east wraps", StepEast, "r", "q"},
        StepCase{"whole world: nothing to step", StepSouth, "", ""}),
    [](const auto& info) { return CaseName(static_cast<int>(info.index), info.param.Name); });

TEST(Steps, NeverTouchAPrefixThatEndsInKeyLettersOrIsNotAscii) {
    // Multi-byte prefix: the caller passes its size in bytes.
    const std::string source = "http://тайлы.example/k?s=qrst";
    for (auto step : {StepEast, StepWest, StepNorth, StepSouth}) {
        for (const char* letters : {"q", "r", "s", "t", "qqq", "rrr", "sss", "ttt"}) {
            std::string key = source + letters;
            step(key, source.size());
            EXPECT_EQ(key.substr(0, source.size()), source) << letters;
            EXPECT_EQ(key.size(), source.size() + std::string(letters).size());
        }
    }
}

TEST(KeyLetters, RoundTripThroughTheTile) {
    std::mt19937_64 engine(7);
    for (int z = MinZoom; z <= MaxZoom; ++z) {
        std::uniform_int_distribution<int> cell(0, (1 << z) - 1);
        for (int i = 0; i < 500; ++i) {
            const int column = cell(engine);
            const int row = cell(engine);
            const std::string key = Source + KeyLetters(z, column, row);
            EXPECT_EQ(KeyToTile(key, Source.size()), (TileIndex{z, column, row}));
        }
    }
    EXPECT_EQ(KeyLetters(3, 4, 3), "rtt");
    EXPECT_EQ(KeyToTile("rtqsrqrqrr", 0), (TileIndex{10, 619, 320}));
    EXPECT_EQ(KeyToTile(Source, Source.size()), (TileIndex{0, 0, 0}));
}

struct Direction {
    const char* Name;
    void (*Step)(std::string&, std::size_t);
    void (*Back)(std::string&, std::size_t);
    int DColumn, DRow;
};

TEST(Steps, MoveOneTileWithWrapAndAreUndoneByTheOpposite) {
    const Direction directions[] = {{"east", StepEast, StepWest, 1, 0},
                                    {"west", StepWest, StepEast, -1, 0},
                                    {"north", StepNorth, StepSouth, 0, -1},
                                    {"south", StepSouth, StepNorth, 0, 1}};
    std::mt19937_64 engine(11);
    for (int z = MinZoom; z <= MaxZoom; ++z) {
        const int tiles = 1 << z;
        std::uniform_int_distribution<int> cell(0, tiles - 1);
        for (int i = 0; i < 300; ++i) {
            // Every fourth tile on the world's edge, so that wrapping is covered.
            int column = cell(engine);
            int row = cell(engine);
            if (i % 4 == 0) column = (i % 8 == 0) ? 0 : tiles - 1;
            if (i % 4 == 1) row = (i % 8 == 1) ? 0 : tiles - 1;
            const std::string start = Source + KeyLetters(z, column, row);
            for (const Direction& d : directions) {
                std::string key = start;
                d.Step(key, Source.size());
                const TileIndex moved = KeyToTile(key, Source.size());
                EXPECT_EQ(moved.Column, (column + d.DColumn + tiles) % tiles) << d.Name;
                EXPECT_EQ(moved.Row, (row + d.DRow + tiles) % tiles) << d.Name;
                d.Back(key, Source.size());
                EXPECT_EQ(key, start) << d.Name;
            }
        }
    }
}

TEST(TileNames, FileNamesAndUrlsOfTheZoomOneTiles) {
    for (const char* letters : {"q", "r", "s", "t"}) {
        const std::string key = Source + letters;
        const std::string name = TileName(key, Source.size());
        EXPECT_EQ(name, letters);
        EXPECT_EQ(TileFileName("/home/u/Cache/", name),
                  std::string("/home/u/Cache/") + letters + ".jpg");
        EXPECT_EQ(ArchiveEntryName(name), std::string(letters) + ".jpg");
        EXPECT_EQ(TileUrl(Source, name), key);
        EXPECT_EQ(TileUrl(Source, name).substr(TileUrl(Source, name).size() - 4),
                  std::string("t=t") + letters);
    }
    const TileKey rtt = TileKeyAt(3, -10, 10, Source);
    EXPECT_EQ(TileFileName("/c/", TileName(rtt.Key, Source.size())), "/c/rtt.jpg");
}

TEST(TileNames, TheWholeWorldTileHasNoLetters) {
    EXPECT_EQ(TileName(Source, Source.size()), "");
    EXPECT_EQ(TileFileName("/c/", TileName(Source, Source.size())), "/c/.jpg");
    EXPECT_EQ(ArchiveEntryName(""), ".jpg");
}

}  // namespace
