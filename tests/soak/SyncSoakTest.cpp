// The randomised two-sided soak. Each round edits both stores at random (Outlook through the
// simulator's object model as a user would, the service through its admin interface as another
// user would), arms random faults (service answers, failing saves, edits while the run is busy,
// "Cancel All" at a random row) and runs the real dialog once, full or incremental. Every K
// rounds and at the end a clean full run follows, then the oracle, then a run that must change
// nothing. A failure names its seed and round; `--seed S --rounds R` replays it.
#include "e2e/SyncE2EFixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "outlook-sim/automation/UiAutomation.h"
#include "outlook-sim/SimTestUtil.h"
#include "common/DiagLog.h"
#include "service/Protocol.h"
#include "soak/SoakModel.h"
#include "sync/SynchRes.h"
#include "win/Strings.h"

using hv::uiauto::Automation;
using nlohmann::json;

namespace {

using e2e::Str;
using soak::Fields;
using soak::Logical;

constexpr double kHour = 1.0 / 24;
constexpr double kMinute = kHour / 60;
constexpr int kCancelInDownload = -2;

// A number from the command line ("--name value") or the environment, else the default.
long long Option(const char* name, const char* variable, long long fallback) {
    for (int i = 1; i + 1 < __argc; ++i)
        if (std::string(__argv[i]) == std::string("--") + name) return std::atoll(__argv[i + 1]);
    const char* v = std::getenv(variable);
    return v && *v ? std::atoll(v) : fallback;
}

// "--diagnose 1" (or HV_SOAK_DIAGNOSE=1) turns on the product's diagnostic log for the whole run.
// The log reads its switch once, when first used, and the fixture's set-up clears the product's
// settings: so the switch is set and the log opened here, before main.
[[maybe_unused]] const bool g_diagnose = [] {
    if (Option("diagnose", "HV_SOAK_DIAGNOSE", 0) == 0) return false;
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Halvane\\Halvane for Outlook\\Advanced", 0, nullptr, 0,
                          KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const DWORD one = 1;
    ::RegSetValueExA(key, "Diagnose", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    ::RegCloseKey(key);
    return HvLog().IsEnabled();
}();

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

hv::unique_variant Text(const std::string& utf8) {
    return hv::unique_variant::FromWide(WideFromUtf8(utf8).c_str());
}

std::string DateText(DATE d) {
    SYSTEMTIME st{};
    ::VariantTimeToSystemTime(d, &st);
    return hv::Format("%04u-%02u-%02u", st.wYear, st.wMonth, st.wDay);
}

// The tag every title ends with: " {n}".
std::string Tagged(const std::string& text, int tag) {
    return text + " {" + std::to_string(tag) + "}";
}
int TagOf(const std::string& title) {
    if (title.empty() || title.back() != '}') return 0;
    const size_t open = title.rfind(" {");
    if (open == std::string::npos) return 0;
    return std::atoi(title.c_str() + open + 2);
}

// The run the soak drives, and what it saw of it.
struct RunPlan {
    long incremental = 1;
    int cancelAfterChanges = -1;             // "Cancel All" once the status has changed this often
    std::function<void()> serviceWhileBusy;  // from the driving thread, once rows are running
    std::function<void()> outlookWhileBusy;  // on Outlook's thread, inside the run
    UINT outlookDelayMs = 0;
    std::string what;  // the faults, for the journal
};

struct RunSeen {
    bool complete = false;
    std::string status;
    std::vector<long> actions;
    std::vector<std::string> titles;
    bool cancelled = false;
    size_t Count(long action) const { return static_cast<size_t>(std::count(actions.begin(), actions.end(), action)); }
    std::string Describe() const {
        std::string text = "status '" + status + "':";
        for (size_t i = 0; i < actions.size(); ++i) text += hv::Format(" [%s: %ld]", titles[i].c_str(), actions[i]);
        return text;
    }
};

std::function<void()> g_outlookAction;
bool g_outlookActionRan = false;
void CALLBACK OutlookTimer(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    if (!g_outlookAction) return;
    auto action = std::move(g_outlookAction);
    g_outlookAction = nullptr;
    g_outlookActionRan = true;
    try {
        action();
    } catch (...) {
        // The edit failed (the item was gone): nothing was changed.
    }
}

struct Stats {
    long rounds = 0, runs = 0, cleanRuns = 0, noOpRuns = 0, checks = 0;
    long outlookEdits = 0, serviceEdits = 0, bothSides = 0, creates = 0, deletes = 0, touches = 0;
    long serviceFaults = 0, failingSaves = 0, outlookWhileBusy = 0, serviceWhileBusy = 0, cancels = 0;
    long checkedItems = 0, ambiguous = 0, orphans = 0, series = 0, seriesOutlookEdits = 0, seriesServiceEdits = 0;
    long occurrencesChecked = 0, occurrencesAmbiguous = 0, occurrencesBothSides = 0, occurrencesLaterWins = 0;
    std::string Describe() const {
        return hv::Format(
            "rounds %ld, runs %ld (clean %ld, no-op %ld), checks %ld; edits: Outlook %ld, service %ld, both sides %ld, "
            "creates %ld, deletes %ld, untracked-field touches %ld; faults: service %ld, failing saves %ld, Outlook "
            "edits while busy %ld, service edits while busy %ld, cancels %ld; items checked %ld (outcomes allowed "
            "both ways %ld), Outlook items left by a full-run service delete %ld, series %ld (edits: Outlook %ld, "
            "service %ld; occurrence pairs checked %ld, edited on both sides %ld (one outcome: the later edit's %ld), "
            "outcomes allowed both ways %ld)",
            rounds, runs, cleanRuns, noOpRuns, checks, outlookEdits, serviceEdits, bothSides, creates, deletes, touches,
            serviceFaults, failingSaves, outlookWhileBusy, serviceWhileBusy, cancels, checkedItems, ambiguous, orphans,
            series, seriesOutlookEdits, seriesServiceEdits, occurrencesChecked, occurrencesBothSides,
            occurrencesLaterWins, occurrencesAmbiguous);
    }
};

class SyncSoak : public e2e::SyncE2E {
protected:
    void SetUp() override {
        e2e::SyncE2E::SetUp();
        CConfig config;
        config.SetDeleteOutlookItems(1);  // service deletions reach Outlook
        SetTimeoutSetting(0);
        // Every item takes part: the planner leaves alone completed tasks and events older than
        // "%sStaleAfter" days (30 by default), and the soak's dates reach further back.
        SetNumberSetting("TaskStaleAfter", 3650);
        SetNumberSetting("EventStaleAfter", 3650);
    }
    void TearDown() override {
        SetTimeoutSetting(0);
        SetNumberSetting("TaskStaleAfter", 0);
        SetNumberSetting("EventStaleAfter", 0);
        try {
            m_admin.Send("DELETE", "/admin/faults", json());
        } catch (...) {
        }
        e2e::SyncE2E::TearDown();
    }

    // --- randomness --------------------------------------------------------------------------
    int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }
    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_rng) < p; }
    template <class T>
    const T& Pick(const std::vector<T>& v) {
        return v[static_cast<size_t>(Rand(0, static_cast<int>(v.size()) - 1))];
    }

    std::string RandomTitle() {
        static const std::vector<std::string> words = {"Plan & review",
                                                       "Call \"Bob\"",
                                                       "<draft> notes",
                                                       "Café crème",
                                                       "Grüße an Zoë",
                                                       "5 € budget",
                                                       "O'Brien's list",
                                                       "a > b < c",
                                                       "Smörgåsbord",
                                                       "naïve résumé",
                                                       "Ünïcödé ½ ¾",
                                                       "Tab\there",
                                                       "Quarterly report",
                                                       "Fix & ship",
                                                       "x",
                                                       "Ærø ferry",
                                                       "'quoted' & \"double\"",
                                                       "semi;colon,comma"};
        std::string t = Pick(words);
        if (Chance(0.3)) t += " " + Pick(words);
        return t;
    }
    std::string RandomDescription(bool outlook) {
        const char* nl = outlook ? "\r\n" : "\n";
        switch (Rand(0, 7)) {
            case 0:
                return "";
            case 1:
                return "One line with & and < and > and \"quotes\"";
            case 2:
                return std::string("First line") + nl + "Second line é ü";
            case 3:
                return std::string("Heading") + nl + nl + "Body after an empty line";
            case 4: {
                std::string s;
                for (int i = 0; i < 60; ++i)
                    s += "Long description line " + std::to_string(i) + " with €, ß & <tags>. ";
                return s;
            }
            case 5:
                return "Déjà vu: 100% \"sure\" & 'certain'";
            case 6:
                return std::string("a") + nl + nl + "b" + nl + nl + "c";
            default:
                return "Plain text " + std::to_string(Rand(1, 99999));
        }
    }
    // A local date-time near today, near both daylight-saving changes of this zone, or near midnight.
    DATE RandomLocalTime() {
        const DATE today = Today();
        switch (Rand(0, 4)) {
            case 0:
                return hvsim::MakeDate(2027, 3, 28, Pick(std::vector<int>{0, 1, 3, 4, 23}),
                                       Pick(std::vector<int>{0, 30}));
            case 1:
                return hvsim::MakeDate(2027, 10, 31, Pick(std::vector<int>{0, 1, 3, 4, 23}),
                                       Pick(std::vector<int>{0, 30}));
            case 2:
                return today + Rand(-20, 40) + 23 * kHour + Pick(std::vector<int>{30, 45, 59}) * kMinute;
            default:
                return today + Rand(-20, 60) + Rand(7, 20) * kHour + Pick(std::vector<int>{0, 15, 30}) * kMinute;
        }
    }
    DATE RandomDate() {
        switch (Rand(0, 3)) {
            case 0:
                return hvsim::MakeDate(2027, 3, Pick(std::vector<int>{27, 28, 29}));
            case 1:
                return hvsim::MakeDate(2026, 10, Pick(std::vector<int>{24, 25, 26}));
            default:
                return Today() + Rand(-30, 60);
        }
    }

    // --- the two stores ---------------------------------------------------------------------------
    static void SetTimeoutSetting(DWORD seconds) { SetNumberSetting("Timeout", seconds); }
    // A number setting; 0 removes it (its default applies).
    static void SetNumberSetting(const char* name, DWORD value) {
        HKEY key = nullptr;
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Halvane\\Halvane for Outlook", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
            return;
        if (value)
            ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        else
            ::RegDeleteValueA(key, name);
        ::RegCloseKey(key);
    }

    std::vector<std::shared_ptr<hvsim::ItemData>> OutlookItems(bool task) const {
        std::vector<std::shared_ptr<hvsim::ItemData>> out;
        for (auto& item : task ? Tasks() : Appts())
            if (!item->IsRecurring()) out.push_back(item);
        return out;
    }
    std::shared_ptr<hvsim::ItemData> FindOutlook(const Logical& l) const {
        for (auto& item : OutlookItems(l.task))
            if (TagOf(item->Subject()) == l.tag) return item;
        return nullptr;
    }
    json ServiceRecords(bool task) const { return task ? m_admin.Tasks(m_user) : m_admin.Events(m_user); }
    json FindService(const Logical& l) const {
        for (const auto& r : ServiceRecords(l.task))
            if (TagOf(Str(r["title"])) == l.tag) return r;
        return json();
    }
    static std::string IdOf(const json& r, bool task) { return Str(r[task ? "task_id" : "event_id"]); }

    static Fields OutlookFields(const hvsim::ItemData& item, bool task) {
        Fields f;
        f.title = item.Get("Subject").AsText();
        f.desc = soak::NormaliseLines(item.Get("Body").AsText());
        if (task) {
            f.priority = std::to_string(item.Get("Importance").AsLong() + 1);
            auto date = [&](const char* name) {
                const DATE d = item.Get(name).AsDate();
                return d == 0 || d >= hvsim::kNoDate - 1 ? std::string() : DateText(d);
            };
            f.start = date("StartDate");
            f.due = date("DueDate");
            f.completed = item.Get("Complete").AsBool() ? "true" : "false";
        } else {
            f.location = item.Get("Location").AsText();
            f.startTime = Wire(item.Get("Start").AsDate());
            f.endTime = Wire(item.Get("End").AsDate());
        }
        return f;
    }
    static Fields ServiceFields(const json& r, bool task) {
        Fields f;
        f.title = Str(r["title"]);
        f.desc = soak::NormaliseLines(Str(r["description_plain_text"]));
        if (task) {
            f.priority = Str(r["priority"]);
            f.start = Str(r["start_date"]).substr(0, 10);
            f.due = Str(r["due_date"]).substr(0, 10);
            f.completed = Str(r["completed"]);
        } else {
            f.location = Str(r["location"]);
            f.startTime = Str(r["start_time"]).substr(0, 19);
            f.endTime = Str(r["end_time"]).substr(0, 19);
        }
        return f;
    }
    static long long OutlookStamp(const hvsim::ItemData& item) {
        return soak::EpochOf(Wire(item.Get("LastModificationTime").AsDate()));
    }
    long long ServiceNow() const {
        try {
            return soak::EpochOf(Str(m_admin.Get("/admin/health")["now"]));
        } catch (const std::exception&) {
            return 0;  // asked again
        }
    }
    // Waits until the service's clock (the machine's) has passed the instant, so that the next
    // edit carries a later time than the last one.
    void WaitPast(long long stamp) const {
        for (int i = 0; i < 400 && ServiceNow() <= stamp; ++i) ::Sleep(10);
    }

    // --- edits in Outlook, through the object model -------------------------------------------------
    void RecordOutlook(Logical& l, const std::shared_ptr<hvsim::ItemData>& item, bool concurrent) {
        l.outlookEdits.push_back({OutlookFields(*item, l.task), OutlookStamp(*item), concurrent});
        m_journal += hv::Format("round %ld Outlook {%d} @%lld: ", m_round, l.tag, l.outlookEdits.back().stamp) +
                     soak::Describe(l.task, l.outlookEdits.back().fields) + "\n";
        ++m_stats.outlookEdits;
    }
    void PutTaskFields(IDispatch* obj, int tag, bool all) {
        if (all || Chance(0.6)) simtest::Put(obj, L"Subject", Text(Tagged(RandomTitle(), tag)));
        if (all || Chance(0.4)) simtest::Put(obj, L"Body", Text(RandomDescription(true)));
        if (all || Chance(0.3)) simtest::Put(obj, L"Importance", hv::unique_variant::FromLong(Rand(0, 2)));
        if (all || Chance(0.3))
            simtest::Put(obj, L"StartDate", hv::unique_variant::FromDate(Chance(0.2) ? hvsim::kNoDate : RandomDate()));
        if (all || Chance(0.3))
            simtest::Put(obj, L"DueDate", hv::unique_variant::FromDate(Chance(0.2) ? hvsim::kNoDate : RandomDate()));
        if (all ? Chance(0.1) : Chance(0.2)) simtest::Put(obj, L"Complete", hv::unique_variant::FromBool(Chance(0.6)));
    }
    void PutEventFields(IDispatch* obj, int tag, bool all) {
        if (all || Chance(0.6)) simtest::Put(obj, L"Subject", Text(Tagged(RandomTitle(), tag)));
        if (all || Chance(0.4)) simtest::Put(obj, L"Location", Text(Chance(0.3) ? std::string() : RandomTitle()));
        if (all || Chance(0.4)) simtest::Put(obj, L"Body", Text(RandomDescription(true)));
        if (all || Chance(0.4)) {
            if (Chance(0.15)) {
                const DATE day = static_cast<DATE>(static_cast<long>(RandomDate()));
                simtest::Put(obj, L"AllDayEvent", hv::unique_variant::FromBool(true));
                simtest::Put(obj, L"Start", hv::unique_variant::FromDate(day));
                simtest::Put(obj, L"End", hv::unique_variant::FromDate(day + 1));
            } else {
                const DATE start = RandomLocalTime();
                simtest::Put(obj, L"AllDayEvent", hv::unique_variant::FromBool(false));
                simtest::Put(obj, L"Start", hv::unique_variant::FromDate(start));
                simtest::Put(obj, L"End", hv::unique_variant::FromDate(start + Rand(1, 8) * 15 * kMinute));
            }
        }
    }
    void OutlookCreate(bool task) {
        Logical& l = m_model.Add(task);
        hv::com_ptr<IDispatch> obj =
            simtest::CallObj(m_outlook->Application(), L"CreateItem", {hv::unique_variant::FromLong(task ? 3 : 1)});
        ASSERT_TRUE(obj);
        if (task)
            PutTaskFields(obj.get(), l.tag, true);
        else
            PutEventFields(obj.get(), l.tag, true);
        ASSERT_HRESULT_SUCCEEDED(simtest::Call(obj.get(), L"Save", {}));
        auto item = FindOutlook(l);
        ASSERT_TRUE(item);
        RecordOutlook(l, item, false);
        ++m_stats.creates;
    }
    // The user's own save always goes through: a save armed to fail is meant for the run, and
    // the simulator would keep an unsaved edit in its one live object, where the run's next
    // save would store it unrecorded.
    HRESULT UserSave(const std::shared_ptr<hvsim::ItemData>& item) {
        const int armed = item->failSaves;
        item->failSaves = 0;
        const HRESULT hr = simtest::Call(m_outlook->ItemObject(item), L"Save", {});
        item->failSaves = armed;
        return hr;
    }
    // Changes fields of the item; false when it is not in Outlook.
    bool OutlookEdit(Logical& l, bool concurrent = false) {
        auto item = FindOutlook(l);
        if (!item) return false;
        IDispatch* obj = m_outlook->ItemObject(item);
        if (l.task)
            PutTaskFields(obj, l.tag, false);
        else
            PutEventFields(obj, l.tag, false);
        if (FAILED(UserSave(item))) return false;
        RecordOutlook(l, item, concurrent);
        return true;
    }
    // A field no synchronisation carries: the item's time still moves.
    bool OutlookTouch(Logical& l) {
        auto item = FindOutlook(l);
        if (!item) return false;
        IDispatch* obj = m_outlook->ItemObject(item);
        if (l.task)
            simtest::Put(obj, L"Categories", Text(Pick(std::vector<std::string>{"Red", "Blue", ""})));
        else
            simtest::Put(obj, L"ReminderMinutesBeforeStart", hv::unique_variant::FromLong(Rand(0, 6) * 5));
        if (FAILED(UserSave(item))) return false;
        RecordOutlook(l, item, false);
        ++m_stats.touches;
        return true;
    }
    bool OutlookDelete(Logical& l) {
        auto item = FindOutlook(l);
        if (!item) return false;
        if (FAILED(simtest::Call(m_outlook->ItemObject(item), L"Delete", {}))) return false;
        l.outlookDeleted = true;
        m_journal += hv::Format("round %ld Outlook {%d} deleted\n", m_round, l.tag);
        ++m_stats.deletes;
        return true;
    }

    // --- edits on the service, as another user of the account ------------------------------------
    void RecordService(Logical& l, const json& r, bool concurrent) {
        l.serviceEdits.push_back({ServiceFields(r, l.task), soak::EpochOf(Str(r["last_modified"])), concurrent});
        m_journal += hv::Format("round %ld service {%d} @%lld: ", m_round, l.tag, l.serviceEdits.back().stamp) +
                     soak::Describe(l.task, l.serviceEdits.back().fields) + "\n";
        ++m_stats.serviceEdits;
    }
    json ServiceBody(bool task, int tag, bool all) {
        json b;
        if (all || Chance(0.6)) b["title"] = Tagged(RandomTitle(), tag);
        if (all || Chance(0.4)) b["description"] = RandomDescription(false);
        if (task) {
            if (all || Chance(0.3)) b["priority"] = Rand(1, 3);
            // Both dates together, now and then a start after the due date (Outlook holds such a
            // task as one that starts on its due date; the service keeps its start).
            if (all || Chance(0.4)) {
                DATE start = RandomDate(), due = RandomDate();
                if (start > due && Chance(0.7)) std::swap(start, due);
                b["start_date"] = Chance(0.15) && !all ? std::string() : DateText(start);
                b["due_date"] = Chance(0.15) && !all ? std::string() : DateText(due);
            }
            if (all ? Chance(0.1) : Chance(0.2)) b["completed"] = Chance(0.6);
        } else {
            if (all || Chance(0.4)) b["location"] = Chance(0.3) ? std::string() : RandomTitle();
            if (all || Chance(0.4)) {
                const DATE start = RandomLocalTime();
                b["start_time"] = Wire(start);
                b["end_time"] = Wire(start + Rand(1, 8) * 15 * kMinute);
            }
        }
        if (b.empty()) b["title"] = Tagged(RandomTitle(), tag);
        return b;
    }
    void ServiceCreate(bool task) {
        Logical& l = m_model.Add(task);
        json r = task ? CreateTask(ServiceBody(true, l.tag, true)) : CreateEvent(ServiceBody(false, l.tag, true));
        RecordService(l, r, false);
        ++m_stats.creates;
    }
    // A record whose create in Outlook lost its answer is paired by the next run only while it
    // still holds what was sent (a known limit): another user's edit before then would make
    // it look like someone else's record.
    bool AwaitsPairing(const Logical& l) const {
        auto item = FindOutlook(l);
        return item && RecordId(item).empty();
    }
    bool ServiceEdit(Logical& l, bool concurrent = false) {
        json r = FindService(l);
        if (r.is_null() || AwaitsPairing(l)) return false;
        json answer = Update(l.task ? "tasks" : "events", IdOf(r, l.task), ServiceBody(l.task, l.tag, false));
        RecordService(l, answer, concurrent);
        return true;
    }
    bool ServiceDelete(Logical& l) {
        json r = FindService(l);
        if (r.is_null()) return false;
        m_admin.Send("DELETE",
                     std::string("/admin/") + (l.task ? "tasks/" : "events/") + IdOf(r, l.task) + "?as=" + m_user,
                     json());
        l.serviceDeleted = true;
        m_journal += hv::Format("round %ld service {%d} deleted\n", m_round, l.tag);
        ++m_stats.deletes;
        return true;
    }

    std::vector<Logical*> Live() {
        std::vector<Logical*> out;
        for (auto& [tag, l] : m_model.Items())
            if (!l.serviceDeleted) out.push_back(&l);
        return out;
    }

    // --- recurring series (with --series 1) ----------------------------------------------------
    // Series are made and changed in Outlook only (the service knows single events); their tags
    // start at kSeriesTag so that the single-item model leaves them alone. Each stays inside the
    // expansion window and the occurrence limit, so every occurrence reaches the service.
    static constexpr int kSeriesTag = 100000;
    static bool IsSeriesTag(int tag) { return tag >= kSeriesTag; }
    std::shared_ptr<hvsim::ItemData> FindSeries(int tag) const {
        for (auto& item : Appts())
            if (item->recurrence && TagOf(item->Subject()) == tag) return item;
        return nullptr;
    }
    void OutlookCreateSeries() {
        const int tag = kSeriesTag + static_cast<int>(m_seriesTags.size()) + 1;
        hv::com_ptr<IDispatch> obj =
            simtest::CallObj(m_outlook->Application(), L"CreateItem", {hv::unique_variant::FromLong(1)});
        ASSERT_TRUE(obj);
        const DATE start = Today() + Rand(1, 20) + Rand(7, 20) * kHour + Pick(std::vector<int>{0, 30}) * kMinute;
        simtest::Put(obj.get(), L"Subject", Text(Tagged(RandomTitle(), tag)));
        simtest::Put(obj.get(), L"Location", Text(RandomTitle()));
        simtest::Put(obj.get(), L"Start", hv::unique_variant::FromDate(start));
        simtest::Put(obj.get(), L"End", hv::unique_variant::FromDate(start + Rand(1, 4) * 15 * kMinute));
        hv::com_ptr<IDispatch> pattern = simtest::CallObj(obj.get(), L"GetRecurrencePattern", {});
        ASSERT_TRUE(pattern);
        auto put = [&](const wchar_t* name, long value) {
            simtest::Put(pattern.get(), name, hv::unique_variant::FromLong(value));
        };
        SYSTEMTIME st{};
        ::VariantTimeToSystemTime(start, &st);
        std::string kind;
        switch (Rand(0, 4)) {
            case 0:
                kind = "daily";
                put(L"RecurrenceType", hvsim::olRecursDaily);
                put(L"Interval", Rand(1, 2));
                put(L"Occurrences", Rand(2, 4));
                break;
            case 1:
                kind = "weekly";
                put(L"RecurrenceType", hvsim::olRecursWeekly);
                put(L"DayOfWeekMask", (1L << st.wDayOfWeek) | (1L << ((st.wDayOfWeek + Rand(1, 3)) % 7)));
                put(L"Occurrences", Rand(2, 5));
                break;
            case 2:
                kind = "monthly";
                put(L"RecurrenceType", hvsim::olRecursMonthly);
                put(L"DayOfMonth", st.wDay);
                put(L"Occurrences", 2);
                break;
            case 3:
                kind = "monthly-nth";
                put(L"RecurrenceType", hvsim::olRecursMonthNth);
                put(L"DayOfWeekMask", 1L << st.wDayOfWeek);
                put(L"Instance", std::min(4, (st.wDay - 1) / 7 + 1));
                put(L"Occurrences", 2);
                break;
            default:
                kind = "yearly";
                put(L"RecurrenceType", hvsim::olRecursYearly);
                put(L"DayOfMonth", st.wDay);
                put(L"MonthOfYear", st.wMonth);
                put(L"Occurrences", 2);
                break;
        }
        pattern.reset();
        ASSERT_HRESULT_SUCCEEDED(simtest::Call(obj.get(), L"Save", {}));
        obj.reset();
        // Occurrences reach the service only through a link made for them ("Add to HV" of the
        // series): one service event per occurrence, its link written into the occurrence.
        auto series = FindSeries(tag);
        ASSERT_TRUE(series);
        for (DATE when : PatternStarts(*series)) {
            json e = CreateEvent({{"title", series->Subject()},
                                  {"location", series->Get("Location").AsText()},
                                  {"start_time", Wire(when)},
                                  {"end_time", Wire(when + series->recurrence->duration)}});
            hv::com_ptr<IDispatch> p = simtest::CallObj(m_outlook->ItemObject(series), L"GetRecurrencePattern", {});
            hv::com_ptr<IDispatch> occurrence =
                p ? simtest::CallObj(p.get(), L"GetOccurrence", {hv::unique_variant::FromDate(when)}) : nullptr;
            ASSERT_TRUE(occurrence);
            CSyncItem rec;
            rec.m_target.m_strID = Str(e["event_id"]);
            const std::string lm = Str(e["last_modified"]), organizer = Str(e["organizer"]),
                              ids = Str(e["assigned_to_userids"]), internal = Str(e["internal_use_only"]);
            simtest::Put(occurrence.get(), L"BillingInformation",
                         hv::unique_variant::FromString(rec.BuildLinkBlob(&lm, nullptr, &ids, &organizer, &internal)));
            ASSERT_HRESULT_SUCCEEDED(simtest::Call(occurrence.get(), L"Save", {}));
            // Linked as both sides hold it: the pair's starting point.
            Logical& l = m_model.Occurrences()[{tag, Wire(when)}];
            l.tag = tag;
            l.task = false;
            l.recordId = Str(e["event_id"]);
            m_model.Agreed(l, OccurrenceFields(e));
        }
        m_seriesTags.push_back(tag);
        m_journal +=
            hv::Format("round %ld Outlook series {%d} %s from %s\n", m_round, tag, kind.c_str(), Wire(start).c_str());
        ++m_stats.series;
    }
    // An occurrence's fields as its pair carries them (a series here has no description).
    static Fields OccurrenceFields(const json& event) {
        Fields f = ServiceFields(event, false);
        f.desc.clear();
        return f;
    }
    static Fields OccurrenceFields(const hvsim::ItemData& occurrence) {
        Fields f = OutlookFields(occurrence, false);
        f.desc.clear();
        return f;
    }
    Logical* OccurrenceModel(int tag, DATE when) {
        auto it = m_model.Occurrences().find({tag, Wire(when)});
        return it == m_model.Occurrences().end() ? nullptr : &it->second;
    }
    // The linked occurrence (an exception of its series) that began at `when`, or null.
    static std::shared_ptr<hvsim::ItemData> LinkedOccurrence(const hvsim::ItemData& series, DATE when) {
        const hvsim::ExceptionData* ex = series.recurrence->FindException(when);
        return ex && !ex->deleted ? ex->item : nullptr;
    }
    // An Outlook edit of an occurrence, at the occurrence's own modification time: the time the
    // planner compares for an occurrence that is an exception of its series.
    void RecordOccurrenceOutlook(Logical& l, const hvsim::ItemData& occurrence, DATE when) {
        l.outlookEdits.push_back({OccurrenceFields(occurrence), OutlookStamp(occurrence), false});
        m_journal += hv::Format("round %ld Outlook series {%d} occurrence %s @%lld: ", m_round, l.tag,
                                Wire(when).c_str(), l.outlookEdits.back().stamp) +
                     soak::Describe(false, l.outlookEdits.back().fields) + "\n";
    }
    // The starts of the series' occurrences as the pattern gives them (exceptions ignored).
    static std::vector<DATE> PatternStarts(const hvsim::ItemData& series) {
        const hvsim::Recurrence& r = *series.recurrence;
        return r.OccurrencesBetween(hvsim::DayNumber(r.patternStart), r.noEndDate
                                                                          ? hvsim::DayNumber(r.patternStart) + 400
                                                                          : hvsim::DayNumber(r.patternEnd));
    }
    // Changes the series, or moves or deletes one of its occurrences.
    void OutlookSeriesEdit() {
        if (m_seriesTags.empty()) return;
        const int tag = Pick(m_seriesTags);
        auto series = FindSeries(tag);
        if (!series) return;
        const std::vector<DATE> starts = PatternStarts(*series);
        const int op = Rand(0, 2);
        if (op == 0 || starts.empty()) {
            // What each linked occurrence held before: a change of the series that reaches an
            // occurrence is an Outlook edit of its pair.
            std::map<DATE, Fields> before;
            for (DATE when : starts)
                if (auto occurrence = LinkedOccurrence(*series, when)) before[when] = OccurrenceFields(*occurrence);
            IDispatch* obj = m_outlook->ItemObject(series);
            if (Chance(0.5))
                simtest::Put(obj, L"Subject", Text(Tagged(RandomTitle(), tag)));
            else
                simtest::Put(obj, L"Location", Text(RandomTitle()));
            if (SUCCEEDED(UserSave(series))) {
                m_journal += hv::Format("round %ld Outlook series {%d} changed\n", m_round, tag);
                ++m_stats.seriesOutlookEdits;
                for (const auto& [when, fields] : before) {
                    auto occurrence = LinkedOccurrence(*series, when);
                    Logical* l = OccurrenceModel(tag, when);
                    if (occurrence && l && !soak::SameFields(false, fields, OccurrenceFields(*occurrence)))
                        RecordOccurrenceOutlook(*l, *occurrence, when);
                }
            }
            return;
        }
        const DATE when = Pick(starts);
        hv::com_ptr<IDispatch> pattern = simtest::CallObj(m_outlook->ItemObject(series), L"GetRecurrencePattern", {});
        hv::com_ptr<IDispatch> occurrence =
            pattern ? simtest::CallObj(pattern.get(), L"GetOccurrence", {hv::unique_variant::FromDate(when)}) : nullptr;
        if (!occurrence) return;  // deleted already
        if (op == 1) {
            const DATE moved = when + Rand(1, 3) * kHour;
            const DATE length = series->recurrence->duration;
            simtest::Put(occurrence.get(), L"Start", hv::unique_variant::FromDate(moved));
            simtest::Put(occurrence.get(), L"End", hv::unique_variant::FromDate(moved + length));
            if (SUCCEEDED(simtest::Call(occurrence.get(), L"Save", {}))) {
                m_journal += hv::Format("round %ld Outlook series {%d} occurrence %s moved to %s\n", m_round, tag,
                                        Wire(when).c_str(), Wire(moved).c_str());
                ++m_stats.seriesOutlookEdits;
                auto saved = LinkedOccurrence(*series, when);
                Logical* l = OccurrenceModel(tag, when);
                if (saved && l) RecordOccurrenceOutlook(*l, *saved, when);
            }
        } else if (SUCCEEDED(simtest::Call(occurrence.get(), L"Delete", {}))) {
            m_journal +=
                hv::Format("round %ld Outlook series {%d} occurrence %s deleted\n", m_round, tag, Wire(when).c_str());
            ++m_stats.seriesOutlookEdits;
            if (Logical* l = OccurrenceModel(tag, when)) l->outlookDeleted = true;
        }
    }
    // Another user changes the service event of one linked occurrence: its title, its location,
    // or its times by an hour either way (the occurrence stays on its day).
    void ServiceSeriesEdit() {
        if (m_seriesTags.empty()) return;
        const int tag = Pick(m_seriesTags);
        auto series = FindSeries(tag);
        if (!series) return;
        struct Linked {
            DATE when, start, end;
            std::string id;
        };
        std::vector<Linked> linked;
        for (DATE when : PatternStarts(*series)) {
            const hvsim::ExceptionData* ex = series->recurrence->FindException(when);
            if (!ex || ex->deleted || !ex->item) continue;
            CSyncItem link;
            if (link.ReadLinkBlob(ex->item->Get("BillingInformation").AsText()) == S_OK &&
                !link.m_target.m_strID.empty())
                linked.push_back(
                    {when, ex->item->Get("Start").AsDate(), ex->item->Get("End").AsDate(), link.m_target.m_strID});
        }
        if (linked.empty()) return;
        const Linked o = Pick(linked);
        const std::string& id = o.id;
        const DATE when = o.when;
        bool onService = false;
        for (const auto& r : ServiceRecords(false))
            if (IdOf(r, false) == id) onService = true;
        if (!onService) return;
        json body;
        std::string what;
        switch (Rand(0, 2)) {
            case 0:
                body["title"] = Tagged(RandomTitle(), tag);
                what = "title";
                break;
            case 1:
                body["location"] = Chance(0.2) ? std::string() : RandomTitle();
                what = "location";
                break;
            default: {
                const DATE shift = (Chance(0.5) ? 1 : -1) * kHour;
                body["start_time"] = Wire(o.start + shift);
                body["end_time"] = Wire(o.end + shift);
                what = "times";
                break;
            }
        }
        const json answer = Update("events", id, body);
        ++m_stats.seriesServiceEdits;
        m_journal += hv::Format("round %ld service series {%d} occurrence %s: event %s %s changed: %s\n", m_round, tag,
                                Wire(when).c_str(), id.c_str(), what.c_str(), body.dump().c_str());
        if (Logical* l = OccurrenceModel(tag, when)) {
            l->serviceEdits.push_back({OccurrenceFields(answer), soak::EpochOf(Str(answer["last_modified"])), false});
            m_journal += hv::Format("round %ld service series {%d} occurrence %s @%lld: ", m_round, tag,
                                    Wire(when).c_str(), l->serviceEdits.back().stamp) +
                         soak::Describe(false, l->serviceEdits.back().fields) + "\n";
        }
    }
    // Whether the pair holds what the occurrence's model allows: its last edit, or where both
    // sides changed it since the last check, the later one (equal seconds: the service's).
    void CheckOccurrenceEdits(Logical& l, const std::string& name, const Fields& now, std::string& diff,
                              std::vector<std::pair<Logical*, Fields>>& agreed) {
        ++m_stats.occurrencesChecked;
        const soak::Verdict v = m_model.Expected(l, true);
        if (v.ambiguous) ++m_stats.occurrencesAmbiguous;
        if (!l.outlookEdits.empty() && !l.serviceEdits.empty()) {
            ++m_stats.occurrencesBothSides;
            if (!v.ambiguous) ++m_stats.occurrencesLaterWins;
        }
        bool matched = v.allowed.empty();
        for (const Fields& f : v.allowed) matched |= soak::SameFields(false, f, now);
        if (!matched) {
            std::string text = name + ": holds neither its last edit nor the one the planner lets win";
            for (const Fields& f : v.allowed) text += "\n  expected:\n" + soak::Difference(false, f, now);
            diff += text + "\n  history:\n" + soak::History(l) + "  now: " + soak::Describe(false, now) + "\n";
        }
        agreed.push_back({&l, now});
    }
    // One linked occurrence moved in Outlook and its event changed on the service before the next
    // run, in a random order and in different seconds: the later edit must win. The Outlook edit
    // comes more than ten seconds after the last run's mark, where the documented rule would take
    // it for that run's own write.
    void BothSidesOccurrenceEdit() {
        if (m_seriesTags.empty()) return;
        const int tag = Pick(m_seriesTags);
        auto series = FindSeries(tag);
        if (!series) return;
        std::vector<DATE> linked;  // at its original start, where "GetOccurrence" finds it
        for (DATE when : PatternStarts(*series)) {
            auto occurrence = LinkedOccurrence(*series, when);
            if (occurrence && occurrence->Get("Start").AsDate() == when && OccurrenceModel(tag, when))
                linked.push_back(when);
        }
        if (linked.empty()) return;
        const DATE when = Pick(linked);
        Logical& l = *OccurrenceModel(tag, when);
        const bool outlookFirst = Chance(0.5);
        const DATE moved = when + Rand(1, 3) * kHour;
        json body;
        if (Chance(0.5))
            body["title"] = Tagged(RandomTitle(), tag);
        else
            body["location"] = Chance(0.2) ? std::string() : RandomTitle();
        const long long mark = soak::EpochOf(LastSync("Event"));
        for (int i = 0; i < 200 && mark > 0 && ServiceNow() <= mark + 10; ++i) ::Sleep(100);
        auto outlookSide = [&]() -> long long {
            hv::com_ptr<IDispatch> pattern =
                simtest::CallObj(m_outlook->ItemObject(series), L"GetRecurrencePattern", {});
            hv::com_ptr<IDispatch> occurrence =
                pattern ? simtest::CallObj(pattern.get(), L"GetOccurrence", {hv::unique_variant::FromDate(when)})
                        : nullptr;
            if (!occurrence) return 0;
            simtest::Put(occurrence.get(), L"Start", hv::unique_variant::FromDate(moved));
            simtest::Put(occurrence.get(), L"End", hv::unique_variant::FromDate(moved + series->recurrence->duration));
            if (FAILED(simtest::Call(occurrence.get(), L"Save", {}))) return 0;
            ++m_stats.seriesOutlookEdits;
            auto saved = LinkedOccurrence(*series, when);
            if (!saved) return 0;
            RecordOccurrenceOutlook(l, *saved, when);
            return l.outlookEdits.back().stamp;
        };
        auto serviceSide = [&]() -> long long {
            const json answer = Update("events", l.recordId, body);
            ++m_stats.seriesServiceEdits;
            l.serviceEdits.push_back({OccurrenceFields(answer), soak::EpochOf(Str(answer["last_modified"])), false});
            m_journal += hv::Format("round %ld service series {%d} occurrence %s @%lld: ", m_round, tag,
                                    Wire(when).c_str(), l.serviceEdits.back().stamp) +
                         soak::Describe(false, l.serviceEdits.back().fields) + "\n";
            return l.serviceEdits.back().stamp;
        };
        m_journal += hv::Format("round %ld both sides of series {%d} occurrence %s, %s first\n", m_round, tag,
                                Wire(when).c_str(), outlookFirst ? "Outlook" : "service");
        if (outlookFirst) {
            WaitPast(outlookSide());
            serviceSide();
        } else {
            WaitPast(serviceSide());
            outlookSide();
        }
    }
    // Every occurrence of every series is linked to one service event that holds its title,
    // location and times, and holds the edit the model allows; no event is linked from two
    // occurrences; and every event of the series is linked from an occurrence or (an occurrence
    // deleted in Outlook after it reached the service comes back as a single appointment) from a
    // single appointment with its tag, which holds the event's values.
    std::string SeriesOracle() {
        std::string diff;
        auto fail = [&](const std::string& text) { diff += text + "\n"; };
        std::vector<std::pair<Logical*, Fields>> agreed;
        std::map<int, std::vector<json>> events;
        for (const auto& r : ServiceRecords(false))
            if (IsSeriesTag(TagOf(Str(r["title"])))) events[TagOf(Str(r["title"]))].push_back(r);
        std::map<std::string, int> linkedFrom;
        for (auto& item : OutlookItems(false)) {
            const int tag = TagOf(item->Subject());
            if (!IsSeriesTag(tag)) continue;
            const std::string id = RecordId(item);
            if (id.empty()) fail(hv::Format("series {%d}: a single appointment without a link", tag));
            ++linkedFrom[id];
        }
        for (int tag : m_seriesTags) {
            ++m_stats.checkedItems;
            auto series = FindSeries(tag);
            if (!series) {
                fail(hv::Format("series {%d} missing in Outlook", tag));
                continue;
            }
            const hvsim::Recurrence& r = *series->recurrence;
            for (DATE when : PatternStarts(*series)) {
                const hvsim::ExceptionData* ex = r.FindException(when);
                if (ex && ex->deleted) {
                    if (Logical* l = OccurrenceModel(tag, when))
                        CheckDeletedOccurrence(
                            *l, hv::Format("series {%d} occurrence %s (deleted in Outlook)", tag, Wire(when).c_str()),
                            events[tag], diff, agreed);
                    continue;
                }
                Fields o;
                std::string blob;
                if (ex && ex->item) {
                    o.title = ex->item->Subject();
                    o.location = ex->item->Get("Location").AsText();
                    o.startTime = Wire(ex->item->Get("Start").AsDate());
                    o.endTime = Wire(ex->item->Get("End").AsDate());
                    blob = ex->item->Get("BillingInformation").AsText();
                } else {
                    o.title = series->Subject();
                    o.location = series->Get("Location").AsText();
                    o.startTime = Wire(when);
                    o.endTime = Wire(when + r.duration);
                }
                const std::string name = hv::Format("series {%d} occurrence %s", tag, Wire(when).c_str());
                CSyncItem link;
                if (blob.empty() || link.ReadLinkBlob(blob) != S_OK || link.m_target.m_strID.empty()) {
                    fail(name + ": not linked");
                    continue;
                }
                const std::string id = link.m_target.m_strID;
                if (++linkedFrom[id] > 1) fail(name + ": its event " + id + " is linked twice");
                const json* e = nullptr;
                for (const auto& candidate : events[tag])
                    if (IdOf(candidate, false) == id) e = &candidate;
                if (!e) {
                    fail(name + ": its event " + id + " is not on the service");
                    continue;
                }
                Fields s = ServiceFields(*e, false);
                s.desc = o.desc;
                const std::string pair = soak::Difference(false, o, s);
                if (!pair.empty()) fail(name + ": Outlook and service differ:\n" + pair);
                Logical* l = OccurrenceModel(tag, when);
                if (!l)
                    fail(name + ": not in the model");
                else if (l->recordId != id)
                    fail(name + ": linked to event " + id + ", made with event " + l->recordId);
                else
                    CheckOccurrenceEdits(*l, name, OccurrenceFields(*e), diff, agreed);
            }
            for (const auto& e : events[tag])
                if (!linkedFrom.count(IdOf(e, false)))
                    fail(hv::Format("series {%d}: event %s on the service is linked from nothing", tag,
                                    IdOf(e, false).c_str()));
        }
        if (diff.empty())
            for (auto& [l, now] : agreed) m_model.Agreed(*l, now);
        return diff;
    }
    // An occurrence deleted in Outlook: the documented rules delete nothing on the service for
    // it, and a full run brings its event back as a single appointment. The event keeps its own
    // values (or takes an edit the occurrence made before it was deleted).
    void CheckDeletedOccurrence(Logical& l, const std::string& name, const std::vector<json>& events, std::string& diff,
                                std::vector<std::pair<Logical*, Fields>>& agreed) {
        const json* e = nullptr;
        for (const auto& candidate : events)
            if (IdOf(candidate, false) == l.recordId) e = &candidate;
        if (!e) {
            diff += name + ": its event " + l.recordId + " is gone from the service\n";
            return;
        }
        std::shared_ptr<hvsim::ItemData> single;
        for (auto& item : OutlookItems(false))
            if (RecordId(item) == l.recordId) single = item;
        if (!single) {
            diff += name + ": its event " + l.recordId + " has no single appointment in Outlook\n";
            return;
        }
        const Fields s = OccurrenceFields(*e);
        const std::string pair = soak::Difference(false, OccurrenceFields(*single), s);
        if (!pair.empty()) diff += name + ": the single appointment and its event differ:\n" + pair;
        CheckOccurrenceEdits(l, name, s, diff, agreed);
    }

    // --- one round's edits --------------------------------------------------------------------
    void Edits() {
        const int outlookCount = Rand(0, 3), serviceCount = Rand(0, 3);
        std::set<int> touched;
        for (int i = 0; i < outlookCount; ++i) {
            auto live = Live();
            const int op = live.empty() ? 0 : Rand(0, 9);
            if (op <= 2) {
                OutlookCreate(op != 0);
                continue;
            }
            Logical& l = *Pick(live);
            if (op <= 6) {
                if (OutlookEdit(l)) touched.insert(l.tag);
            } else if (op <= 8) {
                if (OutlookTouch(l)) touched.insert(l.tag);
            } else if (!touched.count(l.tag)) {
                OutlookDelete(l);
            }
        }
        for (int i = 0; i < serviceCount; ++i) {
            auto live = Live();
            const int op = live.empty() ? 0 : Rand(0, 9);
            if (op <= 2) {
                ServiceCreate(op != 0);
                continue;
            }
            Logical& l = *Pick(live);
            if (op <= 8) {
                // An item edited on both sides in one round gets a later time on the second side.
                if (touched.count(l.tag) && !l.outlookEdits.empty()) WaitPast(l.outlookEdits.back().stamp);
                ServiceEdit(l);
            } else if (!touched.count(l.tag) && l.outlookEdits.empty()) {
                // A record deleted on the service is not edited in Outlook any more: its next push
                // could only fail.
                ServiceDelete(l);
            }
        }
        if (Chance(0.3)) {
            // The same record on both sides, in a random order.
            std::vector<Logical*> both;
            for (Logical* l : Live())
                if (!l->outlookDeleted && FindOutlook(*l) && !FindService(*l).is_null()) both.push_back(l);
            if (!both.empty()) {
                Logical& l = *Pick(both);
                long long first = 0;
                if (Chance(0.5)) {
                    if (OutlookEdit(l)) first = l.outlookEdits.back().stamp;
                    WaitPast(first);
                    ServiceEdit(l);
                } else {
                    if (ServiceEdit(l)) first = l.serviceEdits.back().stamp;
                    WaitPast(first);
                    OutlookEdit(l);
                }
                ++m_stats.bothSides;
            }
        }
        if (m_seriesServiceEdits && Chance(0.15)) BothSidesOccurrenceEdit();
    }

    // --- faults ---------------------------------------------------------------------------------
    void Taint(bool task) {
        for (auto& [tag, l] : m_model.Items())
            if (l.task == task) l.tainted = true;
        if (!task && !m_model.Occurrences().empty()) {
            const long long now = ServiceNow();
            for (auto& [key, l] : m_model.Occurrences()) {
                l.tainted = true;
                l.taintedAt = now ? now : 1LL << 62;  // no clock: after every edit
            }
        }
    }
    RunPlan Faults() {
        RunPlan plan;
        plan.incremental = Chance(0.6) ? 1 : 0;
        if (Chance(0.5)) {
            static const std::vector<std::string> ops = {"GetMyTasks",  "GetMyEvents", "CreateTask",  "UpdateTask",
                                                         "CreateEvent", "UpdateEvent", "DeleteEvent", "*"};
            static const std::vector<std::string> faults = {"http_500",  "soap_fault", "truncated",
                                                            "malformed", "close",      "delay"};
            const std::string op = Pick(ops), fault = Pick(faults);
            const bool apply = Chance(0.5);
            const std::string faultUsed = fault;
            json rule{
                {"operation", op}, {"fault", faultUsed}, {"count", Rand(1, 2)}, {"apply", apply}, {"user", m_user}};
            if (faultUsed == "delay") {
                SetTimeoutSetting(2);  // the held answer outlasts the receive time-out
                rule["seconds"] = 3;
            }
            m_admin.Send("POST", "/admin/faults", rule);
            plan.what += " service:" + rule.dump();
            if (op == "*" || op.find("Task") != std::string::npos) Taint(true);
            if (op == "*" || op.find("Event") != std::string::npos) Taint(false);
            ++m_stats.serviceFaults;
        }
        if (Chance(0.25)) {
            auto live = Live();
            if (!live.empty()) {
                Logical& l = *Pick(live);
                if (auto item = FindOutlook(l)) {
                    item->failSaves = Rand(1, 2);
                    plan.what += " failSaves:{" + std::to_string(l.tag) + "}";
                    l.tainted = true;
                    ++m_stats.failingSaves;
                }
            }
        }
        if (Chance(0.15)) {
            auto live = Live();
            if (!live.empty()) {
                Logical* l = Pick(live);
                const bool remove = Chance(0.3);
                plan.outlookDelayMs = static_cast<UINT>(Rand(20, 1500));
                plan.what += hv::Format(" outlook-while-busy:{%d}%s", l->tag, remove ? " delete" : "");
                plan.outlookWhileBusy = [this, l, remove] {
                    if (remove) {
                        if (!l->outlookEdits.empty() || !OutlookDelete(*l)) OutlookEdit(*l, true);
                    } else {
                        OutlookEdit(*l, true);
                    }
                    l->tainted = true;
                };
                ++m_stats.outlookWhileBusy;
            }
        }
        if (Chance(0.15)) {
            auto live = Live();
            Logical* l = live.empty() ? nullptr : Pick(live);
            if (l && !AwaitsPairing(*l)) {
                // Runs on the driving thread: it only edits the service; the model takes the
                // answer in once the run is over.
                json body = ServiceBody(l->task, l->tag, false);
                plan.what += " service-while-busy:" + body.dump();
                plan.serviceWhileBusy = [this, l, body] {
                    json r = FindService(*l);
                    if (r.is_null()) return;
                    m_busyEdit = {l, Update(l->task ? "tasks" : "events", IdOf(r, l->task), body)};
                };
                ++m_stats.serviceWhileBusy;
            }
        }
        if (Chance(0.15)) {
            // At a random row, a cancel can land while a push is in flight. Without --cancel-rows 1
            // it lands in the download, which only reads.
            plan.cancelAfterChanges = Rand(0, 6);
            if (!m_cancelRows) plan.cancelAfterChanges = kCancelInDownload;
            plan.what += " cancel:" + std::to_string(plan.cancelAfterChanges);
            Taint(true);
            Taint(false);
            ++m_stats.cancels;
        }
        return plan;
    }
    void ClearFaults() {
        m_admin.Send("DELETE", "/admin/faults", json());
        SetTimeoutSetting(0);
        for (auto& item : Tasks()) item->failSaves = 0;
        if (m_seriesOn) {
            if (Chance(0.2)) OutlookCreateSeries();
            if (Chance(0.3)) OutlookSeriesEdit();
            if (m_seriesServiceEdits && Chance(0.3)) ServiceSeriesEdit();
        }
        for (auto& item : Appts()) item->failSaves = 0;
    }

    // --- one run of the dialog --------------------------------------------------------------------
    RunSeen Run(const RunPlan& plan) {
        RunSeen seen;
        CDlgSynch dlg(TheAPI(), nullptr);
        dlg.m_credentials.m_strUser = m_user;
        dlg.m_credentials.m_strPassword = m_password;
        dlg.m_pNameSpace = m_ns;
        dlg.m_fIncremental = plan.incremental;
        dlg.m_nSyncKinds = SYNC_TASKS | SYNC_EVENTS;
        g_outlookAction = plan.outlookWhileBusy;
        g_outlookActionRan = false;
        hv::uiauto::RunWhileDriving(
            [&] {
                if (g_outlookAction) ::SetTimer(nullptr, 0, plan.outlookDelayMs, OutlookTimer);
                dlg.Run();
            },
            [&](Automation& a) {
                HWND h = a.WaitForDialog("Synchronizing with Halvane", 20000);
                auto closeShown = [&] { return Automation::GetText(h, IDCANCEL) == "Close"; };
                auto busy = [&] {
                    const std::string now = Automation::GetText(h, IDC_SYNCH_STATUS);
                    return now.rfind("Synchronization in progress", 0) == 0 || now.rfind("Updated", 0) == 0 ||
                           now.rfind("Synchronizing", 0) == 0 || now.rfind("Failed to sync", 0) == 0;
                };
                if (plan.cancelAfterChanges == kCancelInDownload) {
                    if (!closeShown() && !busy()) {
                        seen.cancelled = true;
                        seen.status = Automation::GetText(h, IDC_SYNCH_STATUS);
                        Automation::Click(h, IDCANCEL);
                        a.WaitForClose(h, 20000);
                        return;
                    }
                }
                if (plan.serviceWhileBusy || plan.cancelAfterChanges >= 0) {
                    a.WaitUntil([&] { return busy() || closeShown(); }, 60000);
                    if (plan.serviceWhileBusy && !closeShown()) plan.serviceWhileBusy();
                }
                if (plan.cancelAfterChanges >= 0) {
                    std::string last = Automation::GetText(h, IDC_SYNCH_STATUS);
                    int changes = 0;
                    a.WaitUntil(
                        [&] {
                            const std::string now = Automation::GetText(h, IDC_SYNCH_STATUS);
                            if (now != last) ++changes, last = now;
                            return changes >= plan.cancelAfterChanges || closeShown();
                        },
                        60000);
                    if (!closeShown()) {
                        seen.cancelled = true;
                        seen.status = Automation::GetText(h, IDC_SYNCH_STATUS);
                        Automation::Click(h, IDCANCEL);
                        a.WaitForClose(h, 20000);
                        return;
                    }
                }
                // The run is over when the status says so, or when a stopped run has been quiet.
                // A long run at low priority on a busy machine can take minutes to plan: a shorter
                // wait for "Close" cut such a run off as if it had stopped.
                a.WaitUntil(closeShown, 900000);
                std::string last;
                DWORD quietSince = ::GetTickCount();
                a.WaitUntil(
                    [&] {
                        const std::string now = Automation::GetText(h, IDC_SYNCH_STATUS);
                        if (now == "Synchronization is Complete") return true;
                        if (now != last) last = now, quietSince = ::GetTickCount();
                        return ::GetTickCount() - quietSince > 1500;
                    },
                    90000);
                seen.status = Automation::GetText(h, IDC_SYNCH_STATUS);
                seen.complete = seen.status == "Synchronization is Complete";
                Automation::Click(h, IDCANCEL);
                a.WaitForClose(h, 20000);
            },
            1200000);
        g_outlookAction = nullptr;
        if (m_busyEdit.first) {
            RecordService(*m_busyEdit.first, m_busyEdit.second, true);
            m_busyEdit.first->tainted = true;
            m_busyEdit = {};
        }
        for (CSyncItem* row : dlg.m_rows) {
            seen.actions.push_back(row->m_nAction);
            seen.titles.push_back(row->title);
        }
        ++m_stats.runs;
        m_journal += hv::Format("round %ld run %s%s: %s%s\n", m_round, plan.incremental ? "incremental" : "full",
                                plan.what.c_str(), seen.cancelled ? "cancelled " : "", seen.Describe().c_str());
        m_model.RunMarked(soak::EpochOf(LastSync("Task")), soak::EpochOf(LastSync("Event")));
        return seen;
    }

    // --- the oracle -------------------------------------------------------------------------------
    std::string Where() const {
        return hv::Format(
            "seed %llu, round %ld (replay: --seed %llu --rounds %ld --every %ld --cancel-rows %d --series %d)", m_seed,
            m_round, m_seed, m_round, m_every, m_cancelRows ? 1 : 0,
            m_seriesServiceEdits ? 2
            : m_seriesOn         ? 1
                                 : 0);
    }

    // Outlook's items (entry id and save count) and the service's request count, to tell a run
    // that changed nothing.
    std::map<std::string, int> OutlookState() const {
        std::map<std::string, int> state;
        for (auto& item : Tasks()) state[item->entryId] = item->saveCount;
        for (auto& item : Appts()) state[item->entryId] = item->saveCount;
        return state;
    }

    // Returns the differences found (empty when the stores agree with the model).
    std::string Oracle() {
        std::string diff;
        auto fail = [&](const std::string& text) { diff += text + "\n"; };
        for (bool task : {true, false}) {
            const char* kind = task ? "task" : "event";
            std::map<int, std::vector<std::shared_ptr<hvsim::ItemData>>> outlook;
            std::map<int, std::vector<json>> service;
            std::map<std::string, int> linkedFrom;
            for (auto& item : OutlookItems(task)) {
                const int tag = TagOf(item->Subject());
                if (IsSeriesTag(tag)) continue;
                if (!tag) fail(hv::Format("%s without a tag in Outlook: '%s'", kind, item->Subject().c_str()));
                outlook[tag].push_back(item);
                const std::string id = RecordId(item);
                if (!id.empty() && ++linkedFrom[id] > 1)
                    fail(hv::Format("%s record %s linked from two Outlook items", kind, id.c_str()));
            }
            for (const auto& r : ServiceRecords(task)) {
                const int tag = TagOf(Str(r["title"]));
                if (IsSeriesTag(tag)) continue;
                if (!tag) fail(hv::Format("%s without a tag on the service: '%s'", kind, Str(r["title"]).c_str()));
                service[tag].push_back(r);
            }
            for (auto& [tag, items] : outlook)
                if (items.size() > 1)
                    fail(hv::Format("duplicate in Outlook: %d %ss tagged {%d}", static_cast<int>(items.size()), kind,
                                    tag));
            for (auto& [tag, records] : service)
                if (records.size() > 1)
                    fail(hv::Format("duplicate on the service: %d %ss tagged {%d}", static_cast<int>(records.size()),
                                    kind, tag));
            std::vector<int> gone;
            for (auto& [tag, l] : m_model.Items()) {
                if (l.task != task) continue;
                ++m_stats.checkedItems;
                const bool inOutlook = outlook.count(tag) != 0, onService = service.count(tag) != 0;
                const std::string name = hv::Format("%s {%d}", kind, tag);
                if (l.serviceDeleted) {
                    // A deletion travels with the incremental download that holds its tombstone; a
                    // full download holds none, so the Outlook item may stay.
                    if (onService) fail(name + ": deleted on the service but present there");
                    if (inOutlook) ++m_stats.orphans;
                    continue;
                }
                if (l.outlookDeleted && !inOutlook && !onService) {
                    gone.push_back(tag);  // deleted before it ever reached the service
                    continue;
                }
                if (!inOutlook || !onService) {
                    fail(name + (inOutlook ? ": missing on the service" : ": missing in Outlook") +
                         (l.outlookDeleted ? " (deleted in Outlook)" : ""));
                    continue;
                }
                const auto& item = outlook[tag].front();
                const json& r = service[tag].front();
                if (RecordId(item) != IdOf(r, task))
                    fail(name + ": Outlook links '" + RecordId(item) + "', the service holds " + IdOf(r, task));
                const Fields o = OutlookFields(*item, task), s = ServiceFields(r, task);
                const std::string pair = soak::Difference(task, o, s);
                if (!pair.empty()) fail(name + ": Outlook and service differ:\n" + pair);
                const soak::Verdict v = m_model.Expected(l);
                if (v.ambiguous) ++m_stats.ambiguous;
                bool matched = v.allowed.empty();
                for (const Fields& f : v.allowed) matched |= soak::SameFields(task, f, s);
                if (!matched) {
                    std::string text = name + ": holds neither its last edit nor the one the planner lets win";
                    for (const Fields& f : v.allowed) text += "\n  expected:\n" + soak::Difference(task, f, s);
                    fail(text + "\n  history:\n" + soak::History(l) + "  now: " + soak::Describe(task, s));
                }
            }
            for (int tag : gone) m_model.Items().erase(tag);
            for (auto& [tag, records] : service)
                if (!m_model.Find(tag) && tag)
                    fail(hv::Format("%s {%d} on the service was never made by the soak", kind, tag));
            if (diff.empty())
                for (auto& [tag, l] : m_model.Items())
                    if (l.task == task && !l.serviceDeleted && service.count(tag))
                        m_model.Agreed(l, ServiceFields(service[tag].front(), task));
        }
        return diff;
    }

    std::string Journal() const {
        return m_journal.size() > 30000 ? m_journal.substr(m_journal.size() - 30000) : m_journal;
    }

    // Clean full run, oracle, then a run that must change nothing. False when the soak must stop.
    bool Check() {
        ++m_stats.checks;
        ClearFaults();
        RunPlan clean;
        clean.incremental = 0;
        RunSeen run = Run(clean);
        ++m_stats.cleanRuns;
        if (!run.complete || run.Count(ACTION_FAILED) > 0) {
            ADD_FAILURE() << Where() << ": the clean full run did not complete without failures: " << run.Describe()
                          << "\njournal:\n"
                          << Journal();
            return false;
        }
        const std::string diff = Oracle() + SeriesOracle();
        if (!diff.empty()) {
            ADD_FAILURE() << Where() << ": the stores differ from the model:\n" << diff << "\njournal:\n" << Journal();
            return false;
        }
        const long long seq = m_admin.LastSeq();
        const auto before = OutlookState();
        RunPlan again;
        again.incremental = (m_stats.checks % 2) ? 1 : 0;
        RunSeen noop = Run(again);
        ++m_stats.noOpRuns;
        const auto writes = Writes(seq);
        if (!noop.complete || noop.Count(ACTION_NONE) != noop.actions.size() || !writes.empty() ||
            OutlookState() != before) {
            std::string text;
            for (const auto& w : writes) text += w + " ";
            ADD_FAILURE() << Where() << ": the run after the clean run changed something: " << noop.Describe()
                          << "; service writes: " << text << "; Outlook changed: " << (OutlookState() != before)
                          << "\njournal:\n"
                          << Journal();
            return false;
        }
        return true;
    }

    std::mt19937_64 m_rng;
    std::pair<Logical*, json> m_busyEdit{nullptr, json()};
    std::string m_journal;
    soak::Model m_model;
    Stats m_stats;
    unsigned long long m_seed = 0;
    long m_round = 0, m_every = 5;
    bool m_cancelRows = false, m_seriesOn = false, m_seriesServiceEdits = false;
    std::vector<int> m_seriesTags;
};

