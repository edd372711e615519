// Whole runs over paths that once lost or rewrote a user's data: a deleted occurrence took its
// series with it, an event body with an empty line was pushed on every run, an absorbed
// event's heading was pushed away, and a link that failed to save after a push duplicated the
// item on both sides. Each scenario ends with runs that must change nothing.
#include "e2e/SyncE2EFixture.h"

#include <algorithm>

#include "outlook-sim/SimTestUtil.h"
#include "service/TimeLogic.h"
#include "sync/Hasher.h"
#include "sync/LinkProps.h"

using nlohmann::json;

namespace {

using e2e::Drive;
using e2e::RunResult;
using e2e::Str;

constexpr double kHour = 1.0 / 24;

class DataSafetyE2E : public e2e::SyncE2E {
protected:
    // No run may write to the service or change Outlook's item count from here on.
    void ExpectNoOpRuns(long kinds, size_t tasks, size_t appts) {
        const long long seq = m_admin.LastSeq();
        RunResult full = Sync(0, Drive::UntilClose, std::string(), kinds);
        EXPECT_TRUE(full.AllNone()) << full.Describe();
        RunResult incremental = Sync(1, Drive::UntilClose, std::string(), kinds);
        EXPECT_TRUE(incremental.AllNone()) << incremental.Describe();
        EXPECT_EQ(Writes(seq), std::vector<std::string>()) << "the service was written to";
        EXPECT_EQ(Tasks().size(), tasks);
        EXPECT_EQ(Appts().size(), appts);
    }
};

// A service event linked to one occurrence of a daily series is deleted on the service: the
// run that downloads the deletion deletes that occurrence only.
TEST_F(DataSafetyE2E, DeletingAnOccurrencesEventOnTheServiceDeletesOnlyThatOccurrence) {
    hvsim::Recurrence r;
    r.type = hvsim::olRecursDaily;
    r.interval = 1;
    r.patternStart = Today() + 1;
    r.noEndDate = true;
    r.startTime = 10 * kHour;
    r.duration = kHour;
    auto series = m_outlook->SeedSeries({{"Subject", "Standup"}, {"Location", "Hall"}}, r);
    hv::com_ptr<IDispatch> pattern = simtest::CallObj(m_outlook->ItemObject(series), L"GetRecurrencePattern", {});
    ASSERT_TRUE(pattern);
    auto occurrenceAt = [&](DATE when) {
        return simtest::CallObj(pattern.get(), L"GetOccurrence", {hv::unique_variant::FromDate(when)});
    };
    const DATE linked = Today() + 3 + 10 * kHour;
    json e = CreateEvent(
        {{"title", "Standup"}, {"location", "Hall"}, {"start_time", Wire(linked)}, {"end_time", Wire(linked + kHour)}});
    const std::string id = Str(e["event_id"]);
    {
        hv::com_ptr<IDispatch> o = occurrenceAt(linked);
        ASSERT_TRUE(o);
        CSyncItem rec;
        rec.m_target.m_strID = id;
        const std::string lm = Str(e["last_modified"]), organizer = Str(e["organizer"]),
                          ids = Str(e["assigned_to_userids"]), internal = Str(e["internal_use_only"]);
        ASSERT_HRESULT_SUCCEEDED(
            simtest::Put(o.get(), L"BillingInformation",
                         hv::unique_variant::FromString(rec.BuildLinkBlob(&lm, nullptr, &ids, &organizer, &internal))));
        ASSERT_HRESULT_SUCCEEDED(simtest::Call(o.get(), L"Save", {}));
    }
    CConfig().SetDeleteOutlookItems(1);
    RunResult first = Sync(1, Drive::UntilClose, std::string(), SYNC_EVENTS);
    EXPECT_EQ(first.Count(ACTION_FAILED), 0u) << first.Describe();

    m_admin.Send("DELETE", "/admin/events/" + id + "?as=" + m_user, json());
    RunResult run = Sync(1, Drive::UntilClose, std::string(), SYNC_EVENTS);
    EXPECT_EQ(run.Count(ACTION_DONE), 1u) << run.Describe();

    // The series stays, with every other occurrence; that date is a deleted exception.
    ASSERT_EQ(Appts().size(), 1u);
    EXPECT_TRUE(m_outlook->FindBySubject(hvsim::olFolderCalendar, "Standup"));
    EXPECT_FALSE(m_outlook->FindBySubject(hvsim::olFolderDeletedItems, "Standup"));
    bool deletedException = false;
    for (const auto& ex : series->recurrence->exceptions)
        deletedException |= ex.deleted && hvsim::DayNumber(ex.originalDate) == hvsim::DayNumber(linked);
    EXPECT_TRUE(deletedException);
    EXPECT_FALSE(occurrenceAt(linked));
    EXPECT_TRUE(occurrenceAt(linked - 1));
    EXPECT_TRUE(occurrenceAt(linked + 1));

    ExpectNoOpRuns(SYNC_EVENTS, 0, 1);
    EXPECT_TRUE(occurrenceAt(linked + 1));
}

// An Outlook event whose body has an empty line goes up whole; the service then holds the whole
// text while Outlook shows it whole too, and later runs must see the pair as equal.
TEST_F(DataSafetyE2E, AnEventBodyWithAnEmptyLineIsPushedOnceOnly) {
    m_outlook->Seed(hvsim::olFolderCalendar, {{"Subject", "Planning"},
                                              {"Location", "Room 4"},
                                              {"Body", "P1\r\n\r\nP2"},
                                              {"Start", hvsim::DateValue(2031, 3, 4, 9, 0)},
                                              {"End", hvsim::DateValue(2031, 3, 4, 10, 0)}});
    RunResult first = Sync(1, Drive::UntilClose, std::string(), SYNC_EVENTS);
    ASSERT_EQ(first.Count(ACTION_DONE), 1u) << first.Describe();
    json events = m_admin.Events(m_user);
    ASSERT_EQ(events.size(), 1u);
    const std::string description = Str(events[0]["description_plain_text"]);
    EXPECT_NE(std::string::npos, description.find("P1")) << description;
    EXPECT_NE(std::string::npos, description.find("P2")) << description;

    ExpectNoOpRuns(SYNC_EVENTS, 0, 1);
    ExpectNoOpRuns(SYNC_EVENTS, 0, 1);
}

// A service event with a heading paragraph is absorbed: Outlook shows the text after the first
// empty line. Touching the item in a field outside the fingerprint must not push the shortened
// text back over the service's description.
TEST_F(DataSafetyE2E, AnAbsorbedEventKeepsItsServiceHeadingWhenTheItemIsTouched) {
    const std::string full = "Agenda from the team\n\nBring the figures";
    json e = CreateEvent({{"title", "Review"},
                          {"location", "Room 2"},
                          {"description_plain_text", full},
                          {"start_time", "2031-05-06T08:00:00"},
                          {"end_time", "2031-05-06T09:00:00"}});
    const std::string id = Str(e["event_id"]);
    RunResult first = Sync(1, Drive::UntilClose, std::string(), SYNC_EVENTS);
    ASSERT_EQ(first.Count(ACTION_DONE), 1u) << first.Describe();
    auto item = m_outlook->FindBySubject(hvsim::olFolderCalendar, "Review");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->Get("Body").AsText(), "Bring the figures");

