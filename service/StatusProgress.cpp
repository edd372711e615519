#include "service/StatusProgress.h"
#include <commctrl.h>
#include "win/Strings.h"

CStatusProgress::~CStatusProgress() {
    Destroy();
}

void CStatusProgress::Destroy() noexcept {
    if (m_hWnd && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
}

RECT CStatusProgress::PaneRect(HWND statusBar, int pane) {
    RECT rc = {};
    if (!::SendMessageW(statusBar, SB_GETRECT, static_cast<WPARAM>(pane), reinterpret_cast<LPARAM>(&rc)) ||
        rc.right <= rc.left) {
        // The pane has no room yet: a thin strip at the bar's right edge until the next layout.
        RECT bar = {};
        ::GetClientRect(statusBar, &bar);
        rc = bar;
        rc.left = bar.right > 4 ? bar.right - 4 : 0;
    }
    return rc;
}

bool CStatusProgress::Create(HWND statusBar, int pane, UINT id) {
    Destroy();
    RECT rc = PaneRect(statusBar, pane);
    m_hWnd = ::CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, rc.left, rc.top,
                               rc.right - rc.left, rc.bottom - rc.top, statusBar,
                               reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), hv::ThisModule(), nullptr);
    ::SendMessageW(statusBar, SB_SETTEXTW, static_cast<WPARAM>(pane), reinterpret_cast<LPARAM>(L""));
    return m_hWnd != nullptr;
}

void CStatusProgress::Reposition(HWND statusBar, int pane) {
    if (!m_hWnd) return;
    RECT rc = PaneRect(statusBar, pane);
    ::MoveWindow(m_hWnd, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, TRUE);
}

void CStatusProgress::SetRange(int low, int high) {
    if (m_hWnd) ::SendMessageW(m_hWnd, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void CStatusProgress::SetPos(int pos) {
    if (m_hWnd) ::SendMessageW(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

int CStatusProgress::GetPos() const {
    return m_hWnd ? static_cast<int>(::SendMessageW(m_hWnd, PBM_GETPOS, 0, 0)) : 0;
}
