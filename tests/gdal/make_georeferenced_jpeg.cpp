// For scripts/check-gdal.sh: a JPEG with its world file, and the corners the
// ".map" of the same image holds, in EPSG:3857 metres, for gdalinfo to match
// (the ".map"'s top-left is the corner as given, up to a pixel north of the
// image's first row; see WorldPixelAt).
//
//     make_georeferenced_jpeg ZOOM LAT LON WIDTH HEIGHT OUT.jpg
//
// LAT north positive, LON east positive; the corner is snapped to its pixel
// as the stitch's corners are.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/world_file.h"
#include "geo/projection.h"
#include "platform/file_io.h"
#include "support/tile_factory.h"

namespace {

constexpr double Pi = 3.141592653589793;
constexpr double Radius = 6378137.0;

void PrintCorner(const char* name, double lat, double lonWest) {
    std::printf("%s %.3f %.3f\n", name, Radius * (-lonWest) * Pi / 180,
                Radius * std::log(std::tan(Pi / 4 + lat * Pi / 360)));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s ZOOM LAT LON WIDTH HEIGHT OUT.jpg\n", argv[0]);
        return 2;
    }
    WorldFileParams params;
    params.Zoom = std::atoi(argv[1]);
    double lat = std::strtod(argv[2], nullptr);
    double lon = -std::strtod(argv[3], nullptr);  // west positive inside
    params.Width = std::atoi(argv[4]);
    params.Height = std::atoi(argv[5]);
    params.ImagePath = argv[6];
    if (params.Zoom < MinZoom || params.Zoom > MaxZoom || params.Width <= 0 || params.Height <= 0)
        return 2;
    PointAtDelta(0, 0, params.Zoom, lon, lat);
    WorldPixelAt(params.Zoom, lat, lon, params.Left, params.Top);

    if (FileResult r = WriteFileAtomic(params.ImagePath, MakeTileJpeg(params.Width, params.Height));
        !r) {
        std::fprintf(stderr, "%s\n", r.Error.c_str());
        return 1;
    }
    if (FileResult r = WriteWorldFile(params); !r) {
        std::fprintf(stderr, "%s\n", r.Error.c_str());
        return 1;
    }
    double bottomLat = lat, rightLon = lon;
    PointAtDelta(params.Width, params.Height, params.Zoom, rightLon, bottomLat);
    std::printf("PixelSize %.9f 0\n", WorldPixelSize(params.Zoom));
    PrintCorner("UpperLeft", lat, lon);
    PrintCorner("LowerRight", bottomLat, rightLon);
    return 0;
}
