// A procedural planet rendered as 256 x 256 imagery tiles.
//
// Every pixel is coloured from noise evaluated at its Mercator world position,
// so a place looks the same at every zoom level; each level only adds the
// detail that its pixels can show. Rendering is deterministic and needs no
// state, so any thread may call these functions at any time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vistrel::tileserver {

constexpr int kTileSize = 256;
constexpr int kMaxZoom = 20;

// Column counted east from the 180 degree meridian, row south from the
// northern edge; zoom 0 is the whole world in one tile.
struct TileAddress {
    int Zoom = 0;
    uint32_t Column = 0;
    uint32_t Row = 0;
};

// Key letters, one per level, most significant first: q north-west,
// r north-east, s south-east, t south-west. Empty letters give the whole
// world. Nothing for other characters or more than kMaxZoom letters.
std::optional<TileAddress> ParseTileLetters(std::string_view letters);

// Inverse of ParseTileLetters.
std::string TileLetters(const TileAddress& tile);

// kTileSize * kTileSize * 3 bytes, RGB, rows top to bottom.
std::vector<uint8_t> RenderTileRgb(const TileAddress& tile);

// Baseline JPEG (4:2:0) of packed RGB pixels; empty on failure.
std::string EncodeJpeg(const uint8_t* rgb, int width, int height, int quality);

// The tile of these key letters as JPEG bytes; empty when the letters are not
// a key.
std::string RenderTileJpeg(const std::string& letters, int quality = 85);

}  // namespace vistrel::tileserver
