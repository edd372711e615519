#include "Store.h"

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <unordered_map>

#include "Util.h"

namespace hvsvc {

Fault ClientFault(const std::string& text) {
    return Fault("SOAP-ENV:Client", text);
}

namespace {

// A prepared statement; columns and parameters counted from 1 and 0 as
// SQLite does.
class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) : m_db(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &m_st, nullptr) != SQLITE_OK)
            throw Fault("SOAP-ENV:Server", std::string("database: ") + sqlite3_errmsg(db));
    }
    ~Stmt() { sqlite3_finalize(m_st); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;

    Stmt& Bind(int i, int64_t v) {
        sqlite3_bind_int64(m_st, i, v);
        return *this;
    }
    Stmt& Bind(int i, const std::string& v) {
        sqlite3_bind_text(m_st, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt& Bind(int i, const std::optional<int64_t>& v) {
        if (v)
            sqlite3_bind_int64(m_st, i, *v);
        else
            sqlite3_bind_null(m_st, i);
        return *this;
    }
    bool Step() {
        const int rc = sqlite3_step(m_st);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        if (rc == SQLITE_CONSTRAINT) throw ClientFault(std::string("constraint violated: ") + sqlite3_errmsg(m_db));
        throw Fault("SOAP-ENV:Server", std::string("database: ") + sqlite3_errmsg(m_db));
    }
    void Run() { Step(); }
    int64_t Int(int c) { return sqlite3_column_int64(m_st, c); }
    bool IsNull(int c) { return sqlite3_column_type(m_st, c) == SQLITE_NULL; }
    std::optional<int64_t> OptInt(int c) {
        if (IsNull(c)) return std::nullopt;
        return Int(c);
    }
    std::string Text(int c) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_st, c));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(m_st, c))) : std::string();
    }

private:
    sqlite3* m_db;
    sqlite3_stmt* m_st = nullptr;
};

