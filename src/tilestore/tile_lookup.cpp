#include "tilestore/tile_lookup.h"

#include "geo/tile_key.h"
#include "platform/file_io.h"
#include "tilestore/archive_sources.h"
#include "tilestore/file_identity.h"
#include "tilestore/parent_tiles.h"

bool TileDataComplete(std::string_view data) {
    return data.size() >= MinTileBytes &&
           static_cast<unsigned char>(data[data.size() - 2]) == 0xFF &&
           static_cast<unsigned char>(data[data.size() - 1]) == 0xD9;
}

bool CheckTileJpeg(JpegImage& image) {
    if (!image.Decoded() && (image.Data().empty() || !image.Decode(image.Data()))) return false;
    return TileDataComplete(image.Data());
}

void MakePlaceholderTile(JpegImage& image, std::string_view caption, std::string_view tileName) {
    Bitmap picture(256, 256);
    picture.Fill({192, 192, 192});
    picture.DrawTextCentered(caption, 128, 108);
    std::string name;
    name.reserve(tileName.size() + 2);
    name.append("-").append(tileName).append("-");
    picture.DrawTextCentered(name, 128, 148);
    image.Assign(picture);
}

CachedTile ReadCachedTile(const std::string& fileName, JpegImage& image) {
    std::string bytes;
    FileIdentity identity;
    switch (ReadFileWithIdentity(fileName, bytes, identity)) {
        case FileRead::Missing:
            return CachedTile::Missing;
        case FileRead::Failed:
            // Unreadable, or not a plain file: nothing we could ever show.
            image.Clear();
            if (FileExists(fileName)) RemoveFile(fileName);
            return CachedTile::Broken;
        case FileRead::Ok:
            break;
    }
    // A file cut short is an interrupted download: it decodes, as it always
    // has with libjpeg, and fails the completeness rule below.
    if (!image.Decode(std::move(bytes), CutShort::Accept)) {
        RemoveIfSame(fileName, identity);
        return CachedTile::Broken;
    }
    if (!TileDataComplete(image.Data())) {
        RemoveIfSame(fileName, identity);
        return CachedTile::Incomplete;
    }
    return CachedTile::Valid;
}

bool ReadArchiveTile(const MainState& state, const std::string& tileName, JpegImage& image) {
    std::string buffer;
    if (!FindInArchives(state, tileName, buffer)) return false;
    return image.Decode(std::move(buffer));
}

namespace {

void CountBadFile(MainState& state) {
    ++state.TotalBadFileErrors;
    state.Sink->ShowErrorCounts();
}

}  // namespace

bool LoadTile(MainState& state, jtype& tile) {
    state.Sink->ShowErrorCounts();
    const bool internetOnly = state.ModeInternetOnly;
    bool found = false;
    if (!internetOnly) {
        const CachedTile cached = ReadCachedTile(tile.FileName, *tile.Image);
        if (cached == CachedTile::Broken) {
            CountBadFile(state);
            return false;
        }
        if (cached == CachedTile::Incomplete) CountBadFile(state);
        found = cached == CachedTile::Valid;
        if (cached != CachedTile::Missing && state.GenerateUpperLayers)
            BuildParentTile(state, tile.FileName);
    }
    if (state.UseArchives && !found && !internetOnly) {
        found = ReadArchiveTile(state, tile.TileName, *tile.Image);
        if (state.GenerateUpperLayers) BuildParentTile(state, tile.FileName);
    }
    if (found && !internetOnly) return true;
    if (state.ModeCacheOnly) {
        MakePlaceholderTile(*tile.Image, CaptionNotInCache, tile.TileName);
    } else if (state.Rendering) {
        MakePlaceholderTile(*tile.Image, CaptionAwaitingDownload, tile.TileName);
        tile.Pending = 1;
    }
    return true;
}

void LoadViewTile(MainState& state, const std::string& key, jtype& tile) {
    state.Sink->ProcessMessages();
    const std::string source = state.SourceStringCopy();
    tile.TileName = TileName(key, source.size());
    tile.Url = TileUrl(source, tile.TileName);
    tile.FileName = TileFileName(state.CachePathCopy(), tile.TileName);
    tile.Pending = 0;
    if (!LoadTile(state, tile)) MakePlaceholderTile(*tile.Image, CaptionLoadFailed, tile.TileName);
    state.Sink->ProcessMessages();
}
