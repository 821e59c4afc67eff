#include <gtest/gtest.h>
#include <zip.h>

#include <functional>
#include <optional>

#include "fetch_fixture.h"

namespace {

enum Mode { CacheOnly = 0, InternetOnly = 1, CacheAndInternet = 2 };

const char* ModeName(int mode) {
    static const char* names[] = {"cache only", "internet only", "cache and internet"};
    return names[mode];
}

const std::string& GoodTile() {
    static const std::string bytes = PadJpegToSize(MakeTileJpeg(256, 256, 11), 30000);
    return bytes;
}
const std::string& NewTile() {
    static const std::string bytes = PadJpegToSize(MakeTileJpeg(256, 256, 12), 31000);
    return bytes;
}
const std::string& Incomplete1000() {
    static const std::string bytes = PadJpegToSize(MakeSolidJpeg(8, 8, 10, 200, 10), 1000);
    return bytes;
}
const std::string& NotAJpeg() {
    static const std::string bytes = std::string(3000, 'z');
    return bytes;
}

// "{url}" and "{file}" stand for the tile's.
std::string Expand(std::string line, const jtype& tile) {
    for (const auto& [key, value] : {std::pair{std::string("{url}"), tile.Url},
                                     std::pair{std::string("{file}"), tile.FileName}}) {
        const size_t at = line.find(key);
        if (at != std::string::npos) line.replace(at, key.size(), value);
    }
    return line;
}

bool WriteZip(const std::string& path, const std::string& entry, const std::string& bytes) {
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) return false;
    zip_source_t* source = zip_source_buffer(archive, bytes.data(), bytes.size(), 0);
    if (!source || zip_file_add(archive, entry.c_str(), source, ZIP_FL_OVERWRITE) < 0) {
        zip_source_free(source);
        zip_discard(archive);
        return false;
    }
    return zip_close(archive) == 0;
}

}  // namespace

class GetTileTest : public FetchTest {
  protected:
    WorkerContext Worker(bool isTask) { return WorkerContext{.IsTask = isTask, .Log = &Log}; }
    RecordingLog Log;
};

// ---- a tile missing from the cache, by the server's answer ----

struct AnswerRow {
    const char* Name;
    std::function<ScriptedAnswer()> Answer;
    bool Result;
    int Fetch, Bad, Write;
    std::string Line;  // empty: no log line
};

void PrintTo(const AnswerRow& row, std::ostream* os) {
    *os << row.Name;
}

class GetTileAnswers : public GetTileTest, public ::testing::WithParamInterface<AnswerRow> {};

