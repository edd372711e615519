#pragma once
// Shared pieces of the user-interface tests: the reference service's address, a session
// against it, and watching what the operation pump shows.
#include <windows.h>
#include <string>
#include <vector>
#include "TestAddress.h"

// The reference service of this test program (HV_SERVICE_ADDRESS, set by the test fixture).
std::string ServiceAddress();

// Points the settings at `address` (plain HTTP) and brings the protocol object up; `ui` makes
// it the prompting protocol object. Returns the service URL.
std::string ConnectToService(const char* address, bool ui = false);
void DisconnectService();

// Records, on the calling thread, what the pump writes into status bars (pane 1) and progress
// bars while it is alive.
class CPumpWatch {
public:
    CPumpWatch();
    ~CPumpWatch();
    CPumpWatch(const CPumpWatch&) = delete;
    CPumpWatch& operator=(const CPumpWatch&) = delete;
    // Consecutive repeats (a step run chunk by chunk) folded into one.
    std::vector<std::string> Texts() const;
    std::vector<int> Positions() const;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
    HHOOK m_hHook = nullptr;
};

// Status bar pane text and progress position of a dialog that runs the pump.
std::string StatusPaneText(HWND dialog, int pane);
int ProgressPos(HWND dialog);

// The test dialog that hosts a workspace tree (1001) and a type-ahead combo box (1002).
constexpr UINT IDD_TEST_PATHS = 27900;
constexpr int IDC_TEST_TREE = 1001;
constexpr int IDC_TEST_COMBO = 1002;