const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS settings(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS users(
  id INTEGER PRIMARY KEY,
  username TEXT NOT NULL UNIQUE,
  full_name TEXT NOT NULL DEFAULT '',
  email TEXT NOT NULL DEFAULT '',
  phone TEXT NOT NULL DEFAULT '',
  salt TEXT NOT NULL,
  pw_hash TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS workspaces(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS members(
  space_id INTEGER NOT NULL REFERENCES workspaces(id) ON DELETE CASCADE,
  user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  PRIMARY KEY(space_id, user_id));
CREATE INDEX IF NOT EXISTS members_user ON members(user_id);
CREATE TABLE IF NOT EXISTS categories(
  id INTEGER PRIMARY KEY,
  space_id INTEGER NOT NULL REFERENCES workspaces(id) ON DELETE CASCADE,
  parent_id INTEGER REFERENCES categories(id) ON DELETE CASCADE,
  name TEXT NOT NULL,
  type TEXT NOT NULL CHECK(type IN ('folder','tasklist','calendar','database')),
  db_guid TEXT NOT NULL DEFAULT '',
  milestone_id TEXT NOT NULL DEFAULT '',
  email_primary TEXT NOT NULL DEFAULT '',
  email_files TEXT NOT NULL DEFAULT '',
  email_discussions TEXT NOT NULL DEFAULT '',
  internal_use_only INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS tasks(
  id INTEGER PRIMARY KEY,
  space_id INTEGER NOT NULL,
  tasklist_id INTEGER NOT NULL,
  title TEXT NOT NULL,
  description TEXT NOT NULL,
  completed INTEGER NOT NULL,
  priority INTEGER NOT NULL,
  start_date TEXT NOT NULL,
  due_date TEXT NOT NULL,
  assignee_ids TEXT NOT NULL,
  everyone INTEGER NOT NULL,
  internal_use_only INTEGER NOT NULL,
  created INTEGER NOT NULL,
  created_by INTEGER NOT NULL REFERENCES users(id),
  last_modified INTEGER NOT NULL,
  deleted INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS tasks_creator ON tasks(created_by);
CREATE INDEX IF NOT EXISTS tasks_space ON tasks(space_id);
CREATE TABLE IF NOT EXISTS task_assignees(
  task_id INTEGER NOT NULL REFERENCES tasks(id) ON DELETE CASCADE,
  user_id INTEGER NOT NULL REFERENCES users(id),
  PRIMARY KEY(task_id, user_id));
CREATE INDEX IF NOT EXISTS task_assignees_user ON task_assignees(user_id);
CREATE TABLE IF NOT EXISTS events(
  id INTEGER PRIMARY KEY,
  space_id INTEGER NOT NULL,
  title TEXT NOT NULL,
  description TEXT NOT NULL,
  location TEXT NOT NULL,
  organizer TEXT NOT NULL,
  start_time INTEGER,
  end_time INTEGER,
  assignee_ids TEXT NOT NULL,
  everyone INTEGER NOT NULL,
  internal_use_only INTEGER NOT NULL,
  created INTEGER NOT NULL,
  created_by INTEGER NOT NULL REFERENCES users(id),
  last_modified INTEGER NOT NULL,
  deleted INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS events_creator ON events(created_by);
CREATE INDEX IF NOT EXISTS events_space ON events(space_id);
CREATE TABLE IF NOT EXISTS event_assignees(
  event_id INTEGER NOT NULL REFERENCES events(id) ON DELETE CASCADE,
  user_id INTEGER NOT NULL REFERENCES users(id),
  PRIMARY KEY(event_id, user_id));
CREATE INDEX IF NOT EXISTS event_assignees_user ON event_assignees(user_id);
CREATE TABLE IF NOT EXISTS activity(
  id INTEGER PRIMARY KEY,
  time INTEGER NOT NULL,
  user_id INTEGER NOT NULL,
  action TEXT NOT NULL,
  kind TEXT NOT NULL,
  record_id INTEGER NOT NULL,
  title TEXT NOT NULL,
  send_email INTEGER NOT NULL,
  add_to_activity_log TEXT NOT NULL,
  emailed_to TEXT NOT NULL);
)SQL";

// The rows of "my" records: the same rule for tasks and events.
// ?1 = user id.
std::string MineClause(const char* table, const char* assignees, const char* key) {
    std::ostringstream s;
    s << "(EXISTS(SELECT 1 FROM " << assignees << " a WHERE a." << key << "=" << table << ".id AND a.user_id=?1)"
      << " OR (" << table << ".everyone=1 AND (" << table
      << ".space_id IN (SELECT space_id FROM members WHERE user_id=?1)"
      << " OR (" << table << ".space_id=0 AND " << table << ".created_by=?1)))"
      << " OR (" << table << ".created_by=?1 AND " << table << ".everyone=0 AND " << table << ".assignee_ids=''))";
    return s.str();
}

const char* kTaskColumns =
    "tasks.id, tasks.space_id, tasks.tasklist_id, tasks.title, tasks.description, "
    "tasks.completed, tasks.priority, tasks.start_date, tasks.due_date, tasks.assignee_ids, "
    "tasks.internal_use_only, tasks.created, tasks.created_by, tasks.last_modified, "
    "tasks.deleted, COALESCE(w.name,''), COALESCE(c.name,'') FROM tasks "
    "LEFT JOIN workspaces w ON w.id=tasks.space_id "
    "LEFT JOIN categories c ON c.id=tasks.tasklist_id ";

Task ReadTask(Stmt& st) {
    Task t;
    t.id = st.Int(0);
    t.space_id = st.Int(1);
    t.tasklist_id = st.Int(2);
    t.title = st.Text(3);
    t.description = st.Text(4);
    t.completed = st.Int(5) != 0;
    t.priority = static_cast<int>(st.Int(6));
    t.start_date = st.Text(7);
    t.due_date = st.Text(8);
    t.assignee_ids = st.Text(9);
    t.internal_use_only = st.Int(10) != 0;
    t.created = st.Int(11);
    t.created_by = st.Int(12);
    t.last_modified = st.Int(13);
    t.deleted = st.Int(14) != 0;
    t.space_name = st.Text(15);
    t.category_name = st.Text(16);
    return t;
}

const char* kEventColumns =
    "events.id, events.space_id, events.title, events.description, events.location, "
    "events.organizer, events.start_time, events.end_time, events.assignee_ids, "
    "events.internal_use_only, events.created, events.created_by, events.last_modified, "
    "events.deleted, COALESCE(w.name,'') FROM events "
    "LEFT JOIN workspaces w ON w.id=events.space_id ";

Event ReadEvent(Stmt& st) {
    Event e;
    e.id = st.Int(0);
    e.space_id = st.Int(1);
    e.title = st.Text(2);
    e.description = st.Text(3);
    e.location = st.Text(4);
    e.organizer = st.Text(5);
    e.start_time = st.OptInt(6);
    e.end_time = st.OptInt(7);
    e.assignee_ids = st.Text(8);
    e.internal_use_only = st.Int(9) != 0;
    e.created = st.Int(10);
    e.created_by = st.Int(11);
    e.last_modified = st.Int(12);
    e.deleted = st.Int(13) != 0;
    e.space_name = st.Text(14);
    return e;
}

// What differs between the two kinds of record, for the code they share.
template <class R>
struct RecordKind;
template <>
struct RecordKind<Task> {
    static constexpr const char *kTable = "tasks", *kKey = "task_id", *kNoun = "task";
    static const char* Columns() { return kTaskColumns; }
    static Task Read(Stmt& st) { return ReadTask(st); }
};
template <>
struct RecordKind<Event> {
    static constexpr const char *kTable = "events", *kKey = "event_id", *kNoun = "event";
    static const char* Columns() { return kEventColumns; }
    static Event Read(Stmt& st) { return ReadEvent(st); }
};

// Password hashes are computed over the MD5 of the password's Windows-1252
// bytes, so the same stored hash checks both the SOAP header (clear text) and
// the login link (which carries that MD5).
std::string PasswordHash(const std::string& salt, const std::string& md5hex) {
    return Sha256Hex(salt + ":" + md5hex);
}

std::vector<int64_t> SplitIds(const std::string& ids) {
    std::vector<int64_t> out;
    std::stringstream ss(ids);
    std::string part;
    while (std::getline(ss, part, ',')) {
        int64_t v;
        if (ParseId(Trim(part), v)) out.push_back(v);
    }
    return out;
}

}  // namespace

// --- transaction

CTransaction::CTransaction(CStore& store, bool write) : m_store(store), m_lock(store.Mutex()) {
    store.Exec(write ? "BEGIN IMMEDIATE" : "BEGIN");
}

CTransaction::~CTransaction() {
    if (!m_done) sqlite3_exec(m_store.Db(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void CTransaction::Commit() {
    m_store.Exec("COMMIT");
    m_done = true;
}

// --- store

CStore::CStore(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        std::string msg = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        throw std::runtime_error("cannot open database " + path + ": " + msg);
    }
    sqlite3_busy_timeout(m_db, 5000);
    if (path != ":memory:") Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
    Exec("PRAGMA foreign_keys=ON");
    CreateSchema();
}

CStore::~CStore() {
    sqlite3_close(m_db);
}

void CStore::Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : "unknown error";
        sqlite3_free(err);
        throw Fault("SOAP-ENV:Server", "database: " + msg);
    }
}

void CStore::CreateSchema() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Exec(kSchema);
}

// --- users

int64_t CStore::AddUser(const std::string& username, const std::string& password, const std::string& full_name,
                        const std::string& email, const std::string& phone, int64_t id) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (username.empty()) throw ClientFault("A user needs a user name");
    if (FindUser(username)) throw ClientFault("User " + username + " exists already");
    const std::string salt = RandomHex(16);
    Stmt st(m_db,
            "INSERT INTO users(id, username, full_name, email, phone, salt, pw_hash) "
            "VALUES(?,?,?,?,?,?,?)");
    st.Bind(1, id > 0 ? std::optional<int64_t>(id) : std::nullopt)
        .Bind(2, username)
        .Bind(3, full_name)
        .Bind(4, email)
        .Bind(5, phone)
        .Bind(6, salt)
        .Bind(7, PasswordHash(salt, Md5Hex(Utf8ToCp1252(password))));
    st.Run();
    return sqlite3_last_insert_rowid(m_db);
}

void CStore::SetPassword(int64_t user, const std::string& password) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    const std::string salt = RandomHex(16);
    Stmt st(m_db, "UPDATE users SET salt=?, pw_hash=? WHERE id=?");
    st.Bind(1, salt).Bind(2, PasswordHash(salt, Md5Hex(Utf8ToCp1252(password)))).Bind(3, user);
    st.Run();
}

std::optional<User> CStore::Authenticate(const std::string& username, const std::string& password) {
    return AuthenticateMd5(username, Md5Hex(Utf8ToCp1252(password)));
}

std::optional<User> CStore::AuthenticateMd5(const std::string& username, const std::string& md5hex) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Stmt st(m_db, "SELECT id, salt, pw_hash FROM users WHERE username=?");
    st.Bind(1, username);
    if (!st.Step()) return std::nullopt;
    std::string m = md5hex;
    std::transform(m.begin(), m.end(), m.begin(), [](unsigned char c) { return std::tolower(c); });
    if (PasswordHash(st.Text(1), m) != st.Text(2)) return std::nullopt;
    return GetUser(st.Int(0));
}

