#include "view/map_view.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <string>

#include "geo/projection.h"
#include "geo/tile_key.h"
#include "tilestore/tile_lookup.h"

bool CentreHasPosition(double lat, double lon) {
    return std::isfinite(lat) && std::isfinite(lon) && std::fabs(lat) < 90.0 &&
           std::fabs(lon) <= 180.0;
}

namespace {

int ClampToInt(int64_t v) {
    return static_cast<int>(std::clamp<int64_t>(v, INT_MIN, INT_MAX));
}

// A key that moves across the grid by neighbour steps only: keys are never
// recomputed from coordinates during a walk.
class KeyWalker {
  public:
    KeyWalker(std::string key, std::size_t prefixLen) : Key(std::move(key)), Prefix(prefixLen) {}
    const std::string& MoveTo(int column, int row) {
        for (; Column < column; ++Column) StepEast(Key, Prefix);
        for (; Column > column; --Column) StepWest(Key, Prefix);
        for (; Row < row; ++Row) StepSouth(Key, Prefix);
        for (; Row > row; --Row) StepNorth(Key, Prefix);
        return Key;
    }

  private:
    std::string Key;
    std::size_t Prefix;
    int Column = 0, Row = 0;  // relative to the centre tile
};

}  // namespace

MapView::MapView(MainState& state, ViewHooks hooks) : S(state), H(std::move(hooks)) {}

void MapView::RecomputeSelectionFrame() {
    if (!S.HasSelection) return;
    if (!CentreHasPosition(S.CenterLat, S.CenterLon)) return;
    const int z = EffectiveZoom(S.Zoom);
    int w, h;
    {
        auto lock = S.ViewBitmap.LockCanvas();
        w = S.ViewBitmap.Width();
        h = S.ViewBitmap.Height();
    }
    const PixelOffset nw = PixelDelta(z, S.SelLon1, S.SelLat1, S.CenterLon, S.CenterLat);
    const PixelOffset se = PixelDelta(z, S.SelLon2, S.SelLat2, S.CenterLon, S.CenterLat);
    S.SelLeft = ClampToInt(int64_t{w / 2} - nw.Dx);
    S.SelTop = ClampToInt(int64_t{h / 2} - nw.Dy);
    S.SelRight = ClampToInt(int64_t{w / 2} - se.Dx);
    S.SelBottom = ClampToInt(int64_t{h / 2} - se.Dy);
}

void MapView::RefreshView() {
    if (InRender) {
        RefreshRequested = true;
        return;
    }
    do {
        RefreshRequested = false;
        RecomputeSelectionFrame();
        if (H.EnableControls) H.EnableControls(false);
        {
            std::lock_guard<std::mutex> lock(S.ThreadLock);
            if (S.ViewLoaderCount > 0 && S.ViewLoaderStop) S.ViewLoaderStop->store(1);
        }
        RenderView();
        if (H.EnableControls) H.EnableControls(true);
        if (DeferredResize) {
            auto [w, h] = *DeferredResize;
            DeferredResize.reset();
            Panel1Resize(w, h);  // may ask for one more refresh
        }
    } while (RefreshRequested);
}

void MapView::Panel1Resize(int width, int height) {
    if (width <= 0 || height <= 0) return;  // minimised or not laid out yet
    if (InRender) {
        DeferredResize = {width, height};
        return;
    }
    bool crop;
    {
        auto lock = S.ViewBitmap.LockCanvas();
        if (S.ViewBitmap.Empty()) return;
        crop = S.ViewBitmap.Width() >= width && S.ViewBitmap.Height() >= height;
        if (crop) {
            if (S.ViewBitmap.Width() == width && S.ViewBitmap.Height() == height) return;
            S.ViewBitmap.CropCentered(width, height);
        } else {
            S.ViewBitmap.SetSize(width, height);
        }
    }
    if (!crop) {
        RefreshView();
        return;
    }
    // A live view-fill worker would draw its tiles at the positions of the
    // old size: compose again instead of leaving them misplaced.
    bool liveWorker;
    {
        std::lock_guard<std::mutex> lock(S.ThreadLock);
        liveWorker = S.ViewLoaderCount > 0 && S.ViewLoaderStop && S.ViewLoaderStop->load() == 0;
    }
    if (liveWorker) {
        RefreshView();
        return;
    }
    RecomputeSelectionFrame();
    if (H.Repaint) H.Repaint();
}

