#pragma once
#include <chrono>
#include <string>

// "HH:MM:SS" of local time; "DD.MM.YYYY HH:MM:SS" when `when` is not on the
// same day as `now`.
std::string TimeText(std::chrono::system_clock::time_point when,
                     std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
