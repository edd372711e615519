// The simulator as an add-in host: the tests' own add-in (HvSimTestAddIn.dll, registered in
// the prefix) is loaded through Outlook's registration and records what the host calls.
#include <windows.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "SimTestUtil.h"
#include "TestAddIn/TestAddIn.h"
#include "outlook-sim/src/SimAddInHost.h"
#include "outlook-sim/src/SimDispatch.h"
#include "outlook-sim/src/SimOptions.h"
#include "outlook-sim/src/SimOutlook.h"
#include "outlook-sim/src/SimScript.h"
#include "win/UniqueAny.h"

using namespace simtest;
using hv::unique_variant;
using hvsim::SimOutlook;

namespace {

const char kAddIn[] = "HvSimTest.AddIn";

std::wstring TestDllPath() {
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path = exe;
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"HvSimTestAddIn.dll";
}

void SetSetting(const wchar_t* name, DWORD value) {
    hv::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, hvsimtest::kTestKey, 0, nullptr, 0, KEY_SET_VALUE,
                                               nullptr, key.put(), nullptr));
    ::RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void SetTextSetting(const wchar_t* name, const std::wstring& value) {
    hv::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, hvsimtest::kTestKey, 0, nullptr, 0, KEY_SET_VALUE,
                                               nullptr, key.put(), nullptr));
    ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::string ReadText(HKEY root, const wchar_t* path, const wchar_t* name) {
    wchar_t buffer[4096] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (::RegGetValueW(root, path, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) return std::string();
    return hvsim::Utf8(buffer);
}

// The calls the add-in recorded, one per line.
std::vector<std::string> Calls() {
    std::vector<std::string> out;
    std::istringstream in(ReadText(HKEY_CURRENT_USER, hvsimtest::kTestKey, L"Calls"));
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) out.push_back(line);
    return out;
}

bool Contains(const std::vector<std::string>& v, const std::string& s) {
    for (const auto& x : v)
        if (x == s) return true;
    return false;
}

bool AnyStartsWith(const std::vector<std::string>& v, const std::string& prefix) {
    for (const auto& x : v)
        if (x.rfind(prefix, 0) == 0) return true;
    return false;
}

class SimHost : public ::testing::Test {
protected:
    void SetUp() override {
        m_dll.reset(::LoadLibraryW(TestDllPath().c_str()));
        ASSERT_TRUE(m_dll) << "HvSimTestAddIn.dll next to the test";
        auto reg = reinterpret_cast<HRESULT(WINAPI*)()>(
            reinterpret_cast<void*>(::GetProcAddress(m_dll.get(), "DllRegisterServer")));
        ASSERT_TRUE(reg);
        ASSERT_EQ(S_OK, reg());
        ::RegDeleteTreeW(HKEY_CURRENT_USER, hvsimtest::kTestKey);
        Clean();
        ASSERT_TRUE(hvsim::RegisterOutlookAddIn(kAddIn, 3, false, "Sim Test Add-in"));
    }
    void TearDown() override {
        Clean();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, hvsimtest::kTestKey);
    }
    static void Clean() {
        for (bool machine : {false, true}) {
            hvsim::UnregisterOutlookAddIn(kAddIn, machine);
            hvsim::UnregisterOutlookAddIn("HvSimTest.Missing", machine);
        }
    }
    hv::unique_hmodule m_dll;
};

