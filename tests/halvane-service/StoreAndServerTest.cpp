// The HTTP server and the store as a whole: limits, concurrency, restart,
// the administrative interface and the command line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "ServiceTestSupport.h"

using namespace hvtest;
using nlohmann::json;

namespace {

int CountTasks(hvsvc::CStore& store) {
    int n = 0;
    store.AllTasks([&](const hvsvc::Task&) { ++n; });
    return n;
}

std::string TempPath(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() / ("hvsvc-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

TEST(Server, OversizedRequestIsRefusedWith413AndStoresNothing) {
    ServiceFixture svc;
    TaskArgs a;
    a.title = "huge";
    a.description = std::string(2 * 1024 * 1024, 'x');  // the fixture allows 1 MiB
    auto r = svc.Post(PushTaskBody("alice", "a-secret", a));
    ASSERT_TRUE(r);
    EXPECT_EQ(413, r->status);
    EXPECT_EQ(0, CountTasks(svc.Store()));
    // The service still answers afterwards.
    httplib::Client c("127.0.0.1", svc.Port());
    auto ok = c.Post("/soap/v2.2beta/", GetUserPathsBody("alice", "a-secret", "task"), "text/xml");
    ASSERT_TRUE(ok);
    EXPECT_EQ(200, ok->status);
}

TEST(Server, TruncatedEnvelopeIsAFaultAndStoresNothing) {
    ServiceFixture svc;
    TaskArgs a;
    a.title = "half";
    std::string body = PushTaskBody("alice", "a-secret", a);
    body.resize(body.size() / 2);
    std::string xml;
    ASSERT_EQ(500, svc.Soap(body, xml));
    EXPECT_EQ("SOAP-ENV:Client", ElementText(xml, "faultcode"));
    EXPECT_EQ(0, CountTasks(svc.Store()));
}

TEST(Server, ManyRequestsOnOneKeptAliveConnection) {
    ServiceFixture svc;
    for (int i = 0; i < 20; ++i) {
        auto r = svc.Post(GetUserPathsBody("alice", "a-secret", "folder"));
        ASSERT_TRUE(r);
        ASSERT_EQ(200, r->status);
        EXPECT_NE("close", r->get_header_value("Connection"));
    }
}

TEST(Server, ConcurrentClientsEachGetTheirOwnTasks) {
    ServiceFixture svc;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    std::mutex idsMutex;
    std::set<std::string> ids;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            httplib::Client c("127.0.0.1", svc.Port());
            c.set_keep_alive(true);
            const bool bob = t % 2;
            for (int i = 0; i < 15; ++i) {
                TaskArgs a;
                a.title = "t" + std::to_string(t) + "-" + std::to_string(i);
                auto r =
                    c.Post("/soap/v2.2beta/", PushTaskBody(bob ? "bob" : "alice", bob ? "b-secret" : "a-secret", a),
                           "text/xml; charset=utf-8");
                if (!r || r->status != 200) {
                    ++failures;
                    continue;
                }
                std::lock_guard<std::mutex> lock(idsMutex);
                ids.insert(ElementText(r->body, "ns1:task_id"));
                auto g = c.Post("/soap/v2.2beta/", GetMyTasksBody("alice", "a-secret", 3, ""), "text/xml");
                if (!g || g->status != 200) ++failures;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(90u, ids.size());
    std::string xml;
    ASSERT_EQ(200, svc.Soap(GetMyTasksBody("alice", "a-secret", 3, ""), xml));
    EXPECT_EQ(45, CountElements(xml, "ns1:GetMyTasksReturn"));
}

TEST(Server, RestartKeepsTheData) {
    const std::string db = TempPath("restart.db");
    std::filesystem::remove(db);
    std::string id;
    {
        ServiceFixture svc(db, true);
        TaskArgs a;
        a.title = "survives";
        std::string xml;
        ASSERT_EQ(200, svc.Soap(PushTaskBody("alice", "a-secret", a), xml));
        id = ElementText(xml, "ns1:task_id");
    }
    {
        ServiceFixture svc(db, false);
        std::string xml;
        ASSERT_EQ(200, svc.Soap(GetTaskBody("alice", "a-secret", id), xml)) << xml;
        EXPECT_EQ("survives", ElementText(xml, "ns1:title"));
        ASSERT_EQ(200, svc.Soap(GetUserPathsBody("alice", "a-secret", "folder"), xml));
        EXPECT_EQ(3, CountElements(xml, "ns1:GetUserPathsReturn"));
    }
    std::filesystem::remove_all(std::filesystem::path(db).parent_path());
}

TEST(Admin, ActsAsAnotherUserAndListsWhatWasReceived) {
    ServiceFixture svc;
    httplib::Client c("127.0.0.1", svc.Port());
    std::string xml;
    ASSERT_EQ(200, svc.Soap(GetMyTasksBody("alice", "a-secret", 3, ""), xml));

    auto r = c.Post(
        "/admin/tasks",
        R"({"as":"bob","workspace":"Alpha","tasklist":"Todo","title":"from bob","assigned_to":["alice"],"due_date":"2030-01-02"})",
        "application/json");
    ASSERT_TRUE(r);
    ASSERT_EQ(201, r->status) << r->body;
    const auto task = json::parse(r->body);
    EXPECT_EQ("from bob", task["title"]);
    EXPECT_EQ("1", task["assigned_to_userids"]);
    EXPECT_EQ(13, task["tasklist_id"]);
    const std::string id = std::to_string(task["task_id"].get<int64_t>());

    ASSERT_EQ(200, svc.Soap(GetMyTasksBody("alice", "a-secret", 3, ""), xml));
    EXPECT_EQ(1, CountElements(xml, "ns1:GetMyTasksReturn"));

    r = c.Patch(("/admin/tasks/" + id).c_str(), R"({"as":"bob","completed":true})", "application/json");
    ASSERT_TRUE(r);
    ASSERT_EQ(200, r->status) << r->body;
    EXPECT_EQ(true, json::parse(r->body)["completed"]);
    EXPECT_EQ("from bob", json::parse(r->body)["title"]);

    r = c.Delete(("/admin/tasks/" + id + "?as=bob").c_str());
    ASSERT_TRUE(r);
    EXPECT_EQ(200, r->status);
    r = c.Get("/admin/tasks");
    ASSERT_TRUE(r);
    EXPECT_EQ(true, json::parse(r->body)[0]["deleted"]);

    r = c.Get("/admin/requests?method=GetMyTasks");
    ASSERT_TRUE(r);
    const auto reqs = json::parse(r->body);
    ASSERT_EQ(2u, reqs.size());
    EXPECT_EQ(GetMyTasksBody("alice", "a-secret", 3, ""), reqs[0]["body"]);
    EXPECT_EQ("alice", reqs[0]["user"]);
    EXPECT_EQ(200, reqs[0]["status"]);

    r = c.Get("/admin/activity");
    ASSERT_TRUE(r);
    EXPECT_EQ(3u, json::parse(r->body).size());

    r = c.Post("/admin/tasks", R"({"as":"nobody","title":"x"})", "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(400, r->status);
    EXPECT_EQ("Unknown user \"nobody\"", json::parse(r->body)["error"]);
}

TEST(Admin, EventsAndClockAndPluginVersion) {
    ServiceFixture svc;
    httplib::Client c("127.0.0.1", svc.Port());
    auto r = c.Post(
        "/admin/events",
        R"({"as":"bob","workspace":"Alpha","title":"Standup","start_time":"2031-03-04T09:00:00Z","end_time":"2031-03-04T09:15:00Z","assigned_to":"everyone"})",
        "application/json");
    ASSERT_TRUE(r);
    ASSERT_EQ(201, r->status) << r->body;
    EXPECT_EQ("2031-03-04T09:00:00+00:00", json::parse(r->body)["start_time"]);
    std::string xml;
    ASSERT_EQ(200,
              svc.Soap(GetMyEventsBody("alice", "a-secret", 3, "2031-03-01T00:00:00Z", "2031-04-01T00:00:00Z"), xml));
    EXPECT_EQ(1, CountElements(xml, "ns1:GetMyEventsReturn"));

    r = c.Post("/admin/clock", R"({"offset_seconds":3600})", "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(3600, json::parse(r->body)["offset_seconds"]);
    c.Post("/admin/clock", R"({"offset_seconds":0})", "application/json");

    r = c.Post("/admin/settings", R"({"plugin_version":"9.9.9.9"})", "application/json");
    ASSERT_TRUE(r);
    ASSERT_EQ(200, svc.Soap(CheckPluginVersionBody("bob", "b-secret", "1", "e"), xml));
    EXPECT_EQ("9.9.9.9", ElementText(xml, "ns1:current_version"));
}

TEST(CommandLine, ServePrintsListeningAnswersAndStopsOnSigterm) {
    int out[2];
    ASSERT_EQ(0, pipe(out));
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        execl(HVSVC_EXE, HVSVC_EXE, "serve", "--listen", "127.0.0.1:0", "--db", ":memory:", "--seed", HVSVC_DEMO_DATA,
              "--quiet", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char ch;
    while (read(out[0], &ch, 1) == 1 && ch != '\n') line += ch;
    close(out[0]);
    ASSERT_EQ(0u, line.rfind("listening on 127.0.0.1:", 0)) << line;
    const int port = std::stoi(line.substr(line.rfind(':') + 1));
    httplib::Client c("127.0.0.1", port);
    auto r = c.Post("/soap/v2.2beta/", CheckPluginVersionBody("alice", "alice-pass", "1", "e"), "text/xml");
    ASSERT_TRUE(r);
    EXPECT_EQ(200, r->status);
    r = c.Post("/soap/v2.2beta/", GetMyTasksBody("alice", "alice-pass", 3, ""), "text/xml");
    ASSERT_TRUE(r);
    EXPECT_GT(CountElements(r->body, "ns1:GetMyTasksReturn"), 10);
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(CommandLine, SeedCommandFillsAFileDatabase) {
    const std::string db = TempPath("seeded.db");
    std::filesystem::remove(db);
    const std::string cmd = std::string(HVSVC_EXE) + " seed --db " + db + " " + HVSVC_DEMO_DATA + " >/dev/null";
    ASSERT_EQ(0, std::system(cmd.c_str()));
    hvsvc::CStore store(db);
    EXPECT_EQ(2u, store.Users().size());
    EXPECT_EQ(3u, store.Workspaces().size());
    EXPECT_TRUE(store.Authenticate("bob", "bob-pass"));
    // Seeding twice fails as a whole and leaves the data as it was.
    EXPECT_NE(0, std::system((cmd + " 2>/dev/null").c_str()));
    EXPECT_EQ(2u, store.Users().size());
    std::filesystem::remove_all(std::filesystem::path(db).parent_path());
}

}  // namespace
