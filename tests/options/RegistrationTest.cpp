// The real HvToolsOpts.dll: regsvr32 writes exactly its class, ProgID, AppID and type-library
// keys and removes them again; registered, COM creates the page by its ProgID and it works in a
// container as Outlook's options dialog sites it.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <cwctype>
#include <set>
#include <string>
#include "OptionsTestSupport.h"
#include "PageContainer.h"
#include "options/resource.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

using hv::uiauto::Automation;

namespace {

const std::wstring kAppId = L"{98A7A9CD-E666-4CAD-9708-23D7A88A8262}";
const std::wstring kClsid = L"{A2DBE406-53C5-4F88-BE29-35DD02442383}";
const std::wstring kLibId = L"{29465EE3-42B3-49E2-A83B-53F5D80ADA05}";
const std::wstring kIPropPage = L"{844A31FE-C89A-41A7-80BA-F53490027E18}";

std::wstring Upper(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towupper(c); });
    return text;
}

using hvtest::LibraryPath;
using hvtest::RunRegsvr32;

bool KeyExists(const std::wstring& path) {
    hv::unique_hkey key;
    return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// Names of the subkeys of a key of HKEY_CLASSES_ROOT, upper case ("" is the root itself).
std::set<std::wstring> SubkeyNames(const std::wstring& path) {
    std::set<std::wstring> names;
    hv::unique_hkey key;
    if (path.empty()) {
        if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return names;
    } else if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
        return names;
    }
    wchar_t name[512];
    for (DWORD i = 0;; ++i) {
        DWORD length = 512;
        if (::RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.insert(Upper(name));
    }
    return names;
}

// Every key and text value below `path`, as "KEY" and "KEY|NAME=VALUE" lines (upper case,
// relative to `path`, "@" for a default value).
void Dump(HKEY parent, const std::wstring& path, const std::wstring& relative, std::set<std::wstring>& out) {
    hv::unique_hkey key;
    if (::RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
    out.insert(Upper(relative));
    wchar_t name[512];
    BYTE data[2048];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 512;
        DWORD size = sizeof(data) - sizeof(wchar_t);
        DWORD type = 0;
        if (::RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        data[size] = 0;
        data[size + 1] = 0;
        std::wstring value = type == REG_SZ ? std::wstring(reinterpret_cast<wchar_t*>(data)) : L"<non-text>";
        out.insert(Upper(relative + L"|" + (nameLength ? std::wstring(name) : L"@") + L"=" + value));
    }
    for (DWORD i = 0;; ++i) {
        DWORD length = 512;
        if (::RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        Dump(key.get(), name, relative + L"\\" + name, out);
    }
}

std::set<std::wstring> Dump(const std::wstring& path) {
    std::set<std::wstring> out;
    Dump(HKEY_CLASSES_ROOT, path, path, out);
    return out;
}

std::set<std::wstring> Upper(std::initializer_list<std::wstring> lines) {
    std::set<std::wstring> out;
    for (const std::wstring& line : lines) out.insert(Upper(line));
    return out;
}

struct Snapshot {
    std::set<std::wstring> root, appId, clsid, typeLib, interfaces;
    static Snapshot Take() {
        return {SubkeyNames(L""), SubkeyNames(L"AppID"), SubkeyNames(L"CLSID"), SubkeyNames(L"TypeLib"),
                SubkeyNames(L"Interface")};
    }
};

std::set<std::wstring> Added(const std::set<std::wstring>& before, const std::set<std::wstring>& after) {
    std::set<std::wstring> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::inserter(added, added.end()));
    return added;
}

class OptionsRegistration : public ::testing::Test {
protected:
    void SetUp() override {
        // Nothing left from an earlier run.
        RunRegsvr32(true);
    }
    void TearDown() override { RunRegsvr32(true); }
};

TEST_F(OptionsRegistration, Regsvr32WritesExactlyTheClassKeysAndRemovesThemAgain) {
    const Snapshot before = Snapshot::Take();
    ASSERT_FALSE(KeyExists(L"CLSID\\" + kClsid));

    ASSERT_EQ(0u, RunRegsvr32(false));
    const Snapshot after = Snapshot::Take();
    EXPECT_EQ(Upper({L"HvToolsOpts.PropPage", L"HvToolsOpts.PropPage.1"}), Added(before.root, after.root));
    EXPECT_EQ(Upper({kAppId, L"HvToolsOpts.DLL"}), Added(before.appId, after.appId));
    EXPECT_EQ(Upper({kClsid}), Added(before.clsid, after.clsid));
    EXPECT_EQ(Upper({kLibId}), Added(before.typeLib, after.typeLib));
    EXPECT_EQ(Upper({kIPropPage}), Added(before.interfaces, after.interfaces));
    EXPECT_TRUE(Added(after.root, before.root).empty());

    const std::wstring path = LibraryPath();
    const std::wstring cls = L"CLSID\\" + kClsid;
    EXPECT_EQ(Upper({L"AppID\\" + kAppId, L"AppID\\" + kAppId + L"|@=HvToolsOpts"}), Dump(L"AppID\\" + kAppId));
    EXPECT_EQ(Upper({L"AppID\\HvToolsOpts.DLL", L"AppID\\HvToolsOpts.DLL|AppID=" + kAppId}),
              Dump(L"AppID\\HvToolsOpts.DLL"));
    EXPECT_EQ(Upper({L"HvToolsOpts.PropPage.1", L"HvToolsOpts.PropPage.1|@=PropPage Class",
                     L"HvToolsOpts.PropPage.1\\CLSID", L"HvToolsOpts.PropPage.1\\CLSID|@=" + kClsid}),
              Dump(L"HvToolsOpts.PropPage.1"));
    EXPECT_EQ(Upper({L"HvToolsOpts.PropPage", L"HvToolsOpts.PropPage|@=PropPage Class", L"HvToolsOpts.PropPage\\CLSID",
                     L"HvToolsOpts.PropPage\\CLSID|@=" + kClsid, L"HvToolsOpts.PropPage\\CurVer",
                     L"HvToolsOpts.PropPage\\CurVer|@=HvToolsOpts.PropPage.1"}),
              Dump(L"HvToolsOpts.PropPage"));
    EXPECT_EQ(Upper({cls,
                     cls + L"|@=PropPage Class",
                     cls + L"|AppID=" + kAppId,
                     cls + L"\\ProgID",
                     cls + L"\\ProgID|@=HvToolsOpts.PropPage.1",
                     cls + L"\\VersionIndependentProgID",
                     cls + L"\\VersionIndependentProgID|@=HvToolsOpts.PropPage",
                     cls + L"\\Programmable",
                     cls + L"\\InprocServer32",
                     cls + L"\\InprocServer32|@=" + path,
                     cls + L"\\InprocServer32|ThreadingModel=Apartment",
                     cls + L"\\Control",
                     cls + L"\\ToolboxBitmap32",
                     cls + L"\\ToolboxBitmap32|@=" + path + L", 28001",
                     cls + L"\\MiscStatus",
                     cls + L"\\MiscStatus|@=0",
                     cls + L"\\MiscStatus\\1",
                     cls + L"\\MiscStatus\\1|@=131473",
                     cls + L"\\TypeLib",
                     cls + L"\\TypeLib|@=" + kLibId,
                     cls + L"\\Version",
                     cls + L"\\Version|@=1.0"}),
              Dump(cls));
    // The type library is registered from the library file itself.
    const std::set<std::wstring> typeLib = Dump(L"TypeLib\\" + kLibId);
#ifdef _WIN64
    const std::wstring win = L"\\1.0\\0\\win64|@=";
#else
    const std::wstring win = L"\\1.0\\0\\win32|@=";
#endif
    std::string lines;
    for (const std::wstring& line : typeLib) lines += hv::ToAnsi(line) + "\n";
    EXPECT_EQ(1u, typeLib.count(Upper(L"TypeLib\\" + kLibId + win + path))) << lines;

    ASSERT_EQ(0u, RunRegsvr32(true));
    const Snapshot removed = Snapshot::Take();
    EXPECT_EQ(before.root, removed.root);
    EXPECT_EQ(before.appId, removed.appId);
    EXPECT_EQ(before.clsid, removed.clsid);
    EXPECT_EQ(before.typeLib, removed.typeLib);
    EXPECT_EQ(before.interfaces, removed.interfaces);
    // The parents stay.
    EXPECT_TRUE(KeyExists(L"AppID"));
    EXPECT_TRUE(KeyExists(L"CLSID"));
}

TEST_F(OptionsRegistration, UnregisteringTwiceSucceeds) {
    ASSERT_EQ(0u, RunRegsvr32(false));
    EXPECT_EQ(0u, RunRegsvr32(true));
    EXPECT_EQ(0u, RunRegsvr32(true));
    EXPECT_FALSE(KeyExists(L"HvToolsOpts.PropPage"));
}

TEST_F(OptionsRegistration, RegisteredPageIsCreatedByItsProgIdAndWorksInAContainer) {
    ASSERT_EQ(0u, RunRegsvr32(false));
    hvtest::DeleteSettings();
    hvtest::PutNumber("SyncQuantum", 0);
    hvtest::UseService(hvtest::ServiceAddress());
    hvtest::PageContainer container(&hvtest::CreatePageByProgId);
    container.Run([&](Automation& ui, hvtest::PageDriver& page) {
        HWND dlg = page.Page();
        EXPECT_EQ(" 1.1.0.9", ui.GetText(dlg, IDC_VERSION));
        EXPECT_FALSE(ui.IsChecked(dlg, IDC_SYNC_AUTOMATICALLY));
        EXPECT_EQ("15", ui.GetText(dlg, IDC_SYNC_QUANTUM));
        EXPECT_EQ(0, page.StatusChanges());
        ui.TypeText(dlg, IDC_USERNAME, "alice");
        ui.TypeText(dlg, IDC_PASSWORD, "alice-pass");
        ui.SetChecked(dlg, IDC_SYNC_AUTOMATICALLY, true);
        EXPECT_TRUE(page.Dirty());
        EXPECT_GE(page.StatusChanges(), 3);
        ui.Click(dlg, IDC_TEST_CREDENTIALS);
        EXPECT_TRUE(ui.WaitUntil([&] { return ui.GetText(dlg, IDC_TEST_RESULT) == "Credentials are valid"; }))
            << ui.GetText(dlg, IDC_TEST_RESULT);
        EXPECT_FALSE(hvtest::ValueExists("Credentials"));
        EXPECT_EQ(S_OK, page.Apply());
    });
    EXPECT_EQ(S_OK, container.m_hrSetClientSite);
    EXPECT_EQ(S_OK, container.m_hrDoVerb);
    std::string user, password;
    ASSERT_TRUE(hvtest::GetStoredCredentials(user, password));
    EXPECT_EQ("alice", user);
    EXPECT_EQ("alice-pass", password);
    DWORD quantum = 0;
    EXPECT_TRUE(hvtest::GetNumber("SyncQuantum", quantum));
    EXPECT_EQ(15u, quantum);
    hvtest::DeleteSettings();
}

}  // namespace
