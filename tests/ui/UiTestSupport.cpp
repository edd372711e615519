#include "UiTestSupport.h"
#include <commctrl.h>
#include <cstdlib>
#include "common/Config.h"
#include "service/Protocol.h"
#include "service/PumpOp.h"
#include "ui/ProtocolUI.h"
#include "win/Strings.h"

std::string ServiceAddress() {
    const char* address = std::getenv("HV_SERVICE_ADDRESS");
    return address && *address ? std::string(address) : hvtest::Loopback(20);
}

std::string ConnectToService(const char* address, bool ui) {
    CConfig config;
    config.DeleteAllSettings();
    config.SetKey("Host", address);
    config.SetKey("SSL", static_cast<DWORD>(0));
    SetTheProtocol(ui ? new CProtocolUI(0) : new CProtocol(0));
    CWebService::FireUpProtocol(0);
    return TheAPI() ? TheAPI()->m_strServiceURL : std::string();
}

void DisconnectService() {
    SetTheProtocol(nullptr);
}

namespace {
std::vector<std::string> g_texts;
std::vector<int> g_positions;

std::string ClassOf(HWND hwnd) {
    char name[64] = {};
    ::GetClassNameA(hwnd, name, sizeof(name));
    return name;
}
}  // namespace

CPumpWatch::CPumpWatch() {
    g_texts.clear();
    g_positions.clear();
    m_hHook = ::SetWindowsHookExW(WH_CALLWNDPROC, &CPumpWatch::Hook, nullptr, ::GetCurrentThreadId());
}

CPumpWatch::~CPumpWatch() {
    if (m_hHook) ::UnhookWindowsHookEx(m_hHook);
}

LRESULT CALLBACK CPumpWatch::Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const CWPSTRUCT* msg = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (msg->message == SB_SETTEXTW && LOBYTE(LOWORD(msg->wParam)) == 1 &&
            ClassOf(msg->hwnd) == "msctls_statusbar32") {
            const wchar_t* text = reinterpret_cast<const wchar_t*>(msg->lParam);
            std::string s = text ? hv::ToAnsi(text) : std::string();
            if (g_texts.empty() || g_texts.back() != s) g_texts.push_back(s);
        } else if (msg->message == PBM_SETPOS && ClassOf(msg->hwnd) == "msctls_progress32") {
            int pos = static_cast<int>(msg->wParam);
            if (g_positions.empty() || g_positions.back() != pos) g_positions.push_back(pos);
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

std::vector<std::string> CPumpWatch::Texts() const {
    return g_texts;
}
std::vector<int> CPumpWatch::Positions() const {
    return g_positions;
}

std::string StatusPaneText(HWND dialog, int pane) {
    HWND bar = ::GetDlgItem(dialog, AFX_IDW_STATUS_BAR);
    if (!bar) return "<no status bar>";
    wchar_t text[512] = {};
    LRESULT info = ::SendMessageW(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(pane), 0);
    if (LOWORD(info) >= 511) return "<too long>";
    ::SendMessageW(bar, SB_GETTEXTW, static_cast<WPARAM>(pane), reinterpret_cast<LPARAM>(text));
    return hv::ToAnsi(text);
}

int ProgressPos(HWND dialog) {
    HWND bar = ::GetDlgItem(dialog, AFX_IDW_STATUS_BAR);
    HWND progress = bar ? ::FindWindowExW(bar, nullptr, PROGRESS_CLASSW, nullptr) : nullptr;
    return progress ? static_cast<int>(::SendMessageW(progress, PBM_GETPOS, 0, 0)) : -1;
}
