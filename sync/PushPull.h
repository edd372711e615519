#pragma once
// CPushPull is where Outlook items and sync records meet: it loads an Outlook task or appointment
// into a CSyncItem, turns an item into a service push, writes a service record into an item,
// deletes items on either side, forwards an item as mail with a metadata attachment, and expands
// recurring appointments into occurrence records. It is a base of the dialogs that talk to both
// sides (synchronisation, Add Item, update); CPumpOp gives them the one running operation, and
// CHasher (over CDispatcher) the fingerprint and late-bound Outlook access.
//
// Operations: every one this class creates gets the API object's service URL and a copy of
// m_credentials, and is kept in CPumpOp::m_pOperation (the "current operation", see Op()).
// With the post flag, WMU_RUN_OP step 0 is also posted to m_hOwner; without it the owner
// starts the operation itself.
#include <windows.h>
#include <oaidl.h>
#include <list>
#include <memory>
#include <string>
#include "service/Credentials.h"
#include "service/PumpOp.h"
#include "service/SyncItem.h"
#include "service/TimeLogic.h"
#include "sync/Hasher.h"
#include "sync/LinkProps.h"
#include "sync/Recurrence.h"
#include "service/LocationRecords.h"
#include "win/ComPtr.h"
#include "win/Errors.h"

class CWebSvrAPI;
class CWebSvrOp;

// Outlook classes beyond the two of LinkProps.h, default folders, new-item kinds.
enum : long {
    OL_CLASS_CONTACT = 40,
    OL_CLASS_MAIL = 43,
    OL_FOLDER_CALENDAR = 9,
    OL_FOLDER_TASKS = 13,
    OL_NEW_APPOINTMENT = 1,
    OL_NEW_TASK = 3,
    OL_IMPORTANCE_LOW = 0,
    OL_IMPORTANCE_NORMAL = 1,
    OL_IMPORTANCE_HIGH = 2,
    OL_ATTACH_BY_VALUE = 1,
};

class CPushPull : public CPumpOp, public CHasher {
public:
    // `owner` receives the WMU_RUN_OP posts; a dialog that has no window yet passes null and
    // sets m_hOwner in its initialisation.
    explicit CPushPull(CWebSvrAPI* api, HWND owner = nullptr);
    ~CPushPull() override;

    // The operation set up last (owned by CPumpOp::m_pOperation), or null.
    CWebSvrOp* Op() const noexcept { return m_pOperation.get(); }

    // ---- Outlook items and records ------------------------------------------------------------
    // Fills the record from the item: link (blob for a recurring appointment, user properties
    // otherwise), item properties, EntryID, LastModificationTime, BusyStatus. The record's
    // m_strType decides task or appointment. With `fingerprint` the current fingerprint goes to
    // m_strHash; without, m_strHash keeps the stored "HV Hash". Sets m_nSource to SOURCE_OUTLOOK.
    void LoadOneItem(CSyncItem* record, IDispatch* item, int fingerprint);
    // The same when the caller has read the item's "IsRecurring" already (-1: not read).
    void LoadOneItem(CSyncItem* record, IDispatch* item, int fingerprint, int knownRecurring);

    // Service pushes; E_INVALIDARG for an empty subject (no operation is made). m_strAssignedIds,
    // m_strOrganizer and m_strInternalUse are cleared at the end in every case.
    HRESULT PushTask(IDispatch* item, const CTarget& target, int post);
    HRESULT PushAppt(IDispatch* item, const CTarget& target, int post, int laterOccurrence);
    // Class 26 or 48, posted; any other class does nothing. Returns 0.
    HRESULT PushItem(IDispatch* item, long olClass, const CTarget& target);
    HRESULT PullTask(const std::string& id, int post);
    HRESULT PullEvent(const std::string& id, int post);
    HRESULT DeleteTask(const std::string& id, int post);
    HRESULT DeleteEvent(const std::string& id, int post);

