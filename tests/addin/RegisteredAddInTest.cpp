// HvOut.dll as Outlook meets it: registered with regsvr32 in the test prefix, found by the
// simulated Outlook through its Office add-in key, created by CoCreateInstance and driven
// through its whole lifecycle against the reference service.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestAddress.h"
#include "common/Config.h"
#include "common/Registration.h"
#include "e2e/AdminClient.h"
#include "outlook-sim/automation/UiAutomation.h"
#include "outlook-sim/src/SimAddInHost.h"
#include "outlook-sim/src/SimDispatch.h"
#include "outlook-sim/src/SimOutlook.h"
#include "win/ComTypes.h"
#include "win/Dispatcher.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

using hv::uiauto::Automation;
using nlohmann::json;

namespace {

constexpr const char* kProgId = "Halvane.OutlookAddin";
constexpr const wchar_t* kClsidKey = L"CLSID\\{C0CB5E26-9758-4bcc-8CF7-A7CE72100B7F}";
constexpr const wchar_t* kAddinKey = L"Software\\Microsoft\\Office\\Outlook\\Addins\\Halvane.OutlookAddin";
constexpr const wchar_t* kWordKey = L"Software\\Microsoft\\Office\\Word\\Addins\\Halvane.OutlookAddin";
constexpr const wchar_t* kTypeLibKey = L"TypeLib\\{A780B1D7-BF95-471B-8450-DAF81DF2E8F3}";
constexpr const wchar_t* kSettingsKey = L"Software\\Halvane\\Halvane for Outlook";
const IID kApplicationEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID kExplorerEvents = {0x0006304F, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

std::string Address() {
    const char* a = std::getenv("HV_SERVICE_ADDRESS");
    return a && *a ? std::string(a) : hvtest::Loopback(46);
}

// The built DLL, as Wine names the Linux path.
std::wstring DllPath() {
    std::wstring path = L"Z:" + hv::ToWide(std::string(HV_OUT_DLL));
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

DWORD Regsvr32(bool unregister) {
    std::wstring cmd = std::wstring(L"regsvr32.exe /s ") + (unregister ? L"/u " : L"") + L"\"" + DllPath() + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u;
    hv::unique_handle process(pi.hProcess), thread(pi.hThread);
    ::WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = ~0u;
    ::GetExitCodeProcess(pi.hProcess, &code);
    return code;
}

bool KeyExists(HKEY root, const std::wstring& path) {
    hv::unique_hkey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// Every value of a key as "name=type:text", sorted.
std::vector<std::string> Values(HKEY root, const std::wstring& path) {
    std::vector<std::string> out;
    hv::unique_hkey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return out;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLen = 256, type = 0, size = 0;
        BYTE data[1024];
        size = sizeof(data);
        if (::RegEnumValueW(key.get(), i, name, &nameLen, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        std::string text;
        if (type == REG_DWORD)
            text = "dword:" + std::to_string(*reinterpret_cast<DWORD*>(data));
        else if (type == REG_SZ)
            text = "sz:" + hv::ToAnsi(reinterpret_cast<wchar_t*>(data)) +
                   (size >= 2 && data[size - 2] == 0 && data[size - 1] == 0 ? "" : "<no terminator>");
        else
            text = "type" + std::to_string(type);
        out.push_back((nameLen ? hv::ToAnsi(name) : std::string("@")) + "=" + text);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void CreateKey(HKEY root, const std::wstring& path) {
    hv::unique_hkey key;
    ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
}

size_t Sinks(IDispatch* source, const IID& iid) {
    return source ? static_cast<hvsim::CSimObject*>(source)->SinkCount(iid) : 0;
}

HRESULT DllCanUnloadNowOfLoadedLibrary() {
    HMODULE module = ::GetModuleHandleW(L"HvOut.dll");
    if (!module) return S_OK;  // not even loaded
    FARPROC proc = ::GetProcAddress(module, "DllCanUnloadNow");
    HRESULT(STDAPICALLTYPE * fn)() = nullptr;
    memcpy(&fn, &proc, sizeof(fn));
    return fn ? fn() : E_FAIL;
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override { CleanAll(); }
    void TearDown() override { CleanAll(); }
    static void CleanAll() {
        Regsvr32(true);
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            CRegistration::DeleteKeyTree(root, hv::ToAnsi(kAddinKey));
            CRegistration::DeleteKeyTree(root, hv::ToAnsi(kWordKey));
        }
        hvsim::WriteCurVer(11);
    }
};

}  // namespace

// ---- registration ---------------------------------------------------------------------------

TEST_F(Registration, Outlook11WritesTheClassProgIdAppIdTypeLibAndTheAddInKeyUnderTheUser) {
    hvsim::WriteCurVer(11);
    ASSERT_EQ(0u, Regsvr32(false));
    const std::string path = hv::ToAnsi(DllPath());
    EXPECT_EQ((std::vector<std::string>{"@=sz:Halvane Add-in for Outlook"}), Values(HKEY_CLASSES_ROOT, kClsidKey));
    // No threading model: the class lives on Outlook's user-interface thread.
    EXPECT_EQ((std::vector<std::string>{"@=sz:" + path}),
              Values(HKEY_CLASSES_ROOT, std::wstring(kClsidKey) + L"\\InprocServer32"));
    EXPECT_EQ((std::vector<std::string>{"@=sz:Halvane.OutlookAddin"}),
              Values(HKEY_CLASSES_ROOT, std::wstring(kClsidKey) + L"\\ProgID"));
    EXPECT_EQ((std::vector<std::string>{"@=sz:Halvane Add-in for Outlook"}),
              Values(HKEY_CLASSES_ROOT, L"Halvane.OutlookAddin"));
    EXPECT_EQ((std::vector<std::string>{"@=sz:{C0CB5E26-9758-4bcc-8CF7-A7CE72100B7F}"}),
              Values(HKEY_CLASSES_ROOT, L"Halvane.OutlookAddin\\CLSID"));
    EXPECT_EQ((std::vector<std::string>{"@=sz:HvOut"}),
              Values(HKEY_CLASSES_ROOT, L"AppID\\{0880FD8A-BBC0-4CA2-8BCF-6B096DDD371D}"));
    EXPECT_EQ((std::vector<std::string>{"AppID=sz:{0880FD8A-BBC0-4CA2-8BCF-6B096DDD371D}"}),
              Values(HKEY_CLASSES_ROOT, L"AppID\\HvOut.DLL"));
    EXPECT_EQ((std::vector<std::string>{"@=sz:HvOut 1.0 Type Library"}),
              Values(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0\\409\\win64"));
    EXPECT_EQ((std::vector<std::string>{"CommandLineSafe=dword:0", "Description=sz:Halvane Add-in for Outlook",
                                        "FriendlyName=sz:Halvane Add-in for Outlook", "LoadBehavior=dword:3"}),
              Values(HKEY_CURRENT_USER, kAddinKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kAddinKey));
}

TEST_F(Registration, Outlook14PutsTheAddInKeyUnderTheMachine) {
    hvsim::WriteCurVer(14);
    ASSERT_EQ(0u, Regsvr32(false));
    EXPECT_EQ(4u, Values(HKEY_LOCAL_MACHINE, kAddinKey).size());
    EXPECT_EQ(3, hvsim::ReadLoadBehavior(kProgId));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kAddinKey));
}

TEST_F(Registration, UnregistrationRemovesEveryKeyOfBothHivesAndTheSettingsButNotAppIdOrClsid) {
    ASSERT_EQ(0u, Regsvr32(false));
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        CreateKey(root, std::wstring(kAddinKey) + L"\\Extra");
        CreateKey(root, kWordKey);
    }
    CConfig config;
    config.SetSyncQuantum(5);
    ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));

    ASSERT_EQ(0u, Regsvr32(true));
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        EXPECT_FALSE(KeyExists(root, kAddinKey));
        EXPECT_FALSE(KeyExists(root, kWordKey));
    }
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClsidKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"Halvane.OutlookAddin"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"AppID\\{0880FD8A-BBC0-4CA2-8BCF-6B096DDD371D}"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"AppID\\HvOut.DLL"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"AppID"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    // Unregistering what is not registered is no error.
    EXPECT_EQ(0u, Regsvr32(true));
}

// ---- lifecycle in the simulated Outlook -----------------------------------------------------

namespace {

class Lifecycle : public Registration {
protected:
    void SetUp() override {
        Registration::SetUp();
        static std::atomic<int> counter{0};
        m_user = hv::Format("addin%d_%lu", ++counter, ::GetCurrentProcessId() % 100000);
        m_admin.Send("POST", "/admin/users",
                     json{{"username", m_user}, {"password", m_password}, {"full_name", "Ann Addin"}});
        CConfig config;
        config.DeleteAllSettings();
        config.SetKey("Host", Address());
        config.SetKey("SSL", static_cast<DWORD>(0));
        ASSERT_EQ(S_OK, config.SetCredentials(m_user, m_password));
    }
    void TearDown() override {
        m_outlook.reset();
        CConfig().DeleteAllSettings();
        Registration::TearDown();
    }
    // Registers the DLL for that Outlook version and opens Outlook on a fresh store.
    void Install(int version) {
        hvsim::WriteCurVer(version);
        ASSERT_EQ(0u, Regsvr32(false));
        m_outlook = std::make_unique<hvsim::SimOutlook>();
        m_outlook->SetVersion(version);
        m_outlook->Seed(hvsim::olFolderTasks, {{"Subject", "Outlook task for " + m_user}});
    }
    // Runs `action`; the synchronisation dialog it opens is watched until it closes by itself.
    void WithSyncDialog(const std::function<void()>& action) {
        hv::uiauto::RunWhileDriving(
            action,
            [](Automation& a) {
                HWND dialog = a.WaitForDialog("Synchronizing with Halvane", 30000);
                EXPECT_TRUE(a.WaitForClose(dialog, 90000));
            },
            120000);
    }
    std::vector<std::string> ServiceTitles() const {
        std::vector<std::string> titles;
        for (const auto& t : m_admin.Tasks(m_user)) titles.push_back(t.value("title", ""));
        return titles;
    }
    void QuitWithoutLeaks() {
        m_outlook->Quit();
        EXPECT_EQ(0u, m_outlook->LeakedReferences()) << ::testing::PrintToString(m_outlook->LeakReport());
        EXPECT_EQ(S_OK, DllCanUnloadNowOfLoadedLibrary());
    }

