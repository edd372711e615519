// Synchronisation through the real dialog, over the simulated Outlook and the reference service.
// One measured run per process, so the peak memory belongs to that run (and its set-up):
//
//   bench_sync ADDRESS MODE ROWS
//
// MODE:
//   pull         the service holds ROWS/2 tasks and ROWS/2 events, Outlook is empty; full run.
//   push         Outlook holds ROWS/2 tasks and ROWS/2 appointments, the service is empty; full run.
//   again        a pull run first (not measured), then a full run with nothing changed.
//   incremental  a pull run first (not measured), then 5% of the rows changed on the service and
//                5% in Outlook; incremental run.
//
// The dialog runs collapsed ("SyncSize" 1), so it closes itself at the end of the run. Every step
// of a service exchange is one tick of the dialog's step loop (CDlgSynch::OnTick), in which the
// dialog calls CWebSvrOp::Run for that step; the tick is wrapped here and the ticks that run an
// exchange are timed: that is the round-trip time inside the run. The rest of the wall time is
// the dialog's own: waits for its timer, the planner, the Outlook side (reading, absorbing and
// linking items) and the list.
//
// The wall time ends when the dialog hides itself (EndDialog), not when DialogBoxParam returns:
// under Xvfb, with no window manager, Wine's X11 driver waits up to two seconds for a window
// manager to confirm that the hidden window is withdrawn, a wait of the test machine's display,
// not of the product, and the same for every run whatever its size.
//
// A message hook on the thread timestamps every message the dialog's loop retrieves: the
// longest gap between two is the longest time the dialog did not answer. A gap that ends with
// the collapsed dialog's close timer is left out: it is the dialog waiting, idle, to have been
// shown long enough, not work that keeps the loop from turning. The planning time is from the
// start of the handler in which the planning began to the end of the one in which it ended. The
// simulator counts the object-model calls (Invoke, and GetIDsOfNames) made during the run.
//
// HV_BENCH_KINDS=tasks or events limits the measured run to that kind (both are still seeded).
//
// After the run the same exchanges are replayed in a loop without the dialog (the downloads with
// the same limits, every push with the same fields) against the same service: the bare sum of
// the round trips.
//
// HV_BENCH_PROFILE (a Unix path) writes a stack profile of the measured run; HV_BENCH_TALLY=1
// prints the object-model calls of the measured run by member name.
//
// Prints one line:
//   mode rows exchanges wall_s rt_in_run_s bare_rt_s ms_per_row rt_ms_per_row dialog_ms_per_row
//   wall/bare peak_ws_MB peak_pagefile_MB done failed max_gap_ms plan_s invokes_per_row
//   name_lookups_per_row sim_s dialog_ms_per_row_without_sim
// Progress goes to stderr.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/Config.h"
#include "e2e/AdminClient.h"
#include "outlook-sim/src/SimDispatch.h"
#include "outlook-sim/src/SimOutlook.h"
#include "service/OpGetMyEvents.h"
#include "service/OpGetMyTasks.h"
#include "service/OpPushEvent.h"
#include "service/OpPushTask.h"
#include "service/Protocol.h"
#include "service/WebSvrAPI.h"
#include "sync/DlgSynch.h"
#include "Sampler.h"
#include "win/ComTypes.h"
#include "win/Dialog.h"
#include "win/Strings.h"

using nlohmann::json;

