#pragma once
// The planner of a synchronisation run: pairs the downloaded service records with the Outlook
// items that carry their ids, adds records for Outlook items without a partner, and gives every
// row exactly one action. It works on the run's records and reaches Outlook only through
// IPlannerOutlook, so it can be tested without the dialog. The work can run in slices: Step()
// returns whenever the caller's slice is over and continues from there on the next call.
#include <windows.h>
#include <oaidl.h>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>
#include "common/Config.h"
#include "service/SyncItem.h"
#include "service/TimeLogic.h"
#include "sync/Hasher.h"
#include "win/ComPtr.h"

struct CRecurrenceVector;

// The Outlook side of the planner.
class IPlannerOutlook {
public:
    virtual ~IPlannerOutlook() = default;
    // The default folder's (9 Calendar, 13 Tasks) "Items" and their "Count".
    virtual HRESULT OpenFolder(long folder, hv::com_ptr<IDispatch>& items, long& count) = 0;
    // Fills the record from the item (its m_strType decides task or appointment); `recurring`
    // is the item's "IsRecurring" when the caller has read it already (-1: not read).
    virtual void LoadOneItem(CSyncItem* record, IDispatch* item, int recurring) = 0;
    // Expands a recurring appointment into occurrence records appended to `out`.
    virtual HRESULT ExpandSeries(CSyncItem* series, IDispatch* seriesItem, CSyncItemList& out) = 0;
    virtual HRESULT GetItemFromID(const std::string& entryId, hv::com_ptr<IDispatch>& item) = 0;
    // A copy of an occurrence's vector that lives as long as the records do.
    virtual CRecurrenceVector* CopyVector(const CRecurrenceVector& vector) = 0;
};

// Bits of the sync kinds.
enum : long {
    SYNC_TASKS = 2,
    SYNC_EVENTS = 4,
};

class CPlanner {
public:
    // The run's records: `owned` owns every record that has a row; `rows` are the rows in order
    // (the downloaded records first); `occurrences` holds occurrence records waiting to be
    // paired; `entryIds` maps the EntryIDs of paired Outlook items to their service records.
    // `addRow` is called for every record that gets a row (it must append it to `rows`).
    CPlanner(IPlannerOutlook& outlook, CSyncItemList& owned, std::vector<CSyncItem*>& rows, CSyncItemList& occurrences,
             std::map<std::string, CSyncItem*>& entryIds, std::function<void(CSyncItem*)> addRow);
    ~CPlanner();
    CPlanner(const CPlanner&) = delete;
    CPlanner& operator=(const CPlanner&) = delete;

    // ---- what the run asks for (set before Begin) ----------------------------------------------
    long m_nSyncKinds = SYNC_TASKS | SYNC_EVENTS;
    hv::com_ptr<IDispatch> m_pSelection;  // used instead of whole folders when m_nSelCount > 0
    long m_nSelCount = 0;
    long m_fIncremental = 1;
    CSyncItem* m_pContext = nullptr;  // the record of a single-item run; not owned

    // Starts a plan: the pairing (CorrelateAndLoad), the actions (ComputeActions), or both.
    void Begin(bool correlate, bool actions);
    // Works until the plan is done (true) or `sliceOver` answers true (false; call again).
    bool Step(const std::function<bool()>& sliceOver);
    bool Done() const noexcept { return m_phase == PHASE_DONE; }
    // Both halves at once, as one call each.
    HRESULT CorrelateAndLoad();
    void ComputeActions();
    // The last COM result of the kind paired last.
    HRESULT Result() const noexcept { return m_result; }
    // Rows held back because an occurrence could not be read in this run (see HoldBack): the
    // run must not move its marks past the records they stand for.
    bool HeldBack() const noexcept { return m_nHeldBack > 0; }
    // A pair found equal whose Outlook link still holds the fingerprint of an earlier state (an
    // update carried out on the service whose answer was lost): the run writes the link anew.
    bool LinkIsStale(const CSyncItem* record) const { return m_staleLinks.count(record) > 0; }

