#include "formats/stitch_pieces.h"

#include <gtest/gtest.h>

#include "geo/projection.h"
#include "platform/numbers.h"

namespace {

constexpr int Zoom = 13;
constexpr double Lat = 55.7558, Lon = -37.6173;  // 37.6173 E

TEST(StitchPieces, CutColumnByColumnWithNarrowerLastOnes) {
    const auto pieces =
        CutIntoPieces("/maps/base.jpg", Zoom, Lat, Lon, 12000, 7000, 5000, 5000, false);
    ASSERT_EQ(pieces.size(), 6u);
    struct Want {
        const char* Name;
        int X, Y, W, H;
    };
    const Want want[] = {
        {"/maps/base_1.jpg", 0, 0, 5000, 5000},     {"/maps/base_2.jpg", 0, 5000, 5000, 2000},
        {"/maps/base_3.jpg", 5000, 0, 5000, 5000},  {"/maps/base_4.jpg", 5000, 5000, 5000, 2000},
        {"/maps/base_5.jpg", 10000, 0, 2000, 5000}, {"/maps/base_6.jpg", 10000, 5000, 2000, 2000},
    };
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pieces[i].FileName, want[i].Name);
        EXPECT_EQ(pieces[i].X, want[i].X);
        EXPECT_EQ(pieces[i].Y, want[i].Y);
        EXPECT_EQ(pieces[i].Width, want[i].W);
        EXPECT_EQ(pieces[i].Height, want[i].H);
        // Each corner lies at its offset from the first one (the region's
        // corner snapped to its pixel), and the
        // corners span the piece's size, so the task made from them gets
        // exactly this picture.
        EXPECT_EQ(PixelDelta(Zoom, pieces[0].Lon1, pieces[0].Lat1, pieces[i].Lon1, pieces[i].Lat1),
                  (PixelOffset{want[i].X, want[i].Y}));
        EXPECT_EQ(PixelDelta(Zoom, pieces[i].Lon1, pieces[i].Lat1, pieces[i].Lon2, pieces[i].Lat2),
                  (PixelOffset{want[i].W, want[i].H}));
    }
    // Neighbours share their edges.
    EXPECT_EQ(pieces[0].Lat2, pieces[1].Lat1);
    EXPECT_EQ(pieces[0].Lon2, pieces[2].Lon1);
}

TEST(StitchPieces, CoordinatesOfEachPiecesOwnCornerInTheName) {
    const auto pieces =
        CutIntoPieces("/maps/city.jpg", Zoom, Lat, Lon, 12000, 7000, 5000, 5000, true);
    ASSERT_EQ(pieces.size(), 6u);
    EXPECT_EQ(pieces[2].FileName, "/maps/city_3_" + FormatFixed(pieces[2].Lat1, 5) + "_" +
                                      FormatFixed(pieces[2].Lon1, 5) + ".jpg");
    // 5000 px east of 37.6173 E at zoom 13 is about 38.48 E: a minus sign, a comma.
    EXPECT_EQ(pieces[2].FileName.substr(0, 27), "/maps/city_3_55,75581_-38,4");
}

TEST(StitchPieces, NameRules) {
    EXPECT_EQ(AddCoordinatesToName("/d/city.jpg", 55.75, -37.6173),
              "/d/city_55,75000_-37,61730.jpg");
    EXPECT_EQ(AddCoordinatesToName("/d/w.jpg", -0.5, 120), "/d/w_-0,50000_120,00000.jpg");
    EXPECT_EQ(PieceFileName("/d/карта.jpg", 12), "/d/карта_12.jpg");
    // Four characters go whatever they are.
    EXPECT_EQ(PieceFileName("/d/city.jpeg", 1), "/d/city._1.jpg");
}

TEST(StitchPieces, OnePieceWhenItFitsAndNoneForABadSize) {
    const auto one = CutIntoPieces("/b.jpg", Zoom, Lat, Lon, 300, 200, 5000, 5000, false);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].Width, 300);
    EXPECT_EQ(one[0].Height, 200);
    EXPECT_TRUE(CutIntoPieces("/b.jpg", Zoom, Lat, Lon, 300, 200, 0, 5000, false).empty());
    EXPECT_TRUE(CutIntoPieces("/b.jpg", Zoom, Lat, Lon, 0, 200, 100, 100, false).empty());
}

}  // namespace
