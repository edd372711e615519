// The change-driven push as a user meets it: the add-in object over the simulated Outlook with
// "AutoPush" on, items added and changed in the folders and in their windows, the update dialog
// sending them to the reference service; and, with "AutoPush" off, the link check that must not
// feed on its own saves.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "TestAddress.h"
#include "TestDelivery.h"
#include "TestLocale.h"
#include "addin/ItemsEvents.h"
#include "addin/OutAddIn.h"
#include "addin/OutAddInCF.h"
#include "common/Config.h"
#include "e2e/AdminClient.h"
#include "outlook-sim/automation/UiAutomation.h"
#include "outlook-sim/src/SimOutlook.h"
#include "service/Protocol.h"
#include "service/SyncItem.h"
#include "service/TimeLogic.h"
#include "sync/DlgSynch.h"
#include "ui/DlgUpdate.h"
#include "win/ComTypes.h"
#include "win/Dispatcher.h"
#include "win/Strings.h"

using hv::office::CLSID_OutAddIn;
using hv::uiauto::Automation;
using nlohmann::json;

namespace {

std::string Address() {
    const char* a = std::getenv("HV_SERVICE_ADDRESS");
    return a && *a ? std::string(a) : hvtest::Loopback(49);
}

std::string UserProp(const hvsim::ItemData& item, const char* name) {
    const hvsim::UserProperty* p = item.FindUserProp(name);
    return p ? p->value.AsText() : std::string();
}

// A boolean written into a text user property, as Outlook shows it.
bool IsTrue(const std::string& text) {
    return text == "-1" || text == "1" || text == "True" || text == "true" || text == "Yes";
}

bool HasUserProp(const hvsim::ItemData& item, const char* name) {
    return item.FindUserProp(name) != nullptr;
}

hv::com_ptr<IDispatch> Obj(IDispatch* object, const wchar_t* name,
                           std::vector<hv::unique_variant> args = std::vector<hv::unique_variant>()) {
    hv::unique_variant v;
    std::reverse(args.begin(), args.end());
    HRESULT hr = args.empty() ? CDispatcher::GetProperty(object, name, v.put())
                              : CDispatcher::CallMethod(object, name, v.put(), static_cast<UINT>(args.size()),
                                                        reinterpret_cast<VARIANT*>(args.data()));
    EXPECT_HRESULT_SUCCEEDED(hr) << hv::ToAnsi(name);
    return hv::com_ptr<IDispatch>(v.AsDispatch());
}

void PutText(IDispatch* object, const wchar_t* name, const std::string& text) {
    hv::unique_variant v = hv::unique_variant::FromString(text);
    ASSERT_HRESULT_SUCCEEDED(CDispatcher::PutProperty(object, name, &v));
}

// A local time as the service and the add-in's marks write it (UTC, no zone letter).
std::string Wire(DATE local) {
    std::string text;
    CTimeLogic::ConvertToUTC(COleDate(local), text);
    return text.substr(0, 19);
}

void Save(IDispatch* object) {
    ASSERT_HRESULT_SUCCEEDED(CDispatcher::CallMethod(object, L"Save", nullptr, 0, nullptr));
}

class Push : public ::testing::Test {
protected:
    void SetUp() override {
        // The user's regional settings (HV_TEST_LOCALE), kept for the whole program; Outlook is
        // given the same locale in Start.
        static hvtest::RegionalSettings regional(hvtest::TestLocale());
        CConfig config;
        config.DeleteAllSettings();
        config.SetKey("Host", Address());
        config.SetKey("SSL", static_cast<DWORD>(0));
        ASSERT_EQ(S_OK, config.SetCredentials("alice", "alice-pass"));
    }
    void TearDown() override {
        if (m_addin) {
            EXPECT_EQ(S_OK, m_addin->OnBeginShutdown(nullptr));
            EXPECT_EQ(S_OK, m_addin->OnDisconnection(ext_dm_HostShutdown, nullptr));
            m_addin.reset();
        }
        m_outlook.reset();
        m_admin.Send("DELETE", "/admin/faults", json::object());
        m_admin.SetClockOffset(0);
        CConfig().DeleteAllSettings();
    }
    // Outlook with the add-in connected and started, as at start-up.
    void Start() {
        m_outlook = std::make_unique<hvsim::SimOutlook>();
        m_outlook->SetVersion(14);
        m_outlook->GetModel().locale = hvtest::TestLocale();
        hv::com_ptr<IClassFactory> factory;
        ASSERT_EQ(S_OK, COutAddInCF::GetClassObject(CLSID_OutAddIn, IID_IClassFactory, factory.put_void()));
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, __uuidof(IDTExtensibility2), m_addin.put_void()));
        ASSERT_EQ(S_OK, m_addin->OnConnection(m_outlook->Application(), ext_cm_Startup, nullptr, nullptr));
        ASSERT_EQ(S_OK, m_addin->OnStartupComplete(nullptr));
        ASSERT_NE(nullptr, Impl()->m_pTasksItemsEvents);
        ASSERT_TRUE(hvtest::ApplyDelivery(m_outlook->Delivery(), m_delivery)) << m_delivery;
        Mark();
    }
    // Waits until Outlook has delivered every event the last user action raised (at once in the
    // default delivery; later from the message loop in others).
    void Settle() { EXPECT_TRUE(hvtest::SettleEvents(*m_outlook)) << m_delivery; }
    COutAddIn* Impl() const { return static_cast<COutAddIn*>(m_addin.get()); }
    CItemsEvents& Tasks() const { return *Impl()->m_pTasksItemsEvents; }
    CItemsEvents& Calendar() const { return *Impl()->m_pCalendarItemsEvents; }
    void Mark() { m_seq = m_admin.LastSeq(); }
    // The SOAP methods since the last Mark, the login checks left out.
    std::vector<std::string> Sent() const {
        std::vector<std::string> out;
        for (const auto& m : m_admin.MethodsSince(m_seq))
            if (m != "CheckPluginVersion" && m != "GetUserPaths") out.push_back(m);
        return out;
    }
    json Task(const std::string& id) const { return m_admin.Get("/admin/tasks/" + id); }
    json Event(const std::string& id) const { return m_admin.Get("/admin/events/" + id); }
    // A task typed into the Tasks folder: the add-in sends it and links it.
    std::shared_ptr<hvsim::ItemData> NewLinkedTask(const std::string& subject) {
        const LONG runs = Tasks().m_nUpdateRuns;
        auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", subject}});
        Settle();
        EXPECT_EQ(runs + 1, Tasks().m_nUpdateRuns);
        EXPECT_FALSE(UserProp(*task, "HV Record ID").empty());
        return task;
    }
    // The user opens the item, changes a property and closes the window, saving it.
    void EditInWindow(const std::shared_ptr<hvsim::ItemData>& item, const wchar_t* name, const std::string& text) {
        IDispatch* inspector = m_outlook->OpenInspector(item);
        ASSERT_NE(nullptr, inspector);
        auto current = Obj(inspector, L"CurrentItem");
        PutText(current.get(), name, text);
        ASSERT_TRUE(m_outlook->CloseInspector(item));
        Settle();
    }

    // The user's "Synchronize" of both kinds, run to its end.
    void SyncNow() {
        hv::uiauto::RunWhileDriving([&] { Tasks().DoSynch(nullptr, nullptr); },
                                    [](Automation& ui) {
                                        HWND dialog = ui.WaitForDialog("Synchronizing with Halvane", 30000);
                                        EXPECT_TRUE(ui.WaitForClose(dialog, 90000));
                                    },
                                    120000);
    }

    std::string m_delivery = hvtest::TestDelivery();
    std::unique_ptr<hvsim::SimOutlook> m_outlook;
    hv::com_ptr<IDTExtensibility2> m_addin;
    e2e::Admin m_admin{Address()};
    long long m_seq = 0;
};

}  // namespace

