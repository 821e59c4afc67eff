#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "platform/file_io.h"
#include "store_fixture.h"
#include "tilestore/parent_tiles.h"
#include "zip_fixture.h"

namespace {

// The cache folder and the archives used by the GUI thread and workers at
// once: readers, writers, deleters and parent builders on the same files,
// lookups in archives that are replaced under them. Every read sees a whole
// file or none; nothing crashes; the sanitizer builds see no race.
TEST_F(StoreTest, SharedCacheFolderAndArchives) {
    State.ReplaceUpperLayers = true;
    const char* letters[] = {"rtq", "rtr", "rts", "rtt"};
    std::vector<std::string> tiles;
    for (uint32_t seed = 0; seed < 3; ++seed) tiles.push_back(MakeTileJpeg(256, 256, 100 + seed));
    const std::string incomplete = PadJpegToSize(MakeSolidJpeg(64, 64, 1, 2, 3), 1700);
    for (const char* l : letters) ASSERT_TRUE(WriteFileAtomic(TileFile(l), tiles[0]));

    const std::string first = MakeTileJpeg(256, 256, 200),
                      second[2] = {MakeTileJpeg(256, 256, 201), MakeTileJpeg(256, 256, 202)};
    ASSERT_TRUE(WriteZip(Archives.File("one.zip"), {{"rtt.jpg", first}, {"other.jpg", "x"}}));
    ASSERT_TRUE(WriteZip(Archives.File("two.zip"), {{"rtq.jpg", second[0]}}));
    ASSERT_TRUE(
        WriteZip(Archives.File("two-b.zip"), {{"a.jpg", "a"}, {"RTQ.JPG", second[1], false}}));
    UseArchives({"one.zip", "two.zip"});

    const std::set<std::string> knownTiles(tiles.begin(), tiles.end());
    std::atomic<int> broken{0}, unknown{0}, archiveMisses{0}, archiveWrong{0}, parentsSeen{0};
    std::atomic<bool> stop{false};
    constexpr int Rounds = 60;

    auto reader = [&] {
        JpegImage image;
        for (int round = 0; round < Rounds; ++round)
            for (const char* l : letters) {
                switch (ReadCachedTile(TileFile(l), image)) {
                    case CachedTile::Broken:
                        ++broken;
                        break;
                    case CachedTile::Valid:
                        if (!knownTiles.count(image.Data())) ++unknown;
                        break;
                    default:
                        break;
                }
            }
    };
    auto writer = [&] {
        for (int round = 0; round < Rounds; ++round) {
            const char* l = letters[round % 4];
            if (round % 7 == 3) {
                RemoveFile(TileFile(l));
            } else if (round % 11 == 5) {
                WriteFileAtomic(TileFile(l), incomplete);
            } else {
                WriteFileAtomic(TileFile(l), tiles[round % tiles.size()]);
            }
        }
    };
    auto builder = [&] {
        for (int round = 0; round < Rounds / 2; ++round) BuildParentTile(State, TileFile("rtq"));
    };
    auto parentReader = [&] {
        JpegImage image;
        while (!stop) {
            const CachedTile got = ReadCachedTile(TileFile("rt"), image);
            if (got == CachedTile::Broken || got == CachedTile::Incomplete) ++broken;
            if (got == CachedTile::Valid) ++parentsSeen;
            std::this_thread::yield();
        }
    };
    auto archiveLooker = [&] {
        std::string buffer;
        JpegImage image;
        for (int round = 0; round < Rounds * 2; ++round) {
            if (!FindInArchives(State, "rtt", buffer))
                ++archiveMisses;
            else if (buffer != first)
                ++archiveWrong;
            if (FindInArchives(State, "rtq", buffer) && buffer != second[0] && buffer != second[1])
                ++archiveWrong;
            if (!ReadArchiveTile(State, "rtt", image)) ++archiveMisses;
        }
    };
    auto archiveChanger = [&] {
        for (int round = 0; round < Rounds / 2; ++round) {
            // Replaced whole, as a user copying a new archive in would.
            const std::string from = round % 2 ? "two-b.zip" : "two.zip";
            const std::string copy = Archives.ReadFile(from);
            WriteFileAtomic(Archives.File("two.zip"), copy);
            if (round % 5 == 0) ClearArchiveDirectories();
            // The settings dialog replaces the list while lookups walk it.
            UseArchives(round % 3 ? std::vector<std::string>{"one.zip", "two.zip"}
                                  : std::vector<std::string>{"", "gone.zip", "one.zip", "two.zip"});
        }
    };

    std::vector<std::thread> threads;
    threads.emplace_back(reader);
    threads.emplace_back(reader);
    threads.emplace_back(writer);
    threads.emplace_back(builder);
    threads.emplace_back(builder);
    threads.emplace_back(archiveLooker);
    threads.emplace_back(archiveLooker);
    threads.emplace_back(archiveChanger);
    std::thread watcher(parentReader);
    for (auto& t : threads) t.join();
    stop = true;
    watcher.join();

    EXPECT_EQ(broken.load(), 0);
    EXPECT_EQ(unknown.load(), 0);
    EXPECT_EQ(archiveMisses.load(), 0);
    EXPECT_EQ(archiveWrong.load(), 0);

    // Quiet again: a build from four good children gives a good parent.
    for (const char* l : letters) ASSERT_TRUE(WriteFileAtomic(TileFile(l), tiles[1]));
    BuildParentTile(State, TileFile("rtq"));
    JpegImage parent;
    EXPECT_EQ(ReadCachedTile(TileFile("rt"), parent), CachedTile::Valid);
    // No temporary files were left behind by the writers.
    for (const auto& e : std::filesystem::directory_iterator(Cache.Path()))
        EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
}

}  // namespace
