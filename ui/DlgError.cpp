#include "ui/DlgError.h"
#include "ui/UiRes.h"
#include "win/Strings.h"

CDlgError::CDlgError(HWND parent) noexcept : CDialogBase(IDD_ERROR), m_hParent(parent) {}

BOOL CDlgError::OnInitDialog() {
    // The fixed sentence above the details is the template's own text.
    // Multi-line edits want CR LF between lines.
    std::string details;
    for (char c : m_strDetails) {
        if (c == '\n' && (details.empty() || details.back() != '\r')) details += '\r';
        details += c;
    }
    SetItemText(IDC_ERROR_DETAILS, details);
    m_banner.Attach(GetHwnd(), IDC_BANNER);
    ::SetForegroundWindow(GetHwnd());
    return TRUE;
}

INT_PTR CDlgError::OnMessage(UINT msg, WPARAM, LPARAM, bool& handled) {
    handled = false;
    if (msg == WM_PAINT) {
        m_banner.Paint(GetHwnd());
        handled = true;
    }
    return 0;
}

void ShowErrorDialog(HWND owner, const std::string& details) {
    CDlgError error(owner);
    error.m_strDetails = details;
    error.DoModal();
}
