// The stitch saved as a GeoTIFF: the same picture as the JPEG stitch, the
// tiles' own bytes when they lie on the file's grid, and nothing left
// behind by a failure.
#include <geotiff/xtiffio.h>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "formats/geotiff.h"
#include "formats/stitch_image.h"
#include "platform/bitmap.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tiff_pixels.h"
#include "tilestore/jpeg_image.h"

namespace {

std::vector<std::string> Save(StitchImage& image, const std::string& path, int quality = 80,
                              const std::atomic<bool>* stop = nullptr) {
    std::vector<std::string> log;
    image.CompressAndSave(
        path, quality, [&](const std::string& line) { log.push_back(line); }, stop);
    return log;
}

std::string RawTile(TIFF* tif, uint32_t tile) {
    uint64_t* sizes = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_TILEBYTECOUNTS, &sizes) || !sizes) return {};
    std::string bytes(static_cast<std::size_t>(sizes[tile]), '\0');
    TIFFReadRawTile(tif, tile, bytes.data(), static_cast<tmsize_t>(bytes.size()));
    return bytes;
}

Bitmap ReadTiffPixels(const std::string& path) {
    TIFF* tif = XTIFFOpen(path.c_str(), "r");
    if (!tif) return Bitmap();
    Bitmap out = TiffPixels(tif);
    XTIFFClose(tif);
    return out;
}

double MeanDifference(const Bitmap& a, const Bitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return 1e9;
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width() * 3; ++x)
            sum += std::abs(a.ScanLine(y)[x] - b.ScanLine(y)[x]);
    return sum / (a.Width() * 3.0 * a.Height());
}

std::string Progressive() {
    std::vector<uint8_t> rgb(256 * 256 * 3, 120);
    tjhandle handle = tjInitCompress();
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, rgb.data(), 256, 0, 256, TJPF_RGB, &buffer, &size, TJSAMP_420, 80,
                TJFLAG_PROGRESSIVE);
    std::string out(reinterpret_cast<char*>(buffer), size);
    tjFree(buffer);
    tjDestroy(handle);
    return out;
}

std::string Grey() {
    std::vector<uint8_t> rgb(256 * 256 * 3, 60);
    tjhandle handle = tjInitCompress();
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, rgb.data(), 256, 0, 256, TJPF_RGB, &buffer, &size, TJSAMP_GRAY, 80, 0);
    std::string out(reinterpret_cast<char*>(buffer), size);
    tjFree(buffer);
    tjDestroy(handle);
    return out;
}

// The 2 x 2 mean of a picture; a last odd row or column pairs with itself.
Bitmap Halved(const Bitmap& b) {
    Bitmap out((b.Width() + 1) / 2, (b.Height() + 1) / 2);
    for (int y = 0; y < out.Height(); ++y)
        for (int x = 0; x < out.Width(); ++x)
            for (int c = 0; c < 3; ++c) {
                const int x1 = std::min(2 * x + 1, b.Width() - 1) * 3 + c;
                const int y1 = std::min(2 * y + 1, b.Height() - 1);
                const int sum = b.ScanLine(2 * y)[2 * x * 3 + c] + b.ScanLine(2 * y)[x1] +
                                b.ScanLine(y1)[2 * x * 3 + c] + b.ScanLine(y1)[x1];
                out.ScanLine(y)[x * 3 + c] = static_cast<uint8_t>((sum + 2) / 4);
            }
    return out;
}

// Imagery-like: gradients and blocks that differ by the seed, with none of
// the fine stripes whose halving is all aliasing.
std::string SmoothTile(int seed) {
    std::vector<uint8_t> rgb(256 * 256 * 3);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            uint8_t* p = &rgb[static_cast<std::size_t>(y * 256 + x) * 3];
            p[0] = static_cast<uint8_t>(x / 4 + seed % 16 * 10);
            p[1] = static_cast<uint8_t>(y / 4 + seed % 7 * 25);
            p[2] = static_cast<uint8_t>(((x + seed * 32) / 64 + y / 64) % 2 ? 150 : 90);
        }
    return EncodeRgbJpeg(rgb, 256, 256, 90);
}

// The mean difference over one 256-pixel tile of two pictures of a size.
double TileDifference(const Bitmap& a, const Bitmap& b, int column, int row) {
    double sum = 0;
    int count = 0;
    for (int y = row * 256; y < std::min(a.Height(), row * 256 + 256); ++y)
        for (int x = column * 256 * 3; x < std::min(a.Width(), column * 256 + 256) * 3; ++x) {
            sum += std::abs(a.ScanLine(y)[x] - b.ScanLine(y)[x]);
            ++count;
        }
    return count ? sum / count : 1e9;
}

}  // namespace

