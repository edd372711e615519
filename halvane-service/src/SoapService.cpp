#include "SoapService.h"

#include <pugixml.hpp>

#include <cstring>

#include "Util.h"

namespace hvsvc {

namespace {

const char* kEnvelopeHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
    "xmlns:ns1=\"urn:Halvane/API\" "
    "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
    "<SOAP-ENV:Body>";
const char* kEnvelopeFoot = "</SOAP-ENV:Body></SOAP-ENV:Envelope>\n";

const char* LocalName(const char* qname) {
    const char* colon = std::strrchr(qname, ':');
    return colon ? colon + 1 : qname;
}

// All character data of an element (text and CDATA, comments skipped).
std::string TextOf(const pugi::xml_node& n) {
    std::string out;
    for (auto c : n.children()) {
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata)
            out += c.value();
        else if (c.type() == pugi::node_element)
            throw ClientFault(std::string("Unexpected element ") + c.name() + " inside " + n.name());
    }
    return FixC1Controls(out);
}

pugi::xml_node ChildByLocalName(const pugi::xml_node& n, const char* local) {
    for (auto c : n.children())
        if (c.type() == pugi::node_element && std::strcmp(LocalName(c.name()), local) == 0) return c;
    return {};
}

void Field(std::string& out, const char* name, const std::string& value) {
    out += "<ns1:";
    out += name;
    out += '>';
    AppendXmlText(out, value);
    out += "</ns1:";
    out += name;
    out += '>';
}

void Field(std::string& out, const char* name, int64_t value) {
    out += "<ns1:";
    out += name;
    out += '>';
    out += std::to_string(value);
    out += "</ns1:";
    out += name;
    out += '>';
}

void Field(std::string& out, const char* name, bool value) {
    Field(out, name, std::string(value ? "true" : "false"));
}

bool ParseBool(const std::string& name, const std::string& value, bool def) {
    const std::string v = Trim(value);
    if (v.empty()) return def;
    if (v == "true" || v == "1") return true;
    if (v == "false" || v == "0") return false;
    throw ClientFault("Invalid value for " + name + ": expected true or false");
}

int64_t ParseIdArg(const SoapRequest& req, const std::string& name) {
    int64_t id;
    const std::string v = Trim(req.Arg(name));
    if (!ParseId(v, id)) throw ClientFault("Invalid " + name + ": \"" + v + "\"");
    return id;
}

std::optional<int64_t> ParseTimeArg(const SoapRequest& req, const std::string& name) {
    const std::string v = Trim(req.Opt(name));
    if (v.empty()) return std::nullopt;
    int64_t t;
    if (!ParseTime(v, t)) throw ClientFault("Invalid " + name + ": \"" + v + "\"");
    return t;
}

std::string DateArg(const SoapRequest& req, const std::string& name) {
    std::string out;
    if (!ParseDateOnly(Trim(req.Opt(name)), out)) throw ClientFault("Invalid " + name + ": \"" + req.Opt(name) + "\"");
    return out;
}

std::string Open(const char* method) {
    std::string out = "<ns1:";
    out += method;
    out += "Response>";
    return out;
}

void Close(std::string& out, const char* method) {
    out += "</ns1:";
    out += method;
    out += "Response>";
}

}  // namespace

// --- request

const std::string& SoapRequest::Arg(const std::string& name) const {
    auto it = args.find(name);
    if (it == args.end()) throw ClientFault("Missing element " + name + " in " + method);
    return it->second;
}

std::string SoapRequest::Opt(const std::string& name) const {
    auto it = args.find(name);
    return it == args.end() ? std::string() : it->second;
}

