// The planner on its own, over the simulated Outlook: the pairing of downloaded records with
// Outlook items (the partner "Find" would answer, the row order), the decision table rule by
// rule, and the same plan whether it runs at once or in the smallest slices.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>
#include "AdapterFixture.h"
#include "common/Config.h"
#include "service/TimeLogic.h"
#include "sync/Planner.h"
#include "sync/PlannerOutlook.h"
#include "win/Dispatcher.h"
#include "win/Strings.h"

namespace {

class PlannerTest : public AdapterTest {
protected:
    void SetUp() override {
        AdapterTest::SetUp();
        m_side = std::make_unique<CPlannerOutlook>(*m_adapter);
        NewPlanner();
    }
    void TearDown() override {
        m_planner.reset();
        m_owned.clear();
        m_occurrences.clear();
        m_side.reset();
        AdapterTest::TearDown();
    }
    void NewPlanner() {
        m_planner = std::make_unique<CPlanner>(*m_side, m_owned, m_rows, m_occurrences, m_entryIds,
                                               [this](CSyncItem* r) { m_rows.push_back(r); });
        m_planner->m_fIncremental = 0;
    }
    // A downloaded service record with a row.
    CSyncItem* Service(const char* type, const std::string& id, const std::string& title) {
        auto owned = std::make_unique<CSyncItem>();
        CSyncItem* r = owned.get();
        r->m_strType = type;
        r->m_target.m_strID = id;
        r->title = title;
        r->m_nSource = 0;
        r->last_modified = "2001-01-01T00:00:00Z";
        m_owned.push_back(std::move(owned));
        m_rows.push_back(r);
        return r;
    }
    std::shared_ptr<hvsim::ItemData> Task(const std::string& subject, const std::string& recordId = std::string()) {
        auto item = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", subject}, {"Body", "Notes"}});
        if (!recordId.empty()) hvsim::SimOutlook::SetUserProperty(*item, "HV Record ID", hvsim::Value(recordId));
        return item;
    }
    // What a "Find" over the folder answers for the record id: the EntryID, or empty.
    std::string FindEntryId(long folder, const std::string& id) {
        hv::com_ptr<IDispatch> items;
        long count = 0;
        EXPECT_HRESULT_SUCCEEDED(m_side->OpenFolder(folder, items, count));
        hv::unique_variant filter = hv::unique_variant::FromString(hv::Format("[HV Record ID] = '%s'", id.c_str()));
        hv::unique_variant found;
        if (FAILED(CDispatcher::CallMethod(items.get(), L"Find", found.put(), 1, &filter)) || !found.AsDispatch())
            return std::string();
        hv::unique_variant entryId;
        EXPECT_HRESULT_SUCCEEDED(CDispatcher::GetProperty(found.AsDispatch(), L"EntryID", entryId.put()));
        return entryId.AsString();
    }
    struct Plan {
        std::vector<std::string> titles;
        std::vector<long> actions;
        std::vector<std::string> partners;  // the counterpart's EntryID, or empty
    };
    Plan Summary() const {
        Plan p;
        for (CSyncItem* r : m_rows) {
            p.titles.push_back(r->m_nSource == SOURCE_OUTLOOK ? "outlook:" + r->title : "service:" + r->title);
            p.actions.push_back(r->m_nAction);
            p.partners.push_back(r->m_pCounterpart ? r->m_pCounterpart->m_strEntryID : std::string());
        }
        return p;
    }

