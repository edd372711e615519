#include "addin/BtnMgr.h"

#include <cstring>
#include <new>

#include "addin/AddBtn.h"
#include "addin/SyncBtn.h"
#include "addin/resource.h"
#include "common/DiagLog.h"
#include "win/Errors.h"

const DISPATCH_ENTRY CBtnMgr::s_table[] = {
    {DISPID_SYNC_CLICKED, 1, "hvSyncClicked"},
    {DISPID_ADD_CLICKED, 1, "hvAddClicked"},
    {0, 0, nullptr},
};

namespace {

// The ribbon control's window: the explorer or the inspector the button was clicked in.
hv::com_ptr<IDispatch> ContextOf(IDispatch* control) {
    if (!control) return nullptr;
    hv::unique_variant context;
    if (FAILED(CDispatcher::GetProperty(control, L"Context", context.put()))) return nullptr;
    return hv::com_ptr<IDispatch>(context.AsDispatch());
}

bool IsInspector(IDispatch* window) {
    DISPID id = 0;
    return window && SUCCEEDED(CDispatcher::GetDispId(window, L"CurrentItem", &id));
}

}  // namespace

HRESULT CBtnMgr::InvokeByName(const char* name, DISPPARAMS* params, VARIANT*) {
    if (!name) return S_OK;
    const bool add = std::strcmp(name, "hvAddClicked") == 0;
    const bool sync = std::strcmp(name, "hvSyncClicked") == 0;
    if (!add && !sync) return S_OK;
    if (!m_pApplication) return S_OK;  // no Outlook behind the add-in: nothing to act on
    IDispatch* control = nullptr;
    if (params && params->cArgs >= 1) {
        VARIANT& arg = params->rgvarg[0];
        if (arg.vt == VT_DISPATCH)
            control = arg.pdispVal;
        else if (arg.vt == (VT_DISPATCH | VT_BYREF) && arg.ppdispVal)
            control = *arg.ppdispVal;
    }
    CCmdBtn* button = add ? static_cast<CCmdBtn*>(new (std::nothrow) CAddBtn(0, 0, 0))
                          : static_cast<CCmdBtn*>(new (std::nothrow) CSyncBtn(0, 0, 0));
    if (!button) return E_OUTOFMEMORY;
    button->AddRef();
    HRESULT hr = S_OK;
    try {
        hr = Click(button, control, add);
    } catch (...) {
        hr = hv::ResultFromCaughtException();
    }
    button->Release();
    return hr;
}

HRESULT CBtnMgr::Click(CCmdBtn* button, IDispatch* control, bool add) {
    button->m_pLastClosed = m_pLastClosed;
    button->m_pfOperation = m_pfOperation;
    button->m_pcs = m_pcs;
    button->m_pApplication = m_pApplication;
    button->ShareHooks(m_calendarHook, m_tasksHook);
    button->DisableHooks();
    // The click acts where it was made: in an inspector on its item, in the explorer on the
    // selection (whatever other window happens to be on top).
    hv::com_ptr<IDispatch> window = ContextOf(control);
    const bool inspector = IsInspector(window.get());
    button->m_pWindow = window;
    // One operation at a time, and not while Outlook is offline; the user hears why.
    if (!button->CanInvoke()) {
        button->ShowOfflineOrBusy();
        button->EnableHooks();
        return S_FALSE;
    }
    if (add) {
        button->m_fResolveRecipients = 1;
        if (inspector) {
            button->m_fInspectorButton = 1;
        } else if (window) {
            button->m_fInspectorButton = 0;  // the explorer's selection
        } else {
            button->m_fInspectorButton = 1;  // no context: the active inspector, if any
        }
        if (button->m_fInspectorButton && button->OnInspectorInvoke(nullptr, FALSE) != 0) {
            button->m_fInspectorButton = 0;
            button->m_pWindow.reset();
        }
    } else {
        button->m_fResolveRecipients = 0;
        if (inspector) button->m_pWindow.reset();
    }
    const HRESULT hr = button->OnClick();
    button->m_vtInspector.reset();
    button->m_vtItem.reset();
    button->EnableHooks();
    button->ClearOperation();
    return hr;
}