namespace {

double Now() {
    LARGE_INTEGER f, c;
    ::QueryPerformanceFrequency(&f);
    ::QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

const double kMB = 1024.0 * 1024.0;

// Progress goes to stderr and, when HV_BENCH_PROGRESS names a file (a Unix path, reached
// through Wine's Z: drive), to that file as well: the Wine wrapper hands the program's own output
// over only when it ends.
void ProgressLine(const std::string& line) {
    fputs(line.c_str(), stderr);
    fflush(stderr);
    const char* path = std::getenv("HV_BENCH_PROGRESS");
    if (!path || !*path) return;
    std::string windowsPath = path[0] == '/' ? std::string("Z:") + path : std::string(path);
    for (char& c : windowsPath)
        if (c == '/') c = '\\';
    if (FILE* f = fopen(windowsPath.c_str(), "a")) {
        fputs(line.c_str(), f);
        fclose(f);
    }
}

bool IsKind(const CWebSvrOp* op, const char* kind) {
    return op && op->m_strKind == kind;
}

// The exchanges a run made, kept so that they can be replayed without the dialog.
struct CRecordedOps {
    std::vector<std::unique_ptr<CWebSvrOp>> ops;
};

std::unique_ptr<CWebSvrOp> CopyOfOp(const CWebSvrOp* op, const std::string& url) {
    if (IsKind(op, "OpGetMyTasks")) {
        auto from = static_cast<const OpGetMyTasks*>(op);
        auto copy = std::make_unique<OpGetMyTasks>(url);
        copy->m_strUser = from->m_strUser;
        copy->m_strPassword = from->m_strPassword;
        copy->m_strLastModified = from->m_strLastModified;
        return copy;
    }
    if (IsKind(op, "OpGetMyEvents")) {
        auto from = static_cast<const OpGetMyEvents*>(op);
        auto copy = std::make_unique<OpGetMyEvents>(url);
        copy->m_strUser = from->m_strUser;
        copy->m_strPassword = from->m_strPassword;
        copy->m_strStartDate = from->m_strStartDate;
        copy->m_strEndDate = from->m_strEndDate;
        return copy;
    }
    if (IsKind(op, "OpPushTask")) {
        auto from = static_cast<const OpPushTask*>(op);
        auto copy = std::make_unique<OpPushTask>(url);
        copy->m_assignees = from->m_assignees;
        copy->m_strUser = from->m_strUser;
        copy->m_strPassword = from->m_strPassword;
        copy->m_target = from->m_target;
        copy->m_nPriority = from->m_nPriority;
        copy->m_fSendEmail = from->m_fSendEmail;
        copy->m_strTitle = from->m_strTitle;
        copy->m_strDescription = from->m_strDescription;
        copy->m_strStartDate = from->m_strStartDate;
        copy->m_strDueDate = from->m_strDueDate;
        copy->m_fAddToActivityLog = from->m_fAddToActivityLog;
        copy->m_fCompleted = from->m_fCompleted;
        return copy;
    }
    if (IsKind(op, "OpPushEvent")) {
        auto from = static_cast<const OpPushEvent*>(op);
        auto copy = std::make_unique<OpPushEvent>(url);
        copy->m_assignees = from->m_assignees;
        copy->m_strUser = from->m_strUser;
        copy->m_strPassword = from->m_strPassword;
        copy->m_target = from->m_target;
        copy->m_strTitle = from->m_strTitle;
        copy->m_strLocation = from->m_strLocation;
        copy->m_strOrganizer = from->m_strOrganizer;
        copy->m_strInternalUse = from->m_strInternalUse;
        copy->m_start = from->m_start;
        copy->m_end = from->m_end;
        copy->m_strDescription = from->m_strDescription;
        copy->m_fAddToActivityLog = from->m_fAddToActivityLog;
        copy->m_fSendEmail = from->m_fSendEmail;
        copy->m_fLaterOccurrence = from->m_fLaterOccurrence;
        return copy;
    }
    return nullptr;
}

class CBenchDlgSynch;
CBenchDlgSynch* g_dialog = nullptr;
LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam);

// The dialog as the add-in runs it, with its step loop timed. Only the tick is wrapped; the
// product's code runs unchanged.
class CBenchDlgSynch : public CDlgSynch {
public:
    CBenchDlgSynch(CWebSvrAPI* api, const char* label) : CDlgSynch(api, nullptr), m_label(label) {}

    double m_tExchange = 0;  // seconds inside the ticks that ran a step of an exchange
    long m_nExchanges = 0;
    CRecordedOps m_recorded;
    std::atomic<DWORD> m_lastActivity{::GetTickCount()};
    std::atomic<HWND> m_hwnd{nullptr};
    double m_tStart = 0;
    // The message loop's turns.
    double m_tLastMessage = 0;
    double m_maxGap = 0;
    double m_tPlanStart = 0;
    double m_tPlanEnd = 0;
    std::map<UINT, long> m_messages;
    // What the dialog was doing when it last retrieved a message, and the same for the message
    // that ended the longest gap: names where the longest gap was spent.
    std::string m_lastWhat;
    std::string m_gapWhat;

