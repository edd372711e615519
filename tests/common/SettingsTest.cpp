#include <gtest/gtest.h>
#include <regex>
#include "RegistryFixture.h"
#include "common/Config.h"

using namespace hvtest;

namespace {

class Settings : public RegistryTest {};

TEST_F(Settings, FreshProfileGettersReturnDefaults) {
    CConfig cfg;
    EXPECT_EQ(1u, cfg.GetSyncSize());
    EXPECT_EQ(120u, cfg.GetSyncQuantum());
    EXPECT_EQ(0u, cfg.GetSyncAtStartup());
    EXPECT_EQ(1u, cfg.GetAutoPush());
    EXPECT_EQ(1u, cfg.GetSAXParsing());
    EXPECT_EQ(1u, cfg.GetDeleteOutlookItems());
    EXPECT_EQ(1u, cfg.GetDeleteHVItems());
    EXPECT_EQ(10u, cfg.GetMaxOccurrences());
    EXPECT_EQ(90u, cfg.GetRecurrenceWindow());
    EXPECT_EQ(1u, cfg.GetHashVersion());
    EXPECT_EQ(120u, cfg.GetTimeout());
    EXPECT_EQ(30u, cfg.GetStaleAfter("Task"));
    EXPECT_EQ(30u, cfg.GetStaleAfter("Event"));
    EXPECT_EQ(0u, cfg.GetPurgeHV("Task"));
    EXPECT_EQ(0u, cfg.GetPurgeHV("Event"));
    EXPECT_EQ(443, cfg.GetPort());

    std::string text = "untouched";
    EXPECT_EQ(E_FAIL, cfg.GetLastSync("Task", text));
    EXPECT_EQ(E_FAIL, cfg.GetLastCategory("Task", text));
    EXPECT_EQ(E_FAIL, cfg.GetLastWorkspace("Event", text));
    EXPECT_EQ("untouched", text);
    std::string user = "u", password = "p";
    EXPECT_FAILED(cfg.GetCredentials(user, password));
    EXPECT_EQ("u", user);
    EXPECT_EQ("p", password);

    // Getters create the keys but write no values.
    EXPECT_TRUE(KeyExists(kProductPath));
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_FALSE(ReadValue(kProductPath, L"SSL", type, data));
    EXPECT_FALSE(ReadValue(kProductPath, L"SyncQuantum", type, data));
}

TEST_F(Settings, KeyPathIsCreatedUnderTheCompanyKey) {
    CConfig cfg;
    EXPECT_FALSE(KeyExists(kProductPath));
    EXPECT_EQ("Software\\Halvane\\Halvane for Outlook", cfg.GetKeyPath());
    EXPECT_TRUE(KeyExists(kProductPath));
}

TEST_F(Settings, IdentityConstants) {
    CConfig cfg;
    EXPECT_EQ("Halvane", cfg.GetCompanyKeyName());
    EXPECT_EQ("Halvane for Outlook", cfg.GetProductKeyName());
    EXPECT_EQ("HvOut.dll", cfg.GetLibraryName());
    EXPECT_EQ("Halvane.OutlookAddin", cfg.GetProgID());
    EXPECT_EQ("Halvane Add-in for Outlook", cfg.GetFriendlyName());
    EXPECT_EQ("{C0CB5E26-9758-4bcc-8CF7-A7CE72100B7F}", cfg.GetClassIdString());
    EXPECT_EQ("api.halvane.example", CConfig::m_strDefaultHost);
    EXPECT_EQ("soap/v2.2beta/", CConfig::m_strDefaultPath);
}

TEST_F(Settings, ServiceUrlOnFreshProfileIsHttpsAndWritesDefaultsBack) {
    CConfig cfg;
    std::string url;
    ASSERT_EQ(S_OK, cfg.GetServiceURL(url));
    EXPECT_EQ("https://api.halvane.example/soap/v2.2beta/", url);
    std::string host, path;
    EXPECT_TRUE(ReadString(kProductPath, L"Host", host));
    EXPECT_TRUE(ReadString(kProductPath, L"ServicePortPath", path));
    EXPECT_EQ("api.halvane.example", host);
    EXPECT_EQ("soap/v2.2beta/", path);
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_FALSE(ReadValue(kProductPath, L"SSL", type, data));  // the SSL default is not written
}

TEST_F(Settings, SslZeroGivesHttpOnPort80) {
    PutDword(kProductPath, L"SSL", 0);
    PutString(kProductPath, L"Host", L"127.0.0.7");
    PutString(kProductPath, L"ServicePortPath", L"api/");
    CConfig cfg;
    EXPECT_EQ(80, cfg.GetPort());
    std::string url;
    ASSERT_EQ(S_OK, cfg.GetServiceURL(url));
    EXPECT_EQ("http://127.0.0.7/api/", url);
}

TEST_F(Settings, SslTwoBehavesLikeOne) {
    PutDword(kProductPath, L"SSL", 2);
    CConfig cfg;
    EXPECT_EQ(443, cfg.GetPort());
    std::string url;
    ASSERT_EQ(S_OK, cfg.GetServiceURL(url));
    EXPECT_EQ(0u, url.find("https://"));
}

TEST_F(Settings, SyncSizeFiveReadsAsOne) {
    PutDword(kProductPath, L"SyncSize", 5);
    EXPECT_EQ(1u, CConfig().GetSyncSize());
    PutDword(kProductPath, L"SyncSize", 0);
    EXPECT_EQ(0u, CConfig().GetSyncSize());
}

TEST_F(Settings, SettersWriteNumbersThatGettersRead) {
    CConfig cfg;
    cfg.SetSyncQuantum(15);
    cfg.SetSyncAtStartup(1);
    cfg.SetAutoPush(0);
    cfg.SetDeleteOutlookItems(0);
    cfg.SetDeleteHVItems(0);
    cfg.SetHashVersion(CConfig::CURRENT_HASH_VERSION);
    cfg.SetSyncSize(0);
    DWORD v = 0;
    ASSERT_TRUE(ReadDword(kProductPath, L"SyncQuantum", v));
    EXPECT_EQ(15u, v);
    ASSERT_TRUE(ReadDword(kProductPath, L"HashVersion", v));
    EXPECT_EQ(2u, v);
    CConfig other;
    EXPECT_EQ(15u, other.GetSyncQuantum());
    EXPECT_EQ(1u, other.GetSyncAtStartup());
    EXPECT_EQ(0u, other.GetAutoPush());
    EXPECT_EQ(0u, other.GetDeleteOutlookItems());
    EXPECT_EQ(0u, other.GetDeleteHVItems());
    EXPECT_EQ(2u, other.GetHashVersion());
    EXPECT_EQ(0u, other.GetSyncSize());
}

TEST_F(Settings, PerTypeValueNames) {
    PutDword(kProductPath, L"TaskStaleAfter", 7);
    PutDword(kProductPath, L"PurgeHVEvents", 1);
    CConfig cfg;
    EXPECT_EQ(7u, cfg.GetStaleAfter("Task"));
    EXPECT_EQ(30u, cfg.GetStaleAfter("Event"));
    EXPECT_EQ(1u, cfg.GetPurgeHV("Event"));
    EXPECT_EQ(0u, cfg.GetPurgeHV("Task"));

    cfg.SetLastCategory("Task", "Backlog");
    cfg.SetLastWorkspace("Event", "Marketing");
    std::string s;
    ASSERT_TRUE(ReadString(kProductPath, L"LastTaskCategory", s));
    EXPECT_EQ("Backlog", s);
    ASSERT_TRUE(ReadString(kProductPath, L"LastEventWorkspace", s));
    EXPECT_EQ("Marketing", s);
    EXPECT_EQ(S_OK, cfg.GetLastWorkspace("Event", s));
    EXPECT_EQ("Marketing", s);
    EXPECT_EQ(S_OK, cfg.GetLastCategory("Task", s));
    EXPECT_EQ("Backlog", s);
}

TEST_F(Settings, LastSyncIsUtcIsoText) {
    CConfig cfg;
    cfg.SetLastSync("Event");
    std::string stored;
    ASSERT_TRUE(ReadString(kProductPath, L"LastEventSync", stored));
    EXPECT_TRUE(std::regex_match(stored, std::regex(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z)"))) << stored;
    SYSTEMTIME st;
    ::GetSystemTime(&st);
    EXPECT_EQ(std::to_string(st.wYear), stored.substr(0, 4));
    std::string text;
    EXPECT_EQ(S_OK, cfg.GetLastSync("Event", text));
    EXPECT_EQ(stored, text);
}

TEST_F(Settings, TextLongerThan255CharactersReadsAsMissing) {
    PutString(kProductPath, L"LastTaskWorkspace", std::wstring(300, L'w'));
    CConfig cfg;
    std::string text = "before";
    EXPECT_EQ(E_FAIL, cfg.GetLastWorkspace("Task", text));
    EXPECT_EQ("before", text);
    PutString(kProductPath, L"LastTaskWorkspace", std::wstring(255, L'w'));
    EXPECT_EQ(S_OK, cfg.GetLastWorkspace("Task", text));
    EXPECT_EQ(std::string(255, 'w'), text);
}

TEST_F(Settings, NumberOfWrongSizeGivesDefault) {
    hv::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, kProductPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                               key.put(), nullptr));
    const BYTE two[2] = {5, 0};
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), L"MaxOccurrences", 0, REG_BINARY, two, 2));
    EXPECT_EQ(10u, CConfig().GetMaxOccurrences());
}