    AtOutlookTime(600, [&] { m_outlook->EditAndSave(item, {{"ReminderMinutesBeforeStart", 30L}}); });
    RunResult touched = Sync(1, Drive::UntilClose, std::string(), SYNC_EVENTS);
    EXPECT_TRUE(touched.AllNone()) << touched.Describe();
    EXPECT_EQ(Str(m_admin.Get("/admin/events/" + id)["description_plain_text"]), full);

    ExpectNoOpRuns(SYNC_EVENTS, 0, 1);
    EXPECT_EQ(Str(m_admin.Get("/admin/events/" + id)["description_plain_text"]), full);
}

// The push of a task reaches the service, but saving the link into the Outlook item fails. The
// row fails; the next run pairs the item with the record it created instead of creating either
// of them a second time.
TEST_F(DataSafetyE2E, ALinkThatFailsToSaveAfterAPushIsCompletedByTheNextRunWithoutDuplicates) {
    auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Quarterly report"}, {"Body", "numbers"}});
    task->failSaves = 1;
    RunResult first = Sync(1, Drive::UntilClose, std::string(), SYNC_TASKS);
    ASSERT_EQ(first.actions.size(), 1u) << first.Describe();
    EXPECT_EQ(first.actions[0], ACTION_FAILED) << first.Describe();
    EXPECT_EQ(first.uiRows[0][0], "Action Failed");
    ASSERT_EQ(m_admin.Tasks(m_user).size(), 1u);
    // Outlook drops the changes of an item object released after a failed save; the simulator
    // keeps one live object per item, so its unsaved link goes here, as it would in Outlook.
    auto& props = task->userProps;
    props.erase(std::remove_if(props.begin(), props.end(),
                               [](const hvsim::UserProperty& p) { return p.name.rfind("HV", 0) == 0; }),
                props.end());
    task->dirty = false;
    ASSERT_TRUE(RecordId(task).empty());

    RunResult second = Sync(1, Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_EQ(second.Count(ACTION_FAILED), 0u) << second.Describe();
    json tasks = m_admin.Tasks(m_user);
    ASSERT_EQ(tasks.size(), 1u);
    ASSERT_EQ(Tasks().size(), 1u);
    EXPECT_EQ(RecordId(Tasks()[0]), Str(tasks[0]["task_id"]));

    ExpectNoOpRuns(SYNC_TASKS, 1, 0);
    EXPECT_EQ(m_admin.Tasks(m_user).size(), 1u);
}

// Two tasks pushed by a run whose links did not save; before the run that completes the links,
// another user changes one on the service, and the user changes the other in Outlook. Each keeps
// its later edit: completing a link must not take the service's state of now for the one the
// item was pushed against, nor the link's own save for the user's change of the item.
TEST_F(DataSafetyE2E, ALinkCompletedByALaterRunKeepsTheLaterEditOfEitherSide) {
    std::shared_ptr<hvsim::ItemData> serviceLater, outlookLater;
    AtOutlookTime(-120, [&] {
        serviceLater = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Budget"}, {"Body", "first"}});
        outlookLater = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Invoices"}, {"Body", "first"}});
    });
    serviceLater->failSaves = 1;
    outlookLater->failSaves = 1;
    RunResult first = Sync(0, Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_EQ(first.Count(ACTION_FAILED), 2u) << first.Describe();
    for (const auto& task : {serviceLater, outlookLater}) {
        // As Outlook drops an unsaved link (see above).
        auto& props = task->userProps;
        props.erase(std::remove_if(props.begin(), props.end(),
                                   [](const hvsim::UserProperty& p) { return p.name.rfind("HV", 0) == 0; }),
                    props.end());
        task->dirty = false;
    }
    json tasks = m_admin.Tasks(m_user);
    ASSERT_EQ(tasks.size(), 2u);
    std::string budget, invoices;
    for (const auto& t : tasks) (Str(t["title"]) == "Budget" ? budget : invoices) = Str(t["task_id"]);
    ASSERT_FALSE(budget.empty());
    ASSERT_FALSE(invoices.empty());

    Update("tasks", budget, json{{"description", "service"}});
    AtOutlookTime(120, [&] { m_outlook->EditAndSave(outlookLater, {{"Body", "outlook"}}); });
    RunResult second = Sync(0, Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_EQ(second.Count(ACTION_FAILED), 0u) << second.Describe();
    EXPECT_EQ(Str(m_admin.Get("/admin/tasks/" + budget)["description_plain_text"]), "service");
    EXPECT_EQ(serviceLater->Get("Body").AsText(), "service");
    EXPECT_EQ(Str(m_admin.Get("/admin/tasks/" + invoices)["description_plain_text"]), "outlook");
    EXPECT_EQ(outlookLater->Get("Body").AsText(), "outlook");
    EXPECT_EQ(RecordId(serviceLater), budget);
    EXPECT_EQ(RecordId(outlookLater), invoices);

    ExpectNoOpRuns(SYNC_TASKS, 2, 0);
    EXPECT_EQ(m_admin.Tasks(m_user).size(), 2u);
}

}  // namespace

// Another user clears a task's due date, start date and description on the service: the run
// clears them in the linked Outlook item too, and no later run pushes the old values back. A
// start date set again without a due date stays on the service.
TEST_F(DataSafetyE2E, ATaskDateOrDescriptionClearedOnTheServiceIsClearedInOutlook) {
    json t = CreateTask(
        {{"title", "Budget"}, {"description", "figures"}, {"start_date", "2030-04-01"}, {"due_date", "2030-04-10"}});
    const std::string id = Str(t["task_id"]);
    RunResult first = Sync(1, Drive::UntilClose, std::string(), SYNC_TASKS);
    ASSERT_EQ(first.Count(ACTION_DONE), 1u) << first.Describe();
    auto item = m_outlook->FindBySubject(hvsim::olFolderTasks, "Budget");
    ASSERT_TRUE(item);
    ASSERT_EQ(item->Get("Body").AsText(), "figures");

    Update("tasks", id, {{"description", ""}, {"start_date", ""}, {"due_date", ""}});
    RunResult cleared = Sync(1, Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_EQ(cleared.Count(ACTION_DONE), 1u) << cleared.Describe();
    EXPECT_EQ(item->Get("Body").AsText(), "");
    EXPECT_GE(item->Get("StartDate").AsDate(), hvsim::kNoDate - 1);
    EXPECT_GE(item->Get("DueDate").AsDate(), hvsim::kNoDate - 1);

    // A start date without a due date: Outlook, which clears the start with the due date, holds
    // it as a task due on its start date, and the service keeps its start.
    Update("tasks", id, {{"start_date", "2030-05-01"}});
    RunResult started = Sync(1, Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_EQ(started.Count(ACTION_DONE), 1u) << started.Describe();
    EXPECT_EQ(item->Get("StartDate").AsDate(), hvsim::MakeDate(2030, 5, 1));
    EXPECT_EQ(item->Get("DueDate").AsDate(), hvsim::MakeDate(2030, 5, 1));

    ExpectNoOpRuns(SYNC_TASKS, 1, 0);
    json now = m_admin.Get("/admin/tasks/" + id);
    EXPECT_EQ(Str(now["description_plain_text"]), "");
    EXPECT_EQ(Str(now["start_date"]), "2030-05-01");
    EXPECT_EQ(Str(now["due_date"]), "");
}

namespace {

// The answer to a create may be lost after the service has carried it out.
void ArmLostCreate(const e2e::Admin& admin, const std::string& user, const char* operation, const char* fault,
                   bool apply = true) {
    json rule{{"operation", operation}, {"fault", fault}, {"apply", apply}, {"user", user}};
    admin.Send("POST", "/admin/faults", rule);
}

// Titles of the user's records on the service, sorted.
std::vector<std::string> Titles(const json& records) {
    std::vector<std::string> titles;
    for (const auto& r : records) titles.push_back(Str(r["title"]));
    std::sort(titles.begin(), titles.end());
    return titles;
}

}  // namespace

// The service carries out the creates of Outlook-only items, but their answers are lost: HTTP
// 500, a SOAP fault, a malformed or cut answer (the row fails), no answer at all (the run stops
// there). Each later run pairs every such item with the record its create made instead of
// creating either a second time, also when the item is outside an incremental run's collection;
// of two equal items whose creates were sent, only one of which was carried out, one is paired
// and the other created; an item changed since its lost create is paired and its change goes up.
TEST_F(DataSafetyE2E, ACreateWhoseAnswerIsLostIsNotDuplicatedByTheNextRun) {
    const std::vector<const char*> faults = {"http_500", "soap_fault", "malformed", "truncated"};
    for (const char* fault : faults)
        m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", std::string("Budget ") + fault}, {"Body", "figures"}});
    m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Twin"}, {"Body", "same"}});
    m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Twin"}, {"Body", "same"}});
    auto changed = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Draft"}, {"Body", "first"}});
    m_outlook->Seed(hvsim::olFolderCalendar, {{"Subject", "Review"},
                                              {"Location", "Room 2"},
                                              {"Body", "Agenda\r\n\r\nFigures"},
                                              {"Start", hvsim::DateValue(2031, 3, 4, 9, 0)},
                                              {"End", hvsim::DateValue(2031, 3, 4, 10, 0)}});
    // The rules take one create each, in the order of the rows (events first).
    ArmLostCreate(m_admin, m_user, "CreateEvent", "http_500");
    for (const char* fault : faults) ArmLostCreate(m_admin, m_user, "CreateTask", fault);
    ArmLostCreate(m_admin, m_user, "CreateTask", "http_500", true);
    ArmLostCreate(m_admin, m_user, "CreateTask", "http_500", false);
    ArmLostCreate(m_admin, m_user, "CreateTask", "soap_fault", true);
    RunResult first = Sync(1);
    EXPECT_EQ(first.Count(ACTION_FAILED), faults.size() + 4) << first.Describe();
    EXPECT_EQ(Titles(m_admin.Tasks(m_user)),
              (std::vector<std::string>{"Budget http_500", "Budget malformed", "Budget soap_fault", "Budget truncated",
                                        "Draft", "Twin"}));
    ASSERT_EQ(m_admin.Events(m_user).size(), 1u);
    m_admin.Send("DELETE", "/admin/faults", json());
    AtOutlookTime(60, [&] { m_outlook->EditAndSave(changed, {{"Body", "second"}}); });

    // Incremental: only the changed item is in the collection; every other one is paired all
    // the same, except the twin whose create never reached the service.
    RunResult second = Sync(1);
    EXPECT_EQ(second.Count(ACTION_FAILED), 0u) << second.Describe();
    json events = m_admin.Events(m_user);
    ASSERT_EQ(events.size(), 1u);
    ASSERT_EQ(Appts().size(), 1u);
    EXPECT_EQ(RecordId(Appts()[0]), Str(events[0]["event_id"]));
    EXPECT_EQ(Str(events[0]["description_plain_text"]), "Agenda\n\nFigures");
    EXPECT_EQ(m_admin.Tasks(m_user).size(), faults.size() + 2);
    size_t unlinked = 0;
    for (const auto& item : Tasks()) unlinked += RecordId(item).empty();
    EXPECT_EQ(unlinked, 1u);

    // A full run pushes that twin, and its answer is lost too: the run stops.
    ArmLostCreate(m_admin, m_user, "CreateTask", "close");
    RunResult third = Sync(0, Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_EQ(m_admin.Tasks(m_user).size(), faults.size() + 3) << third.Describe();
    m_admin.Send("DELETE", "/admin/faults", json());

    RunResult fourth = Sync(0, Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_EQ(fourth.Count(ACTION_FAILED), 0u) << fourth.Describe();
    json tasks = m_admin.Tasks(m_user);
    ASSERT_EQ(tasks.size(), faults.size() + 3);
    ASSERT_EQ(Tasks().size(), faults.size() + 3);
    for (const auto& item : Tasks()) {
        const std::string id = RecordId(item), subject = item->Get("Subject").AsText();
        size_t linked = 0;
        for (const auto& t : tasks) linked += Str(t["task_id"]) == id && Str(t["title"]) == subject;
        EXPECT_EQ(linked, 1u) << subject;
    }
    std::vector<std::string> ids;
    for (const auto& item : Tasks()) ids.push_back(RecordId(item));
    std::sort(ids.begin(), ids.end());
    EXPECT_TRUE(std::adjacent_find(ids.begin(), ids.end()) == ids.end());
    for (const auto& t : tasks) {
        if (Str(t["title"]) == "Draft") {
            EXPECT_EQ(Str(t["description_plain_text"]), "second");
        }
    }

    ExpectNoOpRuns(SYNC_TASKS | SYNC_EVENTS, faults.size() + 3, 1);
}

// The fingerprints a push writes down (with the attempted create before it is sent, and with the
// link once the answer is in) are those of the item as Outlook holds it: taken from what the push
// read and sent, they must be the same as when the item is read again.
TEST_F(DataSafetyE2E, ThePushedFingerprintsAreThoseOfTheItemAsOutlookHoldsIt) {
    m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Dated"},
                                           {"Body", "Line one\r\nLine two & <more>"},
                                           {"Importance", 2L},
                                           {"StartDate", hvsim::DateValue(2031, 1, 5)},
                                           {"DueDate", hvsim::DateValue(2031, 1, 9)}});
    m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Done"}, {"Complete", true}, {"Importance", 0L}});
    m_outlook->Seed(hvsim::olFolderCalendar, {{"Subject", "Meeting"},
                                              {"Location", "Room 7"},
                                              {"Body", "Agenda"},
                                              {"Start", hvsim::DateValue(2031, 3, 4, 9, 30)},
                                              {"End", hvsim::DateValue(2031, 3, 4, 11, 0)}});
    // The item's own fingerprint, read from Outlook as a later run reads it.
    auto itemFingerprint = [&](const std::shared_ptr<hvsim::ItemData>& item, bool event) {
        CHasher hasher;
        CSyncItem record;
        record.m_strType = event ? "Event" : "Task";
        const long olClass = event ? OL_CLASS_APPOINTMENT : OL_CLASS_TASK;
        hasher.Hash(m_outlook->ItemObject(item), olClass, &record, 1, 0);
        return hasher.ContentHash(olClass, record);
    };
    // The answers of the first creates are lost: the attempts stay written down.
    ArmLostCreate(m_admin, m_user, "CreateEvent", "http_500");
    ArmLostCreate(m_admin, m_user, "CreateTask", "http_500");
    ArmLostCreate(m_admin, m_user, "CreateTask", "http_500");
    RunResult first = Sync(0);
    EXPECT_EQ(first.Count(ACTION_FAILED), 3u) << first.Describe();
    auto taskAttempts = CConfig().GetPendingCreates(CConfig::TYPE_TASK);
    auto eventAttempts = CConfig().GetPendingCreates(CConfig::TYPE_EVENT);
    ASSERT_EQ(taskAttempts.size(), 2u);
    ASSERT_EQ(eventAttempts.size(), 1u);
    for (const auto& item : Tasks())
        EXPECT_EQ(taskAttempts[item->entryId].fingerprint, itemFingerprint(item, false))
            << item->Get("Subject").AsText();
    EXPECT_EQ(eventAttempts[Appts()[0]->entryId].fingerprint, itemFingerprint(Appts()[0], true));
    m_admin.Send("DELETE", "/admin/faults", json());

    // The next run pairs the items with the records those creates made; new items are pushed.
    m_outlook->Seed(hvsim::olFolderTasks,
                    {{"Subject", "Later"}, {"Body", "notes"}, {"DueDate", hvsim::DateValue(2031, 2, 1)}});
    m_outlook->Seed(hvsim::olFolderCalendar, {{"Subject", "Later meeting"},
                                              {"Start", hvsim::DateValue(2031, 3, 5, 14, 0)},
                                              {"End", hvsim::DateValue(2031, 3, 5, 15, 0)}});
    RunResult second = Sync(0);
    EXPECT_EQ(second.Count(ACTION_FAILED), 0u) << second.Describe();
    // Every item's stored fingerprint is the one its content and link give when read again.
    const bool events[] = {false, true};
    for (const bool event : events) {
        for (const auto& item : event ? Appts() : Tasks()) {
            const hvsim::UserProperty* hash = item->FindUserProp("HV Hash");
            ASSERT_TRUE(hash) << item->Get("Subject").AsText();
            CHasher hasher;
            CSyncItem record;
            record.m_strType = event ? "Event" : "Task";
            hasher.Hash(m_outlook->ItemObject(item), event ? OL_CLASS_APPOINTMENT : OL_CLASS_TASK, &record, 1, 1);
            EXPECT_EQ(hash->value.AsText(), record.m_strHash) << item->Get("Subject").AsText();
        }
    }
    EXPECT_EQ(m_admin.Tasks(m_user).size(), 3u);
    EXPECT_EQ(m_admin.Events(m_user).size(), 2u);
    ExpectNoOpRuns(SYNC_TASKS | SYNC_EVENTS, 3, 2);
}

// Another user gives a task a start date after its due date. Outlook keeps no such task: written
// into Outlook it starts on its due date. That form is kept in Outlook, and no later run sends it
// back over the service's start date; an edit in Outlook then goes up with Outlook's dates.
TEST_F(DataSafetyE2E, AServiceTaskStartingAfterItsDueDateKeepsItsStartDateOnTheService) {
    json t = CreateTask({{"title", "Inverted"}, {"start_date", "2030-04-12"}, {"due_date", "2030-04-10"}});
    const std::string id = Str(t["task_id"]);
    ASSERT_EQ(Str(m_admin.Get("/admin/tasks/" + id)["start_date"]), "2030-04-12");
    RunResult first = Sync(1, Drive::UntilClose, std::string(), SYNC_TASKS);
    ASSERT_EQ(first.Count(ACTION_DONE), 1u) << first.Describe();
    auto item = m_outlook->FindBySubject(hvsim::olFolderTasks, "Inverted");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->Get("DueDate").AsDate(), hvsim::MakeDate(2030, 4, 10));
    EXPECT_EQ(item->Get("StartDate").AsDate(), hvsim::MakeDate(2030, 4, 10));

    // A full run downloads the record again and must see the pair as equal.
    const long long seq = m_admin.LastSeq();
    RunResult again = Sync(0, Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_TRUE(again.AllNone()) << again.Describe();
    EXPECT_EQ(Writes(seq), std::vector<std::string>()) << "the service was written to";
    json now = m_admin.Get("/admin/tasks/" + id);
    EXPECT_EQ(Str(now["start_date"]), "2030-04-12");
    EXPECT_EQ(Str(now["due_date"]), "2030-04-10");

    AtOutlookTime(60, [&] { m_outlook->EditAndSave(item, {{"Body", "moved"}}); });
    RunResult edited = Sync(0, Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_EQ(edited.Count(ACTION_DONE), 1u) << edited.Describe();
    now = m_admin.Get("/admin/tasks/" + id);
    EXPECT_EQ(Str(now["description_plain_text"]), "moved");
    EXPECT_EQ(Str(now["start_date"]), "2030-04-10");
    EXPECT_EQ(Str(now["due_date"]), "2030-04-10");
}

// An Outlook edit reaches the service, but the answer to its update is lost (HTTP 500 after the
// service carried it out), so the item keeps the link of its last good run. The next full run
// finds both sides equal; no later run may send the same values again, an incremental run whose
// filter minute holds the edit included.
TEST_F(DataSafetyE2E, AnUpdateWhoseAnswerIsLostIsNotSentAgainOnceBothSidesAreEqual) {
    auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Budget"}, {"Body", "first"}});
    ASSERT_EQ(Sync(1, Drive::UntilClose, std::string(), SYNC_TASKS).Count(ACTION_DONE), 1u);
    const std::string id = RecordId(task);
    ASSERT_FALSE(id.empty());

    // The edit is stamped 10 s into the next whole minute; the marks go to 30 s into it below.
    const DATE minute = MoveMarksIntoNextMinute(CConfig::TYPE_TASK, 0);
    const DATE edited = minute + 10 / 86400.0;
    m_outlook->SetClock([edited] { return edited; });
    m_outlook->EditAndSave(task, {{"Body", "second"}});
    m_outlook->SetClock(nullptr);
    m_admin.Send("POST", "/admin/faults",
                 json{{"operation", "UpdateTask"}, {"fault", "http_500"}, {"apply", true}, {"user", m_user}});
    RunResult lost = Sync(0, Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_EQ(lost.Count(ACTION_FAILED), 1u) << lost.Describe();
    ASSERT_EQ(Str(m_admin.Get("/admin/tasks/" + id)["description_plain_text"]), "second");
    m_admin.Send("DELETE", "/admin/faults", json());

    const long long seq = m_admin.LastSeq();
    RunResult equal = Sync(0, Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_TRUE(equal.AllNone()) << equal.Describe();
    MoveMarksIntoNextMinute(CConfig::TYPE_TASK, 30);
    RunResult incremental = Sync(1, Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_TRUE(incremental.AllNone()) << incremental.Describe();
    EXPECT_EQ(Writes(seq), std::vector<std::string>()) << "the service was written to";

    ExpectNoOpRuns(SYNC_TASKS, 1, 0);
    EXPECT_EQ(Str(m_admin.Get("/admin/tasks/" + id)["description_plain_text"]), "second");
}

namespace {

// The task download is answered with a server's error page (HTTP 500, well-formed HTML): the
// run must fail there. Taken for an empty download, it pushed the Outlook item's older edit over
// another user's later one, reported the run complete and wrote its marks.
TEST_F(DataSafetyE2E, ADownloadAnsweredWithAnErrorPageFailsTheRunAndWritesNothing) {
    auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Budget"}, {"Body", "first"}});
    ASSERT_EQ(Sync(0, Drive::UntilClose, std::string(), SYNC_TASKS).Count(ACTION_DONE), 1u);
    const std::string id = RecordId(task);
    ASSERT_FALSE(id.empty());
    std::string mark;
    ASSERT_EQ(CConfig().GetLastSync(CConfig::TYPE_TASK, mark), S_OK);
    AtOutlookTime(-3, [&] { m_outlook->EditAndSave(task, {{"Body", "outlook"}}); });
    Update("tasks", id, json{{"title", "Budget, renamed"}});

    m_admin.Send("POST", "/admin/faults",
                 json{{"operation", "GetMyTasks"}, {"fault", "http_500"}, {"apply", true}, {"user", m_user}});
    const long long seq = m_admin.LastSeq();
    RunResult failed = Sync(0, Drive::UntilClose, std::string(), SYNC_TASKS);
    m_admin.Send("DELETE", "/admin/faults", json());
    EXPECT_NE(failed.status, "Synchronization is Complete") << failed.Describe();
    EXPECT_EQ(Writes(seq), std::vector<std::string>()) << "the service was written to";
    std::string after;
    ASSERT_EQ(CConfig().GetLastSync(CConfig::TYPE_TASK, after), S_OK);
    EXPECT_EQ(after, mark) << "the failed run wrote its mark";

    // The next run decides the pair by the two edits' times: the service's is the later.
    RunResult next = Sync(0, Drive::UntilClose, std::string(), SYNC_TASKS);
    EXPECT_EQ(next.Count(ACTION_FAILED), 0u) << next.Describe();
    EXPECT_EQ(task->Subject(), "Budget, renamed");
    EXPECT_EQ(task->Get("Body").AsText(), "first");
    EXPECT_EQ(Str(m_admin.Get("/admin/tasks/" + id)["title"]), "Budget, renamed");
    EXPECT_EQ(Str(m_admin.Get("/admin/tasks/" + id)["description_plain_text"]), "first");
    ExpectNoOpRuns(SYNC_TASKS, 1, 0);
}

}  // namespace
