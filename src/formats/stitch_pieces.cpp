#include "formats/stitch_pieces.h"

#include <utility>

#include "formats/geotiff.h"
#include "geo/projection.h"
#include "platform/numbers.h"
#include "platform/text_codec.h"

namespace {

// The name without its last 4 characters, the expected ".jpg"; a GeoTIFF's
// name without its ".tif" or ".tiff".
std::string WithoutExtension(const std::string& name) {
    if (IsGeoTiffName(name)) return name.substr(0, name.find_last_of('.'));
    const size_t length = Utf8Length(name);
    return Utf8Left(name, length >= 4 ? length - 4 : 0);
}

// What the pieces' names end in: a GeoTIFF keeps its extension.
std::string Extension(const std::string& name) {
    return IsGeoTiffName(name) ? name.substr(name.find_last_of('.')) : std::string(".jpg");
}

}  // namespace

std::string AddCoordinatesToName(const std::string& fileName, double lat, double lon) {
    return WithoutExtension(fileName) + "_" + FormatFixed(lat, 5) + "_" + FormatFixed(lon, 5) +
           Extension(fileName);
}

std::string PieceFileName(const std::string& baseName, int n) {
    return WithoutExtension(baseName) + "_" + std::to_string(n) + Extension(baseName);
}

std::vector<StitchPiece> CutIntoPieces(const std::string& baseName, int zoom, double lat1,
                                       double lon1, int regionWidth, int regionHeight,
                                       int pieceWidth, int pieceHeight, bool addCoordinates) {
    std::vector<StitchPiece> pieces;
    if (pieceWidth < 1 || pieceHeight < 1 || regionWidth < 1 || regionHeight < 1) return pieces;
    int n = 0;
    for (int x = 0; x < regionWidth;) {
        int pw = pieceWidth;
        for (int y = 0; y < regionHeight;) {
            int ph = pieceHeight;
            if (x + pw > regionWidth) pw = regionWidth - x;
            if (y + ph > regionHeight) ph = regionHeight - y;
            StitchPiece piece;
            piece.X = x;
            piece.Y = y;
            piece.Width = pw;
            piece.Height = ph;
            piece.Lat1 = lat1;
            piece.Lon1 = lon1;
            PointAtDelta(x, y, zoom, piece.Lon1, piece.Lat1);
            piece.Lat2 = lat1;
            piece.Lon2 = lon1;
            PointAtDelta(x + pw, y + ph, zoom, piece.Lon2, piece.Lat2);
            piece.FileName = PieceFileName(baseName, ++n);
            if (addCoordinates)
                piece.FileName = AddCoordinatesToName(piece.FileName, piece.Lat1, piece.Lon1);
            pieces.push_back(std::move(piece));
            y += ph;
        }
        x += pw;
    }
    return pieces;
}
