// The Outlook Bar group "Halvane" of the registered HvOut.dll in the simulated Outlook: its
// shortcuts, their icons beside the DLL, the login link followed over HTTP to the reference
// service's pages, a group left behind by a crash, and the group's removal at shutdown.
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestAddress.h"
#include "common/Config.h"
#include "common/Registration.h"
#include "e2e/AdminClient.h"
#include "outlook-sim/src/SimAddInHost.h"
#include "outlook-sim/src/SimOutlook.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

using nlohmann::json;

namespace {

constexpr const char* kProgId = "Halvane.OutlookAddin";
constexpr const wchar_t* kAddinKey = L"Software\\Microsoft\\Office\\Outlook\\Addins\\Halvane.OutlookAddin";

std::string Address() {
    const char* a = std::getenv("HV_SERVICE_ADDRESS");
    return a && *a ? std::string(a) : hvtest::Loopback(48);
}

std::string Site() {
    return "http://" + Address();
}

// The built DLL, as Wine names the Linux path.
std::wstring DllPath() {
    std::wstring path = L"Z:" + hv::ToWide(std::string(HV_OUT_DLL));
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::string DllFolder() {
    std::string path = hv::ToAnsi(DllPath());
    return path.substr(0, path.rfind('\\') + 1);
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

struct close_inet {
    void operator()(HINTERNET h) const noexcept { ::InternetCloseHandle(h); }
};
using unique_inet = hv::unique_any<HINTERNET, close_inet>;

std::string QueryText(HINTERNET request, DWORD what, DWORD index = 0) {
    char buffer[4096];
    DWORD size = sizeof(buffer);
    if (!::HttpQueryInfoA(request, what, buffer, &size, &index)) return std::string();
    return std::string(buffer, size);
}

// What a browser sees when it opens a shortcut: every hop of the redirects, the page it lands
// on and the cookies the site set on the way.
struct Visit {
    std::vector<std::string> hops;  // "<status> <path>"
    int status = 0;
    std::string path;  // of the page it landed on
    std::string body;
    std::string error;
};

// Opens `url` on the test's site with WinINet and follows up to five redirects by hand, sending
// back the session cookie as a browser does (WinINet's own cookie store is kept out, so that
// nothing from an earlier run signs anybody in). A redirect that leaves the site ends the visit.
Visit Open(const std::string& url) {
    Visit visit;
    const std::string site = Site();
    if (url.compare(0, site.size(), site) != 0) {
        visit.error = "not on the site: " + url;
        return visit;
    }
    std::string path = url.substr(site.size());
    std::string cookie;
    unique_inet session(::InternetOpenA("hv-shortcuts-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    unique_inet connection(session ? ::InternetConnectA(session.get(), Address().c_str(), 80, nullptr, nullptr,
                                                        INTERNET_SERVICE_HTTP, 0, 0)
                                   : nullptr);
    if (!connection) {
        visit.error = "no connection";
        return visit;
    }
    for (int hop = 0; hop < 6; ++hop) {
        unique_inet request(::HttpOpenRequestA(connection.get(), "GET", path.c_str(), nullptr, nullptr, nullptr,
                                               INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                                   INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES |
                                                   INTERNET_FLAG_NO_UI,
                                               0));
        const std::string headers = cookie.empty() ? std::string() : "Cookie: " + cookie + "\r\n";
        if (!request || !::HttpSendRequestA(request.get(), headers.empty() ? nullptr : headers.c_str(),
                                            static_cast<DWORD>(headers.size()), nullptr, 0)) {
            visit.error = "request failed: " + std::to_string(::GetLastError());
            return visit;
        }
        DWORD status = 0, size = sizeof status;
        ::HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
        visit.hops.push_back(std::to_string(status) + " " + path);
        for (DWORD i = 0;; ++i) {
            std::string set = QueryText(request.get(), HTTP_QUERY_SET_COOKIE, i);
            if (set.empty()) break;
            set = set.substr(0, set.find(';'));
            if (set.compare(0, 10, "hvsession=") == 0) cookie = set;
        }
        if (status >= 300 && status < 400) {
            std::string location = QueryText(request.get(), HTTP_QUERY_LOCATION);
            if (location.compare(0, site.size() + 1, site + "/") == 0) location = location.substr(site.size());
            if (location.empty() || location[0] != '/' || (location.size() > 1 && location[1] == '/')) {
                visit.error = "redirected off the site: " + location;
                return visit;
            }
            path = location;
            continue;
        }
        visit.status = static_cast<int>(status);
        visit.path = path;
        char buffer[8192];
        DWORD read = 0;
        while (::InternetReadFile(request.get(), buffer, sizeof buffer, &read) && read > 0)
            visit.body.append(buffer, read);
        return visit;
    }
    visit.error = "too many redirects";
    return visit;
}

struct Shortcut {
    std::string name, target, icon;
};

// The UTF-8 form of an ANSI text (the service keeps names in UTF-8).
std::string Utf8(const std::string& ansi) {
    const std::wstring wide = hv::ToWide(ansi);
    std::string out(wide.size() * 3 + 1, '\0');
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), &out[0],
                                        static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

class OutlookBar : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        hvsim::WriteCurVer(14);
        ASSERT_EQ(0u, Regsvr32(false));
    }
    static void TearDownTestSuite() {
        Regsvr32(true);
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
            CRegistration::DeleteKeyTree(root, hv::ToAnsi(kAddinKey));
    }
    void SetUp() override {
        CConfig config;
        config.DeleteAllSettings();
        config.SetKey("Host", Address());
        config.SetKey("SSL", static_cast<DWORD>(0));
        config.SetKey("SiteURL", Site() + "/");
        m_outlook = std::make_unique<hvsim::SimOutlook>();
        m_outlook->SetVersion(14);
    }
    void TearDown() override {
        m_outlook.reset();
        CConfig().DeleteAllSettings();
    }

    // A user of the service with that (ANSI) name, stored as the add-in's credentials.
    void UseNewUser(const std::string& ansiName, const std::string& fullName) {
        m_admin.Send("POST", "/admin/users",
                     json{{"username", Utf8(ansiName)}, {"password", m_password}, {"full_name", fullName}});
        ASSERT_EQ(S_OK, CConfig().SetCredentials(ansiName, m_password));
    }
    std::vector<std::shared_ptr<hvsim::BarGroupData>>& Groups() { return m_outlook->GetModel().outlookBarGroups; }
    std::vector<std::string> GroupNames() {
        std::vector<std::string> names;
        for (const auto& g : Groups()) names.push_back(g->name);
        return names;
    }
    static std::shared_ptr<hvsim::BarGroupData> Group(const std::string& name,
                                                      std::vector<std::string> shortcutNames = {}) {
        auto g = std::make_shared<hvsim::BarGroupData>();
        g->name = name;
        for (const auto& s : shortcutNames)
            g->shortcuts.push_back(std::make_shared<hvsim::ShortcutData>(
                hvsim::ShortcutData{s, "http://old.example/loginauth?username=old&m=0&rurl=/", ""}));
        return g;
    }
    // The shortcuts of the one "Halvane" group, top to bottom.
    std::vector<Shortcut> HalvaneShortcuts() {
        std::vector<Shortcut> out;
        int groups = 0;
        for (const auto& g : Groups()) {
            if (g->name != "Halvane") continue;
            ++groups;
            for (const auto& s : g->shortcuts) out.push_back({s->name, s->target, s->icon});
        }
        EXPECT_EQ(1, groups);
        return out;
    }
    static std::vector<std::string> Names(const std::vector<Shortcut>& shortcuts) {
        std::vector<std::string> names;
        for (const auto& s : shortcuts) names.push_back(s.name);
        return names;
    }
    void Start() { ASSERT_EQ(1u, m_outlook->StartAddIns()); }
    void QuitWithoutLeaks() {
        m_outlook->Quit();
        EXPECT_EQ(0u, m_outlook->LeakedReferences()) << ::testing::PrintToString(m_outlook->LeakReport());
    }

    e2e::Admin m_admin{Address()};
    std::string m_password = "pw & more";
    std::unique_ptr<hvsim::SimOutlook> m_outlook;
};

const std::vector<std::string> kOrder = {"Dashboard", "My Tasks", "My Calendar"};

}  // namespace

