#include "platform/numbers.h"

#include <algorithm>
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

// A finite double written out in full: every binary fraction has a finite
// decimal expansion, so rounding on these digits is exact. Rounding works on
// them, not on the double, so that exact ties (0,0625 to three decimals) go
// away from zero like every other number the program shows, instead of to
// even as the standard library's formatting does.
struct Decimal {
    bool Negative = false;
    std::string Digits;  // the integer part's digits (at least one), then the fraction's
    size_t Point = 1;    // the integer part's length
};

Decimal ExactDecimal(double value) {
    int exponent = 0;
    std::frexp(value, &exponent);
    // A double is m * 2^(exponent - 53): that many fraction digits, at most 1074.
    const int fractionDigits = std::clamp(53 - exponent, 0, 1074);
    char buf[1500];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value),
                                   std::chars_format::fixed, fractionDigits);
    Decimal d;
    d.Negative = std::signbit(value);
    const std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
    const size_t point = text.find('.');
    d.Point = point == std::string_view::npos ? text.size() : point;
    d.Digits.assign(text.substr(0, d.Point));
    if (point != std::string_view::npos) d.Digits.append(text.substr(point + 1));
    return d;
}

// Keeps the digits before index `cut`, half away from zero: the magnitude
// goes up when the first dropped digit is 5 or more. Dropped integer digits
// become zeros.
void RoundDigitsAt(Decimal& d, size_t cut) {
    if (cut >= d.Digits.size()) return;
    const bool up = d.Digits[cut] >= '5';
    d.Digits.resize(std::max(cut, d.Point), '0');
    for (size_t i = cut; i < d.Point; ++i) d.Digits[i] = '0';
    if (!up) return;
    size_t i = cut;
    while (i > 0 && d.Digits[i - 1] == '9') d.Digits[--i] = '0';
    if (i == 0) {
        d.Digits.insert(d.Digits.begin(), '1');
        ++d.Point;
    } else {
        ++d.Digits[i - 1];
    }
}

void RoundDecimals(Decimal& d, int decimals) {
    RoundDigitsAt(d, d.Point + static_cast<size_t>(std::max(decimals, 0)));
}

void RoundSignificant(Decimal& d, int precision) {
    const size_t first = d.Digits.find_first_not_of('0');
    if (first == std::string::npos || precision <= 0) return;
    RoundDigitsAt(d, first + static_cast<size_t>(precision));
}

// "-12,340" for decimals 3; a value that shows as zero has no sign.
std::string FixedText(const Decimal& d, int decimals) {
    std::string whole = d.Digits.substr(0, d.Point);
    const size_t lead = std::min(whole.find_first_not_of('0'), whole.size() - 1);
    whole.erase(0, lead);
    std::string fraction = d.Digits.substr(d.Point);
    fraction.resize(static_cast<size_t>(std::max(decimals, 0)), '0');
    std::string s;
    const bool zero = (whole + fraction).find_first_not_of('0') == std::string::npos;
    if (d.Negative && !zero) s += '-';
    s += whole;
    if (decimals > 0) s += ',' + fraction;
    return s;
}

}  // namespace

std::string FormatGeneral(double value) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    if (value == 0) return "0";
    // Rounded to 15 digits in decimal first; 15 digits survive the way
    // through a double, so the general format then shows exactly them.
    Decimal d = ExactDecimal(value);
    RoundSignificant(d, 15);
    std::string plain = d.Negative ? "-" : "";
    plain += d.Digits.substr(0, d.Point) + "." + d.Digits.substr(d.Point) + "0";
    double rounded = value;
    std::from_chars(plain.data(), plain.data() + plain.size(), rounded);
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, rounded, std::chars_format::general, 15);
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
    // Never printf: QApplication sets the C locale from the environment,
    // and these texts must not follow it.
    if (!std::isfinite(value)) return FormatGeneral(value);
    Decimal d = ExactDecimal(value);
    RoundDecimals(d, decimals);
    return FixedText(d, decimals);
}

std::string FormatNumber(double value, int precision, int decimals) {
    if (!std::isfinite(value)) return FormatGeneral(value);
    // As a person would: first to `precision` digits, then those to `decimals`.
    Decimal d = ExactDecimal(value);
    RoundSignificant(d, precision);
    RoundDecimals(d, decimals);
    std::string s = FixedText(d, decimals);
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