TEST(StitchGeoTiff, SamePictureAsTheJpegStitch) {
    TempDir dir;
    // Tiles off the file's grid, as a region that is not snapped has them.
    const auto fill = [](StitchImage& image) {
        for (int y = -100; y < 700; y += 256)
            for (int x = -30; x < 900; x += 256)
                image.AddJpeg(x, y, MakeTileJpeg(256, 256, static_cast<uint32_t>(x * 7 + y)));
        image.AddPlaceholder(226, 156, "Не удалось загрузить", "rtq");
    };
    StitchImage jpeg(850, 650, dir.Path()), tiff(850, 650, dir.Path());
    fill(jpeg);
    fill(tiff);
    tiff.SetPlace(13, 100000, 200000);
    Save(jpeg, dir.File("a.jpg"), 95);
    const auto log = Save(tiff, dir.File("a.tif"), 95);
    EXPECT_EQ(log, (std::vector<std::string>{"начало сжатия", "сжатие завершено",
                                             "фрагментов без перекодирования: 0 из 17",
                                             "файл сохранен"}));
    Bitmap fromJpeg;
    ASSERT_TRUE(DecodeJpeg(dir.ReadFile("a.jpg"), fromJpeg));
    EXPECT_LT(MeanDifference(ReadTiffPixels(dir.File("a.tif")), fromJpeg), 2.0);
}

TEST(StitchGeoTiff, TilesOnTheGridGoInUnchangedOthersAreEncoded) {
    TempDir dir;
    StitchImage image(768, 512, dir.Path());
    std::vector<std::string> tiles;
    for (int i = 0; i < 6; ++i) tiles.push_back(MakeTileJpeg(256, 256, static_cast<uint32_t>(i)));
    tiles[1] = Progressive();
    tiles[4] = Grey();
    for (int i = 0; i < 6; ++i) image.AddJpeg(i % 3 * 256, i / 3 * 256, tiles[i]);
    image.SetPlace(10, 256 * 40, 256 * 20);
    const auto log = Save(image, dir.File("s.tif"));
    EXPECT_EQ(log[2], "фрагментов без перекодирования: 4 из 9");

    TIFF* tif = XTIFFOpen(dir.File("s.tif").c_str(), "r");
    ASSERT_TRUE(tif);
    for (uint32_t t = 0; t < 6; ++t) {
        const std::string raw = RawTile(tif, t);
        if (t == 1 || t == 4) {
            EXPECT_NE(raw, tiles[t]) << t;
            EXPECT_TRUE(TileJpegFitsAsIs(raw)) << t;
        } else {
            EXPECT_EQ(raw, tiles[t]) << t;
        }
    }
    XTIFFClose(tif);
    Bitmap grey;
    ASSERT_TRUE(DecodeJpeg(tiles[4], grey));
    const Bitmap pixels = ReadTiffPixels(dir.File("s.tif"));
    EXPECT_NEAR(pixels.Pixel(300, 300).R, grey.Pixel(44, 44).R, 3);
}

TEST(StitchGeoTiff, OverviewsFromParentTilesAsTheyAre) {
    TempDir dir;
    // 4 x 2 tiles at a corner on the grid of the zoom above: the first
    // overview is 2 x 1 tiles of that zoom, the second is halved from them.
    StitchImage image(1024, 512, dir.Path());
    for (int i = 0; i < 8; ++i)
        image.AddJpeg(i % 4 * 256, i / 4 * 256, MakeTileJpeg(256, 256, static_cast<uint32_t>(i)));
    image.SetPlace(12, 256 * 8, 256 * 4);
    std::vector<std::string> parents = {MakeTileJpeg(256, 256, 100), MakeTileJpeg(256, 256, 101)};
    std::vector<std::string> asked;
    image.SetOverviewSource(1, [&](int level, int column, int row, std::string& bytes) {
        asked.push_back(std::to_string(level) + ":" + std::to_string(column) + "," +
                        std::to_string(row));
        bytes = parents[static_cast<std::size_t>(column)];
        return true;
    });
    const auto log = Save(image, dir.File("p.tif"));
    EXPECT_EQ(log[2], "фрагментов без перекодирования: 10 из 11");
    EXPECT_EQ(asked, (std::vector<std::string>{"1:0,0", "1:1,0"}));
    TIFF* tif = XTIFFOpen(dir.File("p.tif").c_str(), "r");
    ASSERT_TRUE(tif);
    ASSERT_TRUE(TIFFSetDirectory(tif, 1));
    EXPECT_EQ(RawTile(tif, 0), parents[0]);
    EXPECT_EQ(RawTile(tif, 1), parents[1]);
    XTIFFClose(tif);
}

