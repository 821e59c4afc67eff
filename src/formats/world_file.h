#pragma once
#include <cstdint>
#include <string>

#include "platform/file_io.h"

// World files: a stitched image (or one of its pieces) opens georeferenced
// in GIS programs. Two files beside the image x.jpg:
//   x.jgw          the affine transform of the image's pixels, metres of
//                  the spherical Mercator (EPSG:3857): pixel size, 0, 0,
//                  minus pixel size, then the centre of the top-left pixel;
//   x.jpg.aux.xml  the coordinate system, which is where GDAL looks for it
//                  beside a JPEG (it takes no ".prj" there).
// The pixel grid is the one of the map: at zoom z the world is 256 * 2^z
// pixels across, counted from 180 degrees west and from the northern edge, so
// the transform is exact, not fitted to corner points.

// Metres of EPSG:3857 per pixel at zoom z.
double WorldPixelSize(int zoom);

struct WorldFileParams {
    int Zoom = 1;               // 1..20
    int64_t Left = 0, Top = 0;  // the image's top-left pixel in the world grid
    int Width = 0, Height = 0;  // image size in pixels
    std::string ImagePath;      // the JPEG the files describe
};

// The image's top-left pixel in the world grid from its top-left corner,
// lat north positive and lon WEST positive, as the calibration files take it:
// the pixel TileAt (and so the stitch's tile list) gives for that corner.
// A corner that PointAtDelta made can lie a rounding error north of its pixel
// boundary and then belongs to the pixel above, in the image as here; the
// ".map" names the corner as given, so its top-left can differ from this by
// that one pixel while its bottom-right agrees.
void WorldPixelAt(int zoom, double lat, double lon, int64_t& left, int64_t& top);

// x.jpg -> x.jgw, a.jpeg -> a.jgw (first and last letter of the extension,
// then "w"); a name without an extension gets ".wld".
std::string WorldFileName(const std::string& imagePath);
// imagePath + ".aux.xml".
std::string AuxFileName(const std::string& imagePath);

// The numbers of the transform: the pixel size in metres and the centre of
// the top-left pixel (the GeoTIFF of the same image carries the same).
struct WorldTransform {
    double PixelSize = 0;
    double CentreX = 0, CentreY = 0;
};
WorldTransform WorldTransformOf(const WorldFileParams& params);

// The six lines of the ".jgw" (numbers with ".", shortest exact form).
std::string WorldFileText(const WorldFileParams& params);
// The ".aux.xml" with the EPSG:3857 coordinate system.
std::string AuxFileText();

// Writes both files, each atomically; stops at the first failure, whose
// error names the file. An empty image or a zoom out of 1..20 gets no files
// (an error); an image that reaches past the world's edge gets its true
// transform.
FileResult WriteWorldFile(const WorldFileParams& params);
