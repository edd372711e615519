#include "HttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/tcp.h>  // struct tcp_info with tcpi_bytes_received
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstring>
#include <vector>

namespace hvsvc::http {

bool CaseLess::operator()(const std::string& a, const std::string& b) const {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

std::string Request::get_header_value(const std::string& key) const {
    auto it = headers.find(key);
    return it == headers.end() ? std::string() : it->second;
}
bool Request::has_param(const std::string& key) const {
    return params.count(key) != 0;
}
std::string Request::get_param_value(const std::string& key) const {
    auto it = params.find(key);
    return it == params.end() ? std::string() : it->second;
}

void Response::set_header(const std::string& key, const std::string& value) {
    headers.erase(key);
    headers.emplace(key, value);
}
std::string Response::get_header_value(const std::string& key) const {
    auto it = headers.find(key);
    return it == headers.end() ? std::string() : it->second;
}
void Response::set_content(std::string text, const std::string& content_type) {
    body = std::move(text);
    set_header("Content-Type", content_type);
}
void Response::set_redirect(const std::string& location, int s) {
    // Header injection is impossible: control characters never reach here
    // from the callers, and are dropped if they do.
    std::string clean;
    for (char c : location)
        if (static_cast<unsigned char>(c) >= 0x20) clean += c;
    status = s;
    set_header("Location", clean);
}

std::string UrlDecode(const std::string& s, bool plus_is_space) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (s[i] == '+' && plus_is_space) {
            out += ' ';
        } else {
            out += s[i];
        }
    }
    return out;
}

void ParseParams(const std::string& text, std::multimap<std::string, std::string>& out) {
    size_t i = 0;
    while (i <= text.size()) {
        size_t amp = text.find('&', i);
        if (amp == std::string::npos) amp = text.size();
        const std::string part = text.substr(i, amp - i);
        if (!part.empty()) {
            const size_t eq = part.find('=');
            if (eq == std::string::npos)
                out.emplace(UrlDecode(part, true), "");
            else
                out.emplace(UrlDecode(part.substr(0, eq), true), UrlDecode(part.substr(eq + 1), true));
        }
        i = amp + 1;
    }
}

