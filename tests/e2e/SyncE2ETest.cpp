// Whole synchronisation runs: the real dialog, driven from a second thread as a user would, over
// the simulated Outlook and the reference service. Every test looks at both stores afterwards,
// and most run the same synchronisation again to see that it changes nothing.
#include "e2e/SyncE2EFixture.h"

#include <atomic>

#include "outlook-sim/SimTestUtil.h"
#include "service/Protocol.h"

using nlohmann::json;

namespace {

using e2e::DateFromToday;
using e2e::Drive;
using e2e::RunResult;
using e2e::Str;
using e2e::SyncE2E;

TEST_F(SyncE2E, FirstSyncFillsAnEmptyOutlookAndTheSecondRunChangesNothing) {
    CreateTask({{"title", "Write report"}, {"description", "Two pages"}, {"priority", 3}, {"due_date", "2030-01-10"}});
    CreateTask({{"title", "Call Bob"}, {"priority", 1}, {"start_date", "2030-01-02"}, {"completed", false}});
    CreateEvent({{"title", "Review"},
                 {"location", "Room 1"},
                 {"start_time", "2030-01-10T10:00:00"},
                 {"end_time", "2030-01-10T11:00:00"},
                 {"description", "Heading\n\nAgenda"}});
    CreateEvent({{"title", "Lunch"}, {"start_time", "2030-01-11T12:00:00"}, {"end_time", "2030-01-11T13:00:00"}});

    RunResult first = Sync();
    ASSERT_EQ(first.actions.size(), 4u);
    EXPECT_EQ(first.Count(ACTION_DONE), 4u);
    ASSERT_EQ(first.uiRows.size(), 4u);
    EXPECT_EQ(first.uiRows[0][0], "Task Updated");
    EXPECT_EQ(first.uiRows[0][1], "Task");
    EXPECT_EQ(first.uiRows[3][0], "Event Updated");
    EXPECT_EQ(first.uiRows[3][1], "Event");
    // Every row shows its action's image; a row can be selected, and the list finds rows by the
    // first column's text.
    ASSERT_EQ(first.uiImages.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(first.uiImages[i], static_cast<int>(first.actions[i])) << i;
    EXPECT_EQ(first.uiSelection, std::vector<int>{3});
    EXPECT_EQ(first.uiFoundEvent, 2);
    EXPECT_EQ(first.status, "Synchronization is Complete");
    EXPECT_FALSE(LastSync("Task").empty());
    EXPECT_FALSE(LastSync("Event").empty());

    // Outlook now holds both kinds, linked to the service's ids.
    ASSERT_EQ(Tasks().size(), 2u);
    ASSERT_EQ(Appts().size(), 2u);
    auto report = m_outlook->FindBySubject(hvsim::olFolderTasks, "Write report");
    ASSERT_TRUE(report);
    EXPECT_EQ(report->Get("Importance").AsLong(), 2);
    EXPECT_EQ(report->Get("Body").AsText(), "Two pages");
    auto review = m_outlook->FindBySubject(hvsim::olFolderCalendar, "Review");
    ASSERT_TRUE(review);
    EXPECT_EQ(review->Get("Location").AsText(), "Room 1");
    EXPECT_EQ(review->Get("Body").AsText(), "Agenda");
    json tasks = m_admin.Tasks(m_user);
    ASSERT_EQ(tasks.size(), 2u);
    for (const auto& t : tasks) {
        auto item = m_outlook->FindBySubject(hvsim::olFolderTasks, Str(t["title"]));
        ASSERT_TRUE(item);
        EXPECT_EQ(RecordId(item), Str(t["task_id"]));
    }

    // The same run again: nothing to do, nothing written anywhere.
    long long seq = m_admin.LastSeq();
    RunResult second = Sync();
    EXPECT_TRUE(second.AllNone()) << second.actions.size() << " rows";
    EXPECT_TRUE(Writes(seq).empty());
    EXPECT_EQ(Tasks().size(), 2u);
    EXPECT_EQ(Appts().size(), 2u);
    // The heading paragraph Outlook does not show stays on the service.
    for (const auto& e : m_admin.Events(m_user))
        if (Str(e["title"]) == "Review") {
            EXPECT_EQ(Str(e["description_plain_text"]), "Heading\n\nAgenda");
        }

    // A full comparison of every record: each one is equivalent, so every row says "None".
    RunResult full = Sync(0);
    EXPECT_EQ(full.actions.size(), 4u);
    EXPECT_TRUE(full.AllNone());
    for (const auto& row : full.uiRows) EXPECT_EQ(row[0], "None");
    EXPECT_TRUE(Writes(seq).empty());
    EXPECT_EQ(Tasks().size(), 2u);
    EXPECT_EQ(Appts().size(), 2u);
}

TEST_F(SyncE2E, OutlookOnlyItemsAreCreatedOnTheServiceAndLinked) {
    m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Buy paper"}, {"Importance", 2L}, {"Body", "A4"}});
    m_outlook->Seed(hvsim::olFolderCalendar, {{"Subject", "Dentist"},
                                              {"Location", "Town"},
                                              {"Start", hvsim::DateValue(2030, 2, 1, 9, 0)},
                                              {"End", hvsim::DateValue(2030, 2, 1, 10, 0)}});
    RunResult first = Sync();
    ASSERT_EQ(first.actions.size(), 2u);
    EXPECT_EQ(first.Count(ACTION_DONE), 2u);
    // Row order: Outlook-only appointments before Outlook-only tasks.
    EXPECT_EQ(first.titles[0], "Dentist");
    EXPECT_EQ(first.titles[1], "Buy paper");

    json tasks = m_admin.Tasks(m_user);
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(Str(tasks[0]["title"]), "Buy paper");
    EXPECT_EQ(Str(tasks[0]["priority"]), "3");
    json events = m_admin.Events(m_user);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(Str(events[0]["location"]), "Town");
    EXPECT_EQ(RecordId(m_outlook->FindBySubject(hvsim::olFolderTasks, "Buy paper")), Str(tasks[0]["task_id"]));
    EXPECT_EQ(RecordId(m_outlook->FindBySubject(hvsim::olFolderCalendar, "Dentist")), Str(events[0]["event_id"]));

    long long seq = m_admin.LastSeq();
    EXPECT_TRUE(Sync().AllNone());
    RunResult full = Sync(0);
    EXPECT_EQ(full.actions.size(), 2u);
    EXPECT_TRUE(full.AllNone());
    EXPECT_TRUE(Writes(seq).empty());
    EXPECT_EQ(m_admin.Tasks(m_user).size(), 1u);
    EXPECT_EQ(Tasks().size(), 1u);
    EXPECT_EQ(Appts().size(), 1u);
}

TEST_F(SyncE2E, BothSidesChangedTheLaterWinsAndEqualTimesGoToTheService) {
    json a = CreateTask({{"title", "A"}, {"due_date", "2030-03-01"}});
    json b = CreateTask({{"title", "B"}, {"due_date", "2030-03-02"}});
    json c = CreateTask({{"title", "C"}, {"due_date", "2030-03-03"}});
    ASSERT_EQ(Sync().Count(ACTION_DONE), 3u);

    // A: Outlook edited first, the service later.
    AtOutlookTime(60, [&] {
        m_outlook->EditAndSave(m_outlook->FindBySubject(hvsim::olFolderTasks, "A"), {{"Body", "outlook A"}});
    });
    m_admin.SetClockOffset(300);
    Update("tasks", Str(a["task_id"]), {{"description", "service A"}});
    // B: the service edited first, Outlook later.
    m_admin.SetClockOffset(120);
    Update("tasks", Str(b["task_id"]), {{"description", "service B"}});
    AtOutlookTime(600, [&] {
        m_outlook->EditAndSave(m_outlook->FindBySubject(hvsim::olFolderTasks, "B"), {{"Body", "outlook B"}});
    });
    // C: both in the same second.
    m_admin.SetClockOffset(200);
    json cNew = Update("tasks", Str(c["task_id"]), {{"description", "service C"}});
    FILETIME ft;
    ASSERT_TRUE(ParseWireTime(Str(cNew["last_modified"]), 0, ft));
    SYSTEMTIME utc, local;
    ::FileTimeToSystemTime(&ft, &utc);
    ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local);
    const DATE cAt = hvsim::MakeDate(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond);
    m_outlook->SetClock([cAt] { return cAt; });
    m_outlook->EditAndSave(m_outlook->FindBySubject(hvsim::olFolderTasks, "C"), {{"Body", "outlook C"}});
    m_outlook->SetClock(nullptr);

    RunResult run = Sync();
    EXPECT_EQ(run.Count(ACTION_DONE), 3u);
    EXPECT_EQ(m_outlook->FindBySubject(hvsim::olFolderTasks, "A")->Get("Body").AsText(), "service A");
    EXPECT_EQ(Str(m_admin.Get("/admin/tasks/" + Str(b["task_id"]))["description_plain_text"]), "outlook B");
    EXPECT_EQ(m_outlook->FindBySubject(hvsim::olFolderTasks, "B")->Get("Body").AsText(), "outlook B");
    EXPECT_EQ(m_outlook->FindBySubject(hvsim::olFolderTasks, "C")->Get("Body").AsText(), "service C");
    EXPECT_EQ(Str(m_admin.Get("/admin/tasks/" + Str(c["task_id"]))["description_plain_text"]), "service C");

    long long seq = m_admin.LastSeq();
    RunResult again = Sync();
    EXPECT_TRUE(again.AllNone());
    EXPECT_TRUE(Writes(seq).empty());
    EXPECT_EQ(Tasks().size(), 3u);
    EXPECT_EQ(m_admin.Tasks(m_user).size(), 3u);
}

// A filter date has no seconds. An Outlook change made after the last run's mark, within the
// mark's minute, still reaches the next incremental run; what that minute holds from before the
// mark, as its link left it, gets no row.
TEST_F(SyncE2E, AnOutlookChangeInTheMinuteOfTheMarkReachesTheNextIncrementalRun) {
    json after = CreateTask({{"title", "After the mark"}, {"due_date", "2030-03-01"}});
    CreateTask({{"title", "Before the mark"}, {"due_date", "2030-03-02"}});
    ASSERT_EQ(Sync().Count(ACTION_DONE), 2u);

    // The last run's mark, moved to 20 s into the next whole minute; the download's mark goes
    // along, so that the Outlook side alone brings the rows.
    const DATE mark = MoveMarksIntoNextMinute(CConfig::TYPE_TASK, 20);
    auto saveAt = [&](double seconds, const char* subject, const std::string& body) {
        const DATE at = mark + seconds / 86400.0;
        m_outlook->SetClock([at] { return at; });
        m_outlook->EditAndSave(m_outlook->FindBySubject(hvsim::olFolderTasks, subject), {{"Body", body}});
        m_outlook->SetClock(nullptr);
    };
    saveAt(-15, "Before the mark",
           m_outlook->FindBySubject(hvsim::olFolderTasks, "Before the mark")->Get("Body").AsText());
    saveAt(20, "After the mark", "changed after the mark");

    RunResult run = Sync();
    ASSERT_EQ(run.actions.size(), 1u) << run.Describe();
    EXPECT_EQ(run.Count(ACTION_DONE), 1u);
    EXPECT_EQ(run.titles[0], "After the mark");
    EXPECT_EQ(run.sources[0], SOURCE_OUTLOOK);
    EXPECT_EQ(Str(m_admin.Get("/admin/tasks/" + Str(after["task_id"]))["description_plain_text"]),
              "changed after the mark");
}

TEST_F(SyncE2E, ServiceDeletionsFollowDeleteOutlookItems) {
    json keep = CreateTask({{"title", "Kept"}});
    json gone = CreateTask({{"title", "Gone"}});
    ASSERT_EQ(Sync().Count(ACTION_DONE), 2u);

    {
        CConfig config;
        config.SetDeleteOutlookItems(0);
    }
    m_admin.Send("DELETE", "/admin/tasks/" + Str(keep["task_id"]) + "?as=" + m_user, json());
    const std::string deletedAt = ServiceNow();
    // Incremental downloads include the second of the mark itself, and a change may be stamped
    // up to a second ahead: let this run end two seconds later, so that the next one does not
    // bring the tombstone back (by then the setting says to carry it into Outlook).
    WaitForServiceClockPast(deletedAt, 2);
    RunResult off = Sync();
    EXPECT_TRUE(off.AllNone()) << off.Describe();
    EXPECT_TRUE(m_outlook->FindBySubject(hvsim::olFolderTasks, "Kept"));

    {
        CConfig config;
        config.SetDeleteOutlookItems(1);
    }
    m_admin.Send("DELETE", "/admin/tasks/" + Str(gone["task_id"]) + "?as=" + m_user, json());
    RunResult on = Sync();
    size_t deletedRows = 0;
    for (size_t i = 0; i < on.actions.size(); ++i) {
        if (on.titles[i] != "Gone") continue;
        ++deletedRows;
        EXPECT_EQ(on.actions[i], ACTION_DONE);
        EXPECT_EQ(on.uiRows[i][0], "Item Deleted");
    }
    EXPECT_EQ(deletedRows, 1u) << on.Describe();
    EXPECT_FALSE(m_outlook->FindBySubject(hvsim::olFolderTasks, "Gone"));
    EXPECT_TRUE(m_outlook->FindBySubject(hvsim::olFolderDeletedItems, "Gone"));
    EXPECT_TRUE(m_outlook->FindBySubject(hvsim::olFolderTasks, "Kept"));
    EXPECT_TRUE(m_admin.Tasks(m_user).empty());

    long long seq = m_admin.LastSeq();
    EXPECT_TRUE(Sync().AllNone());
    EXPECT_TRUE(Writes(seq).empty());
    EXPECT_EQ(Tasks().size(), 1u);
}

TEST_F(SyncE2E, AServiceChangeMadeWhileARunIsBusyReachesTheNextIncrementalRun) {
    std::vector<json> busy;
    for (int i = 0; i < 60; ++i) busy.push_back(CreateTask({{"title", "Busy " + std::to_string(i)}}));
    json other = CreateTask({{"title", "Other"}});
    ASSERT_EQ(Sync().Count(ACTION_DONE), 61u);
    WaitForServiceClockPast(LastSync("Task"), 2);  // past the second in which the first run ended

    // Sixty changes keep the next run busy for a while; "Other" changes while it is.
    for (const json& t : busy) Update("tasks", Str(t["task_id"]), {{"title", Str(t["title"]) + " v2"}});
    // "Other" changes on the service while the run writes the changed tasks into Outlook: on the
    // dialog's own thread, between two rows, when Outlook's clock is read for the tenth time, so
    // the change lands mid-run however fast the rows go. The run must then end in a later second
    // than the change: that same row waits until the service's clock has moved on.
    std::string changedAt;
    int reads = 0;
    m_outlook->SetClock([&] {
        if (++reads == 10) {
            changedAt = Str(Update("tasks", Str(other["task_id"]), {{"title", "Other v2"}})["last_modified"]);
            WaitForServiceClockPast(changedAt, 1);
        }
        return hvsim::Model::CurrentTime();
    });
    RunResult busyRun = Sync();
    m_outlook->SetClock(nullptr);
    EXPECT_EQ(busyRun.Count(ACTION_DONE), 60u) << busyRun.Describe();
    ASSERT_FALSE(changedAt.empty());
    // The run ended in a later second than the change, so a download from its end would miss it.
    ASSERT_LT(changedAt, LastSync("Task"));
    EXPECT_TRUE(m_outlook->FindBySubject(hvsim::olFolderTasks, "Other"));

    RunResult next = Sync();
    EXPECT_TRUE(m_outlook->FindBySubject(hvsim::olFolderTasks, "Other v2")) << next.Describe();
    EXPECT_FALSE(m_outlook->FindBySubject(hvsim::olFolderTasks, "Other"));
    EXPECT_EQ(Tasks().size(), 61u);

    long long seq = m_admin.LastSeq();
    EXPECT_TRUE(Sync().AllNone());
    EXPECT_TRUE(Writes(seq).empty());
}

TEST_F(SyncE2E, PurgeHVTasksDeletesEveryTaskOnTheServiceOnly) {
    CreateTask({{"title", "P1"}});
    CreateTask({{"title", "P2"}});
    CreateEvent({{"title", "Stays"}, {"start_time", "2030-04-01T10:00:00"}, {"end_time", "2030-04-01T11:00:00"}});
    ASSERT_EQ(Sync().Count(ACTION_DONE), 3u);
    {
        CConfig config;
        config.SetKey("PurgeHVTasks", static_cast<DWORD>(1));
    }
    RunResult purge = Sync(0);
    size_t deleted = 0;
    for (size_t i = 0; i < purge.actions.size(); ++i)
        if (purge.uiRows[i][1] == "Task") {
            EXPECT_EQ(purge.actions[i], ACTION_DONE);
            ++deleted;
        } else {
            EXPECT_EQ(purge.actions[i], ACTION_NONE);
        }
    EXPECT_EQ(deleted, 2u);
    EXPECT_TRUE(m_admin.Tasks(m_user).empty());
    EXPECT_EQ(m_admin.Events(m_user).size(), 1u);
    EXPECT_EQ(Tasks().size(), 2u);  // Outlook keeps its items
    CConfig config;
    config.SetKey("PurgeHVTasks", static_cast<DWORD>(0));
}

TEST_F(SyncE2E, StaleAndTentativeItemsAreLeftAlone) {
    CreateTask({{"title", "Old done"}, {"completed", true}, {"due_date", DateFromToday(-60)}});
    CreateTask({{"title", "Old open"}, {"completed", false}, {"due_date", DateFromToday(-60)}});
    m_outlook->Seed(hvsim::olFolderCalendar, {{"Subject", "Maybe"},
                                              {"BusyStatus", 1L},
                                              {"Start", hvsim::DateValue(2030, 5, 1, 9, 0)},
                                              {"End", hvsim::DateValue(2030, 5, 1, 10, 0)}});
    m_outlook->Seed(hvsim::olFolderTasks,
                    {{"Subject", "Ancient"}, {"Complete", true}, {"DueDate", hvsim::DateValue(2001, 1, 1)}});
    RunResult run = Sync();
    ASSERT_EQ(run.actions.size(), 4u);
    for (size_t i = 0; i < run.titles.size(); ++i) {
        if (run.titles[i] == "Old open") {
            EXPECT_EQ(run.actions[i], ACTION_DONE);
        } else {
            EXPECT_EQ(run.actions[i], ACTION_NONE) << run.titles[i];
        }
    }
    EXPECT_FALSE(m_outlook->FindBySubject(hvsim::olFolderTasks, "Old done"));
    EXPECT_TRUE(m_outlook->FindBySubject(hvsim::olFolderTasks, "Old open"));
    EXPECT_EQ(m_admin.Tasks(m_user).size(), 2u);
    EXPECT_TRUE(m_admin.Events(m_user).empty());
    EXPECT_TRUE(RecordId(m_outlook->FindBySubject(hvsim::olFolderCalendar, "Maybe")).empty());
}

TEST_F(SyncE2E, AFaultOnOneRowFailsThatRowAndTheRunGoesOn) {
    auto broken = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Linked to nothing"}});
    hvsim::SimOutlook::SetUserProperty(*broken, "HV Record ID", "987654");
    m_outlook->GetModel().Save(broken);
    m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Fine"}});
    RunResult run = Sync();
    ASSERT_EQ(run.actions.size(), 2u);
    EXPECT_EQ(run.actions[0], ACTION_FAILED);
    EXPECT_EQ(run.actions[1], ACTION_DONE);
    EXPECT_EQ(run.status, "Synchronization is Complete");
    json tasks = m_admin.Tasks(m_user);
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(Str(tasks[0]["title"]), "Fine");
    EXPECT_FALSE(LastSync("Task").empty());
}

TEST_F(SyncE2E, AFailedDownloadStopsTheRunWithoutMarks) {
    CreateTask({{"title", "Unreached"}});
    RunResult run = Sync(1, Drive::UntilClose, "wrong-password");
    EXPECT_TRUE(run.actions.empty());
    EXPECT_NE(run.status, "Synchronization is Complete");
    EXPECT_TRUE(LastSync("Task").empty());
    EXPECT_TRUE(LastSync("Event").empty());
    EXPECT_TRUE(Tasks().empty());
}

TEST_F(SyncE2E, CancelAllEndsTheRunBeforeTheLastRowAndWritesNoMarks) {
    for (int i = 0; i < 40; ++i) CreateTask({{"title", hv::Format("Bulk %02d", i)}});
    // "Cancel All" is pressed while the second task is written into Outlook: Outlook's clock is
    // read when an item is created and when it is saved, on the dialog's own thread, so the
    // click lands at the same row however fast or slow the machine is.
    int reads = 0;
    // The click waits until the driver has seen the dialog, which a fast run could otherwise
    // close before it is ever found.
    m_outlook->SetClock([this, &reads] {
        if (++reads == 4 && WaitUntilDialogFound(20000))
            if (HWND dialog = ::FindWindowA(nullptr, "Synchronizing with Halvane"))
                ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return hvsim::Model::CurrentTime();
    });
    RunResult run = Sync(1, Drive::Collapsed);
    m_outlook->SetClock(nullptr);
    EXPECT_EQ(run.result, IDCANCEL);
    EXPECT_EQ(Tasks().size(), 2u);
    EXPECT_GT(Tasks().size(), 0u);
    EXPECT_LT(Tasks().size(), 40u);
    EXPECT_TRUE(LastSync("Task").empty());
    // The next run picks up where this one stopped, without duplicates.
    RunResult rest = Sync();
    EXPECT_EQ(Tasks().size(), 40u);
    EXPECT_EQ(m_admin.Tasks(m_user).size(), 40u);
    EXPECT_TRUE(Sync(0).AllNone());
}

TEST_F(SyncE2E, CollapsedDialogClosesItselfAndDetailsAreRemembered) {
    CreateTask({{"title", "Quiet"}});
    {
        CConfig config;
        config.SetSyncSize(1);
    }
    RunResult run = Sync(1, Drive::Collapsed);
    EXPECT_EQ(run.result, 1);
    EXPECT_FALSE(run.listVisibleAtStart);
    EXPECT_EQ(run.detailsText, "Details >>");
    EXPECT_TRUE(m_outlook->FindBySubject(hvsim::olFolderTasks, "Quiet"));
    CConfig config;
    EXPECT_EQ(config.GetSyncSize(), 1u);
    EXPECT_EQ(config.GetHashVersion(), 2u);

    config.SetSyncSize(0);
    RunResult shown = Sync();
    EXPECT_TRUE(shown.listVisibleAtStart);
    EXPECT_EQ(shown.detailsText, "<< Details");
    EXPECT_EQ(config.GetSyncSize(), 0u);
}

TEST_F(SyncE2E, RecurringSeriesIsLinkedThroughTheBlobAndSyncedBothWays) {
    // A weekly series on Monday and Thursday, from the next Monday on.
    const DATE today = static_cast<DATE>(hvsim::DayNumber(hvsim::Model::CurrentTime()));
    DATE monday = today + 1;
    while (hvsim::Weekday(monday) != 1) monday += 1;
    hvsim::Recurrence r;
    r.type = hvsim::olRecursWeekly;
    r.interval = 1;
    r.dayOfWeekMask = hvsim::olMonday | hvsim::olThursday;
    r.patternStart = monday;
    r.noEndDate = true;
    r.startTime = 10.0 / 24;
    r.duration = 1.0 / 24;
    auto series = m_outlook->SeedSeries({{"Subject", "Standup"}, {"Location", "Hall"}}, r);
    IDispatch* seriesObj = m_outlook->ItemObject(series);
    hv::com_ptr<IDispatch> pattern = simtest::CallObj(seriesObj, L"GetRecurrencePattern", {});
    ASSERT_TRUE(pattern);
    auto occurrenceAt = [&](DATE when) {
        // A fresh copy of the series each time: one from before a save is stale.
        pattern = simtest::CallObj(m_outlook->ItemObject(series), L"GetRecurrencePattern", {});
        return simtest::CallObj(pattern.get(), L"GetOccurrence", {hv::unique_variant::FromDate(when)});
    };
    auto wire = [](DATE local) {
        std::string text;
        CTimeLogic::ConvertToUTC(COleDate(local), text);
        return text.substr(0, 19);
    };
    // Two occurrences were linked earlier (say by "Add to HV"); the second one has been moved.
    const DATE first = monday + 10.0 / 24, second = monday + 3 + 10.0 / 24, third = monday + 7 + 10.0 / 24;
    const DATE moved = second + 2.0 / 24;
    json e1 = CreateEvent({{"title", "Standup"},
                           {"location", "Hall"},
                           {"start_time", wire(first)},
                           {"end_time", wire(first + 1.0 / 24)}});
    json e2 = CreateEvent({{"title", "Standup"},
                           {"location", "Hall"},
                           {"start_time", wire(moved)},
                           {"end_time", wire(moved + 1.0 / 24)}});
    auto link = [&](IDispatch* occurrence, const json& e) {
        CSyncItem rec;
        rec.m_target.m_strID = Str(e["event_id"]);
        const std::string lm = Str(e["last_modified"]);
        const std::string organizer = Str(e["organizer"]);
        const std::string ids = Str(e["assigned_to_userids"]);
        const std::string internal = Str(e["internal_use_only"]);
        ASSERT_HRESULT_SUCCEEDED(
            simtest::Put(occurrence, L"BillingInformation",
                         hv::unique_variant::FromString(rec.BuildLinkBlob(&lm, nullptr, &ids, &organizer, &internal))));
    };
    {
        hv::com_ptr<IDispatch> o1 = occurrenceAt(first);
        ASSERT_TRUE(o1);
        link(o1.get(), e1);
        ASSERT_HRESULT_SUCCEEDED(simtest::Call(o1.get(), L"Save", {}));
        hv::com_ptr<IDispatch> o2 = occurrenceAt(second);
        ASSERT_TRUE(o2);
        link(o2.get(), e2);
        simtest::Put(o2.get(), L"Start", hv::unique_variant::FromDate(moved));
        simtest::Put(o2.get(), L"End", hv::unique_variant::FromDate(moved + 1.0 / 24));
        ASSERT_HRESULT_SUCCEEDED(simtest::Call(o2.get(), L"Save", {}));
        hv::com_ptr<IDispatch> o3 = occurrenceAt(third);
        ASSERT_TRUE(o3);
        ASSERT_HRESULT_SUCCEEDED(simtest::Call(o3.get(), L"Delete", {}));
    }
    // Then the first changed on the service and the moved one in Outlook.
    m_admin.SetClockOffset(120);
    Update("events", Str(e1["event_id"]), {{"title", "Standup (service)"}});
    AtOutlookTime(900, [&] {
        for (auto& ex : series->recurrence->exceptions)
            if (ex.item && hvsim::DayNumber(ex.originalDate) == hvsim::DayNumber(second))
                m_outlook->EditAndSave(ex.item, {{"Subject", "Standup (outlook)"}});
    });

    RunResult run = Sync(0, Drive::UntilClose, std::string(), SYNC_EVENTS);
    ASSERT_EQ(run.actions.size(), 2u) << run.Describe();
    EXPECT_EQ(run.Count(ACTION_DONE), 2u) << run.Describe();
    // Service to Outlook: the first occurrence (an exception now) carries the service's title.
    bool sawService = false, sawMoved = false, sawDeleted = false;
    for (const auto& ex : series->recurrence->exceptions) {
        if (ex.deleted) {
            sawDeleted |= hvsim::DayNumber(ex.originalDate) == hvsim::DayNumber(third);
            continue;
        }
        if (!ex.item) continue;
        if (ex.item->Subject() == "Standup (service)") sawService = true;
        if (ex.item->Subject() == "Standup (outlook)" && hvsim::SameSecond(ex.item->Get("Start").AsDate(), moved))
            sawMoved = true;
    }
    EXPECT_TRUE(sawService);
    EXPECT_TRUE(sawMoved);
    EXPECT_TRUE(sawDeleted);
    // Outlook to service: the moved occurrence's title went up.
    EXPECT_EQ(Str(m_admin.Get("/admin/events/" + Str(e2["event_id"]))["title"]), "Standup (outlook)");
    EXPECT_EQ(m_admin.Events(m_user).size(), 2u);

    long long seq = m_admin.LastSeq();
    RunResult again = Sync(0, Drive::UntilClose, std::string(), SYNC_EVENTS);
    EXPECT_EQ(again.actions.size(), 2u);
    EXPECT_TRUE(again.AllNone());
    EXPECT_TRUE(Writes(seq).empty());
    EXPECT_EQ(Appts().size(), 1u);
}

}  // namespace