std::optional<User> CStore::FindUser(const std::string& username) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Stmt st(m_db, "SELECT id FROM users WHERE username=?");
    st.Bind(1, username);
    if (!st.Step()) return std::nullopt;
    return GetUser(st.Int(0));
}

std::optional<User> CStore::GetUser(int64_t id) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Stmt st(m_db, "SELECT id, username, full_name, email, phone FROM users WHERE id=?");
    st.Bind(1, id);
    if (!st.Step()) return std::nullopt;
    return User{st.Int(0), st.Text(1), st.Text(2), st.Text(3), st.Text(4)};
}

std::vector<User> CStore::Users() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Stmt st(m_db, "SELECT id, username, full_name, email, phone FROM users ORDER BY id");
    std::vector<User> out;
    while (st.Step()) out.push_back(User{st.Int(0), st.Text(1), st.Text(2), st.Text(3), st.Text(4)});
    return out;
}

// --- workspaces

int64_t CStore::AddWorkspace(const std::string& name, int64_t id) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (name.empty()) throw ClientFault("A workspace needs a name");
    Stmt st(m_db, "INSERT INTO workspaces(id, name) VALUES(?,?)");
    st.Bind(1, id > 0 ? std::optional<int64_t>(id) : std::nullopt).Bind(2, name);
    st.Run();
    return sqlite3_last_insert_rowid(m_db);
}