namespace {

using Clock = std::chrono::steady_clock;

const char* Reason(int status) {
    switch (status) {
        case 400:
            return "Bad Request";
        case 408:
            return "Request Timeout";
        case 411:
            return "Length Required";
        case 413:
            return "Payload Too Large";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

std::string ErrorPage(int status) {
    return "<!DOCTYPE html><html><body><h1>" + std::to_string(status) + " " + Reason(status) + "</h1></body></html>\n";
}

// Bytes the kernel has received on a socket so far: tells when the next
// request on a kept-alive connection began, before the library has a whole
// request line to report.
uint64_t BytesReceived(int fd) {
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0) return 0;
    if (len < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received) return 0;
    return info.tcpi_bytes_received;
}

// RFC 9110 token characters: what a header name may be made of.
bool IsTokenChar(unsigned char c) {
    if (std::isalnum(c)) return true;
    return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != 0;
}
bool IsToken(const char* s) {
    if (!s || !*s) return false;
    for (; *s; ++s)
        if (!IsTokenChar(static_cast<unsigned char>(*s))) return false;
    return true;
}

// Holds the truncated fault answer: the full length is announced, half is sent.
struct TruncatedBody {
    std::string text;
    size_t send;
};

ssize_t ReadTruncated(void* cls, uint64_t pos, char* buf, size_t max) {
    auto* t = static_cast<TruncatedBody*>(cls);
    if (pos >= t->send) return MHD_CONTENT_READER_END_WITH_ERROR;
    const size_t n = std::min<size_t>(max, t->send - pos);
    std::memcpy(buf, t->text.data() + pos, n);
    return static_cast<ssize_t>(n);
}

}  // namespace

// One accepted socket, from the library's "started" to its "closed" notice.
struct CHttpServer::Connection {
    enum class Phase { Waiting, Receiving, Answering };
    MHD_Connection* mhd = nullptr;
    int fd = -1;  // our own duplicate: stays valid until the "closed" notice
    std::string remote;
    bool over_cap = false;
    Phase phase = Phase::Waiting;
    Clock::time_point since;  // when the current phase began
    uint64_t bytes_mark = 0;  // bytes received when the current wait began
    std::string raw_target;   // the request line's target, exactly as sent
    bool expired = false;
    bool suspended = false;
    Clock::time_point resume_at;
};

// One request and its answer.
struct CHttpServer::Exchange {
    Connection* conn = nullptr;
    Request req;
    Response res;
    Clock::time_point start;
    int refuse = 0;  // status to answer once the body has been drained
    size_t drained = 0;
    bool handled = false;   // the handler ran
    bool answered = false;  // an answer was queued (or the connection dropped on purpose)
};

struct Callbacks {
    static MHD_Result Access(void* cls, MHD_Connection* c, const char* url, const char* method, const char* version,
                             const char* upload, size_t* upload_size, void** ctx) {
        return static_cast<MHD_Result>(CHttpServer::OnAccess(cls, c, url, method, version, upload, upload_size, ctx));
    }
    static void Completed(void* cls, MHD_Connection* c, void** ctx, MHD_RequestTerminationCode) {
        try {
            static_cast<CHttpServer*>(cls)->Completed(c, ctx);
        } catch (...) {
        }
    }
    static void Notify(void* cls, MHD_Connection* c, void** socketCtx, MHD_ConnectionNotificationCode code) {
        try {
            static_cast<CHttpServer*>(cls)->Notify(c, socketCtx, code == MHD_CONNECTION_NOTIFY_STARTED);
        } catch (...) {
        }
    }
    static void* Uri(void* cls, const char* uri, MHD_Connection* c) {
        try {
            static_cast<CHttpServer*>(cls)->UriSeen(c, uri);
        } catch (...) {
        }
        return nullptr;
    }
    static void Log(void* cls, const char* fmt, va_list ap) {
        auto* self = static_cast<CHttpServer*>(cls);
        if (!self->m_errorLogger) return;
        char text[512];
        std::vsnprintf(text, sizeof text, fmt, ap);
        std::string line(text);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        try {
            self->m_errorLogger(line);
        } catch (...) {
        }
    }
};

CHttpServer::CHttpServer(Handler handler, Limits limits) : m_handler(std::move(handler)), m_limits(limits) {}

CHttpServer::~CHttpServer() {
    Stop();
    if (m_watchdog.joinable()) m_watchdog.join();
    if (m_daemon) MHD_stop_daemon(m_daemon);
    if (m_listen >= 0) ::close(m_listen);
    for (auto& [p, conn] : m_conns)
        if (conn->fd >= 0) ::close(conn->fd);
}

bool CHttpServer::Bind(const std::string& host, int port) {
    addrinfo hints{}, *res = nullptr;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res) != 0) return false;
    for (auto* ai = res; ai; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) continue;
        int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, 128) == 0) {
            m_listen = fd;
            sockaddr_storage ss{};
            socklen_t len = sizeof ss;
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
            m_port = ss.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port)
                                              : ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
            break;
        }
        ::close(fd);
    }
    ::freeaddrinfo(res);
    return m_listen >= 0;
}

bool CHttpServer::Run() {
    if (m_listen < 0) return false;
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&ss), &len);
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
    if (ss.ss_family == AF_INET6) flags |= MHD_USE_IPv6;
    const unsigned workers = std::max(1u, m_limits.workers);
    // Connections past the cap still get a 503; only far past it does the
    // library close them on accept, so a flood cannot exhaust memory.
    const unsigned hard = m_limits.max_connections * 2 + 16 * workers;
    const unsigned idle = static_cast<unsigned>(std::max<long long>(1, (m_limits.idle.count() + 999) / 1000));
    // The pool of a connection holds the request head plus room to read and
    // answer; heads past max_header are refused with 431 by the library.
    const size_t memory = m_limits.max_header + 16 * 1024;
    // The external logger has to come first to catch the option parser's messages.
    m_daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &Callbacks::Access, this,         //
                                MHD_OPTION_EXTERNAL_LOGGER, &Callbacks::Log, this,            //
                                MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(m_listen),  //
                                MHD_OPTION_THREAD_POOL_SIZE, workers,                         //
                                MHD_OPTION_CONNECTION_LIMIT, hard,                            //
                                MHD_OPTION_CONNECTION_TIMEOUT, idle,                          //
                                MHD_OPTION_CONNECTION_MEMORY_LIMIT, memory,                   //
                                MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::Completed, this,     //
                                MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::Notify, this,       //
                                MHD_OPTION_URI_LOG_CALLBACK, &Callbacks::Uri, this,           //
                                MHD_OPTION_END);
    if (!m_daemon) return false;
    m_listen = -1;  // the daemon closes it when it stops
    m_watchdog = std::thread([this] { Watch(); });
    m_watchdog.join();
    MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
    return true;
}

