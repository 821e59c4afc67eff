#pragma once
#include <string>
#include <vector>

// The naming and cutting of a stitched region, as pure functions for the
// main thread that makes the tasks.

// One piece of a cut region: its own output file, its corners (lon west
// positive) and its planned size in pixels.
struct StitchPiece {
    std::string FileName;
    double Lat1 = 0, Lon1 = 0;  // top-left
    double Lat2 = 0, Lon2 = 0;  // bottom-right
    int X = 0, Y = 0;           // offset of the top-left corner in the region
    int Width = 0, Height = 0;  // the last column and row may be narrower
};

// `fileName` without its last 4 characters (".jpg"), then "_" + lat + "_" +
// lon, each "0.00000" with the program's comma, lon keeping its west-positive
// sign, then ".jpg".
std::string AddCoordinatesToName(const std::string& fileName, double lat, double lon);

// `baseName` without its last 4 characters, then "_" + n + ".jpg".
std::string PieceFileName(const std::string& baseName, int n);

// The pieces of a region of regionWidth x regionHeight pixels at `zoom`
// whose top-left corner is (lat1, lon1), cut into pieces of at most
// pieceWidth x pieceHeight, numbered from 1 column by column (down the
// leftmost column first). Each corner is the region's top-left corner moved
// by the piece's offset with PointAtDelta (so the first piece's corner is
// snapped to its pixel). With addCoordinates every name also carries its
// own top-left corner. Nothing for a piece or region size below 1.
std::vector<StitchPiece> CutIntoPieces(const std::string& baseName, int zoom, double lat1,
                                       double lon1, int regionWidth, int regionHeight,
                                       int pieceWidth, int pieceHeight, bool addCoordinates);
