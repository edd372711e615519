#include "HttpServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <strings.h>
#include <thread>

namespace hvsvc::http {

bool CaseLess::operator()(const std::string &a, const std::string &b) const {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

std::string Request::get_header_value(const std::string &key) const {
  auto it = headers.find(key);
  return it == headers.end() ? std::string() : it->second;
}
bool Request::has_param(const std::string &key) const { return params.count(key) != 0; }
std::string Request::get_param_value(const std::string &key) const {
  auto it = params.find(key);
  return it == params.end() ? std::string() : it->second;
}

void Response::set_header(const std::string &key, const std::string &value) {
  headers.erase(key);
  headers.emplace(key, value);
}
std::string Response::get_header_value(const std::string &key) const {
  auto it = headers.find(key);
  return it == headers.end() ? std::string() : it->second;
}
void Response::set_content(std::string text, const std::string &content_type) {
  body = std::move(text);
  set_header("Content-Type", content_type);
}
void Response::set_redirect(const std::string &location, int s) {
  // Header injection is impossible: control characters never reach here
  // from the callers, and are dropped if they do.
  std::string clean;
  for (char c : location)
    if (static_cast<unsigned char>(c) >= 0x20) clean += c;
  status = s;
  set_header("Location", clean);
}

std::string UrlDecode(const std::string &s, bool plus_is_space) {
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

void ParseParams(const std::string &text, std::multimap<std::string, std::string> &out) {
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

const char *Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 302: return "Found";
    case 303: return "See Other";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 411: return "Length Required";
    case 413: return "Payload Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    default: return "Status";
  }
}

bool SendAll(int fd, const char *p, size_t n) {
  while (n) {
    const ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Reads from a connection with an idle limit.
class CReader {
 public:
  CReader(int fd, int timeoutSeconds) : m_fd(fd), m_timeoutMs(timeoutSeconds * 1000) {}
  // Appends more data to the buffer; false on close, error or time-out.
  bool Fill() {
    pollfd p{m_fd, POLLIN, 0};
    const int r = ::poll(&p, 1, m_timeoutMs);
    if (r <= 0) return false;
    char chunk[16384];
    const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buf.append(chunk, static_cast<size_t>(n));
    return true;
  }
  std::string buf;

 private:
  int m_fd;
  int m_timeoutMs;
};

void WriteResponse(int fd, const Response &res, bool keepAlive, bool headOnly) {
  std::string head = "HTTP/1.1 " + std::to_string(res.status) + " " + Reason(res.status) + "\r\n";
  for (const auto &[k, v] : res.headers) {
    if (strcasecmp(k.c_str(), "Content-Length") == 0 || strcasecmp(k.c_str(), "Connection") == 0) continue;
    head += k + ": " + v + "\r\n";
  }
  head += "Content-Length: " + std::to_string(res.body.size()) + "\r\n";
  head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
  if (!SendAll(fd, head.data(), head.size())) return;
  if (!headOnly) SendAll(fd, res.body.data(), res.body.size());
}

}  // namespace

CHttpServer::CHttpServer(Handler handler, size_t max_body)
    : m_handler(std::move(handler)), m_maxBody(max_body) {
  if (::pipe(m_wake) != 0) m_wake[0] = m_wake[1] = -1;
}

CHttpServer::~CHttpServer() {
  Stop();
  if (m_listen >= 0) ::close(m_listen);
  if (m_wake[0] >= 0) ::close(m_wake[0]);
  if (m_wake[1] >= 0) ::close(m_wake[1]);
}

bool CHttpServer::Bind(const std::string &host, int port) {
  addrinfo hints{}, *res = nullptr;
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res) != 0) return false;
  for (auto *ai = res; ai; ai = ai->ai_next) {
    const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, 128) == 0) {
      m_listen = fd;
      sockaddr_storage ss{};
      socklen_t len = sizeof ss;
      ::getsockname(fd, reinterpret_cast<sockaddr *>(&ss), &len);
      m_port = ss.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6 *>(&ss)->sin6_port)
                                        : ntohs(reinterpret_cast<sockaddr_in *>(&ss)->sin_port);
      break;
    }
    ::close(fd);
  }
  ::freeaddrinfo(res);
  return m_listen >= 0;
}

bool CHttpServer::Run() {
  if (m_listen < 0) return false;
  while (!m_stopping) {
    pollfd p[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    const int r = ::poll(p, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (m_stopping || (p[1].revents & POLLIN)) break;
    if (!(p[0].revents & POLLIN)) continue;
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    const int fd = ::accept4(m_listen, reinterpret_cast<sockaddr *>(&ss), &len, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    char addr[INET6_ADDRSTRLEN] = "";
    if (ss.ss_family == AF_INET)
      ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(&ss)->sin_addr, addr, sizeof addr);
    else if (ss.ss_family == AF_INET6)
      ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6 *>(&ss)->sin6_addr, addr, sizeof addr);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_conns.insert(fd);
    }
    std::thread([this, fd, remote = std::string(addr)] {
      Serve(fd, remote);
      std::lock_guard<std::mutex> lock(m_mutex);
      m_conns.erase(fd);
      ::close(fd);
      m_done.notify_all();
    }).detach();
  }
  // Wake every connection thread and wait for them to leave.
  std::unique_lock<std::mutex> lock(m_mutex);
  for (int fd : m_conns) ::shutdown(fd, SHUT_RDWR);
  m_done.wait(lock, [this] { return m_conns.empty(); });
  return true;
}

