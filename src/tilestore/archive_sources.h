#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "core/main_state.h"

// ZIP archives as read-only tile sources (and MBTiles files listed among
// them, see mbtiles_source.h). A tile is the top-level entry
// tileName + ".jpg", the name compared without regard to ASCII case; stored
// and deflated entries are read with their CRC checked. Archives that are
// missing, unreadable or damaged, and entries that are encrypted, damaged,
// of another method or absurdly large, are skipped silently.
//
// Each archive's directory is kept between lookups, keyed on the file's
// identity (device, inode, size, modification time), so a lookup that misses
// does not reopen the archive and a changed archive is read afresh. Readers
// are pooled per archive and each lookup has one to itself, so any thread
// may call these at any time.

// Copies the entry of the first archive of state.ArchiveList (in list order)
// that yields it into `buffer` and returns true; false with `buffer` empty
// when none does. Never writes to an archive or to the cache folder.
bool FindInArchives(const MainState& state, const std::string& tileName, std::string& buffer);
// The same over a given list of archive paths.
bool FindInArchives(const std::vector<std::string>& archives, const std::string& tileName,
                    std::string& buffer);

// Off: every lookup opens each archive anew and keeps nothing (a baseline
// for measurements). On by default.
void SetArchiveDirectoryCaching(bool on);
// Forgets every kept directory and closes the pooled readers.
void ClearArchiveDirectories();

// Entries larger than this are not tiles; they are skipped, not inflated.
inline constexpr std::size_t MaxArchiveEntryBytes = 64u << 20;
