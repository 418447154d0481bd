// Julian dates, GPS-time seconds and the substring search of the helpers module.
#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <vector>

#include "helpers.h"

namespace {

// Known Julian dates.  Each value was worked out by hand with the Meeus steps
// (floor toward minus infinity) and checked against an independent integer
// day count of the proleptic Gregorian calendar.
TEST(Greg2Jul, KnownDates) {
    struct Case { double y, mo, d, h, mi, s, jd; };
    const Case cases[] = {
        {2000, 1, 1, 12, 0, 0, 2451545.0},   // J2000.0
        {2000, 1, 1, 0, 0, 0, 2451544.5},
        {1980, 1, 6, 0, 0, 0, 2444244.5},    // GPS epoch
        {2009, 11, 1, 0, 0, 0, 2455136.5},
        {1900, 3, 1, 0, 0, 0, 2415079.5},    // 1900 is no leap year
        {2100, 3, 1, 0, 0, 0, 2488128.5},
        {2024, 2, 29, 0, 0, 0, 2460369.5},
        {1, 1, 1, 0, 0, 0, 1721425.5},
        {1582, 10, 4, 0, 0, 0, 2299149.5},   // proleptic, no Julian-calendar switch
        {1582, 10, 15, 0, 0, 0, 2299160.5},
        // Years at or below 0: every floor rounds toward minus infinity.
        {0, 1, 1, 0, 0, 0, 1721059.5},       // Y = -1, A = -1, B = 2
        {-1, 1, 1, 0, 0, 0, 1720694.5},      // Y = -2: A = -1, floor(-0.25) = -1
        {-1, 3, 1, 0, 0, 0, 1720753.5},
        {-101, 1, 1, 0, 0, 0, 1684170.5},    // Y = -102: A = -2, floor(-0.5) = -1
        {-401, 3, 1, 0, 0, 0, 1574656.5},    // A = -5, floor(-1.25) = -2
        {-4713, 11, 24, 12, 0, 0, 0.0},      // Julian day 0
        {-4717, 3, 1, 0, 0, 0, -1729.5},     // E = floor(-365.25) = -366
        {-5000, 3, 1, 0, 0, 0, -105093.5},
    };
    for (const auto& c : cases)
        EXPECT_EQ(greg2jul(c.y, c.mo, c.d, c.h, c.mi, c.s), c.jd)
            << c.y << '-' << c.mo << '-' << c.d << ' ' << c.h << ':' << c.mi << ':' << c.s;
}

TEST(Greg2Jul, NeighbouringDaysDifferByOne) {
    struct Pair { double y1, m1, d1, y2, m2, d2; };
    const Pair pairs[] = {
        {2000, 2, 29, 2000, 3, 1},  {1999, 12, 31, 2000, 1, 1}, {2100, 2, 28, 2100, 3, 1},
        {2000, 1, 31, 2000, 2, 1},  {0, 2, 29, 0, 3, 1},        {-1, 12, 31, 0, 1, 1},
        {1582, 10, 4, 1582, 10, 5},
    };
    for (const auto& p : pairs)
        EXPECT_EQ(greg2jul(p.y2, p.m2, p.d2, 0, 0, 0) - greg2jul(p.y1, p.m1, p.d1, 0, 0, 0), 1.0)
            << p.y1 << '-' << p.m1 << '-' << p.d1;
    // The days skipped by the reform are ordinary days.
    for (int d = 4; d < 15; ++d)
        EXPECT_EQ(greg2jul(1582, 10, d + 1, 0, 0, 0) - greg2jul(1582, 10, d, 0, 0, 0), 1.0) << d;
}

TEST(Greg2Jul, MidnightEndsInHalfAndTimeOfDayAdds) {
    for (double y : {-300.0, 0.0, 1601.0, 1980.0, 2023.0})
        for (double m = 1; m <= 12; ++m) {
            const double midnight = greg2jul(y, m, 17, 0, 0, 0);
            EXPECT_EQ(midnight - std::floor(midnight), 0.5) << y << '-' << m;
            EXPECT_EQ(greg2jul(y, m, 17, 12, 0, 0), midnight + 0.5) << y << '-' << m;
        }
    // Inputs out of range and with fractions are not checked, only summed.
    EXPECT_EQ(greg2jul(2000, 1, 1.5, 0, 0, 0), 2451545.0);
    EXPECT_EQ(greg2jul(2000, 1, 1, 6, 0, 0), 2451544.75);
    EXPECT_EQ(greg2jul(2000, 1, 1, 0, 720, 0), 2451545.0);
    EXPECT_EQ(greg2jul(2000, 1, 1, 0, 0, 86400), greg2jul(2000, 1, 2, 0, 0, 0));
    EXPECT_EQ(greg2jul(1999, 14, 1, 0, 0, 0), greg2jul(2000, 2, 1, 0, 0, 0));  // Y, M = 1999, 14
    EXPECT_EQ(greg2jul(2000, 0, 1, 0, 0, 0), greg2jul(1999, 12, 1, 0, 0, 0));  // shifted too
    // floor(30.6001 * 4.99999) = 153 like floor(30.6001 * 5); a factor of 30.6 gives 152.
    EXPECT_EQ(greg2jul(2000, 3.99999, 1, 0, 0, 0), greg2jul(2000, 4, 1, 0, 0, 0));
}

// The time of day goes into a Julian date as a day fraction, added before
// the Gregorian correction.  Written out for 2009-11-01 01:00:00 in doubles.
TEST(Greg2Jul, TimeOfDayIsADayFractionAddedInOrder) {
    const double E = 2456306.0;  // floor(365.25 * (2009 + 4716)) = floor(2456306.25)
    const double G = 367.0;      // floor(30.6001 * (11 + 1)) = floor(367.2012)
    const double B = -13.0;      // A = 20: 2 - 20 + floor(5.0)
    const double F = 1.0 / 24.0 + 0.0 / 1440.0 + 0.0 / 86400.0;
    EXPECT_EQ(greg2jul(2009, 11, 1, 1, 0, 0), (((E + G) + 1.0) + F) + B - 1524.5);
}

TEST(GpsSeconds, AroundTheEpoch) {
    EXPECT_EQ(gps_seconds(1980, 1, 6, 0, 0, 0), 0.0);
    EXPECT_EQ(gps_seconds(1980, 1, 7, 0, 0, 0), 86400.0);
    EXPECT_EQ(gps_seconds(1980, 1, 5, 0, 0, 0), -86400.0);
    EXPECT_EQ(gps_seconds(1979, 12, 31, 0, 0, 0), -518400.0);
    EXPECT_EQ(gps_seconds(1980, 1, 6, 12, 0, 0), 43200.0);
    EXPECT_EQ(gps_seconds(2000, 1, 1, 12, 0, 0), (2451545.0 - 2444244.5) * 24 * 3600);
}

// Every day of the proleptic Gregorian calendar from -400 to 2400, counted
// with its own month lengths and leap rule: midnight is the day count times
// 86400 exactly, and the last second of a day is exactly one second before the
// next midnight, across every month end, year end and leap day.
TEST(GpsSeconds, EveryMidnightIsAWholeDayCount) {
    struct Date { int y, m, d; };
    std::vector<Date> dates;
    for (int y = -400; y <= 2400; ++y) {
        const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        const int lengths[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        for (int m = 1; m <= 12; ++m)
            for (int d = 1; d <= lengths[m - 1]; ++d)
                dates.push_back({y, m, d});
    }
    std::size_t epoch = 0;
    while (!(dates[epoch].y == 1980 && dates[epoch].m == 1 && dates[epoch].d == 6))
        ++epoch;
    double before = 0;
    for (std::size_t i = 0; i < dates.size(); ++i) {
        const Date& t = dates[i];
        const double midnight = gps_seconds(t.y, t.m, t.d, 0, 0, 0);
        const double expected = (static_cast<double>(i) - static_cast<double>(epoch)) * 86400;
        if (midnight != expected || (i > 0 && midnight - before != 1.0)) {
            ADD_FAILURE() << t.y << '-' << t.m << '-' << t.d << ": " << std::fixed << midnight
                          << ", expected " << expected << ", one second before " << before;
            break;
        }
        before = gps_seconds(t.y, t.m, t.d, 23, 59, 59);
    }
}

// All 86,400 whole seconds of days at the boundaries of the calendar and of
// the GPS epoch are whole numbers, each exactly one after the one before.
TEST(GpsSeconds, WholeSecondsOfADayStepByExactlyOne) {
    struct Day { double y, m, d; };
    const Day days[] = {
        {2009, 11, 1}, {2011, 12, 31}, {2012, 2, 29}, {2100, 2, 28}, {1980, 1, 6},
        {1980, 1, 5},  {1960, 2, 29},  {1, 1, 1},     {2400, 12, 31},
    };
    for (const Day& day : days) {
        const double midnight = gps_seconds(day.y, day.m, day.d, 0, 0, 0);
        ASSERT_EQ(midnight, std::floor(midnight)) << day.y << '-' << day.m << '-' << day.d;
        int wrong = 0;
        for (int s = 0; s < 86400 && wrong < 3; ++s) {
            const double got = gps_seconds(day.y, day.m, day.d, s / 3600, s / 60 % 60, s % 60);
            if (got != midnight + s) {
                ++wrong;
                ADD_FAILURE() << day.y << '-' << day.m << '-' << day.d << " + " << s
                              << " s: " << std::fixed << std::setprecision(9) << got;
            }
        }
    }
}

// A fractional second keeps its double: the result is the double nearest the
// true epoch, worked out with exact rational arithmetic from the parsed
// second (an odd number of 2^-20 near 10^9 s, of 2^-32 near 4e5 s).
TEST(GpsSeconds, FractionalSecondsAreTheNearestDouble) {
    EXPECT_EQ(gps_seconds(2009, 11, 1, 23, 59, 59.999999), 986872754995199.0 / 1048576);
    EXPECT_EQ(gps_seconds(2009, 11, 1, 0, 0, 0.000001), 986782158028801.0 / 1048576);
    EXPECT_EQ(gps_seconds(1979, 12, 31, 23, 59, 59.999999), -1855425871876295.0 / 4294967296.0);
    EXPECT_EQ(gps_seconds(2010, 1, 1, 0, 0, 0.5), 946339200.5);
    EXPECT_EQ(gps_seconds(1900, 3, 1, 12, 0, 0.25), -2519812799.75);
    // The second before midnight stays before it.
    EXPECT_LT(gps_seconds(2009, 11, 1, 23, 59, 59.999999), gps_seconds(2009, 11, 2, 0, 0, 0));
}

TEST(GpsSeconds, EpochsBeforeTheGpsEpochAreNegativeAndWhole) {
    EXPECT_EQ(gps_seconds(1970, 1, 1, 0, 0, 0), -315964800.0);
    EXPECT_EQ(gps_seconds(1979, 12, 31, 23, 59, 30), -432030.0);
    EXPECT_EQ(gps_seconds(1980, 1, 5, 23, 59, 59), -1.0);
    EXPECT_EQ(gps_seconds(1582, 10, 4, 12, 30, 1), -12536162999.0);  // proleptic
}

TEST(GpsSeconds, AnyMissingFieldGivesNan) {
    for (int field = 0; field < 6; ++field) {
        double v[] = {2009, 11, 1, 1, 0, 0};
        v[field] = std::nan("");
        EXPECT_TRUE(std::isnan(gps_seconds(v[0], v[1], v[2], v[3], v[4], v[5]))) << field;
    }
}

TEST(Strpos, FirstOccurrence) {
    struct Case { const char* str; const char* pattern; int32_t pos; };
    const Case cases[] = {
        {"L2SAMPLESST_PSO_2__20091101.xml", ".", 27},
        {"a.b.c", ".", 1},
        {"abcabc", "bc", 1},
        {"abc", "abc", 0},
        {"abc", "c", 2},
        {"abc", "abcd", -1},
        {"abc", "x", -1},
        {"", "x", -1},
        {"abc", "", 0},
        {"", "", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(strpos(c.str, c.pattern), c.pos) << '"' << c.str << "\" / \"" << c.pattern << '"';
}

}  // namespace