    void OnMessageRetrieved(const MSG& msg) {
        const double now = Now();
        const CWebSvrOp* op = Op();
        const std::string what =
            hv::Format("msg 0x%04x wParam %lu, %s step %d, %s, row %ld of %ld", msg.message,
                       static_cast<unsigned long>(msg.wParam), op ? op->m_strKind.c_str() : "no op", m_nStep,
                       Planning() ? "planning" : (m_fMyOpsDone ? "rows" : "downloading"), m_nNextItem, m_nItemCount);
        const bool closeWait = msg.message == WM_TIMER && msg.hwnd == GetHwnd() && msg.wParam == HV_SYNCH_CLOSE_TIMER;
        if (m_tLastMessage > 0 && !closeWait && m_tHidden == 0 && now - m_tLastMessage > m_maxGap) {
            m_maxGap = now - m_tLastMessage;
            m_gapWhat = "after [" + m_lastWhat + "] until [" + what + "]";
        }
        m_lastWhat = what;
        m_tLastMessage = now;
        m_lastActivity = ::GetTickCount();
        ++m_messages[msg.message];
    }

    // The planning's time: from the start of the handler in which it began to the end of the one
    // in which it ended (so at most one slice, 25 ms, of taking a download in or of rows on either
    // side too). The handlers of the step loop are the dialog's messages and its timer.
    template <class F>
    void AroundHandler(F&& handler) {
        const bool doneBefore = m_fMyOpsDone != 0;
        const double begin = Now();
        handler();
        if (m_tPlanStart == 0 && (Planning() || (!doneBefore && m_fMyOpsDone))) m_tPlanStart = begin;
        if (m_tPlanStart > 0 && m_tPlanEnd == 0 && m_fMyOpsDone) m_tPlanEnd = Now();
    }

    // When the dialog hid itself to end (0 while it has not).
    double m_tHidden = 0;

protected:
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override {
        if (msg == WM_WINDOWPOSCHANGING && lParam && m_tHidden == 0 &&
            (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_HIDEWINDOW))
            m_tHidden = Now();
        INT_PTR result = 0;
        AroundHandler([&] { result = CDlgSynch::OnMessage(msg, wParam, lParam, handled); });
        return result;
    }

    void OnTimer(UINT_PTR id) override {
        AroundHandler([&] { CDlgSynch::OnTimer(id); });
    }

    BOOL OnInitDialog() override {
        m_hwnd = GetHwnd();
        return CDlgSynch::OnInitDialog();
    }

    void OnTick() override {
        m_lastActivity = ::GetTickCount();
        CWebSvrOp* op = Op();
        // The same test the dialog makes before it calls Run for one step.
        const bool download = IsKind(op, "OpGetMyTasks") || IsKind(op, "OpGetMyEvents");
        const bool serviceRow = m_pCurrent && (m_pCurrent->m_nAction == ACTION_UPDATE_SERVICE ||
                                               m_pCurrent->m_nAction == ACTION_DELETE_SERVICE);
        if (op && (download || serviceRow)) {
            if (m_nStep == 0) {
                ++m_nExchanges;
                if (auto copy = CopyOfOp(op, TheAPI()->m_strServiceURL)) m_recorded.ops.push_back(std::move(copy));
            }
            const double t0 = Now();
            CDlgSynch::OnTick();
            m_tExchange += Now() - t0;
        } else {
            CDlgSynch::OnTick();
        }
        Progress();
    }

private:
    void Progress() {
        const double now = Now();
        if (now - m_tLastReport < 10.0) return;
        m_tLastReport = now;
        const std::string line =
            hv::Format("  [%s] %.0f s: %s %ld of %ld rows, %ld exchanges\n", m_label, now - m_tStart,
                       m_fMyOpsDone ? "row" : "downloading,", m_nNextItem, m_nItemCount, m_nExchanges);
        ProgressLine(line);
    }
    const char* m_label;
    double m_tLastReport = 0;
};

struct CRunFigures {
    INT_PTR result = 0;
    double wall = 0;
    double exchange = 0;
    long exchanges = 0;
    size_t rows = 0;
    size_t done = 0, failed = 0, none = 0;
    CRecordedOps recorded;
    double maxGap = 0;
    double planning = 0;
    long long invokes = 0;
    long long lookups = 0;
    double inside = 0;  // the simulator's own time inside the calls
};

LRESULT CALLBACK GetMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE && g_dialog && lParam)
        g_dialog->OnMessageRetrieved(*reinterpret_cast<const MSG*>(lParam));
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

