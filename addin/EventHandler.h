#pragma once
// Base of every Outlook event sink and button: the connection to its source, and what every
// handler needs: the parent window for dialogs, starting a synchronisation, the offline test,
// the timed-sync test and the shared operation-in-progress flag.
#include <windows.h>
#include <ocidl.h>

#include "addin/CtrlData.h"
#include "addin/DispatchObject.h"
#include "service/Protocol.h"
#include "win/ComPtr.h"
#include "win/Dispatcher.h"

class CProtocolUI;
struct CSyncContext;

class CEventHandler : public CWebService, public CDispatcher, public CDispatchObject {
public:
    // Preferences of GetParentWindow.
    enum : int { PREFER_EXPLORER = 0, PREFER_INSPECTOR = 1, PREFER_EITHER = 2 };

    explicit CEventHandler(const DISPATCH_ENTRY* table) noexcept : CDispatchObject(table) {}
    ~CEventHandler() override;

    // Advises this sink on the source's connection point of GetSourceIID().
    virtual HRESULT Connect(IDispatch* source);
    // Unadvises and lets the connection point go; harmless when not connected.
    virtual void Disconnect();
    bool IsConnected() const noexcept { return static_cast<bool>(m_pConnectionPoint); }

    // The Outlook window (class "rctrl_renwnd32") whose caption is that of the active explorer
    // or inspector, or the desktop window.
    HWND GetParentWindow(int preference);
    // Runs an incremental synchronisation of tasks and events in the synchronisation dialog,
    // unless another operation holds the flag.
    void DoSynch(HWND parent, CSyncContext* context);
    // 1 when Outlook works offline; with `showMessage` the user is told so.
    BOOL IsOffline(BOOL showMessage);
    // 1 when the last synchronisation of tasks or of events is older than "SyncQuantum" minutes.
    BOOL IsTimeToSync();

    // The add-in's one prompting protocol object, made on first use; null when out of memory.
    static CProtocolUI* EnsureProtocol(IDispatch* application, HWND parent);

    // The operation-in-progress flag, always under the critical section.
    BOOL TakeOperation();
    void ClearOperation();
    BOOL TestOperation();

    // ---- shared state, filled in by the creator ----
    hv::com_ptr<IConnectionPoint> m_pConnectionPoint;
    DWORD m_dwCookie = 0;
    CCtrlData* m_pLastClosed = nullptr;
    LONG* m_pfOperation = nullptr;
    CRITICAL_SECTION* m_pcs = nullptr;
    IDispatch* m_pApplication = nullptr;  // not AddRef'ed: the add-in object holds it

protected:
    // Shows the error dialog with the text of a string resource (26018 when it is empty).
    virtual void ShowErrorText(HWND parent, UINT stringId);
};
