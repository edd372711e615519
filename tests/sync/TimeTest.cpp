// Time conversion. The program runs with TZ=Europe/Berlin (CET, CEST from the last Sunday of
// March to the last Sunday of October), so local-time cases see daylight saving.
#include <gtest/gtest.h>
#include "service/TimeLogic.h"

namespace {

std::string Normalized(std::string text, bool dateOnly = false) {
    NormalizeTime(text, dateOnly);
    return text;
}

std::string AgoZ(int64_t seconds) {
    FILETIME ft = FileTimeFromTime(TimeNow() - seconds);
    return FormatWireTimeZ(&ft);
}

}  // namespace

TEST(Time, ProgramRunsInABerlinZone) {
    TIME_ZONE_INFORMATION tzi;
    ::GetTimeZoneInformation(&tzi);
    EXPECT_EQ(-60, tzi.Bias);
    EXPECT_EQ(-60, tzi.DaylightBias);
}

TEST(Time, NegativeOffsetMovesLater) {
    EXPECT_EQ("2008-06-01T19:00:00Z", Normalized("2008-06-01T12:00:00-07:00"));
}

TEST(Time, PositiveOffsetMovesEarlier) {
    EXPECT_EQ("2008-06-01T06:30:00Z", Normalized("2008-06-01T12:00:00+05:30"));
    EXPECT_EQ("2008-06-01T06:30:00Z", Normalized("2008-06-01T12:00:00+0530"));
}

TEST(Time, ZFormStaysUnchanged) {
    EXPECT_EQ("2008-06-01T12:00:00Z", Normalized("2008-06-01T12:00:00Z"));
}

TEST(Time, DateParsesAsMidnightUtc) {
    EXPECT_EQ("2008-06-01T00:00:00Z", Normalized("2008-06-01"));
    EXPECT_EQ("2008-06-01T12:00:00Z", Normalized("2008-06-01T12:00:00"));
}

TEST(Time, DateOnlyCutsBeforeT) {
    EXPECT_EQ("2008-06-01", Normalized("2008-06-01T19:00:00Z", true));
    EXPECT_EQ("2012-11-08", Normalized("2012-11-08T00:00:00", true));
}

TEST(Time, TwelveAndEighteenCharactersFailToParse) {
    FILETIME ft;
    EXPECT_FALSE(ParseWireTime("2008-06-01T1", 0, ft));
    EXPECT_FALSE(ParseWireTime("2008-06-01T12:00:0", 0, ft));
    EXPECT_FALSE(ParseWireTime(nullptr, 0, ft));
    EXPECT_TRUE(ParseWireTime("2008-06-01", 0, ft));
    EXPECT_TRUE(ParseWireTime("2008-06-01T12:00:00", 0, ft));
}

TEST(Time, UnparsableTextWithoutZIsKept) {
    EXPECT_EQ("garbage", Normalized("garbage"));
}

TEST(Time, ModeOneTakesLocalTimeWithTheDatesOwnDaylightSaving) {
    FILETIME ft;
    ASSERT_TRUE(ParseWireTime("2010-07-01T12:00:00", 1, ft));
    EXPECT_EQ("2010-07-01T10:00:00Z", FormatWireTimeZ(&ft));  // CEST, UTC+2
    ASSERT_TRUE(ParseWireTime("2010-01-15T12:00:00", 1, ft));
    EXPECT_EQ("2010-01-15T11:00:00Z", FormatWireTimeZ(&ft));  // CET, UTC+1
}

TEST(Time, ModeTwoGivesLocalTime) {
    FILETIME ft;
    ASSERT_TRUE(ParseWireTime("2010-07-01T10:00:00Z", 2, ft));
    EXPECT_EQ("2010-07-01T12:00:00Z", FormatWireTimeZ(&ft));
}

TEST(Time, ConvertToUtcAcrossTheSpringBoundary) {
    // 28 March 2010: clocks go from 02:00 CET to 03:00 CEST.
    std::string out;
    CTimeLogic::ConvertToUTC(COleDate::FromLocal(2010, 3, 28, 1, 30), out);
    EXPECT_EQ("2010-03-28T00:30:00+00:00", out);
    CTimeLogic::ConvertToUTC(COleDate::FromLocal(2010, 3, 28, 3, 30), out);
    EXPECT_EQ("2010-03-28T01:30:00+00:00", out);
    // A time the change skips is the instant after it (02:15 as 03:15 CEST), never one before
    // the change, where an end would come before its start.
    CTimeLogic::ConvertToUTC(COleDate::FromLocal(2027, 3, 28, 2, 15), out);
    EXPECT_EQ("2027-03-28T01:15:00+00:00", out);
}

