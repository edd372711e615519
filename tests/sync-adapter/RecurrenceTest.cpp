// Recurrence: the stepping rules, the window, and whole expansions of simulated series.
#include "AdapterFixture.h"
#include <cmath>
#include "win/Dispatcher.h"

using hvsim::MakeDate;

namespace {

CPattern Cursor(long type, long interval, long mask, DATE at) {
    CPattern p;
    p.m_nType = type;
    p.m_nInterval = interval;
    p.m_nDayOfWeekMask = mask;
    p.m_cursor = COleDate(at);
    p.m_start = COleDate(at);
    p.m_end = COleDate(at + 3650);
    return p;
}

std::string Text(const COleDate& d) {
    return hvsim::FormatDate(d.m_dt);
}

hv::com_ptr<IDispatch> Occurrence(IDispatch* series, DATE when) {
    hv::unique_variant rp, arg = hv::unique_variant::FromDate(when), occ;
    EXPECT_HRESULT_SUCCEEDED(CDispatcher::CallMethod(series, L"GetRecurrencePattern", rp.put(), 0, nullptr));
    EXPECT_HRESULT_SUCCEEDED(CDispatcher::CallMethod(rp.AsDispatch(), L"GetOccurrence", occ.put(), 1, &arg));
    return hv::com_ptr<IDispatch>(occ.AsDispatch());
}

void PutValue(IDispatch* item, const wchar_t* name, hv::unique_variant v) {
    EXPECT_HRESULT_SUCCEEDED(CDispatcher::PutProperty(item, name, &v));
}

}  // namespace

TEST(Recurrence, WeeklyOnMondayAndThursdayStepsMondayThursdayMonday) {
    CPattern p = Cursor(OL_RECURS_WEEKLY, 1, 2 | 16, MakeDate(2024, 1, 1, 9, 30));  // a Monday
    ASSERT_TRUE(StepPattern(p));
    EXPECT_EQ("2024-01-04 09:30:00", Text(p.m_cursor));
    ASSERT_TRUE(StepPattern(p));
    EXPECT_EQ("2024-01-08 09:30:00", Text(p.m_cursor));
    p.m_nInterval = 2;
    ASSERT_TRUE(StepPattern(p));
    ASSERT_TRUE(StepPattern(p));
    EXPECT_EQ("2024-01-22 09:30:00", Text(p.m_cursor));
    p.m_nDayOfWeekMask = 0;
    EXPECT_FALSE(StepPattern(p));
}

TEST(Recurrence, MonthlyIntervalTwelveFromJuneStepsToJuneNextYear) {
    CPattern p = Cursor(OL_RECURS_MONTHLY, 12, 0, MakeDate(2024, 6, 15, 10));
    ASSERT_TRUE(StepPattern(p));
    EXPECT_EQ("2025-06-15 10:00:00", Text(p.m_cursor));
}

TEST(Recurrence, MonthlyOnTheThirtyFirstComesBackAfterAShortMonth) {
    CPattern p = Cursor(OL_RECURS_MONTHLY, 1, 0, MakeDate(2024, 1, 31, 8));
    ASSERT_TRUE(StepPattern(p));
    EXPECT_EQ("2024-02-29 08:00:00", Text(p.m_cursor));
    ASSERT_TRUE(StepPattern(p));
    EXPECT_EQ("2024-03-31 08:00:00", Text(p.m_cursor));
}

TEST(Recurrence, DailyNthWeekdayAndYearlySteps) {
    CPattern daily = Cursor(OL_RECURS_DAILY, 3, 0, MakeDate(2024, 2, 27, 7));
    ASSERT_TRUE(StepPattern(daily));
    EXPECT_EQ("2024-03-01 07:00:00", Text(daily.m_cursor));

    // Second Tuesday: 2024-01-09, then 2024-02-13.
    CPattern nth = Cursor(OL_RECURS_MONTH_NTH, 1, 4, MakeDate(2024, 1, 9, 12));
    nth.m_nInstance = 2;
    ASSERT_TRUE(StepPattern(nth));
    EXPECT_EQ("2024-02-13 12:00:00", Text(nth.m_cursor));

    CPattern yearly = Cursor(OL_RECURS_YEARLY, 12, 0, MakeDate(2024, 3, 5, 6));
    ASSERT_TRUE(StepPattern(yearly));
    EXPECT_EQ("2025-03-05 06:00:00", Text(yearly.m_cursor));

    // First Monday of March: 2024-03-04, then 2025-03-03.
    CPattern yearNth = Cursor(OL_RECURS_YEAR_NTH, 12, 2, MakeDate(2024, 3, 4, 6));
    yearNth.m_nInstance = 1;
    ASSERT_TRUE(StepPattern(yearNth));
    EXPECT_EQ("2025-03-03 06:00:00", Text(yearNth.m_cursor));

    CPattern unknown = Cursor(4, 1, 0, MakeDate(2024, 3, 4, 6));
    EXPECT_FALSE(StepPattern(unknown));
}

