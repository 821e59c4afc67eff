// The pixels of a TIFF as libtiff decodes them, for comparing with a picture.
#pragma once
#include <tiffio.h>

#include <cstdint>
#include <vector>

#include "platform/bitmap.h"

// The whole full-resolution image; an empty Bitmap when it cannot be read.
inline Bitmap TiffPixels(TIFF* tif) {
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    std::vector<uint32_t> rgba(std::size_t{w} * h);
    if (!TIFFReadRGBAImageOriented(tif, w, h, rgba.data(), ORIENTATION_TOPLEFT, 0)) return Bitmap();
    Bitmap out(static_cast<int>(w), static_cast<int>(h));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint32_t p = rgba[std::size_t{y} * w + x];
            uint8_t* px = out.ScanLine(static_cast<int>(y)) + x * 3;
            px[0] = static_cast<uint8_t>(TIFFGetR(p));
            px[1] = static_cast<uint8_t>(TIFFGetG(p));
            px[2] = static_cast<uint8_t>(TIFFGetB(p));
        }
    return out;
}