SoapRequest ParseSoapRequest(const std::string& raw) {
    // The add-in escapes everything outside ASCII, but ids and a few texts go
    // in unescaped in the system code page: a body that is not UTF-8 is read
    // as Windows-1252.
    std::string body = IsValidUtf8(raw) ? raw : Cp1252ToUtf8(raw);
    pugi::xml_document doc;
    const unsigned opts = pugi::parse_default | pugi::parse_doctype | pugi::parse_ws_pcdata_single;
    const auto res = doc.load_buffer(body.data(), body.size(), opts, pugi::encoding_utf8);
    if (!res) throw ClientFault(std::string("Malformed XML: ") + res.description());
    for (auto n : doc.children())
        if (n.type() == pugi::node_doctype) throw ClientFault("Document type declarations are not accepted");
    auto env = doc.document_element();
    if (std::strcmp(LocalName(env.name()), "Envelope") != 0) throw ClientFault("The request is not a SOAP envelope");
    auto bodyNode = ChildByLocalName(env, "Body");
    if (!bodyNode) throw ClientFault("The SOAP envelope has no Body");
    pugi::xml_node op;
    for (auto c : bodyNode.children())
        if (c.type() == pugi::node_element) {
            op = c;
            break;
        }
    if (!op) throw ClientFault("The SOAP body names no operation");

    SoapRequest req;
    req.method = LocalName(op.name());
    for (auto c : op.children()) {
        if (c.type() != pugi::node_element) continue;
        const std::string name = LocalName(c.name());
        if (!req.args.count(name)) req.args[name] = TextOf(c);
    }
    if (auto header = ChildByLocalName(env, "Header")) {
        if (auto session = ChildByLocalName(header, "SessionHeader")) {
            auto u = ChildByLocalName(session, "username");
            auto p = ChildByLocalName(session, "password");
            if (u && p) {
                req.username = TextOf(u);
                req.password = TextOf(p);
                req.has_credentials = true;
            }
        }
    }
    return req;
}

std::string SoapEnvelope(const std::string& body_xml) {
    std::string out;
    out.reserve(body_xml.size() + 600);
    out += kEnvelopeHead;
    out += body_xml;
    out += kEnvelopeFoot;
    return out;
}

std::string SoapFaultEnvelope(const std::string& code, const std::string& text) {
    std::string out = kEnvelopeHead;
    out += "<SOAP-ENV:Fault><faultcode>";
    AppendXmlText(out, code);
    out += "</faultcode><faultstring>";
    AppendXmlText(out, text);
    out += "</faultstring></SOAP-ENV:Fault>";
    out += kEnvelopeFoot;
    return out;
}

// --- records

void AppendTaskXml(std::string& out, const char* element, const Task& t) {
    out += "<ns1:";
    out += element;
    out += '>';
    Field(out, "task_id", t.id);
    Field(out, "title", t.title);
    Field(out, "description_plain_text", t.description);
    Field(out, "completed", t.completed);
    Field(out, "priority", static_cast<int64_t>(t.priority));
    Field(out, "start_date", t.start_date);
    Field(out, "due_date", t.due_date);
    Field(out, "assigned_to", t.assigned_to);
    Field(out, "assigned_to_userids", t.assignee_ids);
    Field(out, "tasklist_id", t.tasklist_id);
    Field(out, "space_id", t.space_id);
    Field(out, "space_name", t.space_name);
    Field(out, "category_name", t.category_name);
    Field(out, "internal_use_only", t.internal_use_only);
    Field(out, "created", FormatTimeZ(t.created));
    Field(out, "created_by", t.created_by);
    Field(out, "created_by_name", t.created_by_name);
    Field(out, "last_modified", FormatTimeZ(t.last_modified));
    Field(out, "deleted", t.deleted);
    out += "</ns1:";
    out += element;
    out += ">\n";
}

void AppendEventXml(std::string& out, const char* element, const Event& e) {
    out += "<ns1:";
    out += element;
    out += '>';
    Field(out, "event_id", e.id);
    Field(out, "title", e.title);
    Field(out, "description_plain_text", e.description);
    Field(out, "location", e.location);
    Field(out, "organizer", e.organizer);
    Field(out, "start_time", e.start_time ? FormatTimeOffset(*e.start_time) : std::string());
    Field(out, "end_time", e.end_time ? FormatTimeOffset(*e.end_time) : std::string());
    Field(out, "assigned_to", e.assigned_to);
    Field(out, "assigned_to_userids", e.assignee_ids);
    Field(out, "space_id", e.space_id);
    Field(out, "space_name", e.space_name);
    Field(out, "internal_use_only", e.internal_use_only);
    Field(out, "created", FormatTimeZ(e.created));
    Field(out, "created_by", e.created_by);
    Field(out, "created_by_name", e.created_by_name);
    Field(out, "last_modified", FormatTimeZ(e.last_modified));
    Field(out, "deleted", e.deleted);
    out += "</ns1:";
    out += element;
    out += ">\n";
}

// --- dispatch

