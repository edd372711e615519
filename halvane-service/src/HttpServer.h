// A small HTTP/1.1 server: persistent connections, Content-Length and
// chunked bodies, a body size limit (413), one thread per connection.
//
// The add-in's login links carry an unencoded second "?" inside the query
// ("rurl=/home/index?mytasks"), which is legal in a URL query; cpp-httplib
// 0.11's server refuses such a request line with 400, so the service parses
// requests itself.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace hvsvc::http {

struct CaseLess {
  bool operator()(const std::string &a, const std::string &b) const;
};

struct Request {
  std::string method, target, path, query, version, body, remote_addr;
  std::multimap<std::string, std::string, CaseLess> headers;
  std::multimap<std::string, std::string> params;  // query, and url-encoded form bodies

  std::string get_header_value(const std::string &key) const;
  bool has_param(const std::string &key) const;
  std::string get_param_value(const std::string &key) const;
};

struct Response {
  int status = 200;
  std::multimap<std::string, std::string, CaseLess> headers;
  std::string body;

  void set_header(const std::string &key, const std::string &value);
  std::string get_header_value(const std::string &key) const;
  void set_content(std::string text, const std::string &content_type);
  void set_redirect(const std::string &location, int status = 302);
};

std::string UrlDecode(const std::string &s, bool plus_is_space);
// Splits "a=1&b&c=x?y" into parameters; only the first "=" of each splits.
void ParseParams(const std::string &text, std::multimap<std::string, std::string> &out);

class CHttpServer {
 public:
  using Handler = std::function<void(const Request &, Response &)>;
  // Called after each answer went out, with the time it took.
  using Logger = std::function<void(const Request &, const Response &, double ms)>;

  CHttpServer(Handler handler, size_t max_body);
  ~CHttpServer();
  void SetLogger(Logger l) { m_logger = std::move(l); }
  void SetIdleTimeout(int seconds) { m_idleSeconds = seconds; }

  // port 0 binds any free port; Port() tells which.
  bool Bind(const std::string &host, int port);
  int Port() const { return m_port; }
  // Accepts until Stop(); waits for open connections to finish.
  bool Run();
  void Stop();

 private:
  void Serve(int fd, std::string remote);

  Handler m_handler;
  Logger m_logger;
  size_t m_maxBody;
  int m_idleSeconds = 30;
  int m_listen = -1;
  int m_port = 0;
  int m_wake[2] = {-1, -1};
  std::atomic<bool> m_stopping{false};
  std::mutex m_mutex;
  std::condition_variable m_done;
  std::set<int> m_conns;
};

}  // namespace hvsvc::http
