// Recurring appointments in whole runs: the series is expanded into single occurrences, each one
// is paired with its service event through the link blob it carries, and changes travel both
// ways, to the occurrence's own item when it is an exception. Every scenario runs again (a full
// run and an incremental one) to see that the second time changes nothing.
#include "e2e/SyncE2EFixture.h"

#include "outlook-sim/SimTestUtil.h"
#include "service/TimeLogic.h"

using nlohmann::json;

namespace {

using e2e::RunResult;
using e2e::Str;

constexpr double kHour = 1.0 / 24;

class RecurrenceE2E : public e2e::SyncE2E {
protected:
    // The service id a link blob names, empty when the item carries none.
    static std::string BlobId(const std::shared_ptr<hvsim::ItemData>& item) {
        const std::string blob = item->Get("BillingInformation").AsText();
        if (blob.empty()) return std::string();
        CSyncItem rec;
        rec.ReadLinkBlob(blob);
        return rec.m_target.m_strID;
    }

    void SeedSeries(const char* subject, hvsim::Recurrence r) {
        r.startTime = 10 * kHour;
        r.duration = kHour;
        r.noEndDate = true;
        m_series = m_outlook->SeedSeries({{"Subject", subject}, {"Location", "Hall"}}, r);
        m_pattern = simtest::CallObj(m_outlook->ItemObject(m_series), L"GetRecurrencePattern", {});
        ASSERT_TRUE(m_pattern);
    }

    // Taken through a fresh copy of the series each time: a copy from before a save is stale.
    hv::com_ptr<IDispatch> OccurrenceAt(DATE when) {
        m_pattern = simtest::CallObj(m_outlook->ItemObject(m_series), L"GetRecurrencePattern", {});
        return simtest::CallObj(m_pattern.get(), L"GetOccurrence", {hv::unique_variant::FromDate(when)});
    }

    json CreateOccurrenceEvent(const std::string& subject, DATE start) {
        return CreateEvent(
            {{"title", subject}, {"location", "Hall"}, {"start_time", Wire(start)}, {"end_time", Wire(start + kHour)}});
    }

    // Writes the link to a service event into an occurrence, as "Add to HV" would have done.
    void Link(IDispatch* occurrence, const json& e) {
        CSyncItem rec;
        rec.m_target.m_strID = Str(e["event_id"]);
        const std::string lm = Str(e["last_modified"]);
        const std::string organizer = Str(e["organizer"]);
        const std::string ids = Str(e["assigned_to_userids"]);
        const std::string internal = Str(e["internal_use_only"]);
        ASSERT_HRESULT_SUCCEEDED(
            simtest::Put(occurrence, L"BillingInformation",
                         hv::unique_variant::FromString(rec.BuildLinkBlob(&lm, nullptr, &ids, &organizer, &internal))));
    }

    const hvsim::ExceptionData* ExceptionFor(DATE original) const {
        for (const auto& ex : m_series->recurrence->exceptions)
            if (hvsim::DayNumber(ex.originalDate) == hvsim::DayNumber(original)) return &ex;
        return nullptr;
    }