TEST_F(SimHost, LoadsAtStartupAndExitsInOutlooksOrder) {
    std::vector<std::string> expected = {"Created",
                                         "OnConnection(1,Outlook,HvSimTest.AddIn,custom)",
                                         "QueryInterface(IRibbonExtensibility)",
                                         "GetCustomUI(Microsoft.Outlook.Explorer)",
                                         "getImage(hvsimButton,sim-tag,34)",
                                         "OnAddInsUpdate",
                                         "OnStartupComplete",
                                         "Startup",
                                         "Quit",
                                         "OnBeginShutdown",
                                         "OnDisconnection(0)",
                                         "Destroyed"};
    {
        SimOutlook outlook;
        EXPECT_EQ(1u, outlook.StartAddIns());
        EXPECT_TRUE(outlook.Host().IsConnected(kAddIn));
        for (const auto& m : outlook.Host().Messages()) ADD_FAILURE() << "unexpected message: " << m;
        auto addins = GetObj(outlook.Application(), L"COMAddIns");
        auto item = CallObj(addins.get(), L"Item", {unique_variant::FromString(kAddIn)});
        ASSERT_TRUE(item);
        EXPECT_TRUE(Get(item.get(), L"Connect").boolVal != VARIANT_FALSE);
        item.reset();
        addins.reset();
        outlook.Quit();
        EXPECT_TRUE(outlook.LeakReport().empty()) << outlook.LeakReport().front();
        EXPECT_EQ(0, outlook.LeakedReferences());
    }
    EXPECT_EQ(expected, Calls());
}

TEST_F(SimHost, MachineRegistrationLoadsToo) {
    hvsim::UnregisterOutlookAddIn(kAddIn);
    if (!hvsim::RegisterOutlookAddIn(kAddIn, 3, true)) GTEST_SKIP() << "HKLM is not writable here";
    SimOutlook outlook;
    EXPECT_EQ(1u, outlook.StartAddIns());
    ASSERT_TRUE(outlook.Host().State(kAddIn));
    EXPECT_EQ("HKLM", outlook.Host().State(kAddIn)->hive);
}

TEST_F(SimHost, LoadBehaviorTwoWaitsForALateConnect) {
    ASSERT_TRUE(hvsim::RegisterOutlookAddIn(kAddIn, 2));
    SimOutlook outlook;
    EXPECT_EQ(0u, outlook.StartAddIns());
    EXPECT_FALSE(Contains(Calls(), "Created"));
    {
        auto addins = GetObj(outlook.Application(), L"COMAddIns");
        auto item = CallObj(addins.get(), L"Item", {unique_variant::FromString(kAddIn)});
        ASSERT_TRUE(item);
        EXPECT_EQ(S_OK, Put(item.get(), L"Connect", unique_variant::FromBool(true)));
        std::vector<std::string> late = {"Created", "OnConnection(0,Outlook,HvSimTest.AddIn,custom)",
                                         "QueryInterface(IRibbonExtensibility)",
                                         "GetCustomUI(Microsoft.Outlook.Explorer)", "getImage(hvsimButton,sim-tag,34)"};
        EXPECT_EQ(late, Calls());
        // A user unload: OnDisconnection(ext_dm_UserClosed) without OnBeginShutdown.
        EXPECT_EQ(S_OK, Put(item.get(), L"Connect", unique_variant::FromBool(false)));
    }
    auto calls = Calls();
    EXPECT_FALSE(Contains(calls, "OnBeginShutdown"));
    EXPECT_FALSE(Contains(calls, "OnStartupComplete"));
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ("OnDisconnection(1)", calls[calls.size() - 2]);
    EXPECT_EQ("Destroyed", calls.back());
    EXPECT_FALSE(outlook.Host().IsConnected(kAddIn));
}

TEST_F(SimHost, FailedLoadResetsLoadBehaviorToTwo) {
    SetSetting(L"FailConnect", 1);
    ASSERT_TRUE(hvsim::RegisterOutlookAddIn("HvSimTest.Missing", 3));
    SimOutlook outlook;
    EXPECT_EQ(0u, outlook.StartAddIns());
    EXPECT_EQ(2, hvsim::ReadLoadBehavior(kAddIn));
    EXPECT_EQ(2, hvsim::ReadLoadBehavior("HvSimTest.Missing"));
    EXPECT_TRUE(AnyStartsWith(outlook.Host().Messages(),
                              "Not loaded. A runtime error occurred during the loading of the COM Add-in."));
    auto calls = Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ("Destroyed", calls.back());
    EXPECT_FALSE(Contains(calls, "OnStartupComplete"));
}

