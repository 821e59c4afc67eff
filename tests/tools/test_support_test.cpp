// The shared test helpers are tested here, beside the tile server, because
// every subsystem's tests lean on them.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "support/http_script_server.h"
#include "support/raw_http.h"
#include "support/temp_dir.h"
#include "support/tile_factory.h"

namespace {

uint8_t Byte(const std::string& s, size_t fromEnd) {
    return static_cast<uint8_t>(s[s.size() - 1 - fromEnd]);
}

std::string Get(uint16_t port, const std::string& target) {
    return RawHttpExchange(port, "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n");
}

}  // namespace

TEST(TileFactory, PaddedImagesHaveTheExactSizeAndTheSamePixels) {
    struct Case {
        std::string Base;
        size_t Size;
    };
    const std::string solid = MakeSolidJpeg(8, 8, 10, 200, 30);
    const std::string small = MakeTileJpeg(32, 32, 3);
    const std::string tile = MakeTileJpeg();
    const Case cases[] = {
        {solid, 1000},
        {small, 1700},
        {small, 1701},
        {small, 2000},
        {small, 1200},
        {solid, solid.size()},
        {solid, solid.size() + 1},
        {solid, solid.size() + 3},
        {solid, solid.size() + 4},
        {tile, 65537 + tile.size()},
        {tile, 65538 + tile.size()},
        {tile, 200000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("base " + std::to_string(c.Base.size()) + " to " + std::to_string(c.Size));
        const std::string padded = PadJpegToSize(c.Base, c.Size);
        ASSERT_EQ(padded.size(), c.Size);
        EXPECT_EQ(Byte(padded, 1), 0xFF);
        EXPECT_EQ(Byte(padded, 0), 0xD9);
        int w0 = 0, h0 = 0, w1 = 0, h1 = 0;
        const std::vector<uint8_t> before = DecodeJpegRgb(c.Base, w0, h0);
        const std::vector<uint8_t> after = DecodeJpegRgb(padded, w1, h1);
        ASSERT_FALSE(after.empty());
        EXPECT_EQ(w1, w0);
        EXPECT_EQ(h1, h0);
        EXPECT_EQ(after, before);
    }
}

TEST(TileFactory, RefusesToShrinkAndMarksBrokenEnds) {
    const std::string tile = MakeTileJpeg();
    std::string result = "x";
    EXPECT_NONFATAL_FAILURE(result = PadJpegToSize(tile, 1700), "more than the 1700");
    EXPECT_EQ(result, "");
    EXPECT_NONFATAL_FAILURE(result = PadJpegToSize("not a jpeg", 1700), "not a JPEG");

    const std::string broken = WithLastBytes(PadJpegToSize(MakeTileJpeg(32, 32), 2000), 0xFF, 0xD8);
    ASSERT_EQ(broken.size(), 2000u);
    EXPECT_EQ(Byte(broken, 1), 0xFF);
    EXPECT_EQ(Byte(broken, 0), 0xD8);
    int w = 0, h = 0;
    EXPECT_TRUE(DecodeJpegRgb(broken, w, h).empty());
    EXPECT_TRUE(DecodeJpegRgb(tile.substr(0, tile.size() / 2), w, h).empty());
    EXPECT_EQ(w, 0);
}

TEST(TileFactory, SeedsGiveDifferentRepeatablePictures) {
    EXPECT_EQ(MakeTileJpeg(64, 64, 5), MakeTileJpeg(64, 64, 5));
    EXPECT_NE(MakeTileJpeg(64, 64, 5), MakeTileJpeg(64, 64, 6));
    int w = 0, h = 0;
    const std::vector<uint8_t> px = DecodeJpegRgb(MakeSolidJpeg(16, 16, 200, 40, 90, 95), w, h);
    ASSERT_EQ(px.size(), 16u * 16u * 3u);
    EXPECT_NEAR(px[0], 200, 3);
    EXPECT_NEAR(px[1], 40, 3);
    EXPECT_NEAR(px[2], 90, 3);
}

TEST(TempDirTest, FilesLiveInAFolderThatGoesAway) {
    std::string path;
    {
        TempDir dir;
        path = dir.Path();
        ASSERT_EQ(path.back(), '/');
        EXPECT_FALSE(dir.Exists("a/b.jpg"));
        ASSERT_TRUE(dir.WriteFile("a/b.jpg", std::string("x\0y", 3)));
        EXPECT_TRUE(dir.Exists("a/b.jpg"));
        EXPECT_EQ(dir.ReadFile("a/b.jpg"), std::string("x\0y", 3));
        EXPECT_EQ(dir.File("a/b.jpg"), path + "a/b.jpg");
        TempDir other;
        EXPECT_NE(other.Path(), path);
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(HttpScriptServer, AnswersInOrderAndRecordsRequestsExactly) {
    HttpScriptServer server;
    const std::string tile = MakeTileJpeg(32, 32);
    server.Push(ScriptedAnswer::Ok(tile));
    server.Push(ScriptedAnswer::Status(302, "Found", "Location: http://elsewhere/"));
    server.Push(ScriptedAnswer::Ok("abc", false));
    server.Push(ScriptedAnswer::Chunked(tile, 100));

    const std::string request = "GET /kh?v=9&n=404&t=tq HTTP/1.1\r\nHost: " + server.HostPort() +
                                "\r\nAccept: text/html, */*\r\n\r\n";
    RawHttpResponse r = ParseHttpResponse(RawHttpExchange(server.Port(), request));
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Header("content-length"), std::to_string(tile.size()));
    EXPECT_EQ(r.Body, tile);

    r = ParseHttpResponse(Get(server.Port(), "/2"));
    EXPECT_EQ(r.Raw,
              "HTTP/1.1 302 Found\r\nLocation: http://elsewhere/\r\nContent-Length: 0\r\n\r\n");

    r = ParseHttpResponse(Get(server.Port(), "/3"));
    EXPECT_EQ(r.Raw, "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n\r\nabc");

    r = ParseHttpResponse(Get(server.Port(), "/4"));
    EXPECT_TRUE(r.Chunked);
    EXPECT_TRUE(r.Complete);
    EXPECT_EQ(r.Body, tile);

    r = ParseHttpResponse(Get(server.Port(), "/5"));  // script used up
    EXPECT_EQ(r.Status, 404);

    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0], request);
    EXPECT_EQ(requests[4], "GET /5 HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(server.Connections(), 5u);
}

TEST(HttpScriptServer, CutShortHangupDelayAndSilence) {
    HttpScriptServer server;
    const std::string tile = MakeTileJpeg(32, 32);
    const ScriptedAnswer ok = ScriptedAnswer::Ok(tile);
    server.Push(ScriptedAnswer::Ok(tile).CutAfter(ok.Bytes.size() - 10));
    server.Push(ScriptedAnswer::Hangup());
    server.Push(ScriptedAnswer::Ok(tile).Delay(50));
    server.Push(ScriptedAnswer::NoAnswer(100));
    server.Push(ScriptedAnswer::NoAnswer());

    RawHttpResponse r = ParseHttpResponse(Get(server.Port(), "/cut"));
    EXPECT_EQ(r.Raw, ok.Bytes.substr(0, ok.Bytes.size() - 10));
    EXPECT_FALSE(r.Complete);

    EXPECT_EQ(Get(server.Port(), "/hangup"), "");
    EXPECT_EQ(ParseHttpResponse(Get(server.Port(), "/delay")).Body, tile);
    // Held for 100 ms, then closed without a byte; the client waits longer.
    EXPECT_EQ(RawHttpExchange(server.Port(), "GET /held HTTP/1.1\r\n\r\n", 10000), "");
    // Never answered: the client gives up first.
    EXPECT_EQ(RawHttpExchange(server.Port(), "GET /silent HTTP/1.1\r\n\r\n", 100), "");

    EXPECT_TRUE(server.WaitForRequests(4));
    const std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);  // the hangup read nothing
    EXPECT_EQ(requests[3], "GET /silent HTTP/1.1\r\n\r\n");
    EXPECT_EQ(server.Connections(), 5u);
}

TEST(HttpScriptServer, DestructionEndsHeldAndDelayedConnections) {
    std::string held = "x", delayed = "x";
    std::thread a, b;
    {
        HttpScriptServer server;
        server.Push(ScriptedAnswer::NoAnswer());
        server.Push(ScriptedAnswer::Ok("late").Delay(60000));
        const uint16_t port = server.Port();
        a = std::thread([&held, port] { held = Get(port, "/a"); });
        EXPECT_TRUE(server.WaitForRequests(1));
        b = std::thread([&delayed, port] { delayed = Get(port, "/b"); });
        EXPECT_TRUE(server.WaitForRequests(2));
    }
    a.join();
    b.join();
    EXPECT_EQ(held, "");
    EXPECT_EQ(delayed, "");
}
