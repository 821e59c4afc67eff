#include "formats/calibration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/numbers.h"
#include "platform/text_codec.h"
#include "support/temp_dir.h"

namespace {

const char* const Grid = ", grid,   ,           ,           ,N";

std::string Joined(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& line : lines) bytes += Utf8ToCp1251(line) + "\r\n";
    return bytes;
}

std::vector<std::string> EmptyPoints() {
    std::vector<std::string> lines;
    for (int n = 10; n <= 30; ++n)
        lines.push_back("Point" + std::to_string(n) +
                        ",xy,     ,     ,in, deg,    ,        ,N,    ,        ,W, grid,   ,"
                        "           ,           ,N");
    return lines;
}

// The expected points were worked out separately from the pixel-grid
// formulas (the corner at 60 N 30 E is first snapped to its pixel at zoom 10).
TEST(Calibration, MapFileOfA512ImageIsByteExact) {
    TempDir dir;
    const std::string image = dir.File("moscow.jpg");
    ASSERT_TRUE(WriteCalibration(10, 512, -512, CalibrationKind::StitchedImage, image, 60, -30,
                                 true, false));
    std::vector<std::string> expected = {
        "OziExplorer Map Data File Version 2.2",
        "moscow.jpg",
        image,
        "1 ,Map Code,",
        "WGS 84,,   0.0000,   0.0000,WGS 84",
        "Reserved 1",
        "Reserved 2",
        "Magnetic Variation,,,E",
        "Map Projection,Mercator,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No",
        std::string("Point01,xy,    0, 0,in, deg, 60, 0.00000,N, 30, 0.00000,E") + Grid,
        std::string("Point02,xy,   512, 512,in, deg, 59, 38.81569,N, 30, 42.16003,E") + Grid,
        std::string("Point03,xy,   0, 512,in, deg, 59, 38.81569,N, 30, 0.00000,E") + Grid,
        std::string("Point04,xy,   512, 0,in, deg, 60, 0.00000,N, 30, 42.16003,E") + Grid,
        std::string("Point05,xy,   256, 256,in, deg, 59, 49.44675,N, 30, 21.06628,E") + Grid,
        std::string("Point06,xy,   256, 0,in, deg, 60, 0.00000,N, 30, 21.06628,E") + Grid,
        std::string("Point07,xy,   0, 256,in, deg, 59, 49.44675,N, 30, 0.00000,E") + Grid,
        std::string("Point08,xy,   512, 256,in, deg, 59, 49.44675,N, 30, 42.16003,E") + Grid,
        std::string("Point09,xy,   256, 512,in, deg, 59, 38.81569,N, 30, 21.06628,E") + Grid,
    };
    for (const auto& line : EmptyPoints()) expected.push_back(line);
    for (const char* line : {
             "Projection Setup,,,,,,,,,,",
             "Map Feature = MF ; Map Comment = MC     These follow if they exist",
             "Track File = TF      These follow if they exist",
             "Moving Map Parameters = MM?    These follow if they exist",
             "MM0,No",
             "MMPNUM,4",
             "MMPXY,1,0,0",
             "MMPXY,2,512,0",
             "MMPXY,3,512,512",
             "MMPXY,4,0,512",
             "MMPLL,1, 30.000000, 60.000000",
             "MMPLL,2, 30.702667, 60.000000",
             "MMPLL,3, 30.702667, 59.646928",
             "MMPLL,4, 30.000000, 59.646928",
             "MOP,Map Open Position,0,0",
             "IWH,Map Image Width/Height,512,512",
         })
        expected.push_back(line);
    ASSERT_EQ(expected.size(), 55u);
    EXPECT_EQ(dir.ReadFile("moscow.map"), Joined(expected));
    EXPECT_FALSE(dir.Exists("moscow.tab"));  // the setting is off
}