    // ---- the rules --------------------------------------------------------------------------
    bool IsStale(CSyncItem* record);
    bool IsHashUnchanged(CSyncItem* record);
    bool EquivalentCounterpart(CSyncItem* record);
    // Gives one row its action (the decision table).
    void DecideAction(CSyncItem* record);

private:
    enum Phase {
        PHASE_DONE,
        PHASE_NEXT_KIND,
        PHASE_SERIES,
        PHASE_LOAD,
        PHASE_PAIR,
        PHASE_CREATES,
        PHASE_ADD,
        PHASE_OCCURRENCES,
        PHASE_ACTIONS,
    };
    // An item of the chosen collection, loaded once: a candidate for a row of its own, and the
    // partner of the service record that carries its id.
    struct CLoaded {
        std::unique_ptr<CSyncItem> record;
        bool candidate = true;  // false for a recurring appointment (its occurrences stand for it)
    };

    void StepOnce();
    void StartKind();
    void EndKind();
    void LoadSeries();
    void LoadItem();
    void PairRecord();
    void AddOutlookOnly();
    void AddOccurrences();
    void StartActions();
    void EndActions();
    // The Outlook item that carries the record id, by the collection's map, then by the folder.
    hv::com_ptr<IDispatch> FindPartner(CSyncItem* service, CSyncItem** loaded);
    hv::com_ptr<IDispatch> FindInFolder(const std::string& id);
    hv::com_ptr<IDispatch> CompletePendingLink(CSyncItem* service);
    void PairAttemptedCreates();
    bool MatchesAttempt(CSyncItem* service, const CConfig::CPendingCreate& attempt);
    void Pair(CSyncItem* service, CSyncItem* outlook);
    CSyncItem* Own(std::unique_ptr<CSyncItem> record);
    bool LastSyncInUse(const char* type, std::string& text);
    bool LastSyncTime(const char* type, HvTime& t);
    // A service event without a partner in a run where an occurrence could not be read may be
    // that occurrence: its write (a new appointment, or a deletion) is held back and the row fails.
    void HoldBack(CSyncItem* record);

    IPlannerOutlook& m_outlook;
    CSyncItemList& m_owned;
    std::vector<CSyncItem*>& m_rows;
    CSyncItemList& m_occurrences;
    std::map<std::string, CSyncItem*>& m_entryIds;
    std::function<void(CSyncItem*)> m_addRow;
    CHasher m_hasher;

    Phase m_phase = PHASE_DONE;
    bool m_fActions = false;
    HRESULT m_result = S_OK;
    long m_nStaleEvent = -1;
    long m_nStaleTask = -1;
    long m_purge[2] = {-1, -1};  // Task, Event
    long m_nDeleteOutlook = -1;
    // "Last%sSync" as read for the planning, per kind (the registry is read once per plan).
    struct CMark {
        bool read = false;
        bool inUse = false;
        std::string text;
        bool parses = false;
        HvTime time = 0;
    } m_marks[2];
    const CMark& Mark(const char* type);

    // State of the kind being paired.
    int m_nKind = -1;  // index into the fixed order: events, then tasks
    bool m_fEvents = false;
    const char* m_type = nullptr;
    hv::com_ptr<IDispatch> m_pFolderItems;
    long m_nFolderCount = 0;
    hv::com_ptr<IDispatch> m_pCollection;
    long m_nCount = 0;
    bool m_fSelection = false;
    hv::com_ptr<IDispatch> m_pSeries;
    long m_nSeriesCount = 0;
    bool m_fUnreadOccurrence = false;  // an occurrence of this run could not be read
    long m_nHeldBack = 0;
    std::set<const CSyncItem*> m_staleLinks;  // see LinkIsStale; not owned
    long m_nIndex = 0;                        // the loop position of the current phase
    std::vector<CLoaded> m_loaded;
    // Record id (lower case, as Outlook compares texts) to the first loaded item carrying it.
    std::map<std::string, size_t> m_byId;
    // The same for the whole folder, read only when pairing needs the folder beyond a few "Find"s.
    std::map<std::string, long> m_folderById;
    bool m_fFolderMapped = false;
    long m_nFolderFinds = 0;
    std::vector<CSyncItem*> m_downloaded;
    std::map<std::string, std::string> m_pending;          // EntryID -> record id
    std::map<std::string, std::string> m_pendingByRecord;  // record id -> EntryID
    // The modification time of the item whose pending link was just completed, from before that
    // save; 0 when none was.
    HvTime m_linkCompletedModified = 0;
};
