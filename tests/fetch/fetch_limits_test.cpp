// What a request does against servers that answer too much, too slowly, or
// not at all, and how it says why it failed.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <new>
#include <thread>

#include "fetch_fixture.h"
#include "platform/file_io.h"

namespace {

// Allocations above this many bytes fail on the thread that sets it, as they
// do when memory runs out; 0 lets everything through.
thread_local std::size_t FailAllocationsAbove = 0;

using namespace std::chrono_literals;

const std::string& Tile30k() {
    static const std::string tile = PadJpegToSize(MakeTileJpeg(), 30000);
    return tile;
}

RequestOutcome RequestOnItsOwnThread(MainState& state, jtype& tile, std::string& failure,
                                     std::chrono::seconds guard = 30s) {
    auto done = std::async(std::launch::async, [&] {
        std::string status;
        return RequestTile(state, tile, false, status, &failure);
    });
    if (done.wait_for(guard) != std::future_status::ready) {
        ADD_FAILURE() << "the request did not end";
        std::abort();  // the request still uses the test's objects
    }
    return done.get();
}

class FetchLimits : public FetchTest {
  protected:
    void Limit(const std::function<void(FetchOptions&)>& change) {
        FetchOptions options = GetFetchOptions();
        change(options);
        SetFetchOptions(options);
    }
};

}  // namespace

