#include "core/map_sources.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/main_state.h"
#include "support/temp_dir.h"

namespace {

const std::string Folder = "/opt/vistrel/";
const std::string IniSource = "http://127.0.0.1:8642/kh?v=9&n=404&t=t";
const std::string IniCache = "/opt/vistrel/Cache/";

SourceList Parse(const std::string& entries, const std::string& top = "") {
    return ParseSources("{" + top + "\"sources\": [" + entries + "]}", IniSource, IniCache, Folder);
}

MapSource Entry(const std::string& name, const std::string& cache) {
    MapSource s;
    s.Name = name;
    s.Url = "http://" + name + "/{z}/{x}/{y}";
    s.Cache = cache;
    return s;
}

// A program folder of its own, with the settings file's source and cache.
class SourceFolderTest : public ::testing::Test {
  protected:
    SourceFolderTest() {
        state.ProgramFolder = dir.Path();
        SetSourceString(state, IniSource);
        SetCachePath(state, dir.Path() + "Cache/");
    }
    TempDir dir;
    MainState state;
};

TEST(MapSources, BadEntriesAreNamedAndLeftOutTheRestIsUsed) {
    struct Case {
        std::string Entry;
        std::string Problem;  // expected in the one problem line
    };
    // Good entries so far, to be ended with a cache or with one bad key.
    const std::string Aurl = R"({"name": "A", "url": "http://a/t=t", )";
    const std::string A = Aurl + R"("cache": "A", )";
    const Case cases[] = {
        {R"("text")", "запись 1: не объект"},
        {R"({"url": "http://a/{z}/{x}/{y}", "cache": "A"})", "нет имени"},
        {R"({"name": "A", "cache": "A"})", "«A»: нет адреса"},
        {R"({"name": "A", "url": "http://a/{z}/{x}/{w}", "cache": "A"})", "«A»: "},
        {R"({"name": "A", "url": "http://a/t=t"})", "нет папки кэша"},
        {A + R"("maxZoom": 21})", "«maxZoom» не целое число от 1 до 20"},
        {A + R"("minZoom": 2.5})", "«minZoom»"},
        {A + R"("minZoom": 9, "maxZoom": 3})", "«minZoom» больше «maxZoom»"},
        {A + R"("maxConnections": 0})", "«maxConnections»"},
        {A + R"("refreshDays": -1})", "«refreshDays»"},
        {R"({"name": 5, "url": "http://a/t=t", "cache": "A"})", "«name» не текст"},
        {A + R"("headers": []})", "«headers» не объект"},
        {A + R"("headers": {"X-A": 1}})", "заголовок «X-A» не текст"},
        {A + R"("headers": {"Bad Name": "v"}})", "недопустимое имя"},
        {A + R"("headers": {"X": "a\r\nHost: b"}})", "в несколько строк"},
        {A + R"("userAgent": "a\nb"})", "«userAgent»"},
        {A + R"("noImagery": ["abc"]})", "не SHA-256"},
        {Aurl + R"("cache": "Cache"})", "папка кэша уже занята источником «Основной»"},
        {Aurl + R"("cache": "/opt/vistrel/x/../Cache/"})", "уже занята"},
        {R"({"name": "Основной", "url": "x"}, {"name": "Основной", "url": "http://a/t=t", "cache": "B"})",
         "запись 2 «Основной»: имя «Основной» уже есть"},
    };
    const std::string good = R"({"name": "Good", "url": "http://g/{z}/{x}/{y}", "cache": "G"})";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Entry);
        const SourceList list = Parse(c.Entry + "," + good);
        ASSERT_EQ(list.Problems.size(), 1u);
        EXPECT_NE(list.Problems[0].find(c.Problem), std::string::npos) << list.Problems[0];
        ASSERT_EQ(list.Sources.size(), 2u);
        EXPECT_EQ(list.Sources[1].Name, "Good");
        EXPECT_EQ(list.BadEntries.size(), 1u);
    }
}

TEST(MapSources, TwoSourcesNeverShareACacheFolder) {
    const SourceList list = Parse(R"({"name": "A", "url": "http://a/t=t", "cache": "Tiles/A"},
                                    {"name": "B", "url": "http://b/t=t", "cache": "Tiles/A/"},
                                    {"name": "C", "url": "http://c/t=t", "cache": "/opt/vistrel/Tiles/./A"})");
    ASSERT_EQ(list.Sources.size(), 2u);
    EXPECT_EQ(list.Problems.size(), 2u);
    EXPECT_NE(list.Problems[1].find("«C»: папка кэша уже занята источником «A»"),
              std::string::npos);
}

TEST(MapSources, FileThatIsNoListGivesTheMainSourceAlone) {
    const std::string texts[] = {"{\"sources\": [", "[]", "{\"sources\": {}}", "not json", "{}"};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        const SourceList list = ParseSources(text, IniSource, IniCache, Folder);
        ASSERT_EQ(list.Sources.size(), 1u);
        EXPECT_EQ(list.Sources[0].Name, MainSourceName);
        EXPECT_EQ(list.Problems.size(), 1u);
    }
    EXPECT_TRUE(ParseSources("", IniSource, IniCache, Folder).Problems.empty());
}

TEST(MapSources, MainSourceAlwaysMirrorsTheSettingsFile) {
    const SourceList list = Parse(R"({"name": "A", "url": "http://a/t=t", "cache": "A"},
        {"name": "Основной", "url": "http://elsewhere/t=t", "cache": "Other", "refreshDays": 30})");
    ASSERT_EQ(list.Sources.size(), 2u);
    EXPECT_EQ(list.Sources[0].Name, MainSourceName);
    EXPECT_EQ(list.Sources[0].Url, IniSource);
    EXPECT_EQ(list.Sources[0].Cache, IniCache);
    EXPECT_EQ(list.Sources[0].RefreshDays, 30);
    EXPECT_EQ(list.Sources[1].Name, "A");
    // Written back first, its cache relative to the program folder.
    const std::string json = SourcesJson(list, Folder);
    EXPECT_LT(json.find("Основной"), json.find("\"A\""));
    EXPECT_NE(json.find("\"cache\": \"Cache/\""), std::string::npos);
}

TEST(MapSources, SettingsFileNamingAListSourceMakesItTheOneInUse) {
    const std::string main =
        R"({"name": "Основной", "url": "http://main/t=t", "cache": "Cache/"},)";
    const std::string rest = R"({"name": "A", "url": "http://a/{z}/{x}/{y}", "cache": "A"},
        {"name": "B", "url": "http://b/{z}/{x}/{y}", "cache": "/data/B"}]})";
    struct Case {
        bool MainEntry;
        std::string IniSource, IniCache;
        size_t Active;
        std::string MainUrl, MainCache;
    };
    const std::string cache = "/opt/vistrel/Cache/";
    const Case cases[] = {
        {true, "http://b/{z}/{x}/{y}", "/data/B/", 2, "http://main/t=t", cache},
        {true, "http://a/{z}/{x}/{y}", "/opt/vistrel/A/", 1, "http://main/t=t", cache},
        // The address alone is not the source: its cache differs.
        {true, "http://a/{z}/{x}/{y}", "/opt/vistrel/Other/", 0, "http://a/{z}/{x}/{y}",
         "/opt/vistrel/Other/"},
        {true, "http://edited/t=t", cache, 0, "http://edited/t=t", cache},
        // No main source's own values: they never clash with the one in use.
        {false, "http://a/{z}/{x}/{y}", "/opt/vistrel/A/", 1, DefaultSourceString, cache},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.IniSource + " " + c.IniCache + (c.MainEntry ? "" : ", no main entry"));
        const SourceList list = ParseSources(R"({"sources": [)" + (c.MainEntry ? main : "") + rest,
                                             c.IniSource, c.IniCache, Folder);
        EXPECT_TRUE(list.Problems.empty());
        ASSERT_EQ(list.Sources.size(), 3u);
        EXPECT_EQ(list.Active, c.Active);
        EXPECT_EQ(list.Sources[0].Url, c.MainUrl);
        EXPECT_EQ(list.Sources[0].Cache, c.MainCache);
    }
}

