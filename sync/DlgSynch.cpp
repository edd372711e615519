#include "sync/DlgSynch.h"

#include <algorithm>
#include "sync/SynchRes.h"
#include "common/Config.h"
#include "common/DiagLog.h"
#include "service/OpGetMyEvents.h"
#include "service/OpGetMyTasks.h"
#include "service/OpPushEvent.h"
#include "service/OpPushTask.h"
#include "service/WebSvrAPI.h"
#include "win/ComTypes.h"
#include "win/Strings.h"

namespace {

// Logs a named block for the lifetime of a handler.

bool IsKind(const CWebSvrOp* op, const char* kind) {
    return op && op->m_strKind == kind;
}
bool IsDownload(const CWebSvrOp* op) {
    return IsKind(op, "OpGetMyTasks") || IsKind(op, "OpGetMyEvents");
}
bool IsServiceAction(const CSyncItem* record) {
    return record && (record->m_nAction == ACTION_UPDATE_SERVICE || record->m_nAction == ACTION_DELETE_SERVICE);
}

// The column titles of the action list.
const char* const kColumns[3] = {"Action", "Type", "Subject"};

LONGLONG Ticks() {
    LARGE_INTEGER c;
    ::QueryPerformanceCounter(&c);
    return c.QuadPart;
}

LONGLONG TicksPerMs() {
    static const LONGLONG perMs = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f.QuadPart / 1000 > 0 ? f.QuadPart / 1000 : 1;
    }();
    return perMs;
}

}  // namespace

const char* TypeWord(const CSyncItem* record) {
    return (record && record->m_strType == "Event") ? CConfig::TYPE_EVENT : CConfig::TYPE_TASK;
}

CDlgSynch::CDlgSynch(CWebSvrAPI* api, HWND parent)
    : hv::CDialogBase(IDD_SYNCH), CPushPull(api, nullptr), m_hParent(parent) {}

CDlgSynch::~CDlgSynch() {
    if (m_hImages) ::ImageList_Destroy(m_hImages);
}

CSyncItem* CDlgSynch::Own(std::unique_ptr<CSyncItem> record) {
    m_records.push_back(std::move(record));
    return m_records.back().get();
}

std::string CDlgSynch::RowText(const CSyncItem* record, int column) {
    if (!record) return std::string();
    switch (column) {
        case 0:
            return record->m_strActionText;
        case 1:
            return record->m_strType;
        default:
            return record->title;
    }
}

// ---- dialog plumbing --------------------------------------------------------------------------

BOOL CDlgSynch::OnInitDialog() {
    CLogBlock block("CDlgSynch::OnInitDialog");
    HWND hwnd = GetHwnd();
    m_hOwner = hwnd;
    m_hList = GetItem(IDC_SYNCH_LIST);

    RecordSizes(hwnd, IDC_SYNCH_MARKER);
    m_minTrack = GetSize(0);
    {
        CConfig config;
        m_nDetails = config.GetSyncSize() ? 0 : 1;
    }
    ToggleDetails();

    ::SetForegroundWindow(hwnd);
    HINSTANCE module = hv::ThisModule();
    HICON big =
        static_cast<HICON>(::LoadImageA(module, MAKEINTRESOURCEA(IDI_SYNCH), IMAGE_ICON, ::GetSystemMetrics(SM_CXICON),
                                        ::GetSystemMetrics(SM_CYICON), LR_SHARED));
    HICON small =
        static_cast<HICON>(::LoadImageA(module, MAKEINTRESOURCEA(IDI_SYNCH), IMAGE_ICON,
                                        ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    if (big) ::SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (small) ::SendMessageA(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));

    m_hImages = ::ImageList_LoadImageA(module, MAKEINTRESOURCEA(IDB_SYNCH_ACTIONS), 16, 0, RGB(255, 0, 255),
                                       IMAGE_BITMAP, LR_CREATEDIBSECTION);
    if (m_hImages) ListView_SetImageList(m_hList, m_hImages, LVSIL_SMALL);
    ListView_SetExtendedListViewStyle(m_hList, LVS_EX_FULLROWSELECT);
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = 75;
        column.pszText = const_cast<char*>(kColumns[i]);
        column.iSubItem = i;
        if (::SendMessageA(m_hList, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column)) < 0) return FALSE;
    }
    SizeColumns();
    ::SendDlgItemMessageA(hwnd, IDC_SYNCH_PROGRESS, PBM_SETRANGE32, 0, 0);

    m_initTicks = Ticks();
    if (!m_pAPI) return TRUE;
    m_pSettings = std::make_unique<CWebSvrSettingsScope>();
    m_lastTimerYield = Ticks();

    if (m_context.pSyncItem) {
        LoadRecurringEvent();
        HvLog().LogComment("Calling ComputeActions: m_context.pSyncItem != NULL");
        ComputeActions();
        m_fMyOpsDone = 1;
        SetStatusRes(IDS_SYNC_IN_PROGRESS);
        m_nItemCount = static_cast<long>(m_rows.size());
        m_nNextItem = 0;
        ::SendDlgItemMessageA(hwnd, IDC_SYNCH_PROGRESS, PBM_SETRANGE32, 0, m_nItemCount);
        m_fProgress = 1;
        NextItem();
        return TRUE;
    }

    std::unique_ptr<CWebSvrOp> op;
    if (m_nSyncKinds & SYNC_TASKS) {
        op = MakeDownload(true);
    } else if (m_nSyncKinds & SYNC_EVENTS) {
        op = MakeDownload(false);
    }
    if (op) {
        m_pOperation = std::move(op);
        HvLog().LogComment("OnInitDialog: Posting WMU_RUN_OP...");
        ::PostMessageA(hwnd, hv::WMU_RUN_OP, 0, 0);
    }
    return TRUE;
}

// The lower limit of an incremental download: where the last complete run's download began
// when that is known, else the end of that run.
static bool IncrementalFrom(CConfig& config, const char* type, std::string& mark) {
    if (config.GetLastDownload(type, mark) == S_OK && !mark.empty()) return true;
    return config.GetLastSync(type, mark) == S_OK;
}

std::unique_ptr<CWebSvrOp> CDlgSynch::MakeDownload(bool tasks) {
    CConfig config;
    std::string mark;
    if (tasks) {
        auto op = NewOp<OpGetMyTasks>();
        if (m_fIncremental && IncrementalFrom(config, CConfig::TYPE_TASK, mark)) op->m_strLastModified = mark;
        m_fTasksRun = true;
        m_strTasksAsked = CConfig::NowStamp();
        return op;
    }
    auto op = NewOp<OpGetMyEvents>();
    if (m_fIncremental && IncrementalFrom(config, CConfig::TYPE_EVENT, mark)) op->m_strStartDate = mark;
    m_fEventsRun = true;
    m_strEventsAsked = CConfig::NowStamp();
    return op;
}

