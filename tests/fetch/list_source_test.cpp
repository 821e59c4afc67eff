// The client of the list sources against the local tile server: what goes
// on the wire, kept connections, the per-host cap, waits a server asks for,
// answers that are no tiles, and conditional refreshes.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <chrono>
#include <ctime>
#include <future>
#include <thread>

#include "core/map_sources.h"
#include "fetch_fixture.h"
#include "tile_server.h"

namespace {

using vistrel::tileserver::ServerOptions;
using vistrel::tileserver::TileServer;
using Clock = std::chrono::steady_clock;

std::string HttpDateIn(int seconds) {
    const std::time_t t = std::time(nullptr) + seconds;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
    return text;
}

class ListSourceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        State.Sink = &Sink;
        State.GenerateUpperLayers = false;
        Saved = GetFetchOptions();
        FetchOptions quick;
        quick.ConnectTimeoutMs = 2000;
        quick.StallSeconds = 2;
        quick.MaxRetryAfterSeconds = 3;
        quick.RetryBudgetSeconds = 5;
        SetFetchOptions(quick);
    }
    void TearDown() override {
        SetFetchOptions(Saved);
        if (Server) Server->Stop();
    }

    // Starts the server and makes a list source of it the active one.
    void Start(ServerOptions options = {}, MapSource source = {}) {
        options.KeepAlive = true;
        if (!options.Source) options.Source = [](const std::string&) { return Tile; };
        Cache = std::make_unique<TempDir>();
        Server = std::make_unique<TileServer>(options);
        ASSERT_TRUE(Server->Start(0));
        if (source.Name.empty()) source.Name = "Список";
        source.Url = Server->UrlPrefix();
        source.Cache = Cache->Path();
        Use(source);
    }
    void Use(const MapSource& source) {
        std::lock_guard<std::mutex> lock(State.SettingsLock);
        State.ActiveSource = std::make_shared<MapSource>(source);
        State.SourceContact = "https://example.org/about";
    }
    jtype TileRecord(const std::string& letters) const {
        jtype tile;
        tile.TileName = letters;
        tile.Url = Server->UrlPrefix() + letters;
        tile.FileName = Cache->Path() + letters + ".jpg";
        return tile;
    }
    RequestOutcome Fetch(const std::string& letters) {
        jtype tile = TileRecord(letters);
        std::string status;
        return RequestTile(State, tile, false, status);
    }

    static inline const std::string Tile = PadJpegToSize(MakeTileJpeg(64, 64, 7), 3000);
    std::unique_ptr<TileServer> Server;
    std::unique_ptr<TempDir> Cache;
    RecordingSink Sink;
    MainState State;
    FetchOptions Saved;
};

TEST_F(ListSourceTest, RequestLinesOfEachKindOfSource) {
    struct Case {
        const char* Name;
        bool Main;
        std::string UserAgent;
        std::vector<std::pair<std::string, std::string>> Headers;
        std::string Lines;  // after the Host line
    };
    const Case cases[] = {
        {"main source: the four lines, nothing else",
         true,
         "",
         {},
         "Accept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"},
        {"list source: honest agent, images accepted",
         false,
         "",
         {},
         "User-Agent: Vistrel/2.0 (+https://example.org/about)\r\n"
         "Accept: image/jpeg, image/*;q=0.8\r\n"},
        {"list source: own agent and a Referer",
         false,
         "Mine/1.0",
         {{"Referer", "https://maps.example/"}, {"X-Key", "k"}},
         "User-Agent: Mine/1.0\r\nAccept: image/jpeg, image/*;q=0.8\r\n"
         "Referer: https://maps.example/\r\nX-Key: k\r\n"},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        MapSource source;
        source.Name = c.Main ? MainSourceName : "Список";
        source.Url = Server->UrlPrefix();
        source.UserAgent = c.UserAgent;
        source.Headers = c.Headers;
        Use(source);
        const size_t before = Server->Requests().size();
        EXPECT_EQ(Fetch("q"), RequestOutcome::Stored);
        ASSERT_EQ(Server->Requests().size(), before + 1);
        EXPECT_EQ(Server->Requests().back(), "GET /kh?v=9&n=404&t=tq HTTP/1.1\r\nHost: 127.0.0.1:" +
                                                 std::to_string(Server->Port()) + "\r\n" + c.Lines +
                                                 "\r\n");
    }
}

