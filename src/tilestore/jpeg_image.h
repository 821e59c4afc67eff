#pragma once
#include <string>
#include <string_view>

#include "platform/bitmap.h"

// A tile picture: the JPEG bytes it came from (kept unchanged, so validation
// and storage see exactly what was read or received) and the decoded 24-bit
// picture. A placeholder is a picture without bytes.
class JpegImage {
public:
    // Decodes `bytes` from their start and keeps them. A corrupt, truncated or
    // absurdly large JPEG is an ordinary false, never an abort; on false the
    // picture may be partly decoded or empty.
    bool Decode(std::string bytes);
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

private:
    std::string Bytes;
    Bitmap Pic;
};

// JPEG bytes of a picture (baseline, given quality); empty on failure.
std::string EncodeJpeg(const Bitmap& picture, int quality);
