#include "fetch/host_gate.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <map>

struct HostGate::ShareLocks {
    std::mutex Locks[CURL_LOCK_DATA_LAST];
};

namespace {

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void* user) noexcept {
    static_cast<std::mutex*>(user)[data].lock();
}

void UnlockShare(CURL*, curl_lock_data data, void* user) noexcept {
    static_cast<std::mutex*>(user)[data].unlock();
}

// The slice of a wait after which `stopping` is asked again.
constexpr auto StopPoll = std::chrono::milliseconds(50);

}  // namespace

HostGate::HostGate() : Locks(std::make_unique<ShareLocks>()) {
    CURLSH* share = curl_share_init();
    if (!share) return;
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, LockShare);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, UnlockShare);
    curl_share_setopt(share, CURLSHOPT_USERDATA, Locks->Locks);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    Share_ = share;
}

HostGate::~HostGate() {
    if (Share_) curl_share_cleanup(static_cast<CURLSH*>(Share_));
}

HostGate& HostGate::For(const std::string& hostKey) {
    // Never freed: handles of threads still ending at exit may point at a share.
    static auto* gates = new std::map<std::string, std::unique_ptr<HostGate>>;
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    std::unique_ptr<HostGate>& gate = (*gates)[hostKey];
    if (!gate) gate = std::make_unique<HostGate>();
    return *gate;
}

std::unique_ptr<HostGate::Slot> HostGate::Enter(int maxConnections,
                                                const std::function<bool()>& stopping) {
    const int cap = std::max(1, maxConnections);
    std::unique_lock<std::mutex> lock(Mutex);
    for (;;) {
        if (stopping && stopping()) return nullptr;
        const auto now = Clock::now();
        if (now < NotBefore_) {
            Changed.wait_until(lock, std::min(NotBefore_, now + StopPoll));
        } else if (InFlight_ >= cap) {
            Changed.wait_for(lock, StopPoll);
        } else {
            ++InFlight_;
            return std::make_unique<Slot>(*this);
        }
    }
}

void HostGate::Leave() {
    {
        std::lock_guard<std::mutex> lock(Mutex);
        --InFlight_;
    }
    Changed.notify_all();
}

void HostGate::HoldUntil(Clock::time_point until) {
    std::lock_guard<std::mutex> lock(Mutex);
    NotBefore_ = std::max(NotBefore_, until);
}

HostGate::Clock::time_point HostGate::NotBefore() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return NotBefore_;
}

int HostGate::InFlight() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return InFlight_;
}

long long RetryAfterSeconds(const std::string& value, std::time_t now) {
    size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return -1;
    const size_t last = value.find_last_not_of(" \t");
    const std::string text = value.substr(first, last - first + 1);
    if (std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        // Longer than any sane wait; the caller caps it anyway.
        if (text.size() > 12) return 999999999999LL;
        return std::stoll(text);
    }
    const time_t when = curl_getdate(text.c_str(), nullptr);
    if (when == -1) return -1;
    return when <= now ? 0 : static_cast<long long>(when - now);
}