TEST_F(SyncSoak, RandomRoundsKeepBothStoresEqualWithoutDuplicatesOrLostEdits) {
    m_seed = static_cast<unsigned long long>(Option("seed", "HV_SOAK_SEED", 20261209));
    const long rounds = static_cast<long>(Option("rounds", "HV_SOAK_ROUNDS", 12));
    m_every = std::max(1L, static_cast<long>(Option("every", "HV_SOAK_EVERY", 4)));
    m_cancelRows = Option("cancel-rows", "HV_SOAK_CANCEL_ROWS", 0) != 0;
    // --series 1: series made and changed in Outlook; 2: their events changed on the service too.
    const long long series = Option("series", "HV_SOAK_SERIES", 0);
    m_seriesOn = series != 0;
    m_seriesServiceEdits = series >= 2;
    m_rng.seed(m_seed);
    const DWORD started = ::GetTickCount();
    bool ok = true;
    try {
        for (m_round = 1; ok && m_round <= rounds; ++m_round) {
            ++m_stats.rounds;
            // Each round draws from its own stream: a round replays the same edits and faults even
            // where the timing of an earlier round (a cancel, an edit while busy) came out differently.
            m_rng.seed(m_seed * 1000003ULL + static_cast<unsigned long long>(m_round));
            Edits();
            if (HasFatalFailure()) break;
            RunPlan plan = Faults();
            RunSeen seen = Run(plan);
            (void)seen;
            ClearFaults();
            if (m_round % m_every == 0 || m_round == rounds) {
                ok = Check();
                // A long run stopped from outside still leaves its figures so far.
                if (ok && m_round != rounds) {
                    std::printf("soak seed %llu: checked through round %ld; %s; %.1f s\n", m_seed, m_round,
                                m_stats.Describe().c_str(), (::GetTickCount() - started) / 1000.0);
                    std::fflush(stdout);
                }
            }
        }
    } catch (const std::exception& e) {
        ok = false;
        ADD_FAILURE() << Where() << ": the driver stopped: " << e.what() << "\njournal:\n" << Journal();
    }
    if (ok) --m_round;
    std::printf("soak seed %llu: %s; %s; %.1f s\n", m_seed, ok ? "passed" : "FAILED", m_stats.Describe().c_str(),
                (::GetTickCount() - started) / 1000.0);
}

}  // namespace