// ---- "AutoPush" on --------------------------------------------------------------------------

TEST_F(Push, ANewTaskInTheTasksFolderOpensTheUpdateDialogAndArrivesLinked) {
    Start();
    auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Push: book the hall"}});
    Settle();
    EXPECT_EQ(1, Tasks().m_nUpdateRuns);
    EXPECT_EQ(IDOK, Tasks().m_nLastUpdateResult);
    EXPECT_EQ("The Halvane Task is being updated...", Tasks().m_strLastUpdateMessage);
    EXPECT_EQ(1, Tasks().m_nLastUpdatePushed);
    EXPECT_EQ((std::vector<std::string>{"CreateTask"}), Sent());
    const std::string id = UserProp(*task, "HV Record ID");
    ASSERT_FALSE(id.empty());
    EXPECT_EQ("Push: book the hall", Task(id).value("title", ""));
    EXPECT_FALSE(UserProp(*task, "HV Hash").empty());
    EXPECT_TRUE(IsTrue(UserProp(*task, "HV")));
    EXPECT_EQ("My Tasks", UserProp(*task, "HV Folder"));
    // The link written by the dialog did not come back as a change to send.
    EXPECT_EQ(1, Tasks().m_nUpdateRuns);
}

TEST_F(Push, ALinkedTaskIsSentOnlyWhenChangedInItsWindowAndOnlyWhenItsFingerprintChanged) {
    Start();
    auto task = NewLinkedTask("Push: paint the fence");
    const std::string id = UserProp(*task, "HV Record ID");
    const LONG runs = Tasks().m_nUpdateRuns;

    // Changed in the list view, no window: left to the next synchronisation.
    Mark();
    m_outlook->EditAndSave(task, {{"Subject", "Push: paint the fence (list)"}});
    Settle();
    EXPECT_EQ(runs, Tasks().m_nUpdateRuns);
    EXPECT_TRUE(Sent().empty());

    // Changed in its window: sent once, on the save that follows the window's closing.
    Mark();
    EditInWindow(task, L"Subject", "Push: paint the fence twice");
    EXPECT_EQ(runs + 1, Tasks().m_nUpdateRuns);
    EXPECT_EQ((std::vector<std::string>{"UpdateTask"}), Sent());
    EXPECT_EQ("Push: paint the fence twice", Task(id).value("title", ""));
    EXPECT_EQ(id, UserProp(*task, "HV Record ID"));

    // A field the fingerprint does not cover: nothing to send.
    Mark();
    EditInWindow(task, L"Categories", "Garden");
    EXPECT_EQ(runs + 1, Tasks().m_nUpdateRuns);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(Push, FreeAndTentativeAppointmentsAreNeverSentABusyOneIs) {
    Start();
    hvsim::SimOutlook& o = *m_outlook;
    o.Seed(hvsim::olFolderCalendar, {{"Subject", "Push: free lunch"},
                                     {"Start", hvsim::DateValue(2031, 5, 2, 12, 0)},
                                     {"End", hvsim::DateValue(2031, 5, 2, 13, 0)},
                                     {"BusyStatus", 0L}});
    Settle();
    o.Seed(hvsim::olFolderCalendar, {{"Subject", "Push: maybe"},
                                     {"Start", hvsim::DateValue(2031, 5, 3, 12, 0)},
                                     {"End", hvsim::DateValue(2031, 5, 3, 13, 0)},
                                     {"BusyStatus", 1L}});
    Settle();
    EXPECT_EQ(0, Calendar().m_nUpdateRuns);
    EXPECT_TRUE(Sent().empty());
    auto busy = o.Seed(hvsim::olFolderCalendar, {{"Subject", "Push: review"},
                                                 {"Start", hvsim::DateValue(2031, 5, 4, 9, 0)},
                                                 {"End", hvsim::DateValue(2031, 5, 4, 10, 0)}});
    Settle();
    EXPECT_EQ(1, Calendar().m_nUpdateRuns);
    EXPECT_EQ("The Halvane Event is being updated...", Calendar().m_strLastUpdateMessage);
    EXPECT_EQ((std::vector<std::string>{"CreateEvent"}), Sent());
    const std::string id = UserProp(*busy, "HV Record ID");
    ASSERT_FALSE(id.empty());
    EXPECT_EQ("Push: review", Event(id).value("title", ""));
}

TEST_F(Push, ARecurringSeriesSendsOnlyItsChangedOccurrences) {
    Start();
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    const DATE tomorrow = hvsim::MakeDate(now.wYear, now.wMonth, now.wDay) + 1;
    hvsim::Recurrence daily;
    daily.type = 0;  // daily
    daily.interval = 1;
    daily.patternStart = tomorrow;
    daily.patternEnd = tomorrow + 4;
    daily.noEndDate = false;
    daily.startTime = 9 / 24.0;
    daily.duration = 1 / 24.0;
    // A new series: none of its occurrences is linked, so nothing is sent now.
    auto series = m_outlook->SeedSeries({{"Subject", "Push: stand-up"}}, daily);
    Settle();
    EXPECT_EQ(0, Calendar().m_nUpdateRuns);
    EXPECT_TRUE(Sent().empty());

    // Added to Halvane: the run the Add dialog hands a series to sends and links every
    // occurrence.
    CSyncItem added;
    added.m_strType = "Event";
    added.m_strEntryID = series->entryId;
    CSyncContext context;
    context.pSyncItem = &added;
    hv::uiauto::RunWhileDriving([&] { Calendar().DoSynch(nullptr, &context); },
                                [](Automation& ui) {
                                    HWND dialog = ui.WaitForDialog("Synchronizing with Halvane", 30000);
                                    EXPECT_TRUE(ui.WaitForClose(dialog, 90000));
                                },
                                120000);
    const auto created = Sent();
    ASSERT_EQ(5, std::count(created.begin(), created.end(), "CreateEvent")) << ::testing::PrintToString(created);
    // Each occurrence carries its link in its blob alone: an occurrence's user properties are the
    // series', and a record id there would pair later lookups of one event with the whole series.
    EXPECT_FALSE(HasUserProp(*series, "HV Record ID"));
    EXPECT_FALSE(HasUserProp(*series, "HV Hash"));

    // Saved without a change: nothing to send.
    Mark();
    IDispatch* item = m_outlook->ItemObject(series);
    Save(item);
    Settle();
    EXPECT_EQ(0, Calendar().m_nUpdateRuns);
    EXPECT_TRUE(Sent().empty());

    // One occurrence changed: only that one is sent.
    auto pattern = Obj(item, L"GetRecurrencePattern");
    hv::unique_variant when;
    when.vt = VT_DATE;
    when.date = tomorrow + 2 + 9 / 24.0;
    std::vector<hv::unique_variant> args;
    args.push_back(std::move(when));
    auto occurrence = Obj(pattern.get(), L"GetOccurrence", std::move(args));
    ASSERT_NE(nullptr, occurrence.get());
    PutText(occurrence.get(), L"Subject", "Push: stand-up, moved to the terrace");
    Save(occurrence.get());
    Settle();
    EXPECT_EQ(1, Calendar().m_nUpdateRuns);
    EXPECT_EQ(1, Calendar().m_nLastUpdatePushed);
    EXPECT_EQ((std::vector<std::string>{"UpdateEvent"}), Sent());
    int renamed = 0;
    for (const auto& e : m_admin.Events("alice"))
        if (e.value("title", "") == "Push: stand-up, moved to the terrace") ++renamed;
    EXPECT_EQ(1, renamed);

    // Saved again unchanged: the occurrence's new link matches, nothing more is sent. The
    // occurrence's save changed the series, so the object taken before it is stale (Outlook
    // refuses a save through it): take the series afresh.
    Mark();
    Save(m_outlook->ItemObject(series));
    Settle();
    EXPECT_EQ(1, Calendar().m_nUpdateRuns);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(Push, TwoLinkedTasksInOneRunNameTaskAndAreBothMarked) {
    Start();
    auto a = NewLinkedTask("Push: pair A");
    auto b = NewLinkedTask("Push: pair B");
    // Changed where the folder sink does not see it (the add-in's sinks are off while it works).
    a->Set("Subject", hvsim::Value("Push: pair A2"));
    b->Set("Subject", hvsim::Value("Push: pair B2"));
    const std::string hashA = UserProp(*a, "HV Hash"), hashB = UserProp(*b, "HV Hash");

    CDlgUpdate dialog(TheAPI(), nullptr);
    ASSERT_NE(nullptr, TheAPI());
    std::vector<hv::unique_variant> mapi;
    mapi.push_back(hv::unique_variant::FromString("MAPI"));
    dialog.m_pNameSpace = Obj(m_outlook->Application(), L"GetNamespace", std::move(mapi));
    dialog.m_credentials.m_strUser = "alice";
    dialog.m_credentials.m_strPassword = "alice-pass";
    for (const auto& item : {a, b}) {
        auto record = std::make_unique<CSyncItem>();
        record->m_strType = "Task";
        record->m_strEntryID = item->entryId;
        record->m_target.m_strID = UserProp(*item, "HV Record ID");
        record->m_target.m_strCatID.clear();
        record->m_target.m_strSpaceID.clear();
        dialog.AddRecord(std::move(record));
    }
    Mark();
    EXPECT_EQ(IDOK, dialog.DoModal());
    EXPECT_EQ("The Halvane Task is being updated...", dialog.m_strMessage);
    EXPECT_EQ((std::vector<std::string>{"UpdateTask", "UpdateTask"}), Sent());
    ASSERT_EQ(2u, dialog.m_entries.size());
    EXPECT_EQ(1u, dialog.m_entries[0].m_fPushed);
    EXPECT_EQ(1u, dialog.m_entries[1].m_fPushed);
    EXPECT_NE(hashA, UserProp(*a, "HV Hash"));
    EXPECT_NE(hashB, UserProp(*b, "HV Hash"));
    EXPECT_EQ("Push: pair A2", Task(UserProp(*a, "HV Record ID")).value("title", ""));
    EXPECT_EQ("Push: pair B2", Task(UserProp(*b, "HV Record ID")).value("title", ""));
}

TEST_F(Push, OfflineNothingIsSentAndNoSynchronisationStarts) {
    CConfig config;
    config.SetKey("SyncQuantum", static_cast<DWORD>(5));
    config.SetKey("LastTaskSync", std::string("2001-01-01T00:00:00Z"));
    Start();
    m_outlook->SetOffline(true);
    m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Push: offline"}});
    Settle();
    EXPECT_EQ(0, Tasks().m_nUpdateRuns);
    EXPECT_TRUE(m_admin.MethodsSince(m_seq).empty());
}

TEST_F(Push, AFailedPushLeavesTheLinkAsItWasAndTheNextSynchronisationSendsIt) {
    Start();
    auto task = NewLinkedTask("Push: fragile");
    const std::string id = UserProp(*task, "HV Record ID");
    const std::string hash = UserProp(*task, "HV Hash"), modified = UserProp(*task, "HV Last Modified");
    m_admin.Send("POST", "/admin/faults", json{{"operation", "UpdateTask"}, {"fault", "soap_fault"}, {"count", 1}});

    Mark();
    std::string details;
    hv::uiauto::RunWhileDriving([&] { EditInWindow(task, L"Subject", "Push: fragile, changed"); },
                                [&](Automation& ui) {
                                    HWND error = ui.WaitForDialog("Halvane Error");
                                    details = Automation::GetText(error, 26003);
                                    Automation::Click(error, IDOK);
                                    EXPECT_TRUE(ui.WaitForClose(error));
                                });
    EXPECT_EQ("Service temporarily unavailable", details);
    EXPECT_EQ(IDCANCEL, Tasks().m_nLastUpdateResult);
    EXPECT_EQ(0, Tasks().m_nLastUpdatePushed);
    EXPECT_EQ(hash, UserProp(*task, "HV Hash"));
    EXPECT_EQ(modified, UserProp(*task, "HV Last Modified"));
    EXPECT_EQ("Push: fragile", Task(id).value("title", ""));

    Mark();
    SyncNow();
    const auto sent = Sent();
    EXPECT_EQ(1, std::count(sent.begin(), sent.end(), "UpdateTask"));
    EXPECT_EQ("Push: fragile, changed", Task(id).value("title", ""));
}

// ---- dates in the user's regional settings (HV_TEST_LOCALE) ------------------------------------

// A task and an appointment dated past the 12th go up with their dates as they are, and a later
// edit in the list is sent by the timed synchronisation it brings on. That run is incremental: it
// restricts the folder to what changed since its mark, a date Outlook reads in the user's format
// (a mark on 12 November written month first, 11/12, is 11 December to a day-first reader, and
// every change in between would be left out).
TEST_F(Push, DatesPastTheTwelfthGoUpAsTheyAreAndAListEditIsFoundByTheNextIncrementalRun) {
    const DATE marked = hvtest::AmbiguousDayBeforeToday() + 10.0 / 24;
    ASSERT_GT(marked, 1.0);
    const DATE before = marked - 1;
    Start();
    // Made in Outlook and sent the day before the mark (the service's clock set back alike), so
    // the incremental download that follows does not bring the task down again.
    m_admin.SetClockOffset(-static_cast<long long>((hvsim::Model::CurrentTime() - before) * 86400));
    m_outlook->SetClock([before] { return before; });
    auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Push: tile the porch"},
                                                       {"StartDate", hvsim::DateValue(2031, 5, 14)},
                                                       {"DueDate", hvsim::DateValue(2031, 5, 20)}});
    Settle();
    auto party = m_outlook->Seed(hvsim::olFolderCalendar, {{"Subject", "Push: porch party"},
                                                           {"Start", hvsim::DateValue(2031, 5, 20, 14, 30)},
                                                           {"End", hvsim::DateValue(2031, 5, 20, 15, 30)}});
    Settle();
    m_outlook->SetClock(nullptr);
    m_admin.SetClockOffset(0);
    ASSERT_EQ(1, Tasks().m_nUpdateRuns);
    ASSERT_EQ(1, Calendar().m_nUpdateRuns);
    const std::string id = UserProp(*task, "HV Record ID");
    ASSERT_FALSE(id.empty());
    EXPECT_EQ("2031-05-14", Task(id).value("start_date", "").substr(0, 10)) << hvtest::TestLocale();
    EXPECT_EQ("2031-05-20", Task(id).value("due_date", "").substr(0, 10)) << hvtest::TestLocale();
    const std::string eventId = UserProp(*party, "HV Record ID");
    ASSERT_FALSE(eventId.empty());
    EXPECT_EQ(Wire(hvsim::MakeDate(2031, 5, 20, 14, 30)), Event(eventId).value("start_time", "").substr(0, 19));
    EXPECT_EQ(Wire(hvsim::MakeDate(2031, 5, 20, 15, 30)), Event(eventId).value("end_time", "").substr(0, 19));

    // The last synchronisation ended at the mark; a day later the user renames the task in the
    // list, where no window sees it. The change brings on the timed synchronisation, due since
    // long, and that run is incremental: it must find the task among what changed since its mark.
    CConfig config;
    config.SetKey("SyncQuantum", static_cast<DWORD>(5));
    config.SetKey("LastTaskSync", Wire(marked) + "Z");
    config.SetKey("LastTaskDownload", Wire(marked) + "Z");
    Mark();
    m_outlook->SetClock([marked] { return marked + 1; });
    hv::uiauto::RunWhileDriving(
        [&] {
            m_outlook->EditAndSave(task, {{"Subject", "Push: tile the porch in blue"}});
            Settle();
        },
        [](Automation& ui) {
            HWND dialog = ui.WaitForDialog("Synchronizing with Halvane", 30000);
            EXPECT_TRUE(ui.WaitForClose(dialog, 90000));
        },
        120000);
    m_outlook->SetClock(nullptr);
    EXPECT_EQ(1, Tasks().m_nUpdateRuns);
    const auto sent = Sent();
    EXPECT_EQ(1, std::count(sent.begin(), sent.end(), "UpdateTask"))
        << ::testing::PrintToString(sent) << " locale " << hvtest::TestLocale();
    EXPECT_EQ("Push: tile the porch in blue", Task(id).value("title", ""));
    EXPECT_EQ("2031-05-20", Task(id).value("due_date", "").substr(0, 10));
    EXPECT_EQ(0, std::count(sent.begin(), sent.end(), "CreateTask"));
    EXPECT_EQ(0, std::count(sent.begin(), sent.end(), "CreateEvent"));
}