void MapView::RenderView() {
    InRender = true;
    ++CompositionCount;
    if (H.SetBusyCursor) H.SetBusyCursor(true);
    jtype record;
    record.Canvas = &S.ViewBitmap;
    std::unique_ptr<jtype> pending;
    S.Rendering = true;

    int w, h;
    {
        auto lock = S.ViewBitmap.LockCanvas();
        w = S.ViewBitmap.Width();
        h = S.ViewBitmap.Height();
    }
    const double lat = S.CenterLat, lon = S.CenterLon;
    const int z = EffectiveZoom(S.Zoom);

    auto fill = [&](int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
        x0 = std::clamp<int64_t>(x0, 0, w);
        x1 = std::clamp<int64_t>(x1, 0, w);
        y0 = std::clamp<int64_t>(y0, 0, h);
        y1 = std::clamp<int64_t>(y1, 0, h);
        if (x1 <= x0 || y1 <= y0) return;
        auto lock = S.ViewBitmap.LockCanvas();
        S.ViewBitmap.FillRect(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
                              static_cast<int>(y1 - y0), H.FillColor);
    };

    if (w > 0 && h > 0 && !CentreHasPosition(lat, lon)) {
        // No place on the grid (typed 90 degrees, a hand-edited settings
        // file): nothing of the world is in view.
        fill(0, 0, w, h);
    } else if (w > 0 && h > 0) {
        const std::string source = S.SourceStringCopy();
        const TileKey centre = TileKeyAt(z, lon, lat, source);
        S.CenterOffsetX = centre.XOffset;
        S.CenterOffsetY = centre.YOffset;
        KeyWalker walker(centre.Key, source.size());

        auto inside = [&](int64_t dx, int64_t dy) {
            double plon = lon, plat = lat;
            return PointAtDelta(ClampToInt(dx), ClampToInt(dy), z, plon, plat);
        };
        const bool edge = !(inside(-(w / 2), -(h / 2)) && inside(w / 2, h / 2));

        const int64_t cx0 = int64_t{w / 2} - centre.XOffset;
        const int64_t cy0 = int64_t{h / 2} - centre.YOffset;
        auto colX = [&](int64_t i) { return cx0 + TileSize * i; };
        auto rowY = [&](int64_t j) { return cy0 + TileSize * j; };
        // The centre of tile (i, j) lies in the world.
        auto tileInside = [&](int i, int j) {
            return inside(colX(i) + TileSize / 2 - w / 2, rowY(j) + TileSize / 2 - h / 2);
        };

        int64_t boundL = 0, boundT = 0, boundR = w, boundB = h;
        using Clock = std::chrono::steady_clock;
        auto drawTile = [&](int i, int j) {
            const int64_t x = colX(i), y = rowY(j);
            if (x + TileSize <= boundL || x >= boundR || y + TileSize <= boundT || y >= boundB)
                return;
            const std::string& key = walker.MoveTo(i, j);
            const auto started = Clock::now();
            LoadViewTile(S, key, record);
            {
                auto lock = S.ViewBitmap.LockCanvas();
                S.ViewBitmap.Draw(static_cast<int>(x), static_cast<int>(y),
                                  record.Image->Picture());
            }
            if (record.Pending) {
                // The node keeps the placeholder just drawn; the worker
                // replaces it with the fetched tile.
                auto node = std::make_unique<jtype>();
                node->Image = std::move(record.Image);
                record.Image = std::make_unique<JpegImage>();
                node->FileName = record.FileName;
                node->Url = record.Url;
                node->TileName = record.TileName;
                node->Pending = record.Pending;
                node->Canvas = record.Canvas;
                node->X = static_cast<int32_t>(x);
                node->Y = static_cast<int32_t>(y);
                node->Next = std::move(pending);
                pending = std::move(node);
            }
            const std::chrono::duration<double, std::milli> took = Clock::now() - started;
            if (took.count() > SlowTileMilliseconds && H.Repaint) H.Repaint();
        };

        drawTile(0, 0);
        // Square rings around the centre tile. Each side grows until it
        // covers its bound or, with the world's edge in view, until the next
        // tile beyond it lies outside the world; the bound then moves to the
        // drawn edge, which also keeps wrapped-around keys from being drawn.
        int extL = 0, extT = 0, extR = 0, extB = 0;
        bool doneL = false, doneT = false, doneR = false, doneB = false;
        for (int k = 1; !(doneL && doneT && doneR && doneB); ++k) {
            if (!doneT) {
                if (rowY(-extT) <= boundT) {
                    doneT = true;
                } else if (edge && !tileInside(-extL, -extT - 1)) {
                    boundT = rowY(-extT);
                    doneT = true;
                } else {
                    extT = k;
                    for (int i = -k + 1; i <= k - 1; ++i) drawTile(i, -k);
                }
            }
            if (!doneR) {
                if (colX(extR + 1) >= boundR) {
                    doneR = true;
                } else if (edge && !tileInside(extR + 1, -extT)) {
                    boundR = colX(extR + 1);
                    doneR = true;
                } else {
                    extR = k;
                    for (int j = -k; j <= k - 1; ++j) drawTile(k, j);
                }
            }
            if (!doneB) {
                if (rowY(extB + 1) >= boundB) {
                    doneB = true;
                } else if (edge && !tileInside(extR, extB + 1)) {
                    boundB = rowY(extB + 1);
                    doneB = true;
                } else {
                    extB = k;
                    for (int i = k; i >= -k + 1; --i) drawTile(i, k);
                }
            }
            if (!doneL) {
                if (colX(-extL) <= boundL) {
                    doneL = true;
                } else if (edge && !tileInside(-extL - 1, extB)) {
                    boundL = colX(-extL);
                    doneL = true;
                } else {
                    extL = k;
                    for (int j = k; j >= -k; --j) drawTile(-k, j);
                }
            }
        }
        if (edge) {
            fill(0, 0, w, boundT);
            fill(0, boundB, w, h);
            fill(0, 0, boundL, h);
            fill(boundR, 0, w, h);
        }
    }

    if (H.Repaint) H.Repaint();
    S.Rendering = false;
    if (pending) {
        if (H.StartViewLoader) H.StartViewLoader(std::move(pending));
    } else {
        std::lock_guard<std::mutex> lock(S.ThreadLock);
        S.ViewLoaderStop.reset();
    }
    if (H.SetBusyCursor) H.SetBusyCursor(false);
    InRender = false;
}