std::vector<Workspace> CStore::Workspaces() {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Stmt st(m_db, "SELECT id, name FROM workspaces ORDER BY id");
    std::vector<Workspace> out;
    while (st.Step()) out.push_back(Workspace{st.Int(0), st.Text(1)});
    return out;
}

std::optional<Workspace> CStore::GetWorkspace(int64_t id) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Stmt st(m_db, "SELECT id, name FROM workspaces WHERE id=?");
    st.Bind(1, id);
    if (!st.Step()) return std::nullopt;
    return Workspace{st.Int(0), st.Text(1)};
}

void CStore::AddMember(int64_t space, int64_t user) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Stmt st(m_db, "INSERT OR IGNORE INTO members(space_id, user_id) VALUES(?,?)");
    st.Bind(1, space).Bind(2, user);
    st.Run();
}

bool CStore::IsMember(int64_t space, int64_t user) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Stmt st(m_db, "SELECT 1 FROM members WHERE space_id=? AND user_id=?");
    st.Bind(1, space).Bind(2, user);
    return st.Step();
}

std::vector<User> CStore::Members(int64_t space) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Stmt st(m_db,
            "SELECT u.id, u.username, u.full_name, u.email, u.phone FROM members m "
            "JOIN users u ON u.id=m.user_id WHERE m.space_id=? ORDER BY u.full_name, u.id");
    st.Bind(1, space);
    std::vector<User> out;
    while (st.Step()) out.push_back(User{st.Int(0), st.Text(1), st.Text(2), st.Text(3), st.Text(4)});
    return out;
}

int64_t CStore::AddCategory(const Category& c) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (c.name.empty()) throw ClientFault("A category needs a name");
    if (c.parent_id) {
        auto parent = GetCategory(c.parent_id);
        if (!parent || parent->space_id != c.space_id)
            throw ClientFault("The parent category is not in the same workspace");
    }
    Stmt st(m_db,
            "INSERT INTO categories(id, space_id, parent_id, name, type, db_guid, milestone_id, "
            "email_primary, email_files, email_discussions, internal_use_only) "
            "VALUES(?,?,?,?,?,?,?,?,?,?,?)");
    st.Bind(1, c.id > 0 ? std::optional<int64_t>(c.id) : std::nullopt)
        .Bind(2, c.space_id)
        .Bind(3, c.parent_id ? std::optional<int64_t>(c.parent_id) : std::nullopt)
        .Bind(4, c.name)
        .Bind(5, c.type)
        .Bind(6, c.db_guid)
        .Bind(7, c.milestone_id)
        .Bind(8, c.email_primary)
        .Bind(9, c.email_files)
        .Bind(10, c.email_discussions)
        .Bind(11, static_cast<int64_t>(c.internal_use_only));
    st.Run();
    return sqlite3_last_insert_rowid(m_db);
}

namespace {
const char* kCategoryColumns =
    "c.id, c.space_id, COALESCE(c.parent_id,0), c.name, c.type, c.db_guid, c.milestone_id, "
    "c.email_primary, c.email_files, c.email_discussions, c.internal_use_only, w.name "
    "FROM categories c JOIN workspaces w ON w.id=c.space_id ";

Category ReadCategory(Stmt& st) {
    Category c;
    c.id = st.Int(0);
    c.space_id = st.Int(1);
    c.parent_id = st.Int(2);
    c.name = st.Text(3);
    c.type = st.Text(4);
    c.db_guid = st.Text(5);
    c.milestone_id = st.Text(6);
    c.email_primary = st.Text(7);
    c.email_files = st.Text(8);
    c.email_discussions = st.Text(9);
    c.internal_use_only = st.Int(10) != 0;
    c.path = st.Text(11);  // workspace name; completed by the caller
    return c;
}
}  // namespace

std::optional<Category> CStore::GetCategory(int64_t id) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // Walk up to build the display path.
    Stmt st(m_db, (std::string("SELECT ") + kCategoryColumns + "WHERE c.id=?").c_str());
    st.Bind(1, id);
    if (!st.Step()) return std::nullopt;
    Category c = ReadCategory(st);
    std::vector<std::string> names{c.name};
    int64_t parent = c.parent_id;
    for (int guard = 0; parent && guard < 64; ++guard) {
        Stmt up(m_db, "SELECT name, COALESCE(parent_id,0) FROM categories WHERE id=?");
        up.Bind(1, parent);
        if (!up.Step()) break;
        names.push_back(up.Text(0));
        parent = up.Int(1);
    }
    for (auto it = names.rbegin(); it != names.rend(); ++it) c.path += " > " + *it;
    return c;
}