TEST(MapSources, UsingASourceSetsWhatTheSettingsFileKeeps) {
    MainState state;
    state.ProgramFolder = Folder;
    SourceList list = ParseSources(R"({"sources": [{"name": "A", "url": "http://a/t=t",
        "cache": "Tiles/A", "userAgent": "Mine"}]})",
                                   IniSource, IniCache, Folder);
    ASSERT_EQ(list.Sources.size(), 2u);
    struct Case {
        size_t Index;
        std::string Source, CachePath;
        bool Custom, ListClient;
    };
    for (const Case& c : {Case{1, "http://a/t=t", "/opt/vistrel/Tiles/A/", true, true},
                          Case{0, IniSource, IniCache, false, false}}) {
        UseSource(state, list, c.Index);
        EXPECT_EQ(list.Active, c.Index);
        EXPECT_EQ(state.SourceStringCopy(), c.Source);
        EXPECT_EQ(state.CachePathCopy(), c.CachePath);
        EXPECT_EQ(state.UseCustomCachePath, c.Custom);
        if (c.Custom) {
            EXPECT_EQ(CachePathFor(true, state.CustomCachePath, Folder), c.CachePath);
        }
        ASSERT_TRUE(state.ActiveSourceCopy());
        EXPECT_EQ(!state.ActiveSourceCopy()->IsMain(), c.ListClient);
    }
}

