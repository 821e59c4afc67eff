#include "formats/geotiff.h"

#include <fcntl.h>
#include <geotiff/geo_normalize.h>
#include <geotiff/geotiff.h>
#include <geotiff/geovalues.h>
#include <geotiff/xtiffio.h>
#include <gtest/gtest.h>
#include <tiffio.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tiff_pixels.h"
#include "tilestore/jpeg_image.h"

namespace {

struct TiffFile {
    TIFF* Tif = nullptr;
    explicit TiffFile(const std::string& path) : Tif(XTIFFOpen(path.c_str(), "r")) {}
    ~TiffFile() {
        if (Tif) XTIFFClose(Tif);
    }
    uint32_t Get32(uint32_t tag) const {
        uint32_t v = 0;
        TIFFGetField(Tif, tag, &v);
        return v;
    }
    uint16_t Get16(uint32_t tag) const {
        uint16_t v = 0;
        TIFFGetField(Tif, tag, &v);
        return v;
    }
    std::string RawTile(uint32_t tile) const {
        const tmsize_t size = TIFFReadRawTile(Tif, tile, nullptr, 0);
        std::string bytes(static_cast<std::size_t>(std::max<tmsize_t>(size, 0)), '\0');
        TIFFReadRawTile(Tif, tile, bytes.data(), size);
        return bytes;
    }
    Bitmap Pixels() const { return TiffPixels(Tif); }
};

// A picture with detail in every direction, so a misplaced band shows.
Bitmap Pattern(int w, int h) {
    Bitmap b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = b.ScanLine(y) + x * 3;
            p[0] = static_cast<uint8_t>(x * 255 / std::max(w - 1, 1));
            p[1] = static_cast<uint8_t>(y * 255 / std::max(h - 1, 1));
            p[2] = static_cast<uint8_t>(((x / 64) + (y / 64)) % 2 ? 200 : 40);
        }
    return b;
}

bool WriteTiff(GeoTiffWriter& writer, const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const bool ok = writer.Complete() && writer.Save(fd, path);
    ::close(fd);
    return ok;
}

WorldFileParams Place(int w, int h, int zoom = 13, int64_t left = 1000, int64_t top = 2000) {
    return {zoom, left, top, w, h, "x.tif"};
}

double MeanDifference(const Bitmap& a, const Bitmap& b) {
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width() * 3; ++x)
            sum += std::abs(a.ScanLine(y)[x] - b.ScanLine(y)[x]);
    return sum / (a.Width() * 3.0 * a.Height());
}

std::string TurboJpeg(int w, int h, int subsampling, int flags) {
    std::vector<uint8_t> rgb(std::size_t(w) * h * 3, 90);
    tjhandle handle = tjInitCompress();
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, rgb.data(), w, 0, h, TJPF_RGB, &buffer, &size, subsampling, 80, flags);
    std::string out(reinterpret_cast<char*>(buffer), size);
    tjFree(buffer);
    tjDestroy(handle);
    return out;
}

}  // namespace

