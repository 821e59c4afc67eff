// A minimal HTTP client on plain sockets for checking servers in tests: it
// sends exactly the bytes given and keeps every byte of the answer.
//
//     RawHttpResponse r = RawHttpGet(server.Port(), "/kh?v=9&n=404&t=tq");
//     EXPECT_EQ(r.Status, 200);
//     EXPECT_TRUE(r.Complete);
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct RawHttpResponse {
    std::string Raw;                                           // everything received, unparsed
    int Status = 0;                                            // 0 when no status line arrived
    std::string StatusLine;                                    // without CR LF
    std::vector<std::pair<std::string, std::string>> Headers;  // in order, values trimmed
    std::string Body;                                          // de-chunked when chunked
    bool Chunked = false;
    // The body arrived whole: as long as Content-Length says, or chunks up to
    // the last one; without either, up to the close.
    bool Complete = false;

    // Value of the first header of that name (any case); empty when absent.
    std::string Header(std::string_view name) const;
};

// Connects to 127.0.0.1:port, sends request verbatim and returns all bytes
// until the server closes or timeoutMs passes. Empty when the connection fails.
std::string RawHttpExchange(uint16_t port, std::string_view request, int timeoutMs = 5000);

// Splits a raw answer into status, headers and body.
RawHttpResponse ParseHttpResponse(std::string raw);

// "GET <target> HTTP/1.1", Host and a blank line, then ParseHttpResponse.
RawHttpResponse RawHttpGet(uint16_t port, std::string_view target, int timeoutMs = 5000);
