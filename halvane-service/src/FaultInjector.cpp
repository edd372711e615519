#include "FaultInjector.h"

#include <cmath>
#include <stdexcept>

namespace hvsvc {

using nlohmann::json;

namespace {
const struct {
    FaultKind kind;
    const char* name;
} kKinds[] = {{FaultKind::Http500, "http_500"},    {FaultKind::SoapFault, "soap_fault"},
              {FaultKind::Truncated, "truncated"}, {FaultKind::Malformed, "malformed"},
              {FaultKind::Close, "close"},         {FaultKind::Delay, "delay"}};
}  // namespace

const char* FaultKindName(FaultKind k) {
    for (const auto& e : kKinds)
        if (e.kind == k) return e.name;
    return "?";
}

std::optional<FaultKind> ParseFaultKind(const std::string& name) {
    for (const auto& e : kKinds)
        if (name == e.name) return e.kind;
    return std::nullopt;
}

json FaultRule::ToJson() const {
    json j{{"id", id},           {"operation", operation}, {"user", user},  {"fault", FaultKindName(kind)},
           {"remaining", count}, {"fired", fired},         {"apply", apply}};
    if (kind == FaultKind::Delay) j["seconds"] = static_cast<double>(delay.count()) / 1000.0;
    return j;
}

FaultRule CFaultInjector::Add(const json& request) {
    if (!request.is_object()) throw std::invalid_argument("a fault is a JSON object");
    FaultRule r;
    if (!request.contains("operation") || !request["operation"].is_string() ||
        request["operation"].get<std::string>().empty())
        throw std::invalid_argument("say which operation with \"operation\" (a SOAP method name or \"*\")");
    r.operation = request["operation"].get<std::string>();
    if (!request.contains("fault") || !request["fault"].is_string())
        throw std::invalid_argument(
            "say which fault with \"fault\": http_500, soap_fault, truncated, malformed, close or delay");
    const auto kind = ParseFaultKind(request["fault"].get<std::string>());
    if (!kind) throw std::invalid_argument("unknown fault \"" + request["fault"].get<std::string>() + "\"");
    r.kind = *kind;
    if (request.contains("count")) {
        if (!request["count"].is_number_integer() || request["count"].get<int64_t>() < 1 ||
            request["count"].get<int64_t>() > 1000000)
            throw std::invalid_argument("\"count\" is a whole number from 1");
        r.count = request["count"].get<int>();
    }
    if (request.contains("user")) {
        if (!request["user"].is_string()) throw std::invalid_argument("\"user\" is a user name");
        r.user = request["user"].get<std::string>();
    }
    if (request.contains("apply")) {
        if (!request["apply"].is_boolean()) throw std::invalid_argument("\"apply\" is true or false");
        r.apply = request["apply"].get<bool>();
    }
    if (r.kind == FaultKind::Delay) {
        if (!request.contains("seconds") || !request["seconds"].is_number() ||
            !(request["seconds"].get<double>() > 0) || request["seconds"].get<double>() > 3600)
            throw std::invalid_argument("a delay needs \"seconds\" (more than 0, at most 3600)");
        r.delay = std::chrono::milliseconds(std::llround(request["seconds"].get<double>() * 1000));
        // The held answer is the real one, so the operation has been carried out.
        r.apply = true;
    } else if (request.contains("seconds")) {
        throw std::invalid_argument("\"seconds\" belongs to a delay");
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    r.id = m_next++;
    m_rules.push_back(r);
    return r;
}

std::vector<FaultRule> CFaultInjector::List() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_rules.begin(), m_rules.end()};
}

size_t CFaultInjector::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    const size_t n = m_rules.size();
    m_rules.clear();
    return n;
}

bool CFaultInjector::Remove(int64_t id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_rules.begin(); it != m_rules.end(); ++it)
        if (it->id == id) {
            m_rules.erase(it);
            return true;
        }
    return false;
}

bool CFaultInjector::Empty() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& r : m_rules)
        if (r.count > 0) return false;
    return true;
}

std::optional<FaultRule> CFaultInjector::Take(const std::string& operation, const std::string& user) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_rules.begin(); it != m_rules.end(); ++it) {
        if (it->count <= 0) continue;
        if (it->operation != "*" && it->operation != operation) continue;
        if (!it->user.empty() && it->user != user) continue;
        --it->count;
        ++it->fired;
        return *it;
    }
    return std::nullopt;
}

}  // namespace hvsvc
