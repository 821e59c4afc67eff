// The client of the list sources against the local tile server.
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

std::string HttpDate(std::time_t t) {
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
    // The tile "q" as a worker gets it.
    bool Get(WorkerContext& worker, bool withImage = false) {
        jtype tile = TileRecord("q");
        if (withImage) tile.Image = std::make_unique<JpegImage>();
        return GetTile(State, worker, tile);
    }
    static ServerOptions Replying(const std::string& reply) {
        ServerOptions options;
        options.Answer = [reply](const std::string&) -> std::optional<std::string> {
            return reply;
        };
        return options;
    }
    // The cached tile "q", last written at `when`.
    bool WriteTileAt(std::time_t when) const {
        const timespec times[2] = {{when, 0}, {when, 0}};
        return Cache->WriteFile("q.jpg", Tile) &&
               utimensat(AT_FDCWD, Cache->File("q.jpg").c_str(), times, 0) == 0;
    }
    std::time_t TileTime() const {
        struct stat info {};
        return stat(Cache->File("q.jpg").c_str(), &info) == 0 ? info.st_mtime : -1;
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
        bool Main, OwnLines;  // OwnLines: its own User-Agent, a Referer and a key
        std::string Lines;    // after the Host line
    };
    const std::string accept = "Accept: image/jpeg, image/*;q=0.8\r\n";
    const Case cases[] = {
        {"main source: the four lines, nothing else", true, false,
         "Accept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"},
        {"list source: honest agent, images accepted", false, false,
         "User-Agent: Vistrel/2.0 (+https://example.org/about)\r\n" + accept},
        {"list source: own agent and a Referer", false, true,
         "User-Agent: Mine/1.0\r\n" + accept + "Referer: https://maps.example/\r\nX-Key: k\r\n"},
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        MapSource source;
        source.Name = c.Main ? MainSourceName : "Список";
        source.Url = Server->UrlPrefix();
        if (c.OwnLines) {
            source.UserAgent = "Mine/1.0";
            source.Headers = {{"Referer", "https://maps.example/"}, {"X-Key", "k"}};
        }
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
        for (const char* l : {"q", "r", "s", "t", "qq", "qr", "qs", "qt", "rq", "rr"})
            EXPECT_EQ(Fetch(l), RequestOutcome::Stored);
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
        const std::string retryAfter = dated ? HttpDate(std::time(nullptr) + 2) : "1";
        SCOPED_TRACE(retryAfter);
        std::mutex lock;
        std::vector<Clock::time_point> times;
        ServerOptions options;
        options.Answer = [&](const std::string&) -> std::optional<std::string> {
            std::lock_guard<std::mutex> guard(lock);
            times.push_back(Clock::now());
            if (times.size() > 1) return std::nullopt;
            return "HTTP/1.1 429 Too Many Requests\r\nRetry-After: " + retryAfter +
                   "\r\nContent-Length: 0\r\n\r\n";
        };
        Start(options);
        WorkerContext worker;
        auto firstDone = std::async(std::launch::async, [&] { return Get(worker); });
        ASSERT_TRUE(Server->WaitForRequests(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        // Another worker of the host, after the 429: it waits too.
        EXPECT_EQ(Fetch("r"), RequestOutcome::Stored);
        EXPECT_TRUE(firstDone.get());
        ASSERT_EQ(times.size(), 3u);
        for (const size_t i : {1, 2})
            EXPECT_GE(times[i] - times[0], std::chrono::milliseconds(900));
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
        Start(Replying(c.Answer + "Content-Length: 0\r\n\r\n"));
        WorkerContext worker;
        const auto start = Clock::now();
        EXPECT_FALSE(Get(worker));
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_GE(ms, c.MinMs);
        EXPECT_LE(ms, c.MaxMs);
        EXPECT_EQ(worker.FetchErrors, 1);
    }
}

TEST_F(ListSourceTest, StopCutsAWaitShort) {
    Start(
        Replying("HTTP/1.1 429 Too Many Requests\r\nRetry-After: 3\r\nContent-Length: 0\r\n\r\n"));
    std::atomic<bool> stop{false};
    WorkerContext worker;
    worker.Stopping = [&] { return stop.load(); };
    auto done = std::async(std::launch::async, [&] { return Get(worker); });
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
        Start(Replying("HTTP/1.1 200 OK\r\n" +
                       (c.ContentType.empty() ? "" : "Content-Type: " + c.ContentType + "\r\n") +
                       "Content-Length: " + std::to_string(c.Body.size()) + "\r\n\r\n" + c.Body));
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
        EXPECT_TRUE(Get(worker, true));
        EXPECT_FALSE(Cache->Exists("q.jpg"));
        EXPECT_EQ(worker.NoImageryTiles, 1);
        EXPECT_EQ(worker.FetchErrors + worker.BadFileErrors + worker.WriteErrors, 0);
        ASSERT_EQ(log.Lines.size(), 1u);
        EXPECT_EQ(log.Lines[0], "нет снимка " + TileRecord("q").Url);
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
        const std::time_t old = std::time(nullptr) - c.AgeDays * 86400;
        ASSERT_TRUE(WriteTileAt(old));
        // A kept ETag goes along where the file system keeps attributes.
        const bool etagKept =
            setxattr(Cache->File("q.jpg").c_str(), "user.vistrel.etag", "\"e1\"", 4, 0) == 0;
        WorkerContext worker;
        EXPECT_TRUE(Get(worker, true));
        ASSERT_EQ(Server->Requests().size(), c.Asked ? 1u : 0u);
        if (!c.Asked) {
            EXPECT_EQ(TileTime(), old);
            continue;
        }
        const std::string head = Server->Requests()[0];
        EXPECT_NE(head.find("If-Modified-Since: " + HttpDate(old) + "\r\n"), std::string::npos)
            << head;
        if (etagKept) {
            EXPECT_NE(head.find("If-None-Match: \"e1\"\r\n"), std::string::npos);
        }
        if (c.Main) {
            EXPECT_NE(head.find("Indy Library"), std::string::npos);
        }
        // The server's ETag is another one: it sends the tile again (200),
        // or without an ETag kept, "not modified" (304).
        EXPECT_EQ(worker.UnchangedTiles, etagKept ? 0 : 1);
        EXPECT_EQ(etagKept ? Server->Stats().Tiles : Server->Stats().NotModified, 1u);
        EXPECT_GE(TileTime(), std::time(nullptr) - 60);
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
        ASSERT_TRUE(WriteTileAt(std::time(nullptr) - 3 * 86400));
        WorkerContext worker;
        EXPECT_TRUE(Get(worker, true));
        EXPECT_EQ(Cache->ReadFile("q.jpg"), changed ? newer : Tile);
        EXPECT_EQ(worker.UnchangedTiles, changed ? 0 : 1);
        EXPECT_GE(TileTime(), std::time(nullptr) - 60);
    }
}

}  // namespace