void CHttpServer::Stop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
    m_wake.notify_all();
}

unsigned CHttpServer::OpenConnections() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<unsigned>(m_conns.size());
}

void CHttpServer::Notify(MHD_Connection* c, void** socketCtx, bool started) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (started) {
        auto conn = std::make_unique<Connection>();
        conn->mhd = c;
        conn->since = Clock::now();
        if (const auto* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD))
            conn->fd = ::fcntl(info->connect_fd, F_DUPFD_CLOEXEC, 0);
        if (const auto* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS)) {
            char addr[INET6_ADDRSTRLEN] = "";
            const sockaddr* sa = info->client_addr;
            if (sa && sa->sa_family == AF_INET)
                ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, addr, sizeof addr);
            else if (sa && sa->sa_family == AF_INET6)
                ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, addr, sizeof addr);
            conn->remote = addr;
        }
        if (conn->fd >= 0) conn->bytes_mark = BytesReceived(conn->fd);
        if (m_served < m_limits.max_connections)
            ++m_served;
        else
            conn->over_cap = true;
        *socketCtx = conn.get();
        m_conns.emplace(conn.get(), std::move(conn));
    } else {
        auto it = m_conns.find(static_cast<Connection*>(*socketCtx));
        if (it == m_conns.end()) return;
        if (!it->second->over_cap) --m_served;
        if (it->second->fd >= 0) ::close(it->second->fd);
        m_conns.erase(it);
        *socketCtx = nullptr;
    }
}

void CHttpServer::UriSeen(MHD_Connection* c, const char* uri) {
    const auto* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    if (!info || !info->socket_context) return;
    auto* conn = static_cast<Connection*>(info->socket_context);
    std::lock_guard<std::mutex> lock(m_mutex);
    conn->raw_target = uri ? uri : "";
    if (conn->phase == Connection::Phase::Waiting) {
        conn->phase = Connection::Phase::Receiving;
        conn->since = Clock::now();
    }
}

int CHttpServer::OnAccess(void* cls, MHD_Connection* c, const char*, const char* method, const char* version,
                          const char* upload, size_t* upload_size, void** ctx) {
    try {
        return static_cast<CHttpServer*>(cls)->Access(c, method, version, upload, upload_size, ctx);
    } catch (...) {
        return MHD_NO;  // closes the connection; nothing may cross into the library
    }
}

int CHttpServer::Access(MHD_Connection* c, const char* method, const char* version, const char* upload,
                        size_t* upload_size, void** ctx) {
    auto* ex = static_cast<Exchange*>(*ctx);
    if (!ex) {
        const auto* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        if (!info || !info->socket_context) return MHD_NO;
        // Owned by the library's request from here on: freed by Completed().
        ex = new Exchange;
        *ctx = ex;
        return StartExchange(c, *static_cast<Connection*>(info->socket_context), method, version, *ex);
    }
    if (ex->answered) {
        *upload_size = 0;
        return MHD_YES;
    }
    if (*upload_size) {
        const size_t n = *upload_size;
        *upload_size = 0;
        if (ex->refuse) {
            // Refused unread: nothing of it reaches the service. The body is
            // drained (within reason) so that the client gets to read the answer.
            ex->drained += n;
            if (ex->drained > 16 * m_limits.max_body) return QueueError(c, *ex, ex->refuse);
            return MHD_YES;
        }
        if (ex->req.body.size() + n > m_limits.max_body) {
            ex->refuse = 413;
            ex->drained = ex->req.body.size() + n;
            std::string().swap(ex->req.body);
            return MHD_YES;
        }
        ex->req.body.append(upload, n);
        return MHD_YES;
    }
    // The whole request is here (or a held answer is due).
    if (ex->refuse) return QueueError(c, *ex, ex->refuse);
    if (!ex->handled) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ex->conn->phase = Connection::Phase::Answering;
        }
        const std::string ct = ex->req.get_header_value("Content-Type");
        if (ex->req.method == "POST" && ct.rfind("application/x-www-form-urlencoded", 0) == 0)
            ParseParams(ex->req.body, ex->req.params);
        try {
            m_handler(ex->req, ex->res);
        } catch (const std::exception& e) {
            ex->res = Response{};
            ex->res.status = 500;
            ex->res.set_content(std::string("Internal error: ") + e.what() + "\n", "text/plain");
        }
        ex->handled = true;
        if (ex->res.delay.count() > 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_stopping) {
                ex->conn->suspended = true;
                ex->conn->resume_at = Clock::now() + ex->res.delay;
                MHD_suspend_connection(c);
                m_wake.notify_all();
                return MHD_YES;
            }
        }
    }
    return Queue(c, *ex);
}

