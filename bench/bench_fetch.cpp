// Tiles per second that one worker fetches, checks, decodes and stores with
// GetTile, against a bare loop doing the same per tile straight on libcurl
// and libjpeg-turbo. Both talk to the local tile server in-process, serving
// a folder of tiles, on a new connection per tile. The ratio of the two is
// printed at the end: what the program's own layers cost. On a busy machine
// wall times scatter; interleaved repetitions give a steadier ratio:
//
//     bench_fetch --benchmark_min_time=0.5 --benchmark_repetitions=12
//                 --benchmark_enable_random_interleaving=true   (one line)
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bare_fetch.h"
#include "core/main_state.h"
#include "fetch/get_tile.h"
#include "fetch/request_tile.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tile_server.h"

namespace {

constexpr int TileCount = 64;

// The served folder, the running server and the tiles' key letters.
struct Fixture {
    TempDir Served;
    vistrel::tileserver::TileServer Server;
    std::vector<std::string> Letters;

    Fixture() : Server(Options(Served.Path())) {
        for (int i = 0; i < TileCount; ++i) {
            std::string letters = "t";
            for (int v = i, k = 0; k < 3; ++k, v /= 4) letters += "qrst"[v % 4];
            Served.WriteFile(letters + ".jpg",
                             MakeTileJpeg(256, 256, static_cast<uint32_t>(i), 85));
            Letters.push_back(letters);
        }
        Server.Start(0);
    }
    static vistrel::tileserver::ServerOptions Options(const std::string& folder) {
        vistrel::tileserver::ServerOptions options;
        options.Folder = folder;
        return options;
    }
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

void BM_GetTile(benchmark::State& st) {
    Fixture& f = Shared();
    TempDir cache;
    MainState state;
    SetSourceString(state, f.Server.UrlPrefix());
    SetCachePath(state, cache.Path());
    SetWorkMode(state, 1);  // internet only: every tile goes to the server
    state.GenerateUpperLayers = false;
    WorkerContext worker;
    worker.IsTask = true;
    size_t i = 0;
    for (auto _ : st) {
        const std::string& letters = f.Letters[i++ % f.Letters.size()];
        jtype tile;
        tile.TileName = letters;
        tile.Url = f.Server.UrlPrefix() + letters;
        tile.FileName = cache.Path() + letters + ".jpg";
        if (!GetTile(state, worker, tile)) st.SkipWithError("GetTile failed");
    }
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_GetTile)->UseRealTime();

void BM_BareLoop(benchmark::State& st) {
    Fixture& f = Shared();
    FetchGlobalInit();
    TempDir cache;
    BareFetcher bare;
    size_t i = 0;
    for (auto _ : st) {
        const std::string& letters = f.Letters[i++ % f.Letters.size()];
        if (!bare.Fetch(f.Server.UrlPrefix() + letters, cache.Path() + letters + ".jpg"))
            st.SkipWithError("bare fetch failed");
    }
    st.SetItemsProcessed(st.iterations());
}
BENCHMARK(BM_BareLoop)->UseRealTime();

// Console output as usual, plus the items/s of each run for the ratio.
class RateReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // Single runs first; with repetitions their mean has the last word.
        for (const Run& run : runs) {
            auto it = run.counters.find("items_per_second");
            if (it == run.counters.end()) continue;
            if (run.aggregate_name.empty() || run.aggregate_name == "mean")
                Rates[run.run_name.function_name] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> Rates;
};

}  // namespace

int main(int argc, char** argv) {
    FetchGlobalInit();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto getTile = reporter.Rates.find("BM_GetTile");
    const auto bare = reporter.Rates.find("BM_BareLoop");
    if (getTile != reporter.Rates.end() && bare != reporter.Rates.end() && bare->second > 0)
        std::printf("GetTile / bare loop: %.2f\n", getTile->second / bare->second);
    benchmark::Shutdown();
    return 0;
}