TEST_F(Settings, EncipheredTextOfFiveCharsTakesSixteenBytes) {
    CConfig cfg;
    cfg.SetSecureKey("Secret", "abcde");
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadValue(kProductPath, L"Secret", type, data));
    EXPECT_EQ(DWORD(REG_BINARY), type);
    ASSERT_EQ(16u, data.size());
    const BYTE plain[10] = {'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0};
    EXPECT_NE(0, memcmp(plain, data.data(), sizeof(plain)));
    std::string back;
    EXPECT_EQ(S_OK, CConfig().GetSecureKey("Secret", back));
    EXPECT_EQ("abcde", back);
}

TEST_F(Settings, EncipheredTextOverStoreCapacityIsRefused) {
    CConfig cfg;
    cfg.SetSecureKey("Secret", "kept");
    cfg.SetSecureKey("Secret", std::string(129, 'x'));  // 258 bytes of UTF-16
    std::string back;
    EXPECT_EQ(S_OK, cfg.GetSecureKey("Secret", back));
    EXPECT_EQ("kept", back);
    EXPECT_EQ(E_INVALIDARG, cfg.WriteSecureKey("Other", std::string(129, 'x')));
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_FALSE(ReadValue(kProductPath, L"Other", type, data));
    // Exactly the capacity fits.
    EXPECT_EQ(S_OK, cfg.WriteSecureKey("Other", std::string(128, 'y')));
    EXPECT_EQ(S_OK, cfg.GetSecureKey("Other", back));
    EXPECT_EQ(std::string(128, 'y'), back);
}

