// Tile store costs: archive lookups with kept directories against opening
// every archive for every lookup, parent tile generation, tile decoding.
#include <benchmark/benchmark.h>
#include <zip.h>

#include <memory>
#include <string>
#include <vector>

#include "core/main_state.h"
#include "geo/tile_key.h"
#include "platform/file_io.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tilestore/archive_sources.h"
#include "tilestore/jpeg_image.h"
#include "tilestore/parent_tiles.h"
#include "tilestore/tile_lookup.h"

namespace {

constexpr int EntriesPerArchive = 10000;

// Three archives of 10,000 tiles each; every name is distinct, and the tile
// looked up for a hit lies in the last archive, so a hit walks all three.
struct ArchiveSet {
    TempDir Dir;
    std::vector<std::string> Paths;
    std::string HitName;
    std::string HitTile = MakeTileJpeg();

    ArchiveSet() {
        const std::string small = MakeSolidJpeg(32, 32, 90, 120, 60);
        for (int a = 0; a < 3; ++a) {
            const std::string path = Dir.File("archive" + std::to_string(a) + ".zip");
            int error = 0;
            zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
            for (int i = 0; i < EntriesPerArchive; ++i) {
                const int n = a * EntriesPerArchive + i;
                const std::string name = KeyLetters(8, n % 256, n / 256) + ".jpg";
                const bool hit = a == 2 && i == EntriesPerArchive / 2;
                const std::string& data = hit ? HitTile : small;
                if (hit) HitName = name.substr(0, name.size() - 4);
                zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
                const zip_int64_t index =
                    zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_RAW);
                zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                         i % 2 ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
            }
            zip_close(archive);
            Paths.push_back(path);
        }
    }
};

ArchiveSet& Archives() {
    static ArchiveSet set;
    return set;
}

// Arg 0: 1 keeps the directories, 0 reopens every archive per lookup.
void LookupBench(benchmark::State& state, bool hit) {
    ArchiveSet& set = Archives();
    SetArchiveDirectoryCaching(state.range(0) != 0);
    const std::string name = hit ? set.HitName : "ttttttttttttttt";
    std::string buffer;
    for (auto _ : state) {
        const bool found = FindInArchives(set.Paths, name, buffer);
        if (found != hit) state.SkipWithError("unexpected lookup result");
        benchmark::DoNotOptimize(buffer.data());
    }
    SetArchiveDirectoryCaching(true);
}

void BM_FindInArchivesMiss(benchmark::State& state) {
    LookupBench(state, false);
}
void BM_FindInArchivesHit(benchmark::State& state) {
    LookupBench(state, true);
}
BENCHMARK(BM_FindInArchivesMiss)->ArgName("kept")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FindInArchivesHit)->ArgName("kept")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

struct ParentSet {
    TempDir Cache;
    MainState State;
    std::vector<std::string> Children;
    ParentSet() {
        State.ReplaceUpperLayers = true;  // rebuild on every call
        const char* letters[] = {"rtq", "rtr", "rts", "rtt"};
        for (int i = 0; i < 4; ++i) {
            Children.push_back(MakeTileJpeg(256, 256, static_cast<uint32_t>(i)));
            Cache.WriteFile(std::string(letters[i]) + ".jpg", Children.back());
        }
    }
};

void BM_BuildParentTile(benchmark::State& state) {
    ParentSet set;
    const std::string q = set.Cache.File("rtq.jpg");
    for (auto _ : state) BuildParentTile(set.State, q);
    if (!set.Cache.Exists("rt.jpg")) state.SkipWithError("no parent written");
}
BENCHMARK(BM_BuildParentTile)->Unit(benchmark::kMicrosecond);

// The floor under a parent: four decodes and one encode, no files.
void BM_DecodeFourEncodeOne(benchmark::State& state) {
    ParentSet set;
    Bitmap parent(256, 256);
    Bitmap child;
    for (auto _ : state) {
        for (int i = 0; i < 4; ++i) {
            DecodeJpeg(set.Children[i], child);
            parent.DrawHalved((i == 1 || i == 2) ? 128 : 0, i >= 2 ? 128 : 0, child);
        }
        benchmark::DoNotOptimize(EncodeJpeg(parent, ParentTileQuality));
    }
}
BENCHMARK(BM_DecodeFourEncodeOne)->Unit(benchmark::kMicrosecond);

void BM_DecodeTile(benchmark::State& state) {
    const std::string tile = MakeTileJpeg();
    Bitmap picture;
    for (auto _ : state) {
        if (!DecodeJpeg(tile, picture)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(picture.ScanLine(0));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(tile.size()));
}
BENCHMARK(BM_DecodeTile)->Unit(benchmark::kMicrosecond);

// The same tile through TurboJPEG, for what the wrapper costs on top.
void BM_DecodeTileTurboJpeg(benchmark::State& state) {
    const std::string tile = MakeTileJpeg();
    int width = 0, height = 0;
    for (auto _ : state) benchmark::DoNotOptimize(DecodeJpegRgb(tile, width, height).data());
}
BENCHMARK(BM_DecodeTileTurboJpeg)->Unit(benchmark::kMicrosecond);

// A cache read as the view does it: read the file, decode, check.
void BM_ReadCachedTile(benchmark::State& state) {
    TempDir cache;
    cache.WriteFile("rtt.jpg", MakeTileJpeg());
    const std::string file = cache.File("rtt.jpg");
    JpegImage image;
    for (auto _ : state)
        if (ReadCachedTile(file, image) != CachedTile::Valid) state.SkipWithError("not valid");
}
BENCHMARK(BM_ReadCachedTile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