    // Deletes an Outlook item; E_FAIL for an empty EntryID.
    HRESULT DeleteItem(const std::string& entryId);
    // Deletes the one occurrence of a series that an occurrence record names.
    HRESULT DeleteOccurrence(CSyncItem* record);
    // Write a service record into Outlook (a new item when the EntryID is empty) and link it;
    // the result is that of the final "Save", or the first failing step's. The written item
    // stays in m_pCurrentItem. An occurrence record (m_pOccurrence) is written into its own
    // occurrence of the series named by the EntryID.
    HRESULT AbsorbTask(const std::string& entryId, CSyncItem* record);
    HRESULT AbsorbAppt(const std::string& entryId, CSyncItem* record);
    // One attempt of AbsorbAppt (which tries an occurrence twice, from fresh references).
    HRESULT AbsorbApptOnce(const std::string& entryId, CSyncItem* record);
    // Switches the item's reminder off when `when` is already past.
    void SuppressPastReminder(IDispatch* item, HvTime when);

    // Forwards the item as mail to `address` with the "hvmeta.xml" attachment; the result is
    // that of "Send".
    HRESULT ForwardItem(IDispatch* item, long olClass, const std::string& address, const std::string& comments);
    // S_FALSE (nothing attached) when no member is selected.
    HRESULT AttachMetadata(IDispatch* mail, const std::string& comments);
    HRESULT AddAttachment(IDispatch* item, const std::string& path, const std::string& displayName);
    // The member list from m_strAssignedIds, every member selected.
    void BuildMemberList();
    // The namespace's default folder (9 Calendar, 13 Tasks) into m_pFolder, m_pItems, m_nItemCount.
    HRESULT OpenDefaultFolder(long folder, long* count = nullptr);
    // "GetItemFromID" through the namespace; a missing item is a failure.
    HRESULT GetItemFromID(const std::string& entryId, hv::com_ptr<IDispatch>& item);

    // ---- Recurrence -----------------------------------------------------------------------------
    // "GetRecurrencePattern" of the series and its fields into `pattern`.
    HRESULT ReadPattern(IDispatch* series, CPattern& pattern);
    // Occurrence limit ("MaxOccurrences") and the end date clipped to the window.
    void LimitPattern(CPattern& pattern);
    // Appends the next occurrence's vector to m_vectors; false when there is none.
    bool NextOccurrence(IDispatch* recurrencePattern, CPattern& pattern);
    // Gives the vector of the exception's original date the index; false when none has it.
    bool BindToOccurrence(IDispatch* exception, long index);
    // Appends a vector for a moved occurrence (nothing for a deleted one). Always S_OK.
    HRESULT AdoptException(IDispatch* exception, long index, CPattern& pattern);

    // The expansion shared by CDlgSynch::PopAppt and ExpandAppt: reads and limits the pattern,
    // collects the occurrence vectors (exceptions bound or adopted), makes one record per vector
    // as a copy of `series` (first m_fLaterOccurrence 0, the others 1; m_pOccurrence the vector;
    // ACTION_COMPUTING) and reconstitutes it from its own occurrence (load and use-exception
    // flags set). Records are appended to `out` in date order of expansion; the caller owns them.
    // `popAppt` true gives the synchronisation dialog's variant: "PopAppt: ..." log lines,
    // m_nSource = SOURCE_OUTLOOK, and m_timeOutlookModified the later of the occurrence's and the
    // series'; false gives "ExpandAppt: ..." lines. The result is that of ReadPattern.
    HRESULT ExpandSeries(CSyncItem* series, IDispatch* seriesItem, CSyncItemList& out, bool popAppt);
    // ExpandSeries for the update dialog and the change handler: the records go to m_records
    // and each is offered to ShowRecord.
    HRESULT ExpandAppt(CSyncItem* series, IDispatch* seriesItem);
    // Opens the occurrence a record stands for (through the exception's appointment item when
    // it has one and `useException` is set) into `item`; with `load` the record is reloaded from
    // it with a fresh fingerprint. False when the record is no occurrence or anything fails.
    bool ReconstituteAppt(CSyncItem* record, hv::com_ptr<IDispatch>& item, int load, int useException);
    // One attempt of ReconstituteAppt (which tries twice).
    bool ReconstituteOnce(CSyncItem* record, hv::com_ptr<IDispatch>& item, int load, int useException);
    // The occurrence of the series for the record's date into m_pCurrentItem.
    HRESULT OpenOccurrence(IDispatch* series, CSyncItem* record);
    // "Event" or "Task": older than that type's "%sStaleAfter" days (read once and kept).
    bool IsStaleDate(const char* type, const COleDate& date);
    // An adapter-owned copy of a vector, for a service record paired with an occurrence.
    CRecurrenceVector* CopyVector(const CRecurrenceVector& vector);

