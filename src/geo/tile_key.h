#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// Tile keys: the source string (the constant part of the request URL)
// followed by one letter per zoom level, most significant first:
// q north-west, r north-east, s south-east, t south-west.
//
// prefixLen is always the length of the source string in BYTES (pass
// SourceString.size(); the source string is UTF-8 in memory). Nothing here
// ever changes those bytes, even when the source string ends in q, r, s or t.

struct TileKey {
    std::string Key;  // source string + letters
    int XOffset = 0;  // as TileAt's
    int YOffset = 0;
};

// The key of the tile holding (lon, lat) at zoom z (1..20) and the point's
// pixel inside it, by walking the quadrants down from the whole world; it
// agrees with TileAt, tie-breaks included. The whole-world tile above zoom 1
// has no letters; it is just the source string and is not made here.
TileKey TileKeyAt(int z, double lon, double lat, const std::string& sourceString);

// Neighbour steps at the same zoom, in place. They wrap around the world:
// east of the easternmost column is the westernmost one, north of the top row
// is the bottom row. Callers that must not wrap check the world's edge
// themselves. Letters other than q, r, s, t are a caller's error.
void StepEast(std::string& key, std::size_t prefixLen);
void StepWest(std::string& key, std::size_t prefixLen);
void StepNorth(std::string& key, std::size_t prefixLen);
void StepSouth(std::string& key, std::size_t prefixLen);

struct TileIndex {
    int Zoom = 0;  // the number of letters
    int Column = 0;
    int Row = 0;

    bool operator==(const TileIndex&) const = default;
};

// The tile a key names: the bits of its letters (after prefixLen bytes).
TileIndex KeyToTile(std::string_view key, std::size_t prefixLen);
// The letters of the tile (z, column, row); column and row are 0..2^z-1.
std::string KeyLetters(int z, int column, int row);

// The letters of a key string; empty for the whole-world tile.
std::string TileName(std::string_view key, std::size_t prefixLen);
// cachePath already ends with '/': cachePath + "rtt" + ".jpg". The whole-world
// tile's file is cachePath + ".jpg".
std::string TileFileName(std::string_view cachePath, std::string_view tileName);
// The entry name inside an archive: letters + ".jpg".
std::string ArchiveEntryName(std::string_view tileName);
// The request URL of a tile. A source string without "{" is followed by the
// letters. One with "{" is a URL template and nothing is appended; its
// placeholders are
//   {z}  the zoom, the number of letters (the common XYZ numbering)
//   {x}  the column from the west, 0..2^z-1
//   {y}  the row from the north, 0..2^z-1
//   {-y} the row from the south (TMS)
//   {q}  the quadtree key in digits: 0 north-west, 1 north-east,
//        2 south-west, 3 south-east
// A template that CheckUrlTemplate rejects gives an empty URL, which no
// request can use: better no request than one to a wrong address.
std::string TileUrl(std::string_view sourceString, std::string_view tileName);

// True when the source string is a URL template (holds "{").
bool IsUrlTemplate(std::string_view sourceString);
// Empty when the source string can be used: not a template, or a template of
// known placeholders only. Otherwise the reason, a text for the user.
std::string CheckUrlTemplate(std::string_view sourceString);
// The placeholders, one per line with their meaning, for a tool tip.
std::string UrlTemplateHelp();
