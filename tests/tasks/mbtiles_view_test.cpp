#include <gtest/gtest.h>

#include <map>

#include "core/main_state.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"
#include "tasks/cache_export.h"
#include "tilestore/jpeg_image.h"
#include "tilestore/mbtiles_source.h"
#include "view/map_view.h"

namespace {

// A file exported here, listed as a cache source, shows its tiles in the view
// of an empty cache.
TEST(MBTilesView, AnExportedFileListedAsASourceIsDrawn) {
    TempDir cache, other;
    std::map<std::string, std::string> bytes;
    for (uint32_t i = 0; i < 4; ++i) {
        const std::string name(1, "qrst"[i]);
        bytes[name] = MakeTileJpeg(256, 256, i + 1);
        ASSERT_TRUE(cache.WriteFile(name + ".jpg", bytes[name]));
    }
    CacheExportRequest q;
    q.Target = ExportTarget::MBTiles;
    q.File = other.File("world.mbtiles");
    q.CachePath = cache.Path();
    q.Zoom = 1;
    q.Lat1 = 80, q.Lon1 = 170, q.Lat2 = -80, q.Lon2 = -170;
    const CacheExportResult exported = ExportCache(q);
    ASSERT_EQ(exported.Copied, 4) << exported.Error;

    MainState state;
    InitStartValues(state, other.Path());
    SetCachePath(state, other.Path() + "empty/");
    SetWorkMode(state, 0);  // cache only: nothing to fetch
    state.GenerateUpperLayers = false;
    state.UseArchives = true;
    state.ArchiveList.Replace({other.File("missing.zip"), q.File});
    int workers = 0;
    ViewHooks hooks;
    hooks.Repaint = [] {};
    hooks.EnableControls = [](bool) {};
    hooks.SetBusyCursor = [](bool) {};
    hooks.StartViewLoader = [&](std::unique_ptr<jtype>) { ++workers; };
    MapView view(state, std::move(hooks));
    state.Zoom = 1;
    state.CenterLat = 0;
    state.CenterLon = 0;
    state.ViewBitmap.SetSize(708, 401);
    view.RefreshView();
    EXPECT_EQ(workers, 0);

    const std::map<std::string, std::pair<int, int>> corners = {
        {"q", {98, -56}}, {"r", {354, -56}}, {"s", {354, 200}}, {"t", {98, 200}}};
    for (const auto& [name, at] : corners) {
        JpegImage tile;
        ASSERT_TRUE(tile.Decode(bytes[name]));
        int mismatches = 0;
        for (int ty = 0; ty < 256; ty += 5)
            for (int tx = 0; tx < 256; tx += 5) {
                const int x = at.first + tx, y = at.second + ty;
                if (y >= 0 && y < 401 &&
                    !(state.ViewBitmap.Pixel(x, y) == tile.Picture().Pixel(tx, ty)))
                    ++mismatches;
            }
        EXPECT_EQ(mismatches, 0) << name;
    }
    CloseMBTilesSources();
}

}  // namespace
