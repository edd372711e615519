// A running service on a loopback port with a small data set, and request
// bodies written the way the add-in writes them.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

#include "Server.h"
#include "Store.h"

namespace hvtest {

// The add-in's byte-wise XML escaping of user texts.
std::string ClientEscape(const std::string& s);
// Envelope head and foot exactly as the add-in formats them.
std::string Head(const std::string& user, const std::string& password);
extern const char* const kFoot;

// Bodies of the operations, byte for byte.
std::string CheckPluginVersionBody(const std::string& user, const std::string& pw, const std::string& version,
                                   const std::string& env);
std::string GetUserPathsBody(const std::string& user, const std::string& pw, const std::string& type);
std::string GetWorkspaceMemberListBody(const std::string& user, const std::string& pw, const std::string& space);
std::string GetCategoryBody(const std::string& user, const std::string& pw, const std::string& space,
                            const std::string& cat);
std::string GetTaskBody(const std::string& user, const std::string& pw, const std::string& id);
std::string GetEventBody(const std::string& user, const std::string& pw, const std::string& id);
std::string DeleteTaskBody(const std::string& user, const std::string& pw, const std::string& id);
std::string DeleteEventBody(const std::string& user, const std::string& pw, const std::string& id);
std::string GetMyTasksBody(const std::string& user, const std::string& pw, int option, const std::string& lastModified);
std::string GetMyEventsBody(const std::string& user, const std::string& pw, int option, const std::string& start,
                            const std::string& end);

struct TaskArgs {
    std::string id, space = "0", tasklist = "0";
    bool completed = false;
    int priority = 2;
    bool sendEmail = false, addToLog = true;
    std::string title, description, start, due, assignees;
};
std::string PushTaskBody(const std::string& user, const std::string& pw, const TaskArgs& a);

struct EventArgs {
    std::string id, space = "0", title, location, organizer, internalUse = "false";
    std::string description, start, end, assignees;  // start/end in "+00:00" form
    bool sendEmail = false, addToLog = true, laterOccurrence = false;
};
std::string PushEventBody(const std::string& user, const std::string& pw, const EventArgs& a);

// Test data: alice (1) and bob (2) and carol (3); workspaces Alpha (1:
// alice, bob) and Beta (2: alice); Alpha's folders Docs (11) > 2009 (12),
// task list Todo (13), calendar (14), database record (15 under 11).
extern const char* const kTestSeed;

class ServiceFixture {
public:
    explicit ServiceFixture(const std::string& db = ":memory:", bool seed = true);
    // An in-memory service with the test data and these options (on a free
    // port whatever opts.port says).
    explicit ServiceFixture(hvsvc::ServerOptions opts);
    ~ServiceFixture();
    void Stop();

    httplib::Result Post(const std::string& body, const std::string& path = "/soap/v2.2beta/");
    // Posts and parses; the answer's body element text in `xml`.
    int Soap(const std::string& body, std::string& xml);
    httplib::Client& Client() { return *m_client; }

    hvsvc::CStore& Store() { return *m_store; }
    int Port() const { return m_port; }

private:
    std::unique_ptr<hvsvc::CStore> m_store;
    std::unique_ptr<hvsvc::CServiceServer> m_server;
    std::unique_ptr<httplib::Client> m_client;
    std::thread m_thread;
    int m_port = 0;

    void Start(hvsvc::ServerOptions opts);
};

// Text of the first element with this qualified name, or "<missing>".
std::string ElementText(const std::string& xml, const std::string& qname);
int CountElements(const std::string& xml, const std::string& qname);

}  // namespace hvtest
