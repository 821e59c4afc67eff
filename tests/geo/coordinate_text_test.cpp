#include "geo/coordinate_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <random>
#include <string>

namespace {

// Readable test names from the case descriptions.
std::string CaseName(int index, const std::string& text) {
    std::string name = std::to_string(index) + "_";
    for (char ch : text) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
}

constexpr double OneSixtieth = 0.016666666666666666;

// A minimal edit box: the filter decides, the box inserts at the caret.
struct FakeEdit {
    std::u32string Text;
    int Caret = 0;
    Hemisphere Hemi = Hemisphere::N;
    CoordKind Kind = CoordKind::Latitude;
    int LetThrough = 0;

    std::string Utf8() const {
        std::string out;
        for (char32_t ch : Text) {
            if (ch < 0x80) {
                out += static_cast<char>(ch);
            } else {  // the texts here stay below U+0800
                out += static_cast<char>(0xC0 | (ch >> 6));
                out += static_cast<char>(0x80 | (ch & 0x3F));
            }
        }
        return out;
    }

    void Type(std::u32string_view keys) {
        for (char32_t key : keys) {
            const KeyFilterResult r = FilterCoordinateKey(Utf8(), Caret, key, Kind);
            if (r.Select) Hemi = *r.Select;
            if (!r.LetThrough()) continue;
            ++LetThrough;
            if (r.Char == KeyBackspace) {
                if (Caret > 0) Text.erase(static_cast<std::size_t>(--Caret), 1);
            } else {
                Text.insert(static_cast<std::size_t>(Caret++), 1, r.Char);
            }
        }
    }
};

TEST(FilterCoordinateKey, TheSpaceBarTypesEveryMark) {
    FakeEdit edit;
    edit.Type(U"55 45 348 ");
    EXPECT_EQ(edit.Utf8(), "55°45,348'");
    edit.Type(U" ");  // a fourth blank: all marks present
    EXPECT_EQ(edit.Utf8(), "55°45,348'");
    edit.Type(U"7");  // after the apostrophe
    EXPECT_EQ(edit.Utf8(), "55°45,348'");

    FakeEdit punct;
    punct.Type(U"55.45,348.");
    EXPECT_EQ(punct.Utf8(), "55°45,348'");
}

struct FilterCase {
    const char* Name;
    const char* Text;
    int Caret;
    char32_t Key;
    char32_t Expected;  // 0: dropped
};

class FilterTable : public testing::TestWithParam<FilterCase> {};

TEST_P(FilterTable, LetsThroughOrDrops) {
    const FilterCase& c = GetParam();
    const KeyFilterResult r = FilterCoordinateKey(c.Text, c.Caret, c.Key, CoordKind::Latitude);
    EXPECT_EQ(r.Char, c.Expected) << c.Name;
    EXPECT_FALSE(r.Select.has_value()) << c.Name;
}

// Carets count characters: "°" is one, though two bytes.
INSTANTIATE_TEST_SUITE_P(
    Keys, FilterTable,
    testing::Values(FilterCase{"blank in an empty edit", "", 0, U' ', 0},
                    FilterCase{"blank at the start of a text", "55", 0, U' ', 0},
                    FilterCase{"blank after degrees", "55", 2, U' ', DegreeSign},
                    FilterCase{"blank right after the degree sign", "55°", 3, U' ', 0},
                    FilterCase{"blank after a minute digit", "55°4", 4, U' ', U','},
                    FilterCase{"blank before the degree sign", "55°4", 2, U' ', 0},
                    FilterCase{"point before the minutes' end", "55°45,3", 7, U'.', U'\''},
                    FilterCase{"blank with all marks present", "55°45,348'", 10, U' ', 0},
                    FilterCase{"digit after the apostrophe", "55°45,3'", 8, U'7', 0},
                    FilterCase{"digit right before the apostrophe", "55°45,3'", 7, U'7', U'7'},
                    FilterCase{"digit at the start", "55°45,3'", 0, U'1', U'1'},
                    FilterCase{"backspace", "55°", 3, KeyBackspace, KeyBackspace},
                    FilterCase{"a letter", "55", 2, U'x', 0},
                    FilterCase{"a minus", "55", 0, U'-', 0},
                    FilterCase{"a longitude key in a latitude edit", "55", 2, U'E', 0},
                    FilterCase{"a Cyrillic key of no meaning", "55", 2, U'ж', 0}),
    [](const auto& info) { return CaseName(static_cast<int>(info.index), info.param.Name); });

struct HemisphereCase {
    CoordKind Kind;
    char32_t Key;
    Hemisphere Expected;
};

class HemisphereKeys : public testing::TestWithParam<HemisphereCase> {};

TEST_P(HemisphereKeys, SelectInBothLayoutsAndNeverEnterTheText) {
    const HemisphereCase& c = GetParam();
    const KeyFilterResult r = FilterCoordinateKey("55°", 3, c.Key, c.Kind);
    ASSERT_TRUE(r.Select.has_value());
    EXPECT_EQ(*r.Select, c.Expected);
    EXPECT_FALSE(r.LetThrough());
}

INSTANTIATE_TEST_SUITE_P(Layouts, HemisphereKeys,
                         testing::Values(HemisphereCase{CoordKind::Latitude, U'N', Hemisphere::N},
                                         HemisphereCase{CoordKind::Latitude, U'n', Hemisphere::N},
                                         HemisphereCase{CoordKind::Latitude, U'Т', Hemisphere::N},
                                         HemisphereCase{CoordKind::Latitude, U'т', Hemisphere::N},
                                         HemisphereCase{CoordKind::Latitude, U'S', Hemisphere::S},
                                         HemisphereCase{CoordKind::Latitude, U's', Hemisphere::S},
                                         HemisphereCase{CoordKind::Latitude, U'Ы', Hemisphere::S},
                                         HemisphereCase{CoordKind::Latitude, U'ы', Hemisphere::S},
                                         HemisphereCase{CoordKind::Longitude, U'E', Hemisphere::E},
                                         HemisphereCase{CoordKind::Longitude, U'e', Hemisphere::E},
                                         HemisphereCase{CoordKind::Longitude, U'У', Hemisphere::E},
                                         HemisphereCase{CoordKind::Longitude, U'у', Hemisphere::E},
                                         HemisphereCase{CoordKind::Longitude, U'W', Hemisphere::W},
                                         HemisphereCase{CoordKind::Longitude, U'w', Hemisphere::W},
                                         HemisphereCase{CoordKind::Longitude, U'Ц', Hemisphere::W},
                                         HemisphereCase{CoordKind::Longitude, U'ц',
                                                        Hemisphere::W}));

TEST(FilterCoordinateKey, LatitudeKeysDoNothingInALongitudeEdit) {
    for (char32_t key : {U'N', U'S', U'т', U'ы'}) {
        const KeyFilterResult r = FilterCoordinateKey("", 0, key, CoordKind::Longitude);
        EXPECT_FALSE(r.Select.has_value());
        EXPECT_FALSE(r.LetThrough());
    }
}

TEST(FilterCoordinateKey, BackspaceAndRetyping) {
    FakeEdit edit;
    edit.Kind = CoordKind::Longitude;
    edit.Type(U"37 37 038 ");
    edit.Type(std::u32string(5, KeyBackspace));  // back to "37°37"
    EXPECT_EQ(edit.Utf8(), "37°37");
    edit.Type(U"у 1 ");
    EXPECT_EQ(edit.Utf8(), "37°37,1'");
    EXPECT_EQ(edit.Hemi, Hemisphere::E);
    // Every digit, mark and backspace counted; the hemisphere key not.
    EXPECT_EQ(edit.LetThrough, 10 + 5 + 3);
}

struct ParseCase {
    const char* Text;
    CoordKind Kind;
    Hemisphere Hemi;
    ParseStatus Status;
    double Value;
};

class ParseTable : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseTable, ReadsTheFourFormsAndChecksRanges) {
    const ParseCase& c = GetParam();
    const ParsedCoordinate p = ParseCoordinate(c.Text, c.Kind, c.Hemi);
    EXPECT_EQ(p.Status, c.Status) << c.Text;
    if (c.Status != ParseStatus::NotANumber) {
        EXPECT_DOUBLE_EQ(p.Value, c.Value) << c.Text;
    }
}

