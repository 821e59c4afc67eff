#pragma once
#include <string>
#include <vector>

#include "core/main_state.h"
#include "geo/projection.h"
#include "platform/bitmap.h"

// The selection rectangle: its corners as geographic coordinates, its size
// estimate, and the dotted frame that marks it on the map.

// Orders SelLeft..SelBottom so that the first pair is the north-west corner,
// then stores the corners as (SelLat1, SelLon1) and (SelLat2, SelLon2) from
// the view centre at the view's zoom, and sets HasSelection.
void StoreSelectionCorners(MainState& state);

// Centres the view on the region and takes the largest zoom at which it fits
// a map area of width x height pixels (zoom 1 when none does).
void ZoomToRegion(MainState& state, const RegionCorners& region, int width, int height);

// The texts of the size estimate.
struct SizeEstimateTexts {
    bool HasSelection = false;  // false: only Label15 changes, SpeedButton2 off
    std::string Label15;        // "Выделено 4096x2048 пикселей"
    std::string Panel2;  // "Выделено 4096x2048px, в памяти 24,000mb, скачать~1,200mb"
};
inline constexpr const char* NoSizeText = "----------------------";

// The estimate for the selection at task zoom taskZoom (1..20; anything else
// is brought into that range). Sizes in megabytes of a 24-bit bitmap, in
// floating point so that large selections neither wrap nor go negative; the
// download is 5 % of it. A region shape of `shapeTiles` tiles at that zoom
// (-1: the rectangle alone) is a stitch of its box but a download of its
// tiles: the label gives its tile count and the download estimate is theirs.
SizeEstimateTexts SizeEstimate(const MainState& state, int taskZoom, long long shapeTiles = -1);

// The frame's pixels, ready to be put over the map: four one-pixel strips
// whose dotted pixels are the inverse of the view under them and whose gaps
// are the view itself. `phase` moves the dots along the outline.
struct FrameStrip {
    int X = 0, Y = 0;  // on the map area
    Bitmap Pixels;
};
// The rectangle is given as two corner points in any order, in map-area
// pixels; (viewX, viewY) is where ViewBitmap's top-left corner is drawn.
// Strips are clipped to the bitmap.
std::vector<FrameStrip> SelectionFrame(const Bitmap& view, int viewX, int viewY, int x1, int y1,
                                       int x2, int y2, int phase);
// Dots and gaps of the frame, in pixels.
inline constexpr int FrameDotLength = 4;
// The colour a dot takes over a pixel: its inverse, unless that is too close
// to it to be seen (mid greys), then black or white.
Rgb FrameDotColor(Rgb under);
