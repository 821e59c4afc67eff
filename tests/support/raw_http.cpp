#include "support/raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// Decodes chunks from `data`; true when the last (zero) chunk was reached.
bool Dechunk(std::string_view data, std::string& body) {
    for (;;) {
        const size_t eol = data.find("\r\n");
        if (eol == std::string_view::npos) return false;
        const std::string sizeText(data.substr(0, data.find_first_of(";\r")));
        char* end = nullptr;
        const unsigned long long size = std::strtoull(sizeText.c_str(), &end, 16);
        if (sizeText.empty() || end == sizeText.c_str()) return false;
        data.remove_prefix(eol + 2);
        if (size == 0) return true;
        if (data.size() < size) {
            body.append(data);
            return false;
        }
        body.append(data.substr(0, size));
        data.remove_prefix(size);
        if (data.substr(0, 2) != "\r\n") return false;
        data.remove_prefix(2);
    }
}

}  // namespace

std::string RawHttpResponse::Header(std::string_view name) const {
    const std::string wanted = Lower(name);
    for (const auto& [key, value] : Headers)
        if (Lower(key) == wanted) return value;
    return {};
}

std::string RawHttpExchange(uint16_t port, std::string_view request, int timeoutMs) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return {};
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto left = [&] {
        return static_cast<int>(
            std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                     deadline - std::chrono::steady_clock::now())
                                     .count()));
    };
    while (!request.empty()) {
        const ssize_t n = send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the server may close before reading; keep what it answered
        request.remove_prefix(static_cast<size_t>(n));
    }
    std::string answer;
    char buffer[8192];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int rc = poll(&p, 1, left());
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) break;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        answer.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return answer;
}

RawHttpResponse ParseHttpResponse(std::string raw) {
    RawHttpResponse r;
    r.Raw = std::move(raw);
    const std::string_view all = r.Raw;
    const size_t headEnd = all.find("\r\n\r\n");
    if (headEnd == std::string_view::npos) return r;
    std::string_view head = all.substr(0, headEnd + 2);
    const size_t firstEol = head.find("\r\n");
    r.StatusLine = std::string(head.substr(0, firstEol));
    head.remove_prefix(firstEol + 2);
    const size_t space = r.StatusLine.find(' ');
    if (space != std::string::npos) r.Status = std::atoi(r.StatusLine.c_str() + space + 1);
    while (!head.empty()) {
        const size_t eol = head.find("\r\n");
        const std::string_view line = head.substr(0, eol);
        head.remove_prefix(eol + 2);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        r.Headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                               std::string(Trim(line.substr(colon + 1))));
    }
    const std::string_view body = all.substr(headEnd + 4);
    r.Chunked = Lower(r.Header("Transfer-Encoding")).find("chunked") != std::string::npos;
    const std::string length = r.Header("Content-Length");
    if (r.Chunked) {
        r.Complete = Dechunk(body, r.Body);
    } else if (!length.empty()) {
        const size_t expected = std::strtoull(length.c_str(), nullptr, 10);
        r.Body = std::string(body.substr(0, expected));
        r.Complete = body.size() >= expected;
    } else {
        r.Body = std::string(body);
        r.Complete = true;
    }
    return r;
}

RawHttpResponse RawHttpGet(uint16_t port, std::string_view target, int timeoutMs) {
    const std::string request = "GET " + std::string(target) +
                                " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
    return ParseHttpResponse(RawHttpExchange(port, request, timeoutMs));
}