TEST_F(Settings, CredentialsRoundTrip) {
    ASSERT_EQ(S_OK, CConfig().SetCredentials("jane.doe@example.com", "Caf\xE9 s3cret"));
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadValue(kProductPath, L"Credentials", type, data));
    EXPECT_EQ(DWORD(REG_BINARY), type);
    EXPECT_EQ(0u, data.size() % 8);
    std::string user, password;
    ASSERT_EQ(S_OK, CConfig().GetCredentials(user, password));
    EXPECT_EQ("jane.doe@example.com", user);
    EXPECT_EQ("Caf\xE9 s3cret", password);
}

TEST_F(Settings, PasswordContainingTabIsReadBackWhole) {
    CConfig cfg;
    ASSERT_EQ(S_OK, cfg.SetCredentials("bob", "pa\tss\tword"));
    std::string user, password;
    ASSERT_EQ(S_OK, cfg.GetCredentials(user, password));
    EXPECT_EQ("bob", user);
    EXPECT_EQ("pa\tss\tword", password);
}

TEST_F(Settings, StoredTextWithoutTabFailsGetCredentials) {
    CConfig cfg;
    cfg.SetSecureKey("Credentials", "no-separator");
    std::string user = "u", password = "p";
    EXPECT_EQ(E_FAIL, cfg.GetCredentials(user, password));
    EXPECT_EQ("u", user);
    EXPECT_EQ("p", password);
}

