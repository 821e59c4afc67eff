#include "support/http_script_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace {

constexpr int kReadTimeoutMs = 5000;
constexpr int kWriteTimeoutMs = 5000;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

enum class Wait { Ready, Stopped, TimedOut };

Wait WaitFor(int fd, short events, int stopFd, int64_t deadlineMs) {
    for (;;) {
        const int64_t left = deadlineMs - NowMs();
        if (left <= 0) return Wait::TimedOut;
        pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        const int rc = poll(fds, 2, static_cast<int>(std::min<int64_t>(left, 1000)));
        if (rc < 0 && errno != EINTR) return Wait::TimedOut;
        if (rc <= 0) continue;
        if (fds[1].revents != 0) return Wait::Stopped;
        if (fds[0].revents != 0) return Wait::Ready;
    }
}

// One accepted connection, plain or TLS. Recv and Send return the bytes
// moved, 0 at the end of the stream, -1 when the socket must first become
// ready for `want` (POLLIN or POLLOUT), -2 on an error.
struct Connection {
    int Fd = -1;
    SSL* Tls = nullptr;

    ssize_t Recv(char* buffer, size_t size, short& want) {
        want = POLLIN;
        if (!Tls) {
            const ssize_t n = recv(Fd, buffer, size, 0);
            if (n < 0) return errno == EINTR || errno == EAGAIN ? -1 : -2;
            return n;
        }
        const int n = SSL_read(Tls, buffer, static_cast<int>(size));
        return n > 0 ? n : TlsWait(n, want);
    }
    ssize_t Send(const char* data, size_t size, short& want) {
        want = POLLOUT;
        if (!Tls) {
            const ssize_t n = send(Fd, data, size, MSG_NOSIGNAL);
            if (n < 0) return errno == EINTR || errno == EAGAIN ? -1 : -2;
            return n;
        }
        const int n = SSL_write(Tls, data, static_cast<int>(size));
        return n > 0 ? n : TlsWait(n, want);
    }
    ssize_t TlsWait(int rc, short& want) {
        switch (SSL_get_error(Tls, rc)) {
            case SSL_ERROR_WANT_READ:
                want = POLLIN;
                return -1;
            case SSL_ERROR_WANT_WRITE:
                want = POLLOUT;
                return -1;
            case SSL_ERROR_ZERO_RETURN:
                return 0;
            default:
                ERR_clear_error();
                return -2;
        }
    }
};

void CloseConnection(int fd, SSL* tls) {
    if (tls) SSL_free(tls);
    close(fd);
}

bool ContainsHeader(const std::string& headers, const char* name) {
    std::string lower(headers);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(name) != std::string::npos;
}

}  // namespace

ScriptedAnswer ScriptedAnswer::Raw(std::string bytes) {
    ScriptedAnswer a;
    a.Bytes = std::move(bytes);
    return a;
}

ScriptedAnswer ScriptedAnswer::Ok(std::string body, bool contentLength) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n";
    if (contentLength) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return Raw(head + "\r\n" + body);
}

ScriptedAnswer ScriptedAnswer::Chunked(std::string body, size_t chunkBytes) {
    chunkBytes = std::max<size_t>(chunkBytes, 1);
    std::string out =
        "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (size_t at = 0; at < body.size(); at += chunkBytes) {
        const size_t n = std::min(chunkBytes, body.size() - at);
        char size[20];
        std::snprintf(size, sizeof size, "%zx\r\n", n);
        out += size;
        out.append(body, at, n);
        out += "\r\n";
    }
    out += "0\r\n\r\n";
    return Raw(std::move(out));
}

ScriptedAnswer ScriptedAnswer::Status(int code, std::string reason, std::string headers,
                                      std::string body) {
    std::string out = "HTTP/1.1 " + std::to_string(code) + " " + reason + "\r\n";
    if (!headers.empty() && !headers.ends_with("\r\n")) headers += "\r\n";
    out += headers;
    if (!ContainsHeader(headers, "content-length:") &&
        !ContainsHeader(headers, "transfer-encoding:"))
        out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    out += "\r\n";
    out += body;
    return Raw(std::move(out));
}

