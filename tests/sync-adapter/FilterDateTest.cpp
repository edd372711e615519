// Dates in Restrict and Find conditions, written in the user's regional format.
#include <windows.h>
#include <gtest/gtest.h>

#include "outlook-sim/src/SimModel.h"
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
    EXPECT_EQ("12/31/2024 12:00 AM", FormatFilterDate(At(2024, 12, 31, 0, 0), kEnglishUS));
    // Outlook reads each back, in its own locale, as the same minute (German short dates come
    // with or without leading zeros, depending on the system's locale data).
    const struct {
        LCID lcid;
        const char* name;
    } locales[] = {{kEnglishUS, "en-US"}, {kEnglishGB, "en-GB"}, {kGerman, "de-DE"}};
    for (const auto& l : locales) {
        for (SYSTEMTIME st : {At(2024, 3, 5, 14, 7, 42), At(2024, 12, 31, 0, 0), At(2025, 11, 12, 9, 5)}) {
            const std::string text = FormatFilterDate(st, l.lcid);
            DATE read = 0;
            EXPECT_TRUE(hvsim::ParseFilterDate(text, l.name, &read)) << l.name << " " << text;
            EXPECT_EQ(hvsim::MakeDate(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute), read)
                << l.name << " " << text;
        }
    }
}

TEST(FilterDate, FollowsTheUsersOwnFormat) {
    // LOCALE_USER_DEFAULT honours the user's regional settings; whatever they are, the text
    // holds the year and no seconds.
    const std::string text = FormatFilterDate(At(2024, 3, 5, 14, 7, 42));
    EXPECT_NE(std::string::npos, text.find("2024")) << text;
    EXPECT_EQ(std::string::npos, text.find(":42")) << text;
}

TEST(FilterDate, AnInvalidTimeGivesNoText) {
    EXPECT_EQ("", FormatFilterDate(At(2024, 13, 40, 25, 0), kEnglishUS));
}
