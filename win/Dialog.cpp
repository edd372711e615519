#include "win/Dialog.h"
#include "win/Strings.h"

namespace hv {

CDialogBase::~CDialogBase() {
    // A modeless dialog still on screen must not call back into a dead object.
    if (m_hWnd && !m_modal) {
        ::SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
        ::DestroyWindow(m_hWnd);
    }
}

INT_PTR CDialogBase::DoModal(HWND parent) {
    m_modal = true;
    return ::DialogBoxParamA(ThisModule(), MAKEINTRESOURCEA(m_idd), parent, &CDialogBase::StaticProc,
                             reinterpret_cast<LPARAM>(this));
}

HWND CDialogBase::Create(HWND parent) {
    m_modal = false;
    return ::CreateDialogParamA(ThisModule(), MAKEINTRESOURCEA(m_idd), parent, &CDialogBase::StaticProc,
                                reinterpret_cast<LPARAM>(this));
}

void CDialogBase::EndDialog(INT_PTR result) {
    if (!m_hWnd) return;
    if (m_modal)
        ::EndDialog(m_hWnd, result);
    else
        ::DestroyWindow(m_hWnd);
}

std::string CDialogBase::GetItemText(int id) const {
    HWND item = GetItem(id);
    if (!item) return std::string();
    int n = ::GetWindowTextLengthW(item);
    std::wstring w(static_cast<size_t>(n) + 1, L'\0');
    n = ::GetWindowTextW(item, &w[0], n + 1);
    w.resize(static_cast<size_t>(n > 0 ? n : 0));
    return ToAnsi(w);
}

void CDialogBase::SetItemText(int id, const std::string& text) const {
    ::SetDlgItemTextW(m_hWnd, id, ToWide(text).c_str());
}

bool CDialogBase::OnCommand(WORD id, WORD code, HWND control) {
    (void)code;
    (void)control;
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

LRESULT CDialogBase::OnNotify(NMHDR* header, bool& handled) {
    (void)header;
    handled = false;
    return 0;
}

INT_PTR CDialogBase::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
    (void)msg;
    (void)wParam;
    (void)lParam;
    handled = false;
    return 0;
}

INT_PTR CALLBACK CDialogBase::StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CDialogBase* self = nullptr;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CDialogBase*>(lParam);
        ::SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        if (self) self->m_hWnd = hwnd;
    } else {
        self = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    INT_PTR result = FALSE;
    try {
        result = self->DialogProc(msg, wParam, lParam);
    } catch (...) {
        self->OnHandlerException();
    }
    if (msg == WM_NCDESTROY) {
        ::SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    return result;
}

INT_PTR CDialogBase::DialogProc(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
        case WM_NOTIFY: {
            bool handled = false;
            LRESULT r = OnNotify(reinterpret_cast<NMHDR*>(lParam), handled);
            if (handled) ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, r);
            return handled ? TRUE : FALSE;
        }
        case WM_TIMER:
            OnTimer(static_cast<UINT_PTR>(wParam));
            return TRUE;
        case WM_DESTROY:
            OnDestroy();
            return FALSE;
        default: {
            bool handled = false;
            INT_PTR r = OnMessage(msg, wParam, lParam, handled);
            return handled ? r : FALSE;
        }
    }
}

}  // namespace hv
