// Composing a full-HD view from a warm cache against decoding the same tiles
// alone: what the walk, the lookups and the drawing add to the decoding.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "planet.h"
#include "platform/file_io.h"
#include "support/temp_dir.h"
#include "tilestore/jpeg_image.h"
#include "view/map_view.h"

namespace {

constexpr int ViewWidth = 1920, ViewHeight = 1080, ViewZoom = 12;
constexpr double CentreLat = 55.7558, CentreLon = -37.6173;

// The cache folder with every zoom-12 tile that the view shows, rendered by
// the local tile server's planet so they weigh what imagery weighs.
struct WarmCache {
    TempDir Dir;
    std::vector<std::string> Tiles;  // JPEG bytes of the view's tiles

    WarmCache() {
        const TilePosition c = TileAt(ViewZoom, CentreLon, CentreLat);
        const long long px = 256LL * c.Column + c.XOffset, py = 256LL * c.Row + c.YOffset;
        for (int col = 0; col < (1 << ViewZoom); ++col) {
            const long long x = ViewWidth / 2 + 256LL * col - px;
            if (x + 256 <= 0 || x >= ViewWidth) continue;
            for (int row = 0; row < (1 << ViewZoom); ++row) {
                const long long y = ViewHeight / 2 + 256LL * row - py;
                if (y + 256 <= 0 || y >= ViewHeight) continue;
                const std::string letters = KeyLetters(ViewZoom, col, row);
                std::string jpeg = vistrel::tileserver::RenderTileJpeg(letters);
                Dir.WriteFile(letters + ".jpg", jpeg);
                Tiles.push_back(std::move(jpeg));
            }
        }
    }
};

WarmCache& Cache() {
    static WarmCache cache;
    return cache;
}

void BM_ComposeView(benchmark::State& state) {
    WarmCache& cache = Cache();
    MainState s;
    InitStartValues(s, cache.Dir.Path());
    SetCachePath(s, cache.Dir.Path());
    SetWorkMode(s, 0);
    s.GenerateUpperLayers = state.range(0) != 0;
    s.Zoom = ViewZoom;
    s.CenterLat = CentreLat;
    s.CenterLon = CentreLon;
    s.ViewBitmap.SetSize(ViewWidth, ViewHeight);
    MapView view(s, ViewHooks{});
    view.RefreshView();  // warms the page cache and builds the parent tiles once
    for (auto _ : state) view.RefreshView();
    state.counters["tiles"] = static_cast<double>(cache.Tiles.size());
}
BENCHMARK(BM_ComposeView)->Arg(0)->Arg(1)->ArgName("upper_layers")->Unit(benchmark::kMillisecond);

void BM_DecodeViewTiles(benchmark::State& state) {
    WarmCache& cache = Cache();
    JpegImage image;
    for (auto _ : state) {
        for (const std::string& jpeg : cache.Tiles) {
            bool ok = image.Decode(jpeg);
            benchmark::DoNotOptimize(ok);
        }
    }
    state.counters["tiles"] = static_cast<double>(cache.Tiles.size());
}
BENCHMARK(BM_DecodeViewTiles)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // Placeholders draw text, which needs a GUI application for its fonts.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
