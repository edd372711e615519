#include "ui/DlgUpdate.h"

#include "common/DiagLog.h"
#include "service/OpPushEvent.h"
#include "service/OpPushTask.h"
#include "sync/LinkProps.h"
#include "ui/DlgError.h"
#include "ui/UiRes.h"
#include "win/Strings.h"

namespace {

void Log(const char* text) {
    HvLog().LogComment(text);
}

// The fields of the service's answer that it left empty are those the push was given.
CTarget LinkTarget(const CSyncItem& answer, const CTarget& pushed, const std::string& returnedId) {
    CTarget target = answer.m_target;
    if (target.m_strID.empty()) target.m_strID = returnedId;
    if (target.m_strCatID.empty()) target.m_strCatID = pushed.m_strCatID;
    if (target.m_strSpaceID.empty()) target.m_strSpaceID = pushed.m_strSpaceID;
    if (target.m_strFolder.empty()) target.m_strFolder = pushed.m_strFolder;
    if (target.m_strWorkspace.empty()) target.m_strWorkspace = pushed.m_strWorkspace;
    return target;
}

}  // namespace

CDlgUpdate::CDlgUpdate(CWebSvrAPI* api, HWND parent)
    : CDialogBase(IDD_UPDATE), CPushPull(api, nullptr), m_hParent(parent) {}

CDlgUpdate::~CDlgUpdate() = default;

void CDlgUpdate::AddRecord(std::unique_ptr<CSyncItem> record, IDispatch* item) {
    if (!record) return;
    CEntry entry;
    entry.m_pRecord = record.get();
    m_records.push_back(std::move(record));
    m_entries.push_back(entry);
    if (item && !m_pHandedItem) m_pHandedItem = item;
}

long CDlgUpdate::CheckOccurrences() {
    CLogBlock block("CDlgUpdate::CheckOccurrences");
    long queued = 0;
    for (const auto& owned : m_records) {
        CSyncItem* record = owned.get();
        if (!record || !record->m_pOccurrence) continue;
        bool queuedAlready = false;
        for (const CEntry& entry : m_entries) queuedAlready = queuedAlready || entry.m_pRecord == record;
        if (queuedAlready) continue;
        try {
            hv::com_ptr<IDispatch> item;
            if (!ReconstituteAppt(record, item, 0, 1) || !item) continue;
            // What the occurrence was linked with: its own blob, fingerprint included.
            CSyncItem stored;
            stored.m_strType = "Event";
            stored.m_target.m_strCatID.clear();
            stored.m_target.m_strSpaceID.clear();
            LoadUserProps(item.get(), stored, true);
            if (stored.m_target.m_strID.empty() || stored.m_target.m_strSpaceID.empty() || stored.m_strHash.empty())
                continue;
            CSyncItem now(stored);
            now.m_pCounterpart = nullptr;
            now.m_pOccurrence = nullptr;
            Hash(item.get(), OL_CLASS_APPOINTMENT, &now, 1, 1);
            if (now.m_strHash == stored.m_strHash) continue;
            HvLog().LogCommentFmt("CheckOccurrences: %s changed", record->start_time.c_str());
            // The push goes where the occurrence is linked.
            record->m_target = stored.m_target;
            record->assigned_to_userids = stored.assigned_to_userids;
            record->organizer = stored.organizer;
            record->internal_use_only = stored.internal_use_only;
            CEntry entry;
            entry.m_pRecord = record;
            m_entries.push_back(entry);
            ++queued;
        } catch (...) {
            // An occurrence that cannot be read waits for the next synchronisation.
        }
    }
    return queued;
}

// ---- the dialog ---------------------------------------------------------------------------------