bool CDlgSynch::OnCommand(WORD id, WORD code, HWND control) {
    try {
        if (id == IDC_SYNCH_DETAILS && code == BN_CLICKED) {
            ToggleDetails();
            return true;
        }
        if (id == IDCANCEL) {
            // "Cancel All" and "Close" end the dialog at once; rows not run yet stay undone, and
            // no slice continues the planning or the rows.
            m_fCancelled = true;
            m_fPlanning = false;
            m_fTaking = false;
            if (m_nTimer) {
                ::KillTimer(GetHwnd(), m_nTimer);
                m_nTimer = 0;
            }
            EndDialog(IDCANCEL);
            return true;
        }
        if (id == IDOK) return true;  // Enter must not end the run
    } catch (...) {
        HvLog().LogError("CDlgSynch::OnCommand: exception");
        return true;
    }
    return hv::CDialogBase::OnCommand(id, code, control);
}

LRESULT CDlgSynch::OnNotify(NMHDR* header, bool& handled) {
    try {
        if (header && header->idFrom == IDC_SYNCH_LIST && header->code == LVN_GETDISPINFOA) {
            auto* info = reinterpret_cast<NMLVDISPINFOA*>(header);
            // The list keeps nothing of a row but its number: the row's record is looked up by it.
            const CSyncItem* record = nullptr;
            if (info->item.iItem >= 0 && info->item.iItem < static_cast<int>(m_rows.size()))
                record = m_rows[info->item.iItem];
            if (record) {
                if (info->item.mask & LVIF_TEXT) {
                    m_strCallbackText = RowText(record, info->item.iSubItem);
                    ::lstrcpynA(info->item.pszText, m_strCallbackText.c_str(), info->item.cchTextMax);
                }
                if (info->item.mask & LVIF_IMAGE) info->item.iImage = static_cast<int>(record->m_nAction);
            }
            handled = true;
            return 0;
        }
        if (header && header->idFrom == IDC_SYNCH_LIST &&
            (header->code == LVN_ODFINDITEMA || header->code == LVN_ODFINDITEMW)) {
            // Typing in the list finds the next row whose first column starts with the text. The
            // list may ask in either character set whatever this dialog's own is (Wine's asks in
            // Unicode even an ANSI parent), so the wide text is taken to the ANSI code page.
            handled = true;
            const auto* find = reinterpret_cast<const NMLVFINDITEMA*>(header);
            std::string wanted;
            if (header->code == LVN_ODFINDITEMW) {
                const auto* wide = reinterpret_cast<const NMLVFINDITEMW*>(header);
                if (wide->lvfi.psz) wanted = hv::ToAnsi(wide->lvfi.psz);
            } else if (find->lvfi.psz) {
                wanted = find->lvfi.psz;
            }
            return FindRow(find->iStart, find->lvfi.flags, wanted);
        }
    } catch (...) {
        HvLog().LogError("CDlgSynch::OnNotify: exception");
        handled = true;
        return 0;
    }
    return hv::CDialogBase::OnNotify(header, handled);
}

LRESULT CDlgSynch::FindRow(int start, UINT flags, const std::string& wanted) const {
    if (!(flags & (LVFI_STRING | LVFI_PARTIAL))) return -1;
    const bool partial = (flags & LVFI_PARTIAL) != 0;
    const int count = static_cast<int>(m_rows.size());
    if (count == 0) return -1;
    if (start < 0 || start >= count) start = 0;
    const int span = (flags & LVFI_WRAP) ? count : count - start;
    for (int k = 0; k < span; ++k) {
        const int row = (start + k) % count;
        const std::string text = RowText(m_rows[row], 0);
        if (partial ? ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, text.c_str(),
                                       static_cast<int>(std::min(text.size(), wanted.size())), wanted.c_str(),
                                       static_cast<int>(wanted.size())) == CSTR_EQUAL
                    : ::lstrcmpiA(text.c_str(), wanted.c_str()) == 0)
            return row;
    }
    return -1;
}

INT_PTR CDlgSynch::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) {
    try {
        switch (msg) {
            case hv::WMU_RUN_OP: {
                handled = true;
                CDriving driving(*this);
                OnRunOp(static_cast<int>(wParam));
                RunQueuedSteps();
                return 0;
            }
            case WMU_SYNCH_SLICE: {
                handled = true;
                if (m_fCancelled || WaitForFirstShow()) return 0;
                CDriving driving(*this);
                BeginSlice();
                if (m_fTaking)
                    ContinueTaking();
                else if (m_fPlanning)
                    ContinuePlanning();
                else
                    OnTick();
                RunQueuedSteps();
                return 0;
            }
            case WM_GETMINMAXINFO: {
                handled = true;
                auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
                if (m_minTrack.cx > 0) {
                    info->ptMinTrackSize.x = m_minTrack.cx;
                    if (m_nDetails == 1) {
                        // Collapsed: only the top part, which does not stretch vertically.
                        const SIZE small = GetSize(1);
                        info->ptMinTrackSize.y = small.cy;
                        info->ptMaxTrackSize.y = small.cy;
                    } else {
                        info->ptMinTrackSize.y = m_minTrack.cy;
                    }
                }
                return 0;
            }
            case WM_SIZE:
                SizeColumns();
                return 0;
            default:
                break;
        }
    } catch (...) {
        HvLog().LogError("CDlgSynch::OnMessage: exception");
        handled = true;
        return 0;
    }
    return hv::CDialogBase::OnMessage(msg, wParam, lParam, handled);
}

void CDlgSynch::OnHandlerException() noexcept {
    HvLog().LogError("CDlgSynch: a handler failed");
}

void CDlgSynch::OnDestroy() {
    try {
        if (m_nTimer) {
            ::KillTimer(GetHwnd(), m_nTimer);
            m_nTimer = 0;
        }
        ::KillTimer(GetHwnd(), HV_SYNCH_CLOSE_TIMER);
        m_pPushedItem.reset();
        m_pSettings.reset();
        CConfig config;
        config.SetSyncSize(static_cast<DWORD>(m_nDetails));
        config.SetHashVersion(CConfig::CURRENT_HASH_VERSION);
    } catch (...) {
        HvLog().LogError("CDlgSynch::OnDestroy: exception");
    }
}

