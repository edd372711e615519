// The product web site: the login link of the Outlook Bar shortcuts and the
// pages it leads to.
#include <gtest/gtest.h>

#include <cctype>

#include "RawConnection.h"
#include "ServiceTestSupport.h"
#include "Util.h"

using namespace hvtest;

namespace {

class Web : public ::testing::Test {
protected:
    ServiceFixture svc;
    std::unique_ptr<httplib::Client> c;
    void SetUp() override {
        c = std::make_unique<httplib::Client>("127.0.0.1", svc.Port());
        c->set_follow_location(false);
    }
    static std::string Cookie(const httplib::Result& r) {
        const std::string set = r->get_header_value("Set-Cookie");
        return set.substr(0, set.find(';'));
    }
};

TEST_F(Web, LoginLinkWithTheRightDigestSignsInAndRedirectsToRurl) {
    // The values inserted as they are, without URL encoding: a second "?" in the query.
    const std::string m = hvsvc::Md5Hex("a-secret");
    auto r = c->Get(("/loginauth?username=alice&m=" + m + "&rurl=/home/index?mytasks").c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(302, r->status);
    EXPECT_EQ("/home/index?mytasks", r->get_header_value("Location"));
    const std::string cookie = Cookie(r);
    ASSERT_EQ(0u, cookie.rfind("hvsession=", 0));

    std::string xml;
    TaskArgs a;
    a.title = "Water <the> plants";
    ASSERT_EQ(200, svc.Soap(PushTaskBody("alice", "a-secret", a), xml));
    auto page = c->Get("/home/index?mytasks", {{"Cookie", cookie}});
    ASSERT_TRUE(page);
    EXPECT_EQ(200, page->status);
    EXPECT_NE(page->body.find("<h1>My Tasks</h1>"), std::string::npos);
    EXPECT_NE(page->body.find("Water &lt;the&gt; plants"), std::string::npos);
}

TEST_F(Web, LoginLinkWithAWrongDigestIsRefusedWithoutASession) {
    auto r = c->Get(("/loginauth?username=alice&m=" + hvsvc::Md5Hex("wrong") + "&rurl=/home/index").c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(403, r->status);
    EXPECT_EQ("", r->get_header_value("Set-Cookie"));
    EXPECT_NE(r->body.find("not valid"), std::string::npos);
    r = c->Get("/loginauth?username=alice&m=&rurl=/home/index");
    ASSERT_TRUE(r);
    EXPECT_EQ(403, r->status);
}

TEST_F(Web, RedirectStaysInsideTheSite) {
    const std::string base = "/loginauth?username=bob&m=" + hvsvc::Md5Hex("b-secret") + "&rurl=";
    for (const char* evil :
         {"http://evil.example/", "//evil.example/x", "/\\evil.example", "javascript:alert(1)", ""}) {
        auto r = c->Get((base + evil).c_str());
        ASSERT_TRUE(r);
        EXPECT_EQ(302, r->status) << evil;
        EXPECT_EQ("/home/index", r->get_header_value("Location")) << evil;
    }
    EXPECT_TRUE(hvsvc::IsLocalRedirect("/home/index?mycalendar"));
    EXPECT_FALSE(hvsvc::IsLocalRedirect("home/index"));
    EXPECT_FALSE(hvsvc::IsLocalRedirect("/home\r\nSet-Cookie: x"));
}

// Every byte but letters, digits and "-._~" as %XX: how the add-in's login link carries
// each query value.
std::string Encode(const std::string& s) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char ch : s) {
        if (std::isalnum(ch) || ch == '-' || ch == '.' || ch == '_' || ch == '~') {
            out += static_cast<char>(ch);
        } else {
            out += '%';
            out += kHex[ch >> 4];
            out += kHex[ch & 15];
        }
    }
    return out;
}

TEST_F(Web, EncodedLoginLinkSignsInAUserNameWithAmpersandPlusHashAndSpace) {
    // Look-alikes of the first parts of the name must not be the ones signed in.
    svc.Store().AddUser("ann", "other", "Plain Ann", "", "", 0);
    svc.Store().AddUser("Ann & Bob+Co #1 é", "p&w d", "Ann Encoded", "", "", 0);
    const std::string link = "/loginauth?username=" + Encode("Ann & Bob+Co #1 é") + "&m=" + hvsvc::Md5Hex("p&w d") +
                             "&rurl=" + Encode("/home/index?mycalendar");
    auto r = c->Get(link.c_str());
    ASSERT_TRUE(r);
    ASSERT_EQ(302, r->status) << r->body;
    EXPECT_EQ("/home/index?mycalendar", r->get_header_value("Location"));
    auto page = c->Get("/home/index?mycalendar", {{"Cookie", Cookie(r)}});
    ASSERT_TRUE(page);
    EXPECT_EQ(200, page->status);
    EXPECT_NE(page->body.find("<h1>My Calendar</h1>"), std::string::npos);
    EXPECT_NE(page->body.find("<span>Ann Encoded</span>"), std::string::npos);

    // The same link unencoded names someone else ("Ann ") and signs nobody in.
    auto raw =
        c->Get(("/loginauth?username=Ann%20&%20Bob%2BCo%20&m=" + hvsvc::Md5Hex("p&w d") + "&rurl=/home/index").c_str());
    ASSERT_TRUE(raw);
    EXPECT_EQ(403, raw->status);
    EXPECT_EQ("", raw->get_header_value("Set-Cookie"));
}

TEST_F(Web, EncodedRurlStaysInsideTheSite) {
    const std::string base = "/loginauth?username=bob&m=" + hvsvc::Md5Hex("b-secret") + "&rurl=";
    for (const char* evil : {"http://evil.example/", "//evil.example/x", "/\\evil.example", "/\tevil", "https:evil"}) {
        auto r = c->Get((base + Encode(evil)).c_str());
        ASSERT_TRUE(r);
        EXPECT_EQ(302, r->status) << evil;
        EXPECT_EQ("/home/index", r->get_header_value("Location")) << evil;
    }
    auto r = c->Get((base + Encode("/home/index?mytasks")).c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ("/home/index?mytasks", r->get_header_value("Location"));
    // Decoded, a path may hold a space or UTF-8: the Location header carries them
    // escaped (read raw: the client library would decode the header).
    RawConnection raw(svc.Port());
    ASSERT_TRUE(raw.Connected());
    ASSERT_TRUE(raw.Send("GET " + base + Encode("/home/index?mytasks&q=a b\xC3\xA9") +
                         " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    raw.ReadAnswer(std::chrono::seconds(5));
    EXPECT_EQ(302, raw.Status());
    EXPECT_NE(std::string::npos, raw.Received().find("\r\nLocation: /home/index?mytasks&q=a%20b%C3%A9\r\n"))
        << raw.Received();
}

TEST_F(Web, PagesNeedASignedInUser) {
    auto r = c->Get("/home/index?mycalendar");
    ASSERT_TRUE(r);
    EXPECT_EQ(302, r->status);
    // (the client library hands the Location header over URL-decoded)
    EXPECT_EQ("/login?rurl=/home/index?mycalendar", r->get_header_value("Location"));
    r = c->Get("/home/index", {{"Cookie", "hvsession=forged"}});
    ASSERT_TRUE(r);
    EXPECT_EQ(302, r->status);
}

TEST_F(Web, DashboardAndCalendarShowTheUsersData) {
    auto login = c->Post("/login", "username=alice&password=a-secret&rurl=/home/index%3Fmycalendar",
                         "application/x-www-form-urlencoded");
    ASSERT_TRUE(login);
    ASSERT_EQ(303, login->status);
    EXPECT_EQ("/home/index?mycalendar", login->get_header_value("Location"));
    const std::string cookie = Cookie(login);
    std::string xml;
    EventArgs e;
    e.title = "Dentist";
    e.start = "2030-01-01T09:00:00+00:00";
    e.end = "2030-01-01T10:00:00+00:00";
    ASSERT_EQ(200, svc.Soap(PushEventBody("alice", "a-secret", e), xml));
    auto cal = c->Get("/home/index?mycalendar", {{"Cookie", cookie}});
    ASSERT_TRUE(cal);
    EXPECT_NE(cal->body.find("Dentist"), std::string::npos);
    EXPECT_NE(cal->body.find("2030-01-01 09:00 UTC"), std::string::npos);
    auto dash = c->Get("/home/index", {{"Cookie", cookie}});
    ASSERT_TRUE(dash);
    EXPECT_NE(dash->body.find("<h1>Dashboard</h1>"), std::string::npos);
    EXPECT_NE(dash->body.find("Alpha &gt; Docs &gt; 2009"), std::string::npos);
    EXPECT_NE(dash->body.find("created event &ldquo;Dentist&rdquo;"), std::string::npos);
    auto bad = c->Post("/login", "username=alice&password=nope", "application/x-www-form-urlencoded");
    ASSERT_TRUE(bad);
    EXPECT_EQ(403, bad->status);
}

}  // namespace
