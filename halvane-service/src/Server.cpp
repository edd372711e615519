#include "Server.h"

#include "HttpServer.h"

#include <cstdio>
#include <iomanip>
#include <sstream>

#include "Util.h"

namespace hvsvc {

namespace {

// What the handler learns about the request while it runs (on one worker
// thread); handed to the log line with the answer.
struct RequestContext {
    std::chrono::steady_clock::time_point start;
    std::string method, user, outcome;
    bool logged_soap = false;
};
thread_local RequestContext t_ctx;

// A SOAP request's method and claimed user, read before the operation runs
// so that an injected fault can be matched; empty when unreadable.
std::pair<std::string, std::string> Peek(const std::string& body) {
    try {
        const SoapRequest req = ParseSoapRequest(body);
        return {req.method, req.username};
    } catch (...) {
        return {};
    }
}

const char* kSoapContentType = "text/xml; charset=utf-8";

}  // namespace

// --- request log

void CRequestLog::Add(ReceivedRequest r) {
    std::lock_guard<std::mutex> lock(m_mutex);
    r.seq = m_next++;
    m_items.push_back(std::move(r));
    while (m_items.size() > m_keep) m_items.pop_front();
}

std::vector<ReceivedRequest> CRequestLog::Since(int64_t seq) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<ReceivedRequest> out;
    for (const auto& r : m_items)
        if (r.seq > seq) out.push_back(r);
    return out;
}

void CRequestLog::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_items.clear();
}

// --- sessions

std::string CSessions::Create(int64_t user) {
    std::string token = RandomHex(24);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_map[token] = user;
    return token;
}

std::optional<int64_t> CSessions::Find(const std::string& token) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_map.find(token);
    if (it == m_map.end()) return std::nullopt;
    return it->second;
}

void CSessions::Remove(const std::string& token) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_map.erase(token);
}

// --- server

CServiceServer::CServiceServer(CStore& store, ServerOptions opts)
    : m_store(store),
      m_opts(std::move(opts)),
      m_soap(store),
      m_requests(m_opts.keep_requests),
      m_http(std::make_unique<http::CHttpServer>(
          [this](const http::Request& req, http::Response& res) { Route(req, res); },
          [this] {
              http::Limits l = m_opts.limits;
              l.max_body = m_opts.max_body;
              return l;
          }())) {
    m_http->SetLogger([this](const http::Request& req, const http::Response& res, double ms) { Log(req, res, ms); });
    if (m_opts.log)
        m_http->SetErrorLogger([this](const std::string& text) {
            std::lock_guard<std::mutex> lock(m_logMutex);
            *m_opts.log << FormatTimeZ(Now()) << " http: " << text << "\n" << std::flush;
        });
}

CServiceServer::~CServiceServer() {
    Stop();
}

bool CServiceServer::Bind() {
    if (!m_http->Bind(m_opts.host, m_opts.port)) return false;
    m_port = m_http->Port();
    return true;
}

bool CServiceServer::Run() {
    return m_http->Run();
}

void CServiceServer::Stop() {
    if (m_http) m_http->Stop();
}

void CServiceServer::Route(const http::Request& req, http::Response& res) {
    t_ctx = RequestContext{};
    t_ctx.start = std::chrono::steady_clock::now();
    Dispatch(req, res);
    res.note.method = std::move(t_ctx.method);
    res.note.user = std::move(t_ctx.user);
    res.note.outcome = std::move(t_ctx.outcome);
    res.note.soap = t_ctx.logged_soap;
    t_ctx = RequestContext{};
}

void CServiceServer::Dispatch(const http::Request& req, http::Response& res) {
    const std::string& p = req.path;
    const std::string& m = req.method;
    try {
        if (p == "/admin" || p.rfind("/admin/", 0) == 0) {
            // The administrative interface answers only on the loopback.
            const std::string& a = req.remote_addr;
            if (!(a.rfind("127.", 0) == 0 || a == "::1" || a.rfind("::ffff:127.", 0) == 0)) {
                res.status = 403;
                res.set_content("{\"error\":\"loopback only\"}\n", "application/json");
                return;
            }
            Admin(req, res);
        } else if (m == "POST" && (p == "/" || p == "/soap" || p.rfind("/soap/", 0) == 0)) {
            Soap(req, res);
        } else if ((m == "GET" || m == "HEAD") && p == "/") {
            res.set_redirect("/home/index");
        } else if ((m == "GET" || m == "HEAD") && p == "/home/index") {
            HomeIndex(req, res);
        } else if ((m == "GET" || m == "HEAD") && p == "/loginauth") {
            LoginAuth(req, res);
        } else if ((m == "GET" || m == "POST") && p == "/login") {
            LoginForm(req, res);
        } else if (m == "GET" && p == "/logout") {
            const std::string cookie = req.get_header_value("Cookie");
            auto pos = cookie.find("hvsession=");
            if (pos != std::string::npos) m_sessions.Remove(cookie.substr(pos + 10, 48));
            res.set_header("Set-Cookie", "hvsession=; Path=/; Max-Age=0");
            res.set_redirect("/login");
        } else {
            res.status = 404;
            res.set_content("<!DOCTYPE html><html><body><h1>404 Not Found</h1></body></html>\n",
                            "text/html; charset=utf-8");
        }
    } catch (const std::exception& e) {
        // Never let one request take the service down.
        res = http::Response{};
        res.status = 500;
        t_ctx.outcome = std::string("internal error: ") + e.what();
        if (m == "POST" && p.rfind("/admin", 0) != 0)
            res.set_content(SoapFaultEnvelope("SOAP-ENV:Server", std::string("Internal error: ") + e.what()),
                            kSoapContentType);
        else
            res.set_content("Internal error\n", "text/plain");
    }
}

