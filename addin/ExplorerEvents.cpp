#include "addin/ExplorerEvents.h"

#include "addin/CmdBar.h"
#include "common/Config.h"
#include "common/DiagLog.h"
#include "win/ComTypes.h"

const DISPATCH_ENTRY CExplorerEvents::s_table[] = {
    {DISPID_BEFOREFOLDERSWITCH, 2, "BeforeFolderSwitch"},
    {DISPID_SELECTIONCHANGE, 0, "SelectionChange"},
    {0, 0, nullptr},
};

void CExplorerEvents::OnInvoke(DISPID dispid, DISPPARAMS* params) {
    if (!m_ppBar || !*m_ppBar) return;
    if (dispid == DISPID_BEFOREFOLDERSWITCH) {
        // Arguments arrive reversed: rgvarg[1] is the new folder, rgvarg[0] the Cancel flag.
        VARIANT& folder = params->rgvarg[1];
        IDispatch* dispatch = folder.vt == VT_DISPATCH ? folder.pdispVal : nullptr;
        hv::unique_variant type;
        if (dispatch && SUCCEEDED(GetProperty(dispatch, L"DefaultItemType", type.put())))
            m_lDefaultItemType = type.AsLong();
    }
    UpdateBarVisibility();
}

void CExplorerEvents::UpdateBarVisibility() {
    if (!m_ppBar || !*m_ppBar) return;
    CCmdBarState state;
    const bool visible = FAILED(state.Load()) || state.m_fVisible != 0;
    HvLog().LogCommentNum("CExplorerEvents: bar visible %ld", visible ? 1 : 0);
    (*m_ppBar)->SetVisibility(nullptr, visible ? TRUE : FALSE);
}
