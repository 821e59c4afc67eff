#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/main_state.h"
#include "geo/projection.h"
#include "platform/numbers.h"
#include "platform/text_codec.h"
#include "view/favorites.h"
#include "view/navigation.h"
#include "view/selection.h"

namespace {

// The inverse of the grid at a fractional global pixel (x east, y south),
// so a test can place corners a known, non-integer number of pixels apart.
double LonAt(int z, double px) {
    const double w = 256.0 * std::pow(2.0, z);
    return (w - px) / w * 360 - 180;
}
double LatAt(int z, double py) {
    const double w = 256.0 * std::pow(2.0, z);
    return (M_PI / 2 - 2 * std::atan(std::exp((1 - 2 * (w - py) / w) * M_PI))) / M_PI * 180;
}

// A selection whose corners lie width x height pixels (plus a fraction of a
// pixel, so truncation cannot go either way) apart at zoom z. The north-west corner is
// a tile corner, whose grid values single precision holds exactly.
void SelectPixels(MainState& s, int z, double width, double height, double extra = 0.5) {
    const double x0 = 256 * std::floor(0.3 * std::pow(2.0, z));
    const double y0 = 256 * std::floor(0.35 * std::pow(2.0, z));
    s.SelLon1 = LonAt(z, x0);
    s.SelLat1 = LatAt(z, y0);
    s.SelLon2 = LonAt(z, x0 + width + extra);
    s.SelLat2 = LatAt(z, y0 + height + extra);
    s.HasSelection = true;
}

const std::string Nbsp = ThousandsSeparator;

TEST(SizeEstimate, GivesPixelsMemoryAndDownload) {
    MainState s;
    SelectPixels(s, 13, 4096, 2048, 0.25);  // 0.5 at zoom 14
    const SizeEstimateTexts t = SizeEstimate(s, 13);
    EXPECT_TRUE(t.HasSelection);
    EXPECT_EQ(t.Label15, "Выделено 4096x2048 пикселей");
    EXPECT_EQ(t.Panel2, "Выделено 4096x2048px, в памяти 24,000mb, скачать~1,200mb");

    // One level deeper doubles both sides and quadruples both figures.
    const SizeEstimateTexts deeper = SizeEstimate(s, 14);
    EXPECT_EQ(deeper.Panel2, "Выделено 8192x4096px, в памяти 96,000mb, скачать~4,800mb");
}

TEST(SizeEstimate, LargeSelectionsNeitherWrapNorGoNegative) {
    MainState s;
    SelectPixels(s, 16, 60000, 60000);
    EXPECT_EQ(SizeEstimate(s, 16).Panel2,
              "Выделено 60000x60000px, в памяти 10" + Nbsp + "299,680mb, скачать~514,984mb");
    // The whole world at zoom 20: 2^28 pixels a side.
    s.SelLat1 = 85.0511287798;
    s.SelLon1 = 180;
    s.SelLat2 = -85.0511287798;
    s.SelLon2 = -180;
    const std::string text = SizeEstimate(s, 20).Panel2;
    EXPECT_EQ(text.find('-'), std::string::npos) << text;
    EXPECT_NE(text.find("в памяти 206" + Nbsp + "158" + Nbsp + "400" + Nbsp + "000,000mb"),
              std::string::npos)
        << text;
}

TEST(SizeEstimate, WithoutSelectionOnlyResetsTheLabel) {
    MainState s;
    SizeEstimateTexts t = SizeEstimate(s, 13);
    EXPECT_FALSE(t.HasSelection);
    EXPECT_EQ(t.Label15, "----------------------");
    EXPECT_EQ(t.Panel2, "");
    // A rectangle being dragged out counts, and a task zoom out of range is
    // brought into 1..20.
    SelectPixels(s, 1, 100, 50);
    s.HasSelection = false;
    s.Selecting = true;
    t = SizeEstimate(s, 0);
    EXPECT_TRUE(t.HasSelection);
    EXPECT_EQ(t.Label15, "Выделено 100x50 пикселей");
}

TEST(Selection, CornersAreStoredNorthWestFirstWhateverTheDragDirection) {
    MainState s;
    s.Zoom = 10;
    s.CenterLat = 55.7558;
    s.CenterLon = -37.6173;
    s.ViewBitmap.SetSize(800, 600);
    struct Drag {
        int X1, Y1, X2, Y2;
    };
    for (const Drag d : {Drag{100, 80, 500, 400}, Drag{500, 400, 100, 80}, Drag{100, 400, 500, 80},
                         Drag{500, 80, 100, 400}}) {
        s.SelLeft = d.X1;
        s.SelTop = d.Y1;
        s.SelRight = d.X2;
        s.SelBottom = d.Y2;
        StoreSelectionCorners(s);
        EXPECT_TRUE(s.HasSelection);
        EXPECT_EQ(s.SelLeft, 100);
        EXPECT_EQ(s.SelTop, 80);
        EXPECT_EQ(s.SelRight, 500);
        EXPECT_EQ(s.SelBottom, 400);
        EXPECT_GT(s.SelLat1, s.SelLat2);
        EXPECT_GT(s.SelLon1, s.SelLon2) << "west positive: the west corner has the larger value";
        const PixelOffset size = PixelDelta(10, s.SelLon2, s.SelLat2, s.SelLon1, s.SelLat1);
        EXPECT_NEAR(size.Dx, -400, 1);
        EXPECT_NEAR(size.Dy, -320, 1);
    }
}

TEST(SelectionFrame, DotsInvertTheViewAndMoveWithThePhase) {
    Bitmap view(50, 40);
    view.Fill({10, 200, 30});
    const auto frame = SelectionFrame(view, 0, 0, 30, 25, 5, 5, 0);  // corners in any order
    ASSERT_EQ(frame.size(), 4u);
    int dots = 0, gaps = 0;
    for (const FrameStrip& s : frame) {
        EXPECT_TRUE(s.Pixels.Width() == 1 || s.Pixels.Height() == 1);
        EXPECT_GE(s.X, 5);
        EXPECT_GE(s.Y, 5);
        EXPECT_LE(s.X + s.Pixels.Width(), 30);
        EXPECT_LE(s.Y + s.Pixels.Height(), 25);
        for (int y = 0; y < s.Pixels.Height(); ++y)
            for (int x = 0; x < s.Pixels.Width(); ++x)
                (s.Pixels.Pixel(x, y) == Rgb{245, 55, 225} ? dots : gaps)++;
    }
    EXPECT_GT(dots, 20);
    EXPECT_GT(gaps, 20);
    // The top edge starts with a dot at phase 0; a phase of one dot length
    // turns it into a gap.
    const FrameStrip* top = nullptr;
    for (const FrameStrip& s : frame)
        if (s.Y == 5 && s.Pixels.Height() == 1) top = &s;
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->Pixels.Pixel(0, 0), (Rgb{245, 55, 225}));
    for (const FrameStrip& s : SelectionFrame(view, 0, 0, 5, 5, 30, 25, FrameDotLength))
        if (s.Y == 5 && s.Pixels.Height() == 1) {
            EXPECT_EQ(s.Pixels.Pixel(0, 0), (Rgb{10, 200, 30}));
        }
}

