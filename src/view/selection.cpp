#include "view/selection.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "geo/projection.h"
#include "platform/numbers.h"

void StoreSelectionCorners(MainState& state) {
    if (state.SelLeft > state.SelRight) std::swap(state.SelLeft, state.SelRight);
    if (state.SelTop > state.SelBottom) std::swap(state.SelTop, state.SelBottom);
    int w, h;
    {
        auto lock = state.ViewBitmap.LockCanvas();
        w = state.ViewBitmap.Width();
        h = state.ViewBitmap.Height();
    }
    double lat = state.CenterLat, lon = state.CenterLon;
    PointAtDelta(state, state.SelLeft - w / 2, state.SelTop - h / 2, -1, lon, lat);
    state.SelLat1 = lat;
    state.SelLon1 = lon;
    lat = state.CenterLat;
    lon = state.CenterLon;
    PointAtDelta(state, state.SelRight - w / 2, state.SelBottom - h / 2, -1, lon, lat);
    state.SelLat2 = lat;
    state.SelLon2 = lon;
    state.HasSelection = true;
}

void ZoomToRegion(MainState& state, const RegionCorners& region, int width, int height) {
    int zoom = MinZoom;
    for (int z = MaxZoom; z > MinZoom; --z) {
        const RegionPixels size = RegionPixelSize(z, region);
        if (size.Width <= width && size.Height <= height) {
            zoom = z;
            break;
        }
    }
    const RegionPixels size = RegionPixelSize(zoom, region);
    double lon = region.Lon1, lat = region.Lat1;
    PointAtDelta(size.Width / 2, size.Height / 2, zoom, lon, lat);
    state.CenterLon = lon;
    state.CenterLat = lat;
    state.Zoom = zoom;
}

SizeEstimateTexts SizeEstimate(const MainState& state, int taskZoom, long long shapeTiles) {
    SizeEstimateTexts t;
    if (!state.HasSelection && !state.Selecting) {
        t.Label15 = NoSizeText;
        return t;
    }
    t.HasSelection = true;
    const int zt = EffectiveZoom(taskZoom);
    // The size the tasks will make, so the text and the image agree.
    const RegionPixels d =
        RegionPixelSize(zt, {state.SelLat1, state.SelLon1, state.SelLat2, state.SelLon2});
    // Pixel counts go up to 2^28 each: their product only fits a double.
    const float megabytes =
        static_cast<float>(static_cast<double>(d.Width) * d.Height * 24 * 0.125 / 1024 / 1024);
    const std::string width = std::to_string(d.Width);
    const std::string height = std::to_string(d.Height);
    if (shapeTiles >= 0) {
        const double tileMegabytes = TileSize * TileSize * 24 * 0.125 / 1024 / 1024;
        const std::string tiles = std::to_string(shapeTiles);
        t.Label15 = "Тайлов в области: " + tiles;
        t.Panel2 = "Выделено " + width + "x" + height + "px, в памяти " +
                   FormatNumber(megabytes, 7, 3) + "mb, тайлов в области: " + tiles + ", скачать~" +
                   FormatNumber(static_cast<float>(shapeTiles * tileMegabytes * 0.05), 7, 3) + "mb";
        return t;
    }
    t.Label15 = "Выделено " + width + "x" + height + " пикселей";
    t.Panel2 = "Выделено " + width + "x" + height + "px, в памяти " +
               FormatNumber(megabytes, 7, 3) + "mb, скачать~" +
               FormatNumber(megabytes * 0.05, 7, 3) + "mb";
    return t;
}

Rgb FrameDotColor(Rgb under) {
    const Rgb inverse{static_cast<uint8_t>(255 - under.R), static_cast<uint8_t>(255 - under.G),
                      static_cast<uint8_t>(255 - under.B)};
    const int difference = std::abs(inverse.R - under.R) + std::abs(inverse.G - under.G) +
                           std::abs(inverse.B - under.B);
    if (difference >= 192) return inverse;
    const int luma = (under.R * 299 + under.G * 587 + under.B * 114) / 1000;
    return luma > 127 ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
}

std::vector<FrameStrip> SelectionFrame(const Bitmap& view, int viewX, int viewY, int x1, int y1,
                                       int x2, int y2, int phase) {
    std::vector<FrameStrip> strips;
    const int left = std::min(x1, x2), right = std::max(x1, x2);
    const int top = std::min(y1, y2), bottom = std::max(y1, y2);
    if (right - left < 1 || bottom - top < 1 || view.Empty()) return strips;
    const int r = right - 1, b = bottom - 1;  // the outline's last column and row
    const int period = 2 * FrameDotLength;
    const int shift = ((phase % period) + period) % period;
    // Position along the outline, clockwise from the top-left corner, so the
    // dots run round the frame as the phase grows.
    auto along = [&](int x, int y) {
        if (y == top) return x - left;
        if (x == r) return (r - left) + (y - top);
        if (y == b) return (r - left) + (b - top) + (r - x);
        return 2 * (r - left) + (b - top) + (b - y);
    };
    // Clip to the part of the area the bitmap covers.
    const int clipL = std::max(left, viewX), clipR = std::min(r, viewX + view.Width() - 1);
    const int clipT = std::max(top, viewY), clipB = std::min(b, viewY + view.Height() - 1);
    if (clipL > clipR || clipT > clipB) return strips;

    auto strip = [&](int x0, int y0, int x1s, int y1s) {
        // A horizontal or vertical run from (x0, y0) to (x1s, y1s), inclusive.
        const int w = x1s - x0 + 1, h = y1s - y0 + 1;
        FrameStrip s{x0, y0, Bitmap(w, h)};
        for (int y = y0; y <= y1s; ++y) {
            for (int x = x0; x <= x1s; ++x) {
                Rgb c = view.Pixel(x - viewX, y - viewY);
                const int p = along(x, y);
                if (((p - shift) % period + period) % period < FrameDotLength) c = FrameDotColor(c);
                uint8_t* px = s.Pixels.ScanLine(y - y0) + (x - x0) * 3;
                px[0] = c.R;
                px[1] = c.G;
                px[2] = c.B;
            }
        }
        strips.push_back(std::move(s));
    };
    if (top >= clipT && top <= clipB) strip(clipL, top, clipR, top);
    if (b != top && b >= clipT && b <= clipB) strip(clipL, b, clipR, b);
    if (left >= clipL && left <= clipR) strip(left, clipT, left, clipB);
    if (r != left && r >= clipL && r <= clipR) strip(r, clipT, r, clipB);
    return strips;
}
