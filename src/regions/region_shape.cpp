#include "regions/region_shape.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double Pi = 3.141592653589793;

// Mercator's vertical coordinate: edges are straight in it, so a point cut
// from an edge is interpolated there.
double MercatorY(double lat) {
    return std::log(std::tan(Pi / 4 + lat * Pi / 360));
}
double LatitudeOfY(double y) {
    return (2 * std::atan(std::exp(y)) - Pi / 2) * 180 / Pi;
}

// The point of edge a-b at longitude lon (a and b on either side of it).
ShapePoint PointAtLongitude(const ShapePoint& a, const ShapePoint& b, double lon) {
    const double t = (lon - a.Lon) / (b.Lon - a.Lon);
    const double ya = MercatorY(a.Lat), yb = MercatorY(b.Lat);
    return {lon, LatitudeOfY(ya + t * (yb - ya))};
}

double Nearest(double lon, double to) {
    return lon - 360 * std::round((lon - to) / 360);
}

// Longitudes made continuous; false for a ring that winds round a pole.
bool Unwrap(GeoPath& path, bool ring) {
    if (path.empty()) return true;
    GeoPath out = path;
    for (std::size_t i = 1; i < out.size(); ++i) out[i].Lon = Nearest(out[i].Lon, out[i - 1].Lon);
    if (ring && Nearest(path.front().Lon, out.back().Lon) != out.front().Lon) return false;
    path.swap(out);
    return true;
}

double MaxLon(const GeoPath& path) {
    double m = -1e300;
    for (const ShapePoint& p : path) m = std::max(m, p.Lon);
    return m;
}
double MinLon(const GeoPath& path) {
    double m = 1e300;
    for (const ShapePoint& p : path) m = std::min(m, p.Lon);
    return m;
}

void Shift(GeoPath& path, double by) {
    for (ShapePoint& p : path) p.Lon += by;
}

// Shifts by whole turns so that the westernmost point lies in (-180, 180].
void ShiftIntoWorld(GeoPath& path) {
    const double west = MaxLon(path);
    const double by = -360 * std::ceil((west - 180) / 360);
    Shift(path, by);
}

// The part of a ring on one side of the antimeridian at -180 (east: beyond it).
GeoPath ClipRing(const GeoPath& ring, bool east) {
    auto inside = [east](const ShapePoint& p) { return east ? p.Lon <= -180 : p.Lon >= -180; };
    GeoPath out;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const ShapePoint& a = ring[i];
        const ShapePoint& b = ring[(i + 1) % ring.size()];
        if (inside(a)) out.push_back(a);
        if (inside(a) != inside(b) && a.Lon != -180 && b.Lon != -180)
            out.push_back(PointAtLongitude(a, b, -180));
    }
    if (east) Shift(out, 360);
    if (out.size() < 3) out.clear();
    return out;
}

void NormalizePolygon(GeoPolygon polygon, std::vector<GeoPolygon>& out) {
    if (!Unwrap(polygon.Outer, true)) {
        out.push_back(std::move(polygon));
        return;
    }
    ShiftIntoWorld(polygon.Outer);
    const double west = MaxLon(polygon.Outer);
    for (GeoPath& hole : polygon.Holes) {
        if (!Unwrap(hole, true)) continue;
        Shift(hole, Nearest(MaxLon(hole), west) - MaxLon(hole));
    }
    const double east = MinLon(polygon.Outer);
    if (east >= -180) {
        out.push_back(std::move(polygon));
    } else if (east <= -540) {
        // Wider than the world once unwrapped: no sensible cut exists.
        return;
    } else {
        for (bool side : {false, true}) {
            GeoPolygon part;
            part.Outer = ClipRing(polygon.Outer, side);
            if (part.Outer.empty()) continue;
            for (const GeoPath& hole : polygon.Holes) {
                GeoPath h = ClipRing(hole, side);
                if (!h.empty()) part.Holes.push_back(std::move(h));
            }
            out.push_back(std::move(part));
        }
    }
}

// Which copy of the world a longitude lies in: 0 for (-180, 180], 1 east of it...
long Sheet(double lon) {
    return static_cast<long>(std::floor((180 - lon) / 360));
}

void NormalizeLine(GeoPath line, std::vector<GeoPath>& out) {
    Unwrap(line, false);
    ShiftIntoWorld(line);
    GeoPath piece;
    long sheet = line.empty() ? 0 : Sheet(line.front().Lon);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const long s = Sheet(line[i].Lon);
        if (i > 0 && s != sheet) {
            const double edge = 180 - 360.0 * std::max(s, sheet);
            const ShapePoint cut = PointAtLongitude(line[i - 1], line[i], edge);
            piece.push_back({cut.Lon + 360.0 * sheet, cut.Lat});
            out.push_back(std::move(piece));
            piece.clear();
            piece.push_back({cut.Lon + 360.0 * s, cut.Lat});
            sheet = s;
        }
        piece.push_back({line[i].Lon + 360.0 * s, line[i].Lat});
    }
    if (!piece.empty()) out.push_back(std::move(piece));
}

}  // namespace

// Points no file can hold would make the geometry meaningless: dropped.
void DropImpossible(GeoPath& path) {
    std::erase_if(
        path, [](const ShapePoint& p) { return !(std::abs(p.Lat) <= 90 && std::abs(p.Lon) <= 720); });
}

void NormalizeShape(RegionShape& shape) {
    for (GeoPolygon& p : shape.Polygons) {
        DropImpossible(p.Outer);
        for (GeoPath& h : p.Holes) DropImpossible(h);
        std::erase_if(p.Holes, [](const GeoPath& h) { return h.size() < 3; });
    }
    std::erase_if(shape.Polygons, [](const GeoPolygon& p) { return p.Outer.size() < 3; });
    for (GeoPath& l : shape.Lines) DropImpossible(l);
    std::vector<GeoPolygon> polygons;
    for (GeoPolygon& p : shape.Polygons) NormalizePolygon(std::move(p), polygons);
    shape.Polygons.swap(polygons);
    std::vector<GeoPath> lines;
    for (GeoPath& l : shape.Lines) NormalizeLine(std::move(l), lines);
    shape.Lines.swap(lines);
}