ScriptedAnswer ScriptedAnswer::NoAnswer(int holdMs) {
    ScriptedAnswer a;
    a.NeverAnswer = true;
    a.HoldMs = holdMs;
    return a;
}

ScriptedAnswer ScriptedAnswer::Hangup() {
    ScriptedAnswer a;
    a.CloseWithoutReading = true;
    return a;
}

HttpScriptServer::HttpScriptServer() {
    Start();
}

HttpScriptServer::HttpScriptServer(const TlsIdentity& tls) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) throw std::runtime_error("HttpScriptServer: no TLS context");
    tls_ = ctx;
    BIO* certBio = BIO_new_mem_buf(tls.CertPem.data(), static_cast<int>(tls.CertPem.size()));
    BIO* keyBio = BIO_new_mem_buf(tls.KeyPem.data(), static_cast<int>(tls.KeyPem.size()));
    X509* cert = certBio ? PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr) : nullptr;
    EVP_PKEY* key = keyBio ? PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr) : nullptr;
    const bool ok = cert && key && SSL_CTX_use_certificate(ctx, cert) == 1 &&
                    SSL_CTX_use_PrivateKey(ctx, key) == 1;
    X509_free(cert);
    EVP_PKEY_free(key);
    BIO_free(certBio);
    BIO_free(keyBio);
    if (!ok) {
        SSL_CTX_free(ctx);
        throw std::runtime_error("HttpScriptServer: bad TLS certificate or key");
    }
    Start();
}

void HttpScriptServer::Start() {
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) throw std::runtime_error("HttpScriptServer: socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = 0;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listenFd_, 64) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        pipe2(stopPipe_, O_CLOEXEC) != 0) {
        const std::string reason = std::strerror(errno);
        close(listenFd_);
        if (tls_) SSL_CTX_free(tls_);
        throw std::runtime_error("HttpScriptServer: cannot listen: " + reason);
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread(&HttpScriptServer::Run, this);
}

HttpScriptServer::~HttpScriptServer() {
    const char byte = 1;
    while (write(stopPipe_[1], &byte, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
    for (const Held& h : held_) CloseConnection(h.Fd, h.Tls);
    close(listenFd_);
    if (tls_) SSL_CTX_free(tls_);
    close(stopPipe_[0]);
    close(stopPipe_[1]);
}

std::string HttpScriptServer::Url(const std::string& target) const {
    return (tls_ ? "https://" : "http://") + HostPort() + target;
}

std::string HttpScriptServer::HostPort() const {
    return "127.0.0.1:" + std::to_string(port_);
}

void HttpScriptServer::Push(ScriptedAnswer answer) {
    std::lock_guard lock(mutex_);
    script_.push_back(std::move(answer));
}

std::vector<std::string> HttpScriptServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

size_t HttpScriptServer::Connections() const {
    std::lock_guard lock(mutex_);
    return connections_;
}

bool HttpScriptServer::WaitForRequests(size_t count, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return recorded_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return requests_.size() >= count; });
}

void HttpScriptServer::Run() {
    for (;;) {
        // Release held connections whose time is up; sleep until the next one.
        int timeout = -1;
        const int64_t now = NowMs();
        for (auto it = held_.begin(); it != held_.end();) {
            if (it->DeadlineMs != 0 && it->DeadlineMs <= now) {
                CloseConnection(it->Fd, it->Tls);
                it = held_.erase(it);
                continue;
            }
            if (it->DeadlineMs != 0) {
                const int left = static_cast<int>(it->DeadlineMs - now);
                timeout = timeout < 0 ? left : std::min(timeout, left);
            }
            ++it;
        }
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        const int rc = poll(fds, 2, timeout);
        if (rc < 0 && errno != EINTR) return;
        if (fds[1].revents != 0) return;
        if (rc <= 0 || fds[0].revents == 0) continue;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        Answer(fd);
    }
}

