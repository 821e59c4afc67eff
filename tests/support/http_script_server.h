// A loopback HTTP server whose answers a test scripts byte for byte,
// malformed ones included, and which records every request exactly as it
// arrived on the wire.
//
//     HttpScriptServer server;                               // 127.0.0.1, a free port
//     server.Push(ScriptedAnswer::Ok(MakeTileJpeg()));       // first connection
//     server.Push(ScriptedAnswer::Status(404, "Not Found"));  // second
//     server.Push(ScriptedAnswer::Ok(tile).CutAfter(100));   // third: closes mid-body
//     ... the code under test fetches server.Url("/kh?v=9&n=404&t=tq") ...
//     EXPECT_EQ(server.Requests()[0], "GET /kh?v=9&n=404&t=tq HTTP/1.1\r\nHost: ...\r\n\r\n");
//
// One thread answers the connections one after another in the order they are
// accepted; each connection consumes the next scripted answer, and once the
// script is used up every connection gets a plain 404. An answer never reads
// a request body and always ends by closing the connection (or holding it,
// see NoAnswer). The destructor closes everything and joins the thread.
//
// Given a TlsIdentity it speaks https instead: the handshake comes first,
// then the same script over TLS; Requests() holds the decrypted bytes, and a
// handshake the client refuses records no request.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ScriptedAnswer {
    std::string Bytes;  // sent verbatim: status line, headers, body
    int DelayMs = 0;    // pause after reading the request, before the first byte
    size_t CloseAfterBytes =
        std::numeric_limits<size_t>::max();  // send this many bytes, then close
    bool NeverAnswer = false;  // read the request, send nothing, keep the connection open
    int HoldMs = 0;            // with NeverAnswer: close after this long; 0 = until destroyed
    bool CloseWithoutReading = false;  // close at once after accepting, request unread
    size_t TrickleBytes = 0;           // send this many bytes at a time...
    int TrickleEveryMs = 0;            // ...with this pause between them
    bool HoldAfterSending = false;     // keep the connection open once sent (see HoldMs)

    ScriptedAnswer& Delay(int ms) {
        DelayMs = ms;
        return *this;
    }
    ScriptedAnswer& CutAfter(size_t bytes) {
        CloseAfterBytes = bytes;
        return *this;
    }
    // Sends `bytes` bytes every `everyMs` ms; the server answers nothing else meanwhile.
    ScriptedAnswer& Trickle(size_t bytes, int everyMs) {
        TrickleBytes = bytes;
        TrickleEveryMs = everyMs;
        return *this;
    }
    // After sending (all, or CutAfter's share) the connection stays open for
    // holdMs (0: until the server goes) while the next ones are answered.
    ScriptedAnswer& ThenHold(int holdMs = 0) {
        HoldAfterSending = true;
        HoldMs = holdMs;
        return *this;
    }

    // Raw bytes exactly as given.
    static ScriptedAnswer Raw(std::string bytes);
    // "HTTP/1.1 200 OK", Content-Type image/jpeg, the body delimited by
    // Content-Length, or by the end of the connection when contentLength is false.
    static ScriptedAnswer Ok(std::string body, bool contentLength = true);
    // 200 with Transfer-Encoding: chunked, the body in chunks of chunkBytes.
    static ScriptedAnswer Chunked(std::string body, size_t chunkBytes = 1000);
    // "HTTP/1.1 <code> <reason>", then the header lines as given (CR LF
    // added to the last one when missing), then Content-Length of the body
    // unless the headers already have Content-Length or Transfer-Encoding.
    static ScriptedAnswer Status(int code, std::string reason, std::string headers = {},
                                 std::string body = {});
    // Reads the request and never answers (see HoldMs).
    static ScriptedAnswer NoAnswer(int holdMs = 0);
    // Accepts and closes at once.
    static ScriptedAnswer Hangup();
};

// The server's certificate and private key, PEM (see test_certificate.h).
struct TlsIdentity {
    std::string CertPem;
    std::string KeyPem;
};

struct ssl_ctx_st;
struct ssl_st;

class HttpScriptServer {
  public:
    HttpScriptServer();  // binds 127.0.0.1 on a free port; throws std::runtime_error on failure
    explicit HttpScriptServer(const TlsIdentity& tls);  // the same, over TLS
    ~HttpScriptServer();
    HttpScriptServer(const HttpScriptServer&) = delete;
    HttpScriptServer& operator=(const HttpScriptServer&) = delete;

    uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>" + target ("https://" with TLS).
    std::string Url(const std::string& target = "") const;
    // "127.0.0.1:<port>", as a Host header names it.
    std::string HostPort() const;

    // Adds an answer at the end of the script.
    void Push(ScriptedAnswer answer);

    // The bytes of each request head, in order of arrival, up to and with the
    // blank line (plus anything that arrived with it). A connection that
    // closed or stalled before its blank line contributes what it sent.
    std::vector<std::string> Requests() const;
    // Connections accepted so far, Hangup ones included.
    size_t Connections() const;
    // Waits until at least count requests were recorded; false on timeout.
    bool WaitForRequests(size_t count, int timeoutMs = 5000) const;

  private:
    void Run();
    void Answer(int fd);
    void Start();

    int listenFd_ = -1;
    int stopPipe_[2] = {-1, -1};
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable recorded_;
    std::deque<ScriptedAnswer> script_;
    std::vector<std::string> requests_;
    size_t connections_ = 0;
    struct Held {
        int Fd;
        int64_t DeadlineMs;  // steady clock; 0 = until destroyed
        ssl_st* Tls;         // null without TLS
    };
    ssl_ctx_st* tls_ = nullptr;
    std::vector<Held> held_;  // server thread only
    std::thread thread_;
};
