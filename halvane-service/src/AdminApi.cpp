// The administrative JSON interface (loopback only): tests and the demo use
// it to act as another user and to see what the service received.
#include "HttpServer.h"

#include "Seed.h"
#include "Server.h"
#include "Util.h"

namespace hvsvc {

using nlohmann::json;

namespace {

struct AdminError : std::runtime_error {
    AdminError(int s, const std::string& text) : std::runtime_error(text), status(s) {}
    int status;
};

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        if (j > i) parts.push_back(path.substr(i, j - i));
        i = j + 1;
    }
    return parts;
}

json UserJson(const User& u) {
    return json{{"user_id", u.id},
                {"username", u.username},
                {"full_name", u.full_name},
                {"email", u.email},
                {"phone", u.phone}};
}

int64_t IdPart(const std::string& s) {
    int64_t id;
    if (!ParseId(s, id)) throw AdminError(400, "invalid id " + s);
    return id;
}

}  // namespace

void CServiceServer::Admin(const http::Request& req, http::Response& res) {
    json out;
    int status = 200;
    try {
        const auto parts = Split(req.path);  // "admin", resource, [id]
        const std::string what = parts.size() > 1 ? parts[1] : "";
        const std::string id = parts.size() > 2 ? parts[2] : "";
        const std::string& m = req.method;
        json body = json::object();
        if (!req.body.empty()) {
            try {
                body = json::parse(req.body);
            } catch (const std::exception& e) {
                throw AdminError(400, std::string("invalid JSON: ") + e.what());
            }
        }
        auto actor = [&]() -> int64_t {
            if (body.contains("as")) return UserRef(m_store, body["as"]);
            if (req.has_param("as")) return UserRef(m_store, json(req.get_param_value("as")));
            throw AdminError(400, "say which user acts with \"as\"");
        };
        if (what == "health") {
            out = {{"ok", true}, {"now", FormatTimeZ(Now())}};
        } else if (what == "clock") {
            if (m != "GET") SetClockOffset(body.value("offset_seconds", int64_t{0}));
            out = {{"now", FormatTimeZ(Now())}, {"offset_seconds", ClockOffset()}};
        } else if (what == "seed" && m == "POST") {
            LoadSeed(m_store, body);
            out = {{"ok", true}};
        } else if (what == "settings") {
            if (m != "GET" && body.contains("plugin_version"))
                m_store.SetSetting("plugin_version", body["plugin_version"].get<std::string>());
            out = {{"plugin_version", m_store.Setting("plugin_version", CSoapService::kDefaultPluginVersion)}};
        } else if (what == "users") {
            if (m == "POST") {
                const int64_t uid =
                    m_store.AddUser(body.value("username", ""), body.value("password", ""), body.value("full_name", ""),
                                    body.value("email", ""), body.value("phone", ""), body.value("id", int64_t{0}));
                out = UserJson(*m_store.GetUser(uid));
            } else {
                out = json::array();
                for (const auto& u : m_store.Users()) out.push_back(UserJson(u));
            }
        } else if (what == "workspaces") {
            out = json::array();
            for (const auto& w : m_store.Workspaces()) {
                json members = json::array(), cats = json::array();
                for (const auto& u : m_store.Members(w.id)) members.push_back(u.username);
                for (const auto& c : m_store.CategoriesInSpace(w.id))
                    cats.push_back({{"category_id", c.id},
                                    {"name", c.name},
                                    {"type", c.type},
                                    {"path", c.path},
                                    {"parent_id", c.parent_id},
                                    {"db_guid", c.db_guid},
                                    {"email_primary", c.email_primary}});
                out.push_back({{"space_id", w.id}, {"name", w.name}, {"members", members}, {"categories", cats}});
            }
        } else if (what == "tasks" || what == "events") {
            const bool tasks = what == "tasks";
            CTransaction tx(m_store, m != "GET");
            if (m == "GET" && id.empty()) {
                out = json::array();
                if (req.has_param("user")) {
                    Selection sel;
                    if (req.has_param("since")) {
                        int64_t t;
                        if (!ParseTime(req.get_param_value("since"), t)) throw AdminError(400, "invalid since");
                        sel.changed_since = t;
                    }
                    const int64_t uid = UserRef(m_store, json(req.get_param_value("user")));
                    if (tasks)
                        m_store.MyTasks(uid, sel, [&](const Task& t) { out.push_back(TaskToJson(t)); });
                    else
                        m_store.MyEvents(uid, sel, [&](const Event& e) { out.push_back(EventToJson(e)); });
                } else if (tasks) {
                    m_store.AllTasks([&](const Task& t) { out.push_back(TaskToJson(t)); });
                } else {
                    m_store.AllEvents([&](const Event& e) { out.push_back(EventToJson(e)); });
                }
            } else if (m == "GET") {
                // Read as the record's creator, who may always see it.
                const int64_t rid = IdPart(id);
                bool found = false;
                if (tasks)
                    m_store.AllTasks([&](const Task& t) {
                        if (t.id == rid) {
                            out = TaskToJson(t);
                            found = true;
                        }
                    });
                else
                    m_store.AllEvents([&](const Event& e) {
                        if (e.id == rid) {
                            out = EventToJson(e);
                            found = true;
                        }
                    });
                if (!found) throw AdminError(404, "no such record");
            } else if (m == "POST" && id.empty()) {
                const int64_t uid = actor();
                if (tasks) {
                    Task t;
                    TaskFromJson(m_store, body, t);
                    t = m_store.CreateTask(uid, t);
                    m_store.RecordActivity(uid, "created", "task", t.id, t.title, body.value("send_email", false),
                                           "true", t.assignee_ids);
                    out = TaskToJson(t);
                } else {
                    Event e;
                    EventFromJson(m_store, body, e);
                    e = m_store.CreateEvent(uid, e);
                    m_store.RecordActivity(uid, "created", "event", e.id, e.title, body.value("send_email", false),
                                           "true", e.assignee_ids);
                    out = EventToJson(e);
                }
                status = 201;
            } else if (m == "PUT" || m == "PATCH" || m == "POST") {
                const int64_t uid = actor();
                const int64_t rid = IdPart(id);
                if (tasks) {
                    Task t = m_store.GetTask(uid, rid);
                    TaskFromJson(m_store, body, t);
                    t = m_store.UpdateTask(uid, t);
                    m_store.RecordActivity(uid, "updated", "task", t.id, t.title, body.value("send_email", false),
                                           "true", t.assignee_ids);
                    out = TaskToJson(t);
                } else {
                    Event e = m_store.GetEvent(uid, rid);
                    EventFromJson(m_store, body, e);
                    e = m_store.UpdateEvent(uid, e);
                    m_store.RecordActivity(uid, "updated", "event", e.id, e.title, body.value("send_email", false),
                                           "true", e.assignee_ids);
                    out = EventToJson(e);
                }
            } else if (m == "DELETE") {
                const int64_t uid = actor();
                const int64_t rid = IdPart(id);
                const bool changed = tasks ? m_store.DeleteTask(uid, rid) : m_store.DeleteEvent(uid, rid);
                if (changed)
                    m_store.RecordActivity(uid, "deleted", tasks ? "task" : "event", rid, "", false, "true", "");
                out = {{"deleted", true}, {"changed", changed}};
            } else {
                throw AdminError(405, "method not allowed");
            }
            tx.Commit();
        } else if (what == "requests") {
            if (m == "DELETE") {
                m_requests.Clear();
                out = {{"ok", true}};
            } else {
                int64_t since = 0;
                if (req.has_param("since")) since = IdPart(req.get_param_value("since"));
                out = json::array();
                for (const auto& r : m_requests.Since(since)) {
                    if (req.has_param("method") && r.method != req.get_param_value("method")) continue;
                    out.push_back({{"seq", r.seq},
                                   {"time", FormatTimeZ(r.time)},
                                   {"path", r.path},
                                   {"method", r.method},
                                   {"user", r.user},
                                   {"status", r.status},
                                   {"outcome", r.outcome},
                                   {"ms", r.ms},
                                   {"body", r.body}});
                }
            }
        } else if (what == "faults") {
            if (m == "GET" && id.empty()) {
                out = json::array();
                for (const auto& f : m_faults.List()) out.push_back(f.ToJson());
            } else if (m == "POST" && id.empty()) {
                try {
                    out = m_faults.Add(body).ToJson();
                } catch (const std::invalid_argument& e) {
                    throw AdminError(400, e.what());
                }
                status = 201;
            } else if (m == "DELETE" && id.empty()) {
                out = {{"ok", true}, {"removed", m_faults.Reset()}};
            } else if (m == "DELETE") {
                if (!m_faults.Remove(IdPart(id))) throw AdminError(404, "no such fault");
                out = {{"ok", true}};
            } else {
                throw AdminError(405, "method not allowed");
            }
        } else if (what == "activity") {
            int64_t since = 0;
            if (req.has_param("since")) since = IdPart(req.get_param_value("since"));
            out = json::array();
            for (const auto& a : m_store.Activities(since))
                out.push_back({{"id", a.id},
                               {"time", FormatTimeZ(a.time)},
                               {"user", a.username},
                               {"action", a.action},
                               {"kind", a.kind},
                               {"record_id", a.record_id},
                               {"title", a.title},
                               {"send_email", a.send_email},
                               {"add_to_activity_log", a.add_to_activity_log},
                               {"emailed_to", a.emailed_to}});
        } else {
            throw AdminError(404, "unknown resource " + req.path);
        }
    } catch (const AdminError& e) {
        status = e.status;
        out = {{"error", e.what()}};
    } catch (const Fault& f) {
        status = f.code == "SOAP-ENV:Client" ? 400 : 500;
        out = {{"error", f.what()}};
    } catch (const std::exception& e) {
        status = 400;
        out = {{"error", e.what()}};
    }
    res.status = status;
    res.set_content(out.dump(1, ' ', false, json::error_handler_t::replace) + "\n", "application/json");
}

}  // namespace hvsvc