TEST(StitchGeoTiff, StopOrFullDiskLeaveNoFile) {
    // On the file's grid (tiles as they are) and off it (composed).
    for (const int shift : {0, 100}) {
        TempDir dir;
        const auto make = [&] {
            auto image = std::make_unique<StitchImage>(2000, 1200, dir.Path());
            for (int y = -shift; y < 1200; y += 256)
                for (int x = -shift; x < 2000; x += 256)
                    image->AddJpeg(x, y, MakeTileJpeg(256, 256, static_cast<uint32_t>(x + y)));
            image->SetPlace(12, 0, 0);
            return image;
        };
        std::atomic<bool> stop{true};
        auto stopped = make();
        const auto stopLog = Save(*stopped, dir.File("stop.tif"), 80, &stop);
        EXPECT_EQ(stopLog[1], "ошибка в процессе сжатия") << shift;
        EXPECT_EQ(stopLog[2], "сжатие прервано") << shift;
        {
            auto full = make();
            FileSizeLimit limit(200000);
            const auto fullLog = Save(*full, dir.File("full.tif"));
            EXPECT_EQ(fullLog[fullLog.size() - 2], "ошибка в процессе сохранения") << shift;
        }
        EXPECT_FALSE(dir.Exists("stop.tif"));
        EXPECT_FALSE(dir.Exists("full.tif"));
        std::size_t left = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            ++left;
        EXPECT_EQ(left, 0u) << shift;
    }
}

TEST(StitchGeoTiff, WiderThanJpegAllowsSucceeds) {
    TempDir dir;
    const int width = 70000;
    StitchImage jpeg(width, 300, dir.Path()), tiff(width, 300, dir.Path());
    // The cache-only placeholder on the grid, and white elsewhere.
    for (int x = 0; x < width; x += 4096) {
        jpeg.AddPlaceholder(x, 0, "Нет в кэше", "t");
        tiff.AddPlaceholder(x, 0, "Нет в кэше", "t");
    }
    tiff.SetPlace(18, 0, 0);
    EXPECT_EQ(Save(jpeg, dir.File("w.jpg"))[1], "ошибка в процессе сжатия");
    const auto log = Save(tiff, dir.File("w.tif"));
    EXPECT_EQ(log.back(), "файл сохранен");
    TIFF* tif = XTIFFOpen(dir.File("w.tif").c_str(), "r");
    ASSERT_TRUE(tif);
    uint32_t w = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    EXPECT_EQ(w, 70000u);
    EXPECT_EQ(TIFFNumberOfDirectories(tif), 10);
    XTIFFClose(tif);
}

