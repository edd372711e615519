// The product web site that the Outlook Bar shortcuts open: the dashboard,
// the user's task list and calendar, and the sign-in link.
#include "HttpServer.h"

#include <algorithm>
#include <map>

#include "Server.h"
#include "Util.h"

namespace hvsvc {

namespace {

const char* kStyle =
    "body{font-family:Segoe UI,Helvetica,Arial,sans-serif;margin:0;color:#222;background:#f6f7f9}"
    "header{background:#1f4e79;color:#fff;padding:10px 24px;display:flex;gap:24px;align-items:center}"
    "header a{color:#fff;text-decoration:none}header .brand{font-weight:bold;font-size:1.2em}"
    "main{padding:16px 24px}table{border-collapse:collapse;background:#fff;width:100%}"
    "th,td{border:1px solid #d9dde3;padding:6px 8px;text-align:left;vertical-align:top}"
    "th{background:#e9edf2}.done{color:#888;text-decoration:line-through}"
    "section{background:#fff;border:1px solid #d9dde3;padding:8px 16px;margin-bottom:16px}"
    "ul{margin:4px 0}form{background:#fff;border:1px solid #d9dde3;padding:16px;max-width:320px}"
    "label{display:block;margin:8px 0 2px}.err{color:#b00020}";

std::string Page(const std::string& title, const std::string& user, const std::string& content) {
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + HtmlEscape(title) +
                      " - Halvane</title><style>" + kStyle +
                      "</style></head><body><header>"
                      "<span class=\"brand\">Halvane</span>";
    if (!user.empty()) {
        out +=
            "<a href=\"/home/index\">Dashboard</a><a href=\"/home/index?mytasks\">My Tasks</a>"
            "<a href=\"/home/index?mycalendar\">My Calendar</a><span style=\"flex:1\"></span>"
            "<span>" +
            HtmlEscape(user) + "</span><a href=\"/logout\">Sign out</a>";
    }
    out += "</header><main><h1>" + HtmlEscape(title) + "</h1>\n" + content + "</main></body></html>\n";
    return out;
}

std::string PriorityText(int p) {
    switch (p) {
        case 1:
            return "Low";
        case 3:
            return "High";
        default:
            return "Normal";
    }
}

std::string DisplayTime(const std::optional<int64_t>& t) {
    if (!t) return "";
    std::string s = FormatTimeZ(*t);
    return s.substr(0, 10) + " " + s.substr(11, 5) + " UTC";
}

std::string CookieToken(const http::Request& req) {
    const std::string cookie = req.get_header_value("Cookie");
    size_t pos = 0;
    while ((pos = cookie.find("hvsession=", pos)) != std::string::npos) {
        if (pos == 0 || cookie[pos - 1] == ' ' || cookie[pos - 1] == ';') {
            size_t end = cookie.find(';', pos);
            return cookie.substr(pos + 10, end == std::string::npos ? std::string::npos : end - pos - 10);
        }
        pos += 10;
    }
    return "";
}

// A site path as a Location header value: the decoded rurl may hold spaces or
// UTF-8 bytes, which a URI carries escaped.
std::string LocationOf(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>') {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

std::optional<User> CServiceServer::WebUser(const http::Request& req) {
    const std::string token = CookieToken(req);
    if (token.empty()) return std::nullopt;
    auto id = m_sessions.Find(token);
    if (!id) return std::nullopt;
    return m_store.GetUser(*id);
}

void CServiceServer::LoginAuth(const http::Request& req, http::Response& res) {
    const std::string username = req.get_param_value("username");
    const std::string m = req.get_param_value("m");
    const std::string rurl = req.get_param_value("rurl");
    auto user = m.size() == 32 ? m_store.AuthenticateMd5(username, m) : std::nullopt;
    if (!user) {
        res.status = 403;
        res.set_content(Page("Sign-in failed", "",
                             "<p class=\"err\">The sign-in link is not valid: the user name or "
                             "password does not match.</p><p><a href=\"/login?rurl=" +
                                 HtmlEscape(UrlEncode(IsLocalRedirect(rurl) ? rurl : "/home/index")) +
                                 "\">Sign in with your password</a></p>"),
                        "text/html; charset=utf-8");
        return;
    }
    const std::string token = m_sessions.Create(user->id);
    res.set_header("Set-Cookie", "hvsession=" + token + "; Path=/; HttpOnly; SameSite=Lax");
    res.set_redirect(IsLocalRedirect(rurl) ? LocationOf(rurl) : "/home/index");
}

void CServiceServer::LoginForm(const http::Request& req, http::Response& res) {
    std::string rurl = req.get_param_value("rurl");
    if (!IsLocalRedirect(rurl)) rurl = "/home/index";
    std::string error;
    if (req.method == "POST") {
        auto user = m_store.Authenticate(req.get_param_value("username"), req.get_param_value("password"));
        if (user) {
            res.set_header("Set-Cookie",
                           "hvsession=" + m_sessions.Create(user->id) + "; Path=/; HttpOnly; SameSite=Lax");
            res.set_redirect(rurl, 303);
            return;
        }
        res.status = 403;
        error = "<p class=\"err\">Invalid user name or password.</p>";
    }
    res.set_content(Page("Sign in", "",
                         error +
                             "<form method=\"post\" action=\"/login\">"
                             "<input type=\"hidden\" name=\"rurl\" value=\"" +
                             HtmlEscape(rurl) +
                             "\">"
                             "<label for=\"u\">User name</label><input id=\"u\" name=\"username\">"
                             "<label for=\"p\">Password</label><input id=\"p\" name=\"password\" type=\"password\">"
                             "<p><button type=\"submit\">Sign in</button></p></form>"),
                    "text/html; charset=utf-8");
}

void CServiceServer::HomeIndex(const http::Request& req, http::Response& res) {
    auto user = WebUser(req);
    std::string view = req.has_param("mytasks") ? "mytasks" : req.has_param("mycalendar") ? "mycalendar" : "";
    if (!user) {
        res.set_redirect("/login?rurl=" + UrlEncode(view.empty() ? "/home/index" : "/home/index?" + view));
        return;
    }
    const std::string who = user->full_name.empty() ? user->username : user->full_name;
    std::string html;
    CTransaction tx(m_store, false);  // one consistent view of the data
    if (view == "mytasks") {
        std::vector<Task> tasks;
        m_store.MyTasks(user->id, Selection{}, [&](const Task& t) { tasks.push_back(t); });
        std::stable_sort(tasks.begin(), tasks.end(), [](const Task& a, const Task& b) {
            if (a.completed != b.completed) return !a.completed;
            const std::string da = a.due_date.empty() ? "9999" : a.due_date;
            const std::string db = b.due_date.empty() ? "9999" : b.due_date;
            return da < db;
        });
        html += "<p>" + std::to_string(tasks.size()) +
                " tasks.</p><table><tr><th>Task</th><th>Workspace</th>"
                "<th>Task list</th><th>Priority</th><th>Start</th><th>Due</th><th>Assigned to</th><th>Done</th></tr>\n";
        for (const auto& t : tasks) {
            html += std::string("<tr") + (t.completed ? " class=\"done\"" : "") + "><td>" + HtmlEscape(t.title) +
                    "</td><td>" + HtmlEscape(t.space_id ? t.space_name : "Personal") + "</td><td>" +
                    HtmlEscape(t.category_name) + "</td><td>" + PriorityText(t.priority) + "</td><td>" +
                    HtmlEscape(t.start_date) + "</td><td>" + HtmlEscape(t.due_date) + "</td><td>" +
                    HtmlEscape(t.assigned_to) + "</td><td>" + (t.completed ? "yes" : "no") + "</td></tr>\n";
        }
        html += "</table>\n";
        res.set_content(Page("My Tasks", who, html), "text/html; charset=utf-8");
        return;
    }
    if (view == "mycalendar") {
        std::vector<Event> events;
        m_store.MyEvents(user->id, Selection{}, [&](const Event& e) { events.push_back(e); });
        std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
            return a.start_time.value_or(0) < b.start_time.value_or(0);
        });
        html += "<p>" + std::to_string(events.size()) +
                " events.</p><table><tr><th>Start</th><th>End</th>"
                "<th>Event</th><th>Location</th><th>Workspace</th><th>Organizer</th><th>Attendees</th></tr>\n";
        for (const auto& e : events) {
            html += "<tr><td>" + DisplayTime(e.start_time) + "</td><td>" + DisplayTime(e.end_time) + "</td><td>" +
                    HtmlEscape(e.title) + "</td><td>" + HtmlEscape(e.location) + "</td><td>" +
                    HtmlEscape(e.space_id ? e.space_name : "Personal") + "</td><td>" + HtmlEscape(e.organizer) +
                    "</td><td>" + HtmlEscape(e.assigned_to) + "</td></tr>\n";
        }
        html += "</table>\n";
        res.set_content(Page("My Calendar", who, html), "text/html; charset=utf-8");
        return;
    }
    // Dashboard: counts, workspaces with their folders, recent activity.
    size_t open = 0, done = 0, events = 0;
    m_store.MyTasks(user->id, Selection{}, [&](const Task& t) { (t.completed ? done : open)++; });
    m_store.MyEvents(user->id, Selection{}, [&](const Event&) { events++; });
    html += "<section><p>Welcome, " + HtmlEscape(who) + ".</p><p><a href=\"/home/index?mytasks\">" +
            std::to_string(open) + " open tasks</a> (" + std::to_string(done) +
            " completed) &middot; <a href=\"/home/index?mycalendar\">" + std::to_string(events) +
            " events</a></p></section>\n<section><h2>Workspaces</h2>";
    std::map<int64_t, std::vector<Category>> bySpace;
    for (auto& c : m_store.CategoriesForUser(user->id, {})) bySpace[c.space_id].push_back(c);
    for (const auto& w : m_store.Workspaces()) {
        if (!m_store.IsMember(w.id, user->id)) continue;
        html += "<h3>" + HtmlEscape(w.name) + "</h3><ul>";
        for (const auto& c : bySpace[w.id])
            html += "<li>" + HtmlEscape(c.path) + " <small>(" + HtmlEscape(c.type) + ")</small></li>";
        html += "</ul>";
    }
    html += "</section>\n<section><h2>Recent activity</h2><ul>";
    auto acts = m_store.Activities();
    int shown = 0;
    for (auto it = acts.rbegin(); it != acts.rend() && shown < 20; ++it) {
        if (it->add_to_activity_log == "false") continue;
        html += "<li>" + HtmlEscape(FormatTimeZ(it->time)) + " " + HtmlEscape(it->username) + " " +
                HtmlEscape(it->action) + " " + HtmlEscape(it->kind) + " &ldquo;" + HtmlEscape(it->title) +
                "&rdquo;</li>";
        ++shown;
    }
    html += "</ul></section>\n";
    res.set_content(Page("Dashboard", who, html), "text/html; charset=utf-8");
}

}  // namespace hvsvc
