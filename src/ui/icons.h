#pragma once
#include <QIcon>

// The tool bar's pictures, drawn in code so the program needs no image files.
// Mode button: 0 cache only, 1 internet only, 2 cache and internet.
QIcon ModeIcon(int image);
QIcon RefreshIcon();
QIcon SearchIcon();
QIcon SettingsIcon();
QIcon SelectionIcon();
QIcon PolygonIcon();
QIcon OpenRegionIcon();
QIcon CoverageIcon();
