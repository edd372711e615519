#include "OptionsTestSupport.h"
#include <algorithm>
#include <cstdlib>
#include <mutex>
#include "common/Config.h"
#include "win/Strings.h"
#include "win/UniqueAny.h"

namespace hvtest {

namespace {

hv::unique_hkey OpenSettings(REGSAM access, bool create) {
    hv::unique_hkey key;
    if (create)
        ::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsPath, 0, nullptr, 0, access, nullptr, key.put(), nullptr);
    else
        ::RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsPath, 0, access, key.put());
    return key;
}

std::mutex g_recordLock;
std::vector<std::string> g_recorded;
int g_recordId = 0;

}  // namespace

void DeleteSettings() {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsPath);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsPath);
}

void PutNumber(const char* name, DWORD value) {
    hv::unique_hkey key = OpenSettings(KEY_SET_VALUE, true);
    ::RegSetValueExW(key.get(), hv::ToWide(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof(value));
}

void PutText(const char* name, const std::string& value) {
    hv::unique_hkey key = OpenSettings(KEY_SET_VALUE, true);
    std::wstring text = hv::ToWide(value);
    ::RegSetValueExW(key.get(), hv::ToWide(name).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void DeleteValue(const char* name) {
    hv::unique_hkey key = OpenSettings(KEY_SET_VALUE, false);
    if (key) ::RegDeleteValueW(key.get(), hv::ToWide(name).c_str());
}

bool GetNumber(const char* name, DWORD& value) {
    hv::unique_hkey key = OpenSettings(KEY_QUERY_VALUE, false);
    if (!key) return false;
    DWORD type = 0;
    DWORD size = sizeof(value);
    return ::RegQueryValueExW(key.get(), hv::ToWide(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                              &size) == ERROR_SUCCESS &&
           type == REG_DWORD;
}

bool ValueExists(const char* name) {
    hv::unique_hkey key = OpenSettings(KEY_QUERY_VALUE, false);
    return key &&
           ::RegQueryValueExW(key.get(), hv::ToWide(name).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool GetStoredCredentials(std::string& user, std::string& password) {
    CConfig config;
    return SUCCEEDED(config.GetCredentials(user, password));
}

void StoreCredentials(const std::string& user, const std::string& password) {
    CConfig config;
    config.SetCredentials(user, password);
}

std::string ServiceAddress() {
    const char* address = std::getenv("HV_SERVICE_ADDRESS");
    return address && *address ? std::string(address) : Loopback(60);
}

std::string DeadAddress() {
    return Loopback(61);
}

void UseService(const std::string& address) {
    PutText("Host", address);
    PutNumber("SSL", 0);
}

std::wstring LibraryPath() {
    std::string path = std::string("Z:") + HV_OPTIONS_DLL;
    std::replace(path.begin(), path.end(), '/', '\\');
    return hv::ToWide(path);
}

DWORD RunRegsvr32(bool unregister) {
    std::wstring command = L"regsvr32.exe /s ";
    if (unregister) command += L"/u ";
    command += L"\"" + LibraryPath() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0xFFFFFFFF;
    hv::unique_handle processHandle(process.hProcess);
    hv::unique_handle threadHandle(process.hThread);
    if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) return 0xFFFFFFFE;
    DWORD code = 0xFFFFFFFD;
    ::GetExitCodeProcess(process.hProcess, &code);
    return code;
}

TextRecorder::TextRecorder(DWORD thread, int controlId) {
    std::lock_guard<std::mutex> lock(g_recordLock);
    g_recorded.clear();
    g_recordId = controlId;
    m_hHook = ::SetWindowsHookExW(WH_CALLWNDPROC, &TextRecorder::Hook, nullptr, thread);
}

TextRecorder::~TextRecorder() {
    if (m_hHook) ::UnhookWindowsHookEx(m_hHook);
}

std::vector<std::string> TextRecorder::Texts() const {
    std::lock_guard<std::mutex> lock(g_recordLock);
    return g_recorded;
}

LRESULT CALLBACK TextRecorder::Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const CWPSTRUCT* msg = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (msg->message == WM_SETTEXT && ::GetDlgCtrlID(msg->hwnd) == g_recordId && msg->lParam) {
            std::lock_guard<std::mutex> lock(g_recordLock);
            // The dialog manager sends the wide form for SetDlgItemTextW.
            g_recorded.push_back(hv::ToAnsi(reinterpret_cast<const wchar_t*>(msg->lParam)));
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace hvtest
