#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/bitmap.h"
#include "platform/file_io.h"
#include "platform/numbers.h"
#include "platform/text_codec.h"
#include "platform/time_text.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

TEST(TextCodec, Cp1251RoundTripAndReplacement) {
    const std::string utf8 = "Прокси-пользователь Ёё №°";
    std::string bytes = Utf8ToCp1251(utf8);
    EXPECT_EQ(bytes.size(), Utf8Length(utf8));
    EXPECT_EQ(static_cast<unsigned char>(bytes.back()), 176);  // the degree sign
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xCF);     // П
    EXPECT_EQ(Cp1251ToUtf8(bytes), utf8);
    // Characters Windows-1251 lacks become '?', the rest survives.
    EXPECT_EQ(Utf8ToCp1251("a\u4E2Db"), "a?b");
    EXPECT_EQ(Utf8Left("55°45,3'", 3), "55°");
    EXPECT_EQ(Utf8Offset("55°45", 3), 4u);
}

// Every byte of a Windows-1251 file survives a read and a write, the one
// the code page leaves undefined included; a text is checked before it is
// written, so nothing is ever saved changed.
TEST(TextCodec, EveryByteSurvivesAndUnwritableCharactersAreNamed) {
    std::string all;
    for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
    const std::string utf8 = Cp1251ToUtf8(all);
    EXPECT_EQ(utf8.find('?'), all.find('?'));  // only the real question mark
    EXPECT_EQ(Utf8ToCp1251(utf8), all);
    EXPECT_EQ(Cp1251ToUtf8("a\x98z"), "a\u0098z");
    EXPECT_EQ(Utf8ToCp1251("a\u0098z"), "a\x98z");
    EXPECT_EQ(Cp1251Unencodable(utf8), "");

    EXPECT_EQ(Cp1251Unencodable("/tmp/café"), "é");
    EXPECT_EQ(Utf8ToCp1251("/tmp/café"), "/tmp/caf?");
    EXPECT_EQ(Cp1251Unencodable("é中é-中ü"), "é中ü");
    EXPECT_EQ(Cp1251Unencodable("Кэш №1 «ок» €"), "");
    EXPECT_EQ(Cp1251Unencodable("plain ascii"), "");
    EXPECT_EQ(Cp1251Unencodable("emoji \U0001F600"), "\U0001F600");
}

TEST(TextLines, EveryLineEndingAndTheLastLine) {
    using V = std::vector<std::string>;
    EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n\r\nb\r\n"), (V{"a", "", "b"}));
    EXPECT_EQ(SplitLines(""), V{});
    EXPECT_EQ(SplitLines("\n"), V{""});
    EXPECT_EQ(SplitLines("x\r"), V{"x"});
}

TEST(TextLines, WrittenAsCp1251WithCrLf) {
    TempDir dir;
    ASSERT_TRUE(WriteTextLines(dir.File("f.txt"), {"Дача", "", "x"}));
    EXPECT_EQ(dir.ReadFile("f.txt"), "\xC4\xE0\xF7\xE0\r\n\r\nx\r\n");
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadTextLines(dir.File("f.txt"), lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"Дача", "", "x"}));
    EXPECT_FALSE(ReadTextLines(dir.File("missing.txt"), lines));
}

