#include "addin/SyncBtn.h"

#include <memory>
#include <new>

#include "common/DiagLog.h"
#include "sync/DlgSynch.h"
#include "ui/ProtocolUI.h"
#include "win/Errors.h"

HRESULT CSyncBtn::OnClick() {
    CLogBlock block("CSyncBtn::OnInvoke");
    CDiagLog& log = HvLog();
    HRESULT hr = S_OK;
    DisableHooks();
    std::unique_ptr<CDlgSynch> dialog;
    try {
        const hv::unique_variant explorer = ActiveExplorer();
        dialog.reset(new (std::nothrow) CDlgSynch(TheAPI(), nullptr));
        THROW_HR_IF(E_OUTOFMEMORY, !dialog);
        hv::unique_variant mapi = hv::unique_variant::FromString("MAPI");
        hv::unique_variant ns;
        THROW_IF_FAILED(CallMethod(m_pApplication, L"GetNamespace", ns.put(), 1, &mapi));
        THROW_HR_IF(E_POINTER, !ns.AsDispatch());
        dialog->m_pNameSpace = ns.AsDispatch();

        long type = -1;
        hv::unique_variant folder;
        if (SUCCEEDED(GetProperty(explorer.AsDispatch(), L"CurrentFolder", folder.put())) && folder.AsDispatch()) {
            hv::unique_variant itemType;
            if (SUCCEEDED(GetProperty(folder.AsDispatch(), L"DefaultItemType", itemType.put())))
                type = itemType.AsLong();
        }
        long itemClass = OL_CLASS_TASK;
        dialog->m_nScope = SYNC_SCOPE_ALL;
        dialog->m_nSelCount = 0;
        dialog->m_nSyncKinds = SYNC_TASKS | SYNC_EVENTS;
        if (type == OL_NEW_APPOINTMENT || type == OL_NEW_TASK) {
            log.LogComment("Fetching Selection");
            hv::unique_variant selection;
            THROW_IF_FAILED(GetProperty(explorer.AsDispatch(), L"Selection", selection.put()));
            THROW_HR_IF(E_POINTER, !selection.AsDispatch());
            log.LogComment("Fetching Selection Count");
            hv::unique_variant count;
            THROW_IF_FAILED(GetProperty(selection.AsDispatch(), L"Count", count.put()));
            if (count.AsLong() > 0) {
                log.LogComment("CSyncBtn::OnClick: Selection Count is > 0");
                dialog->m_pSelection = selection.AsDispatch();
                dialog->m_nSelCount = count.AsLong();
                dialog->m_nScope = SYNC_SCOPE_SELECTION;
                const bool events = type == OL_NEW_APPOINTMENT;
                dialog->m_nSyncKinds = events ? SYNC_EVENTS : SYNC_TASKS;
                itemClass = events ? OL_CLASS_APPOINTMENT : OL_CLASS_TASK;
            } else {
                log.LogComment("CSyncBtn::OnClick: Selection Count is 0");
            }
        }
        dialog->m_lClass = itemClass;
        m_nLastScope = dialog->m_nScope;
        m_nLastKinds = dialog->m_nSyncKinds;
        m_nLastCount = dialog->m_nSelCount;

        CCredentials credentials;
        if (LogIn(GetParentWindow(PREFER_EXPLORER), itemClass, credentials, false)) {
            dialog->m_credentials = credentials;
            dialog->m_pAPI = TheAPI();
            dialog->Run();
        }
    } catch (...) {
        hr = hv::ResultFromCaughtException();
        LOG_IF_FAILED(hr);
    }
    dialog.reset();
    EndAction();
    return hr;
}