TEST_F(SimHost, ReferencesStillHeldAtExitAreReported) {
    SetSetting(L"Leak", 1);
    SimOutlook outlook;
    EXPECT_EQ(1u, outlook.StartAddIns());
    outlook.Quit();
    ASSERT_EQ(1u, outlook.LeakReport().size());
    EXPECT_EQ("Application: 1 reference(s)", outlook.LeakReport()[0]);
    EXPECT_EQ(1, outlook.LeakedReferences());
}

TEST_F(SimHost, CurVerAndVersionFollowTheProfile) {
    for (int major : {11, 12, 14, 16}) {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, hvsimtest::kTestKey);
        SimOutlook outlook;
        outlook.SetVersion(major);
        outlook.StartAddIns();
        EXPECT_EQ("Outlook.Application." + std::to_string(major),
                  ReadText(HKEY_CLASSES_ROOT, L"Outlook.Application\\CurVer", nullptr));
        unique_variant version = Get(outlook.Application(), L"Version");
        EXPECT_EQ(std::to_string(major) + ".",
                  hvsim::Utf8(version.bstrVal).substr(0, std::to_string(major).size() + 1));
        auto calls = Calls();
        // No ribbon before Office 2007; the explorer ribbon from Outlook 2010 on.
        EXPECT_EQ(major >= 12, Contains(calls, "QueryInterface(IRibbonExtensibility)")) << major;
        EXPECT_EQ(major >= 14, Contains(calls, "GetCustomUI(Microsoft.Outlook.Explorer)")) << major;
    }
}

TEST_F(SimHost, InspectorRibbonIsAskedOncePerInspectorType) {
    SimOutlook outlook;
    outlook.SetVersion(12);
    outlook.StartAddIns();
    auto a = outlook.Seed(hvsim::olFolderTasks, {{"Subject", "One"}});
    auto b = outlook.Seed(hvsim::olFolderTasks, {{"Subject", "Two"}});
    outlook.OpenInspector(a);
    outlook.OpenInspector(b);
    EXPECT_EQ(1, outlook.Host().CustomUICalls("Microsoft.Outlook.Task"));
    EXPECT_EQ(0, outlook.Host().CustomUICalls("Microsoft.Outlook.Explorer"));
    std::string error;
    EXPECT_TRUE(outlook.ClickRibbon("hvsimButton", b, &error)) << error;
    EXPECT_TRUE(Contains(Calls(), "onAction(hvsimButton,sim-tag,35)"));
    auto controls = outlook.Host().RibbonControls("Microsoft.Outlook.Task");
    ASSERT_EQ(1u, controls.size());
    EXPECT_TRUE(controls[0].imageOk);
    EXPECT_EQ(16, controls[0].imageWidth);
    EXPECT_EQ("TabMail", controls[0].tabIdMso);
    outlook.CloseInspector(a);
    outlook.CloseInspector(b);
}

TEST_F(SimHost, RibbonClickInTheExplorerCallsOnActionWithTheControl) {
    SimOutlook outlook;
    outlook.StartAddIns();
    std::string error;
    EXPECT_TRUE(outlook.ClickRibbon("hvsimButton", nullptr, &error)) << error;
    EXPECT_TRUE(Contains(Calls(), "onAction(hvsimButton,sim-tag,34)"));
    EXPECT_FALSE(outlook.ClickRibbon("noSuchButton", nullptr, &error));
    EXPECT_NE(std::string::npos, error.find("noSuchButton"));
}

