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
#include <curl/curl.h>
#include <fcntl.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

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

size_t Append(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

bool WriteAtomic(const std::string& path, const std::string& bytes) {
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return ::close(fd) == 0 && ok && ::rename(tmp.c_str(), path.c_str()) == 0;
}

void BM_BareLoop(benchmark::State& st) {
    Fixture& f = Shared();
    FetchGlobalInit();
    TempDir cache;
    tjhandle decoder = tjInitDecompress();
    std::vector<unsigned char> rgb(256 * 256 * 3);
    size_t i = 0;
    for (auto _ : st) {
        const std::string& letters = f.Letters[i++ % f.Letters.size()];
        const std::string url = f.Server.UrlPrefix() + letters;
        std::string body;
        CURL* h = curl_easy_init();
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_PROXY, "");
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Append);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
        const CURLcode rc = curl_easy_perform(h);
        long code = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
        curl_easy_cleanup(h);
        int width = 0, height = 0, sub = 0, space = 0;
        const auto* data = reinterpret_cast<const unsigned char*>(body.data());
        const bool ok =
            rc == CURLE_OK && code == 200 && body.size() > 4 &&
            static_cast<unsigned char>(body[body.size() - 2]) == 0xFF &&
            static_cast<unsigned char>(body[body.size() - 1]) == 0xD9 &&
            tjDecompressHeader3(decoder, data, body.size(), &width, &height, &sub, &space) == 0 &&
            width * height * 3 <= static_cast<int>(rgb.size()) &&
            tjDecompress2(decoder, data, body.size(), rgb.data(), width, 0, height, TJPF_RGB, 0) ==
                0 &&
            WriteAtomic(cache.Path() + letters + ".jpg", body);
        if (!ok) st.SkipWithError("bare fetch failed");
    }
    tjDestroy(decoder);
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
