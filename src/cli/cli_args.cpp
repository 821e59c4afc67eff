#include "cli/cli_args.h"

#include <charconv>
#include <cmath>
#include <map>
#include <set>

#include "formats/geotiff.h"
#include "platform/numbers.h"

namespace {

// A plain decimal number with a point, the whole text.
bool ParseDecimal(const std::string& text, double& value) {
    if (text.empty()) return false;
    const char* first = text.data();
    const char* last = first + text.size();
    if (*first == '+') ++first;
    double v = 0;
    const auto [ptr, ec] = std::from_chars(first, last, v, std::chars_format::fixed);
    if (ec != std::errc() || ptr != last || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool ParseRange(const std::string& text, int low, int high, int& value) {
    int v = 0;
    if (!ParseInt(text, v) || v < low || v > high || text.find(' ') != std::string::npos)
        return false;
    value = v;
    return true;
}

struct OptionInfo {
    bool TakesValue;
    std::set<CliCommand> Commands;
};

const std::map<std::string, OptionInfo>& Options() {
    using C = CliCommand;
    static const std::map<std::string, OptionInfo> options = {
        {"--zoom", {true, {C::Download, C::Stitch, C::Export}}},
        {"--from", {true, {C::Download, C::Stitch, C::Export}}},
        {"--to", {true, {C::Download, C::Stitch, C::Export}}},
        {"--region", {true, {C::Download, C::Stitch, C::Export}}},
        {"--buffer", {true, {C::Download, C::Stitch, C::Export}}},
        {"--state", {true, {C::Download, C::Stitch}}},
        {"--retry-failed", {false, {C::Download}}},
        {"--folder", {true, {C::Download, C::Stitch, C::Export}}},
        {"--mode", {true, {C::Download, C::Stitch}}},
        {"--connections", {true, {C::Download, C::Stitch}}},
        {"--source", {true, {C::Download, C::Stitch, C::Export}}},
        {"--refresh-older", {true, {C::Download}}},
        {"--out", {true, {C::Stitch}}},
        {"--quality", {true, {C::Stitch}}},
        {"--pieces", {true, {C::Stitch}}},
        {"--add-coordinates", {false, {C::Stitch}}},
        {"--world-file", {false, {C::Stitch}}},
        {"--snap-to-tiles", {false, {C::Stitch}}},
        {"--dir", {true, {C::Export}}},
        {"--tab", {false, {C::Export}}},
        {"--mbtiles", {true, {C::Export}}},
        {"--sqlitedb", {true, {C::Export}}},
        {"--name", {true, {C::Export}}},
    };
    return options;
}

const char* CommandName(CliCommand c) {
    switch (c) {
        case CliCommand::Download:
            return "download";
        case CliCommand::Stitch:
            return "stitch";
        case CliCommand::Export:
            return "export";
        case CliCommand::Help:
            break;
    }
    return "help";
}

}  // namespace

bool ParseCliCoordinate(const std::string& text, double& lat, double& lon) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos) return false;
    double a = 0, b = 0;
    if (!ParseDecimal(text.substr(0, comma), a) || !ParseDecimal(text.substr(comma + 1), b))
        return false;
    if (!(std::fabs(a) < 90) || !(std::fabs(b) < 180)) return false;
    lat = a;
    lon = b;
    return true;
}

