#pragma once
#include <functional>
#include <memory>
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

// A baseline JPEG encoder fed a few rows at a time, so a picture far larger
// than memory can be written from bands. Every setting but the quality is
// libjpeg's default; fed the same rows, it writes exactly what EncodeJpeg
// writes. The bytes go to `sink` as they come; a sink returning false stops
// the encoding (an ordinary failure).
class JpegLineEncoder {
  public:
    using Sink = std::function<bool(const char* data, std::size_t size)>;

    JpegLineEncoder();
    ~JpegLineEncoder();
    JpegLineEncoder(const JpegLineEncoder&) = delete;
    JpegLineEncoder& operator=(const JpegLineEncoder&) = delete;

    // False for a size libjpeg refuses (a side above 65,500 or below 1).
    bool Start(int width, int height, int quality, Sink sink);
    // `count` rows of `rows` from `firstRow` on, in order; the width must be
    // the image's. After a failure every call is false.
    bool WriteRows(const Bitmap& rows, int firstRow, int count);
    // After the last row: writes the end of the stream.
    bool Finish();
    // libjpeg's message for the first failure; empty while all is well.
    const std::string& Error() const { return Message; }

  private:
    struct State;
    std::unique_ptr<State> S;
    std::string Message;
    bool Failed = false;
};

// The picture size a JPEG declares, read from its header alone.
bool ReadJpegSize(std::string_view bytes, int& width, int& height);

// Decodes JPEG bytes into a 24-bit picture. Grey and CMYK images come out as
// RGB. False, with `picture` untouched, for anything but a clean decode: a
// corrupt or cut-short stream (libjpeg's warnings count as failures), a
// colour space we cannot show, or a size beyond the limits below. With
// CutShort::Accept a stream cut short is the one warning let through.
// `shrink` (1, 2, 4 or 8) decodes at that fraction of the size, sides
// rounded up, far cheaper than decoding whole and scaling down.
bool DecodeJpeg(std::string_view bytes, Bitmap& picture, CutShort cutShort = CutShort::Fail,
                int shrink = 1);

// Larger declared sizes are refused before any pixel memory is taken: tiles
// are 256 x 256, and a small file claiming a huge picture must not cost each
// worker hundreds of megabytes.
inline constexpr int MaxJpegSide = 16384;
inline constexpr long long MaxJpegPixels = 16'777'216;
