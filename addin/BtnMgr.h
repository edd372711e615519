#pragma once
// Routes the ribbon's button callbacks ("hvSyncClicked", "hvAddClicked") to the buttons. It
// lives on the stack of one COutAddIn::Invoke.
#include <windows.h>
#include <oaidl.h>

#include "addin/ChangeHook.h"
#include "addin/CtrlData.h"
#include "addin/DispatchObject.h"

class CCmdBtn;

class CBtnMgr {
public:
    enum : DISPID { DISPID_SYNC_CLICKED = 2, DISPID_ADD_CLICKED = 3 };
    static const DISPATCH_ENTRY s_table[];

    explicit CBtnMgr(IDispatch* application) noexcept : m_pApplication(application) {}

    // Runs the callback of that name; anything else does nothing and answers 0.
    HRESULT InvokeByName(const char* name, DISPPARAMS* params, VARIANT* result);

    CChangeHook m_calendarHook;
    CChangeHook m_tasksHook;
    CCtrlData* m_pLastClosed = nullptr;
    LONG* m_pfOperation = nullptr;
    CRITICAL_SECTION* m_pcs = nullptr;
    IDispatch* m_pApplication;

private:
    // Runs one click of a ribbon button made for it.
    HRESULT Click(CCmdBtn* button, IDispatch* control, bool add);
};