void CDlgSynch::ToggleDetails() {
    HWND hwnd = GetHwnd();
    if (m_nDetails == 0) {
        m_nDetails = 1;
        SetItemText(IDC_SYNCH_DETAILS, hv::LoadResString(IDS_DETAILS_MORE));
        ::ShowWindow(GetItem(IDC_SYNCH_LIST), SW_HIDE);
    } else {
        m_nDetails = 0;
        SetItemText(IDC_SYNCH_DETAILS, hv::LoadResString(IDS_DETAILS_LESS));
        ::ShowWindow(GetItem(IDC_SYNCH_LIST), SW_SHOW);
    }
    ApplySize(hwnd, m_nDetails);
}

void CDlgSynch::SizeColumns() {
    if (!m_hList) return;
    RECT rc{};
    ::GetClientRect(m_hList, &rc);
    const int width = std::max<int>(0, (rc.right - rc.left) - 4);
    ListView_SetColumnWidth(m_hList, 0, width / 4);
    ListView_SetColumnWidth(m_hList, 1, width / 8);
    ListView_SetColumnWidth(m_hList, 2, width * 5 / 8);
}

void CDlgSynch::AddRow(CSyncItem* record) {
    if (!record) return;
    // The list holds no rows of its own: it asks for texts and images by row number
    // (LVN_GETDISPINFO) and learns the number of rows once a slice (SyncRowCount).
    record->m_nListIndex = static_cast<long>(m_rows.size());
    m_rows.push_back(record);
}

void CDlgSynch::SyncRowCount() {
    if (!m_hList || m_nListCount == static_cast<long>(m_rows.size())) return;
    m_nListCount = static_cast<long>(m_rows.size());
    // Rows are only ever appended: the rows already shown keep their place, and only the new
    // ones in view are painted.
    ::SendMessageA(m_hList, LVM_SETITEMCOUNT, static_cast<WPARAM>(m_nListCount),
                   LVSICF_NOSCROLL | LVSICF_NOINVALIDATEALL);
}

void CDlgSynch::RedrawRow(const CSyncItem* record) {
    if (!m_hList || !record) return;
    // A record without a row of its own (an Outlook counterpart) redraws its partner's row.
    long index = record->m_nListIndex;
    if (index < 0 && record->m_pCounterpart) index = record->m_pCounterpart->m_nListIndex;
    if (index < 0) return;
    // Redrawn with the slice's other rows when the slice ends (the list paints only then).
    if (m_nDirtyFirst < 0 || index < m_nDirtyFirst) m_nDirtyFirst = index;
    if (index > m_nDirtyLast) m_nDirtyLast = index;
}

void CDlgSynch::FlushDisplay() {
    SyncRowCount();
    ShowPendingStatus();
    if (m_hList && m_nDirtyFirst >= 0) ListView_RedrawItems(m_hList, m_nDirtyFirst, m_nDirtyLast);
    m_nDirtyFirst = m_nDirtyLast = -1;
    if (m_hList && m_nShownRow >= 0) ListView_EnsureVisible(m_hList, m_nShownRow, FALSE);
    m_nShownRow = -1;
    if (m_nProgressPos >= 0) ::SendDlgItemMessageA(GetHwnd(), IDC_SYNCH_PROGRESS, PBM_SETPOS, m_nProgressPos, 0);
    m_nProgressPos = -1;
}

void CDlgSynch::RedrawAllRows() {
    // The whole list at once: item by item, the list invalidates every row's own rectangle.
    SyncRowCount();
    if (m_hList && !m_rows.empty()) ::InvalidateRect(m_hList, nullptr, FALSE);
}

void CDlgSynch::SetStatus(const std::string& text) {
    // Within a handler of the step loop the text waits for the handler to return to the message
    // loop (or for the slice's end): the status line paints only then, so whoever looks sees the
    // same text, and the steps and rows of one slice do not each set the window's text.
    m_strStatusPending = text;
    m_fStatusPending = true;
    if (m_nDriving == 0) ShowPendingStatus();
}
void CDlgSynch::ShowPendingStatus() {
    if (!m_fStatusPending) return;
    m_fStatusPending = false;
    // Setting a window text is a call into the window system (and a repaint): the same text is
    // not set twice.
    if (m_fStatusShown && m_strStatusPending == m_strStatusShown) return;
    SetItemText(IDC_SYNCH_STATUS, m_strStatusPending);
    m_strStatusShown = m_strStatusPending;
    m_fStatusShown = true;
}
void CDlgSynch::SetStatusRes(UINT id) {
    SetStatus(hv::LoadResString(id));
}
std::string CDlgSynch::FormatStatus(UINT id, const std::string& title) {
    std::string format = hv::LoadResString(id);
    std::string text = format;
    const size_t at = format.find("%s");
    if (at != std::string::npos) text = format.substr(0, at) + title + format.substr(at + 2);
    return text;
}

void CDlgSynch::ShowClose() {
    FlushDisplay();
    SetItemText(IDCANCEL, hv::LoadResString(IDS_CLOSE));
}

// ---- slices ------------------------------------------------------------------------------------

void CDlgSynch::BeginSlice() {
    if (m_fInSlice) return;
    m_fInSlice = true;
    m_sliceStart = Ticks();
}

bool CDlgSynch::SliceOver() {
    if (!m_fInSlice || m_fCancelled) return true;
    // The modal loop shows the dialog once its queue first runs empty: the run waits for that,
    // so the user sees the dialog before the work starts. (Once shown, it stays shown.)
    if (!m_fShown) {
        if (!::IsWindowVisible(GetHwnd())) return true;
        m_fShown = true;
    }
    const LONGLONG now = Ticks();
    if (now - m_sliceStart >= static_cast<LONGLONG>(HV_SYNCH_SLICE_MS) * TicksPerMs()) return true;
    // Whatever waits for this thread goes first: a click on "Cancel All" or "Details", a window
    // move, a message posted or sent to it (by Outlook's other windows, by another thread that
    // asks the dialog something, or a command posted to the dialog). Asking is a call into the
    // window system (under Wine a round trip to its server, a good part of a planning step or
    // an unchanged row), so the queue is asked at most once a millisecond, and after every row
    // that wrote to either side: such a row waits for nothing that came in while it wrote.
    if (!m_fAskQueue && now - m_lastQueueCheck < TicksPerMs()) return false;
    m_fAskQueue = false;
    m_lastQueueCheck = now;
    return HIWORD(::GetQueueStatus(QS_INPUT | QS_POSTMESSAGE | QS_SENDMESSAGE)) != 0;
}

