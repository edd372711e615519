// The planner of a synchronisation run: pairs the downloaded service records with the Outlook
// items that carry their ids, adds rows for Outlook items without a partner, and gives every row
// exactly one action.
//
// Pairing reads every item of the chosen collection once (its link and properties) and keeps
// the first item that carries each record id, which is the item "Find" would answer; a folder
// scan per service record would make large folders quadratic. "Find" on the whole folder remains
// for records the chosen collection (a restriction or the selection) does not hold.
#include "sync/Planner.h"

#include <algorithm>
#include <cctype>
#include "common/Config.h"
#include "common/DiagLog.h"
#include "sync/FilterDate.h"
#include "sync/ItemAccess.h"
#include "sync/LinkProps.h"
#include "sync/PushPull.h"
#include "win/ComTypes.h"
#include "win/Errors.h"
#include "win/Strings.h"

namespace {

// Beyond this many "Find"s over the whole folder in one kind, the folder's record ids are read
// once into a map instead.
constexpr long kFolderFindsBeforeMap = 16;

// A wire time as a time value (the instant it names).
bool WireTimeValue(const std::string& text, HvTime& t) {
    FILETIME ft;
    if (text.empty() || !ParseWireTime(text, 0, ft)) return false;
    t = TimeFromFileTime(ft);
    return true;
}

// The text Outlook shows of an event description: what follows the first empty line.
std::string ShownEventBody(const std::string& description) {
    const size_t at = description.find("\n\n");
    return at == std::string::npos ? description : description.substr(at + 2);
}

// Outlook compares texts in filters without regard to case.
std::string IdKey(const std::string& id) {
    std::string key = id;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return key;
}

}  // namespace

CPlanner::CPlanner(IPlannerOutlook& outlook, CSyncItemList& owned, std::vector<CSyncItem*>& rows,
                   CSyncItemList& occurrences, std::map<std::string, CSyncItem*>& entryIds,
                   std::function<void(CSyncItem*)> addRow)
    : m_outlook(outlook),
      m_owned(owned),
      m_rows(rows),
      m_occurrences(occurrences),
      m_entryIds(entryIds),
      m_addRow(std::move(addRow)) {}

CPlanner::~CPlanner() = default;

CSyncItem* CPlanner::Own(std::unique_ptr<CSyncItem> record) {
    m_owned.push_back(std::move(record));
    return m_owned.back().get();
}

const CPlanner::CMark& CPlanner::Mark(const char* type) {
    CMark& mark = m_marks[type == CConfig::TYPE_EVENT || std::string(type) == CConfig::TYPE_EVENT ? 1 : 0];
    if (!mark.read) {
        mark.read = true;
        if (m_fIncremental) {
            CConfig config;
            mark.inUse = config.GetLastSync(type, mark.text) == S_OK && !mark.text.empty();
        }
        if (!mark.inUse) mark.text.clear();
        mark.parses = mark.inUse && WireTimeValue(mark.text, mark.time);
    }
    return mark;
}

bool CPlanner::LastSyncInUse(const char* type, std::string& text) {
    const CMark& mark = Mark(type);
    text = mark.text;
    return mark.inUse;
}

bool CPlanner::LastSyncTime(const char* type, HvTime& t) {
    const CMark& mark = Mark(type);
    if (!mark.parses) return false;
    t = mark.time;
    return true;
}

// ---- running the plan ---------------------------------------------------------------------------

void CPlanner::Begin(bool correlate, bool actions) {
    m_fActions = actions;
    m_result = S_OK;
    if (actions) m_staleLinks.clear();
    for (CMark& mark : m_marks) mark = CMark();
    if (correlate) {
        m_fUnreadOccurrence = false;
        m_nHeldBack = 0;
        HvLog().LogBlockEnter("CPlanner::CorrelateAndLoad");
        m_nKind = -1;
        m_phase = PHASE_NEXT_KIND;
    } else if (actions) {
        StartActions();
    } else {
        m_phase = PHASE_DONE;
    }
}

bool CPlanner::Step(const std::function<bool()>& sliceOver) {
    while (m_phase != PHASE_DONE) {
        StepOnce();
        if (m_phase != PHASE_DONE && sliceOver && sliceOver()) return false;
    }
    return true;
}