void CHttpServer::Stop() {
  if (m_stopping.exchange(true)) return;
  if (m_wake[1] >= 0) {
    const char c = 1;
    (void)!::write(m_wake[1], &c, 1);
  }
}

void CHttpServer::Serve(int fd, std::string remote) {
  CReader in(fd, m_idleSeconds);
  while (!m_stopping) {
    // Head.
    size_t end;
    while ((end = in.buf.find("\r\n\r\n")) == std::string::npos) {
      if (in.buf.size() > 64 * 1024) {
        Response res;
        res.status = 431;
        WriteResponse(fd, res, false, false);
        return;
      }
      if (!in.Fill()) return;
    }
    const auto start = std::chrono::steady_clock::now();
    Request req;
    req.remote_addr = remote;
    const std::string head = in.buf.substr(0, end);
    in.buf.erase(0, end + 4);
    size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const size_t s1 = line.find(' '), s2 = line.rfind(' ');
    Response res;
    auto fail = [&](int status) {
      res.status = status;
      res.set_content("<!DOCTYPE html><html><body><h1>" + std::to_string(status) + " " + Reason(status) +
                          "</h1></body></html>\n",
                      "text/html; charset=utf-8");
      WriteResponse(fd, res, false, false);
      if (m_logger)
        m_logger(req, res, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    };
    if (s1 == std::string::npos || s2 == s1) return fail(400);
    req.method = line.substr(0, s1);
    req.target = line.substr(s1 + 1, s2 - s1 - 1);
    req.version = line.substr(s2 + 1);
    if (req.version != "HTTP/1.1" && req.version != "HTTP/1.0") return fail(400);
    while (lineEnd != std::string::npos) {
      const size_t next = head.find("\r\n", lineEnd + 2);
      const std::string h = head.substr(lineEnd + 2, next == std::string::npos ? std::string::npos : next - lineEnd - 2);
      lineEnd = next;
      const size_t colon = h.find(':');
      if (colon == std::string::npos) return fail(400);
      size_t v = colon + 1;
      while (v < h.size() && (h[v] == ' ' || h[v] == '\t')) ++v;
      size_t e = h.size();
      while (e > v && (h[e - 1] == ' ' || h[e - 1] == '\t')) --e;
      req.headers.emplace(h.substr(0, colon), h.substr(v, e - v));
    }
    // Target: only the first "?" separates path and query.
    const size_t q = req.target.find('?');
    req.path = UrlDecode(req.target.substr(0, q), false);
    if (q != std::string::npos) {
      req.query = req.target.substr(q + 1);
      ParseParams(req.query, req.params);
    }
    // Body.
    const std::string te = req.get_header_value("Transfer-Encoding");
    const std::string cl = req.get_header_value("Content-Length");
    if (strcasecmp(req.get_header_value("Expect").c_str(), "100-continue") == 0 && in.buf.empty() &&
        !(cl.size() <= 15 && !cl.empty() && std::all_of(cl.begin(), cl.end(), ::isdigit) &&
          std::stoull(cl) > m_maxBody)) {
      static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
      SendAll(fd, kContinue, sizeof kContinue - 1);
    }
    if (!te.empty() && strcasecmp(te.c_str(), "identity") != 0) {
      if (strcasecmp(te.c_str(), "chunked") != 0) return fail(501);
      for (;;) {
        size_t eol;
        while ((eol = in.buf.find("\r\n")) == std::string::npos)
          if (!in.Fill()) return;
        size_t size = 0;
        try {
          size = std::stoul(in.buf.substr(0, eol), nullptr, 16);
        } catch (...) {
          return fail(400);
        }
        if (req.body.size() + size > m_maxBody) return fail(413);
        in.buf.erase(0, eol + 2);
        while (in.buf.size() < size + 2)
          if (!in.Fill()) return;
        req.body.append(in.buf, 0, size);
        in.buf.erase(0, size + 2);
        if (size == 0) break;  // trailers are not used by our clients
      }
    } else if (!cl.empty()) {
      size_t len = 0;
      if (!std::all_of(cl.begin(), cl.end(), ::isdigit) || cl.size() > 15) return fail(400);
      len = std::stoull(cl);
      // Refused unread: nothing of it reaches the service. The body is
      // drained (within reason) so that the client gets to read the answer.
      if (len > m_maxBody) {
        if (len <= 16 * m_maxBody) {
          size_t left = len;
          while (left) {
            if (in.buf.empty() && !in.Fill()) break;
            const size_t take = std::min(left, in.buf.size());
            in.buf.erase(0, take);
            left -= take;
          }
        }
        return fail(413);
      }
      while (in.buf.size() < len)
        if (!in.Fill()) return;
      req.body = in.buf.substr(0, len);
      in.buf.erase(0, len);
    }
    const std::string ct = req.get_header_value("Content-Type");
    if (req.method == "POST" && ct.rfind("application/x-www-form-urlencoded", 0) == 0)
      ParseParams(req.body, req.params);

    const std::string conn = req.get_header_value("Connection");
    bool keepAlive = req.version == "HTTP/1.1" ? strcasecmp(conn.c_str(), "close") != 0
                                               : strcasecmp(conn.c_str(), "keep-alive") == 0;
    if (m_stopping) keepAlive = false;
    try {
      m_handler(req, res);
    } catch (const std::exception &e) {
      res = Response{};
      res.status = 500;
      res.set_content(std::string("Internal error: ") + e.what() + "\n", "text/plain");
    }
    WriteResponse(fd, res, keepAlive, req.method == "HEAD");
    if (m_logger)
      m_logger(req, res, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (!keepAlive) return;
  }
}

}  // namespace hvsvc::http