// Instance 5 is the last such weekday of the month, whether the month has four of them or five.
TEST(Recurrence, MonthlyOnTheLastWeekdayReachesEveryMonth) {
    CPattern last = Cursor(OL_RECURS_MONTH_NTH, 1, 32, MakeDate(2030, 1, 25, 9));  // last Friday
    last.m_nInstance = 5;
    std::vector<std::string> steps;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(StepPattern(last));
        steps.push_back(Text(last.m_cursor));
    }
    EXPECT_EQ((std::vector<std::string>{"2030-02-22 09:00:00", "2030-03-29 09:00:00", "2030-04-26 09:00:00",
                                        "2030-05-31 09:00:00"}),
              steps);

    CPattern everyOther = Cursor(OL_RECURS_MONTH_NTH, 2, 2, MakeDate(2024, 11, 25, 8));  // last Monday
    everyOther.m_nInstance = 5;
    ASSERT_TRUE(StepPattern(everyOther));
    EXPECT_EQ("2025-01-27 08:00:00", Text(everyOther.m_cursor));
    ASSERT_TRUE(StepPattern(everyOther));
    EXPECT_EQ("2025-03-31 08:00:00", Text(everyOther.m_cursor));
}

// Yearly on the nth weekday: the nth one of the month a year on, and instance 5 the last.
TEST(Recurrence, YearlyOnTheNthWeekdayAndOnTheLast) {
    CPattern third = Cursor(OL_RECURS_YEAR_NTH, 12, 16, MakeDate(2024, 11, 28, 18));  // fourth Thursday
    third.m_nInstance = 4;
    std::vector<std::string> steps;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(StepPattern(third));
        steps.push_back(Text(third.m_cursor));
    }
    EXPECT_EQ((std::vector<std::string>{"2025-11-27 18:00:00", "2026-11-26 18:00:00", "2027-11-25 18:00:00"}), steps);

    CPattern lastMonday = Cursor(OL_RECURS_YEAR_NTH, 12, 2, MakeDate(2024, 5, 27, 10));
    lastMonday.m_nInstance = 5;
    ASSERT_TRUE(StepPattern(lastMonday));
    EXPECT_EQ("2025-05-26 10:00:00", Text(lastMonday.m_cursor));
    ASSERT_TRUE(StepPattern(lastMonday));
    EXPECT_EQ("2026-05-25 10:00:00", Text(lastMonday.m_cursor));

    CPattern february = Cursor(OL_RECURS_YEAR_NTH, 12, 2, MakeDate(2024, 2, 26, 10));  // last Monday of February
    february.m_nInstance = 5;
    std::vector<std::string> feb;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(StepPattern(february));
        feb.push_back(Text(february.m_cursor));
    }
    EXPECT_EQ((std::vector<std::string>{"2025-02-24 10:00:00", "2026-02-23 10:00:00", "2027-02-22 10:00:00",
                                        "2028-02-28 10:00:00"}),
              feb);
}

TEST(Recurrence, AdvanceStopsMoreThanTwelveHoursPastTheEndDay) {
    CPattern p = Cursor(OL_RECURS_DAILY, 1, 0, MakeDate(2024, 5, 1, 18));
    p.m_end = COleDate(MakeDate(2024, 5, 2));
    EXPECT_TRUE(AdvanceCursor(p));  // 2 May 18:00 lies on the end day
    EXPECT_FALSE(AdvanceCursor(p));
}

TEST_F(AdapterTest, YearlySeriesLooksAheadEighteenHundredTwentyFiveDays) {
    CPattern yearly, daily;
    yearly.m_nType = OL_RECURS_YEARLY;
    yearly.m_fNoEndDate = 1;
    daily.m_nType = OL_RECURS_DAILY;
    daily.m_fNoEndDate = 1;
    m_adapter->LimitPattern(yearly);
    m_adapter->LimitPattern(daily);
    const DATE now = hvsim::Model::CurrentTime();
    EXPECT_NEAR(now + 1825, yearly.m_end.m_dt, 0.05);
    EXPECT_NEAR(now + 90, daily.m_end.m_dt, 0.05);
    EXPECT_EQ(10, yearly.m_nLimit);

    // An end date inside the window stays.
    CPattern ending;
    ending.m_nType = OL_RECURS_DAILY;
    ending.m_end = COleDate(std::floor(now) + 5);
    m_adapter->LimitPattern(ending);
    EXPECT_EQ(std::floor(now) + 5, ending.m_end.m_dt);
}

