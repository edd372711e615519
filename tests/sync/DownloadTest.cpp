// Downloads, pushes, fetches and deletes against the reference service (seed: tests/sync/seed.json).
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdlib>
#include "service/OpDeleteTask.h"
#include "service/OpGetMyEvents.h"
#include "service/OpGetMyTasks.h"
#include "service/OpGetTask.h"
#include "service/OpPushEvent.h"
#include "service/OpPushTask.h"
#include "service/ServiceTestSupport.h"

namespace {

class Service : public ::testing::Test {
protected:
    void SetUp() override {
        const char* address = getenv("HV_SERVICE_ADDRESS");
        ASSERT_NE(nullptr, address);
        url = ConnectTo(address);
        ASSERT_FALSE(url.empty());
    }
    void TearDown() override {
        Disconnect();
        ResetProductKey();
    }
    void UseSax(DWORD value) {
        CConfig config;
        config.SetKey("SAXParsing", value);
    }
    template <typename Op>
    void Alice(Op& op) {
        op.m_strUser = "alice";
        op.m_strPassword = "alice-pass";
    }
    const CSyncItem* Find(const CSyncItemList& list, const std::string& id) {
        auto it = std::find_if(list.begin(), list.end(), [&](const auto& r) { return r->m_target.m_strID == id; });
        return it == list.end() ? nullptr : it->get();
    }
    std::string url;
};

}  // namespace

TEST_F(Service, MyTasksInBothParseModes) {
    for (DWORD sax : {1u, 0u}) {
        SCOPED_TRACE(sax ? "streaming" : "document walk");
        UseSax(sax);
        OpGetMyTasks op(url);
        Alice(op);
        ASSERT_EQ(1, op.Run(0, nullptr, 0, 0)) << op.m_strFaultString;
        ASSERT_EQ(S_OK, op.m_hResult);
        ASSERT_GE(op.m_records.size(), 3u);
        const CSyncItem* first = Find(op.m_records, "101");
        ASSERT_NE(nullptr, first);
        EXPECT_EQ("Task", first->m_strType);
        EXPECT_EQ("First", first->title);
        EXPECT_EQ("2", first->priority);  // sent as 0
        EXPECT_EQ("a\nb", first->description_plain_text);
        EXPECT_EQ("2012-11-01", first->start_date);
        EXPECT_EQ("2012-11-08", first->due_date);
        EXPECT_EQ("15", first->m_target.m_strCatID);
        EXPECT_EQ("1", first->m_target.m_strSpaceID);
        EXPECT_EQ("R&D", first->m_target.m_strWorkspace);
        EXPECT_EQ("Launch <Plan>", first->m_target.m_strFolder);
        EXPECT_EQ("false", first->completed);
        EXPECT_EQ(20u, first->last_modified.size());
        EXPECT_EQ('Z', first->last_modified.back());
        EXPECT_EQ(SOURCE_SERVICE, first->m_nSource);
        const CSyncItem* second = Find(op.m_records, "102");
        ASSERT_NE(nullptr, second);
        EXPECT_EQ("3", second->priority);
        EXPECT_EQ("true", second->completed);
        EXPECT_EQ("1,2", second->assigned_to_userids);
        // Reverse answer order in the streaming parse, answer order in the walk.
        EXPECT_EQ(sax ? "101" : "103", op.m_records.back()->m_target.m_strID);
    }
}

TEST_F(Service, MyEventsInBothParseModes) {
    for (DWORD sax : {1u, 0u}) {
        SCOPED_TRACE(sax ? "streaming" : "document walk");
        UseSax(sax);
        OpGetMyEvents op(url);
        Alice(op);
        ASSERT_EQ(1, op.Run(0, nullptr, 0, 0)) << op.m_strFaultString;
        EXPECT_EQ(3, op.m_nOption);
        const CSyncItem* review = Find(op.m_records, "201");
        ASSERT_NE(nullptr, review);
        EXPECT_EQ("Event", review->m_strType);
        EXPECT_EQ("Review", review->title);
        EXPECT_EQ("Room 1", review->location);
        EXPECT_EQ("x\ny", review->description_plain_text);
        EXPECT_FALSE(review->start_time.empty());
        EXPECT_FALSE(review->end_time.empty());
        EXPECT_NE(nullptr, Find(op.m_records, "202"));
    }
}

TEST_F(Service, PushFetchAndDeleteATask) {
    OpPushTask push(url);
    Alice(push);
    push.m_target.m_strCatID = "15";
    push.m_target.m_strSpaceID = "1";
    push.m_nPriority = 1;
    push.m_strTitle = "Pushed <one>";
    push.m_strDescription = "line1\nline2";
    push.m_strDueDate = "2013-01-02";
    push.m_assignees = {{"1", "Alice Archer", true}};
    ASSERT_EQ(1, push.Run(0, nullptr, 0, 0)) << push.m_strFaultString;
    ASSERT_FALSE(push.m_strReturnedId.empty());
    EXPECT_EQ('Z', push.m_strReturnedLastModified.back());
    EXPECT_EQ("Pushed <one>", push.m_answer.title);

    OpGetTask get(url);
    Alice(get);
    get.m_strTaskID = push.m_strReturnedId;
    ASSERT_EQ(1, get.Run(0, nullptr, 0, 0));
    ASSERT_NE(nullptr, get.m_pRecord);
    EXPECT_EQ("Task", get.m_pRecord->m_strType);
    EXPECT_EQ("Pushed <one>", get.m_pRecord->title);
    EXPECT_EQ("2013-01-02", get.m_pRecord->due_date);

    OpDeleteTask del(url);
    Alice(del);
    del.m_strTaskID = push.m_strReturnedId;
    ASSERT_EQ(1, del.Run(0, nullptr, 0, 0)) << del.m_strFaultString;

    // Changed since long ago: the deleted task comes back marked.
    for (DWORD sax : {1u, 0u}) {
        UseSax(sax);
        OpGetMyTasks since(url);
        Alice(since);
        since.m_strLastModified = "2000-01-01T00:00:00";
        ASSERT_EQ(1, since.Run(0, nullptr, 0, 0));
        const CSyncItem* gone = Find(since.m_records, push.m_strReturnedId);
        ASSERT_NE(nullptr, gone);
        EXPECT_EQ(1, gone->m_fDeleted);
    }
}

TEST_F(Service, PushAnEventAndReadItsTimesBack) {
    OpPushEvent push(url);
    Alice(push);
    push.m_target.m_strSpaceID = "1";
    push.m_strTitle = "Pushed event";
    push.m_strLocation = "Hall";
    push.m_start = COleDate::FromLocal(2013, 7, 1, 10, 0);  // CEST
    push.m_end = COleDate::FromLocal(2013, 7, 1, 11, 30);
    push.m_assignees = {{"-1", "Everyone", true}};
    ASSERT_EQ(1, push.Run(0, nullptr, 0, 0)) << push.m_strFaultString;
    ASSERT_FALSE(push.m_strReturnedId.empty());
    std::string start = push.m_answer.start_time;
    NormalizeTime(start);
    EXPECT_EQ("2013-07-01T08:00:00Z", start);
}

TEST_F(Service, WrongPasswordIsAFault) {
    UseSax(0);
    OpGetMyTasks op(url);
    op.m_strUser = "alice";
    op.m_strPassword = "wrong";
    EXPECT_EQ(0, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ(E_FAIL, op.m_hResult);
    EXPECT_FALSE(op.m_strFaultString.empty());
}