// Only the whole lines within the bound are read; a file far larger costs
// no more than the bound.
TEST(TextLines, ReadUpToTheirBound) {
    struct Case {
        const char* Bytes;
        std::size_t Bound;
        std::vector<std::string> Lines;
    };
    const Case cases[] = {
        {"ab\r\ncd\r\nef\r\n", 100, {"ab", "cd", "ef"}},
        {"ab\r\ncd\r\nef\r\n", 12, {"ab", "cd", "ef"}},  // exactly the file
        {"ab\r\ncd\r\nef\r\n", 11, {"ab", "cd", "ef"}},  // only the last LF cut
        {"ab\r\ncd\r\nef\r\n", 9, {"ab", "cd"}},         // "e" cut: no line
        {"ab\r\ncd\r\nef\r\n", 5, {"ab"}},
        {"abcdef\r\n", 3, {}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        ASSERT_TRUE(dir.WriteFile("f.txt", c.Bytes));
        std::vector<std::string> lines;
        ASSERT_TRUE(ReadTextLines(dir.File("f.txt"), lines, c.Bound));
        EXPECT_EQ(lines, c.Lines) << c.Bound;
    }
    // A file far past the bound, sparse on disk, yields only what the bound holds.
    const std::string huge = dir.File("huge.txt");
    ASSERT_TRUE(dir.WriteFile("huge.txt", "first\r\nsecond\r\n"));
    ASSERT_EQ(truncate(huge.c_str(), 64 << 20), 0);
    std::vector<std::string> lines;
    ASSERT_TRUE(ReadTextLines(huge, lines));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "first");
    EXPECT_EQ(lines[1], "second");
    std::size_t kept = 0;
    for (const std::string& line : lines) kept += line.size() + 1;
    EXPECT_LE(kept, MaxTextFileBytes);
}

TEST(ReadFile, FolderOrFifoIsNoFileAndNeverBlocks) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("pipe.jpg").c_str(), 0644), 0);
    std::string out = "x";
    EXPECT_FALSE(ReadWholeFile(dir.File("pipe.jpg"), out));  // would block without a writer
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(ReadWholeFile(dir.Path(), out));
    EXPECT_FALSE(FileExists(dir.File("pipe.jpg")));
}

TEST(AtomicWrite, ReplacesWholeAndLeavesNoTemporaries) {
    TempDir dir;
    ASSERT_TRUE(WriteFileAtomic(dir.File("t.jpg"), "first"));
    ASSERT_TRUE(WriteFileAtomic(dir.File("t.jpg"), "second"));
    EXPECT_EQ(dir.ReadFile("t.jpg"), "second");
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path())) (void)e, ++files;
    EXPECT_EQ(files, 1);
}

namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

// A run killed while writing leaves its temporary files; the next write of
// the same file takes them away, and a live writer's is left alone.
TEST(AtomicWrite, TemporariesOfAKilledRunGoWhenTheFileIsWrittenAgain) {
    TempDir dir;
    const std::string target = dir.File("region.jpg");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Two writers of the file at once, and no end to either of them.
        AtomicFileWriter first(target), second(target);
        const bool ok = first.Open() && first.Write("half") && second.Open() && second.Write("h");
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_EQ(FilesIn(dir.Path()).size(), 2u) << "the killed run's temporaries";

    AtomicFileWriter live(target);
    ASSERT_TRUE(live.Open());
    ASSERT_TRUE(live.Write("live"));
    ASSERT_TRUE(WriteFileAtomic(target, "whole"));
    EXPECT_EQ(dir.ReadFile("region.jpg"), "whole");
    EXPECT_EQ(FilesIn(dir.Path()).size(), 2u) << "the target and the live writer's temporary";
    ASSERT_TRUE(live.Commit(false));
    EXPECT_EQ(dir.ReadFile("region.jpg"), "live");
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"region.jpg"});
}

// Names up to the longest a folder takes can be written.
TEST(AtomicWrite, LongestNamesWork) {
    TempDir dir;
    for (const std::size_t length : {200u, 244u, 245u, 249u, 250u, 251u, 255u}) {
        const std::string name = std::string(length - 4, 'n') + ".jpg";
        ASSERT_TRUE(WriteFileAtomic(dir.File(name), "one")) << length;
        ASSERT_TRUE(WriteFileAtomic(dir.File(name), "two")) << length;
        EXPECT_EQ(dir.ReadFile(name), "two") << length;
        EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{name}) << length;
        RemoveFile(dir.File(name));
    }
    // Cut at a whole character when the hash takes the end of the name.
    const std::string cyrillic = [] {
        std::string n;
        while (n.size() < 240) n += "ж";
        return n + ".jpg";
    }();
    ASSERT_TRUE(WriteFileAtomic(dir.File(cyrillic), "x"));
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{cyrillic});
}

