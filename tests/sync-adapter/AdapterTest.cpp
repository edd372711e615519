// The item adapter against simulated Outlook items, and its pushes against the reference service.
#include "AdapterFixture.h"
#include "addin/resource.h"
#include "service/OpGetEvent.h"
#include "service/OpGetTask.h"
#include "service/OpPushEvent.h"
#include "service/OpPushTask.h"
#include "sync/LinkProps.h"
#include "win/Dialog.h"

using hvsim::DateValue;
using hvsim::olFolderCalendar;
using hvsim::olFolderTasks;

namespace {

std::string UserProp(const hvsim::ItemData& item, const char* name) {
    const hvsim::UserProperty* p = item.FindUserProp(name);
    return p ? p->value.AsText() : std::string("<missing>");
}

}  // namespace

TEST_F(AdapterTest, TaskWithOutlooksEmptyDatesPushesNoStartAndNoDue) {
    auto task = m_outlook->Seed(olFolderTasks, {{"Subject", "No dates"}, {"Importance", 2L}});
    CTarget target;
    ASSERT_EQ(S_OK, m_adapter->PushTask(Obj(task), target, 0));
    auto* op = dynamic_cast<OpPushTask*>(m_adapter->Op());
    ASSERT_NE(nullptr, op);
    EXPECT_EQ("", op->m_strStartDate);
    EXPECT_EQ("", op->m_strDueDate);
    EXPECT_EQ(3, op->m_nPriority);
    EXPECT_EQ("No dates", op->m_strTitle);
    EXPECT_EQ("alice", op->m_strUser);
}

TEST_F(AdapterTest, TaskWithoutSubjectIsRefusedAndMakesNoOperation) {
    auto task = m_outlook->Seed(olFolderTasks, {{"Subject", ""}});
    m_adapter->m_strAssignedIds = "1,2";
    EXPECT_EQ(E_INVALIDARG, m_adapter->PushTask(Obj(task), CTarget(), 0));
    EXPECT_EQ(nullptr, m_adapter->Op());
    EXPECT_EQ("", m_adapter->m_strAssignedIds);
}

TEST_F(AdapterTest, UpdatePushForcesEmptyCategoryAndSpaceToZero) {
    auto task = m_outlook->Seed(olFolderTasks, {{"Subject", "Update"}, {"DueDate", DateValue(2030, 5, 1)}});
    CTarget target;
    target.m_strID = "55";
    target.m_strCatID = "";
    target.m_strSpaceID = "";
    ASSERT_EQ(S_OK, m_adapter->PushTask(Obj(task), target, 0));
    auto* op = dynamic_cast<OpPushTask*>(m_adapter->Op());
    ASSERT_NE(nullptr, op);
    EXPECT_EQ("0", op->m_target.m_strCatID);
    EXPECT_EQ("0", op->m_target.m_strSpaceID);
    EXPECT_EQ("2030-05-01", op->m_strDueDate);
}

TEST_F(AdapterTest, PostedPushPostsStepZeroToTheOwner) {
    HWND owner = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, owner);
    m_adapter->m_hOwner = owner;
    auto appt = m_outlook->Seed(
        olFolderCalendar,
        {{"Subject", "Posted"}, {"Start", DateValue(2030, 1, 2, 9)}, {"End", DateValue(2030, 1, 2, 10)}});
    ASSERT_EQ(S_OK, m_adapter->PushItem(Obj(appt), OL_CLASS_APPOINTMENT, CTarget()));
    ASSERT_NE(nullptr, dynamic_cast<OpPushEvent*>(m_adapter->Op()));
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, owner, hv::WMU_RUN_OP, hv::WMU_RUN_OP, PM_REMOVE));
    EXPECT_EQ(0u, msg.wParam);
    ::DestroyWindow(owner);
}

TEST_F(AdapterTest, ServicePriorityZeroIsNormalAndThreeIsHigh) {
    CSyncItem zero, three;
    zero.title = "Zero";
    zero.priority = "0";
    three.title = "Three";
    three.priority = "3";
    ASSERT_EQ(S_OK, m_adapter->AbsorbTask("", &zero));
    ASSERT_EQ(S_OK, m_adapter->AbsorbTask("", &three));
    EXPECT_EQ(1, m_outlook->FindBySubject(olFolderTasks, "Zero")->Get("Importance").AsLong());
    EXPECT_EQ(2, m_outlook->FindBySubject(olFolderTasks, "Three")->Get("Importance").AsLong());
}

