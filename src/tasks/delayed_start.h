#pragma once
#include <chrono>
#include <string>

// What a task takes from the timer dialog when it is made.
struct DelayedStart {
    int Hours = 0;    // 0..100
    int Minutes = 0;  // 0..60
    // Only when the dialog was shown for this task and closed with OK.
    bool DialUp = false;
    bool HangUp = false;
    std::string DialEntry, DialUser, DialPassword;
};

// The moment a task made at `now` may begin: a full timestamp, so a delay
// past midnight waits for that moment on the next day.
inline std::chrono::system_clock::time_point DelayedStartTime(
    std::chrono::system_clock::time_point now, int hours, int minutes) {
    return now + std::chrono::hours(hours) + std::chrono::minutes(minutes);
}
