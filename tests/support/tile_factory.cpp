#include "support/tile_factory.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <algorithm>
#include <memory>

namespace {

struct TjHandle {
    void operator()(void* handle) const { tjDestroy(handle); }
};
struct TjBuffer {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

uint32_t Hash(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

constexpr size_t kMaxSegment = 2 + 65535;  // marker plus the largest length field
constexpr size_t kMinSegment = 4;          // marker plus an empty payload

void AppendComment(std::string& out, size_t segmentBytes) {
    const size_t length = segmentBytes - 2;
    out += '\xFF';
    out += '\xFE';
    out += static_cast<char>(length >> 8);
    out += static_cast<char>(length & 0xFF);
    static constexpr char kText[] = "test padding ";
    for (size_t i = 0; i < length - 2; ++i) out += kText[i % (sizeof kText - 1)];
}

}  // namespace

std::string EncodeRgbJpeg(const std::vector<uint8_t>& rgb, int width, int height, int quality) {
    if (width <= 0 || height <= 0 || rgb.size() != static_cast<size_t>(width) * height * 3)
        return {};
    std::unique_ptr<void, TjHandle> handle(tjInitCompress());
    if (!handle) return {};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const int rc = tjCompress2(handle.get(), rgb.data(), width, 0, height, TJPF_RGB, &buffer, &size,
                               TJSAMP_420, std::clamp(quality, 1, 100), 0);
    std::unique_ptr<unsigned char, TjBuffer> owned(buffer);
    if (rc != 0 || buffer == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(buffer), size);
}

std::string MakeTileJpeg(int width, int height, uint32_t seed, int quality) {
    if (width <= 0 || height <= 0) return {};
    const uint32_t h = Hash(seed + 0x9E3779B9u);
    const int baseR = static_cast<int>(h & 0xFF), baseG = static_cast<int>((h >> 8) & 0xFF),
              baseB = static_cast<int>((h >> 16) & 0xFF);
    const int stripe = 6 + static_cast<int>((h >> 24) % 20);  // stripe period in pixels
    const int block = 16 << ((h >> 28) & 1);
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool stripeOn = ((x + y) / std::max(1, stripe / 2)) % 2 == 0;
            const bool blockOn = ((x / block) + (y / block)) % 2 == 0;
            const int shade =
                (x * 96) / width - (y * 64) / height + (stripeOn ? 40 : -40) + (blockOn ? 24 : 0) +
                static_cast<int>(Hash(seed ^ static_cast<uint32_t>(y * 65599 + x)) & 15);
            uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(std::clamp(baseR + shade, 0, 255));
            p[1] = static_cast<uint8_t>(std::clamp(baseG + shade / 2, 0, 255));
            p[2] = static_cast<uint8_t>(std::clamp(baseB - shade, 0, 255));
        }
    }
    return EncodeRgbJpeg(rgb, width, height, quality);
}

std::string MakeSolidJpeg(int width, int height, uint8_t r, uint8_t g, uint8_t b, int quality) {
    if (width <= 0 || height <= 0) return {};
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = r;
        rgb[i + 1] = g;
        rgb[i + 2] = b;
    }
    return EncodeRgbJpeg(rgb, width, height, quality);
}

std::string PadJpegToSize(std::string jpeg, size_t exactSize) {
    if (jpeg.size() < 4 || static_cast<uint8_t>(jpeg[0]) != 0xFF ||
        static_cast<uint8_t>(jpeg[1]) != 0xD8) {
        ADD_FAILURE() << "PadJpegToSize: the data is not a JPEG";
        return {};
    }
    size_t pad = exactSize >= jpeg.size() ? exactSize - jpeg.size() : 0;
    if (exactSize < jpeg.size()) {
        ADD_FAILURE() << "PadJpegToSize: the image has " << jpeg.size() << " bytes, more than the "
                      << exactSize << " asked for";
        return {};
    }
    if (pad == 0) return jpeg;
    if (pad < kMinSegment) {
        // Too little room for a segment of its own: give up the encoder's
        // JFIF header (decoders do without it) and pad its bytes as well.
        const bool app0 = jpeg.size() > 6 && static_cast<uint8_t>(jpeg[2]) == 0xFF &&
                          static_cast<uint8_t>(jpeg[3]) == 0xE0;
        if (!app0) {
            ADD_FAILURE() << "PadJpegToSize: cannot grow this image by only " << pad << " bytes";
            return {};
        }
        const size_t app0Bytes = 2 + (static_cast<size_t>(static_cast<uint8_t>(jpeg[4])) << 8 |
                                      static_cast<uint8_t>(jpeg[5]));
        jpeg.erase(2, app0Bytes);
        pad += app0Bytes;
    }
    std::string padding;
    while (pad > 0) {
        size_t segment = std::min(pad, kMaxSegment);
        if (pad - segment > 0 && pad - segment < kMinSegment) segment -= kMinSegment;
        AppendComment(padding, segment);
        pad -= segment;
    }
    jpeg.insert(2, padding);  // right after the start marker
    return jpeg;
}

std::string WithLastBytes(std::string data, uint8_t a, uint8_t b) {
    if (data.size() < 2) {
        ADD_FAILURE() << "WithLastBytes: data of " << data.size() << " bytes";
        return data;
    }
    data[data.size() - 2] = static_cast<char>(a);
    data[data.size() - 1] = static_cast<char>(b);
    return data;
}

std::vector<uint8_t> DecodeJpegRgb(const std::string& jpeg, int& width, int& height) {
    width = height = 0;
    std::unique_ptr<void, TjHandle> handle(tjInitDecompress());
    if (!handle || jpeg.empty()) return {};
    auto* data = reinterpret_cast<const unsigned char*>(jpeg.data());
    int w = 0, h = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle.get(), data, jpeg.size(), &w, &h, &subsampling, &colorspace) !=
        0)
        return {};
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    // Strict: a warning (premature end, corrupt data) fails too.
    if (tjDecompress2(handle.get(), data, jpeg.size(), rgb.data(), w, 0, h, TJPF_RGB, 0) != 0)
        return {};
    width = w;
    height = h;
    return rgb;
}
