#include "core/map_sources.h"

#include <gtest/gtest.h>

#include "core/main_state.h"
#include "support/temp_dir.h"

namespace {

const std::string Folder = "/opt/vistrel/";
const std::string IniSource = "http://127.0.0.1:8642/kh?v=9&n=404&t=t";
const std::string IniCache = "/opt/vistrel/Cache/";

SourceList Parse(const std::string& entries, const std::string& top = "") {
    return ParseSources("{" + top + "\"sources\": [" + entries + "]}", IniSource, IniCache, Folder);
}

TEST(MapSources, BadEntriesAreNamedAndLeftOutTheRestIsUsed) {
    struct Case {
        std::string Entry;
        std::string Problem;  // expected in the one problem line
    };
    const Case cases[] = {
        {R"("text")", "запись 1: не объект"},
        {R"({"url": "http://a/{z}/{x}/{y}", "cache": "A"})", "нет имени"},
        {R"({"name": "A", "cache": "A"})", "«A»: нет адреса"},
        {R"({"name": "A", "url": "http://a/{z}/{x}/{w}", "cache": "A"})", "«A»: "},
        {R"({"name": "A", "url": "http://a/t=t"})", "нет папки кэша"},
        {R"({"name": "A", "url": "http://a/t=t", "cache": "A", "maxZoom": 21})",
         "«maxZoom» не целое число от 1 до 20"},
        {R"({"name": "A", "url": "http://a/t=t", "cache": "A", "minZoom": 2.5})", "«minZoom»"},
        {R"({"name": "A", "url": "http://a/t=t", "cache": "A", "minZoom": 9, "maxZoom": 3})",
         "«minZoom» больше «maxZoom»"},
        {R"({"name": "A", "url": "http://a/t=t", "cache": "A", "maxConnections": 0})",
         "«maxConnections»"},
        {R"({"name": "A", "url": "http://a/t=t", "cache": "A", "refreshDays": -1})",
         "«refreshDays»"},
        {R"({"name": 5, "url": "http://a/t=t", "cache": "A"})", "«name» не текст"},
        {R"({"name": "A", "url": "http://a/t=t", "cache": "A", "headers": []})",
         "«headers» не объект"},
        {R"({"name": "A", "url": "http://a/t=t", "cache": "A", "headers": {"X-A": 1}})",
         "заголовок «X-A» не текст"},
        {R"({"name": "A", "url": "http://a/t=t", "cache": "A", "headers": {"Bad Name": "v"}})",
         "недопустимое имя"},
        {R"({"name": "A", "url": "http://a/t=t", "cache": "A", "headers": {"X": "a\r\nHost: b"}})",
         "в несколько строк"},
        {R"({"name": "A", "url": "http://a/t=t", "cache": "A", "userAgent": "a\nb"})",
         "«userAgent»"},
        {R"({"name": "A", "url": "http://a/t=t", "cache": "A", "noImagery": ["abc"]})",
         "не SHA-256"},
        {R"({"name": "A", "url": "http://a/t=t", "cache": "Cache"})",
         "папка кэша уже занята источником «Основной»"},
        {R"({"name": "A", "url": "http://a/t=t", "cache": "/opt/vistrel/x/../Cache/"})",
         "уже занята"},
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
    const std::string file = R"({"sources": [
        {"name": "Основной", "url": "http://main/t=t", "cache": "Cache/"},
        {"name": "A", "url": "http://a/{z}/{x}/{y}", "cache": "A"},
        {"name": "B", "url": "http://b/{z}/{x}/{y}", "cache": "/data/B"}]})";
    struct Case {
        std::string IniSource, IniCache;
        size_t Active;
        std::string MainUrl, MainCache;
    };
    const Case cases[] = {
        {"http://b/{z}/{x}/{y}", "/data/B/", 2, "http://main/t=t", "/opt/vistrel/Cache/"},
        {"http://a/{z}/{x}/{y}", "/opt/vistrel/A/", 1, "http://main/t=t", "/opt/vistrel/Cache/"},
        // The address alone is not the source: its cache differs.
        {"http://a/{z}/{x}/{y}", "/opt/vistrel/Other/", 0, "http://a/{z}/{x}/{y}",
         "/opt/vistrel/Other/"},
        {"http://edited/t=t", "/opt/vistrel/Cache/", 0, "http://edited/t=t", "/opt/vistrel/Cache/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.IniSource + " " + c.IniCache);
        const SourceList list = ParseSources(file, c.IniSource, c.IniCache, Folder);
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
        bool Custom;
        bool ListClient;
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

TEST(MapSources, UnusableFileIsKeptAsideAndSavingIsWhole) {
    TempDir dir;
    MainState state;
    state.ProgramFolder = dir.Path();
    SetSourceString(state, IniSource);
    SetCachePath(state, dir.Path() + "Cache/");
    ASSERT_TRUE(dir.WriteFile(SourcesFileName, "{\"sources\": [ {\"name\": "));
    SourceList list = LoadSources(state);
    EXPECT_EQ(list.Sources.size(), 1u);
    EXPECT_EQ(dir.ReadFile(std::string(SourcesFileName) + ".bad"), "{\"sources\": [ {\"name\": ");
    EXPECT_NE(SourceProblemsText(list).find(".bad"), std::string::npos);

    MapSource added;
    added.Name = "B";
    added.Url = "http://b/{z}/{x}/{y}";
    added.Cache = "B";
    ASSERT_EQ(CheckSource(added, list.Sources, state.ProgramFolder), "");
    list.Sources.push_back(added);
    ASSERT_TRUE(SaveSources(list, state.ProgramFolder));
    const SourceList loaded = LoadSources(state);
    EXPECT_TRUE(loaded.Problems.empty());
    ASSERT_EQ(loaded.Sources.size(), 2u);
    EXPECT_EQ(CacheFolderOf(loaded.Sources[1], state.ProgramFolder), dir.Path() + "B/");
}

}  // namespace