BOOL CDlgUpdate::OnInitDialog() {
    CLogBlock block("CDlgUpdate::OnInitDialog");
    const HWND hwnd = GetHwnd();
    m_hOwner = hwnd;
    CreateStatusBar(hwnd);
    const HICON icon = ::LoadIconW(hv::ThisModule(), MAKEINTRESOURCEW(IDI_HV_ADD));
    if (icon) {
        ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    if (!StartPush()) Finish();
    return TRUE;
}

void CDlgUpdate::OnCancel() {
    // Between two steps: the exchange in progress is dropped, what was sent stays sent.
    if (m_nTimer) ::KillTimer(GetHwnd(), m_nTimer);
    m_nTimer = 0;
    ReleaseOperation();
    EndDialog(IDCANCEL);
}

void CDlgUpdate::OnTimer(UINT_PTR id) {
    CPumpOp::OnTimer(GetHwnd(), id, IDS_CREDENTIALS_REJECTED);
}

INT_PTR CDlgUpdate::OnMessage(UINT msg, WPARAM wParam, LPARAM, bool& handled) {
    handled = true;
    switch (msg) {
        case hv::WMU_RUN_OP:
            OnStep(GetHwnd(), static_cast<int>(wParam), true);
            return 0;
        case WMU_NEXT_PUSH:
            if (!StartPush()) Finish();
            return 0;
        case WM_SIZE:
            OnSize(GetHwnd());
            return 0;
        default:
            handled = false;
            return 0;
    }
}

void CDlgUpdate::Finish() {
    ReleaseOperation();
    EndDialog(m_fRunFailed ? IDCANCEL : IDOK);
}

// ---- sending ------------------------------------------------------------------------------------

bool CDlgUpdate::OpenItem(CEntry& entry, hv::com_ptr<IDispatch>& item) {
    CSyncItem* record = entry.m_pRecord;
    item.reset();
    if (record->m_pOccurrence) return ReconstituteAppt(record, item, 0, 1) && item;
    if (!record->m_strEntryID.empty() && SUCCEEDED(GetItemFromID(record->m_strEntryID, item)) && item) return true;
    item = m_pHandedItem;
    return static_cast<bool>(item);
}

bool CDlgUpdate::StartPush() {
    CLogBlock block("CDlgUpdate::StartPush");
    while (m_nPosition < m_entries.size()) {
        CEntry& entry = m_entries[m_nPosition];
        if (entry.m_fDone) {
            ++m_nPosition;
            continue;
        }
        CSyncItem* record = entry.m_pRecord;
        const bool isEvent = record->m_strType == "Event";
        hv::com_ptr<IDispatch> item;
        HRESULT hr = E_FAIL;
        if (OpenItem(entry, item)) {
            m_pCurrentItem = item;
            std::string message = hv::LoadResString(IDS_BEING_UPDATED);
            const size_t at = message.find("%s");
            if (at != std::string::npos) message.replace(at, 2, isEvent ? "Event" : "Task");
            m_strMessage = message;
            SetItemText(IDC_UPDATE_MESSAGE, m_strMessage);
            m_target = record->m_target;
            m_strAssignee = record->assigned_to_userids;
            // The push keeps the item's assignees, organizer and internal-use mark.
            m_strAssignedIds = m_strAssignee;
            BuildMemberList();
            m_strOrganizer = record->organizer;
            m_strInternalUse = record->internal_use_only;
            ReleaseOperation();
            hr = isEvent ? PushAppt(item.get(), m_target, 1, record->m_fLaterOccurrence)
                         : PushTask(item.get(), m_target, 1);
            if (SUCCEEDED(hr) && Op()) return true;
        }
        HvLog().LogError("CDlgUpdate::StartPush: the item could not be pushed");
        entry.m_fDone = 1;
        m_fRunFailed = 1;
        ++m_nPosition;
    }
    return false;
}

bool CDlgUpdate::MarkPushed(CEntry& entry) {
    CWebSvrOp* op = Op();
    CSyncItem* record = entry.m_pRecord;
    hv::com_ptr<IDispatch> item;
    if (!op || !OpenItem(entry, item)) return false;
    HRESULT hr = E_FAIL;
    if (op->m_strKind == "OpPushTask") {
        Log("CDlgUpdate::AllDone: Marking Task");
        CSyncItem answer = static_cast<OpPushTask*>(op)->m_answer;
        answer.m_strType = "Task";
        const CTarget target = LinkTarget(answer, m_target, op->m_strReturnedId);
        hr = SetLinkProps(item.get(), OL_CLASS_TASK, &answer, target, &answer.last_modified, &answer.assigned_to,
                          &answer.assigned_to_userids, nullptr, nullptr);
    } else if (op->m_strKind == "OpPushEvent") {
        Log("CDlgUpdate::AllDone: Marking Event");
        const CSyncItem& answer = static_cast<OpPushEvent*>(op)->m_answer;
        const CTarget target = LinkTarget(answer, m_target, op->m_strReturnedId);
        if (record->m_pOccurrence) {
            // An occurrence is linked through its own blob; the series' others keep theirs.
            record->m_target = target;
            hr = SetLinkProps(item.get(), OL_CLASS_APPOINTMENT, record, target, &answer.last_modified,
                              &answer.assigned_to, &answer.assigned_to_userids, &answer.organizer,
                              &answer.internal_use_only);
        } else {
            CSyncItem linked = answer;
            linked.m_strType = "Event";
            hr = SetLinkProps(item.get(), OL_CLASS_APPOINTMENT, &linked, target, &answer.last_modified,
                              &answer.assigned_to, &answer.assigned_to_userids, &answer.organizer,
                              &answer.internal_use_only);
        }
    }
    if (FAILED(hr)) HvLog().LogError("CDlgUpdate::AllDone: the link could not be saved");
    return SUCCEEDED(hr);
}

bool CDlgUpdate::AllDone() {
    CLogBlock block("CDlgUpdate::AllDone");
    CWebSvrOp* op = Op();
    if (!op) return true;
    if (m_nPosition < m_entries.size()) {
        CEntry& entry = m_entries[m_nPosition];
        entry.m_fDone = 1;
        const bool sent = m_fSuccess && SUCCEEDED(op->m_hResult) && !op->m_strReturnedId.empty();
        if (sent && MarkPushed(entry)) {
            entry.m_fPushed = 1;
        } else {
            m_fRunFailed = 1;
        }
        ++m_nPosition;
    }
    if (StartPush()) return false;
    if (m_fRunFailed) {
        // The pump closes the dialog only after a successful run.
        m_fSuccess = 0;
        EndDialog(IDCANCEL);
    }
    return true;
}

void CDlgUpdate::ShowError(HWND dialog, const std::string& details) {
    ShowErrorDialog(dialog, details);
    // The item keeps its link as it was, so the next synchronisation sends it; the others of
    // this run still go.
    if (m_nPosition < m_entries.size()) {
        m_entries[m_nPosition].m_fDone = 1;
        ++m_nPosition;
    }
    m_fRunFailed = 1;
    ::PostMessageW(dialog, WMU_NEXT_PUSH, 0, 0);
}