TEST_F(OutlookBar, WithoutStoredCredentialsTheGroupLinksThePlainPagesWithTheIconsBesideTheDll) {
    Start();
    EXPECT_EQ((std::vector<std::string>{"Shortcuts", "My Shortcuts", "Halvane"}), GroupNames());
    EXPECT_EQ(2, Groups().back()->viewType);
    const auto shortcuts = HalvaneShortcuts();
    ASSERT_EQ(kOrder, Names(shortcuts));
    EXPECT_EQ(Site() + "/home/index", shortcuts[0].target);
    EXPECT_EQ(Site() + "/home/index?mytasks", shortcuts[1].target);
    EXPECT_EQ(Site() + "/home/index?mycalendar", shortcuts[2].target);
    const char* icons[] = {"Halvane.ico", "Task.ico", "Calendar.ico"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(DllFolder() + icons[i], shortcuts[i].icon);
        // A real icon file, as Outlook loads it.
        HICON icon =
            static_cast<HICON>(::LoadImageA(nullptr, shortcuts[i].icon.c_str(), IMAGE_ICON, 32, 32, LR_LOADFROMFILE));
        EXPECT_NE(nullptr, icon) << shortcuts[i].icon;
        if (icon) ::DestroyIcon(icon);
    }
    // Opened without a session, the site asks for a sign-in and comes back to the page.
    const Visit visit = Open(shortcuts[1].target);
    EXPECT_EQ("", visit.error);
    EXPECT_EQ(200, visit.status);
    EXPECT_EQ(0u, visit.path.rfind("/login?rurl=", 0)) << visit.path;
    EXPECT_NE(std::string::npos, visit.body.find("<h1>Sign in</h1>"));
    QuitWithoutLeaks();
}

