#pragma once
// The synchronisation dialog: downloads the user's tasks and events, lets the planner give every
// row an action, then carries the actions out one row at a time. The work is cut into steps that
// WMU_RUN_OP drives from the dialog's own message loop. Steps run back to back within a slice of
// about 25 ms; then the dialog paints and goes back to its message loop, continuing from a posted
// message, or from its one-shot 5 ms timer when input or paint is waiting (timer messages come
// after both), so the dialog stays responsive and "Cancel All" works at any moment, planning
// included.
#include <windows.h>
#include <commctrl.h>
#include <atomic>
#include <map>
#include <string>
#include <vector>
#include "service/SyncItem.h"
#include "sync/Expander.h"
#include "sync/Planner.h"
#include "sync/PlannerOutlook.h"
#include "sync/PushPull.h"
#include "sync/SynchRes.h"
#include "win/Dialog.h"

class CWebSvrAPI;

// Scopes of a run.
enum : long {
    SYNC_SCOPE_SELECTION = 2,
    SYNC_SCOPE_ALL = 3,
};

constexpr UINT_PTR HV_SYNCH_TIMER = 1;
constexpr UINT HV_SYNCH_TIMER_MS = 5;
// A collapsed dialog closes itself at the end of its run, but not before it has been up this long.
constexpr UINT_PTR HV_SYNCH_CLOSE_TIMER = 2;
constexpr DWORD HV_SYNCH_MIN_SHOWN_MS = 400;
// How long the dialog works before it goes back to its message loop.
constexpr DWORD HV_SYNCH_SLICE_MS = 25;
// Even with nothing waiting, the dialog yields through its timer at least this often, so that
// the host's own timers run during a long synchronisation. Each such yield waits for a timer
// tick (10 to 16 ms), so it is not made more often than needed.
constexpr DWORD HV_SYNCH_TIMER_YIELD_MS = 250;
// Continues the work in a new slice (posted when nothing is waiting for the dialog).
constexpr UINT WMU_SYNCH_SLICE = WM_USER + 101;

struct CSyncContext {
    CSyncItem* pSyncItem = nullptr;  // the record of a single-item run; not owned
};

class CDlgSynch : public hv::CDialogBase, public CExpander, public CPushPull {
public:
    CDlgSynch(CWebSvrAPI* api, HWND parent);
    ~CDlgSynch() override;

    // Runs the dialog modally over the parent given at construction.
    INT_PTR Run() { return DoModal(m_hParent); }

    // ---- set by the starter before the dialog runs --------------------------------------------
    long m_nSyncKinds = SYNC_TASKS | SYNC_EVENTS;
    long m_nScope = SYNC_SCOPE_ALL;
    hv::com_ptr<IDispatch> m_pSelection;  // Outlook "Selection" used instead of whole folders
    long m_nSelCount = 0;
    long m_fIncremental = 1;
    CSyncContext m_context;

    // ---- run state ---------------------------------------------------------------------------
    long m_fMyOpsDone = 0;
    long m_fProgress = 0;
    long m_nItemCount = 0;
    long m_nNextItem = 0;
    CSyncItem* m_pCurrent = nullptr;
    long m_fFinished = 0;
    long m_nDetails = 1;
    // The records shown, in row order (owned by m_records, the adapter's owning list).
    std::vector<CSyncItem*> m_rows;
    // Occurrence records waiting to be paired (owned until moved to m_records).
    CSyncItemList m_occurrences;
    // EntryIDs of Outlook items already paired with a service record.
    std::map<std::string, CSyncItem*> m_entryIds;

    // ---- the planner (CPlanner over this dialog's records and Outlook access) ----------------
    HRESULT CorrelateAndLoad();
    void ComputeActions();
    bool IsStale(CSyncItem* record);
    bool IsHashUnchanged(CSyncItem* record);
    bool EquivalentCounterpart(CSyncItem* record);
    // True while the planning of a full run is going on in slices.
    bool Planning() const noexcept { return m_fPlanning; }

    // ---- the run -----------------------------------------------------------------------------
    void OnRunOp(int step);
    BOOL PostOp();
    void NextItem();
    HRESULT LoadRecurringEvent();
    // Expands a recurring appointment into occurrence records: into `out`, or, with none, into
    // the occurrence list.
    HRESULT PopAppt(CSyncItem* series, IDispatch* seriesItem, CSyncItemList* out);
    void ToggleDetails();

    bool AllDone() override { return m_fFinished != 0; }
    void ShowRecord(CSyncItem* record) override { AddRow(record); }

    // The row texts as the list shows them: action, type, subject.
    static std::string RowText(const CSyncItem* record, int column);

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id, WORD code, HWND control) override;
    LRESULT OnNotify(NMHDR* header, bool& handled) override;
    // The row the list's incremental search asks for, or -1.
    LRESULT FindRow(int start, UINT flags, const std::string& wanted) const;
    void OnTimer(UINT_PTR id) override;
    void OnDestroy() override;
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    void OnHandlerException() noexcept override;
    // One tick of the step loop: runs the current step of a service exchange (which posts the
    // next WMU_RUN_OP), or posts step 5 for an Outlook-side row.
    virtual void OnTick();

