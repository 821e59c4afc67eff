#include "geo/tile_key.h"

#include <cassert>
#include <cmath>

#include "geo/pixel_math.h"
#include "geo/projection.h"

namespace {

// One step direction: letters on the side the step moves toward are passed
// over (swapped to the far side), the first other letter is swapped toward
// the step and ends the scan.
struct StepRule {
    char PassFrom1, PassTo1, PassFrom2, PassTo2;
    char StopFrom1, StopTo1, StopFrom2, StopTo2;
};

constexpr StepRule EastRule{'r', 'q', 's', 't', 'q', 'r', 't', 's'};
constexpr StepRule WestRule{'q', 'r', 't', 's', 'r', 'q', 's', 't'};
constexpr StepRule NorthRule{'q', 't', 'r', 's', 't', 'q', 's', 'r'};
constexpr StepRule SouthRule{'t', 'q', 's', 'r', 'q', 't', 'r', 's'};

void Step(std::string& key, std::size_t prefixLen, const StepRule& rule) {
    for (std::size_t i = key.size(); i > prefixLen; --i) {
        char& letter = key[i - 1];
        if (letter == rule.PassFrom1) {
            letter = rule.PassTo1;
        } else if (letter == rule.PassFrom2) {
            letter = rule.PassTo2;
        } else if (letter == rule.StopFrom1) {
            letter = rule.StopTo1;
            return;
        } else if (letter == rule.StopFrom2) {
            letter = rule.StopTo2;
            return;
        } else {
            assert(false && "not a key letter");
            return;
        }
    }
    // Every letter passed over: wrapped around the world.
}

}  // namespace

TileKey TileKeyAt(int z, double lon, double lat, const std::string& sourceString) {
    assert(z >= MinZoom && z <= MaxZoom);
    const double tiles = std::pow(2.0, z);
    const double h = std::pow(2.0, z - 1);
    const double n = GridY(z, lat);
    const double x = GridX(z, lon);

    // The half tests and the quadrant position use the same grid values, which
    // gives the tie-breaks of TileAt: the 0 meridian goes east, the equator north.
    const bool north = n >= h;
    const bool west = x > h;
    double b = north ? n - h : n;
    double a = west ? tiles - x : h - x;

    char letters[64];  // far more levels than any zoom in use
    std::size_t count = 0;
    letters[count++] = north ? (west ? 'q' : 'r') : (west ? 't' : 's');
    for (double u = h / 2; u >= 1 && count < sizeof letters; u /= 2) {
        if (b >= u && a >= u) {
            letters[count++] = 'r';
            a -= u;
            b -= u;
        } else if (b >= u) {
            letters[count++] = 'q';
            b -= u;
        } else if (a >= u) {
            letters[count++] = 's';
            a -= u;
        } else {
            letters[count++] = 't';
        }
    }
    TileKey result;
    result.Key.reserve(sourceString.size() + count);
    result.Key.append(sourceString).append(letters, count);
    result.XOffset = TruncToInt(256 * a);
    result.YOffset = TruncToInt(256 - 256 * b);
    return result;
}

void StepEast(std::string& key, std::size_t prefixLen) {
    Step(key, prefixLen, EastRule);
}
void StepWest(std::string& key, std::size_t prefixLen) {
    Step(key, prefixLen, WestRule);
}
void StepNorth(std::string& key, std::size_t prefixLen) {
    Step(key, prefixLen, NorthRule);
}
void StepSouth(std::string& key, std::size_t prefixLen) {
    Step(key, prefixLen, SouthRule);
}

TileIndex KeyToTile(std::string_view key, std::size_t prefixLen) {
    TileIndex tile;
    for (std::size_t i = prefixLen; i < key.size(); ++i) {
        const char letter = key[i];
        tile.Column = 2 * tile.Column + ((letter == 'r' || letter == 's') ? 1 : 0);
        tile.Row = 2 * tile.Row + ((letter == 's' || letter == 't') ? 1 : 0);
        ++tile.Zoom;
    }
    return tile;
}

std::string KeyLetters(int z, int column, int row) {
    static constexpr char Letters[2][2] = {{'q', 'r'}, {'t', 's'}};  // [row bit][column bit]
    std::string letters(static_cast<std::size_t>(z > 0 ? z : 0), 'q');
    for (int i = 0; i < z; ++i) {
        const int bit = z - 1 - i;
        letters[static_cast<std::size_t>(i)] = Letters[(row >> bit) & 1][(column >> bit) & 1];
    }
    return letters;
}

