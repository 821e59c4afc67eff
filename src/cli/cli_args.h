#pragma once
#include <string>
#include <vector>

// The command line of vistrel-cli, as typed: coordinates are decimal degrees
// with a point, longitudes east positive (as users write them everywhere
// else); the run turns them into the program's west-positive ones.

enum class CliCommand { Help, Download, Stitch, Export };

struct CliOptions {
    CliCommand Command = CliCommand::Help;
    int Zoom = 0;                     // 1..20
    int ZoomTo = 0;                   // --zoom Z1-Z2: Z2; 0 for one zoom
    double FromLat = 0, FromLon = 0;  // --from, east positive
    double ToLat = 0, ToLon = 0;      // --to
    std::string Region;               // --region: a region file instead of the corners
    double Buffer = 1000;             // --buffer: a line's corridor width, metres
    std::string State;                // --state: the task's record
    bool RetryFailed = false;         // --retry-failed
    int Mode = -1;                    // 0 cache, 1 internet, 2 both; -1 the settings'
    std::string Folder;               // --folder; empty: the program folder
    int Connections = 1;              // 1..64
    std::string Source;               // --source: a source of the list by name
    int RefreshOlderDays = -1;        // --refresh-older; -1: as the source says
    // Stitch.
    std::string Out;   // ends in ".jpg", or ".tif" / ".tiff" for a GeoTIFF
    int Quality = -1;  // 1..100; -1 the settings'
    bool Pieces = false;
    std::string PieceWidthText, PieceHeightText;  // checked against the region's size later
    bool AddCoordinates = false;
    bool WorldFile = false;
    bool SnapToTiles = false;  // the region widened to whole tiles
    // Export.
    std::string Dir;
    bool Tab = false;
    std::string MBTiles, SqliteDb;  // the database file instead of --dir
    std::string Name;               // --name: the MBTiles name
};

struct CliParseResult {
    bool Ok = false;
    CliOptions Options;
    std::string Error;  // names the argument; empty when Ok
};

inline constexpr int MaxCliConnections = 64;
inline constexpr double MaxCliBuffer = 100'000;  // metres

// The arguments after the program's name.
CliParseResult ParseCliArgs(const std::vector<std::string>& args);

// "LAT,LON" in decimal degrees with a point: latitude below 90 and longitude
// below 180 in size, so that nothing out of the map reaches the projection.
bool ParseCliCoordinate(const std::string& text, double& lat, double& lon);

// The text of --help.
std::string CliUsage();
