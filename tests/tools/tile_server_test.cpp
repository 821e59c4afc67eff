#include "tile_server.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/raw_http.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"

using namespace vistrel::tileserver;

namespace {

std::string Target(const std::string& letters) {
    return kDefaultRequestPrefix + letters;
}

// Distinct keys, so every request is a first attempt.
std::vector<std::string> ManyKeys(size_t count) {
    std::vector<std::string> keys;
    for (size_t i = 0; keys.size() < count; ++i) {
        std::string key = "r";
        for (size_t n = i; n > 0; n /= 4) key += "qrst"[n % 4];
        keys.push_back(key);
    }
    return keys;
}

std::vector<int> Statuses(TileServer& server, const std::vector<std::string>& keys) {
    std::vector<int> statuses;
    for (const std::string& key : keys)
        statuses.push_back(RawHttpGet(server.Port(), Target(key)).Status);
    return statuses;
}

}  // namespace

TEST(TileServer, ServesRenderedTilesOverHttp) {
    TileServer server;
    ASSERT_TRUE(server.Start(0));
    ASSERT_NE(server.Port(), 0);
    EXPECT_EQ(server.UrlPrefix(),
              "http://127.0.0.1:" + std::to_string(server.Port()) + "/kh?v=9&n=404&t=t");

    for (const std::string letters : {"rtt", "", "rtqsrqrqrr"}) {
        SCOPED_TRACE("tile '" + letters + "'");
        const RawHttpResponse r = RawHttpGet(server.Port(), Target(letters));
        EXPECT_EQ(r.StatusLine, "HTTP/1.1 200 OK");
        EXPECT_EQ(r.Header("Content-Type"), "image/jpeg");
        EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.Body.size()));
        EXPECT_TRUE(r.Complete);
        EXPECT_EQ(r.Body, RenderTileJpeg(letters, 85));
        int w = 0, h = 0;
        EXPECT_FALSE(DecodeJpegRgb(r.Body, w, h).empty());
        EXPECT_EQ(w, 256);
    }
    const ServerStats stats = server.Stats();
    EXPECT_EQ(stats.Requests, 3u);
    EXPECT_EQ(stats.Tiles, 3u);
}

TEST(TileServer, AnswersEverythingElseWith404Or405) {
    TileServer server;
    ASSERT_TRUE(server.Start(0));
    for (const char* target : {"/", "/kh?v=9&n=404&t=tqx", "/kh?v=9&n=404&t=",
                               "/kh?v=9&n=404&t=tqqqqqqqqqqqqqqqqqqqqq", "/favicon.ico"}) {
        const RawHttpResponse r = RawHttpGet(server.Port(), target);
        EXPECT_EQ(r.Status, 404) << target;
        EXPECT_TRUE(r.Complete) << target;
    }
    const RawHttpResponse post = ParseHttpResponse(RawHttpExchange(
        server.Port(), "POST /kh?v=9&n=404&t=tq HTTP/1.1\r\nContent-Length: 0\r\n\r\n"));
    EXPECT_EQ(post.Status, 405);
    // A head that never ends is dropped without an answer once the client leaves.
    EXPECT_EQ(RawHttpExchange(server.Port(), "GET /kh?v=9&n=404&t=tq HTTP/1.1\r\n", 200), "");
}

TEST(TileServer, ServesTheGivenSourceBeforeAFolder) {
    TempDir dir;
    ASSERT_TRUE(dir.WriteFile("q.jpg", "from the folder"));
    ServerOptions options;
    options.Folder = dir.Path();
    options.Source = [](const std::string& letters) -> std::optional<std::string> {
        if (letters == "r") return std::nullopt;
        return "source " + letters;
    };
    TileServer server(options);
    ASSERT_TRUE(server.Start(0));
    EXPECT_EQ(RawHttpGet(server.Port(), Target("q")).Body, "source q");
    EXPECT_EQ(RawHttpGet(server.Port(), Target("")).Body, "source ");
    EXPECT_EQ(RawHttpGet(server.Port(), Target("r")).Status, 404);
}

TEST(TileServer, ServesAFolderOfTiles) {
    TempDir dir;
    const std::string rtt = MakeTileJpeg(256, 256, 7);
    const std::string world = MakeTileJpeg(256, 256, 8);
    ASSERT_TRUE(dir.WriteFile("rtt.jpg", rtt));
    ASSERT_TRUE(dir.WriteFile(".jpg", world));
    for (const std::string& folder : {dir.Path(), dir.Path().substr(0, dir.Path().size() - 1)}) {
        ServerOptions options;
        options.Folder = folder;
        TileServer server(options);
        ASSERT_TRUE(server.Start(0));
        EXPECT_EQ(RawHttpGet(server.Port(), Target("rtt")).Body, rtt);
        EXPECT_EQ(RawHttpGet(server.Port(), Target("")).Body, world);
        EXPECT_EQ(RawHttpGet(server.Port(), Target("rts")).Status, 404);
    }
}

TEST(TileServer, ErrorSharesAreRepeatableForASeed) {
    const std::vector<std::string> keys = ManyKeys(200);
    struct Case {
        double NotFound, ServerError;
        int Status;  // the error status whose share is set
    };
    for (const Case& c : {Case{0.5, 0, 404}, Case{0, 0.3, 500}}) {
        SCOPED_TRACE("status " + std::to_string(c.Status));
        ServerOptions options;
        options.Source = [](const std::string& letters) { return "tile " + letters; };
        options.Faults.NotFoundShare = c.NotFound;
        options.Faults.ServerErrorShare = c.ServerError;
        std::vector<std::vector<int>> runs;
        for (uint64_t seed : {42, 42, 43}) {
            options.Seed = seed;
            TileServer server(options);
            ASSERT_TRUE(server.Start(0));
            runs.push_back(Statuses(server, keys));
        }
        const double share = c.NotFound + c.ServerError;
        const long errors = std::count(runs[0].begin(), runs[0].end(), c.Status);
        const long ok = std::count(runs[0].begin(), runs[0].end(), 200);
        EXPECT_EQ(errors + ok, 200);
        EXPECT_NEAR(errors, share * 200, 30);
        EXPECT_EQ(runs[0], runs[1]);
        EXPECT_NE(runs[0], runs[2]);
    }
}