// A whole expansion of "the last Friday of every month" finds every month's last Friday: none
// is skipped, and each one is a real occurrence of the series.
TEST_F(AdapterTest, MonthlySeriesOnTheLastFridayExpandsToEveryMonth) {
    hvsim::Recurrence r;
    r.type = hvsim::olRecursMonthNth;
    r.interval = 1;
    r.dayOfWeekMask = 32;
    r.instance = 5;
    DATE start = Day(-20);
    while (true) {  // the last Friday on or before that day
        SYSTEMTIME st;
        ::VariantTimeToSystemTime(start, &st);
        SYSTEMTIME week;
        ::VariantTimeToSystemTime(start + 7, &week);
        if (st.wDayOfWeek == 5 && week.wMonth != st.wMonth) break;
        start -= 1;
    }
    r.patternStart = start;
    r.noEndDate = true;
    r.startTime = 9.0 / 24;
    r.duration = 1.0 / 24;
    auto series = m_outlook->SeedSeries({{"Subject", "Review"}}, r);
    CSyncItem seriesRecord;
    seriesRecord.m_strType = "Event";
    m_adapter->LoadOneItem(&seriesRecord, Obj(series), 0);
    ASSERT_EQ(S_OK, m_adapter->ExpandAppt(&seriesRecord, Obj(series)));
    ASSERT_GE(m_adapter->m_shown.size(), 3u);
    int previousMonth = -1;
    for (CSyncItem* rec : m_adapter->m_shown) {
        ASSERT_NE(nullptr, rec->m_pOccurrence);
        SYSTEMTIME st, week;
        ::VariantTimeToSystemTime(rec->m_pOccurrence->m_date.m_dt, &st);
        ::VariantTimeToSystemTime(rec->m_pOccurrence->m_date.m_dt + 7, &week);
        EXPECT_EQ(5, st.wDayOfWeek) << Text(rec->m_pOccurrence->m_date);
        EXPECT_NE(st.wMonth, week.wMonth) << Text(rec->m_pOccurrence->m_date);
        const int month = st.wYear * 12 + st.wMonth;
        if (previousMonth >= 0) {
            EXPECT_EQ(previousMonth + 1, month) << Text(rec->m_pOccurrence->m_date);
        }
        previousMonth = month;
    }
}

TEST_F(AdapterTest, DailySeriesWithoutEndGivesTenOccurrencesFromTheFirstFreshDate) {
    const hvsim::Recurrence r = DailyAtTen(-60);
    auto series = m_outlook->SeedSeries({{"Subject", "Standup"}}, r);
    CSyncItem seriesRecord;
    seriesRecord.m_strType = "Event";
    m_adapter->LoadOneItem(&seriesRecord, Obj(series), 0);

    ASSERT_EQ(S_OK, m_adapter->ExpandAppt(&seriesRecord, Obj(series)));
    ASSERT_EQ(10u, m_adapter->m_shown.size());
    ASSERT_EQ(10u, m_adapter->m_records.size());
    int first = -60;
    while (CTimeLogic::IsDateOlderThan(COleDate(Day(first) + r.startTime), 30)) ++first;
    for (size_t i = 0; i < 10; ++i) {
        CSyncItem* rec = m_adapter->m_shown[i];
        ASSERT_NE(nullptr, rec->m_pOccurrence);
        EXPECT_EQ(Day(first + static_cast<int>(i)) + r.startTime, rec->m_pOccurrence->m_date.m_dt) << i;
        EXPECT_EQ(i == 0 ? 0 : 1, rec->m_fLaterOccurrence);
        EXPECT_EQ(ACTION_COMPUTING, rec->m_nAction);
        EXPECT_EQ("Standup", rec->title);
        EXPECT_EQ(static_cast<long>(i), rec->m_nListIndex);
        EXPECT_FALSE(rec->m_strHash.empty());  // fingerprint of the occurrence itself
    }
}