constexpr CoordKind Lat = CoordKind::Latitude;
constexpr CoordKind Lon = CoordKind::Longitude;
constexpr ParseStatus Ok = ParseStatus::Valid;
constexpr ParseStatus Bad = ParseStatus::OutOfRange;
constexpr ParseStatus NaN = ParseStatus::NotANumber;

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseTable,
    testing::Values(
        ParseCase{"55", Lat, Hemisphere::N, Ok, 55}, ParseCase{"55°", Lat, Hemisphere::N, Ok, 55},
        ParseCase{"55°30", Lat, Hemisphere::N, Ok, 55.5},
        ParseCase{"55°30'", Lat, Hemisphere::N, Ok, 55.5},
        ParseCase{"55°30,5'", Lat, Hemisphere::N, Ok, 55 + 30.5 * OneSixtieth},
        ParseCase{"55°45,348'", Lat, Hemisphere::S, Ok, -(55 + 45.348 * OneSixtieth)},
        ParseCase{"37°37,038'", Lon, Hemisphere::E, Ok, -(37 + 37.038 * OneSixtieth)},
        ParseCase{"37°37,038'", Lon, Hemisphere::W, Ok, 37 + 37.038 * OneSixtieth},
        ParseCase{"", Lat, Hemisphere::N, Ok, 0}, ParseCase{"°", Lat, Hemisphere::N, Ok, 0},
        ParseCase{"°30", Lat, Hemisphere::N, Ok, 0},
        ParseCase{"89°59,999'", Lat, Hemisphere::N, Ok, 89 + 59.999 * OneSixtieth},
        ParseCase{"179°59,999'", Lon, Hemisphere::E, Ok, -(179 + 59.999 * OneSixtieth)},
        ParseCase{"90", Lat, Hemisphere::N, Bad, 90}, ParseCase{"90", Lon, Hemisphere::W, Ok, 90},
        ParseCase{"180", Lon, Hemisphere::W, Bad, 180},
        ParseCase{"180°", Lon, Hemisphere::E, Bad, -180},
        ParseCase{"55°60", Lat, Hemisphere::N, Bad, 56},
        ParseCase{"-5", Lat, Hemisphere::N, Bad, -5}, ParseCase{"5x", Lat, Hemisphere::N, Bad, -1},
        ParseCase{"55°-1", Lat, Hemisphere::N, Bad, 55 - OneSixtieth},
        ParseCase{"55°3x'", Lat, Hemisphere::N, NaN, 0},
        ParseCase{"55°30.5", Lat, Hemisphere::N, NaN, 0},
        ParseCase{"55°'", Lat, Hemisphere::N, NaN, 0},
        ParseCase{"55°30'x", Lat, Hemisphere::N, NaN, 0}),
    [](const auto& info) { return CaseName(static_cast<int>(info.index), info.param.Text); });