    std::string m_user;
    std::string m_password = "pw-addin";
    e2e::Admin m_admin{Address()};
    std::unique_ptr<hvsim::SimOutlook> m_outlook;
};

}  // namespace

TEST_F(Lifecycle, Outlook14LoadsFromTheRegistryServesTheRibbonAndSynchronisesAtStartup) {
    m_admin.Send("POST", "/admin/tasks", json{{"as", m_user}, {"title", "Service task for " + m_user}});
    CConfig().SetSyncAtStartup(1);
    Install(14);
    const long long seq = m_admin.LastSeq();
    WithSyncDialog([&] { EXPECT_EQ(1u, m_outlook->StartAddIns()); });
    EXPECT_TRUE(m_outlook->Host().IsConnected(kProgId));
    EXPECT_TRUE(m_outlook->Host().Messages().empty()) << ::testing::PrintToString(m_outlook->Host().Messages());

    // The silent login came first, then the downloads of the run.
    const auto methods = m_admin.MethodsSince(seq);
    ASSERT_FALSE(methods.empty());
    EXPECT_EQ("CheckPluginVersion", methods.front());
    EXPECT_NE(methods.end(), std::find(methods.begin(), methods.end(), "GetMyTasks"));
    // Both sides hold both tasks now.
    EXPECT_NE(nullptr, m_outlook->FindBySubject(hvsim::olFolderTasks, "Service task for " + m_user));
    const auto titles = ServiceTitles();
    EXPECT_NE(titles.end(), std::find(titles.begin(), titles.end(), "Outlook task for " + m_user));
    std::string mark;
    EXPECT_EQ(S_OK, CConfig().GetLastSync("Task", mark));

    // Ribbon only: the explorer's four buttons with the 32x32 image, no explorer sink.
    const auto controls = m_outlook->Host().RibbonControls("Microsoft.Outlook.Explorer");
    ASSERT_EQ(4u, controls.size());
    for (const auto& c : controls) {
        EXPECT_TRUE(c.imageOk) << c.id;
        EXPECT_EQ(32, c.imageWidth);
        EXPECT_EQ(32, c.imageHeight);
    }
    EXPECT_EQ(1, m_outlook->Host().CustomUICalls("Microsoft.Outlook.Explorer"));
    {
        hv::unique_variant explorer;
        ASSERT_EQ(S_OK, CDispatcher::GetProperty(m_outlook->Application(), L"ActiveExplorer", explorer.put()));
        EXPECT_EQ(0u, Sinks(explorer.AsDispatch(), kExplorerEvents));
    }
    // A click on a ribbon button reaches the add-in's callback.
    std::string error;
    EXPECT_TRUE(m_outlook->ClickRibbon("hvSyncTasks", nullptr, &error)) << error;
    QuitWithoutLeaks();
}

TEST_F(Lifecycle, Outlook11SinksTheExplorerAndNewMailRunsATimedSynchronisationWhenDue) {
    Install(11);
    const long long seq = m_admin.LastSeq();
    EXPECT_EQ(1u, m_outlook->StartAddIns());  // "SyncAtStartup" 0: login only
    EXPECT_EQ((std::vector<std::string>{"CheckPluginVersion"}), m_admin.MethodsSince(seq));
    IDispatch* app = m_outlook->Application();
    EXPECT_EQ(1u, Sinks(app, kApplicationEvents));
    {
        hv::unique_variant explorer;
        ASSERT_EQ(S_OK, CDispatcher::GetProperty(app, L"ActiveExplorer", explorer.put()));
        EXPECT_EQ(1u, Sinks(explorer.AsDispatch(), kExplorerEvents));
    }
    EXPECT_EQ(0, m_outlook->Host().CustomUICalls("Microsoft.Outlook.Explorer"));

    // Not due (a fresh mark): mail comes and goes without a synchronisation.
    CConfig config;
    config.SetSyncQuantum(1);
    config.SetKey("LastTaskSync", CConfig::NowStamp());
    config.SetKey("LastEventSync", CConfig::NowStamp());
    long long before = m_admin.LastSeq();
    m_outlook->ReceiveMail({{"Subject", "hello"}});
    EXPECT_TRUE(m_admin.MethodsSince(before).empty());
    // Due: a mark older than "SyncQuantum" minutes.
    config.SetKey("LastTaskSync", "2001-01-01T00:00:00Z");
    WithSyncDialog([&] { m_outlook->ReceiveMail({{"Subject", "hello again"}}); });
    const auto titles = ServiceTitles();
    EXPECT_NE(titles.end(), std::find(titles.begin(), titles.end(), "Outlook task for " + m_user));
    // "SyncQuantum" 0: never.
    config.SetSyncQuantum(0);
    config.SetKey("LastTaskSync", "2001-01-01T00:00:00Z");
    before = m_admin.LastSeq();
    m_outlook->ReceiveMail({{"Subject", "third"}});
    EXPECT_TRUE(m_admin.MethodsSince(before).empty());
    QuitWithoutLeaks();
}

TEST_F(Lifecycle, AnOfflineStartupLogsInToNothingAndRunsNothing) {
    CConfig().SetSyncAtStartup(1);
    Install(14);
    m_outlook->SetOffline(true);
    const long long seq = m_admin.LastSeq();
    EXPECT_EQ(1u, m_outlook->StartAddIns());
    EXPECT_TRUE(m_admin.MethodsSince(seq).empty());
    EXPECT_EQ(nullptr, Automation::FindTopLevel("Synchronizing with Halvane"));
    QuitWithoutLeaks();
}

TEST_F(Lifecycle, AUserUnloadShutsTheAddInDownAndALateLoadConnectsItAgain) {
    Install(14);
    EXPECT_EQ(1u, m_outlook->StartAddIns());
    IDispatch* app = m_outlook->Application();
    EXPECT_EQ(1u, Sinks(app, kApplicationEvents));
    ASSERT_TRUE(m_outlook->Host().Connect(kProgId, false));
    EXPECT_FALSE(m_outlook->Host().IsConnected(kProgId));
    EXPECT_EQ(0u, Sinks(app, kApplicationEvents));
    EXPECT_EQ(S_OK, DllCanUnloadNowOfLoadedLibrary());
    // Loaded again while Outlook runs: the start-up steps run inside OnConnection.
    ASSERT_TRUE(m_outlook->Host().Connect(kProgId, true));
    EXPECT_EQ(1u, Sinks(app, kApplicationEvents));
    QuitWithoutLeaks();
}
