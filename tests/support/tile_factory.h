// Real JPEG images for tests, made with TurboJPEG.
//
//     std::string tile = MakeTileJpeg();                 // 256 x 256, decodes
//     std::string exact = PadJpegToSize(tile, 30000);    // still decodes, 30000 bytes
//     std::string small = PadJpegToSize(MakeSolidJpeg(8, 8, 0, 0, 0, 75), 1700);
//     std::string broken = WithLastBytes(exact, 0xFF, 0xD8);
//
// Sizes of the unpadded images (quality 75) to choose a base for a target
// size: MakeSolidJpeg(8, 8, ...) about 330 bytes, MakeSolidJpeg(256, 256, ...)
// about 1.3 KB, MakeTileJpeg(32, 32) about 0.8 KB, MakeTileJpeg() 256 x 256
// about 10 KB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A picture with structure (gradient, stripes, blocks) whose colours and
// pattern follow the seed, so tiles of different seeds tell apart.
std::string MakeTileJpeg(int width = 256, int height = 256, uint32_t seed = 0, int quality = 75);

// One colour everywhere (up to JPEG rounding).
std::string MakeSolidJpeg(int width, int height, uint8_t r, uint8_t g, uint8_t b, int quality = 75);

// Encodes packed RGB pixels (width * height * 3 bytes); empty on failure.
std::string EncodeRgbJpeg(const std::vector<uint8_t>& rgb, int width, int height, int quality = 75);

// The same image grown to exactly exactSize bytes by comment segments
// (0xFF 0xFE, at most 65535 bytes each) right after the start marker; it
// decodes to the same pixels and still ends in 0xFF 0xD9. When exactSize is
// smaller than the image (or the image is not a JPEG) it records a gtest
// failure and returns an empty string.
std::string PadJpegToSize(std::string jpeg, size_t exactSize);

// data with its final two bytes replaced by a and b (data must hold two).
std::string WithLastBytes(std::string data, uint8_t a, uint8_t b);

// Decoded RGB pixels (width * height * 3 bytes); empty, with width and height
// 0, when the data does not decode cleanly (a warning such as a premature end
// counts as a failure).
std::vector<uint8_t> DecodeJpegRgb(const std::string& jpeg, int& width, int& height);