HRESULT CPlanner::CorrelateAndLoad() {
    Begin(true, false);
    while (m_phase != PHASE_DONE) StepOnce();
    return m_result;
}

void CPlanner::ComputeActions() {
    Begin(false, true);
    while (m_phase != PHASE_DONE) StepOnce();
}

// One unit of work: one item, one record or one row.
void CPlanner::StepOnce() {
    if (m_phase == PHASE_ACTIONS) {
        try {
            if (m_nIndex >= static_cast<long>(m_rows.size())) {
                EndActions();
                return;
            }
            CSyncItem* record = m_rows[static_cast<size_t>(m_nIndex++)];
            if (record->m_nAction != ACTION_FAILED) {  // could not be read: nothing to do
                DecideAction(record);
                HoldBack(record);
            }
        } catch (...) {
            HvLog().LogError("ComputeActions: exception; the remaining rows keep their state");
            EndActions();
        }
        return;
    }
    try {
        switch (m_phase) {
            case PHASE_NEXT_KIND:
                StartKind();
                break;
            case PHASE_SERIES:
                LoadSeries();
                break;
            case PHASE_LOAD:
                LoadItem();
                break;
            case PHASE_PAIR:
                PairRecord();
                break;
            case PHASE_CREATES:
                PairAttemptedCreates();
                break;
            case PHASE_ADD:
                AddOutlookOnly();
                break;
            case PHASE_OCCURRENCES:
                AddOccurrences();
                break;
            default:
                break;
        }
    } catch (...) {
        m_result = hv::ResultFromCaughtException();
        HvLog().LogError("CorrelateAndLoad: failed");
        EndKind();
    }
}

void CPlanner::StartKind() {
    // The fixed order: events (Calendar) first, then tasks.
    while (++m_nKind < 2) {
        m_fEvents = m_nKind == 0;
        if (m_nSyncKinds & (m_fEvents ? SYNC_EVENTS : SYNC_TASKS)) break;
    }
    if (m_nKind >= 2) {
        HvLog().LogBlockExit("CPlanner::CorrelateAndLoad");
        if (m_fActions)
            StartActions();
        else
            m_phase = PHASE_DONE;
        return;
    }
    m_type = m_fEvents ? CConfig::TYPE_EVENT : CConfig::TYPE_TASK;
    m_loaded.clear();
    m_byId.clear();
    m_folderById.clear();
    m_fFolderMapped = false;
    m_nFolderFinds = 0;
    m_pSeries.reset();
    m_nSeriesCount = 0;
    m_nIndex = 0;

    // 1. The folder; a kind whose folder does not open is skipped.
    hv::com_ptr<IDispatch> items;
    long folderCount = 0;
    const HRESULT hr = m_outlook.OpenFolder(m_fEvents ? OL_FOLDER_CALENDAR : OL_FOLDER_TASKS, items, folderCount);
    m_result = hr;
    if (FAILED(hr)) return;  // stays in PHASE_NEXT_KIND
    m_pFolderItems = items;
    m_nFolderCount = folderCount;

    // 2. and 3. The collection: the selection, the items changed since the last run, or all.
    m_fSelection = m_pSelection && m_nSelCount > 0;
    m_pCollection = m_fSelection ? m_pSelection : m_pFolderItems;
    m_nCount = m_fSelection ? m_nSelCount : m_nFolderCount;
    std::string mark;
    if (!m_fSelection && LastSyncInUse(m_type, mark)) {
        FILETIME local;
        SYSTEMTIME st;
        if (ParseWireTime(mark, 2, local) && ::FileTimeToSystemTime(&local, &st)) {
            // A filter date has no seconds: the whole minute of the mark is taken in, so that an
            // item changed after the mark within that minute is not left out. What the minute
            // brings in from before the mark unchanged gets no row (AddOutlookOnly).
            const std::string filter = "[LastModificationTime] >= '" + FormatFilterDate(st) + "'";
            HvLog().LogComment("CorrelateAndLoad: Calling Restrict");
            if (hv::com_ptr<IDispatch> restricted = hvitem::TryFilter(m_pFolderItems.get(), L"Restrict", filter)) {
                m_pCollection = restricted;
                m_nCount = hvitem::Count(restricted.get());
            }
        }
    }

    // Links an earlier run could not save: EntryID -> record id, and back.
    m_pending = CConfig().GetPendingLinks(m_type);
    m_pendingByRecord.clear();
    for (const auto& link : m_pending) m_pendingByRecord[link.second] = link.first;

    // 4. Events: every recurring appointment becomes occurrence records.
    if (m_fEvents) {
        m_pSeries = hvitem::TryFilter(m_pFolderItems.get(), L"Restrict", "[IsRecurring] = True");
        m_nSeriesCount = m_pSeries ? hvitem::Count(m_pSeries.get()) : 0;
        m_phase = PHASE_SERIES;
    } else {
        m_phase = PHASE_LOAD;
    }
}

