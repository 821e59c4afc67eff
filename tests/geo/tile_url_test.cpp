#include <gtest/gtest.h>

#include <string>

#include "geo/tile_key.h"

namespace {

const std::string AllPlaceholders = "https://tiles.example/{z}/{x}/{y}/{-y}/{q}.jpg";

struct EdgeCase {
    int Zoom;
    int Column, Row;
    const char* Url;  // AllPlaceholders expanded
};

// The four corner tiles of the world at zoom 1, 13 and 20.
const EdgeCase EdgeCases[] = {
    {1, 0, 0, "https://tiles.example/1/0/0/1/0.jpg"},
    {1, 1, 0, "https://tiles.example/1/1/0/1/1.jpg"},
    {1, 0, 1, "https://tiles.example/1/0/1/0/2.jpg"},
    {1, 1, 1, "https://tiles.example/1/1/1/0/3.jpg"},
    {13, 0, 0, "https://tiles.example/13/0/0/8191/0000000000000.jpg"},
    {13, 8191, 0, "https://tiles.example/13/8191/0/8191/1111111111111.jpg"},
    {13, 0, 8191, "https://tiles.example/13/0/8191/0/2222222222222.jpg"},
    {13, 8191, 8191, "https://tiles.example/13/8191/8191/0/3333333333333.jpg"},
    {20, 0, 0, "https://tiles.example/20/0/0/1048575/00000000000000000000.jpg"},
    {20, 1048575, 0, "https://tiles.example/20/1048575/0/1048575/11111111111111111111.jpg"},
    {20, 0, 1048575, "https://tiles.example/20/0/1048575/0/22222222222222222222.jpg"},
    {20, 1048575, 1048575, "https://tiles.example/20/1048575/1048575/0/33333333333333333333.jpg"},
    // Off the corners: the bits of column and row must not mix.
    {13, 4096, 1, "https://tiles.example/13/4096/1/8190/1000000000002.jpg"},
    {20, 1, 524288, "https://tiles.example/20/1/524288/524287/20000000000000000001.jpg"},
};

TEST(TileUrlTemplate, EachPlaceholderAtTheWorldsEdges) {
    for (const EdgeCase& c : EdgeCases) {
        const std::string letters = KeyLetters(c.Zoom, c.Column, c.Row);
        EXPECT_EQ(TileUrl(AllPlaceholders, letters), c.Url)
            << c.Zoom << "/" << c.Column << "/" << c.Row;
    }
}

TEST(TileUrlTemplate, AgreesWithTheCommonXyzNumberingForAKnownPlace) {
    // Central Moscow at zoom 10 is XYZ tile 10/619/320, quadkey 1203101011.
    const std::string source = "https://a.example/{z}/{x}/{y}?tms={-y}&q={q}";
    const TileKey key = TileKeyAt(10, -37.6173, 55.7558, source);
    const std::string letters = TileName(key.Key, source.size());
    EXPECT_EQ(letters, "rtqsrqrqrr");  // the key itself is unchanged
    EXPECT_EQ(TileUrl(source, letters), "https://a.example/10/619/320?tms=703&q=1203101011");
}

TEST(TileUrlTemplate, PlaceholdersRepeatAndNothingIsAppended) {
    EXPECT_EQ(TileUrl("http://h/{x}-{x}/{z}", "rs"), "http://h/3-3/2");
    EXPECT_EQ(TileUrl("{q}", "tsrq"), "2310");
    // A closing brace alone is plain text.
    EXPECT_EQ(TileUrl("http://h/}{z}}", "q"), "http://h/}1}");
    // The whole-world tile above zoom 1 is zoom 0 of the XYZ scheme.
    EXPECT_EQ(TileUrl(AllPlaceholders, ""), "https://tiles.example/0/0/0/0/.jpg");
}

TEST(TileUrlTemplate, WithoutABraceTheLettersAreAppended) {
    EXPECT_FALSE(IsUrlTemplate("http://127.0.0.1:8642/kh?v=9&n=404&t=t"));
    EXPECT_EQ(TileUrl("http://127.0.0.1:8642/kh?v=9&n=404&t=t", "rtt"),
              "http://127.0.0.1:8642/kh?v=9&n=404&t=trtt");
    EXPECT_EQ(CheckUrlTemplate("http://127.0.0.1:8642/kh?v=9&n=404&t=t"), "");
    EXPECT_EQ(CheckUrlTemplate(""), "");
}

TEST(TileUrlTemplate, UnknownOrUnclosedPlaceholdersMakeTheTemplateUnusable) {
    EXPECT_EQ(CheckUrlTemplate(AllPlaceholders), "");
    struct Bad {
        const char* Source;
        const char* Named;  // the error text names the culprit
    };
    for (const Bad& bad :
         {Bad{"https://h/{z}/{x}/{row}.png", "{row}"}, Bad{"https://h/{Z}/{x}/{y}", "{Z}"},
          Bad{"https://h/{}/{x}/{y}", "{}"}, Bad{"https://h/{z}/{x}/{-x}", "{-x}"},
          Bad{"https://h/{z}/{x}/{y", "{y"}, Bad{"https://h/{z}/{x}/{{y}}", "{{y}"}}) {
        EXPECT_TRUE(IsUrlTemplate(bad.Source));
        const std::string error = CheckUrlTemplate(bad.Source);
        EXPECT_NE(error.find(bad.Named), std::string::npos) << bad.Source << ": " << error;
        // No request to a wrong address: no URL at all.
        EXPECT_EQ(TileUrl(bad.Source, "rtt"), "") << bad.Source;
    }
}

TEST(TileUrlTemplate, HelpListsEveryPlaceholder) {
    const std::string help = UrlTemplateHelp();
    for (const char* p : {"{z}", "{x}", "{y}", "{-y}", "{q}"})
        EXPECT_NE(help.find(p), std::string::npos) << p;
    // The help's own example is a usable template.
    const std::size_t example = help.find("https://");
    ASSERT_NE(example, std::string::npos);
    EXPECT_EQ(CheckUrlTemplate(help.substr(example)), "");
}

}  // namespace
