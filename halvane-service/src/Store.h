// The service's data in one SQLite database: users, workspaces, categories,
// members, tasks, events, tombstones and the activity record.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace hvsvc {

// A failure that the SOAP layer answers as a fault. Client faults come from
// the request (unknown id, bad value); server faults from the service.
struct Fault : std::runtime_error {
    Fault(std::string c, const std::string& text) : std::runtime_error(text), code(std::move(c)) {}
    std::string code;
};
Fault ClientFault(const std::string& text);

struct User {
    int64_t id = 0;
    std::string username, full_name, email, phone;
};

struct Workspace {
    int64_t id = 0;
    std::string name;
};

// type is one of "folder", "tasklist", "calendar", "database".
struct Category {
    int64_t id = 0, space_id = 0, parent_id = 0;
    std::string name, type, db_guid, milestone_id, email_primary, email_files, email_discussions;
    bool internal_use_only = false;
    std::string path;  // "Workspace > Folder > Sub"
};

struct Task {
    int64_t id = 0, space_id = 0, tasklist_id = 0;
    std::string title, description;
    bool completed = false;
    int priority = 2;
    std::string start_date, due_date;  // "YYYY-MM-DD" or empty
    std::string assignee_ids;          // "-1", "3,4" or empty
    bool internal_use_only = false;
    int64_t created = 0, created_by = 0, last_modified = 0;
    bool deleted = false;
    // Filled on reading.
    std::string space_name, category_name, created_by_name, assigned_to;
};

struct Event {
    int64_t id = 0, space_id = 0;
    std::string title, description, location, organizer;
    std::optional<int64_t> start_time, end_time;
    std::string assignee_ids;
    bool internal_use_only = false;
    int64_t created = 0, created_by = 0, last_modified = 0;
    bool deleted = false;
    std::string space_name, created_by_name, assigned_to;
};

struct Activity {
    int64_t id = 0, time = 0;
    std::string username, action, kind;
    int64_t record_id = 0;
    bool send_email = false;
    std::string add_to_activity_log;  // as received: "true", "false" or ""
    std::string emailed_to;           // user names notified when send_email
    std::string title;
};

// Which records a bulk download returns.
struct Selection {
    std::optional<int64_t> changed_since;             // last_modified >= this, tombstones included
    std::optional<int64_t> window_start, window_end;  // events overlapping the window
};

class CStore;

// A transaction held for the duration of one request. Destroyed without
// Commit() it rolls back, so a failing request leaves nothing behind.
class CTransaction {
public:
    CTransaction(CStore& store, bool write);
    ~CTransaction();
    void Commit();
    CTransaction(const CTransaction&) = delete;
    CTransaction& operator=(const CTransaction&) = delete;

private:
    CStore& m_store;
    std::unique_lock<std::recursive_mutex> m_lock;
    bool m_done = false;
};

class CStore {
public:
    // path ":memory:" keeps everything in memory.
    explicit CStore(const std::string& path);
    ~CStore();
    CStore(const CStore&) = delete;
    CStore& operator=(const CStore&) = delete;

    // --- users
    int64_t AddUser(const std::string& username, const std::string& password, const std::string& full_name,
                    const std::string& email, const std::string& phone, int64_t id = 0);
    void SetPassword(int64_t user, const std::string& password);
    // Checks a password as the SOAP header carries it.
    std::optional<User> Authenticate(const std::string& username, const std::string& password);
    // Checks the MD5 (32 lower-case hex digits) of the password, as the login link carries it.
    std::optional<User> AuthenticateMd5(const std::string& username, const std::string& md5hex);
    std::optional<User> FindUser(const std::string& username);
    std::optional<User> GetUser(int64_t id);
    std::vector<User> Users();

    // --- workspaces, categories, members
    int64_t AddWorkspace(const std::string& name, int64_t id = 0);
    std::vector<Workspace> Workspaces();
    std::optional<Workspace> GetWorkspace(int64_t id);
    void AddMember(int64_t space, int64_t user);
    bool IsMember(int64_t space, int64_t user);
    std::vector<User> Members(int64_t space);
    int64_t AddCategory(const Category& c);
    std::optional<Category> GetCategory(int64_t id);
    // Categories of the workspaces the user belongs to, each workspace's in
    // tree order (a parent before its children); types empty = all.
    std::vector<Category> CategoriesForUser(int64_t user, const std::vector<std::string>& types);
    std::vector<Category> CategoriesInSpace(int64_t space);

    // --- tasks
    Task CreateTask(int64_t user, Task t);
    Task UpdateTask(int64_t user, Task t);
    // Returns false when the task was already deleted (nothing changes then).
    bool DeleteTask(int64_t user, int64_t id);
    Task GetTask(int64_t user, int64_t id);  // tombstones included
    // The user's tasks: assigned to the user, assigned to everyone in one of
    // the user's workspaces, or created by the user and assigned to nobody.
    void MyTasks(int64_t user, const Selection& sel, const std::function<void(const Task&)>& fn);
    // Every task, for the administrative interface.
    void AllTasks(const std::function<void(const Task&)>& fn);

    // --- events
    Event CreateEvent(int64_t user, Event e);
    Event UpdateEvent(int64_t user, Event e);
    bool DeleteEvent(int64_t user, int64_t id);
    Event GetEvent(int64_t user, int64_t id);
    void MyEvents(int64_t user, const Selection& sel, const std::function<void(const Event&)>& fn);
    void AllEvents(const std::function<void(const Event&)>& fn);

    // --- activity record (every change, with the send_email and
    // add_to_activity_log flags it came with)
    void RecordActivity(int64_t user, const std::string& action, const std::string& kind, int64_t record_id,
                        const std::string& title, bool send_email, const std::string& add_to_log,
                        const std::string& assignee_ids);
    std::vector<Activity> Activities(int64_t after_id = 0);

    // --- settings (key/value)
    std::string Setting(const std::string& key, const std::string& def);
    void SetSetting(const std::string& key, const std::string& value);

    // Normalises an assignee list: "" none, "-1" everyone, else ids joined by
    // ","; unknown users are a client fault.
    std::string NormalizeAssignees(const std::string& text);

    // Raw access for the transaction class and statements.
    sqlite3* Db() { return m_db; }
    std::recursive_mutex& Mutex() { return m_mutex; }
    void Exec(const char* sql);

private:
    friend class CTransaction;
    void CreateSchema();
    std::vector<Category> CategoryTree(const char* where, int64_t param, const std::vector<std::string>& types);
    bool CanSeeSpace(int64_t user, int64_t space);
    void CheckWorkspace(int64_t user, int64_t space);
    void CheckTaskTarget(int64_t user, Task& t);
    void WriteTaskAssignees(int64_t id, const std::string& ids, bool everyone_table);
    std::string NamesOf(const std::string& ids);
    // Tasks and events alike (R is Task or Event; defined in Store.cpp).
    template <class R>
    bool IsMine(int64_t user, const R& r);
    template <class R>
    void FillNames(R& r);
    template <class R>
    std::optional<R> Load(int64_t id);
    template <class R>
    R GetVisible(int64_t user, int64_t id);
    template <class R>
    bool MarkDeleted(int64_t user, int64_t id);
    // Runs a SELECT of R's columns; parameter i+1 is params[i] where that has a value.
    template <class R>
    void ForEach(const std::string& sql, const std::vector<std::optional<int64_t>>& params,
                 const std::function<void(const R&)>& fn);
    int64_t NextModified(int64_t previous);

    sqlite3* m_db = nullptr;
    std::recursive_mutex m_mutex;
};

}  // namespace hvsvc