void CPlanner::EndKind() {
    m_loaded.clear();
    m_byId.clear();
    m_folderById.clear();
    m_downloaded.clear();
    m_pSeries.reset();
    m_pCollection.reset();
    m_pFolderItems.reset();
    m_phase = PHASE_NEXT_KIND;
}

void CPlanner::LoadSeries() {
    if (m_nIndex >= m_nSeriesCount) {
        m_pSeries.reset();
        m_nIndex = 0;
        m_phase = PHASE_LOAD;
        return;
    }
    const long i = ++m_nIndex;
    HvLog().LogComment("CorrelateAndLoad: CallMethod Item");
    hv::com_ptr<IDispatch> appt = hvitem::TryItemAt(m_pSeries.get(), i);
    if (!appt) return;
    CSyncItem record;
    record.m_strType = "Event";
    m_outlook.LoadOneItem(&record, appt.get(), 1);
    if (m_pContext && m_pContext->m_strEntryID == record.m_strEntryID) {
        record.m_target = m_pContext->m_target;
        record.assigned_to_userids = m_pContext->assigned_to_userids;
    }
    CSyncItemList made;
    m_outlook.ExpandSeries(&record, appt.get(), made);
    for (const auto& occurrence : made)
        if (occurrence->m_nAction == ACTION_FAILED) m_fUnreadOccurrence = true;
    m_occurrences.splice(m_occurrences.end(), made);
}

// 5. (first half) Every item of the chosen collection, read once.
void CPlanner::LoadItem() {
    if (m_nIndex >= m_nCount) {
        m_nIndex = 0;
        m_downloaded = m_rows;
        m_phase = PHASE_PAIR;
        return;
    }
    const long i = ++m_nIndex;
    HvLog().LogComment("CorrelateAndLoad: CallMethod Item");
    hv::com_ptr<IDispatch> item = hvitem::TryItemAt(m_pCollection.get(), i);
    if (!item) return;
    CLoaded loaded;
    loaded.record = std::make_unique<CSyncItem>();
    loaded.record->m_strType = m_type;
    loaded.record->m_nSource = SOURCE_OUTLOOK;
    int recurring = -1;
    if (m_fEvents) {
        bool flag = false;
        recurring = hvitem::TryBool(item.get(), L"IsRecurring", flag) && flag ? 1 : 0;
    }
    std::string id;
    if (recurring == 1) {
        // A series gets no row (its occurrences do), but "Find" by the link property would still
        // answer it for its record id.
        loaded.candidate = false;
        if (hvitem::GetUserProperty(item.get(), L"HV Record ID", id) != S_OK || id.empty()) return;
        if (m_byId.count(IdKey(id))) return;
    }
    m_outlook.LoadOneItem(loaded.record.get(), item.get(), recurring);
    if (recurring != 1) id = loaded.record->m_target.m_strID;
    if (!id.empty()) m_byId.emplace(IdKey(id), m_loaded.size());
    m_loaded.push_back(std::move(loaded));
}