int CHttpServer::StartExchange(MHD_Connection* c, Connection& conn, const char* method, const char* version,
                               Exchange& exchange) {
    Exchange* ex = &exchange;
    ex->conn = &conn;
    ex->start = Clock::now();
    Request& req = ex->req;
    req.method = method ? method : "";
    req.version = version ? version : "";
    req.remote_addr = conn.remote;
    bool over;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        req.target = conn.raw_target;
        over = conn.over_cap;
        if (conn.phase == Connection::Phase::Waiting) {
            conn.phase = Connection::Phase::Receiving;
            conn.since = ex->start;
        }
    }
    // Target: only the first "?" separates path and query.
    const size_t q = req.target.find('?');
    req.path = UrlDecode(req.target.substr(0, q), false);
    if (q != std::string::npos) {
        req.query = req.target.substr(q + 1);
        ParseParams(req.query, req.params);
    }
    bool badName = false;
    std::pair<Request*, bool*> walk(&req, &badName);
    MHD_get_connection_values(
        c, MHD_HEADER_KIND,
        [](void* cls, MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
            auto* e = static_cast<std::pair<Request*, bool*>*>(cls);
            if (!IsToken(key)) *e->second = true;
            e->first->headers.emplace(key ? key : "", value ? value : "");
            return MHD_YES;
        },
        &walk);

    if (over) return QueueError(c, *ex, 503);
    // The library refuses heads that do not fit its buffer; the documented
    // limit is enforced exactly here.
    if (const auto* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE))
        if (info->header_size > m_limits.max_header) return QueueError(c, *ex, 431);
    if (badName) return QueueError(c, *ex, 400);
    const size_t lengths = req.headers.count("Content-Length");
    const size_t encodings = req.headers.count("Transfer-Encoding");
    // A body framed two ways is how requests get smuggled: refuse it.
    if (encodings && lengths) return QueueError(c, *ex, 400);
    if (encodings > 1) return QueueError(c, *ex, 400);
    if (encodings && strcasecmp(req.get_header_value("Transfer-Encoding").c_str(), "chunked") != 0)
        return QueueError(c, *ex, 501);
    if (lengths) {
        std::string first;
        for (auto [it, end] = req.headers.equal_range("Content-Length"); it != end; ++it) {
            const std::string& v = it->second;
            if (v.empty() || v.size() > 15 || !std::all_of(v.begin(), v.end(), ::isdigit))
                return QueueError(c, *ex, 400);
            if (!first.empty() && v != first) return QueueError(c, *ex, 400);
            first = v;
        }
        const unsigned long long len = std::stoull(first);
        if (len > 16ull * m_limits.max_body) return QueueError(c, *ex, 413);
        if (len > m_limits.max_body) {
            // A client waiting for "100 Continue" has not sent the body yet:
            // tell it now rather than have it send what will be thrown away.
            if (strcasecmp(req.get_header_value("Expect").c_str(), "100-continue") == 0) return QueueError(c, *ex, 413);
            ex->refuse = 413;
        }
    }
    return MHD_YES;
}

int CHttpServer::QueueError(MHD_Connection* c, Exchange& ex, int status) {
    ex.handled = false;
    ex.res = Response{};
    ex.res.status = status;
    ex.res.set_content(ErrorPage(status), "text/html; charset=utf-8");
    ex.res.set_header("Connection", "close");
    if (status == 503) ex.res.set_header("Retry-After", "1");
    return Queue(c, ex);
}