void HttpScriptServer::Answer(int fd) {
    ScriptedAnswer answer;
    {
        std::lock_guard lock(mutex_);
        ++connections_;
        if (script_.empty()) {
            answer = ScriptedAnswer::Status(404, "Not Found", {}, "no scripted answer\n");
        } else {
            answer = std::move(script_.front());
            script_.pop_front();
        }
    }
    if (answer.CloseWithoutReading) {
        close(fd);
        return;
    }
    const int stopFd = stopPipe_[0];
    Connection conn{fd, nullptr};
    short want = POLLIN;

    if (tls_) {
        conn.Tls = SSL_new(tls_);
        if (!conn.Tls || SSL_set_fd(conn.Tls, fd) != 1) {
            CloseConnection(fd, conn.Tls);
            return;
        }
        const int64_t deadline = NowMs() + kReadTimeoutMs;
        for (;;) {
            const int rc = SSL_accept(conn.Tls);
            if (rc == 1) break;
            // A client that refuses the certificate ends here with an alert.
            if (conn.TlsWait(rc, want) != -1 ||
                WaitFor(fd, want, stopFd, deadline) != Wait::Ready) {
                CloseConnection(fd, conn.Tls);
                return;
            }
        }
    }

    std::string request;
    const int64_t readDeadline = NowMs() + kReadTimeoutMs;
    char buffer[4096];
    bool stopped = false;
    while (request.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = conn.Recv(buffer, sizeof buffer, want);
        if (n == -1) {
            const Wait w = WaitFor(fd, want, stopFd, readDeadline);
            if (w != Wait::Ready) {
                stopped = w == Wait::Stopped;
                break;
            }
            continue;
        }
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
    }
    if (!request.empty()) {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
    }
    recorded_.notify_all();
    if (stopped) {
        CloseConnection(fd, conn.Tls);
        return;
    }

    if (answer.DelayMs > 0 &&
        WaitFor(stopFd, POLLIN, stopFd, NowMs() + answer.DelayMs) == Wait::Stopped) {
        CloseConnection(fd, conn.Tls);
        return;
    }
    if (answer.NeverAnswer) {
        held_.push_back({fd, answer.HoldMs > 0 ? NowMs() + answer.HoldMs : 0, conn.Tls});
        return;
    }

    const size_t total = std::min(answer.Bytes.size(), answer.CloseAfterBytes);
    size_t sent = 0;
    const int64_t writeDeadline = NowMs() + kWriteTimeoutMs;
    while (sent < total) {
        size_t piece = total - sent;
        if (answer.TrickleBytes > 0) {
            piece = std::min(piece, answer.TrickleBytes);
            if (sent > 0 &&
                WaitFor(stopFd, POLLIN, stopFd, NowMs() + answer.TrickleEveryMs) == Wait::Stopped)
                break;
        }
        const ssize_t n = conn.Send(answer.Bytes.data() + sent, piece, want);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n == -1) {
            if (WaitFor(fd, want, stopFd, writeDeadline) != Wait::Ready) break;
        } else {
            break;
        }
    }
    if (answer.HoldAfterSending) {
        held_.push_back({fd, answer.HoldMs > 0 ? NowMs() + answer.HoldMs : 0, conn.Tls});
        return;
    }
    // A TLS stream ends with its close_notify, so the client can tell the end
    // of a body without Content-Length from a cut connection.
    if (conn.Tls && sent == answer.Bytes.size()) {
        const int64_t deadline = NowMs() + kWriteTimeoutMs;
        for (int rc = SSL_shutdown(conn.Tls); rc < 0; rc = SSL_shutdown(conn.Tls))
            if (conn.TlsWait(rc, want) != -1 || WaitFor(fd, want, stopFd, deadline) != Wait::Ready)
                break;
    }
    // Half-close and drop unread input first, so the close is a FIN and not a
    // reset that could destroy the answer before the client reads it.
    shutdown(fd, SHUT_WR);
    while (recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
    CloseConnection(fd, conn.Tls);
}
