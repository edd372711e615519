#include "ui/DlgSeriesSynch.h"

#include <commctrl.h>

#include "ui/UiRes.h"
#include "common/DiagLog.h"
#include "win/Strings.h"

BOOL CDlgSeriesSynch::OnInitDialog() {
    CSyncItem* context = m_context.pSyncItem;
    if (!context) return CDlgSynch::OnInitDialog();
    // The base sets the window up and, without the API object, stops before the run.
    CWebSvrAPI* api = m_pAPI;
    m_pAPI = nullptr;
    const BOOL result = CDlgSynch::OnInitDialog();
    m_pAPI = api;
    if (!m_pAPI) return result;

    CLogBlock block("CDlgSeriesSynch::OnInitDialog");
    LoadRecurringEvent();
    HvLog().LogComment("Calling ComputeActions: m_context.pSyncItem != NULL");
    ComputeActions();
    // An occurrence that was never linked has nothing stored to compare with, so the planner
    // leaves it alone: for the series the user asked to add, that is the very thing to send.
    for (CSyncItem* row : m_rows) {
        if (!row || !row->m_pOccurrence || row->m_nSource != SOURCE_OUTLOOK) continue;
        if (row->m_strEntryID != context->m_strEntryID || !row->m_target.m_strID.empty()) continue;
        if (row->m_nAction != ACTION_NONE || IsStale(row) || row->m_nBusyStatus == 1) continue;
        row->m_target = context->m_target;
        row->m_target.m_strID.clear();
        row->assigned_to_userids = context->assigned_to_userids;
        row->SetAction(ACTION_UPDATE_SERVICE);
        ++m_nHandedOver;
    }
    HvLog().LogCommentNum("CDlgSeriesSynch: occurrences to send %ld", m_nHandedOver);
    ::InvalidateRect(GetItem(IDC_SYNCH_LIST), nullptr, TRUE);
    m_fMyOpsDone = 1;
    SetItemText(IDC_SYNCH_STATUS, hv::LoadResString(IDS_SYNC_IN_PROGRESS));
    m_nItemCount = static_cast<long>(m_rows.size());
    m_nNextItem = 0;
    ::SendDlgItemMessageA(GetHwnd(), IDC_SYNCH_PROGRESS, PBM_SETRANGE32, 0, m_nItemCount);
    m_fProgress = 1;
    NextItem();
    return TRUE;
}
