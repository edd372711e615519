// Each SOAP operation over real HTTP, with request bodies as the add-in
// writes them.
#include <gtest/gtest.h>

#include "ServiceTestSupport.h"
#include "Util.h"

using namespace hvtest;

namespace {

class SoapOps : public ::testing::Test {
protected:
    ServiceFixture svc;
    std::string xml;

    std::string CreateTask(const TaskArgs& a, const std::string& user = "alice", const std::string& pw = "a-secret") {
        EXPECT_EQ(200, svc.Soap(PushTaskBody(user, pw, a), xml)) << xml;
        return ElementText(xml, "ns1:task_id");
    }
    std::string CreateEvent(const EventArgs& a) {
        EXPECT_EQ(200, svc.Soap(PushEventBody("alice", "a-secret", a), xml)) << xml;
        return ElementText(xml, "ns1:event_id");
    }
};

TEST_F(SoapOps, CheckPluginVersionAnswersCurrentVersionAndKeepsTheReport) {
    ASSERT_EQ(200, svc.Soap(CheckPluginVersionBody("alice", "a-secret", "2.1.0.5", "Windows 10; Outlook 16.0"), xml));
    EXPECT_NE(xml.find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"), std::string::npos);
    EXPECT_NE(xml.find("<SOAP-ENV:Envelope"), std::string::npos);
    EXPECT_EQ("2.2.0.0", ElementText(xml, "ns1:current_version"));
    EXPECT_EQ(1, CountElements(xml, "ns1:CheckPluginVersionResponse"));
    EXPECT_EQ("outlook|2.1.0.5|Windows 10; Outlook 16.0", svc.Store().Setting("last_plugin_report:alice", ""));
}

TEST_F(SoapOps, WrongPasswordIsAFaultWithStatus500) {
    auto r = svc.Post(CheckPluginVersionBody("alice", "wrong", "1", "env"));
    ASSERT_TRUE(r);
    EXPECT_EQ(500, r->status);
    EXPECT_EQ("SOAP-ENV:Client", ElementText(r->body, "faultcode"));
    EXPECT_EQ("Invalid user name or password", ElementText(r->body, "faultstring"));
    EXPECT_EQ(1, CountElements(r->body, "SOAP-ENV:Fault"));
}

TEST_F(SoapOps, UnknownUserAndMissingSessionHeaderAreFaults) {
    ASSERT_EQ(500, svc.Soap(GetUserPathsBody("mallory", "x", "folder"), xml));
    EXPECT_EQ("Invalid user name or password", ElementText(xml, "faultstring"));
    const std::string noHeader =
        "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>"
        "<m:GetUserPaths xmlns:m=\"urn:Halvane/API\"><m:category_type>folder</m:category_type></m:GetUserPaths>"
        "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
    ASSERT_EQ(500, svc.Soap(noHeader, xml));
    EXPECT_NE(ElementText(xml, "faultstring").find("Authentication required"), std::string::npos);
}

TEST_F(SoapOps, PasswordWithEscapedPunctuationIsDecoded) {
    svc.Store().AddUser("o'brien&co", "p-w:d!", "O'Brien", "", "");
    ASSERT_EQ(200, svc.Soap(CheckPluginVersionBody("o'brien&co", "p-w:d!", "1", "e"), xml)) << xml;
    EXPECT_NE(Head("o'brien&co", "p-w:d!")
                  .find("<m:username>o&#39;brien&amp;co</m:username>\n<m:password>p&#45;w&#58;d&#33;</m:password>"),
              std::string::npos);
}

TEST_F(SoapOps, MalformedUnknownAndDoctypeRequestsAreFaults) {
    ASSERT_EQ(500, svc.Soap("this is not xml", xml));
    EXPECT_EQ("SOAP-ENV:Client", ElementText(xml, "faultcode"));
    EXPECT_NE(ElementText(xml, "faultstring").find("Malformed XML"), std::string::npos);

    ASSERT_EQ(500, svc.Soap("<a><b/></a>", xml));
    EXPECT_EQ("The request is not a SOAP envelope", ElementText(xml, "faultstring"));

    std::string body = GetUserPathsBody("alice", "a-secret", "folder");
    body.replace(body.find("GetUserPaths"), 12, "GetEverything");
    body.replace(body.rfind("GetUserPaths"), 12, "GetEverything");
    ASSERT_EQ(500, svc.Soap(body, xml));
    EXPECT_EQ("Unknown method GetEverything", ElementText(xml, "faultstring"));

    const std::string doctype = "<!DOCTYPE x [<!ENTITY a \"aaaa\">]>" + GetUserPathsBody("alice", "a-secret", "folder");
    ASSERT_EQ(500, svc.Soap(doctype, xml));
    EXPECT_EQ("Document type declarations are not accepted", ElementText(xml, "faultstring"));
}

TEST_F(SoapOps, GetUserPathsListsFoldersParentFirstWithDatabaseRecords) {
    ASSERT_EQ(200, svc.Soap(GetUserPathsBody("alice", "a-secret", "folder"), xml));
    ASSERT_EQ(3, CountElements(xml, "ns1:GetUserPathsReturn")) << xml;
    const auto docs = xml.find("<ns1:category_name>Alpha &gt; Docs</ns1:category_name>");
    const auto sub = xml.find("<ns1:category_name>Alpha &gt; Docs &gt; 2009</ns1:category_name>");
    ASSERT_NE(docs, std::string::npos);
    ASSERT_NE(sub, std::string::npos);
    EXPECT_LT(docs, sub);
    EXPECT_NE(xml.find("<ns1:category_id>15</ns1:category_id><ns1:db_guid>guid-15</ns1:db_guid>"), std::string::npos);
    EXPECT_EQ("1", ElementText(xml, "ns1:space_id"));
}

TEST_F(SoapOps, GetUserPathsForTasksListsTaskListsOfMyWorkspacesOnly) {
    ASSERT_EQ(200, svc.Soap(GetUserPathsBody("alice", "a-secret", "task"), xml));
    EXPECT_EQ(2, CountElements(xml, "ns1:GetUserPathsReturn"));
    EXPECT_NE(xml.find("Alpha &gt; Todo"), std::string::npos);
    EXPECT_NE(xml.find("Beta &gt; Plans"), std::string::npos);
    ASSERT_EQ(200, svc.Soap(GetUserPathsBody("bob", "b-secret", "task"), xml));
    EXPECT_EQ(1, CountElements(xml, "ns1:GetUserPathsReturn"));
    ASSERT_EQ(200, svc.Soap(GetUserPathsBody("carol", "c-secret", "task"), xml));
    EXPECT_EQ(0, CountElements(xml, "ns1:GetUserPathsReturn"));
    EXPECT_EQ(1, CountElements(xml, "ns1:GetUserPathsResponse"));
    ASSERT_EQ(500, svc.Soap(GetUserPathsBody("alice", "a-secret", "widgets"), xml));
}

TEST_F(SoapOps, GetWorkspaceMemberListAnswersMembersAndRefusesOutsiders) {
    ASSERT_EQ(200, svc.Soap(GetWorkspaceMemberListBody("alice", "a-secret", "1"), xml));
    EXPECT_EQ(2, CountElements(xml, "ns1:GetWorkspaceMemberListReturn"));
    EXPECT_EQ("1", ElementText(xml, "ns1:user_id"));
    EXPECT_EQ("alice", ElementText(xml, "ns1:username"));
    EXPECT_EQ("alice@example.com", ElementText(xml, "ns1:email"));
    EXPECT_EQ("Alice Archer", ElementText(xml, "ns1:full_name"));
    EXPECT_EQ("1", ElementText(xml, "ns1:phone"));
    ASSERT_EQ(500, svc.Soap(GetWorkspaceMemberListBody("carol", "c-secret", "1"), xml));
    EXPECT_EQ("You are not a member of workspace 1", ElementText(xml, "faultstring"));
    ASSERT_EQ(500, svc.Soap(GetWorkspaceMemberListBody("alice", "a-secret", "99"), xml));
    EXPECT_EQ("Unknown workspace 99", ElementText(xml, "faultstring"));
    ASSERT_EQ(500, svc.Soap(GetWorkspaceMemberListBody("alice", "a-secret", "x1"), xml));
}

TEST_F(SoapOps, GetCategoryAnswersOneReturnWithMailAddresses) {
    ASSERT_EQ(200, svc.Soap(GetCategoryBody("bob", "b-secret", "1", "11"), xml));
    EXPECT_EQ(1, CountElements(xml, "ns1:GetCategoryReturn"));
    EXPECT_EQ("11", ElementText(xml, "ns1:category_id"));
    EXPECT_EQ("Docs", ElementText(xml, "ns1:category_name"));
    EXPECT_EQ("docs@alpha.example", ElementText(xml, "ns1:email_primary"));
    EXPECT_EQ("false", ElementText(xml, "ns1:internal_use_only"));
    EXPECT_EQ("", ElementText(xml, "ns1:milestone_id"));
    ASSERT_EQ(500, svc.Soap(GetCategoryBody("bob", "b-secret", "2", "11"), xml));
    ASSERT_EQ(500, svc.Soap(GetCategoryBody("carol", "c-secret", "1", "11"), xml));
}

TEST_F(SoapOps, CreateTaskDecodesEscapedTextAndAnswersTheStoredTask) {
    TaskArgs a;
    a.space = "1";
    a.tasklist = "13";
    a.priority = 3;
    a.title = "O'Brien: call \xE9milie (a&b) <soon>";
    a.description = "line one\r\nline two\tcost $5 \x80";
    a.start = "2012-11-01";
    a.due = "2012-11-08";
    a.assignees = "1,2";
    const std::string id = CreateTask(a);
    ASSERT_NE("<missing>", id);
    EXPECT_EQ(1, CountElements(xml, "ns1:CreateTaskReturn"));
    EXPECT_EQ("O'Brien: call \xC3\xA9milie (a&b) <soon>", ElementText(xml, "ns1:title"));
    EXPECT_EQ("line one\nline two\tcost $5 \xE2\x82\xAC", ElementText(xml, "ns1:description_plain_text"));
    EXPECT_EQ("3", ElementText(xml, "ns1:priority"));
    EXPECT_EQ("false", ElementText(xml, "ns1:completed"));
    EXPECT_EQ("2012-11-01", ElementText(xml, "ns1:start_date"));
    EXPECT_EQ("2012-11-08", ElementText(xml, "ns1:due_date"));
    EXPECT_EQ("1,2", ElementText(xml, "ns1:assigned_to_userids"));
    EXPECT_EQ("Alice Archer, Bob Baker", ElementText(xml, "ns1:assigned_to"));
    EXPECT_EQ("13", ElementText(xml, "ns1:tasklist_id"));
    EXPECT_EQ("Alpha", ElementText(xml, "ns1:space_name"));
    EXPECT_EQ("Todo", ElementText(xml, "ns1:category_name"));
    EXPECT_EQ("1", ElementText(xml, "ns1:created_by"));
    EXPECT_EQ("false", ElementText(xml, "ns1:deleted"));
    const std::string lm = ElementText(xml, "ns1:last_modified");
    int64_t t;
    ASSERT_TRUE(hvsvc::ParseTime(lm, t)) << lm;
    EXPECT_EQ(hvsvc::FormatTimeZ(t), lm);

    // Bob is an assignee and sees the same task.
    ASSERT_EQ(200, svc.Soap(GetTaskBody("bob", "b-secret", id), xml));
    EXPECT_EQ(1, CountElements(xml, "ns1:GetTaskReturn"));
    EXPECT_EQ("O'Brien: call \xC3\xA9milie (a&b) <soon>", ElementText(xml, "ns1:title"));
}

TEST_F(SoapOps, EmptyTitleAndNoDatesArePersonalTaskOfTheCreator) {
    TaskArgs a;
    const std::string id = CreateTask(a);
    EXPECT_EQ("", ElementText(xml, "ns1:title"));
    EXPECT_EQ("", ElementText(xml, "ns1:start_date"));
    EXPECT_EQ("0", ElementText(xml, "ns1:space_id"));
    ASSERT_EQ(500, svc.Soap(GetTaskBody("bob", "b-secret", id), xml));
    EXPECT_EQ("Access denied to task " + id, ElementText(xml, "faultstring"));
}

TEST_F(SoapOps, UpdateTaskMovesLastModifiedAndKeepsCreation) {
    TaskArgs a;
    a.title = "first";
    a.id = CreateTask(a);
    const std::string created = ElementText(xml, "ns1:created");
    const std::string lm1 = ElementText(xml, "ns1:last_modified");
    a.title = "second";
    a.completed = true;
    a.addToLog = false;
    ASSERT_EQ(200, svc.Soap(PushTaskBody("alice", "a-secret", a), xml)) << xml;
    EXPECT_EQ(1, CountElements(xml, "ns1:UpdateTaskReturn"));
    EXPECT_EQ(a.id, ElementText(xml, "ns1:task_id"));
    EXPECT_EQ("second", ElementText(xml, "ns1:title"));
    EXPECT_EQ("true", ElementText(xml, "ns1:completed"));
    EXPECT_EQ(created, ElementText(xml, "ns1:created"));
    EXPECT_GT(ElementText(xml, "ns1:last_modified"), lm1);  // even within the same second
    auto acts = svc.Store().Activities();
    ASSERT_EQ(2u, acts.size());
    EXPECT_EQ("updated", acts[1].action);
    EXPECT_EQ("false", acts[1].add_to_activity_log);
}

TEST_F(SoapOps, UpdateOrDeleteOfUnknownTaskIsAFault) {
    TaskArgs a;
    a.id = "4242";
    a.title = "x";
    ASSERT_EQ(500, svc.Soap(PushTaskBody("alice", "a-secret", a), xml));
    EXPECT_EQ("Unknown task_id 4242", ElementText(xml, "faultstring"));
    ASSERT_EQ(500, svc.Soap(DeleteTaskBody("alice", "a-secret", "4242"), xml));
    ASSERT_EQ(500, svc.Soap(DeleteEventBody("alice", "a-secret", "4242"), xml));
    ASSERT_EQ(500, svc.Soap(GetEventBody("alice", "a-secret", "4242"), xml));
    EXPECT_EQ("Unknown event_id 4242", ElementText(xml, "faultstring"));
}

TEST_F(SoapOps, DeletedTaskBecomesATombstoneInIncrementalDownloads) {
    TaskArgs a;
    a.title = "doomed";
    const std::string id = CreateTask(a);
    hvsvc::SetClockOffset(100);
    ASSERT_EQ(200, svc.Soap(GetMyTasksBody("alice", "a-secret", 3, ""), xml));
    EXPECT_EQ(1, CountElements(xml, "ns1:GetMyTasksReturn"));
    const std::string mark = hvsvc::FormatTimeZ(hvsvc::Now());
    hvsvc::SetClockOffset(200);
    ASSERT_EQ(200, svc.Soap(DeleteTaskBody("alice", "a-secret", id), xml)) << xml;
    EXPECT_EQ(1, CountElements(xml, "ns1:DeleteTaskResponse"));
    EXPECT_EQ(1, CountElements(xml, "ns1:DeleteTaskReturn"));
    // Full download: gone. Changes since the mark: the tombstone.
    ASSERT_EQ(200, svc.Soap(GetMyTasksBody("alice", "a-secret", 3, ""), xml));
    EXPECT_EQ(0, CountElements(xml, "ns1:GetMyTasksReturn"));
    ASSERT_EQ(200, svc.Soap(GetMyTasksBody("alice", "a-secret", 3, mark), xml));
    ASSERT_EQ(1, CountElements(xml, "ns1:GetMyTasksReturn"));
    EXPECT_EQ("true", ElementText(xml, "ns1:deleted"));
    EXPECT_EQ("doomed", ElementText(xml, "ns1:title"));
    // The deleted task can still be fetched, and deleting again changes nothing.
    ASSERT_EQ(200, svc.Soap(GetTaskBody("alice", "a-secret", id), xml));
    EXPECT_EQ("true", ElementText(xml, "ns1:deleted"));
    ASSERT_EQ(200, svc.Soap(DeleteTaskBody("alice", "a-secret", id), xml));
    a.id = id;
    ASSERT_EQ(500, svc.Soap(PushTaskBody("alice", "a-secret", a), xml));
    EXPECT_EQ("Task " + id + " has been deleted", ElementText(xml, "faultstring"));
    hvsvc::SetClockOffset(0);
}

TEST_F(SoapOps, GetMyTasksIncrementalReturnsOnlyChangesSinceTheMark) {
    TaskArgs a;
    a.title = "old";
    CreateTask(a);
    hvsvc::SetClockOffset(1000);
    const std::string mark = hvsvc::FormatTimeZ(hvsvc::Now());
    a.title = "new";
    CreateTask(a);
    ASSERT_EQ(200, svc.Soap(GetMyTasksBody("alice", "a-secret", 3, mark), xml));
    ASSERT_EQ(1, CountElements(xml, "ns1:GetMyTasksReturn"));
    EXPECT_EQ("new", ElementText(xml, "ns1:title"));
    ASSERT_EQ(200, svc.Soap(GetMyTasksBody("alice", "a-secret", 1, mark), xml));
    EXPECT_EQ(2, CountElements(xml, "ns1:GetMyTasksReturn"));
    ASSERT_EQ(500, svc.Soap(GetMyTasksBody("alice", "a-secret", 7, ""), xml));
    ASSERT_EQ(500, svc.Soap(GetMyTasksBody("alice", "a-secret", 3, "yesterday"), xml));
    hvsvc::SetClockOffset(0);
}

TEST_F(SoapOps, CreateEventTakesEscapedOffsetTimesAndEveryoneMeansAllMembers) {
    EventArgs e;
    e.space = "1";
    e.title = "Review";
    e.location = "Room 1";
    e.description = "agenda";
    e.start = "2012-11-08T10:00:00+00:00";
    e.end = "2012-11-08T11:30:00+00:00";
    e.assignees = "-1";
    e.sendEmail = true;
    ASSERT_NE(PushEventBody("alice", "a-secret", e).find("2012&#45;11&#45;08T10&#58;00&#58;00&#43;00&#58;00"),
              std::string::npos);
    const std::string id = CreateEvent(e);
    EXPECT_EQ(1, CountElements(xml, "ns1:CreateEventReturn"));
    EXPECT_EQ("2012-11-08T10:00:00+00:00", ElementText(xml, "ns1:start_time"));
    EXPECT_EQ("2012-11-08T11:30:00+00:00", ElementText(xml, "ns1:end_time"));
    EXPECT_EQ("-1", ElementText(xml, "ns1:assigned_to_userids"));
    EXPECT_EQ("Everyone", ElementText(xml, "ns1:assigned_to"));
    EXPECT_EQ("Alice Archer", ElementText(xml, "ns1:organizer"));
    EXPECT_EQ("Room 1", ElementText(xml, "ns1:location"));

    ASSERT_EQ(200, svc.Soap(GetMyEventsBody("bob", "b-secret", 1, "", ""), xml));
    EXPECT_EQ(1, CountElements(xml, "ns1:GetMyEventsReturn"));
    ASSERT_EQ(200, svc.Soap(GetMyEventsBody("carol", "c-secret", 1, "", ""), xml));
    EXPECT_EQ(0, CountElements(xml, "ns1:GetMyEventsReturn"));
    auto acts = svc.Store().Activities();
    ASSERT_EQ(1u, acts.size());
    EXPECT_TRUE(acts[0].send_email);
    EXPECT_EQ("bob", acts[0].emailed_to);
}

TEST_F(SoapOps, UpdateEventKeepsOrganizerAndInternalUseAsSent) {
    EventArgs e;
    e.title = "Lunch";
    e.start = "2013-01-02T12:00:00+00:00";
    e.end = "2013-01-02T13:00:00+00:00";
    e.id = CreateEvent(e);
    e.title = "Long lunch";
    e.organizer = "Somebody Else";
    e.internalUse = "true";
    e.end = "2013-01-02T15:00:00+00:00";
    e.laterOccurrence = true;
    ASSERT_EQ(200, svc.Soap(PushEventBody("alice", "a-secret", e), xml)) << xml;
    EXPECT_EQ(1, CountElements(xml, "ns1:UpdateEventReturn"));
    EXPECT_EQ("Long lunch", ElementText(xml, "ns1:title"));
    EXPECT_EQ("Somebody Else", ElementText(xml, "ns1:organizer"));
    EXPECT_EQ("true", ElementText(xml, "ns1:internal_use_only"));
    EXPECT_EQ("2013-01-02T15:00:00+00:00", ElementText(xml, "ns1:end_time"));
    ASSERT_EQ(200, svc.Soap(GetEventBody("alice", "a-secret", e.id), xml));
    EXPECT_EQ(1, CountElements(xml, "ns1:GetEventReturn"));
    EXPECT_EQ("Long lunch", ElementText(xml, "ns1:title"));
}

TEST_F(SoapOps, GetMyEventsOption3IsAWindowAndOption2IsChangesSince) {
    EventArgs e;
    e.title = "inside";
    e.start = "2020-05-10T09:00:00+00:00";
    e.end = "2020-05-10T10:00:00+00:00";
    CreateEvent(e);
    e.title = "outside";
    e.start = "2021-05-10T09:00:00+00:00";
    e.end = "2021-05-10T10:00:00+00:00";
    const std::string outside = CreateEvent(e);
    ASSERT_EQ(200,
              svc.Soap(GetMyEventsBody("alice", "a-secret", 3, "2020-05-01T00:00:00Z", "2020-06-01T00:00:00Z"), xml));
    ASSERT_EQ(1, CountElements(xml, "ns1:GetMyEventsReturn"));
    EXPECT_EQ("inside", ElementText(xml, "ns1:title"));

    hvsvc::SetClockOffset(500);
    const std::string mark = hvsvc::FormatTimeZ(hvsvc::Now());
    ASSERT_EQ(200, svc.Soap(DeleteEventBody("alice", "a-secret", outside), xml));
    ASSERT_EQ(200, svc.Soap(GetMyEventsBody("alice", "a-secret", 2, mark, ""), xml));
    ASSERT_EQ(1, CountElements(xml, "ns1:GetMyEventsReturn"));
    EXPECT_EQ("outside", ElementText(xml, "ns1:title"));
    EXPECT_EQ("true", ElementText(xml, "ns1:deleted"));
    hvsvc::SetClockOffset(0);
}

TEST_F(SoapOps, AFaultInTheMiddleOfAChangeStoresNothing) {
    TaskArgs a;
    a.title = "bad assignee";
    a.assignees = "1,99";
    ASSERT_EQ(500, svc.Soap(PushTaskBody("alice", "a-secret", a), xml));
    EXPECT_EQ("Unknown user id in assigned_to_userids: 99", ElementText(xml, "faultstring"));
    a.assignees = "";
    a.space = "1";
    a.tasklist = "21";  // a task list of another workspace
    ASSERT_EQ(500, svc.Soap(PushTaskBody("alice", "a-secret", a), xml));
    a.tasklist = "13";
    a.due = "2012-02-30";
    ASSERT_EQ(500, svc.Soap(PushTaskBody("alice", "a-secret", a), xml));
    EXPECT_EQ("Invalid due_date: \"2012-02-30\"", ElementText(xml, "faultstring"));
    int n = 0;
    svc.Store().AllTasks([&](const hvsvc::Task&) { ++n; });
    EXPECT_EQ(0, n);
    EXPECT_TRUE(svc.Store().Activities().empty());
}

TEST_F(SoapOps, AnotherUsersChangeShowsUpInTheNextIncrementalDownload) {
    TaskArgs a;
    a.space = "1";
    a.tasklist = "13";
    a.title = "shared";
    a.assignees = "1,2";
    const std::string id = CreateTask(a);
    hvsvc::SetClockOffset(50);
    const std::string mark = hvsvc::FormatTimeZ(hvsvc::Now());
    a.id = id;
    a.title = "changed by bob";
    ASSERT_EQ(200, svc.Soap(PushTaskBody("bob", "b-secret", a), xml)) << xml;
    ASSERT_EQ(200, svc.Soap(GetMyTasksBody("alice", "a-secret", 3, mark), xml));
    ASSERT_EQ(1, CountElements(xml, "ns1:GetMyTasksReturn"));
    EXPECT_EQ("changed by bob", ElementText(xml, "ns1:title"));
    hvsvc::SetClockOffset(0);
}

}  // namespace