TEST_P(GetTileAnswers, CountsAndLogLineInEveryFetchingMode) {
    const AnswerRow& row = GetParam();
    int letter = 0;
    for (int mode : {InternetOnly, CacheAndInternet}) {
        for (bool isTask : {true, false}) {
            SCOPED_TRACE(std::string(ModeName(mode)) + (isTask ? ", task" : ", view fill"));
            SetWorkMode(State, mode);
            Log.Lines.clear();
            const int shownBefore = Sink.ErrorCountShows();
            const size_t connectionsBefore = Server.Connections();
            Server.Push(row.Answer());
            jtype tile = Tile(std::string(1, "qrst"[letter++]));
            WorkerContext worker = Worker(isTask);

            EXPECT_EQ(GetTile(State, worker, tile), row.Result);
            EXPECT_EQ(worker.FetchErrors, row.Fetch);
            EXPECT_EQ(worker.BadFileErrors, row.Bad);
            EXPECT_EQ(worker.WriteErrors, row.Write);
            std::vector<std::string> expected;
            if (isTask && !row.Line.empty()) expected.push_back(Expand(row.Line, tile));
            EXPECT_EQ(Log.Lines, expected);
            EXPECT_EQ(Sink.ErrorCountShows() - shownBefore, 1 + row.Fetch + row.Bad + row.Write);
            EXPECT_EQ(Server.Connections(), connectionsBefore + 1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, GetTileAnswers,
    ::testing::Values(
        AnswerRow{"Stored", [] { return ScriptedAnswer::Ok(GoodTile()); }, true, 0, 0, 0, ""},
        AnswerRow{"NotFound", [] { return ScriptedAnswer::Status(404, "Not Found"); }, false, 1, 0,
                  0, "ошибка при получении 404 Not Found {url}"},
        AnswerRow{"NoStatusLine", [] { return ScriptedAnswer::Hangup(); }, false, 1, 0, 0,
                  "ошибка при получении  {url}"},
        AnswerRow{"EmptyAnswer", [] { return ScriptedAnswer::Ok(""); }, false, 1, 0, 0, ""},
        AnswerRow{"NoEndMarker",
                  [] { return ScriptedAnswer::Ok(WithLastBytes(GoodTile(), 0xFF, 0xD8)); }, false,
                  0, 1, 0, "файл менее 4 байт {url}"},
        AnswerRow{"Undecodable",
                  [] { return ScriptedAnswer::Ok(std::string(3000, 'x') + "\xFF\xD9"); }, false, 0,
                  1, 0, "недокачаный файл, не сохранен {url}"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(GetTileTest, WriteErrorKeepsTheTileAndLogsTheFileName) {
    for (bool isTask : {true, false}) {
        Log.Lines.clear();
        Server.Push(ScriptedAnswer::Ok(GoodTile()));
        jtype tile = Tile("q");
        tile.FileName = Cache.Path() + "missing/q.jpg";
        WorkerContext worker = Worker(isTask);
        EXPECT_TRUE(GetTile(State, worker, tile));
        EXPECT_EQ(worker.WriteErrors, 1);
        EXPECT_EQ(worker.FetchErrors + worker.BadFileErrors, 0);
        EXPECT_TRUE(tile.Image->Decoded());
        EXPECT_EQ(Log.Lines,
                  isTask ? std::vector<std::string>{"ошибка записи на диск " + tile.FileName}
                         : std::vector<std::string>{});
    }
}

TEST_F(GetTileTest, RefusedConnectionLogsTwoBlanks) {
    jtype tile = Tile("q");
    tile.Url = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/kh?v=9&n=404&t=tq";
    WorkerContext worker = Worker(true);
    EXPECT_FALSE(GetTile(State, worker, tile));
    EXPECT_EQ(worker.FetchErrors, 1);
    EXPECT_EQ(Log.Lines, std::vector<std::string>{"ошибка при получении  " + tile.Url});
}

TEST_F(GetTileTest, CacheOnlyMissingTileIsAPlaceholderWithoutCount) {
    SetWorkMode(State, CacheOnly);
    int shows = 0;
    for (const bool isTask : {false, true}) {
        SCOPED_TRACE(isTask ? "task" : "view");
        jtype tile = Tile("q");
        // What the worker's picture held from its last tile must not stay.
        tile.Image->Decode(GoodTile());
        WorkerContext worker = Worker(isTask);
        EXPECT_TRUE(GetTile(State, worker, tile));
        EXPECT_EQ(Server.Connections(), 0u);
        EXPECT_EQ(worker.FetchErrors + worker.BadFileErrors + worker.WriteErrors, 0);
        EXPECT_TRUE(Log.Lines.empty());
        EXPECT_FALSE(tile.Image->Decoded());
        EXPECT_TRUE(tile.Image->Data().empty());
        EXPECT_EQ(Sink.ErrorCountShows(), ++shows);
        // A task's output draws its own placeholder: none is rendered per tile.
        ASSERT_EQ(tile.Image->HasPicture(), !isTask);
        if (isTask) continue;
        EXPECT_EQ(tile.Image->Picture().Width(), 256);
        EXPECT_EQ(tile.Image->Picture().Pixel(2, 2), (Rgb{192, 192, 192}));
    }
}

// ---- what is in the cache folder, by work mode ----

enum class FileAfter { Kept, Deleted, Replaced, Absent };

struct CacheRow {
    const char* Name;
    const std::string* Cached;  // nullptr: no cache file
    int Mode;
    std::optional<std::function<ScriptedAnswer()>> Answer;  // none: no request expected
    bool Result;
    int Fetch, Bad;
    std::string Line;
    FileAfter File;
};

void PrintTo(const CacheRow& row, std::ostream* os) {
    *os << row.Name;
}

class GetTileCache : public GetTileTest, public ::testing::WithParamInterface<CacheRow> {};

TEST_P(GetTileCache, LookupCountsAndFile) {
    const CacheRow& row = GetParam();
    SetWorkMode(State, row.Mode);
    if (row.Cached) {
        ASSERT_TRUE(Cache.WriteFile("q.jpg", *row.Cached));
    }
    if (row.Answer) Server.Push((*row.Answer)());
    jtype tile = Tile("q");
    WorkerContext worker = Worker(true);

    EXPECT_EQ(GetTile(State, worker, tile), row.Result);
    EXPECT_EQ(worker.FetchErrors, row.Fetch);
    EXPECT_EQ(worker.BadFileErrors, row.Bad);
    EXPECT_EQ(worker.WriteErrors, 0);
    EXPECT_EQ(Log.Lines, row.Line.empty() ? std::vector<std::string>{}
                                          : std::vector<std::string>{Expand(row.Line, tile)});
    EXPECT_EQ(Server.Connections(), row.Answer ? 1u : 0u);
    switch (row.File) {
        case FileAfter::Kept:
            EXPECT_EQ(Cache.ReadFile("q.jpg"), *row.Cached);
            break;
        case FileAfter::Deleted:
        case FileAfter::Absent:
            EXPECT_FALSE(Cache.Exists("q.jpg"));
            break;
        case FileAfter::Replaced:
            EXPECT_EQ(Cache.ReadFile("q.jpg"), NewTile());
            EXPECT_EQ(tile.Image->Data(), NewTile());
            break;
    }
    if (row.Result && row.File == FileAfter::Kept) {
        EXPECT_EQ(tile.Image->Data(), *row.Cached);
    }
}

namespace {

std::function<ScriptedAnswer()> Serves(const std::string& (*bytes)()) {
    return [bytes] { return ScriptedAnswer::Ok(bytes()); };
}
std::function<ScriptedAnswer()> NotFound() {
    return [] { return ScriptedAnswer::Status(404, "Not Found"); };
}

const char* IncompleteLine = "найден недокачанный файл, удален {file}";
const char* BrokenLine = "найден ошибочный файл, удален {file}";

}  // namespace

INSTANTIATE_TEST_SUITE_P(
    Table, GetTileCache,
    ::testing::Values(
        CacheRow{"ValidCacheOnly", &GoodTile(), CacheOnly, {}, true, 0, 0, "", FileAfter::Kept},
        CacheRow{"ValidBoth", &GoodTile(), CacheAndInternet, {}, true, 0, 0, "", FileAfter::Kept},
        // Internet only asks again, and a good answer replaces the file.
        CacheRow{"ValidInternetOnly", &GoodTile(), InternetOnly, Serves(NewTile), true, 0, 0, "",
                 FileAfter::Replaced},
        CacheRow{"IncompleteCacheOnly",
                 &Incomplete1000(),
                 CacheOnly,
                 {},
                 true,
                 0,
                 1,
                 IncompleteLine,
                 FileAfter::Deleted},
        // Deleted, counted and fetched again in the same call.
        CacheRow{"IncompleteBoth", &Incomplete1000(), CacheAndInternet, Serves(NewTile), true, 0, 1,
                 IncompleteLine, FileAfter::Replaced},
        CacheRow{"IncompleteInternetOnly", &Incomplete1000(), InternetOnly, Serves(NewTile), true,
                 0, 0, "", FileAfter::Replaced},
        CacheRow{"BrokenCacheOnly",
                 &NotAJpeg(),
                 CacheOnly,
                 {},
                 false,
                 0,
                 1,
                 BrokenLine,
                 FileAfter::Deleted},
        // A broken file ends the lookup: no request in the same call.
        CacheRow{"BrokenBoth",
                 &NotAJpeg(),
                 CacheAndInternet,
                 {},
                 false,
                 0,
                 1,
                 BrokenLine,
                 FileAfter::Deleted},
        // Internet only never reads the cache, so it neither counts nor deletes.
        CacheRow{"BrokenInternetOnly", &NotAJpeg(), InternetOnly, NotFound(), false, 1, 0,
                 "ошибка при получении 404 Not Found {url}", FileAfter::Kept},
        CacheRow{"EmptyAnswerDeletesTheOldFile", &GoodTile(), InternetOnly,
                 [] { return ScriptedAnswer::Ok(""); }, false, 1, 0, "", FileAfter::Deleted},
        CacheRow{"MissingBoth", nullptr, CacheAndInternet, Serves(NewTile), true, 0, 0, "",
                 FileAfter::Replaced}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- archives ----

class GetTileArchive : public GetTileTest {
  protected:
    void UseArchive(const std::string& entry, const std::string& bytes) {
        const std::string path = Archives.File("tiles.zip");
        ASSERT_TRUE(WriteZip(path, entry, bytes));
        State.ArchiveList.Replace({path});
        State.UseArchives = true;
    }
    TempDir Archives;
};

TEST_F(GetTileArchive, ArchiveTileIsUsedButNotCopiedOrCounted) {
    UseArchive("q.jpg", GoodTile());
    for (int mode : {CacheOnly, CacheAndInternet}) {
        SetWorkMode(State, mode);
        jtype tile = Tile("q");
        WorkerContext worker = Worker(true);
        EXPECT_TRUE(GetTile(State, worker, tile)) << ModeName(mode);
        EXPECT_EQ(tile.Image->Data(), GoodTile());
    }
    EXPECT_EQ(Server.Connections(), 0u);
    EXPECT_FALSE(Cache.Exists("q.jpg"));
    EXPECT_TRUE(Log.Lines.empty());
}

TEST_F(GetTileArchive, ArchiveGivesTheTileAfterAnIncompleteCacheFile) {
    UseArchive("q.jpg", GoodTile());
    ASSERT_TRUE(Cache.WriteFile("q.jpg", Incomplete1000()));
    jtype tile = Tile("q");
    WorkerContext worker = Worker(true);
    EXPECT_TRUE(GetTile(State, worker, tile));
    EXPECT_EQ(worker.BadFileErrors, 1);
    EXPECT_EQ(Server.Connections(), 0u);
    EXPECT_EQ(tile.Image->Data(), GoodTile());
}

TEST_F(GetTileArchive, InternetOnlySkipsArchivesAndBadEntriesFallThrough) {
    UseArchive("q.jpg", GoodTile());
    SetWorkMode(State, InternetOnly);
    Server.Push(ScriptedAnswer::Ok(NewTile()));
    jtype first = Tile("q");
    WorkerContext worker = Worker(true);
    EXPECT_TRUE(GetTile(State, worker, first));
    EXPECT_EQ(first.Image->Data(), NewTile());

    // An entry that does not decode counts as missing, without an error.
    UseArchive("r.jpg", NotAJpeg());
    SetWorkMode(State, CacheAndInternet);
    Server.Push(ScriptedAnswer::Status(404, "Not Found"));
    jtype second = Tile("r");
    EXPECT_FALSE(GetTile(State, worker, second));
    EXPECT_EQ(worker.BadFileErrors, 0);
    EXPECT_EQ(worker.FetchErrors, 1);
    EXPECT_EQ(Server.Connections(), 2u);
}

// ---- parent tiles ----

TEST_F(GetTileTest, CachedTileBuildsItsParentOnlyForAViewFillWorker) {
    State.GenerateUpperLayers = true;
    for (const char* child : {"tq.jpg", "tr.jpg", "ts.jpg", "tt.jpg"})
        ASSERT_TRUE(Cache.WriteFile(child, GoodTile()));
    jtype tile = Tile("tq");
    WorkerContext task = Worker(true);
    EXPECT_TRUE(GetTile(State, task, tile));
    EXPECT_FALSE(Cache.Exists("t.jpg"));
    WorkerContext view = Worker(false);
    EXPECT_TRUE(GetTile(State, view, tile));
    EXPECT_TRUE(Cache.Exists("t.jpg"));
}
