#include "geo/coordinate_text.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>

namespace {

constexpr double OneSixtieth = 0.016666666666666666;  // nearest double to 1/60

std::u32string DecodeUtf8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        char32_t cp = 0;
        if (lead < 0x80) {
            cp = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07;
            extra = 3;
        } else {
            out.push_back(U'\uFFFD');
            ++i;
            continue;
        }
        if (i + static_cast<std::size_t>(extra) >= text.size()) {  // cut short
            out.push_back(U'\uFFFD');
            break;
        }
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            const auto cont = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((cont & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (cont & 0x3F);
        }
        if (!ok) {
            out.push_back(U'\uFFFD');
            ++i;
            continue;
        }
        out.push_back(cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string EncodeUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t cp : text) AppendUtf8(out, cp);
    return out;
}

// 1-based position of the first ch, 0 when absent.
int PositionOf(const std::u32string& text, char32_t ch) {
    const auto at = text.find(ch);
    return at == std::u32string::npos ? 0 : static_cast<int>(at) + 1;
}

bool IsBlank(char32_t ch) {
    return ch == U' ' || ch == U'\t';
}
bool IsDigit(char32_t ch) {
    return ch >= U'0' && ch <= U'9';
}

// Whole text as a signed decimal int, leading blanks allowed; -1 otherwise.
int IntOrMinusOne(std::u32string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == U'+' || text[i] == U'-')) negative = text[i++] == U'-';
    if (i == text.size()) return -1;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i])) return -1;
        value = value * 10 + (text[i] - U'0');
        if (value > int64_t{INT_MAX} + 1) return -1;
    }
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return -1;
    return static_cast<int>(value);
}

// A decimal number with the decimal comma, blanks around it allowed, an
// optional exponent; a point is not a separator. No locale involved.
bool ParseDecimalComma(std::u32string_view text, double& value) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;

    std::string ascii;
    std::size_t i = begin;
    if (i < end && (text[i] == U'+' || text[i] == U'-')) {
        if (text[i] == U'-') ascii += '-';
        ++i;
    }
    int mantissaDigits = 0;
    for (; i < end && IsDigit(text[i]); ++i, ++mantissaDigits) ascii += static_cast<char>(text[i]);
    if (i < end && text[i] == U',') {
        ascii += '.';
        for (++i; i < end && IsDigit(text[i]); ++i, ++mantissaDigits) {
            ascii += static_cast<char>(text[i]);
        }
    }
    if (mantissaDigits == 0) return false;
    if (i < end && (text[i] == U'e' || text[i] == U'E')) {
        ascii += 'e';
        ++i;
        if (i < end && (text[i] == U'+' || text[i] == U'-')) ascii += static_cast<char>(text[i++]);
        int exponentDigits = 0;
        for (; i < end && IsDigit(text[i]); ++i, ++exponentDigits) {
            ascii += static_cast<char>(text[i]);
        }
        if (exponentDigits == 0) return false;
    }
    if (i != end) return false;
    const char* first = ascii.data();
    const char* last = first + ascii.size();
    const auto [ptr, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && ptr == last && std::isfinite(value);
}

std::string WholeDegrees(double v) {
    return ToFixed(std::trunc(v), 0);
}

struct SplitValue {
    double Whole;
    std::string Minutes;  // with the comma
};

SplitValue Split(double value) {
    const double v = std::fabs(value);
    const double whole = std::trunc(v);
    return {whole, FormatMinutes((v - whole) * 60)};
}

}  // namespace

