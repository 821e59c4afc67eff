#include "platform/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

void CommaForPoint(std::string& s) {
    for (char& c : s)
        if (c == '.') c = ',';
}

}  // namespace

std::string FormatGeneral(double value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    if (value == 0) return "0";
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    std::string s(buf, res.ptr);
    auto e = s.find('e');
    if (e != std::string::npos) {
        // 1e-05 -> 1E-5, 1.5e+20 -> 1,5E20
        std::string mant = s.substr(0, e);
        std::string exp = s.substr(e + 1);
        bool neg = !exp.empty() && exp[0] == '-';
        if (!exp.empty() && (exp[0] == '-' || exp[0] == '+')) exp.erase(0, 1);
        while (exp.size() > 1 && exp[0] == '0') exp.erase(0, 1);
        s = mant + "E" + (neg ? "-" : "") + exp;
    }
    CommaForPoint(s);
    return s;
}

std::string FormatFixed(double value, int decimals) {
    // to_chars, not printf: QApplication sets the C locale from the
    // environment, and these texts must not follow it.
    char buf[512];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (res.ec != std::errc()) return FormatGeneral(value);
    std::string s(buf, res.ptr);
    // "-0,000" reads oddly; a value that rounds to zero has no sign.
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    CommaForPoint(s);
    return s;
}

std::string FormatNumber(double value, int precision, int decimals) {
    if (!std::isfinite(value)) return FormatGeneral(value);
    if (value != 0 && precision > 0) {
        char buf[64];
        auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific,
                                 precision - 1);
        std::from_chars(buf, res.ptr, value);
    }
    std::string s = FormatFixed(value, decimals);
    bool neg = !s.empty() && s[0] == '-';
    if (neg) s.erase(0, 1);
    auto comma = s.find(',');
    std::string whole = s.substr(0, comma);
    std::string rest = comma == std::string::npos ? std::string() : s.substr(comma);
    std::string grouped;
    for (size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0) grouped += ThousandsSeparator;
        grouped += whole[i];
    }
    return (neg ? "-" : "") + grouped + rest;
}

std::string FormatThousands(int64_t value) {
    return FormatNumber(static_cast<double>(value), 0, 0);
}

bool ParseReal(std::string_view text, double& value) {
    std::string_view s = Trim(text);
    if (s.empty()) return false;
    std::string buf;
    size_t i = 0;
    if (s[i] == '+' || s[i] == '-') buf += s[i++];
    bool digits = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') buf += s[i++], digits = true;
    if (i < s.size() && s[i] == ',') {
        buf += '.';
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') buf += s[i++], digits = true;
    }
    if (!digits) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        buf += 'e';
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) buf += s[i++];
        bool expDigits = false;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') buf += s[i++], expDigits = true;
        if (!expDigits) return false;
    }
    if (i != s.size()) return false;
    const char* b = buf.data();
    if (*b == '+') ++b;
    double v = 0;
    auto [ptr, ec] = std::from_chars(b, buf.data() + buf.size(), v);
    if (ec != std::errc() || ptr != buf.data() + buf.size()) return false;
    value = v;
    return true;
}

bool ParseInt(std::string_view text, int& value) {
    std::string_view s = Trim(text);
    if (s.empty()) return false;
    bool neg = false;
    if (s[0] == '+' || s[0] == '-') {
        neg = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return false;
    int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > int64_t{std::numeric_limits<int>::max()} + 1) return false;
    }
    if (neg) v = -v;
    if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min()) return false;
    value = static_cast<int>(v);
    return true;
}

int IntOrZero(std::string_view text) {
    int v = 0;
    return ParseInt(text, v) ? v : 0;
}
