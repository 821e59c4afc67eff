#include "formats/stitch_image.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/bitmap.h"
#include "platform/time_text.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tilestore/jpeg_image.h"
#include "tilestore/tile_lookup.h"

namespace {

using Lines = std::vector<std::string>;

// One tile of a test picture: a JPEG, or a placeholder when Caption is set.
struct TestTile {
    int X = 0, Y = 0;
    std::string Jpeg;
    std::string Caption, Name;
};

// The whole picture composed the simple way: one white bitmap, every tile
// drawn in order, clipped.
Bitmap ComposeWhole(int width, int height, const std::vector<TestTile>& tiles) {
    Bitmap whole(width, height);
    whole.Fill({255, 255, 255});
    for (const TestTile& t : tiles) {
        JpegImage image;
        if (t.Caption.empty())
            EXPECT_TRUE(image.Decode(t.Jpeg));
        else
            MakePlaceholderTile(image, t.Caption, t.Name);
        whole.Draw(t.X, t.Y, image.Picture());
    }
    return whole;
}

void AddAll(StitchImage& image, const std::vector<TestTile>& tiles) {
    for (const TestTile& t : tiles) {
        if (t.Caption.empty())
            image.AddJpeg(t.X, t.Y, t.Jpeg);
        else
            image.AddPlaceholder(t.X, t.Y, t.Caption, t.Name);
    }
}

Lines Save(StitchImage& image, const std::string& file, int quality = 80,
           const std::atomic<bool>* stop = nullptr) {
    Lines log;
    image.CompressAndSave(
        file, quality, [&](const std::string& line) { log.push_back(line); }, stop);
    return log;
}

const Lines SavedLog = {"начало сжатия", "сжатие завершено", "файл сохранен"};

// A grid of tiles starting left of and above the image, as a selection that
// does not begin on a tile edge gives; one tile failed (placeholder), one
// was skipped (left out, white), and a small tile added last overlaps the
// others.
std::vector<TestTile> GridTiles(int originX, int originY, int columns, int rows) {
    std::vector<TestTile> tiles;
    uint32_t seed = 1;
    for (int c = 0; c < columns; ++c)
        for (int r = 0; r < rows; ++r) {
            TestTile t;
            t.X = originX + 256 * c;
            t.Y = originY + 256 * r;
            if (c == 1 && r == 1) {
                t.Caption = std::string(CaptionLoadFailed);
                t.Name = "rtqs";
            } else if (c == 2 && r == 0) {
                continue;  // skipped after an error limit
            } else {
                t.Jpeg = MakeTileJpeg(256, 256, seed++);
            }
            tiles.push_back(std::move(t));
        }
    tiles.push_back({originX + 300, originY + 200, MakeTileJpeg(64, 96, 99), "", ""});
    return tiles;
}

struct Shape {
    int Width, Height, OriginX, OriginY, Columns, Rows;
    std::size_t MemoryLimit;
};

class BandStitch : public ::testing::TestWithParam<Shape> {};

TEST_P(BandStitch, IsTheWholeBitmapEncodedOnce) {
    const Shape s = GetParam();
    const auto tiles = GridTiles(s.OriginX, s.OriginY, s.Columns, s.Rows);
    const Bitmap whole = ComposeWhole(s.Width, s.Height, tiles);
    // The reference is not trivial: white where a tile was skipped, grey
    // placeholder, picture elsewhere.
    if (s.OriginX == -100 && s.OriginY == -50) {
        EXPECT_EQ(whole.Pixel(2 * 256 - 100 + 10, 10), (Rgb{255, 255, 255}));
        EXPECT_EQ(whole.Pixel(256 - 100 + 5, 256 - 50 + 5), (Rgb{192, 192, 192}));
    }
    const std::string expected = EncodeJpeg(whole, 80);
    ASSERT_FALSE(expected.empty());

    TempDir dir;
    StitchImage image(s.Width, s.Height, dir.Path(), s.MemoryLimit);
    AddAll(image, tiles);
    EXPECT_EQ(image.Spilled(), s.MemoryLimit < 100000);
    EXPECT_EQ(Save(image, dir.File("out.jpg")), SavedLog);
    const std::string written = dir.ReadFile("out.jpg");
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected) << "the band-by-band JPEG differs";
}

INSTANTIATE_TEST_SUITE_P(Shapes, BandStitch,
                         ::testing::Values(
                             // Negative origin: the first band is short; white gap and placeholder.
                             Shape{700, 600, -100, -50, 4, 3, StitchImage::DefaultMemoryLimit},
                             // The same with every tile kept in the temporary file.
                             Shape{700, 600, -100, -50, 4, 3, 1000},
                             // On tile edges, the last band cut short; height not a multiple of 8.
                             Shape{512, 301, 0, 0, 2, 2, StitchImage::DefaultMemoryLimit},
                             // Tiles far outside the picture are dropped, not drawn.
                             Shape{300, 200, -600, -300, 5, 3, StitchImage::DefaultMemoryLimit}));

TEST(StitchImage, OnlyTheTilesThatShowAreKept) {
    TempDir dir;
    StitchImage image(100, 100, dir.Path());
    image.AddJpeg(100, 0, MakeTileJpeg());
    image.AddJpeg(-256, 0, MakeTileJpeg());
    image.AddJpeg(0, 0, "not a jpeg");
    EXPECT_EQ(image.BytesInMemory(), 0u);
    const std::string tile = MakeTileJpeg();
    image.AddJpeg(-255, -255, tile);
    EXPECT_EQ(image.BytesInMemory(), tile.size());
}