TEST(ParseCoordinate, NotANumberNamesTheMinutesText) {
    const ParsedCoordinate p = ParseCoordinate("55°3x'", Lat, Hemisphere::N);
    EXPECT_EQ(p.Status, ParseStatus::NotANumber);
    EXPECT_EQ(p.MinutesText, "3x");
    // The apostrophe is taken to be the last character, wherever it stands.
    EXPECT_EQ(ParseCoordinate("55°30'x", Lat, Hemisphere::N).MinutesText, "30'");
}

struct FormatCase {
    double Value;
    CoordKind Kind;
    const char* Status;
    const char* Entry;
    Hemisphere Hemi;
};

class FormatTable : public testing::TestWithParam<FormatCase> {};

TEST_P(FormatTable, StatusAndEntryTexts) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(FormatStatusCoordinate(c.Value, c.Kind), c.Status);
    const EntryCoordinate entry = FormatEntryCoordinate(c.Value, c.Kind);
    EXPECT_EQ(entry.Text, c.Entry);
    EXPECT_EQ(entry.Hemi, c.Hemi);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatTable,
    testing::Values(FormatCase{55.7558, Lat, "N55г 45,348мин", "55°45,348'", Hemisphere::N},
                    FormatCase{-55.7558, Lat, "S55г 45,348мин", "55°45,348'", Hemisphere::S},
                    FormatCase{-37.6173, Lon, "E37г 37,038мин", "37°37,038'", Hemisphere::E},
                    FormatCase{0, Lon, "W0г 0,000мин", "0°0,000'", Hemisphere::W},
                    FormatCase{-0.5, Lon, "E0г 30,000мин", "0°30,000'", Hemisphere::E},
                    FormatCase{0, Lat, "N0г 0,000мин", "0°0,000'", Hemisphere::N},
                    // Degrees truncated, minutes rounded on their own: the status
                    // text shows 60,000; the entry text carries so it reads back.
                    FormatCase{55.999995, Lat, "N55г 60,000мин", "56°0,000'", Hemisphere::N},
                    FormatCase{179.5, Lon, "W179г 30,000мин", "179°30,000'", Hemisphere::W}));

TEST(FormatMinutes, RoundsHalfAwayFromZeroWithTheComma) {
    EXPECT_EQ(FormatMinutes(45.348), "45,348");
    EXPECT_EQ(FormatMinutes(2.8125), "2,813");  // an exact binary tie
    EXPECT_EQ(FormatMinutes(0.0625), "0,063");
    EXPECT_EQ(FormatMinutes(2.81249), "2,812");
    EXPECT_EQ(FormatMinutes(59.9996), "60,000");
    EXPECT_EQ(FormatMinutes(0), "0,000");
}

TEST(CoordinateText, EntryTextReadsBackToTheThousandthOfAMinute) {
    std::mt19937_64 engine(3);
    for (CoordKind kind : {Lat, Lon}) {
        const double limit = kind == Lat ? 89.999 : 179.999;
        std::uniform_real_distribution<double> dist(-limit, limit);
        for (int i = 0; i < 20000; ++i) {
            const double value = dist(engine);
            const EntryCoordinate entry = FormatEntryCoordinate(value, kind);
            const ParsedCoordinate back = ParseCoordinate(entry.Text, kind, entry.Hemi);
            ASSERT_TRUE(back.Valid()) << entry.Text;
            ASSERT_NEAR(back.Value, value, 0.0005 * OneSixtieth + 1e-12) << entry.Text;
        }
    }
}

}  // namespace
