#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "core/main_state.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tilestore/jpeg_image.h"
#include "view/map_view.h"

namespace {

constexpr Rgb Fill{255, 0, 255};  // never in a tile or a placeholder

// Records what the tile lookup lets through while a composition runs.
class RecordingSink : public UiSink {
  public:
    std::function<void()> OnProcessMessages;
    void ProcessMessages() override {
        ++Calls;
        if (OnProcessMessages) OnProcessMessages();
    }
    int Calls = 0;
};

struct Queued {
    std::string Name;
    int X, Y;
    bool operator<(const Queued& o) const {
        return std::tie(Name, X, Y) < std::tie(o.Name, o.X, o.Y);
    }
    bool operator==(const Queued&) const = default;
};

class ViewFixture : public testing::Test {
  protected:
    void SetUp() override {
        InitStartValues(State, Dir.Path());
        SetCachePath(State, Dir.Path());
        State.GenerateUpperLayers = false;  // keep the cache folder as the test made it
        State.Sink = &Sink;
        ViewHooks hooks;
        hooks.FillColor = Fill;
        hooks.Repaint = [this] {
            ++Repaints;
            if (State.Rendering) ++ProgressRepaints;
        };
        hooks.EnableControls = [this](bool on) {
            Enables.push_back(on);
            State.ControlsEnabled = on;
        };
        hooks.SetBusyCursor = [this](bool busy) { Busy.push_back(busy); };
        hooks.StartViewLoader = [this](std::unique_ptr<jtype> list) {
            StartWorker(std::move(list));
        };
        View = std::make_unique<MapView>(State, std::move(hooks));
    }

    // What a view-fill worker does when it starts, without the thread: the
    // list is kept for the test to read.
    void StartWorker(std::unique_ptr<jtype> list) {
        auto stop = std::make_shared<std::atomic<uint8_t>>(0);
        std::lock_guard<std::mutex> lock(State.ThreadLock);
        State.ViewLoaderStop = stop;
        ++State.ViewLoaderCount;
        Flags.push_back(stop);
        Lists.push_back(std::move(list));
    }

    // The queued tiles of worker `n` in the order the worker takes them
    // (oldest first: the list is newest first).
    std::vector<Queued> QueuedInWorkerOrder(size_t n) const {
        std::vector<Queued> out;
        for (const jtype* node = Lists.at(n).get(); node; node = node->Next.get())
            out.push_back({node->TileName, node->X, node->Y});
        return {out.rbegin(), out.rend()};
    }

    void Compose(int zoom, double lat, double lon, int w, int h) {
        State.Zoom = zoom;
        State.CenterLat = lat;
        State.CenterLon = lon;
        State.ViewBitmap.SetSize(w, h);
        State.ViewBitmap.Fill({1, 2, 3});
        View->RefreshView();
    }

