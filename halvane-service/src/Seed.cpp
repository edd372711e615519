#include "Seed.h"

#include <cctype>
#include <fstream>
#include <map>

#include "Util.h"

namespace hvsvc {

using nlohmann::json;

namespace {

std::string Str(const json& j, const char* key, const std::string& def = "") {
    if (!j.contains(key) || j[key].is_null()) return def;
    if (j[key].is_string()) return j[key].get<std::string>();
    if (j[key].is_number_integer()) return std::to_string(j[key].get<int64_t>());
    if (j[key].is_boolean()) return j[key].get<bool>() ? "true" : "false";
    throw ClientFault(std::string("\"") + key + "\" must be a text");
}

int64_t Int(const json& j, const char* key, int64_t def = 0) {
    if (!j.contains(key) || j[key].is_null()) return def;
    if (j[key].is_number_integer()) return j[key].get<int64_t>();
    int64_t v;
    if (j[key].is_string() && ParseId(j[key].get<std::string>(), v)) return v;
    throw ClientFault(std::string("\"") + key + "\" must be a number");
}

// Assignees: "everyone", a list of user names or ids, or a wire text.
std::string Assignees(CStore& store, const json& v) {
    if (v.is_null()) return "";
    if (v.is_string()) {
        const std::string s = v.get<std::string>();
        if (s == "everyone" || s == "Everyone") return "-1";
        return store.NormalizeAssignees(s);
    }
    if (!v.is_array()) throw ClientFault("\"assigned_to\" must be a list");
    std::string out;
    for (const auto& ref : v) {
        if (!out.empty()) out += ",";
        out += std::to_string(UserRef(store, ref));
    }
    return store.NormalizeAssignees(out);
}

void AddCategories(CStore& store, int64_t space, int64_t parent, const json& list) {
    for (const auto& c : list) {
        Category cat;
        cat.id = Int(c, "id");
        cat.space_id = space;
        cat.parent_id = parent;
        cat.name = Str(c, "name");
        cat.type = Str(c, "type", "folder");
        cat.db_guid = Str(c, "db_guid");
        if (cat.type == "database" && cat.db_guid.empty()) cat.db_guid = RandomHex(16);
        cat.milestone_id = Str(c, "milestone_id");
        cat.email_primary = Str(c, "email_primary");
        cat.email_files = Str(c, "email_files");
        cat.email_discussions = Str(c, "email_discussions");
        cat.internal_use_only = c.value("internal_use_only", false);
        if (cat.email_primary.empty() && cat.type == "folder") {
            // Every folder gets an address that mail can be forwarded to.
            std::string slug;
            for (unsigned char ch : cat.name)
                if (std::isalnum(ch)) slug += static_cast<char>(std::tolower(ch));
            cat.email_primary =
                "ws" + std::to_string(space) + "-" + (slug.empty() ? "folder" : slug) + "@halvane.invalid";
        }
        const int64_t id = store.AddCategory(cat);
        if (c.contains("children")) AddCategories(store, space, id, c["children"]);
    }
}

// Finds a category by its " > " path below the workspace, or by id.
int64_t CategoryRef(CStore& store, int64_t space, const json& ref, const std::string& type) {
    if (ref.is_null()) return 0;
    if (ref.is_number_integer()) return ref.get<int64_t>();
    const std::string name = ref.get<std::string>();
    auto ws = store.GetWorkspace(space);
    if (!ws) throw ClientFault("Unknown workspace " + std::to_string(space));
    // By the path below the workspace ("Docs > 2009") or by the plain name.
    for (const auto& c : store.CategoriesInSpace(space))
        if (c.type == type && (c.path == ws->name + " > " + name || c.name == name)) return c.id;
    throw ClientFault("Unknown " + type + " \"" + name + "\" in workspace " + ws->name);
}

int64_t SpaceRef(CStore& store, const json& j) {
    if (!j.contains("workspace") || j["workspace"].is_null()) return Int(j, "space_id");
    const auto& w = j["workspace"];
    if (w.is_number_integer()) return w.get<int64_t>();
    const std::string name = w.get<std::string>();
    for (const auto& ws : store.Workspaces())
        if (ws.name == name) return ws.id;
    throw ClientFault("Unknown workspace \"" + name + "\"");
}

}  // namespace

int64_t UserRef(CStore& store, const json& ref) {
    if (ref.is_number_integer()) {
        if (!store.GetUser(ref.get<int64_t>()))
            throw ClientFault("Unknown user id " + std::to_string(ref.get<int64_t>()));
        return ref.get<int64_t>();
    }
    if (!ref.is_string()) throw ClientFault("A user is named by user name or id");
    auto u = store.FindUser(ref.get<std::string>());
    if (!u) throw ClientFault("Unknown user \"" + ref.get<std::string>() + "\"");
    return u->id;
}

void TaskFromJson(CStore& store, const json& j, Task& t) {
    if (j.contains("workspace") || j.contains("space_id")) t.space_id = SpaceRef(store, j);
    if (j.contains("tasklist")) t.tasklist_id = CategoryRef(store, t.space_id, j["tasklist"], "tasklist");
    if (j.contains("tasklist_id")) t.tasklist_id = Int(j, "tasklist_id");
    if (j.contains("title")) t.title = Str(j, "title");
    if (j.contains("description")) t.description = Str(j, "description");
    if (j.contains("description_plain_text")) t.description = Str(j, "description_plain_text");
    if (j.contains("completed"))
        t.completed = j["completed"].is_boolean() ? j["completed"].get<bool>() : Str(j, "completed") == "true";
    if (j.contains("priority")) t.priority = static_cast<int>(Int(j, "priority"));
    for (auto [key, field] :
         {std::pair<const char*, std::string*>{"start_date", &t.start_date}, {"due_date", &t.due_date}}) {
        if (!j.contains(key)) continue;
        if (!ParseDateOnly(Str(j, key), *field)) throw ClientFault(std::string("Invalid ") + key);
    }
    if (j.contains("assigned_to")) t.assignee_ids = Assignees(store, j["assigned_to"]);
    if (j.contains("assigned_to_userids")) t.assignee_ids = Str(j, "assigned_to_userids");
    if (j.contains("internal_use_only"))
        t.internal_use_only = j["internal_use_only"].is_boolean() ? j["internal_use_only"].get<bool>()
                                                                  : Str(j, "internal_use_only") == "true";
}

void EventFromJson(CStore& store, const json& j, Event& e) {
    if (j.contains("workspace") || j.contains("space_id")) e.space_id = SpaceRef(store, j);
    if (j.contains("title")) e.title = Str(j, "title");
    if (j.contains("description")) e.description = Str(j, "description");
    if (j.contains("description_plain_text")) e.description = Str(j, "description_plain_text");
    if (j.contains("location")) e.location = Str(j, "location");
    if (j.contains("organizer")) e.organizer = Str(j, "organizer");
    for (auto [key, field] :
         {std::pair<const char*, std::optional<int64_t>*>{"start_time", &e.start_time}, {"end_time", &e.end_time}}) {
        if (!j.contains(key)) continue;
        const std::string v = Str(j, key);
        if (v.empty()) {
            field->reset();
            continue;
        }
        int64_t t;
        if (!ParseTime(v, t)) throw ClientFault(std::string("Invalid ") + key + ": " + v);
        *field = t;
    }
    if (j.contains("assigned_to")) e.assignee_ids = Assignees(store, j["assigned_to"]);
    if (j.contains("assigned_to_userids")) e.assignee_ids = Str(j, "assigned_to_userids");
    if (j.contains("internal_use_only"))
        e.internal_use_only = j["internal_use_only"].is_boolean() ? j["internal_use_only"].get<bool>()
                                                                  : Str(j, "internal_use_only") == "true";
}

json TaskToJson(const Task& t) {
    return json{{"task_id", t.id},
                {"title", t.title},
                {"description_plain_text", t.description},
                {"completed", t.completed},
                {"priority", t.priority},
                {"start_date", t.start_date},
                {"due_date", t.due_date},
                {"assigned_to", t.assigned_to},
                {"assigned_to_userids", t.assignee_ids},
                {"tasklist_id", t.tasklist_id},
                {"space_id", t.space_id},
                {"space_name", t.space_name},
                {"category_name", t.category_name},
                {"internal_use_only", t.internal_use_only},
                {"created", FormatTimeZ(t.created)},
                {"created_by", t.created_by},
                {"created_by_name", t.created_by_name},
                {"last_modified", FormatTimeZ(t.last_modified)},
                {"deleted", t.deleted}};
}

json EventToJson(const Event& e) {
    return json{{"event_id", e.id},
                {"title", e.title},
                {"description_plain_text", e.description},
                {"location", e.location},
                {"organizer", e.organizer},
                {"start_time", e.start_time ? FormatTimeOffset(*e.start_time) : ""},
                {"end_time", e.end_time ? FormatTimeOffset(*e.end_time) : ""},
                {"assigned_to", e.assigned_to},
                {"assigned_to_userids", e.assignee_ids},
                {"space_id", e.space_id},
                {"space_name", e.space_name},
                {"internal_use_only", e.internal_use_only},
                {"created", FormatTimeZ(e.created)},
                {"created_by", e.created_by},
                {"created_by_name", e.created_by_name},
                {"last_modified", FormatTimeZ(e.last_modified)},
                {"deleted", e.deleted}};
}

void LoadSeed(CStore& store, const json& doc) {
    if (!doc.is_object()) throw ClientFault("A data set is a JSON object");
    CTransaction tx(store, true);
    if (doc.contains("plugin_version")) store.SetSetting("plugin_version", Str(doc, "plugin_version"));
    for (const auto& u : doc.value("users", json::array()))
        store.AddUser(Str(u, "username"), Str(u, "password"), Str(u, "full_name"), Str(u, "email"), Str(u, "phone"),
                      Int(u, "id"));
    for (const auto& w : doc.value("workspaces", json::array())) {
        const int64_t space = store.AddWorkspace(Str(w, "name"), Int(w, "id"));
        for (const auto& m : w.value("members", json::array())) store.AddMember(space, UserRef(store, m));
        AddCategories(store, space, 0, w.value("categories", json::array()));
    }
    for (const auto& j : doc.value("tasks", json::array())) {
        Task t;
        t.id = Int(j, "id");
        TaskFromJson(store, j, t);
        store.CreateTask(UserRef(store, j.at("created_by")), t);
    }
    for (const auto& j : doc.value("events", json::array())) {
        Event e;
        e.id = Int(j, "id");
        EventFromJson(store, j, e);
        store.CreateEvent(UserRef(store, j.at("created_by")), e);
    }
    tx.Commit();
}

void LoadSeedFile(CStore& store, const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    json doc;
    try {
        doc = json::parse(in);
    } catch (const std::exception& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
    LoadSeed(store, doc);
}

}  // namespace hvsvc
