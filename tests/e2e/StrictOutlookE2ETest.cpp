// Whole runs against an Outlook as strict as the real one: dates in filters read in the user's
// regional settings, weeks that start on the user's first day, and Outlook's own rules for task
// dates. The cases that depend on the regional settings run again under en-GB and de-DE
// (HV_TEST_LOCALE, see tests/TestLocale.h).
#include "e2e/SyncE2EFixture.h"

#include "TestLocale.h"
#include "outlook-sim/SimTestUtil.h"

using nlohmann::json;

namespace {

using e2e::RunResult;
using e2e::Str;

class StrictOutlookE2E : public e2e::SyncE2E {};

TEST_F(StrictOutlookE2E, AnIncrementalRunFindsAnOutlookChangeWhateverTheUsersDateFormat) {
    const DATE marked = hvtest::AmbiguousDayBeforeToday() + 10.0 / 24;
    ASSERT_GT(marked, 1.0);
    const long long back = static_cast<long long>((hvsim::Model::CurrentTime() - (marked - 1)) * 86400);
    // The task was made on the service, and first synchronised, the day before the mark.
    m_admin.SetClockOffset(-back);
    json task = CreateTask({{"title", "Plan"}});
    AtOutlookTime(static_cast<int>(-back), [&] { ASSERT_EQ(Sync(0).Count(ACTION_DONE), 1u); });
    auto item = m_outlook->FindBySubject(hvsim::olFolderTasks, "Plan");
    ASSERT_TRUE(item);
    // The last run ended at the mark; the user renamed the task in Outlook a day later.
    CConfig().SetKey("LastTaskSync", Wire(marked) + "Z");
    CConfig().SetKey("LastTaskDownload", Wire(marked) + "Z");
    AtOutlookTime(static_cast<int>(-back + 2 * 86400), [&] { m_outlook->EditAndSave(item, {{"Subject", "Plan v2"}}); });
    m_admin.SetClockOffset(0);

    RunResult run = Sync(1, e2e::Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_EQ(run.Count(ACTION_DONE), 1u) << run.Describe() << " locale " << hvtest::TestLocale();
    EXPECT_EQ(Str(m_admin.Get("/admin/tasks/" + Str(task["task_id"]))["title"]), "Plan v2");
}

TEST_F(StrictOutlookE2E, ATaskWithAStartDateAndNoDueDateIsAbsorbedOnceAndThenLeftAlone) {
    json task = CreateTask({{"title", "Call Bob"}, {"start_date", "2030-01-02"}, {"completed", false}});
    RunResult first = Sync();
    ASSERT_EQ(first.Count(ACTION_DONE), 1u) << first.Describe();
    auto item = m_outlook->FindBySubject(hvsim::olFolderTasks, "Call Bob");
    ASSERT_TRUE(item);
    // Outlook gives a task with a start date a due date on the same day.
    EXPECT_EQ(hvsim::DayNumber(item->Get("StartDate").AsDate()), hvsim::DayNumber(item->Get("DueDate").AsDate()));

    const long long seq = m_admin.LastSeq();
    for (long incremental : {1L, 0L, 1L}) {
        RunResult again = Sync(incremental);
        EXPECT_TRUE(again.AllNone()) << again.Describe();
    }
    EXPECT_TRUE(Writes(seq).empty());
    json stored = m_admin.Get("/admin/tasks/" + Str(task["task_id"]));
    EXPECT_EQ(Str(stored["start_date"]).substr(0, 10), "2030-01-02");
}

TEST_F(StrictOutlookE2E, AnEveryOtherWeekSeriesGivesTheOccurrencesOfTheUsersWeeks) {
    // Every other week on Sunday and Monday, from the next Monday on. Where weeks start on
    // Monday, the Sunday after the first Monday is an occurrence; where they start on Sunday,
    // it is not.
    DATE monday = Today() + 1;
    while (hvsim::Weekday(monday) != 1) monday += 1;
    hvsim::Recurrence r;
    r.type = hvsim::olRecursWeekly;
    r.interval = 2;
    r.dayOfWeekMask = hvsim::olSunday | hvsim::olMonday;
    r.patternStart = monday;
    r.noEndDate = true;
    r.startTime = 10.0 / 24;
    r.duration = 1.0 / 24;
    auto series = m_outlook->SeedSeries({{"Subject", "Fortnightly"}}, r);
    const bool mondayWeeks = series->recurrence->firstDayOfWeek == 1;

    RunResult run = Sync(0, e2e::Drive::UntilClose, std::string(), SYNC_EVENTS);
    ASSERT_FALSE(run.starts.empty());
    // Every row is a real occurrence, and the row dates are the series' dates in order.
    std::vector<DATE> expected;
    for (DATE day = monday; expected.size() < run.starts.size() && day < monday + 400; day += 1)
        if (series->recurrence->IsOccurrenceDay(hvsim::DayNumber(day))) expected.push_back(day + 10.0 / 24);
    ASSERT_EQ(expected.size(), run.starts.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(run.starts[i].substr(0, 19), Wire(expected[i])) << i;
    EXPECT_EQ(run.starts[1].substr(0, 19), Wire(mondayWeeks ? monday + 6 + 10.0 / 24 : monday + 13 + 10.0 / 24));
}

}  // namespace