TEST_F(SimHost, BadRibbonMarkupIsReportedAndItsButtonsDoNotAppear) {
    const std::wstring bad[] = {
        L"<customUI xmlns=\"http://schemas.microsoft.com/office/2006/01/customui\"><ribbon>",
        L"<customUI xmlns=\"http://example.com/other\"><ribbon/></customUI>",
        L"<customUI xmlns=\"http://schemas.microsoft.com/office/2006/01/customui\"><ribbon><tabs><tab "
        L"idMso=\"TabMail\">"
        L"<group id=\"g\"><button id=\"x\" onAction=\"OnTestButton\"/><button id=\"x\" onAction=\"OnTestButton\"/>"
        L"</group></tab></tabs></ribbon></customUI>"};
    for (const auto& markup : bad) {
        SetTextSetting(L"RibbonXml", markup);
        SimOutlook outlook;
        outlook.StartAddIns();
        EXPECT_TRUE(AnyStartsWith(outlook.Host().Messages(), "Error found in Custom UI XML of \"Sim Test Add-in\""))
            << hvsim::Utf8(markup.c_str());
        EXPECT_TRUE(outlook.Host().RibbonControls().empty());
        EXPECT_FALSE(outlook.ClickRibbon("x"));
    }
}

TEST_F(SimHost, GetImageMustAnswerAPicture) {
    SetTextSetting(L"RibbonXml",
                   L"<customUI xmlns=\"http://schemas.microsoft.com/office/2009/07/customui\"><ribbon><tabs><tab "
                   L"idMso=\"TabMail\">"
                   L"<group id=\"g\"><button id=\"b\" getImage=\"GetNotAPicture\" onAction=\"OnTestButton\"/>"
                   L"</group></tab></tabs></ribbon></customUI>");
    SimOutlook outlook;
    outlook.StartAddIns();
    EXPECT_TRUE(AnyStartsWith(outlook.Host().Messages(), "getImage of \"b\""));
    auto controls = outlook.Host().RibbonControls();
    ASSERT_EQ(1u, controls.size());
    EXPECT_FALSE(controls[0].imageOk);
}

TEST_F(SimHost, ScriptStartsRibbonClicksRestartsAndQuits) {
    SimOutlook outlook;
    std::ostringstream log;
    hvsim::ScriptHost host(outlook, log);
    host.RunText("start\nribbon hvsimButton\nrestart\naddins\nquit\n");
    EXPECT_NE(std::string::npos, log.str().find("add-ins connected: 1")) << log.str();
    EXPECT_NE(std::string::npos, log.str().find("leaks: none")) << log.str();
    EXPECT_NE(std::string::npos, log.str().find("HvSimTest.AddIn HKCU LoadBehavior=3 connected")) << log.str();
    auto calls = Calls();
    int connections = 0;
    for (const auto& c : calls) connections += c == "OnConnection(1,Outlook,HvSimTest.AddIn,custom)";
    EXPECT_EQ(2, connections);
    EXPECT_TRUE(Contains(calls, "onAction(hvsimButton,sim-tag,34)"));
    EXPECT_EQ("Destroyed", calls.back());
}

}  // namespace

namespace {

TEST_F(SimHost, OptionsPageIsHostedSitedAndApplied) {
    SetSetting(L"Pages", 1);
    SimOutlook outlook;
    outlook.StartAddIns();
    auto& options = outlook.Options();
    HWND dialog = options.Open();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(options.Errors().empty()) << options.Errors().front();
    EXPECT_EQ((std::vector<std::string>{"Preferences", "Test Page"}), options.TabCaptions());
    EXPECT_TRUE(options.SelectTab("Test Page"));
    HWND page = options.PageWindow("Test Page");
    ASSERT_TRUE(page);
    EXPECT_EQ(dialog, ::GetParent(page));
    EXPECT_FALSE(options.ApplyEnabled());

    // Typing marks the page dirty; its OnStatusChange enables Apply.
    ::SetDlgItemTextW(page, hvsimtest::kPageEditId, L"hello");
    EXPECT_TRUE(options.ApplyEnabled());
    EXPECT_EQ(1, options.StatusChanges());
    HWND apply = ::GetDlgItem(dialog, hvsim::kOptionsApplyId);
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(hvsim::kOptionsApplyId, BN_CLICKED), reinterpret_cast<LPARAM>(apply));
    EXPECT_EQ("hello", ReadText(HKEY_CURRENT_USER, hvsimtest::kTestKey, L"Applied"));
    EXPECT_FALSE(options.ApplyEnabled());

