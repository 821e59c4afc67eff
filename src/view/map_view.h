#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "core/main_state.h"
#include "platform/bitmap.h"
#include "tilestore/tile_record.h"

// What the view needs from the window and from the workers' side. Every hook
// may be empty; tests record them.
struct ViewHooks {
    // Repaint the map area now from ViewBitmap (GUI thread).
    std::function<void()> Repaint;
    // The window's inputs off during a composition, on afterwards.
    std::function<void(bool on)> EnableControls;
    // Hourglass while composing, the normal cursor afterwards.
    std::function<void(bool busy)> SetBusyCursor;
    // Hands the queued tiles (newest first) to a new view-fill worker, which
    // makes its stop flag the state's ViewLoaderStop and counts itself in
    // ViewLoaderCount. Called only with a non-empty list.
    std::function<void(std::unique_ptr<jtype> pending)> StartViewLoader;
    // Colour of the parts of the area that lie outside the world.
    Rgb FillColor{240, 240, 240};
};

// Longer than this for one tile, and the area is repainted at once, so a slow
// composition shows its progress tile by tile.
inline constexpr double SlowTileMilliseconds = 99.36;

// A centre the projection can place: finite, latitude within +-90 exclusive,
// longitude within +-180 inclusive (180 is the world's edge).
bool CentreHasPosition(double lat, double lon);

// The composition of the map area into ViewBitmap, and its size changes.
// GUI thread only.
class MapView {
  public:
    MapView(MainState& state, ViewHooks hooks);

    // Recomputes the selection frame, stops the newest view-fill worker and
    // composes the view. A call made while a composition runs (the tile
    // lookup lets window events through) is done once that one ends.
    void RefreshView();
    // The composition proper; RefreshView's step.
    void RenderView();
    // The map area now has this size: a smaller area crops ViewBitmap
    // without composing, a larger one composes.
    void Panel1Resize(int width, int height);
    // SelLeft..SelBottom from the selection's geographic corners.
    void RecomputeSelectionFrame();

    bool Composing() const { return InRender; }
    // Number of compositions so far (tests and the first-show logic).
    int Compositions() const { return CompositionCount; }
    ViewHooks& Hooks() { return H; }

  private:
    MainState& S;
    ViewHooks H;
    bool InRender = false;
    bool RefreshRequested = false;
    std::optional<std::pair<int, int>> DeferredResize;
    int CompositionCount = 0;
};