TEST(AtomicWrite, FailureKeepsTheOldFile) {
    TempDir dir;
    ASSERT_TRUE(WriteFileAtomic(dir.File("s.ini"), "old"));
    FileResult r;
    {
        FileSizeLimit full(4);
        r = WriteFileAtomic(dir.File("s.ini"), std::string(100, 'x'), true);
    }
    EXPECT_FALSE(r.Ok);
    EXPECT_FALSE(r.Error.empty());
    EXPECT_EQ(dir.ReadFile("s.ini"), "old");
    // Into a folder that does not exist.
    EXPECT_FALSE(WriteFileAtomic(dir.File("no/such/x"), "a").Ok);
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(AtomicWrite, ProtectedFileIsRefusedAndPermissionsAreKept) {
    TempDir dir;
    const std::string locked = dir.File("Favorites.dat");
    ASSERT_TRUE(dir.WriteFile("Favorites.dat", "old"));
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
    const FileResult refused = WriteFileAtomic(locked, "new", true);
    EXPECT_FALSE(refused.Ok);
    EXPECT_NE(refused.Error.find("Favorites.dat"), std::string::npos);
    EXPECT_EQ(dir.ReadFile("Favorites.dat"), "old");
    EXPECT_EQ(ModeOf(locked), 0444u);
    EXPECT_FALSE(WriteTextLines(locked, {"x"}).Ok);

    const std::string own = dir.File("CacheList.dat");
    ASSERT_TRUE(dir.WriteFile("CacheList.dat", "old"));
    ASSERT_EQ(::chmod(own.c_str(), 0600), 0);
    ASSERT_TRUE(WriteFileAtomic(own, "new"));
    EXPECT_EQ(dir.ReadFile("CacheList.dat"), "new");
    EXPECT_EQ(ModeOf(own), 0600u);
    ASSERT_TRUE(WriteFileAtomic(dir.File("fresh.dat"), "x"));
    EXPECT_EQ(ModeOf(dir.File("fresh.dat")), 0644u);
}

TEST(AtomicWrite, SymbolicLinksAreWrittenThrough) {
    TempDir dir;
    ASSERT_TRUE(dir.WriteFile("real/Favorites.dat", "old"));
    ASSERT_EQ(::symlink("real/Favorites.dat", dir.File("relative").c_str()), 0);
    ASSERT_EQ(::symlink(dir.File("relative").c_str(), dir.File("Favorites.dat").c_str()), 0);
    ASSERT_TRUE(WriteFileAtomic(dir.File("Favorites.dat"), "new", true));
    EXPECT_EQ(dir.ReadFile("real/Favorites.dat"), "new");
    struct stat st {};
    ASSERT_EQ(::lstat(dir.File("Favorites.dat").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::lstat(dir.File("relative").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    // A link to a file not made yet makes it; a loop of links is an error.
    ASSERT_EQ(::symlink("later.dat", dir.File("dangling").c_str()), 0);
    ASSERT_TRUE(WriteFileAtomic(dir.File("dangling"), "made"));
    EXPECT_EQ(dir.ReadFile("later.dat"), "made");
    ASSERT_EQ(::symlink("loop2", dir.File("loop1").c_str()), 0);
    ASSERT_EQ(::symlink("loop1", dir.File("loop2").c_str()), 0);
    EXPECT_FALSE(WriteFileAtomic(dir.File("loop1"), "x").Ok);
    ASSERT_EQ(::lstat(dir.File("loop1").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(Numbers, GeneralFormatWithComma) {
    EXPECT_EQ(FormatGeneral(55.7558), "55,7558");
    EXPECT_EQ(FormatGeneral(-37.6176), "-37,6176");
    EXPECT_EQ(FormatGeneral(0.0), "0");
    EXPECT_EQ(FormatGeneral(-0.0), "0");
    EXPECT_EQ(FormatGeneral(1e-5), "1E-5");
    EXPECT_EQ(FormatGeneral(12), "12");
    // Fifteen significant digits survive a round trip of typical values.
    double v = 55.756486265981234;
    double back = 0;
    ASSERT_TRUE(ParseReal(FormatGeneral(v), back));
    EXPECT_NEAR(back, v, 1e-12);
}

TEST(Numbers, ParseRealAcceptsOnlyTheComma) {
    double v = 0;
    EXPECT_TRUE(ParseReal("55,7558", v));
    EXPECT_DOUBLE_EQ(v, 55.7558);
    EXPECT_TRUE(ParseReal(" -0,5 ", v));
    EXPECT_DOUBLE_EQ(v, -0.5);
    EXPECT_TRUE(ParseReal("1E-5", v));
    EXPECT_DOUBLE_EQ(v, 1e-5);
    v = 7;
    for (const char* bad : {"55.7558", "", ",", "abc", "1,2,3", "5e", "--1"}) {
        EXPECT_FALSE(ParseReal(bad, v)) << bad;
    }
    EXPECT_EQ(v, 7);
}

TEST(Numbers, IntegersAndFixedPatterns) {
    int i = 0;
    EXPECT_TRUE(ParseInt("-42", i));
    EXPECT_EQ(i, -42);
    EXPECT_FALSE(ParseInt("80a", i));
    EXPECT_FALSE(ParseInt("99999999999", i));
    EXPECT_EQ(IntOrZero("80a"), 0);
    EXPECT_EQ(IntOrZero("8080"), 8080);
    EXPECT_EQ(FormatFixed(45.3476, 3), "45,348");
    EXPECT_EQ(FormatFixed(1.5, 3), "1,500");
    EXPECT_EQ(FormatFixed(-0.0001, 3), "0,000");
    EXPECT_EQ(FormatNumber(24.0, 7, 3), "24,000");
    EXPECT_EQ(FormatNumber(10299.682617, 7, 3), "10\u00A0299,680");
    EXPECT_EQ(FormatThousands(1234567), "1\u00A0234\u00A0567");
}

// Exact binary ties go away from zero in every formatted number, the
// traffic and size texts as much as the coordinates; a value a hair below a
// tie still goes down.
TEST(Numbers, ExactTiesRoundHalfAwayFromZero) {
    EXPECT_EQ(FormatFixed(0.0625, 3), "0,063");
    EXPECT_EQ(FormatFixed(-0.0625, 3), "-0,063");
    EXPECT_EQ(FormatFixed(std::nextafter(0.0625, 0.0), 3), "0,062");
    EXPECT_EQ(FormatFixed(0.125, 2), "0,13");
    EXPECT_EQ(FormatFixed(2.5, 0), "3");
    EXPECT_EQ(FormatFixed(-2.5, 0), "-3");
    EXPECT_EQ(FormatFixed(99.5, 0), "100");
    EXPECT_EQ(FormatFixed(2047.0 / 2048, 3), "1,000");  // 0,99951...: the carry runs through
    EXPECT_EQ(FormatFixed(-0.0005, 3), "-0,001");       // just above the tie in size
    EXPECT_EQ(FormatFixed(1e300, 2).size(), 301u + 3u);
    EXPECT_EQ(FormatFixed(0x1p-1074, 3), "0,000");
    // Significant digits first, then the decimals, both half away from zero.
    EXPECT_EQ(FormatNumber(0.0625, 7, 3), "0,063");
    EXPECT_EQ(FormatNumber(1234.5625, 7, 3), "1\u00A0234,563");
    EXPECT_EQ(FormatNumber(9999999.5, 7, 3), "10\u00A0000\u00A0000,000");
    EXPECT_EQ(FormatNumber(-0.1875, 7, 3), "-0,188");
    EXPECT_EQ(FormatThousands(-1234567), "-1\u00A0234\u00A0567");
    // 2^-22 has sixteen digits and ends in 5.
    EXPECT_EQ(FormatGeneral(0x1p-22), "2,38418579101563E-7");
    EXPECT_EQ(FormatGeneral(-0x1p-22), "-2,38418579101563E-7");
    EXPECT_EQ(FormatGeneral(0.0001), "0,0001");
    EXPECT_EQ(FormatGeneral(1.5e20), "1,5E20");
    EXPECT_EQ(FormatGeneral(123456789012345.6), "123456789012346");
}

TEST(Numbers, SafeOnManyThreads) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int k = 0; k < 2000; ++k) {
                double v = 0;
                if (FormatGeneral(1.25) != "1,25" || !ParseReal("2,5", v) || v != 2.5) ++wrong;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong, 0);
}

TEST(TimeText, TodayWithoutDate) {
    auto now = std::chrono::system_clock::now();
    std::string t = TimeText(now, now);
    ASSERT_EQ(t.size(), 8u);
    EXPECT_EQ(t[2], ':');
    std::string older = TimeText(now - std::chrono::hours(24 * 3), now);
    EXPECT_EQ(older.size(), 19u);
}

TEST(BitmapTest, DrawClipsHalvesAndCrops) {
    Bitmap src(4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) src.FillRect(x, y, 1, 1, {uint8_t(x * 10), uint8_t(y * 10), 0});
    Bitmap dst(4, 4);
    dst.Fill({1, 2, 3});
    dst.Draw(2, -1, src);  // partly outside
    EXPECT_EQ(dst.Pixel(2, 0), (Rgb{0, 10, 0}));
    EXPECT_EQ(dst.Pixel(3, 2), (Rgb{10, 30, 0}));
    EXPECT_EQ(dst.Pixel(1, 1), (Rgb{1, 2, 3}));
    Bitmap half(2, 2);
    half.DrawHalved(0, 0, src);
    EXPECT_EQ(half.Pixel(1, 1), (Rgb{20, 20, 0}));  // dropped, not averaged
    Bitmap big(6, 6);
    big.Fill({9, 9, 9});
    big.FillRect(1, 1, 4, 4, {5, 5, 5});
    big.CropCentered(4, 4);
    EXPECT_EQ(big.Width(), 4);
    EXPECT_EQ(big.Pixel(0, 0), (Rgb{5, 5, 5}));
}

TEST(BitmapTest, FillReachesEveryPixelOfOddWidths) {
    const struct {
        int W, H;
        Rgb Colour;
    } cases[] = {{5, 3, {255, 255, 255}}, {7, 2, {0, 0, 0}}, {3, 4, {1, 2, 3}}, {1, 1, {9, 9, 9}}};
    for (const auto& c : cases) {
        Bitmap b(c.W, c.H);
        b.FillRect(0, 0, c.W, c.H, {77, 78, 79});
        b.Fill(c.Colour);
        for (int y = 0; y < c.H; ++y)
            for (int x = 0; x < c.W; ++x) EXPECT_EQ(b.Pixel(x, y), c.Colour) << c.W << " " << x;
    }
}

TEST(BitmapTest, TextIsDrawnAroundItsCentre) {
    Bitmap b(256, 256);
    b.Fill({192, 192, 192});
    b.DrawTextCentered("ожидает загрузки...", 128, 108);
    int dark = 0, minX = 256, maxX = 0;
    for (int y = 90; y < 126; ++y)
        for (int x = 0; x < 256; ++x)
            if (b.Pixel(x, y).R < 100) ++dark, minX = std::min(minX, x), maxX = std::max(maxX, x);
    EXPECT_GT(dark, 50);
    EXPECT_NEAR((minX + maxX) / 2.0, 128, 6);
}
