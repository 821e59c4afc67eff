#include "view/favorites.h"

#include <vector>

#include "platform/numbers.h"

namespace {

// The characters of a UTF-8 text, each as its bytes.
using Chars = std::vector<std::string>;

Chars Split(std::string_view text) {
    Chars chars;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t n = 1;
        while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
        chars.emplace_back(text.substr(i, n));
        i += n;
    }
    return chars;
}

std::string Join(const Chars& chars, std::size_t from = 0, std::size_t count = std::string::npos) {
    std::string out;
    for (std::size_t i = from; i < chars.size() && i - from < count; ++i) out += chars[i];
    return out;
}

// Inserts `what` so that it starts at 1-based column `column`, or at the end
// when the text is shorter.
void InsertAt(Chars& text, std::string_view what, std::size_t column) {
    Chars ins = Split(what);
    std::size_t at = column < 1 ? 0 : std::min(column - 1, text.size());
    text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), ins.begin(), ins.end());
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

std::string FavoriteName(std::string_view name) {
    Chars chars = Split(name);
    chars.resize(FavoriteNameLength, " ");
    return Join(chars);
}

std::string BuildFavoriteLine(std::string_view name, std::string_view zoomText,
                              std::string_view latHemisphere, std::string_view latText,
                              std::string_view lonHemisphere, std::string_view lonText) {
    // Each part after a blank; appended, not " " + ..., which GCC 12 at -O3
    // takes for an overlapping copy (a false -Wrestrict alarm).
    const auto blankThen = [](std::string_view a, std::string_view b = {}) {
        std::string part(1, ' ');
        part.append(a).append(b);
        return part;
    };
    Chars line(53, " ");
    InsertAt(line, FavoriteName(name), 1);
    InsertAt(line, blankThen(zoomText), 21);
    InsertAt(line, blankThen(latHemisphere, latText), 24);
    InsertAt(line, blankThen(lonHemisphere, lonText), 40);
    if (line.size() > FavoriteLineLength) line.resize(FavoriteLineLength);
    return Join(line);
}

std::optional<FavoriteFields> ParseFavoriteLine(std::string_view line) {
    const Chars chars = Split(line);
    if (chars.size() < FavoriteLineLength) return std::nullopt;
    auto columns = [&](std::size_t first, std::size_t last) {
        return Join(chars, first - 1, last - first + 1);
    };
    FavoriteFields f;
    int zoom = 0;
    if (!ParseInt(Trim(columns(22, 23)), zoom)) zoom = 1;
    f.ZoomIndex = zoom - 1;
    f.LatHemisphere = chars[24] == "S" ? 1 : 0;
    f.LonHemisphere = chars[40] == "W" ? 0 : 1;
    f.LatText = std::string(Trim(columns(26, 39)));
    f.LonText = std::string(Trim(columns(42, 55)));
    return f;
}
