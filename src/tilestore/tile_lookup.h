#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "core/main_state.h"
#include "tilestore/jpeg_image.h"
#include "tilestore/tile_record.h"

// Captions of the placeholder tiles.
inline constexpr std::string_view CaptionAwaitingDownload = "ожидает загрузки...";
inline constexpr std::string_view CaptionNotInCache = "Отсутствует в кэше";
inline constexpr std::string_view CaptionLoadFailed = "Не удалось загрузить";
inline constexpr std::string_view CaptionNoImagery = "Нет снимка";

// Stored tiles shorter than this are taken for cut-short downloads.
inline constexpr std::size_t MinTileBytes = 1701;

// The stored bytes of a tile are complete: at least MinTileBytes long and
// ending in the JPEG end-of-image marker FF D9.
bool TileDataComplete(std::string_view data);

// The image decodes cleanly and its JPEG bytes are complete. An image that
// was decoded already is not decoded again; a placeholder (no bytes) fails.
bool CheckTileJpeg(JpegImage& image);

// 256 x 256 grey picture with the caption and "-" + tileName + "-" in black;
// the image draws as it from now on.
void MakePlaceholderTile(JpegImage& image, std::string_view caption, std::string_view tileName);

// What a look into the cache folder found.
enum class CachedTile {
    Missing,     // no such file (or it vanished while being read)
    Valid,       // decoded and complete; the image holds it
    Incomplete,  // decoded but fails TileDataComplete; deleted, the image holds it
    Broken,      // could not be read or decoded; deleted
};

// Reads one cache file into `image` and deletes it when it is broken or
// incomplete. Safe on any thread: it only touches the file and the image.
// A file that another thread replaces meanwhile is not deleted.
CachedTile ReadCachedTile(const std::string& fileName, JpegImage& image);

// The archive step: the tile's entry from the first archive that has it,
// decoded into `image`. False when no archive has it or it does not decode.
// Safe on any thread.
bool ReadArchiveTile(const MainState& state, const std::string& tileName, JpegImage& image);

// The view's lookup of one tile (GUI thread: reads Rendering and counts into
// TotalBadFileErrors). Uses tile.FileName and tile.TileName. Returns false
// only when a cache file existed and could not be read or decoded.
bool LoadTile(MainState& state, jtype& tile);

// One tile position of the view (GUI thread): from the key string fills
// TileName, Url (TileUrl: a template is expanded), FileName, clears Pending
// and runs LoadTile; a failure shows the "cannot load" placeholder.
// Afterwards tile.Image is drawable and tile.Pending says whether the tile
// still has to be fetched.
void LoadViewTile(MainState& state, const std::string& key, jtype& tile);
