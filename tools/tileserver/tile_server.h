// A small HTTP server on 127.0.0.1 that answers tile requests with JPEG tiles
// of the procedural planet (or from a folder of tile files), with optional
// faults for tests and demos.
//
// Any GET whose target ends in "t=t" followed by key letters q r s t (at most
// 20) is a tile request, e.g. "/kh?v=9&n=404&t=trtq"; zero letters is the
// whole world. Every other target gets 404. Each answer closes its connection
// unless KeepAlive is set. Tiles carry an ETag; the planet never changes, so
// a conditional request (If-None-Match, If-Modified-Since) gets 304.
//
// In-process use (tests, benchmarks):
//
//     vistrel::tileserver::TileServer server;
//     ASSERT_TRUE(server.Start(0));
//     std::string url = server.UrlPrefix() + "rtt";
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "planet.h"

namespace vistrel::tileserver {

constexpr uint16_t kDefaultPort = 8642;
constexpr const char* kDefaultRequestPrefix = "/kh?v=9&n=404&t=t";

// Each share is the probability (0..1) that one answer has that fault.
struct FaultOptions {
    double NotFoundShare = 0;     // 404 Not Found instead of the tile
    double ServerErrorShare = 0;  // 500 Internal Server Error instead of the tile
    double CutShortShare = 0;     // full Content-Length, connection closed after half the body
    double ChunkedShare = 0;      // chunked transfer coding instead of Content-Length
    double TooManyShare = 0;      // 429 Too Many Requests with Retry-After: RetryAfter
    double HtmlShare = 0;         // 200 OK with an HTML page instead of the tile
    int DelayMs = 0;              // wait before every answer
    std::string RetryAfter = "1";
};

struct ServerOptions {
    // Where tile bodies come from, first that is set: Source, Folder, the planet.
    // Source gives the bytes for some letters, nothing for 404; called from
    // worker threads. Tests use it for quick or particular tiles.
    std::function<std::optional<std::string>(const std::string& letters)> Source;
    std::string Folder;  // serve <letters>.jpg from this folder (404 when missing)
    int Quality = 85;    // JPEG quality of rendered tiles
    FaultOptions Faults;
    // Fault decisions are a function of the seed, the tile's letters and how
    // many times that tile was asked for before, so a run is repeatable
    // whatever the order in which parallel requests arrive.
    uint64_t Seed = 1;
    int Threads = 8;  // connections answered at the same time
    // Called from worker threads with one line per answered request.
    std::function<void(const std::string& line)> Log;
    // Answers on a connection until the client closes it or says
    // "Connection: close" (HTTP/1.1 keep-alive).
    bool KeepAlive = false;
    // Given a request head, the complete answer to send instead of the
    // server's own (tests script 429s, error pages, 304s); nothing: as usual.
    // Called from worker threads.
    std::function<std::optional<std::string>(const std::string& head)> Answer;
};

struct ServerStats {
    uint64_t Requests = 0;  // requests read, whatever the answer
    uint64_t Tiles = 0;     // complete tiles sent (plain or chunked)
    uint64_t NotFound = 0;  // 404 answers, faults and bad targets alike
    uint64_t ServerErrors = 0;
    uint64_t CutShort = 0;
    uint64_t Chunked = 0;
    uint64_t TooMany = 0;
    uint64_t Html = 0;
    uint64_t NotModified = 0;
    uint64_t Accepts = 0;   // TCP connections accepted
    uint64_t MostBusy = 0;  // most requests answered at the same time
};

// The key letters of a request target whose query ends in "t=t" plus letters;
// nothing for any other target.
std::optional<std::string> LettersOfTarget(std::string_view target);

class TileServer {
  public:
    explicit TileServer(ServerOptions options = {});
    ~TileServer();
    TileServer(const TileServer&) = delete;
    TileServer& operator=(const TileServer&) = delete;

    // Listens on 127.0.0.1; port 0 picks a free one (see Port()). False, with
    // a reason in *error when given, if the port cannot be bound or the
    // server already runs.
    bool Start(uint16_t port = 0, std::string* error = nullptr);
    // Closes the listening socket and every open connection, waits for the
    // threads. Safe to call more than once; Start may follow.
    void Stop();

    uint16_t Port() const;  // 0 when not running
    // "http://127.0.0.1:<port>/kh?v=9&n=404&t=t": append key letters for a tile URL.
    std::string UrlPrefix() const;

    // Takes effect with the next request; safe while running.
    void SetFaults(const FaultOptions& faults);
    ServerStats Stats() const;
    // The heads of the requests, in the order they were read (the first 10000).
    std::vector<std::string> Requests() const;
    // Waits until at least count requests were read; false on timeout.
    bool WaitForRequests(size_t count, int timeoutMs = 5000) const;

  private:
    void AcceptLoop();
    void WorkerLoop();
    void Serve(int fd);
    // One request on a connection; false when the connection is to close.
    bool ServeOne(int fd, const std::string& head);

    ServerOptions options_;
    mutable std::mutex mutex_;  // guards everything below but the sockets and threads
    std::condition_variable wake_;
    std::deque<int> pending_;                // accepted connections waiting for a worker
    std::map<std::string, uint32_t> asked_;  // requests per tile so far, for fault decisions
    ServerStats stats_;
    std::vector<std::string> requests_;
    uint64_t busy_ = 0;
    mutable std::condition_variable requested_;
    bool stopping_ = false;

    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};  // readable once Stop begins: wakes every poll
    uint16_t port_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> workers_;
};

}  // namespace vistrel::tileserver
