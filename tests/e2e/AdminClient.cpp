#include "e2e/AdminClient.h"

#include <windows.h>
#include <wininet.h>
#include <stdexcept>
#include "win/UniqueAny.h"

namespace e2e {
namespace {
struct close_inet {
    void operator()(HINTERNET h) const noexcept { ::InternetCloseHandle(h); }
};
using unique_inet = hv::unique_any<HINTERNET, close_inet>;
}  // namespace

HttpAnswer Http(const std::string& address, const char* verb, const std::string& path, const std::string& body) {
    HttpAnswer answer;
    unique_inet session(::InternetOpenA("hv-e2e", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!session) return answer;
    unique_inet connection(
        ::InternetConnectA(session.get(), address.c_str(), 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return answer;
    unique_inet request(::HttpOpenRequestA(connection.get(), verb, path.c_str(), nullptr, nullptr, nullptr,
                                           INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request) return answer;
    const char* headers = "Content-Type: application/json\r\n";
    if (!::HttpSendRequestA(request.get(), headers, static_cast<DWORD>(-1), const_cast<char*>(body.data()),
                            static_cast<DWORD>(body.size())))
        return answer;
    DWORD status = 0, size = sizeof status;
    ::HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
    answer.status = static_cast<int>(status);
    char buffer[8192];
    DWORD read = 0;
    while (::InternetReadFile(request.get(), buffer, sizeof buffer, &read) && read > 0)
        answer.body.append(buffer, read);
    return answer;
}

nlohmann::json Admin::Get(const std::string& path) const {
    HttpAnswer a = Http(m_address, "GET", path);
    if (a.status < 200 || a.status >= 300)
        throw std::runtime_error("GET " + path + " answered " + std::to_string(a.status) + " " + a.body);
    return nlohmann::json::parse(a.body);
}

nlohmann::json Admin::Send(const char* verb, const std::string& path, const nlohmann::json& body) const {
    HttpAnswer a = Http(m_address, verb, path, body.is_null() ? std::string() : body.dump());
    if (a.status < 200 || a.status >= 300)
        throw std::runtime_error(std::string(verb) + " " + path + " answered " + std::to_string(a.status) + " " +
                                 a.body);
    return a.body.empty() ? nlohmann::json() : nlohmann::json::parse(a.body);
}

std::vector<std::string> Admin::MethodsSince(long long seq) const {
    std::vector<std::string> methods;
    nlohmann::json list = Get("/admin/requests?since=" + std::to_string(seq));
    if (list.is_object() && list.contains("requests")) list = list["requests"];
    for (const auto& r : list) {
        if (r.value("seq", 0LL) <= seq) continue;
        methods.push_back(r.value("method", std::string()));
    }
    return methods;
}

long long Admin::LastSeq() const {
    nlohmann::json list = Get("/admin/requests");
    if (list.is_object() && list.contains("requests")) list = list["requests"];
    long long last = 0;
    for (const auto& r : list) last = std::max(last, r.value("seq", 0LL));
    return last;
}

void Admin::SetClockOffset(long long seconds) const {
    Send("POST", "/admin/clock", nlohmann::json{{"offset_seconds", seconds}});
}

}  // namespace e2e
