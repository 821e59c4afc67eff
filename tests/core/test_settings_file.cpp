#include <gtest/gtest.h>
#include <filesystem>

#include "core/app_core.h"
#include "core/settings_file.h"
#include "platform/file_io.h"
#include "platform/text_codec.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"


namespace {

// A state that differs from the start values in every line that is read.
void FillNonDefault(MainState& s) {
    SetSourceString(s, "https://tiles.example/kh?v=44&t=t");
    SetWorkMode(s, 1);
    s.ShowTimerDialog = true;
    s.UseProxy = true;
    s.ProxyHost = "proxy.local";
    s.ProxyPort = "3128";
    s.ProxyUser = "Пользователь";
    s.ProxyPassword = "секрет";
    s.ScbIndex = 1;
    s.DcbIndex = 0;
    s.FcbIndex = 12;
    s.ComboBox3Index = 4;
    s.ComboBox2Index = 15;
    s.FetchAttempts = 7;
    s.MaxWriteErrors = 9;
    s.MaxFetchErrors = 42;
    s.MaxBadFileErrors = 150;
    s.CustomCachePath = "/data/Тайлы";
    s.UseCustomCachePath = true;
    s.RetryInterval = 12;
    s.CenterLat = 55.7558;
    s.CenterLon = -37.6176;
    s.Zoom = 13;
    s.ErrorControl = false;
    s.ToolWindow1 = {5, 1, 300, 400, true, false, 1};
    s.ToolWindow2 = {7, 0, 120, 130, true, true, 3};
    s.ToolWindow3 = {0, 2, 10, 20, true, false, 2};
    s.SearchPanelVisible = true;
    s.TaskPanelVisible = true;
    s.WindowHeight = 700;
    s.WindowWidth = 900;
    s.WindowTop = 33;
    s.WindowLeft = 44;
    s.GenerateUpperLayers = false;
    s.ReplaceUpperLayers = true;
    s.UseArchives = true;
    s.ShowLogAuto = false;
    s.WriteMapInfoTab = true;
    s.WriteOziMap = false;
    s.WheelZoom = false;
}

struct Fixture {
    TempDir Dir;
    MainState State;
    Fixture() { InitStartValues(State, Dir.Path()); }
    std::string Ini() const { return Dir.File(SettingsFileName); }
    bool Load(ScreenSize screen = {4000, 4000}) { return LoadSettings(State, Ini(), screen); }
    std::vector<std::string> FullLines() {
        MainState other;
        InitStartValues(other, Dir.Path());
        FillNonDefault(other);
        return SettingsLines(other);
    }
    void Write(const std::vector<std::string>& lines) { ASSERT_TRUE(WriteTextLines(Ini(), lines)); }
};

void ExpectStartValues(const MainState& s, const std::string& folder) {
    EXPECT_EQ(s.SourceString, DefaultSourceString);
    EXPECT_EQ(s.SourceLength, static_cast<int>(std::string(DefaultSourceString).size()));
    EXPECT_TRUE(s.ModeCacheAndInternet);
    EXPECT_FALSE(s.ModeCacheOnly);
    EXPECT_FALSE(s.ModeInternetOnly);
    EXPECT_EQ(s.Zoom, 1);
    EXPECT_EQ(s.CenterLat, 0);
    EXPECT_EQ(s.CenterLon, 0);
    EXPECT_TRUE(s.ErrorControl);
    EXPECT_EQ(s.FetchAttempts, 3);
    EXPECT_EQ(s.RetryInterval, 1);
    EXPECT_EQ(s.MaxWriteErrors, 3);
    EXPECT_EQ(s.MaxFetchErrors, 3);
    EXPECT_EQ(s.MaxBadFileErrors, 25);
    EXPECT_TRUE(s.GenerateUpperLayers);
    EXPECT_TRUE(s.WriteOziMap);
    EXPECT_FALSE(s.WriteMapInfoTab);
    EXPECT_TRUE(s.WheelZoom);
    EXPECT_EQ(s.CachePath, folder + "Cache/");
    EXPECT_FALSE(s.FirstShowPending);
}

}  // namespace

TEST(Settings, NoFileKeepsStartValues) {
    Fixture f;
    EXPECT_FALSE(f.Load());
    ExpectStartValues(f.State, f.Dir.Path());
}