hv::com_ptr<IDispatch> CPlanner::FindInFolder(const std::string& id) {
    if (!m_fFolderMapped && m_nFolderFinds < kFolderFindsBeforeMap) {
        ++m_nFolderFinds;
        HvLog().LogComment("CorrelateAndLoad: Calling Find");
        return hvitem::TryFilter(m_pFolderItems.get(), L"Find", hv::Format("[HV Record ID] = '%s'", id.c_str()));
    }
    if (!m_fFolderMapped) {
        // Many records are outside the chosen collection: read the folder's record ids once.
        m_fFolderMapped = true;
        HvLog().LogComment("CorrelateAndLoad: reading the record ids of the folder");
        for (long i = 1; i <= m_nFolderCount; ++i) {
            hv::com_ptr<IDispatch> item = hvitem::TryItemAt(m_pFolderItems.get(), i);
            std::string itemId;
            if (item && hvitem::GetUserProperty(item.get(), L"HV Record ID", itemId) == S_OK && !itemId.empty())
                m_folderById.emplace(IdKey(itemId), i);
        }
    }
    const auto at = m_folderById.find(IdKey(id));
    if (at == m_folderById.end()) return nullptr;
    return hvitem::TryItemAt(m_pFolderItems.get(), at->second);
}

hv::com_ptr<IDispatch> CPlanner::FindPartner(CSyncItem* service, CSyncItem** loaded) {
    *loaded = nullptr;
    const std::string& id = service->m_target.m_strID;
    if (id.empty()) return nullptr;
    // The selection has no "Find": its records were always paired through the folder.
    if (!m_fSelection) {
        const auto at = m_byId.find(IdKey(id));
        if (at != m_byId.end()) {
            *loaded = m_loaded[at->second].record.get();
            return nullptr;
        }
    }
    hv::com_ptr<IDispatch> item;
    if (m_fSelection || m_pCollection.get() != m_pFolderItems.get()) item = FindInFolder(id);
    if (!item) item = CompletePendingLink(service);
    return item;
}

void CPlanner::Pair(CSyncItem* service, CSyncItem* outlook) {
    outlook->m_pCounterpart = service;
    service->m_pCounterpart = outlook;
    service->m_strEntryID = outlook->m_strEntryID;
    m_entryIds[outlook->m_strEntryID] = service;
}

// 5. Pair one downloaded record with the item that carries its id.
void CPlanner::PairRecord() {
    if (m_nIndex >= static_cast<long>(m_downloaded.size())) {
        m_nIndex = 0;
        m_phase = PHASE_CREATES;
        return;
    }
    CSyncItem* service = m_downloaded[static_cast<size_t>(m_nIndex++)];
    if (service->m_strType != m_type || service->m_nSource == SOURCE_OUTLOOK || service->m_pCounterpart) return;
    CSyncItem* loaded = nullptr;
    m_linkCompletedModified = 0;
    hv::com_ptr<IDispatch> item = FindPartner(service, &loaded);
    if (loaded || item) {
        CSyncItem* outlook = nullptr;
        if (loaded) {
            outlook = Own(std::make_unique<CSyncItem>(*loaded));
        } else {
            outlook = Own(std::make_unique<CSyncItem>());
            outlook->m_strType = m_type;
            m_outlook.LoadOneItem(outlook, item.get(), -1);
            if (m_linkCompletedModified) outlook->m_timeOutlookModified = m_linkCompletedModified;
        }
        Pair(service, outlook);
        return;
    }
    if (!m_fEvents) return;
    for (auto it = m_occurrences.begin(); it != m_occurrences.end(); ++it) {
        if ((*it)->m_target.m_strID.empty() || (*it)->m_target.m_strID != service->m_target.m_strID) continue;
        CSyncItem* occurrence = Own(std::move(*it));
        m_occurrences.erase(it);
        Pair(service, occurrence);
        if (occurrence->m_pOccurrence) {
            service->m_pOccurrence = m_outlook.CopyVector(*occurrence->m_pOccurrence);
            service->m_fLaterOccurrence = occurrence->m_fLaterOccurrence;
        }
        break;
    }
}

