// GetMyTasks and GetMyEvents over real HTTP with 1,000, 10,000 and 100,000
// records: answer time, answer size, and the process's peak memory.
#include <httplib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "Server.h"
#include "Store.h"
#include "Util.h"

namespace {

long PeakRssMiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss / 1024;
}

std::string Envelope(const std::string& op, const std::string& inner) {
    return "<SOAP-ENV:Envelope\nxmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"\n"
           "xmlns:m1=\"urn:Halvane/API\">\n<SOAP-ENV:Header>\n<m:SessionHeader xmlns:m=\"urn:Halvane/API\">\n"
           "<m:username>bench</m:username>\n<m:password>bench</m:password>\n</m:SessionHeader>\n"
           "</SOAP-ENV:Header>\n<SOAP-ENV:Body>\n<m:" +
           op + " xmlns:m=\"urn:Halvane/API\">\n" + inner + "</m:" + op + ">\n</SOAP-ENV:Body>\n</SOAP-ENV:Envelope>\n";
}

void Run(size_t n) {
    hvsvc::CStore store(":memory:");
    const int64_t user = store.AddUser("bench", "bench", "Bench User", "bench@example.com", "");
    const int64_t space = store.AddWorkspace("Bench Space");
    store.AddMember(space, user);
    const auto fill0 = std::chrono::steady_clock::now();
    {
        hvsvc::CTransaction tx(store, true);
        for (size_t i = 0; i < n; ++i) {
            hvsvc::Task t;
            t.space_id = space;
            t.title = "Task number " + std::to_string(i) + " with a title of ordinary length";
            t.description = "A description with two lines.\nThe second line & some <markup> to escape.";
            t.due_date = "2030-01-15";
            t.assignee_ids = std::to_string(user);
            store.CreateTask(user, t);
            hvsvc::Event e;
            e.space_id = space;
            e.title = "Event number " + std::to_string(i);
            e.location = "Room " + std::to_string(i % 40);
            e.description = "Agenda\n1. Status\n2. Next steps";
            e.start_time = 1900000000 + static_cast<int64_t>(i) * 3600;
            e.end_time = *e.start_time + 1800;
            store.CreateEvent(user, e);
        }
        tx.Commit();
    }
    const double fillS = std::chrono::duration<double>(std::chrono::steady_clock::now() - fill0).count();

    hvsvc::ServerOptions opts;
    opts.port = 0;
    hvsvc::CServiceServer server(store, opts);
    if (!server.Bind()) {
        std::fprintf(stderr, "cannot bind\n");
        return;
    }
    std::thread th([&] { server.Run(); });
    httplib::Client c("127.0.0.1", server.Port());
    c.set_read_timeout(600);
    struct Op {
        const char* name;
        std::string body;
    } ops[] = {{"GetMyTasks", Envelope("GetMyTasks", "<m:option>3</m:option>\n<m:last_modified></m:last_modified>\n")},
               {"GetMyEvents", Envelope("GetMyEvents",
                                        "<m:adjust_for_dst>false</m:adjust_for_dst>\n<m:option>3</m:option>\n"
                                        "<m:start_date>2000-01-01T00:00:00Z</m:start_date>\n"
                                        "<m:end_date>2100-01-01T00:00:00Z</m:end_date>\n")}};
    for (const auto& op : ops) {
        const auto t0 = std::chrono::steady_clock::now();
        auto r = c.Post("/soap/v2.2beta/", op.body, "text/xml; charset=utf-8");
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (!r || r->status != 200) {
            std::fprintf(stderr, "%s failed\n", op.name);
            continue;
        }
        std::printf("%-11s %7zu records  %8.3f s  %8.1f MB  peak RSS %5ld MiB  (fill %.1f s)\n", op.name, n, s,
                    r->body.size() / 1e6, PeakRssMiB(), fillS);
        std::fflush(stdout);
    }
    server.Stop();
    th.join();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<size_t> sizes{1000, 10000, 100000};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i) sizes.push_back(std::stoul(argv[i]));
    }
    for (size_t n : sizes) Run(n);
    return 0;
}