TEST(Settings, WriteThenReadGivesTheSameState) {
    Fixture f;
    FillNonDefault(f.State);
    ASSERT_TRUE(SaveSettings(f.State, f.Ini()));
    std::string bytes = f.Dir.ReadFile(SettingsFileName);
    auto lines = SplitLines(bytes);
    ASSERT_EQ(lines.size(), 65u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    EXPECT_EQ(lines[26], "55,7558");
    EXPECT_EQ(lines[27], "-37,6176");
    EXPECT_EQ(lines[13], "-");
    EXPECT_EQ(lines[44], "-");  // the floating search panel has no dock
    EXPECT_EQ(lines[64], "C");
    // The Cyrillic proxy user is stored as Windows-1251 bytes.
    EXPECT_EQ(lines[8], "\xCF\xEE\xEB\xFC\xE7\xEE\xE2\xE0\xF2\xE5\xEB\xFC");

    Fixture g;
    g.Dir.WriteFile(SettingsFileName, bytes);
    EXPECT_TRUE(g.Load());
    EXPECT_EQ(SettingsLines(g.State), SettingsLines(f.State));
    EXPECT_EQ(g.State.ProxyUser, "Пользователь");
    EXPECT_EQ(g.State.CachePath, "/data/Тайлы/");
    EXPECT_EQ(g.State.ModeButtonImage, 1);
    EXPECT_TRUE(g.State.FirstShowPending);
    EXPECT_TRUE(g.State.WindowLeftRead && g.State.WindowTopRead);
}

TEST(Settings, SourceLengthIsRecomputedFromLineZero) {
    Fixture f;
    auto lines = f.FullLines();
    lines[0] = "http://хост/kh?t=t";
    lines[10] = "999";
    f.Write(lines);
    EXPECT_TRUE(f.Load());
    EXPECT_EQ(f.State.SourceLength, 18);
}

TEST(Settings, ShortFileStopsAndResetsTheSource) {
    Fixture f;
    auto lines = f.FullLines();
    lines.resize(54);  // indexes 0..53
    f.Write(lines);
    EXPECT_FALSE(f.Load());
    const MainState& s = f.State;
    EXPECT_EQ(s.SourceString, DefaultSourceString);  // line 0 was read, then reset
    EXPECT_TRUE(s.ModeInternetOnly);                   // lines 1-9 stay
    EXPECT_EQ(s.ProxyHost, "proxy.local");
    EXPECT_EQ(s.FcbIndex, 12);                         // 11, 12, 14 stay
    EXPECT_EQ(s.WindowHeight, 700);                    // 53 stays
    EXPECT_EQ(s.WindowWidth, 734);                     // 54 missing
    EXPECT_TRUE(s.WindowHeightRead);
    EXPECT_FALSE(s.WindowWidthRead);
    EXPECT_EQ(s.ComboBox3Index, 7);                    // 17 comes after 54
    EXPECT_EQ(s.FetchAttempts, 3);
    EXPECT_EQ(s.Zoom, 1);
    EXPECT_FALSE(s.FirstShowPending);
}

TEST(Settings, PointInLatitudeStopsTheReading) {
    Fixture f;
    auto lines = f.FullLines();
    lines[26] = "55.7558";
    f.Write(lines);
    EXPECT_FALSE(f.Load());
    EXPECT_EQ(f.State.CenterLat, 0);
    EXPECT_EQ(f.State.CenterLon, 0);
    EXPECT_EQ(f.State.Zoom, 1);
    EXPECT_TRUE(f.State.WheelZoom);
    EXPECT_EQ(f.State.RetryInterval, 12);  // line 25 came before
    EXPECT_EQ(f.State.SourceString, DefaultSourceString);
}

TEST(Settings, IntegerFallbacksAndReadingGoesOn) {
    Fixture f;
    auto lines = f.FullLines();
    lines[28] = "тринадцать";
    lines[14] = "";
    lines[17] = "x";
    lines[57] = "1.5";
    lines[22] = "abc";
    lines[53] = "";
    f.Write(lines);
    EXPECT_TRUE(f.Load());
    EXPECT_EQ(f.State.Zoom, 1);
    EXPECT_EQ(f.State.FcbIndex, 1);
    EXPECT_EQ(f.State.ComboBox3Index, 7);
    EXPECT_EQ(f.State.ComboBox2Index, 7);
    EXPECT_EQ(f.State.MaxBadFileErrors, 25);
    EXPECT_EQ(f.State.WindowHeight, 480);
    EXPECT_FALSE(f.State.WheelZoom);  // the last line was still read
}

TEST(Settings, FlagsMatchTheirMarkerExactly) {
    struct Case {
        const char *l1, *l2, *l3;
        bool c, i, ci;
        int image;
    };
    const Case cases[] = {
        {"C", "-", "-", false, false, false, 2},  // upper case is off; none marked
        {"c", "i", "ci", true, true, true, 2},    // several: the last one read shows
        {"c", "i", "", true, true, false, 1},
        {"c", "", "", true, false, false, 0},
    };
    for (const Case& c : cases) {
        Fixture f;
        auto lines = f.FullLines();
        lines[1] = c.l1;
        lines[2] = c.l2;
        lines[3] = c.l3;
        lines[64] = "s";
        f.Write(lines);
        EXPECT_TRUE(f.Load());
        EXPECT_EQ(f.State.ModeCacheOnly, c.c) << c.l1 << c.l2 << c.l3;
        EXPECT_EQ(f.State.ModeInternetOnly, c.i);
        EXPECT_EQ(f.State.ModeCacheAndInternet, c.ci);
        EXPECT_EQ(f.State.ModeButtonImage, c.image);
        EXPECT_FALSE(f.State.WheelZoom);
    }
}

TEST(Settings, CustomCacheFolderRule) {
    Fixture f;
    auto lines = f.FullLines();
    lines[23] = "/mnt/tiles/";
    lines[24] = "c";
    f.Write(lines);
    EXPECT_TRUE(f.Load());
    EXPECT_EQ(f.State.CachePath, "/mnt/tiles//");  // appended without a check
    lines[24] = "-";
    f.Write(lines);
    EXPECT_TRUE(f.Load());
    EXPECT_EQ(f.State.CachePath, f.Dir.Path() + "Cache/");
    // A folder that is not an absolute path lies in the program folder,
    // whatever the working directory is.
    lines[24] = "c";
    for (const char* relative : {"D:\\Tiles", "tiles", "../Тайлы"}) {
        lines[23] = relative;
        f.Write(lines);
        EXPECT_TRUE(f.Load());
        EXPECT_EQ(f.State.CachePath, f.Dir.Path() + relative + "/");
        EXPECT_EQ(f.State.CustomCachePath, relative);  // kept as it was written
    }
    lines[23] = "";
    f.Write(lines);
    EXPECT_TRUE(f.Load());
    EXPECT_EQ(f.State.CachePath, "/");
}

TEST(Settings, WindowsFileWithCrLfAndCp1251Loads) {
    Fixture f;
    auto lines = f.FullLines();
    std::string bytes;
    for (auto& l : lines) bytes += Utf8ToCp1251(l) + "\r\n";
    f.Dir.WriteFile(SettingsFileName, bytes);
    EXPECT_TRUE(f.Load());
    EXPECT_EQ(f.State.CustomCachePath, "/data/Тайлы");
    // Bare LF and a last line without an ending read the same.
    std::string lf;
    for (size_t i = 0; i < lines.size(); ++i) lf += Utf8ToCp1251(lines[i]) + (i + 1 < lines.size() ? "\n" : "");
    f.Dir.WriteFile(SettingsFileName, lf);
    Fixture g;
    g.Dir.WriteFile(SettingsFileName, lf);
    EXPECT_TRUE(g.Load());
    EXPECT_FALSE(g.State.WheelZoom);
}

TEST(Settings, FloatingWindowsAreBroughtOnScreen) {
    Fixture f;
    auto lines = f.FullLines();
    lines[32] = "1900";  // window 1, vertical: 28 wide, 461 high
    lines[33] = "1000";
    lines[39] = "-50";   // negative positions stay
    lines[48] = "2147483647";  // window 3's top: no wrap-around
    lines[40] = "900";   // window 2, vertical: 192 x 142
    f.Write(lines);
    EXPECT_TRUE(f.Load({1024, 768}));
    EXPECT_EQ(f.State.ToolWindow1.FloatLeft, 1024 - 28);
    EXPECT_EQ(f.State.ToolWindow1.FloatTop, 768 - 461);
    EXPECT_EQ(f.State.ToolWindow2.FloatLeft, -50);
    EXPECT_EQ(f.State.ToolWindow2.FloatTop, 768 - 142);
    EXPECT_EQ(f.State.ToolWindow3.FloatTop, 768 - 47);
}

TEST(Settings, DockLinesReadOnlyWhenDocked) {
    Fixture f;
    auto lines = f.FullLines();
    lines[35] = "-";
    lines[36] = "4";
    lines[42] = "f";
    lines[44] = "1";  // ignored: floating
    lines[50] = "-";
    lines[52] = "x";  // not a dock: unchanged
    f.Write(lines);
    EXPECT_TRUE(f.Load());
    EXPECT_EQ(f.State.ToolWindow1.Dock, 4);
    EXPECT_EQ(f.State.ToolWindow2.Dock, 3);
    EXPECT_TRUE(f.State.ToolWindow2.Floating);
    EXPECT_EQ(f.State.ToolWindow3.Dock, 3);
}

TEST(Settings, FailedWriteKeepsTheOldFile) {
    Fixture f;
    ASSERT_TRUE(SaveSettings(f.State, f.Ini()));
    std::string before = f.Dir.ReadFile(SettingsFileName);
    FillNonDefault(f.State);
    FileResult r;
    {
        FileSizeLimit full(64);  // fails the write half-way
        r = SaveSettings(f.State, f.Ini());
    }
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(f.Dir.ReadFile(SettingsFileName), before);
    // The state in memory is unchanged and a later write succeeds.
    EXPECT_EQ(f.State.Zoom, 13);
    EXPECT_TRUE(SaveSettings(f.State, f.Ini()));
    EXPECT_NE(f.Dir.ReadFile(SettingsFileName), before);
}

TEST(StartUp, ArchiveListAndStartupZoom) {
    TempDir dir;
    dir.WriteFile(ArchiveListFileName, "/a.zip\r\n\r\n/b.zip");
    Fixture f;
    auto lines = f.FullLines();
    lines[28] = "25";
    lines[24] = "-";  // the cache folder inside the program folder
    WriteTextLines(dir.File(SettingsFileName), lines);
    MainState s;
    EXPECT_TRUE(StartUpState(s, dir.Path(), {1920, 1080}));
    EXPECT_EQ(*s.ArchiveList.Snapshot(), (std::vector<std::string>{"/a.zip", "", "/b.zip"}));
    EXPECT_EQ(s.Zoom, 25);
    EXPECT_EQ(s.StartupZoom, 25);
    EXPECT_EQ(EffectiveZoom(s.Zoom), 20);
    // A fresh program folder gets its cache folder, so tiles can be stored.
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() + "Cache"));
}

