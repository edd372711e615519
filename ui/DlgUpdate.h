#pragma once
// "Updating Halvane": sends Outlook items that were saved by the user to the service one after
// the other, with the message "The Halvane Task (or Event) is being updated..." and the
// operation pump's status bar, and writes each pushed item's new link into it. The change
// handler of the folder sinks opens it; it closes itself when everything was sent.
//
// A recurring series is sent occurrence by occurrence: the caller expands it (ExpandAppt) and
// asks CheckOccurrences which linked occurrences changed since they were last linked, by the
// fingerprint each one keeps in its link blob; only those are sent.
#include <windows.h>
#include <string>
#include <vector>

#include "service/SyncItem.h"
#include "sync/PushPull.h"
#include "win/Dialog.h"

class CDlgUpdate : public hv::CDialogBase, public CPushPull {
public:
    // Sent to itself to go on with the next item after a failed push was shown.
    static constexpr UINT WMU_NEXT_PUSH = WM_APP + 31;

    CDlgUpdate(CWebSvrAPI* api, HWND parent);
    ~CDlgUpdate() override;

    INT_PTR DoModal() { return CDialogBase::DoModal(m_hParent); }

    // One item to send: a record the dialog owns (it goes to m_records) with its done flag.
    class CEntry {
    public:
        CSyncItem* m_pRecord = nullptr;  // not owned here: m_records owns it
        DWORD m_fDone = 0;
        DWORD m_fPushed = 0;  // sent and linked
    };

    // Hands a record over (owned from now on) and queues it for sending. A record without
    // m_pOccurrence names its item by m_strEntryID; `item` is used when that cannot be opened.
    void AddRecord(std::unique_ptr<CSyncItem> record, IDispatch* item = nullptr);
    // Queues the occurrence records of m_records (made by ExpandAppt) that carry a service id, a
    // workspace and a stored fingerprint, and whose occurrence in Outlook no longer has that
    // fingerprint. Returns how many were queued.
    long CheckOccurrences();

    // ---- the operation pump ---------------------------------------------------------------------
    bool AllDone() override;
    void ShowError(HWND dialog, const std::string& details) override;

    // ---- state (readable by tests) ----------------------------------------------------------
    std::vector<CEntry> m_entries;  // the list to send, in order
    size_t m_nPosition = 0;         // the entry being sent
    DWORD m_fRunFailed = 0;         // a push of this run failed
    std::string m_strMessage;       // the text of the message box
    CTarget m_target;               // the target of the push in progress
    std::string m_strAssignee;      // assignee ids of the push in progress

protected:
    BOOL OnInitDialog() override;
    void OnCancel() override;
    void OnTimer(UINT_PTR id) override;
    INT_PTR OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    // Starts the push of the first entry from m_nPosition that is not done; false when none is
    // left (entries whose item cannot be opened or pushed are marked done and failed).
    bool StartPush();
    // Writes the link of the entry just pushed into its item.
    bool MarkPushed(CEntry& entry);
    bool OpenItem(CEntry& entry, hv::com_ptr<IDispatch>& item);
    void Finish();

    HWND m_hParent;
    hv::com_ptr<IDispatch> m_pHandedItem;  // the item the caller gave with the first record
};
