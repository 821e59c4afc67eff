#include "regions/region_outline.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "regions/shape_tiles.h"

namespace {

constexpr double EarthRadius = 6378137.0;  // metres, the Mercator sphere
constexpr double MetresPerDegree = EarthRadius * std::numbers::pi / 180;

}  // namespace

RegionCorners ShapeBounds(const RegionShape& shape) {
    double north = -90, south = 90, west = -180, east = 180;  // west positive
    bool any = false;
    auto take = [&](const GeoPath& path, double marginMetres) {
        for (const ShapePoint& p : path) {
            const double dLat = marginMetres / MetresPerDegree;
            const double cosLat =
                std::cos(std::min(std::fabs(p.Lat), ClampLatitude) * std::numbers::pi / 180);
            const double dLon = std::min(180.0, marginMetres / (MetresPerDegree * cosLat));
            north = std::max(north, p.Lat + dLat);
            south = std::min(south, p.Lat - dLat);
            west = std::max(west, p.Lon + dLon);
            east = std::min(east, p.Lon - dLon);
            any = true;
        }
    };
    for (const GeoPolygon& polygon : shape.Polygons) take(polygon.Outer, 0);
    for (const GeoPath& line : shape.Lines) take(line, shape.CorridorWidth / 2);
    if (!any) return {};
    return {std::clamp(north, -ClampLatitude, ClampLatitude), std::clamp(west, -180.0, 180.0),
            std::clamp(south, -ClampLatitude, ClampLatitude), std::clamp(east, -180.0, 180.0)};
}

ScreenPoint ScreenPointOf(const ShapePoint& point, int zoom, double centerLon, double centerLat,
                          int width, int height) {
    // Grid x grows westward and grid y northward; the screen's go east and south.
    const double lat = std::clamp(point.Lat, -ClampLatitude, ClampLatitude);
    return {width / 2 + (GridX(zoom, centerLon) - GridX(zoom, point.Lon)) * TileSize,
            height / 2 + (GridY(zoom, centerLat) - GridY(zoom, lat)) * TileSize};
}

std::vector<ScreenPath> ShapeScreenPaths(const RegionShape& shape, int zoom, double centerLon,
                                         double centerLat, int width, int height) {
    std::vector<ScreenPath> paths;
    auto add = [&](const GeoPath& path, bool closed) {
        ScreenPath& out = paths.emplace_back();
        out.Closed = closed;
        out.Points.reserve(path.size());
        for (const ShapePoint& p : path)
            out.Points.push_back(ScreenPointOf(p, zoom, centerLon, centerLat, width, height));
    };
    for (const GeoPolygon& polygon : shape.Polygons) {
        add(polygon.Outer, true);
        for (const GeoPath& hole : polygon.Holes) add(hole, true);
    }
    for (const GeoPath& line : shape.Lines) add(line, false);
    return paths;
}

double CorridorPixelWidth(const RegionShape& shape, int zoom, double lat) {
    const double metresPerPixel =
        2 * std::numbers::pi * EarthRadius *
        std::cos(std::clamp(lat, -ClampLatitude, ClampLatitude) * std::numbers::pi / 180) /
        (TileSize * std::ldexp(1.0, zoom));
    return shape.CorridorWidth / metresPerPixel;
}

ShapeTileCounts::ShapeTileCounts(std::shared_ptr<const RegionShape> shape)
    : shape_(std::move(shape)) {
    std::fill(std::begin(counts_), std::end(counts_), -1);
}

long long ShapeTileCounts::At(int zoom) {
    if (!shape_ || zoom < MinZoom || zoom > MaxZoom) return 0;
    long long& count = counts_[zoom];
    if (count < 0) count = CountShapeTiles(*shape_, zoom);
    return count;
}

void PolygonDraft::Add(const ShapePoint& point) {
    if (!points_.empty() && points_.back() == point) return;
    points_.push_back(point);
}

void PolygonDraft::RemoveLast() {
    if (!points_.empty()) points_.pop_back();
}

std::optional<RegionShape> PolygonDraft::Close() {
    RegionShape shape;
    shape.Polygons.push_back({points_, {}});
    NormalizeShape(shape);
    const bool hasArea =
        std::any_of(shape.Polygons.begin(), shape.Polygons.end(), [](const GeoPolygon& polygon) {
            double twiceArea = 0;
            const GeoPath& ring = polygon.Outer;
            for (std::size_t i = 0; i < ring.size(); ++i) {
                const ShapePoint& a = ring[i];
                const ShapePoint& b = ring[(i + 1) % ring.size()];
                twiceArea += a.Lon * b.Lat - b.Lon * a.Lat;
            }
            return twiceArea != 0;
        });
    if (!hasArea) return std::nullopt;
    points_.clear();
    return shape;
}

RegionFileLoad::RegionFileLoad(const QString& path, double corridorWidth) {
    thread_ = std::thread([this, path, corridorWidth] {
        RegionReadOptions options;
        options.CorridorWidth = corridorWidth;
        options.Progress = [this](qint64 done, qint64 total) {
            if (total > 0)
                progress_ = static_cast<int>(std::min<qint64>(1000, done * 1000 / total));
            return !cancelled_.load();
        };
        result_ = ReadRegionFile(path, options);
        finished_ = true;
    });
}

RegionFileLoad::~RegionFileLoad() {
    cancelled_ = true;
    if (thread_.joinable()) thread_.join();
}

RegionFileResult RegionFileLoad::Result() {
    if (thread_.joinable()) thread_.join();
    return result_;
}