TEST(MapSources, MainSourceInUseFollowsTheSettingsDialog) {
    MainState state;
    state.ProgramFolder = Folder;
    for (const size_t active : {size_t{0}, size_t{1}}) {
        SourceList list = Parse(R"({"name": "A", "url": "http://a/t=t", "cache": "A"})");
        UseSource(state, list, active);
        SetSourceString(state, "http://typed/t=t");
        SetCachePath(state, "/typed/");
        list.Sources[active].RefreshDays = 3;
        FollowSettings(state, list);
        // Whatever was in use, the typed string is the main source's now.
        EXPECT_EQ(list.Active, 0u);
        EXPECT_EQ(list.Sources[0].Url, "http://typed/t=t");
        EXPECT_EQ(list.Sources[0].Cache, "/typed/");
        EXPECT_EQ(state.ActiveSourceCopy()->RefreshDays, active == 0 ? 3 : 0);
        EXPECT_TRUE(state.ActiveSourceCopy()->IsMain());
    }
    // A list source left as it was stays in use, with its edited record.
    SourceList list = Parse(R"({"name": "A", "url": "http://a/t=t", "cache": "A"})");
    UseSource(state, list, 1);
    list.Sources[1].MaxConnections = 5;
    FollowSettings(state, list);
    EXPECT_EQ(list.Active, 1u);
    EXPECT_EQ(state.ActiveSourceCopy()->MaxConnections, 5);
}

TEST(MapSources, RewriteKeepsUnknownKeysBadEntriesAndAllFields) {
    const SourceList list = Parse(
        R"({"name": "A", "url": "https://a/{z}/{x}/{y}.jpg", "cache": "/data/A", "minZoom": 3,
            "maxZoom": 17, "attribution": "© A", "userAgent": "Mine/1", "maxConnections": 4,
            "headers": {"Referer": "https://a/"}, "refreshDays": 7, "tileSize": 512,
            "noImagery": ["0123456789ABCDEF0123456789abcdef0123456789abcdef0123456789abcdef"],
            "bounds": [1, 2, 3, 4]},
           {"name": 7})",
        R"("contact": "https://example.org/me", "version": {"n": 1}, )");
    const SourceList again = ParseSources(SourcesJson(list, Folder), IniSource, IniCache, Folder);
    ASSERT_EQ(again.Sources.size(), 2u);
    const MapSource& a = again.Sources[1];
    EXPECT_EQ(a.Url, "https://a/{z}/{x}/{y}.jpg");
    EXPECT_EQ(a.Cache, "/data/A");
    EXPECT_EQ(a.MinZoom, 3);
    EXPECT_EQ(a.MaxZoom, 17);
    EXPECT_EQ(a.Attribution, "© A");
    EXPECT_EQ(a.MaxConnections, 4);
    EXPECT_EQ(a.RefreshDays, 7);
    ASSERT_EQ(a.Headers.size(), 1u);
    EXPECT_EQ(a.Headers[0].second, "https://a/");
    ASSERT_EQ(a.NoImagery.size(), 1u);
    EXPECT_EQ(a.NoImagery[0], "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
    EXPECT_EQ(a.Unknown.at("tileSize"), "512");
    EXPECT_EQ(a.Unknown.at("bounds"), "[1,2,3,4]");
    EXPECT_EQ(again.Unknown.at("version"), R"({"n":1})");
    EXPECT_EQ(again.Contact, "https://example.org/me");
    EXPECT_EQ(again.BadEntries, std::vector<std::string>{R"({"name":7})"});
    EXPECT_EQ(UserAgentOf(a, again.Contact), "Mine/1");
}

TEST(MapSources, DefaultUserAgentNamesTheProgramAndTheContact) {
    MapSource plain;
    EXPECT_EQ(UserAgentOf(plain, ""), "Vistrel/2.0");
    EXPECT_EQ(UserAgentOf(plain, "mailto:me@example.org"), "Vistrel/2.0 (+mailto:me@example.org)");
}

TEST_F(SourceFolderTest, UnusableFileIsKeptAsideAndSavingIsWhole) {
    ASSERT_TRUE(dir.WriteFile(SourcesFileName, "{\"sources\": [ {\"name\": "));
    SourceList list = LoadSources(state);
    EXPECT_EQ(list.Sources.size(), 1u);
    EXPECT_EQ(dir.ReadFile(std::string(SourcesFileName) + ".bad"), "{\"sources\": [ {\"name\": ");
    EXPECT_NE(SourceProblemsText(list).find(".bad"), std::string::npos);

    const MapSource added = Entry("B", "B");
    ASSERT_EQ(CheckSource(added, list.Sources, state.ProgramFolder), "");
    list.Sources.push_back(added);
    ASSERT_TRUE(SaveSources(list, state.ProgramFolder));
    const SourceList loaded = LoadSources(state);
    EXPECT_TRUE(loaded.Problems.empty());
    ASSERT_EQ(loaded.Sources.size(), 2u);
    EXPECT_EQ(CacheFolderOf(loaded.Sources[1], state.ProgramFolder), dir.Path() + "B/");
}

TEST_F(SourceFolderTest, DialogChangesAreCheckedAndSavedAtOnce) {
    SourceList list = LoadSources(state);
    MapSource renamedMain = list.Sources[0];
    renamedMain.Name = "Другое";
    renamedMain.Url = "http://elsewhere/t=t";
    renamedMain.RefreshDays = 9;
    struct Step {
        const char* Name;
        char Do;  // add, change or remove
        size_t Index;
        MapSource Source;
        std::string Error;  // expected start; empty: done
        std::string Names;
    };
    const Step steps[] = {
        {"add", '+', 0, Entry("A", "A"), "", "Основной A"},
        {"add a clash", '+', 0, Entry("B", "A/"), "папка кэша уже занята", "Основной A"},
        {"add B", '+', 0, Entry("B", "B"), "", "Основной A B"},
        {"rename B onto A", '=', 2, Entry("A", "B"), "имя «A» уже есть", "Основной A B"},
        {"change B's own cache", '=', 2, Entry("B", "B2"), "", "Основной A B"},
        {"main keeps its name", '=', 0, renamedMain, "", "Основной A B"},
        {"main stays", '-', 0, {}, "основной", "Основной A B"},
        {"remove A", '-', 1, {}, "", "Основной B"},
    };
    auto names = [](const SourceList& l) {
        std::string joined;
        for (const MapSource& s : l.Sources) joined += (joined.empty() ? "" : " ") + s.Name;
        return joined;
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.Name);
        const std::string error = step.Do == '+' ? AddSource(list, step.Source, dir.Path())
                                  : step.Do == '='
                                      ? ChangeSource(list, step.Index, step.Source, dir.Path())
                                      : RemoveSource(list, step.Index, dir.Path());
        if (step.Error.empty())
            EXPECT_EQ(error, "");
        else
            EXPECT_EQ(error.find(step.Error), 0u) << error;
        EXPECT_EQ(names(list), step.Names);
        EXPECT_EQ(names(LoadSources(state)), step.Names);
    }
    EXPECT_EQ(list.Sources[0].Url, IniSource);
    EXPECT_EQ(list.Sources[0].RefreshDays, 9);
    EXPECT_EQ(list.Sources[1].Cache, "B2");
}

TEST_F(SourceFolderTest, MarkingNoImageryLearnsTheHashAndDropsTheFile) {
    SourceList list = LoadSources(state);
    UseSource(state, list, 0);
    ASSERT_TRUE(dir.WriteFile("Cache/q.jpg", "blank"));
    EXPECT_NE(MarkNoImagery(state, list, dir.File("Cache/r.jpg")), "");
    for (int twice = 0; twice < 2; ++twice) {
        ASSERT_TRUE(dir.WriteFile("Cache/q.jpg", "blank"));
        EXPECT_EQ(MarkNoImagery(state, list, dir.File("Cache/q.jpg")), "");
        EXPECT_FALSE(dir.Exists("Cache/q.jpg"));
    }
    const std::vector<std::string> expected = {Sha256Hex("blank")};
    EXPECT_EQ(state.ActiveSourceCopy()->NoImagery, expected);
    EXPECT_EQ(LoadSources(state).Sources[0].NoImagery, expected);
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