class CBench {
public:
    CBench(std::string address, std::string mode, long rows)
        : m_address(std::move(address)), m_mode(std::move(mode)), m_rows(rows), m_admin(m_address) {
        m_user = hv::Format("bs_%s_%ld_%lu", m_mode.c_str(), rows, ::GetCurrentProcessId());
    }

    int Main() {
        if (!Connect()) return 1;
        m_outlook = std::make_unique<hvsim::SimOutlook>();
        hv::unique_variant mapi = hv::unique_variant::FromString("MAPI");
        hv::unique_variant ns;
        if (FAILED(CDispatcher::CallMethod(m_outlook->Application(), L"GetNamespace", ns.put(), 1, &mapi))) {
            fprintf(stderr, "bench_sync: no MAPI namespace\n");
            return 1;
        }
        m_ns = ns.AsDispatch();

        const long tasks = m_rows / 2, events = m_rows - m_rows / 2;
        if (m_mode == "push") {
            CreateUser(0, 0);
            SeedOutlook(tasks, events);
        } else {
            CreateUser(tasks, events);
        }
        if (m_mode == "again" || m_mode == "incremental") {
            ProgressLine(hv::Format("  [%s %ld] set-up: a full pull run\n", m_mode.c_str(), m_rows));
            CRunFigures setup = Sync(0, "set-up");
            if (setup.failed || setup.done != static_cast<size_t>(m_rows)) {
                fprintf(stderr, "bench_sync: the set-up run did %zu of %ld rows (%zu failed)\n", setup.done, m_rows,
                        setup.failed);
                return 1;
            }
        }
        if (m_mode == "incremental") ChangeBothSides(tasks, events);

        const long incremental = m_mode == "incremental" ? 1 : 0;
        CRunFigures run = Sync(incremental, m_mode.c_str());
        const double bare = Replay(run.recorded);
        Report(run, bare);
        m_ns.reset();
        m_outlook.reset();
        SetTheProtocol(nullptr);
        return (run.failed || run.result != 1) ? 1 : 0;
    }

private:
    bool Connect() {
        CConfig config;
        config.DeleteAllSettings();
        config.SetKey("Host", m_address.c_str());
        config.SetKey("SSL", static_cast<DWORD>(0));
        config.SetKey("Timeout", static_cast<DWORD>(600));
        config.SetSyncSize(1);  // collapsed: the dialog closes itself at the end
        SetTheProtocol(new CProtocol(0));
        CWebService::FireUpProtocol(0);
        if (!TheAPI() || TheAPI()->m_strServiceURL.empty()) {
            fprintf(stderr, "bench_sync: no service URL\n");
            return false;
        }
        return true;
    }

    // The user, with its tasks and events, in one seed request.
    void CreateUser(long tasks, long events) {
        json seed = {
            {"users",
             json::array({{{"username", m_user}, {"password", m_password}, {"full_name", "Bench " + m_user}}})},
            {"tasks", json::array()},
            {"events", json::array()}};
        for (long k = 0; k < tasks; ++k)
            seed["tasks"].push_back({{"created_by", m_user},
                                     {"title", hv::Format("Task %ld of %ld", k, tasks)},
                                     {"description", hv::Format("Line one of task %ld.\nLine two & more <text>.", k)},
                                     {"priority", 1 + k % 3},
                                     {"completed", k % 3 == 0},
                                     {"start_date", "2030-01-01"},
                                     {"due_date", hv::Format("2030-02-%02ld", 1 + k % 28)},
                                     {"assigned_to", json::array({m_user})}});
        for (long k = 0; k < events; ++k) {
            const long day = 1 + k % 300;
            seed["events"].push_back({{"created_by", m_user},
                                      {"title", hv::Format("Event %ld of %ld", k, events)},
                                      {"description", hv::Format("Agenda of event %ld.", k)},
                                      {"location", hv::Format("Room %ld", k % 20)},
                                      {"start_time", hv::Format("today+%ldT%02ld:00:00", day, 8 + k % 9)},
                                      {"end_time", hv::Format("today+%ldT%02ld:30:00", day, 8 + k % 9)},
                                      {"assigned_to", json::array({m_user})}});
        }
        m_admin.Send("POST", "/admin/seed", seed);
    }

