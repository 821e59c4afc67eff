#pragma once
#include <string>
#include <vector>

// Calibration files that tie an image's pixels to the map: an OziExplorer
// ".map" and a MapInfo ".tab". Both take nine points (corners, centre, edge
// middles). Numbers in them use "." whatever the rest of the program uses;
// the files are Windows-1251 with CR LF.
//
// Every function takes the image's top-left corner (lat north positive, lon
// WEST positive, as everywhere inside the program), the zoom of its pixels
// and its signed pixel size (as PixelDelta gives it; the magnitudes count).

// Which files a call writes: a stitched image follows the two settings, a
// tile copied by the cache export gets its ".tab" only.
enum class CalibrationKind { StitchedImage = 0, ExportedTile = 1 };

struct CalibrationResult {
    bool Ok = true;
    std::string FailedFile;  // the calibration file that could not be written
    std::string Error;       // why, for a message
    explicit operator bool() const { return Ok; }
};

// The image path without its last 3 characters, then `extension`:
// x.jpg -> x.map, a.jpeg -> a.jmap.
std::string CalibrationFileName(const std::string& imagePath, const std::string& extension);

// Empty when the calibration files that the two settings ask for can name
// the image: the ".map" holds its whole path, the ".tab" its file name, both
// in Windows-1251. Otherwise the message that refuses the name, naming the
// characters that encoding cannot hold; such files would name no image.
std::string CalibrationNameProblem(const std::string& imagePath, bool writeOziMap,
                                   bool writeMapInfoTab);

// The lines of the two files (UTF-8, without line ends).
std::vector<std::string> OziMapLines(int zoom, int widthDelta, int heightDelta,
                                     const std::string& imagePath, double lat, double lon);
std::vector<std::string> MapInfoTabLines(int zoom, int widthDelta, int heightDelta,
                                         const std::string& imagePath, double lat, double lon);

// Writes the ".map" when `writeOziMap` and the kind is a stitched image, the
// ".tab" when `writeMapInfoTab` or the kind is an exported tile; each file
// atomically. Stops at the first file that cannot be written.
CalibrationResult WriteCalibration(int zoom, int widthDelta, int heightDelta, CalibrationKind kind,
                                   const std::string& imagePath, double lat, double lon,
                                   bool writeOziMap, bool writeMapInfoTab);

// The stitched image's files, as the two settings ask.
CalibrationResult WriteStitchCalibration(int zoom, int widthDelta, int heightDelta,
                                         const std::string& imagePath, double lat, double lon,
                                         bool writeOziMap, bool writeMapInfoTab);

// The ".tab" of one exported 256 x 256 tile whose top-left corner is (lat, lon).
CalibrationResult WriteTileTab(int zoom, const std::string& tilePath, double lat, double lon);