TEST(SelectionFrame, StaysVisibleOnMidGreyAndIsClippedToTheView) {
    EXPECT_EQ(FrameDotColor({128, 128, 128}), (Rgb{0, 0, 0}));
    EXPECT_EQ(FrameDotColor({120, 120, 120}), (Rgb{255, 255, 255}));
    EXPECT_EQ(FrameDotColor({0, 0, 0}), (Rgb{255, 255, 255}));
    Bitmap view(20, 20);
    view.Fill({0, 0, 0});
    for (const FrameStrip& s : SelectionFrame(view, 0, 0, -10, -10, 50, 10, 0)) {
        EXPECT_GE(s.X, 0);
        EXPECT_GE(s.Y, 0);
        EXPECT_LE(s.X + s.Pixels.Width(), 20);
        EXPECT_LE(s.Y + s.Pixels.Height(), 20);
    }
    EXPECT_TRUE(SelectionFrame(view, 0, 0, 5, 5, 5, 9, 0).empty()) << "no width, no frame";
}

TEST(Favorites, LinesHaveFixedColumns) {
    struct Case {
        const char* Name;
        const char* Zoom;
        const char* Lat;
        const char* Lon;
        std::string Expected;
    };
    const Case cases[] = {
        {"Дача", "13", "55°45,348'", "37°37,038'",
         "Дача" + std::string(16, ' ') + " 13 N55°45,348'" + std::string(4, ' ') + " E37°37,038'" +
             std::string(4, ' ')},
        {"Дача", "5", "55°45,348'", "37°37,038'",
         "Дача" + std::string(16, ' ') + " 5  N55°45,348'" + std::string(4, ' ') + " E37°37,038'" +
             std::string(4, ' ')},
        // Names are cut to 20 characters, counting Cyrillic letters as one.
        {"Очень длинное имя места", "20", "1", "2",
         "Очень длинное имя ме 20 N1" + std::string(13, ' ') + " E2" + std::string(13, ' ')},
        // Full-length coordinate texts fill their columns exactly.
        {"", "1", "89°59,999'1234", "179°59,999'123",
         std::string(20, ' ') + " 1  N89°59,999'1234 E179°59,999'123"},
    };
    for (const Case& c : cases) {
        const std::string line = BuildFavoriteLine(c.Name, c.Zoom, "N", c.Lat, "E", c.Lon);
        EXPECT_EQ(line, c.Expected) << c.Name << "/" << c.Zoom;
        EXPECT_EQ(Utf8Length(line), 55u) << c.Name;
    }
    EXPECT_EQ(FavoriteName("Дача"), "Дача" + std::string(16, ' '));
    EXPECT_EQ(Utf8Length(FavoriteName("абвгдеёжзийклмнопрстуф")), 20u);
}