std::vector<Category> CStore::CategoriesForUser(int64_t user, const std::vector<std::string>& types) {
    return CategoryTree("c.space_id IN (SELECT space_id FROM members WHERE user_id=?)", user, types);
}

std::vector<Category> CStore::CategoriesInSpace(int64_t space) {
    return CategoryTree("c.space_id=?", space, {});
}

std::vector<Category> CStore::CategoryTree(const char* where, int64_t param, const std::vector<std::string>& types) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Stmt st(m_db,
            (std::string("SELECT ") + kCategoryColumns + "WHERE " + where + " ORDER BY c.space_id, c.id").c_str());
    st.Bind(1, param);
    std::vector<Category> all;
    while (st.Step()) all.push_back(ReadCategory(st));
    // Pre-order walk of each workspace's tree, so every parent comes first.
    std::map<int64_t, std::vector<size_t>> children;  // parent id -> indexes
    std::map<int64_t, std::vector<size_t>> roots;     // space id -> indexes
    std::set<int64_t> ids;
    for (const auto& c : all) ids.insert(c.id);
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].parent_id && ids.count(all[i].parent_id))
            children[all[i].parent_id].push_back(i);
        else
            roots[all[i].space_id].push_back(i);
    }
    std::vector<Category> out;
    std::function<void(size_t, const std::string&)> walk = [&](size_t i, const std::string& prefix) {
        Category c = all[i];
        c.path = prefix + " > " + c.name;
        const bool wanted = types.empty() || std::find(types.begin(), types.end(), c.type) != types.end();
        const auto kids = children.find(c.id);
        const std::string path = c.path;
        if (wanted) out.push_back(c);
        if (kids != children.end())
            for (size_t k : kids->second) walk(k, path);
    };
    for (const auto& [space, list] : roots)
        for (size_t i : list) walk(i, all[i].path);
    return out;
}

// --- shared record helpers

std::string CStore::NormalizeAssignees(const std::string& text) {
    const std::string trimmed = Trim(text);
    if (trimmed.empty()) return "";
    std::vector<int64_t> ids;
    std::stringstream ss(trimmed);
    std::string part;
    while (std::getline(ss, part, ',')) {
        part = Trim(part);
        if (part.empty()) continue;
        if (part == "-1") return "-1";  // "Everyone" wins over any other choice
        int64_t id;
        if (!ParseId(part, id)) throw ClientFault("Invalid user id in assigned_to_userids: " + part);
        if (!GetUser(id)) throw ClientFault("Unknown user id in assigned_to_userids: " + part);
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    }
    std::string out;
    for (auto id : ids) {
        if (!out.empty()) out += ',';
        out += std::to_string(id);
    }
    return out;
}

std::string CStore::NamesOf(const std::string& ids) {
    if (ids == "-1") return "Everyone";
    std::string out;
    for (auto id : SplitIds(ids)) {
        auto u = GetUser(id);
        if (!u) continue;
        if (!out.empty()) out += ", ";
        out += u->full_name.empty() ? u->username : u->full_name;
    }
    return out;
}

bool CStore::CanSeeSpace(int64_t user, int64_t space) {
    return space == 0 || IsMember(space, user);
}

int64_t CStore::NextModified(int64_t previous) {
    // Every change moves last_modified forward, even two changes within the
    // same second.
    return std::max(Now(), previous + 1);
}

template <class R>
bool CStore::IsMine(int64_t user, const R& r) {
    if (r.assignee_ids == "-1") return r.space_id == 0 ? r.created_by == user : IsMember(r.space_id, user);
    if (r.assignee_ids.empty()) return r.created_by == user;
    auto ids = SplitIds(r.assignee_ids);
    return std::find(ids.begin(), ids.end(), user) != ids.end();
}

// --- tasks

template <class R>
void CStore::FillNames(R& r) {
    if (auto u = GetUser(r.created_by)) r.created_by_name = u->full_name.empty() ? u->username : u->full_name;
    r.assigned_to = NamesOf(r.assignee_ids);
}

template <class R>
std::optional<R> CStore::Load(int64_t id) {
    using K = RecordKind<R>;
    Stmt st(m_db, (std::string("SELECT ") + K::Columns() + "WHERE " + K::kTable + ".id=?").c_str());
    st.Bind(1, id);
    if (!st.Step()) return std::nullopt;
    R r = K::Read(st);
    FillNames(r);
    return r;
}

