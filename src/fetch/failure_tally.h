#pragma once
#include <map>
#include <mutex>
#include <string>

// How often each reason made a tile's attempt fail, so that a run can end
// with the commonest one in words. Shared by the connections of a task.
class FailureTally {
  public:
    void Add(const std::string& reason) {
        if (reason.empty()) return;
        std::lock_guard<std::mutex> lock(Mutex);
        ++Counts[reason];
        ++Total;
    }
    void AddAll(const FailureTally& other) {
        if (&other == this) return;
        std::scoped_lock lock(Mutex, other.Mutex);
        for (const auto& [reason, count] : other.Counts) Counts[reason] += count;
        Total += other.Total;
    }
    struct Commonest {
        std::string Reason;  // empty when nothing failed
        long long Count = 0, Total = 0;
    };
    // The most frequent reason; of equally frequent ones, the first in order.
    Commonest Most() const {
        std::lock_guard<std::mutex> lock(Mutex);
        Commonest most;
        most.Total = Total;
        for (const auto& [reason, count] : Counts)
            if (count > most.Count) most = {reason, count, Total};
        return most;
    }

  private:
    mutable std::mutex Mutex;
    std::map<std::string, long long> Counts;
    long long Total = 0;
};