TEST_F(AdapterTest, MovedOccurrenceIsLinkedAndWrittenThroughItsException) {
    const hvsim::Recurrence r = DailyAtTen(1);
    auto series = m_outlook->SeedSeries({{"Subject", "Daily"}}, r);

    // The user moves the third occurrence to 15:00 and links it; the fifth is deleted.
    hv::com_ptr<IDispatch> moved = Occurrence(Obj(series), Day(3) + r.startTime);
    ASSERT_TRUE(moved);
    PutValue(moved.get(), L"Start", hv::unique_variant::FromDate(Day(3) + 15.0 / 24));
    PutValue(moved.get(), L"End", hv::unique_variant::FromDate(Day(3) + 16.0 / 24));
    PutValue(moved.get(), L"BillingInformation",
             hv::unique_variant::FromString(
                 "<HV><ID>777</ID><CatID>17</CatID><SpaceID>1</SpaceID><Folder></Folder><Workspace></Workspace></HV>"));
    ASSERT_HRESULT_SUCCEEDED(CDispatcher::CallMethod(moved.get(), L"Save", nullptr, 0, nullptr));
    hv::com_ptr<IDispatch> gone = Occurrence(Obj(series), Day(5) + r.startTime);
    ASSERT_TRUE(gone);
    ASSERT_HRESULT_SUCCEEDED(CDispatcher::CallMethod(gone.get(), L"Delete", nullptr, 0, nullptr));

    CSyncItem seriesRecord;
    seriesRecord.m_strType = "Event";
    m_adapter->LoadOneItem(&seriesRecord, Obj(series), 0);
    CSyncItemList out;
    ASSERT_EQ(S_OK, m_adapter->ExpandSeries(&seriesRecord, Obj(series), out, true));
    // Ten plain occurrences, and the moved one on top (the limit does not apply to it).
    ASSERT_EQ(11u, out.size());
    CSyncItem* linked = nullptr;
    for (const auto& owned : out) {
        CSyncItem* rec = owned.get();
        EXPECT_EQ(SOURCE_OUTLOOK, rec->m_nSource);
        EXPECT_NE(static_cast<int>(Day(5)), static_cast<int>(std::floor(rec->m_pOccurrence->m_date.m_dt)));
        if (rec->m_target.m_strID == "777") linked = rec;
    }
    ASSERT_NE(nullptr, linked);
    EXPECT_GT(linked->m_pOccurrence->m_nException, 0);
    EXPECT_EQ("17", linked->m_target.m_strCatID);
    std::string expectedStart;
    CTimeLogic::ConvertToUTC(COleDate(Day(3) + 15.0 / 24), expectedStart);
    EXPECT_EQ(expectedStart, linked->start_time);

    // The service renames it: the exception's own item takes the change, the series keeps its subject.
    linked->title = "Moved and renamed";
    linked->last_modified = "2030-01-01T00:00:00Z";
    ASSERT_EQ(S_OK, m_adapter->AbsorbAppt(series->entryId, linked));
    ASSERT_FALSE(series->recurrence->exceptions.empty());
    bool renamed = false;
    for (const auto& e : series->recurrence->exceptions) {
        if (e.item && e.item->Subject() == "Moved and renamed") {
            renamed = true;
            EXPECT_EQ(Day(3) + 15.0 / 24, e.item->Get("Start").AsDate());
            EXPECT_NE(std::string::npos, e.item->Get("BillingInformation").AsText().find("<ID>777</ID>"));
        }
    }
    EXPECT_TRUE(renamed);
    EXPECT_EQ("Daily", series->Subject());

    // Reconstituting the record again reads the exception's link.
    hv::com_ptr<IDispatch> item;
    ASSERT_TRUE(m_adapter->ReconstituteAppt(linked, item, 1, 1));
    EXPECT_EQ("Moved and renamed", linked->title);
    EXPECT_EQ("777", linked->m_target.m_strID);
}

TEST_F(AdapterTest, ReconstituteNeedsAnOccurrenceAndStaleFollowsTheLimit) {
    auto single = m_outlook->Seed(
        hvsim::olFolderCalendar,
        {{"Subject", "Once"}, {"Start", hvsim::DateValue(2030, 1, 2, 9)}, {"End", hvsim::DateValue(2030, 1, 2, 10)}});
    CSyncItem record;
    record.m_strType = "Event";
    m_adapter->LoadOneItem(&record, Obj(single), 0);
    CSyncItem notOccurrence;
    hv::com_ptr<IDispatch> item;
    EXPECT_FALSE(m_adapter->ReconstituteAppt(&notOccurrence, item, 1, 1));
    EXPECT_TRUE(m_adapter->IsStaleDate("Event", COleDate(Day(-40))));
    EXPECT_FALSE(m_adapter->IsStaleDate("Event", COleDate(Day(-20))));
    EXPECT_FALSE(m_adapter->IsStaleDate("Contact", COleDate(Day(-400))));
}