TEST(Calibration, TabFileOfA512ImageIsByteExact) {
    TempDir dir;
    const std::string image = dir.File("moscow.jpg");
    ASSERT_TRUE(WriteCalibration(10, -512, 512, CalibrationKind::StitchedImage, image, 60, -30,
                                 false, true));
    const std::vector<std::string> expected = {
        "!table",
        "!version 300",
        "!charset WindowsCyrillic",
        "",
        "Definition Table",
        "  File \"moscow.jpg\"",
        "  Type \"RASTER\"",
        "  (30.000000000,60.000000000) (0,0) Label \"Точка 1\",",
        "  (30.702667236,59.646928203) (512,512) Label \"Точка 2\",",
        "  (30.702667236,60.000000000) (512,0) Label \"Точка 3\",",
        "  (30.000000000,59.646928203) (0,512) Label \"Точка 4\",",
        "  (30.351104736,59.824112499) (256,256) Label \"Точка 5\",",
        "  (30.351104736,60.000000000) (256,0) Label \"Точка 6\",",
        "  (30.000000000,59.824112499) (0,256) Label \"Точка 7\",",
        "  (30.702667236,59.824112499) (512,256) Label \"Точка 8\",",
        "  (30.351104736,59.646928203) (256,512) Label \"Точка 9\"",
        "  CoordSys Earth Projection 1, 104",
        "  Units \"degree\"",
    };
    const std::string bytes = dir.ReadFile("moscow.tab");
    EXPECT_EQ(bytes, Joined(expected));
    // "Точка" in Windows-1251, one byte a letter.
    EXPECT_NE(bytes.find("\"\xD2\xEE\xF7\xEA\xE0 1\""), std::string::npos);
    EXPECT_FALSE(dir.Exists("moscow.map"));
}

TEST(Calibration, WesternSouthernCornerAndOddWidth) {
    // 0.5 S, 0.25 W (internal +0.25), 1001 x 300 at zoom 12: the image
    // straddles the zero meridian, so its east edge is E and the rest W.
    const auto map = OziMapLines(12, 1001, 300, "/x/a.jpg", -0.5, 0.25);
    ASSERT_EQ(map.size(), 55u);
    EXPECT_EQ(map[9],
              std::string("Point01,xy,    0, 0,in, deg, 0, 30.00000,S, 0, 15.00000,W") + Grid);
    EXPECT_EQ(map[10],
              std::string("Point02,xy,   1001, 300,in, deg, 0, 36.17182,S, 0, 5.60303,E") + Grid);
    EXPECT_EQ(map[13],
              std::string("Point05,xy,   500, 150,in, deg, 0, 33.08207,S, 0, 4.71725,W") + Grid);
    EXPECT_EQ(map[14],
              std::string("Point06,xy,   500, 0,in, deg, 0, 30.00000,S, 0, 4.71725,W") + Grid);
    EXPECT_EQ(map[17],
              std::string("Point09,xy,   500, 300,in, deg, 0, 36.17182,S, 0, 4.71725,W") + Grid);
    EXPECT_EQ(map[49], "MMPLL,1, -0.250000, -0.500000");
    EXPECT_EQ(map[51], "MMPLL,3, 0.093384, -0.602864");
    EXPECT_EQ(map[54], "IWH,Map Image Width/Height,1001,300");

    const auto tab = MapInfoTabLines(12, 1001, 300, "/x/a.jpg", -0.5, 0.25);
    ASSERT_EQ(tab.size(), 18u);
    EXPECT_EQ(tab[7], "  (-0.250000000,-0.500000000) (0,0) Label \"Точка 1\",");
    EXPECT_EQ(tab[11], "  (-0.078620911,-0.551367833) (500,150) Label \"Точка 5\",");
    EXPECT_EQ(tab[12], "  (-0.078620911,-0.500000000) (500,0) Label \"Точка 6\",");
    EXPECT_EQ(tab[15], "  (-0.078620911,-0.602863632) (500,300) Label \"Точка 9\"");
}

TEST(Calibration, EquatorAndZeroMeridianCountAsNorthAndWest) {
    const auto map = OziMapLines(3, 256, 256, "/x/e.jpg", 0, 0);
    EXPECT_EQ(map[9],
              std::string("Point01,xy,    0, 0,in, deg, 0, 0.00000,N, 0, 0.00000,W") + Grid);
    EXPECT_EQ(map[11],
              std::string("Point03,xy,   0, 256,in, deg, 40, 58.79388,S, 0, 0.00000,W") + Grid);
    EXPECT_EQ(map[49], "MMPLL,1, 0.000000, 0.000000");
    EXPECT_EQ(map[50], "MMPLL,2, 45.000000, 0.000000");
    const auto tab = MapInfoTabLines(3, 256, 256, "/x/e.jpg", 0, 0);
    EXPECT_EQ(tab[7], "  (0.000000000,0.000000000) (0,0) Label \"Точка 1\",");
}