hv::com_ptr<IDispatch> CPlanner::CompletePendingLink(CSyncItem* service) {
    const auto link = m_pendingByRecord.find(service->m_target.m_strID);
    if (link == m_pendingByRecord.end()) return nullptr;
    const std::string entryId = link->second;
    m_pendingByRecord.erase(link);
    hv::com_ptr<IDispatch> item;
    if (FAILED(m_outlook.GetItemFromID(entryId, item)) || !item) {
        // The item is gone from Outlook: nothing is left to link.
        CConfig().ClearPendingLink(m_type, entryId);
        return nullptr;
    }
    HvLog().LogCommentFmt("CorrelateAndLoad: completing the pending link of %s", service->m_target.m_strID);
    // The record may have changed on the service since the push whose link is written now, and
    // the item since that push too: the link takes no service time (the pair is then decided by
    // the two times), and the pair keeps the item's own time, not the one this save gives it.
    COleDate modified;
    m_linkCompletedModified =
        hvitem::TryDate(item.get(), L"LastModificationTime", modified) ? TimeFromOutlookDate(modified) : 0;
    const HRESULT hr =
        m_fEvents
            ? SetLinkProps(item.get(), OL_CLASS_APPOINTMENT, nullptr, service->m_target, nullptr, &service->assigned_to,
                           &service->assigned_to_userids, &service->organizer, &service->internal_use_only, &m_hasher)
            : SetLinkProps(item.get(), OL_CLASS_TASK, nullptr, service->m_target, nullptr, &service->assigned_to,
                           &service->assigned_to_userids, nullptr, nullptr, &m_hasher);
    if (SUCCEEDED(hr))
        CConfig().ClearPendingLink(m_type, entryId);
    else
        HvLog().LogError("CorrelateAndLoad: the pending link could not be saved again; it stays pending");
    // Paired either way: the two are one item, whether or not its link could be written yet.
    return item;
}

// A service record that may be the one an earlier create of the item made: created within an
// hour of the attempt (the service stores a create while the request is answered; the hour is
// for the two clocks), and still holding what was sent.
bool CPlanner::MatchesAttempt(CSyncItem* service, const CConfig::CPendingCreate& attempt) {
    HvTime created = 0, attempted = 0;
    if (WireTimeValue(service->created, created) && WireTimeValue(attempt.stamp, attempted) &&
        (created < attempted - 3600 || created > attempted + 3600))
        return false;
    const long olClass = m_fEvents ? OL_CLASS_APPOINTMENT : OL_CLASS_TASK;
    if (m_hasher.ContentHash(olClass, *service) == attempt.fingerprint) return true;
    // The forms EquivalentCounterpart takes for the same item.
    CSyncItem shown(*service);
    if (m_fEvents) {
        shown.description_plain_text = ShownEventBody(service->description_plain_text);
    } else {
        if (!service->due_date.empty() || service->start_date.empty()) return false;
        shown.due_date = service->start_date;
    }
    return m_hasher.ContentHash(olClass, shown) == attempt.fingerprint;
}

// 5b. Items whose create an earlier run sent without learning whether the service carried it
// out (a lost, cut or late answer; a cancel while it was in flight). Each is paired with a
// downloaded record made since that still holds what was sent, each record with one item at
// most, instead of being created a second time on both sides. Without such a record the item
// gets its row as before (and its create is sent again).
void CPlanner::PairAttemptedCreates() {
    m_phase = PHASE_ADD;
    m_nIndex = 0;
    const auto creates = CConfig().GetPendingCreates(m_type);
    const long olClass = m_fEvents ? OL_CLASS_APPOINTMENT : OL_CLASS_TASK;
    for (const auto& create : creates) {
        const std::string& entryId = create.first;
        hv::com_ptr<IDispatch> item;
        bool recurring = false;
        if (m_entryIds.count(entryId) || m_pending.count(entryId) || FAILED(m_outlook.GetItemFromID(entryId, item)) ||
            !item || (m_fEvents && hvitem::TryBool(item.get(), L"IsRecurring", recurring) && recurring)) {
            // Linked, pending a link, gone, or a series now: nothing left to pair.
            CConfig().ClearPendingCreate(m_type, entryId);
            continue;
        }
        std::string id;
        if (hvitem::GetUserProperty(item.get(), L"HV Record ID", id) == S_OK && !id.empty()) {
            CConfig().ClearPendingCreate(m_type, entryId);
            continue;
        }
        CSyncItem* match = nullptr;
        for (CSyncItem* service : m_downloaded) {
            if (service->m_strType != m_type || service->m_nSource == SOURCE_OUTLOOK || service->m_pCounterpart ||
                service->m_fDeleted || service->m_target.m_strID.empty())
                continue;
            if (MatchesAttempt(service, create.second)) {
                match = service;
                break;
            }
        }
        if (!match) continue;
        HvLog().LogCommentFmt("CorrelateAndLoad: %s was made by an earlier create of this item; pairing",
                              match->m_target.m_strID);
        const HRESULT hr =
            m_fEvents ? SetLinkProps(item.get(), olClass, nullptr, match->m_target, &match->last_modified,
                                     &match->assigned_to, &match->assigned_to_userids, &match->organizer,
                                     &match->internal_use_only, &m_hasher)
                      : SetLinkProps(item.get(), olClass, nullptr, match->m_target, &match->last_modified,
                                     &match->assigned_to, &match->assigned_to_userids, nullptr, nullptr, &m_hasher);
        CSyncItem* outlook = Own(std::make_unique<CSyncItem>());
        outlook->m_strType = m_type;
        m_outlook.LoadOneItem(outlook, item.get(), m_fEvents ? 0 : -1);
        if (FAILED(hr)) {
            // The pair stands for this run; the link is written by a later one.
            HvLog().LogError("CorrelateAndLoad: the link could not be saved; it stays pending");
            CConfig().SetPendingLink(m_type, entryId, match->m_target.m_strID);
            outlook->m_target = match->m_target;
            outlook->last_modified = match->last_modified;
            outlook->assigned_to = match->assigned_to;
            outlook->assigned_to_userids = match->assigned_to_userids;
            outlook->organizer = match->organizer;
            outlook->internal_use_only = match->internal_use_only;
        }
        Pair(match, outlook);
        CConfig().ClearPendingCreate(m_type, entryId);
    }
}