std::string TileName(std::string_view key, std::size_t prefixLen) {
    if (prefixLen >= key.size()) return {};
    return std::string(key.substr(prefixLen));
}

std::string TileFileName(std::string_view cachePath, std::string_view tileName) {
    std::string name;
    name.reserve(cachePath.size() + tileName.size() + 4);
    name.append(cachePath).append(tileName).append(".jpg");
    return name;
}

std::string ArchiveEntryName(std::string_view tileName) {
    return std::string(tileName) + ".jpg";
}

namespace {

enum class Placeholder { Zoom, Column, Row, RowFromSouth, Quadkey, Unknown };

Placeholder PlaceholderOf(std::string_view name) {
    if (name == "z") return Placeholder::Zoom;
    if (name == "x") return Placeholder::Column;
    if (name == "y") return Placeholder::Row;
    if (name == "-y") return Placeholder::RowFromSouth;
    if (name == "q") return Placeholder::Quadkey;
    return Placeholder::Unknown;
}

std::string QuadkeyDigits(std::string_view tileName) {
    std::string digits(tileName);
    for (char& c : digits) c = c == 'r' ? '1' : c == 't' ? '2' : c == 's' ? '3' : '0';
    return digits;
}

}  // namespace

bool IsUrlTemplate(std::string_view sourceString) {
    return sourceString.find('{') != std::string_view::npos;
}

std::string CheckUrlTemplate(std::string_view sourceString) {
    for (std::size_t open = sourceString.find('{'); open != std::string_view::npos;
         open = sourceString.find('{', open + 1)) {
        const std::size_t close = sourceString.find('}', open);
        if (close == std::string_view::npos)
            return "В шаблоне запроса не закрыта скобка: " + std::string(sourceString.substr(open));
        const std::string_view name = sourceString.substr(open + 1, close - open - 1);
        if (PlaceholderOf(name) == Placeholder::Unknown)
            return "Неизвестная подстановка {" + std::string(name) +
                   "} в шаблоне запроса. Допустимы {z}, {x}, {y}, {-y} и {q}.";
        open = close;
    }
    return {};
}

std::string UrlTemplateHelp() {
    return "Строка без \"{\" - начало запроса, к нему добавляются буквы фрагмента.\n"
           "Строка с \"{\" - шаблон адреса, ничего не добавляется:\n"
           "{z} - масштаб (1..20, как в схеме XYZ)\n"
           "{x} - столбец от запада\n"
           "{y} - строка от севера\n"
           "{-y} - строка от юга (TMS)\n"
           "{q} - ключ квадродерева цифрами 0-3 (0 СЗ, 1 СВ, 2 ЮЗ, 3 ЮВ)\n"
           "Пример: https://tile.example.org/{z}/{x}/{y}.jpg";
}

std::string TileUrl(std::string_view sourceString, std::string_view tileName) {
    std::string url;
    if (!IsUrlTemplate(sourceString)) {
        url.reserve(sourceString.size() + tileName.size());
        url.append(sourceString).append(tileName);
        return url;
    }
    if (!CheckUrlTemplate(sourceString).empty()) return {};
    const TileIndex tile = KeyToTile(tileName, 0);
    std::size_t at = 0;
    for (std::size_t open = sourceString.find('{'); open != std::string_view::npos;
         open = sourceString.find('{', at)) {
        const std::size_t close = sourceString.find('}', open);
        url.append(sourceString.substr(at, open - at));
        switch (PlaceholderOf(sourceString.substr(open + 1, close - open - 1))) {
            case Placeholder::Zoom:
                url += std::to_string(tile.Zoom);
                break;
            case Placeholder::Column:
                url += std::to_string(tile.Column);
                break;
            case Placeholder::Row:
                url += std::to_string(tile.Row);
                break;
            case Placeholder::RowFromSouth:
                url += std::to_string((1 << tile.Zoom) - 1 - tile.Row);
                break;
            case Placeholder::Quadkey:
                url += QuadkeyDigits(tileName);
                break;
            case Placeholder::Unknown:
                return {};  // CheckUrlTemplate let none through
        }
        at = close + 1;
    }
    url.append(sourceString.substr(at));
    return url;
}
