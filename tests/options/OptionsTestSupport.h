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