// 6. One item of the collection without a partner gets a row.
void CPlanner::AddOutlookOnly() {
    if (m_nIndex >= static_cast<long>(m_loaded.size())) {
        m_loaded.clear();
        m_byId.clear();
        m_nIndex = 0;
        if (m_fEvents)
            m_phase = PHASE_OCCURRENCES;
        else
            EndKind();
        return;
    }
    CLoaded& loaded = m_loaded[static_cast<size_t>(m_nIndex++)];
    if (!loaded.candidate) return;
    std::unique_ptr<CSyncItem> record = std::move(loaded.record);
    if (record->m_target.m_strID.empty()) {
        // Pushed by an earlier run whose link did not save: update that record rather than
        // create a second one.
        const auto link = m_pending.find(record->m_strEntryID);
        if (link != m_pending.end()) {
            HvLog().LogCommentFmt("CorrelateAndLoad: pending link to %s", link->second);
            record->m_target.m_strID = link->second;
        }
    }
    // The previous run's own writes carry its mark as their modification time.
    const CMark& mark = Mark(m_type);
    if (!m_fSelection && mark.parses && IsSameInstant(mark.time, record->m_timeOutlookModified)) return;
    if (m_entryIds.count(record->m_strEntryID)) return;
    // Last modified before the mark, in the mark's own minute, and still as its link recorded
    // it: nothing to do.
    if (!m_fSelection && m_pCollection.get() != m_pFolderItems.get() && mark.parses &&
        record->m_timeOutlookModified < mark.time && !record->m_target.m_strID.empty() && IsHashUnchanged(record.get()))
        return;
    m_addRow(Own(std::move(record)));
}

// 7. One occurrence without a partner gets a row.
void CPlanner::AddOccurrences() {
    if (m_occurrences.empty()) {
        EndKind();
        return;
    }
    std::unique_ptr<CSyncItem> occurrence = std::move(m_occurrences.front());
    m_occurrences.pop_front();
    if (m_entryIds.count(occurrence->m_strEntryID)) return;
    const CMark& mark = Mark(m_type);
    bool keep = !mark.inUse;
    if (mark.parses && occurrence->m_timeOutlookModified - mark.time >= 10) keep = true;
    if (keep) {
        m_addRow(Own(std::move(occurrence)));
    }
}

// ---- the decision table ---------------------------------------------------------------------------

void CPlanner::HoldBack(CSyncItem* record) {
    // Which service event an unreadable occurrence carries cannot be told without reading it, so
    // every unpaired one waits: created as a single appointment it would be a duplicate of the
    // occurrence, and deleted on the service it would be lost.
    if (!m_fUnreadOccurrence || record->m_strType != "Event" || record->m_nSource == SOURCE_OUTLOOK ||
        record->m_pCounterpart ||
        (record->m_nAction != ACTION_UPDATE_OUTLOOK && record->m_nAction != ACTION_DELETE_SERVICE))
        return;
    HvLog().LogCommentFmt("ComputeActions: \"%s\" waits: an occurrence of this run could not be read", record->title);
    record->SetAction(ACTION_FAILED);
    ++m_nHeldBack;
}

