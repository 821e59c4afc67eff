// Task log lines with their time texts blanked: the rest of a line is exact.
#pragma once
#include <regex>
#include <string>
#include <vector>

inline std::vector<std::string> WithoutTimes(const std::vector<std::string>& lines) {
    static const std::regex time("\\d\\d:\\d\\d:\\d\\d");
    std::vector<std::string> out;
    for (const auto& line : lines) out.push_back(std::regex_replace(line, time, "T"));
    return out;
}
