#include "platform/time_text.h"

#include <ctime>

std::string TimeText(std::chrono::system_clock::time_point when,
                     std::chrono::system_clock::time_point now) {
    std::time_t w = std::chrono::system_clock::to_time_t(when);
    std::time_t n = std::chrono::system_clock::to_time_t(now);
    std::tm wt{}, nt{};
    localtime_r(&w, &wt);
    localtime_r(&n, &nt);
    char buf[64];
    if (wt.tm_year == nt.tm_year && wt.tm_yday == nt.tm_yday)
        std::strftime(buf, sizeof buf, "%H:%M:%S", &wt);
    else
        std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &wt);
    return buf;
}