CSoapService::Result CSoapService::Handle(const std::string& body, bool commit) {
    Result r;
    try {
        SoapRequest req = ParseSoapRequest(body);
        r.method = req.method;
        if (!req.has_credentials || req.username.empty())
            throw ClientFault("Authentication required: the request carries no user name and password");
        auto user = m_store.Authenticate(req.username, req.password);
        if (!user) throw ClientFault("Invalid user name or password");
        r.user = user->username;
        // Built in place: a bulk answer can be tens of megabytes.
        r.body = kEnvelopeHead;
        Dispatch(req, *user, r.records, r.body, commit);
        r.body += kEnvelopeFoot;
        r.status = 200;
        r.outcome = "ok";
    } catch (const Fault& f) {
        r.status = 500;
        r.body = SoapFaultEnvelope(f.code, f.what());
        r.outcome = f.what();
    } catch (const std::exception& e) {
        r.status = 500;
        r.body = SoapFaultEnvelope("SOAP-ENV:Server", std::string("Internal error: ") + e.what());
        r.outcome = std::string("internal error: ") + e.what();
    }
    return r;
}

void CSoapService::Dispatch(const SoapRequest& req, const User& user, size_t& records, std::string& out, bool commit) {
    const std::string& m = req.method;
    const bool write = m == "CreateTask" || m == "UpdateTask" || m == "DeleteTask" || m == "CreateEvent" ||
                       m == "UpdateEvent" || m == "DeleteEvent" || m == "CheckPluginVersion";
    CTransaction tx(m_store, write);
    if (m == "CheckPluginVersion")
        out += CheckPluginVersion(req, user);
    else if (m == "GetUserPaths")
        out += GetUserPaths(req, user);
    else if (m == "GetWorkspaceMemberList")
        out += GetWorkspaceMemberList(req, user);
    else if (m == "GetCategory")
        out += GetCategory(req, user);
    else if (m == "GetTask")
        out += GetTask(req, user);
    else if (m == "GetEvent")
        out += GetEvent(req, user);
    else if (m == "CreateTask")
        out += PushTask(req, user, true);
    else if (m == "UpdateTask")
        out += PushTask(req, user, false);
    else if (m == "DeleteTask")
        out += DeleteTask(req, user);
    else if (m == "CreateEvent")
        out += PushEvent(req, user, true);
    else if (m == "UpdateEvent")
        out += PushEvent(req, user, false);
    else if (m == "DeleteEvent")
        out += DeleteEvent(req, user);
    else if (m == "GetMyTasks")
        GetMyTasks(req, user, records, out);
    else if (m == "GetMyEvents")
        GetMyEvents(req, user, records, out);
    else
        throw ClientFault("Unknown method " + m);
    if (commit) tx.Commit();
}

std::string CSoapService::CheckPluginVersion(const SoapRequest& req, const User& user) {
    // What the add-in reports about itself is kept for the administrative
    // interface; the answer is the version the service offers.
    m_store.SetSetting("last_plugin_report:" + user.username,
                       req.Opt("plugin_type") + "|" + req.Opt("version") + "|" + req.Opt("environment"));
    std::string out = Open("CheckPluginVersion");
    Field(out, "current_version", m_store.Setting("plugin_version", kDefaultPluginVersion));
    Close(out, "CheckPluginVersion");
    return out;
}

std::string CSoapService::GetUserPaths(const SoapRequest& req, const User& user) {
    const std::string type = Trim(req.Opt("category_type"));
    std::vector<std::string> types;
    if (type == "folder")
        types = {"folder", "database"};
    else if (type == "task")
        types = {"tasklist"};
    else if (type == "calendar")
        types = {"calendar"};
    else if (type == "database")
        types = {"database"};
    else if (type == "all" || type.empty())
        types = {};
    else
        throw ClientFault("Unknown category_type \"" + type + "\"");
    std::string out = Open("GetUserPaths");
    for (const auto& c : m_store.CategoriesForUser(user.id, types)) {
        out += "<ns1:GetUserPathsReturn>";
        Field(out, "space_id", c.space_id);
        Field(out, "category_id", c.id);
        Field(out, "db_guid", c.db_guid);
        Field(out, "category_name", c.path);
        Field(out, "category_type", c.type);
        out += "</ns1:GetUserPathsReturn>\n";
    }
    Close(out, "GetUserPaths");
    return out;
}

