#include "fetch/request_tile.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "core/map_sources.h"
#include "fetch/host_gate.h"
#include "platform/file_io.h"
#include "platform/numbers.h"
#include "platform/text_codec.h"
#include "tilestore/parent_tiles.h"

namespace {

std::mutex OptionsLock;
FetchOptions Options;
std::atomic<bool> Aborting{false};
std::atomic<size_t> InFlight{0};

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

// One answer's share of what all answers in flight may hold, given back
// when the answer goes.
class BodyBudget {
  public:
    BodyBudget() = default;
    BodyBudget(const BodyBudget&) = delete;
    BodyBudget& operator=(const BodyBudget&) = delete;
    ~BodyBudget() { InFlight.fetch_sub(Held); }
    bool Take(size_t bytes, size_t limit) noexcept {
        size_t now = InFlight.load();
        do {
            if (bytes > limit || now > limit - bytes) return false;
        } while (!InFlight.compare_exchange_weak(now, now + bytes));
        Held += bytes;
        return true;
    }

  private:
    size_t Held = 0;
};

// Why the body callback ended a transfer.
enum class Refusal { None, TooLarge, OverBudget, NoMemory };

// What the callbacks collect of one answer. Interim answers (1xx, a proxy's
// CONNECT answer) come first; only the last status line and its headers count.
struct Answer {
    std::string Body;
    std::string StatusLine;
    bool HasLocation = false;
    std::string ContentType, RetryAfter, ETag;
    size_t MaxBody = 0;
    size_t MaxInFlight = 0;
    BodyBudget Budget;
    Refusal Refused = Refusal::None;
    long Code = 0;  // the final status code, 0 without an answer
};

// What a request of a list source brings beyond the plain one.
struct ListRequest {
    std::vector<std::string> HeaderLines;  // complete "Name: value" lines
    bool KeepConnections = false;          // the list client's connection handling
    void* Share = nullptr;                 // the host's shared connections
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

std::string Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return std::string(text);
}

// The callbacks run inside libcurl, which is C: nothing may be thrown
// through it. A failure ends the transfer instead (a short count).
size_t OnHeader(char* data, size_t size, size_t count, void* user) noexcept {
    auto* answer = static_cast<Answer*>(user);
    const size_t length = size * count;
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    try {
        if (line.starts_with("HTTP/")) {
            answer->StatusLine.assign(line);
            answer->HasLocation = false;
            answer->ContentType.clear();
            answer->RetryAfter.clear();
            answer->ETag.clear();
        } else if (StartsWithNoCase(line, "location:")) {
            answer->HasLocation = true;
        } else if (StartsWithNoCase(line, "content-type:")) {
            answer->ContentType = Trimmed(line.substr(13));
        } else if (StartsWithNoCase(line, "retry-after:")) {
            answer->RetryAfter = Trimmed(line.substr(12));
        } else if (StartsWithNoCase(line, "etag:")) {
            answer->ETag = Trimmed(line.substr(5));
        }
    } catch (...) {
        answer->Refused = Refusal::NoMemory;
        return 0;
    }
    return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) noexcept {
    auto* answer = static_cast<Answer*>(user);
    const size_t length = size * count;
    if (answer->Body.size() + length > answer->MaxBody) {
        answer->Refused = Refusal::TooLarge;
        return 0;
    }
    if (!answer->Budget.Take(length, answer->MaxInFlight)) {
        answer->Refused = Refusal::OverBudget;
        return 0;
    }
    try {
        answer->Body.append(data, length);
    } catch (...) {
        answer->Refused = Refusal::NoMemory;
        return 0;
    }
    return length;
}

int OnProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept {
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

// "host:port" of a URL, the port given or the scheme's.
std::string HostPortOf(const std::string& url) {
    std::string result;
    CURLU* parts = curl_url();
    if (parts && curl_url_set(parts, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* host = nullptr;
        char* port = nullptr;
        if (curl_url_get(parts, CURLUPART_HOST, &host, 0) == CURLUE_OK) result = host;
        if (curl_url_get(parts, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK)
            result += std::string(":") + port;
        curl_free(host);
        curl_free(port);
    }
    curl_url_cleanup(parts);
    return result.empty() ? url : result;
}

std::string Megabytes(size_t bytes) {
    return bytes >= (1u << 20) ? std::to_string(bytes >> 20) + " MB"
                               : std::to_string(bytes >> 10) + " KB";
}

// A failed transfer in words, naming the side that failed.
std::string TransferFailure(CURLcode code, CURL* h, const Answer& answer, const std::string& peer,
                            const FetchOptions& options) {
    long osError = 0;
    curl_easy_getinfo(h, CURLINFO_OS_ERRNO, &osError);
    const std::string os = osError ? std::strerror(static_cast<int>(osError)) : "";
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return "host not found: " + peer;
        case CURLE_COULDNT_CONNECT:
            if (osError == ECONNREFUSED) return "connection refused by " + peer;
            return "cannot connect to " + peer + (os.empty() ? "" : ": " + os);
        case CURLE_OPERATION_TIMEDOUT: {
            curl_off_t connected = 0, total = 0;
            curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connected);
            curl_easy_getinfo(h, CURLINFO_TOTAL_TIME_T, &total);
            if (connected == 0) return "no connection to " + peer + " in time";
            // The deadline shows a little early in the measured time.
            if (total / 100 >= options.TotalTimeoutMs * 9)
                return "answer from " + peer + " not complete within " +
                       std::to_string(options.TotalTimeoutMs / 1000) + " s";
            return "answer from " + peer + " stalled";
        }
        case CURLE_GOT_NOTHING:
            return "empty reply from " + peer;
        case CURLE_PARTIAL_FILE:
            return "answer from " + peer + " cut short";
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
            return "connection to " + peer + " broken" + (os.empty() ? "" : ": " + os);
        case CURLE_FILESIZE_EXCEEDED:
            return "answer from " + peer + " larger than " + Megabytes(options.MaxBodyBytes);
        case CURLE_ABORTED_BY_CALLBACK:
            return "stopped";
        case CURLE_WRITE_ERROR:
            switch (answer.Refused) {
                case Refusal::TooLarge:
                    return "answer from " + peer + " larger than " +
                           Megabytes(options.MaxBodyBytes);
                case Refusal::OverBudget:
                    return "answers in flight would hold more than " +
                           Megabytes(options.MaxBodyBytesInFlight);
                case Refusal::NoMemory:
                    return "no memory for the answer from " + peer;
                case Refusal::None:
                    break;
            }
            break;
        default:
            break;
    }
    return std::string(curl_easy_strerror(code)) + " (" + peer + ")";
}

// Sends the request and reads the whole answer. True for a 2xx answer
// without a Location header; otherwise `failure` says why.
bool Exchange(MainState& state, const std::string& url, Answer& answer, std::string& failure,
              const ListRequest* list = nullptr) {
    if (Aborting.load()) {
        failure = "stopped";
        return false;
    }
    if (url.empty()) {
        failure = "no request address: the source string is not a usable template";
        return false;
    }
    const FetchOptions options = GetFetchOptions();
    const ProxySettings proxy = state.ProxySnapshot();
    const bool viaProxy = proxy.UseProxy && !proxy.ProxyHost.empty();
    const bool https = StartsWithNoCase(url, "https://");
    long proxyPort = 0;
    if (viaProxy) {
        proxyPort = IntOrZero(proxy.ProxyPort);
        // Port 0 would make curl pick its own default; nothing listens there anyway.
        if (proxyPort <= 0 || proxyPort > 65535) {
            failure = "proxy port is not a number from 1 to 65535: " + proxy.ProxyPort;
            return false;
        }
    }
    const std::string peer = viaProxy ? "proxy " + proxy.ProxyHost + ":" + std::to_string(proxyPort)
                                      : HostPortOf(WithoutUserInfo(url));

    // Exactly the specified header lines: custom Accept and User-Agent replace
    // curl's own; the empty ones suppress headers curl might add by itself.
    // The lists outlive the handle that points at them.
    HeaderList headers, proxyHeaders;
    bool listsOk = true;
    if (list) {
        for (const std::string& line : list->HeaderLines) listsOk = listsOk && headers.Add(line);
    } else {
        listsOk = headers.Add(AcceptHeader) && headers.Add(UserAgentHeader);
    }
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
          "Transfer-Encoding:", "Referer:", "Cookie:"}) {
        // A header the source sets itself is not taken out again.
        const std::string_view name(removed);
        const bool own = list && std::any_of(list->HeaderLines.begin(), list->HeaderLines.end(),
                                             [&](const std::string& line) {
                                                 return StartsWithNoCase(line, name);
                                             });
        if (!own) listsOk = listsOk && headers.Add(removed);
    }
    if (https && viaProxy) listsOk = listsOk && proxyHeaders.Add("Proxy-Connection:");
    EasyHandle easy;
    if (!listsOk || !easy.Handle) {
        failure = "no memory for the request";
        return false;
    }
    CURL* h = easy.Handle;
    answer.MaxBody = options.MaxBodyBytes;
    answer.MaxInFlight = options.MaxBodyBytesInFlight;
    const std::string target = WithoutUserInfo(url);
    curl_easy_setopt(h, CURLOPT_URL, target.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    if (list && list->KeepConnections) {
        // Kept connections, taken in turns by the host's workers; HTTP/2
        // where a TLS server offers it.
        curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
        if (list->Share) curl_easy_setopt(h, CURLOPT_SHARE, list->Share);
        curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
    } else {
        curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    }
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.ConnectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, options.StallSeconds);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, options.TotalTimeoutMs);
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

    if (const CURLcode result = curl_easy_perform(h); result != CURLE_OK) {
        failure = TransferFailure(result, h, answer, peer, options);
        return false;
    }
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    answer.Code = code;
    if (code >= 200 && code <= 299 && !answer.HasLocation) return true;
    failure = (answer.HasLocation ? "redirect (not followed): " : "answer ") +
              StatusTextOf(answer.StatusLine) + " from " + peer;
    return false;
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

