#include "ui/DlgLogin.h"
#include "ui/UiRes.h"
#include "service/WebSvrAPI.h"

CDlgLogin::CDlgLogin(CWebSvrAPI* api, long itemClass, HWND parent) noexcept
    : CDialogBase(IDD_LOGIN), CPumpOp(api), m_lClass(itemClass), m_hParent(parent) {}

BOOL CDlgLogin::OnInitDialog() {
    m_fRemember = 1;
    SetItemText(IDC_USERNAME, m_strUser);
    SetItemText(IDC_PASSWORD, m_strPassword);
    SetChecked(IDC_REMEMBER, true);
    m_banner.Attach(GetHwnd(), IDC_BANNER);
    ::SetForegroundWindow(GetHwnd());
    CreateStatusBar(GetHwnd());
    return TRUE;
}

void CDlgLogin::OnOK() {
    if (m_nStep >= 0) return;  // a login is under way
    m_strUser = GetItemText(IDC_USERNAME);
    m_strPassword = GetItemText(IDC_PASSWORD);
    m_fRemember = IsChecked(IDC_REMEMBER) ? 1 : 0;
    // Every try gets a fresh operation: a reused one would still carry the fault text and the
    // response file of the try before.
    std::unique_ptr<OpGetUserPaths> op(new OpGetUserPaths(m_pAPI ? m_pAPI->m_strServiceURL : std::string()));
    if (m_lClass == HV_CLASS_TASK) op->m_strCategoryType = "task";
    ::SetCursor(::LoadCursorA(nullptr, IDC_WAIT));
    op->m_credentials.m_strUser = m_strUser;
    op->m_credentials.m_strPassword = m_strPassword;
    StartOperation(GetHwnd(), std::move(op));
}

void CDlgLogin::OnTimer(UINT_PTR id) {
    CPumpOp::OnTimer(GetHwnd(), id, IDS_CREDENTIALS_REJECTED);
}

INT_PTR CDlgLogin::OnMessage(UINT msg, WPARAM wParam, LPARAM, bool& handled) {
    handled = true;
    switch (msg) {
        case hv::WMU_RUN_OP:
            return OnStep(GetHwnd(), static_cast<int>(wParam), true);
        case WM_SIZE:
            OnSize(GetHwnd());
            return 0;
        case WM_PAINT:
            m_banner.Paint(GetHwnd());
            return 0;
        default:
            handled = false;
            return 0;
    }
}

std::unique_ptr<OpGetUserPaths> CDlgLogin::TakeOperation() {
    // The pump only ever holds the OpGetUserPaths this dialog made.
    return std::unique_ptr<OpGetUserPaths>(static_cast<OpGetUserPaths*>(m_pOperation.release()));
}
