#pragma once
// The reference service's admin interface (JSON over HTTP on the test's loopback address): lets
// a test act as another user, read what the service holds and move the service's clock.
#include <string>
#include <nlohmann/json.hpp>

namespace e2e {

struct HttpAnswer {
    int status = 0;
    std::string body;
};

// One request to http://<address>/<path>; status 0 when the exchange failed.
HttpAnswer Http(const std::string& address, const char* verb, const std::string& path,
                const std::string& body = std::string());

class Admin {
public:
    explicit Admin(std::string address) : m_address(std::move(address)) {}
    nlohmann::json Get(const std::string& path) const;
    nlohmann::json Send(const char* verb, const std::string& path, const nlohmann::json& body) const;
    // The user's current tasks or events.
    nlohmann::json Tasks(const std::string& user) const { return Get("/admin/tasks?user=" + user); }
    nlohmann::json Events(const std::string& user) const { return Get("/admin/events?user=" + user); }
    // The SOAP methods received since `seq` (exclusive), in order.
    std::vector<std::string> MethodsSince(long long seq) const;
    long long LastSeq() const;
    void SetClockOffset(long long seconds) const;

private:
    std::string m_address;
};

}  // namespace e2e
