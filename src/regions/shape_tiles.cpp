#include "regions/shape_tiles.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double Pi = 3.141592653589793;
constexpr double EarthRadius = 6378137;  // metres, the sphere of the Mercator grid

enum class Kind { Edge, Disk, Quad };

struct GridPoint {
    double X, Y;  // tiles east of 180 degrees west, south of the northern edge
};

GridPoint ToGrid(int zoom, double tiles, const ShapePoint& p) {
    const double lat = std::clamp(p.Lat, -ClampLatitude, ClampLatitude);
    return {tiles - GridX(zoom, p.Lon), tiles - GridY(zoom, lat)};
}

// Half the corridor's width in tiles at a latitude: the grid is conformal, so
// metres per tile shrink with the cosine of the latitude in both directions.
double HalfWidthInTiles(double widthMetres, double tiles, double lat) {
    const double phi = std::clamp(lat, -ClampLatitude, ClampLatitude) * Pi / 180;
    return std::max(0.0, widthMetres) / 2 * tiles / (2 * Pi * EarthRadius * std::cos(phi));
}

// A grid coordinate as a whole number of tiles, kept a little outside the
// world so that far-off values neither overflow nor wrap.
long long Cell(double value) {
    return static_cast<long long>(std::clamp(value, -4.0, 4.0 + (1 << MaxZoom)));
}

// Rows whose open interval (r, r + 1) meets [lo, hi].
void AddSpan(double lo, double hi, std::vector<std::pair<long long, long long>>& spans) {
    if (!(lo <= hi)) return;
    if (lo < hi) {
        spans.emplace_back(Cell(std::floor(lo)), Cell(std::ceil(hi)) - 1);
    } else if (std::floor(lo) != lo) {
        spans.emplace_back(Cell(std::floor(lo)), Cell(std::floor(lo)));
    }
}

}  // namespace

struct ShapeColumnSweep::Piece {
    Kind Type;
    int Ring = -1;                // edges: the ring they belong to
    double X[4] = {}, Y[4] = {};  // edge: 2 points; disk: centre; quad: 4 corners
    double R = 0;                 // disk radius
    long long FirstColumn = 0, LastColumn = 0;

    // The y range of the piece over the column's strip [c, c + 1]; false when
    // it does not reach into the strip.
    bool Span(long long c, double& lo, double& hi) const {
        const double a = static_cast<double>(c), b = a + 1;
        if (Type == Kind::Disk) {
            const double d = X[0] < a ? a - X[0] : (X[0] > b ? X[0] - b : 0);
            if (d >= R) return false;
            const double h = std::sqrt(R * R - d * d);
            lo = Y[0] - h;
            hi = Y[0] + h;
            return true;
        }
        const int n = Type == Kind::Edge ? 1 : 4;
        bool any = false;
        lo = 1e300;
        hi = -1e300;
        for (int i = 0; i < n; ++i) {
            const double x0 = X[i], y0 = Y[i];
            const double x1 = X[(i + 1) % (Type == Kind::Edge ? 2 : 4)];
            const double y1 = Y[(i + 1) % (Type == Kind::Edge ? 2 : 4)];
            const double xl = std::min(x0, x1), xr = std::max(x0, x1);
            if (Type == Kind::Edge ? !(xr > a && xl < b) : (xr < a || xl > b)) continue;
            if (x0 == x1) {
                lo = std::min({lo, y0, y1});
                hi = std::max({hi, y0, y1});
            } else {
                const double k = (y1 - y0) / (x1 - x0);
                const double ya = y0 + (std::max(xl, a) - x0) * k;
                const double yb = y0 + (std::min(xr, b) - x0) * k;
                lo = std::min({lo, ya, yb});
                hi = std::max({hi, ya, yb});
            }
            any = true;
        }
        return any;
    }
};