void CPlanner::StartActions() {
    HvLog().LogBlockEnter("CPlanner::ComputeActions");
    m_nIndex = 0;
    m_phase = PHASE_ACTIONS;
}

void CPlanner::EndActions() {
    HvLog().LogBlockExit("CPlanner::ComputeActions");
    m_phase = PHASE_DONE;
}

bool CPlanner::IsStale(CSyncItem* record) {
    const char* type = nullptr;
    const std::string* date = nullptr;
    long* cache = nullptr;
    if (record->m_strType == "Event") {
        type = CConfig::TYPE_EVENT;
        date = &record->end_time;
        cache = &m_nStaleEvent;
    } else if (record->m_strType == "Task") {
        if (record->completed == "false") return false;
        type = CConfig::TYPE_TASK;
        date = &record->due_date;
        cache = &m_nStaleTask;
    } else {
        return false;
    }
    if (*cache < 0) {
        CConfig config;
        *cache = static_cast<long>(config.GetStaleAfter(type));
    }
    return *cache >= 1 && !date->empty() && IsWireTimeOlderThan(*date, *cache);
}

bool CPlanner::IsHashUnchanged(CSyncItem* record) {
    try {
        CSyncItem scratch(*record);
        scratch.m_pCounterpart = nullptr;
        m_hasher.Hash(nullptr, record->m_strType == "Event" ? OL_CLASS_APPOINTMENT : OL_CLASS_TASK, &scratch, 0, 1);
        return !scratch.m_strHash.empty() && scratch.m_strHash == record->m_strHash;
    } catch (...) {
        return false;
    }
}

bool CPlanner::EquivalentCounterpart(CSyncItem* record) {
    CSyncItem* other = record->m_pCounterpart;
    if (!other) return false;
    const long olClass = record->m_strType == "Event" ? OL_CLASS_APPOINTMENT : OL_CLASS_TASK;
    m_hasher.Hash(nullptr, olClass, other, 0, 1);
    m_hasher.Hash(nullptr, olClass, record, 0, 1);
    if (olClass == OL_CLASS_TASK && record->m_strHash != other->m_strHash && record->due_date.empty() &&
        !record->start_date.empty()) {
        // Outlook gives a task with a start date and no due date a due date on its start date:
        // that is the same task, not a change to send back.
        CSyncItem dated(*record);
        dated.m_pCounterpart = nullptr;
        dated.due_date = record->start_date;
        m_hasher.Hash(nullptr, olClass, &dated, 0, 1);
        if (dated.m_strHash == other->m_strHash) record->m_strHash = dated.m_strHash;
    }
    if (olClass == OL_CLASS_TASK && record->m_strHash != other->m_strHash && !record->due_date.empty() &&
        !record->start_date.empty() &&
        CHasher::TaskDateText(record->start_date.c_str()) > CHasher::TaskDateText(record->due_date.c_str())) {
        // Outlook keeps no start date after the due date: written into Outlook, such a task
        // starts on its due date. That is its Outlook form, not a change to send back over the
        // service's start date.
        CSyncItem dated(*record);
        dated.m_pCounterpart = nullptr;
        dated.start_date = record->due_date;
        m_hasher.Hash(nullptr, olClass, &dated, 0, 1);
        if (dated.m_strHash == other->m_strHash) record->m_strHash = dated.m_strHash;
    }
    if (olClass != OL_CLASS_APPOINTMENT || record->m_strHash == other->m_strHash)
        return record->m_strHash == other->m_strHash;
    // Outlook shows an event's description from its first empty line on (that is what an
    // update writes), while a push sends the whole body: Outlook holding either the whole
    // service text or its shown part is the same event. Otherwise an event with a heading
    // paragraph would push its heading away, and one whose body has an empty line would be
    // pushed again on every run.
    CSyncItem shown(*record);
    shown.m_pCounterpart = nullptr;
    shown.description_plain_text = ShownEventBody(record->description_plain_text);
    m_hasher.Hash(nullptr, olClass, &shown, 0, 1);
    record->m_strHash = shown.m_strHash;
    return record->m_strHash == other->m_strHash;
}

