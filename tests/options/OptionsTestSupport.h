#pragma once
// Shared pieces of the options page tests: the settings key, the reference service's address
// and a recorder of what the page writes into its result box.
#include <windows.h>
#include <string>
#include <vector>
#include "TestAddress.h"

namespace hvtest {

constexpr const wchar_t* kSettingsPath = L"Software\\Halvane\\Halvane for Outlook";

void DeleteSettings();
void PutNumber(const char* name, DWORD value);
void PutText(const char* name, const std::string& value);
void DeleteValue(const char* name);
// False when the value is missing or not a number.
bool GetNumber(const char* name, DWORD& value);
bool ValueExists(const char* name);
// The stored "Credentials" as the settings store reads them; false when there are none.
bool GetStoredCredentials(std::string& user, std::string& password);
void StoreCredentials(const std::string& user, const std::string& password);

// The reference service of this test program (HV_SERVICE_ADDRESS, set by the test fixture),
// and an address of this tree's network where nothing listens.
std::string ServiceAddress();
std::string DeadAddress();
// Points the settings at `address`, plain HTTP.
void UseService(const std::string& address);

// Whether a control of a dialog is meant to be seen (WS_VISIBLE), whatever its parents are.
inline bool HasVisibleStyle(HWND dialog, int id) {
    return (::GetWindowLongW(::GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

// The built HvToolsOpts.dll as a Windows path (Wine's Z: drive is the Unix root), and
// regsvr32 run on it in a process of its own; its exit code.
std::wstring LibraryPath();
DWORD RunRegsvr32(bool unregister);

// Records, from another thread, the texts set into one control of a window of `thread`.
class TextRecorder {
public:
    TextRecorder(DWORD thread, int controlId);
    ~TextRecorder();
    TextRecorder(const TextRecorder&) = delete;
    TextRecorder& operator=(const TextRecorder&) = delete;
    std::vector<std::string> Texts() const;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK m_hHook = nullptr;
};

}  // namespace hvtest
