#pragma once
#include <string>

#include "core/main_state.h"

// Navigation on the map area: everything here changes the view centre or
// computes from it; nothing renders. Positions are map-area pixels; the
// bitmap size is ViewBitmap's.

struct GeoPoint {
    double Lat = 0;
    double Lon = 0;  // west positive
};

// The point under map-area pixel (x, y): the view centre moved by
// (x - bitmapWidth / 2, y - bitmapHeight / 2) at the view's zoom.
GeoPoint PointUnder(const MainState& state, int x, int y);

// Status bar panels 0 and 1 for the point under (x, y): N55г 45,348мин and
// E37г 37,038мин.
struct StatusCoordinates {
    std::string Latitude;
    std::string Longitude;
};
StatusCoordinates StatusCoordinatesAt(const MainState& state, int x, int y);
// The cache file of the view's tile under (x, y).
std::string TileFileUnder(const MainState& state, int x, int y);

// A click at (DragStartX, DragStartY): the clicked pixel becomes the centre.
void CentreOnClick(MainState& state);
// A drag released at (x, y): the centre moves against the drag. Both clamp
// at the world's edge, so the centre never leaves the world.
void MoveByDrag(MainState& state, int x, int y);

// The zoom step of a click with the click scheme (WheelZoom off): +1 for the
// left button, -1 for the right, 0 otherwise, and 0 when the wheel zooms.
enum class MouseButton { Left, Right, Middle, Other };
int ClickZoomStep(bool wheelZoom, MouseButton button);

// Where the view is drawn while a pan drag shows it shifted by (sx, sy), and
// the strips the shifted picture uncovers (filled with the button face).
struct Rect {
    int X = 0, Y = 0, Width = 0, Height = 0;
    bool Empty() const { return Width <= 0 || Height <= 0; }
    bool operator==(const Rect&) const = default;
};
struct ShiftedView {
    int BitmapX = 0, BitmapY = 0;  // top-left corner of ViewBitmap on the area
    Rect Strips[2];                // vertical strip (sx != 0), horizontal strip (sy != 0)
};
ShiftedView ShiftedViewLayout(int areaWidth, int areaHeight, int bitmapWidth, int bitmapHeight,
                              int sx, int sy);

// Gathers wheel deltas into notches: 120 eighths of a degree are one notch,
// whatever the wheel's resolution. Adds a wheel's vertical angle delta (Qt:
// negative toward the user) to `rest`, the part of a notch left over, and
// returns the whole notches completed, positive toward the user.
int TakeWheelNotches(int& rest, int angleDelta);
