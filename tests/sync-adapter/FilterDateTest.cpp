// Dates in Restrict and Find conditions, written in the user's regional format.
#include <windows.h>
#include <gtest/gtest.h>

#include "sync/FilterDate.h"

namespace {
SYSTEMTIME At(WORD y, WORD m, WORD d, WORD h, WORD mi, WORD s = 0) {
    SYSTEMTIME st = {};
    st.wYear = y;
    st.wMonth = m;
    st.wDay = d;
    st.wHour = h;
    st.wMinute = mi;
    st.wSecond = s;
    return st;
}
constexpr LCID kEnglishUS = 0x0409, kEnglishGB = 0x0809, kGerman = 0x0407;
}  // namespace

TEST(FilterDate, IsTheShortDateAndTimeOfTheLocaleWithoutSeconds) {
    EXPECT_EQ("3/5/2024 2:07 PM", FormatFilterDate(At(2024, 3, 5, 14, 7, 42), kEnglishUS));
    EXPECT_EQ("05/03/2024 14:07", FormatFilterDate(At(2024, 3, 5, 14, 7, 42), kEnglishGB));
    EXPECT_EQ("05.03.2024 14:07", FormatFilterDate(At(2024, 3, 5, 14, 7, 42), kGerman));
    EXPECT_EQ("12/31/2024 12:00 AM", FormatFilterDate(At(2024, 12, 31, 0, 0), kEnglishUS));
    EXPECT_EQ("31.12.2024 00:00", FormatFilterDate(At(2024, 12, 31, 0, 0), kGerman));
}

TEST(FilterDate, FollowsTheUsersOwnFormat) {
    // LOCALE_USER_DEFAULT honours the user's regional settings; whatever they are, the text
    // holds the year and no seconds.
    const std::string text = FormatFilterDate(At(2024, 3, 5, 14, 7, 42));
    EXPECT_NE(std::string::npos, text.find("2024")) << text;
    EXPECT_EQ(std::string::npos, text.find(":42")) << text;
}

TEST(FilterDate, AnInvalidTimeGivesNoText) { EXPECT_EQ("", FormatFilterDate(At(2024, 13, 40, 25, 0), kEnglishUS)); }