template <class R>
R CStore::GetVisible(int64_t user, int64_t id) {
    using K = RecordKind<R>;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    auto r = Load<R>(id);
    if (!r) throw ClientFault(std::string("Unknown ") + K::kKey + " " + std::to_string(id));
    if (!IsMine(user, *r) && r->created_by != user && !(r->space_id != 0 && IsMember(r->space_id, user)))
        throw ClientFault(std::string("Access denied to ") + K::kNoun + " " + std::to_string(id));
    return *r;
}

template <class R>
bool CStore::MarkDeleted(int64_t user, int64_t id) {
    using K = RecordKind<R>;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    R old = GetVisible<R>(user, id);
    if (old.deleted) return false;
    Stmt st(m_db, (std::string("UPDATE ") + K::kTable + " SET deleted=1, last_modified=? WHERE id=?").c_str());
    st.Bind(1, NextModified(old.last_modified)).Bind(2, id);
    st.Run();
    return true;
}

void CStore::CheckWorkspace(int64_t user, int64_t space) {
    if (space == 0) return;
    if (!GetWorkspace(space)) throw ClientFault("Unknown workspace " + std::to_string(space));
    if (!IsMember(space, user)) throw ClientFault("You are not a member of workspace " + std::to_string(space));
}

void CStore::CheckTaskTarget(int64_t user, Task& t) {
    CheckWorkspace(user, t.space_id);
    if (t.tasklist_id != 0) {
        auto c = GetCategory(t.tasklist_id);
        if (!c || c->type != "tasklist") throw ClientFault("Unknown task list " + std::to_string(t.tasklist_id));
        if (c->space_id != t.space_id)
            throw ClientFault("Task list " + std::to_string(t.tasklist_id) + " does not belong to workspace " +
                              std::to_string(t.space_id));
    }
    if (t.priority < 0 || t.priority > 3) throw ClientFault("Invalid priority");
    t.assignee_ids = NormalizeAssignees(t.assignee_ids);
}

void CStore::WriteTaskAssignees(int64_t id, const std::string& ids, bool task) {
    {
        Stmt del(m_db,
                 task ? "DELETE FROM task_assignees WHERE task_id=?" : "DELETE FROM event_assignees WHERE event_id=?");
        del.Bind(1, id);
        del.Run();
    }
    if (ids == "-1") return;
    for (auto uid : SplitIds(ids)) {
        Stmt ins(m_db, task ? "INSERT OR IGNORE INTO task_assignees(task_id, user_id) VALUES(?,?)"
                            : "INSERT OR IGNORE INTO event_assignees(event_id, user_id) VALUES(?,?)");
        ins.Bind(1, id).Bind(2, uid);
        ins.Run();
    }
}

Task CStore::CreateTask(int64_t user, Task t) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    CheckTaskTarget(user, t);
    const int64_t now = Now();
    Stmt st(m_db,
            "INSERT INTO tasks(id, space_id, tasklist_id, title, description, completed, priority, "
            "start_date, due_date, assignee_ids, everyone, internal_use_only, created, created_by, "
            "last_modified, deleted) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,0)");
    st.Bind(1, t.id > 0 ? std::optional<int64_t>(t.id) : std::nullopt)
        .Bind(2, t.space_id)
        .Bind(3, t.tasklist_id)
        .Bind(4, t.title)
        .Bind(5, t.description)
        .Bind(6, static_cast<int64_t>(t.completed))
        .Bind(7, static_cast<int64_t>(t.priority))
        .Bind(8, t.start_date)
        .Bind(9, t.due_date)
        .Bind(10, t.assignee_ids)
        .Bind(11, static_cast<int64_t>(t.assignee_ids == "-1"))
        .Bind(12, static_cast<int64_t>(t.internal_use_only))
        .Bind(13, now)
        .Bind(14, user)
        .Bind(15, now);
    st.Run();
    const int64_t id = sqlite3_last_insert_rowid(m_db);
    WriteTaskAssignees(id, t.assignee_ids, true);
    return *Load<Task>(id);
}

Task CStore::GetTask(int64_t user, int64_t id) {
    return GetVisible<Task>(user, id);
}

Task CStore::UpdateTask(int64_t user, Task t) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Task old = GetTask(user, t.id);
    if (old.deleted) throw ClientFault("Task " + std::to_string(t.id) + " has been deleted");
    CheckTaskTarget(user, t);
    Stmt st(m_db,
            "UPDATE tasks SET space_id=?, tasklist_id=?, title=?, description=?, completed=?, "
            "priority=?, start_date=?, due_date=?, assignee_ids=?, everyone=?, last_modified=? "
            "WHERE id=?");
    st.Bind(1, t.space_id)
        .Bind(2, t.tasklist_id)
        .Bind(3, t.title)
        .Bind(4, t.description)
        .Bind(5, static_cast<int64_t>(t.completed))
        .Bind(6, static_cast<int64_t>(t.priority))
        .Bind(7, t.start_date)
        .Bind(8, t.due_date)
        .Bind(9, t.assignee_ids)
        .Bind(10, static_cast<int64_t>(t.assignee_ids == "-1"))
        .Bind(11, NextModified(old.last_modified))
        .Bind(12, t.id);
    st.Run();
    WriteTaskAssignees(t.id, t.assignee_ids, true);
    return *Load<Task>(t.id);
}