bool CDlgSynch::WaitForFirstShow() {
    HWND hwnd = GetHwnd();
    if (::IsWindowVisible(hwnd)) return false;
    // The modal loop shows the dialog when its queue first runs empty; a timer message comes
    // only then, so planning and rows wait for it instead of running unseen (a posted message
    // would keep the queue from ever running empty).
    m_nTimer = ::SetTimer(hwnd, HV_SYNCH_TIMER, HV_SYNCH_TIMER_MS, nullptr);
    return true;
}

void CDlgSynch::EndSlice() {
    m_fInSlice = false;
    if (m_fCancelled) return;
    HWND hwnd = GetHwnd();
    if (WaitForFirstShow()) return;
    // The list, the progress bar and the status line show this slice's work.
    FlushDisplay();
    ::RedrawWindow(hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    const LONGLONG now = Ticks();
    const bool waiting = HIWORD(::GetQueueStatus(QS_INPUT | QS_PAINT)) != 0;
    if (waiting || now - m_lastTimerYield >= static_cast<LONGLONG>(HV_SYNCH_TIMER_YIELD_MS) * TicksPerMs()) {
        // Timer messages come after input and paint, and let the thread's other timers run.
        m_lastTimerYield = now;
        m_nTimer = ::SetTimer(hwnd, HV_SYNCH_TIMER, HV_SYNCH_TIMER_MS, nullptr);
        return;
    }
    ::PostMessageA(hwnd, WMU_SYNCH_SLICE, 0, 0);
}

void CDlgSynch::RunOpSoon(int step) {
    // Within a slice that has time left the step runs as soon as the one before it has returned
    // (RunQueuedSteps), without a trip through the message queue; otherwise it is posted, as
    // between slices.
    if (m_nDriving > 0 && m_nQueuedStep < 0 && !SliceOver()) {
        m_nQueuedStep = step;
        return;
    }
    ::PostMessageA(GetHwnd(), hv::WMU_RUN_OP, static_cast<WPARAM>(step), 0);
}

void CDlgSynch::RunQueuedSteps() {
    // A loop, not a call from the step before: a slice of many short rows must not nest them.
    while (m_nQueuedStep >= 0) {
        const int step = m_nQueuedStep;
        m_nQueuedStep = -1;
        if (m_fCancelled) return;
        OnRunOp(step);
    }
}

void CDlgSynch::PostQueuedStep() noexcept {
    const int step = m_nQueuedStep;
    m_nQueuedStep = -1;
    if (!m_fCancelled && GetHwnd()) ::PostMessageA(GetHwnd(), hv::WMU_RUN_OP, static_cast<WPARAM>(step), 0);
}

void CDlgSynch::ShowPendingStatusNoThrow() noexcept {
    try {
        ShowPendingStatus();
    } catch (...) {
        HvLog().LogError("CDlgSynch: the status text could not be shown");
    }
}

void CDlgSynch::StartStepTimer() {
    if (m_fCancelled) return;
    if (!SliceOver()) {
        OnTick();
        return;
    }
    EndSlice();
}

// ---- the step loop ------------------------------------------------------------------------------

void CDlgSynch::OnRunOp(int step) {
    if (m_fCancelled) return;
    BeginSlice();
    m_nStep = step;
    CWebSvrOp* op = Op();
    if (!IsDownload(op) && !IsServiceAction(m_pCurrent)) {
        HvLog().LogComment("CDlgSynch::OnRunOp: calling NextItem(2)");
        NextItem();
        return;
    }
    if (step < 6 && op) SetStatus(op->StepText(step));
    if (step == 5) {
        HvLog().LogComment("CDlgSynch::OnRunOp: calling NextItem(1)");
        NextItem();
    } else {
        StartStepTimer();
    }
}

void CDlgSynch::OnTimer(UINT_PTR id) {
    try {
        ::KillTimer(GetHwnd(), id);
        if (id == HV_SYNCH_CLOSE_TIMER) {
            EndDialog(1);
            return;
        }
        if (id == m_nTimer) m_nTimer = 0;
        if (id != HV_SYNCH_TIMER || m_fCancelled || WaitForFirstShow()) return;
        CDriving driving(*this);
        BeginSlice();
        if (m_fTaking)
            ContinueTaking();
        else if (m_fPlanning)
            ContinuePlanning();
        else
            OnTick();
        RunQueuedSteps();
    } catch (...) {
        HvLog().LogError("CDlgSynch::OnTimer: exception");
    }
}

void CDlgSynch::OnTick() {
    try {
        HWND hwnd = GetHwnd();
        CWebSvrOp* op = Op();
        if (op && (IsDownload(op) || IsServiceAction(m_pCurrent))) {
            int ran;
            if (IsDownload(op)) {
                // A download's steps go through the message queue: the receive step repeats per
                // chunk and while the parse runs aside, and the loop turns between them.
                ran = op->Run(0, hwnd, hv::WMU_RUN_OP, m_nStep);
            } else {
                int next = -1;
                ran = op->Step(m_nStep, next);
                if (next >= 0) RunOpSoon(next);
            }
            if (ran) {
                SetStatus(op->StepText(m_nStep));
                return;
            }
            // The step failed. After the receive step the operation has posted step 5 even for a
            // fault, so the row closes as failed and the run goes on; otherwise the run stops here.
            m_fFinished = 0;
            op->CloseRequest();
            op->m_hResponseFile.reset();
            ShowClose();
            SetStatus(!op->m_strFaultString.empty() ? op->m_strFaultString : std::string(op->StepText(m_nStep)));
            if (op->m_fAnswered) {
                // A fault, or an answer that does not parse: the row (or download) that step 5
                // closes has failed, whatever code the answer left.
                if (op->m_hResult == S_OK) op->m_hResult = E_FAIL;
            } else {
                HvLog().LogError("CDlgSynch::OnTimer: the operation failed; the run stops");
            }
            return;
        }
        if (m_pCurrent) {
            RunOpSoon(5);
            return;
        }
        if (op) SetStatus(op->StepText(m_nStep));
    } catch (...) {
        HvLog().LogError("CDlgSynch::OnTick: exception");
    }
}

void CDlgSynch::StopRun() {
    m_fFinished = 0;
    ShowClose();
}

bool CDlgSynch::TakeDownload(CSyncItemList& records, bool events) {
    CConfig config;
    const DWORD deleteOutlook = config.GetDeleteOutlookItems();
    // The list learns of this slice's rows when the slice ends.
    while (!records.empty()) {
        std::unique_ptr<CSyncItem> taken = std::move(records.front());
        records.pop_front();
        if (taken->m_fDeleted && deleteOutlook == 0) continue;
        CSyncItem* record = Own(std::move(taken));
        record->m_nSource = 0;
        if (events) record->m_nBusyStatus = 2;
        HvLog().LogCommentFmt("Adding Task %s", record->title);
        AddRow(record);
        if (SliceOver()) break;
    }
    return records.empty();
}

void CDlgSynch::ContinueTaking() {
    CWebSvrOp* op = Op();
    if (m_fCancelled || !IsDownload(op)) return;
    const bool events = IsKind(op, "OpGetMyEvents");
    if (!TakeDownload(events ? static_cast<OpGetMyEvents*>(op)->m_records : static_cast<OpGetMyTasks*>(op)->m_records,
                      events)) {
        EndSlice();
        return;
    }
    m_fTaking = false;
    // From here on as when the whole download was taken in the slice that received it.
    if (!DownloadTaken(events)) {
        HvLog().LogComment("NextItem: PostOp returned FALSE");
        return;
    }
    if (m_fPlanning) {
        EndSlice();
        return;
    }
    NextRow();
}

BOOL CDlgSynch::DownloadTaken(bool events) {
    if (!events && (m_nSyncKinds & SYNC_EVENTS)) {
        m_pOperation = MakeDownload(false);
        ::PostMessageA(GetHwnd(), hv::WMU_RUN_OP, 0, 0);
        return FALSE;
    }
    RedrawAllRows();
    ReleaseOperation();
    // The planning runs in slices of its own; the rows follow when it is done.
    Planner().Begin(true, true);
    m_fPlanning = true;
    if (!m_pPlanner->Step([this] { return SliceOver(); })) return TRUE;
    m_fPlanning = false;
    PlanningDone();
    return TRUE;
}

BOOL CDlgSynch::PostOp() {
    CWebSvrOp* op = Op();
    if (!op) return TRUE;
    const bool tasks = IsKind(op, "OpGetMyTasks");
    const bool events = IsKind(op, "OpGetMyEvents");
    if (tasks || events) {
        if (op->m_hResult != S_OK) {
            // A download that failed stops the run; the marks stay, so the next run starts from
            // the same point.
            HvLog().LogError("PostOp: the download failed");
            SetStatus(!op->m_strFaultString.empty() ? op->m_strFaultString : std::string(op->StepText(5)));
            ReleaseOperation();
            StopRun();
            return FALSE;
        }
        ::SendDlgItemMessageA(GetHwnd(), IDC_SYNCH_PROGRESS, PBM_SETPOS, 0, 0);
        // A large download becomes rows over several slices; the next download, or the
        // planning, starts when all of them are in.
        const bool taken = TakeDownload(
            tasks ? static_cast<OpGetMyTasks*>(op)->m_records : static_cast<OpGetMyEvents*>(op)->m_records, events);
        if (!taken) {
            m_fTaking = true;
            return TRUE;
        }
        return DownloadTaken(events);
    }
    if (op->m_hResult != S_OK) return TRUE;  // left for NextItem to close the row as failed
    if (IsKind(op, "OpPushTask")) {
        AfterPushTask();
    } else if (IsKind(op, "OpPushEvent")) {
        AfterPushEvent();
    } else if (IsKind(op, "OpDeleteEvent") && m_pCurrent) {
        m_pCurrent->m_strActionText = hv::LoadResString(IDS_EVENT_DELETED);
        m_pCurrent->m_nAction = ACTION_DONE;
        if (m_pCurrent->m_pCounterpart) {
            m_pCurrent->m_pCounterpart->m_nAction = ACTION_DONE;
            m_pCurrent->m_pCounterpart->m_strActionText = m_pCurrent->m_strActionText;
        }
        RedrawRow(m_pCurrent);
    }
    ReleaseOperation();
    return TRUE;
}

// A push that reached the service but whose link could not be written into Outlook: the row
// fails, and the record the service now holds is remembered with the item, so that the next
// run pairs the two (and writes the link) instead of pushing the item as a second record.
void CDlgSynch::LinkFailed(CSyncItem* record, const char* type, const std::string& recordId) {
    HvLog().LogError("CDlgSynch: the service took \"" + record->title +
                     "\", but its link could not be saved in Outlook");
    if (!recordId.empty() && !record->m_strEntryID.empty() && !record->m_pOccurrence) {
        m_pendingConfig.SetPendingLink(type, record->m_strEntryID, recordId);
        m_pendingConfig.ClearPendingCreate(type, record->m_strEntryID);
    }
    const std::string text = hv::LoadResString(IDS_ACTION_FAILED);
    for (CSyncItem* r : {record, record->m_pCounterpart}) {
        if (!r) continue;
        r->m_nAction = ACTION_FAILED;
        r->m_strActionText = text;
    }
    RedrawRow(record);
}

HRESULT CDlgSynch::AfterPushTask() {
    auto* op = static_cast<OpPushTask*>(Op());
    CSyncItem* record = m_pCurrent;
    if (!record) return S_FALSE;
    const bool created = record->m_target.m_strID.empty();
    if (op->m_strReturnedId.empty()) {
        LinkFailed(record, CConfig::TYPE_TASK, std::string());
        return E_FAIL;
    }
    hv::com_ptr<IDispatch> item = std::move(m_pPushedItem);
    if (!item && (FAILED(GetItemFromID(record->m_strEntryID, item)) || !item)) {
        LinkFailed(record, CConfig::TYPE_TASK, op->m_strReturnedId);
        return E_FAIL;
    }
    // The service's answer gives the row its values; the record keeps its place in the run.
    CSyncItem* counterpart = record->m_pCounterpart;
    const std::string entryId = record->m_strEntryID;
    record->AbsorbAnswer(op->m_answer);
    if (record->m_target.m_strID.empty()) record->m_target.m_strID = op->m_strReturnedId;
    // The item holds what was just sent: its fingerprint is taken from that.
    CSyncItem sent;
    const bool known = SentContent(sent);
    if (FAILED(SetLinkProps(item.get(), OL_CLASS_TASK, record, record->m_target, &record->last_modified,
                            &record->assigned_to, &record->assigned_to_userids, nullptr, nullptr, this,
                            known ? &sent : nullptr))) {
        LinkFailed(record, CConfig::TYPE_TASK, op->m_strReturnedId);
        return E_FAIL;
    }
    m_pendingConfig.ClearPendingLink(CConfig::TYPE_TASK, entryId);
    if (created) m_pendingConfig.ClearPendingCreate(CConfig::TYPE_TASK, entryId);
    const std::string text = hv::LoadResString(IDS_TASK_UPDATED);
    for (CSyncItem* r : {record, counterpart}) {
        if (!r) continue;
        r->m_nAction = ACTION_DONE;
        r->m_strActionText = text;
    }
    RedrawRow(record);
    return S_OK;
}

// A pair the planner found equal, whose Outlook link still holds the fingerprint of before an
// update the service carried out without its answer arriving: the link is written anew (no
// field changes), or a later run would take the item for changed and send it again.
void CDlgSynch::RefreshLink(CSyncItem* record) {
    CSyncItem* outlook = record->m_pCounterpart;
    if (!outlook) return;
    const std::string& entryId = record->m_strEntryID.empty() ? outlook->m_strEntryID : record->m_strEntryID;
    hv::com_ptr<IDispatch> item;
    if (entryId.empty() || FAILED(GetItemFromID(entryId, item)) || !item) return;
    const bool isEvent = record->m_strType == "Event";
    HvLog().LogCommentFmt("NextItem: the link of \"%s\" is written anew", record->title);
    if (FAILED(SetLinkProps(item.get(), isEvent ? OL_CLASS_APPOINTMENT : OL_CLASS_TASK, outlook, record->m_target,
                            &record->last_modified, &record->assigned_to, &record->assigned_to_userids,
                            isEvent ? &record->organizer : nullptr, isEvent ? &record->internal_use_only : nullptr,
                            this)))
        HvLog().LogError("NextItem: the link could not be saved; the next run tries again");
}

HRESULT CDlgSynch::AfterPushEvent() {
    auto* op = static_cast<OpPushEvent*>(Op());
    CSyncItem* record = m_pCurrent;
    if (!record || record->m_strEntryID.empty()) return S_FALSE;
    const bool created = record->m_target.m_strID.empty();
    if (op->m_strReturnedId.empty()) {
        LinkFailed(record, CConfig::TYPE_EVENT, std::string());
        return E_FAIL;
    }
    hv::com_ptr<IDispatch> item = std::move(m_pPushedItem);
    bool opened = item != nullptr;
    if (opened) {
        // The item the push was read from.
    } else if (record->m_pOccurrence) {
        // Reopened without reloading: the record keeps what was pushed.
        opened = ReconstituteAppt(record, item, 0, 1) && item;
    } else {
        opened = SUCCEEDED(GetItemFromID(record->m_strEntryID, item)) && item;
    }
    if (!opened) {
        LinkFailed(record, CConfig::TYPE_EVENT, op->m_strReturnedId);
        return E_FAIL;
    }
    const CSyncItem& answer = op->m_answer;
    CTarget target = answer.m_target;
    if (target.m_strID.empty()) target.m_strID = op->m_strReturnedId;
    // An occurrence's link blob names its own record; the series' other occurrences keep theirs.
    record->m_target = target;
    CSyncItem sent;
    const bool known = SentContent(sent);
    if (FAILED(SetLinkProps(item.get(), OL_CLASS_APPOINTMENT, record, target, &answer.last_modified,
                            &answer.assigned_to, &answer.assigned_to_userids, &answer.organizer,
                            &answer.internal_use_only, this, known ? &sent : nullptr))) {
        LinkFailed(record, CConfig::TYPE_EVENT, op->m_strReturnedId);
        return E_FAIL;
    }
    if (!record->m_pOccurrence) {
        m_pendingConfig.ClearPendingLink(CConfig::TYPE_EVENT, record->m_strEntryID);
        if (created) m_pendingConfig.ClearPendingCreate(CConfig::TYPE_EVENT, record->m_strEntryID);
    }
    const std::string text = hv::LoadResString(IDS_EVENT_UPDATED);
    for (CSyncItem* r : {record, record->m_pCounterpart}) {
        if (!r) continue;
        r->m_nAction = ACTION_DONE;
        r->m_strActionText = text;
    }
    RedrawRow(record);
    return S_OK;
}

// A create whose answer is lost may still have been carried out: the attempt is written down
// before it is sent, so that the next run can pair the item with the record it made. An
// occurrence shares its series' EntryID and is left out. The fingerprint is taken from what the
// push carries (the values just read from the item), not from a second reading of the item.
void CDlgSynch::RememberCreate(CSyncItem* record) {
    if (!record->m_target.m_strID.empty() || record->m_pOccurrence || record->m_strEntryID.empty()) return;
    const bool isEvent = record->m_strType == "Event";
    CSyncItem sent;
    if (!SentContent(sent)) return;
    const std::string fingerprint = ContentHash(isEvent ? OL_CLASS_APPOINTMENT : OL_CLASS_TASK, sent);
    if (fingerprint.empty()) return;
    m_pendingConfig.SetPendingCreate(isEvent ? CConfig::TYPE_EVENT : CConfig::TYPE_TASK, record->m_strEntryID,
                                     CConfig::NowStamp(), fingerprint);
}

bool CDlgSynch::SentContent(CSyncItem& sent) const {
    const CWebSvrOp* op = Op();
    if (IsKind(op, "OpPushTask")) {
        const auto* push = static_cast<const OpPushTask*>(op);
        sent.m_strType = "Task";
        sent.title = push->m_strTitle;
        sent.priority = hv::Format("%ld", push->m_nPriority);
        sent.completed = push->m_fCompleted ? "true" : "false";
        sent.start_date = push->m_strStartDate;
        sent.due_date = push->m_strDueDate;
        sent.description_plain_text = push->m_strDescription;
        return true;
    }
    if (IsKind(op, "OpPushEvent")) {
        const auto* push = static_cast<const OpPushEvent*>(op);
        sent.m_strType = "Event";
        sent.title = push->m_strTitle;
        sent.location = push->m_strLocation;
        if (push->m_start.m_fValid) CTimeLogic::ConvertToUTC(push->m_start, sent.start_time);
        if (push->m_end.m_fValid) CTimeLogic::ConvertToUTC(push->m_end, sent.end_time);
        sent.description_plain_text = push->m_strDescription;
        return true;
    }
    return false;
}

void CDlgSynch::NextItem() {
    if (!PostOp()) {
        HvLog().LogComment("NextItem: PostOp returned FALSE");
        return;
    }
    if (m_fPlanning || m_fTaking) {
        // The download's rows and the planner go on in the next slices and then start the rows.
        EndSlice();
        return;
    }
    NextRow();
}

CPlanner& CDlgSynch::Planner() {
    if (!m_pPlanner)
        m_pPlanner = std::make_unique<CPlanner>(m_plannerOutlook, m_records, m_rows, m_occurrences, m_entryIds,
                                                [this](CSyncItem* record) { AddRow(record); });
    m_pPlanner->m_nSyncKinds = m_nSyncKinds;
    m_pPlanner->m_pSelection = m_pSelection;
    m_pPlanner->m_nSelCount = m_nSelCount;
    m_pPlanner->m_fIncremental = m_fIncremental;
    m_pPlanner->m_pContext = m_context.pSyncItem;
    return *m_pPlanner;
}

void CDlgSynch::ContinuePlanning() {
    if (!m_pPlanner || m_fCancelled) return;
    if (!m_pPlanner->Step([this] { return SliceOver(); })) {
        EndSlice();
        return;
    }
    m_fPlanning = false;
    PlanningDone();
    NextRow();
}

void CDlgSynch::PlanningDone() {
    RedrawAllRows();
    m_fMyOpsDone = 1;
    SetStatusRes(IDS_SYNC_IN_PROGRESS);
    m_nItemCount = static_cast<long>(m_rows.size());
    m_nNextItem = 0;
    ::SendDlgItemMessageA(GetHwnd(), IDC_SYNCH_PROGRESS, PBM_SETRANGE32, 0, m_nItemCount);
    m_fProgress = 1;
}

HRESULT CDlgSynch::CorrelateAndLoad() {
    return Planner().CorrelateAndLoad();
}

void CDlgSynch::ComputeActions() {
    Planner().ComputeActions();
    RedrawAllRows();
}

bool CDlgSynch::IsStale(CSyncItem* record) {
    return Planner().IsStale(record);
}
bool CDlgSynch::IsHashUnchanged(CSyncItem* record) {
    return Planner().IsHashUnchanged(record);
}
bool CDlgSynch::EquivalentCounterpart(CSyncItem* record) {
    return Planner().EquivalentCounterpart(record);
}

void CDlgSynch::NextRow() {
    HWND hwnd = GetHwnd();
    if (!m_fMyOpsDone) {
        HvLog().LogComment("NextItem: m_fMyOpsDone is FALSE");
        return;
    }

    m_pPushedItem.reset();
    if (m_pCurrent) {
        if (m_pCurrent->m_nAction != ACTION_NONE && m_pCurrent->m_nAction != ACTION_FAILED) {
            CWebSvrOp* op = Op();
            const long action = (op && FAILED(op->m_hResult)) ? ACTION_FAILED : ACTION_DONE;
            m_pCurrent->m_nAction = action;
            if (m_pCurrent->m_pCounterpart) m_pCurrent->m_pCounterpart->m_nAction = action;
        }
        // An operation left over here belongs to this row; it must not mark a later one.
        if (Op()) ReleaseOperation();
        UINT id = IDS_ROW_UPDATED;
        if (m_pCurrent->m_nAction == ACTION_NONE) id = IDS_ROW_SYNCHRONIZING;
        if (m_pCurrent->m_nAction == ACTION_FAILED) id = IDS_ROW_FAILED;
        SetStatus(FormatStatus(id, m_pCurrent->title));
        RedrawRow(m_pCurrent);
        if (m_fProgress) m_nProgressPos = m_nNextItem;
    }

    if (m_nNextItem >= m_nItemCount) {
        HvLog().LogComment("NextItem: Last item housekeeping");
        ShowClose();
        m_fFinished = 1;
        SetStatusRes(IDS_SYNC_COMPLETE);
        if (!m_context.pSyncItem) {
            CConfig config;
            if (m_fTasksRun) {
                config.SetLastSync(CConfig::TYPE_TASK);
                config.SetLastDownload(CConfig::TYPE_TASK, m_strTasksAsked);
            }
            // Events held back for an unreadable occurrence come again with the next run.
            if (m_fEventsRun && !(m_pPlanner && m_pPlanner->HeldBack())) {
                config.SetLastSync(CConfig::TYPE_EVENT);
                config.SetLastDownload(CConfig::TYPE_EVENT, m_strEventsAsked);
            }
        }
        m_pCurrent = nullptr;
        if (m_nDetails == 1) {
            // A run that has nothing to do ends within milliseconds: the collapsed dialog stays
            // up long enough to be seen rather than flash.
            const LONGLONG shown = (Ticks() - m_initTicks) / TicksPerMs();
            if (shown < static_cast<LONGLONG>(HV_SYNCH_MIN_SHOWN_MS))
                ::SetTimer(hwnd, HV_SYNCH_CLOSE_TIMER, static_cast<UINT>(HV_SYNCH_MIN_SHOWN_MS - shown), nullptr);
            else
                EndDialog(1);
        }
        HvLog().LogComment("NextItem: Complete");
        return;
    }

    HvLog().LogComment("NextItem: Loading next item");
    CSyncItem* row = m_rows[m_nNextItem++];
    m_pCurrent = row;
    if ((row->m_nAction == ACTION_UPDATE_SERVICE || row->m_nAction == ACTION_DELETE_OUTLOOK) &&
        row->m_nSource != SOURCE_OUTLOOK && row->m_pCounterpart)
        m_pCurrent = row->m_pCounterpart;
    HvLog().LogCommentFmt("NextItem: Syncing %s", m_pCurrent->title);
    if (!m_fProgress) m_nProgressPos = 0;
    m_nStep = 0;
    m_nShownRow = row->m_nListIndex;

    CSyncItem* cur = m_pCurrent;
    const bool isEvent = cur->m_strType == "Event";
    // A row that writes asks the queue when it is done, however short it was: a "Cancel All"
    // that came in while it wrote stops the run before the next write.
    if (cur->m_nAction != ACTION_NONE) m_fAskQueue = true;
    switch (cur->m_nAction) {
        case ACTION_DELETE_SERVICE: {
            // Started by the timer (not posted as well), so step 0 runs exactly once.
            const HRESULT hr = isEvent ? DeleteEvent(cur->m_target.m_strID, 0) : DeleteTask(cur->m_target.m_strID, 0);
            if (FAILED(hr) || !Op()) {
                // No operation to run: the row has failed, it must not pass for a deletion.
                cur->SetAction(ACTION_FAILED);
                RedrawRow(cur);
                RunOpSoon(5);
                return;
            }
            break;
        }
        case ACTION_UPDATE_SERVICE: {
            HRESULT hr = E_FAIL;
            hv::com_ptr<IDispatch> item;
            if (!cur->m_strEntryID.empty()) {
                HvLog().LogComment("NextItem: GetItemFromID");
                if (isEvent && cur->m_pOccurrence) {
                    if (!ReconstituteAppt(cur, item, 0, 1)) item.reset();
                } else if (FAILED(GetItemFromID(cur->m_strEntryID, item))) {
                    item.reset();
                }
            }
            if (item) {
                ReleaseOperation();
                // A record the planner loaded from this very item holds its link properties already;
                // an occurrence's record holds its blob's, so its item is asked.
                const bool loaded = cur->m_nSource == SOURCE_OUTLOOK && !cur->m_pOccurrence;
                if (!isEvent) {
                    if (loaded)
                        m_strAssignedIds = cur->assigned_to_userids;
                    else
                        GetUserProperty(item.get(), L"HV Assigned To IDs", m_strAssignedIds);
                    BuildMemberList();
                    HvLog().LogComment("NextItem: PushTask...");
                    hr = PushTask(item.get(), cur->m_target, 0);
                } else {
                    m_strAssignedIds = cur->assigned_to_userids;
                    if (m_strAssignedIds.empty() && !loaded)
                        GetUserProperty(item.get(), L"HV Assigned To IDs", m_strAssignedIds);
                    BuildMemberList();
                    if (loaded) {
                        m_strOrganizer = cur->organizer;
                        m_strInternalUse = cur->internal_use_only;
                    } else {
                        GetUserProperty(item.get(), L"HV Organizer", m_strOrganizer);
                        GetUserProperty(item.get(), L"HV Internal Use", m_strInternalUse);
                    }
                    HvLog().LogComment("NextItem: PushAppt...");
                    hr = PushAppt(item.get(), cur->m_target, 0, cur->m_fLaterOccurrence);
                }
            }
            if (FAILED(hr) || !Op()) {
                cur->SetAction(ACTION_FAILED);
                RedrawRow(cur);
                RunOpSoon(5);
                return;
            }
            RememberCreate(cur);
            // The link goes into this same item when the answer is in.
            m_pPushedItem = item;
            break;
        }
        case ACTION_UPDATE_OUTLOOK: {
            HRESULT hr;
            if (isEvent) {
                HvLog().LogComment("NextItem: AbsorbAppt...");
                hr = AbsorbAppt(cur->m_strEntryID, cur);
            } else {
                HvLog().LogComment("NextItem: AbsorbTask...");
                hr = AbsorbTask(cur->m_strEntryID, cur);
            }
            if (SUCCEEDED(hr)) {
                cur->SetAction(ACTION_DONE);
                cur->m_strActionText = hv::LoadResString(isEvent ? IDS_EVENT_UPDATED : IDS_TASK_UPDATED);
            } else {
                cur->SetAction(ACTION_FAILED);
                cur->m_strActionText = hv::LoadResString(IDS_ACTION_FAILED);
            }
            if (cur->m_pCounterpart) cur->m_pCounterpart->m_strActionText = cur->m_strActionText;
            break;
        }
        case ACTION_DELETE_OUTLOOK:
            if (cur->m_strEntryID.empty()) {
                cur->SetAction(ACTION_FAILED);
            } else {
                HvLog().LogComment("NextItem: DeleteItem...");
                // An occurrence shares its series' EntryID: only that occurrence goes (Outlook keeps
                // it as a deleted exception), never the whole series.
                const HRESULT deleted = cur->m_pOccurrence ? DeleteOccurrence(cur) : DeleteItem(cur->m_strEntryID);
                if (SUCCEEDED(deleted)) {
                    cur->SetAction(ACTION_DONE);
                    cur->m_strActionText = hv::LoadResString(IDS_ITEM_DELETED);
                    if (cur->m_pCounterpart) cur->m_pCounterpart->m_strActionText = cur->m_strActionText;
                }
            }
            break;
        case ACTION_NONE:
            if (m_pPlanner && m_pPlanner->LinkIsStale(cur)) RefreshLink(cur);
            break;
        default:
            break;
    }
    RedrawRow(cur);
    StartStepTimer();
}

// ---- single-item runs and recurrence ------------------------------------------------------------

HRESULT CDlgSynch::PopAppt(CSyncItem* series, IDispatch* seriesItem, CSyncItemList* out) {
    CLogBlock block("CDlgSynch::PopAppt");
    CSyncItemList made;
    const HRESULT hr = ExpandSeries(series, seriesItem, made, true);
    CSyncItemList& target = out ? *out : m_occurrences;
    target.splice(target.end(), made);
    return hr;
}

HRESULT CDlgSynch::LoadRecurringEvent() {
    CLogBlock block("CDlgSynch::LoadRecurringEvent");
    HvLog().LogBlockEnter("LoadRecurringEvent::LoadItems");
    HRESULT hr = S_OK;
    try {
        long count = 0;
        THROW_IF_FAILED(OpenDefaultFolder(OL_FOLDER_CALENDAR, &count));
        hv::com_ptr<IDispatch> items = m_pItems;
        for (long i = 1; i <= count; ++i) {
            HvLog().LogComment("LoadRecurringEvent: CallMethod Item");
            hv::unique_variant index = hv::unique_variant::FromLong(i);
            hv::unique_variant result;
            THROW_IF_FAILED(CallMethod(items.get(), L"Item", result.put(), 1, &index));
            hv::com_ptr<IDispatch> appt(result.AsDispatch());
            if (!appt) continue;
            auto record = std::make_unique<CSyncItem>();
            record->m_strType = "Event";
            HvLog().LogComment("LoadRecurringEvent: LoadOneItem");
            LoadOneItem(record.get(), appt.get(), 0);
            if (record->m_strEntryID == m_context.pSyncItem->m_strEntryID) {
                record->m_target = m_context.pSyncItem->m_target;
                record->assigned_to_userids = m_context.pSyncItem->assigned_to_userids;
            }
            hv::unique_variant recurring;
            if (SUCCEEDED(GetProperty(appt.get(), L"IsRecurring", recurring.put())) && !recurring.IsEmpty() &&
                recurring.AsBool()) {
                HvLog().LogComment("LoadRecurringEvent: Calling PopAppt...");
                CSyncItemList occurrences;
                PopAppt(record.get(), appt.get(), &occurrences);
                while (!occurrences.empty()) {
                    CSyncItem* occurrence = Own(std::move(occurrences.front()));
                    occurrences.pop_front();
                    AddRow(occurrence);
                }
            }
        }
    } catch (...) {
        hr = hv::ResultFromCaughtException();
        HvLog().LogError("LoadRecurringEvent: failed");
    }
    HvLog().LogBlockExit("LoadRecurringEvent::LoadItems");
    return hr;
}