TEST(Favorites, LinesReadBackIntoThePanel) {
    const std::string line = BuildFavoriteLine("Дача", "13", "N", "55°45,348'", "E", "37°37,038'");
    auto f = ParseFavoriteLine(line);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->ZoomIndex, 12);
    EXPECT_EQ(f->LatHemisphere, 0);
    EXPECT_EQ(f->LonHemisphere, 1);
    EXPECT_EQ(f->LatText, "55°45,348'");
    EXPECT_EQ(f->LonText, "37°37,038'");

    f = ParseFavoriteLine(BuildFavoriteLine("x", "5", "S", "10", "W", "20"));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->ZoomIndex, 4);
    EXPECT_EQ(f->LatHemisphere, 1);
    EXPECT_EQ(f->LonHemisphere, 0);

    // A zoom that is not a number counts as 1.
    std::string odd = line;
    odd.replace(odd.find(" 13 "), 4, " ab ");
    f = ParseFavoriteLine(odd);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->ZoomIndex, 0);

    // Short lines stay in the list but mean nothing.
    EXPECT_FALSE(ParseFavoriteLine("____________________ N E"));
    EXPECT_FALSE(ParseFavoriteLine(Utf8Left(line, 54)));
    EXPECT_FALSE(ParseFavoriteLine(""));
}

TEST(Navigation, DraggingPastTheWorldsEdgeStopsAtTheEdge) {
    MainState s;
    s.Zoom = 3;
    s.CenterLat = 10;
    s.CenterLon = 170;
    s.ViewBitmap.SetSize(800, 600);
    s.DragStartX = 0;
    s.DragStartY = 0;
    MoveByDrag(s, 100000, 100000);  // drag toward the south-east: the view goes north-west
    EXPECT_DOUBLE_EQ(s.CenterLon, 180);
    EXPECT_DOUBLE_EQ(s.CenterLat, ClampLatitude);
    MoveByDrag(s, -200000, -200000);
    EXPECT_DOUBLE_EQ(s.CenterLon, -180);
    EXPECT_DOUBLE_EQ(s.CenterLat, -ClampLatitude);

    // A centre with no position (a hand-edited settings file) is brought
    // into the world before it moves.
    s.CenterLat = 95;
    s.CenterLon = 400;
    MoveByDrag(s, 0, 0);
    EXPECT_LE(std::fabs(s.CenterLat), ClampLatitude);
    EXPECT_LE(std::fabs(s.CenterLon), 180);
}