TEST_F(Settings, OverlongCredentialsAreRefusedAndNothingIsWritten) {
    CConfig cfg;
    // 64 + TAB + 64 = 129 characters: one too many.
    EXPECT_FAILED(cfg.SetCredentials(std::string(64, 'u'), std::string(64, 'p')));
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_FALSE(ReadValue(kProductPath, L"Credentials", type, data));

    // Earlier credentials survive a refused change.
    ASSERT_EQ(S_OK, cfg.SetCredentials("old", "pw"));
    EXPECT_FAILED(cfg.SetCredentials("old", std::string(200, 'p')));
    std::string user, password;
    ASSERT_EQ(S_OK, cfg.GetCredentials(user, password));
    EXPECT_EQ("pw", password);

    // 63 + TAB + 64 = 128 characters fit exactly.
    ASSERT_EQ(S_OK, cfg.SetCredentials(std::string(63, 'u'), std::string(64, 'p')));
    ASSERT_EQ(S_OK, cfg.GetCredentials(user, password));
    EXPECT_EQ(std::string(63, 'u'), user);
    EXPECT_EQ(std::string(64, 'p'), password);
}

TEST_F(Settings, CmdBarStateWithTwoValuesFillsTwoFieldsAndFails) {
    PutDword(kProductPath, L"CmdBarTop", 120);
    PutDword(kProductPath, L"CmdBarLeft", 340);
    CMDBAR_STATE state;
    state.position = 77;
    EXPECT_EQ(E_FAIL, CConfig().GetCmdBarState(state));
    EXPECT_EQ(120u, state.top);
    EXPECT_EQ(340u, state.left);
    EXPECT_EQ(77u, state.position);

    PutDword(kProductPath, L"CmdBarPos", 1);
    PutDword(kProductPath, L"CmdBarRowIndex", 3);
    PutDword(kProductPath, L"CmdBarVisible", 1);
    EXPECT_EQ(S_OK, CConfig().GetCmdBarState(state));
    EXPECT_EQ(1u, state.position);
    EXPECT_EQ(3u, state.rowIndex);
    EXPECT_EQ(1u, state.visible);
}

TEST_F(Settings, LogXmlIsWrittenBackAsZero) {
    CConfig cfg;
    EXPECT_EQ(0u, cfg.GetLogXML());
    DWORD v = 99;
    ASSERT_TRUE(ReadDword(kAdvancedPath, L"LogXML", v));
    EXPECT_EQ(0u, v);
    PutDword(kAdvancedPath, L"LogXML", 1);
    EXPECT_EQ(1u, cfg.GetLogXML());
}