    ::SetDlgItemTextW(page, hvsimtest::kPageEditId, L"world");
    options.Ok();
    EXPECT_FALSE(options.IsOpen());
    EXPECT_EQ("world", ReadText(HKEY_CURRENT_USER, hvsimtest::kTestKey, L"Applied"));

    auto calls = Calls();
    std::vector<std::string> pageCalls;
    bool from = false;
    for (const auto& c : calls) {
        from = from || c == "OptionsPagesAdd";
        if (from && c != "Dirty=false") pageCalls.push_back(c);
    }
    std::vector<std::string> expected = {"OptionsPagesAdd",
                                         "PropertyPages.Add",
                                         "Page created",
                                         "SetClientSite(PropertyPageSite by QueryInterface)",
                                         "DoVerb(in place)",
                                         "OnStatusChange",
                                         "Dirty=true",
                                         "Apply",
                                         "OnStatusChange",
                                         "Dirty=true",
                                         "Apply",
                                         "InPlaceDeactivate",
                                         "Close",
                                         "SetClientSite(null)",
                                         "Page destroyed"};
    EXPECT_EQ(expected, pageCalls);
    outlook.Quit();
    EXPECT_TRUE(outlook.LeakReport().empty()) << outlook.LeakReport().front();
}

TEST_F(SimHost, OptionsFromAScriptAndPagesThatCannotLoad) {
    SetSetting(L"Pages", 1);
    SimOutlook outlook;
    std::ostringstream log;
    hvsim::ScriptHost host(outlook, log);
    host.RunText(
        "start\noptions open\noptions select \"Test Page\"\noptions set \"Test Page\" 101 typed\noptions ok\n");
    EXPECT_EQ("typed", ReadText(HKEY_CURRENT_USER, hvsimtest::kTestKey, L"Applied")) << log.str();
    EXPECT_THROW(host.RunLine("options apply"), hvsim::ScriptError);  // closed by OK

    // A page whose ProgID is not registered is reported, and the dialog still opens.
    struct AddingSink : RecordingSink {
        AddingSink() : RecordingSink({0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}) {}
        STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override {
            if (id == 0xF005 && p && p->cArgs == 1 && p->rgvarg[0].vt == VT_DISPATCH)
                Call(p->rgvarg[0].pdispVal, L"Add",
                     {unique_variant::FromString("HvSimTest.NoSuchPage"), unique_variant::FromString("Broken")});
            return S_OK;
        }
    } sink;
    DWORD cookie = sink.Connect(outlook.Application());
    ASSERT_TRUE(outlook.Options().Open());
    EXPECT_EQ((std::vector<std::string>{"Preferences", "Test Page", "Broken"}), outlook.Options().TabCaptions());
    ASSERT_EQ(1u, outlook.Options().Errors().size());
    EXPECT_NE(std::string::npos, outlook.Options().Errors()[0].find("HvSimTest.NoSuchPage"));
    EXPECT_FALSE(outlook.Options().PageWindow("Broken"));
    EXPECT_TRUE(outlook.Options().PageWindow("Test Page"));
    outlook.Options().Cancel();
    sink.Disconnect(cookie);

    // The collection answers Outlook's PropertyPages interface; Add takes a ProgID or an object.
    auto pages = std::make_shared<std::vector<hvsim::PropertyPageEntry>>();
    auto collection = hvsim::NewPropertyPages(outlook.Application(), pages);
    hv::com_ptr<IDispatch> typed;
    EXPECT_EQ(S_OK, collection->QueryInterface(hvsim::IID_OutlookPropertyPages, typed.put_void()));
    EXPECT_EQ(S_OK, Call(typed.get(), L"Add", {unique_variant::FromString("A.B"), unique_variant::FromString("X")}));
    EXPECT_EQ(1, Get(collection.get(), L"Count").lVal);
    ASSERT_EQ(1u, pages->size());
    EXPECT_EQ("A.B", (*pages)[0].progId);
    EXPECT_EQ("X", (*pages)[0].caption);
}

}  // namespace
