#include "tilestore/parent_tiles.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_io.h"
#include "store_fixture.h"
#include "zip_fixture.h"

namespace {

class ParentTiles : public StoreTest {
protected:
    ParentTiles() { State.GenerateUpperLayers = true; }

    // Stores valid tiles, each its own picture.
    void Store(std::initializer_list<const char*> letters) {
        for (const char* l : letters)
            ASSERT_TRUE(Cache.WriteFile(std::string(l) + ".jpg", Tile(l)));
    }
    static std::string Tile(const std::string& letters) {
        return MakeTileJpeg(256, 256, static_cast<uint32_t>(std::hash<std::string>()(letters)));
    }
    void Read(const std::string& letters) {
        jtype tile = Record(letters);
        ASSERT_TRUE(LoadTile(State, tile));
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(Cache.Path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ParentTiles, OnlyTheQChildTriggersTheBuild) {
    for (const char* read : {"rtr", "rts", "rtt"}) {
        Store({"rtq", "rtr", "rts", "rtt"});
        Read(read);
        EXPECT_FALSE(Cache.Exists("rt.jpg")) << read;
    }
    Read("rtq");
    ASSERT_TRUE(Cache.Exists("rt.jpg"));
    JpegImage parent;
    ASSERT_TRUE(parent.LoadFile(Cache.File("rt.jpg")));
    EXPECT_TRUE(CheckTileJpeg(parent));
    EXPECT_EQ(parent.Picture().Width(), 256);
    // No temporary files are left behind, nothing else is written.
    EXPECT_EQ(Files(),
              (std::vector<std::string>{"rt.jpg", "rtq.jpg", "rtr.jpg", "rts.jpg", "rtt.jpg"}));
}

TEST_F(ParentTiles, SwitchedOffNothingIsBuilt) {
    State.GenerateUpperLayers = false;
    Store({"rtq", "rtr", "rts", "rtt"});
    Read("rtq");
    EXPECT_FALSE(Cache.Exists("rt.jpg"));
}

TEST_F(ParentTiles, BuiltOnceTheQChildArrives) {
    Store({"rtr", "rts", "rtt"});
    BuildParentTile(State, TileFile("rtq"));
    EXPECT_FALSE(Cache.Exists("rt.jpg"));
    Store({"rtq"});
    BuildParentTile(State, TileFile("rtq"));
    EXPECT_TRUE(Cache.Exists("rt.jpg"));
}

TEST_F(ParentTiles, OneBadSiblingStopsTheBuildAndTheClimb) {
    // Were the climb tried, rq (present, replaceable) would act as the q
    // child of r, whose other children are all there.
    State.ReplaceUpperLayers = true;
    Store({"rqq", "rqr", "rqs", "rr", "rs", "rt"});
    ASSERT_TRUE(Cache.WriteFile("rq.jpg", Tile("old rq")));
    struct Case {
        const char* What;
        std::string Rqt;
    };
    const std::string small = MakeSolidJpeg(64, 64, 200, 30, 30);
    ASSERT_LT(small.size(), 1200u);
    for (const Case& c : {Case{"1200 bytes", PadJpegToSize(small, 1200)},
                          Case{"ends FF D8", WithLastBytes(Tile("rqt"), 0xFF, 0xD8)},
                          Case{"not a picture", std::string(5000, 'x')}}) {
        SCOPED_TRACE(c.What);
        ASSERT_TRUE(Cache.WriteFile("rqt.jpg", c.Rqt));
        BuildParentTile(State, TileFile("rqq"));
        EXPECT_TRUE(Cache.ReadFile("rq.jpg") == Tile("old rq"));
        EXPECT_FALSE(Cache.Exists("r.jpg"));
        EXPECT_TRUE(Cache.ReadFile("rqt.jpg") == c.Rqt);  // children are never changed
    }
}

TEST_F(ParentTiles, AnExistingParentIsKeptUnlessReplacing) {
    Store({"rtq", "rtr", "rts", "rtt"});
    const std::string stale = Tile("stale");
    ASSERT_TRUE(Cache.WriteFile("rt.jpg", stale));
    // r's other children are there: a climb would build r.
    Store({"rq", "rr", "rs"});
    Read("rtq");
    EXPECT_TRUE(Cache.ReadFile("rt.jpg") == stale);
    EXPECT_FALSE(Cache.Exists("r.jpg"));
}

TEST_F(ParentTiles, ReplacingRebuildsAndClimbs) {
    State.ReplaceUpperLayers = true;
    Store({"rqq", "rqr", "rqs", "rqt", "rr", "rs", "rt"});
    const std::string stale = Tile("stale");
    ASSERT_TRUE(Cache.WriteFile("rq.jpg", stale));
    Read("rqq");
    const std::string rq = Cache.ReadFile("rq.jpg");
    EXPECT_FALSE(rq == stale);
    ASSERT_TRUE(Cache.Exists("r.jpg"));
    // Every read rebuilds again: remove the top and read once more.
    ASSERT_TRUE(RemoveFile(Cache.File("r.jpg")));
    Read("rqq");
    EXPECT_TRUE(Cache.Exists("r.jpg"));
    EXPECT_TRUE(Cache.ReadFile("rq.jpg") == rq);  // same children, same parent
    // r is not a q tile: the climb stops there.
    EXPECT_FALSE(Cache.Exists(".jpg"));
}

TEST_F(ParentTiles, ReplacingClimbsPastAMissingSibling) {
    State.ReplaceUpperLayers = true;
    Store({"rqq", "rqs", "rqt", "rq", "rr", "rs", "rt"});
    const std::string rq = Cache.ReadFile("rq.jpg");
    Read("rqq");
    EXPECT_TRUE(Cache.ReadFile("rq.jpg") == rq);
    EXPECT_TRUE(Cache.Exists("r.jpg"));
}

TEST_F(ParentTiles, WithoutReplacingAMissingSiblingEndsEverything) {
    Store({"rqq", "rqs", "rqt", "rq", "rr", "rs", "rt"});
    Read("rqq");
    EXPECT_FALSE(Cache.Exists("r.jpg"));
}

// The view also builds after a cache read that deleted an incomplete tile
// and after the archive step, whatever they found; only cache files serve as
// children.
TEST_F(ParentTiles, BuiltAfterDeletionsAndArchiveLookups) {
    State.ReplaceUpperLayers = true;
    ASSERT_TRUE(WriteZip(Archives.File("a.zip"), {{"rqq.jpg", Tile("rqq")}}));
    UseArchives({"a.zip"});
    struct Case {
        const char* What;
        bool IncompleteInCache;
        bool SiblingsInCache;
        bool RBuilt;
    };
    for (const Case& c : {Case{"archive tile, no siblings: climbs", false, false, true},
                          Case{"archive tile, siblings: no child q", false, true, false},
                          Case{"incomplete tile deleted: climbs", true, false, true}}) {
        SCOPED_TRACE(c.What);
        for (const auto& name : Files()) ASSERT_TRUE(RemoveFile(Cache.File(name)));
        Store({"rq", "rr", "rs", "rt"});
        const std::string rq = Cache.ReadFile("rq.jpg");
        if (c.SiblingsInCache) Store({"rqr", "rqs", "rqt"});
        State.UseArchives = !c.IncompleteInCache;  // one trigger at a time
        if (c.IncompleteInCache) {
            ASSERT_TRUE(
                Cache.WriteFile("rqq.jpg", PadJpegToSize(MakeSolidJpeg(64, 64, 9, 9, 9), 1700)));
        }
        Read("rqq");
        EXPECT_FALSE(Cache.Exists("rqq.jpg"));
        EXPECT_TRUE(Cache.ReadFile("rq.jpg") == rq);
        EXPECT_EQ(Cache.Exists("r.jpg"), c.RBuilt);
    }
}

TEST_F(ParentTiles, TheClimbReachesTheWholeWorld) {
    Store({"qqq", "qqr", "qqs", "qqt", "qr", "qs", "qt", "r", "s", "t"});
    Read("qqq");
    EXPECT_TRUE(Cache.Exists("qq.jpg"));
    EXPECT_TRUE(Cache.Exists("q.jpg"));
    ASSERT_TRUE(Cache.Exists(".jpg"));
    JpegImage world;
    ASSERT_TRUE(world.LoadFile(Cache.File(".jpg")));
    EXPECT_TRUE(CheckTileJpeg(world));
    // The whole-world tile is no q tile of anything: nothing beyond it.
    EXPECT_EQ(Files().size(), 13u);
}

TEST_F(ParentTiles, ZoomOneTilesMakeTheWholeWorldTile) {
    Store({"q", "r", "s", "t"});
    Read("q");
    EXPECT_TRUE(Cache.Exists(".jpg"));
    // Reading the world tile itself builds nothing and never leaves the folder.
    BuildParentTile(State, Cache.File(".jpg"));
    EXPECT_EQ(Files().size(), 5u);
}

TEST_F(ParentTiles, OddInputIsIgnored) {
    Store({"q", "r", "s", "t"});
    for (const std::string& name : {std::string(), std::string("q"), std::string(".jpg"),
                                    Cache.File("q.png"), Cache.Path() + "q.jpgx"})
        BuildParentTile(State, name);
    EXPECT_EQ(Files().size(), 4u);
}

// Children of clear colours and patterns: each quadrant of the parent is its
// child halved.
TEST_F(ParentTiles, EachQuadrantHoldsItsChildHalved) {
    struct Child {
        const char* Letter;
        Rgb Left, Right;  // the child's left and right halves
        int X, Y;         // its quadrant in the parent
    };
    const Child children[] = {
        {"q", {230, 20, 20}, {20, 20, 230}, 0, 0},
        {"r", {20, 200, 20}, {240, 240, 30}, 128, 0},
        {"s", {250, 250, 250}, {10, 10, 10}, 128, 128},
        {"t", {20, 220, 220}, {220, 20, 220}, 0, 128},
    };
    for (const Child& c : children) {
        std::vector<uint8_t> rgb(256 * 256 * 3);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                const Rgb p = x < 128 ? c.Left : c.Right;
                uint8_t* d = &rgb[(y * 256 + x) * 3];
                d[0] = p.R, d[1] = p.G, d[2] = p.B;
            }
        ASSERT_TRUE(Cache.WriteFile(std::string("tq") + c.Letter + ".jpg",
                                    EncodeRgbJpeg(rgb, 256, 256, 95)));
    }
    BuildParentTile(State, TileFile("tqq"));
    const std::string parentBytes = Cache.ReadFile("tq.jpg");
    int w = 0, h = 0;
    const std::vector<uint8_t> parent = DecodeJpegRgb(parentBytes, w, h);
    ASSERT_EQ(w, 256);
    ASSERT_EQ(h, 256);
    auto near = [](const uint8_t* p, Rgb e) {
        return std::abs(p[0] - e.R) <= 24 && std::abs(p[1] - e.G) <= 24 &&
               std::abs(p[2] - e.B) <= 24;
    };
    for (const Child& c : children) {
        SCOPED_TRACE(c.Letter);
        int wrong = 0;
        // Away from the colour edges, where JPEG blurs.
        for (int y = c.Y + 4; y < c.Y + 124; ++y)
            for (int x = c.X + 4; x < c.X + 124; ++x) {
                if (x >= c.X + 60 && x < c.X + 68) continue;
                const uint8_t* p = &parent[(y * 256 + x) * 3];
                if (!near(p, x < c.X + 64 ? c.Left : c.Right)) ++wrong;
            }
        EXPECT_EQ(wrong, 0);
    }
    // Baseline at quality 90: its luminance table starts with 3.
    const size_t dqt = parentBytes.find("\xFF\xDB", 0, 2);
    ASSERT_NE(dqt, std::string::npos);
    EXPECT_EQ(static_cast<uint8_t>(parentBytes[dqt + 5]), 3);
    EXPECT_NE(parentBytes.find("\xFF\xC0", 0, 2), std::string::npos);
}

TEST_F(ParentTiles, HalvingDropsPixelsInsteadOfAveraging) {
    // Black and white columns one pixel wide: dropping every other pixel
    // leaves one of the two colours; averaging would give a middle grey.
    std::vector<uint8_t> rgb(256 * 256 * 3);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const uint8_t v = x % 2 ? 255 : 0;
            uint8_t* d = &rgb[(y * 256 + x) * 3];
            d[0] = d[1] = d[2] = v;
        }
    const std::string striped = PadJpegToSize(EncodeRgbJpeg(rgb, 256, 256, 100), 60000);
    for (const char* l : {"rq", "rr", "rs", "rt"})
        ASSERT_TRUE(Cache.WriteFile(std::string(l) + ".jpg", striped));
    BuildParentTile(State, TileFile("rq"));
    int w = 0, h = 0;
    const std::vector<uint8_t> parent = DecodeJpegRgb(Cache.ReadFile("r.jpg"), w, h);
    ASSERT_EQ(w, 256);
    int extremes = 0, total = 0;
    for (int x = 8; x < 120; ++x, ++total) {
        const uint8_t v = parent[(64 * 256 + x) * 3];
        if (v < 60 || v > 195) ++extremes;
    }
    EXPECT_GT(extremes, total * 3 / 4);
}

TEST_F(ParentTiles, ChildOfAnotherSizeStaysInItsQuadrant) {
    // A 512 x 512 child must not spill over its neighbours.
    ASSERT_TRUE(Cache.WriteFile(
        "rq.jpg",
        PadJpegToSize(EncodeRgbJpeg(std::vector<uint8_t>(512 * 512 * 3, 0), 512, 512, 90), 20000)));
    std::vector<uint8_t> white(256 * 256 * 3, 255);
    const std::string whiteTile = PadJpegToSize(EncodeRgbJpeg(white, 256, 256, 90), 4000);
    for (const char* l : {"rr", "rs", "rt"})
        ASSERT_TRUE(Cache.WriteFile(std::string(l) + ".jpg", whiteTile));
    BuildParentTile(State, TileFile("rq"));
    int w = 0, h = 0;
    const std::vector<uint8_t> parent = DecodeJpegRgb(Cache.ReadFile("r.jpg"), w, h);
    ASSERT_EQ(w, 256);
    EXPECT_LT(parent[(60 * 256 + 60) * 3], 30);    // q quadrant: black
    EXPECT_GT(parent[(60 * 256 + 200) * 3], 225);  // r quadrant: white
    EXPECT_GT(parent[(200 * 256 + 60) * 3], 225);  // t quadrant: white
}

}  // namespace
