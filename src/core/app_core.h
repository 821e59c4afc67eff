#pragma once
#include <chrono>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "core/settings_file.h"

inline constexpr const char* ArchiveListFileName = "CacheList.dat";
inline constexpr const char* FavoritesFileName = "Favorites.dat";

// The part of the start-up that needs no window: start values, the archive
// list, the settings file and the start-up zoom. Returns LoadSettings' result.
bool StartUpState(MainState& state, const std::string& programFolder, ScreenSize screen);

// Creates the cache folder when missing, so that the first tile received can
// be stored; a failure shows later as a write error of that tile.
void MakeCacheFolder(const MainState& state);

// Reloads ArchiveList from "CacheList.dat"; an unreadable file gives an empty list.
void LoadArchiveList(MainState& state);

// Shutdown: raise the newest view-fill worker's stop flag.
void RaiseViewLoaderStop(MainState& state);
// Waits, checking every 100 ms, until no view-fill worker is left or the
// limit has passed. True when none is left.
bool WaitForViewLoaders(MainState& state, std::chrono::milliseconds limit);
