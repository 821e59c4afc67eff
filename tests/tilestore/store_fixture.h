// A cache folder, an archive folder and the main window's state wired to
// them, for the tile store's tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "core/main_state.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tilestore/archive_sources.h"
#include "tilestore/tile_lookup.h"

class RecordingSink : public UiSink {
public:
    void ShowErrorCounts() override { ++ErrorCountCalls; }
    void ProcessMessages() override { ++MessageCalls; }
    int ErrorCountCalls = 0;
    int MessageCalls = 0;
};

class StoreTest : public ::testing::Test {
protected:
    static constexpr const char* Source = "http://127.0.0.1:1/kh?v=9&n=404&t=t";

    StoreTest() {
        SetSourceString(State, Source);
        SetCachePath(State, Cache.Path());
        SetWorkMode(State, 2);
        State.GenerateUpperLayers = false;
        State.ReplaceUpperLayers = false;
        State.UseArchives = false;
        State.Sink = &Sink;
        ClearArchiveDirectories();
    }

    std::string TileFile(const std::string& letters) const { return Cache.File(letters + ".jpg"); }

    // A record ready for LoadTile, as LoadViewTile would fill it.
    jtype Record(const std::string& letters) const {
        jtype tile;
        tile.TileName = letters;
        tile.Url = std::string(Source) + letters;
        tile.FileName = TileFile(letters);
        return tile;
    }

    void UseArchives(const std::vector<std::string>& names) {
        std::vector<std::string> paths;
        for (const auto& n : names) paths.push_back(n.empty() ? std::string() : Archives.File(n));
        State.ArchiveList.Replace(paths);
        State.UseArchives = true;
    }

    static Bitmap Placeholder(std::string_view caption, std::string_view letters) {
        JpegImage image;
        MakePlaceholderTile(image, caption, letters);
        return image.Picture();
    }

    static bool SamePicture(const Bitmap& a, const Bitmap& b) { return a.Image() == b.Image(); }

    TempDir Cache, Archives;
    MainState State;
    RecordingSink Sink;
};