    // Called for every record ExpandAppt adds to m_records; a dialog overrides it to insert a row
    // and set the record's m_nListIndex.
    virtual void ShowRecord(CSyncItem* record);

    // ---- State ----------------------------------------------------------------------------------
    HWND m_hOwner = nullptr;
    CCredentials m_credentials;             // copied into every operation
    hv::com_ptr<IDispatch> m_pNameSpace;    // Outlook's "MAPI" namespace, set by the creator
    hv::com_ptr<IDispatch> m_pFolder;       // last folder opened by OpenDefaultFolder
    hv::com_ptr<IDispatch> m_pItems;        // its "Items"
    long m_nItemCount = 0;                  // their "Count"
    hv::com_ptr<IDispatch> m_pCurrentItem;  // last item opened or created by an absorb or lookup
    CMemberList m_members;                  // assignees, each with m_fChecked
    std::string m_strAssignedIds;           // comma separated; cleared after every push
    std::string m_strOrganizer;             // for the next event push; cleared after every push
    std::string m_strInternalUse;           // for the next event push; cleared after every push
    std::string m_strPriority[4];           // strings 26035 "1", 26036 "2", 26037 "3", 26070 "0"
    long m_lClass = OL_CLASS_MAIL;          // class of the item being handled (Add Item dialog)
    DWORD m_fNotify = 0;                    // pushed as send_email
    DWORD m_fActivityLog = 1;               // "HashVersion" equals the current fingerprint version
    long m_nStaleEvent = -1;                // "EventStaleAfter", -1 until read
    long m_nStaleTask = -1;                 // "TaskStaleAfter", -1 until read
    // The owning list: every record shown as a row of the owner (the synchronisation dialog's
    // rows, the records ExpandAppt makes); deleted with the adapter.
    CSyncItemList m_records;
    // Vectors of the expansion in progress, in the order they were found (not owned).
    std::list<CRecurrenceVector*> m_vectors;
    // Every vector this adapter made or copied; records point into it, so it lives as long as
    // the adapter (and its records) do.
    std::list<std::unique_ptr<CRecurrenceVector>> m_vectorStore;

protected:
    // A new vector owned by the adapter and queued in m_vectors.
    CRecurrenceVector* AppendVector(long exceptionIndex, const COleDate& date);
    // Puts the operation in place: posted (step 0 to m_hOwner) or only kept.
    void SetOperation(std::unique_ptr<CWebSvrOp> operation, int post);
    const std::string& ServiceURL() const;
    // A new operation for the service URL, carrying the stored credentials.
    template <typename Op>
    std::unique_ptr<Op> NewOp() const {
        auto op = std::make_unique<Op>(ServiceURL());
        op->m_strUser = m_credentials.m_strUser;
        op->m_strPassword = m_credentials.m_strPassword;
        return op;
    }
    // Makes an operation on one service record (its id in `idField`) and puts it in place.
    template <typename Op>
    HRESULT StartRecordOp(std::string Op::*idField, const std::string& id, int post) {
        try {
            auto op = NewOp<Op>();
            (*op).*idField = id;
            SetOperation(std::move(op), post);
            return S_OK;
        }
        CATCH_RETURN();
    }
};
