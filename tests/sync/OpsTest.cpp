// Request bytes and answer handling of the task and event operations, against a recording
// responder that answers with canned SOAP.
#include "service/TestResponder.h"
#include <gtest/gtest.h>
#include "service/OpDeleteEvent.h"
#include "service/OpDeleteTask.h"
#include "service/OpGetEvent.h"
#include "service/OpGetMyEvents.h"
#include "service/OpGetMyTasks.h"
#include "service/OpGetTask.h"
#include "service/OpPushEvent.h"
#include "service/OpPushTask.h"
#include "service/ServiceTestSupport.h"
#include "service/TestResponder.h"
#include "win/Strings.h"

namespace {

const std::string kAddress = hvtest::Loopback(31);

std::string Head() {
    return CWebSvrOp::EnvelopeHead("alice", "p&ss");
}
std::string Foot() {
    return CWebSvrOp::EnvelopeFoot();
}

std::string TaskXml(const std::string& id, const std::string& extra) {
    return "<ns1:GetMyTasksReturn><ns1:task_id>" + id + "</ns1:task_id><ns1:title>Task " + id + "</ns1:title>" + extra +
           "</ns1:GetMyTasksReturn>";
}

std::string MyTasksAnswer(const std::string& records) {
    return SoapAnswer("<ns1:GetMyTasksResponse>" + records + "</ns1:GetMyTasksResponse>");
}

class Ops : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(responder.Listening());
        url = ConnectTo(kAddress.c_str());
        ASSERT_FALSE(url.empty());
        responder.Requests();
        before = responder.Requests().size();
    }
    void TearDown() override {
        Disconnect();
        ResetProductKey();
    }
    void UseSax(DWORD value) {
        CConfig config;
        config.SetKey("SAXParsing", value);
    }
    std::string LastBody() {
        auto all = responder.Requests();
        return all.empty() ? std::string() : CTestResponder::Body(all.back());
    }
    template <typename Op>
    void Credentials(Op& op) {
        op.m_strUser = "alice";
        op.m_strPassword = "p&ss";
    }
    static CTestResponder responder;
    std::string url;
    size_t before = 0;
};
CTestResponder Ops::responder(kAddress.c_str());

std::vector<std::string> Ids(const CSyncItemList& list) {
    std::vector<std::string> ids;
    for (const auto& item : list) ids.push_back(item->m_target.m_strID);
    return ids;
}

}  // namespace

TEST_F(Ops, GetMyTasksRequestAddsZToTheLastSync) {
    responder.Enqueue(200, MyTasksAnswer(""));
    OpGetMyTasks op(url);
    Credentials(op);
    op.m_strLastModified = "2012-11-08T10:00:00";
    ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ(Head() +
                  "<SOAP-ENV:Body>\n<m:GetMyTasks xmlns:m=\"urn:Halvane/API\">\n<m:option>3</m:option>\n"
                  "<m:last_modified>2012-11-08T10:00:00Z</m:last_modified>\n</m:GetMyTasks>\n</SOAP-ENV:Body>\n" +
                  Foot(),
              LastBody());
    EXPECT_TRUE(op.m_records.empty());
    EXPECT_EQ(S_OK, op.m_hResult);
}

TEST_F(Ops, GetMyEventsWithoutLastSyncAsksForAWindow) {
    responder.Enqueue(200, SoapAnswer("<ns1:GetMyEventsResponse></ns1:GetMyEventsResponse>"));
    OpGetMyEvents op(url);
    Credentials(op);
    ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
    const std::string body = LastBody();
    EXPECT_NE(std::string::npos, body.find("<m:adjust_for_dst>false</m:adjust_for_dst>\n<m:option>3</m:option>\n"));
    // Local now minus 30 days and plus 3650 days, written with a "Z".
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    FILETIME ft;
    ::SystemTimeToFileTime(&now, &ft);
    FILETIME from = FileTimeFromTime(TimeFromFileTime(ft) - 30 * 86400LL);
    FILETIME to = FileTimeFromTime(TimeFromFileTime(ft) + 3650 * 86400LL);
    EXPECT_EQ(FormatWireTimeZ(&from).substr(0, 13), op.m_strStartDate.substr(0, 13));
    EXPECT_EQ(FormatWireTimeZ(&to).substr(0, 13), op.m_strEndDate.substr(0, 13));
    EXPECT_NE(std::string::npos, body.find("<m:start_date>" + op.m_strStartDate + "</m:start_date>\n<m:end_date>" +
                                           op.m_strEndDate + "</m:end_date>\n"));
}

