#pragma once
#include <string>
#include <string_view>

// MBTiles files as read-only tile sources beside the ZIP archives: listed in
// the same list, looked up in the same order. A tile is the row of its zoom,
// column and row, TMS rows unless the file's metadata says "scheme" "xyz".
// Files are opened read-only, once per thread and kept (a file replaced
// under its name is opened anew), and never wait for a lock: a file that is
// busy, damaged, truncated or not an MBTiles file yields what it can and
// nothing else. Tiles that are not JPEG images are passed over.

// The list names an MBTiles file (by its extension, in any case).
bool IsMBTilesPath(std::string_view path);

// The bytes of the tile with these key letters; false, with `buffer` empty,
// when the file does not yield it.
bool FindInMBTiles(const std::string& path, const std::string& tileName, std::string& buffer);

// Closes this thread's open files.
void CloseMBTilesSources();