TEST(GeoTiffLayout, OverviewsHalveUntilBothSidesFitOneTile) {
    struct Case {
        int W, H;
        std::vector<std::pair<int, int>> Sizes;
    } cases[] = {
        {256, 256, {{256, 256}}},
        {257, 100, {{257, 100}, {129, 50}}},
        {1000, 600, {{1000, 600}, {500, 300}, {250, 150}}},
        {70000,
         300,
         {{70000, 300},
          {35000, 150},
          {17500, 75},
          {8750, 38},
          {4375, 19},
          {2188, 10},
          {1094, 5},
          {547, 3},
          {274, 2},
          {137, 1}}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<int, int>> sizes;
        for (const TiffLevel& l : TiffLevels(c.W, c.H)) sizes.emplace_back(l.Width, l.Height);
        EXPECT_EQ(sizes, c.Sizes) << c.W << "x" << c.H;
    }
}

TEST(GeoTiffLayout, BigTiffFromTheTileCountAndOversizeRefused) {
    EXPECT_FALSE(NeedsBigTiff(16384, 16384));
    EXPECT_TRUE(NeedsBigTiff(102400, 102400));
    EXPECT_EQ(GeoTiffSizeProblem(102400, 102400), "");
    // The whole world at zoom 20 is refused by a message, nothing overflows.
    const int64_t world20 = int64_t{256} << 20;
    EXPECT_NE(GeoTiffSizeProblem(world20, world20), "");
    EXPECT_NE(GeoTiffSizeProblem(0, 10), "");
    EXPECT_TRUE(IsGeoTiffName("/a/b.TIF"));
    EXPECT_TRUE(IsGeoTiffName("b.tiff"));
    EXPECT_FALSE(IsGeoTiffName("b.jpg"));
    EXPECT_FALSE(IsGeoTiffName("tif.d/b"));
}

TEST(GeoTiffLayout, OnlyBaselineTilesOfTheFileShapeGoInAsTheyAre) {
    EXPECT_TRUE(TileJpegFitsAsIs(MakeTileJpeg()));
    EXPECT_TRUE(TileJpegFitsAsIs(PadJpegToSize(MakeTileJpeg(), 60000)));
    EXPECT_FALSE(TileJpegFitsAsIs(MakeTileJpeg(255, 256)));
    EXPECT_FALSE(TileJpegFitsAsIs(TurboJpeg(256, 256, TJSAMP_GRAY, 0)));
    EXPECT_FALSE(TileJpegFitsAsIs(TurboJpeg(256, 256, TJSAMP_444, 0)));
    EXPECT_FALSE(TileJpegFitsAsIs(TurboJpeg(256, 256, TJSAMP_420, TJFLAG_PROGRESSIVE)));
    EXPECT_FALSE(TileJpegFitsAsIs("not a jpeg"));
}

TEST(GeoTiffFile, ReadsBackTiledJpegWithOverviewsAndTheWorldFilesTransform) {
    TempDir dir;
    for (int zoom : {3, 13, 20}) {
        const int64_t left = (int64_t{256} << zoom) / 2 - 300, top = (int64_t{256} << zoom) / 3;
        const WorldFileParams place = Place(600, 300, zoom, left, top);
        GeoTiffWriter writer(place, 80, dir.Path());
        const Bitmap picture = Pattern(600, 300);
        // Bands that do not follow the tile rows.
        ASSERT_TRUE(writer.WriteRows(picture, 0, 100));
        ASSERT_TRUE(writer.WriteRows(picture, 100, 200));
        const std::string path = dir.File("z" + std::to_string(zoom) + ".tif");
        ASSERT_TRUE(WriteTiff(writer, path)) << writer.Error();

        TiffFile tiff(path);
        ASSERT_TRUE(tiff.Tif);
        EXPECT_FALSE(TIFFIsBigEndian(tiff.Tif));
        EXPECT_EQ(TIFFNumberOfDirectories(tiff.Tif), 3);
        EXPECT_EQ(tiff.Get32(TIFFTAG_TILEWIDTH), 256u);
        EXPECT_EQ(tiff.Get32(TIFFTAG_TILELENGTH), 256u);
        EXPECT_EQ(tiff.Get16(TIFFTAG_COMPRESSION), COMPRESSION_JPEG);
        EXPECT_EQ(tiff.Get16(TIFFTAG_PHOTOMETRIC), PHOTOMETRIC_YCBCR);
        EXPECT_FALSE(TIFFIsBigTIFF(tiff.Tif));

        GTIF* gtif = GTIFNew(tiff.Tif);
        ASSERT_TRUE(gtif);
        unsigned short model = 0, raster = 0, pcs = 0;
        GTIFKeyGet(gtif, GTModelTypeGeoKey, &model, 0, 1);
        GTIFKeyGet(gtif, GTRasterTypeGeoKey, &raster, 0, 1);
        GTIFKeyGet(gtif, ProjectedCSTypeGeoKey, &pcs, 0, 1);
        GTIFFree(gtif);
        EXPECT_EQ(model, ModelTypeProjected);
        EXPECT_EQ(raster, RasterPixelIsArea);
        EXPECT_EQ(pcs, 3857);

        uint16_t count = 0;
        double* scale = nullptr;
        double* tie = nullptr;
        ASSERT_TRUE(TIFFGetField(tiff.Tif, TIFFTAG_GEOPIXELSCALE, &count, &scale));
        ASSERT_TRUE(TIFFGetField(tiff.Tif, TIFFTAG_GEOTIEPOINTS, &count, &tie));
        const WorldTransform world = WorldTransformOf(place);
        EXPECT_EQ(scale[0], world.PixelSize) << zoom;
        EXPECT_EQ(scale[1], world.PixelSize);
        EXPECT_EQ(tie[0], 0.5);
        EXPECT_EQ(tie[1], 0.5);
        EXPECT_EQ(tie[3], world.CentreX);
        EXPECT_EQ(tie[4], world.CentreY);

        EXPECT_LT(MeanDifference(tiff.Pixels(), picture), 3.0);
        std::vector<std::pair<uint32_t, uint32_t>> sizes;
        for (tdir_t d = 1; d < 3; ++d) {
            ASSERT_TRUE(TIFFSetDirectory(tiff.Tif, d));
            EXPECT_EQ(tiff.Get32(TIFFTAG_SUBFILETYPE),
                      static_cast<uint32_t>(FILETYPE_REDUCEDIMAGE));
            sizes.emplace_back(tiff.Get32(TIFFTAG_IMAGEWIDTH), tiff.Get32(TIFFTAG_IMAGELENGTH));
        }
        EXPECT_EQ(sizes, (std::vector<std::pair<uint32_t, uint32_t>>{{300, 150}, {150, 75}}));
    }
}