// ---- the same under each way Outlook may deliver its item events ------------------------------

class PushDelivery : public Push, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        Push::SetUp();
        m_delivery = GetParam();
    }
};

// However Outlook delivers its item events, a new task is sent and linked once, and an edit in
// its window is sent once; the add-in's own saves coming back as changes send nothing more.
TEST_P(PushDelivery, ANewTaskIsSentAndLinkedOnceAndAnEditInItsWindowIsSentOnce) {
    Start();
    auto task = NewLinkedTask("Push: delivered");
    EXPECT_EQ((std::vector<std::string>{"CreateTask"}), Sent());
    const std::string id = UserProp(*task, "HV Record ID");
    const int saves = task->saveCount;

    Mark();
    EditInWindow(task, L"Subject", "Push: delivered, edited");
    EXPECT_EQ((std::vector<std::string>{"UpdateTask"}), Sent());
    EXPECT_EQ("Push: delivered, edited", Task(id).value("title", ""));
    EXPECT_EQ(id, UserProp(*task, "HV Record ID"));
    // The user's save and the add-in's save of the new link: no loop of saves.
    EXPECT_EQ(saves + 2, task->saveCount);
}

// The modes that change what the add-in sees most: events after the call that raised them, and
// the window's "Close" after its save. ("twice" and "late" run in scripts/strict-matrix.)
INSTANTIATE_TEST_SUITE_P(Modes, PushDelivery, ::testing::Values("async", "close-after"));

