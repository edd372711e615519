// The whole-run fixture: see SyncE2EFixture.h.
#include "e2e/SyncE2EFixture.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "outlook-sim/automation/UiAutomation.h"
#include "service/Protocol.h"
#include "service/TimeLogic.h"
#include "service/ServiceTestSupport.h"
#include "TestDelivery.h"
#include "TestLocale.h"
#include "win/Strings.h"

using hv::uiauto::Automation;
using nlohmann::json;

namespace e2e {

std::string Address() {
    const char* a = std::getenv("HV_SERVICE_ADDRESS");
    return a && *a ? std::string(a) : hvtest::Loopback(45);
}

std::string Str(const json& j) {
    if (j.is_string()) return j.get<std::string>();
    if (j.is_number_integer()) return std::to_string(j.get<long long>());
    if (j.is_boolean()) return j.get<bool>() ? "true" : "false";
    return j.is_null() ? std::string() : j.dump();
}

std::string DateFromToday(int days) {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER u{{ft.dwLowDateTime, ft.dwHighDateTime}};
    u.QuadPart += static_cast<long long>(days) * 86400LL * 10000000LL;
    ft = {u.LowPart, u.HighPart};
    SYSTEMTIME st;
    ::FileTimeToSystemTime(&ft, &st);
    return hv::Format("%04u-%02u-%02u", st.wYear, st.wMonth, st.wDay);
}

std::string RunResult::Describe() const {
    std::string text;
    for (size_t i = 0; i < actions.size(); ++i)
        text += hv::Format("[%s %s: %ld src %ld del %ld] ", titles[i].c_str(), starts[i].c_str(), actions[i],
                           sources[i], deleted[i]);
    return text;
}

void SyncE2E::SetUp() {
    static std::atomic<int> counter{0};
    m_user = hv::Format("user%d_%lu", ++counter, ::GetCurrentProcessId() % 100000);
    ASSERT_FALSE(ConnectTo(Address().c_str()).empty());
    m_admin.SetClockOffset(0);
    m_admin.Send("POST", "/admin/users",
                 json{{"username", m_user}, {"password", m_password}, {"full_name", "Test " + m_user}});
    CConfig config;
    config.SetSyncSize(0);  // details shown: the dialog stays open with "Close"
    // Every simulated Outlook numbers its EntryIDs from the same start: what an earlier test
    // left pending would name this test's items.
    for (const char* list : {"Pending Links", "Pending Creates"})
        ::RegDeleteTreeA(HKEY_CURRENT_USER, (config.GetKeyPath() + "\\" + list).c_str());
    // The user's regional settings (HV_TEST_LOCALE), kept for the whole program.
    static hvtest::RegionalSettings regional(hvtest::TestLocale());
    m_outlook = std::make_unique<hvsim::SimOutlook>();
    m_outlook->GetModel().locale = hvtest::TestLocale();
    // How Outlook delivers its item events (HV_TEST_DELIVERY), as the strict matrix varies it.
    ASSERT_TRUE(hvtest::ApplyDelivery(m_outlook->Delivery(), hvtest::TestDelivery())) << hvtest::TestDelivery();
    hv::unique_variant mapi = hv::unique_variant::FromString("MAPI");
    hv::unique_variant ns;
    ASSERT_HRESULT_SUCCEEDED(CDispatcher::CallMethod(m_outlook->Application(), L"GetNamespace", ns.put(), 1, &mapi));
    m_ns = ns.AsDispatch();
}

void SyncE2E::TearDown() {
    m_ns.reset();
    m_outlook.reset();
    m_admin.SetClockOffset(0);
    Disconnect();
}

RunResult SyncE2E::Sync(long incremental, Drive drive, const std::string& password, long kinds) {
    RunResult r;
    CDlgSynch dlg(TheAPI(), nullptr);
    dlg.m_credentials.m_strUser = m_user;
    dlg.m_credentials.m_strPassword = password.empty() ? m_password : password;
    dlg.m_pNameSpace = m_ns;
    dlg.m_fIncremental = incremental;
    dlg.m_nSyncKinds = kinds;
    ::ResetEvent(m_dialogFound.get());
    hv::uiauto::RunWhileDriving(
        [&] { r.result = dlg.Run(); },
        [&](Automation& a) {
            HWND h = a.WaitForDialog("Synchronizing with Halvane", 20000);
            ::SetEvent(m_dialogFound.get());
            r.listVisibleAtStart = Automation::IsVisible(h, IDC_SYNCH_LIST);
            r.detailsText = Automation::GetText(h, IDC_SYNCH_DETAILS);
            if (drive == Drive::Collapsed) {
                EXPECT_TRUE(a.WaitForClose(h, 60000));
                return;
            }
            if (drive == Drive::CancelEarly) {
                a.WaitUntil(
                    [&] {
                        auto rows = Automation::ListViewRows(h, IDC_SYNCH_LIST);
                        for (auto& row : rows)
                            if (!row.empty() && row[0] == "Task Updated") return true;
                        return false;
                    },
                    60000);
                Automation::Click(h, IDCANCEL);
                EXPECT_TRUE(a.WaitForClose(h, 20000));
                return;
            }
            // "Close" also shows while a run goes on past a failed row; the run is over when
            // the status says so, or when a stopped run has been quiet for a while.
            EXPECT_TRUE(a.WaitUntil([&] { return Automation::GetText(h, IDCANCEL) == "Close"; }, 90000));
            std::string last;
            DWORD quietSince = ::GetTickCount();
            a.WaitUntil(
                [&] {
                    const std::string now = Automation::GetText(h, IDC_SYNCH_STATUS);
                    if (now == "Synchronization is Complete") return true;
                    if (now != last) {
                        last = now;
                        quietSince = ::GetTickCount();
                    }
                    return ::GetTickCount() - quietSince > 1500;
                },
                90000);
            r.uiRows = Automation::ListViewRows(h, IDC_SYNCH_LIST);
            HWND list = ::GetDlgItem(h, IDC_SYNCH_LIST);
            for (size_t row = 0; row < r.uiRows.size(); ++row) {
                LVITEMW item = {};
                item.mask = LVIF_IMAGE;
                item.iItem = static_cast<int>(row);
                item.iImage = -1;
                ::SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
                r.uiImages.push_back(item.iImage);
            }
            if (!r.uiRows.empty()) {
                Automation::ListViewSelect(h, IDC_SYNCH_LIST, static_cast<int>(r.uiRows.size()) - 1);
                r.uiSelection = Automation::ListViewSelection(h, IDC_SYNCH_LIST);
                LVFINDINFOW find = {};
                find.flags = LVFI_STRING | LVFI_PARTIAL | LVFI_WRAP;
                find.psz = L"event";
                r.uiFoundEvent = static_cast<int>(
                    ::SendMessageW(list, LVM_FINDITEMW, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
            }
            r.status = Automation::GetText(h, IDC_SYNCH_STATUS);
            Automation::Click(h, IDCANCEL);
            EXPECT_TRUE(a.WaitForClose(h, 20000));
        },
        120000);
    for (CSyncItem* row : dlg.m_rows) {
        r.actions.push_back(row->m_nAction);
        r.titles.push_back(row->title);
        r.sources.push_back(row->m_nSource);
        r.deleted.push_back(row->m_fDeleted);
        r.starts.push_back(row->start_time);
    }
    return r;
}

json SyncE2E::CreateTask(json fields) {
    fields["as"] = m_user;
    return m_admin.Send("POST", "/admin/tasks", fields);
}

json SyncE2E::CreateEvent(json fields) {
    fields["as"] = m_user;
    return m_admin.Send("POST", "/admin/events", fields);
}

json SyncE2E::Update(const char* kind, const std::string& id, json fields) {
    fields["as"] = m_user;
    return m_admin.Send("PATCH", std::string("/admin/") + kind + "/" + id, fields);
}

std::string SyncE2E::RecordId(const std::shared_ptr<hvsim::ItemData>& item) {
    const hvsim::UserProperty* p = item->FindUserProp("HV Record ID");
    return p ? p->value.AsText() : std::string();
}

std::string SyncE2E::LastSync(const char* type) {
    CConfig config;
    std::string text;
    config.GetLastSync(type, text);
    return text;
}

namespace {
// "YYYY-MM-DDThh:mm:ss…" (UTC) as whole seconds; -1 when it is not such a text.
long long WireSeconds(const std::string& text) {
    SYSTEMTIME st = {};
    unsigned y, mo, d, h, mi, s;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u", &y, &mo, &d, &h, &mi, &s) != 6) return -1;
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    FILETIME ft;
    if (!::SystemTimeToFileTime(&st, &ft)) return -1;
    return static_cast<long long>((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) / 10000000);
}
}  // namespace

bool SyncE2E::WaitUntilDialogFound(DWORD timeoutMs) const {
    const ULONGLONG limit = ::GetTickCount64() + timeoutMs;
    HANDLE found = m_dialogFound.get();
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= limit) return false;
        const DWORD wait =
            ::MsgWaitForMultipleObjects(1, &found, FALSE, static_cast<DWORD>(limit - now), QS_SENDMESSAGE);
        if (wait == WAIT_OBJECT_0) return true;
        if (wait != WAIT_OBJECT_0 + 1) return false;
        MSG msg;
        ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // answers sent messages
    }
}

std::string SyncE2E::ServiceNow() const {
    return m_admin.Get("/admin/health").value("now", std::string());
}

void SyncE2E::WaitForServiceClockPast(const std::string& stamp, int seconds) const {
    const long long mark = WireSeconds(stamp);
    ASSERT_GE(mark, 0) << "not a time: " << stamp;
    const ULONGLONG limit = ::GetTickCount64() + 10000;
    long long now = -1;
    while ((now = WireSeconds(ServiceNow())) < mark + seconds) {
        ASSERT_LT(::GetTickCount64(), limit) << "the service's clock stands still at " << now;
        ::Sleep(20);  // the service's clock moves in whole seconds; poll it
    }
}

std::vector<std::string> SyncE2E::Writes(long long seq) const {
    std::vector<std::string> writes;
    for (const auto& m : m_admin.MethodsSince(seq))
        if (m != "GetMyTasks" && m != "GetMyEvents") writes.push_back(m);
    return writes;
}

DATE SyncE2E::Today() {
    return static_cast<DATE>(hvsim::DayNumber(hvsim::Model::CurrentTime()));
}

std::string SyncE2E::Wire(DATE local) {
    std::string text;
    CTimeLogic::ConvertToUTC(COleDate(local), text);
    return text.substr(0, 19);
}

void SyncE2E::AtOutlookTime(int seconds, const std::function<void()>& action) {
    const DATE at = hvsim::Model::CurrentTime() + seconds / 86400.0;
    m_outlook->SetClock([at] { return at; });
    action();
    m_outlook->SetClock(nullptr);
}

DATE SyncE2E::MoveMarksIntoNextMinute(const char* type, int second) {
    SYSTEMTIME st;
    ::GetSystemTime(&st);
    st.wSecond = 0;
    st.wMilliseconds = 0;
    FILETIME ft;
    EXPECT_TRUE(::SystemTimeToFileTime(&st, &ft));
    ULARGE_INTEGER t{};
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    t.QuadPart += static_cast<ULONGLONG>(60 + second) * 10000000ULL;
    ft.dwLowDateTime = t.LowPart;
    ft.dwHighDateTime = t.HighPart;
    SYSTEMTIME markUtc{}, markLocal{};
    EXPECT_TRUE(::FileTimeToSystemTime(&ft, &markUtc));
    EXPECT_TRUE(::SystemTimeToTzSpecificLocalTime(nullptr, &markUtc, &markLocal));
    const std::string markText = hv::Format("%d-%02d-%02dT%02d:%02d:%02dZ", markUtc.wYear, markUtc.wMonth, markUtc.wDay,
                                            markUtc.wHour, markUtc.wMinute, markUtc.wSecond);
    CConfig().SetKey(hv::Format("Last%sSync", type).c_str(), markText);
    CConfig().SetLastDownload(type, markText);
    return hvsim::MakeDate(markLocal.wYear, markLocal.wMonth, markLocal.wDay, markLocal.wHour, markLocal.wMinute,
                           markLocal.wSecond);
}

}  // namespace e2e
