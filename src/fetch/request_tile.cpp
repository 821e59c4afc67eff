#include "fetch/request_tile.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string_view>

#include "platform/file_io.h"
#include "platform/numbers.h"
#include "platform/text_codec.h"
#include "tilestore/parent_tiles.h"

namespace {

std::mutex OptionsLock;
FetchOptions Options;
std::atomic<bool> Aborting{false};

constexpr const char* AcceptHeader = "Accept: text/html, */*";
constexpr const char* UserAgentHeader = "User-Agent: Mozilla/3.0 (compatible; Indy Library)";

struct EasyHandle {
    CURL* Handle = curl_easy_init();
    EasyHandle() = default;
    EasyHandle(const EasyHandle&) = delete;
    EasyHandle& operator=(const EasyHandle&) = delete;
    ~EasyHandle() {
        if (Handle) curl_easy_cleanup(Handle);
    }
};

struct HeaderList {
    curl_slist* List = nullptr;
    HeaderList() = default;
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;
    ~HeaderList() { curl_slist_free_all(List); }
    bool Add(const std::string& line) {
        curl_slist* grown = curl_slist_append(List, line.c_str());
        if (!grown) return false;
        List = grown;
        return true;
    }
};

// What the callbacks collect of one answer. Interim answers (1xx, a proxy's
// CONNECT answer) come first; only the last status line and its headers count.
struct Answer {
    std::string Body;
    std::string StatusLine;
    bool HasLocation = false;
    size_t MaxBody = 0;
};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* answer = static_cast<Answer*>(user);
    const size_t length = size * count;
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
        answer->StatusLine.assign(line);
        answer->HasLocation = false;
    } else if (StartsWithNoCase(line, "location:")) {
        answer->HasLocation = true;
    }
    return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* answer = static_cast<Answer*>(user);
    const size_t length = size * count;
    if (answer->Body.size() + length > answer->MaxBody) return 0;  // ends the transfer
    answer->Body.append(data, length);
    return length;
}

int OnProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return Aborting.load(std::memory_order_relaxed) ? 1 : 0;
}

std::string Base64(std::string_view bytes) {
    static constexpr char Digits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 |
                           static_cast<uint8_t>(bytes[i + 1]) << 8 |
                           static_cast<uint8_t>(bytes[i + 2]);
        out += Digits[v >> 18 & 63];
        out += Digits[v >> 12 & 63];
        out += Digits[v >> 6 & 63];
        out += Digits[v & 63];
    }
    if (i + 1 == bytes.size()) {
        const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
        out += Digits[v >> 18 & 63];
        out += Digits[v >> 12 & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1])
                                                                      << 8;
        out += Digits[v >> 18 & 63];
        out += Digits[v >> 12 & 63];
        out += Digits[v >> 6 & 63];
        out += '=';
    }
    return out;
}

// The proxy is always an HTTP proxy, whatever scheme-like text the host field holds.
std::string ProxyUrl(const std::string& host) {
    const bool ipv6 = host.find(':') != std::string::npos && host.front() != '[';
    return ipv6 ? "http://[" + host + "]" : "http://" + host;
}

// The URL without "user:password@": curl would turn user info into an
// Authorization header of its own, and the request is exactly our lines.
std::string WithoutUserInfo(const std::string& url) {
    const size_t scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    const size_t host = scheme + 3;
    const size_t end = std::min(url.find_first_of("/?#", host), url.size());
    const size_t at = url.rfind('@', end == 0 ? 0 : end - 1);
    if (at == std::string::npos || at < host) return url;
    return url.substr(0, host) + url.substr(at + 1);
}

std::string StatusTextOf(const std::string& statusLine) {
    const size_t blank = statusLine.find(' ');
    return blank == std::string::npos ? std::string() : statusLine.substr(blank + 1);
}