TEST(StitchImage, AllocationLineCountsWholeMegabytesIn64Bits) {
    const auto now = std::chrono::system_clock::now();
    EXPECT_EQ(StitchImage::AllocationLine(5000, 5000, now),
              "Выделение памяти под битовый образ Мб:71,000000" + TimeText(now, now));
    // 65,500 squared times 3 does not fit 32 bits: 12,274.6 MB.
    EXPECT_EQ(StitchImage::AllocationLine(65500, 65500, now),
              "Выделение памяти под битовый образ Мб:12274,000000" + TimeText(now, now));
    EXPECT_EQ(StitchImage::AllocationLine(0, 0, now),
              "Выделение памяти под битовый образ Мб:0,000000" + TimeText(now, now));
}

TEST(StitchImage, TooWideForJpegFailsBeforeComposing) {
    TempDir dir;
    // Composing this would take minutes and gigabytes; it must not start.
    StitchImage image(70000, 70000, dir.Path());
    image.AddJpeg(0, 0, MakeTileJpeg());
    const Lines log = Save(image, dir.File("huge.jpg"));
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "начало сжатия");
    EXPECT_EQ(log[1], "ошибка в процессе сжатия");
    EXPECT_NE(log[2].find("70000x70000"), std::string::npos) << log[2];
    EXPECT_EQ(log[3], "ошибка в процессе сохранения");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(StitchImage, AStopDuringTheSaveLeavesNoFile) {
    TempDir dir;
    ASSERT_TRUE(dir.WriteFile("out.jpg", "the previous picture"));
    StitchImage image(2000, 1500, dir.Path());
    for (int x = 0; x < 2000; x += 256)
        for (int y = 0; y < 1500; y += 256) image.AddJpeg(x, y, MakeTileJpeg());
    std::atomic<bool> stop{false};
    Lines log;
    image.CompressAndSave(
        dir.File("out.jpg"), 80,
        [&](const std::string& line) {
            log.push_back(line);
            if (line == "начало сжатия") stop = true;  // the user presses Stop now
        },
        &stop);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1], "ошибка в процессе сжатия");
    EXPECT_EQ(log[3], "ошибка в процессе сохранения");
    // The old file is untouched and no temporary file is left beside it.
    EXPECT_EQ(dir.ReadFile("out.jpg"), "the previous picture");
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST(StitchImage, SaveFailuresAreLoggedWithTheReason) {
    TempDir dir;
    StitchImage image(300, 300, dir.Path());
    image.AddJpeg(0, 0, MakeTileJpeg());
    Lines log = Save(image, dir.File("no/such/folder/out.jpg"));
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1], "сжатие завершено");
    EXPECT_EQ(log[2], "ошибка в процессе сохранения");
    EXPECT_NE(log[3].find("out.jpg"), std::string::npos);

    {
        FileSizeLimit full(1000);  // the disk fills up part-way
        log = Save(image, dir.File("full.jpg"));
    }
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1], "сжатие завершено");
    EXPECT_EQ(log[2], "ошибка в процессе сохранения");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

    // The same picture saves once the disk has room again.
    EXPECT_EQ(Save(image, dir.File("full.jpg")), SavedLog);
    int w = 0, h = 0;
    EXPECT_FALSE(DecodeJpegRgb(dir.ReadFile("full.jpg"), w, h).empty());
    EXPECT_EQ(w, 300);
    EXPECT_EQ(h, 300);
}

TEST(StitchImage, ATileThatCannotBeKeptIsACompressionError) {
    TempDir dir;
    StitchImage image(600, 300, dir.Path(), 100);
    {
        FileSizeLimit full(2000);  // the temporary file cannot grow
        image.AddJpeg(0, 0, MakeTileJpeg());
        image.AddJpeg(256, 0, MakeTileJpeg());
    }
    const Lines log = Save(image, dir.File("out.jpg"));
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1], "ошибка в процессе сжатия");
    EXPECT_NE(log[2].find("временный файл"), std::string::npos) << log[2];
    EXPECT_FALSE(dir.Exists("out.jpg"));
}

TEST(StitchImage, EmptyImageIsACompressionError) {
    TempDir dir;
    StitchImage image(0, 0, dir.Path());
    const Lines log = Save(image, dir.File("out.jpg"));
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[1], "ошибка в процессе сжатия");
    EXPECT_FALSE(dir.Exists("out.jpg"));
}

TEST(StitchImage, TilesAddedFromAnotherThreadThanTheSave) {
    // The worker adds while it fetches; the save may run on another thread.
    TempDir dir;
    std::vector<TestTile> tiles;
    for (int i = 0; i < 12; ++i)
        tiles.push_back(
            {(i % 4) * 256 - 30, (i / 4) * 256 - 70, MakeTileJpeg(256, 256, i), "", ""});
    StitchImage image(900, 600, dir.Path(), 20000);
    std::thread adder([&] { AddAll(image, tiles); });
    adder.join();
    EXPECT_EQ(Save(image, dir.File("t.jpg"), 55), SavedLog);
    EXPECT_TRUE(dir.ReadFile("t.jpg") == EncodeJpeg(ComposeWhole(900, 600, tiles), 55));
}

}  // namespace