TEST_F(AdapterTest, AbsorbedTaskCarriesItsLinkAndDates) {
    CSyncItem record;
    record.title = "Linked";
    record.priority = "1";
    record.completed = "true";
    record.due_date = "2031-03-04";
    record.start_date = "2031-03-01";
    record.last_modified = "2024-01-02T03:04:05Z";
    record.m_target.m_strID = "901";
    record.m_target.m_strCatID = "15";
    ASSERT_EQ(S_OK, m_adapter->AbsorbTask("", &record));
    auto task = m_outlook->FindBySubject(olFolderTasks, "Linked");
    ASSERT_TRUE(task);
    EXPECT_EQ(0, task->Get("Importance").AsLong());
    EXPECT_TRUE(task->Get("Complete").AsBool());
    EXPECT_EQ("2031-03-04 00:00:00", hvsim::FormatDate(task->Get("DueDate").AsDate()));
    EXPECT_EQ("2031-03-01 00:00:00", hvsim::FormatDate(task->Get("StartDate").AsDate()));
    EXPECT_EQ("901", UserProp(*task, "HV Record ID"));
    EXPECT_EQ("15", UserProp(*task, "HV Category ID"));

    // Loading it back gives the same record, marked as coming from Outlook.
    CSyncItem loaded;
    m_adapter->LoadOneItem(&loaded, Obj(task), 1);
    EXPECT_EQ("901", loaded.m_target.m_strID);
    EXPECT_EQ(task->entryId, loaded.m_strEntryID);
    EXPECT_EQ(SOURCE_OUTLOOK, loaded.m_nSource);
    EXPECT_EQ("Linked", loaded.title);
    EXPECT_EQ("1", loaded.priority);
    EXPECT_EQ(UserProp(*task, "HV Hash"), loaded.m_strHash);
    EXPECT_NE(0, loaded.m_timeOutlookModified);
}

TEST_F(AdapterTest, EventShowsOnlyTheTextAfterTheFirstEmptyLine) {
    CSyncItem record;
    record.m_strType = "Event";
    record.title = "Paragraphs";
    record.location = "Room 9";
    record.description_plain_text = "Posted by the service\n\nSecond paragraph\nand more";
    record.start_time = "2030-06-01T08:00:00Z";
    record.end_time = "2030-06-01T09:00:00Z";
    ASSERT_EQ(S_OK, m_adapter->AbsorbAppt("", &record));
    auto appt = m_outlook->FindBySubject(olFolderCalendar, "Paragraphs");
    ASSERT_TRUE(appt);
    EXPECT_EQ("Second paragraph\nand more", appt->Get("Body").AsText());
    EXPECT_EQ("Room 9", appt->Get("Location").AsText());
    std::string start;
    CTimeLogic::ConvertToUTC(COleDate(appt->Get("Start").AsDate()), start);
    EXPECT_EQ("2030-06-01T08:00:00+00:00", start);
}

TEST_F(AdapterTest, PastDueDateSwitchesTheReminderOff) {
    CSyncItem past, future;
    past.title = "Past";
    past.due_date = "2001-01-01";
    future.title = "Future";
    future.due_date = "2040-01-01";
    ASSERT_EQ(S_OK, m_adapter->AbsorbTask("", &past));
    ASSERT_EQ(S_OK, m_adapter->AbsorbTask("", &future));
    auto p = m_outlook->FindBySubject(olFolderTasks, "Past");
    auto f = m_outlook->FindBySubject(olFolderTasks, "Future");
    EXPECT_FALSE(p->Get("ReminderSet").AsBool());
    EXPECT_TRUE(p->Get("ReminderOverrideDefault").AsBool());
    EXPECT_FALSE(f->Get("ReminderOverrideDefault").AsBool());
}

TEST_F(AdapterTest, AbsorbIntoAMissingItemFailsAndDeleteNeedsAnEntryID) {
    CSyncItem record;
    record.title = "Nowhere";
    EXPECT_TRUE(FAILED(m_adapter->AbsorbTask("00000000DEADBEEF", &record)));
    EXPECT_EQ(E_FAIL, m_adapter->DeleteItem(""));
    auto task = m_outlook->Seed(olFolderTasks, {{"Subject", "Doomed"}});
    EXPECT_EQ(S_OK, m_adapter->DeleteItem(task->entryId));
    EXPECT_FALSE(m_outlook->FindBySubject(olFolderTasks, "Doomed"));
}

