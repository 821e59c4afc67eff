// vistrel-tileserver: serves the procedural planet (or a folder of tiles) on
// 127.0.0.1 until interrupted.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <string_view>

#include "tile_server.h"

namespace {

using vistrel::tileserver::ServerOptions;
using vistrel::tileserver::TileServer;

constexpr const char* kUsage =
    "usage: vistrel-tileserver [options]\n"
    "  --port N           listen on 127.0.0.1:N (default 8642; 0 picks a free port)\n"
    "  --folder DIR       serve DIR/<letters>.jpg instead of rendering (404 when missing)\n"
    "  --quality Q        JPEG quality of rendered tiles, 1..100 (default 85)\n"
    "  --threads N        connections answered at once (default 8)\n"
    "  --share-404 P      share 0..1 of tile requests answered 404 Not Found\n"
    "  --share-500 P      share 0..1 of tile requests answered 500 Internal Server Error\n"
    "  --share-cut P      share 0..1 of tiles cut off after half the body\n"
    "  --share-chunked P  share 0..1 of tiles sent with chunked transfer coding\n"
    "  --share-429 P      share 0..1 of tile requests answered 429 Too Many Requests\n"
    "  --retry-after V    the Retry-After value of those 429s: seconds or an HTTP date (default "
    "1)\n"
    "  --share-html P     share 0..1 of tile requests answered 200 with an HTML page\n"
    "  --keep-alive       keep connections open between requests (HTTP/1.1)\n"
    "  --delay MS         wait MS milliseconds before every answer\n"
    "  --seed N           repeatable fault decisions (default: a random seed)\n"
    "  --log              print one line per request\n"
    "  --help             this text\n"
    "Prints \"port N\" and the tile URL prefix once it listens; stops on SIGINT or SIGTERM.\n";

template <typename T>
bool ParseNumber(std::string_view text, T& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

bool ParseShare(std::string_view text, double& out) {
    return ParseNumber(text, out) && out >= 0.0 && out <= 1.0;
}

}  // namespace

int main(int argc, char** argv) {
    ServerOptions options;
    options.Seed = std::random_device{}();
    unsigned port = vistrel::tileserver::kDefaultPort;
    bool log = false;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--log") {
            log = true;
            continue;
        }
        if (arg == "--keep-alive") {
            options.KeepAlive = true;
            continue;
        }
        static constexpr std::string_view kWithValue[] = {
            "--port",      "--folder",      "--quality",       "--threads", "--share-404",
            "--share-500", "--share-cut",   "--share-chunked", "--delay",   "--seed",
            "--share-429", "--retry-after", "--share-html"};
        if (std::find(std::begin(kWithValue), std::end(kWithValue), arg) == std::end(kWithValue)) {
            std::fprintf(stderr, "vistrel-tileserver: unknown option %s\n%s", argv[i], kUsage);
            return 2;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "vistrel-tileserver: %s needs a value\n%s", argv[i], kUsage);
            return 2;
        }
        const std::string_view value = argv[++i];
        bool ok = true;
        if (arg == "--port") {
            ok = ParseNumber(value, port) && port <= 65535;
        } else if (arg == "--folder") {
            options.Folder = value;
            ok = !value.empty();
        } else if (arg == "--quality") {
            ok = ParseNumber(value, options.Quality) && options.Quality >= 1 &&
                 options.Quality <= 100;
        } else if (arg == "--threads") {
            ok = ParseNumber(value, options.Threads) && options.Threads >= 1 &&
                 options.Threads <= 256;
        } else if (arg == "--share-404") {
            ok = ParseShare(value, options.Faults.NotFoundShare);
        } else if (arg == "--share-500") {
            ok = ParseShare(value, options.Faults.ServerErrorShare);
        } else if (arg == "--share-cut") {
            ok = ParseShare(value, options.Faults.CutShortShare);
        } else if (arg == "--share-chunked") {
            ok = ParseShare(value, options.Faults.ChunkedShare);
        } else if (arg == "--delay") {
            ok = ParseNumber(value, options.Faults.DelayMs) && options.Faults.DelayMs >= 0;
        } else if (arg == "--share-429") {
            ok = ParseShare(value, options.Faults.TooManyShare);
        } else if (arg == "--share-html") {
            ok = ParseShare(value, options.Faults.HtmlShare);
        } else if (arg == "--retry-after") {
            options.Faults.RetryAfter = value;
            ok = !value.empty() && value.find_first_of("\r\n") == std::string_view::npos;
        } else if (arg == "--seed") {
            ok = ParseNumber(value, options.Seed);
        }
        if (!ok) {
            std::fprintf(stderr, "vistrel-tileserver: bad value for %s: %s\n", argv[i - 1],
                         argv[i]);
            return 2;
        }
    }

    static std::mutex logMutex;
    if (log) {
        options.Log = [](const std::string& line) {
            std::lock_guard lock(logMutex);
            std::fprintf(stdout, "%s\n", line.c_str());
            std::fflush(stdout);
        };
    }

    // SIGINT and SIGTERM keep their default action: the kernel ends the
    // process at once. A handler, or a thread waiting for the signal, would
    // first need its turn on a processor, and with every thread busy
    // rendering that takes long. Answers in flight are dropped either way
    // and nothing is left to save.
    TileServer server(options);
    std::string error;
    if (!server.Start(static_cast<uint16_t>(port), &error)) {
        std::fprintf(stderr, "vistrel-tileserver: %s\n", error.c_str());
        return 1;
    }
    std::printf("port %u\n%s\n", static_cast<unsigned>(server.Port()), server.UrlPrefix().c_str());
    std::fflush(stdout);

    for (;;) pause();
}