TEST_F(Ops, GetMyEventsWithLastSyncSendsOptionTwo) {
    responder.Enqueue(200, SoapAnswer("<ns1:GetMyEventsResponse></ns1:GetMyEventsResponse>"));
    OpGetMyEvents op(url);
    Credentials(op);
    op.m_strStartDate = "2012-11-08T10:00:00";
    ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ(
        Head() +
            "<SOAP-ENV:Body>\n<m:GetMyEvents xmlns:m=\"urn:Halvane/API\">\n<m:adjust_for_dst>false</m:adjust_for_dst>\n"
            "<m:option>2</m:option>\n<m:start_date>2012-11-08T10:00:00Z</m:start_date>\n<m:end_date></m:end_date>\n"
            "</m:GetMyEvents>\n</SOAP-ENV:Body>\n" +
            Foot(),
        LastBody());
}

TEST_F(Ops, AnswerCasesInBothParseModes) {
    const std::string records =
        TaskXml("1",
                "<ns1:priority>0</ns1:priority><ns1:due_date>2012-11-08T00:00:00</ns1:due_date>"
                "<ns1:description_plain_text>a%0Ab</ns1:description_plain_text><ns1:deleted>TRUE</ns1:deleted>"
                "<ns1:last_modified>2012-11-08T12:00:00-07:00</ns1:last_modified>") +
        TaskXml("2", "<ns1:deleted>true</ns1:deleted><ns1:unknown><ns1:title>nested</ns1:title></ns1:unknown>") +
        TaskXml("3",
                "<ns1:description_plain_text>x &amp; y &lt;z&gt;</ns1:description_plain_text>"
                "<ns1:tasklist_id>15</ns1:tasklist_id>");
    for (DWORD sax : {1u, 0u}) {
        SCOPED_TRACE(sax ? "streaming" : "document walk");
        UseSax(sax);
        responder.Enqueue(200, MyTasksAnswer(records));
        OpGetMyTasks op(url);
        Credentials(op);
        ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
        EXPECT_EQ(S_OK, op.m_hResult);
        ASSERT_EQ(3u, op.m_records.size());
        // The streaming parse hands the records over in reverse order.
        const std::vector<std::string> expected =
            sax ? std::vector<std::string>{"3", "2", "1"} : std::vector<std::string>{"1", "2", "3"};
        EXPECT_EQ(expected, Ids(op.m_records));
        const CSyncItem* first = sax ? op.m_records.back().get() : op.m_records.front().get();
        EXPECT_EQ("2", first->priority);
        EXPECT_EQ(sax ? "2012-11-08" : "2012-11-08T00:00:00", first->due_date);
        EXPECT_EQ("a\nb", first->description_plain_text);
        EXPECT_EQ(0, first->m_fDeleted);
        EXPECT_EQ("2012-11-08T19:00:00Z", first->last_modified);
        EXPECT_EQ("Task", first->m_strType);
        const CSyncItem* second = std::next(op.m_records.begin())->get();
        EXPECT_EQ(1, second->m_fDeleted);
        const CSyncItem* third = sax ? op.m_records.front().get() : op.m_records.back().get();
        EXPECT_EQ("x & y <z>", third->description_plain_text);
        EXPECT_EQ("15", third->m_target.m_strCatID);  // replaces the initial "0"
        EXPECT_EQ("0", third->m_target.m_strSpaceID);
    }
}

TEST_F(Ops, MalformedAnswerGivesTheReadersCodeAndNoRecords) {
    UseSax(1);
    responder.Enqueue(200, MyTasksAnswer(TaskXml("1", "")).substr(0, 300) + "<broken");
    OpGetMyTasks op(url);
    Credentials(op);
    EXPECT_EQ(0, op.Run(0, nullptr, 0, 0));
    EXPECT_LT(op.m_hResult, 0);
    EXPECT_TRUE(op.m_records.empty());
}

