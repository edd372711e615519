// The HTTP side: SOAP endpoint, product web site, administrative JSON
// interface, request log.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "FaultInjector.h"
#include "HttpServer.h"
#include "SoapService.h"
#include "Store.h"

namespace hvsvc {

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 80;                       // 0 = any free port
    size_t max_body = 16 * 1024 * 1024;  // larger request bodies are answered 413
    // Connection cap, idle limit, request deadline, head size, worker threads
    // (its max_body is taken from above).
    http::Limits limits;
    std::ostream* log = nullptr;  // one line per request; null = silent
    size_t keep_requests = 2000;  // requests kept for the administrative interface
};

// What the service received, for tests and the demo.
struct ReceivedRequest {
    int64_t seq = 0;
    int64_t time = 0;
    std::string path, method, user, outcome, body;
    int status = 0;
    double ms = 0;
};

class CRequestLog {
public:
    explicit CRequestLog(size_t keep) : m_keep(keep) {}
    void Add(ReceivedRequest r);
    std::vector<ReceivedRequest> Since(int64_t seq);
    void Clear();

private:
    std::mutex m_mutex;
    std::deque<ReceivedRequest> m_items;
    int64_t m_next = 1;
    size_t m_keep;
};

// Signed-in web users: cookie token -> user id.
class CSessions {
public:
    std::string Create(int64_t user);
    std::optional<int64_t> Find(const std::string& token);
    void Remove(const std::string& token);

private:
    std::mutex m_mutex;
    std::map<std::string, int64_t> m_map;
};

class CServiceServer {
public:
    CServiceServer(CStore& store, ServerOptions opts);
    ~CServiceServer();
    // Binds the listening socket; false when the address cannot be used.
    bool Bind();
    int Port() const { return m_port; }
    // Serves until Stop(); returns false on a failure.
    bool Run();
    void Stop();

    CRequestLog& Requests() { return m_requests; }
    CFaultInjector& Faults() { return m_faults; }

private:
    void Route(const http::Request& req, http::Response& res);
    void Dispatch(const http::Request& req, http::Response& res);
    void Soap(const http::Request& req, http::Response& res);
    void Admin(const http::Request& req, http::Response& res);
    void HomeIndex(const http::Request& req, http::Response& res);
    void LoginAuth(const http::Request& req, http::Response& res);
    void LoginForm(const http::Request& req, http::Response& res);
    std::optional<User> WebUser(const http::Request& req);
    void Log(const http::Request& req, const http::Response& res, double ms);

    CStore& m_store;
    ServerOptions m_opts;
    CSoapService m_soap;
    CSessions m_sessions;
    CRequestLog m_requests;
    CFaultInjector m_faults;
    std::unique_ptr<http::CHttpServer> m_http;
    int m_port = 0;
    std::mutex m_logMutex;
};

// A path of this site that a login may redirect to; anything else (another
// host, a scheme, "//host", backslashes, control characters) is refused.
bool IsLocalRedirect(const std::string& rurl);

}  // namespace hvsvc