bool CStore::DeleteTask(int64_t user, int64_t id) {
    return MarkDeleted<Task>(user, id);
}

namespace {

// Caches user display names for one bulk read.
class CNameCache {
public:
    explicit CNameCache(CStore& store) {
        for (auto& u : store.Users()) m_names[u.id] = u.full_name.empty() ? u.username : u.full_name;
    }
    const std::string& Name(int64_t id) {
        static const std::string kEmpty;
        auto it = m_names.find(id);
        return it == m_names.end() ? kEmpty : it->second;
    }
    std::string Names(const std::string& ids) {
        if (ids.empty()) return "";
        if (ids == "-1") return "Everyone";
        std::string out;
        for (auto id : SplitIds(ids)) {
            if (!out.empty()) out += ", ";
            out += Name(id);
        }
        return out;
    }

private:
    std::unordered_map<int64_t, std::string> m_names;
};

}  // namespace

template <class R>
void CStore::ForEach(const std::string& sql, const std::vector<std::optional<int64_t>>& params,
                     const std::function<void(const R&)>& fn) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    CNameCache names(*this);
    Stmt st(m_db, (std::string("SELECT ") + RecordKind<R>::Columns() + sql).c_str());
    for (size_t i = 0; i < params.size(); ++i)
        if (params[i]) st.Bind(static_cast<int>(i + 1), *params[i]);
    while (st.Step()) {
        R r = RecordKind<R>::Read(st);
        r.created_by_name = names.Name(r.created_by);
        r.assigned_to = names.Names(r.assignee_ids);
        fn(r);
    }
}

void CStore::MyTasks(int64_t user, const Selection& sel, const std::function<void(const Task&)>& fn) {
    std::string sql = "WHERE " + MineClause("tasks", "task_assignees", "task_id");
    sql += sel.changed_since ? " AND tasks.last_modified >= ?2" : " AND tasks.deleted=0";
    ForEach<Task>(sql + " ORDER BY tasks.id", {user, sel.changed_since}, fn);
}

void CStore::AllTasks(const std::function<void(const Task&)>& fn) {
    ForEach<Task>("ORDER BY tasks.id", {}, fn);
}

// --- events

Event CStore::CreateEvent(int64_t user, Event e) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    CheckWorkspace(user, e.space_id);
    e.assignee_ids = NormalizeAssignees(e.assignee_ids);
    if (e.start_time && e.end_time && *e.end_time < *e.start_time) throw ClientFault("end_time lies before start_time");
    if (e.organizer.empty()) {
        auto u = GetUser(user);
        e.organizer = u ? (u->full_name.empty() ? u->username : u->full_name) : "";
    }
    const int64_t now = Now();
    Stmt st(m_db,
            "INSERT INTO events(id, space_id, title, description, location, organizer, start_time, "
            "end_time, assignee_ids, everyone, internal_use_only, created, created_by, "
            "last_modified, deleted) VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,0)");
    st.Bind(1, e.id > 0 ? std::optional<int64_t>(e.id) : std::nullopt)
        .Bind(2, e.space_id)
        .Bind(3, e.title)
        .Bind(4, e.description)
        .Bind(5, e.location)
        .Bind(6, e.organizer)
        .Bind(7, e.start_time)
        .Bind(8, e.end_time)
        .Bind(9, e.assignee_ids)
        .Bind(10, static_cast<int64_t>(e.assignee_ids == "-1"))
        .Bind(11, static_cast<int64_t>(e.internal_use_only))
        .Bind(12, now)
        .Bind(13, user)
        .Bind(14, now);
    st.Run();
    const int64_t id = sqlite3_last_insert_rowid(m_db);
    WriteTaskAssignees(id, e.assignee_ids, false);
    return *Load<Event>(id);
}

Event CStore::GetEvent(int64_t user, int64_t id) {
    return GetVisible<Event>(user, id);
}

