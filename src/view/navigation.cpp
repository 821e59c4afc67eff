#include "view/navigation.h"

#include <algorithm>
#include <cmath>

#include "geo/coordinate_text.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "view/map_view.h"

namespace {

// A centre the projection cannot place (only a hand-edited settings file
// gives one) is brought to the nearest point of the world first.
void BringIntoWorld(double& lat, double& lon) {
    if (CentreHasPosition(lat, lon)) return;
    lat = std::isfinite(lat) ? std::clamp(lat, -ClampLatitude, ClampLatitude) : 0.0;
    lon = std::isfinite(lon) ? std::clamp(lon, -180.0, 180.0) : 0.0;
}

void BitmapSize(const MainState& state, int& w, int& h) {
    auto lock = state.ViewBitmap.LockCanvas();
    w = state.ViewBitmap.Width();
    h = state.ViewBitmap.Height();
}

}  // namespace

GeoPoint PointUnder(const MainState& state, int x, int y) {
    int w, h;
    BitmapSize(state, w, h);
    GeoPoint p{state.CenterLat, state.CenterLon};
    BringIntoWorld(p.Lat, p.Lon);
    PointAtDelta(state, x - w / 2, y - h / 2, -1, p.Lon, p.Lat);
    return p;
}

StatusCoordinates StatusCoordinatesAt(const MainState& state, int x, int y) {
    const GeoPoint p = PointUnder(state, x, y);
    return {FormatStatusCoordinate(p.Lat, CoordKind::Latitude),
            FormatStatusCoordinate(p.Lon, CoordKind::Longitude)};
}

std::string TileFileUnder(const MainState& state, int x, int y) {
    const GeoPoint p = PointUnder(state, x, y);
    const std::string source = state.SourceStringCopy();
    const TileKey key = TileKeyAt(EffectiveZoom(state.Zoom), p.Lon, p.Lat, source);
    return TileFileName(state.CachePathCopy(), std::string_view(key.Key).substr(source.size()));
}

void CentreOnClick(MainState& state) {
    int w, h;
    BitmapSize(state, w, h);
    BringIntoWorld(state.CenterLat, state.CenterLon);
    PointAtDelta(state, state.DragStartX - w / 2, state.DragStartY - h / 2, -1, state.CenterLon,
                 state.CenterLat);
}

void MoveByDrag(MainState& state, int x, int y) {
    BringIntoWorld(state.CenterLat, state.CenterLon);
    PointAtDelta(state, state.DragStartX - x, state.DragStartY - y, -1, state.CenterLon,
                 state.CenterLat);
}

int ClickZoomStep(bool wheelZoom, MouseButton button) {
    if (wheelZoom) return 0;
    if (button == MouseButton::Left) return 1;
    if (button == MouseButton::Right) return -1;
    return 0;
}

ShiftedView ShiftedViewLayout(int areaWidth, int areaHeight, int bitmapWidth, int bitmapHeight,
                              int sx, int sy) {
    ShiftedView v;
    v.BitmapX = (areaWidth - bitmapWidth) / 2 + sx;
    v.BitmapY = (areaHeight - bitmapHeight) / 2 + sy;
    if (sx > 0) v.Strips[0] = {0, 0, sx, areaHeight};
    if (sx < 0) v.Strips[0] = {areaWidth + sx, 0, -sx, areaHeight};
    if (sy > 0) v.Strips[1] = {0, 0, areaWidth, sy};
    if (sy < 0) v.Strips[1] = {0, areaHeight + sy, areaWidth, -sy};
    return v;
}

int TakeWheelNotches(int& rest, int angleDelta) {
    rest -= angleDelta;  // toward the user is a negative delta in Qt
    const int notches = rest / 120;
    rest -= notches * 120;
    return notches;
}