size_t BodyBytesInFlight() {
    return InFlight.load();
}

std::string TrafficText(int64_t receivedBytes) {
    return FormatFixed(static_cast<double>(receivedBytes) / 1048576.0, 3) + " Mb из интернета ";
}

namespace {

constexpr const char* EtagAttribute = "user.vistrel.etag";

// The ETag a tile came with lives in an extended attribute of its file, so
// the cache folder holds nothing but tiles. Where the file system has none,
// refreshes go by the file time alone.
void KeepEtag(const std::string& fileName, const std::string& etag) {
    if (etag.empty() || etag.size() > 1024)
        removexattr(fileName.c_str(), EtagAttribute);
    else
        setxattr(fileName.c_str(), EtagAttribute, etag.data(), etag.size(), 0);
}

std::string KeptEtag(const std::string& fileName) {
    char value[1024];
    const ssize_t length = getxattr(fileName.c_str(), EtagAttribute, value, sizeof value);
    if (length <= 0) return {};
    std::string etag(value, static_cast<size_t>(length));
    return etag.find_first_of("\r\n") == std::string::npos ? etag : std::string();
}

// "Wed, 09 Dec 2026 17:10:13 GMT": the names are fixed, whatever the locale.
std::string HttpDate(int64_t seconds) {
    static constexpr const char* Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", Days[tm.tm_wday % 7],
                  tm.tm_mday, Months[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                  tm.tm_sec);
    return text;
}

bool IsImageType(const std::string& contentType) {
    return StartsWithNoCase(contentType, "image/");
}

// A good answer's checks, its decoding and its storing.
RequestOutcome CheckAndStore(MainState& state, jtype& tile, bool viewFill, Answer& answer,
                             const MapSource* source, bool listClient, std::string& why) {
    std::string& body = answer.Body;
    {
        // The text goes out under the lock, so texts arrive in counting order.
        std::lock_guard<std::mutex> lock(state.ThreadLock);
        state.ReceivedBytes += static_cast<int64_t>(body.size());
        state.Sink->SetTrafficText(TrafficText(state.ReceivedBytes));
    }

    if (body.size() <= 4) {
        if (FileExists(tile.FileName)) RemoveFile(tile.FileName);
        why = "empty answer";
        return RequestOutcome::EmptyAnswer;
    }
    // An error page sent as a success is never a tile, whatever it ends with.
    if (listClient && !IsImageType(answer.ContentType)) {
        why = "answer is " + (answer.ContentType.empty() ? "of no type" : answer.ContentType) +
              ", not an image";
        return RequestOutcome::Undecodable;
    }
    if (source && !source->NoImagery.empty()) {
        const std::string hash = Sha256Hex(body);
        if (std::find(source->NoImagery.begin(), source->NoImagery.end(), hash) !=
            source->NoImagery.end()) {
            why = "no imagery";
            return RequestOutcome::NoImagery;
        }
    }
    if (static_cast<uint8_t>(body[body.size() - 2]) != 0xFF ||
        static_cast<uint8_t>(body[body.size() - 1]) != 0xD9) {
        why = "answer without the JPEG end marker";
        return RequestOutcome::NoEndMarker;
    }
    // Anything larger than a tile is no tile, and is never decoded for nothing.
    int width = 0, height = 0;
    if (ReadJpegSize(body, width, height) && (width > MaxTileSide || height > MaxTileSide)) {
        why = "answer is a " + std::to_string(width) + "x" + std::to_string(height) +
              " picture, larger than a tile";
        return RequestOutcome::Undecodable;
    }
    if (!tile.Image->Decode(std::move(body))) {
        why = "answer is not a JPEG image";
        return RequestOutcome::Undecodable;
    }
    if (const FileResult written = WriteFileAtomic(tile.FileName, tile.Image->Data()); !written) {
        why = "cache file not written: " + written.Error;
        return RequestOutcome::NotStored;
    }
    if (listClient) KeepEtag(tile.FileName, answer.ETag);
    if (viewFill && state.GenerateUpperLayers) BuildParentTile(state, tile.FileName);
    return RequestOutcome::Stored;
}

// "scheme://host:port" of a URL: what the gates of the list sources are per.
std::string HostKeyOf(const std::string& url) {
    const size_t scheme = url.find("://");
    return (scheme == std::string::npos ? "http" : url.substr(0, scheme)) + "://" +
           HostPortOf(WithoutUserInfo(url));
}

// Sleeps until `until`, in short steps so that a stop or the shutdown cuts it.
bool SleepUntil(HostGate::Clock::time_point until, const std::function<bool()>& stopping) {
    while (HostGate::Clock::now() < until) {
        if (Aborting.load() || (stopping && stopping())) return false;
        std::this_thread::sleep_for(std::min<HostGate::Clock::duration>(
            until - HostGate::Clock::now(), std::chrono::milliseconds(50)));
    }
    return true;
}

// One request of a list source, with the waits its host asks for. A 429, or
// a 503 with Retry-After, holds every worker of the host for that long (at
// most MaxRetryAfterSeconds; 1, 2, 4... seconds for a 429 without one) and
// is asked again, until the waits would pass RetryBudgetSeconds.
bool ListExchange(MainState& state, const MapSource& source, const std::string& url,
                  ListRequest& request, Answer& answer, std::string& failure,
                  const std::function<bool()>& stopping) {
    HostGate& gate = HostGate::For(HostKeyOf(url));
    request.Share = gate.Share();
    request.KeepConnections = true;
    const FetchOptions options = GetFetchOptions();
    const auto aborting = [&] { return Aborting.load() || (stopping && stopping()); };
    long long waited = 0;
    for (int attempt = 0;; ++attempt) {
        answer.Body.clear();
        answer.Code = 0;
        bool ok;
        {
            const std::unique_ptr<HostGate::Slot> slot =
                gate.Enter(source.MaxConnections, aborting);
            if (!slot) {
                failure = "stopped";
                return false;
            }
            ok = Exchange(state, url, answer, failure, &request);
        }
        const bool slowDown =
            answer.Code == 429 || (answer.Code == 503 && !answer.RetryAfter.empty());
        if (ok || !slowDown) return ok;
        long long wait = RetryAfterSeconds(answer.RetryAfter, std::time(nullptr));
        if (wait < 0) wait = answer.Code == 429 ? (1LL << std::min(attempt, 10)) : 0;
        wait = std::min<long long>(wait, options.MaxRetryAfterSeconds);
        if (waited + wait > options.RetryBudgetSeconds) {
            failure += " (gave up after waiting " + std::to_string(waited) + " s)";
            return false;
        }
        waited += wait;
        const auto until = HostGate::Clock::now() + std::chrono::seconds(wait);
        gate.HoldUntil(until);
        if (!SleepUntil(until, stopping)) {
            failure = "stopped";
            return false;
        }
    }
}

}  // namespace

