#include "formats/calibration.h"

#include <cmath>
#include <cstdlib>

#include "geo/projection.h"
#include "platform/file_io.h"
#include "platform/numbers.h"
#include "platform/text_codec.h"

namespace {

struct Point {
    double Lat = 0;
    double Lon = 0;  // west positive
};

// The nine points, pixel positions and coordinates.
struct Frame {
    int W = 0, H = 0;  // magnitudes
    int W2 = 0, H2 = 0;
    Point TopLeft, BottomRight, Centre;
    Point BottomLeft() const { return {BottomRight.Lat, TopLeft.Lon}; }
    Point TopRight() const { return {TopLeft.Lat, BottomRight.Lon}; }
    Point TopMiddle() const { return {TopLeft.Lat, Centre.Lon}; }
    Point LeftMiddle() const { return {Centre.Lat, TopLeft.Lon}; }
    Point RightMiddle() const { return {Centre.Lat, BottomRight.Lon}; }
    Point BottomMiddle() const { return {BottomRight.Lat, Centre.Lon}; }
};

Frame MakeFrame(int zoom, int widthDelta, int heightDelta, double lat, double lon) {
    Frame f;
    f.W = std::abs(widthDelta);
    f.H = std::abs(heightDelta);
    f.W2 = f.W / 2;
    f.H2 = f.H / 2;
    f.TopLeft = {lat, lon};
    f.BottomRight = f.TopLeft;
    PointAtDelta(f.W, f.H, zoom, f.BottomRight.Lon, f.BottomRight.Lat);
    // The centre pixel of the Mercator grid, not the mean of the corners.
    f.Centre = f.TopLeft;
    PointAtDelta(f.W2, f.H2, zoom, f.Centre.Lon, f.Centre.Lat);
    return f;
}

// Calibration files use the point whatever the program's own separator is.
std::string PointFixed(double value, int decimals) {
    std::string s = FormatFixed(value, decimals);
    for (char& c : s)
        if (c == ',') c = '.';
    return s;
}

std::string Int(int value) {
    return std::to_string(value);
}

// "55, 45.00000": whole degrees, then the minutes. Minutes that round to 60
// stay 60 on purpose, they are not carried into the degrees.
std::string DegreesMinutes(double value) {
    const double a = std::fabs(value);
    const double d = std::trunc(a);
    return Int(static_cast<int>(d)) + ", " + PointFixed((a - d) * 60, 5);
}

std::string PointTail(const Point& p) {
    return DegreesMinutes(p.Lat) + "," + (p.Lat >= 0 ? "N" : "S") + ", " + DegreesMinutes(p.Lon) +
           "," + (p.Lon >= 0 ? "W" : "E") + ", grid,   ,           ,           ,N";
}

std::string FileNameOnly(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Longitude east positive first, then latitude.
std::string TabPoint(const Point& p) {
    return PointFixed(-p.Lon, 9) + "," + PointFixed(p.Lat, 9);
}

std::string TabLabel(int n) {
    return "\"Точка " + Int(n) + "\"";
}

CalibrationResult Save(const std::string& path, const std::vector<std::string>& lines) {
    FileResult written = WriteTextLines(path, lines);
    if (written) return {};
    return {false, path, written.Error};
}

}  // namespace

std::string CalibrationNameProblem(const std::string& imagePath, bool writeOziMap,
                                   bool writeMapInfoTab) {
    const std::string named = writeOziMap       ? imagePath
                              : writeMapInfoTab ? FileNameOnly(imagePath)
                                                : std::string();
    const std::string bad = Cp1251UnencodableList(named);
    if (bad.empty()) return {};
    return "В пути \"" + imagePath +
           "\" есть знаки, которые нельзя сохранить в файле привязки (кодировка Windows-1251): " +
           bad + ". Замените или уберите их.";
}

std::string CalibrationFileName(const std::string& imagePath, const std::string& extension) {
    const size_t length = Utf8Length(imagePath);
    return Utf8Left(imagePath, length >= 3 ? length - 3 : 0) + extension;
}

std::vector<std::string> OziMapLines(int zoom, int widthDelta, int heightDelta,
                                     const std::string& imagePath, double lat, double lon) {
    const Frame f = MakeFrame(zoom, widthDelta, heightDelta, lat, lon);
    const std::string W = Int(f.W), H = Int(f.H), W2 = Int(f.W2), H2 = Int(f.H2);
    std::vector<std::string> lines = {
        "OziExplorer Map Data File Version 2.2",
        FileNameOnly(imagePath),
        imagePath,
        "1 ,Map Code,",
        "WGS 84,,   0.0000,   0.0000,WGS 84",
        "Reserved 1",
        "Reserved 2",
        "Magnetic Variation,,,E",
        "Map Projection,Mercator,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No",
        "Point01,xy,    0, 0,in, deg, " + PointTail(f.TopLeft),
        "Point02,xy,   " + W + ", " + H + ",in, deg, " + PointTail(f.BottomRight),
        "Point03,xy,   0, " + H + ",in, deg, " + PointTail(f.BottomLeft()),
        "Point04,xy,   " + W + ", 0,in, deg, " + PointTail(f.TopRight()),
        "Point05,xy,   " + W2 + ", " + H2 + ",in, deg, " + PointTail(f.Centre),
        "Point06,xy,   " + W2 + ", 0,in, deg, " + PointTail(f.TopMiddle()),
        "Point07,xy,   0, " + H2 + ",in, deg, " + PointTail(f.LeftMiddle()),
        "Point08,xy,   " + W + ", " + H2 + ",in, deg, " + PointTail(f.RightMiddle()),
        "Point09,xy,   " + W2 + ", " + H + ",in, deg, " + PointTail(f.BottomMiddle()),
    };
    for (int n = 10; n <= 30; ++n)
        lines.push_back("Point" + Int(n) +
                        ",xy,     ,     ,in, deg,    ,        ,N,    ,        ,W, grid,   ,"
                        "           ,           ,N");
    const std::string lonLeft = PointFixed(-f.TopLeft.Lon, 6);
    const std::string lonRight = PointFixed(-f.BottomRight.Lon, 6);
    const std::string latTop = PointFixed(f.TopLeft.Lat, 6);
    const std::string latBottom = PointFixed(f.BottomRight.Lat, 6);
    const std::vector<std::string> tail = {
        "Projection Setup,,,,,,,,,,",
        "Map Feature = MF ; Map Comment = MC     These follow if they exist",
        "Track File = TF      These follow if they exist",
        "Moving Map Parameters = MM?    These follow if they exist",
        "MM0,No",
        "MMPNUM,4",
        "MMPXY,1,0,0",
        "MMPXY,2," + W + ",0",
        "MMPXY,3," + W + "," + H,
        "MMPXY,4,0," + H,
        "MMPLL,1, " + lonLeft + ", " + latTop,
        "MMPLL,2, " + lonRight + ", " + latTop,
        "MMPLL,3, " + lonRight + ", " + latBottom,
        "MMPLL,4, " + lonLeft + ", " + latBottom,
        "MOP,Map Open Position,0,0",
        "IWH,Map Image Width/Height," + W + "," + H,
    };
    lines.insert(lines.end(), tail.begin(), tail.end());
    return lines;
}

std::vector<std::string> MapInfoTabLines(int zoom, int widthDelta, int heightDelta,
                                         const std::string& imagePath, double lat, double lon) {
    const Frame f = MakeFrame(zoom, widthDelta, heightDelta, lat, lon);
    const std::string W = Int(f.W), H = Int(f.H), W2 = Int(f.W2), H2 = Int(f.H2);
    const auto point = [](const Point& p, const std::string& xy, int n, bool more) {
        return "  (" + TabPoint(p) + ") (" + xy + ") Label " + TabLabel(n) + (more ? "," : "");
    };
    return {
        "!table",
        "!version 300",
        "!charset WindowsCyrillic",
        "",
        "Definition Table",
        "  File \"" + FileNameOnly(imagePath) + "\"",
        "  Type \"RASTER\"",
        point(f.TopLeft, "0,0", 1, true),
        point(f.BottomRight, W + "," + H, 2, true),
        point(f.TopRight(), W + ",0", 3, true),
        point(f.BottomLeft(), "0," + H, 4, true),
        point(f.Centre, W2 + "," + H2, 5, true),
        point(f.TopMiddle(), W2 + ",0", 6, true),
        point(f.LeftMiddle(), "0," + H2, 7, true),
        point(f.RightMiddle(), W + "," + H2, 8, true),
        point(f.BottomMiddle(), W2 + "," + H, 9, false),
        "  CoordSys Earth Projection 1, 104",
        "  Units \"degree\"",
    };
}

CalibrationResult WriteCalibration(int zoom, int widthDelta, int heightDelta, CalibrationKind kind,
                                   const std::string& imagePath, double lat, double lon,
                                   bool writeOziMap, bool writeMapInfoTab) {
    if (writeOziMap && kind == CalibrationKind::StitchedImage) {
        CalibrationResult r = Save(CalibrationFileName(imagePath, "map"),
                                   OziMapLines(zoom, widthDelta, heightDelta, imagePath, lat, lon));
        if (!r) return r;
    }
    if (writeMapInfoTab || kind == CalibrationKind::ExportedTile)
        return Save(CalibrationFileName(imagePath, "tab"),
                    MapInfoTabLines(zoom, widthDelta, heightDelta, imagePath, lat, lon));
    return {};
}

CalibrationResult WriteStitchCalibration(int zoom, int widthDelta, int heightDelta,
                                         const std::string& imagePath, double lat, double lon,
                                         bool writeOziMap, bool writeMapInfoTab) {
    return WriteCalibration(zoom, widthDelta, heightDelta, CalibrationKind::StitchedImage,
                            imagePath, lat, lon, writeOziMap, writeMapInfoTab);
}

CalibrationResult WriteTileTab(int zoom, const std::string& tilePath, double lat, double lon) {
    return WriteCalibration(zoom, TileSize, TileSize, CalibrationKind::ExportedTile, tilePath, lat,
                            lon, false, false);
}