std::string ToFixed(double value, int decimals) {
    char buffer[400];
    const auto [ptr, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return "0";
    return std::string(buffer, ptr);
}

std::string FormatMinutes(double minutes) {
    std::string text;
    // An exact binary tie (2.8125) would round to even in to_chars; the
    // minutes pattern rounds half away from zero, like a person would.
    const double twice = minutes * 2000;
    if (std::isfinite(twice) && std::fabs(twice) < 0x1p52 && std::floor(twice) == twice &&
        std::fmod(twice, 2.0) != 0 && std::fma(minutes, 2000, -twice) == 0) {
        const auto thousandths = static_cast<int64_t>((std::fabs(twice) + 1) / 2);
        // Built in a buffer: the three decimals always have their three digits.
        char buffer[32];
        char* out = buffer;
        if (minutes < 0) *out++ = '-';
        out = std::to_chars(out, buffer + sizeof buffer - 4, thousandths / 1000).ptr;
        const auto frac = static_cast<int>(thousandths % 1000);
        *out++ = '.';
        *out++ = static_cast<char>('0' + frac / 100);
        *out++ = static_cast<char>('0' + frac / 10 % 10);
        *out++ = static_cast<char>('0' + frac % 10);
        text.assign(buffer, out);
    } else {
        text = ToFixed(minutes, 3);
    }
    if (text == "-0.000") text = "0.000";
    for (char& ch : text) {
        if (ch == '.') ch = ',';
    }
    return text;
}

KeyFilterResult FilterCoordinateKey(std::string_view text, int caret, char32_t key,
                                    CoordKind kind) {
    KeyFilterResult result;
    if (kind == CoordKind::Latitude) {
        if (key == U'N' || key == U'n' || key == U'Т' || key == U'т') result.Select = Hemisphere::N;
        if (key == U'S' || key == U's' || key == U'Ы' || key == U'ы') result.Select = Hemisphere::S;
    } else {
        if (key == U'E' || key == U'e' || key == U'У' || key == U'у') result.Select = Hemisphere::E;
        if (key == U'W' || key == U'w' || key == U'Ц' || key == U'ц') result.Select = Hemisphere::W;
    }
    if (result.Select) return result;

    const std::u32string chars = DecodeUtf8(text);
    const int d = PositionOf(chars, DegreeSign);
    const int c = PositionOf(chars, U',');
    const int a = PositionOf(chars, U'\'');

    if (IsDigit(key)) {
        if (!(a > 0 && caret >= a)) result.Char = key;
        return result;
    }
    if (key == U',' || key == U'.' || key == U' ') {
        char32_t mark = 0;
        if (d == 0) {
            mark = DegreeSign;
        } else if (c == 0) {
            mark = U',';
        } else if (a == 0) {
            mark = U'\'';
        }
        if (mark == 0 || caret <= 0) return result;
        // At least one minute digit must stand before the comma or apostrophe.
        if (mark != DegreeSign && caret <= d) return result;
        result.Char = mark;
        return result;
    }
    if (key == KeyBackspace) result.Char = KeyBackspace;
    return result;
}

ParsedCoordinate ParseCoordinate(std::string_view text, CoordKind kind, Hemisphere hemisphere) {
    const std::u32string chars = DecodeUtf8(text);
    const int n = static_cast<int>(chars.size());
    const int d = PositionOf(chars, DegreeSign);
    const bool hasApostrophe = PositionOf(chars, U'\'') > 0;
    const std::u32string_view view(chars);

    ParsedCoordinate result;
    int degrees = 0;
    double minutes = 0;
    if (n > 0 && d == 0) {
        degrees = IntOrMinusOne(view);
    } else if (1 < d && d < n) {
        degrees = IntOrMinusOne(view.substr(0, static_cast<std::size_t>(d - 1)));
        std::u32string_view minutesText = view.substr(static_cast<std::size_t>(d));
        // The closing apostrophe is taken to be the last character.
        if (hasApostrophe) minutesText.remove_suffix(1);
        if (!ParseDecimalComma(minutesText, minutes)) {
            result.Status = ParseStatus::NotANumber;
            result.MinutesText = EncodeUtf8(minutesText);
            return result;
        }
    } else if (d == n && n > 1) {
        degrees = IntOrMinusOne(view.substr(0, static_cast<std::size_t>(d - 1)));
    }

    const int maxDegrees = kind == CoordKind::Latitude ? 89 : 179;
    const bool valid = degrees >= 0 && degrees <= maxDegrees && minutes >= 0 && minutes < 60;
    result.Status = valid ? ParseStatus::Valid : ParseStatus::OutOfRange;
    result.Value = degrees + minutes * OneSixtieth;
    if (hemisphere == Hemisphere::S || hemisphere == Hemisphere::E) result.Value = -result.Value;
    return result;
}

std::string FormatStatusCoordinate(double value, CoordKind kind) {
    // The letter as a char: assigning a literal to the empty string trips
    // GCC 12's -Wrestrict at -O3 (a false alarm inside std::string).
    const bool positive = value >= 0;
    const char letter =
        kind == CoordKind::Latitude ? (positive ? 'N' : 'S') : (positive ? 'W' : 'E');
    const SplitValue split = Split(value);
    std::string text(1, letter);
    text += WholeDegrees(split.Whole);
    text += "г ";
    text += split.Minutes;
    text += "мин";
    return text;
}

EntryCoordinate FormatEntryCoordinate(double value, CoordKind kind) {
    EntryCoordinate entry;
    if (kind == CoordKind::Latitude) {
        entry.Hemi = value >= 0 ? Hemisphere::N : Hemisphere::S;
    } else {
        entry.Hemi = value >= 0 ? Hemisphere::W : Hemisphere::E;
    }
    SplitValue split = Split(value);
    if (split.Minutes == "60,000") {
        split.Whole += 1;
        split.Minutes = "0,000";
    }
    entry.Text = WholeDegrees(split.Whole);
    entry.Text += "°";
    entry.Text += split.Minutes;
    entry.Text += "'";
    return entry;
}