int CHttpServer::Queue(MHD_Connection* c, Exchange& ex) {
    ex.answered = true;
    Response& res = ex.res;
    res.body_bytes = res.body.size();
    if (res.delivery == Delivery::Dropped) return MHD_NO;
    MHD_Response* r = nullptr;
    if (res.delivery == Delivery::Truncated) {
        auto* t = new TruncatedBody{std::move(res.body), 0};
        t->send = t->text.size() / 2;
        r = MHD_create_response_from_callback(t->text.size(), 16 * 1024, &ReadTruncated, t,
                                              [](void* p) { delete static_cast<TruncatedBody*>(p); });
        if (!r) delete t;
    } else {
        // Handed over without a copy: a bulk answer can be tens of megabytes.
        auto* body = new std::string(std::move(res.body));
        r = MHD_create_response_from_buffer_with_free_callback_cls(
            body->size(), body->data(), [](void* p) { delete static_cast<std::string*>(p); }, body);
        if (!r) delete body;
    }
    if (!r) return MHD_NO;
    for (const auto& [k, v] : res.headers) {
        if (strcasecmp(k.c_str(), "Content-Length") == 0) continue;
        if (strcasecmp(k.c_str(), "Connection") == 0 && strcasecmp(v.c_str(), "close") != 0) continue;
        MHD_add_response_header(r, k.c_str(), v.c_str());
    }
    const MHD_Result ok = MHD_queue_response(c, static_cast<unsigned>(res.status), r);
    MHD_destroy_response(r);
    return ok;
}

void CHttpServer::Completed(MHD_Connection*, void** ctx) {
    auto* ex = static_cast<Exchange*>(*ctx);
    *ctx = nullptr;
    if (!ex) return;
    std::unique_ptr<Exchange> owned(ex);
    bool expired;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Connection& conn = *ex->conn;
        expired = conn.expired;
        conn.phase = Connection::Phase::Waiting;
        conn.since = Clock::now();
        if (conn.fd >= 0) conn.bytes_mark = BytesReceived(conn.fd);
    }
    if (!ex->answered && expired) {
        ex->res = Response{};
        ex->res.status = 408;
    } else if (!ex->answered) {
        return;  // the client went away before the request was whole
    }
    if (m_logger)
        m_logger(ex->req, ex->res, std::chrono::duration<double, std::milli>(Clock::now() - ex->start).count());
}

void CHttpServer::Watch() {
    const std::string page = ErrorPage(408);
    const std::string k408 =
        "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\nContent-Type: text/html; charset=utf-8\r\n"
        "Content-Length: " +
        std::to_string(page.size()) + "\r\n\r\n" + page;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        const auto now = Clock::now();
        std::vector<MHD_Connection*> resume;
        std::vector<std::string> expiredFrom;
        auto next = now + std::chrono::milliseconds(100);
        for (auto& [p, conn] : m_conns) {
            if (conn->suspended) {
                if (m_stopping || now >= conn->resume_at) {
                    conn->suspended = false;
                    resume.push_back(conn->mhd);
                } else {
                    next = std::min(next, conn->resume_at);
                }
                continue;
            }
            if (conn->expired || conn->fd < 0) continue;
            if (conn->phase == Connection::Phase::Waiting && BytesReceived(conn->fd) > conn->bytes_mark) {
                conn->phase = Connection::Phase::Receiving;
                conn->since = now;
            }
            if (conn->phase == Connection::Phase::Receiving && now - conn->since >= m_limits.deadline) {
                // The request took too long to arrive: say so and close; the
                // library sees the end of the stream and lets the connection go.
                conn->expired = true;
                (void)!::send(conn->fd, k408.data(), k408.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                ::shutdown(conn->fd, SHUT_RDWR);
                expiredFrom.push_back(conn->remote);
            }
        }
        const bool stopping = m_stopping;
        lock.unlock();
        for (auto* c : resume) MHD_resume_connection(c);
        if (m_errorLogger)
            for (const auto& who : expiredFrom)
                m_errorLogger("request deadline passed; connection from " + who + " closed");
        lock.lock();
        if (stopping) {
            // Held answers were released above; none is left suspended.
            bool any = false;
            for (auto& [p, conn] : m_conns) any = any || conn->suspended;
            if (!any) return;
            continue;
        }
        m_wake.wait_until(lock, next);
    }
}

}  // namespace hvsvc::http
