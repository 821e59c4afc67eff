// vistrel-cli's --connections against a slow server: a download of 32 x 32
// tiles at zoom 14 from the local tile server answering after 50 ms, with 1,
// 4 and 8 connections, each into an empty cache. Prints tiles per second and
// the ratio to one connection. The tile server is the one vistrel-tileserver
// runs, in process; the run is vistrel-cli's own, parse to exit status.
//
//   cmake --build build --target bench_cli_connections && build/bench_cli_connections [delay-ms]
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_run.h"
#include "core/main_state.h"
#include "core/settings_file.h"
#include "fetch/request_tile.h"
#include "geo/projection.h"
#include "geo/tile_key.h"
#include "support/temp_dir.h"
#include "tile_server.h"

namespace {

std::string Degrees(double lat, double westLon) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9f,%.9f", lat, -westLon);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    FetchGlobalInit();
    const int delay = argc > 1 ? std::atoi(argv[1]) : 50;

    vistrel::tileserver::ServerOptions options;
    options.Faults.DelayMs = delay;
    options.Threads = 16;
    vistrel::tileserver::TileServer server(options);
    if (!server.Start(0)) return 1;

    // One pixel inside a tile's north-west corner to one pixel short of the
    // corner 32 tiles on: exactly 32 x 32 tiles.
    const int z = 14;
    double lon = -37.6, lat = 55.75;
    const TileKey k = TileKeyAt(z, lon, lat, "");
    PointAtDelta(1 - k.XOffset, 1 - k.YOffset, z, lon, lat);
    double lon2 = lon, lat2 = lat;
    PointAtDelta(32 * 256 - 2, 32 * 256 - 2, z, lon2, lat2);

    std::printf("download of 32 x 32 tiles at zoom %d, %d ms per answer\n", z, delay);
    double single = 0;
    for (int connections : {1, 4, 8}) {
        TempDir folder;
        MainState s;
        InitStartValues(s, folder.Path());
        SetSourceString(s, server.UrlPrefix());
        s.GenerateUpperLayers = false;
        SaveSettings(s, folder.Path() + SettingsFileName);
        const std::vector<std::string> args = {"download",
                                               "--zoom",
                                               std::to_string(z),
                                               "--from",
                                               Degrees(lat, lon),
                                               "--to",
                                               Degrees(lat2, lon2),
                                               "--connections",
                                               std::to_string(connections),
                                               "--folder",
                                               folder.Path()};
        std::ostringstream out, err;
        const std::atomic<int> stops{0};
        const auto start = std::chrono::steady_clock::now();
        const int status = CliMain(args, folder.Path(), stops, CliStreams{out, err, false});
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::string last = out.str();
        last.pop_back();
        last = last.substr(last.rfind('\n') + 1);
        const double rate = 1024 / seconds;
        if (connections == 1) single = rate;
        std::printf("%d connection(s): status %d, %.1f s, %.1f tiles/s, x%.2f  (%s)\n", connections,
                    status, seconds, rate, rate / single, last.c_str());
        std::fflush(stdout);
    }
    return 0;
}