TEST_F(ListSourceTest, ListSourceKeepsOneConnectionMainSourceOpensOneEach) {
    for (const bool main : {false, true}) {
        SCOPED_TRACE(main ? "main" : "list");
        MapSource source;
        source.Name = main ? MainSourceName : "Keep";
        Start({}, source);
        const std::string letters[] = {"q", "r", "s", "t", "qq", "qr", "qs", "qt", "rq", "rr"};
        for (const std::string& l : letters) EXPECT_EQ(Fetch(l), RequestOutcome::Stored);
        EXPECT_EQ(Server->Stats().Tiles, 10u);
        EXPECT_EQ(Server->Stats().Accepts, main ? 10u : 1u);
    }
}

TEST_F(ListSourceTest, HostCapHoldsAcrossWorkers) {
    struct Case {
        int Workers, Cap;
    };
    for (const Case c : {Case{3, 1}, Case{4, 2}}) {
        SCOPED_TRACE(std::to_string(c.Workers) + " workers, cap " + std::to_string(c.Cap));
        ServerOptions options;
        options.Faults.DelayMs = 15;
        MapSource source;
        source.MaxConnections = c.Cap;
        Start(options, source);
        std::vector<std::thread> workers;
        std::atomic<int> stored{0};
        for (int w = 0; w < c.Workers; ++w)
            workers.emplace_back([&, w] {
                for (char l : std::string("qrst"))
                    if (Fetch(std::string(1, "qrst"[w % 4]) + l) == RequestOutcome::Stored)
                        ++stored;
            });
        for (std::thread& t : workers) t.join();
        EXPECT_EQ(stored, c.Workers * 4);
        EXPECT_EQ(Server->Stats().MostBusy, static_cast<uint64_t>(c.Cap));
        EXPECT_LE(Server->Stats().Accepts, static_cast<uint64_t>(c.Cap));
    }
}

