#include "ServiceTestSupport.h"

#include <pugixml.hpp>

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "Seed.h"

namespace hvtest {

const char* const kFoot = "</SOAP-ENV:Envelope>\n";

std::string ClientEscape(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == 9)
            out += "&#9;";
        else if (c == 10 || c == 13 || c == 32 || c == 46 || c == 59 || (c >= '0' && c <= '9') ||
                 (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            out += static_cast<char>(c);
        else if (c < 32)
            continue;
        else if (c == '"')
            out += "&quot;";
        else if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == 145 || c == 146)
            out += "&#39;";
        else
            out += "&#" + std::to_string(c) + ";";  // punctuation and bytes 127-255
    }
    return out;
}

std::string Head(const std::string& user, const std::string& password) {
    return "<SOAP-ENV:Envelope\nxmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"\n"
           "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\"\n"
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"\n"
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"\nxmlns:m1=\"urn:Halvane/API\">\n"
           "<SOAP-ENV:Header>\n<m:SessionHeader xmlns:m=\"urn:Halvane/API\">\n<m:username>" +
           ClientEscape(user) + "</m:username>\n<m:password>" + ClientEscape(password) +
           "</m:password>\n</m:SessionHeader>\n</SOAP-ENV:Header>\n";
}

namespace {
std::string Wrap(const std::string& user, const std::string& pw, const std::string& op, const std::string& inner) {
    return Head(user, pw) + "<SOAP-ENV:Body>\n<m:" + op + " xmlns:m=\"urn:Halvane/API\">\n" + inner + "</m:" + op +
           ">\n</SOAP-ENV:Body>\n" + kFoot;
}
const char* TF(bool b) {
    return b ? "true" : "false";
}
}  // namespace

std::string CheckPluginVersionBody(const std::string& u, const std::string& p, const std::string& version,
                                   const std::string& env) {
    return Wrap(u, p, "CheckPluginVersion",
                "<m:plugin_type>outlook</m:plugin_type>\n<m:version>" + version + "</m:version>\n<m:environment>" +
                    ClientEscape(env) + "</m:environment>\n<m:comments></m:comments>\n");
}
std::string GetUserPathsBody(const std::string& u, const std::string& p, const std::string& type) {
    return Wrap(u, p, "GetUserPaths", "<m:category_type>" + type + "</m:category_type>\n");
}
std::string GetWorkspaceMemberListBody(const std::string& u, const std::string& p, const std::string& space) {
    return Wrap(u, p, "GetWorkspaceMemberList", "<m:space_id>" + space + "</m:space_id>\n");
}
std::string GetCategoryBody(const std::string& u, const std::string& p, const std::string& space,
                            const std::string& cat) {
    return Wrap(u, p, "GetCategory",
                "<m:space_id>" + space + "</m:space_id>\n<m:category_id>" + cat + "</m:category_id>\n");
}
std::string GetTaskBody(const std::string& u, const std::string& p, const std::string& id) {
    return Wrap(u, p, "GetTask", "<m:task_id>" + id + "</m:task_id>\n");
}
std::string GetEventBody(const std::string& u, const std::string& p, const std::string& id) {
    return Wrap(u, p, "GetEvent", "<m:adjust_for_dst>false</m:adjust_for_dst>\n<m:event_id>" + id + "</m:event_id>\n");
}
std::string DeleteTaskBody(const std::string& u, const std::string& p, const std::string& id) {
    return Wrap(u, p, "DeleteTask",
                "<m:add_to_activity_log></m:add_to_activity_log>\n<m:task_id>" + id + "</m:task_id>\n");
}
std::string DeleteEventBody(const std::string& u, const std::string& p, const std::string& id) {
    return Wrap(u, p, "DeleteEvent",
                "<m:add_to_activity_log></m:add_to_activity_log>\n<m:event_id>" + id + "</m:event_id>\n");
}
std::string GetMyTasksBody(const std::string& u, const std::string& p, int option, const std::string& lm) {
    return Wrap(u, p, "GetMyTasks",
                "<m:option>" + std::to_string(option) + "</m:option>\n<m:last_modified>" + lm + "</m:last_modified>\n");
}
std::string GetMyEventsBody(const std::string& u, const std::string& p, int option, const std::string& start,
                            const std::string& end) {
    return Wrap(u, p, "GetMyEvents",
                "<m:adjust_for_dst>false</m:adjust_for_dst>\n<m:option>" + std::to_string(option) +
                    "</m:option>\n<m:start_date>" + start + "</m:start_date>\n<m:end_date>" + end + "</m:end_date>\n");
}