std::string CSoapService::GetWorkspaceMemberList(const SoapRequest& req, const User& user) {
    const int64_t space = ParseIdArg(req, "space_id");
    std::vector<User> members;
    if (space == 0) {
        members.push_back(user);  // the personal space has its owner only
    } else {
        if (!m_store.GetWorkspace(space)) throw ClientFault("Unknown workspace " + std::to_string(space));
        if (!m_store.IsMember(space, user.id))
            throw ClientFault("You are not a member of workspace " + std::to_string(space));
        members = m_store.Members(space);
    }
    std::string out = Open("GetWorkspaceMemberList");
    for (const auto& u : members) {
        out += "<ns1:GetWorkspaceMemberListReturn>";
        Field(out, "user_id", u.id);
        Field(out, "username", u.username);
        Field(out, "email", u.email);
        Field(out, "full_name", u.full_name);
        Field(out, "phone", u.phone);
        out += "</ns1:GetWorkspaceMemberListReturn>\n";
    }
    Close(out, "GetWorkspaceMemberList");
    return out;
}

std::string CSoapService::GetCategory(const SoapRequest& req, const User& user) {
    const int64_t space = ParseIdArg(req, "space_id");
    const int64_t id = ParseIdArg(req, "category_id");
    auto c = m_store.GetCategory(id);
    if (!c || c->space_id != space)
        throw ClientFault("Unknown category " + std::to_string(id) + " in workspace " + std::to_string(space));
    if (!m_store.IsMember(space, user.id))
        throw ClientFault("You are not a member of workspace " + std::to_string(space));
    std::string out = Open("GetCategory");
    out += "<ns1:GetCategoryReturn>";
    Field(out, "category_id", c->id);
    Field(out, "category_name", c->name);
    Field(out, "space_id", c->space_id);
    Field(out, "category_type", c->type);
    Field(out, "milestone_id", c->milestone_id);
    Field(out, "email_primary", c->email_primary);
    Field(out, "email_files", c->email_files);
    Field(out, "email_discussions", c->email_discussions);
    Field(out, "internal_use_only", c->internal_use_only);
    out += "</ns1:GetCategoryReturn>";
    Close(out, "GetCategory");
    return out;
}

std::string CSoapService::GetTask(const SoapRequest& req, const User& user) {
    Task t = m_store.GetTask(user.id, ParseIdArg(req, "task_id"));
    std::string out = Open("GetTask");
    AppendTaskXml(out, "GetTaskReturn", t);
    Close(out, "GetTask");
    return out;
}

std::string CSoapService::GetEvent(const SoapRequest& req, const User& user) {
    Event e = m_store.GetEvent(user.id, ParseIdArg(req, "event_id"));
    std::string out = Open("GetEvent");
    AppendEventXml(out, "GetEventReturn", e);
    Close(out, "GetEvent");
    return out;
}

std::string CSoapService::PushTask(const SoapRequest& req, const User& user, bool create) {
    Task t;
    if (!create) {
        t = m_store.GetTask(user.id, ParseIdArg(req, "task_id"));  // keeps fields not sent
    }
    t.space_id = ParseIdArg(req, "space_id");
    t.tasklist_id = ParseIdArg(req, "tasklist_id");
    t.title = req.Arg("title");
    t.description = req.Opt("description");
    t.completed = ParseBool("completed", req.Opt("completed"), false);
    {
        const std::string p = Trim(req.Opt("priority"));
        int64_t v = 2;
        if (!p.empty() && !ParseId(p, v)) throw ClientFault("Invalid priority: \"" + p + "\"");
        t.priority = static_cast<int>(v);
    }
    t.start_date = DateArg(req, "start_date");
    t.due_date = DateArg(req, "due_date");
    t.assignee_ids = req.Opt("assigned_to_userids");
    const bool sendEmail = ParseBool("send_email", req.Opt("send_email"), false);
    const std::string addToLog = Trim(req.Opt("add_to_activity_log"));
    ParseBool("add_to_activity_log", addToLog, true);
    Task saved = create ? m_store.CreateTask(user.id, t) : m_store.UpdateTask(user.id, t);
    m_store.RecordActivity(user.id, create ? "created" : "updated", "task", saved.id, saved.title, sendEmail, addToLog,
                           saved.assignee_ids);
    const char* method = create ? "CreateTask" : "UpdateTask";
    std::string out = Open(method);
    AppendTaskXml(out, create ? "CreateTaskReturn" : "UpdateTaskReturn", saved);
    Close(out, method);
    return out;
}

