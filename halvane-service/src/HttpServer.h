// The service's HTTP/1.1 front end on GNU libmicrohttpd: a pool of worker
// threads, a cap on open connections, an idle limit, a deadline for each
// request to arrive, strict header checks and a body size limit, each
// answered with a clear HTTP error or a closed connection.
//
// The add-in's login links carry an unencoded second "?" inside the query
// ("rurl=/home/index?mytasks"), which is legal in a URL query; the target is
// taken raw from the request line and split at its first "?" here, so the
// library's own argument parsing never decides what the query means.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct MHD_Daemon;
struct MHD_Connection;

namespace hvsvc::http {

struct CaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

struct Request {
    std::string method, target, path, query, version, body, remote_addr;
    std::multimap<std::string, std::string, CaseLess> headers;
    std::multimap<std::string, std::string> params;  // query, and url-encoded form bodies

    std::string get_header_value(const std::string& key) const;
    bool has_param(const std::string& key) const;
    std::string get_param_value(const std::string& key) const;
};

// How an answer reaches the client. Anything but Normal exists for fault
// injection: tests see what a broken network or service looks like.
enum class Delivery {
    Normal,
    Truncated,  // the full Content-Length is announced, half the body is sent, the connection closes
    Dropped,    // no answer at all, the connection closes
};

struct Response {
    int status = 200;
    std::multimap<std::string, std::string, CaseLess> headers;
    std::string body;
    Delivery delivery = Delivery::Normal;
    std::chrono::milliseconds delay{0};  // hold the answer this long (the worker stays free)
    size_t body_bytes = 0;               // set by the server: the body's size once it went out

    // What the handler learnt about the request, for the one log line written
    // after the answer went out.
    struct Note {
        std::string method, user, outcome;
        bool soap = false;
    } note;

    void set_header(const std::string& key, const std::string& value);
    std::string get_header_value(const std::string& key) const;
    void set_content(std::string text, const std::string& content_type);
    void set_redirect(const std::string& location, int status = 302);
};

std::string UrlDecode(const std::string& s, bool plus_is_space);
// Splits "a=1&b&c=x?y" into parameters; only the first "=" of each splits.
void ParseParams(const std::string& text, std::multimap<std::string, std::string>& out);

struct Limits {
    unsigned max_connections = 100;             // open connections served; more are answered 503
    std::chrono::milliseconds idle{30000};      // a connection silent this long is closed
    std::chrono::milliseconds deadline{60000};  // a request must arrive whole within this from its first byte
    size_t max_header = 64 * 1024;              // request line and headers
    size_t max_body = 16 * 1024 * 1024;
    unsigned workers = 4;
};

class CHttpServer {
public:
    using Handler = std::function<void(const Request&, Response&)>;
    // Called after each answer went out, with the time it took.
    using Logger = std::function<void(const Request&, const Response&, double ms)>;
    // The library's own diagnostics (refused connections, protocol errors).
    using ErrorLogger = std::function<void(const std::string&)>;

    CHttpServer(Handler handler, Limits limits);
    ~CHttpServer();
    CHttpServer(const CHttpServer&) = delete;
    CHttpServer& operator=(const CHttpServer&) = delete;
    void SetLogger(Logger l) { m_logger = std::move(l); }
    void SetErrorLogger(ErrorLogger l) { m_errorLogger = std::move(l); }

    // port 0 binds any free port; Port() tells which.
    bool Bind(const std::string& host, int port);
    int Port() const { return m_port; }
    // Serves until Stop(); open connections are closed on the way out.
    bool Run();
    void Stop();

    // Connections open right now (served and refused ones).
    unsigned OpenConnections();

    struct Connection;
    struct Exchange;

private:
    static int OnAccess(void* cls, MHD_Connection* c, const char* url, const char* method, const char* version,
                        const char* upload, size_t* upload_size, void** ctx);
    int Access(MHD_Connection* c, const char* method, const char* version, const char* upload, size_t* upload_size,
               void** ctx);
    int StartExchange(MHD_Connection* c, Connection& conn, const char* method, const char* version, Exchange& ex);
    int Queue(MHD_Connection* c, Exchange& ex);
    int QueueError(MHD_Connection* c, Exchange& ex, int status);
    void Completed(MHD_Connection* c, void** ctx);
    void Notify(MHD_Connection* c, void** socketCtx, bool started);
    void UriSeen(MHD_Connection* c, const char* uri);
    void Watch();

    Handler m_handler;
    Logger m_logger;
    ErrorLogger m_errorLogger;
    Limits m_limits;
    int m_listen = -1;
    int m_port = 0;
    MHD_Daemon* m_daemon = nullptr;

    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::map<Connection*, std::unique_ptr<Connection>> m_conns;
    unsigned m_served = 0;  // connections within the cap
    std::thread m_watchdog;

    friend struct Callbacks;
};

}  // namespace hvsvc::http
