#pragma once
#include <string>
#include <string_view>

#include "platform/bitmap.h"

// How a stream that ends before its end marker is taken. Fail: as any
// corruption (answers from the server, which must never reach the cache
// half). Accept: as libjpeg itself takes it, a warning; the picture decodes
// with the missing part grey, and the completeness rule of the tile store
// judges the bytes (files already in the cache: an interrupted download).
enum class CutShort { Fail, Accept };

// A tile picture: the JPEG bytes it came from (kept unchanged, so validation
// and storage see exactly what was read or received) and the decoded 24-bit
// picture. A placeholder is a picture without bytes.
class JpegImage {
public:
    // Decodes `bytes` from their start and keeps them. A corrupt, truncated or
    // absurdly large JPEG is an ordinary false, never an abort; on false the
    // picture is empty (nothing half-decoded is ever shown).
    bool Decode(std::string bytes, CutShort cutShort = CutShort::Fail);
    // Reads a whole file and decodes it; false when it cannot be read or decoded.
    bool LoadFile(const std::string& path);
    // Baseline JPEG of `picture` at `quality`; the result becomes this image.
    bool Encode(const Bitmap& picture, int quality);
    // The image draws as `picture` from now on and has no JPEG bytes.
    void Assign(const Bitmap& picture);
    void Clear();

    const std::string& Data() const { return Bytes; }
    const Bitmap& Picture() const { return Pic; }
    Bitmap& Picture() { return Pic; }
    bool HasPicture() const { return !Pic.Empty(); }
    // The picture came from Bytes by a clean decode (or Bytes were encoded
    // from it); false for placeholders and after a failed decode.
    bool Decoded() const { return DecodedOk; }

private:
    std::string Bytes;
    Bitmap Pic;
    bool DecodedOk = false;
};

// JPEG bytes of a picture (baseline, given quality); empty on failure.
std::string EncodeJpeg(const Bitmap& picture, int quality);

// Decodes JPEG bytes into a 24-bit picture. Grey and CMYK images come out as
// RGB. False, with `picture` untouched, for anything but a clean decode: a
// corrupt or cut-short stream (libjpeg's warnings count as failures), a
// colour space we cannot show, or a size beyond the limits below. With
// CutShort::Accept a stream cut short is the one warning let through.
bool DecodeJpeg(std::string_view bytes, Bitmap& picture, CutShort cutShort = CutShort::Fail);

// Larger declared sizes are refused before any pixel memory is taken: tiles
// are 256 x 256, and a small file claiming a huge picture must not cost each
// worker hundreds of megabytes.
inline constexpr int MaxJpegSide = 16384;
inline constexpr long long MaxJpegPixels = 16'777'216;
