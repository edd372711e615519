#include "addin/AddBtn.h"

#include <memory>
#include <new>

#include "addin/resource.h"
#include "common/DiagLog.h"
#include "sync/DlgSynch.h"
#include "ui/DlgSaveAs.h"
#include "ui/ProtocolUI.h"
#include "win/Errors.h"

namespace {
// Ends an action that has nothing more to do (already told to the user, or nothing to send).
struct CStop {};
}  // namespace

HRESULT CAddBtn::OnClick() {
    CLogBlock block("CAddBtn::OnInvoke");
    CDiagLog& log = HvLog();
    HRESULT hr = S_OK;
    DisableHooks();
    std::unique_ptr<CDlgSaveAs> dialog;
    const bool fromInspector = m_fInspectorButton && m_vtItem.AsDispatch();
    try {
        long itemClass = 0;
        const HWND parent = GetParentWindow(fromInspector ? PREFER_INSPECTOR : PREFER_EXPLORER);
        if (fromInspector) {
            log.LogComment("Called from Inspector");
            log.LogComment("Creating Add to HV dialog object");
            dialog.reset(new (std::nothrow) CDlgSaveAs(TheAPI(), parent));
            THROW_HR_IF(E_OUTOFMEMORY, !dialog);
            dialog->m_fFromInspector = 1;
            dialog->m_nCount = 1;
            log.LogComment("Fetching Current Item");
            IDispatch* item = m_vtItem.AsDispatch();
            dialog->SetCurrentItem(item);
            log.LogComment("Fetching Item's Class");
            hv::unique_variant cls;
            THROW_IF_FAILED(GetProperty(item, L"Class", cls.put()));
            itemClass = cls.AsLong();
            log.LogComment("Saving Item");
            LOG_IF_FAILED(CallMethod(item, L"Save", nullptr, 0, nullptr));
            log.LogComment("Fetching Item's Subject");
            hv::unique_variant subject;
            if (FAILED(GetProperty(item, L"Subject", subject.put())) || subject.AsString().empty()) {
                ShowErrorText(parent, IDS_NO_SUBJECT);
                throw CStop{};
            }
        } else {
            log.LogComment("No Context: Called from Explorer");
            log.LogComment("Fetching Active Explorer");
            const hv::unique_variant explorer = ActiveExplorer();
            log.LogComment("Creating Add to HV dialog object");
            dialog.reset(new (std::nothrow) CDlgSaveAs(TheAPI(), parent));
            THROW_HR_IF(E_OUTOFMEMORY, !dialog);
            log.LogComment("Fetching Selection");
            hv::unique_variant selection;
            THROW_IF_FAILED(GetProperty(explorer.AsDispatch(), L"Selection", selection.put()));
            THROW_HR_IF(E_POINTER, !selection.AsDispatch());
            dialog->m_pSelection = selection.AsDispatch();
            log.LogComment("Fetching Selection Count");
            hv::unique_variant count;
            THROW_IF_FAILED(GetProperty(selection.AsDispatch(), L"Count", count.put()));
            dialog->m_nCount = count.AsLong();
            log.LogComment("Ensuring Item Homogeneity");
            long reference = 0;
            bool first = true;
            for (long i = 1; i <= dialog->m_nCount; ++i) {
                hv::unique_variant index = hv::unique_variant::FromLong(i);
                hv::unique_variant item;
                if (FAILED(CallMethod(selection.AsDispatch(), L"Item", item.put(), 1, &index)) || !item.AsDispatch())
                    continue;
                hv::unique_variant cls;
                if (FAILED(GetProperty(item.AsDispatch(), L"Class", cls.put()))) continue;
                if (first) {
                    dialog->SetCurrentItem(item.AsDispatch());
                    reference = cls.AsLong();
                    first = false;
                } else if (cls.AsLong() != reference) {
                    ShowErrorText(parent, IDS_MIXED_SELECTION);
                    throw CStop{};
                }
                itemClass = cls.AsLong();
            }
            // Nothing that can be sent is selected.
            if (first) throw CStop{};
        }
        // Only mail, tasks and appointments have somewhere to go.
        if (itemClass != OL_CLASS_MAIL && itemClass != OL_CLASS_TASK && itemClass != OL_CLASS_APPOINTMENT)
            throw CStop{};

        CCredentials credentials;
        CProtocolUI* protocol = LogIn(parent, itemClass, credentials, true);
        if (!protocol) throw CStop{};
        dialog->m_credentials = credentials;
        dialog->m_lClass = itemClass;
        dialog->m_pAPI = TheAPI();
        log.LogComment("Copying UserPaths to dialog");
        if (protocol->m_pUserPathsOp) {
            for (auto& path : protocol->m_pUserPathsOp->m_paths) dialog->m_paths.push_back(std::move(path));
            protocol->m_pUserPathsOp->m_paths.clear();
        }
        log.LogComment("Calling DoModal");
        const INT_PTR result = dialog->DoModal();
        if (result == IDOK && fromInspector) {
            hv::unique_variant mode = hv::unique_variant::FromLong(0);  // olSave
            LOG_IF_FAILED(CallMethod(m_vtItem.AsDispatch(), L"Close", nullptr, 1, &mode));
        }
        if (result == IDOK && dialog->m_pSyncItem) {
            const HWND syncParent = GetParentWindow(PREFER_EXPLORER);
            ClearOperation();
            log.LogComment("ItemSend Event: DoSynch");
            CSyncContext context;
            context.pSyncItem = dialog->m_pSyncItem.get();
            DoSynch(syncParent, &context);
        }
    } catch (const CStop&) {
        hr = S_FALSE;
    } catch (...) {
        hr = hv::ResultFromCaughtException();
        LOG_IF_FAILED(hr);
    }
    dialog.reset();
    EndAction();
    return hr;
}
