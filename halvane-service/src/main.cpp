// halvane-service: the reference Halvane service.
#include <pthread.h>
#include <signal.h>

#include <cstring>
#include <iostream>
#include <thread>

#include "Seed.h"
#include "Server.h"
#include "Store.h"

namespace {

int Usage(std::ostream& os, int rc) {
    os << "usage:\n"
          "  halvane-service serve --listen ADDR:PORT --db FILE [--seed FILE.json] [--quiet]\n"
          "      Serve the SOAP operations, the web site and the loopback admin interface.\n"
          "      ADDR:PORT defaults to 127.0.0.1:80, FILE may be :memory:. The seed file is\n"
          "      loaded only into a database that holds no users yet.\n"
          "  halvane-service seed --db FILE FILE.json\n"
          "      Load a data set into the database and exit.\n";
    return rc;
}

bool SplitListen(const std::string& text, std::string& host, int& port) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return false;
    host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    try {
        size_t used = 0;
        port = std::stoi(text.substr(colon + 1), &used);
        if (used != text.size() - colon - 1 || port < 0 || port > 65535) return false;
    } catch (...) {
        return false;
    }
    return !host.empty();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage(std::cerr, 2);
    const std::string cmd = argv[1];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") return Usage(std::cout, 0);
    std::string listen = "127.0.0.1:80", db, seed;
    bool quiet = false;
    std::vector<std::string> rest;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
            into = argv[++i];
        };
        try {
            if (a == "--listen")
                value(listen);
            else if (a == "--db")
                value(db);
            else if (a == "--seed")
                value(seed);
            else if (a == "--quiet")
                quiet = true;
            else if (!a.empty() && a[0] == '-') {
                std::cerr << "unknown option " << a << "\n";
                return Usage(std::cerr, 2);
            } else
                rest.push_back(a);
        } catch (const std::exception& e) {
            std::cerr << e.what() << "\n";
            return 2;
        }
    }
    if (db.empty()) {
        std::cerr << "--db is required\n";
        return Usage(std::cerr, 2);
    }
    try {
        if (cmd == "seed") {
            if (rest.size() != 1) return Usage(std::cerr, 2);
            hvsvc::CStore store(db);
            hvsvc::LoadSeedFile(store, rest[0]);
            std::cout << "seeded " << db << " from " << rest[0] << "\n";
            return 0;
        }
        if (cmd != "serve" || !rest.empty()) return Usage(std::cerr, 2);

        hvsvc::ServerOptions opts;
        if (!SplitListen(listen, opts.host, opts.port)) {
            std::cerr << "invalid --listen " << listen << " (expected ADDR:PORT)\n";
            return 2;
        }
        opts.log = quiet ? nullptr : &std::cerr;

        // Signals are taken by one thread with sigwait; every other thread
        // (the server's workers included) inherits the blocked mask.
        sigset_t sigs;
        sigemptyset(&sigs);
        sigaddset(&sigs, SIGINT);
        sigaddset(&sigs, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &sigs, nullptr);
        signal(SIGPIPE, SIG_IGN);

        hvsvc::CStore store(db);
        if (!seed.empty()) {
            if (store.Users().empty())
                hvsvc::LoadSeedFile(store, seed);
            else
                std::cerr << "database already holds users; seed " << seed << " skipped\n";
        }
        hvsvc::CServiceServer server(store, opts);
        if (!server.Bind()) {
            std::cerr << "cannot listen on " << listen << ": " << std::strerror(errno) << "\n";
            return 1;
        }
        std::thread waiter([&] {
            int sig = 0;
            sigwait(&sigs, &sig);
            if (!quiet) std::cerr << "signal " << sig << ", stopping\n";
            server.Stop();
        });
        std::cout << "listening on " << opts.host << ":" << server.Port() << std::endl;
        const bool ok = server.Run();
        // Run() also returns when the socket fails; wake the waiter then.
        pthread_kill(waiter.native_handle(), SIGTERM);
        waiter.join();
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "halvane-service: " << e.what() << "\n";
        return 1;
    }
}