std::string PushTaskBody(const std::string& u, const std::string& p, const TaskArgs& a) {
    const bool create = a.id.empty();
    const std::string op = create ? "CreateTask" : "UpdateTask";
    std::string s = Head(u, p) + "<SOAP-ENV:Body>\n<m:" + op + " xmlns:m=\"urn:Halvane/API\">\n";
    if (!create) s += "<m:task_id>" + a.id + "</m:task_id>\n";
    s += "<m:space_id>" + a.space + "</m:space_id>\n<m:tasklist_id>" + a.tasklist +
         "</m:tasklist_id>\n<m:is_description_html>false</m:is_description_html>\n<m:completed>" + TF(a.completed) +
         "</m:completed>\n<m:priority>" + std::to_string(a.priority) + "</m:priority>\n<m:send_email>" +
         TF(a.sendEmail) + "</m:send_email>\n<m:add_to_activity_log>" + (create ? "true" : TF(a.addToLog)) +
         "</m:add_to_activity_log>\n";
    s += a.title.empty() ? "<m:title></m:title>\n" : "<m:title>" + ClientEscape(a.title) + "</m:title>\n";
    s += "<m:description>" + ClientEscape(a.description) + "</m:description>\n";
    if (!a.start.empty()) s += "<m:start_date>" + a.start + "</m:start_date>\n";
    if (!a.due.empty()) s += "<m:due_date>" + a.due + "</m:due_date>\n";
    s += "<m:assigned_to_userids>" + a.assignees + "</m:assigned_to_userids>\n";
    s += "</m:" + op + ">\n</SOAP-ENV:Body>\n" + kFoot;
    return s;
}

std::string PushEventBody(const std::string& u, const std::string& p, const EventArgs& a) {
    const bool create = a.id.empty();
    const std::string op = create ? "CreateEvent" : "UpdateEvent";
    const std::string loc = a.location.empty() ? "" : ClientEscape(a.location);
    std::string s = Head(u, p) + "<SOAP-ENV:Body>\n<m:" + op + " xmlns:m=\"urn:Halvane/API\">\n";
    if (create) {
        s += "<m:space_id>" + a.space + "</m:space_id>\n<m:title>" + ClientEscape(a.title) +
             "</m:title>\n<m:location>" + loc +
             "</m:location>\n<m:internal_use_only>false</m:internal_use_only>\n<m:adjust_for_dst>false</"
             "m:adjust_for_dst>\n"
             "<m:is_description_html>false</m:is_description_html>\n<m:send_email>" +
             TF(a.sendEmail) + "</m:send_email>\n<m:add_to_activity_log>" + TF(!a.laterOccurrence && a.addToLog) +
             "</m:add_to_activity_log>\n";
    } else {
        s += "<m:event_id>" + a.id + "</m:event_id>\n<m:space_id>" + a.space + "</m:space_id>\n<m:title>" +
             ClientEscape(a.title) + "</m:title>\n<m:location>" + loc + "</m:location>\n<m:internal_use_only>" +
             a.internalUse + "</m:internal_use_only>\n<m:organizer>" + a.organizer +
             "</m:organizer>\n<m:adjust_for_dst>false</m:adjust_for_dst>\n<m:is_description_html>false</"
             "m:is_description_html>\n"
             "<m:send_email>" +
             TF(a.sendEmail) + "</m:send_email>\n<m:add_to_activity_log>" + TF(a.addToLog) +
             "</m:add_to_activity_log>\n";
    }
    s += "<m:description>" + ClientEscape(a.description) + "</m:description>\n";
    s += "<m:start_time>" + ClientEscape(a.start) + "</m:start_time><m:end_time>" + ClientEscape(a.end) +
         "</m:end_time>\n";
    s += "<m:assigned_to_userids>" + a.assignees + "</m:assigned_to_userids>\n";
    s += "</m:" + op + ">\n</SOAP-ENV:Body>\n" + kFoot;
    return s;
}

