#include "tile_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vistrel::tileserver {

std::optional<std::string> LettersOfTarget(std::string_view target) {
    // Letters never contain '=', so the last '=' ends the prefix.
    const size_t query = target.find('?');
    const size_t eq = target.rfind('=');
    if (query == std::string_view::npos || eq == std::string_view::npos || eq < query + 2 ||
        target[eq - 1] != 't' || eq + 1 >= target.size() || target[eq + 1] != 't')
        return std::nullopt;
    std::string letters(target.substr(eq + 2));
    if (!ParseTileLetters(letters)) return std::nullopt;
    return letters;
}

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxRequestBytes = 16 * 1024;
constexpr auto kIoTimeout = std::chrono::seconds(10);
constexpr size_t kMaxPending = 1024;
constexpr size_t kChunkBytes = 4096;

enum class Wait { Ready, Stopped, TimedOut, Failed };

// Waits for `events` on fd, or for the stop pipe, or for the deadline.
Wait WaitFor(int fd, short events, int stopFd, Clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return Wait::TimedOut;
        pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        const int rc = poll(fds, 2, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
        if (rc < 0) {
            if (errno == EINTR) continue;
            return Wait::Failed;
        }
        if (fds[1].revents != 0) return Wait::Stopped;
        if (fds[0].revents != 0) return Wait::Ready;
    }
}

bool SendAll(int fd, std::string_view data, int stopFd) {
    const auto deadline = Clock::now() + kIoTimeout;
    while (!data.empty()) {
        const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            data.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (WaitFor(fd, POLLOUT, stopFd, deadline) != Wait::Ready) return false;
            continue;
        }
        return false;
    }
    return true;
}

// Reads up to the blank line that ends the request head; what came after it
// stays in `carry` for the next request of the connection.
std::optional<std::string> ReadRequestHead(int fd, int stopFd, std::string& carry) {
    const auto deadline = Clock::now() + kIoTimeout;
    std::string head = std::move(carry);
    carry.clear();
    char buffer[2048];
    for (;;) {
        if (const size_t end = head.find("\r\n\r\n"); end != std::string::npos) {
            carry = head.substr(end + 4);
            head.resize(end + 4);
            return head;
        }
        if (head.size() > kMaxRequestBytes) return std::nullopt;
        if (WaitFor(fd, POLLIN, stopFd, deadline) != Wait::Ready) return std::nullopt;
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0) return std::nullopt;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return std::nullopt;
        }
        head.append(buffer, static_cast<size_t>(n));
    }
}

bool HasHeader(std::string_view head, std::string_view name) {
    std::string lower(head);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.find("\r\n" + std::string(name)) != std::string::npos;
}

std::string HeaderValue(std::string_view head, std::string_view name) {
    std::string lower(head);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t at = lower.find("\r\n" + std::string(name) + ":");
    if (at == std::string::npos) return {};
    size_t from = at + 3 + name.size();
    while (from < head.size() && head[from] == ' ') ++from;
    return std::string(head.substr(from, head.find("\r\n", from) - from));
}

// Half-close first and drop whatever the client sent beyond the head, so the
// close sends FIN rather than a reset that could destroy the answer in flight.
void CloseConnection(int fd) {
    shutdown(fd, SHUT_WR);
    char buffer[1024];
    while (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
    close(fd);
}

std::string ConnectionLine(bool keep) {
    return keep ? "" : "Connection: close\r\n";
}

std::string StatusAnswer(int code, std::string_view reason, bool keep,
                         std::string_view extra = {}) {
    const std::string body = std::to_string(code) + " " + std::string(reason) + "\n";
    return "HTTP/1.1 " + std::to_string(code) + " " + std::string(reason) + "\r\n" +
           std::string(extra) +
           "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           ConnectionLine(keep) + "\r\n" + body;
}

std::string TileHead(size_t contentLength, bool chunked, bool keep, std::string_view etag) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n";
    head += "ETag: " + std::string(etag) + "\r\n";
    head += chunked ? "Transfer-Encoding: chunked\r\n"
                    : "Content-Length: " + std::to_string(contentLength) + "\r\n";
    head += ConnectionLine(keep) + "\r\n";
    return head;
}