std::string CSoapService::PushEvent(const SoapRequest& req, const User& user, bool create) {
    Event e;
    if (!create) {
        e = m_store.GetEvent(user.id, ParseIdArg(req, "event_id"));
        e.organizer = req.Opt("organizer");
    }
    e.space_id = ParseIdArg(req, "space_id");
    e.title = req.Arg("title");
    e.location = req.Opt("location");
    // The add-in sends back the text it received; anything but "true" is false.
    e.internal_use_only = Trim(req.Opt("internal_use_only")) == "true";
    e.description = req.Opt("description");
    e.start_time = ParseTimeArg(req, "start_time");
    e.end_time = ParseTimeArg(req, "end_time");
    e.assignee_ids = req.Opt("assigned_to_userids");
    const bool sendEmail = ParseBool("send_email", req.Opt("send_email"), false);
    const std::string addToLog = Trim(req.Opt("add_to_activity_log"));
    ParseBool("add_to_activity_log", addToLog, true);
    Event saved = create ? m_store.CreateEvent(user.id, e) : m_store.UpdateEvent(user.id, e);
    m_store.RecordActivity(user.id, create ? "created" : "updated", "event", saved.id, saved.title, sendEmail, addToLog,
                           saved.assignee_ids);
    const char* method = create ? "CreateEvent" : "UpdateEvent";
    std::string out = Open(method);
    AppendEventXml(out, create ? "CreateEventReturn" : "UpdateEventReturn", saved);
    Close(out, method);
    return out;
}

std::string CSoapService::DeleteTask(const SoapRequest& req, const User& user) {
    const int64_t id = ParseIdArg(req, "task_id");
    const std::string addToLog = Trim(req.Opt("add_to_activity_log"));
    ParseBool("add_to_activity_log", addToLog, true);
    const bool changed = m_store.DeleteTask(user.id, id);
    if (changed) {
        Task t = m_store.GetTask(user.id, id);
        m_store.RecordActivity(user.id, "deleted", "task", id, t.title, false, addToLog, "");
    }
    std::string out = Open("DeleteTask");
    Field(out, "DeleteTaskReturn", true);
    Close(out, "DeleteTask");
    return out;
}

std::string CSoapService::DeleteEvent(const SoapRequest& req, const User& user) {
    const int64_t id = ParseIdArg(req, "event_id");
    const std::string addToLog = Trim(req.Opt("add_to_activity_log"));
    ParseBool("add_to_activity_log", addToLog, true);
    const bool changed = m_store.DeleteEvent(user.id, id);
    if (changed) {
        Event e = m_store.GetEvent(user.id, id);
        m_store.RecordActivity(user.id, "deleted", "event", id, e.title, false, addToLog, "");
    }
    std::string out = Open("DeleteEvent");
    Field(out, "DeleteEventReturn", true);
    Close(out, "DeleteEvent");
    return out;
}

void CSoapService::GetMyTasks(const SoapRequest& req, const User& user, size_t& records, std::string& out) {
    const std::string opt = Trim(req.Opt("option"));
    int64_t option = 3;
    if (!opt.empty() && (!ParseId(opt, option) || option < 1 || option > 3))
        throw ClientFault("Invalid option: \"" + opt + "\" (1, 2 or 3)");
    Selection sel;
    if (option != 1) sel.changed_since = ParseTimeArg(req, "last_modified");
    out += Open("GetMyTasks");
    m_store.MyTasks(user.id, sel, [&](const Task& t) {
        AppendTaskXml(out, "GetMyTasksReturn", t);
        ++records;
    });
    Close(out, "GetMyTasks");
}

void CSoapService::GetMyEvents(const SoapRequest& req, const User& user, size_t& records, std::string& out) {
    const std::string opt = Trim(req.Opt("option"));
    int64_t option = 3;
    if (!opt.empty() && (!ParseId(opt, option) || option < 1 || option > 3))
        throw ClientFault("Invalid option: \"" + opt + "\" (1, 2 or 3)");
    Selection sel;
    if (option == 2) {
        sel.changed_since = ParseTimeArg(req, "start_date");
    } else if (option == 3) {
        sel.window_start = ParseTimeArg(req, "start_date");
        sel.window_end = ParseTimeArg(req, "end_date");
    }
    out += Open("GetMyEvents");
    m_store.MyEvents(user.id, sel, [&](const Event& e) {
        AppendEventXml(out, "GetMyEventsReturn", e);
        ++records;
    });
    Close(out, "GetMyEvents");
}

}  // namespace hvsvc
