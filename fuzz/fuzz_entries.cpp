#include "fuzz_entries.h"

#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "core/app_core.h"
#include "core/main_state.h"
#include "core/settings_file.h"
#include "fetch/request_tile.h"
#include "geo/coordinate_text.h"
#include "platform/file_io.h"
#include "platform/numbers.h"
#include "platform/text_codec.h"
#include "regions/region_file.h"
#include "regions/shape_tiles.h"
#include "support/http_script_server.h"
#include "tilestore/archive_sources.h"
#include "tilestore/jpeg_image.h"
#include "tilestore/tile_lookup.h"
#include "view/favorites.h"

namespace {

void Check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "fuzz: property does not hold: %s\n", what);
    std::abort();
}

// One folder for the files an entry needs, made once per process.
class ScratchFolder {
public:
    ScratchFolder() {
        char name[] = "/tmp/vistrel-fuzz-XXXXXX";
        if (::mkdtemp(name) != nullptr) Path = std::string(name) + "/";
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!Path.empty()) std::filesystem::remove_all(Path, ignored);
    }
    std::string Path;
};

const std::string& Scratch() {
    static ScratchFolder folder;
    Check(!folder.Path.empty(), "a scratch folder");
    return folder.Path;
}

std::string_view Bytes(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

void WriteBytes(const std::string& path, std::string_view bytes) {
    Check(WriteFileAtomic(path, bytes).Ok, "the input written to a file");
}

}  // namespace

void FuzzSettingsFile(const uint8_t* data, size_t size) {
    const std::string path = Scratch() + SettingsFileName;
    WriteBytes(path, Bytes(data, size));
    MainState first;
    InitStartValues(first, Scratch());
    LoadSettings(first, path, ScreenSize{});
    const std::vector<std::string> once = SettingsLines(first);
    Check(once.size() == 65, "65 lines written");
    Check(WriteTextLines(path, once).Ok, "the lines written");
    MainState second;
    InitStartValues(second, Scratch());
    Check(LoadSettings(second, path, ScreenSize{}), "a written file reads whole");
    Check(SettingsLines(second) == once, "a written file reads back the same");
}

void FuzzArchiveList(const uint8_t* data, size_t size) {
    const std::string path = Scratch() + ArchiveListFileName;
    WriteBytes(path, Bytes(data, size));
    MainState state;
    InitStartValues(state, Scratch());
    LoadArchiveList(state);
    const std::vector<std::string> lines = state.ArchiveList.Copy();
    Check(WriteTextLines(path, lines).Ok, "the list written");
    LoadArchiveList(state);
    Check(state.ArchiveList.Copy() == lines, "a written list reads back the same");
}

void FuzzFavorites(const uint8_t* data, size_t size) {
    std::vector<std::string> lines = SplitLines(Bytes(data, size));
    if (lines.size() > 200) lines.resize(200);
    for (std::string& line : lines) {
        line = Cp1251ToUtf8(line);
        const std::optional<FavoriteFields> fields = ParseFavoriteLine(line);
        if (!fields) {
            Check(Utf8Length(line) <= static_cast<size_t>(FavoriteLineLength) - 1,
                  "only short lines are ignored");
            continue;
        }
        const std::string rebuilt = BuildFavoriteLine(
            Utf8Left(line, FavoriteNameLength), std::to_string(fields->ZoomIndex + 1),
            fields->LatHemisphere == 1 ? "S" : "N", fields->LatText,
            fields->LonHemisphere == 1 ? "E" : "W", fields->LonText);
        const std::optional<FavoriteFields> again = ParseFavoriteLine(rebuilt);
        Check(again.has_value(), "a rebuilt line is a favourite");
        Check(again->ZoomIndex == fields->ZoomIndex && again->LatHemisphere == fields->LatHemisphere &&
                  again->LonHemisphere == fields->LonHemisphere &&
                  again->LatText == fields->LatText && again->LonText == fields->LonText,
              "a favourite survives being written as a line");
        ParseCoordinate(fields->LatText, CoordKind::Latitude,
                        HemisphereFromIndex(CoordKind::Latitude, fields->LatHemisphere));
        ParseCoordinate(fields->LonText, CoordKind::Longitude,
                        HemisphereFromIndex(CoordKind::Longitude, fields->LonHemisphere));
    }
}