const char* const kTestSeed = R"({
 "users": [
  {"id": 1, "username": "alice", "password": "a-secret", "full_name": "Alice Archer", "email": "alice@example.com", "phone": "1"},
  {"id": 2, "username": "bob", "password": "b-secret", "full_name": "Bob Baker", "email": "bob@example.com"},
  {"id": 3, "username": "carol", "password": "c-secret", "full_name": "Carol Cook"}
 ],
 "workspaces": [
  {"id": 1, "name": "Alpha", "members": ["alice", "bob"], "categories": [
    {"id": 11, "name": "Docs", "type": "folder", "email_primary": "docs@alpha.example", "children": [
      {"id": 12, "name": "2009", "type": "folder"},
      {"id": 15, "name": "Acme", "type": "database", "db_guid": "guid-15"}]},
    {"id": 13, "name": "Todo", "type": "tasklist"},
    {"id": 14, "name": "Alpha Calendar", "type": "calendar"}]},
  {"id": 2, "name": "Beta", "members": ["alice"], "categories": [
    {"id": 21, "name": "Plans", "type": "tasklist"}]}
 ]
})";

ServiceFixture::ServiceFixture(const std::string& db, bool seed) {
    m_store = std::make_unique<hvsvc::CStore>(db);
    if (seed) hvsvc::LoadSeed(*m_store, nlohmann::json::parse(kTestSeed));
    hvsvc::ServerOptions opts;
    opts.max_body = 1024 * 1024;
    Start(opts);
}

ServiceFixture::ServiceFixture(hvsvc::ServerOptions opts) {
    m_store = std::make_unique<hvsvc::CStore>(":memory:");
    hvsvc::LoadSeed(*m_store, nlohmann::json::parse(kTestSeed));
    Start(opts);
}

void ServiceFixture::Start(hvsvc::ServerOptions opts) {
    opts.port = 0;
    m_server = std::make_unique<hvsvc::CServiceServer>(*m_store, opts);
    if (!m_server->Bind()) throw std::runtime_error("cannot bind");
    m_port = m_server->Port();
    m_thread = std::thread([this] { m_server->Run(); });
    m_client = std::make_unique<httplib::Client>("127.0.0.1", m_port);
    m_client->set_keep_alive(true);
    m_client->set_read_timeout(20);
}

ServiceFixture::~ServiceFixture() {
    Stop();
}

void ServiceFixture::Stop() {
    if (!m_server) return;
    m_client.reset();
    m_server->Stop();
    if (m_thread.joinable()) m_thread.join();
    m_server.reset();
}

httplib::Result ServiceFixture::Post(const std::string& body, const std::string& path) {
    httplib::Headers h{{"SOAPAction", "\"http://127.0.0.1/soap/v2.2beta/\""}};
    return m_client->Post(path.c_str(), h, body, "text/xml; charset=utf-8");
}

int ServiceFixture::Soap(const std::string& body, std::string& xml) {
    auto r = Post(body);
    if (!r) return -1;
    xml = r->body;
    return r->status;
}

namespace {
pugi::xml_node Find(const pugi::xml_node& n, const std::string& qname) {
    for (auto c : n.children()) {
        if (c.type() != pugi::node_element) continue;
        if (qname == c.name()) return c;
        if (auto f = Find(c, qname)) return f;
    }
    return {};
}
int Count(const pugi::xml_node& n, const std::string& qname) {
    int k = 0;
    for (auto c : n.children()) {
        if (c.type() != pugi::node_element) continue;
        if (qname == c.name()) ++k;
        k += Count(c, qname);
    }
    return k;
}
}  // namespace

std::string ElementText(const std::string& xml, const std::string& qname) {
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size())) return "<not xml>";
    auto n = Find(doc, qname);
    if (!n) return "<missing>";
    return n.child_value();
}

int CountElements(const std::string& xml, const std::string& qname) {
    pugi::xml_document doc;
    if (!doc.load_buffer(xml.data(), xml.size())) return -1;
    return Count(doc, qname);
}

}  // namespace hvtest
