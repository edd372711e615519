// The 64-bit Windows Installer package in the test prefix: it writes exactly the keys and values
// the libraries' own DllRegisterServer writes, replaces an older release, is what the simulated
// Outlook loads the add-in from, repairs a deleted DLL, keeps the user's settings when an
// upgrade removes it, and otherwise uninstalls without a trace.
#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "win/Strings.h"
#include "win/UniqueAny.h"

namespace {

constexpr const wchar_t* kProductCode = L"{CC83D1C9-4915-4BB5-8B62-8EC45505B7FD}";
// The product code the older test package (HV_OLD_MSI) carries.
constexpr const wchar_t* kOldProductCode = L"{5E0C7A9B-21D4-4F3A-9C86-B7E1D2F43A10}";
constexpr const wchar_t* kInstallDir = L"C:\\Program Files\\Halvane\\Halvane for Outlook";
constexpr const wchar_t* kCompanyDir = L"C:\\Program Files\\Halvane";
constexpr const wchar_t* kSettingsKey = L"Software\\Halvane\\Halvane for Outlook";

// Everything either library's registration writes or removes, below the class roots of both
// hives (as Software\Classes\...) and as plain paths of HKLM and HKCU.
const std::vector<std::wstring> kClassKeys = {
    L"CLSID\\{C0CB5E26-9758-4bcc-8CF7-A7CE72100B7F}",
    L"Halvane.OutlookAddin",
    L"AppID\\{0880FD8A-BBC0-4CA2-8BCF-6B096DDD371D}",
    L"AppID\\HvOut.DLL",
    L"TypeLib\\{A780B1D7-BF95-471B-8450-DAF81DF2E8F3}",
    L"CLSID\\{A2DBE406-53C5-4F88-BE29-35DD02442383}",
    L"HvToolsOpts.PropPage",
    L"HvToolsOpts.PropPage.1",
    L"AppID\\{98A7A9CD-E666-4CAD-9708-23D7A88A8262}",
    L"AppID\\HvToolsOpts.DLL",
    L"TypeLib\\{29465EE3-42B3-49E2-A83B-53F5D80ADA05}",
    L"Interface\\{844A31FE-C89A-41A7-80BA-F53490027E18}",
};
const std::vector<std::wstring> kPlainKeys = {
    L"Software\\Microsoft\\Office\\Outlook\\Addins\\Halvane.OutlookAddin",
    L"Software\\Microsoft\\Office\\Word\\Addins\\Halvane.OutlookAddin",
    kSettingsKey,
};

std::wstring WinPath(const char* unixPath) {
    std::wstring path = L"Z:" + hv::ToWide(std::string(unixPath));
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// Runs a command line in this prefix and returns its exit code (~0u when it did not run).
DWORD RunProgram(const std::wstring& commandLine) {
    std::wstring cmd = commandLine;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return ~0u;
    hv::unique_handle process(pi.hProcess), thread(pi.hThread);
    if (::WaitForSingleObject(pi.hProcess, 180000) != WAIT_OBJECT_0) return ~0u;
    DWORD code = ~0u;
    ::GetExitCodeProcess(pi.hProcess, &code);
    return code;
}

// Runs a program with its standard output in a file and returns that output.
std::string RunForOutput(const std::wstring& commandLine) {
    wchar_t dir[MAX_PATH] = {}, file[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, dir);
    ::GetTempFileNameW(dir, L"hvi", 0, file);
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    std::string output;
    {
        hv::unique_hfile out(::CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr));
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = out.get();
        si.hStdError = out.get();
        PROCESS_INFORMATION pi = {};
        std::wstring cmd = commandLine;
        if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
            return output;
        hv::unique_handle process(pi.hProcess), thread(pi.hThread);
        ::WaitForSingleObject(pi.hProcess, 180000);
    }
    hv::unique_hfile in(
        ::CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    char buf[4096];
    DWORD read = 0;
    while (in && ::ReadFile(in.get(), buf, sizeof(buf), &read, nullptr) && read) output.append(buf, read);
    in.reset();
    ::DeleteFileW(file);
    return output;
}

DWORD Msiexec(const std::wstring& arguments) {
    return RunProgram(L"msiexec.exe " + arguments + L" /qn");
}

bool Installed(const wchar_t* productCode) {
    return ::MsiQueryProductStateW(productCode) == INSTALLSTATE_DEFAULT;
}

bool FileExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct View {
    HKEY root;
    REGSAM wow;
    const char* name;
};
const View kViews[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, "HKLM"},
                       {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, "HKLM32"},
                       {HKEY_CURRENT_USER, KEY_WOW64_64KEY, "HKCU"}};

// One line per key ("<key>\") and per value ("<key>\<name>=<type>:<data>"), key names in lower
// case (the registry ignores their case). The loader's "\\?\" prefix on a path is dropped: it is
// how Wine's type library registration spells the library's path.
void Walk(const View& view, const std::wstring& path, const std::string& label, std::vector<std::string>& out) {
    hv::unique_hkey key;
    if (::RegOpenKeyExW(view.root, path.c_str(), 0, KEY_READ | view.wow, key.put()) != ERROR_SUCCESS) return;
    out.push_back(Lower(label) + "\\");
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLen = 256, type = 0;
        BYTE data[2048];
        DWORD size = sizeof(data);
        if (::RegEnumValueW(key.get(), i, name, &nameLen, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        std::string text;
        if (type == REG_DWORD) {
            text = "dword:" + std::to_string(*reinterpret_cast<DWORD*>(data));
        } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
            std::wstring wide(reinterpret_cast<wchar_t*>(data), size / sizeof(wchar_t));
            if (!wide.empty() && wide.back() == L'\0') wide.pop_back();
            if (wide.rfind(L"\\\\?\\", 0) == 0) wide.erase(0, 4);
            text = (type == REG_SZ ? "sz:" : "expand:") + hv::ToAnsi(wide);
        } else {
            text = "type" + std::to_string(type) + ":" + std::to_string(size) + " bytes";
        }
        out.push_back(Lower(label) + "\\" + (nameLen ? hv::ToAnsi(name) : std::string("@")) + "=" + text);
    }
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLen = 256;
        if (::RegEnumKeyExW(key.get(), i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        subkeys.emplace_back(name, nameLen);
    }
    for (const std::wstring& sub : subkeys) Walk(view, path + L"\\" + sub, label + "\\" + hv::ToAnsi(sub), out);
}

std::vector<std::string> Snapshot() {
    std::vector<std::string> out;
    for (const View& view : kViews) {
        for (const std::wstring& key : kClassKeys)
            Walk(view, L"Software\\Classes\\" + key, std::string(view.name) + "\\classes\\" + hv::ToAnsi(key), out);
        for (const std::wstring& key : kPlainKeys)
            Walk(view, key, std::string(view.name) + "\\" + hv::ToAnsi(key), out);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void DeleteAllKeys() {
    for (const View& view : kViews) {
        hv::unique_hkey software;
        if (::RegOpenKeyExW(view.root, L"Software", 0, KEY_ALL_ACCESS | view.wow, software.put()) != ERROR_SUCCESS)
            continue;
        for (const std::wstring& key : kClassKeys) ::RegDeleteTreeW(software.get(), (L"Classes\\" + key).c_str());
        for (const std::wstring& key : kPlainKeys) ::RegDeleteTreeW(software.get(), key.substr(9).c_str());
    }
}

void SetOutlookVersion(int major) {
    hv::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, L"Outlook.Application\\CurVer", 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
    const std::wstring value = L"Outlook.Application." + std::to_wstring(major);
    ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void WriteSetting(const wchar_t* name, DWORD value) {
    hv::unique_hkey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                               key.put(), nullptr));
    ::RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

DWORD ReadSetting(const wchar_t* name) {
    DWORD value = 0, size = sizeof(value);
    if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return ~0u;
    return value;
}

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

class Package : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A run that stopped half-way leaves the product installed or the files registered.
        for (const wchar_t* code : {kProductCode, kOldProductCode})
            if (Installed(code)) Msiexec(std::wstring(L"/x ") + code);
        DeleteAllKeys();
    }
    static void TearDownTestSuite() {
        for (const wchar_t* code : {kProductCode, kOldProductCode})
            if (Installed(code)) Msiexec(std::wstring(L"/x ") + code);
    }
    static std::wstring Msi() { return WinPath(HV_MSI); }
};

}  // namespace

TEST_F(Package, WritesWhatSelfRegistrationWritesAndReplacesAnOlderRelease) {
    SetOutlookVersion(14);
    // The release DLLs of the package, registered by themselves from where it installs them.
    ::CreateDirectoryW(kCompanyDir, nullptr);
    ::CreateDirectoryW(kInstallDir, nullptr);
    const std::wstring stage = WinPath(HV_STAGE_DIR);
    for (const wchar_t* name : {L"HvOut.dll", L"HvToolsOpts.dll"})
        ASSERT_TRUE(
            ::CopyFileW((stage + L"\\" + name).c_str(), (std::wstring(kInstallDir) + L"\\" + name).c_str(), FALSE));
    const std::wstring dlls = Quoted(std::wstring(kInstallDir) + L"\\HvOut.dll") + L" " +
                              Quoted(std::wstring(kInstallDir) + L"\\HvToolsOpts.dll");
    ASSERT_EQ(0u, RunProgram(L"regsvr32.exe /s " + dlls));
    const std::vector<std::string> selfRegistered = Snapshot();
    ASSERT_EQ(0u, RunProgram(L"regsvr32.exe /s /u " + dlls));
    EXPECT_EQ(std::vector<std::string>{}, Snapshot());
    for (const wchar_t* name : {L"HvOut.dll", L"HvToolsOpts.dll"})
        ASSERT_TRUE(::DeleteFileW((std::wstring(kInstallDir) + L"\\" + name).c_str()));
    ::RemoveDirectoryW(kInstallDir);
    ::RemoveDirectoryW(kCompanyDir);
    // The class, ProgID, AppID and type library keys of both, and the add-in key of Outlook 14.
    EXPECT_GE(selfRegistered.size(), 50u);
    EXPECT_NE(
        selfRegistered.end(),
        std::find(selfRegistered.begin(), selfRegistered.end(),
                  "hklm\\software\\microsoft\\office\\outlook\\addins\\halvane.outlookaddin\\LoadBehavior=dword:3"));

    // An older release first; the current package replaces it (a major upgrade).
    ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(WinPath(HV_OLD_MSI))));
    ASSERT_TRUE(Installed(kOldProductCode));
    ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(Msi())));
    EXPECT_TRUE(Installed(kProductCode));
    EXPECT_FALSE(Installed(kOldProductCode));

    EXPECT_EQ(selfRegistered, Snapshot());
    EXPECT_TRUE(FileExists(std::wstring(kInstallDir) + L"\\HvOut.dll"));
    EXPECT_TRUE(FileExists(std::wstring(kInstallDir) + L"\\HvToolsOpts.dll"));
}