private:
    // Appends a row for the record (it must be owned by m_records already).
    void AddRow(CSyncItem* record);
    // Marks the record's row for redrawing at the end of the slice.
    void RedrawRow(const CSyncItem* record);
    // The rows to redraw, the row to scroll into view and the progress position, as the slice
    // left them (the list and the bar paint only when the slice ends).
    void FlushDisplay();
    // Tells the list how many rows there are now.
    void SyncRowCount();
    long m_nListCount = 0;
    long m_nDirtyFirst = -1;
    long m_nDirtyLast = -1;
    long m_nShownRow = -1;
    long m_nProgressPos = -1;
    void RedrawAllRows();
    void SizeColumns();
    void SetStatus(const std::string& text);
    void SetStatusRes(UINT id);
    static std::string FormatStatus(UINT id, const std::string& title);
    // The status text last set, when it is not on the status line yet.
    void ShowPendingStatus();
    std::string m_strStatusPending;
    bool m_fStatusPending = false;
    bool m_fShown = false;
    void ShowClose();
    // Runs the next tick now when the slice has time left, else ends the slice.
    void StartStepTimer();
    // Runs WMU_RUN_OP's step `step` next: in this slice when it has time, else through the queue.
    void RunOpSoon(int step);
    // The steps RunOpSoon left for the handler that is running, one after the other.
    void RunQueuedSteps();
    void PostQueuedStep() noexcept;
    void ShowPendingStatusNoThrow() noexcept;
    // Marks a message handler of the step loop: only within one may a step wait for it to return.
    struct CDriving {
        explicit CDriving(CDlgSynch& dialog) noexcept : m_dialog(dialog) { ++m_dialog.m_nDriving; }
        // A step left queued (a handler that threw) still runs, through the queue.
        ~CDriving() {
            if (--m_dialog.m_nDriving > 0) return;
            if (m_dialog.m_nQueuedStep >= 0) m_dialog.PostQueuedStep();
            m_dialog.ShowPendingStatusNoThrow();
        }
        CDriving(const CDriving&) = delete;
        CDriving& operator=(const CDriving&) = delete;
        CDlgSynch& m_dialog;
    };
    int m_nDriving = 0;
    // When SliceOver last asked the queue, and whether it must ask at its next call.
    LONGLONG m_lastQueueCheck = 0;
    bool m_fAskQueue = false;
    int m_nQueuedStep = -1;
    void BeginSlice();
    bool SliceOver();
    // Paints, then continues through a posted message, or through the timer when input or paint
    // is waiting or the timer has not run for a while.
    // True (with the step timer set) while the dialog has not been shown yet.
    bool WaitForFirstShow();
    void EndSlice();
    // The planner made for this dialog's state.
    CPlanner& Planner();
    void ContinuePlanning();
    void PlanningDone();
    // The rows, from closing the current one on (NextItem after PostOp).
    void NextRow();
    void StopRun();
    // The download of one kind, with the incremental mark as its lower limit.
    std::unique_ptr<CWebSvrOp> MakeDownload(bool tasks);
    // Moves the downloaded records of a finished download into the rows, until the slice is
    // over; true when all of them are in.
    bool TakeDownload(CSyncItemList& records, bool events);
    void ContinueTaking();
    // After the last row of a download: the next download, or the planning (PostOp's answer).
    BOOL DownloadTaken(bool events);
    // The "Last%sSync" mark as a time value; false when none is in use or it does not parse.
    bool LastSyncTime(const char* type, HvTime& t);
    bool LastSyncInUse(const char* type, std::string& text);
    // Adds a record to the owning list.
    CSyncItem* Own(std::unique_ptr<CSyncItem> record);
    // Link the pushed item to the record the service answered with; a failure fails the row.
    HRESULT AfterPushTask();
    HRESULT AfterPushEvent();
    void LinkFailed(CSyncItem* record, const char* type, const std::string& recordId);
    void RefreshLink(CSyncItem* record);
    // Remembers a create about to be sent for the item (see CConfig::SetPendingCreate).
    void RememberCreate(CSyncItem* record);
    // The fields of the current push (a task or an event) as a record's content; false for
    // another operation.
    bool SentContent(CSyncItem& sent) const;
    // The records of attempted creates and pending links: one settings object for the run, so
    // that each record is one registry write (the product keys are made once, not per record).
    CConfig m_pendingConfig;
    // The item the current push was read from.
    hv::com_ptr<IDispatch> m_pPushedItem;

    HWND m_hParent;
    HWND m_hList = nullptr;
    HIMAGELIST m_hImages = nullptr;
    SIZE m_minTrack{0, 0};
    // Which kinds a run downloaded (their marks are written at the end).
    bool m_fTasksRun = false;
    bool m_fEventsRun = false;
    // When each download was asked for; stored with the marks at the end of a complete run.
    std::string m_strTasksAsked;
    std::string m_strEventsAsked;
    // Texts of the list's text callbacks must outlive the notification.
    std::string m_strCallbackText;
    // The status line's text as this dialog last set it.
    std::string m_strStatusShown;
    bool m_fStatusShown = false;
    CPlannerOutlook m_plannerOutlook{*this};
    std::unique_ptr<CPlanner> m_pPlanner;
    // The exchanges of the run read the service settings once, when the run begins.
    std::unique_ptr<CWebSvrSettingsScope> m_pSettings;
    std::atomic<bool> m_fPlanning{false};
    // True while a finished download's records become rows in slices.
    bool m_fTaking = false;
    bool m_fCancelled = false;
    bool m_fInSlice = false;
    LONGLONG m_sliceStart = 0;
    LONGLONG m_lastTimerYield = 0;
    LONGLONG m_initTicks = 0;
};

// Short type words of the per-type settings.
const char* TypeWord(const CSyncItem* record);
