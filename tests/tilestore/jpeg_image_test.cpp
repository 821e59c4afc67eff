#include "tilestore/jpeg_image.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <memory>

#include "support/temp_dir.h"
#include "support/tile_factory.h"

namespace {

int MaxDifference(const Bitmap& picture, const std::vector<uint8_t>& rgb) {
    int worst = 0;
    for (int y = 0; y < picture.Height(); ++y) {
        const uint8_t* row = picture.ScanLine(y);
        for (int i = 0; i < picture.Width() * 3; ++i)
            worst = std::max(
                worst, std::abs(row[i] - rgb[(static_cast<size_t>(y) * picture.Width()) * 3 + i]));
    }
    return worst;
}

// The same image with the frame header's size replaced.
std::string WithDeclaredSize(std::string jpeg, int width, int height) {
    size_t at = 2;
    while (at + 9 < jpeg.size() && static_cast<uint8_t>(jpeg[at]) == 0xFF) {
        const uint8_t marker = static_cast<uint8_t>(jpeg[at + 1]);
        if (marker == 0xC0 || marker == 0xC2) {
            jpeg[at + 5] = static_cast<char>(height >> 8);
            jpeg[at + 6] = static_cast<char>(height & 0xFF);
            jpeg[at + 7] = static_cast<char>(width >> 8);
            jpeg[at + 8] = static_cast<char>(width & 0xFF);
            return jpeg;
        }
        at += 2 + (static_cast<uint8_t>(jpeg[at + 2]) << 8 | static_cast<uint8_t>(jpeg[at + 3]));
    }
    ADD_FAILURE() << "no frame header";
    return jpeg;
}

std::string TurboJpeg(const std::vector<uint8_t>& pixels, int width, int height, int format,
                      int subsampling, int flags = 0) {
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(handle, pixels.data(), width, 0, height, format, &out, &size,
                               subsampling, 85, flags);
    std::string jpeg = rc == 0 ? std::string(reinterpret_cast<char*>(out), size) : std::string();
    tjFree(out);
    tjDestroy(handle);
    return jpeg;
}

TEST(JpegImage, DecodesLikeTheReferenceDecoderAndKeepsTheBytes) {
    for (uint32_t seed : {1u, 7u}) {
        const std::string jpeg = MakeTileJpeg(256, 256, seed);
        int w = 0, h = 0;
        const std::vector<uint8_t> reference = DecodeJpegRgb(jpeg, w, h);
        ASSERT_EQ(w, 256);
        JpegImage image;
        ASSERT_TRUE(image.Decode(jpeg));
        EXPECT_TRUE(image.Decoded());
        EXPECT_TRUE(image.Data() == jpeg);
        ASSERT_EQ(image.Picture().Width(), 256);
        ASSERT_EQ(image.Picture().Height(), 256);
        EXPECT_LE(MaxDifference(image.Picture(), reference), 1);
    }
}

TEST(JpegImage, OddSizesAndProgressiveDecode) {
    const std::string odd = MakeTileJpeg(37, 19, 3);
    JpegImage image;
    ASSERT_TRUE(image.Decode(odd));
    EXPECT_EQ(image.Picture().Width(), 37);
    EXPECT_EQ(image.Picture().Height(), 19);

    std::vector<uint8_t> rgb(64 * 64 * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7);
    const std::string progressive =
        TurboJpeg(rgb, 64, 64, TJPF_RGB, TJSAMP_444, TJFLAG_PROGRESSIVE);
    ASSERT_FALSE(progressive.empty());
    int w = 0, h = 0;
    const auto reference = DecodeJpegRgb(progressive, w, h);
    ASSERT_TRUE(image.Decode(progressive));
    EXPECT_LE(MaxDifference(image.Picture(), reference), 1);
}

TEST(JpegImage, GreyAndCmykComeOutAsRgb) {
    std::vector<uint8_t> grey(32 * 32, 90);
    JpegImage image;
    ASSERT_TRUE(image.Decode(TurboJpeg(grey, 32, 32, TJPF_GRAY, TJSAMP_GRAY)));
    Rgb p = image.Picture().Pixel(10, 10);
    EXPECT_NEAR(p.R, 90, 2);
    EXPECT_EQ(p.R, p.G);
    EXPECT_EQ(p.G, p.B);

    // CMYK as Adobe writes it (inverted): full magenta and yellow ink, no
    // black, is red; full black ink is black whatever else.
    struct CmykCase {
        uint8_t C, M, Y, K;
        Rgb Expected;
    };
    for (const CmykCase& c :
         {CmykCase{255, 0, 0, 255, {255, 0, 0}}, CmykCase{0, 255, 255, 255, {0, 255, 255}},
          CmykCase{255, 255, 255, 0, {0, 0, 0}}, CmykCase{255, 255, 255, 255, {255, 255, 255}}}) {
        std::vector<uint8_t> cmyk;
        for (int i = 0; i < 16 * 16; ++i) cmyk.insert(cmyk.end(), {c.C, c.M, c.Y, c.K});
        const std::string jpeg = TurboJpeg(cmyk, 16, 16, TJPF_CMYK, TJSAMP_444);
        ASSERT_FALSE(jpeg.empty());
        ASSERT_TRUE(image.Decode(jpeg));
        p = image.Picture().Pixel(8, 8);
        EXPECT_NEAR(p.R, c.Expected.R, 6);
        EXPECT_NEAR(p.G, c.Expected.G, 6);
        EXPECT_NEAR(p.B, c.Expected.B, 6);
    }
}

TEST(JpegImage, BadInputIsAnOrdinaryFailure) {
    const std::string good = MakeTileJpeg(256, 256, 5);
    const std::string sof = WithDeclaredSize(good, 256, 256);
    ASSERT_EQ(sof, good);  // the frame header was found where expected
    struct Case {
        const char* What;
        std::string Bytes;
    };
    const Case cases[] = {
        {"empty", ""},
        {"text", "this is not a picture at all"},
        {"start marker only", std::string("\xFF\xD8", 2)},
        {"headers only", good.substr(0, 600)},
        {"cut in half", good.substr(0, good.size() / 2)},
        {"cut before the last scan bytes", good.substr(0, good.size() - 40)},
        {"end marker missing", good.substr(0, good.size() - 2)},
        {"last byte missing", good.substr(0, good.size() - 1)},
        {"end marker missing after padding",
         PadJpegToSize(good, good.size() + 100).substr(0, good.size() + 98)},
        {"scan data scrambled",
         [&] {
             std::string s = good;
             for (size_t i = s.size() / 2; i < s.size() / 2 + 200; ++i)
                 s[i] = static_cast<char>(0xFF);
             return s;
         }()},
        {"65535 x 65535", WithDeclaredSize(good, 65535, 65535)},
        {"60000 x 60000", WithDeclaredSize(good, 60000, 60000)},
        {"wider than a side may be", WithDeclaredSize(good, 65501, 8)},
        {"too many pixels", WithDeclaredSize(good, 20000, 10000)},
        {"zero width", WithDeclaredSize(good, 0, 256)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        JpegImage image;
        image.Assign(Bitmap(8, 8));
        EXPECT_FALSE(image.Decode(c.Bytes));
        EXPECT_FALSE(image.Decoded());
        EXPECT_FALSE(image.HasPicture());      // nothing half-decoded stays behind
        EXPECT_TRUE(image.Data() == c.Bytes);  // the bytes stay, as read
        Bitmap untouched(4, 4);
        untouched.Fill({1, 2, 3});
        EXPECT_FALSE(DecodeJpeg(c.Bytes, untouched));
        EXPECT_EQ(untouched.Width(), 4);
        EXPECT_EQ(untouched.Pixel(0, 0), (Rgb{1, 2, 3}));
    }
}

TEST(JpegImage, WhatFollowsACompletePictureIsLeftToTheByteRule) {
    // A stray marker where the end marker belongs, or bytes after the end:
    // the picture is whole, so it decodes; the tile store judges the bytes.
    const std::string good = MakeTileJpeg(256, 256, 6);
    JpegImage image;
    EXPECT_TRUE(image.Decode(WithLastBytes(good, 0xFF, 0xD8)));
    EXPECT_TRUE(image.Decode(good + std::string(100, '\0')));
}

// For files already in the cache a premature end is what libjpeg makes of
// it, a warning: the rows that arrived are the picture's, the rest is grey.
// Other damage, and a cut inside the headers, still fail.
TEST(JpegImage, CutShortAcceptedOnlyWhenAskedFor) {
    const std::string good = MakeTileJpeg(256, 256, 8);
    JpegImage whole;
    ASSERT_TRUE(whole.Decode(good));
    for (size_t keep : {good.size() / 2, good.size() - 2, good.size() - 40}) {
        SCOPED_TRACE(keep);
        const std::string cut = good.substr(0, keep);
        JpegImage image;
        EXPECT_FALSE(image.Decode(cut));
        ASSERT_TRUE(image.Decode(cut, CutShort::Accept));
        EXPECT_TRUE(image.Data() == cut);
        ASSERT_EQ(image.Picture().Width(), 256);
        ASSERT_EQ(image.Picture().Height(), 256);
        for (int x = 0; x < 256; x += 51)
            EXPECT_EQ(image.Picture().Pixel(x, 3), whole.Picture().Pixel(x, 3));
    }
    std::string scrambled = good;
    for (size_t i = good.size() / 2; i < good.size() / 2 + 200; ++i)
        scrambled[i] = static_cast<char>(0xFF);
    Bitmap picture;
    EXPECT_FALSE(DecodeJpeg(scrambled, picture, CutShort::Accept));
    EXPECT_FALSE(DecodeJpeg(good.substr(0, 300), picture, CutShort::Accept));
}

TEST(JpegImage, EncodesBaselineAtTheGivenQuality) {
    Bitmap picture(256, 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            picture.FillRect(x, y, 1, 1, {uint8_t(x), uint8_t(y), uint8_t((x + y) / 2)});
    const std::string q90 = EncodeJpeg(picture, 90);
    const std::string q30 = EncodeJpeg(picture, 30);
    ASSERT_GT(q90.size(), q30.size());
    // Baseline frame, no progressive one; a whole stream.
    EXPECT_NE(q90.find("\xFF\xC0", 0, 2), std::string::npos);
    EXPECT_EQ(q90.find("\xFF\xC2", 0, 2), std::string::npos);
    EXPECT_EQ(q90.substr(0, 2), std::string("\xFF\xD8", 2));
    EXPECT_EQ(q90.substr(q90.size() - 2), std::string("\xFF\xD9", 2));
    // The luminance table of quality 90 starts with 3 (16 scaled by 20%).
    const size_t dqt = q90.find("\xFF\xDB", 0, 2);
    ASSERT_NE(dqt, std::string::npos);
    EXPECT_EQ(static_cast<uint8_t>(q90[dqt + 5]), 3);

    int w = 0, h = 0;
    const auto reference = DecodeJpegRgb(q90, w, h);
    ASSERT_EQ(w, 256);
    EXPECT_LE(MaxDifference(picture, reference), 12);

    JpegImage image;
    ASSERT_TRUE(image.Encode(picture, 90));
    EXPECT_TRUE(image.Data() == q90);
    EXPECT_TRUE(image.Decoded());
    EXPECT_TRUE(EncodeJpeg(Bitmap(), 90).empty());
}

TEST(JpegImage, AssignMakesAPictureWithoutBytes) {
    JpegImage image;
    ASSERT_TRUE(image.Decode(MakeTileJpeg()));
    Bitmap grey(256, 256);
    grey.Fill({192, 192, 192});
    image.Assign(grey);
    EXPECT_TRUE(image.Data().empty());
    EXPECT_FALSE(image.Decoded());
    EXPECT_EQ(image.Picture().Pixel(200, 17), (Rgb{192, 192, 192}));
}

TEST(JpegImage, LoadFile) {
    TempDir dir;
    const std::string jpeg = MakeTileJpeg(64, 64, 2);
    ASSERT_TRUE(dir.WriteFile("a.jpg", jpeg));
    ASSERT_TRUE(dir.WriteFile("empty.jpg", ""));
    JpegImage image;
    EXPECT_TRUE(image.LoadFile(dir.File("a.jpg")));
    EXPECT_TRUE(image.Data() == jpeg);
    EXPECT_FALSE(image.LoadFile(dir.File("empty.jpg")));
    EXPECT_FALSE(image.LoadFile(dir.File("missing.jpg")));
    EXPECT_FALSE(image.HasPicture());
    EXPECT_FALSE(image.LoadFile(dir.Path()));  // a folder
}

}  // namespace

// The sink runs inside libjpeg; whatever it throws ends the encoding as a
// failed write, never by unwinding through C code.
TEST(JpegImage, ASinkThatThrowsIsAFailedWrite) {
    Bitmap picture;
    picture.SetSize(512, 512);
    // Noise, so the stream takes several of the destination's chunks.
    uint32_t noise = 1;
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512 * 3; ++x)
            picture.ScanLine(y)[x] =
                static_cast<uint8_t>((noise = noise * 1664525u + 1013904223u) >> 24);
    for (const bool throwAtOnce : {true, false}) {
        JpegLineEncoder encoder;
        int calls = 0;
        const auto sink = [&](const char*, std::size_t) -> bool {
            if (throwAtOnce || ++calls > 1) throw std::bad_alloc();
            return true;
        };
        const bool ok = encoder.Start(512, 512, 100, sink) && encoder.WriteRows(picture, 0, 512) &&
                        encoder.Finish();
        EXPECT_FALSE(ok) << throwAtOnce;
        EXPECT_FALSE(encoder.Error().empty()) << throwAtOnce;
    }
}