RequestOutcome RequestTile(MainState& state, jtype& tile, bool viewFill, std::string& statusText,
                           std::string* failure, const std::function<bool()>& stopping,
                           const int64_t* refreshOf) {
    FetchGlobalInit();
    statusText.clear();
    std::string why;
    const std::shared_ptr<const MapSource> source = state.ActiveSourceCopy();
    const bool listClient = source && !source->IsMain();
    const RequestOutcome outcome = [&] {
        Answer answer;
        ListRequest request;
        if (listClient) {
            request.HeaderLines.push_back("User-Agent: " +
                                          UserAgentOf(*source, state.SourceContactCopy()));
            request.HeaderLines.push_back("Accept: image/jpeg, image/*;q=0.8");
            for (const auto& [name, value] : source->Headers)
                request.HeaderLines.push_back(name + ": " + value);
        }
        if (refreshOf) {
            request.HeaderLines.push_back("If-Modified-Since: " + HttpDate(*refreshOf));
            if (const std::string etag = KeptEtag(tile.FileName); !etag.empty())
                request.HeaderLines.push_back("If-None-Match: " + etag);
            if (!listClient) {
                // The main source's own lines, with the condition added.
                request.HeaderLines.insert(request.HeaderLines.begin(),
                                           {AcceptHeader, UserAgentHeader});
            }
        }
        const bool ok =
            listClient ? ListExchange(state, *source, tile.Url, request, answer, why, stopping)
                       : Exchange(state, tile.Url, answer, why, refreshOf ? &request : nullptr);
        if (!ok) {
            statusText = StatusTextOf(answer.StatusLine);
            if (refreshOf && answer.Code == 304) {
                // Still current: its time says so until the next refresh is due.
                utimensat(AT_FDCWD, tile.FileName.c_str(), nullptr, 0);
                return RequestOutcome::NotModified;
            }
            return RequestOutcome::RequestFailed;
        }
        return CheckAndStore(state, tile, viewFill, answer, source.get(), listClient, why);
    }();
    if (failure) *failure = outcome == RequestOutcome::Stored ? std::string() : std::move(why);
    return outcome;
}
