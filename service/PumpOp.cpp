#include "service/PumpOp.h"
#include <commctrl.h>
#include "service/ServiceRes.h"
#include "win/Dialog.h"
#include "common/DiagLog.h"
#include "win/Strings.h"

CPumpOp::~CPumpOp() {
    ReleaseOperation();
    m_strStatusText.clear();
    m_progress.Destroy();
    if (m_hStatusBar && ::IsWindow(m_hStatusBar)) ::DestroyWindow(m_hStatusBar);
    m_hStatusBar = nullptr;
}

void CPumpOp::LayoutPanes(HWND dialog) {
    RECT client = {};
    ::GetClientRect(dialog, &client);
    int parts[2] = {(client.right - client.left) / 2 - 8, -1};
    ::SendMessageW(m_hStatusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    // The bar places itself along the bottom edge when it is told of a size change.
    ::SendMessageW(m_hStatusBar, WM_SIZE, 0, 0);
}

void CPumpOp::CreateStatusBar(HWND dialog) {
    m_hStatusBar = ::CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | CCS_BOTTOM, 0, 0, 0, 0, dialog,
                                     reinterpret_cast<HMENU>(static_cast<UINT_PTR>(AFX_IDW_STATUS_BAR)),
                                     hv::ThisModule(), nullptr);
    if (!m_hStatusBar) return;
    LayoutPanes(dialog);
    // The indicator texts of both panes are blanks.
    std::wstring pane0 = hv::ToWide(hv::LoadResString(IDS_PANE_STATUS));
    std::wstring pane1 = hv::ToWide(hv::LoadResString(IDS_PANE_PROGRESS));
    ::SendMessageW(m_hStatusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(pane0.c_str()));
    ::SendMessageW(m_hStatusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(pane1.c_str()));
    m_progress.Create(m_hStatusBar, 0, IDS_PANE_STATUS);
    m_progress.SetRange(0, 6);
    m_progress.SetPos(0);
    m_fCreated = 1;
}

void CPumpOp::OnSize(HWND dialog) {
    if (!m_fCreated) return;
    LayoutPanes(dialog);
    m_progress.Reposition(m_hStatusBar, 0);
}

void CPumpOp::ShowStatus(const std::string& text) {
    m_strStatusText = text;
    if (!m_hStatusBar) return;
    std::wstring wide = hv::ToWide(m_strStatusText);
    ::SendMessageW(m_hStatusBar, SB_SETTEXTW, 1, reinterpret_cast<LPARAM>(wide.c_str()));
}

void CPumpOp::StartOperation(HWND dialog, std::unique_ptr<CWebSvrOp> operation) {
    ReleaseOperation();
    m_pOperation = std::move(operation);
    m_nStep = 0;
    ::PostMessageW(dialog, hv::WMU_RUN_OP, 0, 0);
}

LRESULT CPumpOp::OnStep(HWND dialog, int step, bool endDialogOnSuccess) {
    m_nStep = step;
    if (!m_pOperation) return 0;
    if (step >= 0 && step <= 5) {
        // The first message after a failure still reports it; the new run then starts clean,
        // so a retry that succeeds shows its own texts and closes the dialog.
        ShowStatus(m_fSuccess ? std::string(m_pOperation->StepText(step)) : hv::LoadResString(IDS_OPERATION_FAILED));
        m_progress.SetPos(step + 1);
        if (step == 0) m_fSuccess = 1;
    }
    if (step == 5 && AllDone()) {
        // AllDone may have started the next operation; close what is left of this exchange.
        if (m_pOperation) m_pOperation->CloseRequest();
        if (m_fSuccess && endDialogOnSuccess)
            ::EndDialog(dialog, IDOK);
        else
            m_fSuccess = 1;
        return 0;
    }
    if (m_pOperation && m_nStep >= 0 && m_nStep < 5 && SliceHasTime()) {
        RunStep(dialog, m_nErrorStringId);
        return 0;
    }
    m_fInSlice = false;
    m_nTimer = ::SetTimer(dialog, HV_PUMP_TIMER, HV_PUMP_TIMER_MS, nullptr);
    return 0;
}

namespace {
LONGLONG PumpTicks() {
    LARGE_INTEGER c;
    ::QueryPerformanceCounter(&c);
    return c.QuadPart;
}
}  // namespace

bool CPumpOp::SliceHasTime() const {
    if (!m_fInSlice) return false;
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    if ((PumpTicks() - m_sliceStart) * 1000 >= static_cast<LONGLONG>(HV_PUMP_SLICE_MS) * f.QuadPart) return false;
    return HIWORD(::GetQueueStatus(QS_INPUT)) == 0;
}

void CPumpOp::OnTimer(HWND dialog, UINT_PTR timerId, UINT errorStringId) {
    if (timerId != HV_PUMP_TIMER) return;
    if (m_nTimer) ::KillTimer(dialog, m_nTimer);
    m_nTimer = 0;
    m_fInSlice = true;
    m_sliceStart = PumpTicks();
    m_nErrorStringId = errorStringId;
    RunStep(dialog, errorStringId);
}

void CPumpOp::RunStep(HWND dialog, UINT errorStringId) {
    if (!m_pOperation || m_nStep < 0) return;
    if (m_pOperation->Run(0, dialog, hv::WMU_RUN_OP, m_nStep)) return;

    m_fInSlice = false;
    HvLog().LogError("Op Step FAILED");
    m_fSuccess = 0;
    m_pOperation->AbortUpload();
    std::string details = m_pOperation->m_strFaultString;
    if (details.empty()) details = hv::LoadResString(errorStringId);
    ShowError(dialog, details);
    ShowStatus(std::string());
    m_nStep = -1;
    m_progress.SetPos(0);
    if (m_pOperation) m_pOperation->CloseRequest();
}

void CPumpOp::ShowError(HWND dialog, const std::string& details) {
    // The dialogs above this layer show their own error dialog; a plain message box is what is
    // left to an owner that does not.
    ::MessageBoxW(dialog, hv::ToWide(details).c_str(), L"Halvane", MB_OK | MB_ICONERROR);
}

void CPumpOp::ReleaseOperation() noexcept {
    if (!m_pOperation) return;
    m_pOperation->CloseRequest();
    m_pOperation.reset();
}
