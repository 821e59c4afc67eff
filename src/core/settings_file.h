#pragma once
#include <string>

#include "core/main_state.h"
#include "platform/file_io.h"

inline constexpr const char* SettingsFileName = "Vistrel2.ini";

struct ScreenSize {
    int Width = 1920;
    int Height = 1080;
};

// Client size of a tool window (1..3) in a layout, for keeping a floating one
// on screen.
struct ToolWindowSize {
    int Width = 0, Height = 0;
};
ToolWindowSize ToolWindowClientSize(int window, bool verticalFlag);

// The JPEG quality of an entry of the quality list ("10%".."100%"). A list
// index from the file that selects no entry (it is kept, and written back as
// read) gives the list's start value, 80.
int QualityPercent(int listIndex);

// Reads the 65-line settings file into the state. Reading stops at the first
// failure, keeping what was read; after any failure SourceString is the
// default one. Returns true when every line was read.
bool LoadSettings(MainState& state, const std::string& path, ScreenSize screen);
// The 65 lines of the current state, in index order.
std::vector<std::string> SettingsLines(const MainState& state);
// Writes the file whole and atomically; a failure leaves the old file intact.
FileResult SaveSettings(const MainState& state, const std::string& path);