void CServiceServer::Soap(const http::Request& req, http::Response& res) {
    std::optional<FaultRule> fault;
    std::string peeked;
    if (!m_faults.Empty()) {
        const auto [method, user] = Peek(req.body);
        peeked = method;
        if (!method.empty()) fault = m_faults.Take(method, user);
    }
    // An injected fault replaces or damages the answer. The operation is
    // carried out only when the rule says so (always for a delay, whose answer
    // is the real one); a truncated or malformed answer of an operation not
    // carried out comes from a run that is rolled back.
    const bool run =
        !fault || fault->apply || fault->kind == FaultKind::Truncated || fault->kind == FaultKind::Malformed;
    CSoapService::Result r;
    if (run) r = m_soap.Handle(req.body, !fault || fault->apply);
    t_ctx.method = !r.method.empty() ? r.method : !peeked.empty() ? peeked : "(unreadable)";
    t_ctx.user = r.user;
    t_ctx.outcome = !run ? "not carried out" : r.status == 200 ? "ok" : "fault: " + r.outcome;
    if (r.records) t_ctx.outcome += " (" + std::to_string(r.records) + " records)";
    t_ctx.logged_soap = true;

    res.status = r.status;
    // Moved, not copied: a bulk answer can be large.
    res.body = std::move(r.body);
    res.set_header("Content-Type", kSoapContentType);
    if (fault) {
        switch (fault->kind) {
            case FaultKind::Http500:
                res.status = 500;
                res.set_content("<!DOCTYPE html><html><body><h1>500 Internal Server Error</h1></body></html>\n",
                                "text/html; charset=utf-8");
                break;
            case FaultKind::SoapFault:
                res.status = 500;
                res.set_content(SoapFaultEnvelope("SOAP-ENV:Server", "Service temporarily unavailable"),
                                kSoapContentType);
                break;
            case FaultKind::Truncated:
                res.delivery = http::Delivery::Truncated;
                break;
            case FaultKind::Malformed:
                // The answer's first half, complete in itself: not well-formed XML.
                res.status = 200;
                res.body.resize(res.body.size() / 2);
                break;
            case FaultKind::Close:
                res.status = 0;
                res.body.clear();
                res.delivery = http::Delivery::Dropped;
                break;
            case FaultKind::Delay:
                res.delay = fault->delay;
                break;
        }
        t_ctx.outcome = std::string("injected ") + FaultKindName(fault->kind) + " (" + t_ctx.outcome + ")";
    }

    ReceivedRequest rec;
    rec.time = Now();
    rec.path = req.path;
    rec.method = r.method.empty() ? peeked : r.method;
    rec.user = r.user;
    rec.status = res.status;
    rec.outcome = fault ? t_ctx.outcome : r.status == 200 ? "ok" : r.outcome;
    rec.body = req.body.size() > (1u << 20) ? req.body.substr(0, 1u << 20) : req.body;
    rec.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t_ctx.start).count();
    m_requests.Add(std::move(rec));
}

void CServiceServer::Log(const http::Request& req, const http::Response& res, double ms) {
    if (!m_opts.log) return;
    std::ostringstream line;
    const auto& n = res.note;
    line << FormatTimeZ(Now()) << ' ' << req.remote_addr << ' ' << req.method << ' ' << req.path;
    if (n.soap) line << ' ' << n.method;
    line << " user=" << (n.user.empty() ? "-" : n.user) << " status=" << res.status
         << " result=" << (n.outcome.empty() ? (res.status < 400 ? "ok" : "error") : n.outcome)
         << " bytes=" << res.body_bytes << " time=" << std::fixed << std::setprecision(1) << ms << "ms\n";
    std::lock_guard<std::mutex> lock(m_logMutex);
    *m_opts.log << line.str() << std::flush;
}

bool IsLocalRedirect(const std::string& rurl) {
    if (rurl.empty() || rurl[0] != '/') return false;
    if (rurl.size() > 1 && (rurl[1] == '/' || rurl[1] == '\\')) return false;
    for (unsigned char c : rurl)
        if (c < 0x20 || c == 0x7F || c == '\\') return false;
    return true;
}

}  // namespace hvsvc
