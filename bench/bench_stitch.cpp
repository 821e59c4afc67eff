// A whole stitch task's end in one process, for /usr/bin/time -v: the tiles
// of a folder (as a warm cache holds them) added to a StitchImage and saved
// as one JPEG. bench/stitch_vs_vips.sh runs it beside vips on the same tiles.
//
//   bench_stitch tiles <folder> <columns> <rows> [zoom column row]
//       renders the planet's tiles of a columns x rows block into the folder,
//       named 000000.jpg, 000001.jpg, ... row by row (as vips arrayjoin wants)
//   bench_stitch stitch <folder> <columns> <rows> <output> [quality] [distinct] [shift]
//       stitches them; with `distinct` only that many files exist and are
//       used over and over (for a huge picture without gigabytes of tiles).
//       An output named .tif is a GeoTIFF; `shift` pixels cut off the top
//       and left put the tiles off the file's grid (a region not snapped);
//       a `shift` of -1 keeps them on it and takes every overview tile from
//       the folder too, as a cache holding the upper layers gives them
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "formats/stitch_image.h"
#include "geo/tile_key.h"
#include "planet.h"
#include "platform/file_io.h"

namespace {

// The default block: land and sea whose tiles weigh about what imagery weighs.
constexpr int DefaultZoom = 14;
constexpr int DefaultColumn = 7950, DefaultRow = 5980;

std::string TileFile(const std::string& folder, long index) {
    char name[32];
    std::snprintf(name, sizeof name, "%06ld.jpg", index);
    return folder + "/" + name;
}

int MakeTiles(const std::string& folder, int columns, int rows, int zoom, int firstColumn,
              int firstRow) {
    std::filesystem::create_directories(folder);
    long bytes = 0;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const std::string jpeg = vistrel::tileserver::RenderTileJpeg(
                KeyLetters(zoom, firstColumn + c, firstRow + r));
            bytes += static_cast<long>(jpeg.size());
            if (!WriteFileAtomic(TileFile(folder, long{r} * columns + c), jpeg)) return 1;
        }
    std::printf("%d tiles, %.1f KB each on average\n", columns * rows,
                bytes / 1024.0 / (long{columns} * rows));
    return 0;
}

int Stitch(const std::string& folder, int columns, int rows, const std::string& output, int quality,
           long distinct, int shift) {
    const auto start = std::chrono::steady_clock::now();
    const bool upperLayers = shift < 0;
    shift = std::max(shift, 0);
    const std::string outFolder = std::filesystem::path(output).parent_path().string();
    StitchImage image(columns * 256 - shift, rows * 256 - shift,
                      outFolder.empty() ? "." : outFolder);
    image.SetPlace(DefaultZoom, int64_t{DefaultColumn} * 256 + shift,
                   int64_t{DefaultRow} * 256 + shift);
    std::string bytes;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            long index = long{r} * columns + c;
            if (distinct > 0) index %= distinct;
            if (!ReadWholeFile(TileFile(folder, index), bytes)) {
                std::fprintf(stderr, "missing %s\n", TileFile(folder, index).c_str());
                return 1;
            }
            image.AddJpeg(c * 256 - shift, r * 256 - shift, std::move(bytes));
        }
    if (upperLayers)
        image.SetOverviewSource(64, [&](int, int column, int row, std::string& tile) {
            const long index = long{row} * columns + column;
            return ReadWholeFile(TileFile(folder, distinct > 0 ? index % distinct : index), tile);
        });
    const auto added = std::chrono::steady_clock::now();
    bool saved = false;
    image.CompressAndSave(
        output, quality,
        [&](const std::string& line) {
            std::fprintf(stderr, "%s\n", line.c_str());
            if (line == "файл сохранен") saved = true;
        },
        nullptr);
    const auto done = std::chrono::steady_clock::now();
    using ms = std::chrono::milliseconds;
    std::fprintf(stderr, "read and kept %lld ms, composed and saved %lld ms\n",
                 static_cast<long long>(std::chrono::duration_cast<ms>(added - start).count()),
                 static_cast<long long>(std::chrono::duration_cast<ms>(done - added).count()));
    return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "tiles" && (argc == 5 || argc == 8))
        return MakeTiles(argv[2], std::atoi(argv[3]), std::atoi(argv[4]),
                         argc == 8 ? std::atoi(argv[5]) : DefaultZoom,
                         argc == 8 ? std::atoi(argv[6]) : DefaultColumn,
                         argc == 8 ? std::atoi(argv[7]) : DefaultRow);
    if (mode == "stitch" && argc >= 6)
        return Stitch(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argv[5],
                      argc > 6 ? std::atoi(argv[6]) : 80, argc > 7 ? std::atol(argv[7]) : 0,
                      argc > 8 ? std::atoi(argv[8]) : 0);
    std::fprintf(stderr,
                 "usage: %s tiles <folder> <columns> <rows> [zoom column row]\n"
                 "       %s stitch <folder> <columns> <rows> <output> [quality] [distinct] "
                 "[shift]\n",
                 argv[0], argv[0]);
    return 2;
}