    // The whole scenario for one series: `first` and `second` were linked earlier to service
    // events, `second` then moved two hours later, `third` deleted. The service changes the
    // first one's title, Outlook the moved one's; one run carries both, and the next ones are
    // no-ops.
    void LinkMoveDeleteAndSyncBothWays(const std::string& subject, DATE first, DATE second, DATE third) {
        const DATE moved = second + 2 * kHour;
        json e1 = CreateOccurrenceEvent(subject, first);
        json e2 = CreateOccurrenceEvent(subject, moved);
        const std::string id1 = Str(e1["event_id"]), id2 = Str(e2["event_id"]);
        {
            hv::com_ptr<IDispatch> o1 = OccurrenceAt(first);
            ASSERT_TRUE(o1) << "no occurrence at " << hvsim::FormatDate(first);
            Link(o1.get(), e1);
            ASSERT_HRESULT_SUCCEEDED(simtest::Call(o1.get(), L"Save", {}));
            hv::com_ptr<IDispatch> o2 = OccurrenceAt(second);
            ASSERT_TRUE(o2) << "no occurrence at " << hvsim::FormatDate(second);
            Link(o2.get(), e2);
            simtest::Put(o2.get(), L"Start", hv::unique_variant::FromDate(moved));
            simtest::Put(o2.get(), L"End", hv::unique_variant::FromDate(moved + kHour));
            ASSERT_HRESULT_SUCCEEDED(simtest::Call(o2.get(), L"Save", {}));
            hv::com_ptr<IDispatch> o3 = OccurrenceAt(third);
            ASSERT_TRUE(o3) << "no occurrence at " << hvsim::FormatDate(third);
            ASSERT_HRESULT_SUCCEEDED(simtest::Call(o3.get(), L"Delete", {}));
        }
        m_admin.SetClockOffset(120);
        Update("events", id1, {{"title", subject + " (service)"}});
        AtOutlookTime(900, [&] {
            const hvsim::ExceptionData* ex = ExceptionFor(second);
            ASSERT_TRUE(ex && ex->item);
            m_outlook->EditAndSave(ex->item, {{"Subject", subject + " (outlook)"}});
        });

        RunResult run = Sync(0, e2e::Drive::UntilClose, std::string(), SYNC_EVENTS);
        ASSERT_EQ(run.actions.size(), 2u) << run.Describe();
        EXPECT_EQ(run.Count(ACTION_DONE), 2u) << run.Describe();
        ExpectBothStoresAfterTheRun(subject, first, second, third, id1, id2);

        // The same run again, in full and incrementally: every row "None", nothing written.
        const long long seq = m_admin.LastSeq();
        RunResult again = Sync(0, e2e::Drive::UntilClose, std::string(), SYNC_EVENTS);
        EXPECT_EQ(again.actions.size(), 2u) << again.Describe();
        EXPECT_TRUE(again.AllNone()) << again.Describe();
        RunResult incremental = Sync(1, e2e::Drive::UntilClose, std::string(), SYNC_EVENTS);
        EXPECT_TRUE(incremental.AllNone()) << incremental.Describe();
        EXPECT_TRUE(Writes(seq).empty());
        ExpectBothStoresAfterTheRun(subject, first, second, third, id1, id2);
    }

    void ExpectBothStoresAfterTheRun(const std::string& subject, DATE first, DATE second, DATE third,
                                     const std::string& id1, const std::string& id2) {
        const DATE moved = second + 2 * kHour;
        // Outlook: one series; the first occurrence took the service's title and keeps its date
        // and link, the moved one keeps its own title and new time, the deleted one stays deleted.
        EXPECT_EQ(Appts().size(), 1u);
        EXPECT_EQ(m_series->recurrence->exceptions.size(), 3u);
        const hvsim::ExceptionData* x1 = ExceptionFor(first);
        ASSERT_TRUE(x1 && x1->item && !x1->deleted);
        EXPECT_EQ(x1->item->Subject(), subject + " (service)");
        EXPECT_TRUE(hvsim::SameSecond(x1->item->Get("Start").AsDate(), first));
        EXPECT_EQ(BlobId(x1->item), id1);
        const hvsim::ExceptionData* x2 = ExceptionFor(second);
        ASSERT_TRUE(x2 && x2->item && !x2->deleted);
        EXPECT_EQ(x2->item->Subject(), subject + " (outlook)");
        EXPECT_TRUE(hvsim::SameSecond(x2->item->Get("Start").AsDate(), moved));
        EXPECT_EQ(BlobId(x2->item), id2);
        const hvsim::ExceptionData* x3 = ExceptionFor(third);
        ASSERT_TRUE(x3);
        EXPECT_TRUE(x3->deleted);
        EXPECT_FALSE(x3->item);
        EXPECT_FALSE(OccurrenceAt(third));
        // The service: the same two events, the moved one with Outlook's title at its new time.
        json events = m_admin.Events(m_user);
        EXPECT_EQ(events.size(), 2u) << events.dump();
        json e1 = m_admin.Get("/admin/events/" + id1);
        EXPECT_EQ(Str(e1["title"]), subject + " (service)");
        EXPECT_EQ(Str(e1["start_time"]).substr(0, 19), Wire(first));
        json e2 = m_admin.Get("/admin/events/" + id2);
        EXPECT_EQ(Str(e2["title"]), subject + " (outlook)");
        EXPECT_EQ(Str(e2["start_time"]).substr(0, 19), Wire(moved));
    }