TEST_F(AdapterTest, ForwardWithoutMembersSendsNoMetadata) {
    auto mail = m_outlook->Seed(hvsim::olFolderInbox, {{"Subject", "Hello"}});
    ASSERT_EQ(S_OK, m_adapter->ForwardItem(Obj(mail), OL_CLASS_MAIL, "folder@example.com", "note"));
    auto sent = m_outlook->Items(hvsim::olFolderSentMail);
    ASSERT_EQ(1u, sent.size());
    EXPECT_TRUE(sent[0]->attachments.empty());
    ASSERT_EQ(1u, sent[0]->recipients.size());
    const hvsim::Recipient& to = sent[0]->recipients[0];
    EXPECT_TRUE(to.name == "folder@example.com" || to.address == "folder@example.com");
}

TEST_F(AdapterTest, ForwardWithMembersAttachesMetadataAndUsesTheClassMethod) {
    m_adapter->m_strAssignedIds = "1,2";
    m_adapter->BuildMemberList();
    ASSERT_EQ(2u, m_adapter->m_members.size());
    EXPECT_EQ(1u, m_adapter->m_members[1]->m_fChecked);
    auto appt =
        m_outlook->Seed(olFolderCalendar,
                        {{"Subject", "Meet"}, {"Start", DateValue(2030, 1, 2, 9)}, {"End", DateValue(2030, 1, 2, 10)}});
    auto task = m_outlook->Seed(olFolderTasks, {{"Subject", "Job"}});
    ASSERT_EQ(S_OK, m_adapter->ForwardItem(Obj(appt), OL_CLASS_APPOINTMENT, "cal@example.com", "a < b"));
    // Outlook has no "Forward" for a task: the call fails and no mail leaves.
    EXPECT_TRUE(FAILED(m_adapter->ForwardItem(Obj(task), OL_CLASS_TASK, "tasks@example.com", "")));
    // A contact is forwarded as a vCard; the simulator refuses the other methods for it.
    auto contact = m_outlook->Seed(hvsim::olFolderContacts, {{"FullName", "Carol"}});
    EXPECT_EQ(S_OK, m_adapter->ForwardItem(Obj(contact), OL_CLASS_CONTACT, "c@example.com", ""));

    auto sent = m_outlook->Items(hvsim::olFolderSentMail);
    ASSERT_EQ(2u, sent.size());
    const hvsim::Attachment* meta = nullptr;
    bool vcal = false;
    for (const auto& a : sent[0]->attachments) {
        if (a.displayName == "hvmeta.xml") meta = &a;
        if (a.displayName.size() > 4 && a.displayName.substr(a.displayName.size() - 4) == ".vcs") vcal = true;
    }
    EXPECT_TRUE(vcal);
    ASSERT_NE(nullptr, meta);
    EXPECT_EQ("<hv>\n<notification>\n1, 2\n</notification>\n<comments>\na &lt; b\n</comments>\n</hv>\n", meta->data);
    bool vcard = false;
    for (const auto& a : sent[1]->attachments) vcard |= a.displayName == "Carol.vcf";
    EXPECT_TRUE(vcard);
}

TEST_F(AdapterTest, OpenDefaultFolderCountsItsItems) {
    m_outlook->Seed(olFolderTasks, {{"Subject", "One"}});
    m_outlook->Seed(olFolderTasks, {{"Subject", "Two"}});
    long count = -1;
    ASSERT_EQ(S_OK, m_adapter->OpenDefaultFolder(OL_FOLDER_TASKS, &count));
    EXPECT_EQ(2, count);
    EXPECT_EQ(2, m_adapter->m_nItemCount);
    EXPECT_TRUE(m_adapter->m_pItems);
}