void FuzzCoordinateText(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const CoordKind kind = (data[0] & 1) ? CoordKind::Latitude : CoordKind::Longitude;
    const Hemisphere hemisphere = HemisphereFromIndex(kind, (data[0] >> 1) & 1);
    const std::string text(Bytes(data + 1, size - 1));  // any bytes, UTF-8 or not
    const ParsedCoordinate parsed = ParseCoordinate(text, kind, hemisphere);
    if (parsed.Valid()) {
        const EntryCoordinate entry = FormatEntryCoordinate(parsed.Value, kind);
        const ParsedCoordinate back = ParseCoordinate(entry.Text, kind, entry.Hemi);
        Check(back.Status != ParseStatus::NotANumber, "an entry text is a number");
        Check(std::fabs(back.Value - parsed.Value) <= 0.0005 / 60 + 1e-9,
              "an entry text reads back close to its value");
        FormatStatusCoordinate(parsed.Value, kind);
    }
    const int length = static_cast<int>(Utf8Length(text));
    for (size_t i = 1; i < size && i < 64; ++i)
        FilterCoordinateKey(text, static_cast<int>(i) % (length + 1), data[i], kind);
    if (size >= 9) {
        double value = 0;
        std::memcpy(&value, data + 1, sizeof value);
        FormatStatusCoordinate(value, kind);
        FormatEntryCoordinate(value, kind);
        FormatMinutes(value);
    }
}

void FuzzCodecAndNumbers(const uint8_t* data, size_t size) {
    const std::string_view bytes = Bytes(data, size);
    const std::string utf8 = Cp1251ToUtf8(bytes);
    Check(Utf8ToCp1251(utf8) == bytes, "Windows-1251 bytes survive a round trip");
    Check(Cp1251Unencodable(utf8).empty(), "text read from Windows-1251 can be written");
    // The same bytes taken for UTF-8, valid or not.
    Cp1251Unencodable(bytes);
    Utf8ToCp1251(bytes);
    Utf8Left(bytes, size / 2);
    Check(Utf8Offset(bytes, Utf8Length(bytes)) == bytes.size(), "the length ends the text");

    double real = 0;
    if (ParseReal(utf8, real)) {
        double back = 0;
        Check(ParseReal(FormatGeneral(real), back), "a formatted real reads back");
        Check(back == real || std::fabs(back - real) <= std::fabs(real) * 1e-14,
              "a formatted real keeps 15 digits");
    }
    int integer = 0;
    if (ParseInt(utf8, integer)) {
        int back = 0;
        Check(ParseInt(std::to_string(integer), back) && back == integer, "an integer reads back");
    }
    if (size >= 9) {
        double value = 0;
        std::memcpy(&value, data, sizeof value);
        const int decimals = data[8] % 12;
        const std::string fixed = FormatFixed(value, decimals);
        FormatNumber(value, data[8] % 17, decimals);
        const std::string general = FormatGeneral(value);
        if (std::isnormal(value) && std::fabs(value) < 1e300 && std::fabs(value) > 1e-300) {
            double back = 0;
            Check(ParseReal(general, back), "the general format reads back");
            Check(std::fabs(back - value) <= std::fabs(value) * 1e-14, "15 digits kept");
            Check(ParseReal(fixed, back), "the fixed format reads back");
            Check(std::fabs(back - value) <= 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9) +
                                                 std::fabs(value) * 1e-15,
                  "the fixed format rounds to its decimals");
        }
    }
}

void FuzzJpegTile(const uint8_t* data, size_t size) {
    const std::string_view bytes = Bytes(data, size);
    Bitmap strict, tolerant;
    const bool clean = DecodeJpeg(bytes, strict);
    const bool accepted = DecodeJpeg(bytes, tolerant, CutShort::Accept);
    Check(!clean || accepted, "what decodes cleanly decodes when cut short is accepted");
    if (clean)
        Check(strict.Width() == tolerant.Width() && strict.Height() == tolerant.Height(),
              "both modes give the same size");
    JpegImage image;
    Check(image.Decode(std::string(bytes)) == clean, "the image decodes as the function does");
    Check(CheckTileJpeg(image) == (clean && TileDataComplete(bytes)),
          "a tile is a clean picture with complete bytes");
}