TEST_F(Settings, FindAddinGivesFolderWithTrailingBackslash) {
    // Wine's HKEY_CLASSES_ROOT does not merge HKCU\Software\Classes: register the class where
    // the class root itself stores it, and put back whatever was there before.
    const wchar_t* clsidKey = L"CLSID\\{C0CB5E26-9758-4bcc-8CF7-A7CE72100B7F}";
    const std::wstring inproc = std::wstring(clsidKey) + L"\\InprocServer32";
    std::wstring saved;
    bool hadValue = false;
    {
        hv::unique_hkey key;
        if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, inproc.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS) {
            wchar_t buf[MAX_PATH + 1] = {};
            DWORD size = MAX_PATH * sizeof(wchar_t);
            hadValue = ::RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size) ==
                       ERROR_SUCCESS;
            saved = buf;
        }
    }
    auto setDefault = [&](const std::wstring& value) {
        hv::unique_hkey key;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, inproc.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                   nullptr, key.put(), nullptr));
        ASSERT_EQ(ERROR_SUCCESS,
                  ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   DWORD((value.size() + 1) * sizeof(wchar_t))));
    };
    setDefault(L"C:\\Program Files\\Halvane\\HvOut.dll");
    CConfig cfg;
    std::string folder = "junk";
    HRESULT hr = cfg.FindAddin(folder);
    if (hadValue) {
        setDefault(saved);
    } else {
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, clsidKey);
        ::RegDeleteKeyW(HKEY_CLASSES_ROOT, clsidKey);
    }
    ASSERT_EQ(S_OK, hr);
    EXPECT_EQ("C:\\Program Files\\Halvane\\", folder);

    if (!hadValue) {
        folder = "junk";
        EXPECT_EQ(E_FAIL, cfg.FindAddin(folder));
        EXPECT_EQ("", folder);
    }
}

TEST_F(Settings, RibbonResourceNeedsExactIdentifier) {
    EXPECT_EQ(26065u, CConfig::GetRibbonResource("Microsoft.Outlook.Mail.Read"));
    EXPECT_EQ(26069u, CConfig::GetRibbonResource("Microsoft.Outlook.Appointment"));
    EXPECT_EQ(26068u, CConfig::GetRibbonResource("Microsoft.Outlook.Task"));
    EXPECT_EQ(26066u, CConfig::GetRibbonResource("Microsoft.Outlook.Explorer"));
    EXPECT_EQ(0u, CConfig::GetRibbonResource("microsoft.outlook.explorer"));
    EXPECT_EQ(0u, CConfig::GetRibbonResource("Microsoft.Outlook.Mail.Compose"));
    EXPECT_EQ(0u, CConfig::GetRibbonResource(nullptr));
    EXPECT_EQ(26020u, CConfig::GetImageResource());
}

TEST_F(Settings, DeleteAllSettingsKeepsCompanyKey) {
    CConfig cfg;
    cfg.SetSyncQuantum(5);
    cfg.GetLogXML();
    ASSERT_TRUE(KeyExists(kAdvancedPath));
    cfg.DeleteAllSettings();
    EXPECT_FALSE(KeyExists(kProductPath));
    EXPECT_TRUE(KeyExists(kCompanyPath));
    EXPECT_EQ(120u, CConfig().GetSyncQuantum());
}

TEST_F(Settings, NumberGetKeyLeavesOutputUntouchedWhenMissing) {
    CConfig cfg;
    DWORD v = 4242;
    EXPECT_EQ(E_FAIL, cfg.GetKey("NoSuchValue", v));
    EXPECT_EQ(4242u, v);
    BYTE buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    DWORD size = sizeof(buf);
    EXPECT_EQ(E_FAIL, cfg.GetKey("NoSuchValue", buf, size));
    for (BYTE b : buf) EXPECT_EQ(0, b);  // zero-filled first
}

TEST_F(Settings, IntegerLiteralsAreStoredAsNumbers) {
    CConfig cfg;
    cfg.SetKey("SyncAtStartup", 0);
    cfg.SetKey("MaxOccurrences", 25L);
    cfg.SetKey("LastTaskWorkspace", "Ops");
    DWORD v = 9;
    ASSERT_TRUE(ReadDword(kProductPath, L"SyncAtStartup", v));
    EXPECT_EQ(0u, v);
    ASSERT_TRUE(ReadDword(kProductPath, L"MaxOccurrences", v));
    EXPECT_EQ(25u, v);
    std::string s;
    ASSERT_TRUE(ReadString(kProductPath, L"LastTaskWorkspace", s));
    EXPECT_EQ("Ops", s);
}

}  // namespace