TEST(Time, ConvertToUtcAcrossTheAutumnBoundary) {
    // 31 October 2010: clocks go from 03:00 CEST back to 02:00 CET.
    std::string out;
    CTimeLogic::ConvertToUTC(COleDate::FromLocal(2010, 10, 30, 12, 0), out);
    EXPECT_EQ("2010-10-30T10:00:00+00:00", out);
    CTimeLogic::ConvertToUTC(COleDate::FromLocal(2010, 10, 31, 12, 0), out);
    EXPECT_EQ("2010-10-31T11:00:00+00:00", out);
}

TEST(Time, NoDateOf4501LeavesTheOutputUntouched) {
    std::string out;
    CTimeLogic::ConvertToUTC(COleDate::FromLocal(4501, 1, 1), out);
    EXPECT_EQ("", out);
    out = "kept";
    CTimeLogic::ConvertToUTC(COleDate(), out);
    EXPECT_EQ("kept", out);
    CTimeLogic::ConvertToUTC(COleDate::FromLocal(1969, 12, 31, 23, 0), out);
    EXPECT_EQ("kept", out);
    EXPECT_EQ("4501-01-01", CTimeLogic::FormatOutlookDate(COleDate::FromLocal(4501, 1, 1), "%Y-%m-%d"));
    EXPECT_TRUE(CTimeLogic::IsDateOlderThan(COleDate::FromLocal(4501, 1, 1), 30));
}

TEST(Time, NineSecondsApartIsTheSameInstantTenIsNot) {
    EXPECT_TRUE(IsSameInstant(1000, 1009));
    EXPECT_TRUE(IsSameInstant(1009, 1000));
    EXPECT_FALSE(IsSameInstant(1000, 1010));
    EXPECT_FALSE(IsSameInstant(1010, 1000));
}

TEST(Time, AgeCountsWholeDays) {
    EXPECT_FALSE(IsWireTimeOlderThan(AgoZ((3 * 24 + 23) * 3600), 3));
    EXPECT_TRUE(IsWireTimeOlderThan(AgoZ((4 * 24 + 1) * 3600), 3));
    EXPECT_FALSE(IsWireTimeOlderThan(AgoZ(3 * 24 * 3600 + 60), 3));  // exactly 3 whole days
    EXPECT_FALSE(IsWireTimeOlderThan(AgoZ(-3600), 0));               // in the future
    EXPECT_FALSE(IsWireTimeOlderThan(AgoZ(1800), 0));                // not a whole hour
    EXPECT_TRUE(IsWireTimeOlderThan(AgoZ(25 * 3600), 0));
    EXPECT_FALSE(IsWireTimeOlderThan("", 0));
    EXPECT_FALSE(IsWireTimeOlderThan("not a time", 0));
}

TEST(Time, OutlookDateAgeUsesLocalTime) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    DATE today;
    ::SystemTimeToVariantTime(&now, &today);
    EXPECT_FALSE(CTimeLogic::IsDateOlderThan(COleDate(today - 3.0 - 23.0 / 24), 3));
    EXPECT_TRUE(CTimeLogic::IsDateOlderThan(COleDate(today - 4.0 - 1.0 / 24), 3));
    EXPECT_FALSE(CTimeLogic::IsDateOlderThan(COleDate(), 3));
}

TEST(Time, BeforeNow) {
    EXPECT_TRUE(IsBeforeNow(TimeNow() - 5));
    EXPECT_FALSE(IsBeforeNow(TimeNow() + 60));
}

TEST(Time, CombineTakesDateOfFirstAndTimeOfSecond) {
    COleDate c = CTimeLogic::CombineDateAndTime(COleDate::FromLocal(2011, 2, 14, 8, 0),
                                                COleDate::FromLocal(2010, 9, 1, 17, 45, 30));
    ASSERT_TRUE(c.m_fValid);
    EXPECT_EQ("2011-02-14 17:45:30", CTimeLogic::FormatOutlookDate(c, "%Y-%m-%d %H:%M:%S"));
    EXPECT_FALSE(CTimeLogic::CombineDateAndTime(COleDate(), COleDate::FromLocal(2010, 9, 1)).m_fValid);
}

TEST(Time, FilterFormatOfOutlook) {
    EXPECT_EQ("09/01/2010 05:45 PM",
              CTimeLogic::FormatOutlookDate(COleDate::FromLocal(2010, 9, 1, 17, 45), "%m/%d/%Y %I:%M %p"));
    EXPECT_EQ("09/01/2010 12:05 AM",
              CTimeLogic::FormatOutlookDate(COleDate::FromLocal(2010, 9, 1, 0, 5), "%m/%d/%Y %I:%M %p"));
}

TEST(Time, LocalDateOfAUtcInstant) {
    FILETIME ft;
    ASSERT_TRUE(ParseWireTime("2010-05-01T22:30:00Z", 0, ft));
    EXPECT_EQ("2010-05-02", LocalDateText(ft));  // 00:30 CEST
}