// More than 16 items added in one go (a paste, an import) raise no "ItemAdd": the add-in sends
// none of them, and none is lost: the next synchronisation sends them all.
TEST_F(Push, SeventeenTasksPastedAtOnceAreLeftToTheNextSynchronisation) {
    Start();
    std::vector<std::string> subjects;
    for (int i = 0; i < 17; ++i) subjects.push_back("Push: pasted " + std::to_string(i));
    m_outlook->SeedMany(hvsim::olFolderTasks, subjects);
    Settle();
    EXPECT_EQ(0, Tasks().m_nUpdateRuns);
    EXPECT_TRUE(Sent().empty());

    SyncNow();
    const auto sent = Sent();
    EXPECT_EQ(17, std::count(sent.begin(), sent.end(), "CreateTask")) << ::testing::PrintToString(sent);
    for (const auto& item : m_outlook->Items(hvsim::olFolderTasks))
        EXPECT_FALSE(UserProp(*item, "HV Record ID").empty()) << item->Subject();
}

// ---- "AutoPush" off: the link check -----------------------------------------------------------

TEST_F(Push, AutoPushOffOneUserSaveMakesOneCheckAndOneSaveThatUnlinksTheItemOnce) {
    CConfig().SetAutoPush(0);
    Start();
    hvsim::SimOutlook& o = *m_outlook;
    // Delivered later, the add-in's own saves come back as changes and are checked too (and left
    // alone): the checks are counted exactly only when events come at once.
    const bool exact = m_delivery == "sync";
    auto expectChecks = [&](LONG n) {
        if (exact)
            EXPECT_EQ(n, Tasks().m_nLinkChecks);
        else
            EXPECT_GE(Tasks().m_nLinkChecks, n);
    };
    auto task = o.Seed(hvsim::olFolderTasks, {{"Subject", "Push: half linked"}});
    Settle();
    // Seeding is the first user save: one check, one save of the add-in.
    expectChecks(1);
    EXPECT_EQ(1, Tasks().m_nOwnSaves);
    EXPECT_EQ(2, task->saveCount);
    EXPECT_TRUE(HasUserProp(*task, "HV"));
    EXPECT_FALSE(IsTrue(UserProp(*task, "HV")));
    for (const char* name : {"HV Record ID", "HV Last Modified", "HV Assigned To", "HV Assigned To IDs", "HV Organizer",
                             "HV Internal Use", "HV Category ID", "HV Folder", "HV Workspace", "HV Workspace ID"}) {
        EXPECT_TRUE(HasUserProp(*task, name)) << name;
        EXPECT_EQ("", UserProp(*task, name)) << name;
    }
    EXPECT_FALSE(HasUserProp(*task, "HV Hash"));

    // A later user save of the unlinked item: checked, nothing more to write.
    o.EditAndSave(task, {{"Subject", "Push: half linked again"}});
    Settle();
    expectChecks(2);
    EXPECT_EQ(1, Tasks().m_nOwnSaves);
    EXPECT_EQ(3, task->saveCount);

    // A linked item whose fingerprint went stale is saved once per user save, not in a loop.
    hvsim::SimOutlook::SetUserProperty(*task, "HV Hash", hvsim::Value("stale"));
    o.EditAndSave(task, {{"Subject", "Push: stale"}});
    Settle();
    expectChecks(3);
    EXPECT_EQ(2, Tasks().m_nOwnSaves);
    EXPECT_EQ(5, task->saveCount);

    // A store that reports the add-in's own save later (after the sink is on again): that
    // "ItemChange" is checked, but the item is as the add-in saved it, so no second save.
    IDispatch* item = o.ItemObject(task);
    VARIANT arg;
    arg.vt = VT_DISPATCH;
    arg.pdispVal = item;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    ASSERT_EQ(S_OK, static_cast<IDispatch*>(&Tasks())->Invoke(CItemsEvents::DISPID_ITEMCHANGE, IID_NULL, 0,
                                                              DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    expectChecks(4);
    if (exact) {
        EXPECT_EQ(1, Tasks().m_nRepeatsSkipped);
    }
    EXPECT_EQ(2, Tasks().m_nOwnSaves);
    EXPECT_EQ(5, task->saveCount);
    EXPECT_TRUE(Sent().empty());
}