void CPlanner::DecideAction(CSyncItem* record) {
    const bool isEvent = record->m_strType == "Event";
    const char* type = isEvent ? CConfig::TYPE_EVENT : CConfig::TYPE_TASK;
    long& purgeKind = m_purge[isEvent ? 1 : 0];
    if (purgeKind < 0) purgeKind = static_cast<long>(CConfig().GetPurgeHV(type));
    HvTime markTime = 0;

    if (purgeKind == 1) {
        record->SetAction(ACTION_DELETE_SERVICE);
    } else if (IsStale(record)) {
        HvLog().LogComment("ComputeActions: Stale Item");
        record->SetAction(ACTION_NONE);
    } else if (isEvent && record->m_nBusyStatus == 1) {
        HvLog().LogComment("ComputeActions: Appt is tentative");
        record->SetAction(ACTION_NONE);
    } else if (record->m_nSource == SOURCE_OUTLOOK) {
        if (IsHashUnchanged(record)) {
            HvLog().LogComment("ComputeActions: Has is unchanged");
            record->SetAction(ACTION_NONE);
        } else if (LastSyncTime(type, markTime) && IsSameInstant(markTime, record->m_timeOutlookModified)) {
            HvLog().LogComment("ComputeActions: Equivalent timestamp - no action");
            record->SetAction(ACTION_NONE);
        } else {
            HvLog().LogComment("ComputeActions: m_nSource is SOURCE_OUTLOOK");
            record->SetAction(ACTION_UPDATE_SERVICE);
        }
    } else if (record->m_fDeleted) {
        if (m_nDeleteOutlook < 0) m_nDeleteOutlook = static_cast<long>(CConfig().GetDeleteOutlookItems());
        if (!record->m_pCounterpart || m_nDeleteOutlook == 0) {
            HvLog().LogComment("ComputeActions: Skipping Deleted Item");
            record->SetAction(ACTION_NONE);
        } else {
            HvLog().LogComment("ComputeActions: Setting Action to Delete");
            record->SetAction(ACTION_DELETE_OUTLOOK);
        }
    } else if (!record->m_pCounterpart) {
        record->SetAction(ACTION_UPDATE_OUTLOOK);
    } else if (const std::string linked = record->m_pCounterpart->m_strHash; EquivalentCounterpart(record)) {
        HvLog().LogComment("ComputeActions: EquivalentCounterpart");
        record->SetAction(ACTION_NONE);
        // The Outlook record now holds its current fingerprint, its link the one it was read with.
        const CSyncItem* outlook = record->m_pCounterpart;
        if (!record->m_pOccurrence && !outlook->m_pOccurrence && outlook->m_strHash != linked)
            m_staleLinks.insert(record);
    } else {
        CSyncItem* other = record->m_pCounterpart;
        HvLog().LogComment("ComputeActions: Comparing HV Times");
        NormalizeTime(record->last_modified);
        NormalizeTime(other->last_modified);
        HvTime serviceTime = 0;
        if (record->last_modified == other->last_modified) {
            HvLog().LogComment("ComputeActions: HV Times Match");
            record->SetAction(ACTION_UPDATE_SERVICE);
        } else if (LastSyncTime(type, markTime) && IsSameInstant(markTime, other->m_timeOutlookModified)) {
            HvLog().LogComment("ComputeActions: Outlook timestamp matches last sync");
            record->SetAction(ACTION_UPDATE_OUTLOOK);
        } else if (!WireTimeValue(record->last_modified, serviceTime)) {
            HvLog().LogComment("ComputeActions: HV last modified conversion failed");
            record->SetAction(ACTION_UPDATE_SERVICE);
        } else if (serviceTime < other->m_timeOutlookModified) {
            HvLog().LogComment("ComputeActions: Outlook timestamp is greater");
            record->SetAction(ACTION_UPDATE_SERVICE);
        } else {
            HvLog().LogComment("ComputeActions: HV timestamp is greater");
            record->SetAction(ACTION_UPDATE_OUTLOOK);
        }
    }
}
