// The coverage overlay's first answer over a 1920 x 1080 view counting tiles
// eight levels deeper than the view, with a cache of a million files: the
// reading of the folder's names, the cells, and the cells again once the
// names are known (a pan), and the first answer of a later run from the
// names the earlier one kept. The files are empty: only names are read.
//
//     bench_coverage [files] [folder]   (default 1,000,000 in a new /tmp folder)
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "geo/tile_key.h"
#include "tilestore/cache_coverage.h"

namespace {

double Milliseconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    const long files = argc > 1 ? std::atol(argv[1]) : 1'000'000;
    std::string folder = argc > 2 ? argv[2] : "";
    const bool own = folder.empty();
    if (own) {
        char name[] = "/tmp/vistrel-coverage-XXXXXX";
        if (!mkdtemp(name)) return 1;
        folder = name;
    }
    folder += "/";
    // A zoom-17 tile is a pixel of zoom 9. The view: zoom 9 around 55.75 N 37.6 E; counted at
    // zoom 17. Nine tenths of the files are a downloaded block under the view's middle, the rest
    // tiles of other zooms and places.
    const int viewZoom = 9, zoom = 17;
    const CoverageView view = CoverageViewAt(viewZoom, zoom, -37.6, 55.75, 1920, 1080);
    const long long midColumn = static_cast<long long>(view.Left + 960);
    const long long midRow = static_cast<long long>(view.Top + 540);
    const auto start = std::chrono::steady_clock::now();
    std::mt19937 random(3);
    const long block = 950;  // 950 x 950 tiles: 902,500
    long made = 0;
    for (long i = 0; i < files; ++i) {
        int z = zoom;
        long long column, row;
        if (i < block * block) {
            column = midColumn - block / 2 + i % block;
            row = midRow - block / 2 + i / block;
        } else {
            z = 10 + static_cast<int>(random() % 10);
            column = random() % (1LL << z);
            row = random() % (1LL << z);
        }
        const std::string path =
            folder + KeyLetters(z, static_cast<int>(column), static_cast<int>(row)) + ".jpg";
        const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_EXCL, 0644);
        if (fd >= 0) {
            close(fd);
            ++made;
        }
    }
    std::printf("made %ld files in %s in %.0f ms\n", made, folder.c_str(), Milliseconds(start));

    // Each read of the names in a folder the system has cached, as after any
    // earlier look at the cache.
    for (int round = 0; round < 3; ++round) {
        CacheCoverage coverage;
        auto t = std::chrono::steady_clock::now();
        coverage.Scan(folder);
        const double scan = Milliseconds(t);
        t = std::chrono::steady_clock::now();
        const CoverageGrid grid = coverage.Cells(view);
        const double cells = Milliseconds(t);
        t = std::chrono::steady_clock::now();
        CoverageView panned = view;
        panned.Left += 300;
        panned.Top -= 200;
        const CoverageGrid again = coverage.Cells(panned);
        const double pan = Milliseconds(t);
        long long held = 0;
        for (uint32_t h : grid.Held) held += h;
        std::printf(
            "round %d: %zu tile names read in %.1f ms; %d x %d cells of %g px (zoom %d, %lld "
            "tiles each) in %.1f ms, holding %lld tiles; first paint %.1f ms; a pan %.1f ms "
            "(%zu cells)\n",
            round, coverage.TileCount(), scan, grid.Columns, grid.Rows, grid.CellPixels,
            grid.CellZoom, grid.TilesPerCell, cells, held, scan + cells, pan, again.Held.size());
    }
    // A later run starts from what the earlier one learned.
    {
        CacheCoverage learned;
        learned.Scan(folder);
        const std::string index = folder.substr(0, folder.size() - 1) + ".idx";
        learned.Save(index, folder, 0);
        for (int round = 0; round < 3; ++round) {
            auto t = std::chrono::steady_clock::now();
            CacheCoverage coverage;
            int64_t time = 0;
            const bool loaded = coverage.Load(index, folder, time);
            const CoverageGrid grid = coverage.Cells(view);
            std::printf("learned index: %s, %zu names; first paint %.1f ms\n",
                        loaded ? "loaded" : "FAILED", coverage.TileCount(), Milliseconds(t));
        }
        std::remove(index.c_str());
    }
    if (own) {
        const auto t = std::chrono::steady_clock::now();
        std::filesystem::remove_all(folder);
        std::printf("removed in %.0f ms\n", Milliseconds(t));
    }
    return 0;
}
