#pragma once
#include <vector>

// Region shapes: polygons with holes and corridors along lines.
//
// Longitudes here are the program's own: WEST positive, as everywhere inside
// the program. Region files (GeoJSON, KML, GPX) write them east positive; the
// readers flip the sign at the boundary, so nothing past them sees a file's
// convention.
//
// Edges are straight in the Mercator pixel grid, as the map draws them.

struct ShapePoint {
    double Lon = 0;  // degrees, west positive
    double Lat = 0;  // degrees, north positive

    bool operator==(const ShapePoint&) const = default;
};

using GeoPath = std::vector<ShapePoint>;

// A ring is closed implicitly (the last point joins the first); a repeated
// closing point is harmless. Each ring is filled by the non-zero winding
// rule, so a ring that crosses itself covers every lobe it encloses, whatever
// its direction. A point is in the polygon when it is inside the outer ring
// and inside none of the holes.
struct GeoPolygon {
    GeoPath Outer;
    std::vector<GeoPath> Holes;
};

// The union of the polygons and of the corridor around the lines: every point
// closer than CorridorWidth / 2 metres on the ground to one of the lines.
struct RegionShape {
    std::vector<GeoPolygon> Polygons;
    std::vector<GeoPath> Lines;
    double CorridorWidth = 1000;  // metres, the full width of the band

    bool HasLines() const { return !Lines.empty(); }
    bool Empty() const { return Polygons.empty() && Lines.empty(); }
};

// Brings every path into -180..180 with no jump across the antimeridian.
// A path whose consecutive points lie more than 180 degrees of longitude apart
// is taken to cross the antimeridian the short way; such a polygon is cut
// there into a part on each side, and such a line into pieces that end on it.
// A ring that would wind once round a pole that way is kept as written.
// Points with a latitude beyond +-90 or a longitude beyond +-720 (or not
// numbers at all) are dropped, and so are rings left with fewer than three.
void NormalizeShape(RegionShape& shape);
