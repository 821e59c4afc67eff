// The parsers of the program's inputs, each behind one entry that takes any
// bytes. libFuzzer drives them (fuzz_target.cpp, built with -DVISTREL_FUZZ=ON
// and clang); the ordinary test suite feeds them every seed and every input
// that ever crashed (tests/fuzz), so a fixed crash stays fixed. Besides not
// crashing, each entry checks a property of what it parsed and aborts when
// it does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using FuzzEntry = void (*)(const uint8_t* data, size_t size);

struct FuzzTarget {
    const char* Name;  // also the folder of its seeds and crash inputs
    FuzzEntry Entry;
};

// "Vistrel2.ini": reading it twice through a write gives the same lines.
void FuzzSettingsFile(const uint8_t* data, size_t size);
// "CacheList.dat": the lines read survive a write and a read.
void FuzzArchiveList(const uint8_t* data, size_t size);
// "Favorites.dat": a line's fields survive being written back as a line.
void FuzzFavorites(const uint8_t* data, size_t size);
// Coordinate text: the key filter, the parser and the formatters.
void FuzzCoordinateText(const uint8_t* data, size_t size);
// Windows-1251 bytes survive a round trip; number texts read back.
void FuzzCodecAndNumbers(const uint8_t* data, size_t size);
// JPEG decoding in both modes and the tile validation rules.
void FuzzJpegTile(const uint8_t* data, size_t size);
// A ZIP archive as a tile source, with and without kept directories.
void FuzzZipLookup(const uint8_t* data, size_t size);
// An HTTP answer from a loopback server, through the tile request.
void FuzzHttpAnswer(const uint8_t* data, size_t size);
// Region files in every format: a shape read lies in the world, and its tile
// count agrees with a walk of its tiles.
void FuzzRegionFile(const uint8_t* data, size_t size);

const std::vector<FuzzTarget>& FuzzTargets();