    std::unique_ptr<CPlannerOutlook> m_side;
    std::unique_ptr<CPlanner> m_planner;
    CSyncItemList m_owned;
    std::vector<CSyncItem*> m_rows;
    CSyncItemList m_occurrences;
    std::map<std::string, CSyncItem*> m_entryIds;
};

// A folder with linked items, an unlinked one, one whose record is gone from the service and
// two claiming the same record id: every record gets the partner "Find" answers (the first
// claimant), the other items get rows of their own in folder order.
TEST_F(PlannerTest, MixedFolderPairsAsFindDoes) {
    auto linked = Task("Linked", "101");
    auto unlinked = Task("Unlinked");
    auto gone = Task("Gone from the service", "999");
    auto first = Task("First claimant", "102");
    auto second = Task("Second claimant", "102");
    auto linked2 = Task("Linked too", "104");
    m_planner->m_nSyncKinds = SYNC_TASKS;
    CSyncItem* s101 = Service("Task", "101", "Linked on the service");
    CSyncItem* s102 = Service("Task", "102", "Claimed on the service");
    CSyncItem* s103 = Service("Task", "103", "New on the service");
    CSyncItem* s104 = Service("Task", "104", "Linked too");

    // The partners a folder scan per record would have given.
    std::map<CSyncItem*, std::string> expected;
    for (CSyncItem* s : {s101, s102, s103, s104}) expected[s] = FindEntryId(hvsim::olFolderTasks, s->m_target.m_strID);
    EXPECT_EQ(linked->entryId, expected[s101]);
    EXPECT_EQ(first->entryId, expected[s102]);
    EXPECT_EQ("", expected[s103]);

    m_planner->CorrelateAndLoad();
    m_planner->ComputeActions();

    for (CSyncItem* s : {s101, s102, s103, s104}) {
        const std::string got = s->m_pCounterpart ? s->m_pCounterpart->m_strEntryID : std::string();
        EXPECT_EQ(expected[s], got) << s->title;
        EXPECT_EQ(expected[s], s->m_strEntryID) << s->title;
    }
    const Plan plan = Summary();
    const std::vector<std::string> titles = {"service:Linked on the service",
                                             "service:Claimed on the service",
                                             "service:New on the service",
                                             "service:Linked too",
                                             "outlook:Unlinked",
                                             "outlook:Gone from the service",
                                             "outlook:Second claimant"};
    EXPECT_EQ(titles, plan.titles);
    // The service records are older than their items; the Outlook-only items were never
    // fingerprinted, so they go to the service.
    const std::vector<long> actions = {ACTION_UPDATE_SERVICE, ACTION_UPDATE_SERVICE, ACTION_UPDATE_OUTLOOK,
                                       ACTION_UPDATE_SERVICE, ACTION_UPDATE_SERVICE, ACTION_UPDATE_SERVICE,
                                       ACTION_UPDATE_SERVICE};
    EXPECT_EQ(actions, plan.actions);
    EXPECT_EQ(3u, m_entryIds.size());  // 101, 102 and 104 are paired
    EXPECT_EQ("999", m_rows[5]->m_target.m_strID);
    EXPECT_EQ("102", m_rows[6]->m_target.m_strID);
    (void)unlinked;
    (void)gone;
    (void)second;
}

// The plan made one item or row per slice is the plan made at once.
TEST_F(PlannerTest, SlicedPlanEqualsPlanAtOnce) {
    for (int k = 0; k < 12; ++k) Task(hv::Format("Item %d", k), k % 3 == 0 ? std::to_string(200 + k) : std::string());
    Task("Duplicate", "200");
    auto build = [&] {
        Service("Task", "200", "Record 200");
        Service("Task", "203", "Record 203");
        Service("Task", "250", "Record 250");
    };
    m_planner->m_nSyncKinds = SYNC_TASKS;
    build();
    m_planner->Begin(true, true);
    EXPECT_TRUE(m_planner->Step(nullptr));
    const Plan atOnce = Summary();

    m_planner.reset();
    m_owned.clear();
    m_rows.clear();
    m_entryIds.clear();
    NewPlanner();
    m_planner->m_nSyncKinds = SYNC_TASKS;
    build();
    m_planner->Begin(true, true);
    int slices = 1;
    while (!m_planner->Step([] { return true; })) ++slices;
    EXPECT_GT(slices, 20);
    const Plan sliced = Summary();
    EXPECT_EQ(atOnce.titles, sliced.titles);
    EXPECT_EQ(atOnce.actions, sliced.actions);
    EXPECT_EQ(atOnce.partners, sliced.partners);
}

// Events pair the same way; recurring appointments give no row of their own.
TEST_F(PlannerTest, EventsPairAndSeriesGetNoRow) {
    auto appt = m_outlook->Seed(hvsim::olFolderCalendar, {{"Subject", "Meeting"},
                                                          {"Start", hvsim::DateValue(2030, 5, 1, 10, 0)},
                                                          {"End", hvsim::DateValue(2030, 5, 1, 11, 0)}});
    hvsim::SimOutlook::SetUserProperty(*appt, "HV Record ID", hvsim::Value("301"));
    m_outlook->Seed(hvsim::olFolderCalendar, {{"Subject", "Lunch"},
                                              {"Start", hvsim::DateValue(2030, 5, 2, 12, 0)},
                                              {"End", hvsim::DateValue(2030, 5, 2, 13, 0)}});
    m_planner->m_nSyncKinds = SYNC_EVENTS;
    CSyncItem* s301 = Service("Event", "301", "Meeting");
    m_planner->CorrelateAndLoad();
    ASSERT_NE(nullptr, s301->m_pCounterpart);
    EXPECT_EQ(appt->entryId, s301->m_pCounterpart->m_strEntryID);
    ASSERT_EQ(2u, m_rows.size());
    EXPECT_EQ("Lunch", m_rows[1]->title);
    EXPECT_EQ(SOURCE_OUTLOOK, m_rows[1]->m_nSource);
}

// ---- the decision table, rule by rule ------------------------------------------------------------

class DecisionTableTest : public PlannerTest {
protected:
    CSyncItem* Outlook(const char* type) {
        auto r = std::make_unique<CSyncItem>();
        r->m_strType = type;
        r->m_nSource = SOURCE_OUTLOOK;
        r->title = "Outlook";
        m_owned.push_back(std::move(r));
        return m_owned.back().get();
    }
    CSyncItem* Paired(CSyncItem* service) {
        CSyncItem* o = Outlook(service->m_strType.c_str());
        o->title = service->title;
        o->m_pCounterpart = service;
        service->m_pCounterpart = o;
        return o;
    }
    long Decide(CSyncItem* r) {
        NewPlanner();
        m_planner->DecideAction(r);
        return r->m_nAction;
    }
    static HvTime WireValue(const char* text) {
        FILETIME ft;
        EXPECT_TRUE(ParseWireTime(text, 0, ft));
        return TimeFromFileTime(ft);
    }
};

TEST_F(DecisionTableTest, PurgeComesFirst) {
    CConfig().SetKey("PurgeHVTasks", static_cast<DWORD>(1));
    EXPECT_EQ(ACTION_DELETE_SERVICE, Decide(Outlook("Task")));
    EXPECT_EQ(ACTION_DELETE_SERVICE, Decide(Service("Task", "1", "t")));
    EXPECT_NE(ACTION_DELETE_SERVICE, Decide(Service("Event", "2", "e")));
}

TEST_F(DecisionTableTest, StaleAndTentativeRowsRest) {
    CConfig().SetKey("TaskStaleAfter", static_cast<DWORD>(30));
    CSyncItem* done = Service("Task", "1", "old and done");
    done->completed = "true";
    done->due_date = "2001-01-01T00:00:00Z";
    EXPECT_EQ(ACTION_NONE, Decide(done));
    CSyncItem* open = Service("Task", "2", "old and open");
    open->completed = "false";
    open->due_date = "2001-01-01T00:00:00Z";
    EXPECT_EQ(ACTION_UPDATE_OUTLOOK, Decide(open));  // rule 10: no partner
    CSyncItem* tentative = Service("Event", "3", "maybe");
    tentative->m_nBusyStatus = 1;
    EXPECT_EQ(ACTION_NONE, Decide(tentative));
}

TEST_F(DecisionTableTest, OutlookOnlyRows) {
    // Rule 4: the fingerprint is what the link stored.
    CSyncItem* unchanged = Outlook("Task");
    CSyncItem scratch(*unchanged);
    CHasher().Hash(nullptr, OL_CLASS_TASK, &scratch, 0, 1);
    unchanged->m_strHash = scratch.m_strHash;
    EXPECT_EQ(ACTION_NONE, Decide(unchanged));
    // Rule 5: written by the last run itself.
    CConfig().SetKey("LastTaskSync", "2030-01-01T10:00:00Z");
    CSyncItem* ownWrite = Outlook("Task");
    ownWrite->m_timeOutlookModified = WireValue("2030-01-01T10:00:03Z");
    EXPECT_EQ(ACTION_UPDATE_SERVICE, Decide(ownWrite));  // not incremental: the mark is not used
    NewPlanner();
    m_planner->m_fIncremental = 1;
    m_planner->DecideAction(ownWrite);
    EXPECT_EQ(ACTION_NONE, ownWrite->m_nAction);
    // Rule 6.
    CSyncItem* changed = Outlook("Task");
    changed->m_strHash = "stale";
    EXPECT_EQ(ACTION_UPDATE_SERVICE, Decide(changed));
}

TEST_F(DecisionTableTest, DeletedServiceRecords) {
    CSyncItem* alone = Service("Task", "1", "deleted, no partner");
    alone->m_fDeleted = 1;
    EXPECT_EQ(ACTION_NONE, Decide(alone));  // rule 7
    CSyncItem* paired = Service("Task", "2", "deleted, paired");
    paired->m_fDeleted = 1;
    Paired(paired);
    EXPECT_EQ(ACTION_DELETE_OUTLOOK, Decide(paired));  // rule 9
    EXPECT_EQ(ACTION_DELETE_OUTLOOK, paired->m_pCounterpart->m_nAction);
    CConfig().SetDeleteOutlookItems(0);
    EXPECT_EQ(ACTION_NONE, Decide(paired));  // rule 8
}

TEST_F(DecisionTableTest, PairedServiceRecords) {
    // Rule 11: the same fields on both sides.
    CSyncItem* same = Service("Task", "1", "Same");
    CSyncItem* sameItem = Paired(same);
    sameItem->last_modified = "2020-01-01T00:00:00Z";
    EXPECT_EQ(ACTION_NONE, Decide(same));
    // Rule 12: the service time is the one the link recorded, so only Outlook changed.
    CSyncItem* outlookChanged = Service("Task", "2", "Service title");
    CSyncItem* item2 = Paired(outlookChanged);
    item2->title = "Edited in Outlook";
    item2->last_modified = outlookChanged->last_modified;
    EXPECT_EQ(ACTION_UPDATE_SERVICE, Decide(outlookChanged));
    // Rule 13: Outlook's time is the last run's own write.
    CConfig().SetKey("LastTaskSync", "2030-01-01T10:00:00Z");
    CSyncItem* serviceChanged = Service("Task", "3", "Changed on the service");
    serviceChanged->last_modified = "2029-01-01T00:00:00Z";
    CSyncItem* item3 = Paired(serviceChanged);
    item3->title = "Old";
    item3->last_modified = "2020-01-01T00:00:00Z";
    item3->m_timeOutlookModified = WireValue("2030-01-01T10:00:02Z");
    NewPlanner();
    m_planner->m_fIncremental = 1;
    m_planner->DecideAction(serviceChanged);
    EXPECT_EQ(ACTION_UPDATE_OUTLOOK, serviceChanged->m_nAction);
    // Rule 14: a service time that does not parse.
    CSyncItem* broken = Service("Task", "4", "Broken time");
    broken->last_modified = "not a time";
    CSyncItem* item4 = Paired(broken);
    item4->title = "Other";
    EXPECT_EQ(ACTION_UPDATE_SERVICE, Decide(broken));
    // Rules 15 and 16: the later side wins; a tie goes to the service.
    CSyncItem* older = Service("Task", "5", "Older on the service");
    older->last_modified = "2020-01-01T00:00:00Z";
    CSyncItem* item5 = Paired(older);
    item5->title = "Newer in Outlook";
    item5->last_modified = "2019-01-01T00:00:00Z";
    item5->m_timeOutlookModified = WireValue("2021-01-01T00:00:00Z");
    EXPECT_EQ(ACTION_UPDATE_SERVICE, Decide(older));
    CSyncItem* tie = Service("Task", "6", "Tie on the service");
    tie->last_modified = "2021-01-01T00:00:00Z";
    CSyncItem* item6 = Paired(tie);
    item6->title = "Tie in Outlook";
    item6->last_modified = "2019-01-01T00:00:00Z";
    item6->m_timeOutlookModified = WireValue("2021-01-01T00:00:00Z");
    EXPECT_EQ(ACTION_UPDATE_OUTLOOK, Decide(tie));
}

}  // namespace