void* operator new(std::size_t size) {
    if (FailAllocationsAbove != 0 && size > FailAllocationsAbove) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

TEST_F(FetchLimits, AnswersLargerThanATileAreRefusedBeforeDecoding) {
    struct Case {
        int Width, Height;
        RequestOutcome Outcome;
    };
    const Case cases[] = {
        {256, 256, RequestOutcome::Stored},        {128, 64, RequestOutcome::Stored},
        {257, 256, RequestOutcome::Undecodable},   {256, 512, RequestOutcome::Undecodable},
        {1024, 1024, RequestOutcome::Undecodable},
    };
    for (const Case& c : cases) {
        Server.Push(ScriptedAnswer::Ok(MakeTileJpeg(c.Width, c.Height)));
        jtype tile = Tile("q");
        std::string status, failure;
        EXPECT_EQ(RequestTile(State, tile, false, status, &failure), c.Outcome) << c.Width;
        const bool stored = c.Outcome == RequestOutcome::Stored;
        EXPECT_EQ(Cache.Exists("q.jpg"), stored) << c.Width;
        EXPECT_EQ(tile.Image->HasPicture(), stored) << c.Width;
        if (!stored) {
            EXPECT_EQ(failure, "answer is a " + std::to_string(c.Width) + "x" +
                                   std::to_string(c.Height) + " picture, larger than a tile");
        }
        RemoveFile(Cache.File("q.jpg"));
    }
}

TEST_F(FetchLimits, ATricklingServerMeetsTheTotalDeadline) {
    Limit([](FetchOptions& o) {
        o.TotalTimeoutMs = 1500;
        o.StallSeconds = 20;  // the head alone takes a second at this rate
    });
    // 100 bytes/s never stalls, and would take five minutes.
    Server.Push(ScriptedAnswer::Ok(Tile30k()).Trickle(10, 100));
    jtype tile = Tile("q");
    std::string failure;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RequestOnItsOwnThread(State, tile, failure), RequestOutcome::RequestFailed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_EQ(failure, "answer from " + Server.HostPort() + " not complete within 1 s");
    EXPECT_FALSE(Cache.Exists("q.jpg"));
}

TEST_F(FetchLimits, AnswersInFlightTogetherStayWithinTheirBudget) {
    Limit([](FetchOptions& o) { o.MaxBodyBytesInFlight = 40000; });
    // The first answer sends 30000 of its bytes and holds the connection.
    const std::string big = PadJpegToSize(MakeTileJpeg(), 100000);
    const ScriptedAnswer held = ScriptedAnswer::Ok(big);
    Server.Push(
        ScriptedAnswer(held).CutAfter(held.Bytes.size() - big.size() + 30000).ThenHold(1000));
    jtype first = Tile("q");
    std::string firstFailure;
    auto firstDone = std::async(std::launch::async, [&] {
        std::string status;
        return RequestTile(State, first, false, status, &firstFailure);
    });
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (BodyBytesInFlight() < 30000 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(10ms);
    ASSERT_GE(BodyBytesInFlight(), 30000u);

    Server.Push(ScriptedAnswer::Ok(Tile30k()));
    jtype second = Tile("r");
    std::string failure;
    EXPECT_EQ(RequestOnItsOwnThread(State, second, failure), RequestOutcome::RequestFailed);
    EXPECT_EQ(failure, "answers in flight would hold more than 39 KB");
    EXPECT_FALSE(Cache.Exists("r.jpg"));

    // The held answer is cut short; its share comes back.
    EXPECT_EQ(firstDone.get(), RequestOutcome::RequestFailed);
    EXPECT_EQ(BodyBytesInFlight(), 0u);
    Server.Push(ScriptedAnswer::Ok(Tile30k()));
    EXPECT_EQ(RequestOnItsOwnThread(State, second, failure), RequestOutcome::Stored);
}

TEST_F(FetchLimits, NoMemoryForTheAnswerFailsTheRequestInsteadOfTheProcess) {
    Server.Push(ScriptedAnswer::Ok(Tile30k()));
    jtype tile = Tile("q");
    std::string failure;
    auto done = std::async(std::launch::async, [&] {
        std::string status;
        FailAllocationsAbove = 16384;
        const RequestOutcome outcome = RequestTile(State, tile, false, status, &failure);
        FailAllocationsAbove = 0;
        return outcome;
    });
    EXPECT_EQ(done.get(), RequestOutcome::RequestFailed);
    EXPECT_EQ(failure, "no memory for the answer from " + Server.HostPort());
    EXPECT_EQ(BodyBytesInFlight(), 0u);
}

TEST_F(FetchLimits, EveryFailureSaysWhyInWords) {
    const std::string peer = Server.HostPort();
    struct Case {
        const char* Name;
        ScriptedAnswer Answer;
        std::string Failure;
    };
    const Case cases[] = {
        {"NotFound", ScriptedAnswer::Status(404, "Not Found"), "answer 404 Not Found from " + peer},
        {"Redirect", ScriptedAnswer::Status(302, "Found", "Location: /elsewhere"),
         "redirect (not followed): 302 Found from " + peer},
        {"NoAnswerAtAll", ScriptedAnswer::Raw(""), "empty reply from " + peer},
        {"CutShort", ScriptedAnswer::Ok(Tile30k()).CutAfter(5000),
         "answer from " + peer + " cut short"},
        {"Stalled", ScriptedAnswer::NoAnswer(), "answer from " + peer + " stalled"},
        {"NoEndMarker", ScriptedAnswer::Ok(std::string(100, 'x')),
         "answer without the JPEG end marker"},
        {"Empty", ScriptedAnswer::Ok("ab"), "empty answer"},
    };
    for (const Case& c : cases) {
        Server.Push(c.Answer);
        jtype tile = Tile("q");
        std::string failure;
        RequestOnItsOwnThread(State, tile, failure);
        EXPECT_EQ(failure, c.Failure) << c.Name;
    }
    jtype refused = Tile("q");
    const uint16_t closed = ClosedPort();
    refused.Url = "http://127.0.0.1:" + std::to_string(closed) + "/kh?v=9&n=404&t=tq";
    std::string failure;
    EXPECT_EQ(RequestOnItsOwnThread(State, refused, failure), RequestOutcome::RequestFailed);
    EXPECT_EQ(failure, "connection refused by 127.0.0.1:" + std::to_string(closed));
}

TEST_F(FetchLimits, GetTileCountsTheReasonsOfATask) {
    Server.Push(ScriptedAnswer::Status(500, "Internal Server Error"));
    Server.Push(ScriptedAnswer::Status(404, "Not Found"));
    Server.Push(ScriptedAnswer::Status(404, "Not Found"));
    Server.Push(ScriptedAnswer::Ok(MakeTileJpeg()));
    FailureTally tally;
    WorkerContext worker;
    worker.IsTask = true;
    worker.Failures = &tally;
    for (const char* letters : {"q", "r", "s", "t"}) {
        jtype tile = Tile(letters);
        GetTile(State, worker, tile);
    }
    const FailureTally::Commonest most = tally.Most();
    EXPECT_EQ(most.Reason, "answer 404 Not Found from " + Server.HostPort());
    EXPECT_EQ(most.Count, 2);
    EXPECT_EQ(most.Total, 3);
}
