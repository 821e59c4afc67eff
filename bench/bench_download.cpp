// A whole download task of 32 x 32 tiles, as the window runs it (tile list,
// worker, GetTile with error control, end phase), against a bare loop doing
// the same per-tile work straight on libcurl and libjpeg-turbo. Both fetch
// from the local tile server in-process, serving a folder, on a new
// connection per tile; rounds alternate so that both see the same machine.
//
//     bench_download [rounds]      (default 5)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bare_fetch.h"
#include "fetch/request_tile.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tasks/tasks.h"
#include "tile_server.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int Side = 32;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The task's corner sits on a tile corner, so the list is exactly Side x Side.
void SelectRegion(MainState& state) {
    double lon = -37.6, lat = 55.7;
    const TileKey k = TileKeyAt(13, lon, lat, "");
    PointAtDelta(-k.XOffset, -k.YOffset, 13, lon, lat);
    state.SelLat1 = lat - 1e-9;
    state.SelLon1 = lon;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    FetchGlobalInit();
    MainState state;
    state.GenerateUpperLayers = false;
    SelectRegion(state);

    TempDir served;
    vistrel::tileserver::ServerOptions options;
    options.Folder = served.Path();
    vistrel::tileserver::TileServer server(options);
    if (!server.Start(0)) return 1;
    SetSourceString(state, server.UrlPrefix());

    // The served tiles: the task's own list names them.
    std::vector<std::string> letters;
    {
        auto probe = NewTask(state, {});
        std::string error;
        if (!BuildTaskTiles(state, *probe, 13, Side * 256, Side * 256, error)) return 1;
        uint32_t seed = 0;
        ForEachTaskTile(probe->Tiles, [&](const jtype& t) {
            served.WriteFile(t.TileName + ".jpg", MakeTileJpeg(256, 256, seed++, 85));
            letters.push_back(t.TileName);
            return true;
        });
    }
    const int tiles = static_cast<int>(letters.size());
    std::printf("%d tiles of about %zu bytes\n", tiles,
                served.ReadFile(letters.front() + ".jpg").size());

    double taskTotal = 0, bareTotal = 0;
    for (int round = 0; round < rounds; ++round) {
        {
            TempDir cache;
            SetCachePath(state, cache.Path());
            const auto start = Clock::now();
            auto task = NewTask(state, {});
            std::string error;
            BuildTaskTiles(state, *task, 13, Side * 256, Side * 256, error);
            QueueTask(state, task);
            StartTaskWorker(state, task);
            WaitForTaskWorker(state, std::chrono::minutes(10));
            const double s = Seconds(Clock::now() - start);
            taskTotal += s;
            std::printf("task  round %d: %.3f s, %.1f tiles/s\n", round, s, tiles / s);
        }
        {
            TempDir cache;
            BareFetcher bare;
            const auto start = Clock::now();
            for (const std::string& name : letters)
                if (!bare.Fetch(server.UrlPrefix() + name, cache.Path() + name + ".jpg"))
                    std::printf("bare fetch of %s failed\n", name.c_str());
            const double s = Seconds(Clock::now() - start);
            bareTotal += s;
            std::printf("bare  round %d: %.3f s, %.1f tiles/s\n", round, s, tiles / s);
        }
    }
    std::printf("task %.1f tiles/s, bare loop %.1f tiles/s, task / bare loop: %.2f\n",
                tiles * rounds / taskTotal, tiles * rounds / bareTotal, bareTotal / taskTotal);
    return 0;
}