TEST_F(Ops, StreamedFaultFailsTheDownloadWithItsTexts) {
    UseSax(1);
    responder.Enqueue(500, SoapFault("SOAP-ENV:Client", "Invalid credentials"));
    OpGetMyEvents op(url);
    Credentials(op);
    EXPECT_EQ(0, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ(E_FAIL, op.m_hResult);
    EXPECT_EQ("SOAP-ENV:Client", op.m_strFaultCode);
    EXPECT_EQ("Invalid credentials", op.m_strFaultString);
    EXPECT_TRUE(op.m_records.empty());
}

TEST_F(Ops, MalformedAnswerFailsTheDocumentWalk) {
    UseSax(0);
    responder.Enqueue(200, "<broken");
    OpGetMyTasks op(url);
    Credentials(op);
    EXPECT_EQ(0, op.Run(0, nullptr, 0, 0));
    EXPECT_TRUE(op.m_records.empty());
}

TEST_F(Ops, EventsStreamIntoEventRecords) {
    UseSax(1);
    responder.Enqueue(
        200, SoapAnswer("<ns1:GetMyEventsResponse><ns1:GetMyEventsReturn><ns1:event_id>9</ns1:event_id>"
                        "<ns1:start_time>2012-11-08T10:00:00+00:00</ns1:start_time>"
                        "<ns1:end_time>2012-11-08T11:00:00+00:00</ns1:end_time><ns1:location>Here</ns1:location>"
                        "<ns1:organizer>Bob</ns1:organizer><ns1:priority>0</ns1:priority>"
                        "</ns1:GetMyEventsReturn></ns1:GetMyEventsResponse>"));
    OpGetMyEvents op(url);
    Credentials(op);
    op.m_strStartDate = "2012-01-01T00:00:00Z";
    ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
    ASSERT_EQ(1u, op.m_records.size());
    const CSyncItem& e = *op.m_records.front();
    EXPECT_EQ("Event", e.m_strType);
    EXPECT_EQ("9", e.m_target.m_strID);
    EXPECT_EQ("2012-11-08T10:00:00+00:00", e.start_time);
    EXPECT_EQ("2012-11-08T11:00:00+00:00", e.end_time);
    EXPECT_EQ("Here", e.location);
    EXPECT_EQ("Bob", e.organizer);
    EXPECT_EQ("", e.priority);  // not an event field
}

TEST_F(Ops, CreateTaskBodyAlwaysGoesToTheActivityLog) {
    responder.Enqueue(200, SoapAnswer("<ns1:CreateTaskResponse><ns1:CreateTaskReturn><ns1:task_id>77</ns1:task_id>"
                                      "<ns1:last_modified>2012-11-08T10:00:00</ns1:last_modified>"
                                      "</ns1:CreateTaskReturn></ns1:CreateTaskResponse>"));
    OpPushTask op(url);
    Credentials(op);
    op.m_target.m_strCatID = "15";
    op.m_target.m_strSpaceID = "1";
    op.m_nPriority = 3;
    op.m_fAddToActivityLog = 0;
    op.m_strTitle = "";
    op.m_strDescription = "a<b";
    op.m_strDueDate = "2012-11-08";
    op.m_assignees = {{"1", "Alice", true}, {"2", "Bob", false}};
    ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ(Head() +
                  "<SOAP-ENV:Body>\n<m:CreateTask xmlns:m=\"urn:Halvane/API\">\n<m:space_id>1</m:space_id>\n"
                  "<m:tasklist_id>15</m:tasklist_id>\n<m:is_description_html>false</m:is_description_html>\n"
                  "<m:completed>false</m:completed>\n<m:priority>3</m:priority>\n<m:send_email>false</m:send_email>\n"
                  "<m:add_to_activity_log>true</m:add_to_activity_log>\n<m:title></m:title>\n"
                  "<m:description>a&lt;b</m:description>\n<m:due_date>2012-11-08</m:due_date>\n"
                  "<m:assigned_to_userids>1,2</m:assigned_to_userids>\n</m:CreateTask>\n</SOAP-ENV:Body>\n" +
                  Foot(),
              LastBody());
    EXPECT_EQ("77", op.m_strReturnedId);
    EXPECT_EQ("2012-11-08T10:00:00Z", op.m_strReturnedLastModified);
}

TEST_F(Ops, UpdateTaskBodyCarriesTheActivityLogFlag) {
    responder.Enqueue(200, SoapAnswer("<ns1:UpdateTaskResponse><ns1:UpdateTaskReturn><ns1:task_id>77</ns1:task_id>"
                                      "</ns1:UpdateTaskReturn></ns1:UpdateTaskResponse>"));
    OpPushTask op(url);
    Credentials(op);
    op.m_target = {"77", "15", "1", "", ""};
    op.m_nPriority = 2;
    op.m_fCompleted = 1;
    op.m_fSendEmail = 1;
    op.m_fAddToActivityLog = 0;
    op.m_strTitle = "O'Brien & co";
    op.m_strDescription = "\xE9";
    op.m_strStartDate = "2012-11-01";
    ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ(Head() +
                  "<SOAP-ENV:Body>\n<m:UpdateTask xmlns:m=\"urn:Halvane/API\">\n<m:task_id>77</m:task_id>\n"
                  "<m:space_id>1</m:space_id>\n<m:tasklist_id>15</m:tasklist_id>\n"
                  "<m:is_description_html>false</m:is_description_html>\n<m:completed>true</m:completed>\n"
                  "<m:priority>2</m:priority>\n<m:send_email>true</m:send_email>\n"
                  "<m:add_to_activity_log>false</m:add_to_activity_log>\n<m:title>O&#39;Brien &amp; co</m:title>\n"
                  "<m:description>" +
                  CWebSvrOp::Escaped("\xE9") +
                  "</m:description>\n<m:start_date>2012-11-01</m:start_date>\n"
                  "<m:assigned_to_userids></m:assigned_to_userids>\n</m:UpdateTask>\n</SOAP-ENV:Body>\n" +
                  Foot(),
              LastBody());
    EXPECT_EQ("77", op.m_strReturnedId);
    EXPECT_EQ("", op.m_strReturnedLastModified);
}

TEST_F(Ops, PushWithoutTheResponsePathFails) {
    responder.Enqueue(200, SoapAnswer("<ns1:Other/>"));
    OpPushTask op(url);
    Credentials(op);
    EXPECT_EQ(0, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ("", op.m_strReturnedId);
}

TEST_F(Ops, CreateEventBodyWithEscapedTimesAndEveryone) {
    responder.Enqueue(200, SoapAnswer("<ns1:CreateEventResponse><ns1:CreateEventReturn><ns1:event_id>5</ns1:event_id>"
                                      "</ns1:CreateEventReturn></ns1:CreateEventResponse>"));
    OpPushEvent op(url);
    Credentials(op);
    op.m_target.m_strSpaceID = "1";
    op.m_strTitle = "Plan & do";
    op.m_strLocation = "";
    op.m_fLaterOccurrence = 1;
    op.m_start = COleDate::FromLocal(2012, 11, 8, 11, 0);  // Berlin, UTC+1 in November
    op.m_end = COleDate::FromLocal(4501, 1, 1);
    op.m_assignees = {{"1", "Alice", true}, {"-1", "Everyone", true}, {"2", "Bob", true}};
    ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ(
        Head() +
            "<SOAP-ENV:Body>\n<m:CreateEvent xmlns:m=\"urn:Halvane/API\">\n<m:space_id>1</m:space_id>\n"
            "<m:title>Plan &amp; do</m:title>\n<m:location></m:location>\n"
            "<m:internal_use_only>false</m:internal_use_only>\n<m:adjust_for_dst>false</m:adjust_for_dst>\n"
            "<m:is_description_html>false</m:is_description_html>\n<m:send_email>false</m:send_email>\n"
            "<m:add_to_activity_log>false</m:add_to_activity_log>\n<m:description></m:description>\n"
            "<m:start_time>2012&#45;11&#45;08T10&#58;00&#58;00&#43;00&#58;00</m:start_time><m:end_time></m:end_time>\n"
            "<m:assigned_to_userids>-1</m:assigned_to_userids>\n</m:CreateEvent>\n</SOAP-ENV:Body>\n" +
            Foot(),
        LastBody());
    EXPECT_EQ("5", op.m_strReturnedId);
}

TEST_F(Ops, UpdateEventBodyOnlySelectedMembers) {
    responder.Enqueue(200, SoapAnswer("<ns1:UpdateEventResponse><ns1:UpdateEventReturn><ns1:event_id>5</ns1:event_id>"
                                      "<ns1:last_modified>2012-11-08T10:00:00+01:00</ns1:last_modified>"
                                      "</ns1:UpdateEventReturn></ns1:UpdateEventResponse>"));
    OpPushEvent op(url);
    Credentials(op);
    op.m_target = {"5", "0", "1", "", ""};
    op.m_strTitle = "T";
    op.m_strLocation = "Room <1>";
    op.m_strOrganizer = "Bob";
    op.m_strInternalUse = "false";
    op.m_strDescription = "d";
    op.m_assignees = {{"1", "Alice", true}, {"2", "Bob", false}, {"3", "Carol", true}};
    ASSERT_EQ(1, op.Run(0, nullptr, 0, 0));
    EXPECT_EQ(Head() +
                  "<SOAP-ENV:Body>\n<m:UpdateEvent xmlns:m=\"urn:Halvane/API\">\n<m:event_id>5</m:event_id>\n"
                  "<m:space_id>1</m:space_id>\n<m:title>T</m:title>\n<m:location>Room &lt;1&gt;</m:location>\n"
                  "<m:internal_use_only>false</m:internal_use_only>\n<m:organizer>Bob</m:organizer>\n"
                  "<m:adjust_for_dst>false</m:adjust_for_dst>\n<m:is_description_html>false</m:is_description_html>\n"
                  "<m:send_email>false</m:send_email>\n<m:add_to_activity_log>true</m:add_to_activity_log>\n"
                  "<m:description>d</m:description>\n<m:start_time></m:start_time><m:end_time></m:end_time>\n"
                  "<m:assigned_to_userids>1,3</m:assigned_to_userids>\n</m:UpdateEvent>\n</SOAP-ENV:Body>\n" +
                  Foot(),
              LastBody());
    EXPECT_EQ("2012-11-08T09:00:00Z", op.m_strReturnedLastModified);
}

TEST_F(Ops, FetchAndDeleteBodies) {
    responder.Enqueue(
        200, SoapAnswer("<ns1:GetTaskResponse><ns1:GetTaskReturn><ns1:task_id>4</ns1:task_id></ns1:GetTaskReturn>"
                        "<ns1:GetTaskReturn><ns1:task_id>5</ns1:task_id></ns1:GetTaskReturn></ns1:GetTaskResponse>"));
    OpGetTask get(url);
    Credentials(get);
    get.m_strTaskID = "4";
    ASSERT_EQ(1, get.Run(0, nullptr, 0, 0));
    EXPECT_EQ(nullptr, get.m_pRecord);  // two return elements: no record
    EXPECT_EQ(Head() +
                  "<SOAP-ENV:Body>\n<m:GetTask xmlns:m=\"urn:Halvane/API\">\n<m:task_id>4</m:task_id>\n</m:GetTask>\n"
                  "</SOAP-ENV:Body>\n" +
                  Foot(),
              LastBody());

    responder.Enqueue(200, SoapAnswer("<ns1:GetEventResponse></ns1:GetEventResponse>"));
    OpGetEvent getEvent(url);
    Credentials(getEvent);
    getEvent.m_strEventID = "6";
    ASSERT_EQ(1, getEvent.Run(0, nullptr, 0, 0));
    EXPECT_EQ(nullptr, getEvent.m_pRecord);
    EXPECT_EQ(
        Head() +
            "<SOAP-ENV:Body>\n<m:GetEvent xmlns:m=\"urn:Halvane/API\">\n<m:adjust_for_dst>false</m:adjust_for_dst>\n"
            "<m:event_id>6</m:event_id>\n</m:GetEvent>\n</SOAP-ENV:Body>\n" +
            Foot(),
        LastBody());

    responder.Enqueue(200, SoapAnswer("<ns1:DeleteTaskResponse></ns1:DeleteTaskResponse>"));
    OpDeleteTask del(url);
    Credentials(del);
    del.m_strTaskID = "4";
    EXPECT_EQ(1, del.Run(0, nullptr, 0, 0));
    EXPECT_EQ(Head() +
                  "<SOAP-ENV:Body>\n<m:DeleteTask "
                  "xmlns:m=\"urn:Halvane/API\">\n<m:add_to_activity_log></m:add_to_activity_log>\n"
                  "<m:task_id>4</m:task_id>\n</m:DeleteTask>\n</SOAP-ENV:Body>\n" +
                  Foot(),
              LastBody());

    responder.Enqueue(200, SoapAnswer("<ns1:Nothing/>"));
    OpDeleteEvent delEvent(url);
    Credentials(delEvent);
    delEvent.m_strEventID = "6";
    EXPECT_EQ(0, delEvent.Run(0, nullptr, 0, 0));
    EXPECT_EQ(Head() +
                  "<SOAP-ENV:Body>\n<m:DeleteEvent "
                  "xmlns:m=\"urn:Halvane/API\">\n<m:add_to_activity_log></m:add_to_activity_log>\n"
                  "<m:event_id>6</m:event_id>\n</m:DeleteEvent>\n</SOAP-ENV:Body>\n" +
                  Foot(),
              LastBody());
}