TEST(Calibration, MinutesAreNotCarriedIntoDegrees) {
    // 55.99999999 N at a zoom where the corner's own value is written as given.
    const auto map = OziMapLines(5, 10, 10, "/x/m.jpg", 55.99999999, -37.5);
    EXPECT_EQ(map[9],
              std::string("Point01,xy,    0, 0,in, deg, 55, 60.00000,N, 37, 30.00000,E") + Grid);
}

TEST(Calibration, NamesReplaceTheLastThreeCharacters) {
    EXPECT_EQ(CalibrationFileName("/d/x.jpg", "map"), "/d/x.map");
    EXPECT_EQ(CalibrationFileName("/d/a.jpeg", "map"), "/d/a.jmap");
    EXPECT_EQ(CalibrationFileName("/d/город.jpg", "tab"), "/d/город.tab");

    TempDir dir;
    ASSERT_TRUE(WriteCalibration(10, 100, 100, CalibrationKind::StitchedImage, dir.File("a.jpeg"),
                                 60, -30, true, true));
    EXPECT_TRUE(dir.Exists("a.jmap"));
    EXPECT_TRUE(dir.Exists("a.jtab"));
    EXPECT_EQ(SplitLines(dir.ReadFile("a.jmap"))[1], "a.jpeg");
}

TEST(Calibration, KindsAndSwitchesChooseTheFiles) {
    TempDir dir;
    ASSERT_TRUE(WriteStitchCalibration(10, 100, 100, dir.File("none.jpg"), 60, -30, false, false));
    EXPECT_FALSE(dir.Exists("none.map"));
    EXPECT_FALSE(dir.Exists("none.tab"));

    // An exported tile gets its ".tab" only, whatever the settings say.
    ASSERT_TRUE(WriteCalibration(3, 256, 256, CalibrationKind::ExportedTile, dir.File("rtt.jpg"),
                                 40.9798, 0, true, false));
    EXPECT_FALSE(dir.Exists("rtt.map"));
    ASSERT_TRUE(dir.Exists("rtt.tab"));
    EXPECT_EQ(Cp1251ToUtf8(SplitLines(dir.ReadFile("rtt.tab"))[8]),
              "  (45.000000000,0.000000000) (256,256) Label \"Точка 2\",");
}

TEST(Calibration, FailureNamesTheFileAndLeavesTheCommaElsewhere) {
    TempDir dir;
    const std::string image = dir.File("missing/folder/x.jpg");
    CalibrationResult r = WriteStitchCalibration(10, 100, 100, image, 60, -30, true, true);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.FailedFile, dir.File("missing/folder/x.map"));
    EXPECT_FALSE(r.Error.empty());

    r = WriteStitchCalibration(10, 100, 100, image, 60, -30, false, true);
    EXPECT_EQ(r.FailedFile, dir.File("missing/folder/x.tab"));
    // The point inside calibration files never leaks into other texts.
    EXPECT_EQ(FormatFixed(55.75, 2), "55,75");
}

}  // namespace

// The ".map" names the whole path, the ".tab" the file name only; a name
// Windows-1251 cannot hold is refused with its characters, each once.
TEST(CalibrationNames, RefusedWhenTheFilesCouldNotNameTheImage) {
    struct Case {
        std::string Path;
        bool Ozi, Tab;
        std::string Characters;  // empty: accepted
    };
    const Case cases[] = {
        {"/home/u/Дача №1.jpg", true, true, ""},         {"/home/u/Café.jpg", true, false, "é"},
        {"/home/u/中 Café 中.jpg", false, true, "中 é"}, {"/home/u/Müller/x.jpg", true, false, "ü"},
        {"/home/u/Müller/x.jpg", false, true, ""},  // the folder is in the ".map" only
        {"/home/u/Ελλάδα.jpg", false, false, ""},   // no calibration file at all
        {"/home/u/Ελ.jpg", true, true, "Ε λ"},
    };
    for (const Case& c : cases) {
        const std::string problem = CalibrationNameProblem(c.Path, c.Ozi, c.Tab);
        if (c.Characters.empty()) {
            EXPECT_EQ(problem, "") << c.Path;
        } else {
            EXPECT_EQ(problem, "В пути \"" + c.Path +
                                   "\" есть знаки, которые нельзя сохранить в файле привязки "
                                   "(кодировка Windows-1251): " +
                                   c.Characters + ". Замените или уберите их.")
                << c.Path;
        }
    }
}
