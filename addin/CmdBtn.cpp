#include "addin/CmdBtn.h"

#include "addin/resource.h"
#include "common/DiagLog.h"
#include "ui/ProtocolUI.h"
#include "win/Errors.h"

const DISPATCH_ENTRY CCmdBtn::s_table[] = {
    {DISPID_BUTTON_CLICK, 2, "Click"},
    {0, 0, nullptr},
};

CCmdBtn::~CCmdBtn() {
    m_pFace.reset();
    m_pMask.reset();
    Disconnect();
}

BOOL CCmdBtn::CanInvoke() {
    if (!TakeOperation()) return FALSE;
    if (IsOffline(TRUE)) {
        ClearOperation();
        return FALSE;
    }
    return TRUE;
}

void CCmdBtn::ShowOfflineOrBusy() {
    ShowErrorText(GetParentWindow(PREFER_EITHER), IDS_OFFLINE_OR_BUSY);
}

void CCmdBtn::DisableHooks() {
    if (!m_fHooksEnabled) return;
    m_calendarHook.Disable(m_pcs);
    m_tasksHook.Disable(m_pcs);
    m_fHooksEnabled = 0;
}

void CCmdBtn::EnableHooks() {
    if (m_fHooksEnabled) return;
    m_calendarHook.Enable(m_pcs);
    m_tasksHook.Enable(m_pcs);
    m_fHooksEnabled = 1;
}

void CCmdBtn::OnInvoke(DISPID dispid, DISPPARAMS* params) {
    CLogBlock block("CCmdBtn::OnInvoke");
    try {
        if (dispid != DISPID_BUTTON_CLICK) return;
        if (!CanInvoke()) {
            ShowOfflineOrBusy();
            return;
        }
        m_vtInspector.reset();
        m_vtItem.reset();
        // Arguments arrive reversed: rgvarg[1] is the control, rgvarg[0] CancelDefault.
        VARIANT& ctrl = params->rgvarg[1];
        IDispatch* control = ctrl.vt == VT_DISPATCH                                  ? ctrl.pdispVal
                             : ctrl.vt == (VT_DISPATCH | VT_BYREF) && ctrl.ppdispVal ? *ctrl.ppdispVal
                                                                                     : nullptr;
        if (IsConnected()) {
            HvLog().LogComment("CCmdBtn::OnInvoke: Calling OnInspectorInvoke");
            if (OnInspectorInvoke(control, TRUE) == 0) {
                HvLog().LogComment("CCmdBtn::OnInvoke: Calling OnClick");
                OnClick();
            }
        }
        // OnClick clears the flag; a click that never got there must not keep it.
        ClearOperation();
        m_vtInspector.reset();
        m_vtItem.reset();
    } catch (...) {
        ClearOperation();
        LOG_IF_FAILED(hv::ResultFromCaughtException());
    }
}

HRESULT CCmdBtn::OnInspectorInvoke(IDispatch* control, BOOL checkTag) {
    if (!m_fInspectorButton) return 0;
    CLogBlock block("CCmdBtn::OnInspectorInvoke");
    CDiagLog& log = HvLog();
    try {
        log.LogComment("CCmdBtn::OnInspectorInvoke: Calling ActiveInspector");
        m_vtInspector.reset();
        m_vtItem.reset();
        if (m_pWindow) {
            // A button acts on the window it was put on, not on whichever is on top.
            m_vtInspector = hv::unique_variant::FromDispatch(m_pWindow.get());
        } else {
            THROW_IF_FAILED(CallMethod(m_pApplication, L"ActiveInspector", m_vtInspector.put(), 0, nullptr));
        }
        THROW_HR_IF(E_POINTER, !m_vtInspector.AsDispatch());
        log.LogComment("Getting CurrentItem");
        THROW_IF_FAILED(GetProperty(m_vtInspector.AsDispatch(), L"CurrentItem", m_vtItem.put()));
        THROW_HR_IF(E_POINTER, !m_vtItem.AsDispatch());
        if (checkTag) {
            hv::unique_variant tag;
            if (!control || FAILED(GetProperty(control, L"Tag", tag.put())) ||
                tag.AsString().find(m_strTag) == std::string::npos) {
                m_vtItem.reset();
                return 0;
            }
        }
        // Neither a refused Save (an unchanged item) nor an unresolved recipient stops the action.
        if (m_fSaveFirst) {
            log.LogComment("Saving Item");
            LOG_IF_FAILED(CallMethod(m_vtItem.AsDispatch(), L"Save", nullptr, 0, nullptr));
        }
        if (m_fResolveRecipients) {
            hv::unique_variant recipients;
            log.LogComment("Fetching Item Recipeints");
            if (SUCCEEDED(GetProperty(m_vtItem.AsDispatch(), L"Recipients", recipients.put())) &&
                recipients.AsDispatch()) {
                log.LogComment("Resolving Item Recipeints");
                hv::unique_variant resolved;
                LOG_IF_FAILED(CallMethod(recipients.AsDispatch(), L"ResolveAll", resolved.put(), 0, nullptr));
                m_fResolved = !resolved.IsEmpty() && resolved.AsBool() ? TRUE : FALSE;
            }
        }
        return 0;
    } catch (...) {
        const HRESULT hr = hv::ResultFromCaughtException();
        LOG_IF_FAILED(hr);
        return hr;
    }
}

hv::unique_variant CCmdBtn::ActiveExplorer() {
    hv::unique_variant explorer;
    if (m_pWindow) {
        explorer = hv::unique_variant::FromDispatch(m_pWindow.get());
    } else {
        THROW_IF_FAILED(GetProperty(m_pApplication, L"ActiveExplorer", explorer.put()));
    }
    THROW_HR_IF(E_POINTER, !explorer.AsDispatch());
    return explorer;
}

CProtocolUI* CCmdBtn::LogIn(HWND parent, long itemClass, CCredentials& credentials, bool logSteps) {
    CProtocolUI* protocol = EnsureProtocol(m_pApplication, parent);
    THROW_HR_IF(E_OUTOFMEMORY, !protocol);
    if (logSteps) HvLog().LogComment("Firing Up Protocol Engine");
    THROW_IF_FAILED(FireUpProtocol(reinterpret_cast<LONG_PTR>(m_pApplication)));
    if (logSteps) HvLog().LogComment("Calling LoginUser");
    // A cancelled login (ERROR_CANCELLED) is no failure to report, but nothing more happens.
    return protocol->LoginUser(&credentials, itemClass) == S_OK ? protocol : nullptr;
}

void CCmdBtn::EndAction() {
    m_vtInspector.reset();
    m_vtItem.reset();
    EnableHooks();
    ClearOperation();
}

HRESULT CCmdBtn::TagIt(IDispatch* control, const std::string& tag) {
    CLogBlock block("CCmdBtn::TagIt");
    try {
        hv::unique_variant current;
        std::string text;
        if (SUCCEEDED(GetProperty(control, L"Tag", current.put())) && current.vt == VT_BSTR) text = current.AsString();
        m_strTag = tag;
        if (!text.empty()) m_strTag += text;
        hv::unique_variant value = hv::unique_variant::FromString(m_strTag);
        THROW_IF_FAILED(PutProperty(control, L"Tag", &value));
        return S_OK;
    } catch (...) {
        return hv::ResultFromCaughtException();
    }
}