ShapeColumnSweep::ShapeColumnSweep(const RegionShape& shape, int zoom)
    : zoom_(std::clamp(zoom, MinZoom, MaxZoom)), column_(0) {
    if (zoom != zoom_) return;  // no such zoom: no tiles
    const double tiles = std::pow(2.0, zoom);
    const long long lastColumn = (1LL << zoom) - 1;
    // Columns whose open strip (c, c + 1) the piece reaches into.
    auto add = [&](Piece p, double xl, double xr) {
        if (!(xl <= xr) || (xl == xr && std::floor(xl) == xl)) return;  // NaN, or on a column edge
        for (int i = 0; i < 4; ++i)
            if (!std::isfinite(p.X[i]) || !std::isfinite(p.Y[i])) return;
        p.FirstColumn = std::max(Cell(std::floor(xl)), 0LL);
        p.LastColumn = std::min(Cell(std::ceil(xr)) - 1, lastColumn);
        if (p.FirstColumn <= p.LastColumn) pieces_.push_back(p);
    };

    for (const GeoPolygon& polygon : shape.Polygons) {
        const int index = static_cast<int>(ringPolygon_.size() ? ringPolygon_.back() + 1 : 0);
        for (std::size_t r = 0; r <= polygon.Holes.size(); ++r) {
            const GeoPath& ring = r == 0 ? polygon.Outer : polygon.Holes[r - 1];
            const int ringIndex = static_cast<int>(ringPolygon_.size());
            ringPolygon_.push_back(index);
            ringIsHole_.push_back(r > 0);
            for (std::size_t i = 0; i < ring.size(); ++i) {
                const GridPoint a = ToGrid(zoom, tiles, ring[i]);
                const GridPoint b = ToGrid(zoom, tiles, ring[(i + 1) % ring.size()]);
                if (a.X == b.X && a.Y == b.Y) continue;
                Piece p{Kind::Edge};
                p.Ring = ringIndex;
                p.X[0] = a.X, p.Y[0] = a.Y, p.X[1] = b.X, p.Y[1] = b.Y;
                add(p, std::min(a.X, b.X), std::max(a.X, b.X));
            }
        }
    }

    // The band round a line is the union of a disk at each point and a
    // rectangle along each segment, each as wide as the wider end needs.
    for (const GeoPath& line : shape.Lines) {
        std::vector<double> radius(line.size(), 0.0);
        for (std::size_t i = 0; i + 1 < line.size(); ++i) {
            const double r =
                std::max(HalfWidthInTiles(shape.CorridorWidth, tiles, line[i].Lat),
                         HalfWidthInTiles(shape.CorridorWidth, tiles, line[i + 1].Lat));
            radius[i] = std::max(radius[i], r);
            radius[i + 1] = std::max(radius[i + 1], r);
            const GridPoint a = ToGrid(zoom, tiles, line[i]);
            const GridPoint b = ToGrid(zoom, tiles, line[i + 1]);
            const double len = std::hypot(b.X - a.X, b.Y - a.Y);
            if (len == 0) continue;
            const double nx = -(b.Y - a.Y) / len * r, ny = (b.X - a.X) / len * r;
            Piece p{Kind::Quad};
            const double xs[4] = {a.X + nx, b.X + nx, b.X - nx, a.X - nx};
            const double ys[4] = {a.Y + ny, b.Y + ny, b.Y - ny, a.Y - ny};
            std::copy(xs, xs + 4, p.X);
            std::copy(ys, ys + 4, p.Y);
            add(p, *std::min_element(xs, xs + 4), *std::max_element(xs, xs + 4));
        }
        if (line.size() == 1) radius[0] = HalfWidthInTiles(shape.CorridorWidth, tiles, line[0].Lat);
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (radius[i] <= 0) continue;
            const GridPoint c = ToGrid(zoom, tiles, line[i]);
            Piece p{Kind::Disk};
            p.X[0] = c.X, p.Y[0] = c.Y, p.R = radius[i];
            add(p, c.X - p.R, c.X + p.R);
        }
    }

    std::sort(pieces_.begin(), pieces_.end(),
              [](const Piece& a, const Piece& b) { return a.LastColumn > b.LastColumn; });
    column_ = pieces_.empty() ? -1 : pieces_.front().LastColumn;
    winding_.assign(ringPolygon_.size(), 0);
    const std::size_t polygons = ringPolygon_.empty() ? 0 : ringPolygon_.back() + 1;
    outerWinds_.assign(polygons, 0);
    holesWinding_.assign(polygons, 0);
}

ShapeColumnSweep::~ShapeColumnSweep() = default;

bool ShapeColumnSweep::NextColumn(int& column, std::vector<RowRange>& rows) {
    for (;;) {
        if (active_.empty()) {
            if (next_ == pieces_.size()) return false;
            column_ = std::min(column_, pieces_[next_].LastColumn);
        }
        while (next_ < pieces_.size() && pieces_[next_].LastColumn >= column_)
            active_.push_back(next_++);
        std::erase_if(active_, [&](std::size_t i) { return pieces_[i].FirstColumn > column_; });
        if (active_.empty()) continue;
        Rows(column_, rows);
        column = static_cast<int>(column_);
        --column_;
        if (!rows.empty()) return true;
    }
}

void ShapeColumnSweep::Rows(long long column, std::vector<RowRange>& rows) {
    spans_.clear();
    double lo = 0, hi = 0;
    for (std::size_t i : active_)
        if (pieces_[i].Span(column, lo, hi)) AddSpan(lo, hi, spans_);
    if (!ringPolygon_.empty()) FillRows(column, rows);

    const long long last = (1LL << zoom_) - 1;
    std::sort(spans_.begin(), spans_.end());
    rows.clear();
    for (auto [first, end] : spans_) {
        first = std::max(first, 0LL);
        end = std::min(end, last);
        if (first > end) continue;
        if (!rows.empty() && first <= rows.back().Last + 1) {
            rows.back().Last = std::max(rows.back().Last, static_cast<int>(end));
        } else {
            rows.push_back({static_cast<int>(first), static_cast<int>(end)});
        }
    }
}