CliParseResult ParseCliArgs(const std::vector<std::string>& args) {
    CliParseResult r;
    auto fail = [&](const std::string& error) {
        r.Ok = false;
        r.Error = error;
        return r;
    };
    for (const std::string& a : args)
        if (a == "--help" || a == "-h") {
            r.Ok = true;
            r.Options.Command = CliCommand::Help;
            return r;
        }
    if (args.empty()) return fail("a command is missing: download, stitch or export");
    CliOptions& o = r.Options;
    const std::string& command = args[0];
    if (command == "download")
        o.Command = CliCommand::Download;
    else if (command == "stitch")
        o.Command = CliCommand::Stitch;
    else if (command == "export")
        o.Command = CliCommand::Export;
    else if (command == "help") {
        r.Ok = true;
        return r;
    } else
        return fail("unknown command \"" + command + "\": download, stitch or export");

    std::set<std::string> seen;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string name = args[i], value;
        const std::size_t eq = name.find('=');
        const bool inlineValue = name.rfind("--", 0) == 0 && eq != std::string::npos;
        if (inlineValue) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const auto found = Options().find(name);
        if (found == Options().end())
            return fail(name.rfind("-", 0) == 0 ? "unknown option " + name
                                                : "unexpected argument \"" + name + "\"");
        if (!found->second.Commands.count(o.Command))
            return fail(name + " is not an option of " + CommandName(o.Command));
        if (!seen.insert(name).second) return fail(name + " is given twice");
        if (found->second.TakesValue && !inlineValue) {
            if (i + 1 >= args.size()) return fail(name + " needs a value");
            value = args[++i];
        } else if (!found->second.TakesValue && inlineValue) {
            return fail(name + " takes no value");
        }

        if (name == "--zoom") {
            const std::size_t dash = value.find('-');
            const bool range = dash != std::string::npos;
            if (!range && !ParseRange(value, 1, 20, o.Zoom))
                return fail("--zoom: expected a zoom from 1 to 20, got \"" + value + "\"");
            if (range &&
                (!ParseRange(value.substr(0, dash), 1, 20, o.Zoom) ||
                 !ParseRange(value.substr(dash + 1), 1, 20, o.ZoomTo) || o.ZoomTo < o.Zoom))
                return fail("--zoom: expected zooms Z1-Z2, 1 <= Z1 <= Z2 <= 20, got \"" + value +
                            "\"");
            if (range && o.Command == CliCommand::Stitch)
                return fail("--zoom: a stitch takes one zoom, got \"" + value + "\"");
        } else if (name == "--from" || name == "--to") {
            double& lat = name == "--from" ? o.FromLat : o.ToLat;
            double& lon = name == "--from" ? o.FromLon : o.ToLon;
            if (!ParseCliCoordinate(value, lat, lon))
                return fail(name +
                            ": expected LAT,LON in decimal degrees with a point "
                            "(latitude and longitude below 90 and 180 in size, east positive), "
                            "got \"" +
                            value + "\"");
        } else if (name == "--region") {
            if (value.empty()) return fail("--region: the file name is empty");
            o.Region = value;
        } else if (name == "--buffer") {
            double metres = 0;
            if (!ParseDecimal(value, metres) || !(metres > 0) || metres > MaxCliBuffer)
                return fail(
                    "--buffer: expected the corridor's width in metres, above 0 and up "
                    "to " +
                    std::to_string(static_cast<int>(MaxCliBuffer)) + ", got \"" + value + "\"");
            o.Buffer = metres;
        } else if (name == "--state") {
            if (value.empty() || value.back() == '/')
                return fail("--state: expected a file name, got \"" + value + "\"");
            o.State = value;
        } else if (name == "--retry-failed") {
            o.RetryFailed = true;
        } else if (name == "--folder") {
            if (value.empty()) return fail("--folder: the folder name is empty");
            o.Folder = value;
        } else if (name == "--mode") {
            if (value == "cache")
                o.Mode = 0;
            else if (value == "internet")
                o.Mode = 1;
            else if (value == "both")
                o.Mode = 2;
            else
                return fail("--mode: expected cache, internet or both, got \"" + value + "\"");
        } else if (name == "--connections") {
            if (!ParseRange(value, 1, MaxCliConnections, o.Connections))
                return fail("--connections: expected a number from 1 to " +
                            std::to_string(MaxCliConnections) + ", got \"" + value + "\"");
        } else if (name == "--source") {
            if (value.empty()) return fail("--source: the source name is empty");
            o.Source = value;
        } else if (name == "--refresh-older") {
            if (!ParseRange(value, 0, 36500, o.RefreshOlderDays))
                return fail("--refresh-older: expected a number of days from 0 to 36500, got \"" +
                            value + "\"");
        } else if (name == "--out") {
            // The piece and coordinate names replace the last four characters.
            const bool jpg = value.size() > 4 && (value.compare(value.size() - 4, 4, ".jpg") == 0 ||
                                                  value.compare(value.size() - 4, 4, ".JPG") == 0);
            const bool tif = IsGeoTiffName(value) && value.find_last_of('.') > 0 &&
                             value[value.find_last_of('.') - 1] != '/';
            if (!(jpg || tif) || value.back() == '/')
                return fail("--out: expected a file name ending in .jpg or .tif, got \"" + value +
                            "\"");
            o.Out = value;
        } else if (name == "--quality") {
            if (!ParseRange(value, 1, 100, o.Quality))
                return fail("--quality: expected a JPEG quality from 1 to 100, got \"" + value +
                            "\"");
        } else if (name == "--pieces") {
            const std::size_t x = value.find_first_of("xX");
            int w = 0, h = 0;
            if (x == std::string::npos || !ParseRange(value.substr(0, x), 1, 1 << 30, w) ||
                !ParseRange(value.substr(x + 1), 1, 1 << 30, h))
                return fail("--pieces: expected WIDTHxHEIGHT in pixels, got \"" + value + "\"");
            o.Pieces = true;
            o.PieceWidthText = value.substr(0, x);
            o.PieceHeightText = value.substr(x + 1);
        } else if (name == "--add-coordinates") {
            o.AddCoordinates = true;
        } else if (name == "--world-file") {
            o.WorldFile = true;
        } else if (name == "--snap-to-tiles") {
            o.SnapToTiles = true;
        } else if (name == "--dir") {
            if (value.empty()) return fail("--dir: the folder name is empty");
            o.Dir = value;
        } else if (name == "--tab") {
            o.Tab = true;
        } else if (name == "--mbtiles" || name == "--sqlitedb") {
            if (value.empty() || value.back() == '/')
                return fail(name + ": expected a file name, got \"" + value + "\"");
            (name == "--mbtiles" ? o.MBTiles : o.SqliteDb) = value;
        } else if (name == "--name") {
            o.Name = value;
        }
    }
    if (!seen.count("--zoom")) return fail("--zoom is missing");
    if (seen.count("--region")) {
        if (seen.count("--from") || seen.count("--to"))
            return fail("--region takes the place of --from and --to");
        if (seen.count("--pieces")) return fail("--pieces cannot be used with --region");
    } else {
        for (const char* required : {"--from", "--to"})
            if (!seen.count(required))
                return fail(std::string(required) + " is missing (or give --region)");
        if (seen.count("--buffer")) return fail("--buffer needs --region");
    }
    if (seen.count("--retry-failed") && !seen.count("--state"))
        return fail("--retry-failed needs --state");
    if (seen.count("--state") && seen.count("--pieces"))
        return fail("--state keeps one task: it cannot be used with --pieces");
    if (o.Command == CliCommand::Stitch && !seen.count("--out")) return fail("--out is missing");
    if (o.Command == CliCommand::Export) {
        const int targets = static_cast<int>(seen.count("--dir") + seen.count("--mbtiles") +
                                             seen.count("--sqlitedb"));
        if (targets != 1) return fail("export: give one of --dir, --mbtiles and --sqlitedb");
        if (seen.count("--tab") && !seen.count("--dir")) return fail("--tab needs --dir");
        if (seen.count("--name") && !seen.count("--mbtiles")) return fail("--name needs --mbtiles");
    }
    r.Ok = true;
    return r;
}