TEST_F(OutlookBar, TheLoginLinkSignsInAUserNameWithAmpersandAndSpacesAndLandsOnEachPage) {
    static std::atomic<int> counter{0};
    const std::string user = hv::Format("Ann & Bob+Co #%d \xE9", ++counter);  // \xE9: e acute in code page 1252
    UseNewUser(user, "Ann Linked");
    Start();
    const auto shortcuts = HalvaneShortcuts();
    ASSERT_EQ(kOrder, Names(shortcuts));
    const std::string prefix =
        Site() + "/loginauth?username=Ann%20%26%20Bob%2BCo%20%23" + std::to_string(counter.load()) + "%20%C3%A9&m=";
    const char* rurls[] = {"/home/index", "/home/index?mytasks", "/home/index?mycalendar"};
    const char* encodedRurls[] = {"%2Fhome%2Findex", "%2Fhome%2Findex%3Fmytasks", "%2Fhome%2Findex%3Fmycalendar"};
    const char* titles[] = {"<h1>Dashboard</h1>", "<h1>My Tasks</h1>", "<h1>My Calendar</h1>"};
    std::string digest;
    {
        // The digest is the password's MD5 in lower-case hexadecimal.
        ASSERT_EQ(0, shortcuts[0].target.compare(0, prefix.size(), prefix)) << shortcuts[0].target;
        digest = shortcuts[0].target.substr(prefix.size(), 32);
        EXPECT_EQ(std::string::npos, digest.find_first_not_of("0123456789abcdef"));
    }
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(shortcuts[i].name);
        EXPECT_EQ(prefix + digest + "&rurl=" + encodedRurls[i], shortcuts[i].target);
        const Visit visit = Open(shortcuts[i].target);
        ASSERT_EQ("", visit.error);
        ASSERT_EQ(2u, visit.hops.size()) << ::testing::PrintToString(visit.hops);
        EXPECT_EQ(0u, visit.hops[0].rfind("302 /loginauth?", 0));
        EXPECT_EQ(200, visit.status);
        EXPECT_EQ(rurls[i], visit.path);
        EXPECT_NE(std::string::npos, visit.body.find(titles[i]));
        // Signed in as that user: the page's header names them.
        EXPECT_NE(std::string::npos, visit.body.find("<span>Ann Linked</span>"));
    }
    QuitWithoutLeaks();
}

TEST_F(OutlookBar, AGroupLeftByACrashIsRemovedAndRebuiltWithTheCurrentCredentials) {
    UseNewUser(hv::Format("crash%lu", ::GetCurrentProcessId() % 100000), "Carl Crash");
    Groups().insert(Groups().begin(), Group("Halvane", {"Dashboard", "Stale"}));
    Start();
    EXPECT_EQ((std::vector<std::string>{"Shortcuts", "My Shortcuts", "Halvane"}), GroupNames());
    const auto shortcuts = HalvaneShortcuts();
    ASSERT_EQ(kOrder, Names(shortcuts));
    for (const auto& s : shortcuts) EXPECT_EQ(0u, s.target.rfind(Site() + "/loginauth?username=crash", 0)) << s.target;
    const Visit visit = Open(shortcuts[0].target);
    EXPECT_EQ("/home/index", visit.path);
    EXPECT_NE(std::string::npos, visit.body.find("<span>Carl Crash</span>"));
    QuitWithoutLeaks();
}

