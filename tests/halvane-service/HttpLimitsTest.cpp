// The HTTP front end's limits: whatever a client does wrong or too slowly, it
// gets a clear answer or a closed connection within the documented time, and
// everyone else keeps being served meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "RawConnection.h"
#include "ServiceTestSupport.h"
#include "Util.h"

using namespace hvtest;
using namespace std::chrono_literals;

namespace {

const std::string kHealth = "GET /admin/health HTTP/1.1\r\nHost: t\r\n\r\n";

hvsvc::ServerOptions SmallLimits() {
    hvsvc::ServerOptions o;
    o.max_body = 1024 * 1024;
    o.limits.max_connections = 3;
    o.limits.deadline = 1000ms;
    o.limits.idle = 30000ms;
    o.limits.max_header = 8 * 1024;
    o.limits.workers = 2;
    return o;
}

// Another client is served while something else goes wrong.
void ExpectServed(ServiceFixture& svc) {
    httplib::Client c("127.0.0.1", svc.Port());
    c.set_read_timeout(5);
    auto r = c.Post("/soap/v2.2beta/", GetUserPathsBody("alice", "a-secret", "folder"), "text/xml");
    ASSERT_TRUE(r);
    EXPECT_EQ(200, r->status);
}

TEST(HttpLimits, ConnectionsPastTheCapGet503AndTheOthersKeepBeingServed) {
    ServiceFixture svc(SmallLimits());
    std::vector<std::unique_ptr<RawConnection>> open;
    for (int i = 0; i < 3; ++i) {
        open.push_back(std::make_unique<RawConnection>(svc.Port()));
        ASSERT_TRUE(open.back()->Send(kHealth));
        open.back()->ReadAnswer(5s);
        ASSERT_EQ(200, open.back()->Status()) << i;
        open.back()->Clear();
    }
    RawConnection extra(svc.Port());
    ASSERT_TRUE(extra.Send(kHealth));
    extra.ReadAnswer(5s);
    EXPECT_EQ(503, extra.Status()) << extra.Received();
    EXPECT_NE(std::string::npos, extra.Received().find("Retry-After: 1"));
    EXPECT_TRUE(extra.ReadUntilClosed(5s));

    // The connections within the cap are still served.
    for (auto& c : open) {
        ASSERT_TRUE(c->Send(kHealth));
        c->ReadAnswer(5s);
        EXPECT_EQ(200, c->Status());
        c->Clear();
    }
    // Once one of them goes, a new connection is served again.
    open.pop_back();
    int status = 0;
    for (auto until = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < until;) {
        RawConnection again(svc.Port());
        again.Send(kHealth);
        again.ReadAnswer(5s);
        status = again.Status();
        if (status == 200) break;
        std::this_thread::sleep_for(20ms);  // the service notices the close on its own schedule
    }
    EXPECT_EQ(200, status);
}

TEST(HttpLimits, ASlowDripOfBytesIsCutOffWith408AtTheDeadline) {
    ServiceFixture svc(SmallLimits());
    for (const std::string& start :
         {std::string("POST /soap/v2.2beta/ HTTP/1.1\r\nHost: t\r\n"),
          std::string("POST /soap/v2.2beta/ HTTP/1.1\r\nHost: t\r\nContent-Length: 400\r\n\r\n")}) {
        RawConnection drip(svc.Port());
        ASSERT_TRUE(drip.Send(start));
        const auto t0 = std::chrono::steady_clock::now();
        // One byte every 100 ms: never idle, never done.
        while (!drip.Readable(100ms) && std::chrono::steady_clock::now() - t0 < 10s) {
            if (!drip.Send("x")) break;
        }
        drip.ReadUntilClosed(5s);
        const auto took = std::chrono::steady_clock::now() - t0;
        EXPECT_EQ(408, drip.Status()) << drip.Received();
        EXPECT_TRUE(drip.Closed());
        EXPECT_GE(took, 900ms);
        EXPECT_LT(took, 4s);
        ExpectServed(svc);
    }
}

TEST(HttpLimits, TheDeadlineCountsFromARequestsFirstByteNotFromTheLastAnswer) {
    auto opts = SmallLimits();
    opts.limits.deadline = 500ms;
    ServiceFixture svc(opts);
    RawConnection c(svc.Port());
    ASSERT_TRUE(c.Send(kHealth));
    c.ReadAnswer(5s);
    ASSERT_EQ(200, c.Status());
    c.Clear();
    // Idle on a kept-alive connection for longer than the deadline (well within
    // the idle limit), then a whole request: it is served.
    EXPECT_FALSE(c.Readable(1200ms));
    ASSERT_TRUE(c.Send(kHealth));
    c.ReadAnswer(5s);
    EXPECT_EQ(200, c.Status()) << c.Received();
}

TEST(HttpLimits, AHeaderNameWithASpaceIs400AndItsBodyIsNeverARequest) {
    ServiceFixture svc(SmallLimits());
    RawConnection c(svc.Port());
    // Were "Content-Length " ignored, the body would be read as a next request.
    ASSERT_TRUE(
        c.Send("POST /soap/v2.2beta/ HTTP/1.1\r\nHost: t\r\nContent-Length : 40\r\n\r\n"
               "GET /admin/health HTTP/1.1\r\nHost: t\r\n\r\n"));
    EXPECT_TRUE(c.ReadUntilClosed(5s));
    EXPECT_EQ(400, c.Status());
    EXPECT_EQ(std::string::npos, c.Received().find("\"ok\""));
    EXPECT_EQ(c.Received().find("HTTP/1.1"), c.Received().rfind("HTTP/1.1"));
    ExpectServed(svc);
}

TEST(HttpLimits, ConflictingLengthHeadersAre400AndClosed) {
    ServiceFixture svc(SmallLimits());
    for (const char* head :
         {"POST /soap/v2.2beta/ HTTP/1.1\r\nHost: t\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n",
          "POST /soap/v2.2beta/ HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n",
          "POST /soap/v2.2beta/ HTTP/1.1\r\nHost: t\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n"}) {
        RawConnection c(svc.Port());
        ASSERT_TRUE(c.Send(std::string(head) + "0\r\n\r\n"));
        EXPECT_TRUE(c.ReadUntilClosed(5s)) << head;
        EXPECT_EQ(400, c.Status()) << head;
    }
    ExpectServed(svc);
}

TEST(HttpLimits, BadChunkSizesAndUnknownEncodingsAreRefused) {
    ServiceFixture svc(SmallLimits());
    struct Case {
        const char* bytes;
        int status;
    } cases[] = {
        {"POST /soap HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n+5\r\nhello\r\n0\r\n\r\n", 400},
        {"POST /soap HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\nhello\r\n0\r\n\r\n", 400},
        {"POST /soap HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\nfffffffffffffffffff\r\nx\r\n0\r\n\r\n",
         413},
        {"POST /soap HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: gzip\r\n\r\n", 501},
    };
    for (const auto& k : cases) {
        RawConnection c(svc.Port());
        ASSERT_TRUE(c.Send(k.bytes));
        EXPECT_TRUE(c.ReadUntilClosed(5s)) << k.bytes;
        EXPECT_EQ(k.status, c.Status()) << k.bytes;
    }
    ExpectServed(svc);
}

TEST(HttpLimits, ChunkedBodyWithTrailersIsOneRequest) {
    ServiceFixture svc(SmallLimits());
    RawConnection c(svc.Port());
    const std::string body = GetUserPathsBody("alice", "a-secret", "folder");
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", body.size());
    ASSERT_TRUE(c.Send("POST /soap/v2.2beta/ HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n" +
                       std::string(size) + body + "\r\n0\r\nX-Trailer: 1\r\n\r\n" + kHealth));
    c.ReadAnswer(5s);
    ASSERT_EQ(200, c.Status()) << c.Received();
    EXPECT_EQ(3, CountElements(c.Body(), "ns1:GetUserPathsReturn"));
    // The trailer was not taken for a request: the next answer is the health check's.
    ASSERT_TRUE(c.ReadUntil("\"ok\": true", 5s)) << c.Received();
    const std::string second = c.Received().substr(c.Received().find("\r\n\r\n") + 4 + c.Body().size());
    EXPECT_EQ(0u, second.rfind("HTTP/1.1 200", 0)) << second;
}

TEST(HttpLimits, ABareLfRequestIsAnsweredNotLeftHanging) {
    ServiceFixture svc(SmallLimits());
    RawConnection c(svc.Port());
    ASSERT_TRUE(c.Send("GET /admin/health HTTP/1.1\nHost: t\n\n"));
    c.ReadAnswer(3s);
    EXPECT_EQ(200, c.Status()) << c.Received();
    EXPECT_NE(std::string::npos, c.Body().find("\"ok\": true"));
}

TEST(HttpLimits, AnOversizedHeadIs431AndClosed) {
    ServiceFixture svc(SmallLimits());
    {
        RawConnection c(svc.Port());
        ASSERT_TRUE(
            c.Send("GET /admin/health HTTP/1.1\r\nHost: t\r\nX-Big: " + std::string(7 * 1024, 'x') + "\r\n\r\n"));
        c.ReadAnswer(5s);
        EXPECT_EQ(200, c.Status());
    }
    for (size_t size : {10 * 1024, 100 * 1024}) {
        RawConnection c(svc.Port());
        c.Send("GET /admin/health HTTP/1.1\r\nHost: t\r\nX-Big: " + std::string(size, 'x') + "\r\n\r\n");
        EXPECT_TRUE(c.ReadUntilClosed(5s)) << size;
        EXPECT_EQ(431, c.Status()) << size;
    }
    ExpectServed(svc);
}

TEST(HttpLimits, AnOversizedBodyIs413) {
    ServiceFixture svc(SmallLimits());  // 1 MiB bodies
    {
        // Announced and waiting for "100 Continue": refused before it is sent.
        RawConnection c(svc.Port());
        ASSERT_TRUE(c.Send("POST /soap/v2.2beta/ HTTP/1.1\r\nHost: t\r\nExpect: 100-continue\r\nContent-Length: " +
                           std::to_string(2 * 1024 * 1024) + "\r\n\r\n"));
        c.ReadAnswer(5s);
        EXPECT_EQ(413, c.Status()) << c.Received();
    }
    {
        // Chunked: read and thrown away, then refused.
        RawConnection c(svc.Port());
        ASSERT_TRUE(c.Send("POST /soap/v2.2beta/ HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n"));
        const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
        for (int i = 0; i < 20; ++i) ASSERT_TRUE(c.Send(chunk));
        ASSERT_TRUE(c.Send("0\r\n\r\n"));
        c.ReadAnswer(5s);
        EXPECT_EQ(413, c.Status()) << c.Received();
    }
    ExpectServed(svc);
}

TEST(HttpLimits, TheLoginLinksSecondQuestionMarkStaysInTheQuery) {
    ServiceFixture svc(SmallLimits());
    RawConnection c(svc.Port());
    ASSERT_TRUE(c.Send("GET /loginauth?username=alice&m=" + hvsvc::Md5Hex("a-secret") +
                       "&rurl=/home/index?mytasks HTTP/1.1\r\nHost: t\r\n\r\n"));
    c.ReadAnswer(5s);
    EXPECT_EQ(302, c.Status()) << c.Received();
    EXPECT_NE(std::string::npos, c.Received().find("Location: /home/index?mytasks\r\n"));
}

}  // namespace
