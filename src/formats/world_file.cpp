#include "formats/world_file.h"

#include <charconv>
#include <cmath>

#include "geo/projection.h"

namespace {

// The sphere of EPSG:3857: WGS 84's semi-major axis.
// Half the world's width in metres of EPSG:3857: pi times 6378137.
constexpr double HalfWorld = 20037508.342789244;

// Locale-free, never in exponent form, and exact: reads back as the same double.
std::string Number(double value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return std::string(buffer, result.ptr);
}

constexpr const char* Epsg3857Wkt =
    "PROJCS[\"WGS 84 / Pseudo-Mercator\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS "
    "84\",6378137,298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],AUTHORITY[\"EPSG\",\"6326\"]],"
    "PRIMEM[\"Greenwich\",0,AUTHORITY[\"EPSG\",\"8901\"]],UNIT[\"degree\",0.0174532925199433,"
    "AUTHORITY[\"EPSG\",\"9122\"]],AUTHORITY[\"EPSG\",\"4326\"]],PROJECTION[\"Mercator_1SP\"],"
    "PARAMETER[\"central_meridian\",0],PARAMETER[\"scale_factor\",1],PARAMETER[\"false_"
    "easting\",0],PARAMETER[\"false_northing\",0],UNIT[\"metre\",1,AUTHORITY[\"EPSG\",\"9001\"]"
    "],AXIS[\"Easting\",EAST],AXIS[\"Northing\",NORTH],EXTENSION[\"PROJ4\",\"+proj=merc "
    "+a=6378137 +b=6378137 +lat_ts=0 +lon_0=0 +x_0=0 +y_0=0 +k=1 +units=m +nadgrids=@null "
    "+wktext +no_defs\"],AUTHORITY[\"EPSG\",\"3857\"]]";

}  // namespace

double WorldPixelSize(int zoom) {
    return 2 * HalfWorld / (256.0 * std::ldexp(1.0, zoom));
}

void WorldPixelAt(int zoom, double lat, double lon, int64_t& left, int64_t& top) {
    // TileAt's pixel, truncation included: the stitch's tile list starts at
    // the offsets TileKeyAt gives for this corner, so these are the pixels
    // the image really holds.
    const TilePosition pos = TileAt(zoom, lon, lat);
    left = int64_t{TileSize} * pos.Column + pos.XOffset;
    top = int64_t{TileSize} * pos.Row + pos.YOffset;
}

std::string WorldFileName(const std::string& imagePath) {
    const std::size_t slash = imagePath.find_last_of('/');
    const std::size_t dot = imagePath.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    if (!hasExtension || dot + 2 > imagePath.size()) return imagePath + ".wld";
    const std::string extension = imagePath.substr(dot + 1);
    return imagePath.substr(0, dot + 1) + extension.front() + extension.back() + "w";
}

std::string AuxFileName(const std::string& imagePath) {
    return imagePath + ".aux.xml";
}

WorldTransform WorldTransformOf(const WorldFileParams& p) {
    const double size = WorldPixelSize(p.Zoom);
    // World files name the centre of the top-left pixel.
    return {size, -HalfWorld + (static_cast<double>(p.Left) + 0.5) * size,
            HalfWorld - (static_cast<double>(p.Top) + 0.5) * size};
}

std::string WorldFileText(const WorldFileParams& p) {
    const WorldTransform t = WorldTransformOf(p);
    return Number(t.PixelSize) + "\n0\n0\n" + Number(-t.PixelSize) + "\n" + Number(t.CentreX) +
           "\n" + Number(t.CentreY) + "\n";
}

std::string AuxFileText() {
    return std::string("<PAMDataset>\n  <SRS dataAxisToSRSAxisMapping=\"1,2\">") + Epsg3857Wkt +
           "</SRS>\n</PAMDataset>\n";
}

FileResult WriteWorldFile(const WorldFileParams& params) {
    // An image reaching past the world's edge (a corner at the clamped
    // latitude) is still described as made: its white border lies outside.
    if (params.Zoom < MinZoom || params.Zoom > MaxZoom)
        return {false, WorldFileName(params.ImagePath) + ": недопустимый масштаб " +
                           std::to_string(params.Zoom)};
    if (params.Width <= 0 || params.Height <= 0)
        return {false, WorldFileName(params.ImagePath) + ": пустое изображение " +
                           std::to_string(params.Width) + "x" + std::to_string(params.Height)};
    if (FileResult r = WriteFileAtomic(WorldFileName(params.ImagePath), WorldFileText(params)); !r)
        return r;
    return WriteFileAtomic(AuxFileName(params.ImagePath), AuxFileText());
}