std::string CliUsage() {
    return R"(Usage:
  vistrel-cli download --zoom Z --from LAT,LON --to LAT,LON [--refresh-older DAYS]
                       [common options]
  vistrel-cli download --zoom Z --region FILE [--buffer METRES] [--refresh-older DAYS]
                       [common options]
  vistrel-cli stitch   --zoom Z --from LAT,LON --to LAT,LON --out FILE.jpg
                       [--quality Q] [--pieces WxH] [--add-coordinates]
                       [--world-file] [--snap-to-tiles] [common options]
  vistrel-cli export   --zoom Z --from LAT,LON --to LAT,LON --dir DIR [--tab]
                       [--folder DIR]
  vistrel-cli export   --zoom Z --from LAT,LON --to LAT,LON
                       (--mbtiles FILE [--name NAME] | --sqlitedb FILE) [--folder DIR]
  vistrel-cli --help

Runs one region task of the viewer without a window: the same tile list,
tile requests, error control and retries, parent tiles, log lines,
calibration files and export.

  --zoom Z            zoom 1..20; download and export also take a range
                      Z1-Z2 (12-16): the zooms one after another, lowest
                      first, as one task
  --from, --to        two opposite corners of the region in decimal degrees
                      with a point, longitude east positive (55.75,37.61;
                      -33.92,18.42); they are put in order and the latitudes
                      clamped to +-85.05113, as the parameters dialog does
  --region FILE       instead of --from and --to: the region of a GeoJSON,
                      KML, KMZ or GPX file (polygons, and lines as corridors);
                      only the tiles it covers are taken, and a stitch
                      covers its bounding block with the others left white
  --buffer METRES     --region: the full width of a line's corridor
                      (default 1000)
  --state FILE        download, stitch: keep the task's record there (how
                      far it got, its failed tiles); started again with the
                      same FILE and arguments, the task resumes where it
                      stopped
  --retry-failed      download with --state: fetch again only the tiles
                      that failed
  --out FILE.jpg      stitch: the image; the ".map" (and ".tab") calibration
                      files beside it follow the settings, written at once;
                      FILE.tif or FILE.tiff: a tiled GeoTIFF with overviews
                      and no size limit
  --quality Q         stitch: JPEG quality 1..100 (default: the viewer's)
  --pieces WxH        stitch: cut into pieces of at most W x H pixels
                      (256 up to one less than the region's size), named
                      FILE_1.jpg, FILE_2.jpg, ... down each column
  --add-coordinates   stitch: each name also gets its top-left corner
  --world-file        stitch: a world file (".jgw") beside each JPEG
  --snap-to-tiles     stitch: widen the region to whole tiles; a GeoTIFF then
                      takes the tiles' own JPEG bytes where it can
  --dir DIR           export: copy the cached tiles of the region there
                      (made when missing)
  --tab               export: a ".tab" file beside every copied tile
  --mbtiles FILE      export: into an MBTiles 1.3 file (TMS rows, format
                      jpg, the tiles' bytes unchanged)
  --sqlitedb FILE     export: into the SQLiteDB file of OsmAnd and Locus
                      (tiles(x, y, z, s, image) in the "BigPlanet" numbering
                      those apps read: z = 17 - zoom, y from the north, s = 0)
                      An existing file of that kind gets the tiles added or
                      replaced and its bounds and zooms widened; a file of
                      another kind is refused and left alone. A new file is
                      built under a temporary name and renamed when whole.
  --name NAME         export --mbtiles: the tileset's name (default: the
                      file's name without its extension)
  --refresh-older DAYS
                      download: cached tiles older than DAYS days are asked
                      for again (conditionally: an unchanged tile is not
                      sent twice); 0 never (default: the source's refreshDays)

Common options:
  --mode cache|internet|both
                      the work mode for this run only (default: the viewer's)
  --connections N     download, stitch: up to N tiles (1..64) in flight at
                      once, each on a connection of its own (default 1, as
                      the viewer works); the log lines of different tiles
                      may then interleave
  --source NAME       a source of Sources.json by name, its cache with it
                      (default: the one the viewer uses)
  --folder DIR        the program folder with Vistrel2.ini, CacheList.dat
                      and the cache (default: the viewer's program folder);
                      the settings file is read, never written

The task's log lines go to standard output as they are written (UTF-8); on
a terminal, standard error shows one line of progress. SIGINT or SIGTERM
stops the task as the viewer's Stop does: the end phase runs and no
half-written image is left (a second signal also cuts the requests in
flight short).

Exit status:
  0  the task ended and every tile was obtained (export: copied)
  1  another error: a message names the file or the cause
  2  bad arguments: a message names the argument
  3  the task ended with tiles failed or skipped, or was stopped; the last
     line says how many (export: tiles not in the cache; into a file they
     are listed, one line each)
)";
}