TEST_F(OutlookBar, WithTwoGroupsOfThatNameOnlyTheFirstGoesPerCall) {
    Groups().insert(Groups().begin() + 1, Group("Halvane", {"First"}));
    Groups().push_back(Group("Halvane", {"Second", "My Tasks"}));
    Start();
    // The first went; the second is taken as the group and keeps what it has.
    EXPECT_EQ((std::vector<std::string>{"Shortcuts", "My Shortcuts", "Halvane"}), GroupNames());
    const auto shortcuts = HalvaneShortcuts();
    EXPECT_EQ((std::vector<std::string>{"Dashboard", "My Calendar", "Second", "My Tasks"}), Names(shortcuts));
    EXPECT_EQ("http://old.example/loginauth?username=old&m=0&rurl=/", shortcuts[3].target);
    // Shutdown removes the one that is left.
    QuitWithoutLeaks();
    EXPECT_EQ((std::vector<std::string>{"Shortcuts", "My Shortcuts"}), GroupNames());
}

TEST_F(OutlookBar, ShutdownRemovesTheGroupAndTheNextStartCarriesTheNewCredentials) {
    Start();
    EXPECT_EQ(Site() + "/home/index", HalvaneShortcuts().at(0).target);
    m_outlook->Quit();
    EXPECT_EQ(0u, m_outlook->LeakedReferences()) << ::testing::PrintToString(m_outlook->LeakReport());
    EXPECT_EQ((std::vector<std::string>{"Shortcuts", "My Shortcuts"}), GroupNames());
    EXPECT_EQ(5u, Groups()[0]->shortcuts.size());  // Outlook's own, untouched

    UseNewUser(hv::Format("later%lu", ::GetCurrentProcessId() % 100000), "Lou Later");
    m_outlook->Restart();
    const auto shortcuts = HalvaneShortcuts();
    ASSERT_EQ(kOrder, Names(shortcuts));
    EXPECT_EQ(0u, shortcuts[2].target.rfind(Site() + "/loginauth?username=later", 0)) << shortcuts[2].target;
    QuitWithoutLeaks();
    EXPECT_EQ((std::vector<std::string>{"Shortcuts", "My Shortcuts"}), GroupNames());
}

TEST_F(OutlookBar, CredentialsStoredWhileOutlookRunsRebuildTheGroupForTheNewUser) {
    Start();
    ASSERT_EQ(Site() + "/home/index", HalvaneShortcuts().at(0).target);
    const auto firstLink = [&] {
        for (const auto& g : Groups())
            if (g->name == "Halvane" && !g->shortcuts.empty()) return g->shortcuts.front()->target;
        return std::string();
    };
    // Stored as the options page's Apply or a login that keeps the new pair stores them; the
    // second change shows the watch goes on after the first.
    for (const char* who : {"swap", "again"}) {
        SCOPED_TRACE(who);
        const std::string user = hv::Format("%s %lu", who, ::GetCurrentProcessId() % 100000);
        UseNewUser(user, std::string("Sam ") + who);
        const std::string prefix = Site() + "/loginauth?username=" + who + "%20";
        ASSERT_TRUE(m_outlook->PumpEventsUntil([&] { return firstLink().rfind(prefix, 0) == 0; }, 5000)) << firstLink();
        const auto shortcuts = HalvaneShortcuts();
        ASSERT_EQ(kOrder, Names(shortcuts));
        const Visit visit = Open(shortcuts[1].target);
        EXPECT_EQ("/home/index?mytasks", visit.path);
        EXPECT_NE(std::string::npos, visit.body.find(std::string("<span>Sam ") + who + "</span>"));
    }
    QuitWithoutLeaks();
    EXPECT_EQ((std::vector<std::string>{"Shortcuts", "My Shortcuts"}), GroupNames());
}

TEST_F(OutlookBar, AnOutlookWithoutTheBarGetsNoGroupAndStartsAsUsual) {
    m_outlook->GetModel().outlookBar = false;
    Start();
    EXPECT_TRUE(m_outlook->Host().IsConnected(kProgId));
    EXPECT_EQ((std::vector<std::string>{"Shortcuts", "My Shortcuts"}), GroupNames());
    QuitWithoutLeaks();
}
