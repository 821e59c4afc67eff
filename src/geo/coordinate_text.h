#pragma once
#include <optional>
#include <string>
#include <string_view>

// Coordinates as the user reads and types them: degrees and minutes with a
// hemisphere letter instead of a sign (N/S, W/E; longitudes are west
// positive in memory). Texts are UTF-8; every position and length below counts
// characters (code points), so the degree sign is one character. Numbers use
// the decimal comma; the C locale is never touched, so all of this is
// thread-safe.

enum class CoordKind { Latitude, Longitude };

// Index order of the hemisphere boxes: N, S for latitudes; W, E for
// longitudes. S and E make the value negative.
enum class Hemisphere { N, S, W, E };

inline constexpr char32_t DegreeSign = U'\u00B0';
inline constexpr char32_t KeyBackspace = U'\b';
inline constexpr int MaxCoordinateTextLength = 14;  // characters

// 0 for N and W, 1 for S and E: the item index in the hemisphere box.
inline int HemisphereIndex(Hemisphere h) {
    return (h == Hemisphere::S || h == Hemisphere::E) ? 1 : 0;
}
inline Hemisphere HemisphereFromIndex(CoordKind kind, int index) {
    if (kind == CoordKind::Latitude) return index == 1 ? Hemisphere::S : Hemisphere::N;
    return index == 1 ? Hemisphere::E : Hemisphere::W;
}

struct KeyFilterResult {
    // The character to let through: the key itself for a digit or backspace,
    // a mark ("°", ",", "'") for a blank, comma or point; 0 when dropped.
    char32_t Char = 0;
    std::optional<Hemisphere> Select;  // a hemisphere key was pressed

    bool LetThrough() const { return Char != 0; }
};

// One typed key. caret is 0-based, in characters. The hemisphere keys work in
// both keyboard layouts (N = Т, S = Ы, E = У, W = Ц) and never enter the text;
// a blank, comma or point becomes the next missing mark, so the space bar is
// enough to type 55°45,348'.
KeyFilterResult FilterCoordinateKey(std::string_view text, int caret, char32_t key, CoordKind kind);

enum class ParseStatus {
    Valid,
    OutOfRange,  // degrees or minutes out of range, or degrees not an integer
    NotANumber,  // the minutes text is not a decimal number; Value is meaningless
};

struct ParsedCoordinate {
    double Value = 0;  // signed, degrees; set for Valid and OutOfRange
    ParseStatus Status = ParseStatus::Valid;
    std::string MinutesText;  // the text that failed, for NotANumber

    bool Valid() const { return Status == ParseStatus::Valid; }
};

// Valid: degrees 0..89 (latitude) or 0..179 (longitude), 0 <= minutes < 60.
// So a latitude of 90 or more and a longitude of 180 or more are never valid.
// An empty text reads as 0.
ParsedCoordinate ParseCoordinate(std::string_view text, CoordKind kind, Hemisphere hemisphere);

// Status bar form: N55г 45,348мин. Minutes are rounded on their own, so they
// may show 60,000 (55.999995 gives N55г 60,000мин).
std::string FormatStatusCoordinate(double value, CoordKind kind);

struct EntryCoordinate {
    std::string Text;  // 55°45,348'
    Hemisphere Hemi = Hemisphere::N;
};

// Edit box form and hemisphere. Unlike the status form, minutes that round to
// 60 carry into the degrees (56°0,000', not 55°60,000'), so that the text
// always reads back as a valid value close to the one given.
EntryCoordinate FormatEntryCoordinate(double value, CoordKind kind);

// Minutes with exactly three decimals and the decimal comma, rounded half away
// from zero: 45,348.
std::string FormatMinutes(double minutes);

// A number with a fixed count of decimals and a point, whatever the locale:
// for files that other programs read.
std::string ToFixed(double value, int decimals);