constexpr std::string_view kErrorPage =
    "<html><head><title>Service</title></head><body>Please try later.</body></html>\n";

std::string ChunkedBody(std::string_view body) {
    std::string out;
    for (size_t at = 0; at < body.size(); at += kChunkBytes) {
        const std::string_view chunk = body.substr(at, kChunkBytes);
        char size[20];
        std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        out += size;
        out += chunk;
        out += "\r\n";
    }
    out += "0\r\n\r\n";
    return out;
}

uint64_t Mix64(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

// A stable hash: std::hash may differ between library versions.
uint64_t Fnv1a(std::string_view s) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char c : s) h = (h ^ c) * 0x100000001B3ull;
    return h;
}

// Uniform in [0, 1), one independent draw per (seed, tile, attempt, which).
double Draw(uint64_t seed, std::string_view letters, uint32_t attempt, int which) {
    const uint64_t h = Mix64(Mix64(seed ^ Fnv1a(letters)) + (static_cast<uint64_t>(attempt) << 8) +
                             static_cast<uint64_t>(which));
    return static_cast<double>(h >> 11) * 0x1.0p-53;
}

// A tile's ETag: the same for the same letters, run after run.
std::string EtagOf(std::string_view letters) {
    char text[24];
    std::snprintf(text, sizeof text, "\"%016llx\"",
                  static_cast<unsigned long long>(Fnv1a(letters)));
    return text;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TileServer::TileServer(ServerOptions options) : options_(std::move(options)) {}

TileServer::~TileServer() {
    Stop();
}

bool TileServer::Start(uint16_t port, std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error) *error = what + ": " + std::strerror(errno);
        if (listenFd_ >= 0) close(listenFd_);
        for (int& fd : stopPipe_) {
            if (fd >= 0) close(fd);
            fd = -1;
        }
        listenFd_ = -1;
        return false;
    };
    if (listenFd_ >= 0) {
        if (error) *error = "already running";
        return false;
    }
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) return fail("socket");
    const int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return fail("bind 127.0.0.1:" + std::to_string(port));
    if (listen(listenFd_, 128) != 0) return fail("listen");
    socklen_t len = sizeof addr;
    if (getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return fail("getsockname");
    if (pipe2(stopPipe_, O_CLOEXEC) != 0) return fail("pipe");
    port_ = ntohs(addr.sin_port);
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    acceptor_ = std::thread(&TileServer::AcceptLoop, this);
    for (int i = 0; i < std::max(1, options_.Threads); ++i)
        workers_.emplace_back(&TileServer::WorkerLoop, this);
    return true;
}

void TileServer::Stop() {
    if (listenFd_ < 0) return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    const char byte = 1;
    while (write(stopPipe_[1], &byte, 1) < 0 && errno == EINTR) {
    }
    acceptor_.join();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
    for (int fd : pending_) close(fd);
    pending_.clear();
    close(listenFd_);
    close(stopPipe_[0]);
    close(stopPipe_[1]);
    listenFd_ = stopPipe_[0] = stopPipe_[1] = -1;
    port_ = 0;
}

uint16_t TileServer::Port() const {
    return port_;
}

std::string TileServer::UrlPrefix() const {
    return "http://127.0.0.1:" + std::to_string(port_) + kDefaultRequestPrefix;
}

void TileServer::SetFaults(const FaultOptions& faults) {
    std::lock_guard lock(mutex_);
    options_.Faults = faults;
}

ServerStats TileServer::Stats() const {
    std::lock_guard lock(mutex_);
    return stats_;
}

std::vector<std::string> TileServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool TileServer::WaitForRequests(size_t count, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return requested_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return requests_.size() >= count; });
}