Event CStore::UpdateEvent(int64_t user, Event e) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Event old = GetEvent(user, e.id);
    if (old.deleted) throw ClientFault("Event " + std::to_string(e.id) + " has been deleted");
    if (e.space_id != 0 && (!GetWorkspace(e.space_id) || !IsMember(e.space_id, user)))
        throw ClientFault("Unknown workspace " + std::to_string(e.space_id));
    e.assignee_ids = NormalizeAssignees(e.assignee_ids);
    if (e.start_time && e.end_time && *e.end_time < *e.start_time) throw ClientFault("end_time lies before start_time");
    Stmt st(m_db,
            "UPDATE events SET space_id=?, title=?, description=?, location=?, organizer=?, "
            "start_time=?, end_time=?, assignee_ids=?, everyone=?, internal_use_only=?, "
            "last_modified=? WHERE id=?");
    st.Bind(1, e.space_id)
        .Bind(2, e.title)
        .Bind(3, e.description)
        .Bind(4, e.location)
        .Bind(5, e.organizer)
        .Bind(6, e.start_time)
        .Bind(7, e.end_time)
        .Bind(8, e.assignee_ids)
        .Bind(9, static_cast<int64_t>(e.assignee_ids == "-1"))
        .Bind(10, static_cast<int64_t>(e.internal_use_only))
        .Bind(11, NextModified(old.last_modified))
        .Bind(12, e.id);
    st.Run();
    WriteTaskAssignees(e.id, e.assignee_ids, false);
    return *Load<Event>(e.id);
}

bool CStore::DeleteEvent(int64_t user, int64_t id) {
    return MarkDeleted<Event>(user, id);
}

void CStore::MyEvents(int64_t user, const Selection& sel, const std::function<void(const Event&)>& fn) {
    std::string sql = "WHERE " + MineClause("events", "event_assignees", "event_id");
    sql += sel.changed_since ? " AND events.last_modified >= ?2" : " AND events.deleted=0";
    if (sel.window_start) sql += " AND COALESCE(events.end_time, events.start_time) >= ?3";
    if (sel.window_end) sql += " AND events.start_time <= ?4";
    ForEach<Event>(sql + " ORDER BY events.id", {user, sel.changed_since, sel.window_start, sel.window_end}, fn);
}

void CStore::AllEvents(const std::function<void(const Event&)>& fn) {
    ForEach<Event>("ORDER BY events.id", {}, fn);
}

// --- activity

void CStore::RecordActivity(int64_t user, const std::string& action, const std::string& kind, int64_t record_id,
                            const std::string& title, bool send_email, const std::string& add_to_log,
                            const std::string& assignee_ids) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // A notification goes to every assignee but the sender; "Everyone" means
    // the workspace's members.
    std::string emailed;
    if (send_email) {
        std::vector<int64_t> to;
        if (assignee_ids == "-1") {
            int64_t space = 0;
            Stmt sp(m_db, kind == "task" ? "SELECT space_id FROM tasks WHERE id=?"
                                         : "SELECT space_id FROM events WHERE id=?");
            sp.Bind(1, record_id);
            if (sp.Step()) space = sp.Int(0);
            for (auto& u : Members(space)) to.push_back(u.id);
        } else {
            to = SplitIds(assignee_ids);
        }
        for (auto id : to) {
            if (id == user) continue;
            if (auto u = GetUser(id)) {
                if (!emailed.empty()) emailed += ",";
                emailed += u->username;
            }
        }
    }
    Stmt st(m_db,
            "INSERT INTO activity(time, user_id, action, kind, record_id, title, send_email, "
            "add_to_activity_log, emailed_to) VALUES(?,?,?,?,?,?,?,?,?)");
    st.Bind(1, Now())
        .Bind(2, user)
        .Bind(3, action)
        .Bind(4, kind)
        .Bind(5, record_id)
        .Bind(6, title)
        .Bind(7, static_cast<int64_t>(send_email))
        .Bind(8, add_to_log)
        .Bind(9, emailed);
    st.Run();
}

std::vector<Activity> CStore::Activities(int64_t after_id) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Stmt st(m_db,
            "SELECT a.id, a.time, COALESCE(u.username,''), a.action, a.kind, a.record_id, "
            "a.send_email, a.add_to_activity_log, a.emailed_to, a.title FROM activity a "
            "LEFT JOIN users u ON u.id=a.user_id WHERE a.id>? ORDER BY a.id");
    st.Bind(1, after_id);
    std::vector<Activity> out;
    while (st.Step()) {
        Activity a;
        a.id = st.Int(0);
        a.time = st.Int(1);
        a.username = st.Text(2);
        a.action = st.Text(3);
        a.kind = st.Text(4);
        a.record_id = st.Int(5);
        a.send_email = st.Int(6) != 0;
        a.add_to_activity_log = st.Text(7);
        a.emailed_to = st.Text(8);
        a.title = st.Text(9);
        out.push_back(std::move(a));
    }
    return out;
}

std::string CStore::Setting(const std::string& key, const std::string& def) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Stmt st(m_db, "SELECT value FROM settings WHERE key=?");
    st.Bind(1, key);
    return st.Step() ? st.Text(0) : def;
}

void CStore::SetSetting(const std::string& key, const std::string& value) {
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    Stmt st(m_db, "INSERT OR REPLACE INTO settings(key, value) VALUES(?,?)");
    st.Bind(1, key).Bind(2, value);
    st.Run();
}

}  // namespace hvsvc
