// Faults on demand: "the next N calls of operation X answer with Y", set up
// through the administrative interface so that tests see how clients cope
// with a failing service or network.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace hvsvc {

enum class FaultKind { Http500, SoapFault, Truncated, Malformed, Close, Delay };

const char* FaultKindName(FaultKind k);
std::optional<FaultKind> ParseFaultKind(const std::string& name);

struct FaultRule {
    int64_t id = 0;
    std::string operation;  // SOAP method name, or "*" for any
    std::string user;       // "" = any user
    FaultKind kind = FaultKind::Http500;
    int count = 1;  // calls still to be hit
    int fired = 0;
    std::chrono::milliseconds delay{0};  // Delay only
    bool apply = false;                  // carry the operation out before answering with the fault

    nlohmann::json ToJson() const;
};

class CFaultInjector {
public:
    // Validates a rule as posted to the administrative interface; throws
    // std::invalid_argument with a message for the caller.
    FaultRule Add(const nlohmann::json& request);
    std::vector<FaultRule> List();
    size_t Reset();
    bool Remove(int64_t id);
    // The first rule matching this call that has calls left, with one taken.
    // Used-up rules stay listed (remaining 0) until a reset.
    std::optional<FaultRule> Take(const std::string& operation, const std::string& user);
    bool Empty();  // no rule has calls left

private:
    std::mutex m_mutex;
    std::deque<FaultRule> m_rules;
    int64_t m_next = 1;
};

}  // namespace hvsvc
