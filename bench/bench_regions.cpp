// The tile lists of shaped regions against their bounding boxes: a 1 km
// corridor along a 300 km route of 30,000 points at zoom 17, read from a GPX,
// and a country-sized polygon of 10,000 points at zoom 14. For each: the time
// and peak heap of walking the shape's tiles and of building the box's task
// list (what a user would otherwise download), and the tiles saved.
//
//     bench_regions [points of the huge GPX]   (default 2,300,000: about 100 MB)
#include <malloc.h>

#include <QByteArray>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <random>

#include "geo/projection.h"
#include "regions/region_file.h"
#include "regions/shape_tiles.h"
#include "tasks/tasks.h"

namespace {

std::atomic<long long> heapNow{0}, heapPeak{0};

void Count(void* p) {
    if (!p) return;
    const long long now = heapNow += static_cast<long long>(malloc_usable_size(p));
    long long peak = heapPeak.load();
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
    }
}

}  // namespace

void* operator new(std::size_t size) {
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    Count(p);
    return p;
}
void operator delete(void* p) noexcept {
    if (p) heapNow -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr double Pi = 3.141592653589793;
constexpr double MetresPerDegree = 111319.49;

struct Measure {
    Clock::time_point Start = Clock::now();
    long long Base = heapNow.load();
    Measure() { heapPeak = heapNow.load(); }
    void Print(const char* what, long long tiles) const {
        const double s = std::chrono::duration<double>(Clock::now() - Start).count();
        std::printf("  %-34s %12lld tiles  %8.3f s  peak heap +%.1f MB\n", what, tiles, s,
                    (heapPeak.load() - Base) / 1048576.0);
    }
};

// A winding route of `points` points `step` metres apart, as a GPX.
QByteArray RouteGpx(int points, double step) {
    std::mt19937_64 engine(7);
    std::normal_distribution<double> turn(0, 0.02);
    double lat = 47.5, lon = 8.0, heading = 0.6, drift = 0;
    QByteArray gpx = "<?xml version=\"1.0\"?><gpx version=\"1.1\"><trk><trkseg>\n";
    for (int i = 0; i < points; ++i) {
        gpx += "<trkpt lat=\"" + QByteArray::number(lat, 'f', 7) + "\" lon=\"" +
               QByteArray::number(lon, 'f', 7) + "\"/>\n";
        drift = 0.98 * drift + turn(engine);
        heading += drift * 0.01;
        lat += step * std::cos(heading) / MetresPerDegree;
        lon += step * std::sin(heading) / (MetresPerDegree * std::cos(lat * Pi / 180));
    }
    return gpx + "</trkseg></trk></gpx>\n";
}

// An irregular country of `points` points about 350 km across its middle.
RegionShape Country(int points) {
    RegionShape shape;
    GeoPolygon polygon;
    std::mt19937_64 engine(3);
    std::uniform_real_distribution<double> noise(-1, 1);
    for (int i = 0; i < points; ++i) {
        const double a = 2 * Pi * i / points;
        const double r = 350e3 * (1 + 0.2 * std::sin(3 * a) + 0.07 * std::sin(17 * a + 1) +
                                  0.01 * noise(engine));
        const double lat = 50 + r * std::sin(a) / MetresPerDegree;
        const double lon = -(15 + r * std::cos(a) / (MetresPerDegree * std::cos(50 * Pi / 180)));
        polygon.Outer.push_back({lon, lat});
    }
    shape.Polygons.push_back(std::move(polygon));
    return shape;
}

long long Walk(const RegionShape& shape, int zoom) {
    ShapeTileCursor cursor(shape, zoom);
    TileIndex tile;
    long long n = 0;
    while (cursor.Next(tile)) ++n;
    return n;
}

void Compare(const char* name, const RegionShape& shape, int zoom) {
    std::printf("%s, zoom %d\n", name, zoom);
    long long tiles = 0, count = 0;
    {
        Measure m;
        tiles = Walk(shape, zoom);
        m.Print("shape: walk every tile", tiles);
    }
    {
        Measure m;
        count = CountShapeTiles(shape, zoom);
        m.Print("shape: count", count);
    }
    TileRange range;
    {
        Measure m;
        range = ShapeTileRange(shape, zoom);
        m.Print("shape: bounding block", static_cast<long long>(range.Columns) * range.Rows);
    }
    const long long box = static_cast<long long>(range.Columns) * range.Rows;
    if (box <= 4'000'000) {
        MainState state;
        const RegionCorners c = TileRangeCorners(zoom, range);
        state.SelLat1 = c.Lat1 - 1e-9, state.SelLon1 = c.Lon1 - 1e-9;
        Measure m;
        auto task = NewTask(state, {});
        std::string error;
        BuildTaskTiles(state, *task, zoom, range.Columns * 256, range.Rows * 256, error);
        m.Print("box: task tile list", task->TileCount);
    }
    std::printf("  tiles saved: %.1f %% (%lld of %lld), count %s the walk\n",
                100.0 * (box - tiles) / box, box - tiles, box,
                count == tiles ? "agrees with" : "DIFFERS from");
}

}  // namespace

int main(int argc, char** argv) {
    const int hugePoints = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2'300'000;
    const QByteArray gpx = RouteGpx(30000, 10);
    RegionReadOptions options;
    options.CorridorWidth = 1000;
    RegionFileResult route;
    {
        Measure m;
        route = ReadGpx(gpx, "route.gpx", options);
        m.Print("read a GPX of 30,000 points", 0);
    }
    if (!route.Ok()) {
        std::printf("%s\n", route.Message.toUtf8().constData());
        return 1;
    }
    Compare("corridor 1 km wide along 300 km", route.Shape, 17);
    {
        // What a huge file costs: about 100 MB of track points.
        const QByteArray big = RouteGpx(hugePoints, 10);
        Measure m;
        const RegionFileResult r = ReadGpx(big, "big.gpx", options);
        std::printf("read a GPX of %.0f MB: %s\n", big.size() / 1048576.0,
                    r.Ok() ? "ok" : "failed");
        m.Print("(its points)", 0);
    }
    Compare("country of 10,000 points", Country(10000), 14);
    return 0;
}
