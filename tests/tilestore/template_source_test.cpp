#include <gtest/gtest.h>

#include "store_fixture.h"

namespace {

TEST_F(StoreTest, ATemplateChangesTheRequestUrlOnlyNotTheKeyOrTheCacheFile) {
    const std::string source = "https://tiles.example/{z}/{x}/{y}.jpg";
    SetSourceString(State, source);
    State.Rendering = true;
    ASSERT_TRUE(Cache.WriteFile("rts.jpg", MakeTileJpeg(256, 256, 8)));
    jtype tile;
    LoadViewTile(State, source + "rts", tile);
    EXPECT_EQ(tile.TileName, "rts");
    EXPECT_EQ(tile.FileName, Cache.Path() + "rts.jpg");
    EXPECT_EQ(tile.Url, "https://tiles.example/3/5/3.jpg");
    EXPECT_EQ(tile.Pending, 0);  // found in the cache under its letters

    LoadViewTile(State, source + "qqqq", tile);
    EXPECT_EQ(tile.Url, "https://tiles.example/4/0/0.jpg");
    EXPECT_EQ(tile.Pending, 1);
}

}  // namespace