TEST(Navigation, ShiftedViewUncoversStripsOnTheDraggedSides) {
    ShiftedView v = ShiftedViewLayout(400, 300, 400, 300, 30, -20);
    EXPECT_EQ(v.BitmapX, 30);
    EXPECT_EQ(v.BitmapY, -20);
    EXPECT_EQ(v.Strips[0], (Rect{0, 0, 30, 300}));
    EXPECT_EQ(v.Strips[1], (Rect{0, 280, 400, 20}));
    v = ShiftedViewLayout(400, 300, 400, 300, -5, 7);
    EXPECT_EQ(v.Strips[0], (Rect{395, 0, 5, 300}));
    EXPECT_EQ(v.Strips[1], (Rect{0, 0, 400, 7}));
    v = ShiftedViewLayout(400, 300, 400, 300, 0, 0);
    EXPECT_TRUE(v.Strips[0].Empty());
    EXPECT_TRUE(v.Strips[1].Empty());
}

TEST(Navigation, WheelDeltasMakeWholeNotches) {
    int rest = 0;
    EXPECT_EQ(TakeWheelNotches(rest, -120), 1);  // toward the user
    EXPECT_EQ(TakeWheelNotches(rest, 120), -1);  // away
    EXPECT_EQ(TakeWheelNotches(rest, -60), 0);   // half a notch of a fine wheel
    EXPECT_EQ(TakeWheelNotches(rest, -60), 1);
    EXPECT_EQ(TakeWheelNotches(rest, -360), 3);
    EXPECT_EQ(TakeWheelNotches(rest, 100), 0);
    EXPECT_EQ(TakeWheelNotches(rest, 20), -1);
}

}  // namespace

TEST(Selection, ShapeEstimateGivesTheTileCountAndItsDownload) {
    MainState state;
    SelectPixels(state, 10, 700, 700);
    const SizeEstimateTexts box = SizeEstimate(state, 10);
    const SizeEstimateTexts shape = SizeEstimate(state, 10, 1000);
    EXPECT_EQ(shape.Label15, "Тайлов в области: 1000");
    // The stitch is still the box; the download is 1000 tiles of 192 KB, 5 %.
    EXPECT_EQ(shape.Panel2.substr(0, box.Panel2.find(", скачать")),
              box.Panel2.substr(0, box.Panel2.find(", скачать")));
    EXPECT_NE(shape.Panel2.find("тайлов в области: 1000, скачать~9,375mb"), std::string::npos)
        << shape.Panel2;
    EXPECT_EQ(SizeEstimate(state, 10, -1).Label15, box.Label15);
}

TEST(Selection, ZoomToRegionFitsTheAreaAndCentresIt) {
    struct Case {
        RegionCorners Region;
        int Width, Height;
        int Zoom;  // 0: the largest that fits, checked below
    };
    const Case cases[] = {
        {{56, -37, 55, -38}, 800, 600, 0},
        {{56, -37, 55, -38}, 300, 300, 0},
        {{10, 100, -60, -20}, 1900, 1000, 0},
        {{80, 170, -80, -170}, 100, 100, 1},  // the world never fits: zoom 1
        {{55.5, -37.5, 55.5, -37.5}, 800, 600, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Width << "x" << c.Height << " " << c.Region.Lat1);
        MainState state;
        ZoomToRegion(state, c.Region, c.Width, c.Height);
        if (c.Zoom) {
            EXPECT_EQ(state.Zoom, c.Zoom);
        }
        const RegionPixels size = RegionPixelSize(state.Zoom, c.Region);
        if (state.Zoom > 1) {
            EXPECT_LE(size.Width, c.Width);
            EXPECT_LE(size.Height, c.Height);
        }
        if (state.Zoom < 20) {
            const RegionPixels larger = RegionPixelSize(state.Zoom + 1, c.Region);
            EXPECT_TRUE(larger.Width > c.Width || larger.Height > c.Height);
        }
        // The centre lies halfway between the corners on the screen.
        const PixelOffset d =
            PixelDelta(state.Zoom, c.Region.Lon1, c.Region.Lat1, state.CenterLon, state.CenterLat);
        // PixelDelta's own error grows from zoom 17 on.
        const int slack = 1 + (1 << std::max(0, state.Zoom - 17));
        EXPECT_NEAR(d.Dx, size.Width / 2, slack);
        EXPECT_NEAR(d.Dy, size.Height / 2, slack);
    }
}
