#include "tasks/task_params.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "platform/time_text.h"
#include "tasks/delayed_start.h"

namespace {

// Moscow-ish: corner 1 north-west of corner 2 (longitudes west positive, so
// the east is negative and "west" is the larger value).
const RegionCorners MouseDrawn{55.80, -37.50, 55.70, -37.70};

TEST(OrderRegionCorners, NorthWestFirstPassesUnchanged) {
    RegionCorners c = MouseDrawn;
    OrderRegionCorners(13, c);
    EXPECT_EQ(c.Lat1, 55.80);
    EXPECT_EQ(c.Lon1, -37.50);
    EXPECT_EQ(c.Lat2, 55.70);
    EXPECT_EQ(c.Lon2, -37.70);
}

TEST(OrderRegionCorners, SouthEastFirstExchangesBothPairsOnTheSameGround) {
    RegionCorners c{MouseDrawn.Lat2, MouseDrawn.Lon2, MouseDrawn.Lat1, MouseDrawn.Lon1};
    OrderRegionCorners(13, c);
    EXPECT_EQ(c.Lat1, 55.80);
    EXPECT_EQ(c.Lon1, -37.50);
    EXPECT_EQ(c.Lat2, 55.70);
    EXPECT_EQ(c.Lon2, -37.70);
    RegionPixels before = RegionPixelSize(13, MouseDrawn), after = RegionPixelSize(13, c);
    EXPECT_EQ(before.Width, after.Width);
    EXPECT_EQ(before.Height, after.Height);
    // North-east first: only the longitudes change places.
    RegionCorners ne{55.80, -37.70, 55.70, -37.50};
    OrderRegionCorners(13, ne);
    EXPECT_EQ(ne.Lon1, -37.50);
    EXPECT_EQ(ne.Lat1, 55.80);
}

TEST(OrderRegionCorners, SameMeridianGivesZeroWidthWithoutExchange) {
    RegionCorners c{55.80, -37.50, 55.70, -37.50};
    OrderRegionCorners(13, c);
    EXPECT_EQ(c.Lon1, -37.50);
    EXPECT_EQ(RegionPixelSize(13, c).Width, 0);
    EXPECT_GT(RegionPixelSize(13, c).Height, 0);
    // Less than one pixel apart at the zoom: not exchanged either.
    RegionCorners hair{55.80, -37.50, 55.70, -37.50 + 1e-7};
    OrderRegionCorners(5, hair);
    EXPECT_EQ(hair.Lon1, -37.50);
}

TEST(OrderRegionCorners, LatitudesAreClampedToTheMapEdge) {
    RegionCorners c{86.0, 10.0, -89.5, -10.0};
    OrderRegionCorners(13, c);
    EXPECT_DOUBLE_EQ(c.Lat1, 85.05113);
    EXPECT_DOUBLE_EQ(c.Lat2, -85.05113);
    RegionCorners nan{std::nan(""), 10.0, 0.0, -10.0};
    OrderRegionCorners(13, nan);
    EXPECT_FALSE(std::isnan(nan.Lat1) || std::isnan(nan.Lat2));
}

TEST(RegionPixelSize, TwoZoomLevelsUpIsFourTimesTheSize) {
    RegionPixels z13 = RegionPixelSize(13, MouseDrawn), z15 = RegionPixelSize(15, MouseDrawn);
    ASSERT_GT(z13.Width, 100);
    EXPECT_NEAR(z15.Width, 4 * z13.Width, 4);
    EXPECT_NEAR(z15.Height, 4 * z13.Height, 4);
}

TEST(CheckPieceSize, FromTwoHundredFiftySixUpToBelowTheRegion) {
    struct Case {
        const char* text;
        int value;
        bool accepted;
    } cases[] = {{"100", 100, false},   {"3000", 3000, false}, {"2000", 2000, true},
                 {"2500", 2500, false}, {"2499", 2499, true},  {"256", 256, true},
                 {"255", 255, false},   {"", -1, false},       {"12a", -1, false},
                 {"-300", -300, false}};
    for (const Case& c : cases) {
        PieceSizeCheck check = CheckPieceSize(c.text, 2500);
        EXPECT_EQ(check.Value, c.value) << c.text;
        EXPECT_EQ(check.Accepted, c.accepted) << c.text;
    }
}

std::chrono::system_clock::time_point LocalTime(int day, int hour, int minute) {
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 11;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

TEST(DelayedStartTime, HoursAndMinutesFromTheMomentTheTaskIsMade) {
    auto made = LocalTime(9, 21, 0);
    EXPECT_EQ(TimeText(DelayedStartTime(made, 2, 30), made), "23:30:00");
    EXPECT_EQ(DelayedStartTime(made, 0, 0), made);
    // Past midnight it is the next day's moment, not a time that has passed.
    auto late = DelayedStartTime(LocalTime(9, 23, 0), 2, 0);
    EXPECT_EQ(late, LocalTime(10, 1, 0));
    EXPECT_EQ(DelayedStartTime(made, 100, 60), made + std::chrono::hours(101));
}

}  // namespace