    void SeedOutlook(long tasks, long events) {
        for (long k = 0; k < tasks; ++k)
            m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", hv::Format("Outlook task %ld of %ld", k, tasks)},
                                                   {"Body", hv::Format("Notes of task %ld.", k)},
                                                   {"Importance", static_cast<long>(k % 3)},
                                                   {"DueDate", hvsim::DateValue(2030, 3, 1 + k % 28)}});
        for (long k = 0; k < events; ++k)
            m_outlook->Seed(hvsim::olFolderCalendar,
                            {{"Subject", hv::Format("Outlook appointment %ld of %ld", k, events)},
                             {"Location", hv::Format("Room %ld", k % 20)},
                             {"Body", hv::Format("Agenda %ld.", k)},
                             {"Start", hvsim::DateValue(2030, 4 + (k / 28) % 8, 1 + k % 28, 9 + k % 8, 0)},
                             {"End", hvsim::DateValue(2030, 4 + (k / 28) % 8, 1 + k % 28, 10 + k % 8, 0)}});
    }

    // 5% of the rows edited on the service, another 5% in Outlook (a little later on Outlook's
    // clock, as a user editing after the last run), never the same record on both sides.
    void ChangeBothSides(long tasks, long events) {
        const long perKind = std::max(1L, m_rows / 40);
        long changed = 0;
        std::set<std::string> touched;
        auto patch = [&](const char* kind, const char* idField, const json& records, const json& fields) {
            for (long k = 0; k < perKind && k < static_cast<long>(records.size()); ++k, ++changed) {
                const std::string id = std::to_string(records[k][idField].get<long long>());
                json body = fields;
                body["as"] = m_user;
                m_admin.Send("PATCH", std::string("/admin/") + kind + "/" + id, body);
                touched.insert(id);
            }
        };
        patch("tasks", "task_id", m_admin.Tasks(m_user), {{"description", "Changed on the service"}});
        patch("events", "event_id", m_admin.Events(m_user), {{"location", "Moved on the service"}});
        const DATE at = hvsim::Model::CurrentTime() + 120.0 / 86400.0;
        m_outlook->SetClock([at] { return at; });
        auto edit = [&](long folder, long count, const char* prop, const char* value) {
            long n = 0;
            for (const auto& item : m_outlook->Items(folder)) {
                if (n >= count) break;
                const hvsim::UserProperty* id = item->FindUserProp("HV Record ID");
                if (!id || touched.count(id->value.AsText())) continue;
                m_outlook->EditAndSave(item, {{prop, value}});
                ++n;
                ++changed;
            }
        };
        edit(hvsim::olFolderTasks, std::min(perKind, tasks), "Body", "Changed in Outlook");
        edit(hvsim::olFolderCalendar, std::min(perKind, events), "Location", "Moved in Outlook");
        m_outlook->SetClock(nullptr);
        ProgressLine(
            hv::Format("  [%s %ld] changed %ld records (half on each side)\n", m_mode.c_str(), m_rows, changed));
    }

    CRunFigures Sync(long incremental, const char* label) {
        CRunFigures r;
        CBenchDlgSynch dlg(TheAPI(), label);
        dlg.m_credentials.m_strUser = m_user;
        dlg.m_credentials.m_strPassword = m_password;
        dlg.m_pNameSpace = m_ns;
        dlg.m_fIncremental = incremental;
        dlg.m_nSyncKinds = SYNC_TASKS | SYNC_EVENTS;
        if (std::string(label) != "set-up") {
            const char* kinds = std::getenv("HV_BENCH_KINDS");
            if (kinds && std::string(kinds) == "tasks") dlg.m_nSyncKinds = SYNC_TASKS;
            if (kinds && std::string(kinds) == "events") dlg.m_nSyncKinds = SYNC_EVENTS;
        }

        // A run that stops (a failed download) leaves the collapsed dialog open: close it after
        // a long quiet spell so the benchmark ends with an error instead of hanging.
        std::atomic<bool> over{false};
        std::thread watchdog([&] {
            while (!over) {
                ::Sleep(500);
                if (::GetTickCount() - dlg.m_lastActivity > 300000 && dlg.m_hwnd) {
                    fprintf(stderr, "bench_sync: the run has been quiet for 5 minutes; closing it\n");
                    ::PostMessageA(dlg.m_hwnd, WM_COMMAND, IDCANCEL, 0);
                    dlg.m_lastActivity = ::GetTickCount();
                }
            }
        });
        g_dialog = &dlg;
        HHOOK hook = ::SetWindowsHookExA(WH_GETMESSAGE, GetMessageHook, nullptr, ::GetCurrentThreadId());
        const long long invokes0 = hvsim::InvokeCount(), lookups0 = hvsim::NameLookupCount();
        const double inside0 = hvsim::SecondsInside();
        // HV_BENCH_PROFILE names a file (a Unix path) for the samples of the measured run's stacks.
        const char* profile = std::getenv("HV_BENCH_PROFILE");
        CSampler sampler;
        const bool sampling = profile && *profile && std::string(label) != "set-up";
        if (sampling) sampler.Start();
        std::map<std::string, long long> tally;
        const bool tallying = std::getenv("HV_BENCH_TALLY") && std::string(label) != "set-up";
        if (tallying) hvsim::SetCallTally(&tally);
        dlg.m_tStart = Now();
        const double t0 = dlg.m_tStart;
        r.result = dlg.Run();
        r.wall = (dlg.m_tHidden > 0 ? dlg.m_tHidden : Now()) - t0;
        hvsim::SetCallTally(nullptr);
        if (tallying) {
            std::vector<std::pair<long long, std::string>> calls;
            for (const auto& t : tally) calls.emplace_back(t.second, t.first);
            std::sort(calls.rbegin(), calls.rend());
            for (const auto& c : calls)
                ProgressLine(hv::Format("  [%s] calls %-28s %8lld\n", label, c.second.c_str(), c.first));
        }
        if (sampling) {
            sampler.Stop();
            std::string path = profile[0] == '/' ? std::string("Z:") + profile : std::string(profile);
            std::replace(path.begin(), path.end(), '/', '\\');
            sampler.Write(path);
            ProgressLine(hv::Format("  [%s] %lu samples to %s\n", label, static_cast<unsigned long>(sampler.Samples()),
                                    profile));
        }
        r.invokes = hvsim::InvokeCount() - invokes0;
        r.lookups = hvsim::NameLookupCount() - lookups0;
        r.inside = hvsim::SecondsInside() - inside0;
        if (hook) ::UnhookWindowsHookEx(hook);
        g_dialog = nullptr;
        r.maxGap = dlg.m_maxGap;
        ProgressLine(
            hv::Format("  [%s] longest gap %.0f ms: %s\n", label, 1000.0 * dlg.m_maxGap, dlg.m_gapWhat.c_str()));
        if (std::getenv("HV_BENCH_MESSAGES")) {
            for (const auto& m : dlg.m_messages)
                ProgressLine(hv::Format("  [%s] message 0x%04x: %ld\n", label, m.first, m.second));
        }
        r.planning = dlg.m_tPlanEnd > 0 ? dlg.m_tPlanEnd - dlg.m_tPlanStart : 0;
        over = true;
        watchdog.join();

        r.exchange = dlg.m_tExchange;
        r.exchanges = dlg.m_nExchanges;
        r.rows = dlg.m_rows.size();
        for (CSyncItem* row : dlg.m_rows) {
            r.done += row->m_nAction == ACTION_DONE;
            r.failed += row->m_nAction == ACTION_FAILED;
            r.none += row->m_nAction == ACTION_NONE;
            if (row->m_nAction == ACTION_NONE && std::getenv("HV_BENCH_NONE_ROWS"))
                ProgressLine(hv::Format(
                    "  [%s] None: %s \"%s\" source %ld, id %s, counterpart %s, service %s, "
                    "outlook modified %lld\n",
                    label, row->m_strType.c_str(), row->title.c_str(), row->m_nSource, row->m_target.m_strID.c_str(),
                    row->m_pCounterpart ? "yes" : "no", row->last_modified.c_str(),
                    static_cast<long long>(row->m_pCounterpart ? row->m_pCounterpart->m_timeOutlookModified
                                                               : row->m_timeOutlookModified)));
        }
        r.recorded = std::move(dlg.m_recorded);
        ProgressLine(hv::Format("  [%s %ld] %s run: %lu rows (%lu done, %lu none, %lu failed) in %.1f s\n",
                                m_mode.c_str(), m_rows, label, static_cast<unsigned long>(r.rows),
                                static_cast<unsigned long>(r.done), static_cast<unsigned long>(r.none),
                                static_cast<unsigned long>(r.failed), r.wall));
        return r;
    }

    // The run's exchanges again, one after the other, without the dialog.
    double Replay(CRecordedOps& recorded) {
        double total = 0;
        size_t failed = 0;
        for (auto& op : recorded.ops) {
            const double t0 = Now();
            const int ok = op->Run(0, nullptr, 0, 0);
            total += Now() - t0;
            if (!ok || FAILED(op->m_hResult)) ++failed;
            op.reset();  // the downloads hold their records until then
        }
        if (failed) fprintf(stderr, "bench_sync: %zu replayed exchanges failed\n", failed);
        return total;
    }

    void Report(const CRunFigures& r, double bare) {
        PROCESS_MEMORY_COUNTERS pmc = {};
        pmc.cb = sizeof(pmc);
        ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof(pmc));
        const double rows = r.rows ? static_cast<double>(r.rows) : 1.0;
        printf("%s %zu %ld %.2f %.2f %.2f %.2f %.2f %.2f %.1f %.1f %.1f %zu %zu %.0f %.2f %.1f %.1f %.2f %.2f\n",
               m_mode.c_str(), r.rows, r.exchanges, r.wall, r.exchange, bare, 1000.0 * r.wall / rows,
               1000.0 * r.exchange / rows, 1000.0 * (r.wall - r.exchange) / rows, bare > 0 ? r.wall / bare : 0.0,
               static_cast<double>(pmc.PeakWorkingSetSize) / kMB, static_cast<double>(pmc.PeakPagefileUsage) / kMB,
               r.done, r.failed, 1000.0 * r.maxGap, r.planning, static_cast<double>(r.invokes) / rows,
               static_cast<double>(r.lookups) / rows, r.inside, 1000.0 * (r.wall - r.exchange - r.inside) / rows);
        fflush(stdout);
    }

    std::string m_address;
    std::string m_mode;
    long m_rows;
    std::string m_user;
    std::string m_password = "bench-pass";
    e2e::Admin m_admin;
    std::unique_ptr<hvsim::SimOutlook> m_outlook;
    hv::com_ptr<IDispatch> m_ns;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: bench_sync ADDRESS pull|push|again|incremental ROWS\n");
        return 2;
    }
    const std::string mode = argv[2];
    if (mode != "pull" && mode != "push" && mode != "again" && mode != "incremental") {
        fprintf(stderr, "bench_sync: unknown mode %s\n", mode.c_str());
        return 2;
    }
    const long rows = std::strtol(argv[3], nullptr, 10);
    if (rows < 2) {
        fprintf(stderr, "bench_sync: ROWS must be 2 or more\n");
        return 2;
    }
    if (FAILED(::OleInitialize(nullptr))) return 1;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&icc);
    int rc = 1;
    try {
        CBench bench(argv[1], mode, rows);
        rc = bench.Main();
    } catch (const std::exception& e) {
        fprintf(stderr, "bench_sync: %s\n", e.what());
        rc = 1;
    }
    ::OleUninitialize();
    return rc;
}