TEST(StitchGeoTiff, OverviewTilesFromTheCacheWhereHeldOthersHalvedFromTheLevelBelow) {
    // Tiles on the grid of two zooms above: 1024 x 1024 has overviews of
    // 2 x 2 and 1 x 1 tiles, each asked of the cache one by one; 700 x 300
    // ends inside its last tiles at every level.
    const std::string parent = SmoothTile(99), progressive = Progressive();
    struct Case {
        const char* Name;
        int W, H;
        std::map<std::string, std::string> Cache;
        int Unchanged, Tiles;
    } cases[] = {
        {"nothing held", 1024, 1024, {}, 16, 21},
        {"two of four at level 1", 1024, 1024, {{"1:0,0", parent}, {"1:1,1", parent}}, 18, 21},
        {"only the top", 1024, 1024, {{"2:0,0", parent}}, 17, 21},
        {"everything",
         1024,
         1024,
         {{"1:0,0", parent},
          {"1:1,0", parent},
          {"1:0,1", parent},
          {"1:1,1", parent},
          {"2:0,0", parent}},
         21,
         21},
        {"a progressive tile counts as none", 1024, 1024, {{"1:1,0", progressive}}, 16, 21},
        {"odd size, nothing held", 700, 300, {}, 6, 9},
        {"odd size, one held", 700, 300, {{"1:1,0", parent}}, 7, 9},
    };
    for (const Case& c : cases) {
        TempDir dir;
        StitchImage image(c.W, c.H, dir.Path());
        const int across = (c.W + 255) / 256, down = (c.H + 255) / 256;
        for (int i = 0; i < across * down; ++i)
            image.AddJpeg(i % across * 256, i / across * 256, SmoothTile(i));
        image.SetPlace(12, 1024 * 5, 1024 * 2);
        image.SetOverviewSource(2, [&](int level, int column, int row, std::string& bytes) {
            const auto it = c.Cache.find(std::to_string(level) + ":" + std::to_string(column) +
                                         "," + std::to_string(row));
            if (it == c.Cache.end()) return false;
            bytes = it->second;
            return true;
        });
        const auto log = Save(image, dir.File("o.tif"));
        ASSERT_EQ(log.back(), "файл сохранен") << c.Name;
        EXPECT_EQ(log[2], "фрагментов без перекодирования: " + std::to_string(c.Unchanged) +
                              " из " + std::to_string(c.Tiles))
            << c.Name;

        TIFF* tif = XTIFFOpen(dir.File("o.tif").c_str(), "r");
        ASSERT_TRUE(tif) << c.Name;
        Bitmap below = TiffPixels(tif);
        for (int level = 1; level <= 2; ++level) {
            ASSERT_TRUE(TIFFSetDirectory(tif, static_cast<tdir_t>(level)));
            const Bitmap pixels = TiffPixels(tif);
            const Bitmap halved = Halved(below);
            ASSERT_EQ(pixels.Width(), halved.Width()) << c.Name;
            const int columns = (pixels.Width() + 255) / 256, rows = (pixels.Height() + 255) / 256;
            for (int t = 0; t < columns * rows; ++t) {
                const std::string key = std::to_string(level) + ":" + std::to_string(t % columns) +
                                        "," + std::to_string(t / columns);
                const auto held = c.Cache.find(key);
                if (held != c.Cache.end() && held->second == parent)
                    EXPECT_EQ(RawTile(tif, static_cast<uint32_t>(t)), parent) << c.Name << key;
                else
                    EXPECT_LT(TileDifference(pixels, halved, t % columns, t / columns), 3.0)
                        << c.Name << " " << key;
            }
            below = pixels;
        }
        XTIFFClose(tif);
    }
}

TEST(StitchGeoTiff, BigTiffOfTilesAsTheyAreFromASpilledStore) {
    // 112 x 112 tiles could pass 4 GB: a BigTIFF. The tiles (three kinds in
    // turn, so that one out of place shows) wait in a temporary file, and
    // every overview tile comes from the cache: the file is copying only.
    TempDir dir;
    const int across = 112;
    const std::string tiles[3] = {MakeTileJpeg(256, 256, 1), MakeTileJpeg(256, 256, 2),
                                  MakeTileJpeg(256, 256, 3)};
    const std::string parent = MakeTileJpeg(256, 256, 4);
    ASSERT_TRUE(NeedsBigTiff(across * 256, across * 256));
    StitchImage image(across * 256, across * 256, dir.Path(), 1 << 16);
    for (int i = 0; i < across * across; ++i)
        image.AddJpeg(i % across * 256, i / across * 256, tiles[i % 3]);
    image.SetPlace(14, 0, 0);
    image.SetOverviewSource(16, [&](int, int, int, std::string& bytes) {
        bytes = parent;
        return true;
    });
    EXPECT_EQ(Save(image, dir.File("big.tif")).back(), "файл сохранен");
    EXPECT_TRUE(image.Spilled());

    TIFF* tif = XTIFFOpen(dir.File("big.tif").c_str(), "r");
    ASSERT_TRUE(tif);
    EXPECT_TRUE(TIFFIsBigTIFF(tif));
    ASSERT_EQ(TIFFNumberOfDirectories(tif), 8);
    for (tdir_t d = 0; d < 8; ++d) {
        ASSERT_TRUE(TIFFSetDirectory(tif, d));
        const uint32_t count = TIFFNumberOfTiles(tif);
        int wrong = 0;
        for (uint32_t t = 0; t < count; ++t)
            wrong += RawTile(tif, t) != (d == 0 ? tiles[t % 3] : parent);
        EXPECT_EQ(wrong, 0) << "level " << d << " of " << count << " tiles";
    }
    XTIFFClose(tif);
}