void TileServer::AcceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors or similar: give the workers time to free some.
            if (errno != EINTR && errno != ECONNABORTED) poll(nullptr, 0, 20);
            continue;
        }
        std::unique_lock lock(mutex_);
        ++stats_.Accepts;
        if (pending_.size() >= kMaxPending) {
            lock.unlock();
            close(fd);
            continue;
        }
        pending_.push_back(fd);
        lock.unlock();
        wake_.notify_one();
    }
}

void TileServer::WorkerLoop() {
    for (;;) {
        int fd;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !pending_.empty(); });
            if (stopping_) return;
            fd = pending_.front();
            pending_.pop_front();
        }
        Serve(fd);
    }
}

void TileServer::Serve(int fd) {
    std::string carry;
    for (;;) {
        const std::optional<std::string> head = ReadRequestHead(fd, stopPipe_[0], carry);
        if (!head) {
            close(fd);
            return;
        }
        if (!ServeOne(fd, *head)) {
            CloseConnection(fd);
            return;
        }
    }
}

bool TileServer::ServeOne(int fd, const std::string& head) {
    const int stopFd = stopPipe_[0];
    const bool keep = options_.KeepAlive && head.find("HTTP/1.1\r\n") != std::string::npos &&
                      HeaderValue(head, "connection") != "close";
    struct Busy {
        TileServer& Server;
        explicit Busy(TileServer& server) : Server(server) {
            std::lock_guard lock(Server.mutex_);
            Server.stats_.MostBusy = std::max(Server.stats_.MostBusy, ++Server.busy_);
        }
        ~Busy() {
            std::lock_guard lock(Server.mutex_);
            --Server.busy_;
        }
    } busy(*this);
    {
        std::lock_guard lock(mutex_);
        if (requests_.size() < 10000) requests_.push_back(head);
    }
    requested_.notify_all();
    if (options_.Answer) {
        if (std::optional<std::string> scripted = options_.Answer(head)) {
            {
                std::lock_guard lock(mutex_);
                ++stats_.Requests;
            }
            return SendAll(fd, *scripted, stopFd) && keep &&
                   scripted->find("Connection: close") == std::string::npos;
        }
    }
    const std::string requestLine = head.substr(0, head.find("\r\n"));
    std::istringstream words(requestLine);
    std::string method, target, version;
    words >> method >> target >> version;

    FaultOptions faults;
    uint32_t attempt = 0;
    const std::optional<std::string> letters =
        method == "GET" ? LettersOfTarget(target) : std::nullopt;
    {
        std::lock_guard lock(mutex_);
        ++stats_.Requests;
        faults = options_.Faults;
        if (letters) attempt = asked_[*letters]++;
    }

    if (faults.DelayMs > 0) {
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, std::chrono::milliseconds(faults.DelayMs),
                           [&] { return stopping_; })) {
            return false;
        }
    }

    enum class Kind {
        Tile,
        CutShort,
        Chunked,
        NotFound,
        ServerError,
        BadMethod,
        TooMany,
        Html,
        NotModified
    };
    Kind kind = Kind::Tile;
    std::string body;
    if (method != "GET") {
        kind = Kind::BadMethod;
    } else if (!letters) {
        kind = Kind::NotFound;
    } else if (Draw(options_.Seed, *letters, attempt, 0) < faults.NotFoundShare) {
        kind = Kind::NotFound;
    } else if (Draw(options_.Seed, *letters, attempt, 1) < faults.ServerErrorShare) {
        kind = Kind::ServerError;
    } else if (Draw(options_.Seed, *letters, attempt, 4) < faults.TooManyShare) {
        kind = Kind::TooMany;
    } else if (Draw(options_.Seed, *letters, attempt, 5) < faults.HtmlShare) {
        kind = Kind::Html;
    } else if (HasHeader(head, "if-none-match:") || HasHeader(head, "if-modified-since:")) {
        // The planet never changes: whatever the client has is current.
        const std::string asked = HeaderValue(head, "if-none-match");
        if (asked.empty() || asked == EtagOf(*letters)) kind = Kind::NotModified;
    }
    if (kind == Kind::Tile) {
        if (options_.Source) {
            std::optional<std::string> bytes = options_.Source(*letters);
            if (bytes)
                body = std::move(*bytes);
            else
                kind = Kind::NotFound;
        } else if (!options_.Folder.empty()) {
            std::string path = options_.Folder;
            if (path.back() != '/') path += '/';
            std::optional<std::string> file = ReadWholeFile(path + *letters + ".jpg");
            if (file)
                body = std::move(*file);
            else
                kind = Kind::NotFound;
        } else {
            body = RenderTileJpeg(*letters, options_.Quality);
            if (body.empty()) kind = Kind::ServerError;
        }
        if (kind == Kind::Tile) {
            if (Draw(options_.Seed, *letters, attempt, 2) < faults.CutShortShare)
                kind = Kind::CutShort;
            else if (Draw(options_.Seed, *letters, attempt, 3) < faults.ChunkedShare)
                kind = Kind::Chunked;
        }
    }

    std::string answer;
    int status = 200;
    const std::string etag = letters ? EtagOf(*letters) : std::string();
    switch (kind) {
        case Kind::Tile:
            answer = TileHead(body.size(), false, keep, etag) + body;
            break;
        case Kind::CutShort:
            answer = TileHead(body.size(), false, false, etag) + body.substr(0, body.size() / 2);
            break;
        case Kind::Chunked:
            answer = TileHead(0, true, keep, etag) + ChunkedBody(body);
            break;
        case Kind::NotFound:
            status = 404;
            answer = StatusAnswer(404, "Not Found", keep);
            break;
        case Kind::ServerError:
            status = 500;
            answer = StatusAnswer(500, "Internal Server Error", keep);
            break;
        case Kind::BadMethod:
            status = 405;
            answer = StatusAnswer(405, "Method Not Allowed", false);
            break;
        case Kind::TooMany:
            status = 429;
            answer = StatusAnswer(429, "Too Many Requests", keep,
                                  "Retry-After: " + faults.RetryAfter + "\r\n");
            break;
        case Kind::Html:
            answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                     std::to_string(kErrorPage.size()) + "\r\n" + ConnectionLine(keep) + "\r\n" +
                     std::string(kErrorPage);
            break;
        case Kind::NotModified:
            status = 304;
            answer = "HTTP/1.1 304 Not Modified\r\nETag: " + etag + "\r\n" + ConnectionLine(keep) +
                     "\r\n";
            break;
    }
    // Counted before sending, so a client that has its answer sees it counted.
    {
        std::lock_guard lock(mutex_);
        switch (kind) {
            case Kind::Tile:
                ++stats_.Tiles;
                break;
            case Kind::Chunked:
                ++stats_.Tiles;
                ++stats_.Chunked;
                break;
            case Kind::CutShort:
                ++stats_.CutShort;
                break;
            case Kind::NotFound:
                ++stats_.NotFound;
                break;
            case Kind::ServerError:
                ++stats_.ServerErrors;
                break;
            case Kind::TooMany:
                ++stats_.TooMany;
                break;
            case Kind::Html:
                ++stats_.Html;
                break;
            case Kind::NotModified:
                ++stats_.NotModified;
                break;
            case Kind::BadMethod:
                break;
        }
    }
    const bool sent = SendAll(fd, answer, stopFd);

    if (options_.Log) {
        std::string line = requestLine + " -> " + std::to_string(status);
        if (kind == Kind::Tile || kind == Kind::Chunked || kind == Kind::CutShort)
            line += " (" + std::to_string(body.size()) + " bytes" +
                    (kind == Kind::Chunked    ? ", chunked"
                     : kind == Kind::CutShort ? ", cut short"
                                              : "") +
                    ")";
        if (!sent) line += " [send failed]";
        options_.Log(line);
    }
    return sent && keep && kind != Kind::CutShort && kind != Kind::BadMethod;
}

}  // namespace vistrel::tileserver