TEST(TileServer, RetriesOfOneTileDrawAfresh) {
    ServerOptions options;
    options.Source = [](const std::string& letters) { return "tile " + letters; };
    options.Faults.NotFoundShare = 0.5;
    TileServer server(options);
    ASSERT_TRUE(server.Start(0));
    const std::vector<int> statuses = Statuses(server, std::vector<std::string>(24, "rtt"));
    EXPECT_GT(std::count(statuses.begin(), statuses.end(), 404), 0);
    EXPECT_GT(std::count(statuses.begin(), statuses.end(), 200), 0);
}

TEST(TileServer, AllOrNothingSharesAndChangesWhileRunning) {
    ServerOptions options;
    options.Source = [](const std::string& letters) { return "tile " + letters; };
    TileServer server(options);
    ASSERT_TRUE(server.Start(0));
    const std::vector<std::string> keys = ManyKeys(20);
    EXPECT_EQ(Statuses(server, keys), std::vector<int>(20, 200));
    FaultOptions faults;
    faults.ServerErrorShare = 1;
    server.SetFaults(faults);
    EXPECT_EQ(Statuses(server, keys), std::vector<int>(20, 500));
    faults = {};
    faults.NotFoundShare = 1;
    server.SetFaults(faults);
    EXPECT_EQ(Statuses(server, keys), std::vector<int>(20, 404));
    const ServerStats stats = server.Stats();
    EXPECT_EQ(stats.Tiles, 20u);
    EXPECT_EQ(stats.ServerErrors, 20u);
    EXPECT_EQ(stats.NotFound, 20u);
}

TEST(TileServer, CutShortBodyKeepsTheFullContentLength) {
    ServerOptions options;
    options.Faults.CutShortShare = 1;
    TileServer server(options);
    ASSERT_TRUE(server.Start(0));
    const std::string full = RenderTileJpeg("rtt", 85);
    const RawHttpResponse r = RawHttpGet(server.Port(), Target("rtt"));
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(full.size()));
    EXPECT_FALSE(r.Complete);
    EXPECT_EQ(r.Body, full.substr(0, full.size() / 2));
    EXPECT_EQ(server.Stats().CutShort, 1u);
}

TEST(TileServer, ChunkedAnswerCarriesTheWholeTile) {
    ServerOptions options;
    options.Faults.ChunkedShare = 1;
    TileServer server(options);
    ASSERT_TRUE(server.Start(0));
    const RawHttpResponse r = RawHttpGet(server.Port(), Target("rtt"));
    EXPECT_EQ(r.Status, 200);
    EXPECT_TRUE(r.Chunked);
    EXPECT_EQ(r.Header("Content-Length"), "");
    EXPECT_TRUE(r.Complete);
    EXPECT_EQ(r.Body, RenderTileJpeg("rtt", 85));
    EXPECT_GT(r.Raw.size(), r.Body.size() + 10);  // really in more than one chunk
}

TEST(TileServer, StopCutsADelayedAnswerShort) {
    ServerOptions options;
    options.Faults.DelayMs = 60000;
    TileServer server(options);
    ASSERT_TRUE(server.Start(0));
    std::string answer = "not yet";
    std::thread client([&] {
        answer = RawHttpExchange(server.Port(), "GET " + Target("q") + " HTTP/1.1\r\n\r\n", 120000);
    });
    while (server.Stats().Requests == 0) std::this_thread::yield();
    server.Stop();
    client.join();
    EXPECT_EQ(answer, "");  // closed without an answer, long before the delay ends
    EXPECT_EQ(server.Port(), 0);
}

TEST(TileServer, ParallelClientsGetTheirOwnTiles) {
    TileServer server;
    ASSERT_TRUE(server.Start(0));
    const std::vector<std::string> keys = ManyKeys(6);
    std::vector<std::string> expected;
    for (const std::string& key : keys) expected.push_back(RenderTileJpeg(key, 85));
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c) {
        clients.emplace_back([&, c] {
            for (size_t i = 0; i < keys.size(); ++i) {
                const size_t k = (i + static_cast<size_t>(c)) % keys.size();
                if (RawHttpGet(server.Port(), Target(keys[k])).Body != expected[k])
                    ++wrong[static_cast<size_t>(c)];
            }
        });
    }
    for (std::thread& t : clients) t.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
    EXPECT_EQ(server.Stats().Tiles, 24u);
}

TEST(TileServer, BusyPortFailsWithAReasonAndRestartWorks) {
    TileServer first;
    ASSERT_TRUE(first.Start(0));
    TileServer second;
    std::string error;
    EXPECT_FALSE(second.Start(first.Port(), &error));
    EXPECT_NE(error.find("bind"), std::string::npos) << error;
    EXPECT_EQ(second.Port(), 0);
    EXPECT_FALSE(first.Start(0, &error));  // already running

    const uint16_t port = first.Port();
    first.Stop();
    first.Stop();
    EXPECT_EQ(RawHttpGet(port, Target("q"), 500).Status, 0);
    ASSERT_TRUE(second.Start(port, &error)) << error;
    EXPECT_EQ(RawHttpGet(port, Target("q")).Status, 200);
}