TEST_F(ListSourceTest, RetryAfterHoldsEveryWorkerOfTheHostAndIsNoError) {
    for (const bool dated : {false, true}) {
        // A date is at least a second ahead only when made as the case starts.
        const std::string retryAfter = dated ? HttpDateIn(2) : "1";
        SCOPED_TRACE(retryAfter);
        std::mutex lock;
        std::vector<Clock::time_point> times;
        std::atomic<bool> refused{false};
        ServerOptions options;
        options.Answer = [&](const std::string&) -> std::optional<std::string> {
            std::lock_guard<std::mutex> guard(lock);
            times.push_back(Clock::now());
            if (refused.exchange(true)) return std::nullopt;
            return "HTTP/1.1 429 Too Many Requests\r\nRetry-After: " + retryAfter +
                   "\r\nContent-Length: 0\r\n\r\n";
        };
        Start(options);
        WorkerContext worker;
        jtype first = TileRecord("q");
        auto firstDone =
            std::async(std::launch::async, [&] { return GetTile(State, worker, first); });
        ASSERT_TRUE(Server->WaitForRequests(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // Another worker of the host, after the 429: it waits too.
        EXPECT_EQ(Fetch("r"), RequestOutcome::Stored);
        EXPECT_TRUE(firstDone.get());
        ASSERT_EQ(times.size(), 3u);
        EXPECT_GE(times[1] - times[0], std::chrono::milliseconds(900));
        EXPECT_GE(times[2] - times[0], std::chrono::milliseconds(900));
        EXPECT_EQ(worker.FetchErrors, 0);
        EXPECT_TRUE(Cache->Exists("q.jpg"));
    }
}

TEST_F(ListSourceTest, ServerThatNeverStopsRefusingEndsAsAFetchError) {
    struct Case {
        const char* Name;
        std::string Answer;
        int MinMs, MaxMs;  // how long the request took
    };
    const Case cases[] = {
        // A year is cut to the longest wait (3 s here); the budget (5 s) allows one.
        {"a year", "HTTP/1.1 429 Too Many Requests\r\nRetry-After: 31536000\r\n", 2900, 4500},
        // 1 + 2 s, then 4 s would pass the budget.
        {"none given", "HTTP/1.1 429 Too Many Requests\r\n", 2900, 4500},
        // A 503 without Retry-After is an ordinary failure: no wait.
        {"503 plain", "HTTP/1.1 503 Service Unavailable\r\n", 0, 800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ServerOptions options;
        options.Answer = [&](const std::string&) -> std::optional<std::string> {
            return c.Answer + "Content-Length: 0\r\n\r\n";
        };
        Start(options);
        WorkerContext worker;
        jtype tile = TileRecord("q");
        const auto start = Clock::now();
        EXPECT_FALSE(GetTile(State, worker, tile));
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_GE(ms, c.MinMs);
        EXPECT_LE(ms, c.MaxMs);
        EXPECT_EQ(worker.FetchErrors, 1);
    }
}

TEST_F(ListSourceTest, StopCutsAWaitShort) {
    ServerOptions options;
    options.Answer = [](const std::string&) -> std::optional<std::string> {
        return "HTTP/1.1 429 Too Many Requests\r\nRetry-After: 3\r\nContent-Length: 0\r\n\r\n";
    };
    Start(options);
    std::atomic<bool> stop{false};
    WorkerContext worker;
    worker.Stopping = [&] { return stop.load(); };
    jtype tile = TileRecord("q");
    auto done = std::async(std::launch::async, [&] { return GetTile(State, worker, tile); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = Clock::now();
    stop = true;
    EXPECT_FALSE(done.get());
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(ListSourceTest, AnswersThatAreNoTilesAreNeverCached) {
    struct Case {
        const char* Name;
        std::string ContentType;
        std::string Body;
    };
    const Case cases[] = {
        {"error page", "text/html", "<html><body>blocked</body></html>"},
        {"a tile's bytes called a page", "text/html; charset=utf-8", Tile},
        {"no type at all", "", Tile},
        {"an image that does not decode", "image/jpeg", std::string(600, 'x') + "\xFF\xD9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        ServerOptions options;
        options.Answer = [&](const std::string&) -> std::optional<std::string> {
            return "HTTP/1.1 200 OK\r\n" +
                   (c.ContentType.empty() ? "" : "Content-Type: " + c.ContentType + "\r\n") +
                   "Content-Length: " + std::to_string(c.Body.size()) + "\r\n\r\n" + c.Body;
        };
        Start(options);
        EXPECT_EQ(Fetch("q"), RequestOutcome::Undecodable);
        EXPECT_FALSE(Cache->Exists("q.jpg"));
    }
}

TEST_F(ListSourceTest, NoImageryAnswerIsAPlaceholderCountedApart) {
    for (const bool main : {true, false}) {
        SCOPED_TRACE(main ? "main" : "list");
        MapSource source;
        source.Name = main ? MainSourceName : "Нет";
        source.NoImagery = {std::string(64, '0'), Sha256Hex(Tile)};
        Start({}, source);
        RecordingLog log;
        WorkerContext worker;
        worker.IsTask = true;
        worker.Log = &log;
        jtype tile = TileRecord("q");
        auto image = std::make_unique<JpegImage>();
        tile.Image = std::move(image);
        EXPECT_TRUE(GetTile(State, worker, tile));
        EXPECT_FALSE(Cache->Exists("q.jpg"));
        EXPECT_EQ(worker.NoImageryTiles, 1);
        EXPECT_EQ(worker.FetchErrors + worker.BadFileErrors + worker.WriteErrors, 0);
        ASSERT_EQ(log.Lines.size(), 1u);
        EXPECT_EQ(log.Lines[0], "нет снимка " + tile.Url);
    }
}

TEST_F(ListSourceTest, OldTileIsAskedForConditionally) {
    struct Case {
        const char* Name;
        bool Main;
        int AgeDays, RefreshDays;
        bool Asked;
    };
    const Case cases[] = {
        {"list, old", false, 10, 5, true},
        {"list, young", false, 2, 5, false},
        {"list, never", false, 400, 0, false},
        {"main, set by the user", true, 10, 5, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        MapSource source;
        source.Name = c.Main ? MainSourceName : "Обн";
        source.RefreshDays = c.RefreshDays;
        Start({}, source);
        ASSERT_TRUE(Cache->WriteFile("q.jpg", Tile));
        const std::time_t old = std::time(nullptr) - c.AgeDays * 86400;
        const timespec times[2] = {{old, 0}, {old, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, Cache->File("q.jpg").c_str(), times, 0), 0);
        // A kept ETag goes along where the file system keeps attributes.
        const bool etagKept =
            setxattr(Cache->File("q.jpg").c_str(), "user.vistrel.etag", "\"e1\"", 4, 0) == 0;

        WorkerContext worker;
        jtype tile = TileRecord("q");
        tile.Image = std::make_unique<JpegImage>();
        EXPECT_TRUE(GetTile(State, worker, tile));
        ASSERT_EQ(Server->Requests().size(), c.Asked ? 1u : 0u);
        struct stat info {};
        ASSERT_EQ(stat(Cache->File("q.jpg").c_str(), &info), 0);
        if (!c.Asked) {
            EXPECT_EQ(info.st_mtime, old);
            continue;
        }
        const std::string head = Server->Requests()[0];
        std::tm tm{};
        gmtime_r(&old, &tm);
        char date[64];
        std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S GMT", &tm);
        EXPECT_NE(head.find(std::string("If-Modified-Since: ") + date + "\r\n"), std::string::npos)
            << head;
        if (etagKept) {
            EXPECT_NE(head.find("If-None-Match: \"e1\"\r\n"), std::string::npos);
        }
        if (c.Main) {
            EXPECT_NE(head.find("Indy Library"), std::string::npos);
        }
        // The server's ETag is another one: it sends the tile again (200),
        // or without an ETag kept, "not modified" (304).
        if (etagKept) {
            EXPECT_EQ(worker.UnchangedTiles, 0);
            EXPECT_EQ(Server->Stats().Tiles, 1u);
        } else {
            EXPECT_EQ(worker.UnchangedTiles, 1);
            EXPECT_EQ(Server->Stats().NotModified, 1u);
        }
        EXPECT_GE(info.st_mtime, std::time(nullptr) - 60);
        EXPECT_EQ(worker.FetchErrors, 0);
    }
}

TEST_F(ListSourceTest, NotModifiedTouchesTheFileAndNewTileReplacesIt) {
    const std::string newer = PadJpegToSize(MakeTileJpeg(64, 64, 99), 3000);
    for (const bool changed : {false, true}) {
        SCOPED_TRACE(changed ? "changed" : "unchanged");
        ServerOptions options;
        options.Answer = [&](const std::string& head) -> std::optional<std::string> {
            if (changed || head.find("If-Modified-Since:") == std::string::npos)
                return "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nETag: \"v2\"\r\n"
                       "Content-Length: " +
                       std::to_string(newer.size()) + "\r\n\r\n" + newer;
            return std::string("HTTP/1.1 304 Not Modified\r\n\r\n");
        };
        MapSource source;
        source.RefreshDays = 1;
        Start(options, source);
        ASSERT_TRUE(Cache->WriteFile("q.jpg", Tile));
        const std::time_t old = std::time(nullptr) - 3 * 86400;
        const timespec times[2] = {{old, 0}, {old, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, Cache->File("q.jpg").c_str(), times, 0), 0);
        WorkerContext worker;
        jtype tile = TileRecord("q");
        tile.Image = std::make_unique<JpegImage>();
        EXPECT_TRUE(GetTile(State, worker, tile));
        EXPECT_EQ(Cache->ReadFile("q.jpg"), changed ? newer : Tile);
        EXPECT_EQ(worker.UnchangedTiles, changed ? 0 : 1);
        struct stat info {};
        ASSERT_EQ(stat(Cache->File("q.jpg").c_str(), &info), 0);
        EXPECT_GE(info.st_mtime, std::time(nullptr) - 60);
    }
}

}  // namespace