// A hand-edited file gets no further than the settings dialog would let a
// count go: each at the nearer end of its range.
TEST(Settings, CountsAreBoundAsTheDialogBoundsThem) {
    struct Case {
        int Line;
        const char* Text;
        int Expected;
        std::function<int(const MainState&)> Field;
    };
    const auto attempts = [](const MainState& s) { return s.FetchAttempts.load(); };
    const auto interval = [](const MainState& s) { return s.RetryInterval.load(); };
    const Case cases[] = {
        {19, "2147483647", 10, attempts},
        {19, "0", 1, attempts},
        {19, "-5", 1, attempts},
        {19, "7", 7, attempts},
        {25, "2147483", 60, interval},
        {25, "-2147483648", 1, interval},
        {20, "1000", 50, [](const MainState& s) { return s.MaxWriteErrors.load(); }},
        {21, "1000", 100, [](const MainState& s) { return s.MaxFetchErrors.load(); }},
        {22, "0", 1, [](const MainState& s) { return s.MaxBadFileErrors.load(); }},
    };
    for (const Case& c : cases) {
        Fixture f;
        auto lines = f.FullLines();
        lines[static_cast<size_t>(c.Line)] = c.Text;
        f.Write(lines);
        EXPECT_TRUE(f.Load());
        EXPECT_EQ(c.Field(f.State), c.Expected) << "line " << c.Line << ": " << c.Text;
    }
}

// A quality list index that selects nothing gives the list's start value,
// however large it is.
TEST(Settings, QualityOfAListIndex) {
    const std::pair<int, int> cases[] = {{0, 10},  {7, 80},         {9, 100},        {-1, 80},
                                         {10, 80}, {214748364, 80}, {2147483647, 80}};
    for (const auto& [index, quality] : cases) EXPECT_EQ(QualityPercent(index), quality) << index;
}

TEST(Settings, AHugeFileIsReadOnlyAsFarAsItsLinesGo) {
    Fixture f;
    auto lines = f.FullLines();
    // Far more than any settings file holds, past the bound of a read.
    lines.resize(65 + MaxTextFileBytes / 64, std::string(63, 'x'));
    f.Write(lines);
    EXPECT_TRUE(f.Load());
    EXPECT_EQ(SettingsLines(f.State), f.FullLines());
}