// Rows whose centre lies inside a polygon on the column's centre line. With
// the rows the edges pass through, these are all the rows whose square shares
// area with a polygon: a square no edge enters is wholly in or wholly out.
void ShapeColumnSweep::FillRows(long long column, std::vector<RowRange>&) {
    const double xm = static_cast<double>(column) + 0.5;
    crossings_.clear();
    for (std::size_t i : active_) {
        const Piece& p = pieces_[i];
        if (p.Type != Kind::Edge) continue;
        if ((p.X[0] <= xm) == (p.X[1] <= xm)) continue;
        const double y = p.Y[0] + (xm - p.X[0]) * (p.Y[1] - p.Y[0]) / (p.X[1] - p.X[0]);
        crossings_.push_back({y, p.X[1] > p.X[0] ? 1 : -1, p.Ring});
    }
    std::sort(crossings_.begin(), crossings_.end(),
              [](const Crossing& a, const Crossing& b) { return a.Y < b.Y; });
    int insideCount = 0;
    double start = 0;
    for (const Crossing& c : crossings_) {
        const int polygon = ringPolygon_[c.Ring];
        const bool wasInside = outerWinds_[polygon] > 0 && holesWinding_[polygon] == 0;
        const bool wasWound = winding_[c.Ring] != 0;
        winding_[c.Ring] += c.Dir;
        const bool wound = winding_[c.Ring] != 0;
        if (wound != wasWound)
            (ringIsHole_[c.Ring] ? holesWinding_ : outerWinds_)[polygon] += wound ? 1 : -1;
        const bool inside = outerWinds_[polygon] > 0 && holesWinding_[polygon] == 0;
        if (inside == wasInside) continue;
        if (inside && insideCount++ == 0) start = c.Y;
        if (!inside && --insideCount == 0) {
            const long long first = Cell(std::floor(start - 0.5)) + 1;
            const long long last = Cell(std::ceil(c.Y - 0.5)) - 1;
            if (first <= last) spans_.emplace_back(first, last);
        }
    }
}

ShapeTileCursor::ShapeTileCursor(const RegionShape& shape, int zoom)
    : sweep_(shape, zoom), zoom_(zoom) {}

bool ShapeTileCursor::Next(TileIndex& tile) {
    while (range_ < 0 || row_ < rows_[range_].First) {
        if (range_ > 0) {
            --range_;
        } else {
            if (!sweep_.NextColumn(column_, rows_)) return false;
            range_ = static_cast<int>(rows_.size()) - 1;
        }
        row_ = rows_[range_].Last;
    }
    tile = {zoom_, column_, row_--};
    return true;
}

long long CountShapeTiles(const RegionShape& shape, int zoom) {
    ShapeColumnSweep sweep(shape, zoom);
    std::vector<RowRange> rows;
    int column = 0;
    long long count = 0;
    while (sweep.NextColumn(column, rows))
        for (const RowRange& r : rows) count += r.Last - r.First + 1;
    return count;
}

TileRange ShapeTileRange(const RegionShape& shape, int zoom) {
    ShapeColumnSweep sweep(shape, zoom);
    std::vector<RowRange> rows;
    int column = 0, east = -1, west = -1, previous = -1;
    int gapEast = -1, gapWest = -1;  // the widest gap between columns with tiles
    int firstRow = 1 << 30, lastRow = -1;
    while (sweep.NextColumn(column, rows)) {
        if (east < 0) east = column;
        if (previous >= 0 && previous - column - 1 > gapEast - gapWest - 1) {
            gapEast = previous;
            gapWest = column;
        }
        previous = west = column;
        firstRow = std::min(firstRow, rows.front().First);
        lastRow = std::max(lastRow, rows.back().Last);
    }
    TileRange range;
    if (east < 0) return range;
    const int tiles = 1 << zoom;
    range.FirstRow = firstRow;
    range.Rows = lastRow - firstRow + 1;
    const int wrapGap = tiles - 1 - east + west;
    if (gapEast >= 0 && gapEast - gapWest - 1 > wrapGap) {
        range.FirstColumn = gapEast;
        range.Columns = tiles - gapEast + gapWest + 1;
    } else {
        range.FirstColumn = west;
        range.Columns = east - west + 1;
    }
    return range;
}

RegionCorners TileRangeCorners(int zoom, const TileRange& range) {
    const double tiles = std::pow(2.0, zoom);
    auto lon = [&](double column) { return 180 - column / tiles * 360; };
    auto lat = [&](double row) {
        return std::atan(std::sinh(Pi * (1 - 2 * row / tiles))) * 180 / Pi;
    };
    RegionCorners c;
    c.Lon1 = lon(range.FirstColumn);
    c.Lat1 = lat(range.FirstRow);
    c.Lon2 = lon(static_cast<double>(range.FirstColumn) + range.Columns);
    c.Lat2 = lat(static_cast<double>(range.FirstRow) + range.Rows);
    return c;
}
