#pragma once
// Runs one service operation at a time for a dialog, step by step from the dialog's own message
// loop, with a status bar that shows the step's text and a progress bar (0 to 6).
#include <windows.h>
#include <memory>
#include <string>
#include "service/StatusProgress.h"
#include "service/WebSvrOp.h"

class CWebSvrAPI;

// The control id the status bar gets, and the control-bar id range it belongs to.
constexpr UINT AFX_IDW_STATUS_BAR = 0xE801;
constexpr UINT HV_PUMP_TIMER = 1;
constexpr UINT HV_PUMP_TIMER_MS = 25;
// Once a timer tick has started an operation's steps, the steps that follow run as soon as their
// WMU_RUN_OP arrives, until this much time has passed or input is waiting; then the pump goes
// back to its timer.
constexpr DWORD HV_PUMP_SLICE_MS = 25;

class CPumpOp {
public:
    explicit CPumpOp(CWebSvrAPI* api) noexcept : m_pAPI(api) {}
    virtual ~CPumpOp();
    CPumpOp(const CPumpOp&) = delete;
    CPumpOp& operator=(const CPumpOp&) = delete;

    // The owner's completion check, called when step 5 arrives: take the results, maybe start
    // the next operation; true when the owner's work is complete.
    virtual bool AllDone() = 0;

    // From the dialog's initialisation: the status bar with its two panes and the progress bar.
    void CreateStatusBar(HWND dialog);
    // From WM_SIZE.
    void OnSize(HWND dialog);
    // From WMU_RUN_OP (first parameter the step).
    LRESULT OnStep(HWND dialog, int step, bool endDialogOnSuccess);
    // From WM_TIMER; errorStringId names the message shown when the operation has no fault text.
    void OnTimer(HWND dialog, UINT_PTR timerId, UINT errorStringId);
    // Puts a new operation in place (deleting the one before) and posts step 0 to the dialog.
    void StartOperation(HWND dialog, std::unique_ptr<CWebSvrOp> operation);
    void ReleaseOperation() noexcept;

    HWND StatusBar() const noexcept { return m_hStatusBar; }
    const std::string& StatusText() const noexcept { return m_strStatusText; }

    int m_nStep = -1;
    UINT_PTR m_nTimer = 0;
    CWebSvrAPI* m_pAPI;
    HWND m_hStatusBar = nullptr;
    CStatusProgress m_progress;
    DWORD m_fCreated = 0;
    DWORD m_fSuccess = 1;
    std::string m_strStatusText;
    std::unique_ptr<CWebSvrOp> m_pOperation;

protected:
    // True while the slice a timer tick began has time left and no input is waiting.
    bool SliceHasTime() const;
    // Shows a failure to the user over the owner. The dialogs of the user interface show their
    // error dialog (26006); this layer itself can only offer a message box.
    virtual void ShowError(HWND dialog, const std::string& details);

private:
    void ShowStatus(const std::string& text);
    void RunStep(HWND dialog, UINT errorStringId);
    bool m_fInSlice = false;
    LONGLONG m_sliceStart = 0;
    UINT m_nErrorStringId = 0;
    void LayoutPanes(HWND dialog);
};
