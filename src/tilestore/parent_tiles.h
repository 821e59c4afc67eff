#pragma once
#include <string>

#include "core/main_state.h"

// Quality of generated parent tiles.
inline constexpr int ParentTileQuality = 90;

// Builds the parent of the cache tile `fileName` (CachePath + letters +
// ".jpg") from it and its three siblings, then climbs on to the parent's own
// parent, up to the whole-world tile ".jpg". Only a q tile triggers a build.
// Reads ReplaceUpperLayers; everything else comes from the files. Failures
// are silent. Safe on any thread; concurrent builds of one parent each write
// a whole file (atomic replace).
void BuildParentTile(const MainState& state, const std::string& fileName);