TEST_F(Package, IsLoadedByOutlookRepairsADeletedDllKeepsSettingsOnUpgradeAndUninstallsWithoutATrace) {
    SetOutlookVersion(14);
    if (!Installed(kProductCode)) {
        ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(Msi())));
    }

    // Outlook finds the add-in through the keys the package wrote.
    wchar_t dir[MAX_PATH] = {}, script[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, dir);
    ::GetTempFileNameW(dir, L"hvs", 0, script);
    {
        hv::unique_hfile file(::CreateFileW(script, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        const char text[] = "version 14\nstart\naddins\nquit\n";
        DWORD written = 0;
        ::WriteFile(file.get(), text, sizeof(text) - 1, &written, nullptr);
    }
    const std::string output = RunForOutput(Quoted(WinPath(HV_OUTLOOK_SIM)) + L" --script " + Quoted(script));
    ::DeleteFileW(script);
    EXPECT_NE(std::string::npos, output.find("add-ins connected: 1")) << output;
    EXPECT_NE(std::string::npos, output.find("Halvane.OutlookAddin HKLM LoadBehavior=3 connected")) << output;
    EXPECT_NE(std::string::npos, output.find("leaks: none")) << output;

    // Repair (what "msiexec /fa" asks for) puts back a DLL the user deleted.
    const std::wstring hvOut = std::wstring(kInstallDir) + L"\\HvOut.dll";
    ASSERT_TRUE(::DeleteFileW(hvOut.c_str()));
    ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(Msi()) + L" REINSTALL=ALL REINSTALLMODE=amus"));
    EXPECT_TRUE(FileExists(hvOut));

    // Settings the product wrote, and add-in keys unregistration removes wherever they are.
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        hv::unique_hkey key;
        ::RegCreateKeyExW(root, L"Software\\Microsoft\\Office\\Word\\Addins\\Halvane.OutlookAddin", 0, nullptr, 0,
                          KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    }
    WriteSetting(L"SyncQuantum", 15);

    // Removed by a newer version's upgrade (Windows Installer then sets UPGRADINGPRODUCTCODE;
    // Wine's upgrade does not, so it is given here): the user's settings stay.
    ASSERT_EQ(0u, Msiexec(L"/x " + Quoted(Msi()) + L" UPGRADINGPRODUCTCODE=" + kOldProductCode));
    EXPECT_FALSE(Installed(kProductCode));
    EXPECT_EQ(15u, ReadSetting(L"SyncQuantum"));

    // Uninstalled: nothing of the product is left, settings included.
    ASSERT_EQ(0u, Msiexec(L"/i " + Quoted(Msi())));
    ASSERT_EQ(0u, Msiexec(L"/x " + Quoted(Msi())));
    EXPECT_FALSE(Installed(kProductCode));
    EXPECT_EQ(std::vector<std::string>{}, Snapshot());
    EXPECT_FALSE(FileExists(kInstallDir));
    EXPECT_FALSE(FileExists(kCompanyDir));
}
