// The simulator as an add-in host: the tests' own add-in (HvSimTestAddIn.dll, registered in
// the prefix) is loaded through Outlook's registration and records what the host calls.
#include <windows.h>
#include <olectl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "SimTestUtil.h"
#include "TestAddIn/TestAddIn.h"
#include "outlook-sim/src/SimAddInHost.h"
#include "outlook-sim/src/SimCommandBars.h"
#include "outlook-sim/src/SimDispatch.h"
#include "outlook-sim/src/SimOptions.h"
#include "outlook-sim/src/SimOutlook.h"
#include "outlook-sim/src/SimScript.h"
#include "outlook-sim/src/SimWord.h"
#include "win/UniqueAny.h"

using namespace simtest;
using hv::unique_variant;
using hvsim::SimOutlook;

namespace {

const char kAddIn[] = "HvSimTest.AddIn";
const IID IID_ApplicationEvents = {0x0006304E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

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

namespace {

const IID IID_CommandBarButtonEvents = {0x000C0351, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

std::vector<unique_variant> BarArgs(const char* name, long position, bool temporary) {
    std::vector<unique_variant> a;
    a.push_back(unique_variant::FromString(name));
    a.push_back(unique_variant::FromLong(position));
    a.push_back(unique_variant::FromBool(false));
    a.push_back(unique_variant::FromBool(temporary));
    return a;
}

hv::com_ptr<IDispatch> AddButton(IDispatch* bar, const char* caption, const char* tag) {
    auto controls = GetObj(bar, L"Controls");
    auto button = CallObj(controls.get(), L"Add", {unique_variant::FromLong(1)});
    EXPECT_TRUE(button);
    if (!button) return nullptr;
    EXPECT_EQ(S_OK, Put(button.get(), L"Caption", unique_variant::FromString(caption)));
    EXPECT_EQ(S_OK, Put(button.get(), L"Tag", unique_variant::FromString(tag)));
    EXPECT_EQ(S_OK, Put(button.get(), L"Style", unique_variant::FromLong(3)));
    return button;
}

hv::com_ptr<IDispatch> NewPicture() {
    HDC screen = ::GetDC(nullptr);
    HBITMAP bmp = ::CreateCompatibleBitmap(screen, 16, 16);
    ::ReleaseDC(nullptr, screen);
    PICTDESC desc = {};
    desc.cbSizeofstruct = sizeof desc;
    desc.picType = PICTYPE_BITMAP;
    desc.bmp.hbitmap = bmp;
    hv::com_ptr<IDispatch> picture;
    EXPECT_EQ(S_OK, ::OleCreatePictureIndirect(&desc, IID_IDispatch, TRUE, picture.put_void()));
    return picture;
}

// Puts bytes on the clipboard under a format.
void PutClipboard(UINT format, const std::vector<BYTE>& bytes) {
    HGLOBAL h = ::GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(::GlobalLock(h), bytes.data(), bytes.size());
    ::GlobalUnlock(h);
    ::SetClipboardData(format, h);
}

std::vector<BYTE> SmallDib(BYTE fill) {
    std::vector<BYTE> dib(sizeof(BITMAPINFOHEADER) + 16 * 16 * 4, fill);
    auto* h = reinterpret_cast<BITMAPINFOHEADER*>(dib.data());
    std::memset(h, 0, sizeof *h);
    h->biSize = sizeof *h;
    h->biWidth = 16;
    h->biHeight = 16;
    h->biPlanes = 1;
    h->biBitCount = 32;
    return dib;
}

TEST(SimCommandBars, BarsAndButtonsAnswerAsOfficesDo) {
    SimOutlook outlook;
    auto explorer = GetObj(outlook.Application(), L"ActiveExplorer");
    auto bars = GetObj(explorer.get(), L"CommandBars");
    unique_variant missing;
    EXPECT_NE(S_OK, Call(bars.get(), L"Item", {unique_variant::FromString("Halvane")}, missing.put()));
    auto bar = CallObj(bars.get(), L"Add", BarArgs("Halvane", 1, true));
    ASSERT_TRUE(bar);
    EXPECT_NE(S_OK, Call(bars.get(), L"Add", BarArgs("Halvane", 1, true)));  // the name is taken
    EXPECT_EQ(1, Get(bar.get(), L"Position").lVal);
    EXPECT_FALSE(Get(bar.get(), L"Visible").boolVal);
    for (const wchar_t* p : {L"Top", L"Left", L"RowIndex", L"Position"})
        EXPECT_EQ(S_OK, Put(bar.get(), p, unique_variant::FromLong(p[0] == L'P' ? 1 : 40)));
    EXPECT_EQ(40, Get(bar.get(), L"Top").lVal);
    EXPECT_EQ(S_OK, Put(bar.get(), L"Visible", unique_variant::FromLong(1)));
    EXPECT_EQ(S_OK, Put(bar.get(), L"Enabled", unique_variant::FromBool(true)));

    auto button = AddButton(bar.get(), "Add to HV", "Halvane0");
    auto controls = GetObj(bar.get(), L"Controls");
    auto found = CallObj(controls.get(), L"Item", {unique_variant::FromString("Add to HV")});
    EXPECT_EQ(button.get(), found.get());  // the same object while it is held
    EXPECT_FALSE(CallObj(controls.get(), L"Item", {unique_variant::FromString("Sync with HV")}));
    EXPECT_EQ(3, Get(button.get(), L"Style").lVal);
    EXPECT_EQ("Halvane0", hvsim::Utf8(Get(button.get(), L"Tag").bstrVal));

    auto face = NewPicture(), mask = NewPicture();
    EXPECT_EQ(S_OK, Put(button.get(), L"Picture", unique_variant::FromDispatch(face.get())));
    EXPECT_EQ(S_OK, Put(button.get(), L"Mask", unique_variant::FromDispatch(mask.get())));
    auto state = outlook.ExplorerCommandBars().Find("Halvane");
    ASSERT_TRUE(state);
    ASSERT_EQ(1u, state->controls.size());
    EXPECT_TRUE(state->controls[0]->picture);
    EXPECT_TRUE(state->controls[0]->mask);
    EXPECT_EQ(40, state->top);
    EXPECT_TRUE(state->visible);

    EXPECT_EQ(S_OK, Call(bar.get(), L"Delete", {}));
    EXPECT_FALSE(outlook.ExplorerCommandBars().Find("Halvane"));
    EXPECT_NE(S_OK, Call(bars.get(), L"Item", {unique_variant::FromString("Halvane")}, missing.put()));
}

TEST(SimCommandBars, PasteFaceReadsTheClipboardFormats) {
    SimOutlook outlook;
    auto bars = GetObj(GetObj(outlook.Application(), L"ActiveExplorer").get(), L"CommandBars");
    auto bar = CallObj(bars.get(), L"Add", BarArgs("Faces", 1, true));
    auto button = AddButton(bar.get(), "Face", "");
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    ::CloseClipboard();
    EXPECT_NE(S_OK, Call(button.get(), L"PasteFace", {}));  // nothing to paste

    const auto face = SmallDib(0x11), mask = SmallDib(0x22);
    ASSERT_TRUE(::OpenClipboard(nullptr));
    ::EmptyClipboard();
    PutClipboard(CF_DIB, face);
    PutClipboard(::RegisterClipboardFormatW(L"Toolbar Button Face"), face);
    PutClipboard(::RegisterClipboardFormatW(L"Toolbar Button Mask"), mask);
    ::CloseClipboard();
    EXPECT_EQ(S_OK, Call(button.get(), L"PasteFace", {}));
    const auto& c = *outlook.ExplorerCommandBars().Find("Faces")->controls[0];
    EXPECT_EQ(1, c.pasteCount);
    EXPECT_EQ((std::vector<std::string>{"CF_DIB", "Toolbar Button Face", "Toolbar Button Mask"}), c.pastedFormats);
    ASSERT_GE(c.faceDib.size(), face.size());
    EXPECT_TRUE(std::equal(face.begin(), face.end(), c.faceDib.begin()));
    ASSERT_GE(c.toolbarMask.size(), mask.size());
    EXPECT_TRUE(std::equal(mask.begin(), mask.end(), c.toolbarMask.begin()));
}

TEST(SimCommandBars, ClickReachesEverySinkOfTheSameTagUntilUnadvised) {
    SimOutlook outlook;
    auto a = outlook.Seed(hvsim::olFolderTasks, {{"Subject", "A"}});
    auto b = outlook.Seed(hvsim::olFolderTasks, {{"Subject", "B"}});
    std::vector<hv::com_ptr<IDispatch>> buttons;
    for (const auto& item : {a, b}) {
        IDispatch* inspector = outlook.OpenInspector(item);
        auto bars = GetObj(inspector, L"CommandBars");
        auto bar = CallObj(bars.get(), L"Add", BarArgs("Halvane", 1, true));
        ASSERT_TRUE(bar);
        EXPECT_EQ(S_OK, Put(bar.get(), L"Visible", unique_variant::FromBool(true)));
        buttons.push_back(AddButton(bar.get(), "Add to HV", "same-tag"));
    }
    RecordingSink first(IID_CommandBarButtonEvents), second(IID_CommandBarButtonEvents);
    DWORD c1 = first.Connect(buttons[0].get());
    DWORD c2 = second.Connect(buttons[1].get());
    EXPECT_EQ(2u, outlook.CommandBars().ClickSinks("same-tag"));
    second.cancelWith = VARIANT_TRUE;
    bool cancel = false;
    std::string error;
    ASSERT_TRUE(outlook.ClickButton("Halvane", "Add to HV", a, &cancel, &error)) << error;
    EXPECT_EQ(1u, first.Count(1));
    EXPECT_EQ(1u, second.Count(1));  // the other inspector's control has the same Tag
    EXPECT_EQ(2u, first.events[0].args);
    EXPECT_EQ(buttons[0].get(), first.events[0].firstObject.get());  // Ctrl is the clicked control
    EXPECT_TRUE(cancel);
    second.Disconnect(c2);
    ASSERT_TRUE(outlook.ClickButton("Halvane", "Add to HV", b, nullptr, &error)) << error;
    EXPECT_EQ(2u, first.Count(1));
    EXPECT_EQ(1u, second.Count(1));
    EXPECT_EQ(buttons[1].get(), first.events[1].firstObject.get());
    EXPECT_FALSE(outlook.ClickButton("Halvane", "Nothing", b, nullptr, &error));
    first.Disconnect(c1);
    buttons.clear();
    outlook.CloseInspector(a);
    outlook.CloseInspector(b);
}

TEST(SimCommandBars, TemporaryBarsAreGoneAfterARestart) {
    SimOutlook outlook;
    {
        auto bars = GetObj(GetObj(outlook.Application(), L"ActiveExplorer").get(), L"CommandBars");
        EXPECT_TRUE(CallObj(bars.get(), L"Add", BarArgs("Temp", 1, true)));
        EXPECT_TRUE(CallObj(bars.get(), L"Add", BarArgs("Kept", 1, false)));
    }
    outlook.Restart();
    EXPECT_FALSE(outlook.ExplorerCommandBars().Find("Temp"));
    EXPECT_TRUE(outlook.ExplorerCommandBars().Find("Kept"));
    auto bars = GetObj(GetObj(outlook.Application(), L"ActiveExplorer").get(), L"CommandBars");
    EXPECT_TRUE(CallObj(bars.get(), L"Item", {unique_variant::FromString("Kept")}));
}

TEST_F(SimHost, AddInCommandBarButtonClickReachesTheAddIn) {
    SetSetting(L"CommandBar", 1);
    SimOutlook outlook;
    outlook.SetVersion(11);
    outlook.StartAddIns();
    EXPECT_TRUE(Contains(Calls(), "CommandBar added"));
    EXPECT_EQ(1u, outlook.CommandBars().ClickSinks("hvsimtest"));
    std::ostringstream log;
    hvsim::ScriptHost host(outlook, log);
    host.RunLine("bars");
    EXPECT_NE(std::string::npos, log.str().find("button \"Test Button\" tag=\"hvsimtest\"")) << log.str();
    std::string error;
    // A new bar starts hidden; the user sees it once it is shown.
    EXPECT_FALSE(outlook.ClickButton("HvSimTest", "Test Button", nullptr, nullptr, &error));
    outlook.ExplorerCommandBars().Find("HvSimTest")->visible = true;
    host.RunLine("button HvSimTest \"Test Button\"");
    EXPECT_TRUE(Contains(Calls(), "Click(Test Button)"));
    outlook.Quit();
    EXPECT_TRUE(outlook.LeakReport().empty()) << outlook.LeakReport().front();
    EXPECT_FALSE(outlook.ExplorerCommandBars().Find("HvSimTest"));  // the add-in deleted it at shutdown
}

}  // namespace

namespace {

const IID IID_WordApplicationEvents2 = {0x000209FE, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

TEST(SimWord, WordMailInspectorIsAWordWindowWithWordsBarsAndEvents) {
    SimOutlook outlook;
    outlook.SetWordMail(true);
    IDispatch* word = outlook.Word().Application();
    EXPECT_EQ("Microsoft Word", hvsim::Utf8(Get(word, L"Name").bstrVal));
    RecordingSink sink(IID_WordApplicationEvents2);
    DWORD cookie = sink.Connect(word);
    auto mail = outlook.Seed(hvsim::olFolderInbox, {{"Subject", "Hello"}});
    IDispatch* inspector = outlook.OpenInspector(mail);
    ASSERT_EQ(1u, sink.Count(10));  // WindowActivate(Doc, Wn)
    EXPECT_EQ(2u, sink.events[0].args);
    auto doc = sink.events[0].firstObject;
    ASSERT_TRUE(doc);
    EXPECT_TRUE(Get(doc.get(), L"EnvelopeVisible").boolVal);
    unique_variant isWord;
    EXPECT_EQ(S_OK, Call(inspector, L"IsWordMail", {}, isWord.put()));
    EXPECT_TRUE(isWord.boolVal);
    EXPECT_EQ(4, Get(inspector, L"EditorType").lVal);  // olEditorWord
    EXPECT_EQ(doc.get(), GetObj(inspector, L"WordEditor").get());

    // A bar made in the inspector is one of Word's Application.CommandBars.
    auto bars = GetObj(inspector, L"CommandBars");
    auto bar = CallObj(bars.get(), L"Add", BarArgs("Halvane", 1, true));
    ASSERT_TRUE(bar);
    auto wordBars = GetObj(word, L"CommandBars");
    EXPECT_TRUE(CallObj(wordBars.get(), L"Item", {unique_variant::FromString("Halvane")}));
    EXPECT_TRUE(outlook.Word().Bars()->Find("Halvane"));

    outlook.Word().Activate(mail, false);
    ASSERT_EQ(2u, sink.Count(10));
    EXPECT_FALSE(Get(sink.events[1].firstObject.get(), L"EnvelopeVisible").boolVal);
    sink.Disconnect(cookie);
    sink.events.clear();
    doc.reset();
    bar.reset();
    bars.reset();
    wordBars.reset();
    EXPECT_TRUE(outlook.CloseInspector(mail));
    outlook.Quit();
    EXPECT_TRUE(outlook.LeakReport().empty()) << outlook.LeakReport().front();
}

TEST_F(SimHost, OutlooksAddInsLoadIntoWordWithWordsApplication) {
    SimOutlook outlook;
    outlook.SetVersion(11);
    EXPECT_EQ(1u, outlook.Word().StartAddIns());
    EXPECT_TRUE(Contains(Calls(), "OnConnection(1,Microsoft Word,HvSimTest.AddIn,custom)"));
    EXPECT_FALSE(Contains(Calls(), "QueryInterface(IRibbonExtensibility)"));
    outlook.Quit();
    auto calls = Calls();
    EXPECT_EQ("Destroyed", calls.back());
    EXPECT_TRUE(outlook.LeakReport().empty()) << outlook.LeakReport().front();
}

}  // namespace

namespace {

hv::com_ptr<IDispatch> Groups(SimOutlook& outlook) {
    auto explorer = GetObj(outlook.Application(), L"ActiveExplorer");
    auto panes = GetObj(explorer.get(), L"Panes");
    auto bar = CallObj(panes.get(), L"Item", {unique_variant::FromString("OutlookBar")});
    if (!bar) return nullptr;
    return GetObj(GetObj(bar.get(), L"Contents").get(), L"Groups");
}

TEST(SimOutlookBar, GroupsAndShortcutsAsTheAddInBuildsThemAndTheyPersist) {
    SimOutlook outlook;
    auto groups = Groups(outlook);
    ASSERT_TRUE(groups);
    const long count = Get(groups.get(), L"Count").lVal;
    EXPECT_EQ(2, count);
    EXPECT_FALSE(CallObj(groups.get(), L"Item", {unique_variant::FromString("Halvane")}));
    auto group =
        CallObj(groups.get(), L"Add", {unique_variant::FromString("Halvane"), unique_variant::FromLong(count + 1)});
    ASSERT_TRUE(group);
    unique_variant two;
    two.vt = VT_INT;
    two.intVal = 2;
    EXPECT_EQ(S_OK, Put(group.get(), L"ViewType", std::move(two)));
    auto shortcuts = GetObj(group.get(), L"Shortcuts");
    EXPECT_FALSE(CallObj(shortcuts.get(), L"Item", {unique_variant::FromString("Dashboard")}));
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    for (const char* name : {"My Calendar", "My Tasks", "Dashboard"}) {
        auto sc = CallObj(shortcuts.get(), L"Add",
                          {unique_variant::FromString(std::string("http://hv.example/") + name),
                           unique_variant::FromString(name), unique_variant::FromLong(1)});
        ASSERT_TRUE(sc);
        EXPECT_EQ(S_OK, Call(sc.get(), L"SetIcon", {unique_variant::FromString(hvsim::Utf8(exe))}));
        EXPECT_NE(S_OK, Call(sc.get(), L"SetIcon", {unique_variant::FromString("C:\\no\\such.ico")}));
    }
    auto dashboard = CallObj(shortcuts.get(), L"Item", {unique_variant::FromString("Dashboard")});
    ASSERT_TRUE(dashboard);
    EXPECT_EQ("http://hv.example/Dashboard", hvsim::Utf8(Get(dashboard.get(), L"Target").bstrVal));
    auto first = CallObj(shortcuts.get(), L"Item", {unique_variant::FromLong(1)});
    EXPECT_EQ("Dashboard", hvsim::Utf8(Get(first.get(), L"Name").bstrVal));
    dashboard.reset();
    first.reset();
    shortcuts.reset();
    group.reset();
    groups.reset();

    outlook.Restart();
    groups = Groups(outlook);
    ASSERT_TRUE(groups);
    EXPECT_EQ(3, Get(groups.get(), L"Count").lVal);
    group = CallObj(groups.get(), L"Item", {unique_variant::FromLong(3)});
    EXPECT_EQ("Halvane", hvsim::Utf8(Get(group.get(), L"Name").bstrVal));
    EXPECT_EQ(2, Get(group.get(), L"ViewType").lVal);
    const auto& data = *outlook.GetModel().outlookBarGroups[2];
    ASSERT_EQ(3u, data.shortcuts.size());
    EXPECT_EQ("My Calendar", data.shortcuts[2]->name);
    EXPECT_EQ(hvsim::Utf8(exe), data.shortcuts[2]->icon);
    EXPECT_EQ(S_OK, Call(groups.get(), L"Remove", {unique_variant::FromLong(3)}));
    EXPECT_EQ(2, Get(groups.get(), L"Count").lVal);
}

TEST(SimOutlookBar, AnOutlookWithoutTheBarFailsThePaneLookup) {
    SimOutlook outlook;
    outlook.GetModel().outlookBar = false;
    EXPECT_FALSE(Groups(outlook));
}

}  // namespace

namespace {

std::string Text(IDispatch* obj, const wchar_t* name) {
    return hvsim::Utf8(Get(obj, name).bstrVal);
}

TEST(SimWindows, SelectionOfMixedClassesAndTheFoldersItemType) {
    SimOutlook outlook;
    auto mail = outlook.Seed(hvsim::olFolderInbox, {{"Subject", "Mail"}});
    auto meeting = outlook.SeedAs(hvsim::olFolderInbox, hvsim::olMeetingRequest, {{"Subject", "Meet"}});
    auto report = outlook.SeedAs(hvsim::olFolderInbox, hvsim::olReport, {{"Subject", "Undeliverable"}});
    auto task = outlook.Seed(hvsim::olFolderTasks, {{"Subject", "Task"}});
    outlook.Select({mail, meeting, report, task});
    auto explorer = GetObj(outlook.Application(), L"ActiveExplorer");
    auto selection = GetObj(explorer.get(), L"Selection");
    ASSERT_EQ(4, Get(selection.get(), L"Count").lVal);
    std::vector<long> classes;
    for (long i = 1; i <= 4; ++i)
        classes.push_back(Get(CallObj(selection.get(), L"Item", {unique_variant::FromLong(i)}).get(), L"Class").lVal);
    EXPECT_EQ((std::vector<long>{43, 53, 46, 48}), classes);
    EXPECT_EQ("IPM.Schedule.Meeting.Request",
              Text(CallObj(selection.get(), L"Item", {unique_variant::FromLong(2)}).get(), L"MessageClass"));
    EXPECT_EQ(0, Get(GetObj(explorer.get(), L"CurrentFolder").get(), L"DefaultItemType").lVal);
    EXPECT_TRUE(outlook.SwitchFolder(hvsim::olFolderTasks));
    EXPECT_EQ(3, Get(GetObj(explorer.get(), L"CurrentFolder").get(), L"DefaultItemType").lVal);
}

TEST(SimWindows, ExplorerCaptionIsItsWindowTextAndMayBeAbsent) {
    SimOutlook outlook;
    auto explorer = GetObj(outlook.Application(), L"ActiveExplorer");
    wchar_t text[256] = {};
    ::GetWindowTextW(outlook.ExplorerWindow(), text, 256);
    EXPECT_EQ(Text(explorer.get(), L"Caption"), hvsim::Utf8(text));
    EXPECT_EQ(outlook.ExplorerWindow(), ::FindWindowW(L"rctrl_renwnd32", text));
    outlook.SwitchFolder(hvsim::olFolderCalendar);
    ::GetWindowTextW(outlook.ExplorerWindow(), text, 256);
    EXPECT_EQ("Calendar - Microsoft Outlook", hvsim::Utf8(text));
    EXPECT_EQ(Text(explorer.get(), L"Caption"), hvsim::Utf8(text));
    outlook.SetExplorerOpen(false);
    unique_variant none = Get(outlook.Application(), L"ActiveExplorer");
    EXPECT_TRUE(none.vt == VT_EMPTY || (none.vt == VT_DISPATCH && !none.pdispVal));
}

TEST(SimWindows, NewInspectorComesBeforeTheWindowAndActiveInspectorIsTopMost) {
    SimOutlook outlook;
    auto a = outlook.Seed(hvsim::olFolderTasks, {{"Subject", "First"}});
    auto b = outlook.Seed(hvsim::olFolderTasks, {{"Subject", "Second"}});
    struct Sink : RecordingSink {
        Sink(SimOutlook& o) : RecordingSink({0x00063079, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}), outlook(o) {}
        STDMETHODIMP Invoke(DISPID id, REFIID r, LCID l, WORD f, DISPPARAMS* p, VARIANT* v, EXCEPINFO* e,
                            UINT* u) override {
            shownAtEvent.push_back(outlook.InspectorShown());
            return RecordingSink::Invoke(id, r, l, f, p, v, e, u);
        }
        SimOutlook& outlook;
        std::vector<bool> shownAtEvent;
    } sink(outlook);
    DWORD cookie = sink.Connect(GetObj(outlook.Application(), L"Inspectors").get());
    outlook.OpenInspector(a);
    outlook.OpenInspector(b);
    EXPECT_EQ((std::vector<bool>{false, false}), sink.shownAtEvent);
    EXPECT_TRUE(outlook.InspectorShown(a));
    sink.Disconnect(cookie);
    sink.events.clear();

    EXPECT_EQ("Second - Task", Text(GetObj(outlook.Application(), L"ActiveInspector").get(), L"Caption"));
    EXPECT_TRUE(outlook.ActivateInspector(a));
    EXPECT_EQ("First - Task", Text(GetObj(outlook.Application(), L"ActiveInspector").get(), L"Caption"));
    auto inspectors = GetObj(outlook.Application(), L"Inspectors");
    hv::com_ptr<IDispatch> second;
    for (long i = 1; i <= 2; ++i) {
        auto insp = CallObj(inspectors.get(), L"Item", {unique_variant::FromLong(i)});
        if (Text(insp.get(), L"Caption") == "Second - Task") second = insp;
    }
    ASSERT_TRUE(second);
    EXPECT_EQ(S_OK, Call(second.get(), L"Activate", {}));
    EXPECT_EQ("Second - Task", Text(GetObj(outlook.Application(), L"ActiveInspector").get(), L"Caption"));
    unique_variant word;
    EXPECT_EQ(S_OK, Call(second.get(), L"IsWordMail", {}, word.put()));
    EXPECT_FALSE(word.boolVal);
    EXPECT_EQ(2, Get(second.get(), L"EditorType").lVal);

    // Close(olSave) keeps the user's change.
    auto item = GetObj(second.get(), L"CurrentItem");
    EXPECT_EQ(S_OK, Put(item.get(), L"Subject", unique_variant::FromString("Second, edited")));
    EXPECT_EQ(S_OK, Call(second.get(), L"Close", {unique_variant::FromLong(0)}));
    EXPECT_TRUE(outlook.FindBySubject(hvsim::olFolderTasks, "Second, edited"));
    EXPECT_EQ(1u, outlook.InspectorCount());
    outlook.CloseInspector(a);
}

TEST(SimWindows, ForwardCarriesAttachmentsAndSendGoesThroughTheOutboxToSentItems) {
    SimOutlook outlook;
    auto original = outlook.Seed(hvsim::olFolderInbox, {{"Subject", "Report"}});
    hvsim::Attachment att;
    att.displayName = att.fileName = "report.txt";
    att.data = "bytes of the report";
    original->attachments.push_back(att);
    IDispatch* item = outlook.ItemObject(original);
    auto forward = CallObj(item, L"Forward", {});
    ASSERT_TRUE(forward);
    EXPECT_EQ("FW: Report", Text(forward.get(), L"Subject"));
    EXPECT_FALSE(Get(forward.get(), L"Saved").boolVal);
    EXPECT_EQ(1, Get(GetObj(forward.get(), L"Attachments").get(), L"Count").lVal);
    auto recipients = GetObj(forward.get(), L"Recipients");
    EXPECT_TRUE(CallObj(recipients.get(), L"Add", {unique_variant::FromString("bob@example.com")}));
    unique_variant resolved;
    EXPECT_EQ(S_OK, Call(recipients.get(), L"ResolveAll", {}, resolved.put()));
    EXPECT_TRUE(resolved.boolVal);

    RecordingSink sink(IID_ApplicationEvents);
    DWORD cookie = sink.Connect(outlook.Application());
    sink.cancelWith = VARIANT_TRUE;  // ItemSend(Item, Cancel): the first send is cancelled
    EXPECT_EQ(S_OK, Call(forward.get(), L"Send", {}));
    EXPECT_EQ(1u, sink.Count(0xF002));
    EXPECT_TRUE(outlook.Items(hvsim::olFolderSentMail).empty());

    sink.cancelWith = VARIANT_FALSE;
    outlook.SetOffline(true);
    EXPECT_EQ(S_OK, Call(forward.get(), L"Send", {}));
    EXPECT_EQ(2u, sink.Count(0xF002));
    ASSERT_EQ(1u, outlook.Items(hvsim::olFolderOutbox).size());  // offline: it waits in the Outbox
    EXPECT_TRUE(outlook.Items(hvsim::olFolderSentMail).empty());
    outlook.SetOffline(false);
    EXPECT_TRUE(outlook.Items(hvsim::olFolderOutbox).empty());
    auto sent = outlook.Items(hvsim::olFolderSentMail);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("FW: Report", sent[0]->Subject());
    EXPECT_TRUE(sent[0]->Get("Sent").AsBool());
    ASSERT_EQ(1u, sent[0]->attachments.size());
    EXPECT_EQ("bytes of the report", sent[0]->attachments[0].data);
    sink.Disconnect(cookie);
}

}  // namespace

namespace {

// outlook-sim.exe itself: a script loads the add-in from its registration, clicks, and quits.
TEST_F(SimHost, OutlookSimExeRunsAScriptAgainstTheRegisteredAddIn) {
    wchar_t exe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring dir = exe;
    dir = dir.substr(0, dir.find_last_of(L"\\/") + 1);
    const std::wstring sim = dir + L"..\\..\\outlook-sim\\outlook-sim.exe";
    if (::GetFileAttributesW(sim.c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "outlook-sim.exe is not built";
    const std::wstring script = dir + L"sim-host-script.txt";
    const std::wstring output = dir + L"sim-host-output.txt";
    {
        hv::unique_hfile f(::CreateFileW(script.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        const char text[] = "version 14\nstart\nribbon hvsimButton\naddins\nlive\nquit\n";
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(f.get(), text, sizeof text - 1, &written, nullptr));
    }
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    hv::unique_hfile out(::CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr));
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out.get();
    si.hStdError = out.get();
    PROCESS_INFORMATION pi = {};
    std::wstring cmd = L"\"" + sim + L"\" --script \"" + script + L"\"";
    ASSERT_TRUE(::CreateProcessW(sim.c_str(), cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
    hv::unique_handle process(pi.hProcess), thread(pi.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(pi.hProcess, 60000));
    DWORD code = 1;
    ::GetExitCodeProcess(pi.hProcess, &code);
    out.reset();
    std::string text;
    {
        hv::unique_hfile f(
            ::CreateFileW(output.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        char buffer[8192];
        DWORD read = 0;
        while (::ReadFile(f.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
    }
    EXPECT_EQ(0u, code) << text;
    EXPECT_NE(std::string::npos, text.find("add-ins connected: 1")) << text;
    EXPECT_NE(std::string::npos, text.find("HvSimTest.AddIn HKCU LoadBehavior=3 connected")) << text;
    EXPECT_NE(std::string::npos, text.find("live: Application")) << text;
    EXPECT_NE(std::string::npos, text.find("leaks: none")) << text;
    EXPECT_TRUE(Contains(Calls(), "onAction(hvsimButton,sim-tag,34)"));
    EXPECT_EQ("Destroyed", Calls().back());
    ::DeleteFileW(script.c_str());
    ::DeleteFileW(output.c_str());
}

}  // namespace

namespace {

TEST(SimWindows, ScriptSendsMailThroughTheOutbox) {
    SimOutlook outlook;
    outlook.Seed(hvsim::olFolderInbox, {{"Subject", "Note"}});
    std::ostringstream log;
    hvsim::ScriptHost host(outlook, log);
    host.RunText("offline on\nsend Note bob@example.com\n");
    EXPECT_EQ(1u, outlook.Items(hvsim::olFolderOutbox).size());
    host.RunText("offline off\n");
    ASSERT_EQ(1u, outlook.Items(hvsim::olFolderSentMail).size());
    EXPECT_EQ("bob@example.com", outlook.Items(hvsim::olFolderSentMail)[0]->Get("To").AsText());
    host.RunLine("new Lonely");
    EXPECT_THROW(host.RunLine("send Lonely"), hvsim::ScriptError);  // no recipients: Outlook refuses
}

}  // namespace
