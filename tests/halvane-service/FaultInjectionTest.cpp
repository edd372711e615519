// Faults injected through the administrative interface, each seen by a
// client as it would see a failing service or network.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "RawConnection.h"
#include "ServiceTestSupport.h"

using namespace hvtest;
using namespace std::chrono_literals;
using nlohmann::json;

namespace {

class Faults : public ::testing::Test {
protected:
    ServiceFixture svc;
    httplib::Client admin{"127.0.0.1", svc.Port()};

    json Inject(const std::string& body) {
        auto r = admin.Post("/admin/faults", body, "application/json");
        EXPECT_TRUE(r);
        if (!r) return {};
        EXPECT_EQ(201, r->status) << r->body;
        return json::parse(r->body);
    }
    json List() {
        auto r = admin.Get("/admin/faults");
        EXPECT_TRUE(r);
        return r ? json::parse(r->body) : json();
    }
    int CountTasks() {
        int n = 0;
        svc.Store().AllTasks([&](const hvsvc::Task&) { ++n; });
        return n;
    }
    // A request sent over a connection of its own, read as it comes.
    RawConnection& Raw(const std::string& body) {
        m_raw = std::make_unique<RawConnection>(svc.Port());
        m_raw->Send(
            "POST /soap/v2.2beta/ HTTP/1.1\r\nHost: t\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body);
        return *m_raw;
    }

private:
    std::unique_ptr<RawConnection> m_raw;
};

std::string Tasks() {
    return GetMyTasksBody("alice", "a-secret", 3, "");
}

TEST_F(Faults, Http500HitsTheNextNCallsOfThatOperationOnly) {
    const json rule = Inject(R"({"operation":"GetMyTasks","fault":"http_500","count":2})");
    EXPECT_EQ("http_500", rule["fault"]);
    EXPECT_EQ(2, rule["remaining"]);
    std::string xml;
    EXPECT_EQ(200, svc.Soap(GetUserPathsBody("alice", "a-secret", "folder"), xml));
    for (int i = 0; i < 2; ++i) {
        auto r = svc.Post(Tasks());
        ASSERT_TRUE(r);
        EXPECT_EQ(500, r->status);
        EXPECT_EQ("text/html; charset=utf-8", r->get_header_value("Content-Type"));
        EXPECT_NE(std::string::npos, r->body.find("500 Internal Server Error"));
        EXPECT_EQ(std::string::npos, r->body.find("Envelope"));
    }
    EXPECT_EQ(200, svc.Soap(Tasks(), xml));
    const json list = List();
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(0, list[0]["remaining"]);
    EXPECT_EQ(2, list[0]["fired"]);
    // The request log says what the client got.
    auto r = admin.Get("/admin/requests?method=GetMyTasks");
    ASSERT_TRUE(r);
    const json reqs = json::parse(r->body);
    ASSERT_EQ(3u, reqs.size());
    EXPECT_EQ(500, reqs[0]["status"]);
    EXPECT_EQ(0u, reqs[0]["outcome"].get<std::string>().rfind("injected http_500", 0)) << reqs[0]["outcome"];
    EXPECT_EQ(200, reqs[2]["status"]);
}

TEST_F(Faults, SoapFaultStoresNothingUnlessApplied) {
    Inject(R"({"operation":"CreateTask","fault":"soap_fault"})");
    TaskArgs a;
    a.title = "first";
    std::string xml;
    ASSERT_EQ(500, svc.Soap(PushTaskBody("alice", "a-secret", a), xml));
    EXPECT_EQ("SOAP-ENV:Server", ElementText(xml, "faultcode"));
    EXPECT_EQ("Service temporarily unavailable", ElementText(xml, "faultstring"));
    EXPECT_EQ(0, CountTasks());

    Inject(R"({"operation":"CreateTask","fault":"soap_fault","apply":true})");
    a.title = "second";
    ASSERT_EQ(500, svc.Soap(PushTaskBody("alice", "a-secret", a), xml));
    EXPECT_EQ(1, CountTasks());  // carried out, yet answered with a fault
    ASSERT_EQ(200, svc.Soap(PushTaskBody("alice", "a-secret", a), xml));
    EXPECT_EQ(2, CountTasks());
}

TEST_F(Faults, TruncatedAnswerAnnouncesMoreThanItSendsAndCloses) {
    TaskArgs a;
    a.title = "one";
    std::string xml;
    ASSERT_EQ(200, svc.Soap(PushTaskBody("alice", "a-secret", a), xml));
    Inject(R"({"operation":"GetMyTasks","fault":"truncated"})");
    RawConnection& c = Raw(Tasks());
    EXPECT_TRUE(c.ReadUntilClosed(5s));
    EXPECT_EQ(200, c.Status());
    ASSERT_GT(c.ContentLength(), 100);
    EXPECT_EQ(static_cast<size_t>(c.ContentLength() / 2), c.Body().size());
    // A client library reports the broken transfer as an error.
    Inject(R"({"operation":"GetMyTasks","fault":"truncated"})");
    EXPECT_FALSE(svc.Post(Tasks()));
    EXPECT_EQ(200, svc.Soap(Tasks(), xml));
    EXPECT_EQ(1, CountElements(xml, "ns1:GetMyTasksReturn"));
}

TEST_F(Faults, MalformedAnswerIsA200ThatIsNotXml) {
    Inject(R"({"operation":"CreateTask","fault":"malformed"})");
    TaskArgs a;
    a.title = "lost";
    auto r = svc.Post(PushTaskBody("alice", "a-secret", a));
    ASSERT_TRUE(r);
    EXPECT_EQ(200, r->status);
    EXPECT_EQ("<not xml>", ElementText(r->body, "ns1:task_id"));
    EXPECT_EQ(0u, r->body.rfind("<?xml", 0));
    EXPECT_EQ(0, CountTasks());  // not carried out

    Inject(R"({"operation":"CreateTask","fault":"malformed","apply":true})");
    r = svc.Post(PushTaskBody("alice", "a-secret", a));
    ASSERT_TRUE(r);
    EXPECT_EQ("<not xml>", ElementText(r->body, "ns1:task_id"));
    EXPECT_EQ(1, CountTasks());
}

TEST_F(Faults, CloseDropsTheConnectionWithoutAnAnswer) {
    Inject(R"({"operation":"DeleteTask","fault":"close","count":1})");
    Inject(R"({"operation":"CreateTask","fault":"close","apply":true})");
    TaskArgs a;
    a.title = "kept";
    RawConnection& c = Raw(PushTaskBody("alice", "a-secret", a));
    EXPECT_TRUE(c.ReadUntilClosed(5s));
    EXPECT_EQ("", c.Received());
    EXPECT_EQ(1, CountTasks());  // applied before the connection went

    std::string xml;
    EXPECT_FALSE(svc.Post(DeleteTaskBody("alice", "a-secret", "1")));
    ASSERT_EQ(200, svc.Soap(GetTaskBody("alice", "a-secret", "1"), xml));
    EXPECT_EQ("false", ElementText(xml, "ns1:deleted"));  // not applied
}

TEST_F(Faults, DelayHoldsTheAnswerPastTheClientsPatienceWhileOthersAreServed) {
    Inject(R"({"operation":"CreateTask","fault":"delay","seconds":30})");
    TaskArgs a;
    a.title = "slow";
    httplib::Client impatient("127.0.0.1", svc.Port());
    impatient.set_read_timeout(0, 500000);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(impatient.Post("/soap/v2.2beta/", PushTaskBody("alice", "a-secret", a), "text/xml"));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 450ms);
    // The operation was carried out; its answer is still held.
    EXPECT_EQ(1, CountTasks());
    std::string xml;
    ASSERT_EQ(200, svc.Soap(GetMyTasksBody("alice", "a-secret", 3, ""), xml));
    EXPECT_EQ("slow", ElementText(xml, "ns1:title"));
    // A short delay is waited out by a patient client, which gets the real answer.
    Inject(R"({"operation":"GetTask","fault":"delay","seconds":0.3})");
    RawConnection& c = Raw(GetTaskBody("alice", "a-secret", "1"));
    EXPECT_FALSE(c.Readable(200ms));
    c.ReadAnswer(5s);
    EXPECT_EQ(200, c.Status());
    EXPECT_EQ("slow", ElementText(c.Body(), "ns1:title"));
    // (the service stops at the end of the test with the 30 s answer still held)
}

TEST(FaultDelay, AHeldAnswerOutlastsTheIdleLimit) {
    hvsvc::ServerOptions opts;
    opts.limits.idle = 1000ms;
    ServiceFixture svc(opts);
    httplib::Client admin("127.0.0.1", svc.Port());
    auto r =
        admin.Post("/admin/faults", R"({"operation":"GetTask","fault":"delay","seconds":2.5})", "application/json");
    ASSERT_TRUE(r);
    ASSERT_EQ(201, r->status);
    std::string xml;
    TaskArgs a;
    a.title = "late";
    ASSERT_EQ(200, svc.Soap(PushTaskBody("alice", "a-secret", a), xml));
    RawConnection c(svc.Port());
    const std::string body = GetTaskBody("alice", "a-secret", ElementText(xml, "ns1:task_id"));
    c.Send("POST /soap/v2.2beta/ HTTP/1.1\r\nHost: t\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body);
    const auto t0 = std::chrono::steady_clock::now();
    c.ReadAnswer(10s);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 2400ms);
    EXPECT_EQ(200, c.Status()) << c.Received();
    EXPECT_EQ("late", ElementText(c.Body(), "ns1:title"));
}

TEST_F(Faults, RulesMatchByUserAndAnyOperationAndAreReset) {
    Inject(R"({"operation":"*","fault":"http_500","count":5,"user":"bob"})");
    std::string xml;
    EXPECT_EQ(200, svc.Soap(Tasks(), xml));
    EXPECT_EQ(500, svc.Soap(GetMyTasksBody("bob", "b-secret", 3, ""), xml));
    EXPECT_EQ(500, svc.Soap(GetUserPathsBody("bob", "b-secret", "folder"), xml));
    auto r = admin.Delete("/admin/faults");
    ASSERT_TRUE(r);
    EXPECT_EQ(1, json::parse(r->body)["removed"]);
    EXPECT_EQ(200, svc.Soap(GetUserPathsBody("bob", "b-secret", "folder"), xml));
    EXPECT_TRUE(List().empty());

    const json one = Inject(R"({"operation":"GetTask","fault":"close"})");
    r = admin.Delete(("/admin/faults/" + std::to_string(one["id"].get<int64_t>())).c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(200, r->status);
    EXPECT_TRUE(List().empty());
}

TEST_F(Faults, BadRulesAreRefusedWithAReason) {
    for (const char* bad :
         {R"({"fault":"http_500"})", R"({"operation":"GetTask","fault":"explode"})",
          R"({"operation":"GetTask","fault":"delay"})", R"({"operation":"GetTask","fault":"close","count":0})",
          R"({"operation":"GetTask","fault":"close","seconds":3})", R"([1,2])"}) {
        auto r = admin.Post("/admin/faults", bad, "application/json");
        ASSERT_TRUE(r);
        EXPECT_EQ(400, r->status) << bad;
        EXPECT_FALSE(json::parse(r->body)["error"].get<std::string>().empty()) << bad;
    }
    EXPECT_TRUE(List().empty());
}

}  // namespace
