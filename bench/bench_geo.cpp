// Rates of the key operations that view rendering and the region tasks call
// once per tile.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "geo/projection.h"
#include "geo/tile_key.h"

namespace {

const std::string Source = "http://127.0.0.1:8642/kh?v=9&n=404&t=t";

struct Point {
    double Lon, Lat;
};

std::vector<Point> RandomPoints() {
    std::mt19937_64 engine(1);
    std::uniform_real_distribution<double> lon(-180, 180), lat(-85, 85);
    std::vector<Point> points(4096);
    for (Point& p : points) p = {lon(engine), lat(engine)};
    return points;
}

void BM_TileKeyAt(benchmark::State& state) {
    const int z = static_cast<int>(state.range(0));
    const std::vector<Point> points = RandomPoints();
    std::size_t i = 0;
    for (auto _ : state) {
        const Point& p = points[i++ & 4095];
        benchmark::DoNotOptimize(TileKeyAt(z, p.Lon, p.Lat, Source));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TileKeyAt)->Arg(1)->Arg(10)->Arg(20);

void BM_TileAt(benchmark::State& state) {
    const int z = static_cast<int>(state.range(0));
    const std::vector<Point> points = RandomPoints();
    std::size_t i = 0;
    for (auto _ : state) {
        const Point& p = points[i++ & 4095];
        benchmark::DoNotOptimize(TileAt(z, p.Lon, p.Lat));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TileAt)->Arg(20);

// A walk like the renderer's: east along a row, then one step south.
void BM_StepWalk(benchmark::State& state) {
    const int z = static_cast<int>(state.range(0));
    std::string key = TileKeyAt(z, -37.6173, 55.7558, Source).Key;
    int n = 0;
    for (auto _ : state) {
        if (++n % 64 == 0) {
            StepSouth(key, Source.size());
        } else {
            StepEast(key, Source.size());
        }
        benchmark::DoNotOptimize(key.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StepWalk)->Arg(10)->Arg(20);

// Worst case for a step: every letter is passed over (the wrap at the edge).
void BM_StepWrap(benchmark::State& state) {
    const int z = static_cast<int>(state.range(0));
    std::string key = Source + std::string(static_cast<std::size_t>(z), 'r');
    for (auto _ : state) {
        StepEast(key, Source.size());  // rrr..r -> qqq..q
        StepWest(key, Source.size());  // and back
        benchmark::DoNotOptimize(key.data());
    }
    state.SetItemsProcessed(2 * state.iterations());
}
BENCHMARK(BM_StepWrap)->Arg(20);

void BM_PointAtDelta(benchmark::State& state) {
    const std::vector<Point> points = RandomPoints();
    std::size_t i = 0;
    for (auto _ : state) {
        Point p = points[i++ & 4095];
        benchmark::DoNotOptimize(PointAtDelta(100, -100, 15, p.Lon, p.Lat));
        benchmark::DoNotOptimize(p);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PointAtDelta);

}  // namespace

BENCHMARK_MAIN();
