#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

// What every worker of the process shares about one host of the list
// sources: how many requests are in flight to it (at most the source's
// connection limit) and until when the host asked us to wait (429 / 503 with
// Retry-After). Requests of other hosts never wait for it.
class HostGate {
  public:
    using Clock = std::chrono::steady_clock;

    // The gate of "scheme://host:port"; made on first use, lives as long as
    // the process.
    static HostGate& For(const std::string& hostKey);

    // Waits for a free slot and for the end of any back-off, then holds the
    // slot until the returned object goes. Null when `stopping` said so
    // first (asked every few tens of milliseconds).
    class Slot;
    std::unique_ptr<Slot> Enter(int maxConnections, const std::function<bool()>& stopping);

    // Every worker of the host waits until at least then.
    void HoldUntil(Clock::time_point until);
    Clock::time_point NotBefore() const;
    int InFlight() const;

    // libcurl's share of connections, TLS sessions and names of this host:
    // the workers' handles take turns with the same few connections.
    void* Share() const { return Share_; }

    HostGate();
    ~HostGate();
    HostGate(const HostGate&) = delete;
    HostGate& operator=(const HostGate&) = delete;

  private:
    void Leave();

    mutable std::mutex Mutex;
    std::condition_variable Changed;
    int InFlight_ = 0;
    Clock::time_point NotBefore_{};
    void* Share_ = nullptr;
    struct ShareLocks;
    std::unique_ptr<ShareLocks> Locks;
};

class HostGate::Slot {
  public:
    explicit Slot(HostGate& gate) : Gate(gate) {}
    ~Slot() { Gate.Leave(); }
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;

  private:
    HostGate& Gate;
};

// How long a Retry-After value asks to wait: seconds, or an HTTP date (then
// against `now`, the system time). A date in the past is 0; a value that is
// neither gives -1.
long long RetryAfterSeconds(const std::string& value, std::time_t now);
