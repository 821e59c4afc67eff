#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/file_io.h"
#include "store_fixture.h"
#include "zip_fixture.h"

namespace {

std::string Bytes(size_t size, uint8_t last1, uint8_t last2) {
    std::string s(size, 'x');
    if (size >= 2) {
        s[size - 2] = static_cast<char>(last1);
        s[size - 1] = static_cast<char>(last2);
    }
    return s;
}

TEST(TileDataComplete, SizeAndEndMarker) {
    struct Case {
        size_t Size;
        uint8_t A, B;
        bool Complete;
    };
    for (const Case& c : {Case{0, 0, 0, false}, Case{2, 0xFF, 0xD9, false},
                          Case{1700, 0xFF, 0xD9, false}, Case{1701, 0xFF, 0xD9, true},
                          Case{1701, 0xFF, 0xD8, false}, Case{1701, 0xD9, 0xFF, false},
                          Case{1701, 0x00, 0xD9, false}, Case{250000, 0xFF, 0xD9, true}}) {
        SCOPED_TRACE(testing::Message()
                     << c.Size << " bytes ending " << int(c.A) << " " << int(c.B));
        EXPECT_EQ(TileDataComplete(Bytes(c.Size, c.A, c.B)), c.Complete);
    }
}

TEST(CheckTileJpeg, DecodesAndJudgesTheBytes) {
    const std::string small = MakeSolidJpeg(256, 256, 40, 90, 160);
    ASSERT_LT(small.size(), 1700u);
    struct Case {
        const char* What;
        std::string Data;
        bool Accepted;
    };
    const Case cases[] = {
        {"a real tile", MakeTileJpeg(256, 256, 3), true},
        {"1701 bytes", PadJpegToSize(small, 1701), true},
        {"1700 bytes", PadJpegToSize(small, 1700), false},
        {"small but whole", small, false},
        {"ends FF D8", WithLastBytes(PadJpegToSize(small, 3000), 0xFF, 0xD8), false},
        {"big, not a JPEG", Bytes(5000, 0xFF, 0xD9), false},
        {"cut short", MakeTileJpeg(256, 256, 4).substr(0, 4000), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        JpegImage loaded;
        loaded.Decode(c.Data);
        EXPECT_EQ(CheckTileJpeg(loaded), c.Accepted);
    }
    JpegImage placeholder;
    MakePlaceholderTile(placeholder, CaptionNotInCache, "rtt");
    EXPECT_FALSE(CheckTileJpeg(placeholder));
}

// Rows of the picture holding anything but the grey background, with the
// horizontal middle of what they hold.
struct Ink {
    int Top = 256, Bottom = -1, Left = 256, Right = -1;
    bool Black = false;
};
Ink InkBetween(const Bitmap& b, int y0, int y1) {
    Ink ink;
    for (int y = y0; y < y1; ++y)
        for (int x = 0; x < b.Width(); ++x) {
            const Rgb p = b.Pixel(x, y);
            if (p == Rgb{192, 192, 192}) continue;
            ink.Top = std::min(ink.Top, y);
            ink.Bottom = std::max(ink.Bottom, y);
            ink.Left = std::min(ink.Left, x);
            ink.Right = std::max(ink.Right, x);
            if (p.R < 60 && p.G < 60 && p.B < 60) ink.Black = true;
        }
    return ink;
}

TEST(Placeholder, GreyTileWithCaptionAndNameCentred) {
    for (std::string_view caption :
         {CaptionAwaitingDownload, CaptionNotInCache, CaptionLoadFailed}) {
        SCOPED_TRACE(std::string(caption));
        JpegImage image;
        ASSERT_TRUE(image.Decode(MakeTileJpeg()));
        MakePlaceholderTile(image, caption, "rtqsr");
        const Bitmap& b = image.Picture();
        ASSERT_EQ(b.Width(), 256);
        ASSERT_EQ(b.Height(), 256);
        EXPECT_TRUE(image.Data().empty());
        // Nothing outside the two text bands.
        EXPECT_EQ(InkBetween(b, 0, 90).Bottom, -1);
        EXPECT_EQ(InkBetween(b, 124, 132).Bottom, -1);
        EXPECT_EQ(InkBetween(b, 168, 256).Bottom, -1);
        for (const auto& [y0, y1, cy] : {std::tuple{90, 124, 108}, std::tuple{132, 168, 148}}) {
            const Ink ink = InkBetween(b, y0, y1);
            ASSERT_GE(ink.Bottom, 0) << "no text near y " << cy;
            EXPECT_TRUE(ink.Black);
            EXPECT_NEAR((ink.Left + ink.Right) / 2.0, 128, 4);
            EXPECT_NEAR((ink.Top + ink.Bottom) / 2.0, cy, 5);
        }
    }
}

TEST(Placeholder, CaptionAndNameChangeTheirOwnBandOnly) {
    JpegImage a, b, c;
    MakePlaceholderTile(a, CaptionAwaitingDownload, "rtt");
    MakePlaceholderTile(b, CaptionAwaitingDownload, "rtq");
    MakePlaceholderTile(c, CaptionNotInCache, "rtt");
    auto band = [](const JpegImage& i, int y0, int y1) {
        return i.Picture().Image().copy(0, y0, 256, y1 - y0);
    };
    EXPECT_EQ(band(a, 90, 124), band(b, 90, 124));
    EXPECT_NE(band(a, 132, 168), band(b, 132, 168));
    EXPECT_NE(band(a, 90, 124), band(c, 90, 124));
    EXPECT_EQ(band(a, 132, 168), band(c, 132, 168));
}

// The lookup of one tile in every work mode, with what the cache folder and
// the archive hold.
enum class Stored { None, Valid, Exactly1701, Exactly1700, EndsFFD8, CutShort, NotJpeg, Empty };
enum class Shows { CacheTile, ArchiveTile, Awaiting, NotInCache, Unchanged, Nothing };
enum class InArchive { No, Tile, Garbage, TileButArchivesOff };

struct LookupCase {
    const char* What;
    int Mode;  // 0 cache only, 1 internet only, 2 both
    Stored Cache;
    InArchive Archive;
    bool Rendering;
    bool Result;
    Shows Image;
    bool Pending;
    bool FileAfter;  // the cache file is there afterwards, unchanged
    int BadFiles;
};

// clang-format off
const LookupCase LookupCases[] = {
    {"cache only, valid", 0, Stored::Valid, InArchive::No, true, true, Shows::CacheTile, false, true, 0},
    {"both, valid", 2, Stored::Valid, InArchive::Tile, true, true, Shows::CacheTile, false, true, 0},
    {"both, 1701 bytes", 2, Stored::Exactly1701, InArchive::No, true, true, Shows::CacheTile, false, true, 0},
    {"both, 1700 bytes", 2, Stored::Exactly1700, InArchive::No, true, true, Shows::Awaiting, true, false, 1},
    {"both, ends FF D8", 2, Stored::EndsFFD8, InArchive::No, true, true, Shows::Awaiting, true, false, 1},
    // An interrupted download is an incomplete file, not a broken one.
    {"both, cut short", 2, Stored::CutShort, InArchive::No, true, true, Shows::Awaiting, true, false, 1},
    {"cache only, cut short", 0, Stored::CutShort, InArchive::No, true, true, Shows::NotInCache, false, false, 1},
    {"both, cut short, archive has it", 2, Stored::CutShort, InArchive::Tile, true, true, Shows::ArchiveTile, false, false, 1},
    {"cache only, 1700 bytes", 0, Stored::Exactly1700, InArchive::No, true, true, Shows::NotInCache, false, false, 1},
    {"both, not a JPEG, archive not tried", 2, Stored::NotJpeg, InArchive::Tile, true, false, Shows::Nothing, false, false, 1},
    {"cache only, empty file", 0, Stored::Empty, InArchive::No, true, false, Shows::Nothing, false, false, 1},
    {"internet only, valid cache ignored", 1, Stored::Valid, InArchive::Tile, true, true, Shows::Awaiting, true, true, 0},
    {"internet only, bad cache not touched", 1, Stored::Exactly1700, InArchive::No, true, true, Shows::Awaiting, true, true, 0},
    {"internet only, not rendering", 1, Stored::Valid, InArchive::No, false, true, Shows::Unchanged, false, true, 0},
    {"internet only, archive ignored", 1, Stored::None, InArchive::Tile, true, true, Shows::Awaiting, true, false, 0},
    {"cache only, missing", 0, Stored::None, InArchive::No, true, true, Shows::NotInCache, false, false, 0},
    {"cache only, missing, not rendering", 0, Stored::None, InArchive::No, false, true, Shows::NotInCache, false, false, 0},
    {"both, missing", 2, Stored::None, InArchive::No, true, true, Shows::Awaiting, true, false, 0},
    {"both, missing, not rendering", 2, Stored::None, InArchive::No, false, true, Shows::Unchanged, false, false, 0},
    {"both, from archive, not copied", 2, Stored::None, InArchive::Tile, true, true, Shows::ArchiveTile, false, false, 0},
    {"cache only, from archive", 0, Stored::None, InArchive::Tile, false, true, Shows::ArchiveTile, false, false, 0},
    {"both, 1700 bytes, archive has it", 2, Stored::Exactly1700, InArchive::Tile, true, true, Shows::ArchiveTile, false, false, 1},
    {"both, archive entry does not decode", 2, Stored::None, InArchive::Garbage, true, true, Shows::Awaiting, true, false, 0},
    {"cache only, archives switched off", 0, Stored::None, InArchive::TileButArchivesOff, true, true, Shows::NotInCache, false, false, 0},
};
// clang-format on

class LoadTileModes : public StoreTest, public testing::WithParamInterface<LookupCase> {};

TEST_P(LoadTileModes, Outcome) {
    const LookupCase& c = GetParam();
    const std::string small = MakeSolidJpeg(256, 256, 10, 120, 200);
    std::string stored;
    switch (c.Cache) {
        case Stored::None:
            break;
        case Stored::Valid:
            stored = MakeTileJpeg(256, 256, 11);
            break;
        case Stored::Exactly1701:
            stored = PadJpegToSize(small, 1701);
            break;
        case Stored::Exactly1700:
            stored = PadJpegToSize(small, 1700);
            break;
        case Stored::EndsFFD8:
            stored = WithLastBytes(PadJpegToSize(small, 4000), 0xFF, 0xD8);
            break;
        case Stored::CutShort: {
            const std::string whole = MakeTileJpeg(256, 256, 12);
            stored = whole.substr(0, whole.size() / 2);
            break;
        }
        case Stored::NotJpeg:
            stored = Bytes(3000, 0xFF, 0xD9);
            break;
        case Stored::Empty:
            break;
    }
    if (c.Cache != Stored::None) {
        ASSERT_TRUE(Cache.WriteFile("rtt.jpg", stored));
    }
    const std::string archived = MakeTileJpeg(256, 256, 22);
    if (c.Archive != InArchive::No) {
        ASSERT_TRUE(WriteZip(
            Archives.File("a.zip"),
            {{"rtt.jpg", c.Archive == InArchive::Garbage ? Bytes(3000, 0xFF, 0xD9) : archived}}));
        UseArchives({"a.zip"});
        State.UseArchives = c.Archive != InArchive::TileButArchivesOff;
    }
    SetWorkMode(State, c.Mode);
    State.Rendering = c.Rendering;

    jtype tile = Record("rtt");
    Bitmap before(8, 8);
    before.Fill({1, 2, 3});
    tile.Image->Assign(before);

    EXPECT_EQ(LoadTile(State, tile), c.Result);
    EXPECT_EQ(tile.Pending != 0, c.Pending);
    EXPECT_EQ(State.TotalBadFileErrors.load(), c.BadFiles);
    EXPECT_EQ(Sink.ErrorCountCalls, 1 + c.BadFiles);
    EXPECT_EQ(Cache.Exists("rtt.jpg"), c.FileAfter);
    if (c.FileAfter) {
        EXPECT_TRUE(Cache.ReadFile("rtt.jpg") == stored);
    }

    const JpegImage& image = *tile.Image;
    switch (c.Image) {
        case Shows::CacheTile:
            EXPECT_TRUE(image.Data() == stored);
            EXPECT_TRUE(image.HasPicture());
            break;
        case Shows::ArchiveTile:
            EXPECT_TRUE(image.Data() == archived);
            EXPECT_TRUE(image.HasPicture());
            break;
        case Shows::Awaiting:
            EXPECT_TRUE(SamePicture(image.Picture(), Placeholder(CaptionAwaitingDownload, "rtt")));
            break;
        case Shows::NotInCache:
            EXPECT_TRUE(SamePicture(image.Picture(), Placeholder(CaptionNotInCache, "rtt")));
            break;
        case Shows::Unchanged:
            EXPECT_TRUE(SamePicture(image.Picture(), before));
            break;
        case Shows::Nothing:
            EXPECT_FALSE(image.HasPicture());
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, LoadTileModes, testing::ValuesIn(LookupCases),
                         [](const testing::TestParamInfo<LookupCase>& info) {
                             std::string name;
                             for (const char* p = info.param.What; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

TEST_F(StoreTest, ViewTileFillsTheRecordAndKeepsTheWindowAlive) {
    State.Rendering = true;
    jtype tile;
    tile.Pending = 1;
    tile.TileName = "stale";
    LoadViewTile(State, std::string(Source) + "rtsq", tile);
    EXPECT_EQ(tile.Url, std::string(Source) + "rtsq");
    EXPECT_EQ(tile.TileName, "rtsq");
    EXPECT_EQ(tile.FileName, Cache.Path() + "rtsq.jpg");
    EXPECT_EQ(tile.Pending, 1);  // missing: queue it
    EXPECT_TRUE(SamePicture(tile.Image->Picture(), Placeholder(CaptionAwaitingDownload, "rtsq")));
    EXPECT_EQ(Sink.MessageCalls, 2);

    ASSERT_TRUE(Cache.WriteFile("rtsq.jpg", MakeTileJpeg(256, 256, 8)));
    LoadViewTile(State, std::string(Source) + "rtsq", tile);
    EXPECT_EQ(tile.Pending, 0);
    EXPECT_TRUE(tile.Image->Data() == Cache.ReadFile("rtsq.jpg"));
}

TEST_F(StoreTest, ViewTileThatFailsToDecodeShowsTheFailureCaption) {
    State.Rendering = true;
    ASSERT_TRUE(Cache.WriteFile("qq.jpg", "not a picture"));
    jtype tile;
    LoadViewTile(State, std::string(Source) + "qq", tile);
    EXPECT_EQ(tile.Pending, 0);
    EXPECT_TRUE(SamePicture(tile.Image->Picture(), Placeholder(CaptionLoadFailed, "qq")));
    EXPECT_FALSE(Cache.Exists("qq.jpg"));
    // Gone now: the next view treats it as missing and queues it.
    LoadViewTile(State, std::string(Source) + "qq", tile);
    EXPECT_EQ(tile.Pending, 1);
    EXPECT_EQ(State.TotalBadFileErrors.load(), 1);
}

TEST_F(StoreTest, ViewTileOfTheWholeWorldIsTheFileDotJpg) {
    ASSERT_TRUE(Cache.WriteFile(".jpg", MakeTileJpeg(256, 256, 9)));
    jtype tile;
    LoadViewTile(State, Source, tile);
    EXPECT_EQ(tile.TileName, "");
    EXPECT_EQ(tile.FileName, Cache.Path() + ".jpg");
    EXPECT_TRUE(tile.Image->Data() == Cache.ReadFile(".jpg"));
}

TEST_F(StoreTest, CacheReadOfSomethingThatIsNoFile) {
    // A folder under a tile's name is no tile, and is left alone.
    ASSERT_TRUE(MakeFolders(Cache.File("rq.jpg")));
    JpegImage image;
    EXPECT_EQ(ReadCachedTile(Cache.File("rq.jpg"), image), CachedTile::Missing);
    EXPECT_TRUE(Cache.Exists("rq.jpg"));
    EXPECT_EQ(ReadCachedTile(Cache.File("nothing.jpg"), image), CachedTile::Missing);
    // Nor is a FIFO, and opening one without a writer must not hang the view.
    ASSERT_EQ(::mkfifo(Cache.File("rr.jpg").c_str(), 0644), 0);
    EXPECT_EQ(ReadCachedTile(Cache.File("rr.jpg"), image), CachedTile::Missing);
}

}  // namespace