void FuzzZipLookup(const uint8_t* data, size_t size) {
    const std::string path = Scratch() + "tiles.zip";
    WriteBytes(path, Bytes(data, size));
    for (const char* tile : {"rtt", "q"}) {
        std::string found[2];
        for (int kept = 0; kept < 2; ++kept) {
            SetArchiveDirectoryCaching(kept == 1);
            ClearArchiveDirectories();
            std::string& buffer = found[kept];
            buffer = "left over";
            const bool hit = FindInArchives(std::vector<std::string>{path, path}, tile, buffer);
            Check(hit || buffer.empty(), "a miss leaves the buffer empty");
            Check(buffer.size() <= MaxArchiveEntryBytes, "entries stay within the limit");
        }
        Check(found[0] == found[1], "kept directories find what a fresh open finds");
    }
    SetArchiveDirectoryCaching(true);
    ClearArchiveDirectories();
}

void FuzzHttpAnswer(const uint8_t* data, size_t size) {
    static HttpScriptServer server;
    static const bool quick = [] {
        FetchOptions options;
        options.ConnectTimeoutMs = 2000;
        options.StallSeconds = 2;
        options.MaxBodyBytes = 1u << 20;
        SetFetchOptions(options);
        return true;
    }();
    (void)quick;
    server.Push(ScriptedAnswer::Raw(std::string(Bytes(data, size))));
    MainState state;
    InitStartValues(state, Scratch());
    const std::string source = server.Url("/kh?v=9&n=404&t=t");
    SetSourceString(state, source);
    SetCachePath(state, Scratch());
    state.GenerateUpperLayers = false;
    jtype tile;
    tile.TileName = "q";
    tile.Url = source + "q";
    tile.FileName = Scratch() + "q.jpg";
    std::string status;
    const RequestOutcome outcome = RequestTile(state, tile, false, status);
    if (Succeeded(outcome)) Check(tile.Image->Decoded(), "a good answer holds a picture");
    if (outcome == RequestOutcome::Stored) {
        std::string stored;
        Check(ReadWholeFile(tile.FileName, stored) && stored == tile.Image->Data(),
              "the answer is stored unchanged");
    }
    if (outcome != RequestOutcome::RequestFailed)
        Check(state.ReceivedBytes >= 0, "received bytes are counted");
    if (FileExists(tile.FileName)) RemoveFile(tile.FileName);
}

void FuzzRegionFile(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (auto reader : {ReadGeoJson, ReadKml, ReadGpx, ReadKmz}) {
        const RegionFileResult r = reader(bytes, QStringLiteral("f"), {});
        Check(r.Ok() != r.Shape.Empty(), "a shape exactly when the read succeeds");
        Check(r.Ok() == r.Message.isEmpty(), "a message exactly when the read fails");
        auto inWorld = [](const GeoPath& path) {
            for (const ShapePoint& p : path)
                if (!(std::abs(p.Lon) <= 180 && std::abs(p.Lat) <= 90)) return false;
            return true;
        };
        for (const GeoPolygon& p : r.Shape.Polygons)
            Check(inWorld(p.Outer), "polygon in the world");
        for (const GeoPath& l : r.Shape.Lines) Check(inWorld(l), "line in the world");
        const long long count = CountShapeTiles(r.Shape, 6);
        ShapeTileCursor cursor(r.Shape, 6);
        TileIndex tile;
        long long walked = 0;
        while (cursor.Next(tile)) ++walked;
        Check(count == walked, "the count agrees with the walk");
    }
}

const std::vector<FuzzTarget>& FuzzTargets() {
    static const std::vector<FuzzTarget> targets = {
        {"settings_file", FuzzSettingsFile},   {"archive_list", FuzzArchiveList},
        {"favorites", FuzzFavorites},          {"coordinate_text", FuzzCoordinateText},
        {"codec_numbers", FuzzCodecAndNumbers}, {"jpeg_tile", FuzzJpegTile},
        {"zip_lookup", FuzzZipLookup},         {"http_answer", FuzzHttpAnswer},
        {"region_file", FuzzRegionFile},
    };
    return targets;
}