    std::shared_ptr<hvsim::ItemData> m_series;
    hv::com_ptr<IDispatch> m_pattern;
};

TEST_F(RecurrenceE2E, DailySeriesWithAMovedAndADeletedOccurrenceIsSyncedBothWays) {
    hvsim::Recurrence r;
    r.type = hvsim::olRecursDaily;
    r.interval = 1;
    r.patternStart = Today() + 1;
    SeedSeries("Daily check", r);
    const DATE first = Today() + 1 + 10 * kHour;
    LinkMoveDeleteAndSyncBothWays("Daily check", first, first + 2, first + 4);
}

TEST_F(RecurrenceE2E, MonthlySeriesOnTheFifteenthWithAMovedAndADeletedOccurrenceIsSyncedBothWays) {
    // From this month's 15th: at most 16 days back (not stale), the third at most 76 days ahead.
    int y, m, d;
    hvsim::SplitDate(Today(), &y, &m, &d);
    auto fifteenth = [&](int months) {
        const int index = y * 12 + (m - 1) + months;
        return hvsim::MakeDate(index / 12, index % 12 + 1, 15);
    };
    hvsim::Recurrence r;
    r.type = hvsim::olRecursMonthly;
    r.interval = 1;
    r.dayOfMonth = 15;
    r.patternStart = fifteenth(0);
    SeedSeries("Month end review", r);
    LinkMoveDeleteAndSyncBothWays("Month end review", fifteenth(0) + 10 * kHour, fifteenth(1) + 10 * kHour,
                                  fifteenth(2) + 10 * kHour);
}

TEST_F(RecurrenceE2E, MonthlySeriesOnTheSecondTuesdayWithAMovedAndADeletedOccurrenceIsSyncedBothWays) {
    int y, m, d;
    hvsim::SplitDate(Today(), &y, &m, &d);
    auto secondTuesday = [&](int months) {
        const int index = y * 12 + (m - 1) + months;
        DATE day = hvsim::MakeDate(index / 12, index % 12 + 1, 8);
        while (hvsim::Weekday(day) != 2) day += 1;
        return day;
    };
    hvsim::Recurrence r;
    r.type = hvsim::olRecursMonthNth;
    r.interval = 1;
    r.instance = 2;
    r.dayOfWeekMask = hvsim::olTuesday;
    r.patternStart = secondTuesday(0);
    SeedSeries("Board meeting", r);
    LinkMoveDeleteAndSyncBothWays("Board meeting", secondTuesday(0) + 10 * kHour, secondTuesday(1) + 10 * kHour,
                                  secondTuesday(2) + 10 * kHour);
}

TEST_F(RecurrenceE2E, YearlySeriesWithAMovedAndADeletedOccurrenceIsSyncedBothWays) {
    // Ten days ahead; the following years lie inside the five-year window of yearly series.
    DATE start = Today() + 10;
    int y, m, d;
    hvsim::SplitDate(start, &y, &m, &d);
    if (m == 2 && d == 29) {
        start += 1;
        hvsim::SplitDate(start, &y, &m, &d);
    }
    hvsim::Recurrence r;
    r.type = hvsim::olRecursYearly;
    r.interval = 12;
    r.dayOfMonth = d;
    r.monthOfYear = m;
    r.patternStart = start;
    SeedSeries("Anniversary", r);
    LinkMoveDeleteAndSyncBothWays("Anniversary", start + 10 * kHour, hvsim::MakeDate(y + 1, m, d, 10),
                                  hvsim::MakeDate(y + 2, m, d, 10));
}

TEST_F(RecurrenceE2E, AServiceMoveReachesItsOccurrenceAndALaterOutlookEditReachesTheService) {
    hvsim::Recurrence r;
    r.type = hvsim::olRecursDaily;
    r.interval = 2;
    r.patternStart = Today() + 1;
    SeedSeries("Swim", r);
    const DATE first = Today() + 1 + 10 * kHour, second = first + 2;
    json e1 = CreateOccurrenceEvent("Swim", first);
    json e2 = CreateOccurrenceEvent("Swim", second);
    const std::string id1 = Str(e1["event_id"]), id2 = Str(e2["event_id"]);
    {
        hv::com_ptr<IDispatch> o1 = OccurrenceAt(first);
        ASSERT_TRUE(o1);
        Link(o1.get(), e1);
        ASSERT_HRESULT_SUCCEEDED(simtest::Call(o1.get(), L"Save", {}));
        hv::com_ptr<IDispatch> o2 = OccurrenceAt(second);
        ASSERT_TRUE(o2);
        Link(o2.get(), e2);
        ASSERT_HRESULT_SUCCEEDED(simtest::Call(o2.get(), L"Save", {}));
    }
    // The service moves the first occurrence an hour later.
    const DATE later = first + kHour;
    m_admin.SetClockOffset(120);
    Update("events", id1, {{"start_time", Wire(later)}, {"end_time", Wire(later + kHour)}});

    RunResult run = Sync(0, e2e::Drive::UntilClose, std::string(), SYNC_EVENTS);
    ASSERT_EQ(run.actions.size(), 2u) << run.Describe();
    EXPECT_EQ(run.Count(ACTION_DONE), 1u) << run.Describe();
    const hvsim::ExceptionData* x1 = ExceptionFor(first);
    ASSERT_TRUE(x1 && x1->item);
    EXPECT_TRUE(hvsim::SameSecond(x1->item->Get("Start").AsDate(), later));
    EXPECT_EQ(BlobId(x1->item), id1);
    EXPECT_EQ(m_series->recurrence->exceptions.size(), 2u);

    // Outlook then edits the second occurrence (and, with it, nothing else).
    AtOutlookTime(900, [&] {
        const hvsim::ExceptionData* x2 = ExceptionFor(second);
        ASSERT_TRUE(x2 && x2->item);
        m_outlook->EditAndSave(x2->item, {{"Location", "Pool"}});
    });
    // An incremental run brings the first event again (its change is stamped ahead of the mark)
    // and pairs it through the series. The second event comes with it only when it was written
    // in the very second of the mark; otherwise the series' other occurrences get no row in this
    // run. Either way the edit goes up exactly once, by this run or by the full one after it.
    long long seq = m_admin.LastSeq();
    RunResult incremental = Sync(1, e2e::Drive::UntilClose, std::string(), SYNC_EVENTS);
    EXPECT_EQ(incremental.Count(ACTION_FAILED), 0u) << incremental.Describe();
    RunResult full = Sync(0, e2e::Drive::UntilClose, std::string(), SYNC_EVENTS);
    ASSERT_EQ(full.actions.size(), 2u) << full.Describe();
    EXPECT_EQ(incremental.Count(ACTION_DONE) + full.Count(ACTION_DONE), 1u)
        << incremental.Describe() << " then " << full.Describe();
    EXPECT_EQ(Writes(seq), std::vector<std::string>{"UpdateEvent"});
    EXPECT_EQ(Str(m_admin.Get("/admin/events/" + id2)["location"]), "Pool");
    json e1now = m_admin.Get("/admin/events/" + id1);
    EXPECT_EQ(Str(e1now["start_time"]).substr(0, 19), Wire(later));
    EXPECT_EQ(m_admin.Events(m_user).size(), 2u);

    seq = m_admin.LastSeq();
    RunResult again = Sync(0, e2e::Drive::UntilClose, std::string(), SYNC_EVENTS);
    EXPECT_EQ(again.actions.size(), 2u) << again.Describe();
    EXPECT_TRUE(again.AllNone()) << again.Describe();
    RunResult quiet = Sync(1, e2e::Drive::UntilClose, std::string(), SYNC_EVENTS);
    EXPECT_TRUE(quiet.AllNone()) << quiet.Describe();
    EXPECT_TRUE(Writes(seq).empty());
    EXPECT_EQ(Appts().size(), 1u);
    EXPECT_EQ(m_series->recurrence->exceptions.size(), 2u);
    x1 = ExceptionFor(first);
    ASSERT_TRUE(x1 && x1->item);
    EXPECT_TRUE(hvsim::SameSecond(x1->item->Get("Start").AsDate(), later));
    const hvsim::ExceptionData* x2 = ExceptionFor(second);
    ASSERT_TRUE(x2 && x2->item);
    EXPECT_EQ(x2->item->Get("Location").AsText(), "Pool");
}

// While Outlook will not let an occurrence be read (another program keeps saving its series), its
// service event has no partner in the run. It is not created again as a single appointment: its
// row fails, and nothing is written or deleted on either side. Once the occurrence reads again,
// the two pair as before.
TEST_F(RecurrenceE2E, AServiceEventWhoseOccurrenceCannotBeReadIsNotCreatedAgainAsASingleAppointment) {
    hvsim::Recurrence r;
    r.type = hvsim::olRecursDaily;
    r.interval = 2;
    r.patternStart = Today() + 1;
    SeedSeries("Swim", r);
    const DATE first = Today() + 1 + 10 * kHour, second = first + 2;
    json e1 = CreateOccurrenceEvent("Swim", first);
    json e2 = CreateOccurrenceEvent("Swim", second);
    {
        hv::com_ptr<IDispatch> o1 = OccurrenceAt(first);
        ASSERT_TRUE(o1);
        Link(o1.get(), e1);
        ASSERT_HRESULT_SUCCEEDED(simtest::Call(o1.get(), L"Save", {}));
        hv::com_ptr<IDispatch> o2 = OccurrenceAt(second);
        ASSERT_TRUE(o2);
        Link(o2.get(), e2);
        ASSERT_HRESULT_SUCCEEDED(simtest::Call(o2.get(), L"Save", {}));
    }
    m_pattern.reset();
    m_series->failOccurrenceReads = true;
    long long seq = m_admin.LastSeq();
    RunResult blocked = Sync(0, e2e::Drive::UntilClose, std::string(), SYNC_EVENTS);
    EXPECT_EQ(Appts().size(), 1u) << blocked.Describe();
    EXPECT_EQ(m_series->recurrence->exceptions.size(), 2u);
    EXPECT_GE(blocked.Count(ACTION_FAILED), 2u) << blocked.Describe();
    EXPECT_EQ(blocked.Count(ACTION_DONE), 0u) << blocked.Describe();
    EXPECT_TRUE(Writes(seq).empty());
    EXPECT_EQ(m_admin.Events(m_user).size(), 2u);

    m_series->failOccurrenceReads = false;
    seq = m_admin.LastSeq();
    RunResult again = Sync(0, e2e::Drive::UntilClose, std::string(), SYNC_EVENTS);
    EXPECT_EQ(again.Count(ACTION_FAILED), 0u) << again.Describe();
    EXPECT_TRUE(again.AllNone()) << again.Describe();
    EXPECT_TRUE(Writes(seq).empty());
    EXPECT_EQ(Appts().size(), 1u);
    EXPECT_EQ(m_admin.Events(m_user).size(), 2u);
}

TEST_F(RecurrenceE2E, ASeriesNeverLinkedGivesOneRowPerOccurrenceAndNoneForTheDeletedOne) {
    // A daily series from tomorrow with the third day deleted and the fifth moved two hours
    // later, none of them ever linked to the service.
    hvsim::Recurrence r;
    r.type = hvsim::olRecursDaily;
    r.interval = 1;
    r.patternStart = Today() + 1;
    SeedSeries("Walk", r);
    const DATE day1 = Today() + 1 + 10 * kHour;
    const DATE deleted = day1 + 2, moved = day1 + 4 + 2 * kHour;
    {
        hv::com_ptr<IDispatch> gone = OccurrenceAt(deleted);
        ASSERT_TRUE(gone);
        ASSERT_HRESULT_SUCCEEDED(simtest::Call(gone.get(), L"Delete", {}));
        hv::com_ptr<IDispatch> later = OccurrenceAt(day1 + 4);
        ASSERT_TRUE(later);
        simtest::Put(later.get(), L"Start", hv::unique_variant::FromDate(moved));
        simtest::Put(later.get(), L"End", hv::unique_variant::FromDate(moved + kHour));
        ASSERT_HRESULT_SUCCEEDED(simtest::Call(later.get(), L"Save", {}));
    }

    const long long seq = m_admin.LastSeq();
    for (long incremental : {0L, 0L, 1L}) {
        RunResult run = Sync(incremental, e2e::Drive::UntilClose, std::string(), SYNC_EVENTS);
        if (incremental == 0) {
            // Ten plain occurrences (the limit) and the moved one; the deleted day has no row.
            ASSERT_EQ(run.actions.size(), 11u) << run.Describe();
            size_t atMoved = 0;
            for (size_t i = 0; i < run.starts.size(); ++i) {
                EXPECT_EQ(run.titles[i], "Walk");
                EXPECT_NE(run.starts[i].substr(0, 10), Wire(deleted).substr(0, 10)) << run.Describe();
                atMoved += run.starts[i].substr(0, 19) == Wire(moved);
            }
            EXPECT_EQ(atMoved, 1u) << run.Describe();
        }
        // An occurrence row without a service partner carries the fingerprint it was loaded
        // with, so the run leaves it alone: occurrences reach the service only through a link
        // made for them.
        EXPECT_TRUE(run.AllNone()) << run.Describe();
    }
    EXPECT_TRUE(Writes(seq).empty());
    EXPECT_TRUE(m_admin.Events(m_user).empty());
    EXPECT_EQ(Appts().size(), 1u);
    EXPECT_EQ(m_series->recurrence->exceptions.size(), 2u);
    for (const auto& ex : m_series->recurrence->exceptions) {
        if (ex.item) {
            EXPECT_TRUE(BlobId(ex.item).empty());
        }
    }
}

}  // namespace