TEST_F(AdapterTest, PushedTaskArrivesAtTheServiceAndPullsBack) {
    auto task = m_outlook->Seed(
        olFolderTasks,
        {{"Subject", "Service task"}, {"Importance", 2L}, {"DueDate", DateValue(2030, 5, 1)}, {"Body", "details"}});
    CTarget target;
    target.m_strCatID = "15";
    target.m_strSpaceID = "1";
    ASSERT_EQ(S_OK, m_adapter->PushTask(Obj(task), target, 0));
    ASSERT_EQ(1, m_adapter->Op()->Run(0, nullptr, 0, 0)) << m_adapter->Op()->m_strFaultString;
    const std::string id = m_adapter->Op()->m_strReturnedId;
    ASSERT_FALSE(id.empty());

    ASSERT_EQ(S_OK, m_adapter->PullTask(id, 0));
    auto* get = dynamic_cast<OpGetTask*>(m_adapter->Op());
    ASSERT_NE(nullptr, get);
    ASSERT_EQ(1, get->Run(0, nullptr, 0, 0)) << get->m_strFaultString;
    ASSERT_NE(nullptr, get->m_pRecord);
    EXPECT_EQ("Service task", get->m_pRecord->title);
    EXPECT_EQ("3", get->m_pRecord->priority);
    EXPECT_EQ(0u, get->m_pRecord->due_date.rfind("2030-05-01", 0));
    EXPECT_EQ("details", get->m_pRecord->description_plain_text);

    ASSERT_EQ(S_OK, m_adapter->DeleteTask(id, 0));
    EXPECT_EQ(1, m_adapter->Op()->Run(0, nullptr, 0, 0)) << m_adapter->Op()->m_strFaultString;
}

TEST_F(AdapterTest, PushedEventArrivesAtTheService) {
    auto appt = m_outlook->Seed(olFolderCalendar, {{"Subject", "Service event"},
                                                   {"Location", "Hall"},
                                                   {"Start", DateValue(2030, 7, 1, 14)},
                                                   {"End", DateValue(2030, 7, 1, 15)}});
    CTarget target;
    target.m_strCatID = "17";
    target.m_strSpaceID = "1";
    ASSERT_EQ(S_OK, m_adapter->PushAppt(Obj(appt), target, 0, 0));
    ASSERT_EQ(1, m_adapter->Op()->Run(0, nullptr, 0, 0)) << m_adapter->Op()->m_strFaultString;
    const std::string id = m_adapter->Op()->m_strReturnedId;
    ASSERT_FALSE(id.empty());
    ASSERT_EQ(S_OK, m_adapter->PullEvent(id, 0));
    auto* get = dynamic_cast<OpGetEvent*>(m_adapter->Op());
    ASSERT_NE(nullptr, get);
    ASSERT_EQ(1, get->Run(0, nullptr, 0, 0)) << get->m_strFaultString;
    ASSERT_NE(nullptr, get->m_pRecord);
    EXPECT_EQ("Service event", get->m_pRecord->title);
    EXPECT_EQ("Hall", get->m_pRecord->location);
    std::string start;
    CTimeLogic::ConvertToUTC(COleDate(appt->Get("Start").AsDate()), start);
    FILETIME a, b;
    ASSERT_TRUE(ParseWireTime(start, 0, a));
    ASSERT_TRUE(ParseWireTime(get->m_pRecord->start_time, 0, b));
    EXPECT_EQ(TimeFromFileTime(a), TimeFromFileTime(b));
    ASSERT_EQ(S_OK, m_adapter->DeleteEvent(id, 0));
    EXPECT_EQ(1, m_adapter->Op()->Run(0, nullptr, 0, 0)) << m_adapter->Op()->m_strFaultString;
}

// A method that ran and failed is not called a second time as a property: a failing Save must
// fail once, not be retried behind the caller's back.
TEST_F(AdapterTest, AMethodThatRanAndFailedIsNotCalledAgain) {
    auto task = m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Once"}});
    const int saves = task->saveCount;
    task->failSaves = 1;
    EXPECT_TRUE(FAILED(CDispatcher::CallMethod(Obj(task), L"Save", nullptr, 0, nullptr)));
    EXPECT_EQ(0, task->failSaves);
    EXPECT_EQ(saves, task->saveCount);
    EXPECT_HRESULT_SUCCEEDED(CDispatcher::CallMethod(Obj(task), L"Save", nullptr, 0, nullptr));
    EXPECT_EQ(saves + 1, task->saveCount);
    // A member that only answers as a property still answers a method call.
    hv::unique_variant subject;
    EXPECT_HRESULT_SUCCEEDED(CDispatcher::CallMethod(Obj(task), L"Subject", subject.put(), 0, nullptr));
    EXPECT_EQ("Once", subject.AsString());
}
