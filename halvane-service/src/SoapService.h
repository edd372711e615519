// The SOAP side of the service: reads a request envelope as the add-in writes
// it, runs the operation against the store in one transaction, and writes the
// answer envelope (or a fault).
#pragma once

#include <map>
#include <string>

#include "Store.h"

namespace hvsvc {

struct SoapRequest {
    std::string method;  // local name of the first element in the body
    std::string username, password;
    bool has_credentials = false;
    std::map<std::string, std::string> args;  // direct children of the method element

    bool Has(const std::string& name) const { return args.count(name) != 0; }
    const std::string& Arg(const std::string& name) const;  // fault when missing
    std::string Opt(const std::string& name) const;         // empty when missing
};

// Parses an envelope; throws Fault on anything that is not one.
SoapRequest ParseSoapRequest(const std::string& body);

// The answer envelope around a body text.
std::string SoapEnvelope(const std::string& body_xml);
std::string SoapFaultEnvelope(const std::string& code, const std::string& text);

class CSoapService {
public:
    struct Result {
        int status = 200;
        std::string body;
        std::string method;   // "" when the envelope could not be read
        std::string user;     // "" when not authenticated
        std::string outcome;  // "ok" or the fault text
        size_t records = 0;   // records in a bulk answer
    };

    explicit CSoapService(CStore& store) : m_store(store) {}
    // commit false answers as usual but rolls every change back.
    Result Handle(const std::string& body, bool commit = true);

    // The version CheckPluginVersion answers; kept in the store's settings.
    static constexpr const char* kDefaultPluginVersion = "2.2.0.0";

private:
    void Dispatch(const SoapRequest& req, const User& user, size_t& records, std::string& out, bool commit);
    std::string CheckPluginVersion(const SoapRequest& req, const User& user);
    std::string GetUserPaths(const SoapRequest& req, const User& user);
    std::string GetWorkspaceMemberList(const SoapRequest& req, const User& user);
    std::string GetCategory(const SoapRequest& req, const User& user);
    std::string GetTask(const SoapRequest& req, const User& user);
    std::string GetEvent(const SoapRequest& req, const User& user);
    std::string PushTask(const SoapRequest& req, const User& user, bool create);
    std::string PushEvent(const SoapRequest& req, const User& user, bool create);
    std::string DeleteTask(const SoapRequest& req, const User& user);
    std::string DeleteEvent(const SoapRequest& req, const User& user);
    void GetMyTasks(const SoapRequest& req, const User& user, size_t& records, std::string& out);
    void GetMyEvents(const SoapRequest& req, const User& user, size_t& records, std::string& out);

    CStore& m_store;
};

// Record writers, shared with the benchmark.
void AppendTaskXml(std::string& out, const char* element, const Task& t);
void AppendEventXml(std::string& out, const char* element, const Event& e);

}  // namespace hvsvc