    TempDir Dir;
    MainState State;
    RecordingSink Sink;
    std::unique_ptr<MapView> View;
    int Repaints = 0, ProgressRepaints = 0;
    std::vector<bool> Enables, Busy;
    std::vector<std::shared_ptr<std::atomic<uint8_t>>> Flags;
    std::vector<std::unique_ptr<jtype>> Lists;
};

// Every world tile that overlaps the area, worked out from the grid alone:
// the centre's global pixel sits at the middle of the area.
std::set<Queued> ExpectedTiles(int z, double lat, double lon, int w, int h) {
    std::set<Queued> out;
    if (std::fabs(lat) >= 90) return out;
    const TilePosition c = TileAt(z, lon, lat);
    const long long px = 256LL * c.Column + c.XOffset, py = 256LL * c.Row + c.YOffset;
    const int tiles = 1 << z;
    for (int col = 0; col < tiles; ++col) {
        const long long x = w / 2 + 256LL * col - px;
        if (x + 256 <= 0 || x >= w) continue;
        for (int row = 0; row < tiles; ++row) {
            const long long y = h / 2 + 256LL * row - py;
            if (y + 256 <= 0 || y >= h) continue;
            out.insert({KeyLetters(z, col, row), static_cast<int>(x), static_cast<int>(y)});
        }
    }
    return out;
}

struct ViewCase {
    const char* Name;
    int Zoom;
    double Lat, Lon;  // west positive
    int Width, Height;
};

void PrintTo(const ViewCase& c, std::ostream* os) {
    *os << c.Name;
}

class ViewCoverage : public ViewFixture, public testing::WithParamInterface<ViewCase> {};

// With an empty cache every tile drawn is queued with its key and position,
// so the queue tells exactly which tiles were drawn where: each world tile
// over the area once, none wrapped round the world, and every pixel either
// a tile's or the fill colour where no world is.
TEST_P(ViewCoverage, DrawsEachWorldTileOnceAndFillsTheRest) {
    const ViewCase& c = GetParam();
    Compose(c.Zoom, c.Lat, c.Lon, c.Width, c.Height);

    const std::set<Queued> expected = ExpectedTiles(c.Zoom, c.Lat, c.Lon, c.Width, c.Height);
    std::vector<Queued> queued;
    if (!Lists.empty()) queued = QueuedInWorkerOrder(0);
    EXPECT_EQ(Lists.size(), expected.empty() ? 0u : 1u);
    std::set<Queued> unique(queued.begin(), queued.end());
    EXPECT_EQ(unique.size(), queued.size()) << "a tile was drawn twice";
    EXPECT_EQ(unique, expected);

    // Pixels: inside a world tile the placeholder grey, elsewhere the fill.
    const int tiles = 1 << c.Zoom;
    const TilePosition centre =
        std::fabs(c.Lat) < 90 ? TileAt(c.Zoom, c.Lon, c.Lat) : TilePosition{};
    const long long px = 256LL * centre.Column + centre.XOffset;
    const long long py = 256LL * centre.Row + centre.YOffset;
    int wrong = 0;
    for (int y = 0; y < c.Height; y += 7) {
        for (int x = 0; x < c.Width; x += 7) {
            const long long gx = px + x - c.Width / 2, gy = py + y - c.Height / 2;
            const bool world = std::fabs(c.Lat) < 90 && gx >= 0 && gy >= 0 && gx < 256LL * tiles &&
                               gy < 256LL * tiles;
            const Rgb p = State.ViewBitmap.Pixel(x, y);
            if (world ? p == Fill || p == Rgb{1, 2, 3} : !(p == Fill)) ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0);
}

const ViewCase Cases[] = {
    {"Zoom1WholeWorldWithSideStrips", 1, 0, 0, 708, 401},
    {"TallerThanWide", 3, 0, 0, 200, 1000},
    {"TallerThanWideOffCentre", 6, 30.5, -40.25, 150, 1200},
    {"DateLineFromTheWest", 4, 10, 179.5, 900, 500},
    {"DateLineFromTheEast", 4, -10, -179.5, 900, 500},
    {"CentreOnTheWorldsEdge", 3, 20, 180, 640, 480},
    {"NearTheNorthernEdge", 5, 84.9, 10, 800, 600},
    {"NearTheSouthernEdge", 5, -84.9, -10, 800, 600},
    {"WholeWorldSmallerThanArea", 1, 0, 0, 1300, 1300},
    {"LatitudeOutsideTheWorld", 2, 87, 0, 640, 480},
    {"LatitudeJustBelowNinety", 20, 89.9999, 0, 640, 480},
    {"DeepZoom", 20, 55.7558, -37.6173, 1920, 1080},
    {"OnePixelArea", 7, 1, 1, 1, 1},
};

INSTANTIATE_TEST_SUITE_P(Views, ViewCoverage, testing::ValuesIn(Cases),
                         [](const testing::TestParamInfo<ViewCase>& info) {
                             return info.param.Name;
                         });

TEST_F(ViewFixture, Zoom1DrawsTheFourCachedTilesAtTheirPlaces) {
    const char* names[4] = {"q", "r", "s", "t"};
    std::map<std::string, std::string> bytes;
    for (uint32_t i = 0; i < 4; ++i) {
        bytes[names[i]] = MakeTileJpeg(256, 256, i + 1);
        ASSERT_TRUE(Dir.WriteFile(std::string(names[i]) + ".jpg", bytes[names[i]]));
    }
    Compose(1, 0, 0, 708, 401);

    EXPECT_TRUE(Lists.empty()) << "everything came from the cache";
    EXPECT_EQ(State.ViewLoaderStop, nullptr);
    EXPECT_EQ(State.CenterOffsetX, 0);
    EXPECT_EQ(State.CenterOffsetY, 256);
    const std::map<std::string, std::pair<int, int>> corners = {
        {"q", {98, -56}}, {"r", {354, -56}}, {"s", {354, 200}}, {"t", {98, 200}}};
    for (const auto& [name, at] : corners) {
        JpegImage tile;
        ASSERT_TRUE(tile.Decode(bytes[name]));
        int mismatches = 0;
        for (int ty = 0; ty < 256; ty += 5) {
            for (int tx = 0; tx < 256; tx += 5) {
                const int x = at.first + tx, y = at.second + ty;
                if (y < 0 || y >= 401) continue;
                if (!(State.ViewBitmap.Pixel(x, y) == tile.Picture().Pixel(tx, ty))) ++mismatches;
            }
        }
        EXPECT_EQ(mismatches, 0) << name;
    }
    for (int y : {0, 200, 400}) {
        EXPECT_EQ(State.ViewBitmap.Pixel(0, y), Fill);
        EXPECT_EQ(State.ViewBitmap.Pixel(97, y), Fill);
        EXPECT_NE(State.ViewBitmap.Pixel(98, y), Fill);
        EXPECT_NE(State.ViewBitmap.Pixel(609, y), Fill);
        EXPECT_EQ(State.ViewBitmap.Pixel(610, y), Fill);
        EXPECT_EQ(State.ViewBitmap.Pixel(707, y), Fill);
    }
}

// Chebyshev distance of a tile from the centre tile: its ring.
int RingOf(const Queued& q, int centreX, int centreY) {
    return std::max(std::abs(q.X - centreX), std::abs(q.Y - centreY)) / 256;
}

TEST_F(ViewFixture, QueuesTilesNearestTheCentreFirstInRingOrder) {
    Compose(8, 40, -20, 1400, 900);
    ASSERT_EQ(Lists.size(), 1u);
    const std::vector<Queued> order = QueuedInWorkerOrder(0);
    ASSERT_GT(order.size(), 20u);
    const int cx = 1400 / 2 - State.CenterOffsetX, cy = 900 / 2 - State.CenterOffsetY;
    EXPECT_EQ(order.front().X, cx);
    EXPECT_EQ(order.front().Y, cy);
    for (size_t i = 1; i < order.size(); ++i)
        ASSERT_LE(RingOf(order[i - 1], cx, cy), RingOf(order[i], cx, cy)) << "at " << i;
    // Ring 1 starts with its top row, left to right, then turns down the
    // right column: the first tile after the centre is the one above it.
    EXPECT_EQ(order[1].X, cx);
    EXPECT_EQ(order[1].Y, cy - 256);
    EXPECT_EQ(order[2].X, cx + 256);
    EXPECT_EQ(order[2].Y, cy - 256);
    EXPECT_EQ(order[3].X, cx + 256);
    EXPECT_EQ(order[3].Y, cy);
    // Each node carries what the worker needs to draw it.
    for (const jtype* n = Lists[0].get(); n; n = n->Next.get()) {
        EXPECT_EQ(n->Canvas, &State.ViewBitmap);
        EXPECT_EQ(n->Url, State.SourceString + n->TileName);
        EXPECT_EQ(n->FileName, Dir.Path() + n->TileName + ".jpg");
        ASSERT_TRUE(n->Image && n->Image->HasPicture()) << "the placeholder drawn";
    }
}

TEST_F(ViewFixture, RefreshDisablesInputsWhileComposingAndStopsThePreviousWorker) {
    bool sawRendering = false, sawEnabled = false;
    Sink.OnProcessMessages = [&] {
        sawRendering = sawRendering || State.Rendering;
        sawEnabled = sawEnabled || State.ControlsEnabled;
    };
    Compose(5, 50, -30, 500, 400);
    EXPECT_TRUE(sawRendering);
    EXPECT_FALSE(sawEnabled) << "inputs must be off while tiles load";
    EXPECT_EQ(Enables, (std::vector<bool>{false, true}));
    EXPECT_EQ(Busy, (std::vector<bool>{true, false}));
    EXPECT_FALSE(State.Rendering);
    ASSERT_EQ(Flags.size(), 1u);
    EXPECT_EQ(State.ViewLoaderStop, Flags[0]);

    // A second refresh at once: the first worker is told to stop and only
    // the new list goes on.
    State.CenterLat = 51;
    View->RefreshView();
    ASSERT_EQ(Flags.size(), 2u);
    EXPECT_EQ(Flags[0]->load(), 1);
    EXPECT_EQ(Flags[1]->load(), 0);
    EXPECT_EQ(State.ViewLoaderStop, Flags[1]);
}

TEST_F(ViewFixture, NoQueueClearsTheStopFlagWithoutTouchingTheOldWorkersFlag) {
    Compose(5, 50, -30, 500, 400);
    ASSERT_EQ(Flags.size(), 1u);
    SetWorkMode(State, 0);
    View->RefreshView();
    EXPECT_EQ(Flags[0]->load(), 1);
    EXPECT_EQ(State.ViewLoaderStop, nullptr);
    EXPECT_EQ(Flags.size(), 1u);
}

TEST_F(ViewFixture, RefreshAskedForDuringACompositionRunsAfterIt) {
    int nested = 0;
    Sink.OnProcessMessages = [&] {
        if (nested++ == 0) {
            State.Zoom = 6;  // what a zoom timer firing meanwhile would do
            View->RefreshView();
            EXPECT_TRUE(View->Composing());
        }
    };
    Compose(5, 50, -30, 500, 400);
    EXPECT_EQ(View->Compositions(), 2);
    ASSERT_EQ(Lists.size(), 2u);
    EXPECT_EQ(Lists[1]->TileName.size(), 6u) << "the second composition used the new zoom";
    EXPECT_EQ(Flags[0]->load(), 1);
}

TEST_F(ViewFixture, SlowTileRepaintsAtOnce) {
    // The lookup lets events through before and after each tile: the third
    // call is the start of the second tile, which then takes 150 ms.
    Sink.OnProcessMessages = [&] {
        if (Sink.Calls == 3) std::this_thread::sleep_for(std::chrono::milliseconds(150));
    };
    std::vector<int> callsAtRepaint;
    View->Hooks().Repaint = [&] { callsAtRepaint.push_back(Sink.Calls); };
    Compose(4, 0, 0, 300, 300);
    ASSERT_GE(callsAtRepaint.size(), 2u);
    EXPECT_EQ(callsAtRepaint.front(), 4) << "right after the slow tile";
    EXPECT_EQ(callsAtRepaint.back(), Sink.Calls) << "and once more at the end";
}

TEST_F(ViewFixture, ZoomOutsideTheRangeNeverReachesTheProjection) {
    Compose(0, 10, 10, 400, 300);
    ASSERT_EQ(Lists.size(), 1u);
    EXPECT_EQ(Lists[0]->TileName.size(), 1u);
    Compose(25, 10, 10, 400, 300);
    ASSERT_EQ(Lists.size(), 2u);
    EXPECT_EQ(Lists[1]->TileName.size(), 20u);
}

TEST_F(ViewFixture, GrowingTheAreaComposesAndShrinkingCropsTheMiddle) {
    SetWorkMode(State, 0);
    Compose(3, 10, -10, 400, 300);
    ASSERT_EQ(View->Compositions(), 1);
    // Mark the picture so the crop can be followed.
    State.ViewBitmap.FillRect(200, 150, 1, 1, {9, 9, 9});

    View->Panel1Resize(300, 200);
    EXPECT_EQ(View->Compositions(), 1);
    EXPECT_EQ(State.ViewBitmap.Width(), 300);
    EXPECT_EQ(State.ViewBitmap.Height(), 200);
    EXPECT_EQ(State.ViewBitmap.Pixel(150, 100), (Rgb{9, 9, 9})) << "the middle stays in the middle";
    EXPECT_GE(Repaints, 2);

    View->Panel1Resize(300, 200);
    EXPECT_EQ(View->Compositions(), 1) << "same size: nothing to do";
    View->Panel1Resize(301, 200);
    EXPECT_EQ(View->Compositions(), 2) << "one pixel more composes";
    EXPECT_EQ(State.ViewBitmap.Width(), 301);
    View->Panel1Resize(0, 0);
    EXPECT_EQ(State.ViewBitmap.Width(), 301) << "a minimised area keeps the picture";
}

TEST_F(ViewFixture, ShrinkingWhileAWorkerFillsComposesAgain) {
    Compose(3, 10, -10, 400, 300);
    ASSERT_EQ(Flags.size(), 1u);
    View->Panel1Resize(300, 200);
    EXPECT_EQ(View->Compositions(), 2) << "its tiles would land at the old places";
    EXPECT_EQ(Flags[0]->load(), 1);
}

TEST_F(ViewFixture, ResizeDuringACompositionIsAppliedAfterIt) {
    int calls = 0;
    Sink.OnProcessMessages = [&] {
        if (++calls == 1) View->Panel1Resize(500, 400);
    };
    SetWorkMode(State, 0);
    Compose(3, 10, -10, 400, 300);
    EXPECT_EQ(State.ViewBitmap.Width(), 500);
    EXPECT_EQ(State.ViewBitmap.Height(), 400);
    EXPECT_EQ(View->Compositions(), 2);
}

}  // namespace