// Sends the request and reads the whole answer. True for a 2xx answer
// without a Location header.
bool Exchange(MainState& state, const std::string& url, Answer& answer) {
    if (Aborting.load()) return false;
    const FetchOptions options = GetFetchOptions();
    const ProxySettings proxy = state.ProxySnapshot();
    const bool viaProxy = proxy.UseProxy && !proxy.ProxyHost.empty();
    const bool https = StartsWithNoCase(url, "https://");
    long proxyPort = 0;
    if (viaProxy) {
        proxyPort = IntOrZero(proxy.ProxyPort);
        // Port 0 would make curl pick its own default; nothing listens there anyway.
        if (proxyPort <= 0 || proxyPort > 65535) return false;
    }

    // Exactly the specified header lines: custom Accept and User-Agent replace
    // curl's own; the empty ones suppress headers curl might add by itself.
    // The lists outlive the handle that points at them.
    HeaderList headers, proxyHeaders;
    bool listsOk = headers.Add(AcceptHeader) && headers.Add(UserAgentHeader);
    if (viaProxy && !proxy.ProxyUser.empty()) {
        // The Windows-1251 bytes, as the settings file and a proxy's
        // password file hold them, not the UTF-8 we keep in memory.
        const std::string auth = "Proxy-Authorization: Basic " +
                                 Base64(Utf8ToCp1251(proxy.ProxyUser + ":" + proxy.ProxyPassword));
        // Over https the proxy only sees the CONNECT request; the credentials
        // belong there and never inside the tunnel to the server.
        listsOk = listsOk && (https ? proxyHeaders.Add(auth) : headers.Add(auth));
    }
    for (const char* removed :
         {"Connection:", "Proxy-Connection:", "Accept-Encoding:", "Content-Length:", "Expect:",
          "Transfer-Encoding:", "Referer:", "Cookie:"})
        listsOk = listsOk && headers.Add(removed);
    if (https && viaProxy) listsOk = listsOk && proxyHeaders.Add("Proxy-Connection:");
    if (!listsOk) return false;

    EasyHandle easy;
    if (!easy.Handle) return false;
    CURL* h = easy.Handle;
    answer.MaxBody = options.MaxBodyBytes;
    const std::string target = WithoutUserInfo(url);
    curl_easy_setopt(h, CURLOPT_URL, target.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.ConnectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, options.StallSeconds);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.MaxBodyBytes));
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.CaFile.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, options.CaFile.c_str());
    curl_easy_setopt(h, CURLOPT_HEADEROPT, CURLHEADER_SEPARATE);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.List);
    // An explicit proxy, or explicitly none: http_proxy and friends in the
    // environment must not change where a request goes.
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    if (viaProxy) {
        const std::string proxyUrl = ProxyUrl(proxy.ProxyHost);
        curl_easy_setopt(h, CURLOPT_PROXY, proxyUrl.c_str());  // curl copies it
        curl_easy_setopt(h, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        curl_easy_setopt(h, CURLOPT_PROXYPORT, proxyPort);
        curl_easy_setopt(h, CURLOPT_HTTPPROXYTUNNEL, 0L);
        if (proxyHeaders.List) curl_easy_setopt(h, CURLOPT_PROXYHEADER, proxyHeaders.List);
    } else {
        curl_easy_setopt(h, CURLOPT_PROXY, "");
    }
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &answer);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);

    if (curl_easy_perform(h) != CURLE_OK) return false;
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    return code >= 200 && code <= 299 && !answer.HasLocation;
}

}  // namespace

FetchOptions GetFetchOptions() {
    std::lock_guard<std::mutex> lock(OptionsLock);
    return Options;
}

void SetFetchOptions(const FetchOptions& options) {
    std::lock_guard<std::mutex> lock(OptionsLock);
    Options = options;
}

void AbortRequests(bool abort) {
    Aborting = abort;
}

void FetchGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string TrafficText(int64_t receivedBytes) {
    return FormatFixed(static_cast<double>(receivedBytes) / 1048576.0, 3) + " Mb из интернета ";
}

RequestOutcome RequestTile(MainState& state, jtype& tile, bool viewFill, std::string& statusText) {
    FetchGlobalInit();
    statusText.clear();
    Answer answer;
    if (!Exchange(state, tile.Url, answer)) {
        statusText = StatusTextOf(answer.StatusLine);
        return RequestOutcome::RequestFailed;
    }

    std::string body = std::move(answer.Body);
    {
        // The text goes out under the lock, so texts arrive in counting order.
        std::lock_guard<std::mutex> lock(state.ThreadLock);
        state.ReceivedBytes += static_cast<int64_t>(body.size());
        state.Sink->SetTrafficText(TrafficText(state.ReceivedBytes));
    }

    if (body.size() <= 4) {
        if (FileExists(tile.FileName)) RemoveFile(tile.FileName);
        return RequestOutcome::EmptyAnswer;
    }
    if (static_cast<uint8_t>(body[body.size() - 2]) != 0xFF ||
        static_cast<uint8_t>(body[body.size() - 1]) != 0xD9)
        return RequestOutcome::NoEndMarker;
    if (!tile.Image->Decode(std::move(body))) return RequestOutcome::Undecodable;
    if (!WriteFileAtomic(tile.FileName, tile.Image->Data())) return RequestOutcome::NotStored;
    if (viewFill && state.GenerateUpperLayers) BuildParentTile(state, tile.FileName);
    return RequestOutcome::Stored;
}
