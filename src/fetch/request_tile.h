#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/main_state.h"
#include "tilestore/tile_record.h"

// What became of one server request for one tile.
enum class RequestOutcome {
    Stored,         // good answer, decoded, written to the cache file
    NotStored,      // good answer, decoded, but the cache file could not be written
    RequestFailed,  // no answer, or an answer other than success
    EmptyAnswer,    // success with a body of at most 4 bytes; the cache file is deleted
    NoEndMarker,    // body of 5 bytes or more not ending in 0xFF 0xD9
    Undecodable,    // ends in 0xFF 0xD9 but does not decode, or is no image at all
    NoImagery,      // the source's "no imagery" picture: not stored, not an error
    NotModified,    // a refresh the server answered with 304: the cached file stays
};

// The first two mean the tile's Image holds the tile.
inline bool Succeeded(RequestOutcome outcome) {
    return outcome == RequestOutcome::Stored || outcome == RequestOutcome::NotStored;
}

// Limits that keep a worker from hanging on a dead server or swallowing
// an endless answer. Read by every request when it starts.
struct FetchOptions {
    long ConnectTimeoutMs = 15000;
    // A transfer slower than 1 byte/s for this long is abandoned; that also
    // covers a server that accepts the connection and never answers.
    long StallSeconds = 30;
    // The whole request, connection included, ends after this long, however
    // steadily a server trickles: enough for a large tile (64 KB) over a
    // 9600 bit/s line after the longest connect, while a trickling server
    // costs a task minutes per tile instead of hours.
    long TotalTimeoutMs = 90000;
    size_t MaxBodyBytes = 64u << 20;
    // What the answers of all requests in flight together may hold; a request
    // whose answer would pass it fails. Many connections to servers sending
    // endless bodies must not take all memory.
    size_t MaxBodyBytesInFlight = 256u << 20;
    // https servers are verified against the system's certificate store;
    // a PEM file named here replaces it (tests hand in their own CA).
    std::string CaFile;
    // List sources: one Retry-After wait is cut to this; a request gives up
    // (a fetch error) once its waits would pass the budget.
    long MaxRetryAfterSeconds = 120;
    long RetryBudgetSeconds = 300;
};
FetchOptions GetFetchOptions();
void SetFetchOptions(const FetchOptions& options);

// Cuts requests in flight short and fails new ones at once while set: the
// shutdown must not wait for a slow server. Cleared again with false.
void AbortRequests(bool abort);

// The library's one global initialisation; call from main() before any
// worker thread starts. Safe to call again, from any thread.
void FetchGlobalInit();

// Bytes the answers of the requests in flight hold right now.
size_t BodyBytesInFlight();

// Tiles are 256 x 256; an answer declaring a larger picture is refused
// before anything is decoded.
inline constexpr int MaxTileSide = 256;

// "Mb из интернета" text for a byte count: 1048576 gives "1,000 Mb из интернета ".
std::string TrafficText(int64_t receivedBytes);

// One GET of tile.Url on a connection of its own; checks the answer, decodes
// it into tile.Image and writes it unchanged to tile.FileName. `viewFill`
// says the caller is a view-fill worker (parent tiles are built at once).
// statusText gets the status line without its protocol word ("404 Not Found")
// for a failed request, empty when no status line arrived. A good answer is
// counted in ReceivedBytes and its text sent to Sink->SetTrafficText while
// ThreadLock is held, so the sink must only queue it. An https URL through
// the proxy is tunnelled (CONNECT); the credentials go to the proxy only.
// `failure`, when given, gets why an outcome other than Stored came about,
// in words for a person ("connection refused by 127.0.0.1:8642").
//
// With state.ActiveSource a source of the list, the request is that
// source's: its User-Agent and headers, connections kept and shared with the
// other workers of its host (at most its MaxConnections of them), waits
// that 429 / 503 ask for (cut short when `stopping` says so), and a 200 that
// is no image is refused. Any source's "no imagery" pictures are refused.
// `refreshOf`, when given, is the cached file's time (seconds since the
// epoch): the request is conditional, and a 304 gives NotModified.
RequestOutcome RequestTile(MainState& state, jtype& tile, bool viewFill, std::string& statusText,
                           std::string* failure = nullptr,
                           const std::function<bool()>& stopping = {},
                           const int64_t* refreshOf = nullptr);
